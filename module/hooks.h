// The entry points that httpd and mod_dav_svn call, each defined by the
// layer that serves it and registered by the module record.
#ifndef HOOKS_H
#define HOOKS_H

#include <httpd.h>

int check_user(request_rec* r);
int check_access(request_rec* r);
int zeb_subreq_bypass(request_rec* r, const char* repos_path, const char* repos_name);

#endif
