#include "role_screening.h"

#include "role_paths_record.h"

apr_array_header_t* usable_roles(const apr_array_header_t* pbps_with_roles,
                                 const unusable_pbp_report& report, apr_pool_t* pool) {
  auto* usable = apr_array_make(pool, pbps_with_roles->nelts, sizeof(zeb_role_t*));
  for (int i = 0; i < pbps_with_roles->nelts; ++i) {
    zeb_role_t* role = APR_ARRAY_IDX(pbps_with_roles, i, zeb_role_t*);
    const apr_array_header_t* strings = role->repoPathAndPerm;
    bool any_usable = false;
    for (int j = 0; strings != nullptr && j < strings->nelts; ++j) {
      const char* pbp = APR_ARRAY_IDX(strings, j, const char*);
      const zeb_pbp_verdict_t verdict = zeb_pbp_verdict(pbp, pool);
      if (verdict == ZEB_PBP_USABLE) {
        any_usable = true;
      } else {
        report(role->repoRoleId, pbp, verdict);
      }
    }
    if (any_usable) APR_ARRAY_PUSH(usable, zeb_role_t*) = role;
  }
  return usable;
}
