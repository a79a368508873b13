// Set-up of a connection context: the external system id, from memcached,
// the service or the repositories' .scm.properties file.
#include "context_setup.h"

#include <apr_file_io.h>
#include <apr_strings.h>
#include <http_log.h>

#include <cstring>

#include "cache_keys.h"
#include "context_cache.h"
#include "properties_file.h"
#include "scm_calls.h"
#include "service_failure.h"
#include "service_runtime.h"
#include "soap_runtime_settings.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

constexpr char kRepositoryBaseProperty[] = "subversion.repository_base";

int read_scm_properties_id(const char** id, ctx_data* ctx, request_rec* r) {
  const char* base = get_property(ctx->service.properties_hash, kRepositoryBaseProperty, nullptr);
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
      apr_pstrdup(r->pool, zeb::external_system_id_key(ctx->service.scm_listener_url).c_str());
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
  if (int rc = open_service_runtime(&ctx->service, r); rc != OK) return rc;
  const int rc = call_get_branding_external_system_id(id, &ctx->service, action, r->pool);
  if (rc != SOAP_OK) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "getBrandingEternalSystemId() API FAILED: %s",
                  service_failure_text(&ctx->service, r));
  }
  end_soap_call(&ctx->service);
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

int load_properties(apr_hash_t** props, const char* filename, request_rec* r, apr_pool_t* pool) {
  *props = apr_hash_make(pool);
  // Buffered, because unbuffered line reads cost a system call per byte; the
  // buffer goes with its own pool rather than stay in the connection's.
  apr_pool_t* file_pool = nullptr;
  apr_file_t* file = nullptr;
  apr_status_t opened = APR_EINVAL;
  if (filename == nullptr || (opened = apr_pool_create(&file_pool, pool)) != APR_SUCCESS ||
      (opened = apr_file_open(&file, filename, APR_FOPEN_READ | APR_FOPEN_BUFFERED,
                              APR_FPROT_OS_DEFAULT, file_pool)) != APR_SUCCESS) {
    if (file_pool != nullptr) apr_pool_destroy(file_pool);
    // The status puts the reason (errno text) before the message.
    ap_log_rerror(APLOG_MARK, APLOG_ERR, opened, r, "Failed to open file %s.", filename);
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  const apr_status_t rv = read_properties(*props, file, pool);
  apr_pool_destroy(file_pool);
  if (rv != APR_SUCCESS) {
    // Half a file could silently drop the secret or the endpoint.
    ap_log_rerror(APLOG_MARK, APLOG_ERR, rv, r, "Failed to read file %s.", filename);
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  return OK;
}

int get_externalsystemid(ctx_data* ctx, request_rec* r, const authnz_zeb_config_rec* conf) {
  const char* branding_uri =
      get_property(ctx->service.properties_hash, "subversion_branding.repository_uri", nullptr);
  const char* id = nullptr;
  const bool from_service = branding_uri != nullptr && conf->base_uri != nullptr &&
                            apr_strnatcasecmp(branding_uri, conf->base_uri) == 0;
  const int rc =
      from_service ? fetch_branding_id(&id, ctx, r) : read_scm_properties_id(&id, ctx, r);
  if (rc != OK) return rc;
  ctx->service.external_system_id = id != nullptr ? apr_pstrdup(ctx->pool, id) : nullptr;
  return OK;
}
