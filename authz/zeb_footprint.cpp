#include "zeb_footprint.h"

#include <cstring>

#include "zeb_absolute_index.h"
#include "zeb_accel.h"
#include "zeb_wildcard_set.h"

namespace zeb {
namespace {

size_t rounded(size_t bytes) {
  return (bytes + 7) & ~size_t{7};
}

size_t list_footprint(const apr_array_header_t* list) {
  if (list == nullptr) return 0;
  size_t bytes = sizeof(apr_array_header_t) + rounded(list->nalloc * sizeof(pbp_item_t*));
  for (int i = 0; i < list->nelts; ++i) {
    const pbp_item_t* item = APR_ARRAY_IDX(list, i, const pbp_item_t*);
    bytes += sizeof(pbp_item_t) + rounded(std::strlen(item->path) + 1);
  }
  if (list->nelts == 0) return bytes;
  const zeb_pbp_accel* accel = APR_ARRAY_IDX(list, 0, const pbp_item_t*)->accel;
  if (accel == nullptr) return bytes;
  bytes += sizeof(zeb_pbp_accel);
  if (accel->index != nullptr) bytes += accel->index->footprint();
  if (accel->wildcards != nullptr) bytes += accel->wildcards->footprint();
  return bytes;
}

}  // namespace

size_t role_footprint(const role_processed_pbps_t& role) {
  size_t bytes = sizeof(role_processed_pbps_t);
  if (role.role_id != nullptr) bytes += rounded(std::strlen(role.role_id) + 1);
  for (int i = 0; role.raw_pbps != nullptr && i < role.num_raw_pbps; ++i) {
    bytes += sizeof(char*) + rounded(std::strlen(role.raw_pbps[i]) + 1);
  }
  return bytes + list_footprint(role.sorted_absolute_pbps) +
         list_footprint(role.unsorted_wildcard_pbps);
}

}  // namespace zeb
