// zebauthz fetch and zebauthz flush: a user's roles from the service or from
// what the module cached, and dropping what the module cached.
#include <iostream>

#include "cache_client.h"
#include "cache_keys.h"
#include "command_line.h"
#include "commands.h"
#include "credentials_cache.h"
#include "exit_status.h"
#include "explain_paths.h"
#include "properties_file.h"
#include "property_names.h"
#include "scm_requestkey.h"
#include "service_client.h"
#include "soap_runtime_settings.h"
#include "user_session.h"

namespace zebauthz {
namespace {

const option_spec kFetchOptions{{"--json", "--via-cache", "--recursive", "--all-refused"},
                                {"--properties", "--user", "--repository", "--password-file",
                                 "--memcache", "--location", "--repos", "--revision"},
                                {},
                                "--explain"};

const option_spec kFlushOptions{
    {"--json"},
    {"--properties", "--user", "--repository", "--password-file", "--memcache", "--location"},
    {},
    std::nullopt};

// Whose entries, at which service: what the module's keys are made of.
struct user_scope {
  std::string user;
  std::string repository;
  apr_hash_t* props;
  const char* endpoint;

  user_scope(const command_line& line, apr_pool_t* pool)
      : user(line.required("--user")),
        repository(line.required("--repository")),
        props(load_properties_file(line.required("--properties"), pool)),
        endpoint(make_scmlistener_url(props, pool)) {}

  std::string role_paths_key(const char* system_id) const {
    return zeb::role_paths_key(endpoint, system_id, repository.c_str(), user.c_str());
  }

  std::string acceptance_key(const char* system_id, const std::string& password) const {
    const std::string key = zeb::is_valid_user_key(
        endpoint, system_id, repository.c_str(), user.c_str(),
        get_property(props, kSharedSecretProperty, SCM_DEFAULT_SHARED_SECRET), password.c_str());
    if (key.empty()) throw failure(kExitCache, "cannot derive the key of the password's entry");
    return key;
  }

  std::string system_id_key() const { return zeb::external_system_id_key(endpoint); }
};

struct fetched {
  std::vector<role_input> roles;
  std::string source;
  const char* system_id = nullptr;
  std::optional<bool> accepted;
};

std::optional<std::string> password_of(const command_line& line) {
  const auto file = line.value("--password-file");
  return file ? std::optional<std::string>(read_password_file(*file)) : std::nullopt;
}

fetched from_cache(const command_line& line, const user_scope& scope, apr_pool_t* pool) {
  module_cache cache(line.required("--memcache"), pool);
  fetched result;
  result.source = "memcached";
  result.system_id = resolve_system_id(
      scope.props, line.value("--location"),
      [&] {
        auto id = cache.value(scope.system_id_key());
        if (!id) throw failure(kExitCache, "no external system id of the service is cached");
        return id;
      },
      pool);
  const auto value = cache.value(scope.role_paths_key(result.system_id));
  if (!value) {
    throw failure(kExitCache,
                  "no role paths of " + scope.user + " in " + scope.repository + " are cached");
  }
  result.roles = roles_of_value(*value, pool);
  if (const auto password = password_of(line)) {
    const auto cached = cache.value(scope.acceptance_key(result.system_id, *password));
    int answer = 1;
    if (cached && decode_isvaliduser(cached->data(), cached->size(), &answer)) {
      result.accepted = answer == 0;
    }
  }
  return result;
}

fetched from_service(const command_line& line, const user_scope& scope, apr_pool_t* pool) {
  service_client client(scope.props, pool);
  fetched result;
  result.system_id = resolve_system_id(
      scope.props, line.value("--location"), [&] { return client.external_system_id(scope.user); },
      pool);
  if (const auto password = password_of(line)) {
    const int answer =
        client.is_valid_user(scope.user, *password, result.system_id, scope.repository);
    result.accepted = answer == 0;
    // The module asks for roles only once the password is accepted.
    if (answer != 0) {
      throw failure(kExitService, "the service refuses the password of " + scope.user + " in " +
                                      scope.repository + " (isValidUser answered " +
                                      std::to_string(answer) + ")");
    }
  }
  role_answer answer = client.role_paths(scope.user, result.system_id, scope.repository);
  result.roles = std::move(answer.roles);
  result.source = answer.operation + " at " + client.endpoint();
  return result;
}

void write_roles(std::ostream& out, const fetched& result, const user_scope& scope) {
  out << scope.user << " in " << scope.repository << " (" << result.source << ", system id "
      << (result.system_id != nullptr ? result.system_id : "none") << "):\n";
  if (result.accepted) out << "  password " << (*result.accepted ? "accepted" : "refused") << "\n";
  if (result.roles.empty()) out << "  no roles\n";
  for (const auto& role : result.roles) {
    out << "  role " << role.id.value_or("(no id)") << ":";
    for (size_t i = 0; i < role.pbps.size(); ++i) out << (i == 0 ? " " : ", ") << role.pbps[i];
    out << (role.pbps.empty() ? " no PBPs\n" : "\n");
  }
}

}  // namespace

int run_fetch(const std::vector<std::string>& args, apr_pool_t* pool) {
  const command_line line(args, kFetchOptions);
  if (!line.operands().empty()) throw failure(kExitUsage, "fetch takes no operands");
  std::optional<path_question> question;
  if (line.rest()) question = question_of(*line.rest(), line);
  if (!question && (line.flag("--recursive") || line.flag("--all-refused") ||
                    line.value("--repos") || line.value("--revision"))) {
    throw failure(kExitUsage, "the tree options go with --explain");
  }
  const user_scope scope(line, pool);
  const fetched result =
      line.flag("--via-cache") ? from_cache(line, scope, pool) : from_service(line, scope, pool);

  const bool json = line.flag("--json");
  nlohmann::json document = {
      {"user", scope.user},
      {"repository", scope.repository},
      {"source", result.source},
      {"system_id",
       result.system_id != nullptr ? nlohmann::json(result.system_id) : nlohmann::json()},
      {"roles", roles_to_json(result.roles)}};
  if (result.accepted) document["accepted"] = *result.accepted;
  if (!json) write_roles(std::cout, result, scope);
  bool all_granted = true;
  if (question) {
    document["decisions"] = nlohmann::json::array();
    all_granted =
        explain_paths(result.roles, *question, json ? &document["decisions"] : nullptr, pool);
  }
  if (json) std::cout << document.dump(2) << "\n";
  return all_granted ? kExitOk : kExitFound;
}

int run_flush(const std::vector<std::string>& args, apr_pool_t* pool) {
  const command_line line(args, kFlushOptions);
  if (!line.operands().empty()) throw failure(kExitUsage, "flush takes no operands");
  module_cache cache(line.required("--memcache"), pool);
  const user_scope scope(line, pool);
  const std::optional<std::string> password = password_of(line);

  // The system id the module runs with: what it cached, else the service's.
  const char* system_id = resolve_system_id(
      scope.props, line.value("--location"),
      [&] {
        try {
          if (auto id = cache.value(scope.system_id_key())) return id;
        } catch (const failure&) {
          // The service knows it too; the servers are reported below.
        }
        service_client client(scope.props, pool);
        return client.external_system_id(scope.user);
      },
      pool);
  std::vector<std::pair<const char*, std::string>> entries = {
      {"role paths", scope.role_paths_key(system_id)}};
  if (password) entries.emplace_back("acceptance", scope.acceptance_key(system_id, *password));

  nlohmann::json dropped = nlohmann::json::array();
  std::vector<std::string> unreachable;
  for (const auto& [name, key] : entries) {
    for (size_t i = 0; i < cache.servers().size(); ++i) {
      nlohmann::json outcome = {{"entry", name}, {"server", cache.servers()[i]}};
      try {
        outcome["removed"] = cache.drop(i, key);
      } catch (const failure& e) {
        outcome["error"] = e.what();
        unreachable.push_back(e.what());
      }
      if (!line.flag("--json")) {
        const std::string what =
            std::string(name) + " of " + scope.user + " in " + scope.repository;
        if (outcome.contains("error")) {
          std::cout << "not dropped: " << what << " (" << outcome["error"].get<std::string>()
                    << ")\n";
        } else {
          std::cout << (outcome["removed"].get<bool>() ? "dropped " : "nothing cached: ") << what
                    << " at " << cache.servers()[i] << "\n";
        }
      }
      dropped.push_back(std::move(outcome));
    }
  }
  if (line.flag("--json")) {
    std::cout << nlohmann::json{{"user", scope.user},
                                {"repository", scope.repository},
                                {"dropped", dropped}}
                     .dump(2)
              << "\n";
  }
  // A server that could not be told keeps its entries until they expire.
  if (!unreachable.empty()) {
    throw failure(kExitCache, unreachable.front() + "; what it holds stays until it expires");
  }
  return kExitOk;
}

}  // namespace zebauthz
