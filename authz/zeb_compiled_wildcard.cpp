#include "zeb_compiled_wildcard.h"

#include <apr_strings.h>

#include <cstring>
#include <new>

namespace zeb {

compiled_wildcard* compiled_wildcard::compile(const char* pattern, apr_pool_t* pool) {
  auto* wildcard = new (apr_palloc(pool, sizeof(compiled_wildcard))) compiled_wildcard();
  if (pattern == nullptr || pattern[0] != '/') return wildcard;
  const auto regex = translate_pattern(pattern);
  if (!regex) return wildcard;

  pcre2_code* code = compile_expression(*regex);
  if (code == nullptr) return wildcard;
  pcre2_match_data* data = pcre2_match_data_create(1, nullptr);
  if (data == nullptr) {
    pcre2_code_free(code);
    return wildcard;
  }
  const std::string prefix = literal_prefix(pattern);
  wildcard->prefix_ = apr_pstrmemdup(pool, prefix.data(), prefix.size());
  wildcard->prefix_length_ = prefix.size();
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

int compiled_wildcard::match(const char* path, size_t path_length) const {
  if (code_ == nullptr || path[0] != '/') return -1;
  if (path_length < prefix_length_ || std::memcmp(path, prefix_, prefix_length_) != 0) return -1;

  const auto subject = reinterpret_cast<PCRE2_SPTR>(path);
  int rc = jit_ ? pcre2_jit_match(code_, subject, path_length, 0, 0, data_, nullptr)
                : pcre2_match(code_, subject, path_length, 0, 0, data_, nullptr);
  if (jit_ && rc < 0 && rc != PCRE2_ERROR_NOMATCH) {
    // The JIT has limits of its own (its stack); the interpreter decides then,
    // as it does for the literal matcher.
    rc = pcre2_match(code_, subject, path_length, 0, PCRE2_NO_JIT, data_, nullptr);
  }
  // 0 means "ovector too small": still a match, and the whole match is set.
  if (rc < 0) return -1;
  return prefix_depth(path, pcre2_get_ovector_pointer(data_)[1]);
}

}  // namespace zeb
