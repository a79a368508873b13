// A SOAP runtime whose connection is one end of a socket pair: the test
// writes the HTTP reply into the other end beforehand and reads back what
// the client sent, so calls run through the real transport code offline.
#ifndef SCM_WIRE_H
#define SCM_WIRE_H

#include <string>

#include "soapH.h"

inline constexpr char kEndpoint[] = "http://scm.example.invalid:8080/qv-soap/services/ScmListener";
inline constexpr char kAction[] = "bob:ScmListener";

class ScmWire {
 public:
  // reply: the complete HTTP response; empty for a call that only sends.
  explicit ScmWire(const std::string& reply = "");
  ~ScmWire();
  ScmWire(const ScmWire&) = delete;
  ScmWire& operator=(const ScmWire&) = delete;

  struct soap* soap() {
    return &soap_;
  }
  // Everything the client wrote, HTTP headers included.
  std::string sent();
  // The rendered fault of the last failed call.
  std::string fault();

 private:
  struct soap soap_;
  int client_fd_ = -1;
  int peer_fd_ = -1;
};

// An HTTP 200 response carrying a SOAP 1.1 envelope with the given body content.
std::string soap_reply(const std::string& body_content);

#endif
