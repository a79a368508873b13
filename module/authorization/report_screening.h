// Requests that mod_dav_svn would serve without judging what they name, or
// would fail on so badly that the serving process ends: refused before it
// runs them.
#ifndef REPORT_SCREENING_H
#define REPORT_SCREENING_H

#include <httpd.h>

#include "mod_authnz_zeb.h"

// Registers the filters of the screening: the input filter that hands a
// REPORT body read here back to mod_dav_svn unchanged, and the output filter
// that drops what a mergeinfo answer tells about unreadable descendants.
void register_report_filters();

// Judges what an authorized request names beyond its URI. OK, or the
// status that refuses it.
int screen_request(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
                   const char* repos_path);

#endif
