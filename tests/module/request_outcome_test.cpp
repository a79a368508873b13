#include "request_outcome.h"

#include <gtest/gtest.h>
#include <stdsoap2.h>

#include <string>

#include "service_failure.h"

namespace {

using zeb::outcome;

TEST(request_outcome, every_outcome_answers_as_the_table_says) {
  struct row {
    outcome what;
    int status;
    bool challenge;
    bool retry_after;
    authn_status provider;
  } rows[] = {
      {outcome::granted, OK, false, false, AUTH_GRANTED},
      {outcome::credentials_refused, HTTP_UNAUTHORIZED, true, false, AUTH_DENIED},
      {outcome::access_refused, HTTP_FORBIDDEN, true, false, AUTH_DENIED},
      // A failing service is never a wrong password.
      {outcome::service_failed, HTTP_SERVICE_UNAVAILABLE, false, true, AUTH_GENERAL_ERROR},
      {outcome::service_timed_out, HTTP_SERVICE_UNAVAILABLE, false, true, AUTH_GENERAL_ERROR},
      {outcome::unknown_method, HTTP_UNAUTHORIZED, true, false, AUTH_GENERAL_ERROR},
      {outcome::malformed_destination, HTTP_BAD_REQUEST, false, false, AUTH_GENERAL_ERROR},
      {outcome::server_error, HTTP_INTERNAL_SERVER_ERROR, false, false, AUTH_GENERAL_ERROR},
  };
  for (const row& r : rows) {
    const zeb::outcome_response& got = zeb::response_to(r.what);
    SCOPED_TRACE(r.status);
    EXPECT_EQ(got.status, r.status);
    EXPECT_EQ(got.challenge, r.challenge);
    EXPECT_EQ(got.retry_after > 0, r.retry_after);
    EXPECT_EQ(got.provider, r.provider);
    // A status read back names an outcome answered the same way.
    EXPECT_EQ(zeb::response_to(zeb::outcome_of_status(r.status)).status, r.status);
    EXPECT_EQ(zeb::response_to(zeb::outcome_of_status(r.status)).retry_after, got.retry_after);
  }
  EXPECT_EQ(zeb::outcome_of_status(HTTP_NOT_IMPLEMENTED), outcome::server_error);
}

TEST(request_outcome, service_failures_in_one_line) {
  const std::string long_page = "<html>" + std::string(5000, 'x') + "</html>";
  struct row {
    service_failure_t failure;
    std::string text;
    outcome ends_as;
    bool unreachable;
  } rows[] = {
      {{SOAP_TCP_ERROR, "Connection refused", "connect failed in tcp_connect()", nullptr, nullptr},
       "cannot connect: Connection refused (connect failed in tcp_connect())",
       outcome::service_failed,
       true},
      {{SOAP_EOF, "End of file or no input:\n timed out", nullptr, nullptr, nullptr},
       "no whole answer: End of file or no input: timed out",
       outcome::service_timed_out,
       true},
      {{SOAP_SSL_ERROR, "SSL_ERROR_SSL\nerror:0A000086:certificate verify failed", nullptr,
        "/etc/ca.pem", "/etc/ca"},
       "TLS failure: SSL_ERROR_SSL error:0A000086:certificate verify failed, CA file "
       "'/etc/ca.pem', CA directory '/etc/ca'",
       outcome::service_failed,
       true},
      {{SOAP_SSL_ERROR, "handshake failed", nullptr, nullptr, nullptr},
       "TLS failure: handshake failed, no CA configured",
       outcome::service_failed,
       true},
      {{SOAP_FAULT, "Invalid request key", "\t[detail]\r\n", nullptr, nullptr},
       "SOAP fault: Invalid request key ([detail])",
       outcome::service_failed,
       false},
      {{503, "HTTP Error", long_page.c_str(), nullptr, nullptr},
       "HTTP error 503: HTTP Error (<html>" + std::string(294, 'x') + "...)",
       outcome::service_failed,
       false},
      {{SOAP_TAG_MISMATCH, nullptr, nullptr, nullptr, nullptr},
       "malformed answer",
       outcome::service_failed,
       false},
      {{SOAP_NO_DATA, "no returned value", nullptr, nullptr, nullptr},
       "answer without its value: no returned value",
       outcome::service_failed,
       false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(describe_service_failure(r.failure), r.text);
    EXPECT_EQ(service_outcome(r.failure.error), r.ends_as);
    EXPECT_EQ(service_unreachable(r.failure.error), r.unreachable);
  }
}

}  // namespace
