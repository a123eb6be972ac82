#include "settings/filter_rule_store.h"

#include <string>
#include <string_view>

CFilterRuleList LoadFilterRules(CSettingValues& settings) {
  const int count = settings.ReadFilterCount();
  CFilterRuleList list;
  list.SetMode(settings.ReadInclude() == "0" ? CFilterRuleList::kExclude
                                             : CFilterRuleList::kInclude);
  for (int i = 0; i < count; ++i) {
    const std::string text = settings.ReadFilter(i);
    if (text.size() < 2) continue;
    const std::string_view whole(text);
    if (text.front() == '[') {
      // "[2001:db8::/32]:443": the prefix holds colons of its own.
      const std::size_t close = text.find("]:");
      if (close == std::string::npos || close + 2 == text.size()) continue;
      const CFilterRule rule =
          CFilterRule::ParseIpv6Rule(whole.substr(1, close - 1), whole.substr(close + 2));
      if (rule.invalid == 0) list.Append(rule);
      continue;
    }
    const std::size_t colon = text.find(':');
    // Text that was never written by SaveFilterRules (hand edits, damage)
    // is dropped here rather than guessed at: the address part must have
    // room for four pieces and the port part must not be empty.
    if (colon == std::string::npos || colon < 4 || colon + 1 == text.size()) continue;
    const CFilterRule rule =
        CFilterRule::ParseRule(whole.substr(0, colon), whole.substr(colon + 1));
    if (rule.invalid == 0) list.Append(rule);
  }
  return list;
}

void LoadFilterRules(CSettingValues& settings, CActiveFilterRules& rules) {
  rules.Replace(LoadFilterRules(settings));
}

void SaveFilterRules(CSettingValues& settings, const CFilterRuleList& rules) {
  const int oldCount = settings.ReadFilterCount();
  settings.WriteInclude(rules.Mode() == CFilterRuleList::kInclude ? "1" : "0");
  const int count = static_cast<int>(rules.Count());
  settings.WriteFilterCount(count);
  int index = 0;
  for (const CFilterRule& rule : rules.Rules()) settings.WriteFilter(rule.ToText(), index++);
  for (int i = count; i < oldCount; ++i) settings.WriteFilter("", i);
}

void SaveFilterRules(CSettingValues& settings, const CActiveFilterRules& rules) {
  SaveFilterRules(settings, rules.Snapshot());
}
