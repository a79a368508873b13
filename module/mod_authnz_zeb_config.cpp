// Per-directory configuration records; kept apart from the module record so
// that it builds and is tested without a running httpd.
#include <apr_strings.h>

#include <cstdlib>
#include <cstring>

#include "mod_authnz_zeb.h"

void* create_authnz_zeb_dir_config(apr_pool_t* p, char* dir) {
  auto* conf = static_cast<authnz_zeb_config_rec*>(apr_pcalloc(p, sizeof(authnz_zeb_config_rec)));
  if (dir != nullptr) {
    char* base = apr_pstrdup(p, dir);
    size_t len = std::strlen(base);
    // Only one trailing slash goes; "/" itself stays the root.
    if (len > 1 && base[len - 1] == '/') base[len - 1] = '\0';
    conf->base_uri = base;
  }
  conf->memcache_ttl = kDefaultMemcacheTtl;
  return conf;
}

apr_int64_t parse_memcache_ttl(const char* arg) {
  return std::atol(arg);
}
