#include "zeb_absolute_index.h"

#include <cstring>
#include <new>

namespace zeb {
namespace {

constexpr uint64_t kFnvOffset = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

uint64_t hash_step(uint64_t hash, char c) {
  return (hash ^ static_cast<unsigned char>(c)) * kFnvPrime;
}

uint64_t hash_of(const char* text, size_t length) {
  uint64_t hash = kFnvOffset;
  for (size_t i = 0; i < length; ++i) hash = hash_step(hash, text[i]);
  return hash;
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
    const uint64_t hash = hash_of(item->path, length);
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

const pbp_item_t* absolute_index::find_covering(const char* path) const {
  const pbp_item_t* best = root_;
  uint64_t hash = kFnvOffset;
  for (size_t i = 0;; ++i) {
    const char c = path[i];
    if (i > 0 && (c == '/' || c == '\0')) {
      if (const pbp_item_t* hit = probe(hash, path, i)) best = hit;
    }
    if (c == '\0' || i >= longest_) break;
    hash = hash_step(hash, c);
  }
  return best;
}

}  // namespace zeb
