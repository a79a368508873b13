/* The libsvn_wc entry points outside the public API that the helper
   programs call (all exported by the installed libsvn_wc). */
#ifndef PEER_SVN_WC_PRIVATE_H
#define PEER_SVN_WC_PRIVATE_H

#include "svn_wc.h"

typedef svn_error_t *(*svn_wc__node_found_func_t)(const char *local_abspath,
                                                  svn_node_kind_t kind, void *walk_baton,
                                                  apr_pool_t *scratch_pool);

svn_error_t *svn_wc__acquire_write_lock(const char **lock_root_abspath,
                                        svn_wc_context_t *wc_ctx, const char *local_abspath,
                                        svn_boolean_t lock_anchor, apr_pool_t *result_pool,
                                        apr_pool_t *scratch_pool);

#endif
