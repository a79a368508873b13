// TLS towards the ScmListener service: whether and how the service's
// certificate is verified, from the properties.
#ifndef SERVICE_TLS_H
#define SERVICE_TLS_H

#include <apr_hash.h>
#include <stdsoap2.h>
// Only gSOAP's own build reads it; httpd's headers define it differently.
#undef HAVE_TIMEGM

// PEM file, and OpenSSL hashed directory, of the CAs that may sign the
// service's certificate. Naming either turns verification on.
inline constexpr char kListenerCaFileProperty[] = "dwmain.integration.listener_ssl_cafile";
inline constexpr char kListenerCaPathProperty[] = "dwmain.integration.listener_ssl_capath";
// Boolean, default true: with a CA, the certificate must also name the
// configured listener host.
inline constexpr char kListenerVerifyHostProperty[] = "dwmain.integration.listener_ssl_verify_host";

// Whether the properties name a CA, i.e. whether the service is verified.
bool service_certificate_verified(apr_hash_t* props);

// Creates the runtime's TLS client context. Without a CA the certificate is
// taken on trust. With one, the handshake fails unless the chain leads to one
// of the configured CAs (the system's CAs are not consulted) and, unless
// switched off, the certificate names the listener host (DNS name or IP
// address). SOAP_OK, or the runtime's error code with its fault set.
int make_service_tls_context(struct soap* soap, apr_hash_t* props);

// Makes the handshakes of the runtime's TLS context fail unless the peer's
// certificate names host (a DNS name, an IP address, or one in brackets) in
// its alternative names. False when OpenSSL cannot take the name.
bool expect_certificate_host(struct soap* soap, const char* host);

#endif
