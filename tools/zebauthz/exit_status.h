// The exit statuses of zebauthz; --help and the manual page list them.
#ifndef ZEBAUTHZ_EXIT_STATUS_H
#define ZEBAUTHZ_EXIT_STATUS_H

#include <stdexcept>
#include <string>

namespace zebauthz {

enum exit_status : int {
  kExitOk = 0,          // every path granted; lint found nothing; fetch, flush or key done
  kExitFound = 1,       // some path refused; lint found something
  kExitUsage = 2,       // bad command line
  kExitBadInput = 3,    // unreadable or malformed roles, properties or password file
  kExitService = 4,     // the ScmListener service failed, or refused the password
  kExitCache = 5,       // memcached unreachable, nothing cached, or a server not flushed
  kExitRepository = 6,  // the repository cannot be opened or read
};

// A failure that ends the command with its status and a message.
class failure : public std::runtime_error {
 public:
  failure(exit_status status, const std::string& message)
      : std::runtime_error(message), status_(status) {}
  exit_status status() const { return status_; }

 private:
  exit_status status_;
};

}  // namespace zebauthz

#endif
