#include "svn_authz.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include <svn_dirent_uri.h>
#include <svn_error.h>
#include <svn_repos.h>
#include <svn_string.h>

namespace zeb_bench {
namespace {

pbp_access_t action_of(const std::string& pbp) {
  if (pbp.starts_with("view:")) return PBP_VIEW_ACCESS;
  if (pbp.starts_with("commit:")) return PBP_COMMIT_ACCESS;
  return PBP_NO_ACCESS;
}

const char* rights_of(pbp_access_t access) {
  switch (access) {
    case PBP_COMMIT_ACCESS:
      return "rw";
    case PBP_VIEW_ACCESS:
      return "r";
    default:
      return "";
  }
}

// The section a canonical PBP path belongs to.
std::string section_of(std::string path, const std::string& repos) {
  std::size_t star = path.find('*');
  bool subtree = star != std::string::npos && star + 2 == path.size() && path.ends_with("/**");
  // "/a/**" is the section "/a", and "/**" the root.
  if (subtree) path.resize(path.size() == 3 ? 1 : path.size() - 3);
  std::string section(star != std::string::npos && !subtree ? "[:glob:" : "[");
  section.append(repos).append(":").append(path).append("]");
  return section;
}

std::string canonical(const std::string& path) {
  apr_pool_t* scratch = nullptr;
  apr_pool_create(&scratch, nullptr);
  std::string result = svn_dirent_canonicalize(path.c_str(), scratch);
  apr_pool_destroy(scratch);
  return result;
}

std::string message_of(svn_error_t* err) {
  char buf[512];
  std::string message = svn_err_best_message(err, buf, sizeof buf);
  svn_error_clear(err);
  return message;
}

}  // namespace

std::string svn_authz_rules(const std::vector<std::string>& pbps, const std::string& repos,
                            const std::string& user) {
  std::vector<std::string> order;
  std::map<std::string, pbp_access_t> rights;
  for (const std::string& pbp : pbps) {
    std::size_t colon = pbp.find(':');
    if (colon == std::string::npos) continue;
    std::string path = canonical(pbp.substr(colon + 1));
    if (!path.starts_with("/")) continue;
    std::string section = section_of(path, repos);
    auto [it, inserted] = rights.try_emplace(section, action_of(pbp));
    if (inserted) {
      order.push_back(section);
    } else {
      it->second = std::min(it->second, action_of(pbp));
    }
  }
  // The engine allows what no PBP covers, Subversion denies it: a root
  // section with every right stands for the engine's default.
  std::string root = section_of("/", repos);
  if (rights.try_emplace(root, PBP_COMMIT_ACCESS).second) order.insert(order.begin(), root);
  std::string text;
  for (const std::string& section : order) {
    text += section + "\n" + user + " = " + rights_of(rights[section]) + "\n\n";
  }
  return text;
}

svn_authz_checker::svn_authz_checker(const std::string& rules, std::string repos, std::string user)
    : repos_(std::move(repos)), user_(std::move(user)) {
  apr_pool_create(&pool_, nullptr);
  apr_pool_t* scratch = nullptr;
  apr_pool_create(&scratch, pool_);
  svn_stream_t* stream =
      svn_stream_from_string(svn_string_ncreate(rules.data(), rules.size(), scratch), scratch);
  svn_error_t* err =
      svn_repos_authz_parse2(&authz_, stream, nullptr, nullptr, nullptr, pool_, scratch);
  apr_pool_destroy(scratch);
  if (err) {
    apr_pool_destroy(pool_);
    throw std::runtime_error("authz rules rejected: " + message_of(err));
  }
}

svn_authz_checker::~svn_authz_checker() {
  apr_pool_destroy(pool_);
}

bool svn_authz_checker::allows(const char* path, pbp_access_t required, apr_pool_t* pool) const {
  svn_repos_authz_access_t access = required == PBP_COMMIT_ACCESS ? svn_authz_write
                                    : required == PBP_VIEW_ACCESS ? svn_authz_read
                                                                  : svn_authz_none;
  svn_boolean_t granted = FALSE;
  svn_error_t* err = svn_repos_authz_check_access(authz_, repos_.c_str(), path, user_.c_str(),
                                                  access, &granted, pool);
  if (err) {
    svn_error_clear(err);
    return false;
  }
  return granted;
}

}  // namespace zeb_bench
