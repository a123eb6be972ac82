// Arbitrary stored values through the filter-rule loader.
//
// Input: values separated by newlines, stored in order as `Include`,
// `FilerCount`, Filter0, Filter1, ... The loaded list must survive a save
// and a load unchanged, and every rule in it must be valid.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "filters/active_filter_rules.h"
#include "settings/filter_rule_store.h"
#include "settings/memory_setting_values.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  CMemorySettingValues stored;
  int index = -2;
  while (index < 120) {
    const std::size_t end = input.find('\n');
    const std::string value(input.substr(0, end));
    if (index == -2) {
      stored.values["Include"] = value;
    } else if (index == -1) {
      stored.values["FilerCount"] = value;
    } else {
      stored.values["Filter" + std::to_string(index)] = value;
    }
    ++index;
    if (end == std::string_view::npos) break;
    input.remove_prefix(end + 1);
  }

  const CFilterRuleList rules = LoadFilterRules(stored);
  if (rules.Count() > 100) std::abort();
  for (const CFilterRule& rule : rules.Rules()) {
    if (rule.invalid != 0) std::abort();
    (void)rule.ToText();
  }
  (void)rules.SummaryText();
  (void)rules.Passes({10, 0, 0, 1}, 80);

  CMemorySettingValues saved;
  SaveFilterRules(saved, rules);
  if (!(LoadFilterRules(saved) == rules)) std::abort();

  CActiveFilterRules active;
  LoadFilterRules(stored, active);
  if (!(active.Snapshot() == rules)) std::abort();
  return 0;
}
