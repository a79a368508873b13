// Internal helpers shared by the literal matcher and the precompiled
// wildcards, so that both translate and run patterns the same way.
#ifndef ZEB_PATTERN_H
#define ZEB_PATTERN_H

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeb {

// The regular expression for a pattern, or nothing when the pattern is
// invalid.
std::optional<std::string> translate_pattern(std::string_view pattern);

// Whether translate_pattern accepts pattern, without building the expression.
bool pattern_is_valid(std::string_view pattern);

// What every path that a valid pattern matches must contain, found by cutting
// the pattern at its unescaped stars (an escaped star stands for itself; the
// '/' before a "**" is optional in the expression, so it is cut off too).
struct literal_parts_t {
  std::string prefix;               // the path begins with this
  std::vector<std::string> inners;  // then contains these, in this order, apart
  // Highest score a match can have: the pattern's '/' count when it has no
  // "**" (a star never matches '/'), else unbounded (-1).
  int max_score;
};
literal_parts_t literal_parts(std::string_view pattern);

// False when path cannot match, its literal parts not occurring in it.
bool literals_occur(const literal_parts_t& parts, std::string_view path);

// Compiles an expression with no options; null on failure.
pcre2_code* compile_expression(std::string_view regex);

// Outcomes of running a pattern on a path, besides the matched prefix's depth.
constexpr int kNoMatch = -1;
// The library gave up (its match, depth or heap limits, or memory): whether
// the path matches is unknown, so a revoking PBP must not be taken as absent.
constexpr int kMatchFailed = -2;

// The outcome of a match run that returned rc with its results in data.
int match_outcome(int rc, const char* path, pcre2_match_data* data);

// Compiles regex and runs it on path: the matched prefix's depth, kNoMatch,
// or kMatchFailed (also when regex does not compile).
int run_expression(std::string_view regex, const char* path);

// What zeb_matcher_match answers, with failures kept apart from no match:
// the matched prefix's depth, kNoMatch (also for a rejected pattern or path)
// or kMatchFailed.
int match_pattern(const char* pattern, const char* path);

// Depth of the prefix [0, end) of path.
int prefix_depth(const char* path, size_t end);

}  // namespace zeb

#endif
