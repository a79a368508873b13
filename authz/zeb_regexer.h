// A wildcard matcher for permission paths that needs no regular expression
// library. Exported with C linkage; the access decisions do not use it.
#ifndef ZEB_REGEXER_H
#define ZEB_REGEXER_H

#include <apr_errno.h>
#include <apr_pools.h>

#ifdef __cplusplus
extern "C" {
#endif

// Matches pattern regex against path text in one pass without backtracking.
// Sets *matched and *score to 0 first. Returns APR_BADARG for a null or
// relative pattern (or a "**" not followed by '/'), APR_EBADPATH for a null
// or relative path (or a "**" not at a component start of the path), else 0.
apr_status_t zeb_regexer__match(int* matched, int* score, const char* regex, const char* text,
                                apr_pool_t* pool);

#ifdef __cplusplus
}
#endif

#endif
