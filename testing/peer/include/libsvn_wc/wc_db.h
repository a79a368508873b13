/* The working copy database calls of the helper programs, and the SQLite
   savepoint wrapper entries-dump walks under. */
#ifndef PEER_LIBSVN_WC_WC_DB_H
#define PEER_LIBSVN_WC_WC_DB_H

#include "wc.h"

typedef struct svn_sqlite__db_t svn_sqlite__db_t;
typedef struct svn_skel_t svn_skel_t;

svn_error_t *svn_sqlite__begin_savepoint(svn_sqlite__db_t *db);
svn_error_t *svn_sqlite__finish_savepoint(svn_sqlite__db_t *db, svn_error_t *err);

#define SVN_SQLITE__WITH_LOCK(expr, db)                                \
  do {                                                                 \
    svn_sqlite__db_t *svn_sqlite__db = (db);                           \
    svn_error_t *svn_sqlite__err;                                      \
    SVN_ERR(svn_sqlite__begin_savepoint(svn_sqlite__db));              \
    svn_sqlite__err = (expr);                                          \
    SVN_ERR(svn_sqlite__finish_savepoint(svn_sqlite__db, svn_sqlite__err)); \
  } while (0)

svn_error_t *svn_wc__db_temp_borrow_sdb(svn_sqlite__db_t **sdb, svn_wc__db_t *db,
                                        const char *dir_abspath, apr_pool_t *scratch_pool);
svn_error_t *svn_wc__db_is_wcroot(svn_boolean_t *is_wcroot, svn_wc__db_t *db,
                                  const char *local_abspath, apr_pool_t *scratch_pool);
svn_error_t *svn_wc__db_wclock_obtain(svn_wc__db_t *db, const char *local_abspath,
                                      int levels_to_lock, svn_boolean_t steal_lock,
                                      apr_pool_t *scratch_pool);
svn_error_t *svn_wc__db_wq_add(svn_wc__db_t *db, const char *wri_abspath,
                               const svn_skel_t *work_item, apr_pool_t *scratch_pool);
svn_error_t *svn_wc__db_temp_op_start_directory_update(svn_wc__db_t *db,
                                                       const char *local_abspath,
                                                       const char *new_repos_relpath,
                                                       svn_revnum_t new_rev,
                                                       apr_pool_t *scratch_pool);

/* Of its 27 out-parameters the helpers ask only the fourth, the node's
   repository relpath; the others are passed as NULL. */
svn_error_t *svn_wc__db_read_info(
    void *status, void *kind, void *revision, const char **repos_relpath, void *repos_root_url,
    void *repos_uuid, void *changed_rev, void *changed_date, void *changed_author, void *depth,
    void *checksum, void *target, void *original_repos_relpath, void *original_root_url,
    void *original_uuid, void *original_revision, void *lock, void *recorded_size,
    void *recorded_time, void *changelist, void *conflicted, void *op_root, void *had_props,
    void *props_mod, void *have_base, void *have_more_work, void *have_work, svn_wc__db_t *db,
    const char *local_abspath, apr_pool_t *result_pool, apr_pool_t *scratch_pool);

#endif
