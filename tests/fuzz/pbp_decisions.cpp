// Roles and paths from the input, decided by the engine and by the plain
// reference implementation; any disagreement is a finding.
//
// Input: PBP strings one per line, an empty line, then paths one per line.
// Every path is decided at each access level, by the processed lists, by
// copies of them without the engine's lookup data, and by the explanation.
#include <apr_strings.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "reference_engine.h"
#include "zeb_authorizer.h"
#include "zeb_explain.h"
#include "zeb_pattern.h"

namespace {

using zeb::fuzz::finding;

role_processed_pbps_t* processed_role(const std::vector<std::string>& raw, apr_pool_t* pool) {
  auto* role =
      static_cast<role_processed_pbps_t*>(apr_pcalloc(pool, sizeof(role_processed_pbps_t)));
  apr_pool_create(&role->raw_pbps_pool, pool);
  role->num_raw_pbps = static_cast<int>(raw.size());
  role->raw_pbps =
      static_cast<char**>(apr_pcalloc(role->raw_pbps_pool, (raw.size() + 1) * sizeof(char*)));
  for (size_t i = 0; i < raw.size(); ++i) {
    role->raw_pbps[i] = apr_pstrdup(role->raw_pbps_pool, raw[i].c_str());
  }
  ensure_processed_pbps(role, pool);
  return role;
}

apr_array_header_t* plain_copy(const apr_array_header_t* list, apr_pool_t* pool) {
  apr_array_header_t* copy = apr_array_make(pool, list->nelts, sizeof(pbp_item_t*));
  for (int i = 0; i < list->nelts; ++i) {
    const auto* item = APR_ARRAY_IDX(list, i, const pbp_item_t*);
    auto* plain = static_cast<pbp_item_t*>(apr_pcalloc(pool, sizeof(pbp_item_t)));
    plain->path = item->path;
    plain->permission = item->permission;
    APR_ARRAY_PUSH(copy, pbp_item_t*) = plain;
  }
  return copy;
}

// Whether the expression library gives up on some wildcard of the role at
// path: the reference then counts no match, the engine never grants.
bool library_gives_up(const zeb::reference::role& role, const std::string& path) {
  for (const auto& wildcard : role.wildcards) {
    if (zeb::match_pattern(wildcard.path.c_str(), path.c_str()) == zeb::kMatchFailed) return true;
  }
  return false;
}

std::string describe(const std::vector<std::string>& raw, int required, const std::string& path) {
  std::string text = "role [";
  for (const auto& pbp : raw) text += "'" + pbp + "' ";
  return text + "] required " + std::to_string(required) + " path '" + path + "'";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> lines = zeb::fuzz::lines_of(zeb::fuzz::as_text(data, size), 96);
  std::vector<std::string> raw;
  std::vector<std::string> paths;
  bool in_paths = false;
  for (const auto& line : lines) {
    if (!in_paths && line.empty()) {
      in_paths = true;
    } else {
      (in_paths ? paths : raw).push_back(line);
    }
  }
  if (paths.size() > 16) paths.resize(16);

  zeb::fuzz::input_pool pool;
  const zeb::reference::role expected = zeb::reference::parse_role(raw, pool.get());
  role_processed_pbps_t* role = processed_role(raw, pool.get());
  apr_array_header_t* absolute = role->sorted_absolute_pbps;
  apr_array_header_t* wildcards = role->unsorted_wildcard_pbps;
  if (role->role_global_access != expected.global_access) {
    finding("global access " + std::to_string(role->role_global_access) + ", reference " +
            std::to_string(expected.global_access) + ": " + describe(raw, 0, ""));
  }
  apr_array_header_t* plain_absolute = plain_copy(absolute, pool.get());
  apr_array_header_t* plain_wildcards = plain_copy(wildcards, pool.get());

  for (const auto& path : paths) {
    const bool gives_up = library_gives_up(expected, path);
    for (const pbp_access_t required : {PBP_NO_ACCESS, PBP_VIEW_ACCESS, PBP_COMMIT_ACCESS}) {
      const int want = zeb::reference::decide(expected, required, path.c_str(), pool.get());
      const int got =
          has_non_recursive_access(absolute, wildcards, required, path.c_str(), pool.get());
      const int plain = has_non_recursive_access(plain_absolute, plain_wildcards, required,
                                                 path.c_str(), pool.get());
      zeb_explanation_t why;
      zeb_explain_access(&why, absolute, wildcards, required, path.c_str(), pool.get());
      // A give-up may only refuse what the reference grants.
      const bool agrees = gives_up ? got <= want && plain <= want : got == want && plain == want;
      if (!agrees || why.granted != got) {
        finding("engine " + std::to_string(got) + ", plain lists " + std::to_string(plain) +
                ", explanation " + std::to_string(why.granted) + ", reference " +
                std::to_string(want) + ": " + describe(raw, required, path));
      }
    }
  }
  return 0;
}
