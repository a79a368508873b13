// A failed ScmListener call told in one log line: what kind of failure,
// the runtime's own words, and for TLS the CAs the certificate was checked
// against.
#ifndef SERVICE_FAILURE_H
#define SERVICE_FAILURE_H

#include <string>

#include "request_outcome.h"

struct service_failure_t {
  int error;            // the SOAP runtime's error code
  const char* fault;    // its fault string, or null
  const char* detail;   // its fault detail, or null
  const char* ca_file;  // the CA file in use, or null
  const char* ca_path;  // the CA directory in use, or null
};

// One line without control characters, at most a few hundred characters
// of the fault's words (an HTTP error's detail is the error page).
std::string describe_service_failure(const service_failure_t& failure);

// Whether the call never reached an answer (no connection, no TLS session,
// or no whole reply in time): asking again at once fails the same way.
bool service_unreachable(int error);

// How a request that needed the failed call ends.
zeb::outcome service_outcome(int error);

#endif
