#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "filters/active_filter_rules.h"
#include "filters/decimal_value.h"
#include "filters/filter_rule.h"
#include "filters/filter_rule_list.h"
#include "settings/filter_rule_store.h"
#include "settings/memory_setting_values.h"
#include "filters/token_list.h"
#include "tests/test_support.h"

namespace {

constexpr int kInc = CFilterRuleList::kInclude;
constexpr int kExc = CFilterRuleList::kExclude;

CIpAddr V6(const char* text) { return *CIpAddr::FromText(text); }

std::vector<std::string> Texts(const CFilterRuleList& list) {
  std::vector<std::string> texts;
  for (const CFilterRule& rule : list.Rules()) texts.push_back(rule.ToText());
  return texts;
}

}  // namespace

TEST(AtoiValue, ReadsLikeAtoi) {
  const std::pair<const char*, int> cases[] = {
      {"", 0},  {"abc", 0}, {"-", 0},     {"42", 42}, {" \t\n\v\f\r42", 42}, {"+7x", 7}, {"-3", -3},
      {"0080", 80}, {"1 2", 1}, {"- 1", 0}, {"2147483647", INT_MAX}, {"99999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN}, {"-99999999999999999999", INT_MIN}};
  for (const auto& [text, value] : cases) EXPECT_EQ(AtoiValue(text), value) << '"' << text << '"';
}

TEST(TokenList, KeepsEmptyPiecesAndThrowsOutsideThem) {
  const CTokenList dots("1..3.", ".");
  ASSERT_EQ(dots.Count(), 4u);
  EXPECT_EQ((std::vector<std::string>{dots.At(0), dots.At(1), dots.At(2), dots.At(3)}),
            (std::vector<std::string>{"1", "", "3", ""}));
  EXPECT_EQ(CTokenList("", ".").Count(), 1u);
  try {
    dots.At(4);
    FAIL() << "no error for index 4";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "Index out of Bounds");
  }
}

TEST(FilterRule, TextShowsZeroAsStarAndIpv6InBrackets) {
  EXPECT_EQ(CFilterRule(10, 0, 0, 1, 0).ToText(), "10.*.*.1:*");
  EXPECT_EQ(CFilterRule(255, 255, 255, 255, 65535).ToText(), "255.255.255.255:65535");
  // Host bits past the prefix are dropped; a /128 shows no length.
  EXPECT_EQ(CFilterRule::Ipv6(V6("2001:db8:ff::1"), 33, 443).ToText(), "[2001:db8::/33]:443");
  EXPECT_EQ(CFilterRule::Ipv6(V6("::1"), 128, 0).ToText(), "[::1]:*");
}

TEST(FilterRule, ParseRuleBuildsTheStoredRule) {
  const struct {
    const char* address;
    const char* port;
    const char* text;  // nullptr: invalid
  } cases[] = {{"192.168.*.*", "*", "192.168.*.*:*"}, {"10.1.2.3", "443", "10.1.2.3:443"},
               {"1.2.3", "80", "*.*.*.*:80"},  // unusable address, the port saves it
               {"1.2.3", "*", nullptr},          {"1.2.3.4.5", "0", nullptr},
               {"1.2.3.4", "70000", "1.2.3.4:4464"},  // low 16 bits of the port
               {"1.2.3", "65536", nullptr},      {"1.2.3.4", "65536", "1.2.3.4:*"},
               {"1.2.3.4", "-1", "1.2.3.4:65535"}, {"1.2.300.4", "*", "1.2.*.4:*"},
               {"-1.0.256.abc", "*", "*.*.*.*:*"}, {"1..3.4", "*", "1.*.3.4:*"},
               {" 10.7x.+8.9", "0080", "10.7.8.9:80"}, {"", "22", "*.*.*.*:22"},
               {"1.2.3.4", "http", "1.2.3.4:*"}};
  for (const auto& c : cases) {
    const CFilterRule rule = CFilterRule::ParseRule(c.address, c.port);
    EXPECT_EQ(rule.invalid, c.text ? 0 : 1) << c.address << ":" << c.port;
    if (c.text) {
      EXPECT_EQ(rule.ToText(), c.text) << c.address << ":" << c.port;
    } else {
      EXPECT_EQ(rule.address, (CIpAddr{0, 0, 0, 0}));
      EXPECT_EQ(rule.port, 0);
    }
  }
}

TEST(FilterRule, MatchesComparesNonZeroFieldsOnly) {
  const struct {
    CFilterRule rule;
    CIpAddr address;
    uint16_t port;
    bool matches;
  } cases[] = {{CFilterRule(10, 0, 0, 1, 0), CIpAddr(10, 200, 3, 1), 9, true},
               {CFilterRule(10, 0, 0, 1, 0), CIpAddr(10, 200, 3, 2), 9, false},
               {CFilterRule(10, 0, 0, 1, 0), CIpAddr(11, 200, 3, 1), 9, false},
               {CFilterRule(1, 2, 3, 4, 443), CIpAddr(1, 2, 3, 4), 443, true},
               {CFilterRule(1, 2, 3, 4, 443), CIpAddr(1, 2, 3, 4), 444, false},
               {CFilterRule(), CIpAddr(0, 0, 0, 0), 0, true},
               {CFilterRule(0, 0, 0, 4, 0), CIpAddr(4, 0, 0, 0), 0, false},
               // IPv6 prefixes, to the bit; neither family matches the other.
               {CFilterRule::Ipv6(V6("2001:db8::"), 32, 0), V6("2001:db8:5::1"), 9, true},
               {CFilterRule::Ipv6(V6("2001:db8::"), 32, 0), V6("2001:db9::1"), 9, false},
               {CFilterRule::Ipv6(V6("2001:db8:8000::"), 33, 443), V6("2001:db8:ffff::"), 443, true},
               {CFilterRule::Ipv6(V6("2001:db8:8000::"), 33, 443), V6("2001:db8:7fff::"), 443, false},
               {CFilterRule::Ipv6(V6("2001:db8::1"), 128, 443), V6("2001:db8::1"), 444, false},
               {CFilterRule::Ipv6(V6("::"), 0, 0), V6("ff02::1"), 9, true},
               {CFilterRule::Ipv6(V6("::"), 0, 0), CIpAddr(0, 0, 0, 0), 9, false},
               {CFilterRule(0, 0, 0, 0, 80), V6("::"), 80, false}};
  for (const auto& c : cases)
    EXPECT_EQ(c.rule.Matches(c.address, c.port), c.matches) << c.rule.ToText();
}

TEST(FilterRuleList, PassesByModeAndFirstMatch) {
  const struct {
    int mode;
    std::vector<CFilterRule> rules;
    CIpAddr address;
    uint16_t port;
    bool passes;
  } cases[] = {
      {kInc, {}, CIpAddr(1, 2, 3, 4), 5, true},
      {kExc, {}, CIpAddr(1, 2, 3, 4), 5, true},
      {kInc, {CFilterRule(192, 168, 0, 0, 0)}, CIpAddr(192, 168, 5, 9), 1234, true},
      {kInc, {CFilterRule(192, 168, 0, 0, 0)}, CIpAddr(10, 0, 0, 1), 1234, false},
      {kExc, {CFilterRule(0, 0, 0, 0, 80)}, CIpAddr(8, 8, 8, 8), 80, false},
      {kExc, {CFilterRule(0, 0, 0, 0, 80)}, CIpAddr(8, 8, 8, 8), 443, true},
      {kInc, {CFilterRule(1, 1, 1, 1, 0), CFilterRule(0, 0, 0, 0, 53)}, CIpAddr(9, 9, 9, 9), 53, true},
      {kExc, {CFilterRule(1, 1, 1, 1, 0), CFilterRule(0, 0, 0, 0, 53)}, CIpAddr(9, 9, 9, 9), 54, true},
      {kExc, {CFilterRule()}, CIpAddr(9, 9, 9, 9), 54, false}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    EXPECT_EQ(MakeList(c.mode, c.rules).Passes(c.address, c.port), c.passes) << "case " << i;
    CActiveFilterRules active;
    active.Replace(MakeList(c.mode, c.rules));
    EXPECT_EQ(active.Passes(c.address, c.port), c.passes) << "case " << i;
  }
}

TEST(FilterRuleList, SummaryAndClear) {
  CFilterRuleList list = MakeList(kExc, {});
  EXPECT_EQ(list.SummaryText(), "None");
  list.Append(CFilterRule(0, 0, 0, 0, 80));
  EXPECT_EQ(list.SummaryText(), "Exclude");
  list.SetMode(kInc);
  EXPECT_EQ(list.SummaryText(), "Include");
  list.Clear();
  EXPECT_EQ(list.SummaryText(), "None");
  EXPECT_EQ(list.Mode(), kInc);
}

TEST(FilterRuleStore, LoadKeepsOrSkipsEachStoredText) {
  const std::pair<const char*, const char*> cases[] = {  // second nullptr: skipped
      {"192.168.*.*:*", "192.168.*.*:*"}, {"1.2.3:80", "*.*.*.*:80"}, {"1.2.3:*", nullptr},
      {"1.2.3.4:80:90", "1.2.3.4:80"},    {"abc:80", nullptr},  // ":" before position 4
      {"...:80", nullptr},   {"1.2.3.4:", nullptr}, {"1.2.3.4", nullptr}, {"a", nullptr},
      {"[2001:db8::/32]:443", "[2001:db8::/32]:443"}, {"[2001:db8::1/128]:*", "[2001:db8::1]:*"},
      {"[2001:db8::1/32]:*", "[2001:db8::/32]:*"},    {"[::/0]:70000", "[::/0]:4464"},
      {"[2001:db8::/129]:*", nullptr}, {"[2001:db8::/]:*", nullptr},  {"[2001:db8::/3x]:*", nullptr},
      {"[10.0.0.1]:80", nullptr},      {"[zz::/8]:80", nullptr},      {"[2001:db8::]", nullptr},
      {"[2001:db8::]:", nullptr}};
  for (const auto& [stored, loaded] : cases) {
    CMemorySettingValues settings;
    settings.values = {{"FilerCount", "1"}, {"Include", "1"}, {"Filter0", stored}};
    const CFilterRuleList list = LoadFilterRules(settings);
    EXPECT_EQ(Texts(list), loaded ? std::vector<std::string>{loaded} : std::vector<std::string>{})
        << stored;
  }
}

TEST(FilterRuleStore, LoadsInOrderAndSkipsOnlyBadTexts) {
  CMemorySettingValues settings;
  settings.values = {{"FilerCount", "4"},        {"Include", "1"},
                     {"Filter0", "10.*.*.1:*"},  {"Filter1", "garbage"},
                     {"Filter3", "*.*.*.*:443"}, {"Filter4", "9.9.9.9:9"}};
  const CFilterRuleList list = LoadFilterRules(settings);
  EXPECT_EQ(list.Mode(), kInc);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"10.*.*.1:*", "*.*.*.*:443"}));
}

TEST(FilterRuleStore, ModeFromInclude) {
  const std::pair<const char*, int> cases[] = {  // nullptr: missing
      {nullptr, kExc}, {"", kExc}, {"0", kExc}, {"1", kInc}, {"00", kInc}, {" 0", kInc}};
  for (const auto& [include, mode] : cases) {
    CMemorySettingValues settings;
    if (include != nullptr) settings.values["Include"] = include;
    EXPECT_EQ(LoadFilterRules(settings).Mode(), mode) << (include ? include : "missing");
  }
}

TEST(FilterRuleStore, SavingBlanksStaleValuesAndLoadsBackTheSameList) {
  CMemorySettingValues settings;
  settings.values = {{"FilerCount", "5"}, {"Include", "1"}, {"Filter5", "keep:me"}};
  for (int i = 0; i < 5; ++i) settings.values["Filter" + std::to_string(i)] = "1.1.1.1:1";
  SaveFilterRules(settings, MakeList(kExc, {CFilterRule(192, 168, 0, 0, 0), CFilterRule(0, 0, 0, 0, 80)}));
  const std::map<std::string, std::string> expected = {
      {"FilerCount", "2"},       {"Include", "0"}, {"Filter0", "192.168.*.*:*"},
      {"Filter1", "*.*.*.*:80"}, {"Filter2", ""},  {"Filter3", ""},
      {"Filter4", ""},           {"Filter5", "keep:me"}};
  EXPECT_EQ(settings.values, expected);
  // An empty Exclude list keeps its mode.
  for (const CFilterRuleList& list :
       {MakeList(kInc, {CFilterRule(10, 0, 0, 1, 0), CFilterRule(0, 0, 0, 0, 65535), CFilterRule(),
                        CFilterRule::Ipv6(V6("2001:db8::"), 48, 53)}),
        MakeList(kExc, {})}) {
    SaveFilterRules(settings, list);
    EXPECT_EQ(LoadFilterRules(settings), list);
  }
}

// Every published list refuses the probe (Include lists that miss it,
// Exclude lists whose last rule hits it); a reader seeing a partial or
// mode-switched list would let it pass.
TEST(ActiveFilterRules, ReplaceNeverShowsAPartialList) {
  const CIpAddr probe = CIpAddr(10, 1, 2, 3);
  const uint16_t probePort = 4000;
  CActiveFilterRules active;
  active.Replace(MakeList(kInc, {CFilterRule(1, 1, 1, 1, 0)}));
  std::atomic<bool> stop{false};
  std::atomic<long> calls{0}, wrongPasses{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      while (!stop.load(std::memory_order_relaxed)) {
        if (active.Passes(probe, probePort)) wrongPasses.fetch_add(1);
        calls.fetch_add(1, std::memory_order_relaxed);
      }
    });
  }
  while (calls.load() < 100) std::this_thread::yield();
  for (int i = 0; i < 4000; ++i) {
    std::vector<CFilterRule> rules;
    for (int k = 0; k <= i % 17; ++k) rules.push_back(CFilterRule(1, 1, 1, static_cast<uint8_t>(k + 1), 0));
    if (i % 2 == 0) {
      active.Replace(MakeList(kInc, rules));
    } else {
      rules.push_back(CFilterRule(10, 0, 0, 0, probePort));
      active.Replace(MakeList(kExc, rules));
    }
  }
  stop = true;
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(wrongPasses.load(), 0);
}
