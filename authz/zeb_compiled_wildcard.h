// A wildcard pattern compiled once when its role is processed. The compiled
// code is freed by a clean-up on the pool that holds the role's lists.
#ifndef ZEB_COMPILED_WILDCARD_H
#define ZEB_COMPILED_WILDCARD_H

#include <apr_pools.h>

#include <cstddef>

#include "zeb_pattern.h"

namespace zeb {

class compiled_wildcard {
 public:
  // Never null; a pattern that zeb_matcher_match rejects or that does not
  // compile yields a wildcard that matches nothing.
  static compiled_wildcard* compile(const char* pattern, apr_pool_t* pool);

  // The score zeb_matcher_match would report for path, or -1 where it would
  // report no match or an error. Uses the per-wildcard match data, so one
  // wildcard must not be matched by two threads at once.
  int match(const char* path, size_t path_length) const;

 private:
  static apr_status_t release(void* self);

  const char* prefix_ = nullptr;  // every matching path begins with this
  size_t prefix_length_ = 0;
  pcre2_code* code_ = nullptr;  // null: matches nothing
  pcre2_match_data* data_ = nullptr;
  bool jit_ = false;
};

}  // namespace zeb

#endif
