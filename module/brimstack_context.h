// The connection context: everything that is costly to obtain, made by the
// first request of a connection and kept in the connection's pool.
#ifndef BRIMSTACK_CONTEXT_H
#define BRIMSTACK_CONTEXT_H

#include <apr_hash.h>
#include <apr_memcache.h>
#include <apr_pools.h>
#include <apr_tables.h>
#include <stdsoap2.h>
// Only gSOAP's own build reads it; httpd's headers define it differently.
#undef HAVE_TIMEGM

#include "mod_authnz_zeb.h"
#include "zeb_authorizer.h"

typedef struct ctx_data {
  const char* cached_username;
  const char* cached_password;
  int authenticated_internally;
  const char* repos_name;
  const char* request_key;
  apr_hash_t* properties_hash;
  const char* scm_listener_url;
  const char* external_system_id;
  struct soap soap;
  pbp_access_t global_access_granted;
  int use_role_paths_api;
  apr_array_header_t* role_pbps;
  apr_memcache_t* memcache;
  authnz_zeb_config_rec conf;
  apr_pool_t* pool;
  // Set-up bookkeeping: what has to be released, and whether the context may
  // serve requests. A failed set-up is retried by the next request.
  int soap_initialized;
  int openssl_thread_setup;
  int setup_complete;
} ctx_data;

inline constexpr char kUserdataKey[] = "mod_authnz_zeb_userdata_key";
inline constexpr char kMemcachePrefix[] = "mod_authnz_zeb";
inline constexpr char kListenerSslProperty[] = "dwmain.integration.listener_ssl";

// Returns OK with *ctx set, or HTTP_INTERNAL_SERVER_ERROR.
int get_userdata(ctx_data** ctx, request_rec* r, const authnz_zeb_config_rec* conf);

// Reads a properties file into a new hash in pool (handed out even on
// failure). 0, or HTTP_INTERNAL_SERVER_ERROR after logging.
int load_properties(apr_hash_t** props, const char* filename, request_rec* r, apr_pool_t* pool);

int is_cache_okay(const char* username, const char* password, const char* repos_name, ctx_data* ctx,
                  request_rec* r);
void reset_cached_authnz_data(ctx_data* ctx, request_rec* r);
char* get_memcache_user_key(const ctx_data* ctx, const char* repos_name, apr_pool_t* pool);

extern "C" apr_status_t cleanup_ctx_data(void* data);

#endif
