// Shared helpers for the engine's tests: APR set-up, pools, and roles built
// the way the engine's callers build them.
#ifndef ZEB_AUTHZ_TEST_SUPPORT_H
#define ZEB_AUTHZ_TEST_SUPPORT_H

#include <apr_pools.h>

#include <string>
#include <vector>

#include "role_fixtures.h"
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
