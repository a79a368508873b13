// Connection context: creation, properties files, cache checks, clean-up.
#include "connection_context.h"

#include <apr_strings.h>
#include <http_log.h>

#include <cstring>

#include "connection_cache.h"
#include "context_setup.h"
#include "properties_file.h"
#include "service_runtime.h"
#include "soap_runtime_settings.h"
#include "status_counting.h"
#include "zeb_memcache.h"
#include "zeb_memcache_lending.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

// The contexts of one connection, attached to its pool.
struct connection_contexts {
  ctx_data* slots[kMaxContextsPerConnection];
  apr_uint64_t clock;
};

bool same_text(const char* a, const char* b) {
  return a == b || (a != nullptr && b != nullptr && std::strcmp(a, b) == 0);
}

// The location's path is part of a configuration: it decides where the
// external system id comes from.
bool same_configuration(const authnz_zeb_config_rec& a, const authnz_zeb_config_rec& b) {
  return same_text(a.base_uri, b.base_uri) &&
         same_text(a.brimstack_properties_file, b.brimstack_properties_file) &&
         same_text(a.memcache_server, b.memcache_server) && a.memcache_ttl == b.memcache_ttl;
}

// Steps that fill a context; run again by the next request when one fails.
int set_up_context(ctx_data* ctx, request_rec* r, const authnz_zeb_config_rec* conf) {
  destroy_soap_environment(&ctx->service);
  ctx->conf = *conf;
  if (int rc = load_properties(&ctx->service.properties_hash, conf->brimstack_properties_file, r,
                               ctx->pool);
      rc != OK) {
    return rc;
  }
  if (int rc = create_soap_environment(&ctx->service, r, ctx->pool); rc != OK) return rc;
  if (conf->memcache_server != nullptr &&
      zeb_memcache::borrowed_handle(conf->memcache_server).status() != APR_SUCCESS) {
    ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r, "Failed connecting to memcached server at '%s'",
                  conf->memcache_server);
  }
  ctx->service.use_role_paths_api =
      get_boolean_property(ctx->service.properties_hash, "svn.authnz.use_role_paths_api", 0);
  get_scmlistenerurl(&ctx->service, r, ctx->pool);
  if (int rc = create_scm_requestkey(&ctx->service, r, conf->brimstack_properties_file, ctx->pool);
      rc != OK) {
    return rc;
  }
  return get_externalsystemid(ctx, r, conf);
}

ctx_data* find_context(connection_contexts* contexts, const authnz_zeb_config_rec* conf) {
  for (ctx_data* ctx : contexts->slots) {
    if (ctx != nullptr && same_configuration(ctx->conf, *conf)) return ctx;
  }
  return nullptr;
}

// A new, empty context in a free slot, or in the place of the least
// recently used one, which is released with its pool.
ctx_data* make_context(connection_contexts* contexts, const authnz_zeb_config_rec* conf,
                       apr_pool_t* conn_pool) {
  ctx_data** slot = nullptr;
  for (ctx_data*& candidate : contexts->slots) {
    if (candidate == nullptr) {
      slot = &candidate;
      break;
    }
    if (slot == nullptr || candidate->last_used < (*slot)->last_used) slot = &candidate;
  }
  if (*slot != nullptr) {
    apr_pool_destroy((*slot)->pool);
    *slot = nullptr;
  }
  apr_pool_t* pool = nullptr;
  apr_pool_t* cache_pool = nullptr;
  if (apr_pool_create(&pool, conn_pool) != APR_SUCCESS) return nullptr;
  if (apr_pool_create(&cache_pool, pool) != APR_SUCCESS) {
    apr_pool_destroy(pool);
    return nullptr;
  }
  auto* ctx = static_cast<ctx_data*>(apr_pcalloc(pool, sizeof(ctx_data)));
  ctx->pool = pool;
  ctx->cache_pool = cache_pool;
  ctx->role_stores = zeb::decision::role_stores{};
  // Found by its configuration even before a set-up completes, so that a
  // retry reuses it.
  ctx->conf = *conf;
  // Not as a child clean-up: a process forked to run a repository hook
  // must not release runtimes and TLS locks that threads of its parent
  // were using when it forked.
  apr_pool_cleanup_register(pool, ctx, cleanup_ctx_data, apr_pool_cleanup_null);
  zeb::count_context(1, sizeof(ctx_data));
  *slot = ctx;
  return ctx;
}

}  // namespace

ctx_data* existing_userdata(request_rec* r, const authnz_zeb_config_rec* conf) {
  void* data = nullptr;
  if (apr_pool_userdata_get(&data, kUserdataKey, r->connection->pool) != APR_SUCCESS ||
      data == nullptr) {
    return nullptr;
  }
  auto* contexts = static_cast<connection_contexts*>(data);
  ctx_data* context = find_context(contexts, conf);
  if (context == nullptr || !context->setup_complete) return nullptr;
  context->last_used = ++contexts->clock;
  return context;
}

int get_userdata(ctx_data** ctx, request_rec* r, const authnz_zeb_config_rec* conf) {
  apr_pool_t* conn_pool = r->connection->pool;
  void* data = nullptr;
  if (apr_pool_userdata_get(&data, kUserdataKey, conn_pool) != APR_SUCCESS) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Error fetching connection userdata");
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  auto* contexts = static_cast<connection_contexts*>(data);
  if (contexts == nullptr) {
    contexts =
        static_cast<connection_contexts*>(apr_pcalloc(conn_pool, sizeof(connection_contexts)));
    if (apr_pool_userdata_set(contexts, kUserdataKey, nullptr, conn_pool) != APR_SUCCESS) {
      ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Error setting connection pool userdata");
      return HTTP_INTERNAL_SERVER_ERROR;
    }
  }
  ctx_data* context = find_context(contexts, conf);
  if (context == nullptr) context = make_context(contexts, conf, conn_pool);
  if (context == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Error setting connection pool userdata");
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  context->last_used = ++contexts->clock;
  if (!context->setup_complete) {
    const int rc = set_up_context(context, r, conf);
    // Service calls make their own runtime.
    destroy_soap_environment(&context->service);
    if (rc != OK) return rc;
    context->setup_complete = 1;
  }
  *ctx = context;
  return OK;
}

int is_cache_okay(const char* username, const char* password, const char* repos_name, ctx_data* ctx,
                  request_rec* r) {
  // Only a password to compare needs the secret.
  const char* secret = password != nullptr ? shared_secret(ctx->service.properties_hash) : nullptr;
  const cache_comparison cmp =
      compare_credentials(&ctx->credentials, secret, username, password, repos_name);
  if (cmp.user_differs) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Request username (%s) differs from cached username (%s)", username,
                  ctx->credentials.cached_username);
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
  if (ctx->credentials.cached_username == nullptr) return;
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                "Resetting connection cache authentication and authorization data");
  clear_connection_cache(ctx);
}

void expire_cached_authnz_data(ctx_data* ctx, request_rec* r) {
  if (r->main != nullptr ||
      !credentials_expired(&ctx->credentials, ctx->conf.memcache_ttl, apr_time_now())) {
    return;
  }
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                "Connection cache is older than %" APR_INT64_T_FMT " seconds",
                ctx->conf.memcache_ttl);
  reset_cached_authnz_data(ctx, r);
}

extern "C" apr_status_t cleanup_ctx_data(void* data) {
  zeb::count_context(-1, -static_cast<std::int64_t>(sizeof(ctx_data)));
  destroy_soap_environment(&static_cast<ctx_data*>(data)->service);
  return APR_SUCCESS;
}
