// Calls of the ScmListener service through the runtime that
// open_service_runtime made for the call. Each answers SOAP_OK or the
// runtime's error code; the fault stays in the runtime for the caller to log.
#ifndef SCM_CALLS_H
#define SCM_CALLS_H

#include <apr_pools.h>

#include "service_session.h"

// *id, copied into pool, is null when the reply carries no id.
int call_get_branding_external_system_id(const char** id, service_session* session,
                                         const char* action, apr_pool_t* pool);

// A reply without its value fails the call; *answer is set only on success.
int call_is_valid_user(int* answer, service_session* session, const char* action,
                       const char* username, const char* password, const char* repos_name);

// Releases the call's runtime with its answer and its fault. Call it once
// the answer has been copied and any fault logged.
void end_soap_call(service_session* session);

#endif
