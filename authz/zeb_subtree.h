// Whether one role's answer can change below a path, so that tree walks
// need not visit subtrees whose every node the role is known to allow.
#ifndef ZEB_SUBTREE_H
#define ZEB_SUBTREE_H

#include "zeb_authorizer.h"

namespace zeb {

// True when the processed role allows required on the canonical absolute
// path and, judged from its PBPs alone, on every path below it: no absolute
// PBP lies below the path, and every wildcard that could answer differently
// below it could only grant, while an absolute PBP covering the path grants
// at least as deep as any revoking wildcard there (or no wildcard can
// answer differently below at all). False whenever that is not known,
// including for lists that processing did not make.
bool grants_subtree(const role_processed_pbps_t& role, pbp_access_t required, const char* path);

}  // namespace zeb

#endif
