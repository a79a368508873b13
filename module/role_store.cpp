#include "role_store.h"

#include <apr_strings.h>

#include <cstring>

#include "zeb_authorizer.h"

namespace {

// Whether the engine reads any of the strings as a PBP; it skips those
// without an action prefix.
bool holds_a_pbp(const apr_array_header_t* strings) {
  for (int i = 0; i < strings->nelts; ++i) {
    if (std::strchr(APR_ARRAY_IDX(strings, i, const char*), ':') != nullptr) return true;
  }
  return false;
}

}  // namespace

void add_answer_role(const char* role_id, const char* const* pbps, int num_pbps,
                     apr_array_header_t* pbps_with_roles, serialize_ctx_t* value,
                     apr_pool_t* pool) {
  if (value != nullptr) serialize_update(role_id, pbps, num_pbps, value);
  populate_rolepathslist_pbps(role_id, pbps, num_pbps, pbps_with_roles, pool);
}

apr_array_header_t* make_role_store(const apr_array_header_t* pbps_with_roles,
                                    apr_pool_t* store_pool) {
  auto* store = apr_array_make(store_pool, pbps_with_roles->nelts, sizeof(role_processed_pbps_t*));
  for (int i = 0; i < pbps_with_roles->nelts; ++i) {
    const zeb_role_t* role = APR_ARRAY_IDX(pbps_with_roles, i, const zeb_role_t*);
    const apr_array_header_t* strings = role->repoPathAndPerm;
    // The engine reads a role without PBPs as unrestricted (global commit),
    // but an answer without permissions (an empty, absent or unreadable
    // list) grants nothing: such a role is left out of the store.
    if (!holds_a_pbp(strings)) continue;
    apr_pool_t* raw_pool = nullptr;
    apr_pool_create(&raw_pool, store_pool);
    auto** raw = static_cast<char**>(apr_pcalloc(raw_pool, sizeof(char*) * strings->nelts));
    for (int j = 0; j < strings->nelts; ++j) {
      raw[j] = apr_pstrdup(raw_pool, APR_ARRAY_IDX(strings, j, const char*));
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
