// What the request path calls where something happens. Each call adds to
// the slot of this process with a relaxed atomic; without a slot (outside
// httpd's children, or before one is claimed) it does nothing.
#ifndef STATUS_COUNTING_H
#define STATUS_COUNTING_H

#include <chrono>
#include <cstdint>
#include <string_view>

#include "status_layout.h"

namespace zeb::status {

// The segment and slot this process counts into; null: counting is off.
void use_slot(segment* seg, slot* own);

// Microseconds since it was made.
class stopwatch {
 public:
  std::uint64_t micros() const {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now() - start_)
                                          .count());
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace zeb::status

namespace zeb {

void count_service_call(status::operation op, bool answered, std::uint64_t micros);
void count_credentials(status::source from, bool accepted);
void count_role_load(status::source from, std::uint64_t micros);
// server: the label of the configured server ("host:port" or a socket path).
void count_memcached(std::string_view server, status::cache_result result);
void count_decision(bool granted);
void count_recursive_walk(std::uint64_t nodes);
// A context made (+1 and its bytes) or released (-1 and minus its bytes).
void count_context(int change, std::int64_t bytes);

}  // namespace zeb

#endif
