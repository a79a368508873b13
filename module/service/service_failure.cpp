#include "service_failure.h"

#include <stdsoap2.h>

#include <cstddef>

namespace {

constexpr std::size_t kMaxWords = 300;

const char* kind_of(int error) {
  if (error == SOAP_TCP_ERROR) return "cannot connect";
  if (error == SOAP_SSL_ERROR) return "TLS failure";
  if (error == SOAP_EOF) return "no whole answer";
  if (error == SOAP_NO_DATA) return "answer without its value";
  if (soap_http_error_check(error)) return "HTTP error";
  if (soap_soap_error_check(error)) return "SOAP fault";
  if (soap_xml_error_check(error)) return "malformed answer";
  return "failure";
}

// Control characters become single spaces and the words are bounded, so
// that the line stays one line of reasonable length.
void append_words(std::string& out, const char* words) {
  std::size_t taken = 0;
  bool space_pending = false;
  for (const char* p = words; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7f || c == ' ') {
      space_pending = taken > 0;
      continue;
    }
    if (taken == kMaxWords) {
      out += "...";
      return;
    }
    if (space_pending) out += ' ';
    space_pending = false;
    out += static_cast<char>(c);
    ++taken;
  }
}

}  // namespace

std::string describe_service_failure(const service_failure_t& failure) {
  std::string text = kind_of(failure.error);
  if (soap_http_error_check(failure.error) && failure.error >= 100 && failure.error < 600) {
    text += " " + std::to_string(failure.error);
  }
  if (failure.fault != nullptr && *failure.fault != '\0') {
    text += ": ";
    append_words(text, failure.fault);
  }
  if (failure.detail != nullptr && *failure.detail != '\0') {
    text += " (";
    append_words(text, failure.detail);
    text += ")";
  }
  if (failure.error == SOAP_SSL_ERROR) {
    if (failure.ca_file != nullptr) text += std::string(", CA file '") + failure.ca_file + "'";
    if (failure.ca_path != nullptr) {
      text += std::string(", CA directory '") + failure.ca_path + "'";
    }
    if (failure.ca_file == nullptr && failure.ca_path == nullptr) {
      text += ", no CA configured";
    }
  }
  return text;
}

bool service_unreachable(int error) {
  return error == SOAP_TCP_ERROR || error == SOAP_SSL_ERROR || error == SOAP_EOF;
}

zeb::outcome service_outcome(int error) {
  return error == SOAP_EOF ? zeb::outcome::service_timed_out : zeb::outcome::service_failed;
}
