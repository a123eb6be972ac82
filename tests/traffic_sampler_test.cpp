#include "model/traffic_sampler.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint64_t> Sent(const CTrafficSampler& s) { return {s.Sent().begin(), s.Sent().end()}; }

TEST(TrafficSampler, FirstSampleAndSameBucket) {
  CTrafficSampler s;
  s.Update(10, 1, {1000, 0});
  EXPECT_EQ(s.LastBucket(), 200);
  s.Update(5, 2, {1004, 999999});
  EXPECT_EQ(Sent(s), (std::vector<uint64_t>{15}));
  EXPECT_EQ(s.Received().back(), 3u);
  s.Update(1, 0, {1005, 0});
  EXPECT_EQ(Sent(s), (std::vector<uint64_t>{15, 1}));
}

TEST(TrafficSampler, FillsGapsWithZeroBuckets) {
  CTrafficSampler s;
  s.Update(7, 0, {1000, 0});
  s.Update(9, 0, {1100, 0});
  ASSERT_EQ(s.Sent().size(), 21u);
  EXPECT_EQ(s.Sent().front(), 7u);
  EXPECT_EQ(s.Sent().back(), 9u);
  for (std::size_t i = 1; i < 20; ++i) EXPECT_EQ(s.Sent()[i], 0u);
  EXPECT_EQ(s.Received().size(), s.Sent().size());
}

TEST(TrafficSampler, GapOver30BucketsStartsAfresh) {
  CTrafficSampler s;
  s.Update(7, 0, {1000, 0});
  s.Update(9, 0, {1155, 0});  // 31 buckets later
  EXPECT_EQ(Sent(s), (std::vector<uint64_t>{9}));
  s.Update(1, 0, {1305, 0});  // exactly 30 later: filled, then trimmed to 31
  EXPECT_EQ(s.Sent().size(), 31u);
}

TEST(TrafficSampler, Keeps40NewestBuckets) {
  CTrafficSampler s;
  for (int i = 0; i < 45; ++i) s.Update(static_cast<uint64_t>(i + 1), 0, {1000 + 5 * i, 0});
  ASSERT_EQ(s.Sent().size(), 40u);
  EXPECT_EQ(s.Sent().front(), 6u);
  EXPECT_EQ(s.Sent().back(), 45u);
}

TEST(TrafficSampler, LatePacketGoesIntoItsOwnBucket) {
  CTrafficSampler s;
  for (int i = 0; i < 5; ++i) s.Update(1, 0, {1000 + 5 * i, 0});
  s.Update(100, 0, {1010, 0});  // two buckets before the newest
  EXPECT_EQ(Sent(s), (std::vector<uint64_t>{1, 1, 101, 1, 1}));
  s.Update(100, 0, {990, 0});   // older than the oldest kept bucket: ignored
  s.Update(100, 0, {1020 - 5 * 31, 0});
  EXPECT_EQ(Sent(s), (std::vector<uint64_t>{1, 1, 101, 1, 1}));
}

}  // namespace
