#pragma once
#include "filters/active_filter_rules.h"
#include "filters/filter_rule_list.h"
#include "settings/setting_values.h"

// Saving and loading the filter rules as the settings values `Include`
// ("1" Include, "0" Exclude), `FilerCount` and Filter0, Filter1, ... holding
// each rule's text. User-interface thread (and start-up) only, like the
// settings store.

// Rebuilds the list from the store. At most 100 rules are read; rule texts
// that cannot be split at a ":" (which must sit at position 4 or later and
// not be the last character) or that give neither an address pattern nor
// a port are skipped silently. A text that opens with "[" is an IPv6 rule,
// "[prefix]:port", skipped unless the prefix reads. A missing `Include`
// gives Exclude mode.
CFilterRuleList LoadFilterRules(CSettingValues& settings);
// The same, published as the list in force. Start-up, before any capture.
void LoadFilterRules(CSettingValues& settings, CActiveFilterRules& rules);

// Writes the mode, the count and every rule's text; values of rules beyond
// the new count that an earlier save left are blanked, not deleted.
void SaveFilterRules(CSettingValues& settings, const CFilterRuleList& rules);
// The same for the list in force.
void SaveFilterRules(CSettingValues& settings, const CActiveFilterRules& rules);
