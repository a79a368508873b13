#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "zeb_openssl.h"

namespace {

// Locks static lock 0 with lock_mode, checks that another thread waits for
// it, and releases it with unlock_mode.
void expect_exclusive(int lock_mode, int unlock_mode) {
  locking_function(lock_mode, 0, "file", 1);
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    locking_function(1, 0, nullptr, 0);
    acquired = true;
    locking_function(2, 0, nullptr, 0);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(acquired) << "mode " << lock_mode << " did not lock";
  locking_function(unlock_mode, 0, nullptr, 0);
  other.join();
  EXPECT_TRUE(acquired);
}

TEST(module_openssl, CountsSetUpsAcrossConnections) {
  CRYPTO_thread_cleanup();  // without a set-up: nothing happens
  EXPECT_EQ(0, zeb_openssl_lock_count());

  ASSERT_EQ(0, CRYPTO_thread_setup());
  const int locks = zeb_openssl_lock_count();
  EXPECT_GT(locks, 0);
  ASSERT_EQ(0, CRYPTO_thread_setup());
  CRYPTO_thread_cleanup();
  EXPECT_EQ(locks, zeb_openssl_lock_count()) << "one connection's clean-up removed the other's";
  CRYPTO_thread_cleanup();
  EXPECT_EQ(0, zeb_openssl_lock_count());
  CRYPTO_thread_cleanup();
  EXPECT_EQ(0, zeb_openssl_lock_count());

  ASSERT_EQ(0, CRYPTO_thread_setup());
  EXPECT_EQ(locks, zeb_openssl_lock_count());
  CRYPTO_thread_cleanup();
}

TEST(module_openssl, LockFlagLocksAndClearFlagUnlocks) {
  ASSERT_EQ(0, CRYPTO_thread_setup());
  expect_exclusive(1, 2);
  // Read and write requests take the same exclusive lock.
  expect_exclusive(1 | 4, 2 | 4);
  expect_exclusive(1 | 8, 2 | 8);
  CRYPTO_thread_cleanup();
}

TEST(module_openssl, DynamicLocks) {
  CRYPTO_dynlock_value* lock = dyn_create_function(__FILE__, __LINE__);
  ASSERT_NE(nullptr, lock);
  dyn_lock_function(1, lock, nullptr, 0);
  EXPECT_NE(0, pthread_mutex_trylock(&lock->mutex));
  dyn_lock_function(2, lock, nullptr, 0);
  EXPECT_EQ(0, pthread_mutex_trylock(&lock->mutex));
  pthread_mutex_unlock(&lock->mutex);
  dyn_destroy_function(lock, nullptr, 0);
}

TEST(module_openssl, ConcurrentSetUpAndCleanUpStayBalanced) {
  ASSERT_EQ(0, CRYPTO_thread_setup());  // one connection holds TLS throughout
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(0, CRYPTO_thread_setup());
        locking_function(1, 0, nullptr, 0);
        locking_function(2, 0, nullptr, 0);
        CRYPTO_thread_cleanup();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_GT(zeb_openssl_lock_count(), 0);
  CRYPTO_thread_cleanup();
  EXPECT_EQ(0, zeb_openssl_lock_count());
}

}  // namespace
