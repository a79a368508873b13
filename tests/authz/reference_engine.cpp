#include "reference_engine.h"

#include <svn_dirent_uri.h>
#include <svn_path.h>
#include <svn_pools.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "zeb_matcher.h"

namespace zeb::reference {
namespace {

int depth_of(const std::string& path) {
  return static_cast<int>(svn_path_component_count(path.c_str()));
}

pbp_access_t permission_of(const std::string& raw) {
  if (raw.rfind("view:", 0) == 0) return PBP_VIEW_ACCESS;
  if (raw.rfind("commit:", 0) == 0) return PBP_COMMIT_ACCESS;
  return PBP_NO_ACCESS;
}

}  // namespace

role parse_role(const std::vector<std::string>& raw_pbps, apr_pool_t* pool) {
  role result{{}, {}, PBP_COMMIT_ACCESS};
  std::map<std::string, pbp_access_t> absolute;
  apr_pool_t* scratch = svn_pool_create(pool);
  for (const std::string& raw : raw_pbps) {
    const size_t colon = raw.find(':');
    if (colon == std::string::npos) {
      // Unlike the plain model, which skipped such a string entirely.
      result.global_access = PBP_NO_ACCESS;
      continue;
    }
    std::string path = svn_dirent_canonicalize(raw.c_str() + colon + 1, scratch);
    const pbp_access_t permission = permission_of(raw);
    const size_t star = path.find('*');
    const bool subtree = star != std::string::npos && star + 2 == path.size() && star > 0 &&
                         path[star - 1] == '/' && path[star + 1] == '*';
    if (subtree) {
      path = star == 1 ? std::string("/") : path.substr(0, star - 1);
    } else if (star != std::string::npos) {
      result.wildcards.push_back({path, permission});
      result.global_access = std::min(result.global_access, permission);
      continue;
    }
    const auto [entry, added] = absolute.emplace(path, permission);
    if (!added) entry->second = std::min(entry->second, permission);
  }
  svn_pool_destroy(scratch);

  for (const auto& [path, permission] : absolute) {
    result.absolute.push_back({path, permission});
    result.global_access = std::min(result.global_access, permission);
  }
  std::stable_sort(
      result.absolute.begin(), result.absolute.end(),
      [](const item& a, const item& b) { return depth_of(a.path) > depth_of(b.path); });
  return result;
}

bool decide(const role& parsed, pbp_access_t required, const char* path, apr_pool_t* pool) {
  int absolute_grant = -1;
  int absolute_revoke = -1;
  for (const item& entry : parsed.absolute) {
    if (svn_dirent_is_ancestor(entry.path.c_str(), path)) {
      (entry.permission >= required ? absolute_grant : absolute_revoke) = depth_of(entry.path);
      break;
    }
  }

  int wildcard_grant = -1;
  int wildcard_revoke = -1;
  apr_pool_t* scratch = svn_pool_create(pool);
  for (const item& entry : parsed.wildcards) {
    svn_pool_clear(scratch);
    int matched = 0;
    int score = 0;
    if (zeb_matcher_match(&matched, &score, entry.path.c_str(), path, scratch) != 0 || !matched) {
      continue;
    }
    int& target = entry.permission >= required ? wildcard_grant : wildcard_revoke;
    target = std::max(target, score);
  }
  svn_pool_destroy(scratch);

  return (wildcard_grant > absolute_revoke && wildcard_grant > wildcard_revoke) ||
         (absolute_grant >= wildcard_revoke && absolute_grant >= absolute_revoke);
}

bool has_access(const std::vector<std::string>& raw_pbps, pbp_access_t required, const char* path,
                apr_pool_t* pool) {
  return decide(parse_role(raw_pbps, pool), required, path, pool);
}

}  // namespace zeb::reference
