// Compares the engine with the plain reference implementation on many
// randomly generated roles and paths (fixed seed, so failures reproduce).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "authz_test_support.h"
#include "reference_engine.h"
#include "zeb_authorizer.h"
#include "zeb_compiled_wildcard.h"
#include "zeb_explain.h"
#include "zeb_matcher.h"

namespace {

using zeb::test::foreign_copy;
using zeb::test::pool_t;
using zeb::test::processed_role;

class generator_t {
 public:
  explicit generator_t(unsigned seed) : rng_(seed) {}

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool chance(int percent) { return below(100) < percent; }
  template <typename T, size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(static_cast<int>(N))];
  }

  std::vector<std::string> role() {
    const int size = chance(5) ? 40 + below(160) : below(9);
    std::vector<std::string> raw;
    for (int i = 0; i < size; ++i) raw.push_back(pbp(size > 20));
    return raw;
  }

  // A request path; often derived from one of the role's own patterns so
  // that rules apply.
  std::string path(const std::vector<std::string>& raw) {
    if (!raw.empty() && chance(60)) return path_near(raw[below(static_cast<int>(raw.size()))]);
    static const char* const kComponents[] = {"a", "b", "c",  "ab",  "x.y", "\xc3\xa9",
                                              "*", ".", "..", "a b", "bb",  "a\n"};
    std::string path = chance(90) ? "/" : "";
    // Now and then deeper than the engine keeps boundaries for.
    const int depth = chance(2) ? 60 + below(10) : below(7);
    for (int i = 0; i < depth; ++i) {
      if (i > 0) path += chance(5) ? "//" : "/";
      path += pick(kComponents);
    }
    if (chance(8)) path += "/";
    return path;
  }

 private:
  std::string pbp(bool mostly_absolute) {
    static const char* const kPrefixes[] = {
        "view:", "view:", "view:", "commit:", "commit:", "none:", "View:", "x:", ":", "junk"};
    std::string raw = pick(kPrefixes);
    if (raw == "junk") return raw + pattern(false);
    return raw + pattern(mostly_absolute && chance(90));
  }

  std::string pattern(bool absolute) {
    static const char* const kLiterals[] = {"a", "b", "c", "ab", "x.y", "\xc3\xa9", "a b", "bb"};
    static const char* const kWild[] = {"*",   "**",   "\\*", "a*", "*b", "\\**",
                                        "*.y", "a\\*", ".",   "..", "",   "b**"};
    std::string pattern = chance(90) ? "/" : "";
    const int depth = below(5);
    for (int i = 0; i < depth; ++i) {
      if (i > 0) pattern += chance(4) ? "//" : "/";
      pattern += (absolute || chance(60)) ? pick(kLiterals) : pick(kWild);
    }
    if (chance(15)) pattern += "/**";
    if (chance(5)) pattern += "/";
    return pattern;
  }

  // The pattern's text with its stars replaced by components, plus a tail.
  std::string path_near(const std::string& raw) {
    const size_t colon = raw.find(':');
    std::string source = colon == std::string::npos ? raw : raw.substr(colon + 1);
    std::string path;
    for (size_t i = 0; i < source.size(); ++i) {
      if (source[i] == '\\' && i + 1 < source.size() && source[i + 1] == '*' && chance(50)) {
        path += '*';
        ++i;
      } else if (source[i] == '*') {
        static const char* const kFill[] = {"", "q", "x.y", "q/r", "b"};
        path += pick(kFill);
      } else {
        path += source[i];
      }
    }
    static const char* const kTails[] = {"", "", "/a", "/b/c", "b", "/", "/x.y"};
    path += pick(kTails);
    if (path.empty() || chance(5)) path.insert(0, "/");
    return path;
  }

  std::mt19937 rng_;
};

std::string describe(const std::vector<std::string>& raw, pbp_access_t required,
                     const std::string& path) {
  return testing::PrintToString(raw) + " required " + std::to_string(required) + " path " +
         testing::PrintToString(path);
}

TEST(AuthzDifferential, DecisionsMatchTheReference) {
  constexpr int kRoles = 6000;
  constexpr int kPathsPerRole = 8;
  const pbp_access_t kLevels[] = {PBP_NO_ACCESS, PBP_VIEW_ACCESS, PBP_COMMIT_ACCESS};
  generator_t generate(20261208);
  int failures = 0;
  int decisions = 0;
  int granted = 0;
  for (int r = 0; r < kRoles && failures < 10; ++r) {
    pool_t pool;
    const std::vector<std::string> raw = generate.role();
    const zeb::reference::role expected = zeb::reference::parse_role(raw, pool.get());
    role_processed_pbps_t* role = processed_role(raw, pool.get());
    apr_array_header_t* absolute = role->sorted_absolute_pbps;
    apr_array_header_t* wildcards = role->unsorted_wildcard_pbps;

    EXPECT_EQ(role->role_global_access, expected.global_access) << testing::PrintToString(raw);
    // The lists hold nothing of a string without ':', which lowers only the
    // stored value.
    std::vector<std::string> listed;
    std::copy_if(raw.begin(), raw.end(), std::back_inserter(listed),
                 [](const std::string& s) { return s.find(':') != std::string::npos; });
    EXPECT_EQ(determine_global_access(absolute, wildcards),
              zeb::reference::parse_role(listed, pool.get()).global_access);

    const bool check_foreign = r % 4 == 0;
    apr_array_header_t* foreign_absolute = foreign_copy(absolute, pool.get());
    apr_array_header_t* foreign_wildcards = foreign_copy(wildcards, pool.get());
    for (int p = 0; p < kPathsPerRole; ++p) {
      const std::string path = generate.path(raw);
      for (const pbp_access_t required : kLevels) {
        const int want = zeb::reference::decide(expected, required, path.c_str(), pool.get());
        const int got =
            has_non_recursive_access(absolute, wildcards, required, path.c_str(), pool.get());
        ++decisions;
        granted += want;
        if (got != want) {
          ++failures;
          ADD_FAILURE() << "engine " << got << ", reference " << want << ": "
                        << describe(raw, required, path);
        }
        if (check_foreign) {
          zeb_explanation_t why;
          zeb_explain_access(&why, absolute, wildcards, required, path.c_str(), pool.get());
          EXPECT_EQ(why.granted, want) << "explanation: " << describe(raw, required, path);
          EXPECT_EQ(has_non_recursive_access(foreign_absolute, foreign_wildcards, required,
                                             path.c_str(), pool.get()),
                    want)
              << "plain items: " << describe(raw, required, path);
        }
      }
    }
  }
  // The generator must exercise both answers, or the comparison proves little.
  EXPECT_GT(granted, decisions / 5);
  EXPECT_LT(granted, decisions * 4 / 5);
}

TEST(AuthzDifferential, PrecompiledWildcardsScoreLikeTheMatcher) {
  generator_t generate(7);
  pool_t pool;
  int matches = 0;
  constexpr int kPairs = 20000;
  for (int i = 0; i < kPairs; ++i) {
    const std::vector<std::string> raw = generate.role();
    if (raw.empty()) continue;
    const std::string& source = raw[generate.below(static_cast<int>(raw.size()))];
    const std::string pattern = source.substr(source.find(':') + 1);
    const std::string path = generate.path(raw);
    pool_t scratch;
    const zeb::compiled_wildcard* wildcard =
        zeb::compiled_wildcard::compile(pattern.c_str(), scratch.get());
    int matched = 0;
    int score = 0;
    const apr_status_t status =
        zeb_matcher_match(&matched, &score, pattern.c_str(), path.c_str(), scratch.get());
    const int want = status == 0 && matched ? score : -1;
    matches += want >= 0;
    // The engine runs precompiled wildcards on absolute paths only; the
    // matcher must not match relative ones either.
    const int got = path[0] == '/' ? wildcard->match(zeb::scanned_path_t(path.c_str())) : -1;
    ASSERT_EQ(got, want) << testing::PrintToString(pattern) << " on "
                         << testing::PrintToString(path);
  }
  EXPECT_GT(matches, kPairs / 10);
}

}  // namespace
