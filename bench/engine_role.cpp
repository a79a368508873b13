#include "engine_role.h"

#include <apr_strings.h>

namespace zeb_bench {

engine_role::engine_role(const std::vector<std::string>& pbps) {
  apr_pool_create(&pool_, nullptr);
  role_ = static_cast<role_processed_pbps_t*>(apr_pcalloc(pool_, sizeof *role_));
  apr_pool_create(&role_->raw_pbps_pool, pool_);
  role_->num_raw_pbps = static_cast<int>(pbps.size());
  role_->raw_pbps =
      static_cast<char**>(apr_pcalloc(role_->raw_pbps_pool, sizeof(char*) * (pbps.size() + 1)));
  for (std::size_t i = 0; i < pbps.size(); ++i) {
    role_->raw_pbps[i] = apr_pstrdup(role_->raw_pbps_pool, pbps[i].c_str());
  }
  ensure_processed_pbps(role_, pool_);
}

engine_role::~engine_role() {
  apr_pool_destroy(pool_);
}

}  // namespace zeb_bench
