#include "zeb_memcache.h"

#include <apr_md5.h>
#include <apr_strings.h>
#include <libmemcached/memcached.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "status_counting.h"
#include "zeb_memcache_health.h"
#include "zeb_memcache_servers.h"

struct zeb_memcache_handle {
  std::string address;  // the text the handle was made for
  zeb_memcache::server_list list;
  // The servers the client was built with: those that had not failed lately.
  std::vector<bool> live;
  memcached_st* client = nullptr;
  apr_pool_t* pool = nullptr;  // runs the handle's release
};

namespace {

// Lower-case hexadecimal form of digest_size bytes, high half first,
// allocated in pool.
const char* hex_digest(const unsigned char digest[], apr_size_t digest_size, apr_pool_t* pool) {
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

using zeb_memcache::server;

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

void free_client(zeb_memcache_t* mc) {
  if (mc->client) memcached_free(mc->client);
  mc->client = nullptr;
}

apr_status_t release_handle(void* data) {
  auto* mc = static_cast<zeb_memcache_t*>(data);
  free_client(mc);
  delete mc;
  return APR_SUCCESS;
}

// A replaced handle is unreachable for the caller; without this, a
// connection kept open while memcached is down would pile up one abandoned
// handle per cache operation until the connection closes.
void discard_handle(zeb_memcache_t** mc) {
  if (*mc) apr_pool_cleanup_run((*mc)->pool, *mc, release_handle);
  *mc = nullptr;
}

// Failures that say the server is unreachable, slow or gone rather than
// that it answered "no".
bool server_failed(memcached_return_t rc) {
  switch (rc) {
    case MEMCACHED_HOST_LOOKUP_FAILURE:
    case MEMCACHED_CONNECTION_FAILURE:
    case MEMCACHED_CONNECTION_SOCKET_CREATE_FAILURE:
    case MEMCACHED_WRITE_FAILURE:
    case MEMCACHED_READ_FAILURE:
    case MEMCACHED_UNKNOWN_READ_FAILURE:
    case MEMCACHED_PROTOCOL_ERROR:
    case MEMCACHED_ERRNO:
    case MEMCACHED_TIMEOUT:
    case MEMCACHED_SERVER_MARKED_DEAD:
    case MEMCACHED_SERVER_TEMPORARILY_DISABLED:
      return true;
    default:
      return false;
  }
}

// A client for the given servers with the list's time-outs; null when
// libmemcached cannot make one. Keys are placed by consistent hashing over
// the servers' names, so a server missing from the list moves only its keys.
memcached_st* make_client(const zeb_memcache::server_list& list, const std::vector<bool>& use) {
  memcached_st* client = memcached_create(nullptr);
  if (!client) return nullptr;
  const uint64_t timeout_ms = list.timeout_ms;
  const bool configured =
      memcached_behavior_set(client, MEMCACHED_BEHAVIOR_KETAMA, 1) == MEMCACHED_SUCCESS &&
      memcached_behavior_set(client, MEMCACHED_BEHAVIOR_CONNECT_TIMEOUT, timeout_ms) ==
          MEMCACHED_SUCCESS &&
      memcached_behavior_set(client, MEMCACHED_BEHAVIOR_POLL_TIMEOUT, timeout_ms) ==
          MEMCACHED_SUCCESS &&
      memcached_behavior_set(client, MEMCACHED_BEHAVIOR_SND_TIMEOUT, timeout_ms * 1000) ==
          MEMCACHED_SUCCESS &&
      memcached_behavior_set(client, MEMCACHED_BEHAVIOR_RCV_TIMEOUT, timeout_ms * 1000) ==
          MEMCACHED_SUCCESS &&
      memcached_behavior_set(client, MEMCACHED_BEHAVIOR_TCP_NODELAY, 1) == MEMCACHED_SUCCESS;
  bool added = configured;
  for (size_t i = 0; added && i < list.servers.size(); ++i) {
    if (!use[i]) continue;
    const server& s = list.servers[i];
    added = (s.unix_socket()
                 ? memcached_server_add_unix_socket(client, s.host.c_str())
                 : memcached_server_add(client, s.host.c_str(), s.port)) == MEMCACHED_SUCCESS;
  }
  if (!added) {
    memcached_free(client);
    return nullptr;
  }
  return client;
}

// Brings the handle's client in line with the servers that have not failed
// lately. False when there is none, or no client can be made.
bool refresh_client(zeb_memcache_t* mc) {
  std::vector<bool> live;
  bool any = false;
  for (const server& s : mc->list.servers) {
    live.push_back(!zeb_memcache::is_down(s.label));
    any = any || live.back();
  }
  if (mc->client && live == mc->live) return true;
  free_client(mc);
  mc->live = std::move(live);
  if (!any) return false;
  mc->client = make_client(mc->list, mc->live);
  return mc->client != nullptr;
}

const server* find_server(const zeb_memcache_t* mc, const char* host, apr_port_t port) {
  for (const server& s : mc->list.servers) {
    if (s.host == host && s.port == port) return &s;
  }
  return nullptr;
}

// The configured server that holds key in the handle's client, or null.
const server* key_server(const zeb_memcache_t* mc, const char* key) {
  memcached_return_t rc = MEMCACHED_SUCCESS;
  const memcached_instance_st* instance =
      memcached_server_by_key(mc->client, key, std::strlen(key), &rc);
  if (!instance) return nullptr;
  return find_server(mc, memcached_server_name(instance), memcached_server_port(instance));
}

// Every server that the handle's client leaves out for its recent failure.
void count_skipped(const zeb_memcache_t* mc) {
  for (std::size_t i = 0; i < mc->live.size(); ++i) {
    if (!mc->live[i])
      zeb::count_memcached(mc->list.servers[i].label, zeb::status::cache_result::skipped);
  }
}

// What an operation answered, and the server that holds its key (null
// when no client could be made).
struct key_result {
  memcached_return_t rc;
  const server* on;
};

// Runs one operation on the server that holds key. A connection that broke
// since its last use (the server restarted) fails at once; the operation is
// then tried once more on a fresh connection. A time-out is not tried again.
// After a failure of the server, it is left alone for the retry period and
// the next operation builds a client without it.
template <typename Operation>
key_result run_on_key(zeb_memcache_t* mc, const char* key, Operation operation) {
  const bool ready = refresh_client(mc);
  count_skipped(mc);
  if (!ready) return {MEMCACHED_NO_SERVERS, nullptr};
  const server* on = key_server(mc, key);
  memcached_return_t rc = operation(mc->client);
  if (server_failed(rc) && rc != MEMCACHED_TIMEOUT) {
    free_client(mc);
    if (!refresh_client(mc)) return {rc, on};
    rc = operation(mc->client);
  }
  if (server_failed(rc)) {
    if (on) zeb_memcache::mark_down(on->label, mc->list.retry_seconds);
    free_client(mc);
  }
  return {rc, on};
}

// Counts what an operation found on its server; hits and misses are only
// for reads.
void count_result(const key_result& result, bool read) {
  if (!result.on) return;
  zeb::status::cache_result counted = zeb::status::cache_result::error;
  if (result.rc == MEMCACHED_SUCCESS) {
    if (!read) return;
    counted = zeb::status::cache_result::hit;
  } else if (result.rc == MEMCACHED_NOTFOUND) {
    if (!read) return;
    counted = zeb::status::cache_result::miss;
  }
  zeb::count_memcached(result.on->label, counted);
}

// Asks one server for its statistics with the list's time-outs.
bool answers_statistics(const zeb_memcache::server_list& list, const server& s) {
  zeb_memcache::server_list single{{s}, list.timeout_ms, list.retry_seconds};
  memcached_st* client = make_client(single, {true});
  if (!client) return false;
  memcached_return_t rc = MEMCACHED_FAILURE;
  memcached_stat_st* stats = memcached_stat(client, nullptr, &rc);
  if (stats) memcached_stat_free(client, stats);
  memcached_free(client);
  // With one server, any other answer (libmemcached sums failures up as
  // "some errors") means that it did not answer.
  if (rc != MEMCACHED_SUCCESS) {
    zeb_memcache::mark_down(s.label, list.retry_seconds);
    return false;
  }
  zeb_memcache::mark_up(s.label);
  return true;
}

// A handle for address registered for release with pool, or null.
zeb_memcache_t* make_handle(const char* address, zeb_memcache::server_list list, apr_pool_t* pool) {
  auto* mc = new (std::nothrow) zeb_memcache_t;
  if (!mc) return nullptr;
  mc->address = address;
  mc->list = std::move(list);
  mc->pool = pool;
  apr_pool_cleanup_register(pool, mc, release_handle, apr_pool_cleanup_null);
  return mc;
}

}  // namespace

extern "C" {

apr_status_t memcache_server_connect(const char* address, zeb_memcache_t** mc, apr_pool_t* pool) {
  if (!address) return ZEB_MEMCACHE_EADDRESS;
  if (!mc || !pool) return ZEB_MEMCACHE_ECLIENT;

  // Every stash and fetch comes through here: a handle for the same address
  // is kept without parsing it again.
  if (*mc && (*mc)->address == address && refresh_client(*mc)) return APR_SUCCESS;

  auto list = zeb_memcache::parse_server_list(address, pool);
  if (!list) return ZEB_MEMCACHE_EADDRESS;
  discard_handle(mc);

  zeb_memcache_t* made = make_handle(address, std::move(*list), pool);
  if (!made) return ZEB_MEMCACHE_ECLIENT;
  // One server that answers is enough: the others are found out by use.
  bool answered = false;
  std::vector<const server*> skipped, failed;
  for (const server& s : made->list.servers) {
    if (zeb_memcache::is_down(s.label)) {
      skipped.push_back(&s);
    } else if (answers_statistics(made->list, s)) {
      answered = true;
      break;
    } else {
      failed.push_back(&s);
    }
  }
  if (!answered) {
    // No operation runs: what it would have met is counted here.
    for (const server* s : skipped)
      zeb::count_memcached(s->label, zeb::status::cache_result::skipped);
    for (const server* s : failed) zeb::count_memcached(s->label, zeb::status::cache_result::error);
  }
  if (!answered || !refresh_client(made)) {
    discard_handle(&made);
    return ZEB_MEMCACHE_ECLIENT;
  }
  *mc = made;
  return APR_SUCCESS;
}

apr_status_t memcache_server_status(const char* host, apr_port_t port, zeb_memcache_t* mc,
                                    apr_pool_t*) {
  if (!host || !mc) return ZEB_MEMCACHE_ESTATUS;
  const server* s = find_server(mc, host, port);
  if (!s || !answers_statistics(mc->list, *s)) return ZEB_MEMCACHE_ESTATUS;
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

  *key = hex_digest(digest, sizeof digest, pool);
  if (key_len) *key_len = 2 * sizeof digest;
  return APR_SUCCESS;
}

apr_status_t memcache_cache_set(zeb_memcache_t* mc, const char* userkey, const char* prefix,
                                const char* data, apr_size_t data_len, apr_uint32_t ttl,
                                apr_pool_t* pool) {
  ScratchPool scratch(pool);
  const char* key = nullptr;
  apr_status_t rv = memcache_cache_genkey(userkey, prefix, &key, nullptr, scratch.get());
  if (rv != APR_SUCCESS) return rv;
  if (!mc || (!data && data_len)) return ZEB_MEMCACHE_ESTORE;

  const char* value = data ? data : "";
  const key_result result = run_on_key(mc, key, [&](memcached_st* client) {
    return memcached_set(client, key, std::strlen(key), value, data_len, static_cast<time_t>(ttl),
                         0);
  });
  count_result(result, false);
  return result.rc == MEMCACHED_SUCCESS ? APR_SUCCESS : ZEB_MEMCACHE_ESTORE;
}

apr_status_t memcache_cache_get(zeb_memcache_t* mc, const char* userkey, const char* prefix,
                                char** data, apr_size_t* data_len, apr_pool_t* pool) {
  ScratchPool scratch(pool);
  const char* key = nullptr;
  apr_status_t rv = memcache_cache_genkey(userkey, prefix, &key, nullptr, scratch.get());
  if (rv != APR_SUCCESS) return rv;
  if (!mc || !pool) return ZEB_MEMCACHE_EREAD;

  char* fetched = nullptr;
  size_t length = 0;
  const key_result result = run_on_key(mc, key, [&](memcached_st* client) {
    uint32_t flags = 0;
    memcached_return_t got = MEMCACHED_FAILURE;
    std::free(fetched);
    fetched = memcached_get(client, key, std::strlen(key), &length, &flags, &got);
    return got;
  });
  count_result(result, true);
  const memcached_return_t rc = result.rc;
  if (rc != MEMCACHED_SUCCESS) {
    std::free(fetched);
    return rc == MEMCACHED_NOTFOUND ? ZEB_MEMCACHE_ENOTFOUND : ZEB_MEMCACHE_EREAD;
  }
  // Callers read values as NUL-terminated text; an empty value must not
  // reach them as a null pointer.
  char* value = static_cast<char*>(apr_palloc(pool, length + 1));
  if (length) std::memcpy(value, fetched, length);
  value[length] = '\0';
  std::free(fetched);
  if (data) *data = value;
  if (data_len) *data_len = length;
  return APR_SUCCESS;
}

apr_status_t memcache_cache_delete(zeb_memcache_t* mc, const char* userkey, const char* prefix,
                                   apr_pool_t* pool) {
  ScratchPool scratch(pool);
  const char* key = nullptr;
  apr_status_t rv = memcache_cache_genkey(userkey, prefix, &key, nullptr, scratch.get());
  if (rv != APR_SUCCESS) return rv;
  if (!mc) return ZEB_MEMCACHE_EDELETE;

  const memcached_return_t rc = run_on_key(mc, key, [&](memcached_st* client) {
                                  return memcached_delete(client, key, std::strlen(key), 0);
                                }).rc;
  if (rc == MEMCACHED_NOTFOUND) return ZEB_MEMCACHE_ENOTFOUND;
  return rc == MEMCACHED_SUCCESS ? APR_SUCCESS : ZEB_MEMCACHE_EDELETE;
}

apr_status_t memcache_cache_stash(const char* address, zeb_memcache_t** mc, const char* prefix,
                                  const char* userkey, apr_uint32_t ttl, const char* data,
                                  apr_size_t data_len, apr_pool_t* pool) {
  apr_status_t rv = memcache_server_connect(address, mc, pool);
  if (rv != APR_SUCCESS) return rv;
  return memcache_cache_set(*mc, userkey, prefix, data, data_len, ttl, pool);
}

apr_status_t memcache_cache_fetch(const char* address, zeb_memcache_t** mc, const char* prefix,
                                  const char* userkey, char** data, apr_size_t* data_len,
                                  apr_pool_t* pool) {
  apr_status_t rv = memcache_server_connect(address, mc, pool);
  if (rv != APR_SUCCESS) return rv;
  return memcache_cache_get(*mc, userkey, prefix, data, data_len, pool);
}

}  // extern "C"
