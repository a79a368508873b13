#include <apr_file_io.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "apr_pool_test.h"
#include "properties_check.h"
#include "properties_file.h"

namespace {

using module_pool = apr_pool_test;

using Props = std::map<std::string, std::string>;

class module_properties : public module_pool {
 protected:
  // Parses text written to a temporary file; the status of reading it.
  apr_status_t parse(const std::string& text, Props* out) {
    char path[] = "/tmp/zeb-props-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(static_cast<ssize_t>(text.size()), write(fd, text.data(), text.size()));
    close(fd);
    apr_status_t rv = read_file(path, out);
    unlink(path);
    return rv;
  }

  apr_status_t read_file(const char* path, Props* out) {
    apr_file_t* file = nullptr;
    EXPECT_EQ(APR_SUCCESS, apr_file_open(&file, path, APR_FOPEN_READ | APR_FOPEN_BUFFERED,
                                         APR_FPROT_OS_DEFAULT, pool_));
    apr_hash_t* props = apr_hash_make(pool_);
    const apr_status_t rv = read_properties(props, file, pool_);
    apr_file_close(file);
    for (apr_hash_index_t* hi = apr_hash_first(pool_, props); hi; hi = apr_hash_next(hi)) {
      const void* key;
      void* value;
      apr_hash_this(hi, &key, nullptr, &value);
      (*out)[static_cast<const char*>(key)] = static_cast<const char*>(value);
    }
    return rv;
  }
};

TEST_F(module_pool, TrimKeepsInnerTextAndLastCharacterOfBlankStretch) {
  struct Case {
    std::string in;
    size_t len;
    std::string out;
  } cases[] = {
      {"  abc  ", 7, "abc"}, {"\tvalue\r\n", 8, "value"},
      {"a b", 3, "a b"},     {"abcdef", 3, "abc"},
      {"  x  yz", 5, "x"},   {"   ", 3, " "},
      {" \r\n", 3, "\n"},    {"", 0, ""},
      {"abc", 0, ""},        {"z", 1, "z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.out, trim(c.in.c_str(), c.len, pool_)) << "input '" << c.in << "' len " << c.len;
  }
}

TEST_F(module_properties, ParsesLines) {
  struct Case {
    const char* name;
    std::string text;
    Props expected;
  } cases[] = {
      {"plain", "a=1\nb=2\n", {{"a", "1"}, {"b", "2"}}},
      {"second equals sign stays in value", "url=http://h/?x=y\n", {{"url", "http://h/?x=y"}}},
      {"spaces around name and value", "  name  =  some value \t\n", {{"name", "some value"}}},
      {"carriage return", "k=v\r\n", {{"k", "v"}}},
      {"comment in first column", "#k=v\nx=1\n", {{"x", "1"}}},
      {"indented hash is no comment", "  #k=v\n", {{"#k", "v"}}},
      {"line without equals ignored", "garbage\nk=v\n", {{"k", "v"}}},
      {"empty value ignored", "k=\nj=  \r\n", {}},
      {"empty value at end of file kept", "k=", {{"k", ""}}},
      {"later line wins", "k=1\nk=2\n", {{"k", "2"}}},
      {"names are case sensitive", "K=1\nk=2\n", {{"K", "1"}, {"k", "2"}}},
      {"colon does not separate", "a:b=c\n", {{"a:b", "c"}}},
      {"no final newline", "a=1\nb=2", {{"a", "1"}, {"b", "2"}}},
      {"empty file", "", {}},
      {"long value keeps its tail, which injects no key",
       "k=" + std::string(1021, 'x') + "y=z\nj=1\n",
       {{"k", std::string(1021, 'x') + "y=z"}, {"j", "1"}}},
      {"line of several read chunks, no final newline",
       "k=" + std::string(5000, 'x'),
       {{"k", std::string(5000, 'x')}}},
      // A NUL ends a line's text, never the line: the next line stays a line.
      {"NUL within a line", std::string("k=v\0tail\nj=1\n", 14), {{"k", "v"}, {"j", "1"}}},
      {"NUL in a long line's later chunk",
       "k=" + std::string(1500, 'x') + std::string("\0t\nj=1\n", 7),
       {{"k", std::string(1500, 'x')}, {"j", "1"}}},
      {"NUL before the value", std::string("k=\0v\nj=1\n", 10), {{"j", "1"}}},
  };
  for (const auto& c : cases) {
    Props got;
    EXPECT_EQ(APR_SUCCESS, parse(c.text, &got)) << c.name;
    EXPECT_EQ(c.expected, got) << c.name;
  }
}

TEST_F(module_properties, ReadErrorIsReported) {
  Props got;
  // A directory opens for reading but every read fails.
  EXPECT_NE(APR_SUCCESS, read_file("/tmp", &got));
}

TEST_F(module_pool, TypedAccessors) {
  apr_hash_t* props = apr_hash_make(pool_);
  const char* values[][2] = {{"t1", "true"},  {"t2", "TRUE"}, {"t3", "TrUe"}, {"t4", "on"},
                             {"t5", "1"},     {"f1", "ON"},   {"f2", "yes"},  {"f3", "0"},
                             {"f4", "false"}, {"f5", ""},     {"n1", "42"},   {"n2", " -7x"},
                             {"n3", "abc"}};
  for (auto& v : values) apr_hash_set(props, v[0], APR_HASH_KEY_STRING, v[1]);

  for (const char* name : {"t1", "t2", "t3", "t4", "t5"}) {
    EXPECT_EQ(1, get_boolean_property(props, name, 0)) << name;
  }
  for (const char* name : {"f1", "f2", "f3", "f4", "f5"}) {
    EXPECT_EQ(0, get_boolean_property(props, name, 1)) << name;
  }
  EXPECT_EQ(1, get_boolean_property(props, "absent", 1));
  EXPECT_EQ(0, get_boolean_property(props, "absent", 0));

  EXPECT_EQ(42, get_int_property(props, "n1", 60));
  EXPECT_EQ(-7, get_int_property(props, "n2", 60));
  EXPECT_EQ(0, get_int_property(props, "n3", 60));
  EXPECT_EQ(60, get_int_property(props, "absent", 60));

  EXPECT_STREQ("42", get_property(props, "n1", "d"));
  EXPECT_STREQ("d", get_property(props, "absent", "d"));
  EXPECT_EQ(nullptr, get_property(props, "absent", nullptr));
}

// The start-up check of a location's properties file; {F} stands for the
// file's name.
TEST_F(module_pool, StartUpWarningsAboutPropertiesFile) {
  const std::string base = "subversion.repository_base=/var/lib/svn\n";
  const std::string no_base =
      "No subversion.repository_base in {F}: <Location /svn> cannot read "
      "the external system id from its .scm.properties";
  const zeb::request_user nobody = {65534, 65534, "nobody"};
  struct Case {
    const char* name;
    std::string text;
    mode_t mode;
    const zeb::request_user* children;
    std::vector<std::string> expected;
  } cases[] = {
      {"sound",
       base + "svn.authnz.timeout=5\ndwmain.integration.listener_ssl_cafile=/ca\n",
       0644,
       nullptr,
       {}},
      {"id from the service needs no base",
       "subversion_branding.repository_uri=/SVN\n",
       0644,
       nullptr,
       {}},
      {"branding names another location",
       "subversion_branding.repository_uri=/other\n",
       0644,
       nullptr,
       {no_base}},
      {"empty file", "", 0644, nullptr, {no_base}},
      {"typing mistakes, sorted, each with its nearest key",
       base + "svn.authnz.timeot=5\ndwmain.integration.listener_prot=80\n",
       0644,
       nullptr,
       {"Unknown key dwmain.integration.listener_prot in {F} (did you mean "
        "dwmain.integration.listener_port?)",
        "Unknown key svn.authnz.timeot in {F} (did you mean svn.authnz.timeout?)"}},
      {"nothing near",
       base + "svn.authnz.cache_everything=1\n",
       0644,
       nullptr,
       {"Unknown key svn.authnz.cache_everything in {F}"}},
      {"the mistyped base itself",
       "subversion.repository_bse=/x\n",
       0644,
       nullptr,
       {no_base,
        "Unknown key subversion.repository_bse in {F} (did you mean "
        "subversion.repository_base?)"}},
      {"keys outside the module's prefixes are the server's",
       base + "dwmain.integration.mail_host=m\ndwmain.integration.securityx=1\nsvn.other=1\n",
       0644,
       nullptr,
       {}},
      {"unreadable for the children",
       base,
       0600,
       &nobody,
       {"AuthnzZEBPropertiesFile {F} cannot be read by user nobody, as whom httpd serves "
        "requests"}},
      {"readable for the children", base, 0644, &nobody, {}},
  };
  for (const auto& c : cases) {
    char path[] = "/tmp/zeb-props-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(static_cast<ssize_t>(c.text.size()), write(fd, c.text.data(), c.text.size()));
    fchmod(fd, c.mode);
    close(fd);
    std::vector<std::string> expected;
    for (std::string line : c.expected) expected.push_back(line.replace(line.find("{F}"), 3, path));
    EXPECT_EQ(expected, zeb::properties_file_warnings(path, "/svn", c.children, pool_)) << c.name;
    unlink(path);
  }
  EXPECT_EQ(std::vector<std::string>{"AuthnzZEBPropertiesFile /nonexistent/p cannot be read: No "
                                     "such file or directory"},
            zeb::properties_file_warnings("/nonexistent/p", "/svn", nullptr, pool_));
}

// Mode bits of the file and of each directory above it, for a user who owns
// neither; "group" rows give the user the file's group.
TEST_F(module_pool, ReadableByTheChildrensUser) {
  struct Case {
    mode_t dir_mode;
    mode_t file_mode;
    bool in_group;
    bool readable;
  } cases[] = {{0755, 0644, false, true},  {0755, 0640, false, false}, {0755, 0640, true, true},
               {0700, 0644, false, false}, {0750, 0640, true, true},   {0711, 0604, false, true},
               {0755, 0400, true, false}};
  for (const auto& c : cases) {
    char dir[] = "/tmp/zeb-dir-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string file = std::string(dir) + "/p";
    close(open(file.c_str(), O_CREAT | O_WRONLY, 0600));
    chmod(file.c_str(), c.file_mode);
    chmod(dir, c.dir_mode);
    struct stat st;
    ASSERT_EQ(0, stat(file.c_str(), &st));
    const zeb::request_user user = {65534, c.in_group ? st.st_gid : 65534, "nobody"};
    EXPECT_EQ(c.readable, zeb::readable_by(file.c_str(), user))
        << std::oct << c.dir_mode << " " << c.file_mode << " " << c.in_group;
    unlink(file.c_str());
    rmdir(dir);
  }
}

}  // namespace
