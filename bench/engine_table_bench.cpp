// The engine against Subversion's svn_repos_authz_check_access on identical
// rules, over a table of role sizes and request paths:
//   absolute PBPs 20 / 200 / 2,000 / 20,000 x wildcard PBPs 0 / 20 / 200
//   x paths of depth 2 / 8 / 32 and the workload's mixed requests,
// and, per role size, view checks on the same role with every PBP turned
// into "view:" (every rule grants read). Each cell times both engines on the
// same requests, alternating them over the repetitions; the ratio is of the
// two medians (thread CPU time). Prints every cell and the worst one.
//   engine_table_bench [repetitions]
#include <apr_general.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine_role.h"
#include "median_timer.h"
#include "svn_authz.h"
#include "workload.h"

namespace zeb_bench {
namespace {

constexpr std::uint32_t kSeed = 20240601;
constexpr const char* kRepos = "repo";
constexpr const char* kUser = "alice";
constexpr int kRequests = 400;

struct cell_result {
  std::string name;
  double engine_ns = 0;
  double subversion_ns = 0;
  double ratio() const { return engine_ns / subversion_ns; }
};

// Sweeps over the requests until at least a millisecond has passed, so that
// the clock's resolution does not matter; nanoseconds per decision.
template <typename Decider>
double ns_per_decision(const Decider& decider, const std::vector<decision_request>& requests,
                       apr_pool_t* pool) {
  int sweeps = 0;
  volatile bool sink = false;
  const double seconds = cpu_seconds_of([&] {
    const double start = thread_cpu_seconds();
    do {
      for (const decision_request& request : requests) {
        sink = decider.allows(request.path.c_str(), request.required, pool);
      }
      apr_pool_clear(pool);
      ++sweeps;
    } while (thread_cpu_seconds() - start < 1e-3);
  });
  (void)sink;
  return seconds * 1e9 / (static_cast<double>(sweeps) * static_cast<double>(requests.size()));
}

cell_result time_cell(std::string name, const engine_role& engine,
                      const svn_authz_checker& subversion,
                      const std::vector<decision_request>& requests, int repetitions) {
  apr_pool_t* pool = nullptr;
  apr_pool_create(&pool, nullptr);
  std::vector<double> engine_ns, subversion_ns;
  ns_per_decision(engine, requests, pool);  // warm both up
  ns_per_decision(subversion, requests, pool);
  for (int i = 0; i < repetitions; ++i) {
    engine_ns.push_back(ns_per_decision(engine, requests, pool));
    subversion_ns.push_back(ns_per_decision(subversion, requests, pool));
  }
  apr_pool_destroy(pool);
  return {std::move(name), median_of(engine_ns), median_of(subversion_ns)};
}

std::vector<std::string> all_view(const std::vector<std::string>& pbps) {
  std::vector<std::string> out;
  for (const std::string& pbp : pbps) out.push_back("view:" + pbp.substr(pbp.find(':') + 1));
  return out;
}

std::vector<decision_request> view_only(std::vector<decision_request> requests) {
  for (decision_request& request : requests) request.required = PBP_VIEW_ACCESS;
  return requests;
}

void print(const cell_result& cell) {
  std::printf("%-34s engine %8.1f ns  subversion %8.1f ns  ratio %.3f\n", cell.name.c_str(),
              cell.engine_ns, cell.subversion_ns, cell.ratio());
  std::fflush(stdout);
}

int run(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::atoi(argv[1]) : 7;
  std::vector<cell_result> cells;
  for (int absolute : {20, 200, 2000, 20000}) {
    for (int wildcards : {0, 20, 200}) {
      const workload w = make_workload(kSeed, {absolute, wildcards, kRequests});
      const std::vector<std::string> pbps = w.all_pbps();
      const engine_role engine(pbps);
      const svn_authz_checker subversion(svn_authz_rules(pbps, kRepos, kUser), kRepos, kUser);
      char prefix[64];
      std::snprintf(prefix, sizeof prefix, "abs %5d  wild %3d  ", absolute, wildcards);
      for (int depth : {2, 8, 32}) {
        const auto requests = requests_at_depth(kSeed + depth, depth, kRequests);
        cells.push_back(time_cell(prefix + std::string("depth ") + std::to_string(depth), engine,
                                  subversion, requests, repetitions));
        print(cells.back());
      }
      cells.push_back(
          time_cell(prefix + std::string("mixed"), engine, subversion, w.requests, repetitions));
      print(cells.back());

      const std::vector<std::string> readable = all_view(pbps);
      const engine_role engine_read(readable);
      const svn_authz_checker subversion_read(svn_authz_rules(readable, kRepos, kUser), kRepos,
                                              kUser);
      cells.push_back(time_cell(prefix + std::string("all-read view"), engine_read, subversion_read,
                                view_only(w.requests), repetitions));
      print(cells.back());
    }
  }
  const cell_result* worst = &cells.front();
  for (const cell_result& cell : cells) {
    if (cell.ratio() > worst->ratio()) worst = &cell;
  }
  std::printf("\nworst cell: %s  engine/subversion %.3f (goal: at most 1.00)\n",
              worst->name.c_str(), worst->ratio());
  return 0;
}

}  // namespace
}  // namespace zeb_bench

int main(int argc, char** argv) {
  apr_initialize();
  const int status = zeb_bench::run(argc, argv);
  apr_terminate();
  return status;
}
