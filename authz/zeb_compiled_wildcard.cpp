#include "zeb_compiled_wildcard.h"

#include <apr_strings.h>

#include <algorithm>
#include <cstring>
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

// Calls visit(start, length) for each literal part of a valid pattern
// without escaped stars from from on, as literal_parts cuts them: at each
// star, the '/' before a "**" cut off; empty parts are left out but for the
// first when it is the prefix. Stops when visit returns false, and returns
// false then. Reads up to the pattern's NUL, so a run needs no length.
template <typename Visit>
bool for_each_literal(const char* p, size_t from, bool prefix, Visit visit) {
  size_t start = from;
  bool first = true;
  size_t i = from;
  for (; p[i] != '\0';) {
    if (p[i] != '*') {
      ++i;
      continue;
    }
    const bool starts_double = i > 0 && p[i - 1] == '/' && p[i + 1] == '*';
    const size_t end = starts_double ? i - 1 : i;
    if (((first && prefix) || end > start) && !visit(start, end - start)) return false;
    first = false;
    i += starts_double ? 2 : 1;
    start = i;
  }
  if ((first && prefix) || i > start) return visit(start, i - start);
  return true;
}

}  // namespace

compiled_wildcard* compiled_wildcard::compile(const char* pattern, apr_pool_t* pool, bool jit) {
  auto* wildcard = static_cast<compiled_wildcard*>(apr_palloc(pool, sizeof(compiled_wildcard)));
  compile_at(wildcard, pattern, pool, jit);
  apr_pool_cleanup_register(pool, wildcard, release_cleanup, apr_pool_cleanup_null);
  return wildcard;
}

void compiled_wildcard::compile_at(compiled_wildcard* where, const char* pattern, apr_pool_t* pool,
                                   bool jit) {
  auto* wildcard = new (where) compiled_wildcard();
  if (pattern == nullptr || pattern[0] != '/') return;
  const std::string_view text(pattern);
  if (!pattern_is_valid(text)) return;
  wildcard->pattern_ = pattern;
  wildcard->jit_ = jit;
  wildcard->valid_ = true;

  // From the pattern's components: its '/' count, whether a "**" follows a
  // '/', and the components that each take one of a path's (all but empty
  // ones and "**").
  int slashes = 0;
  bool double_star = false;
  const bool escapes = text.find("\\*") != std::string_view::npos;
  wildcard->min_depth_ = 0;
  for (size_t slash = 0; slash != std::string_view::npos;) {
    const size_t next = text.find('/', slash + 1);
    const std::string_view component = text.substr(slash + 1, next - slash - 1);
    ++slashes;
    if (component.starts_with("**")) double_star = true;
    if (!component.empty() && component != "**") ++wildcard->min_depth_;
    slash = next;
  }
  if (!escapes) {
    // Every literal is a span of the pattern: nothing to copy.
    wildcard->max_score_ = double_star ? -1 : slashes;
    bool prefix = true;
    for_each_literal(pattern, 0, true, [&](size_t start, size_t length) {
      if (prefix) wildcard->prefix_size_ = static_cast<uint32_t>(length);
      prefix = false;
      wildcard->needs_ |= pair_signature(pattern + start, length);
      return true;
    });
    return;
  }
  const literal_parts_t parts = literal_parts(text);
  wildcard->max_score_ = parts.max_score;
  wildcard->needs_ = pair_signature(parts.prefix.data(), parts.prefix.size());
  std::string packed = parts.prefix;
  packed += '\0';
  for (const std::string& inner : parts.inners) {
    wildcard->needs_ |= pair_signature(inner.data(), inner.size());
    packed += inner;
    packed += '\0';
  }
  packed += '\0';
  wildcard->packed_ = static_cast<const char*>(apr_pmemdup(pool, packed.data(), packed.size()));
  wildcard->prefix_size_ = static_cast<uint32_t>(parts.prefix.size());
}

apr_status_t compiled_wildcard::release_cleanup(void* self) {
  static_cast<compiled_wildcard*>(self)->release();
  return APR_SUCCESS;
}

void compiled_wildcard::release() const {
  pcre2_code_free(code_.exchange(nullptr, std::memory_order_acq_rel));
}

std::string_view compiled_wildcard::prefix() const {
  return {packed_ != nullptr ? packed_ : pattern_, prefix_size_};
}

bool compiled_wildcard::inners_occur(std::string_view text) const {
  size_t at = prefix_size_;
  const auto occurs = [&](std::string_view literal) {
    at = text.find(literal, at);
    if (at == std::string_view::npos) return false;
    at += literal.size();
    return true;
  };
  if (packed_ == nullptr) {
    return for_each_literal(pattern_, prefix_size_, false, [&](size_t start, size_t length) {
      return occurs(std::string_view(pattern_ + start, length));
    });
  }
  for (const char* inner = packed_ + prefix_size_ + 1; *inner != '\0';) {
    const std::string_view literal(inner);
    if (!occurs(literal)) return false;
    inner += literal.size() + 1;
  }
  return true;
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
  size_t bytes = sizeof(compiled_wildcard);
  if (packed_ != nullptr) {
    // Inner literals are never empty: an empty one ends them.
    const char* part = packed_ + prefix_size_ + 1;
    while (*part != '\0') part += std::strlen(part) + 1;
    bytes += static_cast<size_t>(part + 1 - packed_);
  }
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
  const std::string_view prefix = this->prefix();
  const size_t shared = std::min(prefix.size(), path.size());
  if (prefix.compare(0, shared, path.substr(0, shared)) != 0) return true;
  if (path == "/" || prefix.size() <= path.size()) return false;
  return prefix[path.size()] != '/';
}

int compiled_wildcard::match(const scanned_path_t& path) const {
  if (!valid_ || (needs_ & ~path.signature()) != 0) return kNoMatch;
  const std::string_view text(path.text, path.length);
  if (!text.starts_with(prefix()) || !inners_occur(text)) return kNoMatch;
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
