#include "request_decision.h"

#include <apr_strings.h>
#include <svn_dirent_uri.h>

#include <cstring>
#include <optional>

#include "decision_status.h"

namespace zeb::decision {
namespace {

// The store of repos_name in use, and the global commit that grants every
// question at once: a verdict when either settles the question.
std::optional<verdict> prepare(decider& d, const char* repos_name) {
  if (int rc = use_role_store(*d.stores, repos_name, d.cached_repos, *d.roles, d.store_parent,
                              *d.log, d.pool);
      rc != 0) {
    return verdict{verdict_kind::error, error_kind::roles, rc};
  }
  if (global_access_of(*d.stores) < PBP_COMMIT_ACCESS) return std::nullopt;
  log_line(*d.log, log_level::debug, d.pool, "Global commit access granted");
  verdict granted;
  granted.by_global_access = true;
  return granted;
}

bool has_required_access_somewhere(const role_processed_pbps_t* role, pbp_access_t required) {
  for (const apr_array_header_t* list :
       {role->sorted_absolute_pbps, role->unsorted_wildcard_pbps}) {
    if (list == nullptr) continue;
    for (int i = 0; i < list->nelts; ++i) {
      if (APR_ARRAY_IDX(list, i, const pbp_item_t*)->permission >= required) return true;
    }
  }
  return false;
}

bool role_grants(decider& d, role_processed_pbps_t* role, const pending_check& check) {
  if (check.action == PBP_NO_ACCESS) return true;
  ensure_processed_pbps(role, d.stores->roles->pool);
  if (check.level == ACCESS_SOMEWHERE) return has_required_access_somewhere(role, check.action);
  return has_non_recursive_access(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps,
                                  check.action, check.repos_path, d.pool) != 0;
}

void log_pbps(decider& d, const apr_array_header_t* pbps) {
  if (pbps == nullptr) return;
  for (int i = 0; i < pbps->nelts; ++i) {
    const pbp_item_t* pbp = APR_ARRAY_IDX(pbps, i, const pbp_item_t*);
    log_line(*d.log, log_level::debug, d.pool, "[PBP] |-%s:%s", zeb_action_name(pbp->permission),
             pbp->path);
  }
}

void log_role_pbps(decider& d, const role_processed_pbps_t* role) {
  // A line per PBP after every decision: built only when it is logged.
  if (!d.log->debug_on()) return;
  log_line(*d.log, log_level::debug, d.pool, "[PBP] +sorted absolute PBPs:");
  log_pbps(d, role->sorted_absolute_pbps);
  if (role->unsorted_wildcard_pbps == nullptr || role->unsorted_wildcard_pbps->nelts == 0) return;
  log_line(*d.log, log_level::debug, d.pool, "[PBP] +unsorted wildcard PBPs:");
  log_pbps(d, role->unsorted_wildcard_pbps);
}

// What deciding one check came to: status 0 (granted), kStatusForbidden, or
// the status of an error of the given kind.
struct check_answer {
  int status = 0;
  error_kind error = error_kind::none;
  bool by_global_access = false;
  const role_processed_pbps_t* granting_role = nullptr;
  zeb_walk_result_t walk{};
};

check_answer decide_by_roles(decider& d, const pending_check& check) {
  const char* action = zeb_action_name(check.action);
  if (check.check_path != nullptr) {
    log_line(*d.log, log_level::debug, d.pool, "Checking action '%s' path '%s'", action,
             check.check_path);
  } else {
    log_line(*d.log, log_level::debug, d.pool, "Checking action '%s' on NULL path", action);
  }
  const apr_array_header_t* roles = d.stores->roles;
  for (int i = 0; i < roles->nelts; ++i) {
    auto* role = APR_ARRAY_IDX(roles, i, role_processed_pbps_t*);
    log_line(*d.log, log_level::debug, d.pool, "Checking against role '%s'",
             role->role_id ? role->role_id : "(unknown)");
    const bool granted = role_grants(d, role, check);
    log_role_pbps(d, role);
    if (granted) {
      check_answer answer;
      answer.granting_role = role;
      return answer;
    }
  }
  return {kStatusForbidden};
}

check_answer decide_one(decider& d, const pending_check& check) {
  const char* action = zeb_action_name(check.action);
  // A COPY or MOVE destination may lie in another repository.
  if (int rc = use_role_store(*d.stores, check.repos_name, d.cached_repos, *d.roles, d.store_parent,
                              *d.log, d.pool);
      rc != 0) {
    return {rc, error_kind::roles};
  }
  const pbp_access_t global = global_access_of(*d.stores);
  if (check.action <= global) {
    log_line(*d.log, log_level::debug, d.pool, "Action '%s' authorized based on global access = %d",
             action, static_cast<int>(global));
    check_answer answer;
    answer.by_global_access = true;
    return answer;
  }
  if (check.level != ACCESS_RECURSIVE) return decide_by_roles(d, check);
  log_line(*d.log, log_level::debug, d.pool, "Checking action '%s' (recursive) on '%s'", action,
           check.check_path);
  if (check.action == PBP_NO_ACCESS) return {};
  const tree_answer tree =
      check_tree(check, d.stores->roles, d.stores->repos_name, d.user, *d.tree, *d.log, d.pool);
  check_answer answer{tree.status, error_kind::none, false, nullptr, tree.walk};
  if (tree.status != 0 && tree.status != kStatusForbidden) answer.error = error_kind::tree;
  return answer;
}

verdict decide_checks(decider& d, const char* method, const apr_array_header_t* checks) {
  verdict result;
  result.by_global_access = true;
  for (int i = 0; i < checks->nelts; ++i) {
    const pending_check* check = &APR_ARRAY_IDX(checks, i, const pending_check);
    const char* action = zeb_action_name(check->action);
    const check_answer answer = decide_one(d, *check);
    if (answer.status == 0) {
      log_line(*d.log, log_level::debug, d.pool, "Action %s authorization SUCCEEDED", action);
      result.by_global_access = result.by_global_access && answer.by_global_access;
      if (answer.granting_role != nullptr) result.granting_role = answer.granting_role;
      continue;
    }
    result.by_global_access = false;
    result.deciding = check;
    result.walk = answer.walk;
    if (answer.status == kStatusForbidden) {
      log_line(*d.log, log_level::debug, d.pool, "Action %s authorization FAILED", action);
      log_line(*d.log, log_level::debug, d.pool, "Method %s authorization FAILED", method);
      result.kind = verdict_kind::refused;
      return result;
    }
    log_line(*d.log, log_level::debug, d.pool, "Action %s authorization ERROR (status=%d)", action,
             answer.status);
    log_line(*d.log, log_level::debug, d.pool, "Method %s authorization ERROR (status=%d)", method,
             answer.status);
    result.kind = verdict_kind::error;
    result.error = answer.error;
    result.status = answer.status;
    return result;
  }
  log_line(*d.log, log_level::debug, d.pool, "Method %s authorization SUCCEEDED", method);
  return result;
}

void log_determining(decider& d, const char* method, const char* repos_path) {
  if (repos_path != nullptr) {
    log_line(*d.log, log_level::debug, d.pool,
             "Determining authorization actions for %s method on '%s'", method, repos_path);
  } else {
    log_line(*d.log, log_level::debug, d.pool,
             "Determining authorization actions for %s method on NULL path", method);
  }
}

verdict error_verdict(error_kind kind, int status) {
  return verdict{verdict_kind::error, kind, status};
}

// The checks of a COPY or MOVE, the destination's first: commit over what
// the source tree creates there, view over the source tree, and for a move
// commit over the source tree it removes.
verdict plan_copy_move(decider& d, const method_question& q, bool is_move,
                       apr_array_header_t* checks) {
  copy_destination destination{};
  if (int rc = q.destination(&destination); rc != 0) {
    return error_verdict(error_kind::destination, rc);
  }
  const pending_check replaced[] = {
      {PBP_COMMIT_ACCESS, ACCESS_RECURSIVE, q.repos_name, q.repos_path, q.repos_path}};
  const pending_check copied[] = {
      {PBP_COMMIT_ACCESS, ACCESS_RECURSIVE, destination.repos_name, q.repos_path,
       destination.repos_path},
      {PBP_VIEW_ACCESS, ACCESS_RECURSIVE, q.repos_name, q.repos_path, q.repos_path},
      {PBP_COMMIT_ACCESS, ACCESS_RECURSIVE, q.repos_name, q.repos_path, q.repos_path}};
  int count = 0;
  const pending_check* first = nullptr;
  switch (destination.kind) {
    case destination_kind::untouched_here:
      log_line(*d.log, log_level::debug, d.pool,
               "Ignoring %s subrequest (matching source and destination)", q.method);
      break;
    case destination_kind::replaced_here:
      log_line(*d.log, log_level::debug, d.pool, "%s overwrites existing destination '%s'",
               q.method, q.repos_path);
      first = replaced;
      count = 1;
      break;
    case destination_kind::elsewhere:
      first = copied;
      count = is_move ? 3 : 2;
      break;
  }
  for (int i = 0; i < count; ++i) {
    if (int rc = schedule_check(first[i], checks, *d.log, d.pool); rc != 0) {
      return error_verdict(error_kind::unschedulable, rc);
    }
  }
  return decide_checks(d, q.method, checks);
}

}  // namespace

verdict decide_method(decider& d, const method_question& q) {
  if (auto settled = prepare(d, q.repos_name)) return *settled;
  apr_array_header_t* checks = apr_array_make(d.pool, 1, sizeof(pending_check));
  log_determining(d, q.method, q.repos_path);
  if (q.parent_method != nullptr) {
    log_line(*d.log, log_level::debug, d.pool, "SUBREQUEST: method(%s) parent method(%s) path(%s)",
             q.method, q.parent_method, q.repos_path);
  }
  const method_classification& c = q.classification;
  switch (c.verdict) {
    case method_verdict::check:
      if (int rc = schedule_check({c.action, c.level, q.repos_name, q.repos_path, q.repos_path},
                                  checks, *d.log, d.pool);
          rc != 0) {
        return error_verdict(error_kind::unschedulable, rc);
      }
      return decide_checks(d, q.method, checks);
    case method_verdict::copy:
    case method_verdict::move:
      return plan_copy_move(d, q, c.verdict == method_verdict::move, checks);
    case method_verdict::refuse:
      break;
  }
  log_line(*d.log, log_level::error, d.pool, "Unrecognized method %s", q.method);
  return error_verdict(error_kind::unknown_method, 0);
}

verdict decide_read(decider& d, const char* method, const char* repos_name,
                    const char* repos_path) {
  if (repos_path != nullptr && repos_path[0] != '/') {
    repos_path = apr_pstrcat(d.pool, "/", repos_path, nullptr);
  }
  if (auto settled = prepare(d, repos_name)) return *settled;
  apr_array_header_t* checks = apr_array_make(d.pool, 1, sizeof(pending_check));
  log_determining(d, method, repos_path);
  // View of the node itself, never its subtree.
  const pending_check check{PBP_VIEW_ACCESS,
                            repos_path != nullptr ? ACCESS_NON_RECURSIVE : ACCESS_SOMEWHERE,
                            repos_name, repos_path, repos_path};
  schedule_check(check, checks, *d.log, d.pool);
  return decide_checks(d, method, checks);
}

verdict decide_check(decider& d, const char* method, const pending_check& check) {
  if (auto settled = prepare(d, check.repos_name)) return *settled;
  apr_array_header_t* checks = apr_array_make(d.pool, 1, sizeof(pending_check));
  if (int rc = schedule_check(check, checks, *d.log, d.pool); rc != 0) {
    return error_verdict(error_kind::unschedulable, rc);
  }
  return decide_checks(d, method, checks);
}

namespace {

// Whether some PBP of the role may leave something below path unreadable:
// one with less than view at or below it, or any such wildcard, which may
// match below whatever path it names.
bool hides_below(const role_processed_pbps_t* role, const char* path) {
  for (const apr_array_header_t* list :
       {role->sorted_absolute_pbps, role->unsorted_wildcard_pbps}) {
    if (list == nullptr) continue;
    for (int i = 0; i < list->nelts; ++i) {
      const pbp_item_t* pbp = APR_ARRAY_IDX(list, i, const pbp_item_t*);
      if (pbp->permission >= PBP_VIEW_ACCESS) continue;
      if (list == role->unsorted_wildcard_pbps || std::strcmp(pbp->path, path) == 0 ||
          svn_dirent_is_ancestor(path, pbp->path)) {
        return true;
      }
    }
  }
  return false;
}

// By global view access, or through one role that grants the top and
// hides nothing below.
bool reads_tree(decider& d, const char* repos_path) {
  log_line(*d.log, log_level::debug, d.pool, "Checking action 'view' on '%s' and below",
           repos_path);
  if (global_access_of(*d.stores) >= PBP_VIEW_ACCESS) return true;
  const apr_array_header_t* roles = d.stores->roles;
  for (int i = 0; i < roles->nelts; ++i) {
    auto* role = APR_ARRAY_IDX(roles, i, role_processed_pbps_t*);
    ensure_processed_pbps(role, roles->pool);
    if (has_non_recursive_access(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps,
                                 PBP_VIEW_ACCESS, repos_path, d.pool) &&
        !hides_below(role, repos_path)) {
      return true;
    }
  }
  return false;
}

}  // namespace

verdict reads_everything_below(decider& d, const char* repos_name, const char* repos_path) {
  if (auto settled = prepare(d, repos_name)) return *settled;
  verdict answer;
  if (!reads_tree(d, repos_path)) answer.kind = verdict_kind::refused;
  return answer;
}

}  // namespace zeb::decision
