// The Brimstack server's properties files: name=value lines read into a
// case-sensitive hash, and typed accessors over it.
#ifndef PROPERTIES_FILE_H
#define PROPERTIES_FILE_H

#include <apr_file_io.h>
#include <apr_hash.h>
#include <apr_pools.h>

// Copy of the first len characters of str without surrounding white space;
// a stretch of white space alone keeps its last character.
char* trim(const char* str, apr_size_t len, apr_pool_t* pool);

// Reads name=value lines from an open file into props until end of file.
// Returns APR_SUCCESS at end of file, else the read error that stopped it.
apr_status_t read_properties(apr_hash_t* props, apr_file_t* file, apr_pool_t* pool);

const char* get_property(apr_hash_t* props, const char* name, const char* default_value);

// "true" in any case, exactly "on" or exactly "1" are true; an absent
// property gives default_value.
int get_boolean_property(apr_hash_t* props, const char* name, int default_value);

// libc atoi of the property, or default_value when it is absent.
int get_int_property(apr_hash_t* props, const char* name, int default_value);

#endif
