// One role decided by the plain reference algorithm, parsed once.
#ifndef ZEB_BENCH_LITERAL_ROLE_H
#define ZEB_BENCH_LITERAL_ROLE_H

#include <string>
#include <vector>

#include "reference_engine.h"

namespace zeb_bench {

class literal_role {
 public:
  explicit literal_role(const std::vector<std::string>& pbps) {
    apr_pool_t* scratch = nullptr;
    apr_pool_create(&scratch, nullptr);
    role_ = zeb::reference::parse_role(pbps, scratch);
    apr_pool_destroy(scratch);
  }

  bool allows(const char* path, pbp_access_t required, apr_pool_t* pool) const {
    return zeb::reference::decide(role_, required, path, pool);
  }

 private:
  zeb::reference::role role_;
};

}  // namespace zeb_bench

#endif
