// Fetches the module's status page over HTTP or HTTPS.
#ifndef ZEBAUTHZ_STATUS_PAGE_H
#define ZEBAUTHZ_STATUS_PAGE_H

#include <optional>
#include <string>

namespace zebauthz {

struct page_request {
  std::string url;  // http:// or https://, as the Location is reached
  std::optional<std::string> user;
  std::optional<std::string> password;
  std::optional<std::string> ca_file;  // else the system's CAs
};

// The address asked for the Prometheus text: url with format=prometheus
// added to its query. Throws failure(kExitUsage) for a URL that is not
// http(s), carries credentials, or holds blanks or control characters.
std::string prometheus_url(const std::string& url);

// The body of the page's 200 answer within a bounded time; follows no
// redirect. Throws failure(kExitService) for anything else.
std::string fetch_status_page(const page_request& request);

}  // namespace zebauthz

#endif
