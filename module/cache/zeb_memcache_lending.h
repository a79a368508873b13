// memcached clients shared by the connections of a process. A connection
// borrows one for a single cache operation and gives it back, so that an
// idle connection holds neither a client's buffers nor a socket to
// memcached. Up to kIdleHandles wait for the next borrower; more are made
// while more threads need one at once, and released when given back.
#ifndef ZEB_MEMCACHE_LENDING_H
#define ZEB_MEMCACHE_LENDING_H

#include <cstddef>

#include "zeb_memcache.h"

namespace zeb_memcache {

inline constexpr std::size_t kIdleHandles = 8;

class borrowed_handle {
 public:
  // A client for address: one waiting for it, else a new one, connected as
  // memcache_server_connect does (which answers status()).
  explicit borrowed_handle(const char* address);
  ~borrowed_handle();
  borrowed_handle(const borrowed_handle&) = delete;
  borrowed_handle& operator=(const borrowed_handle&) = delete;

  // 0, or the code of memcache_server_connect; get() is null then.
  apr_status_t status() const { return status_; }
  zeb_memcache_t* get() const { return mc_; }

 private:
  const char* address_;
  apr_pool_t* pool_ = nullptr;  // holds the client; one per client
  zeb_memcache_t* mc_ = nullptr;
  apr_status_t status_;
};

}  // namespace zeb_memcache

#endif
