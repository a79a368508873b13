/* The database behind a (deprecated) access baton. */
#ifndef PEER_LIBSVN_WC_LOCK_H
#define PEER_LIBSVN_WC_LOCK_H

#include "wc.h"

svn_wc__db_t *svn_wc__adm_get_db(const svn_wc_adm_access_t *adm_access);

#endif
