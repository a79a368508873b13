// Wildcard patterns and paths from the input, run through both matchers.
//
// Input: a pattern on the first line, paths on the following lines. The
// expression matcher (zeb_matcher_match) is the measure: the wildcard the
// engine compiles once must score every path as it does, and what the engine
// derives from the pattern to skip work (minimum depth, highest score, the
// subtrees a path settles) must hold for every match. The matcher without
// expressions (zeb_regexer__match) has answers of its own; it must return,
// with a known status and a score the path can have.
#include <svn_dirent_uri.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "zeb_compiled_wildcard.h"
#include "zeb_matcher.h"
#include "zeb_pattern.h"
#include "zeb_regexer.h"

namespace {

using zeb::fuzz::finding;

std::string label(const std::string& pattern, const std::string& path) {
  return "'" + pattern + "' on '" + path + "'";
}

// The matcher's outcome: its score, kNoMatch, or kMatchFailed.
int matcher_outcome(const std::string& pattern, const std::string& path, apr_pool_t* pool) {
  int matched = 0;
  int score = 0;
  const apr_status_t status =
      zeb_matcher_match(&matched, &score, pattern.c_str(), path.c_str(), pool);
  if (status != APR_SUCCESS || !matched) {
    // The matcher reports a give-up as no match; tell them apart.
    return zeb::match_pattern(pattern.c_str(), path.c_str()) == zeb::kMatchFailed
               ? zeb::kMatchFailed
               : zeb::kNoMatch;
  }
  return score;
}

void check_compiled(const zeb::compiled_wildcard& wildcard, const std::string& pattern,
                    const std::string& path, apr_pool_t* pool) {
  const int want = matcher_outcome(pattern, path, pool);
  const int got =
      path[0] == '/' ? wildcard.match(zeb::scanned_path_t(path.c_str())) : zeb::kNoMatch;
  // The two run the library differently (compiled ahead, perhaps by the JIT),
  // so a give-up on either side decides nothing.
  if (want == zeb::kMatchFailed || got == zeb::kMatchFailed) return;
  if (got != want) {
    finding("compiled wildcard " + std::to_string(got) + ", matcher " + std::to_string(want) +
            ": " + label(pattern, path));
  }
  if (got < 0) return;
  if (component_count(path.c_str()) < wildcard.min_depth()) {
    finding("match below the minimum depth " + std::to_string(wildcard.min_depth()) + ": " +
            label(pattern, path));
  }
  if (wildcard.max_score() >= 0 && got > wildcard.max_score()) {
    finding("score " + std::to_string(got) + " above the highest " +
            std::to_string(wildcard.max_score()) + ": " + label(pattern, path));
  }
}

// A path below a settled path must be matched as that path is.
void check_settled(const zeb::compiled_wildcard& wildcard, const std::string& pattern,
                   const std::string& path, const std::string& tail, apr_pool_t* pool) {
  if (path.empty() || path[0] != '/') return;
  const std::string top = svn_dirent_canonicalize(path.c_str(), pool);
  if (tail.empty() || tail[0] == '/' || !wildcard.settled_below(top, component_count(top.c_str())))
    return;
  const std::string below = (top == "/" ? top : top + "/") + tail;
  const int at_top = matcher_outcome(pattern, top, pool);
  const int at_below = matcher_outcome(pattern, below, pool);
  if (at_top == zeb::kMatchFailed || at_below == zeb::kMatchFailed) return;
  if (at_top != at_below) {
    finding("settled at '" + top + "' (" + std::to_string(at_top) + ") but " +
            std::to_string(at_below) + ": " + label(pattern, below));
  }
}

void check_regexer(const std::string& pattern, const std::string& path, apr_pool_t* pool) {
  int matched = -1;
  int score = -1;
  const apr_status_t status =
      zeb_regexer__match(&matched, &score, pattern.c_str(), path.c_str(), pool);
  if (status != APR_SUCCESS && status != APR_BADARG && status != APR_EBADPATH) {
    finding("regexer status " + std::to_string(status) + ": " + label(pattern, path));
  }
  // A match covers at least the root and at most every component.
  const int most = component_count(path.c_str()) + 1;
  if (matched != 0 && (status != APR_SUCCESS || matched != 1 || score < 1 || score > most)) {
    finding("regexer matched " + std::to_string(matched) + " score " + std::to_string(score) +
            " status " + std::to_string(status) + ": " + label(pattern, path));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> lines = zeb::fuzz::lines_of(zeb::fuzz::as_text(data, size), 9);
  if (lines.size() < 2) return 0;
  zeb::fuzz::input_pool pool;
  const std::string& pattern = lines[0];
  const zeb::compiled_wildcard* wildcard =
      zeb::compiled_wildcard::compile(pattern.c_str(), pool.get());
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& path = lines[i];
    check_compiled(*wildcard, pattern, path, pool.get());
    check_regexer(pattern, path, pool.get());
    if (i + 1 < lines.size()) check_settled(*wildcard, pattern, path, lines[i + 1], pool.get());
  }
  return 0;
}
