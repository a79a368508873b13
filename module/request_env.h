// Values the module leaves in the request's environment, for the access
// log (LogFormat "%{ZEB_USER}e") and for other modules.
#ifndef REQUEST_ENV_H
#define REQUEST_ENV_H

#include <httpd.h>

// Where an answer to credentials came from.
inline constexpr char kFromConnection[] = "connection";
inline constexpr char kFromMemcached[] = "memcached";
inline constexpr char kFromService[] = "service";

// ZEB_CREDENTIALS_FROM, and ZEB_USER when the credentials were accepted
// (user non-null).
void set_credentials_env(request_rec* r, const char* user, const char* source);

// ZEB_REFUSED_ACTION, ZEB_REFUSED_REPOSITORY and ZEB_REFUSED_PATH: the
// check that refused the request.
void set_refusal_env(request_rec* r, const char* action, const char* repos_name, const char* path);

#endif
