// The user's role paths for a repository: from memcached or the ScmListener
// service, shared back through memcached, loaded into the connection's role
// store.
#ifndef ROLE_PATHS_LOADING_H
#define ROLE_PATHS_LOADING_H

#include <apr_tables.h>

#include "connection_context.h"

// The user's roles in repos_name (role_processed_pbps_t*, all processed)
// and their global access, from a processed role set of the process, shared
// with every connection that loads the same stored value; store_pool holds
// the set while it lives. Scratch memory comes from temp_pool.
// OK, or the status of a service failure.
int load_role_pbps(ctx_data* ctx, request_rec* r, const char* repos_name, apr_pool_t* store_pool,
                   apr_pool_t* temp_pool, apr_array_header_t** roles, pbp_access_t* global_access);

// Asks the service: getRolePathsList with getRolePaths as fallback when the
// service answered it with anything but roles, or only getRolePaths when
// the connection is set to use that API. *pbps_with_roles (zeb_role_t*) is
// made in pool. 0, or the status of a service failure.
int get_pbps(apr_array_header_t** pbps_with_roles, ctx_data* ctx, request_rec* r,
             const char* repos_name, apr_pool_t* pool);

// getRolePaths alone; its one role is appended to pbps_with_roles and the
// answer is stashed in memcached. 0, or the status of a service failure.
int get_role_paths(ctx_data* ctx, request_rec* r, const char* repos_name,
                   apr_array_header_t* pbps_with_roles);

#endif
