#include "status_counting.h"

#include <atomic>

#include "status_segment.h"

namespace zeb::status {
namespace {

segment* g_segment = nullptr;
slot* g_slot = nullptr;

template <typename T>
void add(T& counter, T amount) {
  std::atomic_ref<T>(counter).fetch_add(amount, std::memory_order_relaxed);
}

template <std::size_t N>
void observe(histogram<N>& h, const bound (&bounds)[N], std::uint64_t micros) {
  std::size_t i = 0;
  while (i < N && micros > bounds[i].micros) ++i;
  add<std::uint64_t>(h.buckets[i], 1);
  add(h.sum_micros, micros);
}

}  // namespace

void use_slot(segment* seg, slot* own) {
  g_segment = seg;
  g_slot = own;
}

}  // namespace zeb::status

namespace zeb {

using status::g_slot;

void count_service_call(status::operation op, bool answered, std::uint64_t micros) {
  if (g_slot == nullptr) return;
  const int i = static_cast<int>(op);
  status::add<std::uint64_t>(g_slot->service_calls[i][answered ? 0 : 1], 1);
  status::observe(g_slot->service_time[i], status::kCallBounds, micros);
}

void count_credentials(status::source from, bool accepted) {
  if (g_slot == nullptr) return;
  status::add<std::uint64_t>(g_slot->credentials[static_cast<int>(from)][accepted ? 0 : 1], 1);
}

void count_role_load(status::source from, std::uint64_t micros) {
  if (g_slot == nullptr) return;
  const int i = static_cast<int>(from);
  status::add<std::uint64_t>(g_slot->role_loads[i], 1);
  status::observe(g_slot->role_time[i], status::kLoadBounds, micros);
}

void count_memcached(std::string_view server, status::cache_result result) {
  if (g_slot == nullptr) return;
  const int i = status::server_index(status::g_segment, server);
  if (i >= 0) status::add<std::uint64_t>(g_slot->memcached[i][static_cast<int>(result)], 1);
}

void count_decision(bool granted) {
  if (g_slot == nullptr) return;
  status::add<std::uint64_t>(g_slot->decisions[granted ? 0 : 1], 1);
}

void count_recursive_walk(std::uint64_t nodes) {
  if (g_slot == nullptr) return;
  status::add<std::uint64_t>(g_slot->recursive_walks, 1);
  status::add(g_slot->recursive_walk_nodes, nodes);
}

void count_context(int change, std::int64_t bytes) {
  if (g_slot == nullptr) return;
  status::add<std::int64_t>(g_slot->contexts, change);
  status::add(g_slot->context_bytes, bytes);
}

}  // namespace zeb
