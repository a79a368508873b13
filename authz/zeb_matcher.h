// Wildcard permission paths: translation into regular expressions and
// matching against repository paths. Exported with C linkage.
#ifndef ZEB_MATCHER_H
#define ZEB_MATCHER_H

#include <apr_errno.h>
#include <apr_pools.h>

#ifdef __cplusplus
extern "C" {
#endif

// Matches the pattern pbp against the path text. Returns APR_BADARG for a
// null, relative or untranslatable pattern, APR_EBADPATH for a null or
// relative path, else 0 with *matched set and, on a match, *score set to the
// depth of the matched prefix of text.
apr_status_t zeb_matcher_match(int* matched, int* score, const char* pbp, const char* text,
                               apr_pool_t* pool);

// Translates a pattern into an anchored regular expression allocated from
// pool. Null pattern: null result, *error 0. Invalid pattern: "" and *error 1.
char* translate_pbp(const char* pbp, int* error, apr_pool_t* pool);

// 1 when regex matches text (then *score is the depth of the matched prefix),
// 0 otherwise, including when regex does not compile.
int do_match(const char* regex, const char* text, int* score, apr_pool_t* pool);

// Number of '/' characters followed by another character.
int component_count(const char* path);

#ifdef __cplusplus
}
#endif

#endif
