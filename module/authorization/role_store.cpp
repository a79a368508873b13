#include "role_store.h"

#include <apr_strings.h>

#include "zeb_authorizer.h"

void add_answer_role(const char* role_id, const char* const* pbps, int num_pbps,
                     apr_array_header_t* pbps_with_roles, serialize_ctx_t* value,
                     apr_pool_t* pool) {
  if (value != nullptr) serialize_update(role_id, pbps, num_pbps, value);
  populate_rolepathslist_pbps(role_id, pbps, num_pbps, pbps_with_roles, pool);
}

apr_array_header_t* make_role_store(const apr_array_header_t* pbps_with_roles,
                                    apr_pool_t* store_pool, apr_pool_t* raw_parent) {
  auto* store = apr_array_make(store_pool, pbps_with_roles->nelts, sizeof(role_processed_pbps_t*));
  for (int i = 0; i < pbps_with_roles->nelts; ++i) {
    const zeb_role_t* role = APR_ARRAY_IDX(pbps_with_roles, i, const zeb_role_t*);
    apr_pool_t* raw_pool = nullptr;
    apr_pool_create(&raw_pool, raw_parent != nullptr ? raw_parent : store_pool);
    const apr_array_header_t* strings = role->repoPathAndPerm;
    // Never null, even without strings: a null array marks a processed role.
    auto** raw = static_cast<char**>(
        apr_pcalloc(raw_pool, sizeof(char*) * (strings->nelts > 0 ? strings->nelts : 1)));
    for (int j = 0; j < strings->nelts; ++j) {
      const char* string = APR_ARRAY_IDX(strings, j, const char*);
      raw[j] = raw_parent != nullptr ? const_cast<char*>(string) : apr_pstrdup(raw_pool, string);
    }
    auto* processed =
        static_cast<role_processed_pbps_t*>(apr_pcalloc(store_pool, sizeof(role_processed_pbps_t)));
    processed->role_id = role->repoRoleId ? apr_pstrdup(store_pool, role->repoRoleId) : nullptr;
    processed->raw_pbps = raw;
    processed->num_raw_pbps = strings->nelts;
    processed->raw_pbps_pool = raw_pool;
    APR_ARRAY_PUSH(store, role_processed_pbps_t*) = processed;
  }
  return store;
}
