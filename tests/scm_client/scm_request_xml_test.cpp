// What the client puts on the wire for each operation.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "scm_is_valid_user.h"
#include "scm_wire.h"

namespace {

char* s(const char* text) {
  return const_cast<char*>(text);
}

// Names of the child elements of the operation element, in order.
std::vector<std::string> parameter_names(const std::string& xml, const std::string& operation) {
  const std::string open = "<ScmListenerServiceNS:" + operation + ">";
  const std::string close = "</ScmListenerServiceNS:" + operation + ">";
  const auto begin = xml.find(open);
  const auto end = xml.find(close);
  if (begin == std::string::npos || end == std::string::npos) return {"<operation missing>"};
  const std::string inner = xml.substr(begin + open.size(), end - begin - open.size());
  std::vector<std::string> names;
  for (auto at = inner.find('<'); at != std::string::npos; at = inner.find('<', at + 1)) {
    if (!std::isalpha(static_cast<unsigned char>(inner[at + 1]))) continue;  // end tags
    names.push_back(inner.substr(at + 1, inner.find_first_of(" />", at) - at - 1));
  }
  return names;
}

struct RequestCase {
  const char* operation;
  std::function<int(struct soap*)> send;
  std::vector<std::string> parameters;
};

const std::vector<RequestCase>& request_cases() {
  static const std::vector<RequestCase> cases = {
      {"isValidUser",
       [](struct soap* soap) {
         return soap_send_ScmListenerServiceNS__isValidUser(
             soap, kEndpoint, kAction, s("K"), s("bob"), s("pw"), s("ext-1"), s("repo"));
       },
       {"requestKey", "username", "password", "systemIdString", "repositoryDir"}},
      {"isValidUser",  // absent systemIdString: left out, order of the rest kept
       [](struct soap* soap) {
         return soap_send_ScmListenerServiceNS__isValidUser(soap, kEndpoint, kAction, s("K"),
                                                            s("bob"), s("pw"), nullptr, s("repo"));
       },
       {"requestKey", "username", "password", "repositoryDir"}},
      {"getBrandingExternalSystemId",
       [](struct soap* soap) {
         return soap_send_ScmListenerServiceNS__getBrandingExternalSystemId(soap, kEndpoint,
                                                                            kAction, s("K"));
       },
       {"requestKey"}},
      {"getRolePathsList",
       [](struct soap* soap) {
         return soap_send_ScmListenerServiceNS__getRolePathsList(soap, kEndpoint, kAction, s("K"),
                                                                 s("bob"), s("ext-1"), s("repo"));
       },
       {"requestKey", "username", "systemId", "repositoryName"}},
      {"getRolePaths",
       [](struct soap* soap) {
         return soap_send_ScmListenerServiceNS__getRolePaths(soap, kEndpoint, kAction, s("K"),
                                                             nullptr, s("ext-1"), s("repo"));
       },
       {"requestKey", "systemId", "repositoryName"}},
  };
  return cases;
}

TEST(ScmRequestXml, EveryOperationSendsAnRpcEncodedPostWithItsParametersInOrder) {
  for (const auto& c : request_cases()) {
    SCOPED_TRACE(c.operation);
    ScmWire wire;
    ASSERT_EQ(c.send(wire.soap()), SOAP_OK) << wire.fault();
    const std::string sent = wire.sent();

    EXPECT_EQ(sent.rfind("POST /qv-soap/services/ScmListener HTTP/1.1\r\n", 0), 0u) << sent;
    EXPECT_NE(sent.find("\r\nHost: scm.example.invalid:8080\r\n"), std::string::npos);
    EXPECT_NE(sent.find("\r\nContent-Type: text/xml; charset=utf-8\r\n"), std::string::npos);
    EXPECT_NE(sent.find("\r\nSOAPAction: \"bob:ScmListener\"\r\n"), std::string::npos);

    EXPECT_EQ(sent.find("SOAP-ENV:Header"), std::string::npos);
    EXPECT_NE(sent.find("<SOAP-ENV:Body SOAP-ENV:encodingStyle="
                        "\"http://schemas.xmlsoap.org/soap/encoding/\">"),
              std::string::npos);
    EXPECT_EQ(parameter_names(sent, c.operation), c.parameters);
    EXPECT_EQ(sent.find("xsi:type"), std::string::npos);
    EXPECT_EQ(sent.find("xsi:nil"), std::string::npos);
  }
}

TEST(ScmRequestXml, EnvelopeDeclaresTheWholeNamespaceTableInOrder) {
  ScmWire wire;
  ASSERT_EQ(soap_send_ScmListenerServiceNS__getBrandingExternalSystemId(wire.soap(), kEndpoint,
                                                                        kAction, s("K")),
            SOAP_OK);
  const std::string sent = wire.sent();
  const auto envelope_start = sent.find("<SOAP-ENV:Envelope");
  ASSERT_NE(envelope_start, std::string::npos);
  const std::string envelope_tag =
      sent.substr(envelope_start, sent.find('>', envelope_start) - envelope_start + 1);

  const char* const expected[][2] = {
      {"SOAP-ENV", "http://schemas.xmlsoap.org/soap/envelope/"},
      {"SOAP-ENC", "http://schemas.xmlsoap.org/soap/encoding/"},
      {"xsi", "http://www.w3.org/2001/XMLSchema-instance"},
      {"xsd", "http://www.w3.org/2001/XMLSchema"},
      {"ScmListenerRootNS", nullptr},
      {"ScmListenerServiceNS3", nullptr},
      {"QuillmarkTypeNS", nullptr},
      {"ScmListenerServiceNS2", "urn:ScmListener"},
      {"QuillmarkServiceNS", nullptr},
      {"ScmListenerServiceNS", nullptr},
  };
  std::size_t previous = 0;
  for (const auto& [prefix, uri] : expected) {
    SCOPED_TRACE(prefix);
    const std::string declaration = std::string("xmlns:") + prefix + "=\"";
    const auto at = envelope_tag.find(declaration);
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(at, previous);
    previous = at;
    if (uri != nullptr) {
      EXPECT_EQ(envelope_tag.compare(at + declaration.size(), std::strlen(uri), uri), 0);
    }
  }
}

TEST(ScmRequestXml, StringsGoOutAsUtf8BytesWithMarkupEscaped) {
  ScmWire wire;
  ASSERT_EQ(soap_send_ScmListenerServiceNS__isValidUser(
                wire.soap(), kEndpoint, kAction, s("K+/="), s("j\xc3\xbcrgen \xe2\x82\xac"),
                s("a<b&c>\"d'"), s("ext"), s("r\xc3\xa9po")),
            SOAP_OK);
  const std::string sent = wire.sent();
  EXPECT_NE(sent.find("<requestKey>K+/=</requestKey>"), std::string::npos);
  EXPECT_NE(sent.find("<username>j\xc3\xbcrgen \xe2\x82\xac</username>"), std::string::npos);
  EXPECT_NE(sent.find("<repositoryDir>r\xc3\xa9po</repositoryDir>"), std::string::npos);
  EXPECT_EQ(sent.find("&#"), std::string::npos);  // no character references
  EXPECT_NE(sent.find("<password>a&lt;b&amp;c&gt;"), std::string::npos);
}

}  // namespace
