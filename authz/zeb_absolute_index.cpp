#include "zeb_absolute_index.h"

#include <cstring>
#include <new>

namespace zeb {
namespace {

// Hashes a prefix from its length and its last 16 bytes: constant time per
// prefix, so probing every boundary of a path costs no pass per probe.
// Entries that share length and ending only lengthen a probe sequence.
uint64_t prefix_hash(const char* text, size_t length) {
  uint64_t tail[2] = {0, 0};
  const size_t taken = length < sizeof tail ? length : sizeof tail;
  std::memcpy(reinterpret_cast<char*>(tail) + (sizeof tail - taken), text + length - taken, taken);
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

absolute_index* absolute_index::build(const apr_array_header_t* list, apr_pool_t* pool) {
  size_t capacity = 8;
  while (capacity < static_cast<size_t>(list->nelts) * 2) capacity *= 2;

  auto* index = new (apr_palloc(pool, sizeof(absolute_index))) absolute_index();
  index->list_ = list;
  index->count_ = list->nelts;
  index->mask_ = capacity - 1;
  index->slots_ = static_cast<slot_t*>(apr_pcalloc(pool, capacity * sizeof(slot_t)));

  for (int i = 0; i < list->nelts; ++i) {
    const pbp_item_t* item = APR_ARRAY_IDX(list, i, const pbp_item_t*);
    if (item == nullptr || item->path == nullptr) return nullptr;
    // Relative entries never cover a path that begins with '/'.
    if (item->path[0] != '/') continue;
    if (!is_plain_absolute(item->path)) return nullptr;
    if (item->path[1] == '\0') {
      index->root_ = item;
      continue;
    }
    const size_t length = std::strlen(item->path);
    const uint64_t hash = prefix_hash(item->path, length);
    size_t at = hash & index->mask_;
    while (index->slots_[at].path != nullptr) {
      if (index->slots_[at].length == length &&
          std::memcmp(index->slots_[at].path, item->path, length) == 0) {
        return nullptr;  // processing merges paths, so a duplicate means foreign data
      }
      at = (at + 1) & index->mask_;
    }
    index->slots_[at] = {item->path, length, hash, item};
    if (length > index->longest_) index->longest_ = length;
    if (length < kLengthBits) index->lengths_[length / 64] |= uint64_t{1} << (length % 64);
  }
  return index;
}

const pbp_item_t* absolute_index::probe(uint64_t hash, const char* path, size_t length) const {
  for (size_t at = hash & mask_;; at = (at + 1) & mask_) {
    const slot_t& slot = slots_[at];
    if (slot.path == nullptr) return nullptr;
    if (slot.hash == hash && slot.length == length && std::memcmp(slot.path, path, length) == 0) {
      return slot.item;
    }
  }
}

// Probes the path's prefixes that end at a boundary, longest first: the first
// hit is the deepest covering entry.
const pbp_item_t* absolute_index::find_covering(const scanned_path_t& path) const {
  for (size_t k = path.boundary_count; k-- > 0;) {
    const size_t length = path.boundaries[k];
    if (length > longest_ || !may_have_length(length)) continue;
    if (const pbp_item_t* hit = probe(prefix_hash(path.text, length), path.text, length)) {
      return hit;
    }
  }
  return root_;
}

}  // namespace zeb
