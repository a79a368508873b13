#include "zeb_pbp_usability.h"

#include <svn_dirent_uri.h>
#include <svn_pools.h>

#include <cstring>

#include "zeb_pattern.h"

namespace {

bool known_action(const char* raw, const char* colon) {
  const auto length = static_cast<size_t>(colon - raw);
  for (const char* action : {"view", "commit", "none"}) {
    if (std::strlen(action) == length && std::strncmp(raw, action, length) == 0) return true;
  }
  return false;
}

}  // namespace

extern "C" {

zeb_pbp_verdict_t zeb_pbp_verdict(const char* raw, apr_pool_t* scratch_pool) {
  const char* colon = raw != nullptr ? std::strchr(raw, ':') : nullptr;
  if (colon == nullptr) return ZEB_PBP_NO_ACTION;
  if (!known_action(raw, colon)) return ZEB_PBP_UNKNOWN_ACTION;
  apr_pool_t* scratch = svn_pool_create(scratch_pool);
  // Judged in the form processing uses.
  const char* canonical = svn_dirent_canonicalize(colon + 1, scratch);
  zeb_pbp_verdict_t verdict = ZEB_PBP_USABLE;
  if (canonical[0] != '/') {
    verdict = ZEB_PBP_RELATIVE_PATH;
  } else if (!zeb::translate_pattern(canonical)) {
    // Paths without stars and final "/**" subtrees always translate; what
    // does not is a wildcard that would never match.
    verdict = ZEB_PBP_BAD_PATTERN;
  }
  svn_pool_destroy(scratch);
  return verdict;
}

const char* zeb_pbp_verdict_text(zeb_pbp_verdict_t verdict) {
  switch (verdict) {
    case ZEB_PBP_USABLE:
      return "usable";
    case ZEB_PBP_NO_ACTION:
      return "no action before a ':'";
    case ZEB_PBP_UNKNOWN_ACTION:
      return "unknown action";
    case ZEB_PBP_RELATIVE_PATH:
      return "relative path";
    case ZEB_PBP_BAD_PATTERN:
      return "pattern cannot be translated";
  }
  return "unknown verdict";
}

int zeb_pbps_have_usable(const char* const* raw, int num_raw, apr_pool_t* scratch_pool) {
  for (int i = 0; raw != nullptr && i < num_raw; ++i) {
    if (zeb_pbp_verdict(raw[i], scratch_pool) == ZEB_PBP_USABLE) return 1;
  }
  return 0;
}

}  // extern "C"
