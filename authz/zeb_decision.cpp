// The node decision: the most specific absolute PBP covering the path against
// the best-scoring matching wildcards.
#include <svn_dirent_uri.h>

#include <algorithm>

#include "zeb_absolute_index.h"
#include "zeb_accel.h"
#include "zeb_authorizer.h"
#include "zeb_compiled_wildcard.h"
#include "zeb_explain.h"
#include "zeb_matcher.h"
#include "zeb_pattern.h"
#include "zeb_scanned_path.h"
#include "zeb_subtree.h"
#include "zeb_wildcard_set.h"

namespace {

struct absolute_scores_t {
  int grant = -1;
  int revoke = -1;
};

template <typename T>
const T* role_data(const apr_array_header_t* list, const T* zeb_pbp_accel::*member) {
  if (list->nelts == 0) return nullptr;
  const pbp_item_t* first = APR_ARRAY_IDX(list, 0, const pbp_item_t*);
  if (first == nullptr || first->accel == nullptr || first->accel->owner != first) return nullptr;
  const T* data = first->accel->*member;
  return data != nullptr && data->serves(list) ? data : nullptr;
}

absolute_scores_t scores_of(const pbp_item_t* cover, int depth, pbp_access_t required) {
  absolute_scores_t scores;
  if (cover != nullptr) (cover->permission >= required ? scores.grant : scores.revoke) = depth;
  return scores;
}

// Non-empty components, as svn_path_component_count counts them; that one
// asserts on non-canonical paths, which lists made elsewhere may hold.
int count_components(const char* path) {
  int count = 0;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p != '/' && (p == path || p[-1] == '/')) ++count;
  }
  return count;
}

// The first entry of the list, deepest first, that covers path.
const pbp_item_t* covering_entry(const apr_array_header_t* list, const char* path) {
  for (int i = 0; i < list->nelts; ++i) {
    const pbp_item_t* item = APR_ARRAY_IDX(list, i, const pbp_item_t*);
    if (item != nullptr && item->path != nullptr && svn_dirent_is_ancestor(item->path, path)) {
      return item;
    }
  }
  return nullptr;
}

absolute_scores_t scan_absolute(const apr_array_header_t* list, pbp_access_t required,
                                const char* path) {
  const pbp_item_t* cover = covering_entry(list, path);
  return cover != nullptr ? scores_of(cover, count_components(cover->path), required)
                          : absolute_scores_t{};
}

// The answer is yes exactly when
//   (WG > AR and WG > WR) or (AG >= WR and AG >= AR),
// with A/W the absolute and wildcard, G/R the grant and revoke scores. So
// each case asks only for the wildcards that can still change it.
// best(grants, floor, enough) must return the highest score among granting
// (or revoking) wildcards, where wildcards unable to score above floor may be
// left out, and the search may stop once the result reaches enough.
// The highest score a wildcard can reach on a path of depth ceiling, given
// its own bound (-1: none).
int highest_score(int max_score, int ceiling) {
  return max_score < 0 ? ceiling : std::min(max_score, ceiling);
}

// The score a wildcard run counts with. When the library gave up, the path
// may or may not match: a granting PBP is then left out, and a revoking one
// counts as matching at the highest score it could reach, so that a failure
// never grants.
int counted_score(int outcome, bool grants, int highest) {
  if (outcome != zeb::kMatchFailed) return outcome;
  return grants ? zeb::kNoMatch : highest;
}

template <typename Best>
int decide(const absolute_scores_t& absolute, int ceiling, const Best& best) {
  constexpr int kAll = 1 << 30;
  if (absolute.grant >= 0) {
    if (absolute.grant >= ceiling) return 1;
    const int revoke = best(false, absolute.grant, kAll);
    if (revoke <= absolute.grant) return 1;
    return best(true, revoke, revoke + 1) > revoke ? 1 : 0;
  }
  if (absolute.revoke >= 0) {
    if (absolute.revoke >= ceiling) return 0;
    const int grant = best(true, absolute.revoke, kAll);
    if (grant <= absolute.revoke) return 0;
    return best(false, grant - 1, grant) < grant ? 1 : 0;
  }
  const int revoke = best(false, -1, kAll);
  if (revoke < 0) return 1;
  return best(true, revoke, revoke + 1) > revoke ? 1 : 0;
}

// Roles processed here, on a path that begins with '/': no allocation, no
// list scan, and only the wildcards that can match and matter are run.
int decide_fast(const zeb::absolute_index* index, const zeb::wildcard_set* wildcards,
                pbp_access_t required, const char* path) {
  const zeb::scanned_path_t scanned(path);
  absolute_scores_t absolute;
  if (index != nullptr) {
    const zeb::absolute_index::cover_t cover = index->find_covering(scanned);
    if (cover.depth >= 0) {
      (cover.permission >= required ? absolute.grant : absolute.revoke) = cover.depth;
    }
  }
  // Without wildcards only the absolute scores count, whatever the depth.
  const int ceiling = wildcards != nullptr ? scanned.depth() : 1 << 30;
  auto best = [&](bool grants, int floor, int enough) {
    int best_score = -1;
    if (wildcards == nullptr) return best_score;
    const int most = std::min(enough, ceiling);
    for (int permission = PBP_NO_ACCESS; permission <= PBP_COMMIT_ACCESS; ++permission) {
      if ((permission >= required) != grants) continue;
      const auto* end = wildcards->end(static_cast<pbp_access_t>(permission));
      for (const auto* entry = wildcards->begin(static_cast<pbp_access_t>(permission));
           entry != end && entry->min_depth <= ceiling; ++entry) {
        if (best_score >= most) return best_score;
        const int bound = highest_score(entry->max_score, ceiling);
        if (bound <= floor || bound <= best_score || (entry->needs & ~scanned.signature()) != 0) {
          continue;
        }
        best_score =
            std::max(best_score, counted_score(entry->wildcard->match(scanned), grants, bound));
      }
    }
    return best_score;
  };
  return decide(absolute, ceiling, best);
}

struct wildcard_score_t {
  int score;    // the score counted, or zeb::kNoMatch
  bool failed;  // the library gave up and the score is assumed
};

// A wildcard's score on path by translating and running its pattern.
wildcard_score_t plain_wildcard_score(const char* pattern, const char* path, bool grants,
                                      int ceiling) {
  const int score = zeb::match_pattern(pattern, path);
  if (score != zeb::kMatchFailed) return {score, false};
  // As the precompiled wildcards do: a path without the pattern's literal
  // parts cannot match, whatever the library says.
  const zeb::literal_parts_t parts = zeb::literal_parts(pattern);
  if (!zeb::literals_occur(parts, path)) return {zeb::kNoMatch, false};
  const int counted = counted_score(score, grants, highest_score(parts.max_score, ceiling));
  return {counted, counted != zeb::kNoMatch};
}

// Lists made elsewhere, or relative paths: the plain algorithm, translating
// and compiling each wildcard again.
int decide_plain(const apr_array_header_t* absolute_list, const apr_array_header_t* wildcards,
                 pbp_access_t required, const char* path) {
  const absolute_scores_t absolute = scan_absolute(absolute_list, required, path);
  const int ceiling = component_count(path);
  auto best = [&](bool grants, int floor, int enough) {
    int best_score = -1;
    for (int i = 0; i < wildcards->nelts && best_score < enough; ++i) {
      const pbp_item_t* item = APR_ARRAY_IDX(wildcards, i, const pbp_item_t*);
      if (item == nullptr || (item->permission >= required) != grants) continue;
      const int score = plain_wildcard_score(item->path, path, grants, ceiling).score;
      if (score > floor) best_score = std::max(best_score, score);
    }
    return best_score;
  };
  return decide(absolute, ceiling, best);
}

}  // namespace

extern "C" int has_non_recursive_access(apr_array_header_t* sorted_absolute_pbps,
                                        apr_array_header_t* unsorted_wildcard_pbps,
                                        pbp_access_t required_access, const char* path,
                                        apr_pool_t* /*pool*/) {
  // Only processing makes the lists; without them nothing is known.
  if (path == nullptr || sorted_absolute_pbps == nullptr || unsorted_wildcard_pbps == nullptr) {
    return 0;
  }
  const zeb::absolute_index* index = role_data(sorted_absolute_pbps, &zeb_pbp_accel::index);
  const zeb::wildcard_set* wildcards = role_data(unsorted_wildcard_pbps, &zeb_pbp_accel::wildcards);
  const bool absolute_ready = index != nullptr || sorted_absolute_pbps->nelts == 0;
  const bool wildcards_ready = wildcards != nullptr || unsorted_wildcard_pbps->nelts == 0;
  if (path[0] == '/' && absolute_ready && wildcards_ready) {
    // Every PBP of the role grants what is required, so whatever applies
    // grants, and where nothing applies the role allows too.
    if (required_access <= (index != nullptr ? index->lowest() : PBP_COMMIT_ACCESS) &&
        required_access <= (wildcards != nullptr ? wildcards->lowest() : PBP_COMMIT_ACCESS)) {
      return 1;
    }
    return decide_fast(index, wildcards, required_access, path);
  }
  return decide_plain(sorted_absolute_pbps, unsorted_wildcard_pbps, required_access, path);
}

namespace zeb {

bool grants_subtree(const role_processed_pbps_t& role, pbp_access_t required, const char* path) {
  apr_array_header_t* absolute_list = role.sorted_absolute_pbps;
  apr_array_header_t* wildcard_list = role.unsorted_wildcard_pbps;
  if (path == nullptr || path[0] != '/' || absolute_list == nullptr || wildcard_list == nullptr) {
    return false;
  }
  const absolute_index* index = role_data(absolute_list, &zeb_pbp_accel::index);
  const wildcard_set* wildcards = role_data(wildcard_list, &zeb_pbp_accel::wildcards);
  if ((index == nullptr && absolute_list->nelts != 0) ||
      (wildcards == nullptr && wildcard_list->nelts != 0)) {
    return false;
  }
  const pbp_access_t lowest =
      std::min(index != nullptr ? index->lowest() : PBP_COMMIT_ACCESS,
               wildcards != nullptr ? wildcards->lowest() : PBP_COMMIT_ACCESS);
  if (required <= lowest) return true;
  if (index != nullptr && index->has_entry_below(path)) return false;
  if (!has_non_recursive_access(absolute_list, wildcard_list, required, path, nullptr)) {
    return false;
  }
  // Below the path the covering absolute PBP stays the same; what may still
  // change are the wildcards that do not settle here.
  const scanned_path_t scanned(path);
  const std::string_view text(scanned.text, scanned.length);
  bool grants_unsettled = false;
  int revoke = -1;
  for (int permission = PBP_NO_ACCESS; wildcards != nullptr && permission <= PBP_COMMIT_ACCESS;
       ++permission) {
    const bool grants = permission >= required;
    const auto* end = wildcards->end(static_cast<pbp_access_t>(permission));
    for (const auto* entry = wildcards->begin(static_cast<pbp_access_t>(permission)); entry != end;
         ++entry) {
      if (!entry->wildcard->settled_below(text, scanned.depth())) {
        if (!grants) return false;
        grants_unsettled = true;
      } else if (!grants) {
        const int outcome = entry->wildcard->match(scanned);
        if (outcome == kMatchFailed) return false;
        revoke = std::max(revoke, outcome);
      }
    }
  }
  // Every wildcard answers below as it does here: so does the role.
  if (!grants_unsettled) return true;
  // Granting wildcards may change below, revoking ones may not: the paths
  // below stay allowed where no absolute PBP covers the path and no revoking
  // wildcard matches, or where the covering one grants at least as deep as
  // the revoking wildcards reach here.
  const absolute_index::cover_t cover =
      index != nullptr ? index->find_covering(scanned) : absolute_index::cover_t{};
  if (cover.depth < 0) return revoke < 0;
  return cover.permission >= required && cover.depth >= revoke;
}

}  // namespace zeb

extern "C" void zeb_explain_access(zeb_explanation_t* explanation,
                                   const apr_array_header_t* sorted_absolute_pbps,
                                   const apr_array_header_t* unsorted_wildcard_pbps,
                                   pbp_access_t required_access, const char* path,
                                   apr_pool_t* pool) {
  zeb_explanation_t& out = *explanation;
  out = zeb_explanation_t{};
  out.wildcards = apr_array_make(pool, 4, sizeof(zeb_wildcard_match_t));
  out.absolute_grant = out.absolute_revoke = out.wildcard_grant = out.wildcard_revoke = -1;
  if (path == nullptr || sorted_absolute_pbps == nullptr || unsorted_wildcard_pbps == nullptr) {
    return;
  }
  out.absolute = covering_entry(sorted_absolute_pbps, path);
  const absolute_scores_t absolute =
      out.absolute != nullptr
          ? scores_of(out.absolute, count_components(out.absolute->path), required_access)
          : absolute_scores_t{};
  out.absolute_depth = out.absolute != nullptr ? count_components(out.absolute->path) : -1;
  out.absolute_grant = absolute.grant;
  out.absolute_revoke = absolute.revoke;

  const int ceiling = component_count(path);
  for (int i = 0; i < unsorted_wildcard_pbps->nelts; ++i) {
    const pbp_item_t* item = APR_ARRAY_IDX(unsorted_wildcard_pbps, i, const pbp_item_t*);
    if (item == nullptr) continue;
    const bool grants = item->permission >= required_access;
    const wildcard_score_t score = plain_wildcard_score(item->path, path, grants, ceiling);
    if (score.score < 0) continue;
    APR_ARRAY_PUSH(out.wildcards, zeb_wildcard_match_t) = {item, score.score, grants ? 1 : 0,
                                                           score.failed ? 1 : 0};
    int& best = grants ? out.wildcard_grant : out.wildcard_revoke;
    best = std::max(best, score.score);
  }
  // The decision's own weighing, given every score at once.
  out.granted = decide(absolute, ceiling, [&](bool grants, int, int) {
    return grants ? out.wildcard_grant : out.wildcard_revoke;
  });
}
