#include "model/host_table.h"

#include <gtest/gtest.h>

namespace {

TEST(HostTable, KeepsHostsInAddressOrder) {
  CHostTable t;
  t.Update(100, 0, CIpAddr(10, 0, 0, 2), 80, {1, 0});
  t.Update(0, 50, CIpAddr(10, 0, 0, 1), 80, {2, 0});
  t.Update(0, 50, CIpAddr(9, 9, 9, 9), 80, {3, 0});
  t.Update(0, 50, CIpAddr(200, 0, 0, 1), 80, {3, 0});
  ASSERT_EQ(t.Size(), 4u);
  EXPECT_EQ(t.Hosts()[0].address, CIpAddr(9, 9, 9, 9));
  EXPECT_EQ(t.Hosts()[1].address, CIpAddr(10, 0, 0, 1));
  EXPECT_EQ(t.Hosts()[2].address, CIpAddr(10, 0, 0, 2));
  EXPECT_EQ(t.Hosts()[3].address, CIpAddr(200, 0, 0, 1));
}

TEST(HostTable, CountsBytesAndPacketsPerDirection) {
  CHostTable t;
  const CIpAddr a = CIpAddr(10, 0, 0, 7);
  t.Update(100, 0, a, 80, {1, 0});
  t.Update(0, 300, a, 80, {2, 5});
  t.Update(40, 0, a, 443, {3, 0});
  const CHostRecord* h = t.Find(a);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->bytesSent, 140u);
  EXPECT_EQ(h->bytesReceived, 300u);
  EXPECT_EQ(h->packetsSent, 2u);
  EXPECT_EQ(h->packetsReceived, 1u);
  EXPECT_EQ(h->lastTime, (CTimeStamp{3, 0}));
  ASSERT_EQ(h->ports.size(), 2u);
  EXPECT_EQ(h->ports[0].port, 80);
  EXPECT_EQ(h->ports[0].packets, 2u);
  EXPECT_EQ(h->ports[0].bytesReceived, 300u);
  EXPECT_EQ(h->ports[0].lastTime, (CTimeStamp{2, 5}));
  EXPECT_EQ(h->ports[1].port, 443);
}

TEST(HostTable, TracksTheFirst100PortsInOrderAndCountsEveryPacket) {
  CHostTable t;
  const CIpAddr a = CIpAddr(10, 0, 0, 7);
  for (int p = 101; p >= 1; --p) t.Update(10, 0, a, static_cast<uint16_t>(p * 10), {1, 0});
  // Known ports stop updating too once the list is full.
  t.Update(10, 0, a, 1010, {9, 0});
  const CHostRecord* h = t.Find(a);
  ASSERT_EQ(h->ports.size(), 100u);
  EXPECT_EQ(h->ports.front().port, 20);
  EXPECT_EQ(h->ports.back().port, 1010);
  EXPECT_EQ(h->ports.back().packets, 1u);
  EXPECT_EQ(h->packetsSent, 102u);
  EXPECT_EQ(h->bytesSent, 1020u);
}

TEST(HostTable, RefusesThe1001stHostButUpdatesKnownOnes) {
  CHostTable t;
  for (int i = 0; i < 1000; ++i) {
    t.Update(1, 0, CIpAddr(10, 0, static_cast<uint8_t>(i / 256), static_cast<uint8_t>(i % 256)),
             1, {1, 0});
  }
  t.Update(1, 0, CIpAddr(1, 1, 1, 1), 1, {1, 0});        // would go first
  t.Update(1, 0, CIpAddr(250, 1, 1, 1), 1, {1, 0});      // would go last
  t.Update(1, 0, CIpAddr(10, 0, 0, 0), 1, {1, 0});
  EXPECT_EQ(t.Size(), 1000u);
  EXPECT_EQ(t.Find(CIpAddr(1, 1, 1, 1)), nullptr);
  EXPECT_EQ(t.Find(CIpAddr(10, 0, 0, 0))->packetsSent, 2u);
}

TEST(HostTable, RemoveAndClear) {
  CHostTable t;
  t.Update(1, 0, CIpAddr(10, 0, 0, 1), 1, {1, 0});
  t.Update(1, 0, CIpAddr(10, 0, 0, 2), 1, {1, 0});
  EXPECT_TRUE(t.Remove(CIpAddr(10, 0, 0, 1)));
  EXPECT_FALSE(t.Remove(CIpAddr(10, 0, 0, 1)));
  EXPECT_EQ(t.Size(), 1u);
  t.Clear();
  EXPECT_EQ(t.Size(), 0u);
}

}  // namespace
