#include <apr_errno.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

#include "authz_test_support.h"
#include "zeb_matcher.h"
#include "zeb_regexer.h"

namespace {

using zeb::test::match_case_t;
using zeb::test::match_label;
using zeb::test::pool_t;

TEST(AuthzRegexer, MatchesTable) {
  const match_case_t cases[] = {
      {"/a", "/a", 0, 1, 1},
      {"/a", "/a/", 0, 1, 1},
      {"/a", "/a/b/c", 0, 1, 1},
      {"/a", "/ab", 0, 0, 0},
      {"/a", "/A", 0, 0, 0},
      {"/a/b", "/a/b/c", 0, 1, 2},
      {"/", "/", 0, 1, 1},
      {"/", "/a", 0, 0, 0},
      {"/a/*", "/a/b", 0, 1, 2},
      {"/a/*", "/a/b/c", 0, 0, 0},
      {"/a/*", "/a/", 0, 0, 0},
      {"/a/*", "/a", 0, 0, 0},
      {"/a/*/c", "/a/b/c", 0, 1, 3},
      {"/a/*/c", "/a/b/d", 0, 0, 0},
      {"/a/**", "/a", 0, 1, 1},
      {"/a/**", "/a/b", APR_BADARG, 0, 0},
      {"/a/**/b", "/a/b", 0, 1, 2},
      {"/a/**/b", "/a/x/y/b/c", 0, 1, 4},
      {"/a/**/b", "/a/b/x/b", 0, 1, 4},
      {"/a/**/b", "/a/x/c", 0, 0, 0},
      {"/**/foo", "/foo/x/foobar", 0, 0, 0},
      {"/**/*.c", "/x/y.c", 0, 1, 2},
      {"/**/*/b", "/b", 0, 0, 0},
      {"/**/*/b", "/x/y/b/z", 0, 1, 3},
      {"/a/**/b/**", "/a/x/b", 0, 0, 0},
      {"/a/b*", "/a/bc", 0, 0, 0},
      {"/a\\*", "/a\\x", 0, 0, 0},   // no escapes: the star is a wildcard after a backslash
      {"/x/**/b", "/a/b", 0, 0, 0},  // fails before reaching the double star
      {"a/b", "/a/b", APR_BADARG, 0, 0},
      {nullptr, "/a/b", APR_BADARG, 0, 0},
      {"/a/b", "a/b", APR_EBADPATH, 0, 0},
      {"/a/b", nullptr, APR_EBADPATH, 0, 0},
      {"a/b", "a/b", APR_BADARG, 0, 0},
  };
  pool_t pool;
  for (const auto& c : cases) {
    SCOPED_TRACE(match_label(c));
    int matched = -7;
    int score = -7;
    EXPECT_EQ(zeb_regexer__match(&matched, &score, c.pattern, c.path, pool.get()), c.status);
    EXPECT_EQ(matched, c.matched);
    if (c.matched) {
      EXPECT_EQ(score, c.score);
    }
  }
}

// Where the two matchers part ways, both answers are pinned down so that a
// change to either shows up.
TEST(AuthzRegexer, DiffersFromTheExpressionMatcherWhereDocumented) {
  struct difference_t {
    const char* pattern;
    const char* path;
    apr_status_t regexer_status;
    int regexer_matched;
    int matcher_matched;
    int matcher_score;
  };
  const difference_t cases[] = {
      {"/a/*", "/a/b/c", 0, 0, 1, 2},           {"/a/**", "/a/b", APR_BADARG, 0, 1, 2},
      {"/**/foo", "/foo/x/foobar", 0, 0, 1, 1}, {"/a/**/b/**", "/a/x/b", 0, 0, 1, 3},
      {"/a/\\*", "/a/\\x", 0, 0, 0, 0},         {"/a/\\*", "/a/*", 0, 0, 1, 2},
  };
  pool_t pool;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " on " + c.path);
    int matched = -1;
    int score = -1;
    EXPECT_EQ(zeb_regexer__match(&matched, &score, c.pattern, c.path, pool.get()),
              c.regexer_status);
    EXPECT_EQ(matched, c.regexer_matched);
    matched = 0;
    score = 0;
    ASSERT_EQ(zeb_matcher_match(&matched, &score, c.pattern, c.path, pool.get()), 0);
    EXPECT_EQ(matched, c.matcher_matched);
    EXPECT_EQ(score, c.matcher_score);
  }
  int matched = 0;
  int score = 0;
  ASSERT_EQ(zeb_regexer__match(&matched, &score, "/", "/", pool.get()), 0);
  EXPECT_EQ(score, 1);
  ASSERT_EQ(zeb_matcher_match(&matched, &score, "/", "/", pool.get()), 0);
  EXPECT_EQ(score, 0);
}

// Runs one match on a thread of its own and gives up waiting after a bound,
// so that a matcher that never returns fails the test instead of hanging it.
std::optional<std::tuple<apr_status_t, int, int>> match_within(const char* pattern,
                                                               const char* path,
                                                               std::chrono::seconds bound) {
  auto promise = std::make_shared<std::promise<std::tuple<apr_status_t, int, int>>>();
  auto result = promise->get_future();
  std::thread([promise, pattern, path] {
    int matched = -1;
    int score = -1;
    apr_status_t status = APR_SUCCESS;
    {
      // Released before the answer is handed over: once the waiting test
      // moves on, the process may end and tear APR down under this thread.
      pool_t pool;
      status = zeb_regexer__match(&matched, &score, pattern, path, pool.get());
    }
    promise->set_value({status, matched, score});
  }).detach();
  if (result.wait_for(bound) != std::future_status::ready) return std::nullopt;
  return result.get();
}

// Searches for one-character and empty needles used to loop forever or step
// backwards; each case must finish well within the bound.
TEST(AuthzRegexer, ShortNeedlesEnd) {
  const match_case_t cases[] = {
      {"/a/**/", "/a/x/y", 0, 0, 0},               // needle "/"
      {"/a/**/", "/a/x/y/", 0, 1, 4},              // needle "/": ends on the last '/'
      {"/a/**/*x", "/a/b/cx", 0, 1, 3},            // needle "x"
      {"/a/**/*x", "/a/b/cx/dx", 0, 1, 4},         // needle "x": its last occurrence
      {"/a/**/*x", "/a/b/c", 0, 0, 0},             // needle "x" absent
      {"/a/**/*", "/a/b/c", 0, 0, 0},              // empty needle
      {"/a/**/**", "/a/b/c", 0, 0, 0},             // empty needle
      {"/a/**/*/**", "/a/b/c", APR_BADARG, 0, 0},  // needle "/", then a bare "**"
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " on " + c.path);
    const auto outcome = match_within(c.pattern, c.path, std::chrono::seconds(5));
    ASSERT_TRUE(outcome.has_value()) << "the matcher did not return";
    const auto [status, matched, score] = *outcome;
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(matched, c.matched);
    if (c.matched) {
      EXPECT_EQ(score, c.score);
    }
  }
}

}  // namespace
