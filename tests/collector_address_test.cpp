#include <gtest/gtest.h>

#include "flows/collector_address.h"

TEST(CollectorAddress, ParsesOrRefuses) {
  const struct {
    const char* text;
    const char* host;
    uint16_t port;
  } accepted[] = {{"198.51.100.1:4739", "198.51.100.1", 4739},
                  {"[2001:db8::1]:2055", "2001:db8::1", 2055},
                  {"collector.example.net:65535", "collector.example.net", 65535},
                  {"localhost:1", "localhost", 1}};
  for (const auto& c : accepted) {
    std::string error;
    const auto parsed = CCollectorAddress::Parse(c.text, &error);
    ASSERT_TRUE(parsed) << c.text << ": " << error;
    EXPECT_EQ(parsed->host, c.host);
    EXPECT_EQ(parsed->port, c.port);
  }
  // IPv6 without brackets, no colon after ']', brackets around IPv4, an
  // unclosed bracket, no port, no host, ports out of range or signed, a
  // numeric last label (a bad IPv4 address), names no resolver takes.
  for (const char* text : {"2001:db8::1:4739", "[2001:db8::1]4739", "[198.51.100.1]:4739",
                           "[2001:db8::1:4739", "198.51.100.1", ":4739", "198.51.100.1:0",
                           "198.51.100.1:65536", "198.51.100.1:+80", "198.51.100.300:4739",
                           "bad_name:4739", "-lead.example:4739", "a..b:4739"}) {
    std::string error;
    EXPECT_FALSE(CCollectorAddress::Parse(text, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}
