// What every fuzz target shares: APR set up once, a pool per input, and the
// input cut into lines.
#ifndef ZEB_FUZZ_SUPPORT_H
#define ZEB_FUZZ_SUPPORT_H

#include <apr_general.h>
#include <apr_pools.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace zeb::fuzz {

// A pool of its own for one input, destroyed with it.
class input_pool {
 public:
  input_pool() {
    static const bool initialised = apr_initialize() == APR_SUCCESS;
    if (!initialised || apr_pool_create(&pool_, nullptr) != APR_SUCCESS) std::abort();
  }
  ~input_pool() { apr_pool_destroy(pool_); }
  input_pool(const input_pool&) = delete;
  input_pool& operator=(const input_pool&) = delete;
  apr_pool_t* get() const { return pool_; }

 private:
  apr_pool_t* pool_ = nullptr;
};

inline std::string_view as_text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The '\n'-separated lines of text, at most limit of them. A NUL ends a
// line's C string, so each line is cut there.
inline std::vector<std::string> lines_of(std::string_view text, size_t limit) {
  std::vector<std::string> lines;
  while (!text.empty() && lines.size() < limit) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    lines.emplace_back(line.substr(0, line.find('\0')));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// A finding that no sanitizer reports: say what differs, then abort so that
// libFuzzer keeps the input.
[[noreturn]] inline void finding(const std::string& what) {
  std::fprintf(stderr, "FINDING: %s\n", what.c_str());
  std::abort();
}

}  // namespace zeb::fuzz

#endif
