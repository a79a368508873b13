#include "service_tls.h"

#include <arpa/inet.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <string>

#include "properties_file.h"
#include "soap_runtime_settings.h"

// OpenSSL's own host check rather than the SOAP engine's: the engine also
// accepts the subject's common name beside the alternative names, and reads
// '-' and '*' anywhere in a certificate's name as wildcards.
bool expect_certificate_host(struct soap* soap, const char* expected_host) {
  SSL_CTX* ctx = soap->ctx;
  std::string host = expected_host;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  unsigned char address[sizeof(in6_addr)];
  const bool is_address = inet_pton(AF_INET, host.c_str(), address) == 1 ||
                          inet_pton(AF_INET6, host.c_str(), address) == 1;
  return is_address ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1
                    : X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
}

bool service_certificate_verified(apr_hash_t* props) {
  return get_property(props, kListenerCaFileProperty, nullptr) != nullptr ||
         get_property(props, kListenerCaPathProperty, nullptr) != nullptr;
}

int make_service_tls_context(struct soap* soap, apr_hash_t* props) {
  if (!service_certificate_verified(props)) {
    // Nothing is verified against the system's CA bundle, so it is not
    // loaded: every connection's context would parse it again.
    return soap_ssl_client_context(soap, SOAP_SSL_NO_AUTHENTICATION | SOAP_SSL_NO_DEFAULT_CA_PATH,
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  // The host is checked below, by OpenSSL during the handshake.
  const unsigned short flags =
      SOAP_SSL_DEFAULT | SOAP_SSL_NO_DEFAULT_CA_PATH | SOAP_SSL_SKIP_HOST_CHECK;
  if (const int rc = soap_ssl_client_context(
          soap, flags, nullptr, nullptr, get_property(props, kListenerCaFileProperty, nullptr),
          get_property(props, kListenerCaPathProperty, nullptr), nullptr);
      rc != SOAP_OK) {
    return rc;
  }
  if (get_boolean_property(props, kListenerVerifyHostProperty, 1) &&
      !expect_certificate_host(soap, listener_host(props))) {
    return soap_set_receiver_error(soap, "SSL/TLS error",
                                   "Cannot set the listener host for certificate verification",
                                   SOAP_SSL_ERROR);
  }
  return SOAP_OK;
}
