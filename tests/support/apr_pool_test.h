// Fixture base for tests that need APR: the library is initialised once per
// suite and every test gets a fresh pool of its own, destroyed after it, so
// no test sees memory another test left behind.
#pragma once

#include <apr_general.h>
#include <apr_pools.h>
#include <gtest/gtest.h>

class apr_pool_test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { apr_initialize(); }
  void SetUp() override { apr_pool_create(&pool_, nullptr); }
  void TearDown() override { apr_pool_destroy(pool_); }

  apr_pool_t* pool_ = nullptr;
};
