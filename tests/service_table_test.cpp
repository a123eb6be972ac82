#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "services/service_table.h"

namespace {

constexpr CIpAddr kLocal(10, 0, 0, 1);
constexpr CIpAddr kRemote(198, 51, 100, 7);

CTimeStamp At(int64_t micros) {
  return {static_cast<int32_t>(micros / 1'000'000), static_cast<int32_t>(micros % 1'000'000)};
}

// One exchange of `role`: request from `start`, ending 10 us later, the
// answer `ttfa` after that, the last packet at start + `duration`
// (microseconds). ttfa < 0: no answer.
CConversationSnapshot Exchange(EHostRole role, uint8_t protocol, CIpAddr remote,
                               uint16_t remotePort, uint16_t localPort, int64_t start,
                               int64_t ttfa = 1000, int64_t duration = 5000) {
  CConversationSnapshot s;
  s.role = role;
  s.protocol = protocol;
  s.local = kLocal;
  s.remote = remote;
  s.localPort = localPort;
  s.remotePort = remotePort;
  s.bytesSent = 100;
  s.packetsSent = 1;
  s.bytesReceived = ttfa >= 0 ? 1000 : 0;
  s.packetsReceived = ttfa >= 0 ? 1 : 0;
  s.times = {At(start), At(start + 10), At(start + 10 + std::max<int64_t>(ttfa, 0)),
             At(start + duration)};
  if (role == EHostRole::kServer) std::swap(s.bytesSent, s.bytesReceived);
  if (role == EHostRole::kServer) std::swap(s.packetsSent, s.packetsReceived);
  return s;
}

CConversationSnapshot ClientAt(double startSeconds, uint16_t port = 443) {
  return Exchange(EHostRole::kClient, 6, kRemote, port, 40000,
                  static_cast<int64_t>(startSeconds * 1e6 + 0.5));
}

bool Holds(const CServiceTable& t, uint16_t port) {
  for (const CServiceRow& r : t.Rows())
    if (r.key.port == port) return true;
  return false;
}

}  // namespace

TEST(ServiceTable, KeysServicesByRoleAndSumsTheirExchanges) {
  CServiceTable table;
  const int64_t t0 = 1'700'000'000'000'000;
  // Two local ports, one service; another protocol is another service.
  table.Add(Exchange(EHostRole::kClient, 6, kRemote, 443, 40000, t0, 1000, 10'000));
  table.Add(Exchange(EHostRole::kClient, 6, kRemote, 443, 40001, t0 + 1000, 3000, 30'000));
  table.Add(Exchange(EHostRole::kClient, 6, kRemote, 443, 40002, t0 + 2000, -1, 500));
  table.Add(Exchange(EHostRole::kClient, 17, kRemote, 443, 40000, t0, 2000));
  // Served on local port 80 to two remote hosts: one service.
  table.Add(Exchange(EHostRole::kServer, 6, CIpAddr(198, 51, 100, 8), 50000, 80, t0, 400));
  table.Add(Exchange(EHostRole::kServer, 6, CIpAddr(198, 51, 100, 9), 50001, 80, t0, 800));

  const std::vector<CServiceRow> rows = table.Rows();
  ASSERT_EQ(rows.size(), 3u);
  const struct {
    EHostRole role;
    uint8_t protocol;
    CIpAddr address;
    uint16_t port;
    uint64_t exchanges, unanswered, sent, received;
    double ttfaP50, ttfaMax, exchangeMax;
    CTimeStamp last;
  } expected[] = {
      {EHostRole::kClient, 6, kRemote, 443, 3, 1, 300, 2000, 0.001, 0.003, 0.030, At(t0 + 31'000)},
      {EHostRole::kClient, 17, kRemote, 443, 1, 0, 100, 1000, 0.002, 0.002, 0.005, At(t0 + 5000)},
      {EHostRole::kServer, 6, kLocal, 80, 2, 0, 2000, 200, 0.0004, 0.0008, 0.005, At(t0 + 5000)},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    const CServiceRow& r = rows[i];
    const auto& e = expected[i];
    EXPECT_EQ(r.key, (CServiceKey{e.role, e.protocol, e.port, e.address}));
    EXPECT_EQ(r.exchanges, e.exchanges);
    EXPECT_EQ(r.unanswered, e.unanswered);
    EXPECT_EQ(r.bytesSent, e.sent);
    EXPECT_EQ(r.bytesReceived, e.received);
    ASSERT_TRUE(r.firstAnswer && r.exchangeTime);
    EXPECT_NEAR(r.firstAnswer->p50, e.ttfaP50, e.ttfaP50 * 0.01);
    EXPECT_DOUBLE_EQ(r.firstAnswer->max, e.ttfaMax);
    EXPECT_DOUBLE_EQ(r.exchangeTime->max, e.exchangeMax);
    EXPECT_EQ(r.lastActivity, e.last);
  }
}

TEST(ServiceTable, PastTheBoundDropsTheLeastRecentlyActiveService) {
  CServiceTable table;
  const uint16_t n = CServiceTable::kMaxServices;
  for (uint16_t port = 1; port <= n; ++port) table.Add(ClientAt(1000 + port, port));
  table.Add(ClientAt(5000, 1));     // the oldest becomes the newest
  table.Add(ClientAt(5001, 9000));  // so the second oldest goes
  EXPECT_EQ(table.Size(), n);
  EXPECT_EQ(table.Dropped(), 1u);
  EXPECT_TRUE(Holds(table, 1));
  EXPECT_FALSE(Holds(table, 2));
  EXPECT_TRUE(Holds(table, 9000));
  // A newcomer older than every service is the one dropped.
  table.Add(ClientAt(10, 9001));
  EXPECT_EQ(table.Dropped(), 2u);
  EXPECT_FALSE(Holds(table, 9001));
  EXPECT_TRUE(Holds(table, 3));
}

TEST(ServiceTable, RangeRowsCountTheBucketsOfTheRange) {
  const struct {
    const char* name;
    std::vector<double> starts;  // seconds, fed in this order
    int64_t from, to, now;       // buckets
    uint64_t exchanges;
  } cases[] = {
      {"first and last microsecond of bucket 20", {100.0, 104.999999}, 20, 21, 20, 2},
      {"range starting on the next edge", {100.0, 104.999999}, 21, 22, 21, 0},
      {"range ending on the bucket's edge", {100.0, 104.999999}, 19, 20, 20, 0},
      {"one each side of an edge", {99.999999, 100.0}, 20, 21, 20, 1},
      {"39 buckets behind now", {100.0}, 20, 21, 59, 1},
      {"scrolled out of now's window", {100.0}, 20, 21, 60, 0},
      {"cell reused 40 buckets later", {100.0, 300.0}, 0, 100, 60, 1},
      {"late, still in the window", {250.0, 100.0}, 20, 21, 50, 1},
      {"late, behind the window", {300.0, 100.0}, 0, 100, 60, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CServiceTable table;
    for (const double start : c.starts) table.Add(ClientAt(start));
    const std::vector<CServiceRow> rows = table.RangeRows(c.from, c.to, c.now);
    ASSERT_EQ(rows.size(), c.exchanges == 0 ? 0u : 1u);
    if (c.exchanges == 0) continue;
    EXPECT_EQ(rows[0].exchanges, c.exchanges);
    EXPECT_EQ(rows[0].bytesSent, 100 * c.exchanges);
    EXPECT_FALSE(rows[0].exchangeTime);
  }
}

TEST(ServiceTable, RangeAndStripTimesComeFromTheBucketHistograms) {
  CServiceTable table;
  for (int i = 1; i <= 100; ++i) {  // bucket 20: 1 .. 100 ms, bucket 21: 200 ms
    table.Add(Exchange(EHostRole::kClient, 6, kRemote, 443, 40000, 100'000'000, i * 1000));
    table.Add(Exchange(EHostRole::kClient, 6, kRemote, 443, 40000, 105'000'000, 200'000));
  }
  table.Add(Exchange(EHostRole::kClient, 6, kRemote, 443, 40000, 106'000'000, -1));
  const std::vector<CServiceRow> rows = table.RangeRows(20, 22, 21);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].exchanges, 201u);
  EXPECT_EQ(rows[0].unanswered, 1u);
  ASSERT_TRUE(rows[0].firstAnswer);
  EXPECT_NEAR(rows[0].firstAnswer->p50, 0.100, 0.010);
  EXPECT_NEAR(rows[0].firstAnswer->p99, 0.200, 0.020);
  EXPECT_DOUBLE_EQ(rows[0].firstAnswer->max, 0.200);

  const std::vector<CLatencyPoint> strip = table.LatencyStrip(rows[0].key, 21);
  ASSERT_EQ(strip.size(), 40u);
  EXPECT_EQ(strip.front().bucket, -18);
  EXPECT_EQ(strip[37].answered, 0u);
  EXPECT_EQ(strip[38].answered, 100u);
  EXPECT_NEAR(strip[38].p50, 0.050, 0.005);
  EXPECT_NEAR(strip[38].p99, 0.099, 0.010);
  EXPECT_EQ(strip[39].bucket, 21);
  EXPECT_NEAR(strip[39].p50, 0.200, 0.020);
}
