#include "zeb_wildcard_set.h"

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
    if (item == nullptr || item->accel == nullptr || item->accel->wildcard == nullptr) {
      return nullptr;
    }
    const compiled_wildcard* wildcard = item->accel->wildcard;
    set->entries_[i] = {wildcard->needs(), wildcard->max_score(), item->permission, wildcard};
  }
  return set;
}

}  // namespace zeb
