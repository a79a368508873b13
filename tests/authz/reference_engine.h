// A plain, unoptimised implementation of the engine's processing and access
// decision: the absolute list is scanned with svn_dirent_is_ancestor and every
// wildcard is translated and compiled again (zeb_matcher_match) on every
// decision. The engine's answers are checked against it, and benchmarks use it
// as the baseline. A wildcard that the expression library gives up on counts
// here as not matching, as zeb_matcher_match reports it; the engine never lets
// such a failure grant, so the two are compared on paths the library decides.
//
// Use: parse a role once with parse_role(), then call decide() per decision
// (this measures only the decision), or call has_access() to parse and decide
// in one go. APR must be initialised; pools are the caller's.
#ifndef ZEB_REFERENCE_ENGINE_H
#define ZEB_REFERENCE_ENGINE_H

#include <apr_pools.h>

#include <string>
#include <vector>

#include "zeb_authorizer.h"

namespace zeb::reference {

struct item {
  std::string path;  // canonical path or, for a wildcard, canonical pattern
  pbp_access_t permission;
};

struct role {
  std::vector<item> absolute;   // one entry per path, deepest first
  std::vector<item> wildcards;  // input order, duplicates kept
  pbp_access_t global_access;   // lowest permission of all entries
};

// Processes raw PBP strings ("view:/trunk", "commit:/a/**", ...). Uses pool
// for scratch work only.
role parse_role(const std::vector<std::string>& raw_pbps, apr_pool_t* pool);

// Whether the role allows required access on the node at path. Scratch work
// goes into a child pool of pool, destroyed before returning.
bool decide(const role& parsed, pbp_access_t required, const char* path, apr_pool_t* pool);

// parse_role() then decide().
bool has_access(const std::vector<std::string>& raw_pbps, pbp_access_t required, const char* path,
                apr_pool_t* pool);

}  // namespace zeb::reference

#endif
