// The connection context: everything that is costly to obtain, made by the
// first request of a connection that uses a configuration and kept, in a
// pool of its own below the connection's, while the connection lasts. A
// connection holds one context per configuration it meets (a few at most).
#ifndef CONNECTION_CONTEXT_H
#define CONNECTION_CONTEXT_H

#include <httpd.h>

#include "cache_keys.h"
#include "connection_cache.h"
#include "context_cache.h"
#include "context_data.h"

inline constexpr char kUserdataKey[] = "mod_authnz_zeb_userdata_key";
using zeb::kMemcachePrefix;

inline constexpr int kMaxContextsPerConnection = 4;

// The context of the request's configuration; made when the connection
// meets it first, replacing the least recently used one beyond
// kMaxContextsPerConnection. Returns OK with *ctx set, or
// HTTP_INTERNAL_SERVER_ERROR, or a service failure's status when the
// external system id could not be fetched.
int get_userdata(ctx_data** ctx, request_rec* r, const authnz_zeb_config_rec* conf);

// The context of the request's configuration when the connection has one
// that is set up; null otherwise (nothing is made).
ctx_data* existing_userdata(request_rec* r, const authnz_zeb_config_rec* conf);

int is_cache_okay(const char* username, const char* password, const char* repos_name, ctx_data* ctx,
                  request_rec* r);
void reset_cached_authnz_data(ctx_data* ctx, request_rec* r);
// Resets the connection cache once it is older than the time-to-live; run
// at the start of a main request, before the cache is used.
void expire_cached_authnz_data(ctx_data* ctx, request_rec* r);

extern "C" apr_status_t cleanup_ctx_data(void* data);

#endif
