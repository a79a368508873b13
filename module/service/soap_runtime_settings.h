// Settings of a connection's SOAP runtime taken from the properties.
#ifndef SOAP_RUNTIME_SETTINGS_H
#define SOAP_RUNTIME_SETTINGS_H

#include <apr_hash.h>
#include <stdsoap2.h>
// Only gSOAP's own build reads it; httpd's headers define it differently.
#undef HAVE_TIMEGM

inline constexpr int kDefaultSoapTimeout = 60;
inline constexpr int kDefaultProxyPort = 8080;

// HTTP proxy from the properties; none when no proxy host is set (what an
// earlier connection set is cleared). A proxy host without a port uses
// kDefaultProxyPort.
void apply_proxy_settings(struct soap* soap, apr_hash_t* props);

// Connect, send and receive time-outs from "svn.authnz.timeout" (seconds; 0
// is none). Returns the value set; *defaulted tells whether the property was
// absent.
int apply_timeouts(struct soap* soap, apr_hash_t* props, bool* defaulted);

// The secret shared with the service, or the built-in default.
const char* shared_secret(apr_hash_t* props);

// The service's host as the endpoint URL names it.
const char* listener_host(apr_hash_t* props);

// "http[s]://HOST:PORT/qv-soap/services/ScmListener" from the properties.
char* make_scmlistener_url(apr_hash_t* props, apr_pool_t* pool);

// The SOAPAction of a call made for username, "<user>:ScmListener". The
// action travels as an HTTP header, so control characters of a name taken
// from a client's credentials become '?' rather than reshape the request.
char* make_soap_action(const char* username, apr_pool_t* pool);

#endif
