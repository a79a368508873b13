#include "destination_reading.h"

#include <apr_strings.h>
#include <http_log.h>
#include <http_protocol.h>

#include <cstring>

#include "copy_destination.h"
#include "dav_svn_resource.h"
#include "request_outcome.h"
#include "request_paths.h"
#include "request_tree.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

using zeb::decision::copy_destination;
using zeb::decision::destination_kind;

int refuse_destination(request_rec* r, const char* destination) {
  ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r, "%s destination '%s' maps to no repository path",
                r->method, destination);
  ap_note_basic_auth_failure(r);
  return HTTP_FORBIDDEN;
}

// Whether mod_dav's destination subrequest r replaces an existing tree at
// repos_path: OK with *replaced set, or the status of an error. mod_dav_svn
// also asks through this subrequest about other paths (its lock discovery
// reads the destination's parent and children); only the destination
// itself is replaced.
int replaces_existing_tree(request_rec* r, const authnz_zeb_config_rec* conf, const char* dest,
                           const char* repos_path, bool* replaced) {
  *replaced = false;
  if (!overwrites_destination(apr_table_get(r->main->headers_in, "Overwrite"))) return OK;
  const char* dest_repos_name = nullptr;
  const char* dest_repos_path = nullptr;
  if (int rc = get_reposinfo(&dest_repos_name, &dest_repos_path, r, dest, conf); rc != 0) {
    return rc;
  }
  if (dest_repos_path == nullptr || std::strcmp(dest_repos_path, repos_path) != 0) return OK;
  const dav_resource* resource = request_resource(r, conf);
  if (resource == nullptr) return HTTP_INTERNAL_SERVER_ERROR;
  *replaced = resource->exists != 0;
  return OK;
}

}  // namespace

int read_copy_destination(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_path,
                          copy_destination* out) {
  if (repos_path == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "%s destination has no associated repository path",
                  r->method);
    return HTTP_BAD_REQUEST;
  }
  const char* header = apr_table_get(r->headers_in, "Destination");
  if (header == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "%s request is missing Destination header",
                  r->method);
    return HTTP_BAD_REQUEST;
  }
  const char* escaped = nullptr;
  switch (destination_uri_path(header, &escaped, r->pool)) {
    case destination_status::unparsable:
      ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Error parsing Destination header (%s)", header);
      return zeb::status_of(zeb::outcome::malformed_destination);
    case destination_status::no_path:
      // Never decide a destination check on an absent path.
      return refuse_destination(r, header);
    case destination_status::ok:
      break;
  }
  char* dest = apr_pstrdup(r->pool, escaped);
  // An escape that does not decode cleanly (a NUL, an encoded slash, a bad
  // escape) would leave a path other than the one httpd serves.
  if (ap_unescape_url(dest) != OK) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Error parsing Destination header (%s)", header);
    return zeb::status_of(zeb::outcome::malformed_destination);
  }
  // Dot segments are resolved the way httpd resolves the destination it
  // serves; "/branches/../tags" must be judged as "/tags".
  ap_getparents(dest);

  if (r->main != nullptr && r->parsed_uri.path != nullptr &&
      std::strcmp(dest, r->parsed_uri.path) == 0) {
    bool replaced = false;
    if (int rc = replaces_existing_tree(r, conf, dest, repos_path, &replaced); rc != OK) return rc;
    *out = {replaced ? destination_kind::replaced_here : destination_kind::untouched_here, nullptr,
            nullptr};
    return 0;
  }
  if (!lies_within(dest, conf->base_uri)) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "%s destination '%s' lies outside '%s'", r->method,
                  dest, conf->base_uri);
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  const char* dest_repos_name = nullptr;
  const char* dest_repos_path = nullptr;
  if (int rc = get_reposinfo(&dest_repos_name, &dest_repos_path, r, dest, conf); rc != 0) {
    return rc;
  }
  if (dest_repos_path == nullptr) return refuse_destination(r, header);
  *out = {destination_kind::elsewhere, dest_repos_name, dest_repos_path};
  return 0;
}
