// A wildcard pattern compiled once when its role is processed. A clean-up on
// the pool that holds the role's lists frees the compiled code.
#ifndef ZEB_COMPILED_WILDCARD_H
#define ZEB_COMPILED_WILDCARD_H

#include <apr_pools.h>

#include <cstdint>
#include <string_view>

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
  int max_score() const { return parts_.max_score; }
  // True when match() gives every path below the canonical absolute path
  // (of depth components) the outcome it gives path itself: a pattern
  // without "**" decides on as many components as it has, and no path below
  // can begin with a literal prefix that path followed by '/' contradicts.
  bool settled_below(std::string_view path, int depth) const;

  // No path of fewer components matches: every component of the pattern but
  // a "**" takes one of the path's.
  int min_depth() const { return min_depth_; }

 private:
  static apr_status_t release(void* self);

  literal_parts_t parts_{{}, {}, -1};
  uint64_t needs_ = 0;
  int min_depth_ = 1 << 30;
  bool valid_ = false;          // false: matches nothing
  pcre2_code* code_ = nullptr;  // null in a valid wildcard: every run fails
  pcre2_match_data* data_ = nullptr;
  bool jit_ = false;
};

}  // namespace zeb

#endif
