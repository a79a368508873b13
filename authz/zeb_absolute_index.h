// Finds the most specific absolute PBP covering a path without scanning the
// role's list: an open-addressing table of the absolute paths, probed at
// every '/' boundary of the request path.
#ifndef ZEB_ABSOLUTE_INDEX_H
#define ZEB_ABSOLUTE_INDEX_H

#include <apr_pools.h>
#include <apr_tables.h>

#include <cstddef>
#include <cstdint>

#include "zeb_authorizer.h"
#include "zeb_scanned_path.h"

namespace zeb {

class absolute_index {
 public:
  // Indexes a processed absolute list (pbp_item_t*, canonical paths), or
  // returns null when some entry is not of the form the lookup relies on.
  static absolute_index* build(const apr_array_header_t* list, apr_pool_t* pool);

  // True when this index was built for exactly this list.
  bool serves(const apr_array_header_t* list) const {
    return list == list_ && list->nelts == count_;
  }

  // True when the boundaries kept for path include every one that an entry
  // can end at.
  bool can_search(const scanned_path_t& path) const {
    return path.boundaries_complete || path.boundaries[path.boundary_count - 1] >= longest_;
  }

  // The entry that svn_dirent_is_ancestor would find first in the sorted
  // list, or null when none covers the path. Only when can_search(path).
  const pbp_item_t* find_covering(const scanned_path_t& path) const;

 private:
  struct slot_t {
    const char* path;  // null: empty slot
    size_t length;
    uint64_t hash;
    const pbp_item_t* item;
  };

  const pbp_item_t* probe(uint64_t hash, const char* path, size_t length) const;
  // False only when no entry has this length.
  bool may_have_length(size_t length) const {
    return length >= kLengthBits || (lengths_[length / 64] >> (length % 64)) & 1;
  }

  static constexpr size_t kLengthBits = 256;

  const apr_array_header_t* list_ = nullptr;
  int count_ = 0;
  slot_t* slots_ = nullptr;
  size_t mask_ = 0;
  size_t longest_ = 0;
  uint64_t lengths_[kLengthBits / 64] = {};
  const pbp_item_t* root_ = nullptr;
};

}  // namespace zeb

#endif
