#include "zeb_authorizer.h"

#include <apr_strings.h>
#include <svn_dirent_uri.h>
#include <svn_path.h>
#include <svn_pools.h>

#include <cstring>
#include <functional>
#include <new>
#include <string_view>
#include <vector>

#include "zeb_absolute_index.h"
#include "zeb_accel.h"
#include "zeb_wildcard_set.h"

namespace {

// The absolute PBPs of one role by path: an open-addressing table sized for
// every raw string up front, so that it never grows, plus the entries in
// insertion order.
class absolute_table_t {
 public:
  explicit absolute_table_t(size_t most) {
    size_t capacity = 16;
    while (capacity < most * 2) capacity *= 2;
    slots_.resize(capacity);
    entries_.reserve(most);
  }

  // The entry for path, or where a new one for path goes.
  pbp_item_t** find(std::string_view path) {
    const size_t hash = std::hash<std::string_view>{}(path);
    for (size_t at = hash & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
      slot_t& slot = slots_[at];
      if (slot.item == nullptr) {
        slot.hash = hash;
        slot.length = path.size();
        return &slot.item;
      }
      if (slot.hash == hash && slot.length == path.size() &&
          std::memcmp(slot.item->path, path.data(), path.size()) == 0) {
        return &slot.item;
      }
    }
  }

  void add(pbp_item_t** where, pbp_item_t* item) {
    *where = item;
    entries_.push_back(item);
  }

  const std::vector<pbp_item_t*>& entries() const { return entries_; }

 private:
  struct slot_t {
    size_t hash = 0;
    size_t length = 0;
    pbp_item_t* item = nullptr;
  };
  std::vector<slot_t> slots_;
  std::vector<pbp_item_t*> entries_;
};

pbp_access_t lower_of(pbp_access_t a, pbp_access_t b) {
  return a < b ? a : b;
}

pbp_access_t permission_of(const char* raw) {
  if (std::strncmp(raw, "commit:", 7) == 0) return PBP_COMMIT_ACCESS;
  if (std::strncmp(raw, "view:", 5) == 0) return PBP_VIEW_ACCESS;
  return PBP_NO_ACCESS;
}

// The item and its path in one allocation: a large role makes thousands.
pbp_item_t* make_item(const char* path, size_t length, pbp_access_t permission, apr_pool_t* pool) {
  static_assert(sizeof(pbp_item_t) % alignof(pbp_item_t) == 0);
  auto* block = static_cast<char*>(apr_palloc(pool, sizeof(pbp_item_t) + length + 1));
  char* copy = block + sizeof(pbp_item_t);
  std::memcpy(copy, path, length);
  copy[length] = '\0';
  return new (block) pbp_item_t{copy, permission, nullptr};
}

// The lookup data of a list hangs from its first item.
zeb_pbp_accel* attach_accel(apr_array_header_t* list, apr_pool_t* pool) {
  if (list->nelts == 0) return nullptr;
  pbp_item_t* first = APR_ARRAY_IDX(list, 0, pbp_item_t*);
  auto* accel = static_cast<zeb_pbp_accel*>(apr_pcalloc(pool, sizeof(zeb_pbp_accel)));
  accel->owner = first;
  first->accel = accel;
  return accel;
}

// Inserts an absolute PBP, or merges it into the entry of the same path by
// keeping the lower permission.
void populate_absolute_pbps_hash(absolute_table_t& table, std::string_view path,
                                 pbp_access_t permission, apr_pool_t* pool) {
  pbp_item_t** found = table.find(path);
  if (*found != nullptr) {
    (*found)->permission = lower_of((*found)->permission, permission);
    return;
  }
  table.add(found, make_item(path.data(), path.size(), permission, pool));
}

// Whether svn_dirent_canonicalize would return path unchanged, for the
// common case of an absolute path: no empty component (a doubled or final
// '/') and no "." component. Anything else goes through Subversion.
bool is_canonical_absolute(const char* path) {
  if (path[0] != '/') return false;
  if (path[1] == '\0') return true;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p != '/') continue;
    if (p[1] == '/' || p[1] == '\0') return false;
    if (p[1] == '.' && (p[2] == '/' || p[2] == '\0')) return false;
  }
  return true;
}

// svn_path_component_count of a canonical path, without a library call per
// entry: its non-empty components.
apr_size_t component_count_of(const char* path) {
  apr_size_t count = 0;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p != '/' && (p == path || p[-1] == '/')) ++count;
  }
  return count;
}

// The absolute path a canonical PBP path stands for, when it has one: the path
// itself without stars, or the directory before a final "/**" that is the
// only star. "/foo**" and the like have none: they are wildcards that never
// match, rather than absolute PBPs on a path cut short.
bool absolute_path_of(const char* canonical, std::string_view& path) {
  const char* star = std::strchr(canonical, '*');
  if (star == nullptr) {
    path = canonical;
    return true;
  }
  if (star > canonical && star[-1] == '/' && star[1] == '*' && star[2] == '\0') {
    const size_t length = static_cast<size_t>(star - 1 - canonical);
    path = length == 0 ? std::string_view("/") : std::string_view(canonical, length);
    return true;
  }
  return false;
}

// Room for count more entries at once, so that a large role leaves no
// outgrown copies of its lists in the pool.
void reserve(apr_array_header_t* list, size_t count, apr_pool_t* pool) {
  const size_t wanted = static_cast<size_t>(list->nelts) + count;
  if (wanted <= static_cast<size_t>(list->nalloc)) return;
  auto* elts = static_cast<char*>(apr_palloc(pool, wanted * list->elt_size));
  if (list->nelts > 0) std::memcpy(elts, list->elts, list->nelts * list->elt_size);
  list->elts = elts;
  list->nalloc = static_cast<int>(wanted);
}

// Appends entries deepest path first, those of one depth in the order they
// came: a stable sort by depth, made by counting, as depths are few.
void append_deepest_first(const std::vector<pbp_item_t*>& entries, apr_array_header_t* list,
                          apr_pool_t* pool) {
  std::vector<apr_size_t> depths(entries.size());
  apr_size_t deepest = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    depths[i] = component_count_of(entries[i]->path);
    if (depths[i] > deepest) deepest = depths[i];
  }
  // starts[d]: where the first entry of depth d goes, deeper ones before it.
  std::vector<size_t> starts(deepest + 2, 0);
  for (const apr_size_t depth : depths) ++starts[deepest - depth + 1];
  for (size_t d = 1; d < starts.size(); ++d) starts[d] += starts[d - 1];
  reserve(list, entries.size(), pool);
  auto* sorted = reinterpret_cast<pbp_item_t**>(list->elts) + list->nelts;
  for (size_t i = 0; i < entries.size(); ++i) sorted[starts[deepest - depths[i]]++] = entries[i];
  list->nelts += static_cast<int>(entries.size());
}

void index_wildcard_list(apr_array_header_t* list, apr_pool_t* pool) {
  if (zeb_pbp_accel* accel = attach_accel(list, pool)) {
    accel->wildcards = zeb::wildcard_set::build(list, pool);
  }
}

void index_absolute_list(apr_array_header_t* list, apr_pool_t* pool) {
  if (zeb_pbp_accel* accel = attach_accel(list, pool)) {
    accel->index = zeb::absolute_index::build(list, pool);
  }
}

}  // namespace

extern "C" {

void populate_rolepaths_pbps(char** raw_pbps, int num_raw_pbps,
                             apr_array_header_t* sorted_absolute_pbps,
                             apr_array_header_t* unsorted_wildcard_pbps,
                             pbp_access_t* role_global_access, apr_pool_t* pool) {
  pbp_access_t global = PBP_COMMIT_ACCESS;
  absolute_table_t table(raw_pbps != nullptr && num_raw_pbps > 0 ? num_raw_pbps : 0);
  std::vector<pbp_item_t*> wildcard_items;
  apr_pool_t* scratch = svn_pool_create(pool);
  for (int i = 0; raw_pbps != nullptr && i < num_raw_pbps; ++i) {
    const char* raw = raw_pbps[i];
    const char* colon = raw != nullptr ? std::strchr(raw, ':') : nullptr;
    if (colon == nullptr) {
      // It applies nowhere, yet its author meant to restrict something: the
      // role's global access must not stay above none.
      global = PBP_NO_ACCESS;
      continue;
    }
    const char* canonical = colon + 1;
    if (!is_canonical_absolute(canonical)) {
      svn_pool_clear(scratch);
      canonical = svn_dirent_canonicalize(canonical, scratch);
    }
    const pbp_access_t permission = permission_of(raw);
    std::string_view absolute;
    if (absolute_path_of(canonical, absolute)) {
      populate_absolute_pbps_hash(table, absolute, permission, pool);
      continue;
    }
    pbp_item_t* item = make_item(canonical, std::strlen(canonical), permission, pool);
    wildcard_items.push_back(item);
    global = lower_of(global, permission);
  }
  svn_pool_destroy(scratch);

  for (const pbp_item_t* item : table.entries()) global = lower_of(global, item->permission);
  reserve(unsorted_wildcard_pbps, wildcard_items.size(), pool);
  for (pbp_item_t* item : wildcard_items)
    APR_ARRAY_PUSH(unsorted_wildcard_pbps, pbp_item_t*) = item;
  append_deepest_first(table.entries(), sorted_absolute_pbps, pool);
  index_absolute_list(sorted_absolute_pbps, pool);
  index_wildcard_list(unsorted_wildcard_pbps, pool);
  *role_global_access = global;
}

void ensure_processed_pbps(role_processed_pbps_t* role_processed_pbp, apr_pool_t* pool) {
  if (role_processed_pbp == nullptr || role_processed_pbp->raw_pbps == nullptr) return;
  role_processed_pbp->sorted_absolute_pbps = apr_array_make(pool, 16, sizeof(pbp_item_t*));
  role_processed_pbp->unsorted_wildcard_pbps = apr_array_make(pool, 16, sizeof(pbp_item_t*));
  populate_rolepaths_pbps(role_processed_pbp->raw_pbps, role_processed_pbp->num_raw_pbps,
                          role_processed_pbp->sorted_absolute_pbps,
                          role_processed_pbp->unsorted_wildcard_pbps,
                          &role_processed_pbp->role_global_access, pool);
  if (role_processed_pbp->raw_pbps_pool != nullptr) {
    apr_pool_destroy(role_processed_pbp->raw_pbps_pool);
  }
  role_processed_pbp->raw_pbps = nullptr;
  role_processed_pbp->raw_pbps_pool = nullptr;
}

pbp_access_t determine_global_access(apr_array_header_t* sorted_absolute_pbps,
                                     apr_array_header_t* unsorted_wildcard_pbps) {
  pbp_access_t global = PBP_COMMIT_ACCESS;
  for (const apr_array_header_t* list : {sorted_absolute_pbps, unsorted_wildcard_pbps}) {
    for (int i = 0; list != nullptr && i < list->nelts && global > PBP_NO_ACCESS; ++i) {
      global = lower_of(global, APR_ARRAY_IDX(list, i, const pbp_item_t*)->permission);
    }
  }
  return global;
}

}  // extern "C"
