// Checks over whole trees: the recursive check of DELETE, POST, COPY and
// MOVE, and the scheduling of COPY and MOVE from their Destination header.
#ifndef TREE_CHECKS_H
#define TREE_CHECKS_H

#include <apr_tables.h>

#include "connection_context.h"

// Schedules the destination commit, the source view and, for a move, the
// source commit. For mod_dav's subrequest that looks the destination up,
// only commit over an existing destination tree that would be overwritten.
// 0; 400 without a source path or Destination header, or when the header
// does not parse; 403 when the destination names no repository path; 500
// when its path lies outside the location or cannot be resolved.
int schedule_copy_move(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
                       const char* repos_path, bool is_move, apr_array_header_t* todo_list);

// Walks the tree at repos_path in the revision or transaction that the
// request URI addresses, consulting permissions at check_path and below.
// OK, HTTP_FORBIDDEN or HTTP_INTERNAL_SERVER_ERROR. A request asks the
// same question once; later askings get the remembered answer.
int has_recursive_access(ctx_data* ctx, pbp_access_t required_access, const char* repos_path,
                         const char* check_path, request_rec* r, const authnz_zeb_config_rec* conf,
                         apr_pool_t* pool);

#endif
