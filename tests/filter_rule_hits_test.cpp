#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "filters/active_filter_rules.h"
#include "tests/test_support.h"

namespace {

constexpr int kInc = CFilterRuleList::kInclude;
constexpr int kExc = CFilterRuleList::kExclude;

}  // namespace

TEST(FilterRuleHits, TheFirstMatchingRuleCountsThePacket) {
  const CFilterRule tenNet(10, 0, 0, 0, 0), web(0, 0, 0, 0, 80), oneHost(10, 0, 0, 5, 80);
  const struct {
    CIpAddr address;
    uint16_t port;
    uint64_t bytes;
    bool passes;
  } packets[] = {
      {CIpAddr(10, 1, 1, 1), 80, 100, false},  // rules 0 and 1 match; 0 decides
      {CIpAddr(8, 8, 8, 8), 80, 60, false},
      {CIpAddr(8, 8, 8, 8), 443, 1500, true},  // no rule
      {CIpAddr(10, 0, 0, 5), 80, 40, false},   // rule 2 never gets a packet
      {CIpAddr::V6(std::array<uint8_t, 16>{0x20, 0x01, 0x0d, 0xb8}), 80, 9, true},
  };
  CActiveFilterRules active;
  active.Replace(MakeList(kExc, {tenNet, web, oneHost}));
  for (const auto& p : packets)
    EXPECT_EQ(active.Admit(p.address, p.port, p.bytes), p.passes) << p.bytes;
  EXPECT_EQ(active.Report().hits, (std::vector<CRuleHits>{{2, 140}, {1, 60}, {0, 0}}));
  // Passes only asks.
  EXPECT_FALSE(active.Passes(CIpAddr(10, 1, 1, 1), 80));
  EXPECT_EQ(active.Report().hits[0], (CRuleHits{2, 140}));
}

TEST(FilterRuleHits, ReplaceKeepsTheCountsOfTheRulesItKeeps) {
  const CFilterRule a(10, 0, 0, 0, 0), b(0, 0, 0, 0, 80), c(192, 168, 0, 0, 0), d(0, 0, 0, 0, 53);
  CActiveFilterRules active;
  EXPECT_EQ(active.Report().SummaryText(), "None");
  active.Replace(MakeList(kInc, {a, b, c}));
  for (int i = 0; i < 1200; ++i) active.Admit(CIpAddr(10, 0, 0, 1), 22, 10);  // a
  for (int i = 0; i < 3; ++i) active.Admit(CIpAddr(8, 8, 8, 8), 80, 20);      // b
  active.Admit(CIpAddr(192, 168, 1, 1), 22, 30);                              // c
  EXPECT_EQ(active.Report().SummaryText(), "Include (3 rules, 1,204 packets matched)");

  // Order, mode and neighbours change; b leaves, d arrives, a comes twice.
  active.Replace(MakeList(kExc, {c, a, d, a}));
  const CFilterRuleReport report = active.Report();
  EXPECT_EQ(report.hits, (std::vector<CRuleHits>{{1, 30}, {1200, 12000}, {0, 0}, {0, 0}}));
  EXPECT_EQ(report.SummaryText(), "Exclude (4 rules, 1,201 packets matched)");

  active.ResetCounters();
  EXPECT_EQ(active.Report().hits, std::vector<CRuleHits>(4));
  active.Replace(MakeList(kInc, {d}));
  active.Admit(CIpAddr(1, 1, 1, 1), 53, 70);
  EXPECT_EQ(active.Report().SummaryText(), "Include (1 rule, 1 packet matched)");
}

// The probe always matches `probe`, which every published list holds at a
// changing place: across thousands of replacements no match may be lost.
TEST(ActiveFilterRules, CountsSurviveConcurrentReplace) {
  const CFilterRule probe(10, 1, 2, 3, 0);
  CActiveFilterRules active;
  active.Replace(MakeList(kInc, {probe}));
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> calls{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      while (!stop.load(std::memory_order_relaxed)) {
        active.Admit(CIpAddr(10, 1, 2, 3), 4000, 100);
        calls.fetch_add(1, std::memory_order_relaxed);
      }
    });
  }
  while (calls.load() < 100) std::this_thread::yield();
  for (int i = 0; i < 2000; ++i) {
    std::vector<CFilterRule> rules;
    for (int k = 0; k < i % 7; ++k) rules.push_back(CFilterRule(1, 1, 1, static_cast<uint8_t>(k + 1), 0));
    rules.insert(rules.begin() + (i % 3 == 0 ? 0 : static_cast<long>(rules.size())), probe);
    active.Replace(MakeList(i % 2 == 0 ? kInc : kExc, rules));
  }
  stop = true;
  for (std::thread& t : readers) t.join();
  const CFilterRuleReport report = active.Report();
  uint64_t packets = 0, bytes = 0;
  for (const CRuleHits& h : report.hits) {
    packets += h.packets;
    bytes += h.bytes;
  }
  EXPECT_EQ(packets, calls.load());
  EXPECT_EQ(bytes, 100 * calls.load());
}
