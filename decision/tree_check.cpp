#include "tree_check.h"

#include <apr_hash.h>
#include <apr_strings.h>
#include <svn_dirent_uri.h>

#include <cstring>

#include "decision_status.h"
#include "status_counting.h"

namespace zeb::decision {

struct walk_memo {
  apr_hash_t* answers;  // question -> tree_answer
};

walk_memo* make_walk_memo(apr_pool_t* pool) {
  auto* memo = static_cast<walk_memo*>(apr_pcalloc(pool, sizeof(walk_memo)));
  memo->answers = apr_hash_make(pool);
  return memo;
}

namespace {

// Whether the walk stopped at its own top and the root holds no node there.
bool is_missing_top(svn_fs_root_t* root, const char* top, const char* stopped_at,
                    apr_pool_t* pool) {
  if (stopped_at == nullptr || std::strcmp(top, stopped_at) != 0) return false;
  svn_node_kind_t kind = svn_node_unknown;
  if (svn_error_t* err = svn_fs_check_path(&kind, root, top, pool)) {
    svn_error_clear(err);
    return false;
  }
  return kind == svn_node_none;
}

tree_answer walk(pbp_access_t action, apr_array_header_t* roles, const char* real_path,
                 const char* check_path, tree_source& tree, decision_log& log, apr_pool_t* pool) {
  tree_answer answer{kStatusForbidden, {}};
  svn_fs_root_t* root = tree.root();
  if (root == nullptr) return {kStatusInternalError, {}};
  zeb_walk_tree(&answer.walk, roles, action, root, real_path, check_path, pool);
  zeb::count_recursive_walk(answer.walk.nodes_judged);
  log_line(log, log_level::debug, pool, "Recursive check judged %lu nodes below '%s'",
           static_cast<unsigned long>(answer.walk.nodes_judged), check_path);
  switch (answer.walk.status) {
    case ZEB_WALK_GRANTED:
      answer.status = 0;
      break;
    case ZEB_WALK_DENIED:
      break;
    case ZEB_WALK_NO_KIND:
      log_line(log, log_level::error, pool,
               "Unable to determine node kind for repository path '%s'", answer.walk.real_path);
      break;
    case ZEB_WALK_NO_ENTRIES:
      // A path missing from the root has nothing below it to protect, and
      // the roles allowed the path itself: mod_dav_svn answers for the
      // missing path (an out-of-date commit gets its own error, not 403).
      if (is_missing_top(root, real_path, answer.walk.real_path, pool)) {
        log_line(log, log_level::debug, pool,
                 "Repository path '%s' does not exist; decided on '%s' alone", real_path,
                 check_path);
        answer.status = 0;
        break;
      }
      log_line(log, log_level::error, pool, "Unable to fetch directory entries for repos path '%s'",
               answer.walk.real_path);
      break;
  }
  return answer;
}

}  // namespace

tree_answer check_tree(const pending_check& check, apr_array_header_t* roles,
                       const char* store_repos, const char* user, tree_source& tree,
                       decision_log& log, apr_pool_t* pool) {
  walk_memo* memo = tree.memo();
  // Joining below the top needs canonical paths ("/a/" would not be).
  const char* real_path = svn_dirent_canonicalize(check.repos_path, pool);
  const char* top_check_path = svn_dirent_canonicalize(check.check_path, pool);
  // The same paths are a different question for another role store (the
  // destination of a copy may lie in another repository).
  const char* question = apr_psprintf(
      pool, "%d\n%pp\n%s\n%s\n%s\n%s", static_cast<int>(check.action), static_cast<void*>(roles),
      store_repos ? store_repos : "", user ? user : "", real_path, top_check_path);
  if (const void* known = apr_hash_get(memo->answers, question, APR_HASH_KEY_STRING)) {
    return *static_cast<const tree_answer*>(known);
  }
  const tree_answer answer = walk(check.action, roles, real_path, top_check_path, tree, log, pool);
  // Errors on the way are not remembered: asking again logs them again.
  if (answer.status == 0 || answer.status == kStatusForbidden) {
    apr_hash_set(memo->answers, question, APR_HASH_KEY_STRING,
                 apr_pmemdup(pool, &answer, sizeof answer));
  }
  return answer;
}

}  // namespace zeb::decision
