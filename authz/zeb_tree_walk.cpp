#include "zeb_tree_walk.h"

#include <apr_strings.h>
#include <svn_dirent_uri.h>
#include <svn_pools.h>

#include "zeb_subtree.h"

namespace {

class tree_walk {
 public:
  tree_walk(zeb_walk_result_t* result, apr_array_header_t* roles, pbp_access_t required,
            svn_fs_root_t* root, apr_pool_t* result_pool)
      : result_(result),
        roles_(roles),
        required_(required),
        root_(root),
        result_pool_(result_pool) {}

  // The top node: its kind comes from the filesystem, not from a listing.
  bool top(const char* real_path, const char* check_path, apr_pool_t* pool) {
    if (!some_role_allows(check_path, pool)) return fail(ZEB_WALK_DENIED, real_path, check_path);
    svn_node_kind_t kind = svn_node_none;
    if (svn_error_t* err = svn_fs_check_path(&kind, root_, real_path, pool)) {
      svn_error_clear(err);
      return fail(ZEB_WALK_NO_KIND, real_path, check_path);
    }
    // Listing a path that names nothing fails; so does the walk, whatever
    // the roles allow below it.
    if (kind == svn_node_none) return fail(ZEB_WALK_NO_ENTRIES, real_path, check_path);
    return below(real_path, check_path, kind, pool);
  }

 private:
  // The node at real_path is allowed; now everything below it must be.
  bool below(const char* real_path, const char* check_path, svn_node_kind_t kind,
             apr_pool_t* pool) {
    if (kind == svn_node_file || some_role_allows_subtree(check_path)) return true;
    apr_hash_t* entries = nullptr;
    if (svn_error_t* err = svn_fs_dir_entries(&entries, root_, real_path, pool)) {
      svn_error_clear(err);
      return fail(ZEB_WALK_NO_ENTRIES, real_path, check_path);
    }
    // One subpool per level, cleared per entry: memory grows with depth only.
    apr_pool_t* subpool = svn_pool_create(pool);
    bool granted = true;
    for (apr_hash_index_t* hi = apr_hash_first(pool, entries); hi && granted;
         hi = apr_hash_next(hi)) {
      svn_pool_clear(subpool);
      const auto* entry = static_cast<const svn_fs_dirent_t*>(apr_hash_this_val(hi));
      const char* child_real = svn_dirent_join(real_path, entry->name, subpool);
      const char* child_check = svn_dirent_join(check_path, entry->name, subpool);
      granted = some_role_allows(child_check, subpool)
                    ? below(child_real, child_check, entry->kind, subpool)
                    : fail(ZEB_WALK_DENIED, child_real, child_check);
    }
    svn_pool_destroy(subpool);
    return granted;
  }

  role_processed_pbps_t* role(int i) {
    auto* role = APR_ARRAY_IDX(roles_, i, role_processed_pbps_t*);
    ensure_processed_pbps(role, roles_->pool);
    return role;
  }

  bool some_role_allows(const char* check_path, apr_pool_t* pool) {
    ++result_->nodes_judged;
    for (int i = 0; i < roles_->nelts; ++i) {
      role_processed_pbps_t* r = role(i);
      if (has_non_recursive_access(r->sorted_absolute_pbps, r->unsorted_wildcard_pbps, required_,
                                   check_path, pool)) {
        return true;
      }
    }
    return false;
  }

  bool some_role_allows_subtree(const char* check_path) {
    for (int i = 0; i < roles_->nelts; ++i) {
      if (zeb::grants_subtree(*role(i), required_, check_path)) return true;
    }
    return false;
  }

  bool fail(zeb_walk_status_t status, const char* real_path, const char* check_path) {
    result_->status = status;
    result_->real_path = apr_pstrdup(result_pool_, real_path);
    result_->check_path = apr_pstrdup(result_pool_, check_path);
    return false;
  }

  zeb_walk_result_t* result_;
  apr_array_header_t* roles_;
  pbp_access_t required_;
  svn_fs_root_t* root_;
  apr_pool_t* result_pool_;
};

}  // namespace

extern "C" void zeb_walk_tree(zeb_walk_result_t* result, apr_array_header_t* roles,
                              pbp_access_t required_access, svn_fs_root_t* root,
                              const char* real_path, const char* check_path, apr_pool_t* pool) {
  *result = {ZEB_WALK_GRANTED, nullptr, nullptr, 0};
  apr_pool_t* scratch = svn_pool_create(pool);
  tree_walk(result, roles, required_access, root, pool).top(real_path, check_path, scratch);
  svn_pool_destroy(scratch);
}
