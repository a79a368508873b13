// Whether a path lies in a location; plain C strings, so it is tested
// without httpd.
#ifndef LOCATION_PATH_H
#define LOCATION_PATH_H

// Whether path lies in the location rooted at base (base itself included).
// mod_dav_svn splits any path by the length of the root alone, so a path
// elsewhere must be caught before it is split.
bool lies_within(const char* path, const char* base);

#endif
