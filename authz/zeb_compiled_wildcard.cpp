#include "zeb_compiled_wildcard.h"

#include <apr_strings.h>

#include <algorithm>
#include <new>
#include <string>

namespace zeb {
namespace {

// What a compiled expression of these patterns takes, for the footprint
// before the first run.
constexpr size_t kTypicalCodeBytes = 256;
constexpr size_t kTypicalMachineCodeBytes = 1536;

// One match block per thread, big enough for the whole match: the only
// result a run reports.
pcre2_match_data* thread_match_data() {
  struct holder {
    pcre2_match_data* data = pcre2_match_data_create(1, nullptr);
    ~holder() { pcre2_match_data_free(data); }
  };
  thread_local holder match_data;
  return match_data.data;
}

}  // namespace

compiled_wildcard* compiled_wildcard::compile(const char* pattern, apr_pool_t* pool, bool jit) {
  auto* wildcard = new (apr_palloc(pool, sizeof(compiled_wildcard))) compiled_wildcard();
  apr_pool_cleanup_register(pool, wildcard, release, apr_pool_cleanup_null);
  if (pattern == nullptr || pattern[0] != '/') return wildcard;
  if (!translate_pattern(pattern)) return wildcard;
  wildcard->pattern_ = pattern;
  wildcard->jit_ = jit;

  const literal_parts_t parts = literal_parts(pattern);
  wildcard->max_score_ = parts.max_score;
  wildcard->needs_ = pair_signature(parts.prefix.data(), parts.prefix.size());
  std::string packed = parts.prefix;
  packed += '\0';
  for (const std::string& inner : parts.inners) {
    wildcard->needs_ |= pair_signature(inner.data(), inner.size());
    packed += inner;
    packed += '\0';
  }
  wildcard->literals_ = static_cast<const char*>(apr_pmemdup(pool, packed.data(), packed.size()));
  wildcard->literals_size_ = static_cast<uint32_t>(packed.size());
  wildcard->prefix_size_ = static_cast<uint32_t>(parts.prefix.size());
  wildcard->valid_ = true;
  wildcard->min_depth_ = 0;
  for (std::string_view rest(pattern + 1); !rest.empty();) {
    const size_t slash = rest.find('/');
    const std::string_view component = rest.substr(0, slash);
    if (!component.empty() && component != "**") ++wildcard->min_depth_;
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return wildcard;
}

apr_status_t compiled_wildcard::release(void* self) {
  auto* wildcard = static_cast<compiled_wildcard*>(self);
  pcre2_code_free(wildcard->code_.load(std::memory_order_acquire));
  wildcard->~compiled_wildcard();
  return APR_SUCCESS;
}

const pcre2_code* compiled_wildcard::code() const {
  if (pcre2_code* code = code_.load(std::memory_order_acquire)) return code;
  if (uncompilable_.load(std::memory_order_relaxed)) return nullptr;
  // Every expression is translated from the pattern again: a role keeps only
  // what its decisions need, and most wildcards of a large role never run.
  pcre2_code* made = compile_expression(*translate_pattern(pattern_));
  if (made == nullptr) {
    uncompilable_.store(true, std::memory_order_relaxed);
    return nullptr;
  }
  // Without machine code (it could not be made) the interpreter runs it.
  if (jit_) pcre2_jit_compile(made, PCRE2_JIT_COMPLETE);
  pcre2_code* expected = nullptr;
  if (code_.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) return made;
  pcre2_code_free(made);  // another thread was first
  return expected;
}

size_t compiled_wildcard::footprint() const {
  size_t bytes = sizeof(compiled_wildcard) + literals_size_;
  if (!valid_) return bytes;
  size_t code_bytes = kTypicalCodeBytes;
  size_t machine_bytes = jit_ ? kTypicalMachineCodeBytes : 0;
  if (const pcre2_code* code = code_.load(std::memory_order_acquire)) {
    pcre2_pattern_info(code, PCRE2_INFO_SIZE, &code_bytes);
    if (jit_) pcre2_pattern_info(code, PCRE2_INFO_JITSIZE, &machine_bytes);
  }
  return bytes + code_bytes + machine_bytes;
}

bool compiled_wildcard::settled_below(std::string_view path, int depth) const {
  if (!valid_) return true;
  // A run that fails could fail on a longer path alone; only a pattern that
  // compiles is known to decide on its first components.
  if (max_score_ >= 0 && depth >= max_score_ && code() != nullptr) return true;
  // Paths below begin with path and '/' ("/" itself for the root).
  const std::string_view prefix(literals_, prefix_size_);
  const size_t shared = std::min(prefix.size(), path.size());
  if (prefix.compare(0, shared, path.substr(0, shared)) != 0) return true;
  if (path == "/" || prefix.size() <= path.size()) return false;
  return prefix[path.size()] != '/';
}

int compiled_wildcard::match(const scanned_path_t& path) const {
  if (!valid_ || (needs_ & ~path.signature()) != 0) return kNoMatch;
  const std::string_view text(path.text, path.length);
  if (!text.starts_with(std::string_view(literals_, prefix_size_))) return kNoMatch;
  size_t at = prefix_size_;
  for (const char* inner = literals_ + prefix_size_ + 1; inner < literals_ + literals_size_;) {
    const std::string_view literal(inner);
    at = text.find(literal, at);
    if (at == std::string_view::npos) return kNoMatch;
    at += literal.size();
    inner += literal.size() + 1;
  }
  const pcre2_code* code = this->code();
  pcre2_match_data* data = thread_match_data();
  if (code == nullptr || data == nullptr) return kMatchFailed;
  const auto subject = reinterpret_cast<PCRE2_SPTR>(path.text);
  // pcre2_match runs the machine code when there is some.
  int rc = pcre2_match(code, subject, path.length, 0, 0, data, nullptr);
  if (jit_ && rc < 0 && rc != PCRE2_ERROR_NOMATCH) {
    // The machine code has limits of its own (its stack); the interpreter
    // decides then, as it does for the literal matcher.
    rc = pcre2_match(code, subject, path.length, 0, PCRE2_NO_JIT, data, nullptr);
  }
  return match_outcome(rc, path.text, data);
}

}  // namespace zeb
