// Authentication of a request's Basic credentials.
#ifndef CHECK_CREDENTIALS_H
#define CHECK_CREDENTIALS_H

#include <mod_auth.h>

#include "mod_authnz_zeb.h"

// The shared entry point for checking a user name and password: check_user
// calls it, and so does the authn provider that mod_auth_basic can use, so
// that both accept exactly the same credentials. It answers from the
// connection cache, memcached or the ScmListener service for the request's
// repository; on AUTH_GRANTED the connection caches user, password and
// repository and the response carries "ZebUserName". AUTH_DENIED only for
// credentials the service's answer refuses; AUTH_GENERAL_ERROR when the
// location is not configured, the service failed or the check could not be
// made (mod_auth_basic answers 500); nothing is granted on an error.
authn_status zeb_check_password(request_rec* r, const char* user, const char* password);

#endif
