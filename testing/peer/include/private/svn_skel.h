/* The two skel parsers of libsvn_subr that atomic-ra-revprop-change calls. */
#ifndef PEER_SVN_SKEL_H
#define PEER_SVN_SKEL_H

#include <apr_hash.h>
#include <apr_pools.h>
#include "svn_types.h"

typedef struct svn_skel_t svn_skel_t;

svn_skel_t *svn_skel__parse(const char *data, apr_size_t len, apr_pool_t *pool);
svn_error_t *svn_skel__parse_proplist(apr_hash_t **proplist_p, const svn_skel_t *skel,
                                      apr_pool_t *pool);

#endif
