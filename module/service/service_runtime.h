// A connection's SOAP runtime for the ScmListener service: made from the
// session's settings, once for the set-up and then for each call.
#ifndef SERVICE_RUNTIME_H
#define SERVICE_RUNTIME_H

#include <stdsoap2.h>
// Only gSOAP's own build reads it; httpd's headers define it differently.
#undef HAVE_TIMEGM

#include <httpd.h>

#include "service_session.h"

// Each returns OK or, after logging, HTTP_INTERNAL_SERVER_ERROR.
// properties_file names the file the settings came from, for the log.
int create_soap_environment(service_session* session, request_rec* r, apr_pool_t* pool);
int create_scm_requestkey(service_session* session, request_rec* r, const char* properties_file,
                          apr_pool_t* pool);
void get_scmlistenerurl(service_session* session, request_rec* r, apr_pool_t* pool);

// Makes session->soap for one service call, unless the set-up's runtime is
// still there; on failure logs, releases what was made and returns
// HTTP_INTERNAL_SERVER_ERROR. end_soap_call releases it.
int open_service_runtime(service_session* session, request_rec* r);

// Releases the runtime and the TLS thread support made with it.
void destroy_soap_environment(service_session* session);

// A failed service call in one line: the endpoint it tried, then what
// went wrong.
const char* service_failure_text(service_session* session, request_rec* r);

#endif
