#include "explain_paths.h"

#include <iostream>

#include "exit_status.h"
#include "explain_report.h"
#include "role_set.h"
#include "tree_decision.h"

namespace zebauthz {
namespace {

std::optional<long> revision_of(const command_line& line) {
  const auto text = line.value("--revision");
  if (!text) return std::nullopt;
  try {
    size_t used = 0;
    const long number = std::stol(*text, &used);
    if (used == text->size() && number >= 0) return number;
  } catch (const std::exception&) {
  }
  throw failure(kExitUsage, "--revision wants a revision number, not '" + *text + "'");
}

// Every refused node of each tree: what the user sees, by what is left out.
bool explain_refused_nodes(apr_array_header_t* store, const path_question& question,
                           svn_fs_root_t* root, nlohmann::json* json_decisions, apr_pool_t* pool) {
  bool all_granted = true;
  for (const auto& path : question.paths) {
    const std::vector<std::string> refused =
        refused_nodes(store, question.required, path, root, pool);
    all_granted = all_granted && refused.empty();
    nlohmann::json json = {{"action", access_name(question.required)},
                           {"path", path},
                           {"granted", refused.empty()},
                           {"recursive", true},
                           {"refused", nlohmann::json::array()}};
    if (json_decisions == nullptr) {
      std::cout << access_name(question.required) << " " << path << ": "
                << (refused.empty() ? "GRANTED on every node of the tree"
                                    : "REFUSED on " + std::to_string(refused.size()) +
                                          " node(s) of the tree, each below with its reasons")
                << "\n";
    }
    for (const auto& node : refused) {
      const user_decision decision = decide_node(store, question.required, node, pool);
      if (json_decisions != nullptr) {
        json["refused"].push_back(decision_json(decision));
      } else {
        write_decision(std::cout, decision);
      }
    }
    if (json_decisions != nullptr) json_decisions->push_back(std::move(json));
  }
  return all_granted;
}

}  // namespace

path_question question_of(const std::vector<std::string>& action_and_paths,
                          const command_line& line) {
  if (action_and_paths.size() < 2)
    throw failure(kExitUsage, "an action and at least one path are needed");
  path_question question;
  question.required = parse_action(action_and_paths[0]);
  question.paths.assign(action_and_paths.begin() + 1, action_and_paths.end());
  for (const auto& path : question.paths) {
    if (path.empty() || path[0] != '/') {
      throw failure(kExitUsage, "repository paths begin with '/': " + path);
    }
  }
  question.recursive = line.flag("--recursive");
  question.repos = line.value("--repos");
  question.revision = revision_of(line);
  if (question.recursive != question.repos.has_value()) {
    throw failure(kExitUsage, "--recursive and --repos go together");
  }
  question.all_refused = line.flag("--all-refused");
  if ((question.revision || question.all_refused) && !question.recursive) {
    throw failure(kExitUsage, "--revision and --all-refused go with --recursive");
  }
  return question;
}

bool explain_paths(const std::vector<role_input>& roles, const path_question& question,
                   nlohmann::json* json_decisions, apr_pool_t* pool) {
  apr_array_header_t* store = load_role_store(roles, pool);
  svn_fs_root_t* root =
      question.recursive ? open_revision_root(*question.repos, question.revision, pool) : nullptr;
  if (question.all_refused)
    return explain_refused_nodes(store, question, root, json_decisions, pool);
  bool all_granted = true;
  for (const auto& path : question.paths) {
    const tree_decision tree =
        question.recursive
            ? decide_tree(store, question.required, path, root, pool)
            : tree_decision{decide_node(store, question.required, path, pool), std::nullopt};
    all_granted = all_granted && tree.decision.granted;
    if (json_decisions != nullptr) {
      json_decisions->push_back(decision_json(tree.decision, tree.failed));
      json_decisions->back()["recursive"] = question.recursive;
    } else {
      write_decision(std::cout, tree.decision, tree.failed);
    }
  }
  return all_granted;
}

}  // namespace zebauthz
