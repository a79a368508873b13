// The few pieces of mod_dav's and mod_dav_svn's records that the recursive
// check reads: the repository hooks up to get_resource, the resource up to
// its private record, and mod_dav_svn's private record up to the root of the
// revision or transaction that a request URI addresses.
//
// mod_dav.h is C that a C++ compiler rejects (a field is named "namespace"),
// and mod_dav_svn's private header is not installed, so the layouts are
// declared here member for member as far as they are read. They must match
// httpd 2.4's mod_dav.h and the mod_dav_svn 1.14 that httpd loads; the
// end-to-end tests walk real revision and transaction roots through them.
#ifndef DAV_SVN_RESOURCE_H
#define DAV_SVN_RESOURCE_H

#include <httpd.h>
#include <svn_fs.h>
#include <svn_string.h>

extern "C" {

struct dav_error;
struct dav_resource;

// mod_dav's repository hooks, leading members only; never instantiated.
struct dav_hooks_repository {
  int handle_get;
  struct dav_error* (*get_resource)(request_rec* r, const char* root_dir, const char* label,
                                    int use_checked_in, struct dav_resource** resource);
};

// mod_dav_svn's record of the repository root a resource lives in; only its
// first member is read.
struct dav_svn_root {
  svn_fs_root_t* root;
};

// mod_dav_svn's private part of a resource, up to its root.
struct dav_resource_private {
  svn_stringbuf_t* uri_path;
  const char* repos_path;
  struct dav_svn_repos* repos;
  struct dav_svn_root root;
};

// mod_dav's resource, up to the provider's private record.
struct dav_resource {
  int type;  // dav_resource_type, an enum
  int exists;
  int collection;
  int versioned;
  int baselined;
  int working;
  const char* uri;
  struct dav_resource_private* info;
};

// Exported as data by mod_dav_svn.
extern const struct dav_hooks_repository dav_svn__hooks_repository;
}

#endif
