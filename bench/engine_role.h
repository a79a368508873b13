// One role of the engine, built from PBP strings the way the module builds
// it and processed once.
#ifndef ZEB_BENCH_ENGINE_ROLE_H
#define ZEB_BENCH_ENGINE_ROLE_H

#include <string>
#include <vector>

#include "zeb_authorizer.h"

namespace zeb_bench {

class engine_role {
 public:
  explicit engine_role(const std::vector<std::string>& pbps);
  ~engine_role();
  engine_role(const engine_role&) = delete;
  engine_role& operator=(const engine_role&) = delete;

  bool allows(const char* path, pbp_access_t required, apr_pool_t* pool) const {
    return has_non_recursive_access(role_->sorted_absolute_pbps, role_->unsorted_wildcard_pbps,
                                    required, path, pool) != 0;
  }

 private:
  apr_pool_t* pool_ = nullptr;
  role_processed_pbps_t* role_ = nullptr;
};

}  // namespace zeb_bench

#endif
