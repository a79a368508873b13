// Finds the most specific absolute PBP covering a path without scanning the
// role's list: an open-addressing table of the absolute paths and of every
// directory above them, walked down the request path from the root until
// the path leaves the tree that the PBPs span. Each slot holds what a
// decision needs (depth and permission) and enough of its path to check a
// hit against the parent slot already found, so a step costs one cache line.
#ifndef ZEB_ABSOLUTE_INDEX_H
#define ZEB_ABSOLUTE_INDEX_H

#include <apr_pools.h>
#include <apr_tables.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "zeb_authorizer.h"
#include "zeb_scanned_path.h"

namespace zeb {

class absolute_index {
 public:
  // The most specific entry covering a path: its depth and permission, or
  // depth -1 when none covers it.
  struct cover_t {
    int depth = -1;
    pbp_access_t permission = PBP_UNKNOWN;
  };

  // Indexes a processed absolute list (pbp_item_t*, canonical paths), or
  // returns null when some entry is not of the form the lookup relies on.
  static absolute_index* build(const apr_array_header_t* list, apr_pool_t* pool);

  // True when this index was built for exactly this list.
  bool serves(const apr_array_header_t* list) const {
    return list == list_ && list->nelts == count_;
  }

  // The entry that svn_dirent_is_ancestor would find first in the sorted
  // list.
  cover_t find_covering(const scanned_path_t& path) const;

  // True when some entry lies strictly below the canonical path.
  bool has_entry_below(const char* path) const;

  // The lowest permission of the entries; commit when there is none.
  pbp_access_t lowest() const { return lowest_; }

  // Bytes the index holds.
  size_t footprint() const;

 private:
  static constexpr size_t kInline = 12;

  // Two slots to a cache line: the name's bytes follow the small fields
  // directly, so a long name's path pointer is kept in them too.
  struct alignas(32) slot_t {
    uint64_t hash;
    uint32_t parent;  // slot index + 1 of the path without its last component; 0: the root
    uint32_t length;  // of the whole path; 0: an empty slot
    int8_t depth;
    int8_t permission;    // -1: only a directory above entries
    bool has_below;       // some entry lies below this path
    uint8_t name_length;  // of the last component; 255: longer, compared through path
    // The last component when it fits, else the whole path (owned by the
    // list's item) as a pointer.
    char name[kInline];

    const char* path() const {
      const char* path;
      std::memcpy(&path, name, sizeof path);
      return path;
    }
    void set_path(const char* path) { std::memcpy(name, &path, sizeof path); }
  };
  static_assert(sizeof(slot_t) == 32 && sizeof(const char*) <= kInline);

  // The slot of the prefix of text that ends at end and whose last
  // component begins at name, below the slot parent; 0 when there is none.
  uint32_t find(uint32_t parent, const char* text, size_t name, size_t end) const;
  // The same for a prefix of that hash; on a miss, empty is the free slot
  // where the probe ended, where the prefix would go.
  uint32_t probe(uint32_t parent, const char* text, size_t name, size_t end, uint64_t hash,
                 size_t& empty) const;
  // Finds or makes that slot (the path lives as long as the index).
  uint32_t insert(uint32_t parent, const char* text, size_t name, size_t end);
  // The slot of the canonical path [path, path + length), or 0.
  uint32_t find_path(const char* path, size_t length) const;
  // Adds the list's entries; false when one is not of the form the lookup
  // relies on.
  bool fill(const apr_array_header_t* list);
  // Moves every slot into to, of capacity slots, keeping every slot's parent.
  void rehash(slot_t* to, size_t capacity);
  // Doubles the scratch table.
  void grow();
  static slot_t* make_slots(size_t capacity, apr_pool_t* pool);

  const apr_array_header_t* list_ = nullptr;
  int count_ = 0;
  std::vector<slot_t> building_;  // the table while it is built
  slot_t* slots_ = nullptr;
  size_t mask_ = 0;
  size_t used_ = 0;
  size_t longest_ = 0;
  bool any_below_root_ = false;
  pbp_access_t lowest_ = PBP_COMMIT_ACCESS;
  cover_t root_;
};

}  // namespace zeb

#endif
