#include "report_screening.h"

#include <apr_buckets.h>
#include <apr_strings.h>
#include <http_core.h>
#include <http_log.h>
#include <http_protocol.h>
#include <svn_dirent_uri.h>
#include <util_filter.h>

#include <cstring>
#include <string>

#include "dav_svn_api.h"
#include "report_paths.h"
#include "request_decider.h"

APLOG_USE_MODULE(authnz_zeb);

namespace {

constexpr const char* kBodyFilter = "ZEB_REPORT_BODY";
constexpr const char* kMergeinfoFilter = "ZEB_MERGEINFO_ITEMS";
constexpr apr_off_t kReadChunk = 8192;

// Hands the saved body over in the pieces asked for (mod_dav reads bytes;
// any other mode gets the rest at once), then steps aside.
apr_status_t replay_body(ap_filter_t* f, apr_bucket_brigade* bb, ap_input_mode_t mode,
                         apr_read_type_e block, apr_off_t readbytes) {
  auto* saved = static_cast<apr_bucket_brigade*>(f->ctx);
  if (saved == nullptr || APR_BRIGADE_EMPTY(saved)) {
    ap_remove_input_filter(f);
    return ap_get_brigade(f->next, bb, mode, block, readbytes);
  }
  if (mode == AP_MODE_READBYTES) {
    apr_bucket* after = nullptr;
    const apr_status_t rv = apr_brigade_partition(saved, readbytes, &after);
    if (rv != APR_SUCCESS && rv != APR_INCOMPLETE) return rv;
    f->ctx = apr_brigade_split_ex(saved, after, nullptr);
  } else {
    f->ctx = nullptr;
  }
  APR_BRIGADE_CONCAT(bb, saved);
  return APR_SUCCESS;
}

// Reads the whole body, at most limit bytes of it (0: no limit), into
// saved. OK, or the status that ends the request.
int read_body(request_rec* r, apr_bucket_brigade* saved, apr_off_t limit) {
  apr_bucket_brigade* bb = apr_brigade_create(r->pool, r->connection->bucket_alloc);
  apr_off_t total = 0;
  for (bool seen_eos = false; !seen_eos;) {
    const apr_status_t rv =
        ap_get_brigade(r->input_filters, bb, AP_MODE_READBYTES, APR_BLOCK_READ, kReadChunk);
    if (rv != APR_SUCCESS) {
      ap_log_rerror(APLOG_MARK, APLOG_ERR, rv, r, "Unable to read the %s request body", r->method);
      return ap_map_http_request_error(rv, HTTP_BAD_REQUEST);
    }
    for (apr_bucket* b = APR_BRIGADE_FIRST(bb); b != APR_BRIGADE_SENTINEL(bb);
         b = APR_BUCKET_NEXT(b)) {
      if (APR_BUCKET_IS_EOS(b)) seen_eos = true;
      if (apr_status_t kept = apr_bucket_setaside(b, r->pool);
          kept != APR_SUCCESS && kept != APR_ENOTIMPL) {
        ap_log_rerror(APLOG_MARK, APLOG_ERR, kept, r, "Unable to read the %s request body",
                      r->method);
        return HTTP_INTERNAL_SERVER_ERROR;
      }
    }
    apr_off_t length = 0;
    apr_brigade_length(bb, 1, &length);
    total += length;
    APR_BRIGADE_CONCAT(saved, bb);
    if (limit > 0 && total > limit) {
      // mod_dav refuses such a body as well.
      ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                    "%s request body exceeds LimitXMLRequestBody (%" APR_OFF_T_FMT ")", r->method,
                    limit);
      return HTTP_REQUEST_ENTITY_TOO_LARGE;
    }
  }
  return OK;
}

// What the mergeinfo filter needs to judge the items of an answer.
struct mergeinfo_filter_t {
  const authnz_zeb_config_rec* conf;
  const char* repos_name;
  const char* base;
  apr_bucket_brigade* held;
};

// mod_dav_svn answers mergeinfo of descendants without asking about them:
// the answer is held back whole and its items about paths the user may not
// read are dropped. Such a question refuses nothing, so it leaves no
// challenge on the response.
apr_status_t filter_mergeinfo_items(ap_filter_t* f, apr_bucket_brigade* bb) {
  auto* fc = static_cast<mergeinfo_filter_t*>(f->ctx);
  request_rec* r = f->r;
  bool eos = false;
  for (apr_bucket* b = APR_BRIGADE_FIRST(bb); b != APR_BRIGADE_SENTINEL(bb);
       b = APR_BUCKET_NEXT(b)) {
    if (APR_BUCKET_IS_EOS(b)) eos = true;
  }
  if (apr_status_t rv = ap_save_brigade(f, &fc->held, &bb, r->pool); rv != APR_SUCCESS) return rv;
  apr_brigade_cleanup(bb);
  if (!eos) return APR_SUCCESS;
  char* data = nullptr;
  apr_size_t length = 0;
  if (apr_status_t rv = apr_brigade_pflatten(fc->held, &data, &length, r->pool);
      rv != APR_SUCCESS) {
    return rv;
  }
  apr_brigade_cleanup(fc->held);
  const bool challenged = apr_table_get(r->err_headers_out, "WWW-Authenticate") != nullptr;
  const std::string kept = keep_mergeinfo_items({data, length}, [r, fc](const std::string& path) {
    const char* named =
        svn_dirent_canonicalize(join_report_path(fc->base, path.c_str(), r->pool), r->pool);
    return decide_read(r, fc->conf, fc->repos_name, named) == OK;
  });
  if (!challenged) apr_table_unset(r->err_headers_out, "WWW-Authenticate");
  apr_bucket_brigade* out = apr_brigade_create(r->pool, f->c->bucket_alloc);
  APR_BRIGADE_INSERT_TAIL(
      out, apr_bucket_pool_create(apr_pstrmemdup(r->pool, kept.data(), kept.size()), kept.size(),
                                  r->pool, f->c->bucket_alloc));
  APR_BRIGADE_INSERT_TAIL(out, apr_bucket_eos_create(f->c->bucket_alloc));
  ap_remove_output_filter(f);
  return ap_pass_brigade(f->next, out);
}

int refuse_malformed(request_rec* r, const char* path) {
  ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r,
                "Refusing %s that names '%s': not a plain relative path", r->method, path);
  return HTTP_BAD_REQUEST;
}

// The paths a report names, judged as the user's reads; the answer about
// descendants that the user may not all read is filtered.
int judge_report(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
                 const char* repos_path, const report_body_t& body) {
  const char* base = repos_path != nullptr ? repos_path : "/";
  bool filtered = false;
  for (int i = 0; i < body.paths->nelts; ++i) {
    const char* path = APR_ARRAY_IDX(body.paths, i, const char*);
    // mod_dav_svn asserts on paths other than plain relative ones in
    // inherited-props and update reports (no client writes them); the other
    // reports drop a leading slash.
    const bool absolute = path[0] == '/';
    const bool slash_dropped =
        body.kind != report_kind::inherited_props && body.kind != report_kind::update;
    if ((absolute && !slash_dropped) || !is_plain_relpath(absolute ? path + 1 : path)) {
      return refuse_malformed(r, path);
    }
    if (body.kind == report_kind::inherited_props || body.kind == report_kind::update) continue;
    const char* named = svn_dirent_canonicalize(join_report_path(base, path, r->pool), r->pool);
    if (int rc = decide_read(r, conf, repos_name, named); rc != OK) return rc;
    bool reads = true;
    if (body.descendants) {
      if (int rc = reads_everything_below(r, conf, repos_name, named, &reads); rc != OK) return rc;
    }
    if (!reads) filtered = true;
  }
  if (filtered) {
    auto* fc = static_cast<mergeinfo_filter_t*>(apr_pcalloc(r->pool, sizeof(mergeinfo_filter_t)));
    *fc = mergeinfo_filter_t{conf, repos_name, base, nullptr};
    ap_add_output_filter(kMergeinfoFilter, fc, r, r->connection);
  }
  return OK;
}

int screen_report(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
                  const char* repos_path) {
  apr_bucket_brigade* saved = apr_brigade_create(r->pool, r->connection->bucket_alloc);
  if (int rc = read_body(r, saved, static_cast<apr_off_t>(ap_get_limit_xml_body(r))); rc != OK) {
    return rc;
  }
  ap_add_input_filter(kBodyFilter, saved, r, r->connection);
  char* data = nullptr;
  apr_size_t length = 0;
  if (apr_brigade_pflatten(saved, &data, &length, r->pool) != APR_SUCCESS) {
    return HTTP_INTERNAL_SERVER_ERROR;
  }
  report_body_t body;
  // A body that is no XML is refused by mod_dav_svn without running a report.
  if (!read_report_body(&body, data, length, r->pool) || body.kind == report_kind::other) {
    return OK;
  }
  return judge_report(r, conf, repos_name, repos_path, body);
}

// A transaction's own resource: mod_dav_svn's PROPFIND on it ends the process.
bool is_transaction_resource(request_rec* r, const authnz_zeb_config_rec* conf) {
  const char *cleaned = nullptr, *name = nullptr, *relative = nullptr, *path = nullptr;
  int trailing_slash = 0;
  const char* special = dav_svn__get_special_uri(r);
  if (special == nullptr || dav_svn_split_uri(r, r->uri, conf->base_uri, &cleaned, &trailing_slash,
                                              &name, &relative, &path) != nullptr) {
    return false;
  }
  for (const char* kind : {"/txn", "/vtxn"}) {
    const char* prefix = apr_pstrcat(r->pool, "/", special, kind, nullptr);
    const std::size_t n = std::strlen(prefix);
    if (std::strncmp(relative, prefix, n) == 0 && (relative[n] == '/' || relative[n] == '\0')) {
      return true;
    }
  }
  return false;
}

}  // namespace

void register_report_filters() {
  ap_register_input_filter(kBodyFilter, replay_body, nullptr, AP_FTYPE_RESOURCE);
  ap_register_output_filter(kMergeinfoFilter, filter_mergeinfo_items, nullptr, AP_FTYPE_RESOURCE);
}

int screen_request(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
                   const char* repos_path) {
  if (r->method_number == M_PROPFIND && is_transaction_resource(r, conf)) {
    ap_log_rerror(APLOG_MARK, APLOG_WARNING, 0, r, "Refusing PROPFIND on transaction resource '%s'",
                  r->uri);
    return HTTP_FORBIDDEN;
  }
  // A subrequest shares its parent's body.
  if (r->method_number != M_REPORT || r->main != nullptr) return OK;
  return screen_report(r, conf, repos_name, repos_path);
}
