#include "scm_received_body.h"

namespace {

// The bodies being kept on this thread, innermost first (through outer_).
thread_local scm_received_body* innermost = nullptr;

}  // namespace

scm_received_body::scm_received_body(struct soap* soap)
    : soap_(soap), prepare_(soap->fpreparerecv), parse_(soap->fparse), outer_(innermost) {
  innermost = this;
  soap->fpreparerecv = keep;
  soap->fparse = parse_head;
}

scm_received_body::~scm_received_body() {
  soap_->fpreparerecv = prepare_;
  soap_->fparse = parse_;
  innermost = outer_;
}

// Calls f on every body kept of the runtime, innermost first.
template <typename F>
void scm_received_body::each_of(struct soap* soap, F f) {
  for (scm_received_body* body = innermost; body != nullptr; body = body->outer_)
    if (body->soap_ == soap) f(body);
}

// The runtime hands over each buffer it reads from the connection and, once
// the HTTP head is parsed, the body bytes that came in the same read as the
// head's end; chunked and compressed bodies come de-chunked and inflated.
int scm_received_body::keep(struct soap* soap, const char* buffer, size_t length) {
  each_of(soap, [&](scm_received_body* body) { body->text_.append(buffer, length); });
  return SOAP_OK;
}

// What was kept while the head was read is the head itself, then the raw
// bytes read along with its end (again, or still chunked or compressed): the
// body starts afresh once the head is parsed. The outermost body holds the
// runtime's own parser.
int scm_received_body::parse_head(struct soap* soap) {
  scm_received_body* outermost = nullptr;
  each_of(soap, [&](scm_received_body* body) { outermost = body; });
  const int rc = outermost->parse_(soap);
  each_of(soap, [](scm_received_body* body) { body->text_.clear(); });
  return rc;
}
