#include "lint.h"

#include <svn_dirent_uri.h>
#include <svn_pools.h>

#include <map>

#include "role_set.h"
#include "zeb_authorizer.h"
#include "zeb_pbp_usability.h"

namespace zebauthz {
namespace {

// The finding for each verdict of a string that cannot be used.
struct verdict_finding {
  const char* code;
  const char* effect;
};

const verdict_finding& finding_of(zeb_pbp_verdict_t verdict) {
  static const verdict_finding kNoAction{
      "no-colon", "it applies nowhere, and lowers the role's global access to none"};
  static const verdict_finding kUnknownAction{"unknown-action",
                                              "it counts as none: it refuses where it applies"};
  static const verdict_finding kRelativePath{"relative-path", "it never covers a repository path"};
  static const verdict_finding kBadPattern{"bad-wildcard",
                                           "the matcher refuses it, so it never matches"};
  switch (verdict) {
    case ZEB_PBP_NO_ACTION:
      return kNoAction;
    case ZEB_PBP_UNKNOWN_ACTION:
      return kUnknownAction;
    case ZEB_PBP_RELATIVE_PATH:
      return kRelativePath;
    default:
      return kBadPattern;
  }
}

// What the engine makes of one string on its own.
struct classified_pbp {
  std::string raw;
  bool usable = false;
  bool absolute = false;
  std::string path;  // the absolute path it stands for, or the wildcard pattern
  pbp_access_t permission = PBP_NO_ACCESS;
};

class role_linter {
 public:
  role_linter(const role_input& role, std::vector<lint_finding>& findings, apr_pool_t* pool)
      : role_(role), findings_(findings), pool_(pool) {}

  void run() {
    std::vector<classified_pbp> pbps;
    for (const auto& raw : role_.pbps) pbps.push_back(classify(raw));
    check_merges(pbps);
    check_redundant(pbps);
    check_usable(pbps);
  }

 private:
  void add(const std::string& pbp, const char* code, const std::string& message) {
    findings_.push_back({role_.id, pbp, code, message});
  }

  classified_pbp classify(const std::string& raw) {
    classified_pbp pbp;
    pbp.raw = raw;
    // Whether the string can be used is the engine's verdict, the one the
    // module warns about and screens roles with.
    const zeb_pbp_verdict_t verdict = zeb_pbp_verdict(raw.c_str(), pool_);
    pbp.usable = verdict == ZEB_PBP_USABLE;
    if (!pbp.usable) {
      const verdict_finding& finding = finding_of(verdict);
      add(raw, finding.code, std::string(zeb_pbp_verdict_text(verdict)) + "; " + finding.effect);
    }
    if (verdict == ZEB_PBP_NO_ACTION) return pbp;
    // The engine's own reading of the string: which list it lands in, with
    // which path and permission, for the checks across strings.
    apr_pool_t* scratch = svn_pool_create(pool_);
    apr_array_header_t* absolute = apr_array_make(scratch, 1, sizeof(pbp_item_t*));
    apr_array_header_t* wildcards = apr_array_make(scratch, 1, sizeof(pbp_item_t*));
    char* strings[] = {const_cast<char*>(raw.c_str())};
    pbp_access_t global = PBP_COMMIT_ACCESS;
    populate_rolepaths_pbps(strings, 1, absolute, wildcards, &global, scratch);
    const pbp_item_t* item = absolute->nelts > 0 ? APR_ARRAY_IDX(absolute, 0, pbp_item_t*)
                                                 : APR_ARRAY_IDX(wildcards, 0, pbp_item_t*);
    pbp.absolute = absolute->nelts > 0;
    pbp.path = item->path;
    pbp.permission = item->permission;
    svn_pool_destroy(scratch);
    return pbp;
  }

  // Absolute strings on one path keep one entry with the lowest permission.
  void check_merges(const std::vector<classified_pbp>& pbps) {
    std::map<std::string, std::vector<const classified_pbp*>> by_path;
    for (const auto& pbp : pbps) {
      if (pbp.absolute && !pbp.path.empty() && pbp.path[0] == '/')
        by_path[pbp.path].push_back(&pbp);
    }
    for (const auto& [path, group] : by_path) {
      pbp_access_t lowest = PBP_COMMIT_ACCESS;
      const classified_pbp* lowest_pbp = nullptr;
      for (const auto* pbp : group) {
        if (lowest_pbp == nullptr || pbp->permission < lowest) {
          lowest = pbp->permission;
          lowest_pbp = pbp;
        }
      }
      bool seen_lowest = false;
      for (const auto* pbp : group) {
        if (pbp->permission > lowest) {
          add(pbp->raw, "merged-lower",
              "merged with '" + lowest_pbp->raw + "' on '" + path + "': " + access_name(lowest) +
                  " applies there, not " + access_name(pbp->permission));
        } else if (seen_lowest) {
          add(pbp->raw, "duplicate", "repeats another entry on '" + path + "'");
        } else {
          seen_lowest = true;
        }
      }
    }
  }

  // An absolute entry whose nearest absolute ancestor gives the same
  // permission changes no decision, when no wildcard of the role has
  // another permission that the depths could play against.
  void check_redundant(const std::vector<classified_pbp>& pbps) {
    std::map<std::string, pbp_access_t> merged;
    for (const auto& pbp : pbps) {
      if (!pbp.absolute || pbp.path.empty() || pbp.path[0] != '/') continue;
      const auto found = merged.find(pbp.path);
      if (found == merged.end() || pbp.permission < found->second)
        merged[pbp.path] = pbp.permission;
    }
    for (const auto& pbp : pbps) {
      if (!pbp.absolute || merged.count(pbp.path) == 0 || pbp.permission != merged[pbp.path]) {
        continue;
      }
      const std::string* ancestor = nullptr;
      for (const auto& [path, permission] : merged) {
        if (path != pbp.path && svn_dirent_is_ancestor(path.c_str(), pbp.path.c_str()) &&
            (ancestor == nullptr || path.size() > ancestor->size())) {
          ancestor = &path;
        }
      }
      if (ancestor == nullptr || merged[*ancestor] != pbp.permission) continue;
      bool wildcards_agree = true;
      for (const auto& other : pbps) {
        if (other.usable && !other.absolute && other.permission != pbp.permission) {
          wildcards_agree = false;
        }
      }
      if (wildcards_agree) {
        add(pbp.raw, "redundant",
            "'" + *ancestor + "' above it already gives " + access_name(pbp.permission));
      }
    }
  }

  void check_usable(const std::vector<classified_pbp>& pbps) {
    for (const auto& pbp : pbps) {
      if (pbp.usable) return;
    }
    add("", "no-usable-pbp",
        "the role has no usable PBP, so the module leaves it out and it grants nothing");
  }

  const role_input& role_;
  std::vector<lint_finding>& findings_;
  apr_pool_t* pool_;
};

}  // namespace

std::vector<lint_finding> lint_roles(const std::vector<role_input>& roles, apr_pool_t* pool) {
  std::vector<lint_finding> findings;
  for (const auto& role : roles) role_linter(role, findings, pool).run();
  return findings;
}

void write_findings(std::ostream& out, const std::vector<lint_finding>& findings) {
  for (const auto& finding : findings) {
    out << "role " << finding.role.value_or("(no id)");
    if (!finding.pbp.empty()) out << ", '" << finding.pbp << "'";
    out << ": " << finding.message << " [" << finding.code << "]\n";
  }
}

nlohmann::json findings_json(const std::vector<lint_finding>& findings) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& finding : findings) {
    list.push_back({{"role", finding.role ? nlohmann::json(*finding.role) : nlohmann::json()},
                    {"pbp", finding.pbp},
                    {"code", finding.code},
                    {"message", finding.message}});
  }
  return {{"findings", list}};
}

}  // namespace zebauthz
