// The user keys under which service answers are shared through memcached
// (the cache layer turns each into the stored key). Every key names the
// service the answer came from, so that answers never cross services, and
// the credential key names the repository, because the service answers per
// repository. Plain strings only, so that tools outside httpd derive the
// same keys. A null argument counts as the empty string.
#ifndef CACHE_KEYS_H
#define CACHE_KEYS_H

#include <string>

namespace zeb {

// The prefix the cache layer stores every entry of the module under.
inline constexpr char kMemcachePrefix[] = "mod_authnz_zeb";

// Lower-case hex HMAC-SHA-256 of password keyed with secret: a listing of
// memcached's keys then gives no way to test password guesses without the
// secret. Empty when no digest can be made.
std::string password_digest(const char* secret, const char* password);

// "isvaliduser" entry: user, password digest, repository, external system
// id and endpoint. Empty when no digest can be made (nothing is cached).
std::string is_valid_user_key(const char* endpoint, const char* system_id, const char* repos_name,
                              const char* username, const char* secret, const char* password);

// Role-paths entry of a user in a repository.
std::string role_paths_key(const char* endpoint, const char* system_id, const char* repos_name,
                           const char* username);

// The external system id the service at endpoint names.
std::string external_system_id_key(const char* endpoint);

}  // namespace zeb

#endif
