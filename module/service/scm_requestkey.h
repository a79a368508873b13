// The request key that identifies the module to the ScmListener service: a
// 28-byte token (a random value, a salted timestamp and a SHA-1 digest binding
// both to the shared secret) in standard Base64, 40 characters.
#ifndef SCM_REQUESTKEY_H
#define SCM_REQUESTKEY_H

#include <apr_pools.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Secret used when the properties name none. */
#define SCM_DEFAULT_SHARED_SECRET "rjvoqmeh!T Z%lkwupa"
#define SCM_REQUESTKEY_LENGTH 40

/* The salt that hides the timestamp: the first four bytes, little-endian, of
 * the SHA-1 digest of the default secret (0 if no digest can be made). The
 * digest is made in pool. */
uint32_t scm_timestamp_salt(apr_pool_t* pool);

/* The key for an explicit random value and time (seconds since the epoch; its
 * low 32 bits count). A null secret means the default secret. Scratch data
 * comes from pool, the NUL-terminated key from a zeroed 56-byte buffer of
 * key_pool; null when no SHA-1 digest can be made. */
const char* scm_requestkey_make(const char* secret, uint32_t random_value, int64_t now,
                                apr_pool_t* pool, apr_pool_t* key_pool);

/* The key for a connection made now: a 32-bit random value from OpenSSL's
 * RAND_bytes, the time from time(). Pools as scm_requestkey_make; typically
 * the request's pool and the connection's pool. Null as for
 * scm_requestkey_make, or when no random value can be drawn. */
const char* scm_requestkey_create(const char* secret, apr_pool_t* pool, apr_pool_t* key_pool);

#ifdef __cplusplus
}
#endif

#endif
