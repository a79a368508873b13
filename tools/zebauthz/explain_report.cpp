#include "explain_report.h"

#include "role_set.h"

namespace zebauthz {
namespace {

std::string role_name(const role_processed_pbps_t* role) {
  return role != nullptr && role->role_id != nullptr ? role->role_id : "(no id)";
}

std::string pbp_text(const pbp_item_t* item) {
  return std::string(access_name(item->permission)) + ":" + item->path;
}

nlohmann::json role_id_json(const role_processed_pbps_t* role) {
  if (role == nullptr || role->role_id == nullptr) return nullptr;
  return role->role_id;
}

void write_role(std::ostream& out, const role_decision& consulted) {
  out << "  role " << role_name(consulted.role) << " (global access "
      << access_name(consulted.role->role_global_access)
      << "): " << (consulted.granted ? "grants" : "refuses") << "\n";
  const zeb_explanation_t& why = consulted.why;
  if (why.wildcards == nullptr) {
    out << "    no access required\n";
    return;
  }
  const deciding_rule rule = rule_of(consulted);
  if (rule.pbp == nullptr) {
    out << "    deciding rule: none; no PBP covers the path\n";
  } else {
    out << "    deciding rule: " << pbp_text(rule.pbp) << " ("
        << (rule.wildcard ? "wildcard, score " : "absolute, depth ") << rule.score << ")\n";
  }
  if (why.absolute != nullptr) {
    out << "    most specific absolute PBP: " << pbp_text(why.absolute) << " (depth "
        << why.absolute_depth << ", " << (why.absolute_grant >= 0 ? "grants" : "revokes") << ")\n";
  } else {
    out << "    most specific absolute PBP: none\n";
  }
  for (int i = 0; i < why.wildcards->nelts; ++i) {
    const auto& match = APR_ARRAY_IDX(why.wildcards, i, zeb_wildcard_match_t);
    out << "    matching wildcard: " << pbp_text(match.item) << " (score " << match.score << ", "
        << (match.grants ? "grants" : "revokes")
        << (match.match_failed ? "; the pattern library gave up, counted as matching" : "")
        << ")\n";
  }
}

nlohmann::json role_json(const role_decision& consulted) {
  nlohmann::json json = {{"id", role_id_json(consulted.role)},
                         {"global_access", access_name(consulted.role->role_global_access)},
                         {"granted", consulted.granted}};
  const zeb_explanation_t& why = consulted.why;
  if (why.wildcards == nullptr) return json;
  const deciding_rule rule = rule_of(consulted);
  json["rule"] = rule.pbp == nullptr
                     ? nlohmann::json()
                     : nlohmann::json{{"pbp", pbp_text(rule.pbp)},
                                      {"kind", rule.wildcard ? "wildcard" : "absolute"},
                                      {"score", rule.score}};
  json["absolute"] = why.absolute == nullptr ? nlohmann::json()
                                             : nlohmann::json{{"pbp", pbp_text(why.absolute)},
                                                              {"depth", why.absolute_depth},
                                                              {"grants", why.absolute_grant >= 0}};
  json["wildcards"] = nlohmann::json::array();
  for (int i = 0; i < why.wildcards->nelts; ++i) {
    const auto& match = APR_ARRAY_IDX(why.wildcards, i, zeb_wildcard_match_t);
    json["wildcards"].push_back({{"pbp", pbp_text(match.item)},
                                 {"score", match.score},
                                 {"grants", match.grants != 0},
                                 {"match_failed", match.match_failed != 0}});
  }
  return json;
}

const char* basis_name(decided_by basis) {
  switch (basis) {
    case decided_by::global_access:
      return "global access";
    case decided_by::role:
      return "role";
    case decided_by::no_role:
      break;
  }
  return "no role";
}

}  // namespace

void write_decision(std::ostream& out, const user_decision& decision,
                    const std::optional<tree_failure>& failed) {
  out << access_name(decision.required) << " " << decision.path << ": "
      << (decision.granted ? "GRANTED" : "REFUSED");
  switch (decision.basis) {
    case decided_by::global_access:
      out << " by global access " << access_name(decision.global_access) << " of role "
          << role_name(decision.deciding_role) << "\n";
      break;
    case decided_by::role:
      out << " by role " << role_name(decision.deciding_role) << "\n";
      break;
    case decided_by::no_role:
      out << (decision.roles.empty() ? " (the user has no role with a usable PBP)"
                                     : " (no role grants it)")
          << "\n";
      break;
  }
  if (failed) {
    out << "  first node refused: " << failed->path;
    if (!failed->reason.empty()) out << " (" << failed->reason << ")";
    out << "\n";
  }
  if (decision.global_access != PBP_UNKNOWN) {
    out << "  user's global access: " << access_name(decision.global_access) << "\n";
  }
  for (const auto& consulted : decision.roles) write_role(out, consulted);
}

nlohmann::json decision_json(const user_decision& decision,
                             const std::optional<tree_failure>& failed) {
  nlohmann::json json = {
      {"action", access_name(decision.required)},
      {"path", decision.path},
      {"granted", decision.granted},
      {"decided_by", basis_name(decision.basis)},
      {"role", role_id_json(decision.deciding_role)},
      {"global_access", decision.global_access == PBP_UNKNOWN
                            ? nlohmann::json()
                            : nlohmann::json(access_name(decision.global_access))},
      {"roles", nlohmann::json::array()}};
  for (const auto& consulted : decision.roles) json["roles"].push_back(role_json(consulted));
  if (failed) {
    json["first_refused"] = {
        {"path", failed->path},
        {"reason", failed->reason.empty() ? nlohmann::json() : nlohmann::json(failed->reason)}};
  }
  return json;
}

}  // namespace zebauthz
