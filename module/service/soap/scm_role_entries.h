// The role answers of getRolePathsList and getRolePaths read into plain
// values, so that every caller treats missing parts alike.
#ifndef SCM_ROLE_ENTRIES_H
#define SCM_ROLE_ENTRIES_H

#include <apr_pools.h>
#include <apr_tables.h>

#include "soapH.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The role id that getRolePaths' strings are filed under. */
#define SCM_ROLE_PATHS_ROLE_ID "NONE"

typedef struct scm_role_entry_t {
  const char* role_id; /* null when the entry carries none */
  int num_pbps;
  const char** pbps; /* num_pbps PBP strings in the order received */
} scm_role_entry_t;

/* Roles of a getRolePathsList answer as an array of scm_role_entry_t, in the
 * answer's order, everything copied into pool. An absent list gives no roles;
 * nil entries are skipped; an entry without a path array is a role without
 * PBPs; nil strings in a path array are skipped. */
apr_array_header_t* scm_roles_from_role_paths_list(
    const struct ScmListenerServiceNS__getRolePathsListResponse* response, apr_pool_t* pool);

/* The one role "NONE" holding the strings of a getRolePaths answer (none when
 * the array is absent; nil strings skipped), as an array of one
 * scm_role_entry_t copied into pool. */
apr_array_header_t* scm_roles_from_role_paths(
    const struct ScmListenerServiceNS__getRolePathsResponse* response, apr_pool_t* pool);

#ifdef __cplusplus
}
#endif

#endif
