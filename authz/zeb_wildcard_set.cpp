#include "zeb_wildcard_set.h"

#include <algorithm>
#include <new>

namespace zeb {
namespace {

// The first wildcards of a role run as machine code: typical roles have
// fewer, and a role with thousands keeps a bounded share of it.
constexpr size_t kMachineCodedWildcards = 32;

}  // namespace

wildcard_set* wildcard_set::build(const apr_array_header_t* list, apr_pool_t* pool) {
  const size_t count = static_cast<size_t>(list->nelts);
  for (size_t i = 0; i < count; ++i) {
    const pbp_item_t* item = APR_ARRAY_IDX(list, i, const pbp_item_t*);
    if (item == nullptr || item->permission < PBP_NO_ACCESS ||
        item->permission > PBP_COMMIT_ACCESS) {
      return nullptr;
    }
  }
  auto* set = new (apr_palloc(pool, sizeof(wildcard_set))) wildcard_set();
  set->list_ = list;
  set->count_ = count;
  // One block and one clean-up for all of them: a role may hold thousands.
  set->wildcards_ =
      static_cast<compiled_wildcard*>(apr_palloc(pool, sizeof(compiled_wildcard) * (count + 1)));
  set->entries_ = static_cast<entry_t*>(apr_palloc(pool, sizeof(entry_t) * (count + 1)));
  for (size_t i = 0; i < count; ++i) {
    const pbp_item_t* item = APR_ARRAY_IDX(list, i, const pbp_item_t*);
    compiled_wildcard* wildcard = &set->wildcards_[i];
    compiled_wildcard::compile_at(wildcard, item->path, pool, i < kMachineCodedWildcards);
    set->entries_[i] = {wildcard->needs(), wildcard->max_score(), wildcard->min_depth(),
                        item->permission, wildcard};
    set->lowest_ = std::min(set->lowest_, item->permission);
  }
  // Only the best score counts, so the order of the wildcards does not.
  std::stable_sort(set->entries_, set->entries_ + set->count_,
                   [](const entry_t& a, const entry_t& b) {
                     return a.permission != b.permission ? a.permission < b.permission
                                                         : a.min_depth < b.min_depth;
                   });
  for (int permission = PBP_NO_ACCESS; permission <= PBP_COMMIT_ACCESS + 1; ++permission) {
    set->starts_[permission] = static_cast<size_t>(
        std::lower_bound(set->entries_, set->entries_ + set->count_, permission,
                         [](const entry_t& e, int p) { return e.permission < p; }) -
        set->entries_);
  }
  apr_pool_cleanup_register(pool, set, release, apr_pool_cleanup_null);
  return set;
}

apr_status_t wildcard_set::release(void* self) {
  const auto* set = static_cast<const wildcard_set*>(self);
  for (size_t i = 0; i < set->count_; ++i) set->wildcards_[i].release();
  return APR_SUCCESS;
}

size_t wildcard_set::footprint() const {
  size_t bytes = sizeof(wildcard_set) + sizeof(entry_t) * (count_ + 1);
  for (size_t i = 0; i < count_; ++i) bytes += entries_[i].wildcard->footprint();
  return bytes;
}

}  // namespace zeb
