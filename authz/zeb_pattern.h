// Internal helpers shared by the literal matcher and the precompiled
// wildcards, so that both translate and run patterns the same way.
#ifndef ZEB_PATTERN_H
#define ZEB_PATTERN_H

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <optional>
#include <string>
#include <string_view>

namespace zeb {

// The regular expression for a pattern, or nothing when the pattern is
// invalid.
std::optional<std::string> translate_pattern(std::string_view pattern);

// Text that every path the pattern matches must begin with: the pattern up
// to its first unescaped '*' (an escaped star standing for itself), without
// the '/' that a leading "**" swallows.
std::string literal_prefix(std::string_view pattern);

// Compiles an expression with no options; null on failure.
pcre2_code* compile_expression(std::string_view regex);

// Depth of the prefix [0, end) of path.
int prefix_depth(const char* path, size_t end);

}  // namespace zeb

#endif
