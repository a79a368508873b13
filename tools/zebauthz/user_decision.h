// A user's decision on one node, combined from the roles the way the
// module's authorization driver combines them, with the engine's reasons.
#ifndef ZEBAUTHZ_USER_DECISION_H
#define ZEBAUTHZ_USER_DECISION_H

#include <apr_pools.h>
#include <apr_tables.h>

#include <string>
#include <vector>

#include "zeb_authorizer.h"
#include "zeb_explain.h"

namespace zebauthz {

enum class decided_by {
  global_access,  // the highest global access of the roles includes the action
  role,           // the first role whose node decision is yes
  no_role,        // no role says yes (or there is no role)
};

struct role_decision {
  const role_processed_pbps_t* role;
  bool granted;
  zeb_explanation_t why;  // not filled for an action of none, which every role allows
};

struct user_decision {
  pbp_access_t required;
  std::string path;
  bool granted;
  decided_by basis;
  // The highest global access over the roles; PBP_UNKNOWN without roles.
  pbp_access_t global_access;
  // The role that decided: for global access the first role whose global
  // access includes the action, for role the role that said yes.
  const role_processed_pbps_t* deciding_role;
  // The roles consulted, in order, up to the one that said yes.
  std::vector<role_decision> roles;
};

// The highest global access over the processed roles of store.
pbp_access_t combined_global_access(const apr_array_header_t* store);

// Decides path for the roles of store (processed) with the module's decision
// core, as a check on the node itself, and explains it role by role.
user_decision decide_node(const apr_array_header_t* store, pbp_access_t required,
                          const std::string& path, apr_pool_t* pool);

// The PBP that settled a role's decision and how: absolute or wildcard, the
// score it counted with. Empty pbp when no PBP covers the path.
struct deciding_rule {
  const pbp_item_t* pbp = nullptr;
  bool wildcard = false;
  int score = -1;
};
deciding_rule rule_of(const role_decision& decision);

}  // namespace zebauthz

#endif
