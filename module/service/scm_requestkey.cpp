#include "scm_requestkey.h"

#include <apr_base64.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <array>
#include <cstring>
#include <ctime>
#include <string_view>

namespace {

constexpr std::string_view kDefaultSecret = SCM_DEFAULT_SHARED_SECRET;
constexpr std::string_view kDigestSalt = "tovrelimqasund";
constexpr std::size_t kTokenSize = 4 + 4 + SHA_DIGEST_LENGTH;
constexpr std::size_t kKeyBufferSize = 56;

using Le32 = std::array<unsigned char, 4>;

Le32 le32(uint32_t v) {
  return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
          static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
}

uint32_t read_le32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool sha1(const void* data, std::size_t size, unsigned char* digest) {
  return EVP_Digest(data, size, digest, nullptr, EVP_sha1(), nullptr) == 1;
}

// Appends bytes at out and returns the position after them.
unsigned char* append(unsigned char* out, const void* bytes, std::size_t size) {
  std::memcpy(out, bytes, size);
  return out + size;
}

bool timestamp_salt(apr_pool_t* pool, uint32_t* salt) {
  auto* digest = static_cast<unsigned char*>(apr_palloc(pool, SHA_DIGEST_LENGTH));
  if (!sha1(kDefaultSecret.data(), kDefaultSecret.size(), digest)) return false;
  *salt = read_le32(digest);
  return true;
}

}  // namespace

uint32_t scm_timestamp_salt(apr_pool_t* pool) {
  uint32_t salt = 0;
  timestamp_salt(pool, &salt);
  return salt;
}

const char* scm_requestkey_make(const char* secret, uint32_t random_value, int64_t now,
                                apr_pool_t* pool, apr_pool_t* key_pool) {
  const std::string_view secret_bytes = secret ? std::string_view(secret) : kDefaultSecret;
  uint32_t salt;
  if (!timestamp_salt(pool, &salt)) return nullptr;
  const Le32 r = le32(random_value);
  const Le32 s = le32(salt ^ static_cast<uint32_t>(now));

  auto* token = static_cast<unsigned char*>(apr_palloc(pool, kTokenSize));
  std::memcpy(token, r.data(), r.size());
  std::memcpy(token + 4, s.data(), s.size());

  const std::size_t input_size = 2 * secret_bytes.size() + r.size() + s.size() + kDigestSalt.size();
  auto* input = static_cast<unsigned char*>(apr_palloc(pool, input_size));
  unsigned char* end = append(input, secret_bytes.data(), secret_bytes.size());
  end = append(end, r.data(), r.size());
  end = append(end, s.data(), s.size());
  end = append(end, secret_bytes.data(), secret_bytes.size());
  append(end, kDigestSalt.data(), kDigestSalt.size());
  if (!sha1(input, input_size, token + 8)) return nullptr;

  auto* key = static_cast<char*>(apr_pcalloc(key_pool, kKeyBufferSize));
  apr_base64_encode(key, reinterpret_cast<const char*>(token), static_cast<int>(kTokenSize));
  return key;
}

const char* scm_requestkey_create(const char* secret, apr_pool_t* pool, apr_pool_t* key_pool) {
  // Every httpd child must draw its own value; OpenSSL reseeds after a fork.
  unsigned char random_bytes[4];
  if (RAND_bytes(random_bytes, sizeof random_bytes) != 1) return nullptr;
  return scm_requestkey_make(secret, read_le32(random_bytes),
                             static_cast<int64_t>(std::time(nullptr)), pool, key_pool);
}
