/* The memcached cache layer: turns a list of memcached servers into a
 * client handle, derives fixed-length keys from readable user keys, and
 * stores and reads byte values with a time-to-live.
 *
 * An address is one or more servers separated by spaces or commas: "HOST",
 * "HOST:PORT", "[IPV6]", "[IPV6]:PORT" or the absolute path of a Unix
 * socket, optionally with "timeout=MS" (connect and each read or write;
 * default 300) and "retry=SECONDS" (how long a server that failed is left
 * alone by every handle of the process; default 5). Keys are spread over the
 * servers by consistent hashing, so a server that fails takes only its own
 * share of the keys with it; its keys go to the others until it is retried.
 *
 * Every failure is a status code below and never logged here; callers treat
 * any non-zero answer as a cache miss. A handle is used by one thread at a
 * time. A handle is released with the pool handed to the call that
 * (re)connects it, so a caller that keeps the handle must pass a pool that
 * lives at least as long as the handle (the connection pool, not a request
 * pool). */
#ifndef ZEB_MEMCACHE_H
#define ZEB_MEMCACHE_H

#include <apr_network_io.h>
#include <apr_pools.h>

#include "zeb_memcache_address.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A client for one address; opaque to callers. */
typedef struct zeb_memcache_handle zeb_memcache_t;

/* The server is not in the client or did not answer the statistics request
 * in time. */
#define ZEB_MEMCACHE_ESTATUS 50002
/* A client cannot be made, no server of a new client answers, or every
 * server failed lately. */
#define ZEB_MEMCACHE_ECLIENT 50006
/* memcached refused or failed to store the value, or did not answer in time. */
#define ZEB_MEMCACHE_ESTORE 50007
/* Reading failed (or timed out) for a reason other than a missing key. */
#define ZEB_MEMCACHE_EREAD 50008
/* No user key or no prefix, or the digest could not be computed. */
#define ZEB_MEMCACHE_EKEY 50009
/* No value under the key. */
#define ZEB_MEMCACHE_ENOTFOUND 50010
/* memcached refused or failed to delete the value, or did not answer in time. */
#define ZEB_MEMCACHE_EDELETE 50011

/* Makes *mc a client for the servers of address. A client already in *mc
 * for the same address is kept without network traffic while one of its
 * servers has not failed lately; else it is released and, as for a new
 * client, one that answers a statistics request is required. On failure *mc
 * is left null. Answers 0, ZEB_MEMCACHE_EADDRESS (without touching *mc or
 * the network) or ZEB_MEMCACHE_ECLIENT. */
apr_status_t memcache_server_connect(const char* address, zeb_memcache_t** mc, apr_pool_t* pool);

/* Asks the server host:port of mc (host is the socket path and port 0 for a
 * Unix socket) for its statistics to learn that it is alive; an answer also
 * ends a recent failure, so the handles of the process use it again.
 * Answers 0 or ZEB_MEMCACHE_ESTATUS. */
apr_status_t memcache_server_status(const char* host, apr_port_t port, zeb_memcache_t* mc,
                                    apr_pool_t* pool);

/* Derives the memcached key of userkey under prefix: 32 lower-case hex
 * digits of the MD5 digest of "|AUTHNZ_ZEB|<prefix>|<userkey>|". The key is
 * allocated in pool; key_len, when not null, receives 32. Answers 0 or
 * ZEB_MEMCACHE_EKEY. */
apr_status_t memcache_cache_genkey(const char* userkey, const char* prefix, const char** key,
                                   apr_size_t* key_len, apr_pool_t* pool);

/* Stores data_len bytes of data under the key of userkey and prefix, with
 * memcached flags 0 and ttl seconds to live (0: never expires) on the server
 * the key belongs to. Answers 0,
 * ZEB_MEMCACHE_EKEY or ZEB_MEMCACHE_ESTORE. */
apr_status_t memcache_cache_set(zeb_memcache_t* mc, const char* userkey, const char* prefix,
                                const char* data, apr_size_t data_len, apr_uint32_t ttl,
                                apr_pool_t* pool);

/* Reads the value under the key of userkey and prefix into pool. On success
 * *data (when data is not null) is the value followed by a NUL, never null,
 * even for an empty value, and *data_len (when not null) its length.
 * Answers 0, ZEB_MEMCACHE_EKEY, ZEB_MEMCACHE_ENOTFOUND or ZEB_MEMCACHE_EREAD. */
apr_status_t memcache_cache_get(zeb_memcache_t* mc, const char* userkey, const char* prefix,
                                char** data, apr_size_t* data_len, apr_pool_t* pool);

/* Deletes the value under the key of userkey and prefix from the server the
 * key belongs to, so that the next reader asks the source again. Answers 0,
 * ZEB_MEMCACHE_EKEY, ZEB_MEMCACHE_ENOTFOUND (nothing was stored) or
 * ZEB_MEMCACHE_EDELETE. */
apr_status_t memcache_cache_delete(zeb_memcache_t* mc, const char* userkey, const char* prefix,
                                   apr_pool_t* pool);

/* Connects *mc to address (see memcache_server_connect), then stores as
 * memcache_cache_set. Note the argument order: prefix before userkey, ttl
 * before the data. */
apr_status_t memcache_cache_stash(const char* address, zeb_memcache_t** mc, const char* prefix,
                                  const char* userkey, apr_uint32_t ttl, const char* data,
                                  apr_size_t data_len, apr_pool_t* pool);

/* Connects *mc to address (see memcache_server_connect), then reads as
 * memcache_cache_get. Note the argument order: prefix before userkey. */
apr_status_t memcache_cache_fetch(const char* address, zeb_memcache_t** mc, const char* prefix,
                                  const char* userkey, char** data, apr_size_t* data_len,
                                  apr_pool_t* pool);

#ifdef __cplusplus
}
#endif

#endif
