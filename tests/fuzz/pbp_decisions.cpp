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
#include "role_fixtures.h"
#include "zeb_authorizer.h"
#include "zeb_explain.h"
#include "zeb_pattern.h"

namespace {

using zeb::fuzz::finding;
using zeb::test::foreign_copy;
using zeb::test::processed_role;

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
  apr_array_header_t* plain_absolute = foreign_copy(absolute, pool.get());
  apr_array_header_t* plain_wildcards = foreign_copy(wildcards, pool.get());

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
