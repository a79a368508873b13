// The module record, its per-directory configuration and the hook entry
// points that httpd calls.
#ifndef MOD_AUTHNZ_ZEB_H
#define MOD_AUTHNZ_ZEB_H

#include <apr_pools.h>
#include <httpd.h>

#include <http_config.h>

// The symbol httpd looks up; mod_authnz_zeb.map lists all that the module
// exports.
extern "C" {
extern module AP_MODULE_DECLARE_DATA __attribute__((visibility("default"))) authnz_zeb_module;
}

// One per configuration section that uses one of the module's directives,
// plus the server-wide default. Never merged: a later section replaces it.
typedef struct authnz_zeb_config_rec {
  const char* base_uri;
  const char* brimstack_properties_file;
  const char* memcache_server;
  apr_int64_t memcache_ttl;
} authnz_zeb_config_rec;

inline constexpr apr_int64_t kDefaultMemcacheTtl = 600;

void* create_authnz_zeb_dir_config(apr_pool_t* p, char* dir);

// The TTL directive's value into *ttl: a whole number of seconds that
// memcached reads as relative and finite (1 to 2592000). Otherwise the
// directive's error text, allocated in pool, and *ttl untouched.
const char* parse_memcache_ttl(const char* arg, apr_int64_t* ttl, apr_pool_t* pool);

// The process-wide cache of processed role sets (AuthnzZEBRoleCacheSize):
// its size in bytes, one value for the whole server.
inline constexpr apr_size_t kDefaultRoleCacheMegabytes = 32;
apr_size_t role_cache_limit();
void set_role_cache_limit(apr_size_t bytes);
// Reads the directive's argument, whole megabytes from 0 to 65536, into
// *bytes; an error text allocated in pool when it is anything else.
const char* parse_role_cache_size(const char* arg, apr_size_t* bytes, apr_pool_t* pool);

#endif
