// The recursive check: every node of a tree of the request's revision or
// transaction must be granted by some role. A request asks the same
// question once; later askings get the remembered answer.
#ifndef ZEB_TREE_CHECK_H
#define ZEB_TREE_CHECK_H

#include <apr_pools.h>
#include <apr_tables.h>
#include <svn_fs.h>

#include "decision_log.h"
#include "pending_checks.h"
#include "zeb_tree_walk.h"

namespace zeb::decision {

// The tree a question is about: the root that mod_dav_svn resolves for the
// request URI, or a revision the tool opened.
class tree_source {
 public:
  virtual ~tree_source() = default;
  // The root; null after the source logged why there is none.
  virtual svn_fs_root_t* root() = 0;
  // Where the answers about this tree are remembered (make_walk_memo), for
  // as long as the request lasts.
  virtual struct walk_memo* memo() = 0;
};

// The answers of one request's recursive checks, in the request's pool.
struct walk_memo;
walk_memo* make_walk_memo(apr_pool_t* pool);

struct tree_answer {
  int status;              // 0 granted, kStatusForbidden or kStatusInternalError
  zeb_walk_result_t walk;  // where the walk stopped, when it did
};

// Decides the recursive check for the roles (role_processed_pbps_t*) of
// store_repos and user, which with the check make the remembered question.
tree_answer check_tree(const pending_check& check, apr_array_header_t* roles,
                       const char* store_repos, const char* user, tree_source& tree,
                       decision_log& log, apr_pool_t* pool);

}  // namespace zeb::decision

#endif
