// Times the processing of one large role (20,000 absolute PBPs and 200
// wildcard ones by default) against the plain reference processing of the
// same strings, alternating the two in every repetition. Prints the median
// milliseconds of each and their ratio.
//   role_load_bench [absolute-pbps [wildcard-pbps [repetitions]]]
#include <apr_general.h>
#include <apr_strings.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "median_timer.h"
#include "reference_engine.h"
#include "workload.h"
#include "zeb_authorizer.h"

namespace zeb_bench {
namespace {

constexpr std::uint32_t kSeed = 20240601;

// Builds the raw role as the module does (strings in a child pool) and
// processes it; only the processing is timed.
double engine_load_seconds(const std::vector<std::string>& pbps, apr_pool_t* parent) {
  apr_pool_t* pool = nullptr;
  apr_pool_create(&pool, parent);
  auto* role =
      static_cast<role_processed_pbps_t*>(apr_pcalloc(pool, sizeof(role_processed_pbps_t)));
  apr_pool_create(&role->raw_pbps_pool, pool);
  role->num_raw_pbps = static_cast<int>(pbps.size());
  role->raw_pbps =
      static_cast<char**>(apr_palloc(role->raw_pbps_pool, sizeof(char*) * pbps.size()));
  for (size_t i = 0; i < pbps.size(); ++i) {
    role->raw_pbps[i] = apr_pstrdup(role->raw_pbps_pool, pbps[i].c_str());
  }
  const double seconds = cpu_seconds_of([&] { ensure_processed_pbps(role, pool); });
  apr_pool_destroy(pool);
  return seconds;
}

double reference_load_seconds(const std::vector<std::string>& pbps, apr_pool_t* parent) {
  apr_pool_t* pool = nullptr;
  apr_pool_create(&pool, parent);
  const double seconds = cpu_seconds_of([&] { zeb::reference::parse_role(pbps, pool); });
  apr_pool_destroy(pool);
  return seconds;
}

int run(int argc, char** argv) {
  workload_shape shape;
  shape.absolute_pbps = argc > 1 ? std::atoi(argv[1]) : 20000;
  shape.wildcard_pbps = argc > 2 ? std::atoi(argv[2]) : 200;
  shape.requests = 0;
  const int repetitions = argc > 3 ? std::atoi(argv[3]) : 21;
  const std::vector<std::string> pbps = make_workload(kSeed, shape).all_pbps();

  apr_pool_t* pool = nullptr;
  apr_pool_create(&pool, nullptr);
  std::vector<double> engine, reference;
  for (int i = 0; i < repetitions; ++i) {
    engine.push_back(engine_load_seconds(pbps, pool));
    reference.push_back(reference_load_seconds(pbps, pool));
  }
  apr_pool_destroy(pool);

  const double engine_ms = median_of(engine) * 1e3;
  const double reference_ms = median_of(reference) * 1e3;
  std::printf("role of %d absolute + %d wildcard PBPs, %d repetitions (median CPU ms)\n",
              shape.absolute_pbps, shape.wildcard_pbps, repetitions);
  std::printf("engine %.2f ms (goal: at most 10)  reference %.2f ms  engine/reference %.3f\n",
              engine_ms, reference_ms, engine_ms / reference_ms);
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
