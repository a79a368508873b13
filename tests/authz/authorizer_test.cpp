#include <gtest/gtest.h>
#include <svn_path.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "authz_test_support.h"
#include "zeb_authorizer.h"
#include "zeb_pbp_usability.h"

namespace {

using zeb::test::foreign_copy;
using zeb::test::pool_t;
using zeb::test::processed_role;

using entries_t = std::vector<std::pair<std::string, pbp_access_t>>;

entries_t entries_of(const apr_array_header_t* list) {
  entries_t entries;
  for (int i = 0; i < list->nelts; ++i) {
    const auto* item = APR_ARRAY_IDX(list, i, const pbp_item_t*);
    entries.emplace_back(item->path, item->permission);
  }
  return entries;
}

struct processing_case_t {
  std::vector<std::string> raw;
  entries_t absolute;   // any order; the list itself must be deepest first
  entries_t wildcards;  // in list order
  pbp_access_t global;
};

TEST(AuthzProcessing, BuildsListsAndGlobalAccess) {
  constexpr auto V = PBP_VIEW_ACCESS;
  constexpr auto C = PBP_COMMIT_ACCESS;
  constexpr auto N = PBP_NO_ACCESS;
  const processing_case_t cases[] = {
      {{}, {}, {}, C},
      {{"commit:/a", "view:/a/"}, {{"/a", V}}, {}, V},
      {{"view:/a/**", "commit:/a"}, {{"/a", V}}, {}, V},
      {{"view:/**"}, {{"/", V}}, {}, V},
      {{"commit://a//b/./", "view:/"}, {{"/a/b", C}, {"/", V}}, {}, V},
      {{"none:/hidden", "View:/x", "x:/y"}, {{"/hidden", N}, {"/x", N}, {"/y", N}}, {}, N},
      {{"view:a:b"}, {{"a:b", V}}, {}, V},
      {{"view:trunk", "commit:"}, {{"trunk", V}, {"", C}}, {}, V},
      {{"commit:/a/*/b", "view:/a/*/b", "commit:/x/**"},
       {{"/x", C}},
       {{"/a/*/b", C}, {"/a/*/b", V}},
       V},
      {{"commit:/a/**/b", "commit:/**/**", "commit:/a/\\*"},
       {},
       {{"/a/**/b", C}, {"/**/**", C}, {"/a/\\*", C}},
       C},
      // A final "**" inside a component is not a subtree: it stays a wildcard
      // (that never matches) and still lowers the global access.
      {{"commit:/", "view:/foo**", "view:**"}, {{"/", C}}, {{"/foo**", V}, {"**", V}}, V},
      {{"commit:/a", "commit:/a/b/c", "view:/b/c", "commit:/"},
       {{"/a/b/c", C}, {"/b/c", V}, {"/a", C}, {"/", C}},
       {},
       V},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.raw));
    pool_t pool;
    role_processed_pbps_t* role = processed_role(c.raw, pool.get());

    entries_t absolute = entries_of(role->sorted_absolute_pbps);
    for (size_t i = 1; i < absolute.size(); ++i) {
      EXPECT_GE(svn_path_component_count(absolute[i - 1].first.c_str()),
                svn_path_component_count(absolute[i].first.c_str()));
    }
    std::sort(absolute.begin(), absolute.end());
    entries_t expected = c.absolute;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(absolute, expected);
    EXPECT_EQ(entries_of(role->unsorted_wildcard_pbps), c.wildcards);
    EXPECT_EQ(role->role_global_access, c.global);
    EXPECT_EQ(determine_global_access(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps),
              c.global);
  }
}

TEST(AuthzProcessing, StringWithoutColonLowersOnlyTheStoredGlobalAccess) {
  pool_t pool;
  role_processed_pbps_t* role = processed_role({"commit:/", "view /trunk"}, pool.get());
  EXPECT_EQ(entries_of(role->sorted_absolute_pbps), (entries_t{{"/", PBP_COMMIT_ACCESS}}));
  EXPECT_EQ(role->unsorted_wildcard_pbps->nelts, 0);
  EXPECT_EQ(role->role_global_access, PBP_NO_ACCESS);
  EXPECT_EQ(determine_global_access(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps),
            PBP_COMMIT_ACCESS);
}

TEST(AuthzProcessing, TellsUsableStringsFromOthers) {
  const struct {
    const char* raw;
    zeb_pbp_verdict_t verdict;
  } cases[] = {
      {"view:/", ZEB_PBP_USABLE},
      {"commit://a//b/./", ZEB_PBP_USABLE},
      {"none:/a/**", ZEB_PBP_USABLE},
      {"view:/a/*/b\\*.c", ZEB_PBP_USABLE},
      {"view:/a:b", ZEB_PBP_USABLE},
      {"view /trunk", ZEB_PBP_NO_ACTION},
      {nullptr, ZEB_PBP_NO_ACTION},
      {"View:/x", ZEB_PBP_UNKNOWN_ACTION},
      {":/x", ZEB_PBP_UNKNOWN_ACTION},
      {"viewer:/x", ZEB_PBP_UNKNOWN_ACTION},
      {"none:secret", ZEB_PBP_RELATIVE_PATH},
      {"commit:", ZEB_PBP_RELATIVE_PATH},
      {"none:/secret/**x", ZEB_PBP_BAD_PATTERN},
      {"view:/foo**", ZEB_PBP_BAD_PATTERN},
  };
  pool_t pool;
  for (const auto& c : cases) {
    EXPECT_EQ(zeb_pbp_verdict(c.raw, pool.get()), c.verdict) << (c.raw ? c.raw : "(null)");
  }
  const char* const mixed[] = {"junk", "none:x", "view:/"};
  EXPECT_EQ(zeb_pbps_have_usable(mixed, 3, pool.get()), 1);
  EXPECT_EQ(zeb_pbps_have_usable(mixed, 2, pool.get()), 0);
  EXPECT_EQ(zeb_pbps_have_usable(nullptr, 0, pool.get()), 0);
}

TEST(AuthzProcessing, ProcessesOnceAndReleasesRawStrings) {
  pool_t pool;
  role_processed_pbps_t* role = processed_role({"view:/a", "commit:/b/*"}, pool.get());
  EXPECT_EQ(role->raw_pbps, nullptr);
  EXPECT_EQ(role->raw_pbps_pool, nullptr);
  apr_array_header_t* absolute = role->sorted_absolute_pbps;
  apr_array_header_t* wildcards = role->unsorted_wildcard_pbps;
  ensure_processed_pbps(role, pool.get());
  EXPECT_EQ(role->sorted_absolute_pbps, absolute);
  EXPECT_EQ(role->unsorted_wildcard_pbps, wildcards);
  EXPECT_EQ(absolute->nelts, 1);
  EXPECT_EQ(wildcards->nelts, 1);
}

struct decision_case_t {
  std::vector<std::string> raw;
  pbp_access_t required;
  const char* path;
  int expected;
};

// The decision on a case's path for a role processed from its raw entries.
int decision_of(const decision_case_t& c) {
  pool_t pool;
  role_processed_pbps_t* role = processed_role(c.raw, pool.get());
  return has_non_recursive_access(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps,
                                  c.required, c.path, pool.get());
}

TEST(AuthzDecision, FollowsTheMostSpecificRule) {
  constexpr auto V = PBP_VIEW_ACCESS;
  constexpr auto C = PBP_COMMIT_ACCESS;
  constexpr auto N = PBP_NO_ACCESS;
  const std::vector<std::string> trunk = {"view:/", "commit:/trunk", "none:/trunk/hidden",
                                          "commit:/trunk/hidden/*.txt"};
  const std::vector<std::string> proj = {"view:/", "commit:/proj/**/src",
                                         "none:/proj/*/src/hidden"};
  const decision_case_t cases[] = {
      {trunk, C, "/trunk/x", 1},
      {trunk, V, "/branches", 1},
      {trunk, C, "/branches", 0},
      {trunk, V, "/trunk/hidden", 0},
      {trunk, V, "/trunk/hidden/a", 0},
      {trunk, V, "/trunk/hidden/a.txt", 1},
      {trunk, C, "/trunk/hidden/a.txt", 1},
      {trunk, C, "/trunk/hidden/a.txt/deeper", 1},
      {trunk, C, "/trunkx", 0},
      {proj, V, "/proj/x/src/hidden/y", 0},
      {proj, C, "/proj/x/src/a", 1},
      {proj, C, "/proj/x/y/src", 1},
      {proj, C, "/proj/x", 0},
      // Nothing applies: open.
      {{}, C, "/x", 1},
      {{"view:/a/*/b"}, C, "/x", 1},
      {{"view:/a/*/b"}, C, "/a/x/b", 0},
      {{"view:/a/*/b"}, V, "/a/x/b/c", 1},
      // Ties at equal depth.
      {{"commit:/a", "view:/*"}, C, "/a", 1},
      {{"view:/a", "commit:/*"}, C, "/a", 0},
      {{"view:/a/*", "none:/a/*"}, V, "/a/x", 0},
      {{"none:/a/*", "view:/**/y"}, V, "/a/x", 0},
      {{"none:/a/*", "view:/**/y"}, V, "/a/x/y", 1},  // the deeper match wins
      {{"none:/a/*", "view:/a/**"}, V, "/a/x/y", 0},  // "/a/**" is the absolute "/a"
      {{"view:/**"}, V, "/any/where", 1},
      {{"view:/**"}, C, "/any/where", 0},
      {{"view:/a/**"}, C, "/a/b", 0},
      {{"view:/a/**"}, C, "/ab", 1},
      {{"none:/", "commit:/a/b/c"}, C, "/a/b/c/d", 1},
      {{"none:/", "commit:/a/b/c"}, C, "/a/b", 0},
      // No access required: every covering PBP grants it.
      {{"none:/", "none:/*"}, N, "/x", 1},
      // Relative entries never cover absolute paths, wildcards never match
      // relative ones.
      {{"view:trunk"}, C, "/trunk", 1},
      {{"view:"}, C, "/trunk", 1},
      {{"view:trunk"}, C, "trunk/x", 0},
      {{"view:trunk"}, V, "trunk/x", 1},
      {{"none:/*"}, V, "x", 1},
      // "/foo**" never matches, and never becomes "/fo".
      {{"none:/foo**", "commit:/"}, C, "/fo", 1},
      {{"none:/foo**", "commit:/"}, C, "/foo/x", 1},
      // Odd request paths decide as svn_dirent_is_ancestor says.
      {{"none:/a"}, V, "/a//b", 0},
      {{"none:/a"}, V, "/a/", 0},
      {{"none:/a"}, V, "/ab", 1},
      {{"none:/"}, V, "//x", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.raw) + " " + std::to_string(c.required) + " " + c.path);
    EXPECT_EQ(decision_of(c), c.expected);
  }
}

std::string repeated(const std::string& part, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += part;
  return text;
}

// Paths and entries deeper than usual, around the number of components the
// engine looks at without a scan.
TEST(AuthzDecision, DecidesOnVeryDeepPaths) {
  constexpr auto C = PBP_COMMIT_ACCESS;
  const std::string deep = repeated("/a", 70);
  const std::string deeper = repeated("/a", 75);
  const std::string shallow = repeated("/a", 3);
  const decision_case_t cases[] = {
      {{"none:/", "commit:" + deep}, C, deeper.c_str(), 1},
      {{"none:/", "commit:" + deep}, C, deep.c_str(), 1},
      {{"none:/", "commit:" + deep}, C, shallow.c_str(), 0},
      {{"commit:/", "none:" + deep}, C, deeper.c_str(), 0},
      {{"commit:/", "none:" + shallow}, C, deeper.c_str(), 0},
      {{"none:/", "commit:" + deep + "/*"}, C, deeper.c_str(), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.raw) + " " + c.path);
    EXPECT_EQ(decision_of(c), c.expected);
  }
}

// A path that makes the expression library give up (its match limit), or a
// pattern too large to compile, leaves it unknown whether a wildcard matches:
// that must never grant, on processed lists and on lists made elsewhere alike.
TEST(AuthzDecision, WildcardsTheLibraryGivesUpOnNeverGrant) {
  constexpr auto V = PBP_VIEW_ACCESS;
  const std::string costly = "/a/b" + repeated("/a/bx", 2500);
  const std::string huge = "/" + repeated("a", 40000);
  const std::string below_huge = huge + "/x";
  const decision_case_t cases[] = {
      {{"view:/", "none:/**/a/**/b"}, V, costly.c_str(), 0},
      {{"none:/", "view:/**/a/**/b"}, V, costly.c_str(), 0},
      {{"view:/", "none:" + huge + "/*"}, V, below_huge.c_str(), 0},
      {{"view:/", "none:" + huge + "/*"}, V, "/b", 1},  // could not match anyway
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.raw));
    pool_t pool;
    role_processed_pbps_t* role = processed_role(c.raw, pool.get());
    EXPECT_EQ(has_non_recursive_access(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps,
                                       c.required, c.path, pool.get()),
              c.expected);
    EXPECT_EQ(has_non_recursive_access(foreign_copy(role->sorted_absolute_pbps, pool.get()),
                                       foreign_copy(role->unsorted_wildcard_pbps, pool.get()),
                                       c.required, c.path, pool.get()),
              c.expected);
  }
}

// Lists made by other code may hold paths that processing never makes; they
// decide by svn_dirent_is_ancestor and never bring the process down.
TEST(AuthzDecision, ListsMadeElsewhereMayHoldNonCanonicalPaths) {
  const struct {
    const char* absolute;
    const char* path;
    int expected;
  } cases[] = {
      {"/a/", "/a/", 0},
      {"/a/./b", "/a/./b/c", 0},
      {".", "./x", 0},
      {"/a/", "/ab", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.absolute) + " " + c.path);
    pool_t pool;
    pbp_item_t item{c.absolute, PBP_NO_ACCESS, nullptr};
    apr_array_header_t* absolute = apr_array_make(pool.get(), 1, sizeof(pbp_item_t*));
    APR_ARRAY_PUSH(absolute, pbp_item_t*) = &item;
    apr_array_header_t* wildcards = apr_array_make(pool.get(), 1, sizeof(pbp_item_t*));
    EXPECT_EQ(has_non_recursive_access(absolute, wildcards, PBP_VIEW_ACCESS, c.path, pool.get()),
              c.expected);
  }
}

// Missing arguments, such as the lists of a role never processed, refuse.
TEST(AuthzDecision, MissingArgumentsAreRefused) {
  pool_t pool;
  role_processed_pbps_t* role = processed_role({}, pool.get());
  apr_array_header_t* absolute = role->sorted_absolute_pbps;
  apr_array_header_t* wildcards = role->unsorted_wildcard_pbps;
  EXPECT_EQ(has_non_recursive_access(absolute, wildcards, PBP_VIEW_ACCESS, nullptr, pool.get()), 0);
  EXPECT_EQ(has_non_recursive_access(nullptr, wildcards, PBP_VIEW_ACCESS, "/a", pool.get()), 0);
  EXPECT_EQ(has_non_recursive_access(absolute, nullptr, PBP_VIEW_ACCESS, "/a", pool.get()), 0);
}

}  // namespace
