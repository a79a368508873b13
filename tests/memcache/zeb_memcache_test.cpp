#include "zeb_memcache.h"

#include <apr_general.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <libmemcached/memcached.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "memcached_process.h"
#include "zeb_memcache_lending.h"
#include "zeb_memcache_servers.h"

namespace {

using zeb_test::MemcachedProcess;

constexpr char kPrefix[] = "mod_authnz_zeb";

class AprEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // As httpd does: a write to a connection memcached has closed must fail
    // with EPIPE, not end the process.
    signal(SIGPIPE, SIG_IGN);
    ASSERT_EQ(apr_initialize(), APR_SUCCESS);
  }
  void TearDown() override { apr_terminate(); }
};
::testing::Environment* const apr_environment =
    ::testing::AddGlobalTestEnvironment(new AprEnvironment);

class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(apr_pool_create(&pool_, nullptr), APR_SUCCESS); }
  void TearDown() override { apr_pool_destroy(pool_); }

  std::string key_of(const char* userkey, const char* prefix) {
    const char* key = nullptr;
    apr_size_t len = 0;
    EXPECT_EQ(memcache_cache_genkey(userkey, prefix, &key, &len, pool_), APR_SUCCESS);
    EXPECT_EQ(len, 32u);
    return key ? std::string(key) : std::string();
  }

  apr_pool_t* pool_ = nullptr;
};

// ---- keys and addresses: no server needed ----

using memcache_keys = PoolTest;

TEST_F(memcache_keys, KnownDigests) {
  // Expected values from: printf '%s' '|AUTHNZ_ZEB|<prefix>|<userkey>|' | md5sum
  struct Case {
    const char* userkey;
    const char* prefix;
    const char* key;
  };
  const Case cases[] = {
      {"u", "p", "5d29dacfcad453f435ef4a65160dda79"},
      {"", "", "cff989f2c400b1c2a8e45bbe75053dce"},
      {"isvaliduser:alice:repo", kPrefix, "61b2ab8bbae2679c30262b9223a6c297"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(key_of(c.userkey, c.prefix), c.key) << c.prefix << "|" << c.userkey;
  }
}

TEST_F(memcache_keys, StableAndSensitiveToEveryCharacter) {
  const std::string userkey = "role-paths:alice:Repo One";
  const std::string key = key_of(userkey.c_str(), kPrefix);
  EXPECT_EQ(key_of(userkey.c_str(), kPrefix), key);
  for (size_t i = 0; i < userkey.size(); ++i) {
    std::string changed = userkey;
    changed[i] ^= 0x01;
    EXPECT_NE(key_of(changed.c_str(), kPrefix), key) << "changed position " << i;
  }
  EXPECT_NE(key_of(kPrefix, userkey.c_str()), key) << "prefix and user key swapped";
}

TEST_F(memcache_keys, MissingUserKeyOrPrefixIsRefusedByEveryOperation) {
  const char* key = nullptr;
  char* data = nullptr;
  zeb_memcache_t* mc = nullptr;
  const char* nothing = nullptr;
  for (auto [userkey, prefix] : {std::pair{nothing, kPrefix}, std::pair{"u", nothing}}) {
    EXPECT_EQ(memcache_cache_genkey(userkey, prefix, &key, nullptr, pool_), ZEB_MEMCACHE_EKEY);
    EXPECT_EQ(memcache_cache_set(mc, userkey, prefix, "v", 1, 0, pool_), ZEB_MEMCACHE_EKEY);
    EXPECT_EQ(memcache_cache_get(mc, userkey, prefix, &data, nullptr, pool_), ZEB_MEMCACHE_EKEY);
  }
}

using memcache_address = PoolTest;

TEST_F(memcache_address, ParsesHostAndPort) {
  struct Case {
    const char* address;
    apr_status_t rv;
    const char* host;
    apr_port_t port;
  };
  const Case cases[] = {
      {"127.0.0.1:2000", APR_SUCCESS, "127.0.0.1", 2000},
      {"cache.example.org", APR_SUCCESS, "cache.example.org", 11211},
      {"[::1]:2000", APR_SUCCESS, "::1", 2000},
      {"[::1]", APR_SUCCESS, "::1", 11211},
      {"", ZEB_MEMCACHE_EADDRESS, nullptr, 0},
      {":2000", ZEB_MEMCACHE_EADDRESS, nullptr, 0},
      {"[fe80::1%lo]:2000", ZEB_MEMCACHE_EADDRESS, nullptr, 0},
      {"[::1", ZEB_MEMCACHE_EADDRESS, nullptr, 0},
      {"127.0.0.1:0", ZEB_MEMCACHE_EADDRESS, nullptr, 0},
      {"127.0.0.1:70000", ZEB_MEMCACHE_EADDRESS, nullptr, 0},
      {"127.0.0.1:port", ZEB_MEMCACHE_EADDRESS, nullptr, 0},
      {"::1", ZEB_MEMCACHE_EADDRESS, nullptr, 0},
  };
  for (const auto& c : cases) {
    char* host = nullptr;
    apr_port_t port = 0;
    ASSERT_EQ(memcache_server__parsestr(c.address, &host, &port, pool_), c.rv) << c.address;
    if (c.rv != APR_SUCCESS) continue;
    EXPECT_STREQ(host, c.host) << c.address;
    EXPECT_EQ(port, c.port) << c.address;
  }
}

// A listening socket nobody should ever connect to.
class Listener {
 public:
  Listener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) == 0 && listen(fd_, 8) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
      port_ = ntohs(addr.sin_port);
    }
  }
  ~Listener() { close(fd_); }
  int port() const { return port_; }
  bool was_contacted() const {
    pollfd pfd{fd_, POLLIN, 0};
    return poll(&pfd, 1, 0) > 0;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST_F(memcache_address, UnusableAddressFailsWithoutNetworkTraffic) {
  Listener listener;
  ASSERT_GT(listener.port(), 0);
  const std::string port = std::to_string(listener.port());
  // Each would reach the listener if it were taken for "some host, that port".
  const std::string server = "127.0.0.1:" + port;
  // Each address with what the parser says is wrong with it.
  const std::string no_server = "is no HOST, HOST:PORT (port 1 to 65535)";
  const std::vector<std::pair<std::string, std::string>> unusable = {
      {"", "no server named"},
      {":" + port, no_server},
      {"[fe80::1%lo]:" + port, no_server},
      {server + ":x", no_server},
      {" , ", "no server named"},
      {server + " ::1", "'::1' " + no_server},
      {"127.0.0.1:0", no_server},
      {"127.0.0.1:65536", no_server},
      {server + " timeout=0", "'timeout=0': timeout takes whole milliseconds from 1 to 60000"},
      {server + " timeout=60001", "timeout takes whole milliseconds"},
      {server + " timeout=-5", "timeout takes whole milliseconds"},
      {server + " retry=soon", "'retry=soon': retry takes whole seconds from 0 to 3600"},
      {server + " retry=5s", "retry takes whole seconds"},
      {server + " weight=2", "'weight=2': unknown option (known: timeout, retry)"},
      {"timeout=100", "no server named"},
      {server + ",:" + port, no_server}};
  for (const auto& [address, why] : unusable) {
    std::string problem;
    EXPECT_FALSE(zeb_memcache::parse_server_list(address, pool_, &problem)) << address;
    EXPECT_NE(problem.find(why), std::string::npos) << address << ": " << problem;
  }
  for (const auto& [address, why] : unusable) {
    zeb_memcache_t* mc = nullptr;
    char* data = nullptr;
    EXPECT_EQ(memcache_cache_stash(address.c_str(), &mc, kPrefix, "u", 0, "v", 1, pool_),
              ZEB_MEMCACHE_EADDRESS)
        << address;
    EXPECT_EQ(memcache_cache_fetch(address.c_str(), &mc, kPrefix, "u", &data, nullptr, pool_),
              ZEB_MEMCACHE_EADDRESS)
        << address;
    EXPECT_EQ(mc, nullptr) << address;
  }
  zeb_memcache_t* mc = nullptr;
  EXPECT_EQ(memcache_cache_stash(nullptr, &mc, kPrefix, "u", 0, "v", 1, pool_),
            ZEB_MEMCACHE_EADDRESS);
  EXPECT_EQ(memcache_server_connect(nullptr, &mc, pool_), ZEB_MEMCACHE_EADDRESS);
  EXPECT_FALSE(listener.was_contacted());
}

// ---- against a real memcached ----

class memcache_server : public PoolTest {
 protected:
  static void SetUpTestSuite() {
    server_ = new MemcachedProcess("127.0.0.1");
    if (!server_->start()) start_error_ = server_->error();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    PoolTest::SetUp();
    ASSERT_TRUE(start_error_.empty()) << start_error_;
    address_ = server_->address();
  }

  // A user key of this test only, so tests sharing the server do not meet.
  std::string userkey(const std::string& name) const {
    return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ":" +
           name;
  }

  static MemcachedProcess* server_;
  static std::string start_error_;
  std::string address_;
  zeb_memcache_t* mc_ = nullptr;
};
MemcachedProcess* memcache_server::server_ = nullptr;
std::string memcache_server::start_error_;

std::string all_byte_values() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

TEST_F(memcache_server, ValuesRoundTripByteForByte) {
  const std::vector<std::string> values = {
      "plain text",
      std::string("\0a\0\0b\0", 6),
      all_byte_values(),
      "VALUE x 0 3\r\nEND\r\n",  // protocol text inside a value
      "",
      std::string(200000, 'r'),
  };
  for (size_t i = 0; i < values.size(); ++i) {
    const std::string key = userkey(std::to_string(i));
    ASSERT_EQ(memcache_cache_stash(address_.c_str(), &mc_, kPrefix, key.c_str(), 0,
                                   values[i].data(), values[i].size(), pool_),
              APR_SUCCESS)
        << "value " << i;
    char* data = nullptr;
    apr_size_t len = 12345;
    ASSERT_EQ(
        memcache_cache_fetch(address_.c_str(), &mc_, kPrefix, key.c_str(), &data, &len, pool_),
        APR_SUCCESS)
        << "value " << i;
    ASSERT_NE(data, nullptr) << "value " << i;
    EXPECT_EQ(std::string(data, len), values[i]) << "value " << i;
    EXPECT_EQ(data[len], '\0') << "value " << i;
  }
}

TEST_F(memcache_server, OutParametersAreOptional) {
  const std::string key = userkey("k");
  ASSERT_EQ(memcache_cache_stash(address_.c_str(), &mc_, kPrefix, key.c_str(), 0, "abc", 3, pool_),
            APR_SUCCESS);
  char* data = nullptr;
  apr_size_t len = 0;
  EXPECT_EQ(
      memcache_cache_fetch(address_.c_str(), &mc_, kPrefix, key.c_str(), &data, nullptr, pool_),
      APR_SUCCESS);
  EXPECT_STREQ(data, "abc");
  EXPECT_EQ(
      memcache_cache_fetch(address_.c_str(), &mc_, kPrefix, key.c_str(), nullptr, &len, pool_),
      APR_SUCCESS);
  EXPECT_EQ(len, 3u);
  EXPECT_EQ(memcache_cache_get(mc_, key.c_str(), kPrefix, nullptr, nullptr, pool_), APR_SUCCESS);
}

TEST_F(memcache_server, MissingKeyIsNotFound) {
  const std::string key = userkey("k");
  char* data = nullptr;
  EXPECT_EQ(
      memcache_cache_fetch(address_.c_str(), &mc_, kPrefix, key.c_str(), &data, nullptr, pool_),
      ZEB_MEMCACHE_ENOTFOUND);
  ASSERT_EQ(memcache_cache_set(mc_, key.c_str(), "other-prefix", "v", 1, 0, pool_), APR_SUCCESS);
  EXPECT_EQ(memcache_cache_get(mc_, key.c_str(), kPrefix, &data, nullptr, pool_),
            ZEB_MEMCACHE_ENOTFOUND);
}

TEST_F(memcache_server, SetAndGetShareKeysWithStashAndFetch) {
  const std::string key = userkey("k");
  ASSERT_EQ(memcache_server_connect(address_.c_str(), &mc_, pool_), APR_SUCCESS);
  ASSERT_EQ(memcache_cache_set(mc_, key.c_str(), kPrefix, "via set", 7, 0, pool_), APR_SUCCESS);
  char* data = nullptr;
  ASSERT_EQ(
      memcache_cache_fetch(address_.c_str(), &mc_, kPrefix, key.c_str(), &data, nullptr, pool_),
      APR_SUCCESS);
  EXPECT_STREQ(data, "via set");
}

TEST_F(memcache_server, TimeToLiveZeroNeverExpires) {
  const std::string forever = userkey("forever");
  const std::string brief = userkey("brief");
  ASSERT_EQ(
      memcache_cache_stash(address_.c_str(), &mc_, kPrefix, forever.c_str(), 0, "v", 1, pool_),
      APR_SUCCESS);
  ASSERT_EQ(memcache_cache_stash(address_.c_str(), &mc_, kPrefix, brief.c_str(), 1, "v", 1, pool_),
            APR_SUCCESS);
  // memcached counts whole seconds; after two and a half, ttl 1 is surely past.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  char* data = nullptr;
  EXPECT_EQ(
      memcache_cache_fetch(address_.c_str(), &mc_, kPrefix, forever.c_str(), &data, nullptr, pool_),
      APR_SUCCESS);
  EXPECT_EQ(
      memcache_cache_fetch(address_.c_str(), &mc_, kPrefix, brief.c_str(), &data, nullptr, pool_),
      ZEB_MEMCACHE_ENOTFOUND);
}

TEST_F(memcache_server, HealthyClientIsKeptAndOtherAddressReplacesIt) {
  ASSERT_EQ(memcache_server_connect(address_.c_str(), &mc_, pool_), APR_SUCCESS);
  zeb_memcache_t* first = mc_;
  ASSERT_EQ(memcache_server_connect(address_.c_str(), &mc_, pool_), APR_SUCCESS);
  EXPECT_EQ(mc_, first);

  // Same server under another name: the old client does not serve that name.
  const std::string by_name = "localhost:" + std::to_string(server_->port());
  ASSERT_EQ(memcache_server_connect(by_name.c_str(), &mc_, pool_), APR_SUCCESS);
  EXPECT_NE(mc_, nullptr);
  EXPECT_EQ(memcache_server_status("localhost", server_->port(), mc_, pool_), APR_SUCCESS);
  EXPECT_EQ(memcache_server_status("127.0.0.1", server_->port(), mc_, pool_), ZEB_MEMCACHE_ESTATUS);
}

// memcached's counts of open client connections and of those ever opened,
// asked over one of its own.
struct connection_counts {
  long open;
  long opened;
};
connection_counts connections(int port) {
  memcached_st* client = memcached_create(nullptr);
  memcached_server_add(client, "127.0.0.1", static_cast<in_port_t>(port));
  memcached_return_t rc = MEMCACHED_FAILURE;
  memcached_stat_st* stats = memcached_stat(client, nullptr, &rc);
  connection_counts counts{-1, -1};
  if (stats != nullptr) {
    counts = {static_cast<long>(stats->curr_connections),
              static_cast<long>(stats->total_connections)};
    memcached_stat_free(client, stats);
  }
  memcached_free(client);
  return counts;
}

TEST_F(memcache_server, LentClientsAreReusedAndFewAreKeptIdle) {
  using zeb_memcache::borrowed_handle;
  const long before = connections(server_->port()).open;
  std::vector<std::unique_ptr<borrowed_handle>> at_once;
  for (std::size_t i = 0; i < zeb_memcache::kIdleHandles + 4; ++i) {
    at_once.push_back(std::make_unique<borrowed_handle>(address_.c_str()));
    borrowed_handle& h = *at_once.back();
    ASSERT_EQ(h.status(), APR_SUCCESS);
    const std::string key = userkey(std::to_string(i));
    ASSERT_EQ(memcache_cache_set(h.get(), key.c_str(), kPrefix, "v", 1, 0, pool_), APR_SUCCESS);
    for (std::size_t j = 0; j + 1 < at_once.size(); ++j) EXPECT_NE(at_once[j]->get(), h.get());
  }
  at_once.clear();
  // One borrower after another takes a waiting client, without connecting.
  const long opened = connections(server_->port()).opened;
  zeb_memcache_t* first = borrowed_handle(address_.c_str()).get();
  EXPECT_EQ(borrowed_handle(address_.c_str()).get(), first);
  EXPECT_EQ(connections(server_->port()).opened, opened + 1);  // the count's own
  // memcached closes a client's connection after the client has gone.
  long after = 0;
  for (int tries = 0; tries < 50; ++tries) {
    after = connections(server_->port()).open;
    if (after <= before + static_cast<long>(zeb_memcache::kIdleHandles)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_LE(after, before + static_cast<long>(zeb_memcache::kIdleHandles));

  // Nor for an equal address of another configuration, in whose pool it
  // would be rebuilt again and again.
  const std::string equal_copy = address_;
  EXPECT_NE(borrowed_handle(equal_copy.c_str()).get(), first);
  // A client waiting for one address is not lent for another.
  const std::string by_name = "localhost:" + std::to_string(server_->port());
  const borrowed_handle other(by_name.c_str());
  ASSERT_EQ(other.status(), APR_SUCCESS);
  EXPECT_EQ(memcache_server_status("localhost", server_->port(), other.get(), pool_), APR_SUCCESS);
  for (const char* unusable : {static_cast<const char*>(nullptr), "host:port:junk"}) {
    const borrowed_handle h(unusable);
    EXPECT_EQ(h.status(), ZEB_MEMCACHE_EADDRESS);
    EXPECT_EQ(h.get(), nullptr);
  }
}

TEST_F(memcache_server, NoClientOrNoDataIsRefused) {
  char* data = nullptr;
  EXPECT_EQ(memcache_cache_set(nullptr, "u", kPrefix, "v", 1, 0, pool_), ZEB_MEMCACHE_ESTORE);
  EXPECT_EQ(memcache_cache_get(nullptr, "u", kPrefix, &data, nullptr, pool_), ZEB_MEMCACHE_EREAD);
  EXPECT_EQ(memcache_server_status("127.0.0.1", server_->port(), nullptr, pool_),
            ZEB_MEMCACHE_ESTATUS);
  ASSERT_EQ(memcache_server_connect(address_.c_str(), &mc_, pool_), APR_SUCCESS);
  EXPECT_EQ(memcache_cache_set(mc_, "u", kPrefix, nullptr, 4, 0, pool_), ZEB_MEMCACHE_ESTORE);
}

// ---- a server of its own, stopped and restarted ----

using memcache_own_server = PoolTest;

// A server that failed is left alone for the retry period by every handle,
// then used again; a stale connection to a restarted server is replaced.
TEST_F(memcache_own_server, FailedServerIsLeftAloneThenUsedAgain) {
  MemcachedProcess server("127.0.0.1");
  ASSERT_TRUE(server.start()) << server.error();
  const std::string address = server.address() + " retry=1";
  zeb_memcache_t* mc = nullptr;
  char* data = nullptr;
  ASSERT_EQ(memcache_cache_stash(address.c_str(), &mc, kPrefix, "u", 0, "before", 6, pool_),
            APR_SUCCESS);

  server.stop();
  EXPECT_EQ(memcache_cache_fetch(address.c_str(), &mc, kPrefix, "u", &data, nullptr, pool_),
            ZEB_MEMCACHE_EREAD);
  ASSERT_TRUE(server.start()) << server.error();
  // Back, but within the retry period nobody asks it.
  EXPECT_EQ(memcache_cache_stash(address.c_str(), &mc, kPrefix, "u", 0, "lost", 4, pool_),
            ZEB_MEMCACHE_ECLIENT);
  EXPECT_EQ(mc, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(memcache_cache_fetch(address.c_str(), &mc, kPrefix, "u", &data, nullptr, pool_),
            ZEB_MEMCACHE_ENOTFOUND);
  ASSERT_NE(mc, nullptr);

  // Restarted with no operation in between: the handle's connection is
  // stale, yet the next operation succeeds on a fresh one.
  server.stop();
  ASSERT_TRUE(server.start()) << server.error();
  EXPECT_EQ(memcache_cache_fetch(address.c_str(), &mc, kPrefix, "u", &data, nullptr, pool_),
            ZEB_MEMCACHE_ENOTFOUND);
  ASSERT_EQ(memcache_cache_stash(address.c_str(), &mc, kPrefix, "u", 0, "again", 5, pool_),
            APR_SUCCESS);
  ASSERT_EQ(memcache_cache_fetch(address.c_str(), &mc, kPrefix, "u", &data, nullptr, pool_),
            APR_SUCCESS);
  EXPECT_STREQ(data, "again");
}

using memcache_time_out = PoolTest;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A server that accepts connections and never answers: a listener nobody
// accepts from, or a memcached that is stopped. Each costs one time-out,
// after which the process leaves it alone. The time-out is long beside the
// slack a busy machine needs, so that an operation tried again (two
// time-outs) stands out.
TEST_F(memcache_time_out, ServerThatNeverAnswersCostsOneTimeOut) {
  constexpr double kTimeOut = 0.5;
  constexpr double kSlack = kTimeOut / 2;
  MemcachedProcess stopped("127.0.0.1");
  ASSERT_TRUE(stopped.start()) << stopped.error();
  Listener listener;
  ASSERT_GT(listener.port(), 0);
  const std::string silent[] = {"127.0.0.1:" + std::to_string(listener.port()), stopped.address()};

  zeb_memcache_t* mc = nullptr;
  char* data = nullptr;
  for (const auto& server : silent) {
    const std::string address = server + " timeout=500 retry=30";
    // The stopped memcached first serves a handle, then goes silent under it.
    const bool has_handle = server == stopped.address();
    if (has_handle) {
      ASSERT_EQ(memcache_server_connect(address.c_str(), &mc, pool_), APR_SUCCESS);
      stopped.pause();
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(memcache_cache_fetch(address.c_str(), &mc, kPrefix, "u", &data, nullptr, pool_),
              APR_SUCCESS)
        << server;
    const double first = seconds_since(start);
    EXPECT_GE(first, kTimeOut * 0.9) << server;
    EXPECT_LT(first, kTimeOut + kSlack) << server;

    start = std::chrono::steady_clock::now();
    EXPECT_EQ(memcache_cache_stash(address.c_str(), &mc, kPrefix, "u", 0, "v", 1, pool_),
              ZEB_MEMCACHE_ECLIENT)
        << server;
    zeb_memcache_t* fresh = nullptr;
    EXPECT_EQ(memcache_server_connect(address.c_str(), &fresh, pool_), ZEB_MEMCACHE_ECLIENT)
        << server;
    EXPECT_LT(seconds_since(start), kTimeOut / 2) << server << ": asked again";
  }
  stopped.resume();
}

TEST_F(memcache_own_server, Ipv6AndUnixSocketServersRoundTrip) {
  std::vector<std::string> hosts = {"/tmp/zeb-memcache-test-" + std::to_string(getpid()) + ".sock"};
  if (zeb_test::loopback_available("::1")) hosts.push_back("::1");
  for (const auto& host : hosts) {
    MemcachedProcess server(host);
    ASSERT_TRUE(server.start()) << server.error();
    const std::string address = server.address();
    zeb_memcache_t* mc = nullptr;
    char* data = nullptr;
    ASSERT_EQ(memcache_cache_stash(address.c_str(), &mc, kPrefix, "u", 0, "v6", 2, pool_),
              APR_SUCCESS)
        << address;
    ASSERT_EQ(memcache_cache_fetch(address.c_str(), &mc, kPrefix, "u", &data, nullptr, pool_),
              APR_SUCCESS)
        << address;
    EXPECT_STREQ(data, "v6") << address;
    const std::string socket_host = host.front() == '/' ? host : "::1";
    EXPECT_EQ(memcache_server_status(socket_host.c_str(), host.front() == '/' ? 0 : server.port(),
                                     mc, pool_),
              APR_SUCCESS)
        << address;
  }
}

// Keys spread over every server; losing one loses only its keys, which go
// to the others until it is retried and takes them back.
TEST_F(memcache_own_server, PoolLosesOnlyTheShareOfAFailedServer) {
  std::vector<std::unique_ptr<MemcachedProcess>> servers;
  servers.push_back(std::make_unique<MemcachedProcess>("127.0.0.1"));
  servers.push_back(std::make_unique<MemcachedProcess>("127.0.0.1"));
  servers.push_back(std::make_unique<MemcachedProcess>("/tmp/zeb-memcache-pool-" +
                                                       std::to_string(getpid()) + ".sock"));
  for (auto& server : servers) ASSERT_TRUE(server->start()) << server->error();
  const std::string address = servers[0]->address() + ", " + servers[1]->address() + " " +
                              servers[2]->address() + " retry=1";
  constexpr int kKeys = 60;
  const auto key = [](int i) { return "user" + std::to_string(i); };

  zeb_memcache_t* pool_mc = nullptr;
  char* data = nullptr;
  for (int i = 0; i < kKeys; ++i) {
    ASSERT_EQ(
        memcache_cache_stash(address.c_str(), &pool_mc, kPrefix, key(i).c_str(), 0, "v", 1, pool_),
        APR_SUCCESS);
  }
  // Where each key lives, asked of each server alone.
  std::vector<int> home(kKeys, -1);
  for (size_t s = 0; s < servers.size(); ++s) {
    zeb_memcache_t* single = nullptr;
    for (int i = 0; i < kKeys; ++i) {
      if (memcache_cache_fetch(servers[s]->address().c_str(), &single, kPrefix, key(i).c_str(),
                               &data, nullptr, pool_) != APR_SUCCESS) {
        continue;
      }
      EXPECT_EQ(home[i], -1) << key(i) << " stored twice";
      home[i] = static_cast<int>(s);
    }
  }
  for (int s = 0; s < 3; ++s) EXPECT_GT(std::count(home.begin(), home.end(), s), 0) << s;
  ASSERT_EQ(std::count(home.begin(), home.end(), -1), 0);

  // Fetches every key, stashing the missing ones; answers which missed.
  const auto misses = [&] {
    std::vector<int> missed;
    for (int i = 0; i < kKeys; ++i) {
      if (memcache_cache_fetch(address.c_str(), &pool_mc, kPrefix, key(i).c_str(), &data, nullptr,
                               pool_) == APR_SUCCESS) {
        continue;
      }
      missed.push_back(i);
      memcache_cache_stash(address.c_str(), &pool_mc, kPrefix, key(i).c_str(), 0, "v", 1, pool_);
    }
    return missed;
  };
  std::vector<int> on_lost;
  for (int i = 0; i < kKeys; ++i) {
    if (home[i] == 1) on_lost.push_back(i);
  }
  servers[1]->stop();
  EXPECT_EQ(misses(), on_lost);
  EXPECT_TRUE(misses().empty()) << "the lost share moved to the other servers";

  ASSERT_TRUE(servers[1]->start()) << servers[1]->error();
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(misses(), on_lost) << "the returned server takes its share back";
}

}  // namespace
