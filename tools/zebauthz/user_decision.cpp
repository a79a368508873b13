#include "user_decision.h"

#include "core_question.h"

namespace zebauthz {

pbp_access_t combined_global_access(const apr_array_header_t* store) {
  pbp_access_t global = PBP_UNKNOWN;
  for (int i = 0; i < store->nelts; ++i) {
    const auto* role = APR_ARRAY_IDX(store, i, const role_processed_pbps_t*);
    if (role->role_global_access > global) global = role->role_global_access;
  }
  return global;
}

user_decision decide_node(const apr_array_header_t* store, pbp_access_t required,
                          const std::string& path, apr_pool_t* pool) {
  auto* roles = const_cast<apr_array_header_t*>(store);
  const zeb::decision::verdict verdict = ask_core(roles, required, path, false, nullptr, pool);
  user_decision decision{required,
                         path,
                         verdict.kind == zeb::decision::verdict_kind::granted,
                         decided_by::no_role,
                         combined_global_access(store),
                         nullptr,
                         {}};
  if (decision.granted && verdict.by_global_access) {
    decision.basis = decided_by::global_access;
    for (int i = 0; i < store->nelts && decision.deciding_role == nullptr; ++i) {
      const auto* role = APR_ARRAY_IDX(store, i, const role_processed_pbps_t*);
      if (role->role_global_access == decision.global_access) decision.deciding_role = role;
    }
    return decision;
  }
  if (decision.granted) {
    decision.basis = decided_by::role;
    decision.deciding_role = verdict.granting_role;
  }
  // The engine's reasons of each role consulted, up to the one that granted.
  for (int i = 0; i < store->nelts; ++i) {
    auto* role = APR_ARRAY_IDX(store, i, role_processed_pbps_t*);
    role_decision consulted{role, role == decision.deciding_role, {}};
    if (required != PBP_NO_ACCESS) {
      zeb_explain_access(&consulted.why, role->sorted_absolute_pbps, role->unsorted_wildcard_pbps,
                         required, path.c_str(), pool);
    }
    decision.roles.push_back(consulted);
    if (consulted.granted) break;
  }
  return decision;
}

namespace {

// The matching wildcard that counted with score and the given effect.
const zeb_wildcard_match_t* wildcard_with(const zeb_explanation_t& why, int score, bool grants) {
  for (int i = 0; i < why.wildcards->nelts; ++i) {
    const auto& match = APR_ARRAY_IDX(why.wildcards, i, zeb_wildcard_match_t);
    if (match.score == score && (match.grants != 0) == grants) return &match;
  }
  return nullptr;
}

}  // namespace

deciding_rule rule_of(const role_decision& decision) {
  const zeb_explanation_t& why = decision.why;
  if (why.wildcards == nullptr) return {};
  // The rule that wins the weighing: an absolute grant when it is at least
  // as deep as every revoke, else the deepest wildcard grant; for a refusal
  // the deepest revoke, an absolute one on a tie.
  bool absolute = false;
  bool grants = decision.granted;
  int score = -1;
  if (decision.granted) {
    absolute = why.absolute_grant >= 0 && why.absolute_grant >= why.wildcard_revoke &&
               why.absolute_grant >= why.absolute_revoke;
    score = absolute ? why.absolute_grant : why.wildcard_grant;
  } else {
    absolute = why.absolute_revoke >= why.wildcard_revoke && why.absolute_revoke >= 0;
    score = absolute ? why.absolute_revoke : why.wildcard_revoke;
  }
  if (score < 0) return {};
  if (absolute) return {why.absolute, false, score};
  const zeb_wildcard_match_t* match = wildcard_with(why, score, grants);
  return match != nullptr ? deciding_rule{match->item, true, score} : deciding_rule{};
}

}  // namespace zebauthz
