// The Destination of a COPY or MOVE, read from the request into what the
// decision core schedules the destination's checks for.
#ifndef DESTINATION_READING_H
#define DESTINATION_READING_H

#include <httpd.h>

#include "mod_authnz_zeb.h"
#include "pending_checks.h"

// 0 with *out set. 400 without a source path or Destination header, or when
// the header does not parse; 403 when the destination names no repository
// path; 500 when its path lies outside the location or cannot be resolved.
// For mod_dav's subrequest that looks the destination up, whether it
// replaces an existing tree at its own path.
int read_copy_destination(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_path,
                          zeb::decision::copy_destination* out);

#endif
