// Per-directory configuration records; kept apart from the module record so
// that it builds and is tested without a running httpd.
#include <apr_strings.h>

#include <cstdlib>
#include <cstring>

#include "mod_authnz_zeb.h"

namespace {

// memcached reads a larger expiry as an absolute Unix time.
constexpr apr_int64_t kMaxRelativeTtl = 2592000;

bool is_plain_whole_number(const char* arg) {
  if (*arg == '-') ++arg;
  if (*arg == '\0') return false;
  for (; *arg; ++arg) {
    if (*arg < '0' || *arg > '9') return false;
  }
  return true;
}

}  // namespace

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

const char* memcache_ttl_warning(const char* arg, apr_pool_t* pool) {
  const apr_int64_t ttl = parse_memcache_ttl(arg);
  const char* problem = nullptr;
  if (!is_plain_whole_number(arg)) {
    problem = "is not a plain whole number of seconds";
  } else if (ttl == 0) {
    problem = "is 0: cached entries never expire, so revoked rights stay cached until a flush";
  } else if (ttl < 0) {
    problem = "is negative";
  } else if (ttl > kMaxRelativeTtl) {
    problem = "is above 2592000: memcached reads it as an absolute time, so entries expire at once";
  }
  if (problem == nullptr) return nullptr;
  return apr_psprintf(pool, "AuthnzZEBMemcacheTTL '%s' %s (taken as %" APR_INT64_T_FMT ")", arg,
                      problem, ttl);
}
