#include "copy_destination.h"

#include <apr_strings.h>
#include <apr_uri.h>

destination_status destination_uri_path(const char* header, const char** path, apr_pool_t* pool) {
  apr_uri_t uri;
  if (apr_uri_parse(pool, header, &uri) != APR_SUCCESS) return destination_status::unparsable;
  if (uri.path == nullptr || uri.path[0] == '\0') return destination_status::no_path;
  *path = apr_pstrdup(pool, uri.path);
  return destination_status::ok;
}

bool overwrites_destination(const char* overwrite) {
  return overwrite == nullptr ||
         !((overwrite[0] == 'F' || overwrite[0] == 'f') && overwrite[1] == '\0');
}
