// Why a role allows or refuses access to a node: the rules that the node
// decision weighs, and its answer. For administrators' tools; the decision
// itself is has_non_recursive_access's, reached through the same steps.
#ifndef ZEB_EXPLAIN_H
#define ZEB_EXPLAIN_H

#include <apr_pools.h>
#include <apr_tables.h>

#include "zeb_authorizer.h"

#ifdef __cplusplus
extern "C" {
#endif

// One wildcard PBP that matched the path.
typedef struct zeb_wildcard_match_t {
  const pbp_item_t* item;
  // Depth of the matched prefix; for a match the pattern library gave up on,
  // the score it was counted with.
  int score;
  int grants;        // 1 when its permission includes the required access
  int match_failed;  // 1 when the library gave up and the match was assumed
} zeb_wildcard_match_t;

typedef struct zeb_explanation_t {
  int granted;  // the node decision: 1 yes, 0 no
  // The most specific absolute PBP whose path is the path or an ancestor of
  // it, or null, and the depth it counts with.
  const pbp_item_t* absolute;
  int absolute_depth;
  apr_array_header_t* wildcards;  // zeb_wildcard_match_t, in list order
  // The four scores the decision compares (-1 when no rule of that kind
  // applies).
  int absolute_grant;
  int absolute_revoke;
  int wildcard_grant;
  int wildcard_revoke;
} zeb_explanation_t;

// Explains has_non_recursive_access for the same arguments; every wildcard
// is run, so this costs more than the decision. The explanation is
// allocated from pool.
void zeb_explain_access(zeb_explanation_t* explanation,
                        const apr_array_header_t* sorted_absolute_pbps,
                        const apr_array_header_t* unsorted_wildcard_pbps,
                        pbp_access_t required_access, const char* path, apr_pool_t* pool);

#ifdef __cplusplus
}
#endif

#endif
