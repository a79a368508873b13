#include "scm_wire.h"

#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

ScmWire::ScmWire(const std::string& reply) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) throw std::runtime_error("socketpair");
  client_fd_ = fds[0];
  peer_fd_ = fds[1];
  if (!reply.empty() &&
      write(peer_fd_, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size()))
    throw std::runtime_error("reply does not fit the socket buffer");
  shutdown(peer_fd_, SHUT_WR);

  constexpr int kMode = SOAP_C_UTFSTRING | SOAP_XML_INDENT;
  soap_init2(&soap_, kMode, kMode);
  soap_.user = this;
  soap_.fopen = [](struct soap* s, const char*, const char*, int) -> SOAP_SOCKET {
    return static_cast<ScmWire*>(s->user)->client_fd_;
  };
}

ScmWire::~ScmWire() {
  soap_destroy(&soap_);
  soap_end(&soap_);
  soap_done(&soap_);  // closes the client end if the call left it open
  close(peer_fd_);
}

std::string ScmWire::sent() {
  std::string out;
  char buf[4096];
  for (;;) {
    const ssize_t n = recv(peer_fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) return out;
    out.append(buf, static_cast<std::size_t>(n));
  }
}

std::string ScmWire::fault() {
  char buf[2048];
  soap_sprint_fault(&soap_, buf, sizeof buf);
  return buf;
}

std::string soap_reply(const std::string& body_content) {
  const std::string envelope =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\""
      " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
      " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
      " xmlns:soapenc=\"http://schemas.xmlsoap.org/soap/encoding/\">"
      "<soapenv:Body>" +
      body_content + "</soapenv:Body></soapenv:Envelope>";
  return "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
         std::to_string(envelope.size()) + "\r\nConnection: close\r\n\r\n" + envelope;
}
