// zebauthz key: the memcached key the module keeps an entry under, so that
// scripts (and the test harness) read or plant entries without deriving the
// module's keys themselves.
#include <iostream>

#include "cache_keys.h"
#include "command_line.h"
#include "commands.h"
#include "exit_status.h"
#include "user_session.h"
#include "zeb_memcache.h"

namespace zebauthz {
namespace {

const option_spec kKeyOptions{{},
                              {"--endpoint", "--system-id", "--repository", "--user", "--secret",
                               "--password-file", "--user-key"},
                              {},
                              std::nullopt};

constexpr char kEntries[] = "valid-user, role-paths or system-id";

// The user key of the entry the command line names.
std::string user_key_of(const command_line& line) {
  const auto& operands = line.operands();
  if (const auto given = line.value("--user-key")) {
    if (!operands.empty()) throw failure(kExitUsage, "give an entry or --user-key, not both");
    return *given;
  }
  if (operands.size() != 1) throw failure(kExitUsage, std::string("name one entry: ") + kEntries);
  const std::string& entry = operands.front();
  const std::string endpoint = line.required("--endpoint");
  if (entry == "system-id") return zeb::external_system_id_key(endpoint.c_str());
  if (entry != "role-paths" && entry != "valid-user") {
    throw failure(kExitUsage, "unknown entry '" + entry + "' (known: " + kEntries + ")");
  }
  const std::string system_id = line.required("--system-id");
  const std::string repository = line.required("--repository");
  const std::string user = line.required("--user");
  if (entry == "role-paths") {
    return zeb::role_paths_key(endpoint.c_str(), system_id.c_str(), repository.c_str(),
                               user.c_str());
  }
  const std::string secret = line.required("--secret");
  const std::string password = read_password_file(line.required("--password-file"));
  const std::string key =
      zeb::is_valid_user_key(endpoint.c_str(), system_id.c_str(), repository.c_str(), user.c_str(),
                             secret.c_str(), password.c_str());
  if (key.empty()) throw failure(kExitCache, "cannot derive the key of the password's entry");
  return key;
}

}  // namespace

int run_key(const std::vector<std::string>& args, apr_pool_t* pool) {
  const command_line line(args, kKeyOptions);
  const std::string user_key = user_key_of(line);
  const char* key = nullptr;
  if (memcache_cache_genkey(user_key.c_str(), zeb::kMemcachePrefix, &key, nullptr, pool) !=
      APR_SUCCESS) {
    throw failure(kExitCache, "cannot derive the memcached key");
  }
  std::cout << key << "\n";
  return kExitOk;
}

}  // namespace zebauthz
