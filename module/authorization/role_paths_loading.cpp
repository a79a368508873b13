// Role paths: memcached first, then the ScmListener service, whose answer is
// shared back through memcached in the flat record format.
#include "role_paths_loading.h"

#include <apr_strings.h>
#include <http_log.h>

#include <memory>
#include <string>
#include <vector>

#include "role_cache.h"
#include "role_paths_record.h"
#include "role_screening.h"
#include "role_store.h"
#include "scm_calls.h"
#include "scm_role_entries.h"
#include "scm_role_paths_list.h"
#include "service_failure.h"
#include "service_runtime.h"
#include "soapH.h"
#include "soap_runtime_settings.h"
#include "status_counting.h"
#include "zeb_memcache.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

constexpr int kInitialRoles = 16;

// Shares an answer with other connections. A value that lacks a role (an id
// the record cannot hold, or memory ran out) would be read back as a
// different answer, so it is not stored.
bool stash_value(ctx_data* ctx, request_rec* r, const char* user_key,
                 const serialize_ctx_t* value) {
  return serialize_is_storable(value) &&
         context_cache_stash(ctx, user_key, value->buffer, static_cast<apr_size_t>(value->size),
                             r->pool) == APR_SUCCESS;
}

// What differs between the two service operations.
struct role_paths_operation {
  const char* name;
  // SOAP_OK with the answer's roles (scm_role_entry_t) in *entries, or the
  // runtime's error.
  int (*call)(apr_array_header_t** entries, ctx_data* ctx, const char* action,
              const char* repos_name, apr_pool_t* pool);
};

int call_role_paths_list(apr_array_header_t** entries, ctx_data* ctx, const char* action,
                         const char* repos_name, apr_pool_t* pool) {
  ScmListenerServiceNS__getRolePathsListResponse response{};
  const zeb::status::stopwatch watch;
  const int rc = scm_call_get_role_paths_list(
      ctx->service.soap, ctx->service.scm_listener_url, action, ctx->service.request_key,
      ctx->credentials.cached_username, ctx->service.external_system_id, repos_name, &response);
  zeb::count_service_call(zeb::status::operation::get_role_paths_list, rc == SOAP_OK,
                          watch.micros());
  if (rc == SOAP_OK) *entries = scm_roles_from_role_paths_list(&response, pool);
  return rc;
}

int call_role_paths(apr_array_header_t** entries, ctx_data* ctx, const char* action,
                    const char* repos_name, apr_pool_t* pool) {
  ScmListenerServiceNS__getRolePathsResponse response{};
  const zeb::status::stopwatch watch;
  const int rc = scm_call_get_role_paths(ctx->service.soap, ctx->service.scm_listener_url, action,
                                         ctx->service.request_key, ctx->credentials.cached_username,
                                         ctx->service.external_system_id, repos_name, &response);
  zeb::count_service_call(zeb::status::operation::get_role_paths, rc == SOAP_OK, watch.micros());
  if (rc == SOAP_OK) *entries = scm_roles_from_role_paths(&response, pool);
  return rc;
}

constexpr role_paths_operation kRolePathsList{"getRolePathsList", call_role_paths_list};
constexpr role_paths_operation kRolePaths{"getRolePaths", call_role_paths};

// SOAP_OK with the answer's roles appended to pbps_with_roles, or the
// runtime's error after logging it.
int retrieve(const role_paths_operation& op, ctx_data* ctx, request_rec* r, const char* repos_name,
             apr_array_header_t* pbps_with_roles) {
  const char* user_key = get_memcache_user_key(ctx, repos_name, r->pool);
  const char* action = make_soap_action(ctx->credentials.cached_username, r->pool);
  apr_array_header_t* entries = nullptr;
  if (int rc = open_service_runtime(&ctx->service, r); rc != OK) return rc;
  const int rc = op.call(&entries, ctx, action, repos_name, r->pool);
  if (rc != SOAP_OK) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "%s() API FAILED: %s", op.name,
                  service_failure_text(&ctx->service, r));
  }
  end_soap_call(&ctx->service);  // the entries are copies in the request's pool
  if (rc != SOAP_OK) return rc;
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "%s() API succeeded", op.name);

  // Made up front so that an answer without roles is stored as an empty value.
  serialize_ctx_t* value = serialize_init(nullptr, 0);
  for (int i = 0; i < entries->nelts; ++i) {
    const auto& entry = APR_ARRAY_IDX(entries, i, scm_role_entry_t);
    add_answer_role(entry.role_id, entry.pbps, entry.num_pbps, pbps_with_roles, value,
                    pbps_with_roles->pool);
  }
  const bool stashed = stash_value(ctx, r, user_key, value);
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "%s %s() API response in memcached",
                stashed ? "Stashed" : "Unable to stash", op.name);
  serialize_destroy(value);
  return SOAP_OK;
}

int status_of_call(int rc) {
  return rc == SOAP_OK ? 0 : zeb::status_of(service_outcome(rc));
}

// The processed role sets of this process, shared by its connections; made
// on first use, after the configuration has set the limit, and kept until
// the process ends.
zeb::role_cache& process_role_cache() {
  static auto* cache = new zeb::role_cache(role_cache_limit());
  return *cache;
}

// The set of the retrieved roles. A role without a usable PBP grants
// nothing, so it is left out; every string that cannot be used is named so
// that an administrator can mend it, also by later loads that find the set.
std::shared_ptr<const zeb::role_set> make_role_set(const apr_array_header_t* pbps_with_roles,
                                                   request_rec* r, apr_pool_t* pool) {
  std::vector<std::string> notes;
  auto report = [r, &notes](const char* role_id, const char* pbp, zeb_pbp_verdict_t verdict) {
    const char* note =
        apr_psprintf(r->pool, "Role '%s' holds an unusable PBP '%s' (%s)",
                     role_id ? role_id : "(unknown)", pbp, zeb_pbp_verdict_text(verdict));
    ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r, "%s", note);
    notes.emplace_back(note);
  };
  apr_array_header_t* usable = usable_roles(pbps_with_roles, report, pool);
  if (usable->nelts < pbps_with_roles->nelts && APLOGrdebug(r)) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "%d of %d roles hold no usable PBP; they grant nothing",
                  pbps_with_roles->nelts - usable->nelts, pbps_with_roles->nelts);
  }
  return zeb::role_set::make(usable, std::move(notes));
}

// The set of a stored value: kept in the process's cache, or made from the
// value, which is read only then. Null when the value does not parse whole
// (a miss: the service's answer replaces it) or memory is exhausted.
std::shared_ptr<const zeb::role_set> set_of_value(zeb::role_set_key& key, const char* value,
                                                  apr_size_t length, request_rec* r,
                                                  apr_pool_t* pool) {
  key.digest = zeb::role_record_digest(value, length);
  bool hit = false;
  auto set = process_role_cache().obtain(
      key,
      [&]() -> std::shared_ptr<const zeb::role_set> {
        apr_array_header_t* pbps_with_roles =
            apr_array_make(pool, kInitialRoles, sizeof(zeb_role_t*));
        // The set is made while the value is at hand: its strings need no copies.
        if (!zeb_role_paths_view_value(value, static_cast<int64_t>(length), pbps_with_roles,
                                       pool)) {
          return nullptr;
        }
        return make_role_set(pbps_with_roles, r, pool);
      },
      &hit);
  if (set != nullptr && hit) {
    for (const std::string& note : set->notes()) {
      ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r, "%s", note.c_str());
    }
  }
  return set;
}

// The set of a service answer, keyed by the value that stores it: the same
// answer read back from memcached later finds it.
std::shared_ptr<const zeb::role_set> set_of_answer(zeb::role_set_key& key,
                                                   const apr_array_header_t* pbps_with_roles,
                                                   request_rec* r, apr_pool_t* pool) {
  serialize_ctx_t* value = serialize_init(nullptr, 0);
  for (int i = 0; value != nullptr && i < pbps_with_roles->nelts; ++i) {
    const zeb_role_t* role = APR_ARRAY_IDX(pbps_with_roles, i, const zeb_role_t*);
    serialize_update(role->repoRoleId,
                     reinterpret_cast<const char* const*>(role->repoPathAndPerm->elts),
                     role->repoPathAndPerm->nelts, value);
  }
  std::shared_ptr<const zeb::role_set> set;
  if (serialize_is_storable(value)) {
    set = set_of_value(key, value->buffer, static_cast<apr_size_t>(value->size), r, pool);
  } else {
    // No value stands for this answer (a role id too long to store, say):
    // its set serves this connection alone.
    set = make_role_set(pbps_with_roles, r, pool);
  }
  serialize_destroy(value);
  return set;
}

// Keeps the set alive while the pool lives.
void hold_in(apr_pool_t* pool, std::shared_ptr<const zeb::role_set> set) {
  auto* held = new std::shared_ptr<const zeb::role_set>(std::move(set));
  apr_pool_cleanup_register(
      pool, held,
      [](void* data) -> apr_status_t {
        delete static_cast<std::shared_ptr<const zeb::role_set>*>(data);
        return APR_SUCCESS;
      },
      apr_pool_cleanup_null);
}

}  // namespace

int get_role_paths(ctx_data* ctx, request_rec* r, const char* repos_name,
                   apr_array_header_t* pbps_with_roles) {
  return status_of_call(retrieve(kRolePaths, ctx, r, repos_name, pbps_with_roles));
}

int get_pbps(apr_array_header_t** pbps_with_roles, ctx_data* ctx, request_rec* r,
             const char* repos_name, apr_pool_t* pool) {
  *pbps_with_roles = apr_array_make(pool, kInitialRoles, sizeof(zeb_role_t*));
  if (!ctx->service.use_role_paths_api) {
    const int rc = retrieve(kRolePathsList, ctx, r, repos_name, *pbps_with_roles);
    // A service without getRolePathsList answers it with a fault; one that
    // could not be reached would only fail again, after another time-out.
    if (rc == SOAP_OK || service_unreachable(rc)) return status_of_call(rc);
  }
  return get_role_paths(ctx, r, repos_name, *pbps_with_roles);
}

int load_role_pbps(ctx_data* ctx, request_rec* r, const char* repos_name, apr_pool_t* store_pool,
                   apr_pool_t* temp_pool, apr_array_header_t** roles, pbp_access_t* global_access) {
  const zeb::status::stopwatch watch;
  const char* user_key = get_memcache_user_key(ctx, repos_name, temp_pool);
  zeb::role_set_key key{
      std::string(ctx->service.scm_listener_url ? ctx->service.scm_listener_url : "") + '\n' +
          (ctx->service.external_system_id ? ctx->service.external_system_id : ""),
      repos_name ? repos_name : "",
      ctx->credentials.cached_username ? ctx->credentials.cached_username : "",
      {}};
  char* value = nullptr;
  apr_size_t length = 0;
  std::shared_ptr<const zeb::role_set> set;
  if (context_cache_fetch(ctx, user_key, &value, &length, temp_pool) == APR_SUCCESS) {
    set = set_of_value(key, value, length, r, temp_pool);
  }
  const zeb::status::source loaded_from =
      set != nullptr ? zeb::status::source::memcached : zeb::status::source::service;
  if (set != nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Fetched getRolePaths()/getRolePathsList() API response from memcached");
  } else {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Unable to fetch getRolePaths()/getRolePathsList() API response from "
                  "memcached; contacting Brimstack");
    apr_array_header_t* pbps_with_roles = nullptr;
    if (int rc = get_pbps(&pbps_with_roles, ctx, r, repos_name, temp_pool); rc != 0) return rc;
    set = set_of_answer(key, pbps_with_roles, r, temp_pool);
    if (set == nullptr) {
      ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Unable to keep the roles of user '%s'",
                    key.user.c_str());
      return HTTP_INTERNAL_SERVER_ERROR;
    }
  }
  // Every role of a set is processed; the connection only reads them.
  *roles = const_cast<apr_array_header_t*>(set->roles());
  *global_access = set->global_access();
  hold_in(store_pool, std::move(set));
  zeb::count_role_load(loaded_from, watch.micros());
  return OK;
}
