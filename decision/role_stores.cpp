#include "role_stores.h"

#include <apr_strings.h>

#include <cstring>

namespace zeb::decision {
namespace {

bool same_name(const char* a, const char* b) {
  return a == b || (a != nullptr && b != nullptr && std::strcmp(a, b) == 0);
}

// Sets the store in use aside, releasing the least recently used one that
// it displaces.
void park(role_stores& stores) {
  if (stores.roles == nullptr) return;
  parked_role_store* slot = &stores.parked[0];
  for (parked_role_store& candidate : stores.parked) {
    if (candidate.pool == nullptr) {
      slot = &candidate;
      break;
    }
    if (candidate.last_used < slot->last_used) slot = &candidate;
  }
  if (slot->pool != nullptr) apr_pool_destroy(slot->pool);
  *slot = parked_role_store{stores.repos_name, stores.pool, stores.roles, stores.global_access,
                            ++stores.clock};
  stores.roles = nullptr;
  stores.pool = nullptr;
  stores.repos_name = nullptr;
  stores.global_access = PBP_UNKNOWN;
}

bool unpark(role_stores& stores, const char* repos_name) {
  for (parked_role_store& parked : stores.parked) {
    if (parked.pool == nullptr || !same_name(parked.repos_name, repos_name)) continue;
    stores.repos_name = parked.repos_name;
    stores.pool = parked.pool;
    stores.roles = parked.roles;
    stores.global_access = parked.global_access;
    parked = parked_role_store{};
    return true;
  }
  return false;
}

}  // namespace

int use_role_store(role_stores& stores, const char* repos_name, const char* cached_repos,
                   role_source& source, apr_pool_t* parent, decision_log& log, apr_pool_t* pool) {
  if (stores.roles != nullptr && same_name(repos_name, stores.repos_name)) return 0;
  const char* named = stores.repos_name ? stores.repos_name : cached_repos;
  if (!same_name(repos_name, named)) {
    log_line(log, log_level::debug, pool,
             "Request repos name (%s) differs from repos name in connection cache (%s)", repos_name,
             named);
  }
  park(stores);
  if (unpark(stores, repos_name)) return 0;
  apr_pool_create(&stores.pool, parent);
  pbp_access_t global_access = PBP_UNKNOWN;
  apr_array_header_t* roles = nullptr;
  if (int rc = source.load(repos_name, stores.pool, &roles, &global_access); rc != 0) {
    apr_pool_destroy(stores.pool);
    stores.pool = nullptr;
    return rc;
  }
  stores.roles = roles;
  stores.global_access = global_access;
  stores.repos_name = repos_name ? apr_pstrdup(stores.pool, repos_name) : nullptr;
  return 0;
}

pbp_access_t global_access_of(role_stores& stores) {
  if (stores.global_access != PBP_UNKNOWN) return stores.global_access;
  for (int i = 0; i < stores.roles->nelts; ++i) {
    auto* role = APR_ARRAY_IDX(stores.roles, i, role_processed_pbps_t*);
    ensure_processed_pbps(role, stores.roles->pool);
    if (role->role_global_access > stores.global_access) {
      stores.global_access = role->role_global_access;
    }
    if (stores.global_access >= PBP_COMMIT_ACCESS) break;
  }
  return stores.global_access;
}

}  // namespace zeb::decision
