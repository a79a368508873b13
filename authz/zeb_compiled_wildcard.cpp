#include "zeb_compiled_wildcard.h"

#include <algorithm>
#include <new>
#include <string>

namespace zeb {

compiled_wildcard* compiled_wildcard::compile(const char* pattern, apr_pool_t* pool) {
  auto* wildcard = new (apr_palloc(pool, sizeof(compiled_wildcard))) compiled_wildcard();
  apr_pool_cleanup_register(pool, wildcard, release, apr_pool_cleanup_null);
  if (pattern == nullptr || pattern[0] != '/') return wildcard;
  const auto regex = translate_pattern(pattern);
  if (!regex) return wildcard;

  wildcard->parts_ = literal_parts(pattern);
  wildcard->needs_ = pair_signature(wildcard->parts_.prefix.data(), wildcard->parts_.prefix.size());
  for (const std::string& inner : wildcard->parts_.inners) {
    wildcard->needs_ |= pair_signature(inner.data(), inner.size());
  }
  wildcard->valid_ = true;
  wildcard->min_depth_ = 0;
  for (std::string_view rest(pattern + 1); !rest.empty();) {
    const size_t slash = rest.find('/');
    const std::string_view component = rest.substr(0, slash);
    if (!component.empty() && component != "**") ++wildcard->min_depth_;
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }

  pcre2_code* code = compile_expression(*regex);
  pcre2_match_data* data = code != nullptr ? pcre2_match_data_create(1, nullptr) : nullptr;
  if (data == nullptr) {
    pcre2_code_free(code);
    return wildcard;  // valid but not runnable: every run fails
  }
  wildcard->code_ = code;
  wildcard->data_ = data;
  wildcard->jit_ = pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0;
  return wildcard;
}

apr_status_t compiled_wildcard::release(void* self) {
  auto* wildcard = static_cast<compiled_wildcard*>(self);
  pcre2_match_data_free(wildcard->data_);
  pcre2_code_free(wildcard->code_);
  wildcard->~compiled_wildcard();
  return APR_SUCCESS;
}

bool compiled_wildcard::settled_below(std::string_view path, int depth) const {
  if (!valid_) return true;
  // A run that fails could fail on a longer path alone; only a compiled
  // pattern is known to decide on its first components.
  if (code_ != nullptr && parts_.max_score >= 0 && depth >= parts_.max_score) return true;
  // Paths below begin with path and '/' ("/" itself for the root).
  const std::string_view prefix = parts_.prefix;
  const size_t shared = std::min(prefix.size(), path.size());
  if (prefix.compare(0, shared, path.substr(0, shared)) != 0) return true;
  if (path == "/" || prefix.size() <= path.size()) return false;
  return prefix[path.size()] != '/';
}

int compiled_wildcard::match(const scanned_path_t& path) const {
  if (!valid_ || (needs_ & ~path.signature()) != 0 ||
      !literals_occur(parts_, std::string_view(path.text, path.length))) {
    return kNoMatch;
  }
  if (code_ == nullptr) return kMatchFailed;
  const auto subject = reinterpret_cast<PCRE2_SPTR>(path.text);
  int rc = jit_ ? pcre2_jit_match(code_, subject, path.length, 0, 0, data_, nullptr)
                : pcre2_match(code_, subject, path.length, 0, 0, data_, nullptr);
  if (jit_ && rc < 0 && rc != PCRE2_ERROR_NOMATCH) {
    // The JIT has limits of its own (its stack); the interpreter decides then,
    // as it does for the literal matcher.
    rc = pcre2_match(code_, subject, path.length, 0, PCRE2_NO_JIT, data_, nullptr);
  }
  return match_outcome(rc, path.text, data_);
}

}  // namespace zeb
