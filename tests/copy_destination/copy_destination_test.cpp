// Destination headers of COPY and MOVE: which path they name, whether it
// lies in the location before mod_dav_svn splits it, and whether the
// Overwrite header lets an existing destination be replaced.
#include "copy_destination.h"
#include "location_path.h"

#include <gtest/gtest.h>

#include "apr_pool_test.h"

namespace {

class CopyDestinationTest : public apr_pool_test {};

TEST_F(CopyDestinationTest, PathOfTheHeader) {
  struct {
    const char* header;
    destination_status status;
    const char* path;
  } cases[] = {
      {"http://h/svn/repo1/branches/b1", destination_status::ok, "/svn/repo1/branches/b1"},
      {"https://other.example:8443/svn/r/a%20b", destination_status::ok, "/svn/r/a%20b"},
      {"/svn/repo1/x?query#frag", destination_status::ok, "/svn/repo1/x"},
      {"http://h", destination_status::no_path, nullptr},
      {"", destination_status::no_path, nullptr},
      {"http://h:port/x", destination_status::unparsable, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    const char* path = nullptr;
    EXPECT_EQ(destination_uri_path(c.header, &path, pool_), c.status);
    if (c.path != nullptr) {
      EXPECT_STREQ(path, c.path);
    }
  }
}

TEST_F(CopyDestinationTest, PathLiesWithinTheLocation) {
  struct {
    const char* path;
    const char* base;
    bool within;
  } cases[] = {
      {"/svn/repo1/x", "/svn", true},  {"/svn", "/svn", true},           {"/svn/", "/svn", true},
      {"/svn/repo1/x", "/svn/", true}, {"/svnx/repo1/x", "/svn", false}, {"/sv", "/svn", false},
      {"/elsewhere/x", "/svn", false}, {"/anything", "/", true},         {"/svn/x", nullptr, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lies_within(c.path, c.base), c.within)
        << c.path << " in " << (c.base ? c.base : "(none)");
  }
}

TEST_F(CopyDestinationTest, OverwriteHeaderKeepsDestinationOnlyWhenFalse) {
  struct {
    const char* overwrite;
    bool overwrites;
  } cases[] = {
      {nullptr, true}, {"T", true},  {"t", true},     {"F", false},
      {"f", false},    {"FF", true}, {"false", true}, {"", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(overwrites_destination(c.overwrite), c.overwrites)
        << (c.overwrite ? c.overwrite : "(absent)");
  }
}

}  // namespace
