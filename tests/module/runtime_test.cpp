#include <gtest/gtest.h>

#include <apr_strings.h>

#include <map>
#include <string>

#include "apr_pool_test.h"
#include "runtime_lending.h"
#include "soap_runtime_settings.h"

namespace {

class module_runtime : public apr_pool_test {
 protected:
  void SetUp() override {
    apr_pool_test::SetUp();
    soap_init(&soap_);
  }
  void TearDown() override {
    soap_done(&soap_);
    apr_pool_test::TearDown();
  }
  apr_hash_t* props(const std::map<std::string, std::string>& values) {
    apr_hash_t* h = apr_hash_make(pool_);
    for (const auto& [k, v] : values) {
      apr_hash_set(h, apr_pstrdup(pool_, k.c_str()), APR_HASH_KEY_STRING,
                   apr_pstrdup(pool_, v.c_str()));
    }
    return h;
  }
  struct soap soap_;
};

TEST_F(module_runtime, ProxySettings) {
  struct Case {
    std::map<std::string, std::string> values;
    const char* host;
    int port;
    const char* user;
    const char* password;
  } cases[] = {
      {{}, nullptr, -1, nullptr, nullptr},
      {{{"dwmain.integration.http_proxy_port", "3128"}}, nullptr, -1, nullptr, nullptr},
      {{{"dwmain.integration.http_proxy_host", "proxy"}}, "proxy", 8080, nullptr, nullptr},
      {{{"dwmain.integration.http_proxy_host", "proxy"},
        {"dwmain.integration.http_proxy_port", "3128"},
        {"dwmain.integration.http_proxy_username", "u"},
        {"dwmain.integration.http_proxy_password", "p"}},
       "proxy",
       3128,
       "u",
       "p"},
  };
  for (const auto& c : cases) {
    // What an earlier connection set on a runtime that waited for this one.
    soap_.proxy_host = "stale";
    soap_.proxy_port = -1;
    soap_.proxy_userid = "stale";
    soap_.proxy_passwd = "stale";
    apply_proxy_settings(&soap_, props(c.values));
    EXPECT_STREQ(c.host, soap_.proxy_host);
    EXPECT_EQ(c.port, soap_.proxy_port);
    EXPECT_STREQ(c.user, soap_.proxy_userid);
    EXPECT_STREQ(c.password, soap_.proxy_passwd);
  }
}

TEST_F(module_runtime, Timeouts) {
  struct Case {
    const char* value;  // null: property absent
    int expected;
    bool defaulted;
  } cases[] = {
      {nullptr, 60, true}, {"5", 5, false}, {"0", 0, false}, {"soon", 0, false}, {"-3", -3, false}};
  for (const auto& c : cases) {
    std::map<std::string, std::string> values;
    if (c.value != nullptr) values["svn.authnz.timeout"] = c.value;
    bool defaulted = !c.defaulted;
    EXPECT_EQ(c.expected, apply_timeouts(&soap_, props(values), &defaulted));
    EXPECT_EQ(c.defaulted, defaulted);
    EXPECT_EQ(c.expected, soap_.recv_timeout);
    EXPECT_EQ(c.expected, soap_.send_timeout);
    EXPECT_EQ(c.expected, soap_.connect_timeout);
  }
}

TEST_F(module_runtime, ListenerUrl) {
  struct Case {
    std::map<std::string, std::string> values;
    const char* url;
  } cases[] = {
      {{}, "http://localhost:8080/qv-soap/services/ScmListener"},
      {{{"dwmain.integration.listener_ssl", "TRUE"},
        {"dwmain.integration.listener_host", "scm.example"},
        {"dwmain.integration.listener_port", "8443"}},
       "https://scm.example:8443/qv-soap/services/ScmListener"},
      {{{"dwmain.integration.listener_ssl", "yes"}},
       "http://localhost:8080/qv-soap/services/ScmListener"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.url, make_scmlistener_url(props(c.values), pool_));
}

TEST_F(module_runtime, SoapActionCannotReshapeItsHeader) {
  struct Case {
    const char* user;
    const char* action;
  } cases[] = {
      {"alice", "alice:ScmListener"},
      {"j\xc3\xb6rg", "j\xc3\xb6rg:ScmListener"},
      {"a\r\nContent-Length: 0", "a??Content-Length: 0:ScmListener"},
      {"tab\there\x7f", "tab?here?:ScmListener"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.action, make_soap_action(c.user, pool_));
}

TEST_F(module_runtime, TlsRuntimesAreInterchangeableOnlyUnderEqualTlsSettings) {
  using values = std::map<std::string, std::string>;
  const values base = {{"dwmain.integration.listener_host", "scm.example"},
                       {"dwmain.integration.listener_ssl_cafile", "/etc/ca.pem"}};
  const std::string key = tls_runtime_key(props(base), pool_);
  struct Case {
    const char* name;
    values changes;
    bool same;
  } cases[] = {
      {"port, secret and timeout",
       {{"dwmain.integration.listener_port", "1"}, {"svn.authnz.timeout", "3"}},
       true},
      {"host", {{"dwmain.integration.listener_host", "other"}}, false},
      {"CA file", {{"dwmain.integration.listener_ssl_cafile", "/etc/other.pem"}}, false},
      {"CA directory", {{"dwmain.integration.listener_ssl_capath", "/etc/ca"}}, false},
      {"host check", {{"dwmain.integration.listener_ssl_verify_host", "false"}}, false},
      {"empty CA directory", {{"dwmain.integration.listener_ssl_capath", ""}}, false},
  };
  for (const auto& c : cases) {
    values changed = base;
    for (const auto& [name, value] : c.changes) changed[name] = value;
    EXPECT_EQ(c.same, key == tls_runtime_key(props(changed), pool_)) << c.name;
  }
}

TEST_F(module_runtime, FewTlsRuntimesWaitAndOnlyForTheirKey) {
  // Only kept and handed back, never used: stand-ins will do.
  char places[kIdleRuntimes + 1];
  auto runtime = [&](std::size_t i) { return reinterpret_cast<struct soap*>(&places[i]); };
  for (std::size_t i = 0; i <= kIdleRuntimes; ++i) {
    EXPECT_EQ(i < kIdleRuntimes, keep_idle_runtime("a", runtime(i)));
  }
  EXPECT_EQ(nullptr, take_idle_runtime("b"));
  for (std::size_t i = 0; i < kIdleRuntimes; ++i) {
    struct soap* taken = take_idle_runtime("a");
    EXPECT_TRUE(taken >= runtime(0) && taken < runtime(kIdleRuntimes));
  }
  EXPECT_EQ(nullptr, take_idle_runtime("a"));
}

}  // namespace
