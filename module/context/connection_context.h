// The connection context: everything that is costly to obtain, made by the
// first request of a connection that uses a configuration and kept, in a
// pool of its own below the connection's, while the connection lasts. A
// connection holds one context per configuration it meets (a few at most).
#ifndef CONNECTION_CONTEXT_H
#define CONNECTION_CONTEXT_H

#include <apr_hash.h>
#include <apr_pools.h>
#include <apr_tables.h>
#include <stdsoap2.h>
// Only gSOAP's own build reads it; httpd's headers define it differently.
#undef HAVE_TIMEGM

#include "cache_keys.h"
#include "mod_authnz_zeb.h"
#include "role_stores.h"
#include "zeb_authorizer.h"
#include "zeb_memcache.h"

typedef struct ctx_data {
  const char* cached_username;
  // The password's digest keyed with the shared secret, as in the memcached
  // key, never the password itself.
  const char* cached_password_digest;
  int authenticated_internally;
  const char* repos_name;
  const char* request_key;
  apr_hash_t* properties_hash;
  const char* scm_listener_url;
  const char* external_system_id;
  // Made for the set-up and for each service call, and released after it:
  // the runtime holds large buffers that an idle connection must not keep.
  // Null between calls.
  struct soap* soap;
  // Set when the runtime may wait in the process for the next call: made
  // whole with TLS under tls_runtime_key (null without TLS).
  int soap_lendable;
  const char* tls_runtime_key;
  int use_role_paths_api;
  // The cached user's role stores and global access, per repository; their
  // pools hang from cache_pool.
  zeb::decision::role_stores role_stores;
  authnz_zeb_config_rec conf;
  apr_pool_t* pool;
  // The cached strings and the role store, with everything hanging from
  // it; cleared by a reset, so a long connection does not grow with every
  // change of user.
  apr_pool_t* cache_pool;
  // When the cached user was accepted: the cache answers for at most the
  // memcached time-to-live after it, so that a revocation reaches open
  // connections too.
  apr_time_t cache_filled_at;
  apr_uint64_t last_used;
  // Set-up bookkeeping: what has to be released, and whether the context may
  // serve requests. A failed set-up is retried by the next request.
  int openssl_thread_setup;
  int setup_complete;
} ctx_data;

inline constexpr char kUserdataKey[] = "mod_authnz_zeb_userdata_key";
using zeb::kMemcachePrefix;
inline constexpr char kListenerSslProperty[] = "dwmain.integration.listener_ssl";
inline constexpr char kSharedSecretProperty[] = "dwmain.integration.security.shared_secret";

inline constexpr int kMaxContextsPerConnection = 4;

// The context of the request's configuration; made when the connection
// meets it first, replacing the least recently used one beyond
// kMaxContextsPerConnection. Returns OK with *ctx set, or
// HTTP_INTERNAL_SERVER_ERROR, or a service failure's status when the
// external system id could not be fetched.
int get_userdata(ctx_data** ctx, request_rec* r, const authnz_zeb_config_rec* conf);

// memcached through a client borrowed from the process for the one
// operation; keys and fetched values are made in pool, a scratch pool of the
// caller. Any failure is a non-zero status (a miss, or nothing stored).
apr_status_t context_cache_fetch(ctx_data* ctx, const char* user_key, char** data,
                                 apr_size_t* length, apr_pool_t* pool);
apr_status_t context_cache_stash(ctx_data* ctx, const char* user_key, const char* data,
                                 apr_size_t length, apr_pool_t* pool);

// Reads a properties file into a new hash in pool (handed out even on
// failure). 0, or HTTP_INTERNAL_SERVER_ERROR after logging.
int load_properties(apr_hash_t** props, const char* filename, request_rec* r, apr_pool_t* pool);

int is_cache_okay(const char* username, const char* password, const char* repos_name, ctx_data* ctx,
                  request_rec* r);
void reset_cached_authnz_data(ctx_data* ctx, request_rec* r);
// Resets the connection cache once it is older than the time-to-live; run
// at the start of a main request, before the cache is used.
void expire_cached_authnz_data(ctx_data* ctx, request_rec* r);
char* get_memcache_user_key(const ctx_data* ctx, const char* repos_name, apr_pool_t* pool);

extern "C" apr_status_t cleanup_ctx_data(void* data);

#endif
