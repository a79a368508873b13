// What a large role costs in memory and time, measured in one run:
// - bytes per processed PBP (absolute, wildcard, and a role of both), from
//   the process's resident memory over several copies of the role, against
//   the plain reference processing of the same strings;
// - a load of the role into the process's role cache: the first one (the
//   stored value read and processed) and a later one (the value's digest and
//   the lookup), as the median CPU milliseconds of alternating repetitions.
//   role_store_bench [pbps [copies [repetitions]]]
#include <apr_general.h>
#include <apr_strings.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "median_timer.h"
#include "reference_engine.h"
#include "role_cache.h"
#include "role_paths_record.h"
#include "zeb_authorizer.h"

namespace zeb_bench {
namespace {

std::vector<std::string> absolute_pbps(int count) {
  std::vector<std::string> pbps;
  for (int i = 0; i < count; ++i) {
    pbps.push_back(std::string(i % 3 == 0 ? "none:" : "view:") + "/projects/p" +
                   std::to_string(i % 40) + "/trunk/src/mod" + std::to_string(i % 10) + "/file" +
                   std::to_string(i) + ".c");
  }
  return pbps;
}

std::vector<std::string> wildcard_pbps(int count) {
  std::vector<std::string> pbps;
  for (int i = 0; i < count; ++i) {
    pbps.push_back(std::string(i % 2 == 0 ? "commit:" : "none:") + "/projects/p" +
                   std::to_string(i % 40) + "/branches/b" + std::to_string(i) + "/*/src/**/*.c");
  }
  return pbps;
}

long resident_bytes() {
  long pages = 0, resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr || std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
  if (statm != nullptr) std::fclose(statm);
  return resident * 4096;
}

// Resident bytes per PBP that copies of the processed role keep, the
// processing's scratch memory handed back first.
template <typename Process>
double bytes_per_pbp(const std::vector<std::string>& pbps, int copies, const Process& process) {
  malloc_trim(0);
  const long before = resident_bytes();
  std::vector<apr_pool_t*> pools(copies);
  for (apr_pool_t*& pool : pools) {
    apr_pool_create_unmanaged_ex(&pool, nullptr, nullptr);
    process(pbps, pool);
  }
  malloc_trim(0);
  const double bytes = static_cast<double>(resident_bytes() - before) / copies / pbps.size();
  for (apr_pool_t* pool : pools) apr_pool_destroy(pool);
  return bytes;
}

void engine_role(const std::vector<std::string>& pbps, apr_pool_t* pool) {
  auto* role =
      static_cast<role_processed_pbps_t*>(apr_pcalloc(pool, sizeof(role_processed_pbps_t)));
  apr_pool_create(&role->raw_pbps_pool, pool);
  role->num_raw_pbps = static_cast<int>(pbps.size());
  role->raw_pbps =
      static_cast<char**>(apr_palloc(role->raw_pbps_pool, sizeof(char*) * pbps.size()));
  for (size_t i = 0; i < pbps.size(); ++i) {
    role->raw_pbps[i] = apr_pstrdup(role->raw_pbps_pool, pbps[i].c_str());
  }
  ensure_processed_pbps(role, pool);
}

// Reference roles live on the heap; a pool clean-up releases them.
void reference_role(const std::vector<std::string>& pbps, apr_pool_t* pool) {
  auto* role = new zeb::reference::role(zeb::reference::parse_role(pbps, pool));
  apr_pool_cleanup_register(
      pool, role,
      [](void* data) -> apr_status_t {
        delete static_cast<zeb::reference::role*>(data);
        return APR_SUCCESS;
      },
      apr_pool_cleanup_null);
}

std::string stored_value(const std::vector<std::string>& pbps) {
  std::vector<const char*> strings;
  for (const std::string& pbp : pbps) strings.push_back(pbp.c_str());
  serialize_ctx_t* value = serialize_init(nullptr, 0);
  serialize_update("large", strings.data(), static_cast<int>(strings.size()), value);
  std::string bytes(value->buffer, static_cast<size_t>(value->size));
  serialize_destroy(value);
  return bytes;
}

// One load as the module makes it: the value's digest, then the cache's set
// or one made from the value.
std::shared_ptr<const zeb::role_set> load(zeb::role_cache& cache, const std::string& value) {
  const zeb::role_set_key key{"service", "repo", "user",
                              zeb::role_record_digest(value.data(), value.size())};
  return cache.obtain(key, [&] {
    apr_pool_t* scratch = nullptr;
    apr_pool_create_unmanaged_ex(&scratch, nullptr, nullptr);
    apr_array_header_t* roles = apr_array_make(scratch, 16, sizeof(zeb_role_t*));
    zeb_role_paths_view_value(value.data(), static_cast<int64_t>(value.size()), roles, scratch);
    auto set = zeb::role_set::make(roles, {});
    apr_pool_destroy(scratch);
    return set;
  });
}

int run(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int copies = argc > 2 ? std::atoi(argv[2]) : 5;
  const int repetitions = argc > 3 ? std::atoi(argv[3]) : 21;
  std::vector<std::string> mixed = absolute_pbps(count - count / 3);
  for (std::string& pbp : wildcard_pbps(count / 3)) mixed.push_back(pbp);
  const struct {
    const char* name;
    std::vector<std::string> pbps;
  } roles[] = {
      {"absolute", absolute_pbps(count)}, {"wildcard", wildcard_pbps(count)}, {"mixed 2:1", mixed}};

  std::printf("bytes per PBP, roles of %d PBPs, %d copies (resident memory)\n", count, copies);
  for (const auto& role : roles) {
    const double engine = bytes_per_pbp(role.pbps, copies, engine_role);
    const double reference = bytes_per_pbp(role.pbps, copies, reference_role);
    std::printf("%-10s engine %6.0f  reference %6.0f  engine/reference %.2f  role %.2f MB\n",
                role.name, engine, reference, engine / reference, engine * count / 1e6);
  }

  const std::string value = stored_value(mixed);
  std::vector<double> first, later;
  for (int i = 0; i < repetitions; ++i) {
    zeb::role_cache cache(size_t{1} << 30);
    first.push_back(cpu_seconds_of([&] { load(cache, value); }));
    later.push_back(cpu_seconds_of([&] { load(cache, value); }));
  }
  const double first_ms = median_of(first) * 1e3;
  const double later_ms = median_of(later) * 1e3;
  std::printf("load of the mixed role (%zu-byte value), %d repetitions (median CPU ms)\n",
              value.size(), repetitions);
  std::printf(
      "first %.3f ms (goal: at most 10)  later %.4f ms (goal: under 0.1)  later/first "
      "%.4f\n",
      first_ms, later_ms, later_ms / first_ms);
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
