// The project's version and the versions of the libraries it runs with.
#ifndef VERSION_INFO_H
#define VERSION_INFO_H

#include <string>

namespace zeb {

// The version the build was given (CMake's project version).
const char* version();

// "PROGRAM VERSION (libmemcached X, gSOAP Y, OpenSSL Z)", the libraries as
// loaded at run time where they can tell.
std::string version_line(const char* program);

}  // namespace zeb

#endif
