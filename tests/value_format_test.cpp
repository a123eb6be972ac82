#include "output/value_format.h"

#include <gtest/gtest.h>

#include <functional>

#include "output_test_support.h"

namespace {

struct FormatCase {
  const char* name;
  std::function<std::string()> format;
  const char* expected;
};

class ValueFormatUtc : public ::testing::TestWithParam<FormatCase> {
 protected:
  ScopedTimeZone zone_{"UTC"};
};

TEST_P(ValueFormatUtc, FormatsByteForByte) {
  EXPECT_EQ(GetParam().format(), GetParam().expected);
}

const FormatCase kUtcCases[] = {
    {"ProtocolIcmp", [] { return ProtocolName(1); }, ""},
    {"ProtocolIgmp", [] { return ProtocolName(2); }, "IGMP"},
    {"ProtocolIp", [] { return ProtocolName(4); }, "IP"},
    {"ProtocolTcp", [] { return ProtocolName(6); }, "TCP"},
    {"ProtocolUdp", [] { return ProtocolName(17); }, "UDP"},
    {"ProtocolTcpPlus256", [] { return ProtocolName(262); }, ""},
    {"Address", [] { return FormatAddress(MakeIpAddr(192, 168, 0, 1)); }, "192.168.0.1"},
    {"AddressHigh", [] { return FormatAddress(MakeIpAddr(255, 255, 255, 255)); },
     "255.255.255.255"},
    {"Endpoint", [] { return FormatEndpoint(MakeIpAddr(192, 168, 0, 1), 65535); },
     "192.168.0.1:65535"},
    {"EndpointZero", [] { return FormatEndpoint(MakeIpAddr(0, 0, 0, 0), 0); }, "0.0.0.0:0"},
    {"ClockWholeSecond", [] { return FormatClockTime({kStampSeconds, 0}); }, "14:03:07.000000"},
    {"ClockMicros", [] { return FormatClockTime({kStampSeconds, 123}); }, "14:03:07.000123"},
    {"ClockMaxMicros", [] { return FormatClockTime({kStampSeconds, 999999}); },
     "14:03:07.999999"},
    {"ClockEpoch", [] { return FormatClockTime({0, 5}); }, "00:00:00.000005"},
    {"ClockBefore1970", [] { return FormatClockTime({-1, 5}); }, ""},
    {"Date", [] { return FormatDate(kStampSeconds); }, "2006-12-05"},
    {"DateEpoch", [] { return FormatDate(0); }, "1970-01-01"},
    {"DateBefore1970", [] { return FormatDate(-86400); }, ""},
    {"ElapsedBorrow", [] { return FormatElapsed({12, 100}, {10, 900000}); }, "1.100100"},
    {"ElapsedEqual", [] { return FormatElapsed({10, 5}, {10, 5}); }, "0.000000"},
    {"ElapsedNegative", [] { return FormatElapsed({19, 216728}, {19, 216763}); }, "-0.000035"},
    {"ElapsedNegativeWhole", [] { return FormatElapsed({10, 0}, {12, 500000}); }, "-2.500000"},
    {"ElapsedNoBorrow", [] { return FormatElapsed({10, 900000}, {10, 0}); }, "0.900000"},
    {"ElapsedWide", [] { return FormatElapsed({2000000000, 1}, {-2000000000, 0}); },
     "4000000000.000001"},
    {"Bytes0", [] { return FormatByteCount(0); }, "0"},
    {"BytesNegative", [] { return FormatByteCount(-5); }, "-5"},
    {"Bytes99999", [] { return FormatByteCount(99999); }, "99999"},
    {"Bytes100000", [] { return FormatByteCount(100000); }, "97 KB"},
    {"Bytes9999999", [] { return FormatByteCount(9999999); }, "9765 KB"},
    {"Bytes10000000", [] { return FormatByteCount(10000000); }, "9 MB"},
    {"Bytes999999999", [] { return FormatByteCount(999999999); }, "953 MB"},
    {"Bytes1000000000", [] { return FormatByteCount(1000000000); }, "0 GB"},
    {"Bytes1000GiB", [] { return FormatByteCount(1073741824000LL); }, "1000 GB"},
    {"Short150000", [] { return FormatShortCount(150000); }, "146 K"},
    {"Short99999", [] { return FormatShortCount(99999); }, "99999"},
    {"Short10000000", [] { return FormatShortCount(10000000); }, "9 M"},
    {"Short1000GiB", [] { return FormatShortCount(1073741824000LL); }, "1000 G"},
    {"FileStamp", [] { return FormatFileStamp(kStampSeconds); }, "061205_140307"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ValueFormatUtc, ::testing::ValuesIn(kUtcCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The same instants in zones with an offset: every time shown is local.
TEST(ValueFormatLocalTime, IndiaIsFiveAndAHalfHoursAhead) {
  ScopedTimeZone zone("IST-5:30");
  EXPECT_EQ(FormatClockTime({kStampSeconds, 42}), "19:33:07.000042");
  EXPECT_EQ(FormatDate(kStampSeconds), "2006-12-05");
  // 20:20 UTC is already the next day there.
  EXPECT_EQ(FormatDate(1165350000), "2006-12-06");
  EXPECT_EQ(FormatFileStamp(1165350000), "061206_015000");
}

TEST(ValueFormatLocalTime, EasternFollowsDaylightSaving) {
  ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(FormatClockTime({kStampSeconds, 0}), "09:03:07.000000");
  // 2006-07-01 12:00 UTC, summer time.
  EXPECT_EQ(FormatClockTime({1151755200, 0}), "08:00:00.000000");
  EXPECT_EQ(FormatDate(5 * 3600 - 1), "1969-12-31");
}

TEST(ValueFormatLocalTime, FileStampOfNowHasItsShape) {
  const std::string stamp = FormatFileStamp();
  ASSERT_EQ(stamp.size(), 13u);
  EXPECT_EQ(stamp[6], '_');
}

}  // namespace
