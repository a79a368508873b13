/* The one work item wc-lock-tester queues. */
#ifndef PEER_LIBSVN_WC_WORKQUEUE_H
#define PEER_LIBSVN_WC_WORKQUEUE_H

#include "wc_db.h"

svn_error_t *svn_wc__wq_build_sync_file_flags(svn_skel_t **work_item, svn_wc__db_t *db,
                                              const char *local_abspath,
                                              apr_pool_t *result_pool,
                                              apr_pool_t *scratch_pool);

#endif
