#include "context_cache.h"

#include "cache_keys.h"
#include "zeb_memcache.h"
#include "zeb_memcache_lending.h"

apr_status_t context_cache_fetch(ctx_data* ctx, const char* user_key, char** data,
                                 apr_size_t* length, apr_pool_t* pool) {
  const zeb_memcache::borrowed_handle mc(ctx->conf.memcache_server);
  if (mc.status() != APR_SUCCESS) return mc.status();
  return memcache_cache_get(mc.get(), user_key, zeb::kMemcachePrefix, data, length, pool);
}

apr_status_t context_cache_stash(ctx_data* ctx, const char* user_key, const char* data,
                                 apr_size_t length, apr_pool_t* pool) {
  const zeb_memcache::borrowed_handle mc(ctx->conf.memcache_server);
  if (mc.status() != APR_SUCCESS) return mc.status();
  return memcache_cache_set(mc.get(), user_key, zeb::kMemcachePrefix, data, length,
                            static_cast<apr_uint32_t>(ctx->conf.memcache_ttl), pool);
}
