#include "names/name_cache.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
const CNameCache::Clock::time_point kT0{1000h};
const CIpAddr kHost(198, 51, 100, 9);

std::string Shown(CNameCache& cache, const CIpAddr& address, CNameCache::Clock::time_point at) {
  const auto got = cache.Lookup(address, at);
  return got ? got->name + "/" + std::to_string(static_cast<int>(got->source)) : "none";
}

TEST(NameCache, TrustOrderAndExpiry) {
  CNameCache cache;
  cache.Store(kHost, ENameSource::kReverseLookup, "ptr.example", kT0, 600s);
  EXPECT_EQ(Shown(cache, kHost, kT0), "ptr.example/0");
  cache.Store(kHost, ENameSource::kConnection, "tls.example", kT0, 0s);
  cache.Store(kHost, ENameSource::kDnsAnswer, "dns.example", kT0, 60s);
  cache.Store(kHost, ENameSource::kReverseLookup, "ptr2.example", kT0, 600s);
  EXPECT_EQ(Shown(cache, kHost, kT0 + 59s), "dns.example/2");
  // The DNS answer's TTL ran out; the connection name never does.
  EXPECT_EQ(Shown(cache, kHost, kT0 + 60s), "tls.example/1");
  EXPECT_EQ(Shown(cache, kHost, kT0 + 1000h), "tls.example/1");

  const CIpAddr other(198, 51, 100, 10);
  cache.Store(other, ENameSource::kReverseLookup, "ptr.example", kT0, 600s);
  EXPECT_TRUE(cache.HasName(other, kT0 + 599s));
  EXPECT_FALSE(cache.HasName(other, kT0 + 600s));
}

TEST(NameCache, DropsTheLeastRecentlyUsed) {
  CNameCache cache(2);
  const CIpAddr a(198, 51, 100, 1), b(198, 51, 100, 2), c(198, 51, 100, 3);
  cache.Store(a, ENameSource::kConnection, "a.example", kT0, 0s);
  cache.Store(b, ENameSource::kConnection, "b.example", kT0, 0s);
  EXPECT_TRUE(cache.Lookup(a, kT0));
  cache.Store(c, ENameSource::kConnection, "c.example", kT0, 0s);
  EXPECT_EQ(cache.Size(), 2u);
  EXPECT_TRUE(cache.HasName(a, kT0));
  EXPECT_FALSE(cache.HasName(b, kT0));
  EXPECT_TRUE(cache.HasName(c, kT0));
}

}  // namespace
