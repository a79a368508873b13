// zebauthz explain and zebauthz lint.
#include <iostream>

#include "command_line.h"
#include "commands.h"
#include "exit_status.h"
#include "explain_report.h"
#include "lint.h"
#include "role_set.h"

namespace zebauthz {
namespace {

const option_spec kRolesOptions{{"--json"}, {"--role", "--roles"}, {"--role"}, std::nullopt};

std::vector<role_input> roles_of(const command_line& line) {
  const auto file = line.value("--roles");
  const auto options = line.values("--role");
  if (file && !options.empty()) throw failure(kExitUsage, "give --role or --roles, not both");
  if (file) return read_roles_file(*file);
  if (options.empty())
    throw failure(kExitUsage, "no roles: give --role ID=PBP,... or --roles FILE");
  std::vector<role_input> roles;
  for (const auto& option : options) roles.push_back(parse_role_option(option));
  return roles;
}

}  // namespace

int run_explain(const std::vector<std::string>& args, apr_pool_t* pool) {
  const command_line line(args, kRolesOptions);
  const auto& operands = line.operands();
  if (operands.size() < 2) throw failure(kExitUsage, "explain wants an action and a path");
  const pbp_access_t required = parse_action(operands[0]);
  for (size_t i = 1; i < operands.size(); ++i) {
    if (operands[i].empty() || operands[i][0] != '/') {
      throw failure(kExitUsage, "repository paths begin with '/': " + operands[i]);
    }
  }
  apr_array_header_t* store = load_role_store(roles_of(line), pool);
  bool all_granted = true;
  nlohmann::json decisions = nlohmann::json::array();
  for (size_t i = 1; i < operands.size(); ++i) {
    const user_decision decision = decide_node(store, required, operands[i], pool);
    all_granted = all_granted && decision.granted;
    if (line.flag("--json")) {
      decisions.push_back(decision_json(decision));
    } else {
      write_decision(std::cout, decision);
    }
  }
  if (line.flag("--json")) std::cout << nlohmann::json{{"decisions", decisions}}.dump(2) << "\n";
  return all_granted ? kExitOk : kExitFound;
}

int run_lint(const std::vector<std::string>& args, apr_pool_t* pool) {
  const command_line line(args, kRolesOptions);
  if (!line.operands().empty()) throw failure(kExitUsage, "lint takes no operands");
  const std::vector<lint_finding> findings = lint_roles(roles_of(line), pool);
  if (line.flag("--json")) {
    std::cout << findings_json(findings).dump(2) << "\n";
  } else {
    write_findings(std::cout, findings);
  }
  return findings.empty() ? kExitOk : kExitFound;
}

}  // namespace zebauthz
