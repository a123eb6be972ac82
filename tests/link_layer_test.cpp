#include "wire/link_layer.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

struct LinkCase {
  const char* name;
  int linkType;
  std::vector<uint8_t> frame;
  std::size_t ipv4Offset;  // SIZE_MAX: no IPv4 expected
};

const std::vector<uint8_t> kPacket = [] {
  CTestPacket p;
  p.payload = 30;
  return Ipv4Packet(p);
}();

std::vector<uint8_t> Ipv6Packet() { return WithPrefix({0x60}, std::vector<uint8_t>(47, 0)); }

const LinkCase kLinkCases[] = {
    {"Ethernet", DLT_EN10MB, EthernetFrame(kPacket), 14},
    {"EthernetArp", DLT_EN10MB, EthernetFrame(std::vector<uint8_t>(28, 0), 0x0806), SIZE_MAX},
    {"EthernetIpv6", DLT_EN10MB, EthernetFrame(Ipv6Packet(), 0x86DD), SIZE_MAX},
    {"EthernetVlanTagged", DLT_EN10MB, EthernetFrame(kPacket, 0x8100), SIZE_MAX},
    {"EthernetHeaderOnly", DLT_EN10MB, std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0}, 14},
    {"EthernetCutInTypeField", DLT_EN10MB, std::vector<uint8_t>(13, 0), SIZE_MAX},
    {"CookedV1", DLT_LINUX_SLL, SllFrame(kPacket), 16},
    {"CookedV1Ipv6", DLT_LINUX_SLL, SllFrame(Ipv6Packet(), 0x86DD), SIZE_MAX},
    {"CookedV1Short", DLT_LINUX_SLL, std::vector<uint8_t>(15, 0), SIZE_MAX},
    {"CookedV2", DLT_LINUX_SLL2, Sll2Frame(kPacket), 20},
    {"CookedV2TypeButNoRoom", DLT_LINUX_SLL2, std::vector<uint8_t>{0x08, 0x00, 0, 0}, SIZE_MAX},
    {"RawIpv4", DLT_RAW, kPacket, 0},
    {"RawIpv6", DLT_RAW, Ipv6Packet(), SIZE_MAX},
    {"RawEmpty", DLT_RAW, {}, SIZE_MAX},
    {"Ipv4LinkType", DLT_IPV4, kPacket, 0},
    {"Loopback", DLT_NULL, WithPrefix({2, 0, 0, 0}, kPacket), SIZE_MAX},
};

class LinkLayerTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkLayerTest, FindsTheIpv4Packet) {
  const LinkCase& c = GetParam();
  const auto ipv4 = Ipv4FromFrame(c.linkType, c.frame);
  if (c.ipv4Offset == SIZE_MAX) {
    EXPECT_FALSE(ipv4);
    return;
  }
  ASSERT_TRUE(ipv4);
  EXPECT_EQ(ipv4->data(), c.frame.data() + c.ipv4Offset);
  EXPECT_EQ(ipv4->size(), c.frame.size() - c.ipv4Offset);
}

INSTANTIATE_TEST_SUITE_P(Frames, LinkLayerTest, ::testing::ValuesIn(kLinkCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LinkLayer, SupportedTypes) {
  for (int t : {DLT_EN10MB, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW, DLT_IPV4})
    EXPECT_TRUE(IsSupportedLinkType(t)) << t;
  for (int t : {DLT_NULL, DLT_IEEE802_11, DLT_IEEE802_11_RADIO, DLT_PPP})
    EXPECT_FALSE(IsSupportedLinkType(t)) << t;
  char buffer[16];
  EXPECT_STREQ(LinkTypeName(DLT_EN10MB, buffer), "EN10MB");
  EXPECT_STREQ(LinkTypeName(65000, buffer), "65000");
}

}  // namespace
