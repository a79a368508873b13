// Where a request points: the repository and path that mod_dav_svn makes of
// a URI under the location. The authentication and authorization hooks both
// need the request URI's split; it is made once per request.
#ifndef REQUEST_PATHS_H
#define REQUEST_PATHS_H

#include <httpd.h>

#include "location_path.h"
#include "mod_authnz_zeb.h"

// What the module works out once per request and its hooks share; held in
// the module's slot of the request's configuration.
struct request_memo {
  // The split of split_uri under split_root; null until it succeeded.
  const char* split_uri;
  const char* split_root;
  const char* repos_name;
  const char* repos_path;
  // The recursive checks' own memo.
  void* tree_walk;
};

request_memo* request_memo_of(request_rec* r);

// The repository name and path (absolute, or null when the URI names the
// repository itself) of uri. 0, or HTTP_INTERNAL_SERVER_ERROR after
// logging. repos_path may be null when the caller does not want it.
int get_reposinfo(const char** repos_name, const char** repos_path, request_rec* r, const char* uri,
                  const authnz_zeb_config_rec* conf);

#endif
