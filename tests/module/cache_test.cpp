#include <apr_strings.h>
#include <gtest/gtest.h>

#include <string>

#include "apr_pool_test.h"
#include "cache_keys.h"
#include "connection_cache.h"
#include "credentials_cache.h"
#include "scm_requestkey.h"

namespace {

class module_cache : public apr_pool_test {
 protected:
  void SetUp() override {
    apr_pool_test::SetUp();
    ctx_ = static_cast<ctx_data*>(apr_pcalloc(pool_, sizeof(ctx_data)));
    ctx_->pool = pool_;
    apr_pool_create(&ctx_->cache_pool, pool_);
    ctx_->role_stores = zeb::decision::role_stores{};
  }
  // The cached form of a password: its digest keyed with the shared secret.
  const char* digest_of(const char* password) {
    return password ? apr_pstrdup(pool_,
                                  zeb::password_digest(SCM_DEFAULT_SHARED_SECRET, password).c_str())
                    : nullptr;
  }
  void remember(const char* user, const char* password, const char* header, apr_time_t now) {
    remember_credentials(&ctx_->credentials, ctx_->cache_pool, secret_, user, password, "repo1",
                         header, now);
  }
  cache_comparison compare(const char* user, const char* password, const char* repos) {
    return compare_credentials(&ctx_->credentials, secret_, user, password, repos);
  }
  ctx_data* ctx_ = nullptr;
  const char* secret_ = SCM_DEFAULT_SHARED_SECRET;
};

TEST_F(module_cache, ComparisonNeedsEveryCachedFieldEqual) {
  struct Case {
    const char* name;
    const char* cached_user;
    const char* cached_password;
    const char* cached_repos;
    const char* password;  // of the request; null: not compared
    const char* repos;
    cache_comparison expected;
  } cases[] = {
      {"all equal", "alice", "pw", "repo1", "pw", "repo1", {true, false, false, false}},
      {"nothing cached", nullptr, nullptr, nullptr, "pw", "repo1", {false, false, false, false}},
      {"other password", "alice", "pw", "repo1", "pw2", "repo1", {false, false, true, false}},
      {"other repository", "alice", "pw", "repo1", "pw", "repo2", {false, false, false, true}},
      {"password not given", "alice", "pw", "repo1", nullptr, "repo1", {true, false, false, false}},
      {"user cached without password",
       "alice",
       nullptr,
       "repo1",
       nullptr,
       "repo1",
       {true, false, false, false}},
      {"password given, none cached",
       "alice",
       nullptr,
       "repo1",
       "pw",
       "repo1",
       {false, false, false, false}},
      {"no cached repository", "alice", "pw", nullptr, "pw", "repo1", {false, false, false, false}},
      {"everything differs", "bob", "x", "r", "pw", "repo1", {false, true, true, true}},
  };
  for (const auto& c : cases) {
    credentials_cache cached{};
    cached.cached_username = c.cached_user;
    cached.cached_password_digest = digest_of(c.cached_password);
    cached.repos_name = c.cached_repos;
    const cache_comparison got =
        compare_credentials(&cached, SCM_DEFAULT_SHARED_SECRET, "alice", c.password, c.repos);
    EXPECT_EQ(c.expected.okay, got.okay) << c.name;
    EXPECT_EQ(c.expected.user_differs, got.user_differs) << c.name;
    EXPECT_EQ(c.expected.password_differs, got.password_differs) << c.name;
    EXPECT_EQ(c.expected.repos_differs, got.repos_differs) << c.name;
  }
}

TEST_F(module_cache, ClearResetsOnlyWhenAUserIsCached) {
  apr_array_header_t* roles = apr_array_make(pool_, 1, sizeof(void*));
  ctx_->credentials.cached_password_digest = "d";
  ctx_->credentials.repos_name = "repo1";
  ctx_->role_stores.roles = roles;
  ctx_->role_stores.global_access = PBP_VIEW_ACCESS;
  EXPECT_FALSE(clear_connection_cache(ctx_));
  EXPECT_STREQ("d", ctx_->credentials.cached_password_digest);
  EXPECT_EQ(roles, ctx_->role_stores.roles);
  EXPECT_EQ(PBP_VIEW_ACCESS, ctx_->role_stores.global_access);

  remember("alice", "pw", "Basic YWxpY2U6cHc=", 0);
  EXPECT_EQ(1, ctx_->credentials.authenticated_internally);
  EXPECT_STREQ(digest_of("pw"), ctx_->credentials.cached_password_digest);
  EXPECT_TRUE(compare("alice", "pw", "repo1").okay);
  ctx_->service.external_system_id = "sys";
  EXPECT_TRUE(clear_connection_cache(ctx_));
  EXPECT_EQ(nullptr, ctx_->credentials.cached_username);
  EXPECT_EQ(nullptr, ctx_->credentials.cached_password_digest);
  EXPECT_EQ(nullptr, ctx_->credentials.repos_name);
  EXPECT_FALSE(presents_accepted_header(&ctx_->credentials, "Basic YWxpY2U6cHc="));
  EXPECT_EQ(nullptr, ctx_->role_stores.roles);
  EXPECT_EQ(0, ctx_->credentials.authenticated_internally);
  EXPECT_EQ(PBP_UNKNOWN, ctx_->role_stores.global_access);
  EXPECT_STREQ("sys", ctx_->service.external_system_id);
}

TEST_F(module_cache, CachedUserIsCopiedIntoConnectionPool) {
  std::string user = "alice";
  std::string header = "Basic YWxpY2U6cHc=";
  remember(user.c_str(), "pw", header.c_str(), 0);
  user[0] = 'X';
  header[0] = 'X';
  EXPECT_STREQ("alice", ctx_->credentials.cached_username);
  EXPECT_TRUE(presents_accepted_header(&ctx_->credentials, "Basic YWxpY2U6cHc="));
}

TEST_F(module_cache, OnlyTheAcceptedHeaderByteForByteRepeats) {
  struct Case {
    const char* name;
    const char* accepted;  // null: accepted without a header
    const char* presented;
    bool repeats;
  } cases[] = {
      {"same bytes", "Basic YWxpY2U6cHc=", "Basic YWxpY2U6cHc=", true},
      {"one byte differs", "Basic YWxpY2U6cHc=", "Basic YWxpY2U6cHd=", false},
      {"scheme in other case", "Basic YWxpY2U6cHc=", "basic YWxpY2U6cHc=", false},
      {"prefix of the accepted", "Basic YWxpY2U6cHc=", "Basic YWxpY2U6cH", false},
      {"accepted is a prefix", "Basic YWxpY2U6cHc=", "Basic YWxpY2U6cHc=x", false},
      {"no header presented", "Basic YWxpY2U6cHc=", nullptr, false},
      {"none accepted", nullptr, "Basic YWxpY2U6cHc=", false},
  };
  for (const auto& c : cases) {
    clear_connection_cache(ctx_);
    remember("alice", "pw", c.accepted, 0);
    EXPECT_EQ(c.repeats, presents_accepted_header(&ctx_->credentials, c.presented)) << c.name;
  }
}

TEST_F(module_cache, PasswordIsComparedAsItsDigestUnderTheConfiguredSecret) {
  remember("alice", "pw", nullptr, 0);
  // The digest is the cached form, not a password that would match.
  EXPECT_FALSE(compare("alice", digest_of("pw"), "repo1").okay);
  secret_ = "other";
  EXPECT_TRUE(compare("alice", "pw", "repo1").password_differs);
  remember("alice", "pw", nullptr, 0);
  EXPECT_TRUE(compare("alice", "pw", "repo1").okay);
}

TEST_F(module_cache, CacheExpiresAfterTheTimeToLive) {
  constexpr apr_time_t kFilled = apr_time_from_sec(1000);
  struct Case {
    const char* name;
    bool user_cached;
    apr_int64_t ttl;
    apr_time_t now;
    bool expired;
  } cases[] = {
      {"within", true, 5, kFilled + apr_time_from_sec(5) - 1, false},
      {"at the time-to-live", true, 5, kFilled + apr_time_from_sec(5), true},
      {"long after", true, 5, kFilled + apr_time_from_sec(3600), true},
      {"clock went back", true, 5, kFilled - 1, true},
      {"nothing cached", false, 5, kFilled + apr_time_from_sec(3600), false},
  };
  for (const auto& c : cases) {
    clear_connection_cache(ctx_);
    if (c.user_cached) remember("alice", "pw", nullptr, kFilled);
    EXPECT_EQ(c.expired, credentials_expired(&ctx_->credentials, c.ttl, c.now)) << c.name;
  }
}

TEST_F(module_cache, IsValidUserValues) {
  struct Case {
    std::string bytes;
    bool usable;
    int answer;
  } cases[] = {
      {std::string("\0\0\0\0", 4), true, 0},
      {std::string("\1\0\0\0", 4), true, 1},
      {std::string("\2\1\0\0", 4), true, 258},
      {std::string("\xff\xff\xff\xff", 4), true, -1},
      {std::string("\0\0\0\0extra", 9), true, 0},
      {std::string("\0\0\0", 3), false, 0},
      {std::string(), false, 0},
  };
  for (const auto& c : cases) {
    int answer = 99;
    EXPECT_EQ(c.usable, decode_isvaliduser(c.bytes.data(), c.bytes.size(), &answer))
        << c.bytes.size();
    EXPECT_EQ(c.usable ? c.answer : 99, answer);
  }
  for (int value : {0, 1, 2, -5, 0x01020304}) {
    char bytes[4];
    encode_isvaliduser(value, bytes);
    int answer = 0;
    EXPECT_TRUE(decode_isvaliduser(bytes, 4, &answer));
    EXPECT_EQ(value, answer);
  }
  EXPECT_FALSE(decode_isvaliduser(nullptr, 4, nullptr));
}

TEST_F(module_cache, RolePathsUserKey) {
  ctx_->credentials.cached_username = "alice";
  ctx_->service.external_system_id = "exsy1001";
  ctx_->service.scm_listener_url = "http://h:8080/qv-soap/services/ScmListener";
  EXPECT_STREQ(
      "alice:repo1:exsy1001:getrolepaths:56:http%3A//h%3A8080/qv-soap/services/ScmListener",
      get_memcache_user_key(ctx_, "repo1", pool_));
}

TEST(cache_keys, EveryInputOfAnAnswerChangesItsKey) {
  // RFC 4231, test case 2.
  EXPECT_EQ("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
            zeb::password_digest("Jefe", "what do ya want for nothing?"));
  const std::string key = zeb::is_valid_user_key("http://a", "sys", "repo1", "alice", "s", "pw");
  EXPECT_EQ("alice:" + zeb::password_digest("s", "pw") + ":isvaliduser:repo1:sys:http%3A//a", key);
  const std::string others[] = {
      zeb::is_valid_user_key("http://b", "sys", "repo1", "alice", "s", "pw"),
      zeb::is_valid_user_key("http://a", "sys2", "repo1", "alice", "s", "pw"),
      zeb::is_valid_user_key("http://a", "sys", "repo2", "alice", "s", "pw"),
      zeb::is_valid_user_key("http://a", "sys", "repo1", "bob", "s", "pw"),
      zeb::is_valid_user_key("http://a", "sys", "repo1", "alice", "s2", "pw"),
      zeb::is_valid_user_key("http://a", "sys", "repo1", "alice", "s", "pw2"),
      zeb::is_valid_user_key("http://a", nullptr, "repo1", "alice", "s", "pw"),
  };
  for (const std::string& other : others) EXPECT_NE(key, other);
  // A separator inside a name cannot move a field into its neighbour.
  EXPECT_NE(zeb::role_paths_key("http://a", "sys", "b:c", "a"),
            zeb::role_paths_key("http://a", "sys", "c", "a:b"));
  EXPECT_NE(zeb::external_system_id_key("http://a"), zeb::external_system_id_key("http://b"));
}

TEST_F(module_cache, DirConfigBaseUriAndTtl) {
  struct Case {
    const char* dir;
    const char* base_uri;
  } cases[] = {
      {"/", "/"}, {"/svn/", "/svn"}, {"/svn//", "/svn/"}, {"/svn", "/svn"}, {nullptr, nullptr}};
  for (const auto& c : cases) {
    auto* conf = static_cast<authnz_zeb_config_rec*>(
        create_authnz_zeb_dir_config(pool_, const_cast<char*>(c.dir)));
    if (c.base_uri == nullptr) {
      EXPECT_EQ(nullptr, conf->base_uri);
    } else {
      EXPECT_STREQ(c.base_uri, conf->base_uri);
    }
    EXPECT_EQ(nullptr, conf->brimstack_properties_file);
    EXPECT_EQ(nullptr, conf->memcache_server);
    EXPECT_EQ(600, conf->memcache_ttl);
  }
  // Only what memcached reads as a finite, relative expiry passes.
  struct Ttl {
    const char* arg;
    apr_int64_t value;  // 0: refused
  } ttls[] = {{"1", 1},   {"600", 600},   {"2592000", 2592000},
              {"0", 0},   {"2592001", 0}, {"abc", 0},
              {"10m", 0}, {"120s", 0},    {"-5", 0},
              {"+5", 0},  {"  30", 0},    {"30 ", 0},
              {"-", 0},   {"", 0},        {"99999999999999999999", 0}};
  for (const auto& t : ttls) {
    apr_int64_t ttl = 42;
    const char* error = parse_memcache_ttl(t.arg, &ttl, pool_);
    EXPECT_EQ(t.value != 0 ? t.value : 42, ttl) << t.arg;
    EXPECT_EQ(t.value == 0, error != nullptr) << t.arg;
    if (error) {
      EXPECT_EQ(std::string("AuthnzZEBMemcacheTTL '") + t.arg +
                    "' is not a whole number of seconds from 1 to 2592000",
                error);
    }
  }
}

}  // namespace
