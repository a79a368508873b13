// A service answer on its way into the connection's role store: what is
// stored for other connections, and what the store decides once the
// retrieval's scratch memory is gone.
#include "role_store.h"

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
    apr_pool_create(&temp_pool_, store_pool_);
  }
  void TearDown() override { apr_pool_destroy(store_pool_); }

  void add_answer(const std::vector<answer_role>& answer, apr_array_header_t* retrieved,
                  serialize_ctx_t* value) {
    for (const auto& role : answer) {
      add_answer_role(role.id, role.pbps.data(), static_cast<int>(role.pbps.size()), retrieved,
                      value, temp_pool_);
    }
  }

  apr_array_header_t* roles() { return apr_array_make(temp_pool_, 16, sizeof(zeb_role_t*)); }

  // The store made from an answer, with the retrieval's memory released.
  apr_array_header_t* store_from(std::vector<answer_role> answer) {
    apr_array_header_t* retrieved = roles();
    add_answer(answer, retrieved, nullptr);
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

TEST_F(RoleStoreTest, StoredValueIsWrittenOnlyWhenEveryRoleFitsTheRecord) {
  const std::string id_39(39, 'r');
  const std::string id_40(40, 'r');
  struct {
    const char* name;
    std::vector<answer_role> answer;
    bool storable;
    int64_t size;
  } cases[] = {
      {"no roles", {}, true, 0},
      {"one role", {{"8chars!!", {"view:/"}}}, true, 63},
      {"role without PBPs", {{"NONE", {}}}, true, 56},
      {"id of 39 characters", {{id_39.c_str(), {}}}, true, 56},
      {"id of 40 characters", {{"1", {"view:/"}}, {id_40.c_str(), {"view:/"}}}, false, -1},
      {"absent id", {{nullptr, {"view:/"}}}, false, -1},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    serialize_ctx_t* value = serialize_init(nullptr, 0);
    apr_array_header_t* retrieved = roles();
    add_answer(c.answer, retrieved, value);
    EXPECT_EQ(retrieved->nelts, static_cast<int>(c.answer.size()));
    EXPECT_EQ(serialize_is_storable(value), c.storable ? 1 : 0);
    if (c.storable) EXPECT_EQ(value->size, c.size);
    serialize_destroy(value);
  }
}

TEST_F(RoleStoreTest, StoredValueReadsBackAsTheSameRoles) {
  std::vector<answer_role> answer = {{"101", {"view:/", "commit:/trunk"}}, {"102", {}}};
  serialize_ctx_t* value = serialize_init(nullptr, 0);
  apr_array_header_t* direct = roles();
  add_answer(answer, direct, value);
  apr_array_header_t* read_back = roles();
  ASSERT_EQ(zeb_role_paths_read_value(value->buffer, value->size, read_back, temp_pool_), 1);
  serialize_destroy(value);

  ASSERT_EQ(read_back->nelts, direct->nelts);
  for (int i = 0; i < direct->nelts; ++i) {
    const zeb_role_t* a = APR_ARRAY_IDX(direct, i, const zeb_role_t*);
    const zeb_role_t* b = APR_ARRAY_IDX(read_back, i, const zeb_role_t*);
    EXPECT_STREQ(a->repoRoleId, b->repoRoleId);
    ASSERT_EQ(a->repoPathAndPerm->nelts, b->repoPathAndPerm->nelts);
    for (int j = 0; j < a->repoPathAndPerm->nelts; ++j) {
      EXPECT_STREQ(APR_ARRAY_IDX(a->repoPathAndPerm, j, const char*),
                   APR_ARRAY_IDX(b->repoPathAndPerm, j, const char*));
    }
  }
}

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

}  // namespace
