/* The memcached cache layer: turns a "HOST[:PORT]" address into a connected
 * apr_memcache client, derives fixed-length keys from readable user keys, and
 * stores and reads byte values with a time-to-live.
 *
 * Every failure is a status code below and never logged here; callers treat
 * any non-zero answer as a cache miss. A client handle is used by one thread
 * at a time. A client is allocated from the pool handed to the call that
 * (re)connects it, so a caller that keeps the handle must pass a pool that
 * lives at least as long as the handle (the connection pool, not a request
 * pool), to stash and fetch as well as to connect. */
#ifndef ZEB_MEMCACHE_H
#define ZEB_MEMCACHE_H

#include <apr_memcache.h>
#include <apr_pools.h>

#ifdef __cplusplus
extern "C" {
#endif

/* No address configured, or it cannot be parsed, has a scope id or no host. */
#define ZEB_MEMCACHE_EADDRESS 50001
/* The server is not in the client or did not answer the statistics request. */
#define ZEB_MEMCACHE_ESTATUS 50002
/* A client or server object cannot be made, or a new client does not answer. */
#define ZEB_MEMCACHE_ECLIENT 50006
/* memcached refused or failed to store the value. */
#define ZEB_MEMCACHE_ESTORE 50007
/* Reading failed for a reason other than a missing key. */
#define ZEB_MEMCACHE_EREAD 50008
/* No user key or no prefix, or the digest could not be computed. */
#define ZEB_MEMCACHE_EKEY 50009
/* No value under the key. */
#define ZEB_MEMCACHE_ENOTFOUND 50010

/* Port used when the address names none. */
#define ZEB_MEMCACHE_DEFAULT_PORT 11211

/* Parses "HOST", "HOST:PORT", "[IPV6]" or "[IPV6]:PORT" into host and port
 * (ZEB_MEMCACHE_DEFAULT_PORT when none is given). Answers 0, or
 * ZEB_MEMCACHE_EADDRESS for a null, unparsable or host-less address or one
 * with a scope id. Touches no network, so configuration code can use it to
 * check an address early. */
apr_status_t memcache_server__parsestr(const char* address, char** host, apr_port_t* port,
                                       apr_pool_t* pool);

/* Makes *mc a client for the server at address. A client already in *mc is
 * kept when it answers a status check for that server and replaced
 * otherwise; on failure *mc is left null. Answers 0, ZEB_MEMCACHE_EADDRESS
 * (without touching *mc or the network) or ZEB_MEMCACHE_ECLIENT.
 * APR-util's client reaches servers over IPv4 (and Unix socket paths) only:
 * an IPv6 address parses, but connecting to it answers ZEB_MEMCACHE_ECLIENT. */
apr_status_t memcache_server_connect(const char* address, apr_memcache_t** mc, apr_pool_t* pool);

/* Asks the server host:port of mc for its statistics to learn that it is
 * alive. Answers 0 or ZEB_MEMCACHE_ESTATUS. */
apr_status_t memcache_server_status(const char* host, apr_port_t port, apr_memcache_t* mc,
                                    apr_pool_t* pool);

/* Derives the memcached key of userkey under prefix: 32 lower-case hex
 * digits of the MD5 digest of "|AUTHNZ_ZEB|<prefix>|<userkey>|". The key is
 * allocated in pool; key_len, when not null, receives 32. Answers 0 or
 * ZEB_MEMCACHE_EKEY. */
apr_status_t memcache_cache_genkey(const char* userkey, const char* prefix, const char** key,
                                   apr_size_t* key_len, apr_pool_t* pool);

/* Stores data_len bytes of data under the key of userkey and prefix, with
 * memcached flags 0 and ttl seconds to live (0: never expires). Answers 0,
 * ZEB_MEMCACHE_EKEY or ZEB_MEMCACHE_ESTORE. */
apr_status_t memcache_cache_set(apr_memcache_t* mc, const char* userkey, const char* prefix,
                                const char* data, apr_size_t data_len, apr_uint32_t ttl,
                                apr_pool_t* pool);

/* Reads the value under the key of userkey and prefix into pool. On success
 * *data (when data is not null) is the value followed by a NUL, never null,
 * even for an empty value, and *data_len (when not null) its length.
 * Answers 0, ZEB_MEMCACHE_EKEY, ZEB_MEMCACHE_ENOTFOUND or ZEB_MEMCACHE_EREAD. */
apr_status_t memcache_cache_get(apr_memcache_t* mc, const char* userkey, const char* prefix,
                                char** data, apr_size_t* data_len, apr_pool_t* pool);

/* Connects *mc to address (see memcache_server_connect), then stores as
 * memcache_cache_set. Note the argument order: prefix before userkey, ttl
 * before the data. */
apr_status_t memcache_cache_stash(const char* address, apr_memcache_t** mc, const char* prefix,
                                  const char* userkey, apr_uint32_t ttl, const char* data,
                                  apr_size_t data_len, apr_pool_t* pool);

/* Connects *mc to address (see memcache_server_connect), then reads as
 * memcache_cache_get. Note the argument order: prefix before userkey. */
apr_status_t memcache_cache_fetch(const char* address, apr_memcache_t** mc, const char* prefix,
                                  const char* userkey, char** data, apr_size_t* data_len,
                                  apr_pool_t* pool);

/* Lower-case hexadecimal form of digest_size bytes, high half first,
 * allocated in pool. */
const char* svn__digest_to_cstring_display(const unsigned char digest[], apr_size_t digest_size,
                                           apr_pool_t* pool);

#ifdef __cplusplus
}
#endif

#endif
