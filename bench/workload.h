// A reproducible permission workload for timing access decisions: one role's
// PBP strings over a generated repository tree, and a mix of requests.
#ifndef ZEB_BENCH_WORKLOAD_H
#define ZEB_BENCH_WORKLOAD_H

#include <cstdint>
#include <string>
#include <vector>

#include "zeb_authorizer.h"

namespace zeb_bench {

struct decision_request {
  std::string path;
  pbp_access_t required;
};

struct workload {
  std::vector<std::string> absolute_pbps;  // "view:/projects/p03/trunk", ...
  std::vector<std::string> wildcard_pbps;  // "none:/**/*.key", ...
  std::vector<decision_request> requests;

  // Absolute PBPs first, then the wildcard ones: the role as the server
  // would deliver it.
  std::vector<std::string> all_pbps() const;
};

struct workload_shape {
  int absolute_pbps = 200;
  int wildcard_pbps = 20;
  int requests = 400;
};

// The same seed and shape always give the same workload.
workload make_workload(std::uint32_t seed, const workload_shape& shape = {});

// count requests (view and commit alike) on paths of exactly depth
// components: nodes of the workload's tree, cut short or lengthened with
// further directories.
std::vector<decision_request> requests_at_depth(std::uint32_t seed, int depth, int count);

}  // namespace zeb_bench

#endif
