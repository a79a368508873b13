#include "tree_decision.h"

#include <svn_dirent_uri.h>
#include <svn_repos.h>

#include "exit_status.h"
#include "zeb_tree_walk.h"

namespace zebauthz {

svn_fs_root_t* open_revision_root(const std::string& path, std::optional<long> revision,
                                  apr_pool_t* pool) {
  svn_repos_t* repos = nullptr;
  svn_revnum_t number = 0;
  svn_fs_root_t* root = nullptr;
  svn_error_t* err = svn_repos_open3(&repos, path.c_str(), nullptr, pool, pool);
  if (err == nullptr) {
    if (revision) {
      number = *revision;
    } else {
      err = svn_fs_youngest_rev(&number, svn_repos_fs(repos), pool);
    }
  }
  if (err == nullptr) err = svn_fs_revision_root(&root, svn_repos_fs(repos), number, pool);
  if (err != nullptr) {
    char message[512];
    const std::string text = svn_err_best_message(err, message, sizeof message);
    svn_error_clear(err);
    throw failure(kExitRepository, "repository " + path + ": " + text);
  }
  return root;
}

tree_decision decide_tree(apr_array_header_t* store, pbp_access_t required, const std::string& path,
                          svn_fs_root_t* root, apr_pool_t* pool) {
  tree_decision tree{decide_node(store, required, path, pool), std::nullopt};
  // As the driver: the global access decides without a walk, and a
  // recursive check that needs no access is granted.
  if (tree.decision.basis == decided_by::global_access || required == PBP_NO_ACCESS) {
    tree.decision.granted = true;
    return tree;
  }
  // The module walks canonical paths, judging each node where it lies.
  const char* top = svn_dirent_canonicalize(path.c_str(), pool);
  zeb_walk_result_t result;
  zeb_walk_tree(&result, store, required, root, top, top, pool);
  if (result.status == ZEB_WALK_GRANTED) {
    tree.decision.granted = true;
    return tree;
  }
  tree.decision = decide_node(store, required, result.check_path, pool);
  tree.decision.path = path;
  tree.decision.granted = false;
  std::string reason;
  if (result.status == ZEB_WALK_NO_KIND) reason = "its node kind cannot be read";
  if (result.status == ZEB_WALK_NO_ENTRIES) reason = "it cannot be listed or does not exist";
  tree.failed = tree_failure{result.real_path, reason};
  return tree;
}

}  // namespace zebauthz
