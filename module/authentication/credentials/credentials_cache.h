// The credentials a connection accepted last, and the decisions made about
// them; free of httpd, so that they are tested on their own.
#ifndef CREDENTIALS_CACHE_H
#define CREDENTIALS_CACHE_H

#include <apr_pools.h>
#include <apr_time.h>

struct credentials_cache {
  const char* cached_username;
  // The password's digest keyed with the shared secret, as in the memcached
  // key.
  const char* cached_password_digest;
  // The Authorization header the user was accepted with: a request that
  // presents the same bytes is the same user with the same password, known
  // without decoding or digesting anything. Null when none was seen.
  const char* accepted_header;
  apr_size_t accepted_header_length;
  int authenticated_internally;
  const char* repos_name;
  // When the user was accepted: the cache answers for at most the memcached
  // time-to-live after it, so that a revocation reaches open connections too.
  apr_time_t cache_filled_at;
};

// Which of the cached user, password and repository differ from a request's.
// A password of null is not compared; one given is compared as its digest
// keyed with secret, in constant time. okay is true only when all three are
// cached and equal.
struct cache_comparison {
  bool okay;
  bool user_differs;
  bool password_differs;
  bool repos_differs;
};

cache_comparison compare_credentials(const credentials_cache* cache, const char* secret,
                                     const char* username, const char* password,
                                     const char* repos_name);

// Whether header (null: none) is, byte for byte, the one the cached user was
// accepted with; compared in constant time for headers of equal length.
bool presents_accepted_header(const credentials_cache* cache, const char* header);

// Empties the cache; false (and nothing changed) when no user is cached. The
// strings stay in the pool they were made in, which the caller clears.
bool clear_credentials(credentials_cache* cache);

// Remembers a user accepted by this module's own authentication at time now,
// with the password's digest keyed with secret and the Authorization header
// it came in (null: none), all copied into pool.
void remember_credentials(credentials_cache* cache, apr_pool_t* pool, const char* secret,
                          const char* username, const char* password, const char* repos_name,
                          const char* header, apr_time_t now);

// Whether a cached user was accepted ttl_seconds or longer before now (or
// after it: the clock went back).
bool credentials_expired(const credentials_cache* cache, apr_int64_t ttl_seconds, apr_time_t now);

// An "isvaliduser" entry is a 4-byte little-endian int. Returns false for a
// value too short to hold one (a miss: ask the server).
bool decode_isvaliduser(const char* data, apr_size_t len, int* answer);
void encode_isvaliduser(int answer, char out[4]);

#endif
