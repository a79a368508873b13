#include "roles_input.h"

#include <fstream>
#include <iostream>

#include "exit_status.h"

namespace zebauthz {

role_input parse_role_option(const std::string& text) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    throw failure(kExitUsage, "--role wants ID=PBP[,PBP...], not '" + text + "'");
  }
  role_input role{text.substr(0, equals), {}};
  const std::string list = text.substr(equals + 1);
  size_t start = 0;
  while (start < list.size()) {
    const size_t comma = list.find(',', start);
    const size_t end = comma == std::string::npos ? list.size() : comma;
    role.pbps.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return role;
}

namespace {

role_input role_from_json(const nlohmann::json& entry) {
  if (!entry.is_object()) throw failure(kExitBadInput, "a role must be a JSON object");
  role_input role;
  if (const auto id = entry.find("id"); id != entry.end() && !id->is_null()) {
    if (!id->is_string()) throw failure(kExitBadInput, "a role's \"id\" must be a string");
    role.id = id->get<std::string>();
  }
  if (const auto pbps = entry.find("pbps"); pbps != entry.end() && !pbps->is_null()) {
    if (!pbps->is_array()) throw failure(kExitBadInput, "a role's \"pbps\" must be a list");
    for (const auto& pbp : *pbps) {
      // The service skips nil strings; so does the module.
      if (pbp.is_null()) continue;
      if (!pbp.is_string()) throw failure(kExitBadInput, "a PBP must be a string");
      role.pbps.push_back(pbp.get<std::string>());
    }
  }
  return role;
}

}  // namespace

std::vector<role_input> roles_from_json(const nlohmann::json& json) {
  const nlohmann::json* list = &json;
  if (json.is_object() && json.contains("roles")) list = &json["roles"];
  if (!list->is_array()) throw failure(kExitBadInput, "expected a JSON list of roles");
  std::vector<role_input> roles;
  for (const auto& entry : *list) {
    if (!entry.is_null()) roles.push_back(role_from_json(entry));
  }
  return roles;
}

std::vector<role_input> read_roles_file(const std::string& name) {
  try {
    if (name == "-") return roles_from_json(nlohmann::json::parse(std::cin));
    std::ifstream file(name);
    if (!file) throw failure(kExitBadInput, "cannot open roles file " + name);
    return roles_from_json(nlohmann::json::parse(file));
  } catch (const nlohmann::json::exception& e) {
    throw failure(kExitBadInput, "roles in " + name + ": " + e.what());
  }
}

nlohmann::json roles_to_json(const std::vector<role_input>& roles) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& role : roles) {
    list.push_back(
        {{"id", role.id ? nlohmann::json(*role.id) : nlohmann::json()}, {"pbps", role.pbps}});
  }
  return list;
}

}  // namespace zebauthz
