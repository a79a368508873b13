// Authentication of a request's Basic credentials, and the split of request
// URIs into repository name and path.
#ifndef BRIMSTACK_AUTH_H
#define BRIMSTACK_AUTH_H

#include "mod_authnz_zeb.h"

// 0, or HTTP_INTERNAL_SERVER_ERROR after logging. repos_path may be null
// when the caller does not want it.
int get_reposinfo(const char** repos_name, const char** repos_path, request_rec* r, const char* uri,
                  const authnz_zeb_config_rec* conf);

#endif
