// The authorization driver's pending checks, shared with the recursive and
// destination checks that schedule and decide some of them.
#ifndef AUTHORIZE_REQUEST_H
#define AUTHORIZE_REQUEST_H

#include <apr_tables.h>

#include "connection_context.h"
#include "method_table.h"

// One pending check; strings are copies in the request pool.
typedef struct todo_item_t {
  pbp_access_t required_access;
  access_level_t level;
  const char* repos_name;  // the repository the check concerns
  const char* repos_path;  // the path examined (walked, for a recursive check)
  const char* check_path;  // the path whose permissions are consulted
} todo_item_t;

// Appends a check to todo_list (todo_item_t*). 0, or HTTP_INTERNAL_SERVER_ERROR
// for a recursive check without a path to walk.
int add_todo_item(request_rec* r, pbp_access_t required_access, access_level_t level,
                  const char* repos_name, const char* repos_path, const char* check_path,
                  apr_array_header_t* todo_list, apr_pool_t* pool);

// OK when the user may proceed, else the HTTP status of the refusal or error.
int do_authorize(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
                 const char* repos_path);

// Whether the user may read repos_path (OK), or the status of the refusal or
// error; decided like mod_dav_svn's questions to the bypass provider.
int authorize_read(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
                   const char* repos_path);

// Whether the user may read repos_path and everything below it, in any
// revision (*reads): some role grants the path and holds nothing less than
// view below it. OK, or the status of an error on the way.
int reads_everything_below(request_rec* r, const authnz_zeb_config_rec* conf,
                           const char* repos_name, const char* repos_path, bool* reads);

#endif
