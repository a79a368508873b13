// The parts of mod_dav_svn's interface the module calls. mod_dav.h cannot be
// read by a C++ compiler (it names a field "namespace"), so the functions are
// declared here with the signatures mod_dav_svn exports.
#ifndef DAV_SVN_API_H
#define DAV_SVN_API_H

#include <httpd.h>

extern "C" {
struct dav_error;

struct dav_error* dav_svn_split_uri(request_rec* r, const char* uri, const char* root_path,
                                    const char** cleaned_uri, int* trailing_slash,
                                    const char** repos_basename, const char** relative_path,
                                    const char** repos_path);

// The Location of the request's mod_dav_svn configuration (private to
// mod_dav_svn, but exported like its other functions).
const char* dav_svn__get_root_dir(request_rec* r);

// The first component of mod_dav_svn's own URIs ("!svn" unless configured).
const char* dav_svn__get_special_uri(request_rec* r);
}

#endif
