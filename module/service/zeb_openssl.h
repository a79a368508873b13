// Thread support for OpenSSL under the SOAP runtime's TLS. Connections set it
// up and clean it up independently and concurrently; a process-wide count
// keeps the locks installed while any connection still uses TLS.
#ifndef ZEB_OPENSSL_H
#define ZEB_OPENSSL_H

#include <pthread.h>

struct CRYPTO_dynlock_value {
  pthread_mutex_t mutex;
};

// 0, or 20 (out of memory) when the lock array cannot be allocated.
int CRYPTO_thread_setup(void);
// Releases one set-up; the last one removes callbacks and locks. Does
// nothing when no set-up is outstanding.
void CRYPTO_thread_cleanup(void);

unsigned long id_function(void);
void locking_function(int mode, int n, const char* file, int line);
struct CRYPTO_dynlock_value* dyn_create_function(const char* file, int line);
void dyn_lock_function(int mode, struct CRYPTO_dynlock_value* l, const char* file, int line);
void dyn_destroy_function(struct CRYPTO_dynlock_value* l, const char* file, int line);

// Number of static locks installed now (0 while not set up).
int zeb_openssl_lock_count(void);

#endif
