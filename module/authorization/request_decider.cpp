#include "request_decider.h"

#include <http_log.h>
#include <http_request.h>

#include <cstring>
#include <optional>

#include "connection_context.h"
#include "destination_reading.h"
#include "refusal_report.h"
#include "request_answer.h"
#include "request_decision.h"
#include "request_tree.h"
#include "role_paths_loading.h"
#include "status_counting.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

namespace core = zeb::decision;

class request_log final : public core::decision_log {
 public:
  explicit request_log(request_rec* r) : r_(r) {}
  bool debug_on() const override { return APLOGrdebug(r_); }
  void write(core::log_level level, const char* text) override {
    switch (level) {
      case core::log_level::debug:
        ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r_, "%s", text);
        return;
      case core::log_level::warning:
        ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r_, "%s", text);
        return;
      case core::log_level::error:
        ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r_, "%s", text);
        return;
    }
  }

 private:
  request_rec* r_;
};

// The role paths of memcached and the service, through the process's role
// cache.
class role_paths_source final : public core::role_source {
 public:
  role_paths_source(ctx_data* ctx, request_rec* r) : ctx_(ctx), r_(r) {}
  int load(const char* repos_name, apr_pool_t* store_pool, apr_array_header_t** roles,
           pbp_access_t* global_access) override {
    apr_pool_t* temp_pool = nullptr;
    apr_pool_create(&temp_pool, r_->pool);
    const int rc =
        load_role_pbps(ctx_, r_, repos_name, store_pool, temp_pool, roles, global_access);
    apr_pool_destroy(temp_pool);
    return rc;
  }

 private:
  ctx_data* ctx_;
  request_rec* r_;
};

const char* method_name(request_rec* r) {
  return r->method ? r->method : "(null)";
}

// Every request is decided as its own user: a user other than the cached
// one, whoever authenticated either, replaces the cached user and drops the
// role store. A user that another module authenticated (or none) is cached
// as such.
void resolve_user(ctx_data* ctx, request_rec* r, const char* username, const char* repos_name) {
  if (!ctx->credentials.authenticated_internally) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "User '%s' authentication OK (per third-party)",
                  username);
  }
  if (ctx->credentials.cached_username != nullptr &&
      std::strcmp(ctx->credentials.cached_username, username) == 0)
    return;
  is_cache_okay(username, nullptr, repos_name, ctx, r);  // logs what differs
  reset_cached_authnz_data(ctx, r);
  ctx->credentials.cached_username = apr_pstrdup(ctx->cache_pool, username);
  ctx->credentials.repos_name = apr_pstrdup(ctx->cache_pool, repos_name);
  ctx->credentials.cache_filled_at = apr_time_now();
}

// What one question of the request is decided with.
class request_decider {
 public:
  request_decider(ctx_data* ctx, request_rec* r, const authnz_zeb_config_rec* conf)
      : log_(r), roles_(ctx, r), tree_(r, conf) {
    decider_ = core::decider{&ctx->role_stores,
                             ctx->cache_pool,
                             ctx->credentials.repos_name,
                             ctx->credentials.cached_username,
                             &roles_,
                             &tree_,
                             &log_,
                             r->pool};
  }
  core::decider& get() { return decider_; }

 private:
  request_log log_;
  role_paths_source roles_;
  request_tree tree_;
  core::decider decider_;
};

// The connection's context with the request's user resolved; a fresh
// question (the request's own method) first lets an old cache expire,
// while mod_dav_svn's questions keep the roles the request was judged with.
int user_context(ctx_data** ctx, request_rec* r, const authnz_zeb_config_rec* conf,
                 const char* repos_name, bool fresh) {
  if (int rc = get_userdata(ctx, r, conf); rc != OK) return rc;
  if (fresh) expire_cached_authnz_data(*ctx, r);
  resolve_user(*ctx, r, r->user ? r->user : "guest", repos_name);
  return OK;
}

int answer(request_rec* r, const core::verdict& verdict) {
  switch (verdict.kind) {
    case core::verdict_kind::granted:
      return OK;
    case core::verdict_kind::refused:
      note_refused_check(r, verdict.deciding->action, verdict.deciding->repos_name,
                         verdict.deciding->check_path);
      return answer_outcome(r, zeb::outcome::access_refused);
    case core::verdict_kind::error:
      break;
  }
  if (verdict.error == core::error_kind::unknown_method) {
    return answer_outcome(r, zeb::outcome::unknown_method);
  }
  return verdict.status;
}

// Whether the connection holds the roles of repos_name, in use or set aside.
bool holds_roles(const core::role_stores& stores, const char* repos_name) {
  auto same = [repos_name](const char* name) {
    return name == repos_name ||
           (name != nullptr && repos_name != nullptr && std::strcmp(name, repos_name) == 0);
  };
  if (stores.roles != nullptr && same(stores.repos_name)) return true;
  for (const core::parked_role_store& parked : stores.parked) {
    if (parked.pool != nullptr && same(parked.repos_name)) return true;
  }
  return false;
}

std::optional<int> parent_method(request_rec* r) {
  if (r->main == nullptr) return std::nullopt;
  return r->main->method_number;
}

}  // namespace

int decide_request(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
                   const char* repos_path) {
  ctx_data* ctx = nullptr;
  if (int rc = user_context(&ctx, r, conf, repos_name, true); rc != OK) return rc;
  // Loads from memcached or the service count themselves, with their time.
  if (holds_roles(ctx->role_stores, repos_name))
    zeb::count_role_load(zeb::status::source::connection, 0);
  request_decider decider(ctx, r, conf);
  const core::method_question question{
      method_name(r),
      zeb::classify_method(r->method_number, parent_method(r), repos_path != nullptr),
      r->method_number == M_GET && r->main != nullptr ? r->main->method : nullptr,
      repos_name,
      repos_path,
      [r, conf, repos_path](core::copy_destination* out) {
        return read_copy_destination(r, conf, repos_path, out);
      }};
  return answer(r, core::decide_method(decider.get(), question));
}

int decide_read(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
                const char* repos_path) {
  ctx_data* ctx = nullptr;
  if (int rc = user_context(&ctx, r, conf, repos_name, false); rc != OK) return rc;
  request_decider decider(ctx, r, conf);
  return answer(r, core::decide_read(decider.get(), method_name(r), repos_name, repos_path));
}

int reads_everything_below(request_rec* r, const authnz_zeb_config_rec* conf,
                           const char* repos_name, const char* repos_path, bool* reads) {
  ctx_data* ctx = nullptr;
  if (int rc = user_context(&ctx, r, conf, repos_name, false); rc != OK) return rc;
  request_decider decider(ctx, r, conf);
  const core::verdict verdict = core::reads_everything_below(decider.get(), repos_name, repos_path);
  if (verdict.kind == core::verdict_kind::error) return verdict.status;
  *reads = verdict.kind == core::verdict_kind::granted;
  return OK;
}
