// The explanation of paths that explain and fetch --explain give: each path
// decided on its node, or with --recursive on its tree in a repository on
// disk, written for people or gathered as JSON.
#ifndef ZEBAUTHZ_EXPLAIN_PATHS_H
#define ZEBAUTHZ_EXPLAIN_PATHS_H

#include <apr_pools.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "roles_input.h"
#include "zeb_authorizer.h"

namespace zebauthz {

struct path_question {
  pbp_access_t required = PBP_NO_ACCESS;
  std::vector<std::string> paths;
  bool recursive = false;
  bool all_refused = false;  // every refused node of the tree, not the first
  std::optional<std::string> repos;
  std::optional<long> revision;
};

// The question of "ACTION PATH..." with the tree options of line
// (--recursive with --repos and optionally --revision and --all-refused);
// throws
// failure(kExitUsage).
path_question question_of(const std::vector<std::string>& action_and_paths,
                          const command_line& line);

// Decides each path for the roles, as the module decides them; writes the
// decisions to standard output, or appends them to json_decisions when it
// is given. True when every path is granted. Throws
// failure(kExitRepository) when the repository cannot be read.
bool explain_paths(const std::vector<role_input>& roles, const path_question& question,
                   nlohmann::json* json_decisions, apr_pool_t* pool);

}  // namespace zebauthz

#endif
