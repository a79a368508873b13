#include "properties_check.h"

#include <apr_file_io.h>
#include <apr_hash.h>
#include <apr_strings.h>
#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>

#include "properties_file.h"

namespace zeb {
namespace {

// Every key that a part of the module reads from the properties file.
constexpr std::array<std::string_view, 15> kKnownProperties = {
    "dwmain.integration.listener_host",
    "dwmain.integration.listener_port",
    "dwmain.integration.listener_ssl",
    "dwmain.integration.listener_ssl_cafile",
    "dwmain.integration.listener_ssl_capath",
    "dwmain.integration.listener_ssl_verify_host",
    "dwmain.integration.security.shared_secret",
    "dwmain.integration.http_proxy_host",
    "dwmain.integration.http_proxy_port",
    "dwmain.integration.http_proxy_username",
    "dwmain.integration.http_proxy_password",
    "svn.authnz.timeout",
    "svn.authnz.use_role_paths_api",
    "subversion_branding.repository_uri",
    "subversion.repository_base",
};

// The Brimstack server's installation writes many other keys into the same
// file; these prefixes are the module's alone.
constexpr std::array<std::string_view, 4> kOwnPrefixes = {
    "dwmain.integration.listener", "dwmain.integration.security.", "svn.authnz.", "subversion."};

constexpr char kRepositoryBase[] = "subversion.repository_base";
constexpr char kBrandingUri[] = "subversion_branding.repository_uri";
constexpr size_t kMaxSuggestedEdits = 3;

// Edits (insert, delete, replace, swap of neighbours) that turn a into b.
size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t replace = d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, replace});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// Read (4) or search (1) permission of st for the user.
bool permits(const struct stat& st, const request_user& user, const std::vector<gid_t>& groups,
             unsigned bit) {
  if (st.st_uid == user.uid) return (st.st_mode >> 6) & bit;
  if (std::find(groups.begin(), groups.end(), st.st_gid) != groups.end()) {
    return (st.st_mode >> 3) & bit;
  }
  return st.st_mode & bit;
}

std::vector<gid_t> groups_of(const request_user& user) {
  int count = 0;
  getgrouplist(user.name, user.gid, nullptr, &count);
  std::vector<gid_t> groups(static_cast<size_t>(std::max(count, 1)), user.gid);
  if (getgrouplist(user.name, user.gid, groups.data(), &count) < 0) groups.assign(1, user.gid);
  groups.resize(static_cast<size_t>(std::max(count, 1)));
  return groups;
}

apr_hash_t* read_file(const char* file, apr_status_t* status, apr_pool_t* pool) {
  apr_file_t* f = nullptr;
  *status =
      apr_file_open(&f, file, APR_FOPEN_READ | APR_FOPEN_BUFFERED, APR_FPROT_OS_DEFAULT, pool);
  if (*status != APR_SUCCESS) return nullptr;
  apr_hash_t* props = apr_hash_make(pool);
  *status = read_properties(props, f, pool);
  apr_file_close(f);
  return *status == APR_SUCCESS ? props : nullptr;
}

}  // namespace

std::string nearest_known_property(std::string_view key) {
  std::string_view best;
  size_t best_distance = kMaxSuggestedEdits + 1;
  for (std::string_view known : kKnownProperties) {
    const size_t distance = edit_distance(key, known);
    if (distance < best_distance) {
      best = known;
      best_distance = distance;
    }
  }
  return std::string(best);
}

bool is_unknown_property(std::string_view key) {
  const bool own = std::any_of(kOwnPrefixes.begin(), kOwnPrefixes.end(),
                               [&](std::string_view prefix) { return key.starts_with(prefix); });
  return own &&
         std::find(kKnownProperties.begin(), kKnownProperties.end(), key) == kKnownProperties.end();
}

bool readable_by(const char* path, const request_user& user) {
  if (user.uid == 0) return true;
  const std::vector<gid_t> groups = groups_of(user);
  const std::string whole(path);
  struct stat st;
  // Every directory on the way must let the user through.
  for (size_t slash = whole.find('/', 1); whole[0] == '/' && slash != whole.npos;
       slash = whole.find('/', slash + 1)) {
    if (stat(whole.substr(0, slash).c_str(), &st) != 0 || !permits(st, user, groups, 1)) {
      return false;
    }
  }
  return stat(path, &st) == 0 && permits(st, user, groups, 4);
}

std::vector<std::string> properties_file_warnings(const char* file, const char* base_uri,
                                                  const request_user* children, apr_pool_t* pool) {
  std::vector<std::string> warnings;
  apr_status_t status = APR_SUCCESS;
  apr_hash_t* props = read_file(file, &status, pool);
  if (props == nullptr) {
    char reason[256];
    warnings.push_back(std::string("AuthnzZEBPropertiesFile ") + file +
                       " cannot be read: " + apr_strerror(status, reason, sizeof reason));
    return warnings;
  }
  if (children != nullptr && !readable_by(file, *children)) {
    warnings.push_back(std::string("AuthnzZEBPropertiesFile ") + file + " cannot be read by user " +
                       children->name + ", as whom httpd serves requests");
  }
  // Without a repository base the id can only come from the service, which
  // it does only for the location the branding URI names.
  const char* branding_uri = get_property(props, kBrandingUri, nullptr);
  const bool id_from_service = branding_uri != nullptr && base_uri != nullptr &&
                               apr_strnatcasecmp(branding_uri, base_uri) == 0;
  if (!id_from_service && get_property(props, kRepositoryBase, nullptr) == nullptr) {
    warnings.push_back(std::string("No ") + kRepositoryBase + " in " + file + ": <Location " +
                       (base_uri != nullptr ? base_uri : "") +
                       "> cannot read the external system id from its .scm.properties");
  }
  std::vector<std::string> unknown;
  for (apr_hash_index_t* hi = apr_hash_first(pool, props); hi; hi = apr_hash_next(hi)) {
    const auto* key = static_cast<const char*>(apr_hash_this_key(hi));
    if (is_unknown_property(key)) unknown.emplace_back(key);
  }
  std::sort(unknown.begin(), unknown.end());
  for (const std::string& key : unknown) {
    const std::string nearest = nearest_known_property(key);
    warnings.push_back("Unknown key " + key + " in " + file +
                       (nearest.empty() ? std::string() : " (did you mean " + nearest + "?)"));
  }
  return warnings;
}

}  // namespace zeb
