// The checks a question needs before it is answered, in the order they are
// decided.
#ifndef ZEB_PENDING_CHECKS_H
#define ZEB_PENDING_CHECKS_H

#include <apr_pools.h>
#include <apr_tables.h>

#include <functional>

#include "decision_log.h"
#include "method_table.h"

namespace zeb::decision {

// One pending check; strings are copies in the request's pool.
struct pending_check {
  pbp_access_t action;
  access_level_t level;
  const char* repos_name;  // the repository the check concerns
  const char* repos_path;  // the path examined (walked, for a recursive check)
  const char* check_path;  // the path whose permissions are consulted
};

// Where a COPY or MOVE puts its tree. mod_dav looks the destination up with
// a subrequest of the request; the main request's destination check covers
// what the source tree creates there, so that subrequest needs a check of
// its own only when it replaces an existing tree at its own path.
enum class destination_kind {
  elsewhere,       // the main request: its destination
  replaced_here,   // the lookup subrequest, over an existing tree it replaces
  untouched_here,  // the lookup subrequest, replacing nothing
};

struct copy_destination {
  destination_kind kind;
  const char* repos_name;  // for elsewhere
  const char* repos_path;  // for elsewhere
};

// Reads the Destination of a COPY or MOVE: 0 with *out set, or the status
// of the refusal or error, logged by the reader.
using destination_reader = std::function<int(copy_destination* out)>;

// Appends a check to checks (pending_check). 0, or 500 for a recursive
// check without a path to walk.
int schedule_check(const pending_check& check, apr_array_header_t* checks, decision_log& log,
                   apr_pool_t* pool);

}  // namespace zeb::decision

#endif
