#include "scm_calls.h"

#include <apr_strings.h>

#include "scm_is_valid_user.h"
#include "service_runtime.h"
#include "soapH.h"
#include "status_counting.h"

namespace {

// The generated calls take mutable strings but never write through them.
char* arg(const char* s) {
  return const_cast<char*>(s);
}

}  // namespace

int call_get_branding_external_system_id(const char** id, service_session* session,
                                         const char* action, apr_pool_t* pool) {
  char* result = nullptr;
  const zeb::status::stopwatch watch;
  const int rc = soap_call_ScmListenerServiceNS__getBrandingExternalSystemId(
      session->soap, session->scm_listener_url, action, arg(session->request_key), &result);
  zeb::count_service_call(zeb::status::operation::branding_id, rc == SOAP_OK, watch.micros());
  *id = rc == SOAP_OK && result != nullptr ? apr_pstrdup(pool, result) : nullptr;
  return rc;
}

int call_is_valid_user(int* answer, service_session* session, const char* action,
                       const char* username, const char* password, const char* repos_name) {
  const zeb::status::stopwatch watch;
  const int rc =
      scm_call_is_valid_user(session->soap, session->scm_listener_url, action, session->request_key,
                             username, password, session->external_system_id, repos_name, answer);
  zeb::count_service_call(zeb::status::operation::is_valid_user, rc == SOAP_OK, watch.micros());
  return rc;
}

void end_soap_call(service_session* session) {
  destroy_soap_environment(session);
}
