#include "role_set.h"

#include "exit_status.h"
#include "method_table.h"
#include "role_paths_record.h"
#include "role_screening.h"
#include "role_store.h"

namespace zebauthz {

apr_array_header_t* load_role_store(const std::vector<role_input>& roles, apr_pool_t* pool) {
  apr_array_header_t* answer =
      apr_array_make(pool, static_cast<int>(roles.size()), sizeof(zeb_role_t*));
  for (const auto& role : roles) {
    std::vector<const char*> pbps;
    for (const auto& pbp : role.pbps) pbps.push_back(pbp.c_str());
    populate_rolepathslist_pbps(role.id ? role.id->c_str() : nullptr, pbps.data(),
                                static_cast<int>(pbps.size()), answer, pool);
  }
  // As the module: a role without a usable PBP grants nothing, so it is left
  // out (lint names it and its strings).
  apr_array_header_t* store =
      make_role_store(usable_roles(
                          answer, [](const char*, const char*, zeb_pbp_verdict_t) {}, pool),
                      pool);
  for (int i = 0; i < store->nelts; ++i) {
    ensure_processed_pbps(APR_ARRAY_IDX(store, i, role_processed_pbps_t*), store->pool);
  }
  return store;
}

std::vector<role_input> roles_of_answer(const apr_array_header_t* pbps_with_roles) {
  std::vector<role_input> roles;
  for (int i = 0; i < pbps_with_roles->nelts; ++i) {
    const zeb_role_t* role = APR_ARRAY_IDX(pbps_with_roles, i, const zeb_role_t*);
    role_input input;
    if (role->repoRoleId != nullptr) input.id = role->repoRoleId;
    for (int j = 0; j < role->repoPathAndPerm->nelts; ++j) {
      input.pbps.emplace_back(APR_ARRAY_IDX(role->repoPathAndPerm, j, const char*));
    }
    roles.push_back(std::move(input));
  }
  return roles;
}

const char* access_name(pbp_access_t access) {
  return zeb_action_name(access);
}

pbp_access_t parse_action(const std::string& text) {
  for (const pbp_access_t access : {PBP_NO_ACCESS, PBP_VIEW_ACCESS, PBP_COMMIT_ACCESS}) {
    if (text == zeb_action_name(access)) return access;
  }
  throw failure(kExitUsage, "unknown action '" + text + "' (none, view or commit)");
}

}  // namespace zebauthz
