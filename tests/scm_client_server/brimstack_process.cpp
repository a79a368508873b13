#include "brimstack_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// One request over a fresh connection; the server closes it after the reply.
std::string http_exchange(int port, const std::string& request) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    throw std::runtime_error("cannot reach the brimstack control endpoint");
  }
  for (size_t sent = 0; sent < request.size();) {
    ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string reply;
  char buf[4096];
  for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;)
    reply.append(buf, static_cast<size_t>(n));
  close(fd);
  return reply;
}

}  // namespace

brimstack_process::brimstack_process(const std::string& config_json, bool tls,
                                     const std::vector<std::string>& behaviours)
    : tls_(tls) {
  char dir_template[] = "/tmp/brimstack-test-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = dir_template;
  const std::string config = dir_ + "/config.json", port_file = dir_ + "/port";
  const std::string log = dir_ + "/server.log";
  std::ofstream(config) << config_json;

  std::vector<const char*> argv{ZEB_PYTHON,     BRIMSTACK_SERVER_SCRIPT, "--config",
                                config.c_str(), "--port-file",           port_file.c_str()};
  if (tls) argv.push_back("--tls");
  for (const std::string& behaviour : behaviours) {
    argv.push_back("--behaviour");
    argv.push_back(behaviour.c_str());
  }
  argv.push_back(nullptr);

  pid_ = fork();
  if (pid_ == 0) {
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(out, 2);
    execv(ZEB_PYTHON, const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  // A constructor that throws runs no destructor: stop the child here, or a
  // server that never reported its port would outlive the test.
  auto fail = [this](const std::string& message) {
    stop();
    throw std::runtime_error(message);
  };
  if (pid_ < 0) fail("fork failed");

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!std::filesystem::exists(port_file)) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      fail("brimstack server exited: " + read_file(log));
    }
    if (std::chrono::steady_clock::now() > deadline) fail("brimstack server did not start in time");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  port_ = std::atoi(read_file(port_file).c_str());
}

brimstack_process::~brimstack_process() {
  stop();
}

void brimstack_process::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string brimstack_process::url() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) +
         "/qv-soap/services/ScmListener";
}

std::string brimstack_process::control(const char* method, const std::string& command,
                                       const std::string& body) {
  if (tls_) throw std::logic_error("the control client speaks plain HTTP only");
  std::string request = std::string(method) + " /control/" + command +
                        " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                        "Content-Type: application/json\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body;
  std::string reply = http_exchange(port_, request);
  if (reply.rfind("HTTP/1.1 200", 0) != 0)
    throw std::runtime_error("control " + command + " refused: " + reply);
  size_t start = reply.find("\r\n\r\n");
  return start == std::string::npos ? std::string() : reply.substr(start + 4);
}

void brimstack_process::reset() {
  control("POST", "reset", "");
}

void brimstack_process::misbehave(const std::string& behaviour_json) {
  control("POST", "behaviour", behaviour_json);
}

std::string brimstack_process::counters() {
  return control("GET", "counters", "");
}

std::string brimstack_process::requests() {
  return control("GET", "requests", "");
}
