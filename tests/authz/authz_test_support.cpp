#include "authz_test_support.h"

#include <apr_general.h>
#include <apr_strings.h>
#include <gtest/gtest.h>
#include <svn_pools.h>

namespace zeb::test {
namespace {

class apr_environment_t : public ::testing::Environment {
 public:
  void SetUp() override { apr_initialize(); }
  void TearDown() override { apr_terminate(); }
};

const auto* const kAprEnvironment = ::testing::AddGlobalTestEnvironment(new apr_environment_t);

}  // namespace

pool_t::pool_t() : pool_(svn_pool_create(nullptr)) {}
pool_t::~pool_t() {
  svn_pool_destroy(pool_);
}

std::string match_label(const match_case_t& c) {
  return std::string(c.pattern ? c.pattern : "(null)") + " on " + (c.path ? c.path : "(null)");
}

}  // namespace zeb::test
