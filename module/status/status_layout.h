// The counters every httpd child adds to: one slot per process in a shared
// segment, summed when a page is asked for. Plain integers, updated with
// relaxed atomics, so that counting never waits on a lock.
#ifndef STATUS_LAYOUT_H
#define STATUS_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace zeb::status {

enum class operation { is_valid_user, get_role_paths_list, get_role_paths, branding_id };
inline constexpr int kOperations = 4;
inline constexpr const char* kOperationNames[kOperations] = {
    "isValidUser", "getRolePathsList", "getRolePaths", "getBrandingExternalSystemId"};

inline constexpr int kOutcomes = 2;  // answered, failed
inline constexpr const char* kOutcomeNames[kOutcomes] = {"answered", "failed"};

enum class source { connection, memcached, service };
inline constexpr int kSources = 3;
inline constexpr const char* kSourceNames[kSources] = {"connection", "memcached", "service"};

inline constexpr int kCredentialResults = 2;  // accepted, refused
inline constexpr const char* kCredentialResultNames[kCredentialResults] = {"accepted", "refused"};

enum class cache_result { hit, miss, error, skipped };
inline constexpr int kCacheResults = 4;
inline constexpr const char* kCacheResultNames[kCacheResults] = {"hit", "miss", "error", "skipped"};

inline constexpr int kDecisionResults = 2;  // granted, refused
inline constexpr const char* kDecisionResultNames[kDecisionResults] = {"granted", "refused"};

// A histogram's upper bounds, in microseconds and as printed.
struct bound {
  std::uint64_t micros;
  const char* text;
};
inline constexpr bound kCallBounds[] = {{5000, "0.005"}, {10000, "0.01"}, {25000, "0.025"},
                                        {50000, "0.05"}, {100000, "0.1"}, {250000, "0.25"},
                                        {500000, "0.5"}, {1000000, "1"},  {2500000, "2.5"},
                                        {5000000, "5"},  {10000000, "10"}};
inline constexpr bound kLoadBounds[] = {
    {1000, "0.001"}, {2500, "0.0025"}, {5000, "0.005"},  {10000, "0.01"}, {25000, "0.025"},
    {50000, "0.05"}, {100000, "0.1"},  {250000, "0.25"}, {500000, "0.5"}, {1000000, "1"}};
inline constexpr std::size_t kCallBuckets = std::size(kCallBounds);
inline constexpr std::size_t kLoadBuckets = std::size(kLoadBounds);

// Observations per bucket (not cumulative); the last bucket is +Inf.
template <std::size_t Bounds>
struct histogram {
  std::uint64_t buckets[Bounds + 1];
  std::uint64_t sum_micros;
};

// memcached servers are named once configured; later ones are not counted.
inline constexpr int kMaxServers = 32;
inline constexpr std::size_t kServerNameSize = 128;

struct slot {
  std::uint64_t owner;  // pid of the process that counts here; 0: never used
  std::uint64_t service_calls[kOperations][kOutcomes];
  histogram<kCallBuckets> service_time[kOperations];
  std::uint64_t credentials[kSources][kCredentialResults];
  std::uint64_t role_loads[kSources];
  histogram<kLoadBuckets> role_time[kSources];
  std::uint64_t memcached[kMaxServers][kCacheResults];
  std::uint64_t decisions[kDecisionResults];
  std::uint64_t recursive_walks;
  std::uint64_t recursive_walk_nodes;
  // Gauges: what the process holds now.
  std::int64_t contexts;
  std::int64_t context_bytes;
};

struct segment {
  std::uint64_t start_time;  // Unix seconds of the last zeroing
  std::uint32_t slot_count;
  std::uint32_t server_count;
  char servers[kMaxServers][kServerNameSize];
  slot* slots() { return reinterpret_cast<slot*>(this + 1); }
  const slot* slots() const { return reinterpret_cast<const slot*>(this + 1); }
};

inline constexpr std::size_t segment_bytes(std::uint32_t slot_count) {
  return sizeof(segment) + slot_count * sizeof(slot);
}

}  // namespace zeb::status

#endif
