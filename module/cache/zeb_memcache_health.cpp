#include "zeb_memcache_health.h"

#include <chrono>
#include <mutex>
#include <unordered_map>

namespace zeb_memcache {
namespace {

using clock = std::chrono::steady_clock;

struct health_table {
  std::mutex lock;
  std::unordered_map<std::string, clock::time_point> down_until;
};

// Never destroyed: handles may be released by pool clean-ups that run after
// static destructors at process exit.
health_table& table() {
  static auto* shared = new health_table;
  return *shared;
}

}  // namespace

void mark_down(const std::string& label, unsigned retry_seconds) {
  health_table& t = table();
  std::lock_guard guard(t.lock);
  t.down_until[label] = clock::now() + std::chrono::seconds(retry_seconds);
}

void mark_up(const std::string& label) {
  health_table& t = table();
  std::lock_guard guard(t.lock);
  t.down_until.erase(label);
}

bool is_down(const std::string& label) {
  health_table& t = table();
  std::lock_guard guard(t.lock);
  const auto found = t.down_until.find(label);
  if (found == t.down_until.end()) return false;
  if (clock::now() < found->second) return true;
  t.down_until.erase(found);
  return false;
}

}  // namespace zeb_memcache
