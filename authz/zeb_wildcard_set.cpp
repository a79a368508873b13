#include "zeb_wildcard_set.h"

#include <algorithm>
#include <new>

namespace zeb {

wildcard_set* wildcard_set::build(const apr_array_header_t* list,
                                  const std::vector<const compiled_wildcard*>& compiled,
                                  apr_pool_t* pool) {
  if (compiled.size() != static_cast<size_t>(list->nelts)) return nullptr;
  auto* set = new (apr_palloc(pool, sizeof(wildcard_set))) wildcard_set();
  set->list_ = list;
  set->count_ = static_cast<size_t>(list->nelts);
  set->entries_ = static_cast<entry_t*>(apr_palloc(pool, sizeof(entry_t) * (set->count_ + 1)));
  for (size_t i = 0; i < set->count_; ++i) {
    const pbp_item_t* item = APR_ARRAY_IDX(list, i, const pbp_item_t*);
    const compiled_wildcard* wildcard = compiled[i];
    if (item == nullptr || wildcard == nullptr || item->permission < PBP_NO_ACCESS ||
        item->permission > PBP_COMMIT_ACCESS) {
      return nullptr;
    }
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
  return set;
}

size_t wildcard_set::footprint() const {
  size_t bytes = sizeof(wildcard_set) + sizeof(entry_t) * (count_ + 1);
  for (size_t i = 0; i < count_; ++i) bytes += entries_[i].wildcard->footprint();
  return bytes;
}

}  // namespace zeb
