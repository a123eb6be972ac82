#include "names/dns_answer_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/value_format.h"
#include "tests/name_test_messages.h"

namespace {

struct DnsCase {
  const char* name;
  CBytes message;
  EDnsReadResult result;
  std::vector<std::string> answers;  // "address name ttl"
};
void PrintTo(const DnsCase& c, std::ostream* os) { *os << c.name; }

const CBytes kV4 = {192, 0, 2, 7};
const CBytes kV6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
constexpr const char* kReverseV6 =
    "1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa";

// A response to "www.example.com": CNAME to cdn.example.net, whose two A
// records name their owner by a pointer to the CNAME's target (offset 45).
const CBytes kChain = Cat({DnsHeader(kDnsResponse, 1, 3),
                           DnsQuestion(DnsName("www.example.com"), kDnsA),
                           DnsRecord(DnsPointer(12), kDnsCname, 300, DnsName("cdn.example.net")),
                           DnsRecord(DnsPointer(45), kDnsA, 20, {198, 51, 100, 1}),
                           DnsRecord(DnsPointer(45), kDnsA, 20, {198, 51, 100, 2})});

CBytes Reply(std::string_view asked, uint16_t type, std::initializer_list<CBytes> records,
             uint16_t flags = kDnsResponse) {
  return Cat({DnsHeader(flags, 1, static_cast<uint16_t>(records.size())),
              DnsQuestion(DnsName(asked), type), Cat(records)});
}

const DnsCase kDnsCases[] = {
    {"CnameChainNamesTheQuestion", kChain, EDnsReadResult::kComplete,
     {"198.51.100.1 www.example.com 20", "198.51.100.2 www.example.com 20"}},
    {"CaseFoldedAndUnrelatedOwnerSkipped",
     Reply("WWW.Example.COM", kDnsA,
           {DnsRecord(DnsName("www.example.com"), kDnsA, 60, kV4),
            DnsRecord(DnsName("other.example"), kDnsA, 60, {192, 0, 2, 8})}),
     EDnsReadResult::kComplete, {"192.0.2.7 www.example.com 60"}},
    {"Aaaa", Reply("six.example", kDnsAaaa, {DnsRecord(DnsPointer(12), kDnsAaaa, 7, kV6)}),
     EDnsReadResult::kComplete, {"2001:db8::1 six.example 7"}},
    {"PtrV4",
     Reply("7.2.0.192.in-addr.arpa", kDnsPtr,
           {DnsRecord(DnsPointer(12), kDnsPtr, 3600, DnsName("Host.Example"))}),
     EDnsReadResult::kComplete, {"192.0.2.7 host.example 3600"}},
    {"PtrV6",
     Reply(kReverseV6, kDnsPtr, {DnsRecord(DnsPointer(12), kDnsPtr, 5, DnsName("six.example"))}),
     EDnsReadResult::kComplete, {"2001:db8::1 six.example 5"}},
    {"PtrUnderANonReverseName",
     Reply("host.example", kDnsPtr, {DnsRecord(DnsPointer(12), kDnsPtr, 5, DnsName("x.example"))}),
     EDnsReadResult::kComplete, {}},
    {"CnameLoopIsCut",
     Reply("a.example", kDnsA,
           {DnsRecord(DnsName("a.example"), kDnsCname, 9, DnsName("b.example")),
            DnsRecord(DnsName("b.example"), kDnsCname, 9, DnsName("a.example")),
            DnsRecord(DnsName("b.example"), kDnsA, 9, kV4)}),
     EDnsReadResult::kComplete, {"192.0.2.7 a.example 9"}},
    {"TtlWithTopBitIsZero",
     Reply("t.example", kDnsA, {DnsRecord(DnsPointer(12), kDnsA, 0x80000001u, kV4)}),
     EDnsReadResult::kComplete, {"192.0.2.7 t.example 0"}},
    {"BadDataLengthSkipsOneRecord",
     Reply("d.example", kDnsA,
           {DnsRecord(DnsPointer(12), kDnsA, 9, {1, 2, 3, 4, 5}),
            DnsRecord(DnsPointer(12), kDnsA, 9, kV4)}),
     EDnsReadResult::kMalformed, {"192.0.2.7 d.example 9"}},
    {"Query", Reply("q.example", kDnsA, {DnsRecord(DnsPointer(12), kDnsA, 9, kV4)}, 0x0100),
     EDnsReadResult::kIgnored, {}},
    {"NameError", Reply("q.example", kDnsA, {DnsRecord(DnsPointer(12), kDnsA, 9, kV4)}, 0x8183),
     EDnsReadResult::kIgnored, {}},
    {"TerminalEscapeInName",
     Reply("x\x1b[2J.example", kDnsA, {DnsRecord(DnsPointer(12), kDnsA, 9, kV4)}),
     EDnsReadResult::kComplete, {}},
    {"DotInsideALabel",
     Cat({DnsHeader(kDnsResponse, 1, 1), CBytes{3, 'a', '.', 'b'}, DnsName("example"),
          Be16(kDnsA), Be16(1), DnsRecord(DnsPointer(12), kDnsA, 9, kV4)}),
     EDnsReadResult::kComplete, {}},
    {"PointerToItself",
     Reply("p.example", kDnsA, {DnsRecord(DnsPointer(27), kDnsA, 9, kV4)}),
     EDnsReadResult::kMalformed, {}},
    {"PointerPastTheEnd",
     Reply("p.example", kDnsA, {DnsRecord(DnsPointer(0x3FFF), kDnsA, 9, kV4)}),
     EDnsReadResult::kMalformed, {}},
    {"PointerChainGoingForward",
     Cat({DnsHeader(kDnsResponse, 1, 0), DnsPointer(14), DnsPointer(12), Be16(kDnsA), Be16(1)}),
     EDnsReadResult::kMalformed, {}},
    {"NameOver255Bytes",
     Reply(std::string(60, 'a') + "." + std::string(60, 'b') + "." + std::string(60, 'c') + "." +
               std::string(60, 'd') + "." + std::string(60, 'e'),
           kDnsA, {}),
     EDnsReadResult::kMalformed, {}},
    {"ObsoleteLabelType",
     Cat({DnsHeader(kDnsResponse, 1, 0), CBytes{0x41, 'x', 0}, Be16(kDnsA), Be16(1)}),
     EDnsReadResult::kMalformed, {}},
    {"HeaderOnlyPart", CBytes{0x12, 0x34, 0x81}, EDnsReadResult::kTruncated, {}},
};

std::vector<std::string> Texts(std::span<const CDnsAnswer> answers) {
  std::vector<std::string> texts;
  for (const CDnsAnswer& a : answers)
    texts.push_back(FormatAddress(a.address) + " " + a.name + " " + std::to_string(a.ttlSeconds));
  return texts;
}

class DnsAnswerReaderTest : public ::testing::TestWithParam<DnsCase> {};

TEST_P(DnsAnswerReaderTest, ReadsWhatIsSafe) {
  CDnsAnswerReader reader;
  EXPECT_EQ(reader.Read(GetParam().message), GetParam().result);
  EXPECT_EQ(Texts(reader.Answers()), GetParam().answers);
}

INSTANTIATE_TEST_SUITE_P(Messages, DnsAnswerReaderTest, ::testing::ValuesIn(kDnsCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Every cut of a real response reads as truncated and keeps only answers the
// whole message gives, in the same order.
TEST(DnsAnswerReader, EveryTruncationIsSafe) {
  CDnsAnswerReader reader;
  ASSERT_EQ(reader.Read(kChain), EDnsReadResult::kComplete);
  const std::vector<std::string> whole = Texts(reader.Answers());
  for (std::size_t cut = 0; cut < kChain.size(); ++cut) {
    const std::vector<uint8_t> part(kChain.begin(), kChain.begin() + static_cast<long>(cut));
    EXPECT_EQ(reader.Read(part), EDnsReadResult::kTruncated) << cut;
    const std::vector<std::string> got = Texts(reader.Answers());
    ASSERT_LE(got.size(), whole.size()) << cut;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin())) << cut;
  }
}

}  // namespace
