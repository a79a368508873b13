// Steps of the connection context's set-up and release.
#ifndef CONTEXT_SETUP_H
#define CONTEXT_SETUP_H

#include "connection_context.h"

// Each returns OK or, after logging, HTTP_INTERNAL_SERVER_ERROR, or for a
// failed call of the service the status of a service failure.
int create_soap_environment(ctx_data* ctx, request_rec* r);
int get_externalsystemid(ctx_data* ctx, request_rec* r, const authnz_zeb_config_rec* conf);
int create_scm_requestkey(ctx_data* ctx, request_rec* r);
void get_scmlistenerurl(ctx_data* ctx, request_rec* r);

// Makes ctx->soap for one service call, unless the set-up's runtime is
// still there; on failure logs, releases what was made and returns
// HTTP_INTERNAL_SERVER_ERROR. end_soap_call releases it.
int open_service_runtime(ctx_data* ctx, request_rec* r);

// Releases the runtime and the TLS thread support made with it.
void destroy_soap_environment(ctx_data* ctx);

// A failed service call in one line: the endpoint it tried, then what
// went wrong.
const char* service_failure_text(ctx_data* ctx, request_rec* r);

#endif
