#include "zeb_memcache_servers.h"

#include <charconv>

#include "zeb_memcache_address.h"

namespace zeb_memcache {
namespace {

constexpr std::string_view kSeparators = " \t,";

// A whole decimal number in [min, max], or nothing.
std::optional<unsigned> number_in(std::string_view text, unsigned min, unsigned max) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max) {
    return std::nullopt;
  }
  return value;
}

// Applies "name=value"; otherwise what is wrong with it.
std::optional<std::string> apply_option(std::string_view word, server_list& list) {
  const auto eq = word.find('=');
  const std::string_view name = word.substr(0, eq);
  const std::string_view value = word.substr(eq + 1);
  if (name == "timeout") {
    const auto ms = number_in(value, 1, kMaxTimeoutMs);
    if (!ms) return "timeout takes whole milliseconds from 1 to " + std::to_string(kMaxTimeoutMs);
    list.timeout_ms = *ms;
    return std::nullopt;
  }
  if (name == "retry") {
    const auto seconds = number_in(value, 0, kMaxRetrySeconds);
    if (!seconds) return "retry takes whole seconds from 0 to " + std::to_string(kMaxRetrySeconds);
    list.retry_seconds = *seconds;
    return std::nullopt;
  }
  return std::string("unknown option (known: timeout, retry)");
}

std::optional<server> parse_server(const std::string& word, apr_pool_t* pool) {
  if (word.front() == '/') return server{word, 0, word};
  char* host = nullptr;
  apr_port_t port = 0;
  if (memcache_server__parsestr(word.c_str(), &host, &port, pool) != APR_SUCCESS) {
    return std::nullopt;
  }
  const std::string shown = word.front() == '[' ? "[" + std::string(host) + "]" : host;
  return server{host, port, shown + ":" + std::to_string(port)};
}

}  // namespace

std::optional<server_list> parse_server_list(std::string_view text, apr_pool_t* pool,
                                             std::string* problem) {
  apr_pool_t* scratch = nullptr;
  if (apr_pool_create(&scratch, pool) != APR_SUCCESS) return std::nullopt;
  server_list list;
  std::string why;
  for (size_t start = text.find_first_not_of(kSeparators); why.empty() && start != text.npos;) {
    const size_t end = std::min(text.find_first_of(kSeparators, start), text.size());
    const std::string word(text.substr(start, end - start));
    if (word.find('=') != word.npos) {
      if (auto wrong = apply_option(word, list)) why = "'" + word + "': " + *wrong;
    } else if (auto parsed = parse_server(word, scratch)) {
      list.servers.push_back(std::move(*parsed));
    } else {
      why = "'" + word + "' is no HOST, HOST:PORT (port 1 to 65535), [IPV6][:PORT] or socket path";
    }
    start = text.find_first_not_of(kSeparators, end);
  }
  apr_pool_destroy(scratch);
  if (why.empty() && list.servers.empty()) why = "no server named";
  if (!why.empty()) {
    if (problem != nullptr) *problem = why;
    return std::nullopt;
  }
  return list;
}

}  // namespace zeb_memcache
