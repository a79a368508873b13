#include "scm_is_valid_user.h"

namespace {

// The generated request record takes non-const strings but only reads them.
char* param(const char* s) {
  return const_cast<char*>(s);
}

}  // namespace

int scm_call_is_valid_user(struct soap* soap, const char* endpoint, const char* action,
                           const char* request_key, const char* username, const char* password,
                           const char* system_id, const char* repository_dir, int* answer) {
  if (soap_send_ScmListenerServiceNS__isValidUser(soap, endpoint, action, param(request_key),
                                                  param(username), param(password),
                                                  param(system_id), param(repository_dir)))
    return soap->error;

  // The generated receive, except that the response record stays in view so
  // that a missing value can be told from the value 0.
  if (soap_begin_recv(soap) || soap_envelope_begin_in(soap) || soap_recv_header(soap) ||
      soap_body_begin_in(soap))
    return soap_closesock(soap);
  if (soap_recv_fault(soap, 1)) return soap->error;
  const ScmListenerServiceNS__isValidUserResponse* response =
      soap_get_ScmListenerServiceNS__isValidUserResponse(soap, nullptr, "", nullptr);
  if (response == nullptr || soap->error) return soap_recv_fault(soap, 0);
  if (soap_body_end_in(soap) || soap_envelope_end_in(soap) || soap_end_recv(soap))
    return soap_closesock(soap);
  if (soap_closesock(soap)) return soap->error;

  if (response->_isValidUserReturn == nullptr)
    return soap_set_receiver_error(soap, "isValidUser response without a returned value", nullptr,
                                   SCM_NO_RETURN_VALUE);
  *answer = *response->_isValidUserReturn;
  return SOAP_OK;
}
