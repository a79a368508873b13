#include "zeb_memcache_address.h"

#include <cstring>

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

}  // extern "C"
