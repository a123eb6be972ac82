#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "services/log_histogram.h"

namespace {

// Nearest rank over the times as the histograms take them: whole
// microseconds, at most one hour.
double ExactPercentile(std::vector<double> values, double p) {
  for (double& v : values) v = std::min(std::round(v * 1e6), 3.6e9) / 1e6;
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<std::size_t>(std::ceil(p / 100 * values.size() - 1e-9));
  return values[std::max<std::size_t>(rank, 1) - 1];
}

std::vector<double> Repeat(std::size_t n, double v) { return std::vector<double>(n, v); }

std::vector<double> Join(std::vector<double> a, const std::vector<double>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Log-uniform between 1 microsecond and 1 hour, in whole microseconds.
std::vector<double> Spread(std::size_t n) {
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> exponent(0, std::log(3.6e9));
  std::vector<double> v;
  for (std::size_t i = 0; i < n; ++i) v.push_back(std::round(std::exp(exponent(random))) / 1e6);
  return v;
}

// Records `values` into one histogram and, split in two, into two that are
// then added into a Merged; both must give every percentile within
// `tolerance` of the exact one, the exact count and the exact maximum.
template <class Histogram, class Merged>
void ExpectWithin(const std::vector<double>& values, double tolerance) {
  Histogram whole, even, odd;
  for (std::size_t i = 0; i < values.size(); ++i) {
    whole.Record(values[i]);
    (i % 2 == 0 ? even : odd).Record(values[i]);
  }
  Merged merged;
  merged.Add(even);
  merged.Add(odd);
  for (const double p : {0.0, 1.0, 50.0, 90.0, 99.0, 99.9, 100.0}) {
    const double exact = ExactPercentile(values, p);
    EXPECT_NEAR(whole.Percentile(p), exact, tolerance * exact) << "p" << p;
    EXPECT_NEAR(merged.Percentile(p), exact, tolerance * exact) << "p" << p << " merged";
  }
  EXPECT_EQ(whole.Count(), values.size());
  EXPECT_EQ(merged.Count(), values.size());
  EXPECT_DOUBLE_EQ(whole.Max(), ExactPercentile(values, 100));
  EXPECT_DOUBLE_EQ(merged.Max(), ExactPercentile(values, 100));
}

struct SampleCase {
  const char* name;
  std::vector<double> seconds;
};

const std::vector<SampleCase>& Samples() {
  static const std::vector<SampleCase> samples = {
      {"spread_over_the_whole_range", Spread(20000)},
      {"all_equal", Repeat(1000, 0.012345)},
      // p90 sits on the last time of the lower cluster, p99 in the upper.
      {"two_clusters", Join(Repeat(900, 0.001), Repeat(100, 2.0))},
      {"zero_and_above_one_hour", Join(Repeat(500, 0.0), Repeat(500, 5000.0))},
      {"one_microsecond", Repeat(1000, 1e-6)},
      {"every_microsecond_up_to_300", [] {
         std::vector<double> v;
         for (int us = 1; us <= 300; ++us) v.push_back(us / 1e6);
         return v;
       }()},
  };
  return samples;
}

}  // namespace

TEST(LatencyHistogram, PercentilesWithinOnePercentOfTheExactOnes) {
  for (const SampleCase& c : Samples()) {
    SCOPED_TRACE(c.name);
    ExpectWithin<CLatencyHistogram, CLatencyHistogram>(c.seconds, 0.01);
  }
}

TEST(CoarseLatencyHistogram, PercentilesWithinTenPercentOfTheExactOnes) {
  for (const SampleCase& c : Samples()) {
    SCOPED_TRACE(c.name);
    ExpectWithin<CCoarseLatencyHistogram, CCoarseLatencySum>(c.seconds, 0.10);
  }
}
