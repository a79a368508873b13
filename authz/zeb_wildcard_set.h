// A role's wildcard PBPs laid out for decisions: what decides whether a
// wildcard is worth running sits in one compact array.
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
    pbp_access_t permission;
    const compiled_wildcard* wildcard;
  };

  // The set for a processed wildcard list whose items all carry their
  // compiled wildcard, or null when some item does not.
  static wildcard_set* build(const apr_array_header_t* list, apr_pool_t* pool);

  // True when this set was built for exactly this list.
  bool serves(const apr_array_header_t* list) const {
    return list == list_ && list->nelts == static_cast<int>(count_);
  }

  const entry_t* begin() const { return entries_; }
  const entry_t* end() const { return entries_ + count_; }

 private:
  const apr_array_header_t* list_ = nullptr;
  entry_t* entries_ = nullptr;
  size_t count_ = 0;
};

}  // namespace zeb

#endif
