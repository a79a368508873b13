#include "svn_authz.h"

#include <gtest/gtest.h>

#include <apr_general.h>

#include "apr_pool_test.h"
#include "workload.h"

namespace zeb_bench {
namespace {

class SvnAuthzTest : public apr_pool_test {
 protected:
  static void TearDownTestSuite() { apr_terminate(); }
};

constexpr const char* kOpenRoot = "[r:/]\nu = rw\n\n";

TEST_F(SvnAuthzTest, SectionPerPbp) {
  struct row {
    const char* pbp;
    std::string text;  // the sections after the open root
  };
  const row rows[] = {
      {"view:/trunk", "[r:/trunk]\nu = r\n\n"},
      {"commit:/trunk/src", "[r:/trunk/src]\nu = rw\n\n"},
      {"none:/secret", "[r:/secret]\nu = \n\n"},
      {"other:/x", "[r:/x]\nu = \n\n"},
      {"view://a//b/", "[r:/a/b]\nu = r\n\n"},
      {"view:/a/**", "[r:/a]\nu = r\n\n"},
      {"view:/a/*", "[:glob:r:/a/*]\nu = r\n\n"},
      {"view:/a/**/b", "[:glob:r:/a/**/b]\nu = r\n\n"},
      {"view:/*/**", "[:glob:r:/*/**]\nu = r\n\n"},
      {"view:/foo**", "[:glob:r:/foo**]\nu = r\n\n"},
      {"view:trunk", ""},
      {"junk", ""},
  };
  for (const row& r : rows) {
    EXPECT_EQ(svn_authz_rules({r.pbp}, "r", "u"), kOpenRoot + r.text) << r.pbp;
  }
}

TEST_F(SvnAuthzTest, SameSectionMergesToLowerRight) {
  EXPECT_EQ(svn_authz_rules({"commit:/a", "view:/a/", "commit:/a/**"}, "r", "u"),
            std::string(kOpenRoot) + "[r:/a]\nu = r\n\n");
  EXPECT_EQ(svn_authz_rules({"view:/a/*", "none:/a/*", "view:/"}, "r", "u"),
            "[:glob:r:/a/*]\nu = \n\n[r:/]\nu = r\n\n");
}

TEST_F(SvnAuthzTest, SubversionDecidesOnTheRules) {
  struct row {
    std::vector<std::string> pbps;
    const char* path;
    pbp_access_t required;
    bool allowed;
  };
  const std::vector<std::string> tree = {"view:/",
                                         "commit:/trunk",
                                         "none:/trunk/hidden",
                                         "commit:/trunk/hidden/*.txt",
                                         "none:/**/*.key",
                                         "commit:/projects/*/trunk"};
  const row rows[] = {
      {tree, "/branches", PBP_VIEW_ACCESS, true},
      {tree, "/branches", PBP_COMMIT_ACCESS, false},
      {tree, "/trunk/x", PBP_COMMIT_ACCESS, true},
      {tree, "/trunk/hidden/a", PBP_VIEW_ACCESS, false},
      {tree, "/trunk/hidden/a.txt", PBP_COMMIT_ACCESS, true},
      {tree, "/docs/id.key", PBP_VIEW_ACCESS, false},
      {tree, "/docs/id.c", PBP_VIEW_ACCESS, true},
      {tree, "/projects/p1/trunk/src", PBP_COMMIT_ACCESS, true},
      {tree, "/projects/p1/tags/t1", PBP_COMMIT_ACCESS, false},
      {{"commit:/a", "view:/a/"}, "/a/x", PBP_COMMIT_ACCESS, false},
      {{"commit:/a", "view:/a/"}, "/a/x", PBP_VIEW_ACCESS, true},
      {{"view:/", "junk:/a"}, "/a/b", PBP_VIEW_ACCESS, false},
      // What no PBP covers is open, as in the engine.
      {{"view:/a"}, "/b", PBP_COMMIT_ACCESS, true},
      {{"view:/a"}, "/a/b", PBP_COMMIT_ACCESS, false},
      // A PBP on the root replaces the open root.
      {{"none:/**", "view:/a"}, "/b", PBP_VIEW_ACCESS, false},
      {{"view:/.", "commit:/a"}, "/b", PBP_COMMIT_ACCESS, false},
      {{"view:/.", "commit:/a"}, "/b", PBP_VIEW_ACCESS, true},
  };
  for (const row& r : rows) {
    svn_authz_checker checker(svn_authz_rules(r.pbps, "repo", "alice"), "repo", "alice");
    EXPECT_EQ(checker.allows(r.path, r.required, pool_), r.allowed)
        << r.path << " required " << r.required;
  }
}

TEST_F(SvnAuthzTest, OtherUserOrRepositoryGetsNothing) {
  svn_authz_checker other_user(svn_authz_rules({"commit:/"}, "repo", "alice"), "repo", "bob");
  EXPECT_FALSE(other_user.allows("/a", PBP_VIEW_ACCESS, pool_));
  svn_authz_checker other_repos(svn_authz_rules({"commit:/"}, "repo", "alice"), "elsewhere",
                                "alice");
  EXPECT_FALSE(other_repos.allows("/a", PBP_VIEW_ACCESS, pool_));
}

TEST_F(SvnAuthzTest, MalformedRulesThrow) {
  EXPECT_THROW(svn_authz_checker("[repo:/a\nalice = r\n", "repo", "alice"), std::runtime_error);
}

TEST_F(SvnAuthzTest, GeneratedWorkloadParsesAndSplitsDecisions) {
  workload w = make_workload(1);
  svn_authz_checker checker(svn_authz_rules(w.all_pbps(), "repo", "alice"), "repo", "alice");
  int allowed = 0;
  for (const decision_request& request : w.requests) {
    allowed += checker.allows(request.path.c_str(), request.required, pool_);
  }
  int total = static_cast<int>(w.requests.size());
  EXPECT_GT(allowed, total / 10);
  EXPECT_LT(allowed, total - total / 10);
}

}  // namespace
}  // namespace zeb_bench
