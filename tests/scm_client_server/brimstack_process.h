// The stand-in Brimstack server run as a child process for a test, and a
// plain-HTTP client for its control endpoint.
#ifndef BRIMSTACK_PROCESS_H
#define BRIMSTACK_PROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

class brimstack_process {
 public:
  // Starts the server with this configuration JSON and these behaviours (JSON
  // as for misbehave) set from the start; throws std::runtime_error when it
  // does not come up.
  brimstack_process(const std::string& config_json, bool tls,
                    const std::vector<std::string>& behaviours = {});
  ~brimstack_process();
  brimstack_process(const brimstack_process&) = delete;
  brimstack_process& operator=(const brimstack_process&) = delete;

  int port() const { return port_; }
  // The ScmListener endpoint URL.
  std::string url() const;

  // Control endpoint (HTTP servers only). Each throws on a refused command.
  void reset();
  void misbehave(const std::string& behaviour_json);
  std::string counters();
  std::string requests();

 private:
  // Ends the server (SIGTERM) and removes its files.
  void stop();
  std::string control(const char* method, const std::string& command, const std::string& body);

  bool tls_;
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

#endif
