// getRolePathsList with the role entries' types checked, and both role
// queries with their arrays checked.
#ifndef SCM_ROLE_PATHS_LIST_H
#define SCM_ROLE_PATHS_LIST_H

#include "soapH.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Calls getRolePathsList like soap_call_ScmListenerServiceNS__getRolePathsList,
 * with two differences, each failing the call with SOAP_TYPE and a fault text
 * where the generated decoder would read on: a role entry whose xsi:type names
 * another type than ScmListenerServiceNS2:RolePathsListDO (an entry without
 * xsi:type is taken as it is), and an encoded array not sent whole and as
 * declared (scm_whole_arrays.h). A null string parameter is left out of the
 * request. */
int scm_call_get_role_paths_list(struct soap* soap, const char* endpoint, const char* action,
                                 const char* request_key, const char* username,
                                 const char* system_id, const char* repository_name,
                                 struct ScmListenerServiceNS__getRolePathsListResponse* response);

/* Calls getRolePaths like soap_call_ScmListenerServiceNS__getRolePaths, with
 * its arrays checked the same way. */
int scm_call_get_role_paths(struct soap* soap, const char* endpoint, const char* action,
                            const char* request_key, const char* username, const char* system_id,
                            const char* repository_name,
                            struct ScmListenerServiceNS__getRolePathsResponse* response);

#ifdef __cplusplus
}
#endif

#endif
