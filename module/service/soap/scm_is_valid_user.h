// isValidUser with a strict reading of the answer.
#ifndef SCM_IS_VALID_USER_H
#define SCM_IS_VALID_USER_H

#include "soapH.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Status of a call whose response carried no returned value. */
#define SCM_NO_RETURN_VALUE SOAP_NO_DATA

/* Calls isValidUser like soap_call_ScmListenerServiceNS__isValidUser, with one
 * difference: a response without its int fails the call with
 * SCM_NO_RETURN_VALUE and a fault text, where the generated call would answer
 * 0 and so accept the credentials. *answer is written only on success. A null
 * string parameter is left out of the request. */
int scm_call_is_valid_user(struct soap* soap, const char* endpoint, const char* action,
                           const char* request_key, const char* username, const char* password,
                           const char* system_id, const char* repository_dir, int* answer);

#ifdef __cplusplus
}
#endif

#endif
