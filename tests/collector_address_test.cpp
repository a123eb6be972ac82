#include <gtest/gtest.h>

#include "flows/collector_address.h"

TEST(CollectorAddress, ParsesOrRefuses) {
  const struct {
    const char* text;
    const char* host;  // null: refused
    uint16_t port;
  } cases[] = {
      {"198.51.100.1:4739", "198.51.100.1", 4739},
      {"[2001:db8::1]:2055", "2001:db8::1", 2055},
      {"collector.example.net:65535", "collector.example.net", 65535},
      {"localhost:1", "localhost", 1},
      {"2001:db8::1:4739", nullptr, 0},      // IPv6 without brackets
      {"[2001:db8::1]4739", nullptr, 0},     // no colon after ']'
      {"[198.51.100.1]:4739", nullptr, 0},   // brackets are for IPv6
      {"[2001:db8::1:4739", nullptr, 0},     // unclosed
      {"198.51.100.1", nullptr, 0},          // no port
      {":4739", nullptr, 0},
      {"198.51.100.1:0", nullptr, 0},
      {"198.51.100.1:65536", nullptr, 0},
      {"198.51.100.1:+80", nullptr, 0},
      {"198.51.100.300:4739", nullptr, 0},   // numeric last label: a bad IPv4 address
      {"bad_name:4739", nullptr, 0},
      {"-lead.example:4739", nullptr, 0},
      {"a..b:4739", nullptr, 0},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto parsed = CCollectorAddress::Parse(c.text, &error);
    if (c.host == nullptr) {
      EXPECT_FALSE(parsed) << c.text;
      EXPECT_FALSE(error.empty()) << c.text;
    } else {
      ASSERT_TRUE(parsed) << c.text << ": " << error;
      EXPECT_EQ(parsed->host, c.host);
      EXPECT_EQ(parsed->port, c.port);
    }
  }
}
