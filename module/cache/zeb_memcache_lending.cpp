#include "zeb_memcache_lending.h"

#include <apr_pools.h>

#include <mutex>
#include <vector>

namespace zeb_memcache {

namespace {

struct idle_handle {
  // The configuration's own string: a client is kept for that very pointer
  // (memcache_server_connect reuses a client only then), so a borrower of
  // an equal address from another configuration does not rebuild it in its
  // pool, which would grow with every such turn.
  const char* address;
  apr_pool_t* pool;
  // Held here as well: APR may map the pool's own memory outside the heap,
  // where nothing would be seen to refer to the allocator it was made with.
  apr_allocator_t* allocator;
  zeb_memcache_t* mc;
};

std::mutex idle_mutex;
// Handles still waiting at exit are left to the process's end.
std::vector<idle_handle>* idle = new std::vector<idle_handle>;

bool take_idle(const char* address, apr_pool_t** pool, zeb_memcache_t** mc) {
  std::lock_guard<std::mutex> lock(idle_mutex);
  for (auto it = idle->rbegin(); it != idle->rend(); ++it) {
    if (it->address != address) continue;
    *pool = it->pool;
    *mc = it->mc;
    idle->erase(std::next(it).base());
    return true;
  }
  return false;
}

bool keep_idle(const char* address, apr_pool_t* pool, zeb_memcache_t* mc) {
  std::lock_guard<std::mutex> lock(idle_mutex);
  if (idle->size() >= kIdleHandles) return false;
  idle->push_back({address, pool, apr_pool_allocator_get(pool), mc});
  return true;
}

}  // namespace

borrowed_handle::borrowed_handle(const char* address) : address_(address) {
  if (address == nullptr) {
    status_ = ZEB_MEMCACHE_EADDRESS;
    return;
  }
  // Unmanaged: a pool of its own that no other thread's pool creation
  // touches, and that outlives the borrower.
  if (!take_idle(address, &pool_, &mc_) &&
      apr_pool_create_unmanaged_ex(&pool_, nullptr, nullptr) != APR_SUCCESS) {
    pool_ = nullptr;
    status_ = ZEB_MEMCACHE_ECLIENT;
    return;
  }
  status_ = memcache_server_connect(address, &mc_, pool_);
}

borrowed_handle::~borrowed_handle() {
  if (pool_ == nullptr) return;
  if (status_ == APR_SUCCESS && keep_idle(address_, pool_, mc_)) return;
  apr_pool_destroy(pool_);
}

}  // namespace zeb_memcache
