// What a connection context holds, each layer's part in a record of that
// layer's own: the configuration copy and the bookkeeping are the context's.
#ifndef CONTEXT_DATA_H
#define CONTEXT_DATA_H

#include <apr_pools.h>

#include "credentials_cache.h"
#include "mod_authnz_zeb.h"
#include "role_stores.h"
#include "service_session.h"

typedef struct ctx_data {
  // The user the connection accepted last.
  credentials_cache credentials;
  // The service's settings and the runtime of a call in progress.
  service_session service;
  // The cached user's role stores and global access, per repository; their
  // pools hang from cache_pool.
  zeb::decision::role_stores role_stores;
  authnz_zeb_config_rec conf;
  apr_pool_t* pool;
  // The cached credentials and the role store, with everything hanging
  // from it; cleared by a reset, so a long connection does not grow with
  // every change of user.
  apr_pool_t* cache_pool;
  apr_uint64_t last_used;
  // Whether the context may serve requests: a failed set-up is retried by
  // the next request.
  int setup_complete;
} ctx_data;

#endif
