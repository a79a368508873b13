#include "method_table.h"

#include <httpd.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using zeb::classify_method;
using zeb::method_classification;
using zeb::method_verdict;

// httpd's standard methods by what they do to a repository; together they
// name every method number below M_INVALID exactly once.
const std::vector<int> reading = {M_GET, M_PROPFIND, M_REPORT, M_OPTIONS};
const std::vector<int> changing_a_node = {M_PUT,    M_PROPPATCH, M_MKCOL,      M_LOCK,
                                          M_UNLOCK, M_CHECKOUT,  M_MKACTIVITY, M_MERGE};
const std::vector<int> changing_a_tree = {M_POST, M_DELETE, M_COPY, M_MOVE};
const std::vector<int> not_served = {M_CONNECT,     M_TRACE,           M_PATCH,  M_VERSION_CONTROL,
                                     M_UNCHECKOUT,  M_CHECKIN,         M_UPDATE, M_LABEL,
                                     M_MKWORKSPACE, M_BASELINE_CONTROL};
// Numbers httpd gives no standard method: extension methods and garbage.
const std::vector<int> unknown = {-2, -1, M_INVALID, M_INVALID + 1, METHODS - 1, METHODS, 1000};

std::vector<int> join(std::initializer_list<std::vector<int>> groups) {
  std::vector<int> all;
  for (const auto& g : groups) all.insert(all.end(), g.begin(), g.end());
  return all;
}

struct property {
  const char* name;
  std::vector<int> methods;
  std::function<bool(const method_classification&, bool path_known)> holds;
};

bool is_check(const method_classification& c) {
  return c.verdict == method_verdict::check;
}
bool is_copy_or_move(const method_classification& c) {
  return c.verdict == method_verdict::copy || c.verdict == method_verdict::move;
}

const property properties[] = {
    {"reading needs at most view, and on nothing wider than the path", reading,
     [](const method_classification& c, bool path_known) {
       return is_check(c) && c.action <= PBP_VIEW_ACCESS &&
              c.level <= (path_known ? ACCESS_NON_RECURSIVE : ACCESS_SOMEWHERE);
     }},
    {"changing a node needs commit", changing_a_node,
     [](const method_classification& c, bool) {
       return is_check(c) && c.action == PBP_COMMIT_ACCESS;
     }},
    {"changing a tree needs commit on all of it", changing_a_tree,
     [](const method_classification& c, bool path_known) {
       return (is_check(c) || is_copy_or_move(c)) && c.action == PBP_COMMIT_ACCESS &&
              (!path_known || c.level == ACCESS_RECURSIVE);
     }},
    {"a check without a path asks only for some permission",
     join({reading, changing_a_node, {M_POST, M_DELETE}}),
     [](const method_classification& c, bool path_known) {
       return path_known || c.level == ACCESS_SOMEWHERE;
     }},
    {"methods not served, and numbers of no standard method, refuse", join({not_served, unknown}),
     [](const method_classification& c, bool) { return c.verdict == method_verdict::refuse; }},
};

TEST(role_paths_method_table, every_standard_method_is_in_one_group) {
  std::vector<int> seen(M_INVALID, 0);
  for (int m : join({reading, changing_a_node, changing_a_tree, not_served})) ++seen.at(m);
  for (int m = 0; m < M_INVALID; ++m) EXPECT_EQ(seen[m], 1) << "method number " << m;
}

TEST(role_paths_method_table, properties_hold) {
  for (const auto& p : properties) {
    for (int method : p.methods) {
      for (bool path_known : {true, false}) {
        EXPECT_TRUE(p.holds(classify_method(method, std::nullopt, path_known), path_known))
            << p.name << ": method number " << method << (path_known ? " with" : " without")
            << " a path";
      }
    }
  }
}

TEST(role_paths_method_table, get_subrequest_needs_what_its_parent_needs) {
  for (int parent = 0; parent < M_INVALID; ++parent) {
    const bool parent_reads = parent == M_GET || parent == M_PROPFIND || parent == M_REPORT;
    for (bool path_known : {true, false}) {
      const auto got = classify_method(M_GET, parent, path_known);
      EXPECT_EQ(got.verdict, method_verdict::check) << parent;
      EXPECT_EQ(got.action, parent_reads ? PBP_VIEW_ACCESS : PBP_COMMIT_ACCESS) << parent;
      EXPECT_EQ(got.level, path_known ? ACCESS_NON_RECURSIVE : ACCESS_SOMEWHERE) << parent;
    }
  }
  // Subrequests of other methods go by their own method.
  EXPECT_EQ(classify_method(M_PROPFIND, M_PUT, true).action, PBP_VIEW_ACCESS);
  EXPECT_EQ(classify_method(M_TRACE, M_GET, true).verdict, method_verdict::refuse);
}

}  // namespace
