#include "filters/filter_rule_list.h"

std::string CFilterRuleList::SummaryText() const {
  if (rules_.empty()) return "None";
  return mode_ == kInclude ? "Include" : "Exclude";
}
