// Decisions written for people and as JSON.
#ifndef ZEBAUTHZ_EXPLAIN_REPORT_H
#define ZEBAUTHZ_EXPLAIN_REPORT_H

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>

#include "user_decision.h"

namespace zebauthz {

// Where a recursive check stopped: the first node refused, and why when it
// was not the permissions (a node that could not be read).
struct tree_failure {
  std::string path;
  std::string reason;  // empty when no role grants the node
};

void write_decision(std::ostream& out, const user_decision& decision,
                    const std::optional<tree_failure>& failed = std::nullopt);

nlohmann::json decision_json(const user_decision& decision,
                             const std::optional<tree_failure>& failed = std::nullopt);

}  // namespace zebauthz

#endif
