#include "cli/headless_options.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

auto Parse(const std::string& line, std::string& error) {
  std::istringstream in(line);
  std::vector<std::string> store;
  for (std::string word; in >> word;) store.push_back(word);
  return ParseHeadlessOptions({store.begin(), store.end()}, error);
}

struct BadCase {
  const char* args;
  const char* reason;  // a piece of the error text
};

class HeadlessOptionsBad : public testing::TestWithParam<BadCase> {};

TEST_P(HeadlessOptionsBad, IsAUsageError) {
  std::string error;
  const auto options = Parse(GetParam().args, error);
  EXPECT_FALSE(options.has_value());
  EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeadlessOptionsBad,
    testing::Values(BadCase{"--headless", "-i DEVICE or -r FILE"},
                    BadCase{"--headless -i eth0 -r a.pcap", "once"},
                    BadCase{"-r", "needs a value"},
                    BadCase{"-r a.pcap --bogus", "unknown option: --bogus"},
                    BadCase{"-r a.pcap extra", "unknown option: extra"},
                    BadCase{"-r a.pcap --no-tcp --no-udp", "record nothing"},
                    BadCase{"-r a.pcap --role boss", "client or server"},
                    BadCase{"-r a.pcap --local 1.2.3", "not an IP address"},
                    BadCase{"-r a.pcap --local 1.2.3.256", "not an IP address"},
                    BadCase{"-r a.pcap --local 1.2.3.4,", "not an IP address"},
                    BadCase{"-r a.pcap --local 1.2.3.4.5", "not an IP address"},
                    BadCase{"-r a.pcap --local 2001:db8::1::2", "not an IP address"},
                    BadCase{"-r a.pcap --filter 10.*.*.1", "--filter"},
                    BadCase{"-r a.pcap --filter 1.2.3.4:80 --include --exclude", "exclude each other"},
                    BadCase{"-r a.pcap --stats", "need --log-dir"},
                    BadCase{"-r a.pcap --format csv", "needs --export"},
                    BadCase{"-r a.pcap --export x --format xml", "csv, text or hex"},
                    BadCase{"-r a.pcap --duration 5", "live traces"},
                    BadCase{"-i eth0 --duration 0", "above 0"},
                    BadCase{"-i eth0 --duration 1.5", "whole number"},
                    BadCase{"-i eth0 --duration -3", "whole number"},
                    BadCase{"-r a.pcap --memory-limit 0", "from 1 to 1048576"},
                    BadCase{"-i eth0 --quiet=yes", "unknown option: --quiet=yes"},
                    BadCase{"-i eth0 --export=", "needs a file name"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(HeadlessOptions, Defaults) {
  std::string error;
  const auto o = Parse("--headless -r sample.pcap", error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->file, "sample.pcap");
  EXPECT_TRUE(o->device.empty() && o->local.empty() && o->tcp && o->udp);
  EXPECT_FALSE(o->headerOnly || o->quiet || o->stats || o->data || o->hex || o->help);
  // --stats alone writes no trace log.
  const auto stats = Parse("-r a --log-dir d --stats", error);
  ASSERT_TRUE(stats) << error;
  EXPECT_TRUE(stats->stats && !stats->data);
}

TEST(HeadlessOptions, EverythingGiven) {
  std::string error;
  const auto o = Parse("-i veth0 --headless --local 192.0.2.10,2001:db8::a,10.0.0.1 --role server "
            "--no-udp --header-only --filter 192.168.*.*:* --filter [2001:db8::/32]:80 --exclude "
            "--log-dir /tmp/logs --hex --export=out.txt --format hex --hosts-export h.csv "
            "--duration 7 --memory-limit 64 --quiet", error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->device, "veth0");
  EXPECT_EQ(o->local, (std::vector<CIpAddr>{CIpAddr(192, 0, 2, 10), *CIpAddr::FromText("2001:db8::a"),
                                            CIpAddr(10, 0, 0, 1)}));
  EXPECT_EQ(o->role, EHostRole::kServer);
  EXPECT_TRUE(o->tcp && !o->udp && o->headerOnly && o->quiet);
  ASSERT_EQ(o->rules.size(), 2u);
  EXPECT_EQ(o->rules[0].ToText(), "192.168.*.*:*");
  EXPECT_EQ(o->rules[1].ToText(), "[2001:db8::/32]:80");
  EXPECT_TRUE(o->exclude);
  EXPECT_EQ(o->logDir, "/tmp/logs");
  // --hex alone still writes both logs; it only changes how data looks.
  EXPECT_TRUE(o->stats && o->data && o->hex);
  EXPECT_EQ(o->exportFile, "out.txt");
  EXPECT_EQ(o->exportFormat, EExportForm::kHex);
  EXPECT_EQ(o->hostsExportFile, "h.csv");
  EXPECT_EQ(o->durationSeconds, 7);
  EXPECT_EQ(o->memoryLimitMib, 64u);
}

TEST(HeadlessOptions, RuleTextWildcardsAndZeros) {
  EXPECT_EQ(ParseRuleText("10.0.*.1:*"), CFilterRule(10, 0, 0, 1, 0));
  for (const char* bad : {":80", "1.2.3.4:", "1.2.3.4:8 0", "1..3.4:80", "10.*.1:80",
                          "10.*.*.1:70000", "10.-1.*.1:*", "[2001:db8::/32]", "[2001:db8::/32]:x",
                          "[1.2.3.4]:80", "[2001:db8::/32]:65536"})
    EXPECT_FALSE(ParseRuleText(bad)) << bad;
  EXPECT_TRUE(ParseRuleText("255.255.255.255:65535"));
  EXPECT_EQ(ParseRuleText("[2001:db8::1]:*")->ToText(), "[2001:db8::1]:*");
}

}  // namespace
