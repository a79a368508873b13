#include "connection_cache.h"

#include <apr_strings.h>

#include "cache_keys.h"

bool clear_connection_cache(ctx_data* ctx) {
  if (!clear_credentials(&ctx->credentials)) return false;
  ctx->role_stores = zeb::decision::role_stores{};
  // Frees the strings and the role store with its processed permissions.
  apr_pool_clear(ctx->cache_pool);
  return true;
}

char* get_memcache_user_key(const ctx_data* ctx, const char* repos_name, apr_pool_t* pool) {
  return apr_pstrdup(
      pool, zeb::role_paths_key(ctx->service.scm_listener_url, ctx->service.external_system_id,
                                repos_name, ctx->credentials.cached_username)
                .c_str());
}
