#include "zeb_regexer.h"

#include <apr_strings.h>

#include <cstring>

namespace {

struct walk_t {
  const char* rp;  // position in the pattern
  const char* tp;  // position in the path
  int score;
};

enum class step_t { go_on, no_match };

struct needle_t {
  const char* text;  // allocated from the caller's pool
  size_t length;
  int score;  // '/' characters the needle stands for
};

int count_slashes(const char* begin, const char* end) {
  int count = 0;
  for (const char* p = begin; p < end; ++p) {
    if (*p == '/') ++count;
  }
  return count;
}

// The literal text a "**" must be followed by in the path, cut out of the
// pattern starting at rp1 (the '/' after the double star).
needle_t get_needle(const char* rp1, apr_pool_t* pool) {
  const char* end = rp1;
  int slashes = 0;
  while (*end != '\0' && *end != '*') {
    if (*end == '/') ++slashes;
    ++end;
  }
  if (*end == '*' && slashes == 1) {
    // "**/*...": the single-component star is matched separately; search for
    // what follows it.
    const char* begin = rp1 + 2;
    const char* stop = begin;
    while (*stop != '\0' && *stop != '*') ++stop;
    return {apr_pstrmemdup(pool, begin, stop - begin), static_cast<size_t>(stop - begin),
            count_slashes(begin, stop)};
  }
  return {apr_pstrmemdup(pool, rp1, end - rp1), static_cast<size_t>(end - rp1), slashes};
}

// The last occurrence of needle in haystack, where each search restarts one
// character before the end of the previous hit so that hits sharing one
// character are found. Every restart advances at least one character, and an
// empty needle is never found.
const char* strrstr(const char* haystack, const needle_t& needle) {
  if (needle.length == 0) return nullptr;
  const size_t advance = needle.length > 1 ? needle.length - 1 : 1;
  const char* last = nullptr;
  for (const char* hit = std::strstr(haystack, needle.text); hit != nullptr;
       hit = std::strstr(hit + advance, needle.text)) {
    last = hit;
  }
  return last;
}

// Handles a "**" at w.rp; the path position w.tp is just past a '/'.
apr_status_t matchdoublestar(walk_t& w, step_t& step, apr_pool_t* pool) {
  w.score -= 1;  // the '/' before the double star was counted already
  const char* rp1 = w.rp + 2;
  if (*rp1 != '/') return APR_BADARG;
  const char* tp1 = w.tp - 1;
  if (*tp1 != '/') return APR_EBADPATH;

  const needle_t needle = get_needle(rp1, pool);
  const char* hit = strrstr(tp1, needle);
  if (hit == nullptr) {
    step = step_t::no_match;
    return APR_SUCCESS;
  }
  if (rp1[1] == '*') {
    if (hit == tp1) {  // the single star needs at least one component
      step = step_t::no_match;
      return APR_SUCCESS;
    }
    rp1 += 2;
  }
  w.score += needle.score + count_slashes(tp1, hit);
  w.rp = rp1 + needle.length;
  w.tp = hit + needle.length;
  step = step_t::go_on;
  return APR_SUCCESS;
}

bool end_rule(const walk_t& w) {
  if (*w.rp != '\0' && *w.tp == '\0' && std::strcmp(w.rp + 1, "**") == 0) return true;
  return *w.rp == '\0' && (*w.tp == '\0' || *w.tp == '/');
}

}  // namespace

extern "C" apr_status_t zeb_regexer__match(int* matched, int* score, const char* regex,
                                           const char* text, apr_pool_t* pool) {
  *matched = 0;
  *score = 0;
  if (regex == nullptr || regex[0] != '/') return APR_BADARG;
  if (text == nullptr || text[0] != '/') return APR_EBADPATH;

  walk_t w{regex, text, 0};
  while (*w.tp != '\0') {
    if (*w.rp == *w.tp && *w.rp != '*') {
      if (*w.rp == '/') ++w.score;
      ++w.rp;
      ++w.tp;
      if (*w.rp == '\0') break;
      continue;
    }
    // A literal mismatch, or a star that does not begin a component.
    if (*w.rp != '*' || w.rp[-1] != '/') return APR_SUCCESS;
    const char next = w.rp[1];
    if (next == '/') {
      while (*w.tp != '\0' && *w.tp != '/') ++w.tp;
      ++w.rp;
    } else if (next == '\0') {
      // A final star is exactly one more component.
      if (std::strchr(w.tp, '/') != nullptr) return APR_SUCCESS;
      w.tp += std::strlen(w.tp);
      ++w.rp;
    } else if (next == '*') {
      step_t step = step_t::go_on;
      const apr_status_t status = matchdoublestar(w, step, pool);
      if (status != APR_SUCCESS) return status;
      if (step == step_t::no_match) return APR_SUCCESS;
      if (*w.rp == '\0') break;
    } else {
      return APR_SUCCESS;  // a star that is only part of a component
    }
  }
  if (end_rule(w)) {
    *matched = 1;
    *score = w.score;
  }
  return APR_SUCCESS;
}
