#include "copy_destination.h"

#include <apr_strings.h>
#include <apr_uri.h>

#include <cstring>

destination_status destination_uri_path(const char* header, const char** path, apr_pool_t* pool) {
  apr_uri_t uri;
  if (apr_uri_parse(pool, header, &uri) != APR_SUCCESS) return destination_status::unparsable;
  if (uri.path == nullptr || uri.path[0] == '\0') return destination_status::no_path;
  *path = apr_pstrdup(pool, uri.path);
  return destination_status::ok;
}

bool lies_within(const char* path, const char* base) {
  if (path == nullptr || base == nullptr) return false;
  std::size_t n = std::strlen(base);
  while (n > 1 && base[n - 1] == '/') --n;
  if (std::strncmp(path, base, n) != 0) return false;
  return (n == 1 && base[0] == '/') || path[n] == '\0' || path[n] == '/';
}

bool overwrites_destination(const char* overwrite) {
  return overwrite == nullptr ||
         !((overwrite[0] == 'F' || overwrite[0] == 'f') && overwrite[1] == '\0');
}
