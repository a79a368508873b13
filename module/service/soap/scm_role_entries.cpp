#include "scm_role_entries.h"

#include <apr_strings.h>

#include <span>

namespace {

using StringArray = ScmListenerServiceNS2ArrayOf_USCORExsd_USCOREstring;
using RoleArray = ScmListenerServiceNS2RolePathsListDOArray;

// Decoded arrays are trusted no further than their pointer and a positive size.
template <typename T>
std::span<T* const> items(T* const* ptr, int size) {
  if (ptr == nullptr || size <= 0) return {};
  return {ptr, static_cast<std::size_t>(size)};
}

scm_role_entry_t make_role(const char* role_id, const StringArray* paths, apr_pool_t* pool) {
  scm_role_entry_t role{role_id ? apr_pstrdup(pool, role_id) : nullptr, 0, nullptr};
  if (paths == nullptr) return role;
  const auto strings = items(paths->__ptr, paths->__size);
  role.pbps = static_cast<const char**>(apr_pcalloc(pool, sizeof(char*) * strings.size()));
  for (const char* pbp : strings)
    if (pbp != nullptr) role.pbps[role.num_pbps++] = apr_pstrdup(pool, pbp);
  return role;
}

}  // namespace

apr_array_header_t* scm_roles_from_role_paths_list(
    const ScmListenerServiceNS__getRolePathsListResponse* response, apr_pool_t* pool) {
  const RoleArray* list = response ? response->_getRolePathsListReturn : nullptr;
  const auto entries = list ? items(list->__ptr, list->__size)
                            : std::span<ScmListenerServiceNS2__RolePathsListDO* const>{};
  auto* roles = apr_array_make(pool, static_cast<int>(entries.size()), sizeof(scm_role_entry_t));
  for (const auto* entry : entries)
    if (entry != nullptr)
      APR_ARRAY_PUSH(roles, scm_role_entry_t) =
          make_role(entry->repoRoleId, entry->repoPathAndPerm, pool);
  return roles;
}

apr_array_header_t* scm_roles_from_role_paths(
    const ScmListenerServiceNS__getRolePathsResponse* response, apr_pool_t* pool) {
  auto* roles = apr_array_make(pool, 1, sizeof(scm_role_entry_t));
  APR_ARRAY_PUSH(roles, scm_role_entry_t) =
      make_role(SCM_ROLE_PATHS_ROLE_ID, response ? response->_getRolePathsReturn : nullptr, pool);
  return roles;
}
