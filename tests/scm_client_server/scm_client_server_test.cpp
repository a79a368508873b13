// The generated ScmListener client against the stand-in Brimstack server,
// with every encoding variant and failure the server can produce.
#include <apr_general.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <regex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "brimstack_process.h"
#include "relay_server.h"
#include "scm_is_valid_user.h"
#include "scm_requestkey.h"
#include "scm_role_paths_list.h"
#include "soapH.h"

namespace {

constexpr char kSecret[] = "client-test-secret";
constexpr char kAction[] = "alice:ScmListener";

constexpr char kConfig[] = R"({
  "shared_secret": "client-test-secret",
  "external_system_id": "exsy1001",
  "users": {
    "alice": {"password": "wonder land", "repositories": {
      "repo1": [{"id": "101", "pbps": ["view:/", "commit:/trunk"]},
                null,
                {"pbps": ["view:/tags"]},
                {"id": "103"}],
      "empty": []}},
    "j\u00fcrgen": {"password": "<&>\"'", "repositories": {
      "r\u00e9po": [{"id": "9", "pbps": ["view:/\u00e9t\u00e9/<&>"]}]}}
  }
})";

using strings = std::vector<std::optional<std::string>>;

struct role {
  std::optional<std::string> id;
  std::optional<strings> pbps;
  bool operator==(const role&) const = default;
};
using roles = std::vector<std::optional<role>>;

void PrintTo(const role& r, std::ostream* os) {
  *os << "{id " << ::testing::PrintToString(r.id) << ", pbps " << ::testing::PrintToString(r.pbps)
      << "}";
}

std::optional<std::string> text(const char* s) {
  return s == nullptr ? std::nullopt : std::optional<std::string>(s);
}

std::optional<strings> read_strings(const ScmListenerServiceNS2ArrayOf_USCORExsd_USCOREstring* a) {
  if (a == nullptr) return std::nullopt;
  strings out;
  for (int i = 0; i < a->__size; ++i) out.push_back(text(a->__ptr[i]));
  return out;
}

std::optional<roles> read_roles(const ScmListenerServiceNS2RolePathsListDOArray* a) {
  if (a == nullptr) return std::nullopt;
  roles out;
  for (int i = 0; i < a->__size; ++i) {
    const ScmListenerServiceNS2__RolePathsListDO* entry = a->__ptr[i];
    if (entry == nullptr)
      out.emplace_back();
    else
      out.push_back(role{text(entry->repoRoleId), read_strings(entry->repoPathAndPerm)});
  }
  return out;
}

const role kRole101{"101", strings{"view:/", "commit:/trunk"}};
const role kRoleTags{std::nullopt, strings{"view:/tags"}};
const role kRole103{"103", std::nullopt};
const roles kAliceRoles{kRole101, std::nullopt, kRoleTags, kRole103};
const strings kAlicePaths{"view:/", "commit:/trunk", "view:/tags"};

class scm_client_server : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    apr_initialize();
    server_ = new brimstack_process(kConfig, false);
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
    apr_terminate();
  }

  void SetUp() override {
    server_->reset();
    apr_pool_create(&pool_, nullptr);
    key_ = scm_requestkey_create(kSecret, pool_, pool_);
    ASSERT_NE(key_, nullptr);
    soap_init2(&soap_, SOAP_C_UTFSTRING | SOAP_XML_INDENT, SOAP_C_UTFSTRING | SOAP_XML_INDENT);
    soap_set_namespaces(&soap_, namespaces);
    soap_.recv_timeout = soap_.send_timeout = soap_.connect_timeout = 10;
  }
  void TearDown() override {
    soap_destroy(&soap_);
    soap_end(&soap_);
    soap_done(&soap_);
    apr_pool_destroy(pool_);
  }

  static void misbehave(const std::string& operation, const std::string& kind,
                        const std::string& params = "") {
    server_->misbehave(R"({"operation": ")" + operation + R"(", "kind": ")" + kind + "\"" +
                       (params.empty() ? "" : ", " + params) + "}");
  }

  // The operation answers this exact body with HTTP 200.
  static void raw_reply(const std::string& operation, const std::string& body) {
    std::string escaped;
    for (char ch : body) escaped += ch == '"' ? std::string("\\\"") : std::string(1, ch);
    misbehave(operation, "raw", R"("body": ")" + escaped + "\"");
  }

  int is_valid_user(const char* user, const char* password, const char* repo, int* answer) {
    return soap_call_ScmListenerServiceNS__isValidUser(
        &soap_, server_->url().c_str(), kAction, const_cast<char*>(key_), const_cast<char*>(user),
        const_cast<char*>(password), const_cast<char*>("exsy1001"), const_cast<char*>(repo),
        answer);
  }

  int external_system_id(std::optional<std::string>* id) {
    char* out = const_cast<char*>("untouched");
    int status = soap_call_ScmListenerServiceNS__getBrandingExternalSystemId(
        &soap_, server_->url().c_str(), kAction, const_cast<char*>(key_), &out);
    *id = text(out);
    return status;
  }

  int role_paths_list(std::optional<roles>* out, const char* repo = "repo1") {
    ScmListenerServiceNS__getRolePathsListResponse response;
    int status = scm_call_get_role_paths_list(&soap_, server_->url().c_str(), kAction, key_,
                                              "alice", "exsy1001", repo, &response);
    if (status == SOAP_OK) *out = read_roles(response._getRolePathsListReturn);
    return status;
  }

  int role_paths(std::optional<strings>* out, const char* user = "alice",
                 const char* repo = "repo1") {
    ScmListenerServiceNS__getRolePathsResponse response;
    int status = scm_call_get_role_paths(&soap_, server_->url().c_str(), kAction, key_, user,
                                         "exsy1001", repo, &response);
    if (status == SOAP_OK) *out = read_strings(response._getRolePathsReturn);
    return status;
  }

  // The status of one call of the operation, whatever it returns.
  int call(const std::string& operation) {
    int answer;
    std::optional<std::string> id;
    std::optional<roles> list;
    std::optional<strings> paths;
    if (operation == "isValidUser") return is_valid_user("alice", "wonder land", "repo1", &answer);
    if (operation == "getBrandingExternalSystemId") return external_system_id(&id);
    if (operation == "getRolePathsList") return role_paths_list(&list);
    return role_paths(&paths);
  }

  std::string fault_string() {
    const char** s = soap_faultstring(&soap_);
    return s != nullptr && *s != nullptr ? *s : "";
  }

  static brimstack_process* server_;
  apr_pool_t* pool_ = nullptr;
  const char* key_ = nullptr;
  struct soap soap_;
};

brimstack_process* scm_client_server::server_ = nullptr;

// --- Encoding variants of the role answers ------------------------------------

struct role_list_case {
  const char* kind;
  const char* params;
  bool fails;
  std::optional<roles> expected;
};

roles with_null_at(roles r, size_t at) {
  r.insert(r.begin() + static_cast<long>(at), std::nullopt);
  return r;
}

class role_list_variants : public scm_client_server,
                           public ::testing::WithParamInterface<role_list_case> {};

TEST_P(role_list_variants, decode_as_stated) {
  const role_list_case& c = GetParam();
  if (*c.kind) misbehave("getRolePathsList", c.kind, c.params);
  std::optional<roles> got;
  int status = role_paths_list(&got);
  if (c.fails) {
    EXPECT_NE(status, SOAP_OK);
    EXPECT_NE(status, SOAP_EOF);
    return;
  }
  ASSERT_EQ(status, SOAP_OK) << fault_string();
  EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    scm_client_server, role_list_variants,
    ::testing::Values(role_list_case{"", "", false, kAliceRoles},
                      role_list_case{"array_anytype", "", false, kAliceRoles},
                      role_list_case{"array_int", "", true, std::nullopt},
                      // An array is read whole as declared, or not at all.
                      role_list_case{"size_larger", "", true, std::nullopt},
                      role_list_case{"size_smaller", "", true, std::nullopt},
                      role_list_case{"positions_descending", "", true, std::nullopt},
                      role_list_case{"positions", "", false, with_null_at(kAliceRoles, 1)},
                      role_list_case{"position_outside", "", true, std::nullopt},
                      role_list_case{"multiref", "", false, kAliceRoles},
                      role_list_case{"nil_items", "", false, with_null_at(kAliceRoles, 1)},
                      role_list_case{"role_id_first", "", false, kAliceRoles},
                      role_list_case{"renamed", "", false, kAliceRoles},
                      role_list_case{"extra_children", "", false, kAliceRoles},
                      role_list_case{
                          "shape",
                          R"("multiref": true, "role_id_first": true, "extra_children": true)",
                          false, kAliceRoles},
                      role_list_case{"nil_return", "", false, std::nullopt},
                      role_list_case{"no_return", "", false, std::nullopt}),
    [](const auto& info) {
      return std::string(*info.param.kind ? info.param.kind : "plain") + "_" +
             std::to_string(info.index);
    });

struct string_list_case {
  const char* kind;
  bool fails;
  std::optional<strings> expected;
};

strings with_null_at(strings s, size_t at) {
  s.insert(s.begin() + static_cast<long>(at), std::nullopt);
  return s;
}

class string_list_variants : public scm_client_server,
                             public ::testing::WithParamInterface<string_list_case> {};

TEST_P(string_list_variants, decode_as_stated) {
  const string_list_case& c = GetParam();
  if (*c.kind) misbehave("getRolePaths", c.kind);
  std::optional<strings> got;
  int status = role_paths(&got);
  if (c.fails) {
    EXPECT_NE(status, SOAP_OK);
    EXPECT_NE(status, SOAP_EOF);
    return;
  }
  ASSERT_EQ(status, SOAP_OK) << fault_string();
  EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    scm_client_server, string_list_variants,
    ::testing::Values(string_list_case{"", false, kAlicePaths},
                      string_list_case{"array_anytype", false, kAlicePaths},
                      string_list_case{"array_int", true, std::nullopt},
                      string_list_case{"size_larger", true, std::nullopt},
                      string_list_case{"size_smaller", true, std::nullopt},
                      string_list_case{"positions_descending", true, std::nullopt},
                      string_list_case{"positions", false, with_null_at(kAlicePaths, 1)},
                      string_list_case{"position_outside", true, std::nullopt},
                      string_list_case{"multiref", false, kAlicePaths},
                      string_list_case{"nil_items", false, with_null_at(kAlicePaths, 1)},
                      string_list_case{"renamed", false, kAlicePaths},
                      string_list_case{"extra_children", false, kAlicePaths},
                      string_list_case{"nil_return", false, std::nullopt},
                      string_list_case{"no_return", false, std::nullopt}),
    [](const auto& info) { return *info.param.kind ? info.param.kind : "plain"; });

// Absent data decodes as absent, never as a leftover of an earlier call.
TEST_F(scm_client_server, external_system_id_variants) {
  struct {
    const char* kind;
    std::optional<std::string> expected;
  } cases[] = {{"", "exsy1001"},
               {"renamed", "exsy1001"},
               {"extra_children", "exsy1001"},
               {"nil_return", std::nullopt},
               {"no_return", std::nullopt}};
  for (const auto& c : cases) {
    server_->reset();
    if (*c.kind) misbehave("getBrandingExternalSystemId", c.kind);
    std::optional<std::string> id;
    ASSERT_EQ(external_system_id(&id), SOAP_OK) << c.kind << ": " << fault_string();
    EXPECT_EQ(id, c.expected) << c.kind;
  }
}

// Envelope-level variants, as raw replies to getBrandingExternalSystemId.
TEST_F(scm_client_server, envelope_variants) {
  const std::string soap11 = "http://schemas.xmlsoap.org/soap/envelope/";
  const std::string soap12 = "http://www.w3.org/2003/05/soap-envelope";
  auto envelope = [](const std::string& env_ns, const std::string& header, const std::string& value,
                     const std::string& xsi_year = "2001") {
    return R"(<e:Envelope xmlns:e=")" + env_ns + R"(" xmlns:xsi="http://www.w3.org/)" + xsi_year +
           R"(/XMLSchema-instance" xmlns:n="urn:x">)" + header + "<e:Body><n:r>" + value +
           "</n:r></e:Body></e:Envelope>";
  };
  struct {
    const char* name;
    std::string body;
    bool ok;
    std::optional<std::string> expected;
  } cases[] = {
      {"header entry skipped",
       envelope(soap11, "<e:Header><n:note>x</n:note></e:Header>", "<v>id</v>"), true, "id"},
      {"mustUnderstand entry",
       envelope(soap11, R"(<e:Header><n:note e:mustUnderstand="1">x</n:note></e:Header>)",
                "<v>id</v>"),
       false, std::nullopt},
      {"later envelope namespace", envelope(soap12, "", "<v>id</v>"), true, "id"},
      {"references decoded", envelope(soap11, "", "<v>a&amp;b&lt;&#233;&#x4E2D;</v>"), true,
       "a&b<\xc3\xa9\xe4\xb8\xad"},
      {"utf-8 bytes kept", envelope(soap11, "", "<v>\xc3\xa9t\xc3\xa9</v>"), true,
       "\xc3\xa9t\xc3\xa9"},
      {"nil in an older xsi namespace", envelope(soap11, "", R"(<v xsi:nil="true"/>)", "1999"),
       true, std::nullopt},
      {"empty string", envelope(soap11, "", "<v></v>"), true, ""},
  };
  for (const auto& c : cases) {
    server_->reset();
    raw_reply("getBrandingExternalSystemId", c.body);
    std::optional<std::string> id;
    int status = external_system_id(&id);
    if (!c.ok) {
      EXPECT_NE(status, SOAP_OK) << c.name;
      continue;
    }
    ASSERT_EQ(status, SOAP_OK) << c.name << ": " << fault_string();
    EXPECT_EQ(id, c.expected) << c.name;
  }
}

// --- isValidUser ----------------------------------------------------------------

TEST_F(scm_client_server, is_valid_user_answers) {
  struct {
    const char* user;
    const char* password;
    const char* repo;
    int expected;
  } cases[] = {
      {"alice", "wonder land", "repo1", 0},       {"alice", "wonder land", "empty", 0},
      {"alice", "wonderland", "repo1", 1},        {"mallory", "wonder land", "repo1", 1},
      {"alice", "wonder land", "other", 2},       {"j\xc3\xbcrgen", "<&>\"'", "r\xc3\xa9po", 0},
      {"j\xc3\xbcrgen", "<&>", "r\xc3\xa9po", 1},
  };
  for (const auto& c : cases) {
    int answer = -99;
    ASSERT_EQ(is_valid_user(c.user, c.password, c.repo, &answer), SOAP_OK) << fault_string();
    EXPECT_EQ(answer, c.expected) << c.user << " / " << c.password << " / " << c.repo;
  }
}

// The int's encoding, sent as raw bodies.
TEST_F(scm_client_server, is_valid_user_int_encodings) {
  const std::string head =
      R"(<SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/" )"
      R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns:x="http://www.w3.org/1999/XMLSchema" )"
      R"(xmlns:n="urn:x"><SOAP-ENV:Body><n:r>)";
  const std::string tail = "</n:r></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  struct {
    const char* value;
    bool ok;
    int expected;
  } cases[] = {
      {R"(<v xsi:type="x:int">7</v>)", true, 7},     {R"(<v xsi:type="x:short">-3</v>)", true, -3},
      {R"(<v xsi:type="x:byte">2</v>)", true, 2},    {R"(<v>0</v><w>5</w>)", true, 0},
      {R"(<v xsi:type="x:string">0</v>)", false, 0}, {R"(<v>zero</v>)", false, 0},
  };
  for (const auto& c : cases) {
    server_->reset();
    raw_reply("isValidUser", head + c.value + tail);
    int answer = -99;
    int status = is_valid_user("alice", "wonder land", "repo1", &answer);
    if (c.ok) {
      EXPECT_EQ(status, SOAP_OK) << c.value << ": " << fault_string();
      EXPECT_EQ(answer, c.expected) << c.value;
    } else {
      EXPECT_NE(status, SOAP_OK) << c.value;
    }
  }
}

// A response without the int must not read as 0, the acceptance.
TEST_F(scm_client_server, is_valid_user_without_value_fails) {
  for (const char* kind : {"no_return", "nil_return"}) {
    server_->reset();
    misbehave("isValidUser", kind);
    int answer = -99;
    EXPECT_EQ(scm_call_is_valid_user(&soap_, server_->url().c_str(), kAction, key_, "alice",
                                     "wonder land", "exsy1001", "repo1", &answer),
              SCM_NO_RETURN_VALUE)
        << kind;
    EXPECT_EQ(answer, -99) << kind;
  }
  server_->reset();
  int answer = -99;
  ASSERT_EQ(scm_call_is_valid_user(&soap_, server_->url().c_str(), kAction, key_, "alice",
                                   "wonder land", "exsy1001", "other", &answer),
            SOAP_OK);
  EXPECT_EQ(answer, 2);
}

// --- Failures, for every operation ------------------------------------------------

struct failure_case {
  const char* kind;
  const char* params;
  int expected;  // the status; 0: any failure that is not end-of-input
};

const char* const kOperations[] = {"isValidUser", "getBrandingExternalSystemId", "getRolePathsList",
                                   "getRolePaths"};

class failures : public scm_client_server,
                 public ::testing::WithParamInterface<std::tuple<const char*, failure_case>> {};

TEST_P(failures, fail_the_call) {
  const auto& [operation, c] = GetParam();
  soap_.recv_timeout = 1;
  misbehave(operation, c.kind, c.params);
  int status = call(operation);
  if (c.expected != 0) {
    EXPECT_EQ(status, c.expected) << fault_string();
  } else {
    EXPECT_NE(status, SOAP_OK);
    EXPECT_NE(status, SOAP_EOF);
  }
}

INSTANTIATE_TEST_SUITE_P(
    scm_client_server, failures,
    ::testing::Combine(
        ::testing::ValuesIn(kOperations),
        ::testing::Values(
            failure_case{"fault", R"("faultstring": "down")", SOAP_SVR_FAULT},
            failure_case{"fault", R"("faultcode": "SOAP-ENV:Client")", SOAP_CLI_FAULT},
            failure_case{"raw", R"("status": 500)", 500},
            failure_case{"raw", R"("status": 503, "body": "busy", "content_type": "text/plain")",
                         503},
            failure_case{"raw", R"("status": 500, "body": "<html>oops</html>")", 0},
            failure_case{"raw", R"("status": 404, "body": "gone")", 404},
            failure_case{"malformed", "", 0}, failure_case{"close", "", SOAP_EOF},
            failure_case{"slow", R"("seconds": 3)", SOAP_EOF})),
    [](const auto& info) {
      const failure_case& c = std::get<1>(info.param);
      std::string name = std::string(std::get<0>(info.param)) + "_" + c.kind + "_" +
                         std::to_string(c.expected == SOAP_EOF ? 1 : c.expected);
      return name + "_" + std::to_string(info.index);
    });

TEST_F(scm_client_server, fault_texts_and_typed_detail) {
  misbehave(
      "getRolePaths", "fault",
      R"("faultstring": "role service down", "detail": )"
      R"("<ns2:DwSoapFault xmlns:ns2=\"urn:ScmListener\"><message>try later</message></ns2:DwSoapFault>")");
  std::optional<strings> paths;
  ASSERT_EQ(role_paths(&paths), SOAP_SVR_FAULT);
  EXPECT_EQ(fault_string(), "role service down");
  ASSERT_NE(soap_.fault, nullptr);
  ASSERT_NE(soap_.fault->detail, nullptr);
  ASSERT_NE(soap_.fault->detail->ScmListenerServiceNS2__DwSoapFault, nullptr);
  EXPECT_STREQ(soap_.fault->detail->ScmListenerServiceNS2__DwSoapFault->message, "try later");

  char rendered[2048];
  soap_sprint_fault(&soap_, rendered, sizeof rendered);
  EXPECT_NE(std::string(rendered).find("role service down"), std::string::npos) << rendered;
}

// Error replies that carry no SOAP fault: the status is the error code, and
// the text a caller logs names it and shows the body sent.
TEST_F(scm_client_server, http_errors_keep_status_and_body) {
  struct {
    const char* params;
    int expected;
    const char* body;
  } cases[] = {
      {R"("status": 503, "body": "busy", "content_type": "text/plain")", 503, "busy"},
      {R"("status": 404, "body": "gone", "content_type": "text/plain")", 404, "gone"},
      {R"("status": 500)", 500, nullptr},
      {R"("status": 502)", 502, nullptr},
  };
  for (const auto& c : cases) {
    server_->reset();
    misbehave("getRolePaths", "raw", c.params);
    std::optional<strings> paths;
    ASSERT_EQ(role_paths(&paths), c.expected) << c.params;
    char rendered[2048];
    soap_sprint_fault(&soap_, rendered, sizeof rendered);
    std::string text(rendered);
    EXPECT_NE(text.find(std::to_string(c.expected)), std::string::npos) << text;
    if (c.body != nullptr) {
      EXPECT_NE(text.find(c.body), std::string::npos) << text;
    }
  }
}

TEST_F(scm_client_server, slow_reply_within_the_time_out_succeeds) {
  misbehave("getBrandingExternalSystemId", "slow", R"("seconds": 0.5)");
  soap_.recv_timeout = 5;
  std::optional<std::string> id;
  ASSERT_EQ(external_system_id(&id), SOAP_OK) << fault_string();
  EXPECT_EQ(id, "exsy1001");
}

// A key that does not verify is refused; so the calls above prove the
// module's keys verify.
TEST_F(scm_client_server, foreign_request_key_is_refused) {
  key_ = scm_requestkey_create("another secret", pool_, pool_);
  std::optional<std::string> id;
  EXPECT_EQ(external_system_id(&id), SOAP_CLI_FAULT);
  EXPECT_NE(fault_string().find("Invalid request key"), std::string::npos) << fault_string();
}

// --- What the requests carry ---------------------------------------------------------

std::vector<std::string> parameter_names(const std::string& requests_json) {
  static const std::regex name(R"(\[\"(\w+)\", )");
  std::vector<std::string> names;
  for (std::sregex_iterator it(requests_json.begin(), requests_json.end(), name), end; it != end;
       ++it)
    names.push_back((*it)[1]);
  return names;
}

TEST_F(scm_client_server, requests_carry_their_parameters_and_action) {
  std::optional<std::string> id;
  ASSERT_EQ(external_system_id(&id), SOAP_OK);
  std::string log = server_->requests();
  EXPECT_EQ(parameter_names(log), std::vector<std::string>{"requestKey"});
  EXPECT_NE(log.find(R"("soap_action": "\"alice:ScmListener\"")"), std::string::npos) << log;
  EXPECT_NE(log.find(key_), std::string::npos) << log;

  server_->reset();
  int answer;
  ASSERT_EQ(soap_call_ScmListenerServiceNS__isValidUser(
                &soap_, server_->url().c_str(), kAction, const_cast<char*>(key_),
                const_cast<char*>("alice"), const_cast<char*>("wonder land"), nullptr,
                const_cast<char*>("repo1"), &answer),
            SOAP_OK);
  EXPECT_EQ(parameter_names(server_->requests()),
            (std::vector<std::string>{"requestKey", "username", "password", "repositoryDir"}));
  EXPECT_EQ(answer, 0);
}

TEST_F(scm_client_server, utf8_strings_cross_unchanged) {
  std::optional<strings> paths;
  ASSERT_EQ(role_paths(&paths, "j\xc3\xbcrgen", "r\xc3\xa9po"), SOAP_OK) << fault_string();
  EXPECT_EQ(paths, strings{"view:/\xc3\xa9t\xc3\xa9/<&>"});
}

TEST_F(scm_client_server, counters_count_each_call) {
  std::optional<strings> paths;
  std::optional<roles> list;
  ASSERT_EQ(role_paths(&paths), SOAP_OK);
  ASSERT_EQ(role_paths(&paths), SOAP_OK);
  ASSERT_EQ(role_paths_list(&list), SOAP_OK);
  EXPECT_EQ(server_->counters(),
            R"({"isValidUser": 0, "getBrandingExternalSystemId": 0, "getRolePathsList": 1, )"
            R"("getRolePaths": 2})");
}

// --- Answers of any size, however they arrive -----------------------------------

// Answers of about these sizes: some 80 bytes per PBP, in four roles.
struct answer_size {
  const char* name;
  int pbps;
};

const answer_size kAnswerSizes[] = {{"1KB", 10}, {"70KB", 880}, {"1MB", 12500}, {"5MB", 62500}};

constexpr int kBulkRoles = 4;

roles bulk_roles(int pbps) {
  roles out;
  for (int r = 0; r < kBulkRoles; ++r) {
    strings paths;
    for (int i = r; i < pbps; i += kBulkRoles)
      paths.push_back((i % 3 == 0 ? "commit:" : "view:") + std::string("/projects/p") +
                      std::to_string(i / 40) + "/trunk/src/module-" + std::to_string(i));
    out.push_back(role{"r" + std::to_string(r), paths});
  }
  return out;
}

// User "bulk" with a repository per answer size, named after it.
std::string bulk_config() {
  std::string repositories;
  for (const answer_size& size : kAnswerSizes) {
    std::string entries;
    for (const auto& r : bulk_roles(size.pbps)) {
      std::string pbps;
      for (const auto& pbp : *r->pbps) pbps += (pbps.empty() ? "\"" : ", \"") + *pbp + "\"";
      entries += std::string(entries.empty() ? "" : ", ") + R"({"id": ")" + *r->id +
                 R"(", "pbps": [)" + pbps + "]}";
    }
    repositories +=
        std::string(repositories.empty() ? "" : ", ") + "\"" + size.name + "\": [" + entries + "]";
  }
  return R"({"shared_secret": "client-test-secret", "users": {"bulk": {"password": "p", )"
         R"("repositories": {)" +
         repositories + "}}}}";
}

struct delivery_case {
  const char* name;
  const char* stand_in;  // the stand-in's delivery params; null: through the relay
  relay_delivery relay;
};

const delivery_case kDeliveries[] = {
    {"apart", R"("delivery": "apart")", {}},
    {"whole", R"("delivery": "whole")", {}},
    {"pieces", R"("delivery": "pieces", "piece": 1000)", {}},
    {"chunked", R"("delivery": "chunked", "piece": 1000)", {}},
    {"http10", R"("delivery": "http10")", {}},
    {"cut_at_head_end", nullptr, relay_delivery::cut_at_head_end},
    {"interim_continue", nullptr, relay_delivery::interim_continue},
    {"kept_alive", nullptr, relay_delivery::kept_alive},
    {"gzip", nullptr, relay_delivery::gzip},
    {"chunk_lines_cut", nullptr, relay_delivery::chunk_lines_cut},
};

class large_answers : public ::testing::TestWithParam<delivery_case> {
 protected:
  static void SetUpTestSuite() {
    apr_initialize();
    server_ = new brimstack_process(bulk_config(), false);
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
    apr_terminate();
  }

  void SetUp() override {
    apr_pool_create(&pool_, nullptr);
    key_ = scm_requestkey_create(kSecret, pool_, pool_);
    soap_init2(&soap_, SOAP_C_UTFSTRING | SOAP_XML_INDENT, SOAP_C_UTFSTRING | SOAP_XML_INDENT);
    soap_set_namespaces(&soap_, namespaces);
    soap_.recv_timeout = soap_.send_timeout = soap_.connect_timeout = 10;
    if (GetParam().stand_in == nullptr)
      relay_ = std::make_unique<relay_server>(server_->port(), GetParam().relay);
  }
  void TearDown() override {
    soap_destroy(&soap_);
    soap_end(&soap_);
    soap_done(&soap_);
    apr_pool_destroy(pool_);
  }

  // The operation's answers come in this test's delivery, bent by kind.
  static void answer(const char* operation, const char* kind) {
    const char* params = GetParam().stand_in;
    server_->misbehave(std::string(R"({"operation": ")") + operation + R"(", "kind": ")" + kind +
                       "\"" + (params != nullptr ? std::string(", ") + params : "") + "}");
  }

  int role_paths_list(const char* repository, std::optional<roles>* out) {
    ScmListenerServiceNS__getRolePathsListResponse response;
    const int status = scm_call_get_role_paths_list(&soap_, url().c_str(), kAction, key_, "bulk",
                                                    "exsy1001", repository, &response);
    if (status == SOAP_OK) *out = read_roles(response._getRolePathsListReturn);
    return status;
  }

  int role_paths(const char* repository, std::optional<strings>* out) {
    ScmListenerServiceNS__getRolePathsResponse response;
    const int status = scm_call_get_role_paths(&soap_, url().c_str(), kAction, key_, "bulk",
                                               "exsy1001", repository, &response);
    if (status == SOAP_OK) *out = read_strings(response._getRolePathsReturn);
    return status;
  }

  std::string fault_detail() {
    const char** detail = soap_faultdetail(&soap_);
    return detail != nullptr && *detail != nullptr ? *detail : "";
  }

 private:
  std::string url() const { return relay_ ? relay_->url() : server_->url(); }

  static brimstack_process* server_;
  std::unique_ptr<relay_server> relay_;
  apr_pool_t* pool_ = nullptr;
  const char* key_ = nullptr;
  struct soap soap_;
};

brimstack_process* large_answers::server_ = nullptr;

constexpr char kSizeDisagrees[] =
    "the items sent disagree with the size SOAP-ENC:arrayType declares";

// Read whole, and checked whole: an array one item short of what it holds
// fails for that reason and no other, so the check saw every byte.
TEST_P(large_answers, read_and_checked_whole) {
  for (const answer_size& size : kAnswerSizes) {
    SCOPED_TRACE(size.name);
    const roles expected = bulk_roles(size.pbps);
    strings all_paths;
    for (const auto& r : expected)
      all_paths.insert(all_paths.end(), r->pbps->begin(), r->pbps->end());

    answer("getRolePathsList", "deliver");
    std::optional<roles> list;
    ASSERT_EQ(role_paths_list(size.name, &list), SOAP_OK) << fault_detail();
    EXPECT_EQ(list, expected);
    answer("getRolePaths", "deliver");
    std::optional<strings> paths;
    ASSERT_EQ(role_paths(size.name, &paths), SOAP_OK) << fault_detail();
    EXPECT_EQ(paths, all_paths);

    answer("getRolePathsList", "size_smaller");
    EXPECT_EQ(role_paths_list(size.name, &list), SOAP_TYPE);
    EXPECT_EQ(fault_detail(), kSizeDisagrees);
    answer("getRolePaths", "size_smaller");
    EXPECT_EQ(role_paths(size.name, &paths), SOAP_TYPE);
    EXPECT_EQ(fault_detail(), kSizeDisagrees);
  }
}

INSTANTIATE_TEST_SUITE_P(scm_client_server, large_answers, ::testing::ValuesIn(kDeliveries),
                         [](const auto& info) { return std::string(info.param.name); });

// --- HTTPS ----------------------------------------------------------------------

struct tls_case {
  const char* name;
  const char* behaviour;  // set at the server's start; empty: none
  int recv_timeout;
  int expected;
};

class tls_calls : public ::testing::TestWithParam<tls_case> {
 protected:
  void SetUp() override {
    apr_initialize();
    apr_pool_create(&pool_, nullptr);
    soap_ssl_init();
    soap_init2(&soap_, SOAP_C_UTFSTRING | SOAP_XML_INDENT, SOAP_C_UTFSTRING | SOAP_XML_INDENT);
    soap_set_namespaces(&soap_, namespaces);
    ASSERT_EQ(soap_ssl_client_context(&soap_, SOAP_SSL_NO_AUTHENTICATION, nullptr, nullptr, nullptr,
                                      nullptr, nullptr),
              SOAP_OK);
  }
  void TearDown() override {
    soap_destroy(&soap_);
    soap_end(&soap_);
    soap_done(&soap_);
    apr_pool_destroy(pool_);
    apr_terminate();
  }

  apr_pool_t* pool_ = nullptr;
  struct soap soap_;
};

TEST_P(tls_calls, end_as_over_http) {
  const tls_case& c = GetParam();
  std::vector<std::string> behaviours;
  if (*c.behaviour) behaviours.emplace_back(c.behaviour);
  brimstack_process server(kConfig, true, behaviours);
  soap_.recv_timeout = c.recv_timeout;
  char* key = const_cast<char*>(scm_requestkey_create(kSecret, pool_, pool_));
  char* id = nullptr;
  ASSERT_EQ(soap_call_ScmListenerServiceNS__getBrandingExternalSystemId(
                &soap_, server.url().c_str(), kAction, key, &id),
            c.expected);
  if (c.expected != SOAP_OK) return;
  EXPECT_STREQ(id, "exsy1001");
  ScmListenerServiceNS__getRolePathsListResponse response;
  ASSERT_EQ(soap_call_ScmListenerServiceNS__getRolePathsList(
                &soap_, server.url().c_str(), kAction, key, const_cast<char*>("alice"),
                const_cast<char*>("exsy1001"), const_cast<char*>("repo1"), &response),
            SOAP_OK);
  EXPECT_EQ(read_roles(response._getRolePathsListReturn), kAliceRoles);
}

INSTANTIATE_TEST_SUITE_P(
    scm_client_server, tls_calls,
    ::testing::Values(
        tls_case{"answered", "", 10, SOAP_OK},
        tls_case{"closed", R"({"operation": "*", "kind": "close"})", 10, SOAP_EOF},
        tls_case{"timed_out", R"({"operation": "*", "kind": "slow", "seconds": 3})", 1, SOAP_EOF},
        tls_case{"fault", R"({"operation": "*", "kind": "fault"})", 10, SOAP_SVR_FAULT}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
