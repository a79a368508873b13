// TLS runtimes of the ScmListener service kept by the process between
// calls. Making one creates an SSL context (a third of a millisecond, and
// tens of milliseconds with a bundle of a hundred CAs), which every cache
// miss would otherwise pay; a plain runtime costs microseconds and is not
// kept. Up to kIdleRuntimes wait; each holds a reference on the OpenSSL
// thread support, which passes to the borrower and back.
#ifndef RUNTIME_LENDING_H
#define RUNTIME_LENDING_H

#include <apr_hash.h>
#include <apr_pools.h>

#include <cstddef>

struct soap;

inline constexpr std::size_t kIdleRuntimes = 4;

// What the TLS context of a runtime is made from: runtimes with equal keys
// are interchangeable once proxy and time-outs are set again.
const char* tls_runtime_key(apr_hash_t* props, apr_pool_t* pool);

// A waiting runtime made under key, or null.
struct soap* take_idle_runtime(const char* key);

// Keeps runtime, its last call ended, for the next borrower under key; false
// when enough are waiting (the caller releases it).
bool keep_idle_runtime(const char* key, struct soap* runtime);

#endif
