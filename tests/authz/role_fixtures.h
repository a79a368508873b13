// Roles built the way the engine's callers build them, for the engine's tests
// and fuzz targets (no test framework needed).
#ifndef ZEB_ROLE_FIXTURES_H
#define ZEB_ROLE_FIXTURES_H

#include <apr_pools.h>

#include <string>
#include <vector>

#include "zeb_authorizer.h"

namespace zeb::test {

// A role processed by ensure_processed_pbps from raw strings that live in a
// child pool of pool, as the module and the binding do.
role_processed_pbps_t* processed_role(const std::vector<std::string>& raw_pbps, apr_pool_t* pool);

// A copy of a processed list with only path and permission set, as code
// outside the engine would make it.
apr_array_header_t* foreign_copy(const apr_array_header_t* list, apr_pool_t* pool);

// Paths of a pbp_item_t* list, in list order.
std::vector<std::string> paths_of(const apr_array_header_t* list);

}  // namespace zeb::test

#endif
