#include "zeb_wildcard_set.h"

#include <algorithm>
#include <new>

#include "zeb_accel.h"

namespace zeb {

wildcard_set* wildcard_set::build(const apr_array_header_t* list, apr_pool_t* pool) {
  auto* set = new (apr_palloc(pool, sizeof(wildcard_set))) wildcard_set();
  set->list_ = list;
  set->count_ = static_cast<size_t>(list->nelts);
  set->entries_ = static_cast<entry_t*>(apr_palloc(pool, sizeof(entry_t) * (set->count_ + 1)));
  for (size_t i = 0; i < set->count_; ++i) {
    const pbp_item_t* item = APR_ARRAY_IDX(list, i, const pbp_item_t*);
    if (item == nullptr || item->accel == nullptr || item->accel->wildcard == nullptr ||
        item->permission < PBP_NO_ACCESS || item->permission > PBP_COMMIT_ACCESS) {
      return nullptr;
    }
    const compiled_wildcard* wildcard = item->accel->wildcard;
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

}  // namespace zeb
