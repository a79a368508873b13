// The user's roles on their way from a service answer or a stored value into
// the connection's role store, kept free of httpd so they are tested alone.
#ifndef ROLE_STORE_H
#define ROLE_STORE_H

#include <apr_pools.h>
#include <apr_tables.h>

#include "role_paths_record.h"

// Appends one role of a service answer to pbps_with_roles (allocated in
// pool) and, when value is not null, its record to value.
void add_answer_role(const char* role_id, const char* const* pbps, int num_pbps,
                     apr_array_header_t* pbps_with_roles, serialize_ctx_t* value, apr_pool_t* pool);

// The role store: one unprocessed role_processed_pbps_t per zeb_role_t, in
// order. Store, role ids and records live in store_pool; each role's raw
// strings live in a child pool of it that processing releases. With
// raw_parent, the raw strings are those of pbps_with_roles, not copied, and
// only their list lives in a child pool of raw_parent: for roles processed
// at once, which then leave nothing of their strings in store_pool.
apr_array_header_t* make_role_store(const apr_array_header_t* pbps_with_roles,
                                    apr_pool_t* store_pool, apr_pool_t* raw_parent = nullptr);

#endif
