// A private memcached server for one test: /usr/bin/memcached on a free
// loopback port or a Unix socket, stopped and started again on the same
// port on request.
#pragma once

#include <sys/types.h>

#include <string>

namespace zeb_test {

class MemcachedProcess {
 public:
  // listen_host is a numeric loopback address, "127.0.0.1" or "::1", or the
  // absolute path of a Unix socket to create.
  explicit MemcachedProcess(std::string listen_host);
  ~MemcachedProcess();
  MemcachedProcess(const MemcachedProcess&) = delete;
  MemcachedProcess& operator=(const MemcachedProcess&) = delete;

  // Starts the server (on the port chosen at the first start) and waits until
  // it accepts connections; false with the reason in error() otherwise.
  bool start();
  // Kills the server at once, as a crash would.
  void stop();
  // Stops and resumes the process: its sockets stay open but nobody answers.
  void pause();
  void resume();

  int port() const { return port_; }
  // "127.0.0.1:PORT", "[::1]:PORT" or the socket path.
  std::string address() const;
  const std::string& error() const { return error_; }

 private:
  bool accepts_connections() const;
  bool unix_socket() const { return listen_host_.front() == '/'; }

  std::string listen_host_;
  int port_ = 0;
  pid_t pid_ = -1;
  std::string error_;
};

// True when a TCP socket can be bound to host (e.g. "::1" on a machine
// without IPv6 loopback cannot).
bool loopback_available(const std::string& host);

// Binds host on a port the kernel picks, returns it, and releases it.
int free_port(const std::string& host);

}  // namespace zeb_test
