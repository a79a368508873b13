// A wildcard pattern compiled once when its role is processed. The compiled
// code is freed by a clean-up on the pool that holds the role's lists.
#ifndef ZEB_COMPILED_WILDCARD_H
#define ZEB_COMPILED_WILDCARD_H

#include <apr_pools.h>

#include <cstddef>
#include <cstdint>

#include "zeb_pattern.h"
#include "zeb_scanned_path.h"

namespace zeb {

class compiled_wildcard {
 public:
  // Never null; a pattern that zeb_matcher_match rejects yields a wildcard
  // that matches nothing, one that does not compile a wildcard whose runs
  // fail.
  static compiled_wildcard* compile(const char* pattern, apr_pool_t* pool);

  // The score zeb_matcher_match would report for path, kNoMatch where it
  // would report no match, or kMatchFailed where the library gives up. Uses
  // the per-wildcard match data, so one wildcard must not be matched by two
  // threads at once.
  int match(const scanned_path_t& path) const;

  // Byte pairs (see pair_signature) that every matching path contains.
  uint64_t needs() const { return needs_; }
  // No match scores more than this; -1 when only the path's depth bounds it.
  int max_score() const { return max_score_; }

 private:
  struct literal_t {
    const char* text;
    size_t length;
  };

  static apr_status_t release(void* self);
  bool literals_occur(const char* path, size_t path_length) const;

  literal_t prefix_{nullptr, 0};  // every matching path begins with this
  literal_t* inners_ = nullptr;   // and then contains these in order
  size_t inner_count_ = 0;
  int max_score_ = -1;
  uint64_t needs_ = 0;
  bool valid_ = false;          // false: matches nothing
  pcre2_code* code_ = nullptr;  // null in a valid wildcard: every run fails
  pcre2_match_data* data_ = nullptr;
  bool jit_ = false;
};

}  // namespace zeb

#endif
