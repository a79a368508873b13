// getRolePathsList with the role entries' types checked.
#ifndef SCM_ROLE_PATHS_LIST_H
#define SCM_ROLE_PATHS_LIST_H

#include "soapH.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Calls getRolePathsList like soap_call_ScmListenerServiceNS__getRolePathsList,
 * with one difference: a role entry whose xsi:type names another type than
 * ScmListenerServiceNS2:RolePathsListDO fails the call with SOAP_TYPE and a
 * fault text, where the generated decoder would read it as a role. An entry
 * without xsi:type is taken as it is. A null string parameter is left out of
 * the request. */
int scm_call_get_role_paths_list(struct soap* soap, const char* endpoint, const char* action,
                                 const char* request_key, const char* username,
                                 const char* system_id, const char* repository_name,
                                 struct ScmListenerServiceNS__getRolePathsListResponse* response);

#ifdef __cplusplus
}
#endif

#endif
