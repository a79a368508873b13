#include "relay_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace {

// Long enough for the client to read what came before a cut on its own.
constexpr auto kPauseAtCut = std::chrono::milliseconds(2);
constexpr size_t kChunkSize = 30000;

std::string_view after_head(std::string_view message) {
  const size_t end = message.find("\r\n\r\n");
  return end == std::string_view::npos ? std::string_view() : message.substr(end + 4);
}

void send_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    data.remove_prefix(static_cast<size_t>(n));
  }
}

// The writes, with a pause before each but the first.
void send_cut(int fd, const std::vector<std::string>& writes) {
  for (size_t i = 0; i < writes.size(); ++i) {
    if (i > 0) std::this_thread::sleep_for(kPauseAtCut);
    send_all(fd, writes[i]);
  }
}

// A request: its head and the Content-Length bytes after it.
std::string read_request(int fd) {
  std::string request;
  char buffer[65536];
  for (;;) {
    const size_t end = request.find("\r\n\r\n");
    if (end != std::string::npos) {
      const size_t length_at = request.find("Content-Length: ");
      const size_t length =
          length_at < end ? std::strtoul(request.c_str() + length_at + 16, nullptr, 10) : 0;
      if (request.size() >= end + 4 + length) return request;
    }
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return request;
    request.append(buffer, static_cast<size_t>(n));
  }
}

int connect_loopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// The stand-in's answer to the request; the request asks it to close after.
std::string ask_upstream(int port, const std::string& request) {
  const int fd = connect_loopback(port);
  if (fd < 0) return {};
  send_all(fd, request);
  std::string answer;
  char buffer[65536];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
    answer.append(buffer, static_cast<size_t>(n));
  close(fd);
  return answer;
}

std::string gzipped(std::string_view data) {
  z_stream stream{};
  deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, data.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string head(std::string_view status_line, const std::string& fields) {
  return std::string(status_line) + "\r\nContent-Type: text/xml; charset=utf-8\r\n" + fields +
         "\r\n";
}

std::string length_field(size_t length) {
  return "Content-Length: " + std::to_string(length) + "\r\n";
}

std::vector<std::string> chunked_writes(std::string_view status_line, std::string_view body) {
  std::vector<std::string> writes{head(status_line, "Transfer-Encoding: chunked\r\n")};
  for (size_t at = 0;; at += kChunkSize) {
    const std::string_view chunk = body.substr(std::min(at, body.size()), kChunkSize);
    char size_line[32];
    std::snprintf(size_line, sizeof size_line, "%zx;relayed=yes\r\n", chunk.size());
    writes.back() += size_line[0];
    writes.push_back(size_line + 1);
    if (chunk.empty()) {
      writes.back() += "\r\n";
      return writes;
    }
    writes.back() += std::string(chunk) + "\r\n";
  }
}

}  // namespace

relay_server::relay_server(int upstream_port, relay_delivery delivery)
    : upstream_port_(upstream_port), delivery_(delivery) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener_, 4) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (listener_ >= 0) close(listener_);
    throw std::runtime_error("the relay cannot listen");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
}

relay_server::~relay_server() {
  // Wakes the blocked accept.
  shutdown(listener_, SHUT_RDWR);
  thread_.join();
  close(listener_);
}

std::string relay_server::url() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/qv-soap/services/ScmListener";
}

void relay_server::serve() {
  for (int client; (client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
    relay(client);
    close(client);
  }
}

void relay_server::relay(int client) {
  const int on = 1;
  setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const std::string answer = ask_upstream(upstream_port_, read_request(client));
  const std::string_view status_line = std::string_view(answer).substr(0, answer.find("\r\n"));
  const std::string_view body = after_head(answer);
  switch (delivery_) {
    case relay_delivery::cut_at_head_end: {
      const std::string whole = head(status_line, length_field(body.size())) + std::string(body);
      const size_t end = whole.size() - body.size();
      send_cut(client, {whole.substr(0, end - 2), whole.substr(end - 2, 3), whole.substr(end + 1)});
      break;
    }
    case relay_delivery::interim_continue:
      send_all(client, "HTTP/1.1 100 Continue\r\n\r\n" +
                           head(status_line, length_field(body.size())) + std::string(body));
      break;
    case relay_delivery::kept_alive: {
      send_all(client, head(status_line, length_field(body.size()) + "Connection: keep-alive\r\n") +
                           std::string(body));
      char buffer[4096];
      while (recv(client, buffer, sizeof buffer, 0) > 0) {
      }
      break;
    }
    case relay_delivery::gzip: {
      const std::string packed = gzipped(body);
      send_all(
          client,
          head(status_line, length_field(packed.size()) + "Content-Encoding: gzip\r\n") + packed);
      break;
    }
    case relay_delivery::chunk_lines_cut:
      send_cut(client, chunked_writes(status_line, body));
      break;
  }
}
