#include "memcached_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace zeb_test {
namespace {

constexpr char kMemcached[] = "/usr/bin/memcached";
constexpr auto kStartTimeout = std::chrono::seconds(10);

// A socket of the right family with host:port filled into addr; -1 on failure.
int make_socket(const std::string& host, int port, sockaddr_storage& addr, socklen_t& len) {
  std::memset(&addr, 0, sizeof addr);
  auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    len = sizeof *v4;
  } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    len = sizeof *v6;
  } else {
    return -1;
  }
  return socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

}  // namespace

bool loopback_available(const std::string& host) {
  return free_port(host) > 0;
}

int free_port(const std::string& host) {
  sockaddr_storage addr;
  socklen_t len = 0;
  int fd = make_socket(host, 0, addr, len);
  if (fd < 0) return -1;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = addr.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port)
                                     : ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  }
  close(fd);
  return port;
}

MemcachedProcess::MemcachedProcess(std::string listen_host)
    : listen_host_(std::move(listen_host)) {}

MemcachedProcess::~MemcachedProcess() {
  stop();
}

std::string MemcachedProcess::address() const {
  if (unix_socket()) return listen_host_;
  const bool v6 = listen_host_.find(':') != std::string::npos;
  return (v6 ? "[" + listen_host_ + "]" : listen_host_) + ":" + std::to_string(port_);
}

bool MemcachedProcess::accepts_connections() const {
  if (unix_socket()) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    listen_host_.copy(addr.sun_path, sizeof addr.sun_path - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
  }
  sockaddr_storage addr;
  socklen_t len = 0;
  int fd = make_socket(listen_host_, port_, addr, len);
  if (fd < 0) return false;
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
  close(fd);
  return ok;
}

bool MemcachedProcess::start() {
  if (pid_ > 0) return true;
  std::vector<std::string> args = {kMemcached, "-s", listen_host_};
  if (!unix_socket()) {
    if (port_ == 0) port_ = free_port(listen_host_);
    if (port_ <= 0) {
      error_ = "no free port on " + listen_host_;
      return false;
    }
    args = {kMemcached, "-l", listen_host_, "-p", std::to_string(port_), "-U", "0"};
  }
  // memcached refuses to run as root unless told whom to become.
  if (geteuid() == 0) args.insert(args.end(), {"-u", "nobody"});
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  if (posix_spawn(&pid_, kMemcached, nullptr, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
    error_ = std::string("cannot run ") + kMemcached;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (accepts_connections()) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = "memcached exited at start on " + address();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  stop();
  error_ = "memcached did not accept connections on " + address();
  return false;
}

void MemcachedProcess::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  if (unix_socket()) unlink(listen_host_.c_str());
}

void MemcachedProcess::pause() {
  if (pid_ > 0) kill(pid_, SIGSTOP);
}

void MemcachedProcess::resume() {
  if (pid_ > 0) kill(pid_, SIGCONT);
}

}  // namespace zeb_test
