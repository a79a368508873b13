// memcached through the context's configuration, with a client borrowed from
// the process for the one operation.
#ifndef CONTEXT_CACHE_H
#define CONTEXT_CACHE_H

#include "context_data.h"

// Keys and fetched values are made in pool, a scratch pool of the caller. Any
// failure is a non-zero status (a miss, or nothing stored).
apr_status_t context_cache_fetch(ctx_data* ctx, const char* user_key, char** data,
                                 apr_size_t* length, apr_pool_t* pool);
apr_status_t context_cache_stash(ctx_data* ctx, const char* user_key, const char* data,
                                 apr_size_t length, apr_pool_t* pool);

#endif
