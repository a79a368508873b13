// Steps of a connection context's set-up that need the context itself: the
// properties file, and the external system id, which may come through
// memcached.
#ifndef CONTEXT_SETUP_H
#define CONTEXT_SETUP_H

#include <apr_hash.h>
#include <httpd.h>

#include "context_data.h"

// Reads a properties file into a new hash in pool (handed out even on
// failure). 0, or HTTP_INTERNAL_SERVER_ERROR after logging.
int load_properties(apr_hash_t** props, const char* filename, request_rec* r, apr_pool_t* pool);

// OK or, after logging, HTTP_INTERNAL_SERVER_ERROR, or for a failed call of
// the service the status of a service failure.
int get_externalsystemid(ctx_data* ctx, request_rec* r, const authnz_zeb_config_rec* conf);

#endif
