// PBP strings that can never apply or do not mean what they seem.
#ifndef ZEBAUTHZ_LINT_H
#define ZEBAUTHZ_LINT_H

#include <apr_pools.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "roles_input.h"

namespace zebauthz {

struct lint_finding {
  std::optional<std::string> role;  // the role's id
  std::string pbp;                  // the raw string; empty for a finding about the role
  std::string code;                 // no-colon, unknown-action, relative-path, bad-wildcard,
                                    // merged-lower, duplicate, redundant, no-usable-pbp
  std::string message;
};

std::vector<lint_finding> lint_roles(const std::vector<role_input>& roles, apr_pool_t* pool);

void write_findings(std::ostream& out, const std::vector<lint_finding>& findings);
nlohmann::json findings_json(const std::vector<lint_finding>& findings);

}  // namespace zebauthz

#endif
