// A wildcard pattern prepared once when its role is processed: what rules a
// path out cheaply, and the compiled expression (and machine code for it,
// when asked), made on the first run that needs it. Processed roles may be
// shared by threads, so a wildcard is matched by any number of them at once.
// Its literal parts are read from the pattern itself unless it escapes a
// star.
#ifndef ZEB_COMPILED_WILDCARD_H
#define ZEB_COMPILED_WILDCARD_H

#include <apr_pools.h>

#include <atomic>
#include <cstdint>
#include <string_view>

#include "zeb_pattern.h"
#include "zeb_scanned_path.h"

namespace zeb {

class compiled_wildcard {
 public:
  // Never null; a pattern that zeb_matcher_match rejects yields a wildcard
  // that matches nothing, one that does not compile a wildcard whose runs
  // fail. pattern must live as long as pool. jit: also make machine code
  // for the expression, which runs faster and takes a kilobyte or two more.
  // A clean-up on pool frees the compiled code.
  static compiled_wildcard* compile(const char* pattern, apr_pool_t* pool, bool jit = false);
  // The same in place at where, without a clean-up: its owner calls
  // release() once no thread runs it any more.
  static void compile_at(compiled_wildcard* where, const char* pattern, apr_pool_t* pool, bool jit);
  void release() const;

  // The score zeb_matcher_match would report for path, kNoMatch where it
  // would report no match, or kMatchFailed where the library gives up.
  int match(const scanned_path_t& path) const;

  // Byte pairs (see pair_signature) that every matching path contains.
  uint64_t needs() const { return needs_; }
  // No match scores more than this; -1 when only the path's depth bounds it.
  int max_score() const { return max_score_; }
  // True when match() gives every path below the canonical absolute path
  // (of depth components) the outcome it gives path itself: a pattern
  // without "**" decides on as many components as it has, and no path below
  // can begin with a literal prefix that path followed by '/' contradicts.
  bool settled_below(std::string_view path, int depth) const;

  // No path of fewer components matches: every component of the pattern but
  // a "**" takes one of the path's.
  int min_depth() const { return min_depth_; }

  // Bytes this wildcard holds beyond its pattern, its code included once
  // compiled (an estimate of it before).
  size_t footprint() const;

 private:
  static apr_status_t release_cleanup(void* self);
  // The literal prefix every matching path begins with.
  std::string_view prefix() const;
  // Whether the inner literals occur in text, in order, after its prefix.
  bool inners_occur(std::string_view text) const;
  // The compiled expression, made by whichever thread needs it first; null
  // when it cannot be made.
  const pcre2_code* code() const;

  const char* pattern_ = nullptr;
  // Null when the literals are spans of the pattern; for a pattern that
  // escapes a star, the literal prefix, then each inner literal, each ended
  // by a NUL, and an empty one last.
  const char* packed_ = nullptr;
  uint64_t needs_ = 0;
  mutable std::atomic<pcre2_code*> code_{nullptr};
  uint32_t prefix_size_ = 0;
  int max_score_ = -1;
  int min_depth_ = 1 << 30;
  bool valid_ = false;  // false: matches nothing
  bool jit_ = false;
  mutable std::atomic<bool> uncompilable_{false};
};

}  // namespace zeb

#endif
