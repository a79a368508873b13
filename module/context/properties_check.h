// What start-up finds wrong with a location's properties file before any
// connection reads it: a file that cannot be read, a key without which no
// connection context can be set up, and keys under the module's own
// prefixes that no part of the module reads (typing mistakes).
#ifndef PROPERTIES_CHECK_H
#define PROPERTIES_CHECK_H

#include <apr_pools.h>
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace zeb {

// The known key closest to key by edit distance (a swap of two neighbouring
// characters counts as one edit), or "" when none is within three edits.
std::string nearest_known_property(std::string_view key);

// Whether key lies under one of the prefixes that only this module uses and
// is not one it reads.
bool is_unknown_property(std::string_view key);

// The user httpd's children serve requests as, when it differs from the
// user who starts httpd (root).
struct request_user {
  uid_t uid;
  gid_t gid;
  const char* name;
};

// Whether user may open path for reading, judged from the mode bits of the
// file and of every directory above it (access control lists are not read).
bool readable_by(const char* path, const request_user& user);

// The warnings for the properties file of the location at base_uri, each a
// whole log line; empty when nothing is wrong. children: the user that
// serves requests, or null when it is the current one.
std::vector<std::string> properties_file_warnings(const char* file, const char* base_uri,
                                                  const request_user* children, apr_pool_t* pool);

}  // namespace zeb

#endif
