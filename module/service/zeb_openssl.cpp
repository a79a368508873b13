#include "zeb_openssl.h"

#include <openssl/crypto.h>

#include <mutex>
#include <new>

namespace {

constexpr int kLockFlag = 1;  // OpenSSL's CRYPTO_LOCK
constexpr int kOutOfMemory = 20;

std::mutex setup_mutex;
int setup_count = 0;
pthread_mutex_t* mutex_buf = nullptr;
int mutex_count = 0;

void install_callbacks() {
  CRYPTO_set_id_callback(id_function);
  CRYPTO_set_locking_callback(locking_function);
  CRYPTO_set_dynlock_create_callback(dyn_create_function);
  CRYPTO_set_dynlock_lock_callback(dyn_lock_function);
  CRYPTO_set_dynlock_destroy_callback(dyn_destroy_function);
}

void remove_callbacks() {
  CRYPTO_set_id_callback(nullptr);
  CRYPTO_set_locking_callback(nullptr);
  CRYPTO_set_dynlock_create_callback(nullptr);
  CRYPTO_set_dynlock_lock_callback(nullptr);
  CRYPTO_set_dynlock_destroy_callback(nullptr);
}

}  // namespace

int CRYPTO_thread_setup(void) {
  std::lock_guard<std::mutex> guard(setup_mutex);
  if (setup_count == 0) {
    const int count = CRYPTO_num_locks();
    mutex_buf = new (std::nothrow) pthread_mutex_t[count];
    if (mutex_buf == nullptr) return kOutOfMemory;
    for (int i = 0; i < count; ++i) pthread_mutex_init(&mutex_buf[i], nullptr);
    mutex_count = count;
    install_callbacks();
  }
  ++setup_count;
  return 0;
}

void CRYPTO_thread_cleanup(void) {
  std::lock_guard<std::mutex> guard(setup_mutex);
  if (setup_count == 0 || --setup_count > 0) return;
  remove_callbacks();
  for (int i = 0; i < mutex_count; ++i) pthread_mutex_destroy(&mutex_buf[i]);
  delete[] mutex_buf;
  mutex_buf = nullptr;
  mutex_count = 0;
}

unsigned long id_function(void) {
  return static_cast<unsigned long>(pthread_self());
}

void locking_function(int mode, int n, const char*, int) {
  if (mode & kLockFlag) {
    pthread_mutex_lock(&mutex_buf[n]);
  } else {
    pthread_mutex_unlock(&mutex_buf[n]);
  }
}

struct CRYPTO_dynlock_value* dyn_create_function(const char*, int) {
  auto* value = new (std::nothrow) CRYPTO_dynlock_value;
  if (value != nullptr) pthread_mutex_init(&value->mutex, nullptr);
  return value;
}

void dyn_lock_function(int mode, struct CRYPTO_dynlock_value* l, const char*, int) {
  if (mode & kLockFlag) {
    pthread_mutex_lock(&l->mutex);
  } else {
    pthread_mutex_unlock(&l->mutex);
  }
}

void dyn_destroy_function(struct CRYPTO_dynlock_value* l, const char*, int) {
  pthread_mutex_destroy(&l->mutex);
  delete l;
}

int zeb_openssl_lock_count(void) {
  std::lock_guard<std::mutex> guard(setup_mutex);
  return mutex_count;
}
