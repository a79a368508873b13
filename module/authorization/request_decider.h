// The decision core put to a request's questions, with the connection's
// user and role stores, the role paths behind them, the request's tree and
// the request's error log.
#ifndef REQUEST_DECIDER_H
#define REQUEST_DECIDER_H

#include <httpd.h>

#include "mod_authnz_zeb.h"

// OK when the user may proceed with the request's method, else the HTTP
// status of the refusal (its check noted for the refusal report) or error.
int decide_request(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
                   const char* repos_path);

// Whether the user may read repos_path (OK), or the status of the refusal
// or error; decided like mod_dav_svn's questions to the bypass provider.
int decide_read(request_rec* r, const authnz_zeb_config_rec* conf, const char* repos_name,
                const char* repos_path);

// Whether the user may read repos_path and everything below it, in any
// revision (*reads). OK, or the status of an error on the way.
int reads_everything_below(request_rec* r, const authnz_zeb_config_rec* conf,
                           const char* repos_name, const char* repos_path, bool* reads);

#endif
