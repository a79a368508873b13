// Connection context: creation, properties files, cache checks, clean-up.
#include "brimstack_context.h"

#include <apr_strings.h>
#include <http_log.h>

#include "brimstack_cache.h"
#include "brimstack_properties.h"
#include "brimstack_setup.h"
#include "zeb_memcache.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

// Steps that fill a context; run again by the next request when one fails.
int set_up_context(ctx_data* ctx, request_rec* r, const authnz_zeb_config_rec* conf) {
  destroy_soap_environment(ctx);
  ctx->conf = *conf;
  if (int rc =
          load_properties(&ctx->properties_hash, conf->brimstack_properties_file, r, ctx->pool);
      rc != OK) {
    return rc;
  }
  if (int rc = create_soap_environment(ctx, r); rc != OK) return rc;
  if (conf->memcache_server != nullptr && ctx->memcache == nullptr &&
      memcache_server_connect(conf->memcache_server, &ctx->memcache, ctx->pool) != APR_SUCCESS) {
    ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r, "Failed connecting to memcached server at '%s'",
                  conf->memcache_server);
    ctx->memcache = nullptr;
  }
  ctx->use_role_paths_api =
      get_boolean_property(ctx->properties_hash, "svn.authnz.use_role_paths_api", 0);
  get_scmlistenerurl(ctx, r);
  if (int rc = create_scm_requestkey(ctx, r); rc != OK) return rc;
  return get_externalsystemid(ctx, r, conf);
}

}  // namespace

int get_userdata(ctx_data** ctx, request_rec* r, const authnz_zeb_config_rec* conf) {
  apr_pool_t* conn_pool = r->connection->pool;
  void* data = nullptr;
  if (apr_pool_userdata_get(&data, kUserdataKey, conn_pool) != APR_SUCCESS) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Error fetching connection userdata");
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  auto* context = static_cast<ctx_data*>(data);
  if (context == nullptr) {
    context = static_cast<ctx_data*>(apr_pcalloc(conn_pool, sizeof(ctx_data)));
    context->pool = conn_pool;
    context->global_access_granted = PBP_UNKNOWN;
    if (apr_pool_userdata_set(context, kUserdataKey, nullptr, conn_pool) != APR_SUCCESS) {
      ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Error setting connection pool userdata");
      return HTTP_INTERNAL_SERVER_ERROR;
    }
    // Not as a child clean-up: a process forked to run a repository hook
    // must not release runtimes and TLS locks that threads of its parent
    // were using when it forked.
    apr_pool_cleanup_register(conn_pool, context, cleanup_ctx_data, apr_pool_cleanup_null);
  }
  if (!context->setup_complete) {
    if (int rc = set_up_context(context, r, conf); rc != OK) return rc;
    context->setup_complete = 1;
  }
  *ctx = context;
  return OK;
}

int load_properties(apr_hash_t** props, const char* filename, request_rec* r, apr_pool_t* pool) {
  *props = apr_hash_make(pool);
  // Buffered, because unbuffered line reads cost a system call per byte; the
  // buffer goes with its own pool rather than stay in the connection's.
  apr_pool_t* file_pool = nullptr;
  apr_file_t* file = nullptr;
  if (filename == nullptr || apr_pool_create(&file_pool, pool) != APR_SUCCESS ||
      apr_file_open(&file, filename, APR_FOPEN_READ | APR_FOPEN_BUFFERED, APR_FPROT_OS_DEFAULT,
                    file_pool) != APR_SUCCESS) {
    if (file_pool != nullptr) apr_pool_destroy(file_pool);
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Failed to open file %s.", filename);
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

int is_cache_okay(const char* username, const char* password, const char* repos_name, ctx_data* ctx,
                  request_rec* r) {
  const cache_comparison cmp = compare_connection_cache(ctx, username, password, repos_name);
  if (cmp.user_differs) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Request username (%s) differs from cached username (%s)", username,
                  ctx->cached_username);
  }
  if (cmp.password_differs) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Request password differs from cached password");
  }
  if (cmp.repos_differs) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Request repository differs from cached repository");
  }
  return cmp.okay ? 1 : 0;
}

void reset_cached_authnz_data(ctx_data* ctx, request_rec* r) {
  if (ctx->cached_username == nullptr) return;
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                "Resetting connection cache authentication and authorization data");
  clear_connection_cache(ctx);
}

extern "C" apr_status_t cleanup_ctx_data(void* data) {
  destroy_soap_environment(static_cast<ctx_data*>(data));
  return APR_SUCCESS;
}
