#include "role_fixtures.h"

#include <apr_strings.h>

namespace zeb::test {

role_processed_pbps_t* processed_role(const std::vector<std::string>& raw_pbps, apr_pool_t* pool) {
  auto* role =
      static_cast<role_processed_pbps_t*>(apr_pcalloc(pool, sizeof(role_processed_pbps_t)));
  apr_pool_create(&role->raw_pbps_pool, pool);
  role->num_raw_pbps = static_cast<int>(raw_pbps.size());
  role->raw_pbps =
      static_cast<char**>(apr_pcalloc(role->raw_pbps_pool, (raw_pbps.size() + 1) * sizeof(char*)));
  for (size_t i = 0; i < raw_pbps.size(); ++i) {
    role->raw_pbps[i] = apr_pstrdup(role->raw_pbps_pool, raw_pbps[i].c_str());
  }
  ensure_processed_pbps(role, pool);
  return role;
}

apr_array_header_t* foreign_copy(const apr_array_header_t* list, apr_pool_t* pool) {
  apr_array_header_t* copy = apr_array_make(pool, list->nelts, sizeof(pbp_item_t*));
  for (int i = 0; i < list->nelts; ++i) {
    const auto* item = APR_ARRAY_IDX(list, i, const pbp_item_t*);
    auto* plain = static_cast<pbp_item_t*>(apr_pcalloc(pool, sizeof(pbp_item_t)));
    plain->path = item->path;
    plain->permission = item->permission;
    APR_ARRAY_PUSH(copy, pbp_item_t*) = plain;
  }
  return copy;
}

std::vector<std::string> paths_of(const apr_array_header_t* list) {
  std::vector<std::string> paths;
  for (int i = 0; i < list->nelts; ++i) paths.push_back(APR_ARRAY_IDX(list, i, pbp_item_t*)->path);
  return paths;
}

}  // namespace zeb::test
