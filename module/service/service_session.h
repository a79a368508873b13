// What a connection keeps of the ScmListener service: the settings read from
// the properties file, what is made from them once, and the runtime of the
// call in progress.
#ifndef SERVICE_SESSION_H
#define SERVICE_SESSION_H

#include <apr_hash.h>

struct soap;

struct service_session {
  apr_hash_t* properties_hash;
  const char* scm_listener_url;
  const char* request_key;
  const char* external_system_id;
  int use_role_paths_api;
  // Made for the set-up and for each service call, and released after it:
  // the runtime holds large buffers that an idle connection must not keep.
  // Null between calls.
  struct soap* soap;
  // Set when the runtime may wait in the process for the next call: made
  // whole with TLS under tls_runtime_key (null without TLS).
  int soap_lendable;
  const char* tls_runtime_key;
  // Whether this session holds a reference on the OpenSSL thread support.
  int openssl_thread_setup;
};

#endif
