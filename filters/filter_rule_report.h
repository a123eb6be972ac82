#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "filters/filter_rule_list.h"

// What one rule matched: packets and their IP lengths as the headers claim
// them, whichever way the mode sent the packets.
struct CRuleHits {
  uint64_t packets = 0;
  uint64_t bytes = 0;

  // "1,204 packets, 1,685,600 bytes", as beside a rule in the filter dialog.
  std::string Text() const;

  friend bool operator==(const CRuleHits&, const CRuleHits&) = default;
};

// The list in force and, in rule order, what each rule matched, read at one
// moment: for the filter dialog, the Settings page and the headless
// summary. A plain value; any thread.
struct CFilterRuleReport {
  CFilterRuleList rules;
  std::vector<CRuleHits> hits;  // one per rule

  // "None" without rules, else the mode with the rule count and the packets
  // all rules matched: "Include (3 rules, 1,204 packets matched)".
  std::string SummaryText() const;
};
