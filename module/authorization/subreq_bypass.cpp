#include "subreq_bypass.h"

#include <ap_provider.h>
#include <http_log.h>
#include <http_request.h>

#include <apr_strings.h>

#include <cstring>

#include "dav_svn_api.h"
#include "hooks.h"
#include "mod_authnz_zeb.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

constexpr const char* kGroup = "dav2authz_subreq_bypass";
constexpr const char* kName = "mod_authz_svn_subreq_bypass";
constexpr const char* kVersion = "00.00a";

using subreq_bypass_fn = int (*)(request_rec*, const char*, const char*);

// Set anew in every configuration cycle; httpd reloads both modules then.
subreq_bypass_fn displaced = nullptr;

// The repository's root URI: the request's cleaned URI without the part
// inside the repository. This module has no configuration of its own in such
// a Location, so the root comes from mod_dav_svn's.
const char* repository_root(request_rec* r) {
  const char* root_dir = dav_svn__get_root_dir(r);
  const char* cleaned = nullptr;
  int trailing_slash = 0;
  const char* basename = nullptr;
  const char* relative = nullptr;
  const char* path = nullptr;
  if (root_dir == nullptr || dav_svn_split_uri(r, r->uri, root_dir, &cleaned, &trailing_slash,
                                               &basename, &relative, &path) != nullptr) {
    return nullptr;
  }
  const size_t length = std::strlen(cleaned);
  const size_t inside = relative != nullptr ? std::strlen(relative) : 0;
  if (inside > 0 && inside <= length && std::strcmp(cleaned + length - inside, relative) == 0) {
    return apr_pstrmemdup(r->pool, cleaned, length - inside);
  }
  return cleaned;  // the root itself, asked for as "/"
}

// mod_dav_svn without a provider: the path may be read when a GET
// subrequest on its public URI passes every authorization module.
int ask_by_subrequest(request_rec* r, const char* repos_path) {
  const char* root = repository_root(r);
  if (root == nullptr) return HTTP_FORBIDDEN;
  const char* path = repos_path != nullptr ? repos_path : "";
  const char* uri = apr_pstrcat(r->pool, root, path[0] == '/' || path[0] == '\0' ? "" : "/",
                                ap_escape_uri(r->pool, path), nullptr);
  request_rec* subreq = ap_sub_req_method_uri("GET", uri, r, r->output_filters);
  if (subreq == nullptr) return HTTP_FORBIDDEN;
  const int status = subreq->status == HTTP_OK ? OK : HTTP_FORBIDDEN;
  ap_destroy_sub_req(subreq);
  return status;
}

}  // namespace

void take_over_subreq_bypass(apr_pool_t* pconf) {
  const auto own = reinterpret_cast<const void*>(&zeb_subreq_bypass);
  const void* current = ap_lookup_provider(kGroup, kName, kVersion);
  displaced = current != own ? reinterpret_cast<subreq_bypass_fn>(current) : nullptr;
  // mod_dav_svn casts the provider itself back to the function it calls.
  ap_register_provider(pconf, kGroup, kName, kVersion, own);
}

int hand_over_subreq_bypass(request_rec* r, const char* repos_path, const char* repos_name) {
  if (displaced != nullptr) return displaced(r, repos_path, repos_name);
  return ask_by_subrequest(r, repos_path);
}
