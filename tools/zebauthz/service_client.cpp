#include "service_client.h"

#include <apr_strings.h>

#include <mutex>

#include "exit_status.h"
#include "properties_file.h"
#include "property_names.h"
#include "scm_is_valid_user.h"
#include "scm_requestkey.h"
#include "scm_role_entries.h"
#include "scm_role_paths_list.h"
#include "service_failure.h"
#include "service_tls.h"
#include "soapH.h"
#include "soap_runtime_settings.h"

namespace zebauthz {
namespace {

// The module's runtime mode: UTF-8 strings as they are, indented XML.
constexpr soap_mode kSoapMode = SOAP_C_UTFSTRING | SOAP_XML_INDENT;
constexpr size_t kFaultBufferSize = 2048;

std::vector<role_input> roles_of(const apr_array_header_t* entries) {
  std::vector<role_input> roles;
  for (int i = 0; i < entries->nelts; ++i) {
    const auto& entry = APR_ARRAY_IDX(entries, i, scm_role_entry_t);
    role_input role;
    if (entry.role_id != nullptr) role.id = entry.role_id;
    for (int j = 0; j < entry.num_pbps; ++j) role.pbps.emplace_back(entry.pbps[j]);
    roles.push_back(std::move(role));
  }
  return roles;
}

}  // namespace

service_client::service_client(apr_hash_t* props, apr_pool_t* pool) : props_(props), pool_(pool) {
  soap_init2(&soap_, kSoapMode, kSoapMode);
  if (get_boolean_property(props, kListenerSslProperty, 0)) {
    static std::once_flag initialized;
    std::call_once(initialized, soap_ssl_init);
    // The module's TLS context: the service's certificate verified against
    // the CA the properties name.
    if (make_service_tls_context(&soap_, props) != SOAP_OK) fail("TLS set-up");
  }
  apply_proxy_settings(&soap_, props);
  bool defaulted = false;
  apply_timeouts(&soap_, props, &defaulted);
  endpoint_ = make_scmlistener_url(props, pool);
  request_key_ = scm_requestkey_create(
      get_property(props, "dwmain.integration.security.shared_secret", nullptr), pool, pool);
  if (request_key_ == nullptr) {
    soap_done(&soap_);
    throw failure(kExitService, "cannot make a request key");
  }
}

service_client::~service_client() {
  end_call();
  soap_done(&soap_);
}

void service_client::end_call() {
  soap_destroy(&soap_);
  soap_end(&soap_);
}

void service_client::fail(const std::string& operation) {
  char text[kFaultBufferSize] = "";
  soap_sprint_fault(&soap_, text, sizeof text);
  end_call();
  throw failure(kExitService, operation + " at " + endpoint_ + " failed: " + text);
}

std::optional<std::string> service_client::external_system_id(const std::string& user) {
  char* id = nullptr;
  if (soap_call_ScmListenerServiceNS__getBrandingExternalSystemId(
          &soap_, endpoint_, make_soap_action(user.c_str(), pool_), const_cast<char*>(request_key_),
          &id) != SOAP_OK) {
    fail("getBrandingExternalSystemId");
  }
  std::optional<std::string> answer;
  if (id != nullptr) answer = id;
  end_call();
  return answer;
}

int service_client::is_valid_user(const std::string& user, const std::string& password,
                                  const char* system_id, const std::string& repository) {
  int answer = 1;
  if (scm_call_is_valid_user(&soap_, endpoint_, make_soap_action(user.c_str(), pool_), request_key_,
                             user.c_str(), password.c_str(), system_id, repository.c_str(),
                             &answer) != SOAP_OK) {
    fail("isValidUser");
  }
  end_call();
  return answer;
}

role_answer service_client::role_paths(const std::string& user, const char* system_id,
                                       const std::string& repository) {
  const char* action = make_soap_action(user.c_str(), pool_);
  if (!get_boolean_property(props_, "svn.authnz.use_role_paths_api", 0)) {
    ScmListenerServiceNS__getRolePathsListResponse response{};
    if (scm_call_get_role_paths_list(&soap_, endpoint_, action, request_key_, user.c_str(),
                                     system_id, repository.c_str(), &response) == SOAP_OK) {
      role_answer answer{roles_of(scm_roles_from_role_paths_list(&response, pool_)),
                         "getRolePathsList"};
      end_call();
      return answer;
    }
    // As the module: a service without the list operation answers it with a
    // fault; one that could not be reached would only fail again.
    if (service_unreachable(soap_.error)) fail("getRolePathsList");
    end_call();
  }
  ScmListenerServiceNS__getRolePathsResponse response{};
  if (scm_call_get_role_paths(&soap_, endpoint_, action, request_key_, user.c_str(), system_id,
                              repository.c_str(), &response) != SOAP_OK) {
    fail("getRolePaths");
  }
  role_answer answer{roles_of(scm_roles_from_role_paths(&response, pool_)), "getRolePaths"};
  end_call();
  return answer;
}

}  // namespace zebauthz
