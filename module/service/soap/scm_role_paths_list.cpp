#include "scm_role_paths_list.h"

#include <cstring>

#include "scm_whole_arrays.h"

namespace {

constexpr char kRoleType[] = "ScmListenerServiceNS2:RolePathsListDO";

// The generated request record takes non-const strings but only reads them.
char* param(const char* s) {
  return const_cast<char*>(s);
}

// The first entry typed as something else, or null.
const char* foreign_type(const ScmListenerServiceNS2RolePathsListDOArray* list) {
  if (list == nullptr || list->__ptr == nullptr) return nullptr;
  for (int i = 0; i < list->__size; ++i) {
    const ScmListenerServiceNS2__RolePathsListDO* entry = list->__ptr[i];
    if (entry != nullptr && entry->xsi__type != nullptr &&
        std::strcmp(entry->xsi__type, kRoleType) != 0)
      return entry->xsi__type;
  }
  return nullptr;
}

}  // namespace

int scm_call_get_role_paths_list(struct soap* soap, const char* endpoint, const char* action,
                                 const char* request_key, const char* username,
                                 const char* system_id, const char* repository_name,
                                 struct ScmListenerServiceNS__getRolePathsListResponse* response) {
  const int rc = scm_call_with_whole_arrays(soap, [&] {
    return soap_call_ScmListenerServiceNS__getRolePathsList(
        soap, endpoint, action, param(request_key), param(username), param(system_id),
        param(repository_name), response);
  });
  if (rc != SOAP_OK) return rc;
  if (const char* type = foreign_type(response->_getRolePathsListReturn))
    return soap_set_receiver_error(soap, "getRolePathsList role entry of another type", type,
                                   SOAP_TYPE);
  return SOAP_OK;
}

int scm_call_get_role_paths(struct soap* soap, const char* endpoint, const char* action,
                            const char* request_key, const char* username, const char* system_id,
                            const char* repository_name,
                            struct ScmListenerServiceNS__getRolePathsResponse* response) {
  return scm_call_with_whole_arrays(soap, [&] {
    return soap_call_ScmListenerServiceNS__getRolePaths(soap, endpoint, action, param(request_key),
                                                        param(username), param(system_id),
                                                        param(repository_name), response);
  });
}
