#include "zeb_absolute_index.h"

#include <cstring>
#include <new>

namespace zeb {
namespace {

// Hashes a prefix from its length and up to 16 of its bytes, the last ones
// included: constant time per prefix, so probing every boundary of a path
// costs no pass per probe. Entries that share length and ending only
// lengthen a probe sequence.
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

absolute_index::slot_t* absolute_index::probe(uint64_t hash, const char* path,
                                              size_t length) const {
  for (size_t at = hash & mask_;; at = (at + 1) & mask_) {
    slot_t& slot = slots_[at];
    if (slot.path == nullptr) return nullptr;
    if (slot.hash == hash && slot.length == length && std::memcmp(slot.path, path, length) == 0) {
      return &slot;
    }
  }
}

// The slot of path, made empty of entry when new.
absolute_index::slot_t* absolute_index::insert(const char* path, size_t length) {
  const uint64_t hash = prefix_hash(path, length);
  size_t at = hash & mask_;
  for (; slots_[at].path != nullptr; at = (at + 1) & mask_) {
    slot_t& slot = slots_[at];
    if (slot.hash == hash && slot.length == length && std::memcmp(slot.path, path, length) == 0) {
      return &slot;
    }
  }
  slots_[at] = {path, length, hash, nullptr, false};
  return &slots_[at];
}

absolute_index* absolute_index::build(const apr_array_header_t* list, apr_pool_t* pool) {
  // Room for every entry and the directories above it, at most half full.
  size_t needed = 0;
  for (int i = 0; i < list->nelts; ++i) {
    const pbp_item_t* item = APR_ARRAY_IDX(list, i, const pbp_item_t*);
    if (item == nullptr || item->path == nullptr) return nullptr;
    for (const char* p = item->path; *p != '\0'; ++p) needed += *p == '/';
  }
  size_t capacity = 8;
  while (capacity < needed * 2) capacity *= 2;

  auto* index = new (apr_palloc(pool, sizeof(absolute_index))) absolute_index();
  index->list_ = list;
  index->count_ = list->nelts;
  index->mask_ = capacity - 1;
  index->slots_ = static_cast<slot_t*>(apr_pcalloc(pool, capacity * sizeof(slot_t)));

  for (int i = 0; i < list->nelts; ++i) {
    const pbp_item_t* item = APR_ARRAY_IDX(list, i, const pbp_item_t*);
    if (item->permission < index->lowest_) index->lowest_ = item->permission;
    // Relative entries never cover a path that begins with '/'.
    if (item->path[0] != '/') continue;
    if (!is_plain_absolute(item->path)) return nullptr;
    if (item->path[1] == '\0') {
      index->root_ = item;
      continue;
    }
    index->any_below_root_ = true;
    const size_t length = std::strlen(item->path);
    slot_t* slot = index->insert(item->path, length);
    if (slot->item != nullptr) return nullptr;  // processing merges paths: foreign data
    slot->item = item;
    for (size_t end = length; end-- > 1;) {
      if (item->path[end] != '/') continue;
      slot_t* above = index->insert(item->path, end);
      if (above->has_below) break;  // and so is everything above it
      above->has_below = true;
    }
    if (length > index->longest_) index->longest_ = length;
  }
  return index;
}

// Walks the path's prefixes that end at a boundary, shortest first, while
// they are entries or directories above entries: the last entry met is the
// deepest covering one.
const pbp_item_t* absolute_index::find_covering(const scanned_path_t& path) const {
  const pbp_item_t* cover = root_;
  const char* text = path.text;
  const char* end = text + path.length;
  for (const char* at = text + 1; at <= end;) {
    const char* slash = static_cast<const char*>(std::memchr(at, '/', end - at));
    const size_t length = (slash != nullptr ? slash : end) - text;
    if (length > longest_) break;
    // An empty component ("//", or a final '/') is no boundary of its own.
    if (length > static_cast<size_t>(at - text)) {
      const slot_t* slot = probe(prefix_hash(text, length), text, length);
      if (slot == nullptr) break;
      if (slot->item != nullptr) cover = slot->item;
      if (!slot->has_below) break;
    }
    if (slash == nullptr) break;
    at = slash + 1;
  }
  return cover;
}

bool absolute_index::has_entry_below(const char* path) const {
  if (path[0] == '/' && path[1] == '\0') return any_below_root_;
  const size_t length = std::strlen(path);
  const slot_t* slot = probe(prefix_hash(path, length), path, length);
  return slot != nullptr && slot->has_below;
}

}  // namespace zeb
