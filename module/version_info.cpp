#include "version_info.h"

#include <libmemcached-1.0/memcached.h>
#include <openssl/crypto.h>
#include <stdsoap2.h>

namespace zeb {

const char* version() {
  return ZEB_VERSION;
}

std::string version_line(const char* program) {
  // gSOAP has no run-time query; its library's file name carries the same
  // version, so the one linked against is the one loaded.
  const std::string gsoap = std::to_string(GSOAP_VERSION / 100000) + "." +
                            std::to_string(GSOAP_VERSION / 1000 % 100) + "." +
                            std::to_string(GSOAP_VERSION % 1000);
  return std::string(program) + " " + version() + " (libmemcached " + memcached_lib_version() +
         ", gSOAP " + gsoap + ", OpenSSL " + OpenSSL_version(OPENSSL_VERSION_STRING) + ")";
}

}  // namespace zeb
