/* One memcached server's address; the server list and the client both read
 * it. */
#ifndef ZEB_MEMCACHE_ADDRESS_H
#define ZEB_MEMCACHE_ADDRESS_H

#include <apr_network_io.h>
#include <apr_pools.h>

#ifdef __cplusplus
extern "C" {
#endif

/* No address configured, or it cannot be parsed, names no server, has a
 * scope id, no host or an unknown or out-of-range option. */
#define ZEB_MEMCACHE_EADDRESS 50001

/* Port used when the address names none. */
#define ZEB_MEMCACHE_DEFAULT_PORT 11211

/* Parses one server "HOST", "HOST:PORT", "[IPV6]" or "[IPV6]:PORT" into host
 * and port
 * (ZEB_MEMCACHE_DEFAULT_PORT when none is given). Answers 0, or
 * ZEB_MEMCACHE_EADDRESS for a null, unparsable or host-less address or one
 * with a scope id. Touches no network, so configuration code can use it to
 * check an address early. */
apr_status_t memcache_server__parsestr(const char* address, char** host, apr_port_t* port,
                                       apr_pool_t* pool);

#ifdef __cplusplus
}
#endif

#endif
