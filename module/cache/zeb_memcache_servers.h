// The memcached server list: "SERVER[ SERVER...]" separated by spaces or
// commas, where a server is "HOST", "HOST:PORT", "[IPV6]", "[IPV6]:PORT" or
// the absolute path of a Unix socket, and the options "timeout=MS" (connect
// and each read or write, in milliseconds) and "retry=SECONDS" (how long a
// server that failed is left alone before it is tried again).
#ifndef ZEB_MEMCACHE_SERVERS_H
#define ZEB_MEMCACHE_SERVERS_H

#include <apr_network_io.h>
#include <apr_pools.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeb_memcache {

inline constexpr unsigned kDefaultTimeoutMs = 300;
inline constexpr unsigned kMaxTimeoutMs = 60000;
inline constexpr unsigned kDefaultRetrySeconds = 5;
inline constexpr unsigned kMaxRetrySeconds = 3600;

struct server {
  std::string host;   // host name, IPv6 address without brackets, or socket path
  apr_port_t port;    // 0 for a Unix socket
  std::string label;  // "host:port" or the path: the server's name in the health table
  bool unix_socket() const { return port == 0; }
};

struct server_list {
  std::vector<server> servers;
  unsigned timeout_ms = kDefaultTimeoutMs;
  unsigned retry_seconds = kDefaultRetrySeconds;
};

// The list, or nothing when it names no server or any part is unusable;
// then *problem, when given, says which part and why. Scratch memory comes
// from a child of pool.
std::optional<server_list> parse_server_list(std::string_view text, apr_pool_t* pool,
                                             std::string* problem = nullptr);

}  // namespace zeb_memcache

#endif
