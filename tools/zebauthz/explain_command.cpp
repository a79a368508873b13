// zebauthz explain and zebauthz lint.
#include <iostream>

#include "command_line.h"
#include "commands.h"
#include "exit_status.h"
#include "explain_paths.h"
#include "lint.h"
#include "role_set.h"

namespace zebauthz {
namespace {

const option_spec kRolesOptions{{"--json"}, {"--role", "--roles"}, {"--role"}, std::nullopt};
const option_spec kExplainOptions{{"--json", "--recursive", "--all-refused"},
                                  {"--role", "--roles", "--repos", "--revision"},
                                  {"--role"},
                                  std::nullopt};

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
  const command_line line(args, kExplainOptions);
  const path_question question = question_of(line.operands(), line);
  const std::vector<role_input> roles = roles_of(line);
  if (!line.flag("--json"))
    return explain_paths(roles, question, nullptr, pool) ? kExitOk : kExitFound;
  nlohmann::json decisions = nlohmann::json::array();
  const bool all_granted = explain_paths(roles, question, &decisions, pool);
  std::cout << nlohmann::json{{"decisions", decisions}}.dump(2) << "\n";
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
