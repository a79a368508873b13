// Path permission engine: roles, their path-based permissions (PBPs) and the
// access decisions made from them. Shared by the httpd module and the Python
// binding; every operation here is exported with C linkage.
#ifndef ZEB_AUTHORIZER_H
#define ZEB_AUTHORIZER_H

#include <apr_pools.h>
#include <apr_tables.h>

#ifdef __cplusplus
extern "C" {
#endif

// Access levels; a larger value includes the smaller ones.
typedef enum pbp_access_t {
  PBP_UNKNOWN = -1,
  PBP_NO_ACCESS = 0,
  PBP_VIEW_ACCESS = 1,
  PBP_COMMIT_ACCESS = 2
} pbp_access_t;

struct zeb_pbp_accel;

// One processed PBP: a canonical path (or, for a wildcard PBP, the canonical
// pattern) and the permission it gives.
typedef struct pbp_item_t {
  const char* path;
  pbp_access_t permission;
  // Set by processing: precomputed lookup data that lets decisions skip
  // re-translating patterns and scanning lists. Items built by other code
  // leave it null and are decided by the plain algorithm.
  const struct zeb_pbp_accel* accel;
} pbp_item_t;

// One role. Raw until ensure_processed_pbps() runs, processed afterwards.
typedef struct role_processed_pbps_t {
  const char* role_id;  // may be null; not read by the engine
  char** raw_pbps;      // non-null while unprocessed
  int num_raw_pbps;
  apr_pool_t* raw_pbps_pool;                   // owns raw_pbps; destroyed by processing
  apr_array_header_t* sorted_absolute_pbps;    // pbp_item_t*, deepest path first
  apr_array_header_t* unsorted_wildcard_pbps;  // pbp_item_t*, input order
  pbp_access_t role_global_access;             // valid once processed
} role_processed_pbps_t;

// Processes a raw role once; the lists are allocated from pool.
void ensure_processed_pbps(role_processed_pbps_t* role_processed_pbp, apr_pool_t* pool);

// Fills the two empty arrays from raw PBP strings and reports the role's
// global access (the access it gives on every path).
void populate_rolepaths_pbps(char** raw_pbps, int num_raw_pbps,
                             apr_array_header_t* sorted_absolute_pbps,
                             apr_array_header_t* unsorted_wildcard_pbps,
                             pbp_access_t* role_global_access, apr_pool_t* pool);

// 1 when the role described by the two lists allows required_access on the
// node at path (the node alone, not its subtree), 0 otherwise.
int has_non_recursive_access(apr_array_header_t* sorted_absolute_pbps,
                             apr_array_header_t* unsorted_wildcard_pbps,
                             pbp_access_t required_access, const char* path, apr_pool_t* pool);

// Recomputes the global access from the two lists. Strings without ':' are in
// neither list; processing lowers the stored value to none for them.
pbp_access_t determine_global_access(apr_array_header_t* sorted_absolute_pbps,
                                     apr_array_header_t* unsorted_wildcard_pbps);

#ifdef __cplusplus
}
#endif

#endif
