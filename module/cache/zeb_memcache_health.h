// Which memcached servers failed lately, shared by every handle of the
// process: a server that timed out or refused is left alone for a while by
// all connections instead of costing each of them a time-out.
#ifndef ZEB_MEMCACHE_HEALTH_H
#define ZEB_MEMCACHE_HEALTH_H

#include <string>

namespace zeb_memcache {

// Marks the server named label as failed for the next retry_seconds.
void mark_down(const std::string& label, unsigned retry_seconds);
// Forgets a failure: the server has just answered.
void mark_up(const std::string& label);
// True while a failure of the server is recent enough to leave it alone.
bool is_down(const std::string& label);

}  // namespace zeb_memcache

#endif
