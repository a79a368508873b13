// The process-wide cache of processed role sets: which loads share a set,
// which sets it lets go, and many threads loading and deciding at once while
// the users' roles change.
#include "role_cache.h"

#include <apr_general.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "role_paths_record.h"
#include "zeb_authorizer.h"

namespace {

using zeb::role_cache;
using zeb::role_set;
using zeb::role_set_key;

// A stored value as the module stores it: one record per role.
std::string stored_value(const std::vector<std::vector<std::string>>& roles) {
  serialize_ctx_t* value = serialize_init(nullptr, 0);
  for (size_t i = 0; i < roles.size(); ++i) {
    std::vector<const char*> pbps;
    for (const std::string& pbp : roles[i]) pbps.push_back(pbp.c_str());
    serialize_update(std::to_string(100 + i).c_str(), pbps.data(), static_cast<int>(pbps.size()),
                     value);
  }
  std::string bytes(value->buffer, static_cast<size_t>(value->size));
  serialize_destroy(value);
  return bytes;
}

// The set a load makes from a stored value.
role_cache::maker set_from(const std::string& value) {
  return [value] {
    apr_pool_t* scratch = nullptr;
    apr_pool_create_unmanaged_ex(&scratch, nullptr, nullptr);
    apr_array_header_t* retrieved = apr_array_make(scratch, 4, sizeof(zeb_role_t*));
    std::shared_ptr<const role_set> set;
    if (zeb_role_paths_read_value(value.data(), static_cast<int64_t>(value.size()), retrieved,
                                  scratch)) {
      set = role_set::make(retrieved, {"note about " + value.substr(0, 8)});
    }
    apr_pool_destroy(scratch);
    return set;
  };
}

role_set_key key_of(const std::string& user, const std::string& value,
                    const std::string& repository = "repo") {
  return {"https://brimstack:8443\nexsy1", repository, user,
          zeb::role_record_digest(value.data(), value.size())};
}

bool allows(const role_set& set, pbp_access_t access, const char* path) {
  if (access <= set.global_access()) return true;
  const apr_array_header_t* roles = set.roles();
  for (int i = 0; i < roles->nelts; ++i) {
    const auto* role = APR_ARRAY_IDX(roles, i, const role_processed_pbps_t*);
    if (has_non_recursive_access(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps, access,
                                 path, nullptr)) {
      return true;
    }
  }
  return false;
}

class RoleCacheTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { apr_initialize(); }
};

TEST_F(RoleCacheTest, EveryRoleIsProcessedAndNotesKept) {
  const std::string value = stored_value({{"view:/", "none:/secret"}, {"commit:/"}, {"view:/a"}});
  const std::shared_ptr<const role_set> set = set_from(value)();
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->global_access(), PBP_COMMIT_ACCESS);
  const apr_array_header_t* roles = set->roles();
  ASSERT_EQ(roles->nelts, 3);
  for (int i = 0; i < roles->nelts; ++i) {
    EXPECT_EQ(APR_ARRAY_IDX(roles, i, role_processed_pbps_t*)->raw_pbps, nullptr) << "role " << i;
  }
  EXPECT_EQ(set->notes(), std::vector<std::string>{"note about " + value.substr(0, 8)});

  const std::shared_ptr<const role_set> none = set_from(stored_value({}))();
  EXPECT_EQ(none->global_access(), PBP_UNKNOWN);
  EXPECT_FALSE(allows(*none, PBP_VIEW_ACCESS, "/"));
}

// Each step loads (user, value); the cache holds about two sets.
TEST_F(RoleCacheTest, SharesEqualLoadsAndLetsTheLeastRecentlyUsedGo) {
  const std::string a = stored_value({{"view:/", "commit:/a"}});
  const std::string b = stored_value({{"view:/", "commit:/b"}});
  const std::string c = stored_value({{"view:/", "commit:/c"}});
  const size_t one_set = set_from(a)()->footprint();
  struct step {
    const char* user;
    const std::string* value;
    const char* repository;
    bool hit;
  };
  const struct {
    const char* name;
    size_t limit;
    std::vector<step> steps;
  } cases[] = {
      {"same load twice", one_set * 5 / 2, {{"ann", &a, "repo", false}, {"ann", &a, "repo", true}}},
      {"changed roles, another user, another repository",
       one_set * 10,
       {{"ann", &a, "repo", false},
        {"ann", &b, "repo", false},
        {"ben", &a, "repo", false},
        {"ann", &a, "other", false},
        {"ann", &a, "repo", true},
        {"ann", &b, "repo", true}}},
      {"least recently used goes",
       one_set * 5 / 2,
       {{"ann", &a, "repo", false},
        {"ann", &b, "repo", false},
        {"ann", &a, "repo", true},
        {"ann", &c, "repo", false},
        {"ann", &b, "repo", false},
        {"ann", &c, "repo", true}}},
      {"limit 0 keeps nothing", 0, {{"ann", &a, "repo", false}, {"ann", &a, "repo", false}}},
  };
  for (const auto& c : cases) {
    role_cache cache(c.limit);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const step& s = c.steps[i];
      bool hit = false;
      std::shared_ptr<const role_set> set =
          cache.obtain(key_of(s.user, *s.value, s.repository), set_from(*s.value), &hit);
      ASSERT_NE(set, nullptr);
      EXPECT_EQ(hit, s.hit) << c.name << ", step " << i;
      EXPECT_LE(cache.stats().bytes, c.limit) << c.name << ", step " << i;
    }
  }
}

TEST_F(RoleCacheTest, AFailedLoadIsNotKept) {
  role_cache cache(1 << 20);
  const std::string value = stored_value({{"view:/"}});
  EXPECT_EQ(cache.obtain(key_of("ann", value), [] { return std::shared_ptr<const role_set>(); }),
            nullptr);
  bool hit = true;
  EXPECT_NE(cache.obtain(key_of("ann", value), set_from(value), &hit), nullptr);
  EXPECT_FALSE(hit);
}

// Threads load users' roles while a writer keeps changing them, in a cache
// too small for them all, and decide with whatever set they got: each set
// must answer for its own version, whoever processed it.
TEST_F(RoleCacheTest, ManyThreadsLoadAndDecideWhileRolesChange) {
  constexpr int kUsers = 3;
  constexpr int kVersions = 6;
  constexpr int kThreads = 8;
  constexpr int kLoads = 200;
  auto roles_of = [](int user, int version) {
    const std::string own = "/u" + std::to_string(user) + "/v" + std::to_string(version);
    std::vector<std::vector<std::string>> roles = {
        {"view:/", "commit:" + own, "none:" + own + "/secret",
         "commit:/w/*/v" + std::to_string(version) + ".c"}};
    for (int i = 0; i < 40; ++i)
      roles[0].push_back("view:" + own + "/d" + std::to_string(i) + "/**");
    return roles;
  };
  std::vector<std::string> values;
  for (int user = 0; user < kUsers; ++user) {
    for (int version = 0; version < kVersions; ++version)
      values.push_back(stored_value(roles_of(user, version)));
  }
  role_cache cache(set_from(values[0])()->footprint() * 4);
  std::atomic<int> current_version{0};
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::thread writer([&] {
    while (!stop.load()) {
      current_version.store((current_version.load() + 1) % kVersions);
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> readers;
  for (int t = 0; t < kThreads; ++t) {
    readers.emplace_back([&, t] {
      for (int i = 0; i < kLoads; ++i) {
        const int user = (t + i) % kUsers;
        // The writer's version, drifting on its own too when the writer is
        // slow to run.
        const int version = (current_version.load() + i / 16) % kVersions;
        const std::string& value = values[user * kVersions + version];
        std::shared_ptr<const role_set> set =
            cache.obtain(key_of("user" + std::to_string(user), value), set_from(value));
        const std::string own = "/u" + std::to_string(user) + "/v" + std::to_string(version);
        const std::string other =
            "/u" + std::to_string(user) + "/v" + std::to_string((version + 1) % kVersions);
        const std::string wildcard = "/w/x/v" + std::to_string(version) + ".c";
        const bool right = set != nullptr &&
                           allows(*set, PBP_COMMIT_ACCESS, (own + "/f").c_str()) &&
                           !allows(*set, PBP_COMMIT_ACCESS, (other + "/f").c_str()) &&
                           !allows(*set, PBP_VIEW_ACCESS, (own + "/secret/f").c_str()) &&
                           allows(*set, PBP_COMMIT_ACCESS, wildcard.c_str()) &&
                           allows(*set, PBP_VIEW_ACCESS, (own + "/d7/x").c_str());
        if (!right) ++wrong;
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  stop.store(true);
  writer.join();
  EXPECT_EQ(wrong.load(), 0);
  const role_cache::counts counts = cache.stats();
  EXPECT_GT(counts.hits, 0u);
  EXPECT_GT(counts.evictions, 0u);
  EXPECT_LE(counts.bytes, set_from(values[0])()->footprint() * 4 * 2);
}

}  // namespace
