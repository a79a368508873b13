// The pruned tree walk against a plain walk that asks the filesystem for
// every node's kind and decides every node: random trees in a real
// filesystem, random roles and questions (fixed seed, so failures
// reproduce).
#include <gtest/gtest.h>

#include <apr_file_io.h>
#include <apr_strings.h>
#include <svn_fs.h>
#include <svn_pools.h>

#include <random>
#include <string>
#include <vector>

#include "apr_pool_test.h"
#include "authz_test_support.h"
#include "zeb_tree_walk.h"

namespace {

constexpr const char* kNames[] = {"a", "b", "src", "doc", "x.key", "ab"};

class random_t {
 public:
  explicit random_t(unsigned seed) : rng_(seed) {}
  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  const char* name() { return kNames[below(static_cast<int>(std::size(kNames)))]; }

  // A path of up to four components, drawn from the names a tree uses.
  std::string path() {
    std::string path;
    for (int depth = below(5); depth > 0; --depth) path += std::string("/") + name();
    return path.empty() ? "/" : path;
  }

  std::vector<std::string> role() {
    static const char* const kActions[] = {"view:", "commit:", "none:"};
    static const char* const kPatterns[] = {"/*/src",   "/**/*.key", "/a/**/b", "/a*",   "/b/*",
                                            "/*/*/doc", "/**/ab",    "/a/*/**", "/*.key"};
    std::vector<std::string> role;
    for (int n = below(6); n > 0; --n) {
      const std::string target =
          below(3) == 0 ? kPatterns[below(static_cast<int>(std::size(kPatterns)))] : path();
      role.push_back(kActions[below(3)] + target);
    }
    return role;
  }

 private:
  std::mt19937 rng_;
};

// A revision root holding a random tree of directories and files.
svn_fs_root_t* random_tree(random_t& random, const char* dir, apr_pool_t* pool) {
  svn_fs_t* fs = nullptr;
  apr_hash_t* config = apr_hash_make(pool);  // a throwaway tree needs no fsync
  apr_hash_set(config, SVN_FS_CONFIG_NO_FLUSH_TO_DISK, APR_HASH_KEY_STRING, "1");
  EXPECT_EQ(svn_fs_create2(&fs, dir, config, pool, pool), nullptr);
  svn_fs_txn_t* txn = nullptr;
  EXPECT_EQ(svn_fs_begin_txn2(&txn, fs, 0, 0, pool), nullptr);
  svn_fs_root_t* txn_root = nullptr;
  EXPECT_EQ(svn_fs_txn_root(&txn_root, txn, pool), nullptr);
  std::vector<std::string> dirs{""};
  for (int i = 0; i < 60; ++i) {
    const std::string path =
        dirs[random.below(static_cast<int>(dirs.size()))] + "/" + random.name();
    svn_node_kind_t kind = svn_node_none;
    EXPECT_EQ(svn_fs_check_path(&kind, txn_root, path.c_str(), pool), nullptr);
    if (kind != svn_node_none || path.size() > 24) continue;
    if (random.below(3) == 0) {
      EXPECT_EQ(svn_fs_make_file(txn_root, path.c_str(), pool), nullptr);
    } else {
      EXPECT_EQ(svn_fs_make_dir(txn_root, path.c_str(), pool), nullptr);
      dirs.push_back(path);
    }
  }
  svn_revnum_t revision = 0;
  EXPECT_EQ(svn_fs_commit_txn(nullptr, &revision, txn, pool), nullptr);
  svn_fs_root_t* root = nullptr;
  EXPECT_EQ(svn_fs_revision_root(&root, fs, revision, pool), nullptr);
  return root;
}

struct full_walk_t {
  apr_array_header_t* roles;
  pbp_access_t required;
  svn_fs_root_t* root;
  int visited = 0;

  // Every node visited, its kind asked, every directory listed.
  bool granted(const std::string& real, const std::string& check, apr_pool_t* pool) {
    ++visited;
    bool allowed = false;
    for (int i = 0; i < roles->nelts && !allowed; ++i) {
      auto* role = APR_ARRAY_IDX(roles, i, role_processed_pbps_t*);
      allowed = has_non_recursive_access(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps,
                                         required, check.c_str(), pool) != 0;
    }
    if (!allowed) return false;
    svn_node_kind_t kind = svn_node_none;
    if (svn_fs_check_path(&kind, root, real.c_str(), pool) != nullptr) return false;
    if (kind == svn_node_file) return true;
    apr_hash_t* entries = nullptr;
    if (svn_error_t* err = svn_fs_dir_entries(&entries, root, real.c_str(), pool)) {
      svn_error_clear(err);
      return false;
    }
    for (apr_hash_index_t* hi = apr_hash_first(pool, entries); hi; hi = apr_hash_next(hi)) {
      const std::string name = static_cast<const char*>(apr_hash_this_key(hi));
      const auto join = [&](const std::string& top) {
        return (top == "/" ? "" : top) + "/" + name;
      };
      if (!granted(join(real), join(check), pool)) return false;
    }
    return true;
  }
};

class TreeWalk : public apr_pool_test {
 protected:
  static void SetUpTestSuite() {
    apr_pool_test::SetUpTestSuite();
    apr_pool_create(&fs_pool_, nullptr);
    ASSERT_EQ(svn_fs_initialize(fs_pool_), nullptr);
  }
  // Subversion keeps character set converters in pools of its own below
  // APR's global pool: only terminating APR releases them.
  static void TearDownTestSuite() {
    apr_pool_destroy(fs_pool_);
    apr_terminate();
  }

  static inline apr_pool_t* fs_pool_ = nullptr;
};

TEST_F(TreeWalk, PrunedWalkAnswersAsTheFullWalk) {
  random_t random(20261208);
  int full_visits = 0;
  int pruned_visits = 0;
  int granted = 0;
  for (int tree = 0; tree < 8; ++tree) {
    apr_pool_t* tree_pool = svn_pool_create(pool_);
    const char* dir = nullptr;
    ASSERT_EQ(apr_temp_dir_get(&dir, tree_pool), APR_SUCCESS);
    char* fs_dir = apr_psprintf(tree_pool, "%s/zeb-walk-XXXXXX", dir);
    ASSERT_NE(mkdtemp(fs_dir), nullptr);
    svn_fs_root_t* root =
        random_tree(random, apr_pstrcat(tree_pool, fs_dir, "/fs", nullptr), tree_pool);
    for (int question = 0; question < 120; ++question) {
      apr_pool_t* pool = svn_pool_create(tree_pool);
      auto* roles = apr_array_make(pool, 2, sizeof(role_processed_pbps_t*));
      for (int n = 1 + random.below(2); n > 0; --n) {
        APR_ARRAY_PUSH(roles, role_processed_pbps_t*) =
            zeb::test::processed_role(random.role(), pool);
      }
      const auto required = static_cast<pbp_access_t>(1 + random.below(2));
      const std::string real = random.path();
      const std::string check = random.below(4) == 0 ? random.path() : real;

      full_walk_t full{roles, required, root};
      const bool expected = full.granted(real, check, pool);
      zeb_walk_result_t result;
      zeb_walk_tree(&result, roles, required, root, real.c_str(), check.c_str(), pool);
      ASSERT_EQ(result.status == ZEB_WALK_GRANTED, expected)
          << "tree " << tree << " question " << question << " walking " << real << " at " << check;
      full_visits += full.visited;
      pruned_visits += static_cast<int>(result.nodes_judged);
      granted += expected;
      svn_pool_destroy(pool);
    }
    ASSERT_EQ(svn_io_remove_dir2(fs_dir, FALSE, nullptr, nullptr, tree_pool), nullptr);
    svn_pool_destroy(tree_pool);
  }
  // Both answers occur, and the pruning skips work rather than none.
  EXPECT_GT(granted, 100);
  EXPECT_LT(granted, 8 * 120 - 100);
  EXPECT_LT(pruned_visits, full_visits);
}

}  // namespace
