// A properties file from the input, read the way the module reads the
// service's file, then the settings taken from it.
//
// Input: the file's bytes. Every line ends at its newline, whatever it holds
// and however long it is; a NUL ends the line's text but not the line. What
// the reader stores must be what a plain reading of the lines gives, and the
// settings made from it must stay well-formed.
#include <apr_file_io.h>
#include <apr_portable.h>
#include <apr_strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>

#include "fuzz_support.h"
#include "properties_file.h"
#include "soap_runtime_settings.h"

namespace {

using zeb::fuzz::finding;
using properties = std::map<std::string, std::string>;

// The lines of text read plainly: name and value trimmed as the module trims
// them, comments, lines without '=' and blank values on ended lines left out.
properties plain_reading(std::string_view text, apr_pool_t* pool) {
  properties out;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string line(text.substr(0, end == std::string_view::npos ? text.size() : end));
    line = line.substr(0, line.find('\0'));
    if (end != std::string_view::npos) line += '\n';
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const size_t eq = line.find('=');
    if (line[0] == '#' || eq == std::string::npos) continue;
    const std::string value = trim(line.c_str() + eq + 1, line.size() - eq - 1, pool);
    if (value[0] == '\n') continue;
    out[trim(line.c_str(), eq, pool)] = value;
  }
  return out;
}

properties stored(apr_hash_t* props) {
  properties out;
  for (apr_hash_index_t* i = apr_hash_first(nullptr, props); i != nullptr; i = apr_hash_next(i)) {
    const void* key = nullptr;
    void* value = nullptr;
    apr_hash_this(i, &key, nullptr, &value);
    out[static_cast<const char*>(key)] = static_cast<const char*>(value);
  }
  return out;
}

// The file as the module opens it: buffered, read from its start.
apr_file_t* file_holding(const uint8_t* data, size_t size, apr_pool_t* pool) {
  int fd = memfd_create("properties", MFD_CLOEXEC);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0)
    std::abort();
  apr_file_t* file = nullptr;
  apr_os_file_t os_file = fd;
  if (apr_os_file_put(&file, &os_file, APR_FOPEN_READ | APR_FOPEN_BUFFERED, pool) != APR_SUCCESS)
    std::abort();
  apr_pool_cleanup_register(
      pool, reinterpret_cast<void*>(static_cast<intptr_t>(fd)),
      [](void* fd) -> apr_status_t {
        close(static_cast<int>(reinterpret_cast<intptr_t>(fd)));
        return APR_SUCCESS;
      },
      apr_pool_cleanup_null);
  return file;
}

bool has_control_character(const char* text) {
  for (const char* c = text; *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f) return true;
  }
  return false;
}

void check_settings(apr_hash_t* props, apr_pool_t* pool) {
  static struct soap* soap = soap_new();
  bool defaulted = false;
  const int timeout = apply_timeouts(soap, props, &defaulted);
  if (soap->recv_timeout != timeout || soap->connect_timeout != timeout ||
      defaulted != (get_property(props, "svn.authnz.timeout", nullptr) == nullptr)) {
    finding("time-outs set inconsistently");
  }
  soap->proxy_host = nullptr;
  apply_proxy_settings(soap, props);
  const char* url = make_scmlistener_url(props, pool);
  if (std::strncmp(url, "http", 4) != 0 ||
      std::strstr(url, "/qv-soap/services/ScmListener") == nullptr)
    finding(std::string("listener URL ") + url);
  const char* user = get_property(props, "dwmain.integration.http_proxy_username", "u");
  if (has_control_character(make_soap_action(user, pool))) {
    finding("SOAP action keeps a control character");
  }
  const int ssl = get_boolean_property(props, "dwmain.integration.listener_ssl", 7);
  if (ssl != 0 && ssl != 1 && ssl != 7) finding("boolean property read as " + std::to_string(ssl));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zeb::fuzz::input_pool pool;
  apr_hash_t* props = apr_hash_make(pool.get());
  if (read_properties(props, file_holding(data, size, pool.get()), pool.get()) != APR_SUCCESS) {
    finding("reading a file in memory failed");
  }
  const properties want = plain_reading(zeb::fuzz::as_text(data, size), pool.get());
  if (stored(props) != want) {
    std::string listing;
    for (const auto& [name, value] : stored(props)) listing += "\n  '" + name + "'='" + value + "'";
    listing += "\nplain reading:";
    for (const auto& [name, value] : want) listing += "\n  '" + name + "'='" + value + "'";
    finding("properties differ from a plain reading of the lines:" + listing);
  }
  check_settings(props, pool.get());
  return 0;
}
