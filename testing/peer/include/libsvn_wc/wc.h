/* The working copy context's layout (its first member is all the helpers
   read) and the libsvn_wc internals they call. */
#ifndef PEER_LIBSVN_WC_WC_H
#define PEER_LIBSVN_WC_WC_H

#include "svn_wc.h"
#include "private/svn_wc_private.h"

typedef struct svn_wc__db_t svn_wc__db_t;

struct svn_wc_context_t {
  svn_wc__db_t *db;
  svn_boolean_t close_db_on_destroy;
  apr_pool_t *state_pool;
};

svn_error_t *svn_wc__context_create_with_db(svn_wc_context_t **wc_ctx, svn_config_t *config,
                                            svn_wc__db_t *db, apr_pool_t *result_pool);

svn_error_t *svn_wc__read_entries_old(apr_hash_t **entries, const char *dir_abspath,
                                      apr_pool_t *result_pool, apr_pool_t *scratch_pool);

svn_error_t *svn_wc__internal_walk_children(svn_wc__db_t *db, const char *local_abspath,
                                            svn_boolean_t show_hidden,
                                            const apr_array_header_t *changelist_filter,
                                            svn_wc__node_found_func_t walk_callback,
                                            void *walk_baton, svn_depth_t walk_depth,
                                            svn_cancel_func_t cancel_func, void *cancel_baton,
                                            apr_pool_t *scratch_pool);

#include "wc_db.h"

#endif
