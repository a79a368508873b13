// What a processed role holds in memory, for callers that keep roles within
// a budget.
#ifndef ZEB_FOOTPRINT_H
#define ZEB_FOOTPRINT_H

#include <cstddef>

#include "zeb_authorizer.h"

namespace zeb {

// Bytes of the role's lists, items, paths and lookup data (compiled code
// that has not been made yet counted at a typical size); the raw strings of
// a role not yet processed counted as they are. An estimate: pool
// bookkeeping and allocator rounding are left out.
size_t role_footprint(const role_processed_pbps_t& role);

}  // namespace zeb

#endif
