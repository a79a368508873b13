#include <apr_errno.h>
#include <gtest/gtest.h>

#include <string>

#include "authz_test_support.h"
#include "zeb_matcher.h"
#include "zeb_pattern.h"

namespace {

using zeb::test::match_case_t;
using zeb::test::match_label;
using zeb::test::pool_t;

struct translation_case_t {
  const char* pattern;
  const char* regex;  // null: the pattern is invalid
};

TEST(AuthzTranslate, ProducesAnchoredExpressions) {
  const translation_case_t cases[] = {
      {"/a", "^/a($|/)"},
      {"/", "^/($|/)"},
      {"/a/*", "^/a/[^/]+($|/)"},
      {"/a/*/b", "^/a/[^/]+/b($|/)"},
      {"/a/b*", "^/a/b[^/]*($|/)"},
      {"/a/*.java", "^/a/[^/]*\\.java($|/)"},
      {"/a/**", "^/a(/.*)?($|/)"},
      {"/a/**/b", "^/a(/.*)?/b($|/)"},
      {"/**/b", "^(/.*)?/b($|/)"},
      {"/a/\\*", "^/a/\\*($|/)"},
      {"/a/\\**", "^/a/\\*[^/]*($|/)"},
      {"/a\\b", "^/a\\\\b($|/)"},
      {"/a-b_c$d", "^/a\\-b\\_c\\$d($|/)"},
      {"/a b/\xc3\xa9", "^/a b/\xc3\xa9($|/)"},
      {"/a/b**", nullptr},
      {"/a/**x", nullptr},
      {"/a/***", nullptr},
      {"/a**", nullptr},
  };
  pool_t pool;
  for (const auto& c : cases) {
    int error = -1;
    const char* regex = translate_pbp(c.pattern, &error, pool.get());
    ASSERT_NE(regex, nullptr) << c.pattern;
    EXPECT_EQ(zeb::pattern_is_valid(c.pattern), c.regex != nullptr) << c.pattern;
    if (c.regex == nullptr) {
      EXPECT_EQ(error, 1) << c.pattern;
      EXPECT_STREQ(regex, "") << c.pattern;
    } else {
      EXPECT_EQ(error, 0) << c.pattern;
      EXPECT_STREQ(regex, c.regex) << c.pattern;
    }
  }
  int error = -1;
  EXPECT_EQ(translate_pbp(nullptr, &error, pool.get()), nullptr);
  EXPECT_EQ(error, 0);
}

TEST(AuthzComponentCount, CountsSlashesFollowedByACharacter) {
  const std::pair<const char*, int> cases[] = {
      {"", 0}, {"/", 0}, {"/a", 1}, {"/a/b", 2}, {"/a/b/", 2}, {"//", 1}, {"a/b", 1},
  };
  for (const auto& [path, count] : cases) EXPECT_EQ(component_count(path), count) << path;
}

// The regular-expression matcher; compare AuthzRegexer for the other one.
TEST(AuthzMatcher, MatchesTable) {
  const match_case_t cases[] = {
      {"/a", "/a", 0, 1, 1},
      {"/a", "/a/", 0, 1, 1},
      {"/a", "/a/b/c", 0, 1, 1},
      {"/a", "/ab", 0, 0, 0},
      {"/a", "/A", 0, 0, 0},
      {"/", "/", 0, 1, 0},
      {"/", "/a", 0, 0, 0},
      {"/a/*", "/a/x", 0, 1, 2},
      {"/a/*", "/a/x/y", 0, 1, 2},
      {"/a/*", "/a", 0, 0, 0},
      {"/a/*", "/a/", 0, 0, 0},
      {"/a/*", "/ax", 0, 0, 0},
      {"/a/*.java", "/a/X.java", 0, 1, 2},
      {"/a/*.java", "/a/.java", 0, 1, 2},
      {"/a/*.java", "/a/Xjava", 0, 0, 0},
      {"/a/*.java", "/a/b/X.java", 0, 0, 0},
      {"/a/b*", "/a/b", 0, 1, 2},
      {"/a/b*", "/a/bcd/e", 0, 1, 2},
      {"/a/**", "/a", 0, 1, 1},
      {"/a/**", "/a/b", 0, 1, 2},
      {"/a/**", "/a/x/y", 0, 1, 3},
      {"/a/**", "/ab", 0, 0, 0},
      {"/a/**/b", "/a/b", 0, 1, 2},
      {"/a/**/b", "/a/x/b/c", 0, 1, 3},
      {"/a/**/b", "/a/b/x/b", 0, 1, 4},
      {"/**/b", "/b", 0, 1, 1},
      {"/**/foo", "/foo/x/foobar", 0, 1, 1},
      {"/a/**/b/**", "/a/x/b", 0, 1, 3},
      {"/a/\\*", "/a/*", 0, 1, 2},
      {"/a/\\*", "/a/x", 0, 0, 0},
      {"/a\\b/*", "/a\\b/x", 0, 1, 2},
      {"/a.b", "/aXb", 0, 0, 0},
      {"/a.b", "/a.b", 0, 1, 1},
      {"/a/b**", "/a/b", APR_BADARG, 0, 0},
      {"a/*", "/a/x", APR_BADARG, 0, 0},
      {nullptr, "/a", APR_BADARG, 0, 0},
      {"/a/*", "a/x", APR_EBADPATH, 0, 0},
      {"/a/*", nullptr, APR_EBADPATH, 0, 0},
      {"a/*", "a/x", APR_BADARG, 0, 0},  // the pattern is checked first
  };
  pool_t pool;
  for (const auto& c : cases) {
    SCOPED_TRACE(match_label(c));
    int matched = -7;
    int score = -7;
    EXPECT_EQ(zeb_matcher_match(&matched, &score, c.pattern, c.path, pool.get()), c.status);
    if (c.status != 0) {
      EXPECT_EQ(matched, -7);  // untouched on a failure status
      continue;
    }
    EXPECT_EQ(matched, c.matched);
    EXPECT_EQ(score, c.matched ? c.score : -7);  // written only on a match
  }
}

TEST(AuthzMatcher, DoMatchTreatsBadExpressionsAsNoMatch) {
  pool_t pool;
  int score = -7;
  EXPECT_EQ(do_match("^/a(", "/a", &score, pool.get()), 0);
  EXPECT_EQ(do_match("^/a/[^/]+($|/)", "/a/b/c", &score, pool.get()), 1);
  EXPECT_EQ(score, 2);
}

}  // namespace
