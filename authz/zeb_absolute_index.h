// Finds the most specific absolute PBP covering a path without scanning the
// role's list: an open-addressing table of the absolute paths and of every
// directory above them, walked down the request path from the root until
// the path leaves the tree that the PBPs span.
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

  // The entry that svn_dirent_is_ancestor would find first in the sorted
  // list, or null when none covers the path.
  const pbp_item_t* find_covering(const scanned_path_t& path) const;

  // True when some entry lies strictly below the canonical path.
  bool has_entry_below(const char* path) const;

  // The lowest permission of the entries; commit when there is none.
  pbp_access_t lowest() const { return lowest_; }

 private:
  struct slot_t {
    const char* path;  // null: empty slot
    size_t length;
    uint64_t hash;
    const pbp_item_t* item;  // null: only a directory above entries
    bool has_below;          // some entry lies below this path
  };

  slot_t* probe(uint64_t hash, const char* path, size_t length) const;
  slot_t* insert(const char* path, size_t length);

  const apr_array_header_t* list_ = nullptr;
  int count_ = 0;
  slot_t* slots_ = nullptr;
  size_t mask_ = 0;
  size_t longest_ = 0;
  bool any_below_root_ = false;
  pbp_access_t lowest_ = PBP_COMMIT_ACCESS;
  const pbp_item_t* root_ = nullptr;
};

}  // namespace zeb

#endif
