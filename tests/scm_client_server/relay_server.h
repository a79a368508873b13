// A loopback server between a client and the stand-in Brimstack server: it
// passes each request on and writes the answer back the way a delivery says,
// for the deliveries the stand-in does not make itself.
#ifndef RELAY_SERVER_H
#define RELAY_SERVER_H

#include <string>
#include <thread>

enum class relay_delivery {
  // The answer as the stand-in wrote it, cut inside the head's closing blank
  // line and again just after it.
  cut_at_head_end,
  // An interim "100 Continue" head ahead of the answer, in the same write.
  interim_continue,
  // Connection: keep-alive; the connection stays open after the answer
  // until the client closes it.
  kept_alive,
  // The body gzip-compressed (the client offers to accept it), in one write.
  gzip,
  // Chunked, with a chunk extension, every chunk-size line cut in two.
  chunk_lines_cut,
};

class relay_server {
 public:
  // Relays to the stand-in listening on upstream_port; throws
  // std::runtime_error when it cannot listen.
  relay_server(int upstream_port, relay_delivery delivery);
  ~relay_server();
  relay_server(const relay_server&) = delete;
  relay_server& operator=(const relay_server&) = delete;

  // The ScmListener endpoint URL through the relay.
  std::string url() const;

 private:
  void serve();
  void relay(int client);

  int upstream_port_;
  relay_delivery delivery_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

#endif
