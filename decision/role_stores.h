// The role stores of a connection's user, one per repository that its
// requests reach: the store in use, and a few set aside while decisions
// are about another repository (a COPY or MOVE destination), so that a
// decision about one repository never uses another's roles.
#ifndef ZEB_ROLE_STORES_H
#define ZEB_ROLE_STORES_H

#include <apr_pools.h>
#include <apr_tables.h>

#include "decision_log.h"
#include "zeb_authorizer.h"

namespace zeb::decision {

// Where the user's roles in a repository come from: the module's role
// cache and the service behind it, or the tool's role input.
class role_source {
 public:
  virtual ~role_source() = default;
  // The roles of repos_name (role_processed_pbps_t*, in order), made or
  // held in store_pool, and their global access (PBP_UNKNOWN when not yet
  // worked out). 0, or the status of a failure, logged by the source.
  virtual int load(const char* repos_name, apr_pool_t* store_pool, apr_array_header_t** roles,
                   pbp_access_t* global_access) = 0;
};

// A store set aside: its repository, its pool and what was worked out.
struct parked_role_store {
  const char* repos_name;
  apr_pool_t* pool;
  apr_array_header_t* roles;
  pbp_access_t global_access;
  apr_uint64_t last_used;
};

inline constexpr int kParkedRoleStores = 3;

// Plain data in the connection's memory; the stores' pools hang from a pool
// of the owner, which forgets them by assigning role_stores{} when it clears
// that pool.
struct role_stores {
  const char* repos_name = nullptr;  // the repository of the store in use
  apr_pool_t* pool = nullptr;
  apr_array_header_t* roles = nullptr;  // null: no store in use
  // PBP_UNKNOWN until worked out for the roles in use.
  pbp_access_t global_access = PBP_UNKNOWN;
  parked_role_store parked[kParkedRoleStores] = {};
  apr_uint64_t clock = 0;
};

// Makes the store in use that of repos_name: kept, taken back from the
// parked ones, or loaded into a new child pool of parent. cached_repos names
// the connection's repository in the message about a different one. 0, or
// the source's status with no store in use.
int use_role_store(role_stores& stores, const char* repos_name, const char* cached_repos,
                   role_source& source, apr_pool_t* parent, decision_log& log, apr_pool_t* pool);

// The global access of the roles in use, raised role by role until it
// reaches commit; the roles after that stay unprocessed.
pbp_access_t global_access_of(role_stores& stores);

}  // namespace zeb::decision

#endif
