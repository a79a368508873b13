#include "workload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace zeb_bench {
namespace {

std::string path_of(const std::string& pbp) {
  return pbp.substr(pbp.find(':') + 1);
}

int depth(const std::string& path) {
  return static_cast<int>(std::count(path.begin(), path.end(), '/')) - (path == "/" ? 1 : 0);
}

bool same(const workload& a, const workload& b) {
  if (a.all_pbps() != b.all_pbps() || a.requests.size() != b.requests.size()) return false;
  for (std::size_t i = 0; i < a.requests.size(); ++i) {
    if (a.requests[i].path != b.requests[i].path ||
        a.requests[i].required != b.requests[i].required) {
      return false;
    }
  }
  return true;
}

TEST(WorkloadTest, SeedDeterminesWorkload) {
  EXPECT_TRUE(same(make_workload(7), make_workload(7)));
  EXPECT_FALSE(same(make_workload(7), make_workload(8)));
}

TEST(WorkloadTest, ShapeIsHonoured) {
  const workload_shape shapes[] = {{}, {10, 3, 50}, {500, 40, 1000}};
  for (const workload_shape& shape : shapes) {
    workload w = make_workload(3, shape);
    EXPECT_EQ(static_cast<int>(w.absolute_pbps.size()), shape.absolute_pbps);
    EXPECT_EQ(static_cast<int>(w.wildcard_pbps.size()), shape.wildcard_pbps);
    EXPECT_EQ(static_cast<int>(w.requests.size()), shape.requests);
  }
}

TEST(WorkloadTest, AbsoluteAndWildcardPbpsAreDistinctAndWellFormed) {
  workload w = make_workload(11);
  std::set<std::string> absolute;
  for (const std::string& pbp : w.absolute_pbps) {
    std::string path = path_of(pbp);
    ASSERT_TRUE(path.starts_with("/")) << pbp;
    // The only star an absolute PBP may carry is a final "/**".
    if (path.ends_with("/**")) path.resize(path.size() - 3);
    EXPECT_EQ(path.find('*'), std::string::npos) << pbp;
    EXPECT_TRUE(absolute.insert(path.empty() ? "/" : path).second) << "repeated " << pbp;
  }
  std::set<std::string> wildcard;
  for (const std::string& pbp : w.wildcard_pbps) {
    std::string path = path_of(pbp);
    ASSERT_TRUE(path.starts_with("/")) << pbp;
    EXPECT_NE(path.substr(0, path.size() - 3).find('*'), std::string::npos) << pbp;
    EXPECT_TRUE(wildcard.insert(path).second) << "repeated " << pbp;
  }
  std::set<std::string> actions;
  for (const std::string& pbp : w.all_pbps()) actions.insert(pbp.substr(0, pbp.find(':')));
  EXPECT_EQ(actions, (std::set<std::string>{"none", "view", "commit"}));
}

TEST(WorkloadTest, RequestsMixDepthsAndAccesses) {
  workload w = make_workload(5);
  int shallow = 0, deep = 0, view = 0, commit = 0;
  for (const decision_request& request : w.requests) {
    ASSERT_TRUE(request.path.starts_with("/")) << request.path;
    EXPECT_FALSE(request.path.find("//") != std::string::npos) << request.path;
    shallow += depth(request.path) <= 2;
    deep += depth(request.path) >= 6;
    view += request.required == PBP_VIEW_ACCESS;
    commit += request.required == PBP_COMMIT_ACCESS;
  }
  int tenth = static_cast<int>(w.requests.size()) / 10;
  EXPECT_GT(shallow, tenth);
  EXPECT_GT(deep, tenth);
  EXPECT_GT(view, tenth);
  EXPECT_GT(commit, tenth);
}

}  // namespace
}  // namespace zeb_bench
