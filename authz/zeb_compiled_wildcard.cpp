#include "zeb_compiled_wildcard.h"

#include <apr_strings.h>

#include <cstring>
#include <new>

namespace zeb {
namespace {

// First occurrence of needle (not empty) in [from, end); short strings, so a
// plain scan beats a general substring search.
const char* find_literal(const char* from, const char* end, const char* needle, size_t length) {
  if (static_cast<size_t>(end - from) < length) return nullptr;
  const char* last = end - length;
  for (const char* at = from; at <= last; ++at) {
    at = static_cast<const char*>(std::memchr(at, needle[0], last - at + 1));
    if (at == nullptr) return nullptr;
    if (std::memcmp(at + 1, needle + 1, length - 1) == 0) return at;
  }
  return nullptr;
}

}  // namespace

compiled_wildcard* compiled_wildcard::compile(const char* pattern, apr_pool_t* pool) {
  auto* wildcard = new (apr_palloc(pool, sizeof(compiled_wildcard))) compiled_wildcard();
  if (pattern == nullptr || pattern[0] != '/') return wildcard;
  const auto regex = translate_pattern(pattern);
  if (!regex) return wildcard;

  const literal_parts_t parts = literal_parts(pattern);
  wildcard->prefix_ = {apr_pstrmemdup(pool, parts.prefix.data(), parts.prefix.size()),
                       parts.prefix.size()};
  wildcard->needs_ = pair_signature(parts.prefix.data(), parts.prefix.size());
  wildcard->inner_count_ = parts.inners.size();
  wildcard->inners_ =
      static_cast<literal_t*>(apr_palloc(pool, sizeof(literal_t) * (parts.inners.size() + 1)));
  for (size_t i = 0; i < parts.inners.size(); ++i) {
    const std::string& inner = parts.inners[i];
    wildcard->inners_[i] = {apr_pstrmemdup(pool, inner.data(), inner.size()), inner.size()};
    wildcard->needs_ |= pair_signature(inner.data(), inner.size());
  }
  wildcard->max_score_ = parts.max_score;
  wildcard->valid_ = true;

  pcre2_code* code = compile_expression(*regex);
  pcre2_match_data* data = code != nullptr ? pcre2_match_data_create(1, nullptr) : nullptr;
  if (data == nullptr) {
    pcre2_code_free(code);
    return wildcard;  // valid but not runnable: every run fails
  }
  wildcard->code_ = code;
  wildcard->data_ = data;
  wildcard->jit_ = pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0;
  apr_pool_cleanup_register(pool, wildcard, release, apr_pool_cleanup_null);
  return wildcard;
}

apr_status_t compiled_wildcard::release(void* self) {
  auto* wildcard = static_cast<compiled_wildcard*>(self);
  pcre2_match_data_free(wildcard->data_);
  pcre2_code_free(wildcard->code_);
  wildcard->data_ = nullptr;
  wildcard->code_ = nullptr;
  return APR_SUCCESS;
}

// The literal parts of the pattern occur in the path in order, the first at
// its start: necessary for a match, and much cheaper to check.
bool compiled_wildcard::literals_occur(const char* path, size_t path_length) const {
  if (path_length < prefix_.length || std::memcmp(path, prefix_.text, prefix_.length) != 0) {
    return false;
  }
  const char* rest = path + prefix_.length;
  const char* end = path + path_length;
  for (size_t i = 0; i < inner_count_; ++i) {
    const char* hit = find_literal(rest, end, inners_[i].text, inners_[i].length);
    if (hit == nullptr) return false;
    rest = hit + inners_[i].length;
  }
  return true;
}

int compiled_wildcard::match(const scanned_path_t& path) const {
  if (!valid_ || (needs_ & ~path.signature()) != 0 || !literals_occur(path.text, path.length)) {
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
