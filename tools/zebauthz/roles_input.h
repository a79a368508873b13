// The roles to explain or lint, as an administrator gives them: --role
// options, or a JSON file (or standard input) listing the roles.
#ifndef ZEBAUTHZ_ROLES_INPUT_H
#define ZEBAUTHZ_ROLES_INPUT_H

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace zebauthz {

struct role_input {
  std::optional<std::string> id;
  std::vector<std::string> pbps;  // raw PBP strings, in order
};

// "ID=PBP[,PBP...]"; "ID=" is a role without PBPs. Throws failure(kExitUsage).
role_input parse_role_option(const std::string& text);

// A JSON list of roles, {"id": ..., "pbps": [...]}, where a null entry is
// skipped (the service's nil entry), an absent id is a role without id and
// absent pbps a role without PBPs; or an object whose "roles" member is such
// a list (what `fetch --json` prints). Throws failure(kExitBadInput).
std::vector<role_input> roles_from_json(const nlohmann::json& json);

// The roles of a JSON file, "-" reading standard input.
std::vector<role_input> read_roles_file(const std::string& name);

nlohmann::json roles_to_json(const std::vector<role_input>& roles);

}  // namespace zebauthz

#endif
