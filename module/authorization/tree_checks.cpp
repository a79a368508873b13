// Recursive checks walk the repository tree of the revision or transaction
// that mod_dav_svn resolves for the request; COPY and MOVE are scheduled
// from their Destination header.
#include "tree_checks.h"

#include <apr_strings.h>
#include <http_log.h>
#include <http_protocol.h>
#include <svn_dirent_uri.h>
#include <svn_pools.h>

#include <cstring>

#include "authorize_request.h"
#include "check_credentials.h"
#include "copy_destination.h"
#include "dav_svn_resource.h"
#include "request_outcome.h"
#include "zeb_tree_walk.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

// What the recursive checks of one request share: the root that mod_dav_svn
// resolves for the request URI, and the answers already given, by action,
// walked path and checked path.
struct walk_memo_t {
  svn_fs_root_t* root;
  apr_hash_t* answers;
};

walk_memo_t* walk_memo_of(request_rec* r) {
  auto* memo =
      static_cast<walk_memo_t*>(ap_get_module_config(r->request_config, &authnz_zeb_module));
  if (memo == nullptr) {
    memo = static_cast<walk_memo_t*>(apr_pcalloc(r->pool, sizeof(walk_memo_t)));
    memo->answers = apr_hash_make(r->pool);
    ap_set_module_config(r->request_config, &authnz_zeb_module, memo);
  }
  return memo;
}

int refuse_destination(request_rec* r, const char* destination) {
  ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r, "%s destination '%s' maps to no repository path",
                r->method, destination);
  ap_note_basic_auth_failure(r);
  return HTTP_FORBIDDEN;
}

// mod_dav_svn's resource for the request URI, or nullptr after logging.
dav_resource* request_resource(request_rec* r, const authnz_zeb_config_rec* conf) {
  dav_resource* resource = nullptr;
  if (dav_svn__hooks_repository.get_resource(r, conf->base_uri, "ignored", 1, &resource) !=
          nullptr ||
      resource == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Unable to get DAV resource for '%s'", r->uri);
    return nullptr;
  }
  return resource;
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

// mod_dav looks the destination up with a subrequest of the COPY or MOVE, r
// here. The destination check of the main request covers what the source
// tree creates there; a destination that already exists is removed (or
// replaced) as a whole when overwriting, so its own tree needs commit too.
int schedule_destination_subrequest(request_rec* r, const authnz_zeb_config_rec* conf,
                                    const char* dest, const char* repos_name,
                                    const char* repos_path, apr_array_header_t* todo_list) {
  bool replaced = false;
  if (int rc = replaces_existing_tree(r, conf, dest, repos_path, &replaced); rc != OK) return rc;
  if (!replaced) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                  "Ignoring %s subrequest (matching source and destination)", r->method);
    return 0;
  }
  ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "%s overwrites existing destination '%s'", r->method,
                repos_path);
  return add_todo_item(r, PBP_COMMIT_ACCESS, ACCESS_RECURSIVE, repos_name, repos_path, repos_path,
                       todo_list, r->pool);
}

// The request's revision or transaction root, looked up once per request.
svn_fs_root_t* request_root(request_rec* r, const authnz_zeb_config_rec* conf, walk_memo_t* memo) {
  if (memo->root != nullptr) return memo->root;
  const dav_resource* resource = request_resource(r, conf);
  if (resource == nullptr) return nullptr;
  memo->root = resource->info != nullptr ? resource->info->root.root : nullptr;
  if (memo->root == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Unable to find revision root for '%s'", r->uri);
  }
  return memo->root;
}

// Whether the walk stopped at its own top and the root holds no node there.
bool is_missing_top(svn_fs_root_t* root, const char* top, const char* stopped_at,
                    apr_pool_t* pool) {
  if (stopped_at == nullptr || std::strcmp(top, stopped_at) != 0) return false;
  svn_node_kind_t kind = svn_node_unknown;
  if (svn_error_t* err = svn_fs_check_path(&kind, root, top, pool)) {
    svn_error_clear(err);
    return false;
  }
  return kind == svn_node_none;
}

int walk_answer(ctx_data* ctx, pbp_access_t required_access, const char* real_path,
                const char* check_path, request_rec* r, const authnz_zeb_config_rec* conf,
                walk_memo_t* memo) {
  svn_fs_root_t* root = request_root(r, conf, memo);
  if (root == nullptr) return HTTP_INTERNAL_SERVER_ERROR;
  zeb_walk_result_t result;
  zeb_walk_tree(&result, ctx->role_pbps, required_access, root, real_path, check_path, r->pool);
  if (APLOGrdebug(r)) {
    ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r, "Recursive check judged %lu nodes below '%s'",
                  static_cast<unsigned long>(result.nodes_judged), check_path);
  }
  switch (result.status) {
    case ZEB_WALK_GRANTED:
      return OK;
    case ZEB_WALK_DENIED:
      break;
    case ZEB_WALK_NO_KIND:
      ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                    "Unable to determine node kind for repository path '%s'", result.real_path);
      break;
    case ZEB_WALK_NO_ENTRIES:
      // A path missing from the root has nothing below it to protect, and
      // the roles allowed the path itself: mod_dav_svn answers for the
      // missing path (an out-of-date commit gets its own error, not 403).
      if (is_missing_top(root, real_path, result.real_path, r->pool)) {
        ap_log_rerror(APLOG_MARK, APLOG_DEBUG, 0, r,
                      "Repository path '%s' does not exist; decided on '%s' alone", real_path,
                      check_path);
        return OK;
      }
      ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                    "Unable to fetch directory entries for repos path '%s'", result.real_path);
      break;
  }
  return HTTP_FORBIDDEN;
}

}  // namespace

int schedule_copy_move(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
                       const char* repos_path, bool is_move, apr_array_header_t* todo_list) {
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
    return schedule_destination_subrequest(r, conf, dest, repos_name, repos_path, todo_list);
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

  apr_pool_t* pool = r->pool;
  if (int rc = add_todo_item(r, PBP_COMMIT_ACCESS, ACCESS_RECURSIVE, dest_repos_name, repos_path,
                             dest_repos_path, todo_list, pool);
      rc != 0) {
    return rc;
  }
  if (int rc = add_todo_item(r, PBP_VIEW_ACCESS, ACCESS_RECURSIVE, repos_name, repos_path,
                             repos_path, todo_list, pool);
      rc != 0) {
    return rc;
  }
  if (!is_move) return 0;
  return add_todo_item(r, PBP_COMMIT_ACCESS, ACCESS_RECURSIVE, repos_name, repos_path, repos_path,
                       todo_list, pool);
}

int has_recursive_access(ctx_data* ctx, pbp_access_t required_access, const char* repos_path,
                         const char* check_path, request_rec* r, const authnz_zeb_config_rec* conf,
                         apr_pool_t* pool) {
  // Joining below the top needs canonical paths ("/a/" would not be).
  const char* real_path = svn_dirent_canonicalize(repos_path, pool);
  const char* top_check_path = svn_dirent_canonicalize(check_path, pool);
  walk_memo_t* memo = walk_memo_of(r);
  // The same paths are a different question for another role store (the
  // destination of a copy may lie in another repository).
  const char* question = apr_psprintf(
      r->pool, "%d\n%pp\n%s\n%s\n%s\n%s", static_cast<int>(required_access),
      static_cast<void*>(ctx->role_pbps), ctx->role_store_repos ? ctx->role_store_repos : "",
      ctx->cached_username ? ctx->cached_username : "", real_path, top_check_path);
  if (const void* known = apr_hash_get(memo->answers, question, APR_HASH_KEY_STRING)) {
    return *static_cast<const int*>(known);
  }
  const int answer = walk_answer(ctx, required_access, real_path, top_check_path, r, conf, memo);
  // Errors on the way are not remembered: asking again logs them again.
  if (answer == OK || answer == HTTP_FORBIDDEN) {
    apr_hash_set(memo->answers, question, APR_HASH_KEY_STRING,
                 apr_pmemdup(r->pool, &answer, sizeof answer));
  }
  return answer;
}
