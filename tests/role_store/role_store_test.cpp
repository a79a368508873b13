// A service answer on its way into the connection's role store: what the
// store decides once the retrieval's scratch memory is gone.
#include "role_store.h"

#include "role_screening.h"

#include <apr_general.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zeb_authorizer.h"

namespace {

struct answer_role {
  const char* id;
  std::vector<const char*> pbps;
};

class RoleStoreTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { apr_initialize(); }
  void SetUp() override {
    apr_pool_create(&store_pool_, nullptr);
    // A pool with an allocator of its own: destroying it hands its memory to the
    // system, so a store still pointing into it reads freed memory.
    apr_pool_create_unmanaged_ex(&temp_pool_, nullptr, nullptr);
  }
  void TearDown() override {
    if (temp_pool_ != nullptr) apr_pool_destroy(temp_pool_);
    apr_pool_destroy(store_pool_);
  }

  // The store made from an answer, with the retrieval's memory released.
  apr_array_header_t* store_from(const std::vector<answer_role>& answer) {
    apr_array_header_t* retrieved = apr_array_make(temp_pool_, 16, sizeof(zeb_role_t*));
    for (const auto& role : answer) {
      add_answer_role(role.id, role.pbps.data(), static_cast<int>(role.pbps.size()), retrieved,
                      nullptr, temp_pool_);
    }
    apr_array_header_t* store = make_role_store(retrieved, store_pool_);
    apr_pool_destroy(temp_pool_);
    temp_pool_ = nullptr;
    return store;
  }

  static role_processed_pbps_t* role_at(apr_array_header_t* store, int i) {
    return APR_ARRAY_IDX(store, i, role_processed_pbps_t*);
  }

  bool allows(role_processed_pbps_t* role, pbp_access_t access, const char* path) {
    ensure_processed_pbps(role, store_pool_);
    return has_non_recursive_access(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps,
                                    access, path, store_pool_) == 1;
  }

  apr_pool_t* store_pool_ = nullptr;
  apr_pool_t* temp_pool_ = nullptr;
};

TEST_F(RoleStoreTest, StoreOutlivesTheRetrievalAndDecidesPerRole) {
  apr_array_header_t* store = store_from({{"201", {"view:/", "commit:/trunk", "none:/trunk/x"}},
                                          {nullptr, {"view:/", "commit:/branches"}},
                                          {"NONE", {}}});
  ASSERT_EQ(store->nelts, 3);
  EXPECT_STREQ(role_at(store, 0)->role_id, "201");
  EXPECT_EQ(role_at(store, 1)->role_id, nullptr);
  for (int i = 0; i < store->nelts; ++i) {
    EXPECT_NE(role_at(store, i)->raw_pbps, nullptr) << "role " << i << " processed too early";
  }

  struct {
    int role;
    pbp_access_t access;
    const char* path;
    bool allowed;
  } decisions[] = {
      {0, PBP_COMMIT_ACCESS, "/trunk/a", true},
      {0, PBP_VIEW_ACCESS, "/trunk/x/y", false},
      {0, PBP_COMMIT_ACCESS, "/branches", false},
      {1, PBP_COMMIT_ACCESS, "/branches/b", true},
      {1, PBP_COMMIT_ACCESS, "/trunk", false},
      // A role without PBPs restricts nothing.
      {2, PBP_COMMIT_ACCESS, "/anything", true},
  };
  for (const auto& d : decisions) {
    EXPECT_EQ(allows(role_at(store, d.role), d.access, d.path), d.allowed)
        << "role " << d.role << " on " << d.path;
  }
  EXPECT_EQ(role_at(store, 2)->role_global_access, PBP_COMMIT_ACCESS);
  EXPECT_EQ(role_at(store, 0)->role_global_access, PBP_NO_ACCESS);
}

// What the connection keeps of an answer: only roles with something usable;
// every string that cannot be used is reported once, with its role.
TEST_F(RoleStoreTest, RolesWithoutUsablePbpsAreLeftOutAndTheirStringsReported) {
  const struct {
    std::vector<answer_role> answer;
    std::vector<std::string> kept;
    std::vector<std::string> reported;  // "role|pbp|verdict"
  } cases[] = {
      {{{"NONE", {}}}, {}, {}},
      {{{"1", {"view /trunk"}}}, {}, {"1|view /trunk|1"}},
      {{{"1", {"none:secret", "none:/secret/**x", "read:/x"}}, {"2", {"view:/"}}},
       {"2"},
       {"1|none:secret|3", "1|none:/secret/**x|4", "1|read:/x|2"}},
      // One usable PBP keeps the role; the others are still named.
      {{{nullptr, {"commit:/", "view:trunk"}}}, {"(none)"}, {"(none)|view:trunk|3"}},
      {{{"3", {"none:/trunk", "view:/a/**", "commit:/b/*.c"}}}, {"3"}, {}},
  };
  for (const auto& c : cases) {
    apr_array_header_t* retrieved = apr_array_make(store_pool_, 4, sizeof(zeb_role_t*));
    for (const auto& role : c.answer) {
      add_answer_role(role.id, role.pbps.data(), static_cast<int>(role.pbps.size()), retrieved,
                      nullptr, store_pool_);
    }
    std::vector<std::string> reported;
    const auto report = [&](const char* id, const char* pbp, zeb_pbp_verdict_t verdict) {
      reported.push_back(std::string(id ? id : "(none)") + "|" + pbp + "|" +
                         std::to_string(verdict));
    };
    const apr_array_header_t* usable = usable_roles(retrieved, report, store_pool_);
    std::vector<std::string> kept;
    for (int i = 0; i < usable->nelts; ++i) {
      const char* id = APR_ARRAY_IDX(usable, i, const zeb_role_t*)->repoRoleId;
      kept.push_back(id ? id : "(none)");
    }
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(reported, c.reported);
  }
}

}  // namespace
