// The processed roles of the process: one set per user, repository and
// service, shared by every connection and thread that loads the same stored
// role-paths value, so that a second connection of a user costs neither
// processing nor a copy. Bounded by a size, least recently used sets going
// first; a set stays alive while a connection holds it. Free of httpd so
// that it is tested alone.
#ifndef ROLE_CACHE_H
#define ROLE_CACHE_H

#include <apr_pools.h>
#include <apr_tables.h>

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "zeb_authorizer.h"

namespace zeb {

// What determines a processed role set.
struct role_set_key {
  std::string service;  // the service's address and external system id
  std::string repository;
  std::string user;
  std::string digest;  // role_record_digest of the stored value
};

// A 128-bit digest of a stored role-paths value: equal values, equal roles.
std::string role_record_digest(const char* value, size_t length);

// One user's roles in one repository, all processed when the set is made
// and never changed afterwards, so any number of threads read it at once.
class role_set {
 public:
  // The set of the retrieved roles (zeb_role_t*) in a pool of its own.
  // notes: what loading these roles reports, repeated by every load that
  // finds the set. Null when memory is exhausted.
  static std::shared_ptr<const role_set> make(const apr_array_header_t* retrieved,
                                              std::vector<std::string> notes);
  ~role_set();
  role_set(const role_set&) = delete;
  role_set& operator=(const role_set&) = delete;

  // role_processed_pbps_t*, in the order retrieved.
  const apr_array_header_t* roles() const { return roles_; }

  // The highest global access of the roles; PBP_UNKNOWN without roles.
  pbp_access_t global_access() const { return global_; }

  // Bytes the roles hold, as made (a wildcard's code, made on its first run,
  // counted at a typical size).
  size_t footprint() const { return footprint_; }

  const std::vector<std::string>& notes() const { return notes_; }

 private:
  role_set(apr_pool_t* pool, apr_array_header_t* roles, std::vector<std::string> notes);

  apr_pool_t* pool_;
  apr_array_header_t* roles_;
  std::vector<std::string> notes_;
  pbp_access_t global_ = PBP_UNKNOWN;
  size_t footprint_ = 0;
};

class role_cache {
 public:
  // limit: bytes of sets kept for later loads; 0 keeps none.
  explicit role_cache(size_t limit) : limit_(limit) {}

  using maker = std::function<std::shared_ptr<const role_set>()>;

  // The set kept under key, else the one make() returns (null when it fails),
  // kept when the limit allows. *hit tells which, when given.
  std::shared_ptr<const role_set> obtain(const role_set_key& key, const maker& make,
                                         bool* hit = nullptr);

  struct counts {
    size_t sets = 0;
    size_t bytes = 0;
    size_t hits = 0;
    size_t misses = 0;
    size_t evictions = 0;
  };
  counts stats() const;

 private:
  struct entry {
    std::string key;
    std::shared_ptr<const role_set> set;
  };
  // Drops least recently used sets until the rest fit.
  void evict_over_limit();

  const size_t limit_;
  mutable std::mutex mutex_;
  std::list<entry> recency_;  // most recently used first
  std::unordered_map<std::string, std::list<entry>::iterator> by_key_;
  counts counts_;
};

}  // namespace zeb

#endif
