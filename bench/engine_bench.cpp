// Times access decisions for one role (200 absolute and 20 wildcard PBPs) on
// one generated mix of requests, three ways in one run:
//   engine      has_non_recursive_access on the processed role
//   literal     the plain algorithm: every wildcard translated and compiled
//               again on every decision, the absolute list scanned
//   subversion  svn_repos_authz_check_access on equivalent authz rules
// Subversion ranks the rules that match a path by a precedence of its own,
// not the engine's, so its rules are equivalent in sections and rights, not
// in every answer: this compares speed, not correctness. The engine and the
// literal algorithm must agree everywhere; a disagreement is reported and
// fails the run.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <utility>

#include <apr_general.h>
#include <benchmark/benchmark.h>

#include "decision_time_reporter.h"
#include "engine_role.h"
#include "literal_role.h"
#include "svn_authz.h"
#include "workload.h"

namespace zeb_bench {
namespace {

constexpr std::uint32_t kSeed = 20240601;
constexpr const char* kRepos = "repo";
constexpr const char* kUser = "alice";

struct contenders {
  explicit contenders(const workload& w)
      : engine(w.all_pbps()),
        literal(w.all_pbps()),
        subversion(svn_authz_rules(w.all_pbps(), kRepos, kUser), kRepos, kUser) {}
  engine_role engine;
  literal_role literal;
  svn_authz_checker subversion;
};

// One iteration decides every request once; the pool the decisions allocate
// from is cleared after each sweep, for every contender alike.
template <typename Decider>
void sweep(benchmark::State& state, const workload& w, const Decider& decider) {
  apr_pool_t* pool = nullptr;
  apr_pool_create(&pool, nullptr);
  for (auto _ : state) {
    for (const decision_request& request : w.requests) {
      benchmark::DoNotOptimize(decider.allows(request.path.c_str(), request.required, pool));
    }
    apr_pool_clear(pool);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(w.requests.size()));
  apr_pool_destroy(pool);
}

struct agreement {
  int engine_yes = 0;
  int literal_mismatches = 0;
  int subversion_matches = 0;
};

agreement compare(const workload& w, const contenders& c) {
  apr_pool_t* pool = nullptr;
  apr_pool_create(&pool, nullptr);
  agreement a;
  for (const decision_request& request : w.requests) {
    const char* path = request.path.c_str();
    bool engine = c.engine.allows(path, request.required, pool);
    a.engine_yes += engine;
    a.literal_mismatches += engine != c.literal.allows(path, request.required, pool);
    a.subversion_matches += engine == c.subversion.allows(path, request.required, pool);
    apr_pool_clear(pool);
  }
  apr_pool_destroy(pool);
  return a;
}

void print_ratio(const char* name, std::optional<double> numerator,
                 std::optional<double> denominator, double goal) {
  if (!numerator || !denominator) return;
  std::printf("%s = %.4f (goal: at most %.2f)\n", name, *numerator / *denominator, goal);
}

int run(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  const workload w = make_workload(kSeed);
  const contenders c(w);
  const agreement a = compare(w, c);
  const int total = static_cast<int>(w.requests.size());
  std::printf("role: %zu absolute + %zu wildcard PBPs; %d requests (seed %u)\n",
              w.absolute_pbps.size(), w.wildcard_pbps.size(), total, kSeed);
  std::printf("engine allows %d of %d; literal disagrees on %d; subversion agrees on %d\n",
              a.engine_yes, total, a.literal_mismatches, a.subversion_matches);

  benchmark::RegisterBenchmark("engine", [&](benchmark::State& s) {
    sweep(s, w, c.engine);
  })->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("literal", [&](benchmark::State& s) {
    sweep(s, w, c.literal);
  })->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("subversion", [&](benchmark::State& s) {
    sweep(s, w, c.subversion);
  })->Unit(benchmark::kMicrosecond);

  std::fflush(stdout);
  decision_time_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const auto engine = reporter.ns_per_decision("engine");
  const auto literal = reporter.ns_per_decision("literal");
  const auto subversion = reporter.ns_per_decision("subversion");
  std::printf("\nCPU ns per decision:");
  for (auto [name, ns] :
       {std::pair{"engine", engine}, {"literal", literal}, {"subversion", subversion}}) {
    if (ns) std::printf("  %s %.1f", name, *ns);
  }
  std::printf("\n");
  print_ratio("a/b (engine/literal)", engine, literal, 1.0 / 50);
  print_ratio("a/c (engine/subversion)", engine, subversion, 1.0);

  if (a.literal_mismatches != 0) {
    std::fprintf(stderr, "engine and literal algorithm disagree on %d decisions\n",
                 a.literal_mismatches);
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace zeb_bench

int main(int argc, char** argv) {
  apr_initialize();
  int status = zeb_bench::run(argc, argv);
  apr_terminate();
  return status;
}
