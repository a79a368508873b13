// Calls of the ScmListener service through a connection's SOAP runtime.
// Each answers SOAP_OK or the runtime's error code; the fault stays in the
// runtime for the caller to log.
#ifndef BRIMSTACK_SOAP_H
#define BRIMSTACK_SOAP_H

#include "brimstack_context.h"

// *id is null when the reply carries no id.
int call_get_branding_external_system_id(const char** id, ctx_data* ctx, const char* action);

// A reply without its value fails the call; *answer is set only on success.
int call_is_valid_user(int* answer, ctx_data* ctx, const char* action, const char* username,
                       const char* password, const char* repos_name);

#endif
