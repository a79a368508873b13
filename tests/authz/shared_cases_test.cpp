// The table of node decisions that zebauthz's tests read too: the engine's
// decision and its explanation must both give the table's answer.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "authz_test_support.h"
#include "zeb_authorizer.h"
#include "zeb_explain.h"

namespace {

using zeb::test::pool_t;
using zeb::test::processed_role;

pbp_access_t access_of(const std::string& action) {
  if (action == "commit") return PBP_COMMIT_ACCESS;
  if (action == "view") return PBP_VIEW_ACCESS;
  return PBP_NO_ACCESS;
}

TEST(AuthzSharedCases, DecisionAndExplanationFollowTheTable) {
  std::ifstream file(ZEB_DECISION_CASES);
  ASSERT_TRUE(file) << ZEB_DECISION_CASES;
  const nlohmann::json table = nlohmann::json::parse(file);
  ASSERT_GT(table["cases"].size(), 0u);
  for (const auto& c : table["cases"]) {
    const auto raw = table["roles"][c[0].get<std::string>()].get<std::vector<std::string>>();
    const pbp_access_t required = access_of(c[1]);
    const std::string path = c[2];
    SCOPED_TRACE(c.dump());
    pool_t pool;
    role_processed_pbps_t* role = processed_role(raw, pool.get());
    EXPECT_EQ(has_non_recursive_access(role->sorted_absolute_pbps, role->unsorted_wildcard_pbps,
                                       required, path.c_str(), pool.get()),
              c[3].get<bool>() ? 1 : 0);
    zeb_explanation_t why;
    zeb_explain_access(&why, role->sorted_absolute_pbps, role->unsorted_wildcard_pbps, required,
                       path.c_str(), pool.get());
    EXPECT_EQ(why.granted, c[3].get<bool>() ? 1 : 0);
  }
}

}  // namespace
