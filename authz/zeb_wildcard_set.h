// A role's wildcard PBPs laid out for decisions: what decides whether a
// wildcard is worth running sits in one compact array, grouped by
// permission and ordered by the depth a path needs to match.
#ifndef ZEB_WILDCARD_SET_H
#define ZEB_WILDCARD_SET_H

#include <apr_pools.h>
#include <apr_tables.h>

#include <cstddef>
#include <cstdint>

#include "zeb_authorizer.h"
#include "zeb_compiled_wildcard.h"

namespace zeb {

class wildcard_set {
 public:
  struct entry_t {
    uint64_t needs;  // see compiled_wildcard::needs()
    int max_score;   // see compiled_wildcard::max_score()
    int min_depth;   // see compiled_wildcard::min_depth()
    pbp_access_t permission;
    const compiled_wildcard* wildcard;
  };

  // The set for a processed wildcard list, its items' patterns compiled
  // (the first few with machine code) and freed by one clean-up on pool;
  // null when an item is not of the form a set holds.
  static wildcard_set* build(const apr_array_header_t* list, apr_pool_t* pool);

  // True when this set was built for exactly this list.
  bool serves(const apr_array_header_t* list) const {
    return list == list_ && list->nelts == static_cast<int>(count_);
  }

  // The entries of one permission (none, view or commit), fewest components
  // needed first.
  const entry_t* begin(pbp_access_t permission) const { return entries_ + starts_[permission]; }
  const entry_t* end(pbp_access_t permission) const { return entries_ + starts_[permission + 1]; }

  // The lowest permission of the entries; commit when there is none.
  pbp_access_t lowest() const { return lowest_; }

  // Bytes the set and its wildcards hold, patterns left out.
  size_t footprint() const;

 private:
  static apr_status_t release(void* self);

  const apr_array_header_t* list_ = nullptr;
  compiled_wildcard* wildcards_ = nullptr;  // in list order
  entry_t* entries_ = nullptr;
  size_t count_ = 0;
  size_t starts_[PBP_COMMIT_ACCESS + 2] = {};
  pbp_access_t lowest_ = PBP_COMMIT_ACCESS;
};

}  // namespace zeb

#endif
