#include "zeb_matcher.h"

#include <apr_strings.h>

#include <cstring>

#include "zeb_pattern.h"

namespace zeb {
namespace {

// ispunct() of the POSIX locale, fixed here so the translation never depends
// on the process locale.
bool is_posix_punct(unsigned char c) {
  return (c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 96) ||
         (c >= 123 && c <= 126);
}

bool is_escaped_star(std::string_view p, size_t i) {
  return p[i] == '\\' && i + 1 < p.size() && p[i + 1] == '*';
}

}  // namespace

std::optional<std::string> translate_pattern(std::string_view p) {
  std::string out = "^";
  out.reserve(p.size() * 2 + 8);
  size_t i = 0;
  while (i < p.size()) {
    const char c = p[i];
    if (is_escaped_star(p, i)) {
      out += "\\*";
      i += 2;
      continue;
    }
    if (c == '*') {
      const char prev = i > 0 ? p[i - 1] : '\0';
      const char next = i + 1 < p.size() ? p[i + 1] : '\0';
      if (prev == '/' && next == '*') {
        const char after = i + 2 < p.size() ? p[i + 2] : '\0';
        if (after != '/' && after != '\0') return std::nullopt;
        out.pop_back();  // the '/' before "**" becomes part of the optional group
        out += "(/.*)?";
        i += 2;
      } else if (prev == '/') {
        out += (next == '/' || next == '\0') ? "[^/]+" : "[^/]*";
        ++i;
      } else if (prev == '*') {
        if (i < 2 || p[i - 2] != '\\') return std::nullopt;
        out += "[^/]*";
        ++i;
      } else {
        out += "[^/]*";
        ++i;
      }
      continue;
    }
    if (c != '/' && is_posix_punct(static_cast<unsigned char>(c))) out += '\\';
    out += c;
    ++i;
  }
  out += "($|/)";
  return out;
}

bool pattern_is_valid(std::string_view p) {
  for (size_t i = 0; i < p.size();) {
    if (is_escaped_star(p, i)) {
      i += 2;
      continue;
    }
    if (p[i] != '*') {
      ++i;
      continue;
    }
    const char prev = i > 0 ? p[i - 1] : '\0';
    const char next = i + 1 < p.size() ? p[i + 1] : '\0';
    if (prev == '/' && next == '*') {
      const char after = i + 2 < p.size() ? p[i + 2] : '\0';
      if (after != '/' && after != '\0') return false;
      i += 2;
      continue;
    }
    if (prev == '*' && (i < 2 || p[i - 2] != '\\')) return false;
    ++i;
  }
  return true;
}

literal_parts_t literal_parts(std::string_view p) {
  literal_parts_t parts{{}, {}, 0};
  std::string current;
  bool in_prefix = true;
  bool double_star = false;
  auto cut = [&] {
    if (in_prefix) {
      parts.prefix = std::move(current);
      in_prefix = false;
    } else if (!current.empty()) {
      parts.inners.push_back(std::move(current));
    }
    current.clear();
  };
  size_t i = 0;
  while (i < p.size()) {
    if (is_escaped_star(p, i)) {
      current += '*';
      i += 2;
    } else if (p[i] == '*') {
      const bool starts_double = i > 0 && p[i - 1] == '/' && i + 1 < p.size() && p[i + 1] == '*';
      if (starts_double) {
        current.pop_back();
        double_star = true;
      }
      cut();
      i += starts_double ? 2 : 1;
    } else {
      if (p[i] == '/') ++parts.max_score;
      current += p[i++];
    }
  }
  cut();
  if (double_star) parts.max_score = -1;
  return parts;
}

bool literals_occur(const literal_parts_t& parts, std::string_view path) {
  if (!path.starts_with(parts.prefix)) return false;
  size_t at = parts.prefix.size();
  for (const std::string& inner : parts.inners) {
    at = path.find(inner, at);
    if (at == std::string_view::npos) return false;
    at += inner.size();
  }
  return true;
}

pcre2_code* compile_expression(std::string_view regex) {
  int error_code = 0;
  PCRE2_SIZE error_offset = 0;
  return pcre2_compile(reinterpret_cast<PCRE2_SPTR>(regex.data()), regex.size(), 0, &error_code,
                       &error_offset, nullptr);
}

int match_outcome(int rc, const char* path, pcre2_match_data* data) {
  if (rc == PCRE2_ERROR_NOMATCH) return kNoMatch;
  if (rc < 0) return kMatchFailed;
  // 0 means "ovector too small": still a match, and the whole match is set.
  return prefix_depth(path, pcre2_get_ovector_pointer(data)[1]);
}

int run_expression(std::string_view regex, const char* path) {
  pcre2_code* code = compile_expression(regex);
  if (code == nullptr) return kMatchFailed;
  pcre2_match_data* data = pcre2_match_data_create(1, nullptr);
  int outcome = kMatchFailed;
  if (data != nullptr) {
    const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(path), std::strlen(path), 0, 0,
                               data, nullptr);
    outcome = match_outcome(rc, path, data);
    pcre2_match_data_free(data);
  }
  pcre2_code_free(code);
  return outcome;
}

int match_pattern(const char* pattern, const char* path) {
  if (pattern == nullptr || pattern[0] != '/' || path == nullptr || path[0] != '/') {
    return kNoMatch;
  }
  const auto regex = translate_pattern(pattern);
  return regex ? run_expression(*regex, path) : kNoMatch;
}

int prefix_depth(const char* path, size_t end) {
  int count = 0;
  for (size_t i = 0; i + 1 < end; ++i) {
    if (path[i] == '/') ++count;
  }
  return count;
}

}  // namespace zeb

extern "C" {

int component_count(const char* path) {
  if (path == nullptr) return 0;
  return zeb::prefix_depth(path, std::strlen(path));
}

char* translate_pbp(const char* pbp, int* error, apr_pool_t* pool) {
  *error = 0;
  if (pbp == nullptr) return nullptr;
  const auto regex = zeb::translate_pattern(pbp);
  if (!regex) {
    *error = 1;
    return apr_pstrdup(pool, "");
  }
  return apr_pstrmemdup(pool, regex->data(), regex->size());
}

int do_match(const char* regex, const char* text, int* score, apr_pool_t* /*pool*/) {
  if (regex == nullptr || text == nullptr) return 0;
  const int outcome = zeb::run_expression(regex, text);
  if (outcome < 0) return 0;
  *score = outcome;
  return 1;
}

apr_status_t zeb_matcher_match(int* matched, int* score, const char* pbp, const char* text,
                               apr_pool_t* pool) {
  if (pbp == nullptr || pbp[0] != '/') return APR_BADARG;
  if (text == nullptr || text[0] != '/') return APR_EBADPATH;
  int error = 0;
  const char* regex = translate_pbp(pbp, &error, pool);
  if (error) return APR_BADARG;
  *matched = do_match(regex, text, score, pool);
  return APR_SUCCESS;
}

}  // extern "C"
