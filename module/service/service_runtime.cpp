// The ScmListener service's SOAP runtime: made for the set-up and for each
// call, with TLS, proxy and time-outs from the session's settings.
#include "service_runtime.h"

#include <apr_strings.h>
#include <http_log.h>

#include <mutex>

#include "properties_file.h"
#include "property_names.h"
#include "runtime_lending.h"
#include "scm_requestkey.h"
#include "service_failure.h"
#include "service_tls.h"
#include "soap_runtime_settings.h"
#include "zeb_openssl.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

constexpr soap_mode kSoapMode = SOAP_C_UTFSTRING | SOAP_XML_INDENT;
// Shown of the request key in the debug log: enough to tell keys apart.
constexpr int kShownKeyPrefix = 4;

std::once_flag ssl_library_initialized;
std::once_flag unverified_service_reported;

// Existing deployments name no CA and keep working; say once per process
// that their service is taken on trust.
void report_unverified_service(apr_hash_t* props, request_rec* r) {
  if (service_certificate_verified(props)) return;
  std::call_once(unverified_service_reported, [&] {
    ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r,
                  "The ScmListener service's certificate is not verified: set %s or %s to "
                  "the CA that signed it",
                  kListenerCaFileProperty, kListenerCaPathProperty);
  });
}

// The runtime's last failure in one line; TLS failures name the CAs in use.
const char* runtime_failure_text(service_session* session, request_rec* r) {
  if (session->soap == nullptr) return "no SOAP runtime";
  soap_set_fault(session->soap);  // the runtime's words for errors it found itself
  const service_failure_t failure{
      session->soap->error, soap_fault_string(session->soap), soap_fault_detail(session->soap),
      get_property(session->properties_hash, kListenerCaFileProperty, nullptr),
      get_property(session->properties_hash, kListenerCaPathProperty, nullptr)};
  return apr_pstrdup(r->pool, describe_service_failure(failure).c_str());
}

// TLS support for session->soap; OK or HTTP_INTERNAL_SERVER_ERROR after logging.
int init_tls(service_session* session, request_rec* r) {
  if (CRYPTO_thread_setup() != 0) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Cannot setup OpenSSL thread mutex");
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  session->openssl_thread_setup = 1;
  if (make_service_tls_context(session->soap, session->properties_hash) != SOAP_OK) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Error while initializing SOAP SSL context: %s",
                  runtime_failure_text(session, r));
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  // The files are read: nothing of the connection's properties may stay
  // behind in a runtime that outlives it.
  session->soap->keyfile = session->soap->password = session->soap->cafile = session->soap->capath =
      nullptr;
  session->soap->randfile = nullptr;
  return OK;
}

int make_plain_runtime(service_session* session) {
  session->soap = soap_new2(kSoapMode, kSoapMode);
  return session->soap != nullptr ? OK : HTTP_INTERNAL_SERVER_ERROR;
}

// A runtime with TLS, waiting in the process or made now.
int make_tls_runtime(service_session* session, request_rec* r) {
  report_unverified_service(session->properties_hash, r);
  if ((session->soap = take_idle_runtime(session->tls_runtime_key)) != nullptr) {
    session->openssl_thread_setup = 1;  // the waiting runtime's reference
  } else if ((session->soap = soap_new2(kSoapMode, kSoapMode)) == nullptr) {
    return HTTP_INTERNAL_SERVER_ERROR;
  } else if (int rc = init_tls(session, r); rc != OK) {
    return rc;
  }
  session->soap_lendable = 1;
  return OK;
}

// Makes session->soap unless it is there; the set-up traces what it made, the
// runtimes of later calls are made alike without repeating it.
int make_runtime(service_session* session, request_rec* r, bool trace) {
  if (session->soap != nullptr) return OK;
  // The engine initializes the TLS library on its first runtime, behind a
  // guard that is not thread-safe.
  std::call_once(ssl_library_initialized, soap_ssl_init);
  const int rc = session->tls_runtime_key != nullptr ? make_tls_runtime(session, r)
                                                     : make_plain_runtime(session);
  if (rc != OK) {
    if (session->soap == nullptr) {
      ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Cannot create the SOAP runtime");
    }
    return rc;
  }
  if (trace) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "SOAP runtime environment created successfully!");
  }
  apply_proxy_settings(session->soap, session->properties_hash);
  bool defaulted = false;
  const int timeout = apply_timeouts(session->soap, session->properties_hash, &defaulted);
  if (trace) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "SOAP timeout set to %d seconds%s", timeout,
                  defaulted ? " (default)" : "");
  }
  return OK;
}

}  // namespace

const char* service_failure_text(service_session* session, request_rec* r) {
  return apr_pstrcat(r->pool, session->scm_listener_url, ": ", runtime_failure_text(session, r),
                     nullptr);
}

int create_soap_environment(service_session* session, request_rec* r, apr_pool_t* pool) {
  session->tls_runtime_key = get_boolean_property(session->properties_hash, kListenerSslProperty, 0)
                                 ? tls_runtime_key(session->properties_hash, pool)
                                 : nullptr;
  return make_runtime(session, r, true);
}

int open_service_runtime(service_session* session, request_rec* r) {
  const int rc = make_runtime(session, r, false);
  if (rc != OK) destroy_soap_environment(session);
  return rc;
}

void destroy_soap_environment(service_session* session) {
  if (session->soap != nullptr) {
    soap_destroy(session->soap);
    soap_end(session->soap);
    if (session->soap_lendable && session->openssl_thread_setup &&
        keep_idle_runtime(session->tls_runtime_key, session->soap)) {
      session->openssl_thread_setup = 0;  // the reference stays with the runtime
    } else {
      soap_free(session->soap);
    }
    session->soap = nullptr;
    session->soap_lendable = 0;
  }
  if (session->openssl_thread_setup) {
    CRYPTO_thread_cleanup();
    session->openssl_thread_setup = 0;
  }
}

void get_scmlistenerurl(service_session* session, request_rec* r, apr_pool_t* pool) {
  session->scm_listener_url = make_scmlistener_url(session->properties_hash, pool);
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Generated ScmListener URL: %s",
                session->scm_listener_url);
}

int create_scm_requestkey(service_session* session, request_rec* r, const char* properties_file,
                          apr_pool_t* pool) {
  const char* secret = get_property(session->properties_hash, kSharedSecretProperty, nullptr);
  if (secret == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r, "No %s in %s: using the built-in default secret",
                  kSharedSecretProperty, properties_file);
  }
  session->request_key = scm_requestkey_create(secret, r->pool, pool);
  if (session->request_key == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Cannot generate SCM Request Key");
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  // The key is a credential: the log shows only its beginning.
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Generated SCM Request Key: %.*s\u2026",
                kShownKeyPrefix, session->request_key);
  return OK;
}
