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
  std::size_t ipOffset;  // SIZE_MAX: no IP packet expected
};

const std::vector<uint8_t> kPacket = [] {
  CTestPacket p;
  p.payload = 30;
  return Ipv4Packet(p);
}();

std::vector<uint8_t> Ipv6Bytes() { return WithPrefix({0x60}, std::vector<uint8_t>(47, 0)); }

// An Ethernet frame with VLAN tags (TPID, TCI) before the type field that
// names the packet.
std::vector<uint8_t> Tagged(std::vector<uint16_t> tpids, uint16_t type,
                            const std::vector<uint8_t>& body) {
  std::vector<uint8_t> f(12, 0x02);
  for (uint16_t tpid : tpids) f.insert(f.end(), {uint8_t(tpid >> 8), uint8_t(tpid), 0, 100});
  f.insert(f.end(), {uint8_t(type >> 8), uint8_t(type)});
  return WithPrefix(f, body);
}

const LinkCase kLinkCases[] = {
    {"Ethernet", DLT_EN10MB, EthernetFrame(kPacket), 14},
    {"EthernetArp", DLT_EN10MB, EthernetFrame(std::vector<uint8_t>(28, 0), 0x0806), SIZE_MAX},
    {"EthernetIpv6", DLT_EN10MB, EthernetFrame(Ipv6Bytes(), 0x86DD), 14},
    {"EthernetVlanTagged", DLT_EN10MB, Tagged({0x8100}, 0x0800, kPacket), 18},
    {"EthernetQinQIpv6", DLT_EN10MB, Tagged({0x88A8, 0x8100}, 0x86DD, Ipv6Bytes()), 22},
    {"EthernetThirdTagNotSkipped", DLT_EN10MB, Tagged({0x88A8, 0x8100, 0x8100}, 0x0800, kPacket),
     SIZE_MAX},
    {"EthernetTagCutShort", DLT_EN10MB, std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x81, 0, 0},
     SIZE_MAX},
    {"EthernetHeaderOnly", DLT_EN10MB, std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0}, 14},
    {"EthernetCutInTypeField", DLT_EN10MB, std::vector<uint8_t>(13, 0), SIZE_MAX},
    {"CookedV1", DLT_LINUX_SLL, SllFrame(kPacket), 16},
    {"CookedV1Ipv6", DLT_LINUX_SLL, SllFrame(Ipv6Bytes(), 0x86DD), 16},
    {"CookedV1Short", DLT_LINUX_SLL, std::vector<uint8_t>(15, 0), SIZE_MAX},
    {"CookedV2", DLT_LINUX_SLL2, Sll2Frame(kPacket), 20},
    {"CookedV2Ipv6", DLT_LINUX_SLL2, Sll2Frame(Ipv6Bytes(), 0x86DD), 20},
    {"CookedV2TypeButNoRoom", DLT_LINUX_SLL2, std::vector<uint8_t>{0x08, 0x00, 0, 0}, SIZE_MAX},
    {"RawIpv4", DLT_RAW, kPacket, 0},
    {"RawIpv6", DLT_RAW, Ipv6Bytes(), 0},
    {"RawVersion5", DLT_RAW, WithPrefix({0x50}, kPacket), SIZE_MAX},
    {"RawEmpty", DLT_RAW, {}, SIZE_MAX},
    {"Ipv4LinkType", DLT_IPV4, kPacket, 0},
    {"Ipv4LinkTypeRefusesIpv6", DLT_IPV4, Ipv6Bytes(), SIZE_MAX},
    {"Ipv6LinkType", DLT_IPV6, Ipv6Bytes(), 0},
    {"Loopback", DLT_NULL, WithPrefix({2, 0, 0, 0}, kPacket), SIZE_MAX},
};

class LinkLayerTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkLayerTest, FindsTheIpPacket) {
  const LinkCase& c = GetParam();
  const auto ip = IpFromFrame(c.linkType, c.frame);
  if (c.ipOffset == SIZE_MAX) {
    EXPECT_FALSE(ip);
    return;
  }
  ASSERT_TRUE(ip);
  EXPECT_EQ(ip->data(), c.frame.data() + c.ipOffset);
  EXPECT_EQ(ip->size(), c.frame.size() - c.ipOffset);
}

INSTANTIATE_TEST_SUITE_P(Frames, LinkLayerTest, ::testing::ValuesIn(kLinkCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LinkLayer, SupportedTypes) {
  for (int t : {DLT_EN10MB, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW, DLT_IPV4, DLT_IPV6})
    EXPECT_TRUE(IsSupportedLinkType(t)) << t;
  for (int t : {DLT_NULL, DLT_IEEE802_11, DLT_IEEE802_11_RADIO, DLT_PPP})
    EXPECT_FALSE(IsSupportedLinkType(t)) << t;
  char buffer[16];
  EXPECT_STREQ(LinkTypeName(DLT_EN10MB, buffer), "EN10MB");
  EXPECT_STREQ(LinkTypeName(65000, buffer), "65000");
}

}  // namespace
