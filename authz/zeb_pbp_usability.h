// Whether a raw PBP string can be used at all: it names a known action and an
// absolute path or a pattern that translates. Processing never fails on a
// string that cannot be used; callers ask here to warn about it and to tell a
// role that holds no usable PBP (and so grants nothing) from one that does.
#ifndef ZEB_PBP_USABILITY_H
#define ZEB_PBP_USABILITY_H

#include <apr_pools.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum zeb_pbp_verdict_t {
  ZEB_PBP_USABLE = 0,
  ZEB_PBP_NO_ACTION,       // no ':' separates an action from a path
  ZEB_PBP_UNKNOWN_ACTION,  // the action is none of "view", "commit", "none"
  ZEB_PBP_RELATIVE_PATH,   // the canonical path does not begin with '/'
  ZEB_PBP_BAD_PATTERN      // the pattern cannot be translated
} zeb_pbp_verdict_t;

// The verdict on one raw string (null counts as no action). scratch_pool
// holds the canonical path while it is judged.
zeb_pbp_verdict_t zeb_pbp_verdict(const char* raw, apr_pool_t* scratch_pool);

// A short English reason for a verdict other than ZEB_PBP_USABLE.
const char* zeb_pbp_verdict_text(zeb_pbp_verdict_t verdict);

// 1 when at least one of the num_raw strings is usable, else 0.
int zeb_pbps_have_usable(const char* const* raw, int num_raw, apr_pool_t* scratch_pool);

#ifdef __cplusplus
}
#endif

#endif
