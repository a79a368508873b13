// A recursive check as the module makes it for DELETE, POST, COPY and MOVE,
// by the module's decision core: the user's global access, else a walk of
// the repository tree in which every node must be granted by some role. A
// top path missing from the revision is decided on its permissions alone.
#ifndef ZEBAUTHZ_TREE_DECISION_H
#define ZEBAUTHZ_TREE_DECISION_H

#include <apr_pools.h>
#include <apr_tables.h>
#include <svn_fs.h>

#include <optional>
#include <string>
#include <vector>

#include "explain_report.h"
#include "user_decision.h"

namespace zebauthz {

// The youngest revision's root (or that of revision, when given) of the
// repository at path; throws failure(kExitRepository).
svn_fs_root_t* open_revision_root(const std::string& path, std::optional<long> revision,
                                  apr_pool_t* pool);

struct tree_decision {
  // The decision at the top, or, when a node below was refused, the
  // decision at that node (its path then the top's).
  user_decision decision;
  std::optional<tree_failure> failed;
};

tree_decision decide_tree(apr_array_header_t* store, pbp_access_t required, const std::string& path,
                          svn_fs_root_t* root, apr_pool_t* pool);

// Every node at or below path that the user may not act on, the topmost
// ones in path order: what a user does not see, what a checkout leaves out. The
// entries of a refused directory are not visited, since they go with it.
// Throws failure(kExitRepository) when path names no node or a directory
// cannot be listed.
std::vector<std::string> refused_nodes(apr_array_header_t* store, pbp_access_t required,
                                       const std::string& path, svn_fs_root_t* root,
                                       apr_pool_t* pool);

}  // namespace zebauthz

#endif
