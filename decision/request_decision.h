// The decision core: turns a question about a request into a verdict. The
// callers (the httpd module's hooks, zebauthz) supply what they read of the
// request and three sources: the user's roles, the tree of the request's
// revision and a log.
#ifndef ZEB_REQUEST_DECISION_H
#define ZEB_REQUEST_DECISION_H

#include <apr_pools.h>

#include "decision_log.h"
#include "method_table.h"
#include "pending_checks.h"
#include "role_stores.h"
#include "tree_check.h"

namespace zeb::decision {

// What a decision works with: the connection's stores and whom they serve,
// the sources, and the request's pool.
struct decider {
  role_stores* stores;
  apr_pool_t* store_parent;  // new stores' pools hang from it
  const char* cached_repos;  // the connection's repository, named when another is asked
  const char* user;          // whose roles the stores hold
  role_source* roles;
  tree_source* tree;
  decision_log* log;
  apr_pool_t* pool;
};

enum class verdict_kind { granted, refused, error };

enum class error_kind {
  none,
  roles,           // the roles could not be loaded; status is the source's
  destination,     // the Destination was refused or unreadable; status is the reader's
  unknown_method,  // not a method this module serves
  unschedulable,   // a recursive check without a path to walk
  tree,            // the request's tree could not be found
};

struct verdict {
  verdict_kind kind = verdict_kind::granted;
  error_kind error = error_kind::none;
  // Of an error, the HTTP status it ends the request with; none for an
  // unknown method, which the caller answers as it answers such methods.
  int status = 0;
  // The check that was refused or in error; null when none was (the global
  // access decided, or the error came before any check).
  const pending_check* deciding = nullptr;
  // The role that granted the last check decided by the roles.
  const role_processed_pbps_t* granting_role = nullptr;
  bool by_global_access = false;  // the global access decided every check
  // Where a refused recursive check stopped (status ZEB_WALK_GRANTED when
  // no walk refused).
  zeb_walk_result_t walk{};
};

// The request's own method on the request's path.
struct method_question {
  const char* method;  // for messages; "(null)" when the request has none
  method_classification classification;
  const char* parent_method;  // a GET subrequest's parent's method (logged), else null
  const char* repos_name;
  const char* repos_path;          // null when the URI names none
  destination_reader destination;  // for COPY and MOVE
};

verdict decide_method(decider& d, const method_question& question);

// Whether repos_path may be read (what mod_dav_svn asks, whatever the method
// it serves): view of the node, or view somewhere without a path. A relative
// path is taken from the root: permissions name absolute paths, and a
// relative one would match none of them and so be open to every role.
verdict decide_read(decider& d, const char* method, const char* repos_name, const char* repos_path);

// One check as it stands, for zebauthz's questions.
verdict decide_check(decider& d, const char* method, const pending_check& check);

// Whether the user reads repos_path and everything below it, in whatever
// revision: granted when so, refused when not (a question only: it refuses
// no request), or the error on the way.
verdict reads_everything_below(decider& d, const char* repos_name, const char* repos_path);

}  // namespace zeb::decision

#endif
