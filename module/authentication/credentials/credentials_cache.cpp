#include "connection_cache.h"

#include <apr_strings.h>
#include <openssl/crypto.h>

#include <cstring>
#include <string>

#include "cache_keys.h"
#include "connection_context.h"
#include "properties_file.h"
#include "scm_requestkey.h"

namespace {

// Keyed with the shared secret as the memcached key is; empty when no digest
// can be made.
std::string keyed_digest(const ctx_data* ctx, const char* password) {
  return zeb::password_digest(
      get_property(ctx->properties_hash, kSharedSecretProperty, SCM_DEFAULT_SHARED_SECRET),
      password);
}

bool same_digest(const char* cached, const std::string& given) {
  return !given.empty() && std::strlen(cached) == given.size() &&
         CRYPTO_memcmp(cached, given.data(), given.size()) == 0;
}

}  // namespace

cache_comparison compare_connection_cache(const ctx_data* ctx, const char* username,
                                          const char* password, const char* repos_name) {
  cache_comparison result{true, false, false, false};
  if (ctx->cached_username == nullptr) {
    result.okay = false;
  } else if (std::strcmp(ctx->cached_username, username) != 0) {
    result.okay = false;
    result.user_differs = true;
  }
  if (password != nullptr) {
    if (ctx->cached_password_digest == nullptr) {
      result.okay = false;
    } else if (!same_digest(ctx->cached_password_digest, keyed_digest(ctx, password))) {
      result.okay = false;
      result.password_differs = true;
    }
  }
  if (ctx->repos_name == nullptr) {
    result.okay = false;
  } else if (repos_name == nullptr || std::strcmp(ctx->repos_name, repos_name) != 0) {
    result.okay = false;
    result.repos_differs = true;
  }
  return result;
}

bool clear_connection_cache(ctx_data* ctx) {
  if (ctx->cached_username == nullptr) return false;
  ctx->cached_username = nullptr;
  ctx->cached_password_digest = nullptr;
  ctx->cache_filled_at = 0;
  ctx->authenticated_internally = 0;
  ctx->repos_name = nullptr;
  ctx->role_stores = zeb::decision::role_stores{};
  // Frees the strings and the role store with its processed permissions.
  apr_pool_clear(ctx->cache_pool);
  return true;
}

void cache_authenticated_user(ctx_data* ctx, const char* username, const char* password,
                              const char* repos_name, apr_time_t now) {
  const std::string digest = keyed_digest(ctx, password);
  ctx->cached_username = apr_pstrdup(ctx->cache_pool, username);
  // Without a digest no later password matches: each request is checked again.
  ctx->cached_password_digest =
      digest.empty() ? nullptr : apr_pstrdup(ctx->cache_pool, digest.c_str());
  ctx->repos_name = apr_pstrdup(ctx->cache_pool, repos_name);
  ctx->authenticated_internally = 1;
  ctx->cache_filled_at = now;
}

bool connection_cache_expired(const ctx_data* ctx, apr_time_t now) {
  if (ctx->cached_username == nullptr) return false;
  return now < ctx->cache_filled_at ||
         now - ctx->cache_filled_at >= apr_time_from_sec(ctx->conf.memcache_ttl);
}

char* get_memcache_user_key(const ctx_data* ctx, const char* repos_name, apr_pool_t* pool) {
  return apr_pstrdup(pool, zeb::role_paths_key(ctx->scm_listener_url, ctx->external_system_id,
                                               repos_name, ctx->cached_username)
                               .c_str());
}

bool decode_isvaliduser(const char* data, apr_size_t len, int* answer) {
  if (data == nullptr || len < 4) return false;
  const auto* b = reinterpret_cast<const unsigned char*>(data);
  const unsigned int value = b[0] | b[1] << 8 | b[2] << 16 | static_cast<unsigned int>(b[3]) << 24;
  *answer = static_cast<int>(value);
  return true;
}

void encode_isvaliduser(int answer, char out[4]) {
  const auto value = static_cast<unsigned int>(answer);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(value >> (8 * i));
}
