// How the module answers each way a request can end: the one table from
// outcomes to HTTP statuses, to the headers that go with them and to what
// the authn provider tells mod_auth_basic.
#ifndef REQUEST_OUTCOME_H
#define REQUEST_OUTCOME_H

#include <httpd.h>
#include <mod_auth.h>

namespace zeb {

enum class outcome {
  granted,
  credentials_refused,    // the service's answer refuses user and password
  access_refused,         // the user's permissions refuse the request
  service_failed,         // anything but an answer: unreachable, TLS, HTTP error,
                          // SOAP fault, malformed reply
  service_timed_out,      // no whole answer within svn.authnz.timeout
  unknown_method,         // a method this module does not serve
  malformed_destination,  // a COPY or MOVE Destination that does not parse
  server_error,           // this server's configuration or resources failed
};

struct outcome_response {
  int status;             // OK, or the HTTP status the module answers with
  bool challenge;         // whether a Basic challenge goes with it
  int retry_after;        // seconds for a Retry-After header; 0: none
  authn_status provider;  // the authn provider's answer for the same outcome
};

const outcome_response& response_to(outcome what);

inline int status_of(outcome what) {
  return response_to(what).status;
}

// The first outcome answered with status; server_error for a status that
// no outcome has.
outcome outcome_of_status(int status);

}  // namespace zeb

#endif
