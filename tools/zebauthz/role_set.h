// The roles loaded into a role store the way the module loads a user's
// roles, so that the engine processes and decides them as it does there.
#ifndef ZEBAUTHZ_ROLE_SET_H
#define ZEBAUTHZ_ROLE_SET_H

#include <apr_pools.h>
#include <apr_tables.h>

#include <vector>

#include "roles_input.h"
#include "zeb_authorizer.h"

namespace zebauthz {

// A role store (role_processed_pbps_t*, in order, every role processed) in
// pool, without the roles that hold no usable PBP, as the module keeps it.
apr_array_header_t* load_role_store(const std::vector<role_input>& roles, apr_pool_t* pool);

// The roles of a retrieved answer (zeb_role_t*) as role_input.
std::vector<role_input> roles_of_answer(const apr_array_header_t* pbps_with_roles);

// "none", "view", "commit"; "unknown" outside them.
const char* access_name(pbp_access_t access);

// The action named by text; throws failure(kExitUsage) for another word.
pbp_access_t parse_action(const std::string& text);

}  // namespace zebauthz

#endif
