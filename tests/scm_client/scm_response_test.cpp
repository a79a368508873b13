// How answers are read: the strict isValidUser call and the role readers.
#include <apr_pools.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apr_pool_test.h"
#include "scm_is_valid_user.h"
#include "scm_role_entries.h"
#include "scm_role_paths_list.h"
#include "scm_wire.h"

namespace {

constexpr char kSoapFault[] =
    "<soapenv:Fault><faultcode>soapenv:Server</faultcode>"
    "<faultstring>request key rejected</faultstring></soapenv:Fault>";

struct IsValidUserCase {
  const char* name;
  std::string reply;
  int status;
  int answer;  // -99: left untouched
};

TEST(ScmIsValidUser, AnswerIsTakenOnlyFromAReturnedValue) {
  const std::vector<IsValidUserCase> cases = {
      {"accepted",
       soap_reply("<ns1:isValidUserResponse xmlns:ns1=\"urn:x\">"
                  "<isValidUserReturn xsi:type=\"xsd:int\">0</isValidUserReturn>"
                  "</ns1:isValidUserResponse>"),
       SOAP_OK, 0},
      {"refused", soap_reply("<r><anyName>7</anyName><extra>0</extra></r>"), SOAP_OK, 7},
      {"no returned value", soap_reply("<ns1:isValidUserResponse xmlns:ns1=\"urn:x\"/>"),
       SCM_NO_RETURN_VALUE, -99},
      {"only a nil value", soap_reply("<r><isValidUserReturn xsi:nil=\"true\"/></r>"),
       SCM_NO_RETURN_VALUE, -99},
      {"fault", soap_reply(kSoapFault), SOAP_FAULT, -99},
      {"not a number", soap_reply("<r><v>yes</v></r>"), SOAP_TYPE, -99},
      {"connection closed before a reply", "", SOAP_EOF, -99},
      {"connection closed within the envelope",
       soap_reply("<r><v>0</v></r>").substr(0, soap_reply("").size() - 20), SOAP_EOF, -99},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScmWire wire(c.reply);
    int answer = -99;
    EXPECT_EQ(scm_call_is_valid_user(wire.soap(), kEndpoint, kAction, "K", "bob", "pw", "ext",
                                     "repo", &answer),
              c.status)
        << wire.fault();
    EXPECT_EQ(answer, c.answer);
  }
}

TEST(ScmIsValidUser, FailuresCarryARenderableFaultText) {
  {
    ScmWire wire(soap_reply("<r/>"));
    int answer = 0;
    ASSERT_NE(scm_call_is_valid_user(wire.soap(), kEndpoint, kAction, "K", "bob", "pw", nullptr,
                                     "repo", &answer),
              SOAP_OK);
    EXPECT_NE(wire.fault().find("without a returned value"), std::string::npos) << wire.fault();
  }
  {
    ScmWire wire(soap_reply(kSoapFault));
    int answer = 0;
    ASSERT_EQ(scm_call_is_valid_user(wire.soap(), kEndpoint, kAction, "K", "bob", "pw", nullptr,
                                     "repo", &answer),
              SOAP_FAULT);
    EXPECT_NE(wire.fault().find("request key rejected"), std::string::npos) << wire.fault();
  }
}

class ScmRoleEntries : public apr_pool_test {};

struct Role {
  std::string id;  // "(none)" for an absent id
  std::vector<std::string> pbps;
  bool operator==(const Role&) const = default;
};

std::vector<Role> roles_of(const apr_array_header_t* roles) {
  std::vector<Role> out;
  for (int i = 0; i < roles->nelts; ++i) {
    const auto& entry = APR_ARRAY_IDX(roles, i, scm_role_entry_t);
    Role role{entry.role_id ? entry.role_id : "(none)", {}};
    for (int j = 0; j < entry.num_pbps; ++j) role.pbps.emplace_back(entry.pbps[j]);
    out.push_back(role);
  }
  return out;
}

std::string role_paths_list_reply(const std::string& array) {
  return soap_reply(
      "<ns1:getRolePathsListResponse xmlns:ns1=\"http://scm-listener.example.invalid\""
      " xmlns:ns2=\"urn:ScmListener\">" +
      array + "</ns1:getRolePathsListResponse>");
}

TEST_F(ScmRoleEntries, RolePathsListAnswersBecomeRolesWithMissingPartsEmpty) {
  const std::string full_array =
      "<getRolePathsListReturn soapenc:arrayType=\"ns2:RolePathsListDO[4]\">"
      "<item><repoPathAndPerm soapenc:arrayType=\"xsd:string[3]\">"
      "<item>view:/</item><item xsi:nil=\"true\"/><item>commit:/trunk/**</item>"
      "</repoPathAndPerm><repoRoleId>dev</repoRoleId></item>"
      "<item xsi:nil=\"true\"/>"
      "<item><repoRoleId>reader</repoRoleId></item>"
      "<item><repoPathAndPerm><item>view:/docs</item></repoPathAndPerm></item>"
      "</getRolePathsListReturn>";
  const struct {
    const char* name;
    std::string reply;
    std::vector<Role> roles;
  } cases[] = {
      {"entries with nil, missing ids and missing path arrays",
       role_paths_list_reply(full_array),
       {{"dev", {"view:/", "commit:/trunk/**"}}, {"reader", {}}, {"(none)", {"view:/docs"}}}},
      {"absent list", role_paths_list_reply(""), {}},
      {"nil list", role_paths_list_reply("<getRolePathsListReturn xsi:nil=\"true\"/>"), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScmWire wire(c.reply);
    ScmListenerServiceNS__getRolePathsListResponse response;
    ASSERT_EQ(soap_call_ScmListenerServiceNS__getRolePathsList(wire.soap(), kEndpoint, kAction,
                                                               const_cast<char*>("K"), nullptr,
                                                               nullptr, nullptr, &response),
              SOAP_OK)
        << wire.fault();
    EXPECT_EQ(roles_of(scm_roles_from_role_paths_list(&response, pool_)), c.roles);
  }
}

TEST(ScmRolePathsList, RoleEntriesTypedAsAnythingElseFailTheCall) {
  // Body content with one role entry carrying these attributes, inline or as
  // a multi-reference element after the response element.
  auto inline_entry = [](const std::string& attributes) {
    return "<r><a><i " + attributes + "><repoRoleId>7</repoRoleId></i></a></r>";
  };
  auto multiref_entry = [](const std::string& attributes) {
    return "<r><a><i href=\"#m\"/></a></r><m id=\"m\" " + attributes +
           "><repoRoleId>7</repoRoleId></m>";
  };
  const std::string role_type = R"(xmlns:t="urn:ScmListener" xsi:type="t:RolePathsListDO")";
  const struct {
    const char* name;
    std::string body;
    int status;
  } cases[] = {
      {"role type under its own prefix", inline_entry(role_type), SOAP_OK},
      {"no type", inline_entry(""), SOAP_OK},
      {"multi-reference role", multiref_entry(role_type), SOAP_OK},
      {"nil entry of another type", "<r><a><i xsi:type=\"xsd:string\" xsi:nil=\"true\"/></a></r>",
       SOAP_OK},
      {"string type", inline_entry(R"(xsi:type="xsd:string")"), SOAP_TYPE},
      {"same name in another namespace",
       inline_entry(R"(xmlns:t="urn:other" xsi:type="t:RolePathsListDO")"), SOAP_TYPE},
      {"multi-reference of another type",
       multiref_entry(R"(xmlns:t="urn:ScmListener" xsi:type="t:Other")"), SOAP_TYPE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScmWire wire(soap_reply(c.body));
    ScmListenerServiceNS__getRolePathsListResponse response;
    EXPECT_EQ(scm_call_get_role_paths_list(wire.soap(), kEndpoint, kAction, "K", "bob", "ext",
                                           "repo", &response),
              c.status)
        << wire.fault();
    if (c.status != SOAP_OK) {
      EXPECT_NE(wire.fault().find("of another type"), std::string::npos) << wire.fault();
    }
  }
}

TEST_F(ScmRoleEntries, RolePathsAnswersBecomeOneRoleNamedNone) {
  const struct {
    const char* name;
    std::string array;
    std::vector<Role> roles;
  } cases[] = {
      {"strings with a nil among them",
       "<getRolePathsReturn><i>view:/</i><i "
       "xsi:nil=\"true\"/><i>commit:/a</i></getRolePathsReturn>",
       {{"NONE", {"view:/", "commit:/a"}}}},
      {"empty array", "<getRolePathsReturn soapenc:arrayType=\"xsd:string[0]\"/>", {{"NONE", {}}}},
      {"absent array", "", {{"NONE", {}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScmWire wire(soap_reply("<r>" + c.array + "</r>"));
    ScmListenerServiceNS__getRolePathsResponse response;
    ASSERT_EQ(soap_call_ScmListenerServiceNS__getRolePaths(wire.soap(), kEndpoint, kAction,
                                                           const_cast<char*>("K"), nullptr, nullptr,
                                                           nullptr, &response),
              SOAP_OK)
        << wire.fault();
    EXPECT_EQ(roles_of(scm_roles_from_role_paths(&response, pool_)), c.roles);
  }
}

TEST_F(ScmRoleEntries, CopiesOutliveTheRuntimesData) {
  char id[] = "dev";
  char pbp[] = "view:/";
  char* pbps[] = {pbp};
  ScmListenerServiceNS2ArrayOf_USCORExsd_USCOREstring paths;
  paths.__ptr = pbps;
  paths.__size = 1;
  ScmListenerServiceNS2__RolePathsListDO entry;
  entry.repoPathAndPerm = &paths;
  entry.repoRoleId = id;
  ScmListenerServiceNS2__RolePathsListDO* entries[] = {&entry};
  ScmListenerServiceNS2RolePathsListDOArray list;
  list.__ptr = entries;
  list.__size = 1;
  ScmListenerServiceNS__getRolePathsListResponse response;
  response._getRolePathsListReturn = &list;

  const apr_array_header_t* roles = scm_roles_from_role_paths_list(&response, pool_);
  id[0] = pbp[0] = 'X';
  EXPECT_EQ(roles_of(roles), (std::vector<Role>{{"dev", {"view:/"}}}));
}

TEST_F(ScmRoleEntries, ArraysWithoutItemsOrWithANegativeSizeYieldNothing) {
  ScmListenerServiceNS2ArrayOf_USCORExsd_USCOREstring no_items;
  no_items.__size = 3;
  ScmListenerServiceNS__getRolePathsResponse paths;
  paths._getRolePathsReturn = &no_items;
  EXPECT_EQ(roles_of(scm_roles_from_role_paths(&paths, pool_)), (std::vector<Role>{{"NONE", {}}}));

  ScmListenerServiceNS2__RolePathsListDO* entries[] = {nullptr};
  ScmListenerServiceNS2RolePathsListDOArray negative;
  negative.__ptr = entries;
  negative.__size = -1;
  ScmListenerServiceNS__getRolePathsListResponse list;
  list._getRolePathsListReturn = &negative;
  EXPECT_TRUE(roles_of(scm_roles_from_role_paths_list(&list, pool_)).empty());
}

}  // namespace
