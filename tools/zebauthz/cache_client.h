// What the module keeps in memcached, read and dropped through the module's
// own cache layer, so that the tool meets exactly the module's entries.
#ifndef ZEBAUTHZ_CACHE_CLIENT_H
#define ZEBAUTHZ_CACHE_CLIENT_H

#include <apr_pools.h>

#include <optional>
#include <string>
#include <vector>

#include "roles_input.h"
#include "zeb_memcache.h"

namespace zebauthz {

class module_cache {
 public:
  // address is the module's memcached server list ("HOST:PORT[,...]" with
  // its options); throws failure(kExitUsage) when it does not parse.
  module_cache(const std::string& address, apr_pool_t* pool);

  // The servers of the list, by name.
  const std::vector<std::string>& servers() const { return names_; }

  // The value under user_key, read as the module reads it (one client for
  // the list, the key on the server it hashes to); nothing when none is
  // cached. Throws failure(kExitCache) when memcached cannot be read.
  std::optional<std::string> value(const std::string& user_key);

  // Drops user_key's value from the server at index; false when it held
  // none. While a server is down the module stores its keys on the others,
  // so a flush asks every server. Throws failure(kExitCache) when the server
  // cannot be reached or refuses.
  bool drop(size_t index, const std::string& user_key);

 private:
  std::string address_;
  std::vector<std::string> names_;
  std::vector<std::string> server_addresses_;  // each server alone, with the list's options
  zeb_memcache_t* client_ = nullptr;
  apr_pool_t* pool_;
};

// The roles of a stored role-paths value; throws failure(kExitCache) for a
// value the module would not read either.
std::vector<role_input> roles_of_value(const std::string& value, apr_pool_t* pool);

}  // namespace zebauthz

#endif
