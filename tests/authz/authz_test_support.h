// Shared helpers for the engine's tests: APR set-up, pools, and roles built
// the way the engine's callers build them.
#ifndef ZEB_AUTHZ_TEST_SUPPORT_H
#define ZEB_AUTHZ_TEST_SUPPORT_H

#include <apr_pools.h>

#include <string>
#include <vector>

#include "zeb_authorizer.h"

namespace zeb::test {

class pool_t {
 public:
  pool_t();
  ~pool_t();
  pool_t(const pool_t&) = delete;
  pool_t& operator=(const pool_t&) = delete;
  apr_pool_t* get() const { return pool_; }

 private:
  apr_pool_t* pool_;
};

// A role processed by ensure_processed_pbps from raw strings that live in a
// child pool of pool, as the module and the binding do.
role_processed_pbps_t* processed_role(const std::vector<std::string>& raw_pbps, apr_pool_t* pool);

// A copy of a processed list with only path and permission set, as code
// outside the engine would make it.
apr_array_header_t* foreign_copy(const apr_array_header_t* list, apr_pool_t* pool);

// Paths of a pbp_item_t* list, in list order.
std::vector<std::string> paths_of(const apr_array_header_t* list);

// One row of a pattern-matching table, for either matcher.
struct match_case_t {
  const char* pattern;
  const char* path;
  apr_status_t status;
  int matched;
  int score;  // meaningful only when matched
};

// "pattern on path" for a test trace; a null argument reads "(null)".
std::string match_label(const match_case_t& c);

}  // namespace zeb::test

#endif
