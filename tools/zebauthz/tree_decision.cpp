#include "tree_decision.h"

#include <svn_dirent_uri.h>
#include <svn_pools.h>
#include <svn_repos.h>

#include <algorithm>
#include <utility>

#include "core_question.h"
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
  const zeb::decision::verdict verdict = ask_core(store, required, path, true, root, pool);
  tree_decision tree{decide_node(store, required, path, pool), std::nullopt};
  tree.decision.granted = verdict.kind == zeb::decision::verdict_kind::granted;
  const zeb_walk_result_t& walk = verdict.walk;
  // Refused before any walk (an error on the way): the top's decision stands.
  if (tree.decision.granted || walk.check_path == nullptr) return tree;
  tree.decision = decide_node(store, required, walk.check_path, pool);
  tree.decision.path = path;
  tree.decision.granted = false;
  std::string reason;
  if (walk.status == ZEB_WALK_NO_KIND) reason = "its node kind cannot be read";
  if (walk.status == ZEB_WALK_NO_ENTRIES) reason = "it cannot be listed";
  tree.failed = tree_failure{walk.real_path, reason};
  return tree;
}

namespace {

[[noreturn]] void unreadable(const std::string& path, svn_error_t* err) {
  char message[512];
  const std::string text =
      err != nullptr ? svn_err_best_message(err, message, sizeof message) : "no such node";
  svn_error_clear(err);
  throw failure(kExitRepository, "cannot read " + path + " in the repository: " + text);
}

void collect_refused(apr_array_header_t* store, pbp_access_t required, const char* path,
                     svn_node_kind_t kind, svn_fs_root_t* root, std::vector<std::string>& refused,
                     apr_pool_t* pool) {
  if (!decide_node(store, required, path, pool).granted) {
    refused.emplace_back(path);
    return;
  }
  if (kind != svn_node_dir) return;
  apr_hash_t* entries = nullptr;
  if (svn_error_t* err = svn_fs_dir_entries(&entries, root, path, pool)) unreadable(path, err);
  std::vector<std::pair<std::string, svn_node_kind_t>> children;
  for (apr_hash_index_t* hi = apr_hash_first(pool, entries); hi; hi = apr_hash_next(hi)) {
    const auto* entry = static_cast<const svn_fs_dirent_t*>(apr_hash_this_val(hi));
    children.emplace_back(entry->name, entry->kind);
  }
  std::sort(children.begin(), children.end());
  apr_pool_t* subpool = svn_pool_create(pool);
  for (const auto& [name, child_kind] : children) {
    svn_pool_clear(subpool);
    collect_refused(store, required, svn_dirent_join(path, name.c_str(), subpool), child_kind, root,
                    refused, subpool);
  }
  svn_pool_destroy(subpool);
}

}  // namespace

std::vector<std::string> refused_nodes(apr_array_header_t* store, pbp_access_t required,
                                       const std::string& path, svn_fs_root_t* root,
                                       apr_pool_t* pool) {
  const char* top = svn_dirent_canonicalize(path.c_str(), pool);
  svn_node_kind_t kind = svn_node_none;
  if (svn_error_t* err = svn_fs_check_path(&kind, root, top, pool)) unreadable(top, err);
  if (kind == svn_node_none) unreadable(top, nullptr);
  std::vector<std::string> refused;
  collect_refused(store, required, top, kind, root, refused, pool);
  return refused;
}

}  // namespace zebauthz
