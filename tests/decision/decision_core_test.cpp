// The decision core against a real repository made here: the shared table
// of questions (zebauthz reads it too), and the method, read and
// reads-below questions of the module's hooks.
#include <gtest/gtest.h>

#include <svn_fs.h>
#include <svn_repos.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "apr_pool_test.h"
#include "authz_test_support.h"
#include "request_decision.h"

namespace {

namespace core = zeb::decision;
using roles_t = std::vector<std::vector<std::string>>;

const nlohmann::json& table() {
  static const nlohmann::json parsed = [] {
    std::ifstream file(ZEB_DECISION_TABLE);
    return nlohmann::json::parse(file);
  }();
  return parsed;
}

roles_t roles_named(const std::string& name) {
  return table()["roles"].at(name).get<roles_t>();
}

pbp_access_t access_of(const std::string& action) {
  if (action == "commit") return PBP_COMMIT_ACCESS;
  if (action == "view") return PBP_VIEW_ACCESS;
  return PBP_NO_ACCESS;
}

// Each repository's roles; a status makes every load fail with it.
class table_roles final : public core::role_source {
 public:
  std::map<std::string, roles_t> by_repos;
  int failure = 0;
  int loads = 0;

  int load(const char* repos_name, apr_pool_t* store_pool, apr_array_header_t** roles,
           pbp_access_t* global_access) override {
    ++loads;
    if (failure != 0) return failure;
    const roles_t& raw = by_repos.at(repos_name);
    *roles = apr_array_make(store_pool, 1, sizeof(role_processed_pbps_t*));
    for (const auto& role : raw) {
      APR_ARRAY_PUSH(*roles, role_processed_pbps_t*) = zeb::test::processed_role(role, store_pool);
    }
    *global_access = PBP_UNKNOWN;
    return 0;
  }
};

class fixed_tree final : public core::tree_source {
 public:
  fixed_tree(svn_fs_root_t* root, apr_pool_t* pool)
      : root_(root), memo_(core::make_walk_memo(pool)) {}
  svn_fs_root_t* root() override { return root_; }
  core::walk_memo* memo() override { return memo_; }

 private:
  svn_fs_root_t* root_;
  core::walk_memo* memo_;
};

class kept_log final : public core::decision_log {
 public:
  std::vector<std::string> errors;
  bool debug_on() const override { return true; }
  void write(core::log_level level, const char* text) override {
    if (level == core::log_level::error) errors.emplace_back(text);
  }
};

class decision_core : public apr_pool_test {
 protected:
  // Subversion keeps character set converters in pools of its own below
  // APR's global pool: only terminating APR releases them.
  static void TearDownTestSuite() { apr_terminate(); }

  void SetUp() override {
    apr_pool_test::SetUp();
    dir_ = std::filesystem::temp_directory_path() / ("zeb-decision-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir_);
    svn_repos_t* repos = nullptr;
    ASSERT_EQ(svn_repos_create(&repos, dir_.c_str(), nullptr, nullptr, nullptr, nullptr, pool_),
              nullptr);
    svn_fs_t* fs = svn_repos_fs(repos);
    svn_fs_txn_t* txn = nullptr;
    svn_fs_root_t* txn_root = nullptr;
    ASSERT_EQ(svn_fs_begin_txn2(&txn, fs, 0, 0, pool_), nullptr);
    ASSERT_EQ(svn_fs_txn_root(&txn_root, txn, pool_), nullptr);
    for (const std::string file : table()["tree"]) {
      std::string path;
      for (std::size_t slash = file.find('/'); slash != std::string::npos;
           slash = file.find('/', slash + 1)) {
        path = "/" + file.substr(0, slash);
        svn_node_kind_t kind = svn_node_none;
        ASSERT_EQ(svn_fs_check_path(&kind, txn_root, path.c_str(), pool_), nullptr);
        if (kind == svn_node_none) {
          ASSERT_EQ(svn_fs_make_dir(txn_root, path.c_str(), pool_), nullptr);
        }
      }
      ASSERT_EQ(svn_fs_make_file(txn_root, ("/" + file).c_str(), pool_), nullptr);
    }
    svn_revnum_t revision = 0;
    ASSERT_EQ(svn_fs_commit_txn(nullptr, &revision, txn, pool_), nullptr);
    ASSERT_EQ(svn_fs_revision_root(&root_, fs, revision, pool_), nullptr);
  }
  void TearDown() override {
    apr_pool_test::TearDown();
    std::filesystem::remove_all(dir_);
  }

  // A fresh connection of the user whose roles in repo1 are the named set
  // (repo2: "reader").
  struct connection {
    table_roles roles;
    fixed_tree tree;
    kept_log log;
    core::role_stores stores;
    core::decider decider;

    connection(const std::string& name, svn_fs_root_t* root, apr_pool_t* pool)
        : tree(root, pool), decider{&stores, pool, "repo1", "alice", &roles, &tree, &log, pool} {
      roles.by_repos = {{"repo1", roles_named(name)}, {"repo2", roles_named("reader")}};
    }
  };

  std::filesystem::path dir_;
  svn_fs_root_t* root_ = nullptr;
};

TEST_F(decision_core, AnswersTheSharedTable) {
  for (const auto& row : table()["questions"]) {
    SCOPED_TRACE(row.dump());
    connection c(row[0], root_, pool_);
    const std::string path = row[2];
    const core::pending_check check{access_of(row[1]),
                                    row[3].get<bool>() ? ACCESS_RECURSIVE : ACCESS_NON_RECURSIVE,
                                    "repo1", path.c_str(), path.c_str()};
    const core::verdict verdict = core::decide_check(c.decider, "explain", check);
    EXPECT_EQ(verdict.kind,
              row[4].get<bool>() ? core::verdict_kind::granted : core::verdict_kind::refused);
  }
}

// Method numbers as httpd numbers them (the method table checks them).
constexpr int kGet = 0, kPut = 1, kDelete = 3, kOptions = 5, kTrace = 6, kCopy = 11, kMove = 12,
              kMerge = 25;

struct method_row {
  const char* roles;
  int method;
  std::optional<int> parent;
  const char* path;
  // For COPY and MOVE: the reader's status, else its destination.
  int destination_status;
  core::copy_destination destination;
  core::verdict_kind expected;
  // The refused check: its action and repository and checked path.
  pbp_access_t action = PBP_UNKNOWN;
  const char* repos = nullptr;
  const char* check_path = nullptr;
};

constexpr core::copy_destination kNoDestination{core::destination_kind::elsewhere, nullptr,
                                                nullptr};
constexpr auto kGranted = core::verdict_kind::granted;
constexpr auto kRefused = core::verdict_kind::refused;
constexpr auto kError = core::verdict_kind::error;

TEST_F(decision_core, DecidesMethods) {
  const method_row rows[] = {
      {"dev",
       kGet,
       {},
       "/trunk/secret/key.txt",
       0,
       kNoDestination,
       kRefused,
       PBP_VIEW_ACCESS,
       "repo1",
       "/trunk/secret/key.txt"},
      {"dev", kPut, {}, "/trunk/src/main.c", 0, kNoDestination, kGranted},
      {"reader", kGet, kPut, "/trunk", 0, kNoDestination, kRefused, PBP_COMMIT_ACCESS, "repo1",
       "/trunk"},
      {"dev",
       kDelete,
       {},
       "/trunk",
       0,
       kNoDestination,
       kRefused,
       PBP_COMMIT_ACCESS,
       "repo1",
       "/trunk"},
      {"dev", kDelete, {}, "/trunk/missing", 0, kNoDestination, kGranted},
      {"dev", kDelete, {}, nullptr, 0, kNoDestination, kGranted},
      {"reader",
       kMerge,
       {},
       nullptr,
       0,
       kNoDestination,
       kRefused,
       PBP_COMMIT_ACCESS,
       "repo1",
       nullptr},
      {"reader", kOptions, {}, "/", 0, kNoDestination, kGranted},
      {"dev", kTrace, {}, "/trunk", 0, kNoDestination, kError},
      {"admin", kTrace, {}, "/trunk", 0, kNoDestination, kGranted},
      {"dev",
       kCopy,
       {},
       "/trunk/src",
       0,
       {core::destination_kind::elsewhere, "repo1", "/branches/new"},
       kGranted},
      {"dev",
       kCopy,
       {},
       "/trunk/src",
       0,
       {core::destination_kind::elsewhere, "repo2", "/x"},
       kRefused,
       PBP_COMMIT_ACCESS,
       "repo2",
       "/x"},
      {"dev",
       kMove,
       {},
       "/trunk/docs",
       0,
       {core::destination_kind::elsewhere, "repo1", "/branches/docs"},
       kRefused,
       PBP_COMMIT_ACCESS,
       "repo1",
       "/trunk/docs"},
      {"dev", kCopy, {}, "/trunk/src", 400, kNoDestination, kError},
      {"dev",
       kCopy,
       {},
       "/trunk",
       0,
       {core::destination_kind::untouched_here, nullptr, nullptr},
       kGranted},
      {"dev",
       kCopy,
       {},
       "/trunk/docs",
       0,
       {core::destination_kind::replaced_here, nullptr, nullptr},
       kRefused,
       PBP_COMMIT_ACCESS,
       "repo1",
       "/trunk/docs"},
  };
  for (const method_row& row : rows) {
    SCOPED_TRACE(testing::Message()
                 << row.roles << " " << row.method << " " << (row.path ? row.path : "(none)"));
    connection c(row.roles, root_, pool_);
    const core::method_question question{
        "METHOD",
        zeb::classify_method(row.method, row.parent, row.path != nullptr),
        nullptr,
        "repo1",
        row.path,
        [&row](core::copy_destination* out) {
          *out = row.destination;
          return row.destination_status;
        }};
    const core::verdict verdict = core::decide_method(c.decider, question);
    EXPECT_EQ(verdict.kind, row.expected);
    if (row.expected == kError) {
      EXPECT_NE(verdict.error, core::error_kind::none);
    }
    if (row.expected != kRefused) continue;
    ASSERT_NE(verdict.deciding, nullptr);
    EXPECT_EQ(verdict.deciding->action, row.action);
    EXPECT_STREQ(verdict.deciding->repos_name, row.repos);
    EXPECT_STREQ(verdict.deciding->check_path, row.check_path);
  }
}

TEST_F(decision_core, ErrorsAreNeverGrants) {
  connection failing("admin", root_, pool_);
  failing.roles.failure = 503;
  const core::verdict lost = core::decide_read(failing.decider, "GET", "repo1", "/trunk");
  EXPECT_EQ(lost.kind, kError);
  EXPECT_EQ(lost.error, core::error_kind::roles);
  EXPECT_EQ(lost.status, 503);

  connection treeless("dev", nullptr, pool_);
  const core::pending_check walk{PBP_COMMIT_ACCESS, ACCESS_RECURSIVE, "repo1", "/trunk/src",
                                 "/trunk/src"};
  const core::verdict no_tree = core::decide_check(treeless.decider, "DELETE", walk);
  EXPECT_EQ(no_tree.kind, kError);
  EXPECT_EQ(no_tree.status, 500);

  const core::pending_check pathless{PBP_COMMIT_ACCESS, ACCESS_RECURSIVE, "repo1", nullptr,
                                     nullptr};
  EXPECT_EQ(core::decide_check(treeless.decider, "DELETE", pathless).kind, kError);
}

// A destination in another repository is decided with that repository's
// roles; the first repository's store is set aside, not loaded again.
TEST_F(decision_core, KeepsOneStorePerRepository) {
  connection c("dev", root_, pool_);
  const core::method_question copy{"COPY",
                                   zeb::classify_method(kCopy, {}, true),
                                   nullptr,
                                   "repo1",
                                   "/trunk/src",
                                   [](core::copy_destination* out) {
                                     *out = {core::destination_kind::elsewhere, "repo2", "/x"};
                                     return 0;
                                   }};
  EXPECT_EQ(core::decide_method(c.decider, copy).kind, kRefused);
  EXPECT_EQ(core::decide_read(c.decider, "GET", "repo1", "/trunk/src").kind, kGranted);
  EXPECT_EQ(core::decide_read(c.decider, "GET", "repo2", "/trunk/secret").kind, kGranted);
  EXPECT_EQ(c.roles.loads, 2);
}

struct path_row {
  const char* roles;
  const char* path;
  bool yes;
};

TEST_F(decision_core, AnswersReadQuestionsFromTheRoot) {
  const path_row rows[] = {
      {"dev", "trunk/secret", false},   {"dev", "/trunk/src", true}, {"dev", nullptr, true},
      {"reader", "trunk/secret", true}, {"nobody", nullptr, false},
  };
  for (const path_row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.roles << " " << (row.path ? row.path : "(none)"));
    connection c(row.roles, root_, pool_);
    const core::verdict verdict = core::decide_read(c.decider, "REPORT", "repo1", row.path);
    EXPECT_EQ(verdict.kind, row.yes ? kGranted : kRefused);
  }
}

TEST_F(decision_core, AnswersWhetherEverythingBelowIsRead) {
  const path_row rows[] = {
      {"wildcard_hidden", "/trunk", false}, {"dev", "/trunk", false},
      {"dev", "/branches", true},           {"reader", "/trunk", true},
      {"split", "/trunk/src", true},
  };
  for (const path_row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.roles << " " << row.path);
    connection c(row.roles, root_, pool_);
    const core::verdict verdict = core::reads_everything_below(c.decider, "repo1", row.path);
    EXPECT_EQ(verdict.kind, row.yes ? kGranted : kRefused);
  }
}

}  // namespace
