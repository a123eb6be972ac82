#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "capture/active_filter_rules.h"
#include "capture/decimal_value.h"
#include "capture/filter_rule.h"
#include "capture/filter_rule_list.h"
#include "capture/filter_rule_store.h"
#include "capture/memory_setting_values.h"
#include "capture/token_list.h"

namespace {

std::vector<std::string> Texts(const CFilterRuleList& list) {
  std::vector<std::string> texts;
  for (const CFilterRule& rule : list.Rules()) texts.push_back(rule.ToText());
  return texts;
}

CFilterRuleList MakeList(int mode, const std::vector<CFilterRule>& rules) {
  CFilterRuleList list;
  list.SetMode(mode);
  for (const CFilterRule& rule : rules) list.Append(rule);
  return list;
}

}  // namespace

// --- Reading numbers and splitting text ------------------------------------

struct AtoiCase {
  const char* text;
  int value;
};

class AtoiValueTest : public testing::TestWithParam<AtoiCase> {};

TEST_P(AtoiValueTest, ReadsLikeAtoi) {
  EXPECT_EQ(AtoiValue(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AtoiValueTest,
    testing::Values(AtoiCase{"", 0}, AtoiCase{"abc", 0}, AtoiCase{"-", 0}, AtoiCase{"42", 42},
                    AtoiCase{" \t\n\v\f\r42", 42}, AtoiCase{"+7x", 7}, AtoiCase{"-3", -3},
                    AtoiCase{"0080", 80}, AtoiCase{"1 2", 1}, AtoiCase{"- 1", 0},
                    AtoiCase{"2147483647", INT_MAX}, AtoiCase{"99999999999999999999", INT_MAX},
                    AtoiCase{"-2147483648", INT_MIN}, AtoiCase{"-99999999999999999999", INT_MIN}));

TEST(TokenList, KeepsEveryPieceIncludingEmptyOnes) {
  const CTokenList dots("1..3.", ".");
  ASSERT_EQ(dots.Count(), 4u);
  EXPECT_EQ(dots.At(0), "1");
  EXPECT_EQ(dots.At(1), "");
  EXPECT_EQ(dots.At(2), "3");
  EXPECT_EQ(dots.At(3), "");

  EXPECT_EQ(CTokenList("", ".").Count(), 1u);
  EXPECT_EQ(CTokenList("abc", ".").At(0), "abc");
  const CTokenList words("a::b", "::");
  ASSERT_EQ(words.Count(), 2u);
  EXPECT_EQ(words.At(1), "b");
}

TEST(TokenList, IndexOutsideThePiecesThrows) {
  const CTokenList list("a.b", ".");
  try {
    list.At(2);
    FAIL() << "no error for index 2";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "Index out of Bounds");
  }
}

// --- One rule: text, parsing, matching -------------------------------------

TEST(FilterRule, TextShowsZeroAsStar) {
  EXPECT_EQ(CFilterRule(192, 168, 0, 0, 0).ToText(), "192.168.*.*:*");
  EXPECT_EQ(CFilterRule(0, 0, 0, 0, 80).ToText(), "*.*.*.*:80");
  EXPECT_EQ(CFilterRule(10, 1, 2, 3, 443).ToText(), "10.1.2.3:443");
  EXPECT_EQ(CFilterRule(10, 0, 0, 1, 0).ToText(), "10.*.*.1:*");
  EXPECT_EQ(CFilterRule(255, 255, 255, 255, 65535).ToText(), "255.255.255.255:65535");
}

TEST(FilterRule, CloneIsAnEqualIndependentRule) {
  const CFilterRule rule(1, 2, 3, 4, 5);
  auto copy = rule.Clone();
  EXPECT_EQ(*copy, rule);
  copy->port = 6;
  EXPECT_EQ(rule.port, 5);
}

struct ParseCase {
  const char* address;
  const char* port;
  int invalid;
  const char* text;  // ToText of the result when valid
};

class ParseRuleTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseRuleTest, BuildsTheStoredRule) {
  const ParseCase& c = GetParam();
  const CFilterRule rule = CFilterRule::ParseRule(c.address, c.port);
  EXPECT_EQ(rule.invalid, c.invalid) << c.address << ":" << c.port;
  if (c.invalid == 0) {
    EXPECT_EQ(rule.ToText(), c.text) << c.address << ":" << c.port;
  } else {
    EXPECT_EQ(rule.address, (CIpAddr{0, 0, 0, 0}));
    EXPECT_EQ(rule.port, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    StoredTexts, ParseRuleTest,
    testing::Values(
        ParseCase{"192.168.*.*", "*", 0, "192.168.*.*:*"},
        ParseCase{"10.1.2.3", "443", 0, "10.1.2.3:443"},
        ParseCase{"*.*.*.*", "*", 0, "*.*.*.*:*"},
        // Three pieces: the address is unusable but the port saves the rule.
        ParseCase{"1.2.3", "80", 0, "*.*.*.*:80"},
        ParseCase{"1.2.3", "*", 1, ""},
        ParseCase{"1.2.3.4.5", "0", 1, ""},
        // Only the low 16 bits of the port count.
        ParseCase{"1.2.3.4", "70000", 0, "1.2.3.4:4464"},
        ParseCase{"1.2.3", "65536", 1, ""},
        ParseCase{"1.2.3.4", "65536", 0, "1.2.3.4:*"},
        ParseCase{"1.2.3.4", "-1", 0, "1.2.3.4:65535"},
        // Octets outside 1..255 widen to "*".
        ParseCase{"1.2.300.4", "*", 0, "1.2.*.4:*"},
        ParseCase{"-1.0.256.abc", "*", 0, "*.*.*.*:*"},
        ParseCase{"1..3.4", "*", 0, "1.*.3.4:*"},
        ParseCase{" 10.7x.+8.9", "0080", 0, "10.7.8.9:80"},
        ParseCase{"", "22", 0, "*.*.*.*:22"},
        ParseCase{"1.2.3.4", "http", 0, "1.2.3.4:*"}));

struct MatchCase {
  CFilterRule rule;
  CIpAddr address;
  uint16_t port;
  bool matches;
};

class MatchesTest : public testing::TestWithParam<MatchCase> {};

TEST_P(MatchesTest, ComparesNonZeroFieldsOnly) {
  const MatchCase& c = GetParam();
  EXPECT_EQ(c.rule.Matches(c.address, c.port), c.matches) << c.rule.ToText();
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MatchesTest,
    testing::Values(
        MatchCase{CFilterRule(10, 0, 0, 1, 0), MakeIpAddr(10, 200, 3, 1), 9, true},
        MatchCase{CFilterRule(10, 0, 0, 1, 0), MakeIpAddr(10, 200, 3, 2), 9, false},
        MatchCase{CFilterRule(10, 0, 0, 1, 0), MakeIpAddr(11, 200, 3, 1), 9, false},
        MatchCase{CFilterRule(192, 168, 0, 0, 0), MakeIpAddr(192, 168, 5, 9), 1234, true},
        MatchCase{CFilterRule(0, 0, 0, 0, 80), MakeIpAddr(1, 2, 3, 4), 80, true},
        MatchCase{CFilterRule(0, 0, 0, 0, 80), MakeIpAddr(1, 2, 3, 4), 8080, false},
        MatchCase{CFilterRule(1, 2, 3, 4, 443), MakeIpAddr(1, 2, 3, 4), 443, true},
        MatchCase{CFilterRule(1, 2, 3, 4, 443), MakeIpAddr(1, 2, 3, 4), 444, false},
        MatchCase{CFilterRule(), MakeIpAddr(0, 0, 0, 0), 0, true},
        MatchCase{CFilterRule(0, 0, 0, 4, 0), MakeIpAddr(4, 0, 0, 0), 0, false}));

// --- The list: deciding a packet --------------------------------------------

struct PassCase {
  const char* name;
  int mode;
  std::vector<CFilterRule> rules;
  CIpAddr address;
  uint16_t port;
  bool passes;
};

class PassesTest : public testing::TestWithParam<PassCase> {};

TEST_P(PassesTest, DecidesByModeAndFirstMatch) {
  const PassCase& c = GetParam();
  EXPECT_EQ(MakeList(c.mode, c.rules).Passes(c.address, c.port), c.passes);
  // The published list decides the same way.
  CActiveFilterRules active;
  active.Replace(MakeList(c.mode, c.rules));
  EXPECT_EQ(active.Passes(c.address, c.port), c.passes);
}

constexpr int kInc = CFilterRuleList::kInclude;
constexpr int kExc = CFilterRuleList::kExclude;

INSTANTIATE_TEST_SUITE_P(
    Lists, PassesTest,
    testing::Values(
        PassCase{"EmptyInclude", kInc, {}, MakeIpAddr(1, 2, 3, 4), 5, true},
        PassCase{"EmptyExclude", kExc, {}, MakeIpAddr(1, 2, 3, 4), 5, true},
        PassCase{"IncludeNetworkInside", kInc, {CFilterRule(192, 168, 0, 0, 0)},
                 MakeIpAddr(192, 168, 5, 9), 1234, true},
        PassCase{"IncludeNetworkOutside", kInc, {CFilterRule(192, 168, 0, 0, 0)},
                 MakeIpAddr(10, 0, 0, 1), 1234, false},
        PassCase{"ExcludePort80", kExc, {CFilterRule(0, 0, 0, 0, 80)}, MakeIpAddr(8, 8, 8, 8),
                 80, false},
        PassCase{"ExcludeOtherPort", kExc, {CFilterRule(0, 0, 0, 0, 80)},
                 MakeIpAddr(8, 8, 8, 8), 443, true},
        PassCase{"IncludeSecondRuleMatches", kInc,
                 {CFilterRule(1, 1, 1, 1, 0), CFilterRule(0, 0, 0, 0, 53)},
                 MakeIpAddr(9, 9, 9, 9), 53, true},
        PassCase{"ExcludeNoneMatch", kExc,
                 {CFilterRule(1, 1, 1, 1, 0), CFilterRule(0, 0, 0, 0, 53)},
                 MakeIpAddr(9, 9, 9, 9), 54, true},
        PassCase{"ExcludeMatchAll", kExc, {CFilterRule()}, MakeIpAddr(9, 9, 9, 9), 54, false}),
    [](const testing::TestParamInfo<PassCase>& info) { return std::string(info.param.name); });

TEST(FilterRuleList, SummaryAndClear) {
  CFilterRuleList list;
  EXPECT_EQ(list.Mode(), CFilterRuleList::kInclude);
  EXPECT_EQ(list.SummaryText(), "None");
  list.SetMode(CFilterRuleList::kExclude);
  EXPECT_EQ(list.SummaryText(), "None");
  list.Append(CFilterRule(0, 0, 0, 0, 80));
  EXPECT_EQ(list.SummaryText(), "Exclude");
  list.SetMode(CFilterRuleList::kInclude);
  EXPECT_EQ(list.SummaryText(), "Include");
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.Mode(), CFilterRuleList::kInclude);
}

// --- Saving and loading through the settings values -------------------------

struct LoadCase {
  const char* stored;
  const char* loaded;  // nullptr: skipped
};

class LoadOneRuleTest : public testing::TestWithParam<LoadCase> {};

TEST_P(LoadOneRuleTest, KeepsOrSkipsStoredText) {
  CMemorySettingValues settings;
  settings.values = {{"FilerCount", "1"}, {"Include", "1"}, {"Filter0", GetParam().stored}};
  const CFilterRuleList list = LoadFilterRules(settings);
  if (GetParam().loaded == nullptr) {
    EXPECT_EQ(list.Count(), 0u) << GetParam().stored;
  } else {
    EXPECT_EQ(Texts(list), std::vector<std::string>{GetParam().loaded}) << GetParam().stored;
  }
}

INSTANTIATE_TEST_SUITE_P(
    StoredTexts, LoadOneRuleTest,
    testing::Values(LoadCase{"192.168.*.*:*", "192.168.*.*:*"},
                    LoadCase{"1.2.3:80", "*.*.*.*:80"},
                    LoadCase{"1.2.3.4:70000", "1.2.3.4:4464"},
                    LoadCase{"1.2.300.4:*", "1.2.*.4:*"},
                    LoadCase{"1.2.3.4:80:90", "1.2.3.4:80"},
                    LoadCase{"*.*.*.*:*", "*.*.*.*:*"},
                    LoadCase{"abc:80", nullptr},      // ":" before position 4
                    LoadCase{"...:80", nullptr},      // likewise
                    LoadCase{"1.2.3.4:", nullptr},    // ends in ":"
                    LoadCase{"1.2.3.4", nullptr},     // no ":"
                    LoadCase{"a", nullptr},           // too short
                    LoadCase{"1.2.3:*", nullptr},     // no address, no port
                    LoadCase{"1.2.3.4.5:0", nullptr}));

TEST(FilterRuleStore, LoadsInOrderAndSkipsOnlyBadTexts) {
  CMemorySettingValues settings;
  settings.values = {{"FilerCount", "4"},           {"Include", "1"},
                     {"Filter0", "10.*.*.1:*"},     {"Filter1", "garbage"},
                     {"Filter3", "*.*.*.*:443"},    {"Filter4", "9.9.9.9:9"}};
  const CFilterRuleList list = LoadFilterRules(settings);
  EXPECT_EQ(list.Mode(), CFilterRuleList::kInclude);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"10.*.*.1:*", "*.*.*.*:443"}));
}

TEST(FilterRuleStore, ModeFromInclude) {
  const struct {
    const char* include;  // nullptr: missing
    int mode;
  } cases[] = {{nullptr, kExc}, {"", kExc}, {"0", kExc}, {"1", kInc}, {"00", kInc}, {" 0", kInc}};
  for (const auto& c : cases) {
    CMemorySettingValues settings;
    if (c.include != nullptr) settings.values["Include"] = c.include;
    EXPECT_EQ(LoadFilterRules(settings).Mode(), c.mode) << (c.include ? c.include : "missing");
  }
}

TEST(FilterRuleStore, ReadsAtMostOneHundredRules) {
  CMemorySettingValues settings;
  settings.values["FilerCount"] = "150";
  for (int i = 0; i < 150; ++i) settings.values["Filter" + std::to_string(i)] = "*.*.*.*:" + std::to_string(i + 1);
  const CFilterRuleList list = LoadFilterRules(settings);
  ASSERT_EQ(list.Count(), 100u);
  EXPECT_EQ(list.Rules().back().port, 100);
}

TEST(FilterRuleStore, UnreadableStoreLoadsAnEmptyListThatPassesEverything) {
  CMemorySettingValues settings;
  settings.values = {{"FilerCount", "1"}, {"Include", "1"}, {"Filter0", "1.2.3.4:5"}};
  settings.readable = false;
  CActiveFilterRules active;
  active.Replace(MakeList(kInc, {CFilterRule(1, 1, 1, 1, 1)}));
  LoadFilterRules(settings, active);
  EXPECT_EQ(active.Snapshot().Count(), 0u);
  EXPECT_TRUE(active.Passes(MakeIpAddr(7, 7, 7, 7), 7));
}

TEST(FilterRuleStore, SavingFewerRulesBlanksStaleValues) {
  CMemorySettingValues settings;
  settings.values = {{"FilerCount", "5"}, {"Include", "1"}, {"Filter5", "keep:me"}};
  for (int i = 0; i < 5; ++i) settings.values["Filter" + std::to_string(i)] = "1.1.1.1:1";
  SaveFilterRules(settings, MakeList(kExc, {CFilterRule(192, 168, 0, 0, 0),
                                            CFilterRule(0, 0, 0, 0, 80)}));
  const std::map<std::string, std::string> expected = {
      {"FilerCount", "2"},         {"Include", "0"},    {"Filter0", "192.168.*.*:*"},
      {"Filter1", "*.*.*.*:80"},   {"Filter2", ""},     {"Filter3", ""},
      {"Filter4", ""},             {"Filter5", "keep:me"}};
  EXPECT_EQ(settings.values, expected);
}

TEST(FilterRuleStore, SaveThenLoadGivesTheSameList) {
  CMemorySettingValues settings;
  CActiveFilterRules active;
  const CFilterRuleList list = MakeList(
      kInc, {CFilterRule(10, 0, 0, 1, 0), CFilterRule(0, 0, 0, 0, 65535), CFilterRule()});
  active.Replace(list);
  SaveFilterRules(settings, active);
  EXPECT_EQ(settings.values["Include"], "1");
  CActiveFilterRules loaded;
  LoadFilterRules(settings, loaded);
  EXPECT_EQ(loaded.Snapshot(), list);
  EXPECT_EQ(loaded.SummaryText(), "Include");

  // An empty Exclude list survives too: the mode is stored without rules.
  SaveFilterRules(settings, MakeList(kExc, {}));
  EXPECT_EQ(LoadFilterRules(settings), MakeList(kExc, {}));
  EXPECT_EQ(settings.values["Filter2"], "");
}

TEST(FilterRuleStore, UnwritableStoreWritesNothing) {
  CMemorySettingValues settings;
  settings.writable = false;
  SaveFilterRules(settings, MakeList(kInc, {CFilterRule(1, 2, 3, 4, 5)}));
  EXPECT_TRUE(settings.values.empty());
}

// --- Replacing the list while the capture thread reads it ------------------

// Every list published here refuses the probe, whatever its length: an
// Include list of one or more rules that all miss it, or an Exclude list
// whose last rule hits it. A reader that saw an emptied, half-filled or mode-switched list
// would let the probe pass.
TEST(ActiveFilterRules, ReplaceNeverShowsAPartialList) {
  const CIpAddr probe = MakeIpAddr(10, 1, 2, 3);
  const uint16_t probePort = 4000;
  CActiveFilterRules active;
  active.Replace(MakeList(kInc, {CFilterRule(1, 1, 1, 1, 0)}));

  std::atomic<bool> stop{false};
  std::atomic<long> calls{0};
  std::atomic<long> wrongPasses{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      while (!stop.load(std::memory_order_relaxed)) {
        if (active.Passes(probe, probePort)) wrongPasses.fetch_add(1);
        calls.fetch_add(1, std::memory_order_relaxed);
      }
    });
  }
  // On a busy machine the readers may not have run yet; the replacements
  // only prove something while they are reading.
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
  EXPECT_GT(calls.load(), 0);
}
