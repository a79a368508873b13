// Leaves out of a retrieved answer the roles that hold no usable PBP: such a
// role grants nothing, whereas the engine would read it as restricting
// nothing. Kept free of httpd so it is tested alone.
#ifndef ROLE_SCREENING_H
#define ROLE_SCREENING_H

#include <apr_pools.h>
#include <apr_tables.h>

#include <functional>

#include "zeb_pbp_usability.h"

// Called once for every string that cannot be used, with its role's id
// (null for a role without one).
using unusable_pbp_report =
    std::function<void(const char* role_id, const char* pbp, zeb_pbp_verdict_t verdict)>;

// The roles (zeb_role_t*) of pbps_with_roles that hold at least one usable
// PBP, in their order, in an array made in pool.
apr_array_header_t* usable_roles(const apr_array_header_t* pbps_with_roles,
                                 const unusable_pbp_report& report, apr_pool_t* pool);

#endif
