// A question put to the decision core that the module decides with: the
// given roles as the user's only role store, the opened revision as the
// tree, nothing logged.
#ifndef ZEBAUTHZ_CORE_QUESTION_H
#define ZEBAUTHZ_CORE_QUESTION_H

#include <apr_pools.h>
#include <apr_tables.h>
#include <svn_fs.h>

#include <string>

#include "request_decision.h"

namespace zebauthz {

// required on path (non-recursive), or on every node of the tree at path in
// root (recursive; root may be null otherwise).
zeb::decision::verdict ask_core(apr_array_header_t* store, pbp_access_t required,
                                const std::string& path, bool recursive, svn_fs_root_t* root,
                                apr_pool_t* pool);

}  // namespace zebauthz

#endif
