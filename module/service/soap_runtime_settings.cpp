#include "soap_runtime_settings.h"

#include <apr_strings.h>

#include "properties_file.h"
#include "property_names.h"
#include "scm_requestkey.h"

void apply_proxy_settings(struct soap* soap, apr_hash_t* props) {
  const char* host = get_property(props, "dwmain.integration.http_proxy_host", nullptr);
  soap->proxy_host = nullptr;
  soap->proxy_userid = nullptr;
  soap->proxy_passwd = nullptr;
  if (host == nullptr) return;
  soap->proxy_host = host;
  soap->proxy_port =
      get_int_property(props, "dwmain.integration.http_proxy_port", kDefaultProxyPort);
  soap->proxy_userid = get_property(props, "dwmain.integration.http_proxy_username", nullptr);
  soap->proxy_passwd = get_property(props, "dwmain.integration.http_proxy_password", nullptr);
}

int apply_timeouts(struct soap* soap, apr_hash_t* props, bool* defaulted) {
  *defaulted = get_property(props, "svn.authnz.timeout", nullptr) == nullptr;
  const int timeout = get_int_property(props, "svn.authnz.timeout", kDefaultSoapTimeout);
  soap->recv_timeout = timeout;
  soap->send_timeout = timeout;
  soap->connect_timeout = timeout;
  return timeout;
}

char* make_soap_action(const char* username, apr_pool_t* pool) {
  char* action = apr_pstrcat(pool, username, ":ScmListener", nullptr);
  for (char* c = action; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (byte < 0x20 || byte == 0x7f) *c = '?';
  }
  return action;
}

const char* shared_secret(apr_hash_t* props) {
  return get_property(props, kSharedSecretProperty, SCM_DEFAULT_SHARED_SECRET);
}

const char* listener_host(apr_hash_t* props) {
  return get_property(props, "dwmain.integration.listener_host", "localhost");
}

char* make_scmlistener_url(apr_hash_t* props, apr_pool_t* pool) {
  return apr_psprintf(pool, "%s://%s:%s/qv-soap/services/ScmListener",
                      get_boolean_property(props, kListenerSslProperty, 0) ? "https" : "http",
                      listener_host(props),
                      get_property(props, "dwmain.integration.listener_port", "8080"));
}
