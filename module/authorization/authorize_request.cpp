// The authorization driver: the auth_checker hook, the subrequest-bypass
// provider that mod_dav_svn calls, and the per-request decision both share.
#include "authorize_request.h"

#include <http_log.h>
#include <http_protocol.h>
#include <http_request.h>

#include <apr_strings.h>
#include <svn_dirent_uri.h>

#include <cstring>
#include <optional>

#include "check_credentials.h"
#include "refusal_report.h"
#include "report_screening.h"
#include "request_answer.h"
#include "role_paths_loading.h"
#include "subreq_bypass.h"
#include "tree_checks.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

const authnz_zeb_config_rec* config_of(request_rec* r) {
  return static_cast<const authnz_zeb_config_rec*>(
      ap_get_module_config(r->per_dir_config, &authnz_zeb_module));
}

bool same_name(const char* a, const char* b) {
  return a == b || (a != nullptr && b != nullptr && std::strcmp(a, b) == 0);
}

const char* method_name(request_rec* r) {
  return r->method ? r->method : "(null)";
}

// Every request is decided as its own user: a user other than the cached
// one, whoever authenticated either, replaces the cached user and drops the
// role store. A user that another module authenticated (or none) is cached
// as such.
void resolve_user(ctx_data* ctx, request_rec* r, const char* username, const char* repos_name) {
  if (!ctx->authenticated_internally) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "User '%s' authentication OK (per third-party)",
                  username);
  }
  if (ctx->cached_username != nullptr && std::strcmp(ctx->cached_username, username) == 0) return;
  is_cache_okay(username, nullptr, repos_name, ctx, r);  // logs what differs
  reset_cached_authnz_data(ctx, r);
  ctx->cached_username = apr_pstrdup(ctx->cache_pool, username);
  ctx->repos_name = apr_pstrdup(ctx->cache_pool, repos_name);
  ctx->cache_filled_at = apr_time_now();
}

// Sets the store in use aside, releasing the least recently used one that
// it displaces.
void park_role_store(ctx_data* ctx) {
  if (ctx->role_pbps == nullptr) return;
  parked_role_store* slot = &ctx->parked[0];
  for (parked_role_store& candidate : ctx->parked) {
    if (candidate.pool == nullptr) {
      slot = &candidate;
      break;
    }
    if (candidate.last_used < slot->last_used) slot = &candidate;
  }
  if (slot->pool != nullptr) apr_pool_destroy(slot->pool);
  *slot = parked_role_store{ctx->role_store_repos, ctx->role_store_pool, ctx->role_pbps,
                            ctx->global_access_granted, ++ctx->role_store_clock};
  ctx->role_pbps = nullptr;
  ctx->role_store_pool = nullptr;
  ctx->role_store_repos = nullptr;
  ctx->global_access_granted = PBP_UNKNOWN;
}

bool unpark_role_store(ctx_data* ctx, const char* repos_name) {
  for (parked_role_store& parked : ctx->parked) {
    if (parked.pool == nullptr || !same_name(parked.repos_name, repos_name)) continue;
    ctx->role_store_repos = parked.repos_name;
    ctx->role_store_pool = parked.pool;
    ctx->role_pbps = parked.role_pbps;
    ctx->global_access_granted = parked.global_access_granted;
    parked = parked_role_store{};
    return true;
  }
  return false;
}

// Makes the role store that of repos_name, so that a decision about one
// repository never uses another's roles.
int ensure_role_store(ctx_data* ctx, request_rec* r, const authnz_zeb_config_rec* conf,
                      const char* repos_name) {
  if (ctx->role_pbps != nullptr && same_name(repos_name, ctx->role_store_repos)) return OK;
  const char* cached_repos = ctx->role_store_repos ? ctx->role_store_repos : ctx->repos_name;
  if (!same_name(repos_name, cached_repos)) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Request repos name (%s) differs from repos name in connection cache (%s)",
                  repos_name, cached_repos);
  }
  park_role_store(ctx);
  if (unpark_role_store(ctx, repos_name)) return OK;
  apr_pool_create(&ctx->role_store_pool, ctx->cache_pool);
  apr_pool_t* temp_pool = nullptr;
  apr_pool_create(&temp_pool, r->pool);
  const int rc = load_role_pbps(ctx, r, conf, repos_name, temp_pool);
  apr_pool_destroy(temp_pool);
  if (rc != OK) {
    apr_pool_destroy(ctx->role_store_pool);
    ctx->role_store_pool = nullptr;
    ctx->role_pbps = nullptr;
    return rc;
  }
  ctx->role_store_repos = repos_name ? apr_pstrdup(ctx->role_store_pool, repos_name) : nullptr;
  return OK;
}

// Raises the connection's global access from the roles until it reaches
// commit; the roles after that stay unprocessed.
void compute_global_access(ctx_data* ctx) {
  for (int i = 0; i < ctx->role_pbps->nelts; ++i) {
    auto* role = APR_ARRAY_IDX(ctx->role_pbps, i, role_processed_pbps_t*);
    ensure_processed_pbps(role, ctx->role_pbps->pool);
    if (role->role_global_access > ctx->global_access_granted) {
      ctx->global_access_granted = role->role_global_access;
    }
    if (ctx->global_access_granted >= PBP_COMMIT_ACCESS) return;
  }
}

bool has_global_commit(ctx_data* ctx, request_rec* r) {
  if (ctx->global_access_granted == PBP_UNKNOWN) compute_global_access(ctx);
  if (ctx->global_access_granted < PBP_COMMIT_ACCESS) return false;
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Global commit access granted");
  return true;
}

std::optional<int> parent_method(request_rec* r) {
  if (r->main == nullptr) return std::nullopt;
  return r->main->method_number;
}

// What is asked: whether the request's method may proceed, or whether the
// path may be read (what mod_dav_svn asks the bypass provider, whatever the
// method it serves).
enum class question { method, read };

void log_determining(request_rec* r, const char* repos_path) {
  if (repos_path != nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Determining authorization actions for %s method on '%s'", method_name(r),
                  repos_path);
  } else {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Determining authorization actions for %s method on NULL path", method_name(r));
  }
}

int request_to_action(apr_array_header_t** todo_list, request_rec* r,
                      const authnz_zeb_config_rec* conf, ctx_data*, const char* repos_name,
                      const char* repos_path, apr_pool_t* pool) {
  *todo_list = apr_array_make(pool, 1, sizeof(todo_item_t*));
  log_determining(r, repos_path);
  if (r->method_number == M_GET && r->main != nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "SUBREQUEST: method(%s) parent method(%s) path(%s)", r->method, r->main->method,
                  repos_path);
  }
  const zeb::method_classification c =
      zeb::classify_method(r->method_number, parent_method(r), repos_path != nullptr);
  switch (c.verdict) {
    case zeb::method_verdict::check:
      return add_todo_item(r, c.action, c.level, repos_name, repos_path, repos_path, *todo_list,
                           pool);
    case zeb::method_verdict::copy:
    case zeb::method_verdict::move:
      return schedule_copy_move(r, conf, repos_name, repos_path,
                                c.verdict == zeb::method_verdict::move, *todo_list);
    case zeb::method_verdict::refuse:
      break;
  }
  ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Unrecognized method %s", method_name(r));
  return answer_outcome(r, zeb::outcome::unknown_method);
}

int has_required_access_somewhere(const apr_array_header_t* sorted_absolute_pbps,
                                  const apr_array_header_t* unsorted_wildcard_pbps,
                                  pbp_access_t required_access) {
  for (const apr_array_header_t* list : {sorted_absolute_pbps, unsorted_wildcard_pbps}) {
    if (list == nullptr) continue;
    for (int i = 0; i < list->nelts; ++i) {
      if (APR_ARRAY_IDX(list, i, const pbp_item_t*)->permission >= required_access) return 1;
    }
  }
  return 0;
}

int authorize_action(ctx_data* ctx, request_rec* r, const authnz_zeb_config_rec*,
                     role_processed_pbps_t* role, const todo_item_t* item) {
  if (item->required_access == PBP_NO_ACCESS) return OK;
  ensure_processed_pbps(role, ctx->role_pbps->pool);
  switch (item->level) {
    case ACCESS_NON_RECURSIVE:
      return has_non_recursive_access(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps,
                                      item->required_access, item->repos_path, r->pool)
                 ? OK
                 : HTTP_FORBIDDEN;
    case ACCESS_SOMEWHERE:
      return has_required_access_somewhere(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps,
                                           item->required_access)
                 ? OK
                 : HTTP_FORBIDDEN;
    case ACCESS_RECURSIVE:
      break;
  }
  ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Invalid route for recursive authorization check");
  return HTTP_INTERNAL_SERVER_ERROR;
}

void log_pbps(request_rec* r, const apr_array_header_t* pbps) {
  if (pbps == nullptr) return;
  for (int i = 0; i < pbps->nelts; ++i) {
    const pbp_item_t* pbp = APR_ARRAY_IDX(pbps, i, const pbp_item_t*);
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "[PBP] |-%s:%s", zeb_action_name(pbp->permission),
                  pbp->path);
  }
}

void log_role_pbps(request_rec* r, const role_processed_pbps_t* role) {
  // A line per PBP after every decision: built only when it is logged.
  if (!APLOGrdebug(r)) return;
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "[PBP] +sorted absolute PBPs:");
  log_pbps(r, role->sorted_absolute_pbps);
  if (role->unsorted_wildcard_pbps == nullptr || role->unsorted_wildcard_pbps->nelts == 0) return;
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "[PBP] +unsorted wildcard PBPs:");
  log_pbps(r, role->unsorted_wildcard_pbps);
}

// OK when some role grants the item, HTTP_FORBIDDEN when none does (also
// when there is no role at all), or the status of an error.
int decide_by_roles(ctx_data* ctx, request_rec* r, const authnz_zeb_config_rec* conf,
                    const todo_item_t* item) {
  const char* action = zeb_action_name(item->required_access);
  if (item->check_path != nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Checking action '%s' path '%s'", action,
                  item->check_path);
  } else {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Checking action '%s' on NULL path", action);
  }
  for (int i = 0; i < ctx->role_pbps->nelts; ++i) {
    auto* role = APR_ARRAY_IDX(ctx->role_pbps, i, role_processed_pbps_t*);
    if (APLOGrdebug(r)) {
      ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Checking against role '%s'",
                    role->role_id ? role->role_id : "(unknown)");
    }
    const int rc = authorize_action(ctx, r, conf, role, item);
    log_role_pbps(r, role);
    if (rc != HTTP_FORBIDDEN) return rc;
  }
  return HTTP_FORBIDDEN;
}

int decide_item(ctx_data* ctx, request_rec* r, const authnz_zeb_config_rec* conf,
                const todo_item_t* item) {
  const char* action = zeb_action_name(item->required_access);
  // A COPY or MOVE destination may lie in another repository.
  if (int rc = ensure_role_store(ctx, r, conf, item->repos_name); rc != OK) return rc;
  if (ctx->global_access_granted == PBP_UNKNOWN) compute_global_access(ctx);
  if (item->required_access <= ctx->global_access_granted) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Action '%s' authorized based on global access = %d", action,
                  static_cast<int>(ctx->global_access_granted));
    return OK;
  }
  if (item->level != ACCESS_RECURSIVE) return decide_by_roles(ctx, r, conf, item);
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Checking action '%s' (recursive) on '%s'", action,
                item->check_path);
  if (item->required_access == PBP_NO_ACCESS) return OK;
  return has_recursive_access(ctx, item->required_access, item->repos_path, item->check_path, r,
                              conf, r->pool);
}

int decide_items(ctx_data* ctx, request_rec* r, const authnz_zeb_config_rec* conf,
                 const apr_array_header_t* todo_list) {
  for (int i = 0; i < todo_list->nelts; ++i) {
    const todo_item_t* item = APR_ARRAY_IDX(todo_list, i, const todo_item_t*);
    const char* action = zeb_action_name(item->required_access);
    const int rc = decide_item(ctx, r, conf, item);
    if (rc == OK) {
      ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Action %s authorization SUCCEEDED", action);
      continue;
    }
    if (rc == HTTP_FORBIDDEN) {
      ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Action %s authorization FAILED", action);
      ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Method %s authorization FAILED",
                    method_name(r));
      note_refused_check(r, item->required_access, item->repos_name, item->check_path);
      return answer_outcome(r, zeb::outcome::access_refused);
    }
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Action %s authorization ERROR (status=%d)",
                  action, rc);
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Method %s authorization ERROR (status=%d)",
                  method_name(r), rc);
    return rc;
  }
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Method %s authorization SUCCEEDED", method_name(r));
  return OK;
}

// Every failure has had its line where it happened: a refusal's at
// WARNING, an error's at ERR.
int log_failure(request_rec* r, int rc) {
  if (rc != OK) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Authorization FAILED with errorcode %d", rc);
  }
  return rc;
}

}  // namespace

int add_todo_item(request_rec* r, pbp_access_t required_access, access_level_t level,
                  const char* repos_name, const char* repos_path, const char* check_path,
                  apr_array_header_t* todo_list, apr_pool_t* pool) {
  auto* item = static_cast<todo_item_t*>(apr_pcalloc(pool, sizeof(todo_item_t)));
  item->required_access = required_access;
  item->level = level;
  item->repos_name = repos_name ? apr_pstrdup(pool, repos_name) : nullptr;
  item->repos_path = repos_path ? apr_pstrdup(pool, repos_path) : nullptr;
  item->check_path = check_path ? apr_pstrdup(pool, check_path) : nullptr;
  APR_ARRAY_PUSH(todo_list, todo_item_t*) = item;

  const char* action = zeb_action_name(required_access);
  if (level == ACCESS_RECURSIVE && repos_path == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                  "Unable to schedule recursive check for '%s' on NULL path", action);
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  if (check_path != nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Scheduling check for '%s' on '%s'%s", action,
                  check_path, level == ACCESS_RECURSIVE ? " (recursive)" : "");
  } else {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Scheduling check for '%s' on NULL path", action);
  }
  return 0;
}

namespace {

// A read question: view of the node itself, never its subtree.
int read_to_action(apr_array_header_t** todo_list, request_rec* r, const char* repos_name,
                   const char* repos_path, apr_pool_t* pool) {
  *todo_list = apr_array_make(pool, 1, sizeof(todo_item_t*));
  log_determining(r, repos_path);
  return add_todo_item(r, PBP_VIEW_ACCESS,
                       repos_path != nullptr ? ACCESS_NON_RECURSIVE : ACCESS_SOMEWHERE, repos_name,
                       repos_path, repos_path, *todo_list, pool);
}

// Whether some PBP of the role may leave something below path unreadable:
// one with less than view at or below it, or any such wildcard.
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

// Whether the user reads a whole tree, in whatever revision: by global view
// access, or through one role that grants the top and hides nothing below.
// Only a question: a no refuses nothing.
bool reads_tree(ctx_data* ctx, request_rec* r, const char* repos_path) {
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Checking action 'view' on '%s' and below",
                repos_path);
  if (ctx->global_access_granted >= PBP_VIEW_ACCESS) return true;
  for (int i = 0; i < ctx->role_pbps->nelts; ++i) {
    auto* role = APR_ARRAY_IDX(ctx->role_pbps, i, role_processed_pbps_t*);
    ensure_processed_pbps(role, ctx->role_pbps->pool);
    if (has_non_recursive_access(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps,
                                 PBP_VIEW_ACCESS, repos_path, r->pool) &&
        !hides_below(role, repos_path)) {
      return true;
    }
  }
  return false;
}

int authorize(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
              const char* repos_path, question asked) {
  const char* username = r->user ? r->user : "guest";
  ctx_data* ctx = nullptr;
  if (int rc = get_userdata(&ctx, r, conf); rc != OK) return rc;
  // mod_dav_svn's questions while it serves the request keep the roles the
  // request was judged with.
  if (asked == question::method) expire_cached_authnz_data(ctx, r);
  resolve_user(ctx, r, username, repos_name);
  if (int rc = ensure_role_store(ctx, r, conf, repos_name); rc != OK) return rc;
  if (has_global_commit(ctx, r)) return OK;

  apr_array_header_t* todo_list = nullptr;
  const int rc = asked == question::read
                     ? read_to_action(&todo_list, r, repos_name, repos_path, r->pool)
                     : request_to_action(&todo_list, r, conf, ctx, repos_name, repos_path, r->pool);
  if (rc != 0) return rc;
  return decide_items(ctx, r, conf, todo_list);
}

}  // namespace

int do_authorize(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
                 const char* repos_path) {
  return authorize(r, conf, repos_name, repos_path, question::method);
}

int authorize_read(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
                   const char* repos_path) {
  return authorize(r, conf, repos_name, repos_path, question::read);
}

int reads_everything_below(request_rec* r, const authnz_zeb_config_rec* conf,
                           const char* repos_name, const char* repos_path, bool* reads) {
  const char* username = r->user ? r->user : "guest";
  ctx_data* ctx = nullptr;
  if (int rc = get_userdata(&ctx, r, conf); rc != OK) return rc;
  resolve_user(ctx, r, username, repos_name);
  if (int rc = ensure_role_store(ctx, r, conf, repos_name); rc != OK) return rc;
  *reads = has_global_commit(ctx, r) || reads_tree(ctx, r, repos_path);
  return OK;
}

int check_access(request_rec* r) {
  const authnz_zeb_config_rec* conf = config_of(r);
  if (conf->brimstack_properties_file == nullptr) {
    // Quiet at the usual levels: another module may guard this Location.
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Unable to handle request due to missing ZEB properties file");
    return DECLINED;
  }
  const char* repos_name = nullptr;
  const char* repos_path = nullptr;
  if (int rc = get_reposinfo(&repos_name, &repos_path, r, r->uri, conf); rc != 0) return rc;
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Preparing to authorize via check_access()");
  int rc = do_authorize(r, conf, repos_name, repos_path);
  if (rc == OK) rc = screen_request(r, conf, repos_name, repos_path);
  if (rc == HTTP_FORBIDDEN) report_refusal(r);
  return answer_status(r, log_failure(r, rc));
}

int zeb_subreq_bypass(request_rec* r, const char* repos_path, const char* repos_name) {
  const authnz_zeb_config_rec* conf = config_of(r);
  // mod_dav_svn asks this one provider for every Location, also those that
  // another module guards.
  if (conf->brimstack_properties_file == nullptr) {
    return hand_over_subreq_bypass(r, repos_path, repos_name);
  }
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Preparing to authorize via subrequest");
  // Permissions name absolute paths; a relative one would match none of them
  // and so be open to every role.
  if (repos_path != nullptr && repos_path[0] != '/') {
    repos_path = apr_pstrcat(r->pool, "/", repos_path, nullptr);
  }
  // mod_dav_svn asks only whether the path may be read (reports, lock
  // discovery, property filtering); the request's own method was judged by
  // check_access.
  return log_failure(r, authorize(r, conf, repos_name, repos_path, question::read));
}
