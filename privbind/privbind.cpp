// Binds the socket on descriptor 0 to the address and port given on the
// command line, for a web server that has dropped the right to bind ports
// below 1024. The parent learns the outcome from the exit status alone.
//
// Usage, with a vector of the parent's own making (entry 0 is NOT a program
// name):  argv = { "<numeric address>", "<port field in hex>" }
// The port field is the port in network byte order read as a host 16-bit
// integer, so on a little-endian machine port 80 is "5000".

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>

namespace {

constexpr int kArgumentsRefused = EINVAL;

[[noreturn]] void refuse(const char* message) {
  // Best effort: the exit status carries the outcome even if stderr is closed.
  ssize_t ignored = write(STDERR_FILENO, message, strlen(message));
  ignored = write(STDERR_FILENO, "\n", 1);
  (void)ignored;
  _exit(kArgumentsRefused);
}

// The raw port field, or nothing when the text has characters after the
// hexadecimal number or a value wider than 16 bits.
std::optional<uint16_t> parse_port_field(const char* text) {
  char* end = nullptr;
  errno = 0;
  unsigned long value = strtoul(text, &end, 16);
  if (*end != '\0' || errno == ERANGE || value > 0xFFFF) return std::nullopt;
  return static_cast<uint16_t>(value);
}

bool is_supported_port(uint16_t port) {
  return port == 80 || port == 443 || port >= 1024;
}

// bind's errno as an exit status. A value that would not survive the 8-bit
// status (or would read as success) becomes EIO, so a failure never looks
// like a bound socket.
int status_for_errno(int err) {
  return err > 0 && err < 256 ? err : EIO;
}

int bind_descriptor0(const sockaddr* address, socklen_t length) {
  if (bind(STDIN_FILENO, address, length) == 0) return 0;
  return status_for_errno(errno);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) refuse("Requires address and port arguments");
  const char* address_text = argv[0];

  std::optional<uint16_t> port_field = parse_port_field(argv[1]);
  if (!port_field) refuse("Invalid port argument");
  if (!is_supported_port(ntohs(*port_field)))
    refuse("Only ports 80, 443 and greater than 1024 supported");

  // IPv6 first, so an IPv4-mapped IPv6 literal stays IPv6.
  sockaddr_in6 address6{};
  address6.sin6_family = AF_INET6;
  address6.sin6_port = *port_field;
  if (inet_pton(AF_INET6, address_text, &address6.sin6_addr) == 1)
    return bind_descriptor0(reinterpret_cast<const sockaddr*>(&address6), sizeof address6);

  sockaddr_in address4{};
  address4.sin_family = AF_INET;
  address4.sin_port = *port_field;
  if (inet_pton(AF_INET, address_text, &address4.sin_addr) != 1) refuse("Invalid address argument");
  return bind_descriptor0(reinterpret_cast<const sockaddr*>(&address4), sizeof address4);
}
