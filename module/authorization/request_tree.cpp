#include "request_tree.h"

#include <http_config.h>
#include <http_log.h>

#include "dav_svn_resource.h"
#include "request_paths.h"

APLOG_USE_MODULE(authnz_zeb);

struct request_tree::kept {
  svn_fs_root_t* root;
  zeb::decision::walk_memo* memo;
};

const dav_resource* request_resource(request_rec* r, const authnz_zeb_config_rec* conf) {
  dav_resource* resource = nullptr;
  if (dav_svn__hooks_repository.get_resource(r, conf->base_uri, "ignored", 1, &resource) !=
          nullptr ||
      resource == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r, "Unable to get DAV resource for '%s'", r->uri);
    return nullptr;
  }
  return resource;
}

request_tree::request_tree(request_rec* r, const authnz_zeb_config_rec* conf)
    : r_(r), conf_(conf) {}

// Made with the request's first recursive check: most requests have none.
request_tree::kept* request_tree::remembered() {
  if (kept_ != nullptr) return kept_;
  request_memo* shared = request_memo_of(r_);
  kept_ = static_cast<kept*>(shared->tree_walk);
  if (kept_ == nullptr) {
    kept_ = static_cast<kept*>(apr_pcalloc(r_->pool, sizeof(kept)));
    kept_->memo = zeb::decision::make_walk_memo(r_->pool);
    shared->tree_walk = kept_;
  }
  return kept_;
}

svn_fs_root_t* request_tree::root() {
  kept* known = remembered();
  if (known->root != nullptr) return known->root;
  const dav_resource* resource = request_resource(r_, conf_);
  if (resource == nullptr) return nullptr;
  known->root = resource->info != nullptr ? resource->info->root.root : nullptr;
  if (known->root == nullptr) {
    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r_, "Unable to find revision root for '%s'", r_->uri);
  }
  return known->root;
}

zeb::decision::walk_memo* request_tree::memo() {
  return remembered()->memo;
}
