// Subversion's own path authorization, fed with rules equivalent to a role's
// PBPs, as a yardstick for the engine's decision speed.
#ifndef ZEB_BENCH_SVN_AUTHZ_H
#define ZEB_BENCH_SVN_AUTHZ_H

#include <string>
#include <vector>

#include <apr_pools.h>

#include "zeb_authorizer.h"

struct svn_authz_t;

namespace zeb_bench {

// An authz file giving `user` in `repos` the rights of the PBP strings: one
// "[repos:/path]" section per absolute PBP ("/a/**" counts as "/a") and one
// "[:glob:repos:/pattern]" section per wildcard PBP; "view" becomes "r",
// "commit" "rw", any other action no rights. PBPs on the same section merge
// to the lower right, as the engine merges them. Strings without ':' and
// relative paths, which never apply in the engine, are left out. Unless a
// PBP names the root, a "[repos:/]" section gives every right, as the engine
// allows what no PBP covers.
std::string svn_authz_rules(const std::vector<std::string>& pbps, const std::string& repos,
                            const std::string& user);

// The rules parsed once; allows() asks svn_repos_authz_check_access.
class svn_authz_checker {
 public:
  // Throws std::runtime_error with Subversion's message when the rules do
  // not parse.
  svn_authz_checker(const std::string& rules, std::string repos, std::string user);
  ~svn_authz_checker();
  svn_authz_checker(const svn_authz_checker&) = delete;
  svn_authz_checker& operator=(const svn_authz_checker&) = delete;

  // False also when Subversion reports an error.
  bool allows(const char* path, pbp_access_t required, apr_pool_t* pool) const;

 private:
  apr_pool_t* pool_ = nullptr;
  svn_authz_t* authz_ = nullptr;
  std::string repos_;
  std::string user_;
};

}  // namespace zeb_bench

#endif
