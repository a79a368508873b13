// Set-up of a connection context: SOAP runtime, endpoint, request key and
// external system id.
#include "context_setup.h"

#include <apr_strings.h>
#include <http_log.h>

#include <cstring>
#include <mutex>

#include "cache_keys.h"
#include "properties_file.h"
#include "runtime_lending.h"
#include "scm_calls.h"
#include "scm_requestkey.h"
#include "service_failure.h"
#include "service_tls.h"
#include "soap_runtime_settings.h"
#include "zeb_memcache.h"
#include "zeb_openssl.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

constexpr soap_mode kSoapMode = SOAP_C_UTFSTRING | SOAP_XML_INDENT;
constexpr char kRepositoryBaseProperty[] = "subversion.repository_base";
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
const char* runtime_failure_text(ctx_data* ctx, request_rec* r) {
  if (ctx->soap == nullptr) return "no SOAP runtime";
  soap_set_fault(ctx->soap);  // the runtime's words for errors it found itself
  const service_failure_t failure{
      ctx->soap->error, soap_fault_string(ctx->soap), soap_fault_detail(ctx->soap),
      get_property(ctx->properties_hash, kListenerCaFileProperty, nullptr),
      get_property(ctx->properties_hash, kListenerCaPathProperty, nullptr)};
  return apr_pstrdup(r->pool, describe_service_failure(failure).c_str());
}

// TLS support for ctx->soap; OK or HTTP_INTERNAL_SERVER_ERROR after logging.
int init_tls(ctx_data* ctx, request_rec* r) {
  if (CRYPTO_thread_setup() != 0) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Cannot setup OpenSSL thread mutex");
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  ctx->openssl_thread_setup = 1;
  if (make_service_tls_context(ctx->soap, ctx->properties_hash) != SOAP_OK) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Error while initializing SOAP SSL context: %s",
                  runtime_failure_text(ctx, r));
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  // The files are read: nothing of the connection's properties may stay
  // behind in a runtime that outlives it.
  ctx->soap->keyfile = ctx->soap->password = ctx->soap->cafile = ctx->soap->capath = nullptr;
  ctx->soap->randfile = nullptr;
  return OK;
}

int make_plain_runtime(ctx_data* ctx) {
  ctx->soap = soap_new2(kSoapMode, kSoapMode);
  return ctx->soap != nullptr ? OK : HTTP_INTERNAL_SERVER_ERROR;
}

// A runtime with TLS, waiting in the process or made now.
int make_tls_runtime(ctx_data* ctx, request_rec* r) {
  report_unverified_service(ctx->properties_hash, r);
  if ((ctx->soap = take_idle_runtime(ctx->tls_runtime_key)) != nullptr) {
    ctx->openssl_thread_setup = 1;  // the waiting runtime's reference
  } else if ((ctx->soap = soap_new2(kSoapMode, kSoapMode)) == nullptr) {
    return HTTP_INTERNAL_SERVER_ERROR;
  } else if (int rc = init_tls(ctx, r); rc != OK) {
    return rc;
  }
  ctx->soap_lendable = 1;
  return OK;
}

// Makes ctx->soap unless it is there; the set-up traces what it made, the
// runtimes of later calls are made alike without repeating it.
int make_runtime(ctx_data* ctx, request_rec* r, bool trace) {
  if (ctx->soap != nullptr) return OK;
  // The engine initializes the TLS library on its first runtime, behind a
  // guard that is not thread-safe.
  std::call_once(ssl_library_initialized, soap_ssl_init);
  const int rc =
      ctx->tls_runtime_key != nullptr ? make_tls_runtime(ctx, r) : make_plain_runtime(ctx);
  if (rc != OK) {
    if (ctx->soap == nullptr) {
      ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Cannot create the SOAP runtime");
    }
    return rc;
  }
  if (trace) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "SOAP runtime environment created successfully!");
  }
  apply_proxy_settings(ctx->soap, ctx->properties_hash);
  bool defaulted = false;
  const int timeout = apply_timeouts(ctx->soap, ctx->properties_hash, &defaulted);
  if (trace) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "SOAP timeout set to %d seconds%s", timeout,
                  defaulted ? " (default)" : "");
  }
  return OK;
}

int read_scm_properties_id(const char** id, ctx_data* ctx, request_rec* r) {
  const char* base = get_property(ctx->properties_hash, kRepositoryBaseProperty, nullptr);
  if (base == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                  "No %s in %s: cannot read the external system id from its .scm.properties",
                  kRepositoryBaseProperty, ctx->conf.brimstack_properties_file);
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  const char* file = apr_pstrcat(r->pool, base, "/.scm.properties", nullptr);
  apr_hash_t* scm_props = nullptr;
  if (int rc = load_properties(&scm_props, file, r, r->pool); rc != OK) return rc;
  *id = get_property(scm_props, "external_system_id", nullptr);
  return OK;
}

int fetch_branding_id(const char** id, ctx_data* ctx, request_rec* r) {
  // No user is validated yet while the context is made; name the request's
  // user the way isValidUser will.
  const char* action = make_soap_action(r->user != nullptr ? r->user : "guest", r->pool);
  // One entry per service, named by its endpoint.
  const char* user_key =
      apr_pstrdup(r->pool, zeb::external_system_id_key(ctx->scm_listener_url).c_str());
  char* cached = nullptr;
  if (context_cache_fetch(ctx, user_key, &cached, nullptr, r->pool) == APR_SUCCESS) {
    *id = cached;
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Fetched getBrandingEternalSystemId() API response from memcached: [%s]", *id);
    return OK;
  }
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                "Unable to fetch getBrandingEternalSystemId() API response from memcached; "
                "contacting Brimstack");
  if (int rc = open_service_runtime(ctx, r); rc != OK) return rc;
  const int rc = call_get_branding_external_system_id(id, ctx, action, r->pool);
  if (rc != SOAP_OK) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "getBrandingEternalSystemId() API FAILED: %s",
                  service_failure_text(ctx, r));
  }
  end_soap_call(ctx);
  if (rc != SOAP_OK) return zeb::status_of(service_outcome(rc));
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "getBrandingEternalSystemId() API succeeded: [%s]",
                *id);
  // A reply without an id leaves the connection without one; there is
  // nothing to share through memcached.
  if (*id == nullptr) return OK;
  const apr_status_t stashed = context_cache_stash(ctx, user_key, *id, std::strlen(*id), r->pool);
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                "%s getBrandingEternalSystemId() API response in memcached",
                stashed == APR_SUCCESS ? "Stashed" : "Unable to stash");
  return OK;
}

}  // namespace

const char* service_failure_text(ctx_data* ctx, request_rec* r) {
  return apr_pstrcat(r->pool, ctx->scm_listener_url, ": ", runtime_failure_text(ctx, r), nullptr);
}

int create_soap_environment(ctx_data* ctx, request_rec* r) {
  ctx->tls_runtime_key = get_boolean_property(ctx->properties_hash, kListenerSslProperty, 0)
                             ? tls_runtime_key(ctx->properties_hash, ctx->pool)
                             : nullptr;
  return make_runtime(ctx, r, true);
}

int open_service_runtime(ctx_data* ctx, request_rec* r) {
  const int rc = make_runtime(ctx, r, false);
  if (rc != OK) destroy_soap_environment(ctx);
  return rc;
}

void destroy_soap_environment(ctx_data* ctx) {
  if (ctx->soap != nullptr) {
    soap_destroy(ctx->soap);
    soap_end(ctx->soap);
    if (ctx->soap_lendable && ctx->openssl_thread_setup &&
        keep_idle_runtime(ctx->tls_runtime_key, ctx->soap)) {
      ctx->openssl_thread_setup = 0;  // the reference stays with the runtime
    } else {
      soap_free(ctx->soap);
    }
    ctx->soap = nullptr;
    ctx->soap_lendable = 0;
  }
  if (ctx->openssl_thread_setup) {
    CRYPTO_thread_cleanup();
    ctx->openssl_thread_setup = 0;
  }
}

void get_scmlistenerurl(ctx_data* ctx, request_rec* r) {
  ctx->scm_listener_url = make_scmlistener_url(ctx->properties_hash, ctx->pool);
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Generated ScmListener URL: %s",
                ctx->scm_listener_url);
}

int create_scm_requestkey(ctx_data* ctx, request_rec* r) {
  const char* secret = get_property(ctx->properties_hash, kSharedSecretProperty, nullptr);
  if (secret == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r, "No %s in %s: using the built-in default secret",
                  kSharedSecretProperty, ctx->conf.brimstack_properties_file);
  }
  ctx->request_key = scm_requestkey_create(secret, r->pool, ctx->pool);
  if (ctx->request_key == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Cannot generate SCM Request Key");
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  // The key is a credential: the log shows only its beginning.
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Generated SCM Request Key: %.*s\u2026",
                kShownKeyPrefix, ctx->request_key);
  return OK;
}

int get_externalsystemid(ctx_data* ctx, request_rec* r, const authnz_zeb_config_rec* conf) {
  const char* branding_uri =
      get_property(ctx->properties_hash, "subversion_branding.repository_uri", nullptr);
  const char* id = nullptr;
  const bool from_service = branding_uri != nullptr && conf->base_uri != nullptr &&
                            apr_strnatcasecmp(branding_uri, conf->base_uri) == 0;
  const int rc =
      from_service ? fetch_branding_id(&id, ctx, r) : read_scm_properties_id(&id, ctx, r);
  if (rc != OK) return rc;
  ctx->external_system_id = id != nullptr ? apr_pstrdup(ctx->pool, id) : nullptr;
  return OK;
}
