#include "method_table.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

namespace {

using zeb::classify_method;
using zeb::method_verdict;

// httpd's standard methods, by method number.
const char* const method_names[] = {"GET",
                                    "PUT",
                                    "POST",
                                    "DELETE",
                                    "CONNECT",
                                    "OPTIONS",
                                    "TRACE",
                                    "PATCH",
                                    "PROPFIND",
                                    "PROPPATCH",
                                    "MKCOL",
                                    "COPY",
                                    "MOVE",
                                    "LOCK",
                                    "UNLOCK",
                                    "VERSION-CONTROL",
                                    "CHECKOUT",
                                    "UNCHECKOUT",
                                    "CHECKIN",
                                    "UPDATE",
                                    "LABEL",
                                    "REPORT",
                                    "MKWORKSPACE",
                                    "MKACTIVITY",
                                    "BASELINE-CONTROL",
                                    "MERGE"};

struct expectation {
  method_verdict verdict;
  pbp_access_t action = PBP_NO_ACCESS;
  access_level_t with_path = ACCESS_SOMEWHERE;
  access_level_t without_path = ACCESS_SOMEWHERE;
};

constexpr auto view = PBP_VIEW_ACCESS;
constexpr auto commit = PBP_COMMIT_ACCESS;

const std::map<std::string, expectation> expected_by_name = {
    {"GET", {method_verdict::check, view, ACCESS_NON_RECURSIVE}},
    {"PROPFIND", {method_verdict::check, view, ACCESS_NON_RECURSIVE}},
    {"REPORT", {method_verdict::check, view, ACCESS_NON_RECURSIVE}},
    {"PUT", {method_verdict::check, commit, ACCESS_NON_RECURSIVE}},
    {"PROPPATCH", {method_verdict::check, commit, ACCESS_NON_RECURSIVE}},
    {"MKCOL", {method_verdict::check, commit, ACCESS_NON_RECURSIVE}},
    {"LOCK", {method_verdict::check, commit, ACCESS_NON_RECURSIVE}},
    {"UNLOCK", {method_verdict::check, commit, ACCESS_NON_RECURSIVE}},
    {"CHECKOUT", {method_verdict::check, commit, ACCESS_NON_RECURSIVE}},
    {"MKACTIVITY", {method_verdict::check, commit, ACCESS_NON_RECURSIVE}},
    {"POST", {method_verdict::check, commit, ACCESS_RECURSIVE}},
    {"DELETE", {method_verdict::check, commit, ACCESS_RECURSIVE}},
    {"OPTIONS", {method_verdict::check, PBP_NO_ACCESS, ACCESS_SOMEWHERE}},
    {"MERGE", {method_verdict::check, commit, ACCESS_SOMEWHERE}},
    {"COPY", {method_verdict::copy}},
    {"MOVE", {method_verdict::move}},
};

TEST(role_paths_method_table, every_method_number) {
  for (int number = -2; number <= 70; ++number) {
    const bool standard = number >= 0 && number < 26;
    const std::string name = standard ? method_names[number] : "#" + std::to_string(number);
    const auto found = expected_by_name.find(name);
    const expectation expected =
        found != expected_by_name.end() ? found->second : expectation{method_verdict::refuse};
    for (bool path_known : {true, false}) {
      const auto got = classify_method(number, std::nullopt, path_known);
      const std::string where = name + (path_known ? " with path" : " without path");
      EXPECT_EQ(got.verdict, expected.verdict) << where;
      if (expected.verdict != method_verdict::check) continue;
      EXPECT_EQ(got.action, expected.action) << where;
      EXPECT_EQ(got.level, path_known ? expected.with_path : expected.without_path) << where;
    }
  }
  EXPECT_EQ(classify_method(1000, std::nullopt, true).verdict, method_verdict::refuse);
}

TEST(role_paths_method_table, get_subrequest_needs_what_its_parent_needs) {
  for (int parent = 0; parent < 26; ++parent) {
    const std::string name = method_names[parent];
    const bool reading = name == "GET" || name == "PROPFIND" || name == "REPORT";
    for (bool path_known : {true, false}) {
      const auto got = classify_method(0, parent, path_known);
      EXPECT_EQ(got.verdict, method_verdict::check) << name;
      EXPECT_EQ(got.action, reading ? PBP_VIEW_ACCESS : PBP_COMMIT_ACCESS) << name;
      EXPECT_EQ(got.level, path_known ? ACCESS_NON_RECURSIVE : ACCESS_SOMEWHERE) << name;
    }
  }
  // Subrequests of other methods go by their own method.
  EXPECT_EQ(classify_method(8, 1, true).action, PBP_VIEW_ACCESS);
  EXPECT_EQ(classify_method(6, 0, true).verdict, method_verdict::refuse);
}

}  // namespace
