// What a REPORT body names, as the module reads it before mod_dav_svn does.
#include "report_paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "apr_pool_test.h"

namespace {

class ReportPathsTest : public apr_pool_test {};

std::vector<std::string> paths_of(const report_body_t& body) {
  std::vector<std::string> paths;
  for (int i = 0; i < body.paths->nelts; ++i)
    paths.emplace_back(APR_ARRAY_IDX(body.paths, i, const char*));
  return paths;
}

TEST_F(ReportPathsTest, ReportsAndThePathsTheyName) {
  struct {
    const char* body;
    report_kind kind;
    std::vector<std::string> paths;
    bool descendants;
  } cases[] = {
      {"<S:file-revs-report xmlns:S=\"svn:\"><S:path>a/b</S:path></S:file-revs-report>",
       report_kind::file_revs,
       {"a/b"},
       false},
      {"<x:mergeinfo-report xmlns:x=\"svn:\"><x:path>a</x:path><x:path/>"
       "<x:include-descendants>no</x:include-descendants></x:mergeinfo-report>",
       report_kind::mergeinfo,
       {"a", ""},
       true},
      {"<S:update-report xmlns:S=\"svn:\"><S:src-path>http://h/r</S:src-path><S:entry rev=\"1\"/>"
       "<S:entry rev=\"1\">x/../y</S:entry><S:missing>z</S:missing>"
       "<S:update-target>t</S:update-target></S:update-report>",
       report_kind::update,
       {"", "x/../y", "z", "t"},
       false},
      // Elements of other namespaces name nothing.
      {"<S:get-deleted-rev-report xmlns:S=\"svn:\" xmlns:o=\"other:\"><o:path>a</o:path>"
       "<S:path>b</S:path></S:get-deleted-rev-report>",
       report_kind::deleted_rev,
       {"b"},
       false},
      {"<S:log-report xmlns:S=\"svn:\"><S:path>a</S:path></S:log-report>",
       report_kind::other,
       {},
       false},
      {"<file-revs-report><path>a</path></file-revs-report>", report_kind::other, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    report_body_t body;
    ASSERT_TRUE(read_report_body(&body, c.body, std::strlen(c.body), pool_));
    EXPECT_EQ(body.kind, c.kind);
    EXPECT_EQ(paths_of(body), c.paths);
    EXPECT_EQ(body.descendants, c.descendants);
  }
  report_body_t body;
  EXPECT_FALSE(read_report_body(&body, "<S:file-revs", 12, pool_));
}

TEST_F(ReportPathsTest, PlainRelativePaths) {
  struct {
    const char* path;
    bool plain;
  } cases[] = {
      {"", true},       {"a", true},   {"a/b.c", true}, {"..a/b..", true},
      {"/a", false},    {"a/", false}, {"a//b", false}, {".", false},
      {"a/./b", false}, {"..", false}, {"a/..", false}, {"../a", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_plain_relpath(c.path), c.plain) << c.path;
  }
}

TEST_F(ReportPathsTest, JoinedLikeModDavSvn) {
  EXPECT_STREQ(join_report_path("/trunk", "a/b", pool_), "/trunk/a/b");
  EXPECT_STREQ(join_report_path("/", "a", pool_), "/a");
  EXPECT_STREQ(join_report_path("/trunk", "", pool_), "/trunk");
  EXPECT_STREQ(join_report_path("/trunk", "/tags/x", pool_), "/trunk/tags/x");
  EXPECT_STREQ(join_report_path("/trunk", "/", pool_), "/trunk");
}

TEST_F(ReportPathsTest, MergeinfoItemsThatAreTurnedDownAreDropped) {
  const std::string head = "<S:mergeinfo-report xmlns:S=\"svn:\">\n";
  const auto item = [](const std::string& path) {
    return "<S:mergeinfo-item>\n<S:mergeinfo-path>" + path +
           "</S:mergeinfo-path>\n<S:mergeinfo-info>/b:1</S:mergeinfo-info>\n</S:mergeinfo-item>";
  };
  const std::string tail = "</S:mergeinfo-report>\n";
  const auto keep = [](const std::string& path) {
    return path.find("hidden") == std::string::npos;
  };
  struct {
    std::string text;
    std::string kept;
  } cases[] = {
      {head + item("a") + item("hidden/x") + item("b") + tail, head + item("a") + item("b") + tail},
      {head + tail, head + tail},
      // Read back as mod_dav_svn escapes it before it is judged.
      {head + item("x&amp;hidden") + item("a&lt;b") + tail, head + item("a&lt;b") + tail},
      {head + item("a&#x2F;b") + tail, head + tail},
      {head + "<S:mergeinfo-item><S:mergeinfo-info>/b:1</S:mergeinfo-info></S:mergeinfo-item>" +
           tail,
       head + tail},
      {head + item("a") + "<S:mergeinfo-item>\n<S:mergeinfo-path>a", head + item("a")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(keep_mergeinfo_items(c.text, keep), c.kept) << c.text;
  }
}

}  // namespace
