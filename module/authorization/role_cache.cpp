#include "role_cache.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "role_store.h"
#include "zeb_footprint.h"

namespace zeb {
namespace {

// Fields of any content joined into one key without ambiguity.
std::string flat_key(const role_set_key& key) {
  std::string flat;
  for (const std::string* field : {&key.service, &key.repository, &key.user, &key.digest}) {
    flat += std::to_string(field->size());
    flat += ':';
    flat += *field;
  }
  return flat;
}

}  // namespace

// 128 bits of xxHash: fast enough to run over a large value on every load,
// and the digest only tells apart values stored under one user's key, whose
// writer decides that user's roles anyway.
std::string role_record_digest(const char* value, size_t length) {
  XXH128_canonical_t digest;
  XXH128_canonicalFromHash(&digest, XXH3_128bits(value, length));
  return std::string(reinterpret_cast<const char*>(digest.digest), sizeof digest.digest);
}

std::shared_ptr<const role_set> role_set::make(const apr_array_header_t* retrieved,
                                               std::vector<std::string> notes) {
  // A pool with an allocator of its own: sets are made and released by any
  // thread, and a released set hands its memory back at once.
  apr_pool_t* pool = nullptr;
  if (apr_pool_create_unmanaged_ex(&pool, nullptr, nullptr) != APR_SUCCESS) return nullptr;
  // The raw strings are read where they were retrieved, as the set processes
  // every role at once: the set's allocator keeps none of their memory.
  apr_pool_t* raw = nullptr;
  if (apr_pool_create_unmanaged_ex(&raw, nullptr, nullptr) != APR_SUCCESS) {
    apr_pool_destroy(pool);
    return nullptr;
  }
  apr_array_header_t* roles = make_role_store(retrieved, pool, raw);
  auto* set = new role_set(pool, roles, std::move(notes));
  apr_pool_destroy(raw);
  return std::shared_ptr<const role_set>(set);
}

role_set::role_set(apr_pool_t* pool, apr_array_header_t* roles, std::vector<std::string> notes)
    : pool_(pool), roles_(roles), notes_(std::move(notes)) {
  // Every role, also after one that gives commit: no reader ever finds a
  // role still to be processed, which would write into a shared set.
  for (int i = 0; i < roles_->nelts; ++i) {
    auto* role = APR_ARRAY_IDX(roles_, i, role_processed_pbps_t*);
    ensure_processed_pbps(role, pool_);
    if (role->role_global_access > global_) global_ = role->role_global_access;
    footprint_ += role_footprint(*role);
  }
  footprint_ += sizeof(role_set);
}

role_set::~role_set() {
  apr_pool_destroy(pool_);
}

std::shared_ptr<const role_set> role_cache::obtain(const role_set_key& key, const maker& make,
                                                   bool* hit) {
  const std::string flat = flat_key(key);
  if (hit != nullptr) *hit = false;
  if (limit_ > 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto found = by_key_.find(flat); found != by_key_.end()) {
      recency_.splice(recency_.begin(), recency_, found->second);
      ++counts_.hits;
      if (hit != nullptr) *hit = true;
      return found->second->set;
    }
    ++counts_.misses;
  }
  // Made without the lock: other users' loads go on meanwhile.
  std::shared_ptr<const role_set> made = make();
  if (made == nullptr || limit_ == 0) return made;
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto found = by_key_.find(flat); found != by_key_.end()) {
    // Another thread made the same set first: keep one.
    recency_.splice(recency_.begin(), recency_, found->second);
    return found->second->set;
  }
  recency_.push_front(entry{flat, made});
  by_key_.emplace(flat, recency_.begin());
  counts_.bytes += made->footprint();
  evict_over_limit();
  return made;
}

void role_cache::evict_over_limit() {
  while (counts_.bytes > limit_ && !recency_.empty()) {
    counts_.bytes -= recency_.back().set->footprint();
    by_key_.erase(recency_.back().key);
    recency_.pop_back();
    ++counts_.evictions;
  }
}

role_cache::counts role_cache::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  counts current = counts_;
  current.sets = recency_.size();
  return current;
}

}  // namespace zeb
