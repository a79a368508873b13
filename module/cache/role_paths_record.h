// The user's role paths as retrieved (one zeb_role_t per role) and the flat
// record format in which a whole answer is shared through memcached with
// other processes and hosts.
//
// One record per role, back to back, nothing before, between or after:
//   offset 0   40 bytes  role id, NUL-terminated, zero-padded (at most 39 chars)
//   offset 40   8 bytes  n, signed 64-bit, host byte order
//   offset 48   S bytes  n strings, each followed by one NUL
//   offset 48+S 8 bytes  zero filler
// A record is 56 + S bytes; a value carries no record count or total length.
#ifndef ZEB_ROLE_PATHS_RECORD_H
#define ZEB_ROLE_PATHS_RECORD_H

#include <apr_pools.h>
#include <apr_tables.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  ZEB_ROLE_ID_FIELD_SIZE = 40,
  ZEB_ROLE_COUNT_OFFSET = 40,
  ZEB_ROLE_PBPS_OFFSET = 48,
  ZEB_ROLE_FILLER_SIZE = 8,
  // Size of a record without strings; also part of the memcached user key.
  ZEB_ROLE_RECORD_FIXED_SIZE = 56
};

// One role as retrieved; lives in the pool of the array that holds it.
typedef struct zeb_role_t {
  const char* repoRoleId;               // may be null
  apr_array_header_t* repoPathAndPerm;  // const char*, in the order received
} zeb_role_t;

// A value under construction. The buffer is heap memory owned by the context
// (not a pool), independent of any request, and is freed by serialize_destroy.
typedef struct serialize_ctx_t {
  char* buffer;
  int64_t size;      // bytes used
  int64_t capacity;  // bytes allocated
  // Set once a role could not be written (id absent or too long, or memory
  // exhausted). The buffer then lacks that role, so it must not be stored.
  int incomplete;
} serialize_ctx_t;

// A new context holding a copy of the size bytes at buffer (none and 0 for an
// empty value). Null when memory is exhausted or the arguments are invalid.
serialize_ctx_t* serialize_init(const char* buffer, int64_t size);

// One record, malloc'ed; the caller frees it with free(). Absent PBP strings
// are left out. Null, with *length 0, when the role id is absent or 40
// characters or longer, or when memory is exhausted.
char* serialize_pbp(const char* role_id, const char* const* pbps, int num_pbps, int64_t* length);

// Appends one record to ctx, creating the context when ctx is null, and
// returns it. If the record cannot be written the buffer keeps its earlier
// content and `incomplete` is set; later records are then skipped. Null only
// when a context had to be created and memory is exhausted: the caller must
// then store nothing for this answer.
serialize_ctx_t* serialize_update(const char* role_id, const char* const* pbps, int num_pbps,
                                  serialize_ctx_t* ctx);

// 1 when ctx holds every role appended to it and may be stored, else 0 (also
// for null). Callers make the context with serialize_init(NULL, 0) before the
// first role, so that an answer without roles still gives a storable (empty)
// value and a context that could not be made stores nothing.
int serialize_is_storable(const serialize_ctx_t* ctx);

// Frees the buffer and the context; accepts null.
void serialize_destroy(serialize_ctx_t* ctx);

// Appends a role with copies of role_id and of the present strings of pbps to
// pbps_with_roles, allocated in pool (the pool of pbps_with_roles).
void populate_rolepathslist_pbps(const char* role_id, const char* const* pbps, int num_pbps,
                                 apr_array_header_t* pbps_with_roles, apr_pool_t* pool);

// Reads the record at record into a new role appended to pbps_with_roles and
// returns the record's length. Unchecked: the caller must know that the whole
// record lies inside its value; zeb_role_paths_read_value checks that first.
int64_t populate_serialize_rolepathslist_pbps(const char* record,
                                              apr_array_header_t* pbps_with_roles,
                                              apr_pool_t* pool);

// Reads a whole stored value of length bytes and appends its roles, in order,
// to pbps_with_roles. Returns 1 when the value is well-formed (an empty value
// is, and yields no roles). Returns 0 when some record does not fit: the value
// is then to be treated as a miss, and pbps_with_roles is left as it was.
int zeb_role_paths_read_value(const char* value, int64_t length,
                              apr_array_header_t* pbps_with_roles, apr_pool_t* pool);

// The same without copies: the roles' strings point into value, which must
// outlive them. For roles processed while the value is at hand.
int zeb_role_paths_view_value(const char* value, int64_t length,
                              apr_array_header_t* pbps_with_roles, apr_pool_t* pool);

#ifdef __cplusplus
}
#endif

#endif
