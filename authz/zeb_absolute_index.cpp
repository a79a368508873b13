#include "zeb_absolute_index.h"

#include <cstring>
#include <new>
#include <vector>

namespace zeb {
namespace {

// Hashes a prefix from its length and up to 16 of its bytes, the last ones
// included: constant time per prefix. Prefixes that share length and ending
// only lengthen a probe sequence; the parent slot tells them apart.
uint64_t prefix_hash(const char* text, size_t length) {
  // Fixed-size loads only, overlapping on short prefixes.
  uint64_t tail[2] = {0, 0};
  if (length >= 16) {
    std::memcpy(&tail[0], text + length - 16, 8);
    std::memcpy(&tail[1], text + length - 8, 8);
  } else if (length >= 8) {
    std::memcpy(&tail[0], text, 8);
    std::memcpy(&tail[1], text + length - 8, 8);
  } else if (length >= 4) {
    std::memcpy(&tail[0], text, 4);
    std::memcpy(&tail[1], text + length - 4, 4);
  } else {
    for (size_t i = 0; i < length; ++i)
      tail[0] = tail[0] << 8 | static_cast<unsigned char>(text[i]);
  }
  uint64_t hash = (tail[0] * 0x9E3779B97F4A7C15ull) ^ (tail[1] * 0xC2B2AE3D27D4EB4Full) ^
                  (length * 0x165667B19E3779F9ull);
  hash ^= hash >> 31;
  hash *= 0xD6E8FEB86659FD93ull;
  return hash ^ (hash >> 32);
}

// Canonical absolute paths: "/" or '/'-separated non-empty components with no
// trailing '/'. For those, svn_dirent_is_ancestor(entry, path) holds exactly
// when path begins with entry followed by '/' or the end (or entry is "/"),
// and the deepest covering entry is the longest one.
bool is_plain_absolute(const char* path) {
  if (path[0] != '/') return false;
  if (path[1] == '\0') return true;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' && (p[1] == '/' || p[1] == '\0')) return false;
  }
  return true;
}

}  // namespace

uint32_t absolute_index::find(uint32_t parent, const char* text, size_t name, size_t end) const {
  size_t empty = 0;
  return probe(parent, text, name, end, prefix_hash(text, end), empty);
}

uint32_t absolute_index::probe(uint32_t parent, const char* text, size_t name, size_t end,
                               uint64_t hash, size_t& empty) const {
  const size_t name_length = end - name;
  for (size_t at = hash & mask_;; at = (at + 1) & mask_) {
    const slot_t& slot = slots_[at];
    if (slot.length == 0) {
      empty = at;
      return 0;
    }
    if (slot.hash != hash || slot.length != end || slot.parent != parent) continue;
    const bool same = name_length <= kInline
                          ? slot.name_length == name_length &&
                                std::memcmp(slot.name, text + name, name_length) == 0
                          : slot.name_length == 255 &&
                                std::memcmp(slot.path() + name, text + name, name_length) == 0;
    if (same) return static_cast<uint32_t>(at + 1);
  }
}

absolute_index::slot_t* absolute_index::make_slots(size_t capacity, apr_pool_t* pool) {
  const auto raw = reinterpret_cast<uintptr_t>(apr_pcalloc(pool, (capacity + 1) * sizeof(slot_t)));
  return reinterpret_cast<slot_t*>((raw + alignof(slot_t) - 1) & ~(alignof(slot_t) - 1));
}

void absolute_index::rehash(slot_t* to, size_t capacity) {
  const size_t old_capacity = mask_ + 1;
  slot_t* old = slots_;
  slots_ = to;
  mask_ = capacity - 1;
  std::vector<uint32_t> moved(old_capacity, 0);
  for (size_t i = 0; i < old_capacity; ++i) {
    if (old[i].length == 0) continue;
    size_t at = old[i].hash & mask_;
    while (slots_[at].length != 0) at = (at + 1) & mask_;
    slots_[at] = old[i];
    moved[i] = static_cast<uint32_t>(at + 1);
  }
  for (size_t i = 0; i <= mask_; ++i) {
    if (slots_[i].length != 0 && slots_[i].parent != 0) {
      slots_[i].parent = moved[slots_[i].parent - 1];
    }
  }
}

void absolute_index::grow() {
  std::vector<slot_t> bigger((mask_ + 1) * 2, slot_t{});
  rehash(bigger.data(), bigger.size());
  building_.swap(bigger);
}

uint32_t absolute_index::insert(uint32_t parent, const char* text, size_t name, size_t end) {
  const uint64_t hash = prefix_hash(text, end);
  size_t at = 0;
  if (const uint32_t found = probe(parent, text, name, end, hash, at)) return found;
  // At most half full, so that misses end soon.
  if ((used_ + 1) * 2 > mask_ + 1) {
    grow();
    // The parent moved with its slot; find it again by its own path.
    if (parent != 0) parent = find_path(text, name - 1);
    at = hash & mask_;
    while (slots_[at].length != 0) at = (at + 1) & mask_;
  }
  slot_t& slot = slots_[at];
  slot.hash = hash;
  slot.parent = parent;
  slot.length = static_cast<uint32_t>(end);
  slot.depth = 0;
  slot.permission = -1;
  slot.has_below = false;
  const size_t name_length = end - name;
  if (name_length <= kInline) {
    slot.name_length = static_cast<uint8_t>(name_length);
    std::memcpy(slot.name, text + name, name_length);
  } else {
    slot.name_length = 255;
    slot.set_path(text);
  }
  ++used_;
  return static_cast<uint32_t>(at + 1);
}

uint32_t absolute_index::find_path(const char* path, size_t length) const {
  uint32_t slot = 0;
  for (size_t name = 1; name < length;) {
    const char* slash = static_cast<const char*>(std::memchr(path + name, '/', length - name));
    const size_t end = slash != nullptr ? static_cast<size_t>(slash - path) : length;
    if (end == name) return 0;
    slot = find(slot, path, name, end);
    if (slot == 0) return 0;
    name = end + 1;
  }
  return slot;
}

absolute_index* absolute_index::build(const apr_array_header_t* list, apr_pool_t* pool) {
  auto* index = new (apr_palloc(pool, sizeof(absolute_index))) absolute_index();
  index->list_ = list;
  index->count_ = list->nelts;
  // Built in scratch memory, as the directories above the entries make it
  // grow, and moved into the pool at its final size: a role keeps no
  // outgrown tables.
  size_t capacity = 8;
  while (capacity < static_cast<size_t>(list->nelts) * 2) capacity *= 2;
  index->building_.assign(capacity, slot_t{});
  index->mask_ = capacity - 1;
  index->slots_ = index->building_.data();
  const bool filled = index->fill(list);
  if (!filled) {
    std::vector<slot_t>().swap(index->building_);
    return nullptr;
  }
  // At most half full, as while it was built: fuller, the walks that miss
  // grow long enough to double the time of a decision.
  size_t final_capacity = 8;
  while (final_capacity < (index->used_ + 1) * 2) final_capacity *= 2;
  index->rehash(make_slots(final_capacity, pool), final_capacity);
  std::vector<slot_t>().swap(index->building_);
  return index;
}

size_t absolute_index::footprint() const {
  return sizeof(absolute_index) + (mask_ + 2) * sizeof(slot_t);
}

bool absolute_index::fill(const apr_array_header_t* list) {
  for (int i = 0; i < list->nelts; ++i) {
    const pbp_item_t* item = APR_ARRAY_IDX(list, i, const pbp_item_t*);
    if (item == nullptr || item->path == nullptr) return false;
    if (item->permission < PBP_NO_ACCESS || item->permission > PBP_COMMIT_ACCESS) return false;
    if (item->permission < lowest_) lowest_ = item->permission;
    // Relative entries never cover a path that begins with '/'.
    const char* path = item->path;
    if (path[0] != '/') continue;
    if (!is_plain_absolute(path)) return false;
    if (path[1] == '\0') {
      root_ = {0, item->permission};
      continue;
    }
    any_below_root_ = true;
    const size_t length = std::strlen(path);
    if (length >= (size_t{1} << 31)) return false;
    uint32_t slot = 0;
    int depth = 0;
    for (size_t name = 1; name < length;) {
      const char* slash = static_cast<const char*>(std::memchr(path + name, '/', length - name));
      const size_t end = slash != nullptr ? static_cast<size_t>(slash - path) : length;
      slot = insert(slot, path, name, end);
      ++depth;
      if (end < length) slots_[slot - 1].has_below = true;
      name = end + 1;
    }
    if (depth > 127) return false;  // depths are kept in a byte
    slot_t& own = slots_[slot - 1];
    if (own.permission >= 0) return false;  // processing merges paths: foreign data
    own.permission = static_cast<int8_t>(item->permission);
    own.depth = static_cast<int8_t>(depth);
    if (length > longest_) longest_ = length;
  }
  return true;
}

// Walks the path's prefixes that end at a boundary, shortest first, while
// they are entries or directories above entries: the last entry met is the
// deepest covering one.
absolute_index::cover_t absolute_index::find_covering(const scanned_path_t& path) const {
  cover_t cover = root_;
  const char* text = path.text;
  const size_t length = path.length;
  uint32_t slot = 0;
  for (size_t name = 1; name < length;) {
    const char* slash = static_cast<const char*>(std::memchr(text + name, '/', length - name));
    const size_t end = slash != nullptr ? static_cast<size_t>(slash - text) : length;
    if (end > longest_) break;
    // An empty component ("//") ends every entry's reach: they hold none.
    if (end == name) break;
    slot = find(slot, text, name, end);
    if (slot == 0) break;
    const slot_t& hit = slots_[slot - 1];
    if (hit.permission >= 0) cover = {hit.depth, static_cast<pbp_access_t>(hit.permission)};
    if (!hit.has_below) break;
    name = end + 1;
  }
  return cover;
}

bool absolute_index::has_entry_below(const char* path) const {
  if (path[0] == '/' && path[1] == '\0') return any_below_root_;
  const uint32_t slot = find_path(path, std::strlen(path));
  return slot != 0 && slots_[slot - 1].has_below;
}

}  // namespace zeb
