// The body of the HTTP response that a call on a runtime receives, byte for
// byte as the runtime's decoder reads it: after the HTTP head, de-chunked and
// inflated, however the service wrote it and however the reads split it.
#ifndef SCM_RECEIVED_BODY_H
#define SCM_RECEIVED_BODY_H

#include <string>
#include <string_view>

#include "soapH.h"

// Keeps what the runtime receives from construction to destruction, through
// its receive hooks, which it restores when destroyed; objects on one thread
// end in the reverse order of their making. Those of the same runtime keep
// the same bytes. The runtime's user pointer stays its owner's.
class scm_received_body {
 public:
  explicit scm_received_body(struct soap* soap);
  ~scm_received_body();
  scm_received_body(const scm_received_body&) = delete;
  scm_received_body& operator=(const scm_received_body&) = delete;

  // The body of the last response received so far; empty before its head.
  std::string_view text() const { return text_; }

 private:
  template <typename F>
  static void each_of(struct soap* soap, F f);
  static int keep(struct soap* soap, const char* buffer, size_t length);
  static int parse_head(struct soap* soap);

  struct soap* soap_;
  int (*prepare_)(struct soap*, const char*, size_t);
  int (*parse_)(struct soap*);
  scm_received_body* outer_;
  std::string text_;
};

#endif
