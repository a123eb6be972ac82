#include "names/connection_name_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/name_test_messages.h"

namespace {

const CBytes kGroups = Extension(10, {0, 4, 0, 0x1d, 0, 0x17});
const CBytes kAlpn = Extension(16, {0, 3, 2, 'h', '2'});
const CBytes kHello = ClientHello({kGroups, ServerName("Mail.Example.COM"), kAlpn});

struct NameCase {
  const char* name;
  CBytes payload;
  std::string expected;  // empty: no name
  bool publicName = false;
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

const NameCase kNameCases[] = {
    {"ServerNameAmongExtensions", kHello, "mail.example.com"},
    {"EncryptedInnerHelloGivesPublicName",
     ClientHello({ServerName("public.example"), Extension(0xfe0d, CBytes(40, 7))}),
     "public.example", true},
    {"HelloSplitOverSegments", CBytes(kHello.begin(), kHello.end() - 10), ""},
    {"NoServerName", ClientHello({kGroups, kAlpn}), ""},
    {"ServerNameLengthLies",
     ClientHello({Extension(0, Sized16(Cat({CBytes{0}, Be16(200), Text("a.example")})))}), ""},
    {"ServerNameWithControlBytes", ClientHello({ServerName("a\r\n.example")}), ""},
    {"NotAHello", Text("SSH-2.0-OpenSSH_9.2\r\n"), ""},
    {"HttpHost",
     Text("GET /index.html HTTP/1.1\r\nUser-Agent: t\r\nhOsT:  Web.Example:8080 \t\r\n\r\n"),
     "web.example"},
    {"HttpBareLineFeedsNoSpace", Text("POST /x HTTP/1.0\nHost:a.example\n\n"), "a.example"},
    {"HttpWithoutHost", Text("GET / HTTP/1.0\r\nAccept: */*\r\n\r\nHost: late.example\r\n"), ""},
    {"HttpSpaceBeforeColon", Text("GET / HTTP/1.1\r\nHost : a.example\r\n\r\n"), ""},
    {"HttpResponseNotRequest", Text("HTTP/1.1 200 OK\r\nHost: a.example\r\n\r\n"), ""},
    {"HttpAddressLiteral", Text("GET / HTTP/1.1\r\nHost: 198.51.100.7:80\r\n\r\n"), ""},
    {"HttpHeadCutBeforeHost", Text("GET / HTTP/1.1\r\nAccept: */*\r\nHo"), ""},
};

class ConnectionNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(ConnectionNameTest, FindsTheName) {
  const NameCase& c = GetParam();
  const auto got = CConnectionNameReader::Read(c.payload);
  if (c.expected.empty()) {
    EXPECT_FALSE(got) << got->name;
    return;
  }
  ASSERT_TRUE(got);
  EXPECT_EQ(got->name, c.expected);
  EXPECT_EQ(got->source, c.payload[0] == 22 ? EConnectionNameSource::kTlsServerName
                                            : EConnectionNameSource::kHttpHost);
  EXPECT_EQ(got->publicName, c.publicName);
}

INSTANTIATE_TEST_SUITE_P(Payloads, ConnectionNameTest, ::testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
