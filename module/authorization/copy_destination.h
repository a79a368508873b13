// The path named by a COPY or MOVE Destination header, before it is mapped
// to a repository path. Plain APR, so it is tested without httpd.
#ifndef COPY_DESTINATION_H
#define COPY_DESTINATION_H

#include <apr_pools.h>

enum class destination_status {
  ok,
  unparsable,  // not a URI
  no_path      // a URI without a path: nothing to judge
};

// The (still escaped) path of header in *path, allocated in pool. Scheme,
// host and port play no part.
destination_status destination_uri_path(const char* header, const char** path, apr_pool_t* pool);

// Whether a COPY or MOVE with this Overwrite header (absent: nullptr) may
// replace an existing destination. mod_dav keeps it only for "F" (or "f");
// a value it rejects counts as overwriting, so that doubt never grants.
bool overwrites_destination(const char* overwrite);

#endif
