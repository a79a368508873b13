#include "status_segment.h"

#include <atomic>
#include <cstring>
#include <type_traits>

namespace zeb::status {
namespace {

template <typename T>
T load(const T& value) {
  return std::atomic_ref<T>(const_cast<T&>(value)).load(std::memory_order_acquire);
}

// Adds every counter of from into to, field by field: the slot holds
// nothing but 64-bit integers.
void add_slot(slot& to, const slot& from) {
  static_assert(sizeof(slot) % sizeof(std::uint64_t) == 0);
  auto* sum = reinterpret_cast<std::uint64_t*>(&to);
  const auto* part = reinterpret_cast<const std::uint64_t*>(&from);
  for (std::size_t i = 0; i < sizeof(slot) / sizeof(std::uint64_t); ++i) {
    sum[i] += std::atomic_ref<std::uint64_t>(const_cast<std::uint64_t&>(part[i]))
                  .load(std::memory_order_relaxed);
  }
}

}  // namespace

void reset_segment(segment* seg, std::uint32_t slot_count, std::uint64_t now) {
  std::memset(static_cast<void*>(seg), 0, segment_bytes(slot_count));
  seg->slot_count = slot_count;
  seg->start_time = now;
}

void add_servers(segment* seg, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    const std::uint32_t count = load(seg->server_count);
    if (count >= kMaxServers || server_index(seg, name) >= 0) continue;
    const std::size_t length = std::min(name.size(), kServerNameSize - 1);
    std::memcpy(seg->servers[count], name.data(), length);
    seg->servers[count][length] = '\0';
    std::atomic_ref<std::uint32_t>(seg->server_count).store(count + 1, std::memory_order_release);
  }
}

int server_index(const segment* seg, std::string_view name) {
  const std::uint32_t count = load(seg->server_count);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (name == seg->servers[i]) return static_cast<int>(i);
  }
  return -1;
}

slot* claim_slot(segment* seg, pid_t self, bool (*is_alive)(pid_t)) {
  const auto me = static_cast<std::uint64_t>(self);
  slot* slots = seg->slots();
  for (std::uint32_t i = 0; i < seg->slot_count; ++i) {
    std::uint64_t expected = 0;
    if (std::atomic_ref<std::uint64_t>(slots[i].owner).compare_exchange_strong(expected, me)) {
      return &slots[i];
    }
  }
  for (std::uint32_t i = 0; i < seg->slot_count; ++i) {
    // A slot that names this process's pid was left by an earlier process.
    std::uint64_t owner = load(slots[i].owner);
    if (owner != me && is_alive(static_cast<pid_t>(owner))) continue;
    if (std::atomic_ref<std::uint64_t>(slots[i].owner).compare_exchange_strong(owner, me)) {
      // What the gone process held went with it.
      std::atomic_ref<std::int64_t>(slots[i].contexts).store(0, std::memory_order_relaxed);
      std::atomic_ref<std::int64_t>(slots[i].context_bytes).store(0, std::memory_order_relaxed);
      return &slots[i];
    }
  }
  return seg->slot_count == 0 ? nullptr : &slots[me % seg->slot_count];
}

slot sum_slots(const segment* seg) {
  slot total{};
  for (std::uint32_t i = 0; i < seg->slot_count; ++i) add_slot(total, seg->slots()[i]);
  total.owner = 0;
  for (std::uint32_t i = 0; i < seg->slot_count; ++i) {
    if (load(seg->slots()[i].owner) != 0) ++total.owner;
  }
  return total;
}

}  // namespace zeb::status
