// The connection cache as a whole: the accepted credentials and the role
// store that was loaded for them. Free of httpd, so tested on its own.
#ifndef CONNECTION_CACHE_H
#define CONNECTION_CACHE_H

#include "context_data.h"

// Empties the credentials and the role store and clears the cache pool;
// false (and nothing changed) when no user is cached.
bool clear_connection_cache(ctx_data* ctx);

// The memcached user key of the cached user's role paths in repos_name.
char* get_memcache_user_key(const ctx_data* ctx, const char* repos_name, apr_pool_t* pool);

#endif
