// The subrequest-bypass provider name, shared with Subversion's own
// path-authz module: mod_dav_svn looks one provider up under it, once, while
// reading its configuration. This module takes the name over and hands the
// questions of every Location it does not guard to whoever held it before.
#ifndef SUBREQ_BYPASS_H
#define SUBREQ_BYPASS_H

#include <apr_pools.h>
#include <httpd.h>

// Registers zeb_subreq_bypass under the name, keeping the provider it
// displaces. Run once per configuration cycle, after every LoadModule line.
void take_over_subreq_bypass(apr_pool_t* pconf);

// Answers a question from a Location this module does not guard as it would
// be answered without this module: by the displaced provider, or else as
// mod_dav_svn does without any provider, by a GET subrequest on the path.
int hand_over_subreq_bypass(request_rec* r, const char* repos_path, const char* repos_name);

#endif
