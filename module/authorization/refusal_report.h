// The check that refused a request: noted while the request is decided and
// told once, by the hook that answers the request, when the response is
// that refusal. Paths left out of an answer (mod_dav_svn's questions about
// the paths of a report or a listing) refuse no request: they stay in the
// debug trace.
#ifndef REFUSAL_REPORT_H
#define REFUSAL_REPORT_H

#include <httpd.h>

#include "zeb_authorizer.h"

// Keeps the first refused check of the request.
void note_refused_check(request_rec* r, pbp_access_t action, const char* repos_name,
                        const char* path);

// For a request refused with 403: the noted check in one line, WARNING when
// the refusal is the response (DEBUG for a GET subrequest, which only asks
// whether a path may be read), and in the request's environment.
void report_refusal(request_rec* r);

#endif
