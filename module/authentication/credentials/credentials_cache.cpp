#include "credentials_cache.h"

#include <apr_strings.h>
#include <openssl/crypto.h>

#include <cstring>
#include <string>

#include "cache_keys.h"

namespace {

bool same_digest(const char* cached, const std::string& given) {
  return !given.empty() && std::strlen(cached) == given.size() &&
         CRYPTO_memcmp(cached, given.data(), given.size()) == 0;
}

}  // namespace

cache_comparison compare_credentials(const credentials_cache* cache, const char* secret,
                                     const char* username, const char* password,
                                     const char* repos_name) {
  cache_comparison result{true, false, false, false};
  if (cache->cached_username == nullptr) {
    result.okay = false;
  } else if (std::strcmp(cache->cached_username, username) != 0) {
    result.okay = false;
    result.user_differs = true;
  }
  if (password != nullptr) {
    if (cache->cached_password_digest == nullptr) {
      result.okay = false;
    } else if (!same_digest(cache->cached_password_digest,
                            zeb::password_digest(secret, password))) {
      result.okay = false;
      result.password_differs = true;
    }
  }
  if (cache->repos_name == nullptr) {
    result.okay = false;
  } else if (repos_name == nullptr || std::strcmp(cache->repos_name, repos_name) != 0) {
    result.okay = false;
    result.repos_differs = true;
  }
  return result;
}

bool presents_accepted_header(const credentials_cache* cache, const char* header) {
  if (header == nullptr || cache->accepted_header == nullptr) return false;
  const apr_size_t length = std::strlen(header);
  return length == cache->accepted_header_length &&
         CRYPTO_memcmp(header, cache->accepted_header, length) == 0;
}

bool clear_credentials(credentials_cache* cache) {
  if (cache->cached_username == nullptr) return false;
  *cache = credentials_cache{};
  return true;
}

void remember_credentials(credentials_cache* cache, apr_pool_t* pool, const char* secret,
                          const char* username, const char* password, const char* repos_name,
                          const char* header, apr_time_t now) {
  const std::string digest = zeb::password_digest(secret, password);
  cache->cached_username = apr_pstrdup(pool, username);
  // Without a digest no later password matches: each request is checked
  // again, and so is a repeated header.
  cache->cached_password_digest = digest.empty() ? nullptr : apr_pstrdup(pool, digest.c_str());
  const bool keep_header = header != nullptr && !digest.empty();
  cache->accepted_header = keep_header ? apr_pstrdup(pool, header) : nullptr;
  cache->accepted_header_length = keep_header ? std::strlen(header) : 0;
  cache->repos_name = apr_pstrdup(pool, repos_name);
  cache->authenticated_internally = 1;
  cache->cache_filled_at = now;
}

bool credentials_expired(const credentials_cache* cache, apr_int64_t ttl_seconds, apr_time_t now) {
  if (cache->cached_username == nullptr) return false;
  return now < cache->cache_filled_at ||
         now - cache->cache_filled_at >= apr_time_from_sec(ttl_seconds);
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
