#include "scm_requestkey.h"

#include <apr_base64.h>
#include <apr_pools.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <set>
#include <string>

#include "apr_pool_test.h"

namespace {

class RequestKeyTest : public apr_pool_test {
 protected:
  void SetUp() override {
    apr_pool_test::SetUp();
    apr_pool_create(&key_pool_, nullptr);
  }
  void TearDown() override {
    apr_pool_destroy(key_pool_);
    apr_pool_test::TearDown();
  }
  apr_pool_t* key_pool_ = nullptr;
};

uint32_t le32_at(const std::string& bytes, std::size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[offset + i]);
  return v;
}

std::string decode(const char* key) {
  std::string bytes(apr_base64_decode_len(key), '\0');
  bytes.resize(apr_base64_decode_binary(reinterpret_cast<unsigned char*>(bytes.data()), key));
  return bytes;
}

// The salt, computed once with:
//   printf '%s' 'rjvoqmeh!T Z%lkwupa' | openssl sha1 -binary | xxd -p | cut -c1-8
// giving 2e1b3470, read little-endian.
constexpr uint32_t kSalt = 0x70341b2e;

TEST_F(RequestKeyTest, TimestampSaltIsTheLittleEndianHeadOfTheDefaultSecretsDigest) {
  EXPECT_EQ(scm_timestamp_salt(pool_), kSalt);
}

// Expected keys computed once outside the code under test, from the token
// layout (R, S = salt ^ time, SHA-1 of secret R S secret "tovrelimqasund"):
//   key() { { printf '%s' "$1"; printf "$2"; printf "$3"; printf '%s' "$1";
//             printf '%s' tovrelimqasund; } | openssl sha1 -binary > d.bin
//           { printf "$2"; printf "$3"; cat d.bin; } | base64 -w0; }
//   key 'rjvoqmeh!T Z%lkwupa' '\x78\x56\x34\x12' '\x2e\xea\x67\x15'
//   key 'sëcret=with spaces'  '\xff\xff\xff\x7f' '\x2b\x1b\x34\x70'
//   key ''                    '\x00\x00\x00\x00' '\x2e\x1b\x34\x70'
struct KeyVector {
  const char* name;
  const char* secret;
  uint32_t random_value;
  int64_t now;
  const char* key;
};

const KeyVector kVectors[] = {
    {"default secret when none is given", nullptr, 0x12345678, 1700000000,
     "eFY0Ei7qZxWfef+q9ny/EJZJ1AT4sviQJRLmRg=="},
    {"explicit default secret", "rjvoqmeh!T Z%lkwupa", 0x12345678, 1700000000,
     "eFY0Ei7qZxWfef+q9ny/EJZJ1AT4sviQJRLmRg=="},
    {"UTF-8 secret, largest rand value, time past 32 bits",
     "s\xc3\xab"
     "cret=with spaces",
     2147483647, (int64_t{1} << 32) + 5, "////fysbNHAy9SZgLGMshlJl2onZg1ovagqsuQ=="},
    {"empty secret at the epoch", "", 0, 0, "AAAAAC4bNHA7eKyTZYaIMGTXuW77tclrSWb5Rg=="},
};

TEST_F(RequestKeyTest, KnownVectors) {
  for (const auto& v : kVectors) {
    SCOPED_TRACE(v.name);
    const char* key = scm_requestkey_make(v.secret, v.random_value, v.now, pool_, key_pool_);
    ASSERT_NE(key, nullptr);
    EXPECT_STREQ(key, v.key);
  }
}

TEST_F(RequestKeyTest, CreatedKeyCarriesItsRandomValueAndCurrentTime) {
  const int64_t before = std::time(nullptr);
  const char* key = scm_requestkey_create("secret", pool_, key_pool_);
  const int64_t after = std::time(nullptr);
  ASSERT_NE(key, nullptr);

  EXPECT_EQ(std::string(key).size(), std::size_t{SCM_REQUESTKEY_LENGTH});
  EXPECT_EQ(std::string(key).substr(38), "==");
  const std::string token = decode(key);
  ASSERT_EQ(token.size(), 28u);
  const uint32_t stamped = le32_at(token, 4) ^ kSalt;
  EXPECT_GE(stamped, static_cast<uint32_t>(before));
  EXPECT_LE(stamped, static_cast<uint32_t>(after));
  // The digest binds R and S to the secret exactly as the explicit form does.
  EXPECT_STREQ(key, scm_requestkey_make("secret", le32_at(token, 0), stamped, pool_, key_pool_));
}

// httpd children are forked from one parent: each must draw its own random
// value, not replay the parent's generator state.
TEST_F(RequestKeyTest, ForkedProcessesDrawDifferentRandomValues) {
  constexpr int kChildren = 4;
  std::set<uint32_t> values;
  for (int i = 0; i < kChildren; ++i) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      const char* key = scm_requestkey_create("secret", pool_, key_pool_);
      const ssize_t written = key != nullptr ? write(fds[1], key, SCM_REQUESTKEY_LENGTH) : 0;
      _exit(written == SCM_REQUESTKEY_LENGTH ? 0 : 1);
    }
    close(fds[1]);
    std::string key(SCM_REQUESTKEY_LENGTH, '\0');
    EXPECT_EQ(read(fds[0], key.data(), key.size()), SCM_REQUESTKEY_LENGTH);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    values.insert(le32_at(decode(key.c_str()), 0));
  }
  const char* own = scm_requestkey_create("secret", pool_, key_pool_);
  ASSERT_NE(own, nullptr);
  values.insert(le32_at(decode(own), 0));
  EXPECT_EQ(values.size(), std::size_t{kChildren + 1});
}

}  // namespace
