#include "zeb_memcache.h"

#include <apr_md5.h>
#include <apr_network_io.h>
#include <apr_strings.h>

#include <cstring>

namespace {

// Connection pool of the one server in a client.
constexpr apr_uint32_t kMinConnections = 0;
constexpr apr_uint32_t kSoftMaxConnections = 1;
constexpr apr_uint32_t kHardMaxConnections = 5;
constexpr apr_uint32_t kIdleConnectionUsec = 60000000;

// Marks a pool as one this layer made for a single client, so that the
// client can be destroyed with it once it is replaced.
constexpr char kClientPoolTag[] = "zeb_memcache:client";

// A child pool destroyed on scope exit; get() is null when it could not be made.
class ScratchPool {
 public:
  explicit ScratchPool(apr_pool_t* parent) {
    if (apr_pool_create(&pool_, parent) != APR_SUCCESS) pool_ = nullptr;
  }
  ~ScratchPool() {
    if (pool_) apr_pool_destroy(pool_);
  }
  ScratchPool(const ScratchPool&) = delete;
  ScratchPool& operator=(const ScratchPool&) = delete;

  apr_pool_t* get() const { return pool_; }

 private:
  apr_pool_t* pool_ = nullptr;
};

// A replaced client is unreachable for the caller; without this, a
// connection kept open while memcached is down would pile up one abandoned
// client per cache operation until the connection closes.
void discard_client(apr_memcache_t* mc) {
  void* owner = nullptr;
  if (mc->p && apr_pool_userdata_get(&owner, kClientPoolTag, mc->p) == APR_SUCCESS && owner == mc) {
    apr_pool_destroy(mc->p);
  }
}

// Builds a client for host:port in a pool of its own and keeps it only if
// the server answers.
apr_status_t make_client(const char* host, apr_port_t port, apr_memcache_t** mc, apr_pool_t* pool) {
  apr_pool_t* client_pool = nullptr;
  if (apr_pool_create(&client_pool, pool) != APR_SUCCESS) return ZEB_MEMCACHE_ECLIENT;

  apr_memcache_t* client = nullptr;
  apr_memcache_server_t* server = nullptr;
  if (apr_memcache_create(client_pool, 1, 0, &client) != APR_SUCCESS ||
      apr_memcache_server_create(client_pool, host, port, kMinConnections, kSoftMaxConnections,
                                 kHardMaxConnections, kIdleConnectionUsec,
                                 &server) != APR_SUCCESS ||
      apr_memcache_add_server(client, server) != APR_SUCCESS ||
      memcache_server_status(host, port, client, client_pool) != APR_SUCCESS) {
    apr_pool_destroy(client_pool);
    return ZEB_MEMCACHE_ECLIENT;
  }
  apr_pool_userdata_setn(client, kClientPoolTag, nullptr, client_pool);
  *mc = client;
  return APR_SUCCESS;
}

}  // namespace

extern "C" {

apr_status_t memcache_server__parsestr(const char* address, char** host, apr_port_t* port,
                                       apr_pool_t* pool) {
  if (!address || !host || !port) return ZEB_MEMCACHE_EADDRESS;

  char* parsed_host = nullptr;
  char* scope_id = nullptr;
  apr_port_t parsed_port = 0;
  if (apr_parse_addr_port(&parsed_host, &scope_id, &parsed_port, address, pool) != APR_SUCCESS ||
      !parsed_host || scope_id) {
    return ZEB_MEMCACHE_EADDRESS;
  }
  // APR takes "name:junk" (a port that is not a number) and unbracketed IPv6
  // for a host name; no resolver would ever find them.
  if (address[0] != '[' && std::strchr(parsed_host, ':')) return ZEB_MEMCACHE_EADDRESS;

  *host = parsed_host;
  *port = parsed_port ? parsed_port : ZEB_MEMCACHE_DEFAULT_PORT;
  return APR_SUCCESS;
}

apr_status_t memcache_server_connect(const char* address, apr_memcache_t** mc, apr_pool_t* pool) {
  if (!address) return ZEB_MEMCACHE_EADDRESS;
  if (!mc || !pool) return ZEB_MEMCACHE_ECLIENT;

  ScratchPool scratch(pool);
  if (!scratch.get()) return ZEB_MEMCACHE_ECLIENT;
  char* host = nullptr;
  apr_port_t port = 0;
  if (memcache_server__parsestr(address, &host, &port, scratch.get()) != APR_SUCCESS) {
    return ZEB_MEMCACHE_EADDRESS;
  }

  if (*mc) {
    if (memcache_server_status(host, port, *mc, scratch.get()) == APR_SUCCESS) return APR_SUCCESS;
    discard_client(*mc);
    *mc = nullptr;
  }
  return make_client(host, port, mc, pool);
}

apr_status_t memcache_server_status(const char* host, apr_port_t port, apr_memcache_t* mc,
                                    apr_pool_t* pool) {
  if (!host || !mc) return ZEB_MEMCACHE_ESTATUS;
  apr_memcache_server_t* server = apr_memcache_find_server(mc, host, port);
  if (!server) return ZEB_MEMCACHE_ESTATUS;

  ScratchPool scratch(pool);
  apr_memcache_stats_t* stats = nullptr;
  if (!scratch.get() || apr_memcache_stats(server, scratch.get(), &stats) != APR_SUCCESS) {
    return ZEB_MEMCACHE_ESTATUS;
  }
  // A failed store or read marks the server dead, and the client then skips
  // it for seconds even though it answers again; it has just answered.
  apr_memcache_enable_server(mc, server);
  return APR_SUCCESS;
}

apr_status_t memcache_cache_genkey(const char* userkey, const char* prefix, const char** key,
                                   apr_size_t* key_len, apr_pool_t* pool) {
  if (!userkey || !prefix || !key || !pool) return ZEB_MEMCACHE_EKEY;

  ScratchPool scratch(pool);
  if (!scratch.get()) return ZEB_MEMCACHE_EKEY;
  const char* text =
      apr_pstrcat(scratch.get(), "|", "AUTHNZ_ZEB", "|", prefix, "|", userkey, "|", nullptr);
  unsigned char digest[APR_MD5_DIGESTSIZE];
  if (apr_md5(digest, text, std::strlen(text)) != APR_SUCCESS) return ZEB_MEMCACHE_EKEY;

  *key = svn__digest_to_cstring_display(digest, sizeof digest, pool);
  if (key_len) *key_len = 2 * sizeof digest;
  return APR_SUCCESS;
}

apr_status_t memcache_cache_set(apr_memcache_t* mc, const char* userkey, const char* prefix,
                                const char* data, apr_size_t data_len, apr_uint32_t ttl,
                                apr_pool_t* pool) {
  ScratchPool scratch(pool);
  const char* key = nullptr;
  apr_status_t rv = memcache_cache_genkey(userkey, prefix, &key, nullptr, scratch.get());
  if (rv != APR_SUCCESS) return rv;
  if (!mc || (!data && data_len)) return ZEB_MEMCACHE_ESTORE;

  // apr_memcache_set only reads the data; its parameter merely lacks const.
  if (apr_memcache_set(mc, key, const_cast<char*>(data), data_len, ttl, 0) != APR_SUCCESS) {
    return ZEB_MEMCACHE_ESTORE;
  }
  return APR_SUCCESS;
}

apr_status_t memcache_cache_get(apr_memcache_t* mc, const char* userkey, const char* prefix,
                                char** data, apr_size_t* data_len, apr_pool_t* pool) {
  ScratchPool scratch(pool);
  const char* key = nullptr;
  apr_status_t rv = memcache_cache_genkey(userkey, prefix, &key, nullptr, scratch.get());
  if (rv != APR_SUCCESS) return rv;
  if (!mc || !pool) return ZEB_MEMCACHE_EREAD;

  char* value = nullptr;
  apr_size_t length = 0;
  rv = apr_memcache_getp(mc, pool, key, &value, &length, nullptr);
  if (rv == APR_NOTFOUND) return ZEB_MEMCACHE_ENOTFOUND;
  if (rv != APR_SUCCESS) return ZEB_MEMCACHE_EREAD;

  // Callers read values as NUL-terminated text; an empty value must not
  // reach them as a null pointer.
  if (!value) {
    value = static_cast<char*>(apr_pcalloc(pool, 1));
    length = 0;
  }
  if (data) *data = value;
  if (data_len) *data_len = length;
  return APR_SUCCESS;
}

apr_status_t memcache_cache_stash(const char* address, apr_memcache_t** mc, const char* prefix,
                                  const char* userkey, apr_uint32_t ttl, const char* data,
                                  apr_size_t data_len, apr_pool_t* pool) {
  apr_status_t rv = memcache_server_connect(address, mc, pool);
  if (rv != APR_SUCCESS) return rv;
  return memcache_cache_set(*mc, userkey, prefix, data, data_len, ttl, pool);
}

apr_status_t memcache_cache_fetch(const char* address, apr_memcache_t** mc, const char* prefix,
                                  const char* userkey, char** data, apr_size_t* data_len,
                                  apr_pool_t* pool) {
  apr_status_t rv = memcache_server_connect(address, mc, pool);
  if (rv != APR_SUCCESS) return rv;
  return memcache_cache_get(*mc, userkey, prefix, data, data_len, pool);
}

const char* svn__digest_to_cstring_display(const unsigned char digest[], apr_size_t digest_size,
                                           apr_pool_t* pool) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  if (!digest) digest_size = 0;
  char* text = static_cast<char*>(apr_palloc(pool, 2 * digest_size + 1));
  for (apr_size_t i = 0; i < digest_size; ++i) {
    text[2 * i] = kHexDigits[digest[i] >> 4];
    text[2 * i + 1] = kHexDigits[digest[i] & 0x0f];
  }
  text[2 * digest_size] = '\0';
  return text;
}

}  // extern "C"
