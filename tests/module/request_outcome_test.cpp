#include "request_outcome.h"

#include <gtest/gtest.h>
#include <stdsoap2.h>

#include <string>

#include "service_failure.h"

namespace {

using zeb::outcome;

// The hooks learn the headers of a status by reading the table back: every
// outcome that shares a status must be answered the same way.
TEST(request_outcome, a_status_reads_back_as_an_outcome_answered_alike) {
  for (outcome what : {outcome::granted, outcome::credentials_refused, outcome::access_refused,
                       outcome::service_failed, outcome::service_timed_out, outcome::unknown_method,
                       outcome::malformed_destination, outcome::server_error}) {
    const zeb::outcome_response& sent = zeb::response_to(what);
    const zeb::outcome_response& read = zeb::response_to(zeb::outcome_of_status(sent.status));
    EXPECT_EQ(read.status, sent.status);
    EXPECT_EQ(read.retry_after, sent.retry_after);
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
