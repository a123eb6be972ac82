#include "output/value_format.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

constexpr int32_t kStampSeconds = 1165327387;  // 2006-12-05 14:03:07 UTC

TEST(ValueFormat, ProtocolsAndAddresses) {
  const std::pair<uint16_t, const char*> names[] = {{1, ""}, {2, "IGMP"}, {4, "IP"}, {6, "TCP"}, {17, "UDP"}, {262, ""}};
  for (const auto& [number, name] : names) EXPECT_EQ(ProtocolName(number), name) << number;
  EXPECT_EQ(FormatAddress(CIpAddr(255, 255, 255, 255)), "255.255.255.255");
  EXPECT_EQ(FormatEndpoint(CIpAddr(192, 168, 0, 1), 65535), "192.168.0.1:65535");
  EXPECT_EQ(FormatEndpoint(CIpAddr(0, 0, 0, 0), 0), "0.0.0.0:0");
  EXPECT_EQ(FormatEndpoint(TestV6(1), 443), "[2001:db8::1]:443");
}

TEST(ValueFormat, TimesAndDatesInUtc) {
  ScopedTimeZone zone("UTC");
  EXPECT_EQ(FormatClockTime({kStampSeconds, 0}), "14:03:07.000000");
  EXPECT_EQ(FormatClockTime({kStampSeconds, 123}), "14:03:07.000123");
  EXPECT_EQ(FormatClockTime({kStampSeconds, 999999}), "14:03:07.999999");
  EXPECT_EQ(FormatClockTime({0, 5}), "00:00:00.000005");
  EXPECT_EQ(FormatClockTime({-1, 5}), "");
  EXPECT_EQ(FormatDate(kStampSeconds), "2006-12-05");
  EXPECT_EQ(FormatDate(0), "1970-01-01");
  EXPECT_EQ(FormatDate(-86400), "");
  EXPECT_EQ(FormatFileStamp(kStampSeconds), "061205_140307");
}

TEST(ValueFormat, ElapsedBorrowsAndKeepsItsSign) {
  EXPECT_EQ(FormatElapsed({12, 100}, {10, 900000}), "1.100100");
  EXPECT_EQ(FormatElapsed({10, 5}, {10, 5}), "0.000000");
  EXPECT_EQ(FormatElapsed({19, 216728}, {19, 216763}), "-0.000035");
  EXPECT_EQ(FormatElapsed({10, 0}, {12, 500000}), "-2.500000");
  EXPECT_EQ(FormatElapsed({10, 900000}, {10, 0}), "0.900000");
  EXPECT_EQ(FormatElapsed({2000000000, 1}, {-2000000000, 0}), "4000000000.000001");
}

TEST(ValueFormat, CountsSwitchUnitsAtTheirBounds) {
  const std::pair<int64_t, const char*> bytes[] = {
      {0, "0"},           {-5, "-5"},           {99999, "99999"},
      {100000, "97 KB"},  {9999999, "9765 KB"}, {10000000, "9 MB"},
      {999999999, "953 MB"}, {1000000000, "0 GB"}, {1073741824000LL, "1000 GB"},
  };
  for (const auto& [n, text] : bytes) EXPECT_EQ(FormatByteCount(n), text) << n;
  const std::pair<int64_t, const char*> shorts[] = {
      {150000, "146 K"}, {99999, "99999"}, {10000000, "9 M"}, {1073741824000LL, "1000 G"}};
  for (const auto& [n, text] : shorts) EXPECT_EQ(FormatShortCount(n), text) << n;
}

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

}  // namespace
