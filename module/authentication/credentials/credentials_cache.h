// Decisions about the connection cache and the cached service answers, kept
// free of httpd so that they are tested on their own.
#ifndef CONNECTION_CACHE_H
#define CONNECTION_CACHE_H

#include <apr_pools.h>
#include <apr_time.h>

struct ctx_data;

// Which of the cached user, password and repository differ from a request's.
// A password of null is not compared; one given is compared as its keyed
// digest, in constant time. okay is true only when all three are cached and
// equal.
struct cache_comparison {
  bool okay;
  bool user_differs;
  bool password_differs;
  bool repos_differs;
};

cache_comparison compare_connection_cache(const ctx_data* ctx, const char* username,
                                          const char* password, const char* repos_name);

// Empties the cache fields and clears the cache pool; false (and nothing
// changed) when no user is cached.
bool clear_connection_cache(ctx_data* ctx);

// Remembers a user accepted by this module's own authentication at time
// now, in the cache pool, with the password's keyed digest.
void cache_authenticated_user(ctx_data* ctx, const char* username, const char* password,
                              const char* repos_name, apr_time_t now);

// Whether a cached user was accepted the time-to-live or longer before now
// (or after it: the clock went back).
bool connection_cache_expired(const ctx_data* ctx, apr_time_t now);

// An "isvaliduser" entry is a 4-byte little-endian int. Returns false for a
// value too short to hold one (a miss: ask the server).
bool decode_isvaliduser(const char* data, apr_size_t len, int* answer);
void encode_isvaliduser(int answer, char out[4]);

#endif
