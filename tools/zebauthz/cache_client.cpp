#include "cache_client.h"

#include "cache_keys.h"
#include "exit_status.h"
#include "role_paths_record.h"
#include "role_set.h"
#include "zeb_memcache_servers.h"

namespace zebauthz {

module_cache::module_cache(const std::string& address, apr_pool_t* pool)
    : address_(address), pool_(pool) {
  const auto list = zeb_memcache::parse_server_list(address, pool);
  if (!list) throw failure(kExitUsage, "--memcache: cannot read the server list '" + address + "'");
  const std::string options = " timeout=" + std::to_string(list->timeout_ms) +
                              " retry=" + std::to_string(list->retry_seconds);
  for (const auto& server : list->servers) {
    names_.push_back(server.label);
    server_addresses_.push_back(server.label + options);
  }
}

std::optional<std::string> module_cache::value(const std::string& user_key) {
  if (memcache_server_connect(address_.c_str(), &client_, pool_) != APR_SUCCESS) {
    throw failure(kExitCache, "no memcached server of '" + address_ + "' answers");
  }
  char* data = nullptr;
  apr_size_t length = 0;
  const apr_status_t rv =
      memcache_cache_get(client_, user_key.c_str(), zeb::kMemcachePrefix, &data, &length, pool_);
  if (rv == ZEB_MEMCACHE_ENOTFOUND) return std::nullopt;
  if (rv != APR_SUCCESS) throw failure(kExitCache, "cannot read memcached at '" + address_ + "'");
  return std::string(data, length);
}

bool module_cache::drop(size_t index, const std::string& user_key) {
  zeb_memcache_t* client = nullptr;
  if (memcache_server_connect(server_addresses_[index].c_str(), &client, pool_) != APR_SUCCESS) {
    throw failure(kExitCache, "cannot reach memcached at " + names_[index]);
  }
  const apr_status_t rv =
      memcache_cache_delete(client, user_key.c_str(), zeb::kMemcachePrefix, pool_);
  if (rv == ZEB_MEMCACHE_ENOTFOUND) return false;
  if (rv != APR_SUCCESS)
    throw failure(kExitCache, "memcached at " + names_[index] + " refused the delete");
  return true;
}

std::vector<role_input> roles_of_value(const std::string& value, apr_pool_t* pool) {
  apr_array_header_t* roles = apr_array_make(pool, 16, sizeof(zeb_role_t*));
  if (!zeb_role_paths_read_value(value.data(), static_cast<int64_t>(value.size()), roles, pool)) {
    throw failure(kExitCache, "the cached role paths do not parse; the module ignores them");
  }
  return roles_of_answer(roles);
}

}  // namespace zebauthz
