// What goes out with the module's own answers besides their status.
#ifndef REQUEST_ANSWER_H
#define REQUEST_ANSWER_H

#include <httpd.h>

#include "request_outcome.h"

// Notes the Basic challenge and the Retry-After header that the outcome's
// answer carries; returns its status.
int answer_outcome(request_rec* r, zeb::outcome what);

// For a status that a hook returns: adds the Retry-After header its
// outcome carries. Returns status.
int answer_status(request_rec* r, int status);

#endif
