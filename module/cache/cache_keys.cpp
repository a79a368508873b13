#include "cache_keys.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <initializer_list>

namespace zeb {

namespace {

constexpr unsigned long kRoleRecordSize = 56;

// Fields are joined by ':'; escaping ':' (and the escape character) in the
// fields keeps two different sets of fields from joining into one key.
std::string join_fields(std::initializer_list<const char*> fields) {
  std::string key;
  bool first = true;
  for (const char* field : fields) {
    if (!first) key += ':';
    first = false;
    for (const char* c = field != nullptr ? field : ""; *c != '\0'; ++c) {
      if (*c == '%') {
        key += "%25";
      } else if (*c == ':') {
        key += "%3A";
      } else {
        key += *c;
      }
    }
  }
  return key;
}

}  // namespace

std::string password_digest(const char* secret, const char* password) {
  if (secret == nullptr) secret = "";
  if (password == nullptr) password = "";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(EVP_sha256(), secret, static_cast<int>(std::strlen(secret)),
           reinterpret_cast<const unsigned char*>(password), std::strlen(password), digest,
           &length) == nullptr) {
    return {};
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xf];
  }
  return hex;
}

std::string is_valid_user_key(const char* endpoint, const char* system_id, const char* repos_name,
                              const char* username, const char* secret, const char* password) {
  const std::string digest = password_digest(secret, password);
  if (digest.empty()) return {};
  return join_fields({username, digest.c_str(), "isvaliduser", repos_name, system_id, endpoint});
}

std::string role_paths_key(const char* endpoint, const char* system_id, const char* repos_name,
                           const char* username) {
  const std::string record_size = std::to_string(kRoleRecordSize);
  return join_fields(
      {username, repos_name, system_id, "getrolepaths", record_size.c_str(), endpoint});
}

std::string external_system_id_key(const char* endpoint) {
  return join_fields({"extsysid", endpoint});
}

}  // namespace zeb
