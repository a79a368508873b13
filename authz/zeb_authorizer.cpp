#include "zeb_authorizer.h"

#include <apr_strings.h>
#include <svn_dirent_uri.h>
#include <svn_path.h>
#include <svn_pools.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "zeb_absolute_index.h"
#include "zeb_accel.h"
#include "zeb_compiled_wildcard.h"
#include "zeb_matcher.h"

namespace {

using absolute_table_t = std::unordered_map<std::string_view, pbp_item_t*>;

pbp_access_t lower_of(pbp_access_t a, pbp_access_t b) {
  return a < b ? a : b;
}

pbp_access_t permission_of(const char* raw) {
  if (std::strncmp(raw, "commit:", 7) == 0) return PBP_COMMIT_ACCESS;
  if (std::strncmp(raw, "view:", 5) == 0) return PBP_VIEW_ACCESS;
  return PBP_NO_ACCESS;
}

pbp_item_t* make_item(const char* path, size_t length, pbp_access_t permission, apr_pool_t* pool) {
  auto* item = static_cast<pbp_item_t*>(apr_pcalloc(pool, sizeof(pbp_item_t)));
  item->path = apr_pstrmemdup(pool, path, length);
  item->permission = permission;
  return item;
}

zeb_pbp_accel* attach_accel(pbp_item_t* item, apr_pool_t* pool) {
  auto* accel = static_cast<zeb_pbp_accel*>(apr_pcalloc(pool, sizeof(zeb_pbp_accel)));
  accel->owner = item;
  item->accel = accel;
  return accel;
}

// Inserts an absolute PBP, or merges it into the entry of the same path by
// keeping the lower permission.
void populate_absolute_pbps_hash(absolute_table_t& table, std::string_view path,
                                 pbp_access_t permission, apr_pool_t* pool) {
  const auto found = table.find(path);
  if (found != table.end()) {
    found->second->permission = lower_of(found->second->permission, permission);
    return;
  }
  pbp_item_t* item = make_item(path.data(), path.size(), permission, pool);
  table.emplace(std::string_view(item->path, path.size()), item);
}

// Deepest path first; equal depths compare equal.
int comparison_func(const void* a, const void* b) {
  const auto* left = *static_cast<const pbp_item_t* const*>(a);
  const auto* right = *static_cast<const pbp_item_t* const*>(b);
  const apr_size_t left_depth = svn_path_component_count(left->path);
  const apr_size_t right_depth = svn_path_component_count(right->path);
  if (left_depth == right_depth) return 0;
  return left_depth > right_depth ? -1 : 1;
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

void index_absolute_list(apr_array_header_t* list, apr_pool_t* pool) {
  const zeb::absolute_index* index = zeb::absolute_index::build(list, pool);
  for (int i = 0; i < list->nelts; ++i) {
    pbp_item_t* item = APR_ARRAY_IDX(list, i, pbp_item_t*);
    zeb_pbp_accel* accel = attach_accel(item, pool);
    accel->index = index;
    accel->depth = static_cast<int>(svn_path_component_count(item->path));
  }
}

// A scratch pool made on first use and destroyed with the decision.
class scratch_pool_t {
 public:
  explicit scratch_pool_t(apr_pool_t* parent) : parent_(parent) {}
  scratch_pool_t(const scratch_pool_t&) = delete;
  scratch_pool_t& operator=(const scratch_pool_t&) = delete;
  ~scratch_pool_t() {
    if (pool_ != nullptr) svn_pool_destroy(pool_);
  }
  apr_pool_t* cleared() {
    if (pool_ == nullptr) {
      pool_ = svn_pool_create(parent_);
    } else {
      svn_pool_clear(pool_);
    }
    return pool_;
  }

 private:
  apr_pool_t* parent_;
  apr_pool_t* pool_ = nullptr;
};

const zeb::compiled_wildcard* compiled_of(const pbp_item_t* item) {
  const zeb_pbp_accel* accel = item->accel;
  return accel != nullptr && accel->owner == item ? accel->wildcard : nullptr;
}

// The score a wildcard item gives path, -1 when it does not match.
int wildcard_score(const pbp_item_t* item, const char* path, size_t path_length,
                   scratch_pool_t& scratch) {
  if (const zeb::compiled_wildcard* wildcard = compiled_of(item)) {
    return wildcard->match(path, path_length);
  }
  int matched = 0;
  int score = 0;
  if (zeb_matcher_match(&matched, &score, item->path, path, scratch.cleared()) != APR_SUCCESS ||
      !matched) {
    return -1;
  }
  return score;
}

struct decision_t {
  const apr_array_header_t* wildcards;
  pbp_access_t required;
  const char* path;
  size_t path_length;
  int ceiling;  // no wildcard scores more than the path is deep
  scratch_pool_t& scratch;

  int bound_of(const pbp_item_t* item) const {
    const zeb::compiled_wildcard* wildcard = compiled_of(item);
    if (wildcard == nullptr || wildcard->max_score() < 0) return ceiling;
    return std::min(wildcard->max_score(), ceiling);
  }

  // The highest score among the wildcards that grant (or revoke) the required
  // access, or -1 when none matches. Wildcards that cannot score above floor
  // are passed over, so a result at or below floor only says "not above
  // floor"; the search ends once the result reaches enough.
  int best_score(bool grants, int floor, int enough) const {
    int best = -1;
    if (wildcards == nullptr) return best;
    for (int i = 0; i < wildcards->nelts && best < enough && best < ceiling; ++i) {
      const pbp_item_t* item = APR_ARRAY_IDX(wildcards, i, const pbp_item_t*);
      if (item == nullptr || (item->permission >= required) != grants) continue;
      const int bound = bound_of(item);
      if (bound <= floor || bound <= best) continue;
      best = std::max(best, wildcard_score(item, path, path_length, scratch));
    }
    return best;
  }
};

struct absolute_scores_t {
  int grant = -1;
  int revoke = -1;
};

const zeb::absolute_index* index_of(const apr_array_header_t* list) {
  const pbp_item_t* first = APR_ARRAY_IDX(list, 0, const pbp_item_t*);
  if (first == nullptr || first->accel == nullptr || first->accel->owner != first) return nullptr;
  const zeb::absolute_index* index = first->accel->index;
  return index != nullptr && index->serves(list) ? index : nullptr;
}

absolute_scores_t absolute_rule(const apr_array_header_t* list, pbp_access_t required,
                                const char* path) {
  absolute_scores_t scores;
  if (list == nullptr || list->nelts == 0) return scores;
  const pbp_item_t* cover = nullptr;
  int depth = -1;
  const zeb::absolute_index* index = path[0] == '/' ? index_of(list) : nullptr;
  if (index != nullptr) {
    cover = index->find_covering(path);
    if (cover != nullptr) depth = cover->accel->depth;
  } else {
    for (int i = 0; i < list->nelts && cover == nullptr; ++i) {
      const pbp_item_t* item = APR_ARRAY_IDX(list, i, const pbp_item_t*);
      if (item != nullptr && item->path != nullptr && svn_dirent_is_ancestor(item->path, path)) {
        cover = item;
        depth = static_cast<int>(svn_path_component_count(item->path));
      }
    }
  }
  if (cover == nullptr) return scores;
  (cover->permission >= required ? scores.grant : scores.revoke) = depth;
  return scores;
}

}  // namespace

extern "C" {

void populate_rolepaths_pbps(char** raw_pbps, int num_raw_pbps,
                             apr_array_header_t* sorted_absolute_pbps,
                             apr_array_header_t* unsorted_wildcard_pbps,
                             pbp_access_t* role_global_access, apr_pool_t* pool) {
  pbp_access_t global = PBP_COMMIT_ACCESS;
  absolute_table_t table;
  apr_pool_t* scratch = svn_pool_create(pool);
  for (int i = 0; raw_pbps != nullptr && i < num_raw_pbps; ++i) {
    const char* raw = raw_pbps[i];
    const char* colon = raw != nullptr ? std::strchr(raw, ':') : nullptr;
    if (colon == nullptr) continue;
    svn_pool_clear(scratch);
    const char* canonical = svn_dirent_canonicalize(colon + 1, scratch);
    const pbp_access_t permission = permission_of(raw);
    std::string_view absolute;
    if (absolute_path_of(canonical, absolute)) {
      populate_absolute_pbps_hash(table, absolute, permission, pool);
      continue;
    }
    pbp_item_t* item = make_item(canonical, std::strlen(canonical), permission, pool);
    attach_accel(item, pool)->wildcard = zeb::compiled_wildcard::compile(item->path, pool);
    APR_ARRAY_PUSH(unsorted_wildcard_pbps, pbp_item_t*) = item;
    global = lower_of(global, permission);
  }
  svn_pool_destroy(scratch);

  for (const auto& entry : table) {
    APR_ARRAY_PUSH(sorted_absolute_pbps, pbp_item_t*) = entry.second;
    global = lower_of(global, entry.second->permission);
  }
  std::qsort(sorted_absolute_pbps->elts, sorted_absolute_pbps->nelts, sizeof(pbp_item_t*),
             comparison_func);
  index_absolute_list(sorted_absolute_pbps, pool);
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

int has_non_recursive_access(apr_array_header_t* sorted_absolute_pbps,
                             apr_array_header_t* unsorted_wildcard_pbps,
                             pbp_access_t required_access, const char* path, apr_pool_t* pool) {
  if (path == nullptr) return 0;
  const absolute_scores_t absolute = absolute_rule(sorted_absolute_pbps, required_access, path);

  scratch_pool_t scratch(pool);
  const size_t path_length = std::strlen(path);
  const decision_t wildcards{unsorted_wildcard_pbps, required_access, path, path_length,
                             component_count(path),  scratch};
  constexpr int kAll = 1 << 30;
  // The answer is yes exactly when
  //   (WG > AR and WG > WR) or (AG >= WR and AG >= AR),
  // so each case evaluates only the wildcards that can still change it.
  if (absolute.grant >= 0) {
    if (absolute.grant >= wildcards.ceiling) return 1;
    const int revoke = wildcards.best_score(false, absolute.grant, kAll);
    if (revoke <= absolute.grant) return 1;
    return wildcards.best_score(true, revoke, revoke + 1) > revoke ? 1 : 0;
  }
  if (absolute.revoke >= 0) {
    if (absolute.revoke >= wildcards.ceiling) return 0;
    const int grant = wildcards.best_score(true, absolute.revoke, kAll);
    if (grant <= absolute.revoke) return 0;
    return wildcards.best_score(false, grant - 1, grant) < grant ? 1 : 0;
  }
  const int revoke = wildcards.best_score(false, -1, kAll);
  if (revoke < 0) return 1;
  return wildcards.best_score(true, revoke, revoke + 1) > revoke ? 1 : 0;
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
