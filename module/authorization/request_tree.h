// The repository tree a request addresses, as mod_dav_svn resolves it: the
// tree source of the request's recursive checks.
#ifndef REQUEST_TREE_H
#define REQUEST_TREE_H

#include <httpd.h>

#include "mod_authnz_zeb.h"
#include "tree_check.h"

struct dav_resource;

// mod_dav_svn's resource for the request URI, or nullptr after logging.
const dav_resource* request_resource(request_rec* r, const authnz_zeb_config_rec* conf);

// The root of the revision or transaction of the request URI and the
// answers of the request's recursive checks, kept with the request so that
// every question asked while it is served shares them.
class request_tree final : public zeb::decision::tree_source {
 public:
  request_tree(request_rec* r, const authnz_zeb_config_rec* conf);
  svn_fs_root_t* root() override;
  zeb::decision::walk_memo* memo() override;

 private:
  struct kept;
  request_rec* r_;
  const authnz_zeb_config_rec* conf_;
  kept* remembered();
  kept* kept_ = nullptr;
};

#endif
