// Per-directory configuration records; kept apart from the module record so
// that it builds and is tested without a running httpd.
#include <apr_strings.h>

#include <charconv>
#include <cstdint>
#include <cstring>

#include "mod_authnz_zeb.h"

namespace {

// memcached reads a larger expiry as an absolute Unix time, and 0 as never.
constexpr apr_int64_t kMaxRelativeTtl = 2592000;

constexpr apr_size_t kMegabyte = 1024 * 1024;
constexpr apr_size_t kMaxRoleCacheMegabytes = 65536;

// Set while the configuration is read, before httpd starts its children.
apr_size_t role_cache_bytes = kDefaultRoleCacheMegabytes * kMegabyte;

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

const char* parse_memcache_ttl(const char* arg, apr_int64_t* ttl, apr_pool_t* pool) {
  // Digits only: no sign, space or unit, and nothing that overflows.
  const char* end = arg + std::strlen(arg);
  std::uint32_t value = 0;
  const auto [stop, ec] = std::from_chars(arg, end, value);
  if (ec != std::errc() || stop != end || value < 1 || value > kMaxRelativeTtl) {
    return apr_psprintf(pool,
                        "AuthnzZEBMemcacheTTL '%s' is not a whole number of seconds from 1 to "
                        "%" APR_INT64_T_FMT,
                        arg, kMaxRelativeTtl);
  }
  *ttl = value;
  return nullptr;
}

apr_size_t role_cache_limit() {
  return role_cache_bytes;
}

void set_role_cache_limit(apr_size_t bytes) {
  role_cache_bytes = bytes;
}

const char* parse_role_cache_size(const char* arg, apr_size_t* bytes, apr_pool_t* pool) {
  const char* end = arg + std::strlen(arg);
  std::uint32_t megabytes = 0;
  const auto [stop, ec] = std::from_chars(arg, end, megabytes);
  if (ec != std::errc() || stop != end || megabytes > kMaxRoleCacheMegabytes) {
    return apr_psprintf(pool,
                        "AuthnzZEBRoleCacheSize '%s' is not a whole number of megabytes from 0 "
                        "to %lu",
                        arg, static_cast<unsigned long>(kMaxRoleCacheMegabytes));
  }
  *bytes = megabytes * kMegabyte;
  return nullptr;
}
