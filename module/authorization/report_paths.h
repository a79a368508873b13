// What a REPORT request body names: the report and the repository paths it
// asks about, for the reports whose paths mod_dav_svn either does not judge
// or fails on before it judges them. Plain APR, no httpd.
#ifndef REPORT_PATHS_H
#define REPORT_PATHS_H

#include <apr_pools.h>
#include <apr_tables.h>

#include <functional>
#include <string>
#include <string_view>

enum class report_kind { other, file_revs, deleted_rev, mergeinfo, inherited_props, update };

typedef struct report_body_t {
  report_kind kind;
  apr_array_header_t* paths;  // const char*, as the body gives them
  bool descendants;           // a mergeinfo report that asks about descendants too
} report_body_t;

// Reads the body of a REPORT; false when it is no XML document (mod_dav_svn
// refuses such a body itself).
bool read_report_body(report_body_t* out, const char* data, apr_size_t length, apr_pool_t* pool);

// Whether path is a relative path as Subversion's clients write them: no
// leading or trailing slash and no empty, "." or ".." component ("" is the
// path itself).
bool is_plain_relpath(const char* path);

// The path below base that a report's path names: mod_dav_svn takes a
// leading slash for nothing, so "/a" below "/trunk" is "/trunk/a".
const char* join_report_path(const char* base, const char* path, apr_pool_t* pool);

// A mergeinfo report's answer without the items whose path (below the
// request's path, as mod_dav_svn writes it) keep() turns down. An item
// whose path cannot be read back is dropped, and so is an unfinished one.
std::string keep_mergeinfo_items(std::string_view text,
                                 const std::function<bool(const std::string& path)>& keep);

#endif
