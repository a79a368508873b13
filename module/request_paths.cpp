#include "request_paths.h"

#include <apr_strings.h>
#include <http_config.h>
#include <http_log.h>

#include <cstring>

#include "dav_svn_api.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

bool same_text(const char* a, const char* b) {
  return a == b || (a != nullptr && b != nullptr && std::strcmp(a, b) == 0);
}

int split_uri(const char** repos_name, const char** repos_path, request_rec* r, const char* uri,
              const char* root) {
  const char* cleaned_uri = nullptr;
  int trailing_slash = 0;
  const char* relative_path = nullptr;
  const char* path = nullptr;
  if (dav_svn_split_uri(r, uri, root, &cleaned_uri, &trailing_slash, repos_name, &relative_path,
                        &path) != nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Error decoding URI '%s'", r->uri);
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  *repos_path =
      (path != nullptr && path[0] != '/') ? apr_pstrcat(r->pool, "/", path, nullptr) : path;
  return 0;
}

}  // namespace

request_memo* request_memo_of(request_rec* r) {
  auto* memo =
      static_cast<request_memo*>(ap_get_module_config(r->request_config, &authnz_zeb_module));
  if (memo == nullptr) {
    memo = static_cast<request_memo*>(apr_pcalloc(r->pool, sizeof(request_memo)));
    ap_set_module_config(r->request_config, &authnz_zeb_module, memo);
  }
  return memo;
}

int get_reposinfo(const char** repos_name, const char** repos_path, request_rec* r, const char* uri,
                  const authnz_zeb_config_rec* conf) {
  const char* path = nullptr;
  // Only the request's own URI repeats; a destination is split once anyway.
  if (uri != r->uri) {
    const int rc = split_uri(repos_name, &path, r, uri, conf->base_uri);
    if (repos_path != nullptr) *repos_path = path;
    return rc;
  }
  request_memo* memo = request_memo_of(r);
  if (memo->split_uri == nullptr || !same_text(memo->split_uri, uri) ||
      !same_text(memo->split_root, conf->base_uri)) {
    if (int rc = split_uri(&memo->repos_name, &memo->repos_path, r, uri, conf->base_uri); rc != 0) {
      memo->split_uri = nullptr;
      return rc;
    }
    memo->split_uri = uri;
    memo->split_root = conf->base_uri;
  }
  *repos_name = memo->repos_name;
  if (repos_path != nullptr) *repos_path = memo->repos_path;
  return 0;
}
