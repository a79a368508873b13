// check_user: Basic credentials checked against the connection cache,
// memcached and finally the ScmListener service.
#include "check_credentials.h"

#include <apr_strings.h>
#include <http_core.h>
#include <http_log.h>
#include <http_protocol.h>

#include <cstring>
#include <string>

#include "cache_keys.h"
#include "connection_context.h"
#include "credentials_cache.h"
#include "dav_svn_api.h"
#include "hooks.h"
#include "properties_file.h"
#include "request_answer.h"
#include "request_env.h"
#include "request_paths.h"
#include "scm_calls.h"
#include "scm_requestkey.h"
#include "service_failure.h"
#include "service_runtime.h"
#include "soap_runtime_settings.h"
#include "status_counting.h"
#include "zeb_memcache.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

constexpr int kRefused = 1;

const char* validity(int answer) {
  return answer == 0 ? "valid" : "invalid";
}

// Asks the service and shares its answer through memcached. SOAP_OK with
// *answer set, or the runtime's error after logging it.
int ask_service(int* answer, ctx_data* ctx, request_rec* r, const char* username,
                const char* password, const char* repos_name, const char* user_key) {
  const char* action = make_soap_action(username, r->pool);
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                "Unable to fetch isValidUser() API response from memcached; contacting Brimstack");
  if (int rc = open_service_runtime(&ctx->service, r); rc != OK) return rc;
  if (const int rc =
          call_is_valid_user(answer, &ctx->service, action, username, password, repos_name);
      rc != SOAP_OK) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "isValidUser() API FAILED: %s",
                  service_failure_text(&ctx->service, r));
    end_soap_call(&ctx->service);
    return rc;
  }
  end_soap_call(&ctx->service);
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "isValidUser() API succeeded: [%d = %s]", *answer,
                validity(*answer));
  char value[4];
  encode_isvaliduser(*answer, value);
  const apr_status_t stashed = context_cache_stash(ctx, user_key, value, sizeof value, r->pool);
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "%s isValidUser() API response in memcached",
                stashed == APR_SUCCESS ? "Stashed" : "Unable to stash");
  return SOAP_OK;
}

// Validates credentials the connection cache did not answer. Only the
// service's answer, fresh or from memcached, refuses them; a failed call
// is the service's failure, and nothing is cached for it.
zeb::outcome validate_credentials(ctx_data* ctx, request_rec* r, const char* username,
                                  const char* password, const char* repos_name,
                                  const char* header) {
  int answer = kRefused;
  reset_cached_authnz_data(ctx, r);
  // The key names the service and repository the answer is for, and holds
  // the password only as a digest keyed with the shared secret. Null (never
  // cached) only when no digest can be made.
  const char* secret = shared_secret(ctx->service.properties_hash);
  const std::string key =
      zeb::is_valid_user_key(ctx->service.scm_listener_url, ctx->service.external_system_id,
                             repos_name, username, secret, password);
  const char* user_key = key.empty() ? nullptr : apr_pstrdup(r->pool, key.c_str());

  char* cached = nullptr;
  apr_size_t cached_len = 0;
  const char* source = kFromMemcached;
  auto counted_source = zeb::status::source::memcached;
  if (context_cache_fetch(ctx, user_key, &cached, &cached_len, r->pool) == APR_SUCCESS &&
      decode_isvaliduser(cached, cached_len, &answer)) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Fetched isValidUser() API response from memcached: [%d = %s]", answer,
                  validity(answer));
  } else if (int rc = ask_service(&answer, ctx, r, username, password, repos_name, user_key);
             rc != SOAP_OK) {
    return service_outcome(rc);
  } else {
    source = kFromService;
    counted_source = zeb::status::source::service;
  }
  zeb::count_credentials(counted_source, answer == 0);
  set_credentials_env(r, answer == 0 ? username : nullptr, source);

  if (answer != 0) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "User '%s' authentication FAILED", username);
    // The one line per refused request, for the administrator and for
    // fail2ban; httpd's prefix names the client.
    ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r,
                  "User '%s' refused by the service for repository '%s' (answer %d)", username,
                  repos_name != nullptr ? repos_name : "", answer);
    return zeb::outcome::credentials_refused;
  }
  remember_credentials(&ctx->credentials, ctx->cache_pool, secret, username, password, repos_name,
                       header, apr_time_now());
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "User '%s' authentication OK", username);
  return zeb::outcome::granted;
}

const authnz_zeb_config_rec* config_of(request_rec* r) {
  return static_cast<const authnz_zeb_config_rec*>(
      ap_get_module_config(r->per_dir_config, &authnz_zeb_module));
}

// The location's own path under SVNParentPath, where mod_dav_svn lists the
// repositories: it names no repository, and credentials are only ever
// valid for a repository.
bool is_repository_listing(request_rec* r, const authnz_zeb_config_rec* conf) {
  if (!lies_within(r->uri, conf->base_uri)) return false;
  std::size_t base_length = std::strlen(conf->base_uri);
  while (base_length > 1 && conf->base_uri[base_length - 1] == '/') --base_length;
  for (const char* rest = r->uri + base_length; *rest != '\0'; ++rest) {
    if (*rest != '/') return false;
  }
  const char *cleaned_uri = nullptr, *repos_name = nullptr, *relative_path = nullptr,
             *path = nullptr;
  int trailing_slash = 0;
  return dav_svn_split_uri(r, r->uri, conf->base_uri, &cleaned_uri, &trailing_slash, &repos_name,
                           &relative_path, &path) != nullptr;
}

void log_listing_refused(request_rec* r) {
  ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r,
                "Refusing '%s': the listing of repositories is not offered", r->uri);
}

// The Authorization header of a request; httpd's Basic helper reads the same.
const char* authorization_header(request_rec* r) {
  return apr_table_get(r->headers_in,
                       r->proxyreq == PROXYREQ_PROXY ? "Proxy-Authorization" : "Authorization");
}

void answer_user(request_rec* r, const char* user) {
  apr_table_addn(r->headers_out, "ZebUserName", user);
}

// Answers a request that presents, byte for byte, the Authorization header
// with which the connection accepted its user for the request's repository:
// the same user with the same password, known without decoding or digesting
// anything. OK with r->user set as httpd's Basic helper sets it, an error
// status, or DECLINED when the request is not such a repetition.
int answer_repeated_credentials(request_rec* r, const authnz_zeb_config_rec* conf,
                                const char* earlier_user) {
  const char* auth_type = ap_auth_type(r);
  if (auth_type == nullptr || ap_cstr_casecmp(auth_type, "Basic") != 0 ||
      ap_auth_name(r) == nullptr) {
    return DECLINED;
  }
  const char* header = authorization_header(r);
  ctx_data* ctx = header != nullptr ? existing_userdata(r, conf) : nullptr;
  if (ctx == nullptr) return DECLINED;
  expire_cached_authnz_data(ctx, r);
  const credentials_cache& cached = ctx->credentials;
  if (!presents_accepted_header(&cached, header) ||
      (earlier_user != nullptr && std::strcmp(earlier_user, cached.cached_username) != 0)) {
    return DECLINED;
  }
  const char* repos_name = nullptr;
  if (get_reposinfo(&repos_name, nullptr, r, r->uri, conf) != 0) {
    return answer_outcome(r, zeb::outcome::server_error);
  }
  if (repos_name == nullptr || std::strcmp(repos_name, cached.repos_name) != 0) return DECLINED;
  // The request's own copy: a reset of the connection cache while the
  // request runs must not take its user's name with it.
  r->user = apr_pstrdup(r->pool, cached.cached_username);
  r->ap_auth_type = const_cast<char*>("Basic");
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "User '%s' authentication OK (per cache)", r->user);
  set_credentials_env(r, r->user, kFromConnection);
  answer_user(r, r->user);
  return OK;
}

// The credentials' check that the provider and the hook share; header is the
// Authorization header they came in (null: not known).
zeb::outcome check_password(request_rec* r, const authnz_zeb_config_rec* conf, const char* user,
                            const char* password, const char* header) {
  ctx_data* ctx = nullptr;
  if (int rc = get_userdata(&ctx, r, conf); rc != OK) return zeb::outcome_of_status(rc);
  if (password == nullptr) password = "<none>";
  const char* repos_name = nullptr;
  if (get_reposinfo(&repos_name, nullptr, r, r->uri, conf) != 0) {
    return zeb::outcome::server_error;
  }

  expire_cached_authnz_data(ctx, r);
  if (is_cache_okay(user, password, repos_name, ctx, r)) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "User '%s' authentication OK (per cache)", user);
    zeb::count_credentials(zeb::status::source::connection, true);
    set_credentials_env(r, user, kFromConnection);
  } else if (const zeb::outcome checked =
                 validate_credentials(ctx, r, user, password, repos_name, header);
             checked != zeb::outcome::granted) {
    return checked;
  }
  answer_user(r, user);
  return zeb::outcome::granted;
}

}  // namespace

authn_status zeb_check_password(request_rec* r, const char* user, const char* password) {
  const authnz_zeb_config_rec* conf = config_of(r);
  if (conf->brimstack_properties_file == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r,
                  "Unable to handle request due to missing ZEB properties file");
    return AUTH_GENERAL_ERROR;
  }
  // Through the authentication provider there is no 403 to answer; never
  // authenticated, the client is asked again.
  if (is_repository_listing(r, conf)) {
    log_listing_refused(r);
    return AUTH_DENIED;
  }
  return zeb::response_to(check_password(r, conf, user, password, nullptr)).provider;
}

int check_user(request_rec* r) {
  const authnz_zeb_config_rec* conf = config_of(r);
  if (conf->brimstack_properties_file == nullptr) {
    // Quiet at the usual levels: another module may guard this Location.
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Unable to handle request due to missing ZEB properties file");
    return DECLINED;
  }
  if (is_repository_listing(r, conf)) {
    log_listing_refused(r);
    return HTTP_FORBIDDEN;
  }
  // A name an earlier module set; httpd's Basic helper replaces r->user with
  // the Authorization header's name, and that is the name whose password is
  // checked and that the request then runs as.
  const char* earlier_user = r->user;
  if (int rc = answer_repeated_credentials(r, conf, earlier_user); rc != DECLINED) return rc;
  const char* password = nullptr;
  if (int rc = ap_get_basic_auth_pw(r, &password); rc != OK) return rc;
  if (earlier_user != nullptr && std::strcmp(earlier_user, r->user) != 0) {
    ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r,
                  "User '%s' set by another module differs from the credentials' user '%s'",
                  earlier_user, r->user);
    ap_note_basic_auth_failure(r);
    return HTTP_UNAUTHORIZED;
  }
  return answer_outcome(r, check_password(r, conf, r->user, password, authorization_header(r)));
}
