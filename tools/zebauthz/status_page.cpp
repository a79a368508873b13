#include "status_page.h"

#include <stdsoap2.h>
#undef HAVE_TIMEGM

#include <mutex>

#include "exit_status.h"
#include "service_tls.h"
#include "status_report.h"

namespace zebauthz {
namespace {

constexpr int kTimeoutSeconds = 10;
constexpr unsigned long kMaxPageBytes = 8UL << 20;

struct url_parts {
  bool tls = false;
  std::string host;  // without port; IPv6 addresses in brackets
};

url_parts parts_of(const std::string& url) {
  url_parts parts;
  size_t start = 0;
  if (url.rfind("https://", 0) == 0) {
    parts.tls = true;
    start = 8;
  } else if (url.rfind("http://", 0) == 0) {
    start = 7;
  } else {
    throw failure(kExitUsage, "the URL must start with http:// or https://: " + url);
  }
  for (const char c : url) {
    // They would end the request line or the URL on the way to the server.
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f || c == '#') {
      throw failure(kExitUsage, "the URL holds a blank, a control character or '#'");
    }
  }
  const std::string authority = url.substr(start, url.find_first_of("/?", start) - start);
  if (authority.find('@') != std::string::npos) {
    throw failure(kExitUsage, "credentials go with --user and --password-file, not in the URL");
  }
  if (authority.empty()) throw failure(kExitUsage, "the URL names no host: " + url);
  const size_t host_end = authority.front() == '[' ? authority.find(']') + 1 : authority.find(':');
  parts.host = authority.substr(0, host_end);
  if (parts.host.empty()) throw failure(kExitUsage, "the URL names no host: " + url);
  return parts;
}

class page_session {
 public:
  page_session() {
    soap_init(&soap_);
    soap_.connect_timeout = kTimeoutSeconds;
    soap_.send_timeout = kTimeoutSeconds;
    soap_.recv_timeout = kTimeoutSeconds;
    soap_.transfer_timeout = kTimeoutSeconds;
    soap_.recv_maxlength = kMaxPageBytes;
  }
  ~page_session() {
    soap_destroy(&soap_);
    soap_end(&soap_);
    soap_done(&soap_);
  }
  page_session(const page_session&) = delete;
  page_session& operator=(const page_session&) = delete;

  struct soap* get() {
    return &soap_;
  }

  // The runtime's own words (no SOAP was spoken), with the detail it has.
  [[noreturn]] void fail(const std::string& what) {
    soap_set_fault(&soap_);
    const char* text = soap_fault_string(&soap_);
    const char* detail = soap_fault_detail(&soap_);
    throw failure(kExitService, what + ": " + (text ? text : "failed") +
                                    (detail ? std::string(" (") + detail + ")" : std::string()));
  }

 private:
  struct soap soap_;
};

}  // namespace

std::string prometheus_url(const std::string& url) {
  parts_of(url);
  return url + (url.find('?') == std::string::npos ? "?" : "&") + "format=prometheus";
}

std::string fetch_status_page(const page_request& request) {
  const url_parts parts = parts_of(request.url);
  const std::string url = prometheus_url(request.url);
  page_session session;
  struct soap* soap = session.get();
  if (parts.tls) {
    static std::once_flag initialized;
    std::call_once(initialized, soap_ssl_init);
    // The page's certificate must lead to a trusted CA and name the host.
    const unsigned short flags = SOAP_SSL_DEFAULT | SOAP_SSL_SKIP_HOST_CHECK |
                                 (request.ca_file ? SOAP_SSL_NO_DEFAULT_CA_PATH : 0);
    if (soap_ssl_client_context(soap, flags, nullptr, nullptr,
                                request.ca_file ? request.ca_file->c_str() : nullptr, nullptr,
                                nullptr) != SOAP_OK ||
        !expect_certificate_host(soap, parts.host.c_str())) {
      session.fail("TLS set-up");
    }
  }
  if (request.user) {
    soap->userid = request.user->c_str();
    soap->passwd = request.password->c_str();
  }
  if (soap_GET(soap, url.c_str(), nullptr) != SOAP_OK || soap_begin_recv(soap) != SOAP_OK) {
    const int status = soap->status;
    if (status >= 300 && status < 400) {
      throw failure(kExitService, url + " answers HTTP " + std::to_string(status) + " to " +
                                      printable(soap->endpoint) + "; redirects are not followed");
    }
    if (status == 401 || status == 403) {
      throw failure(kExitService,
                    url + " refuses " +
                        (request.user ? "the credentials of " + *request.user
                                      : std::string("to answer without credentials")) +
                        " (HTTP " + std::to_string(status) + ")");
    }
    if (status >= 400 && status < 600) {
      throw failure(kExitService, url + " answers HTTP " + std::to_string(status));
    }
    session.fail("GET " + url);
  }
  if (soap->status != 200) {
    throw failure(kExitService, url + " answers HTTP " + std::to_string(soap->status));
  }
  size_t length = 0;
  const char* body = soap_http_get_body(soap, &length);
  if (body == nullptr || soap_end_recv(soap) != SOAP_OK) session.fail("reading " + url);
  return std::string(body, length);
}

}  // namespace zebauthz
