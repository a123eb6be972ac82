#include "filters/filter_rule_report.h"

namespace {

// 1204 -> "1,204".
std::string Grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, 1, ',');
  return digits;
}

std::string Counted(uint64_t n, const char* one, const char* many) {
  return Grouped(n) + ' ' + (n == 1 ? one : many);
}

}  // namespace

std::string CRuleHits::Text() const {
  return Counted(packets, "packet", "packets") + ", " + Counted(bytes, "byte", "bytes");
}

std::string CFilterRuleReport::SummaryText() const {
  if (rules.Count() == 0) return rules.SummaryText();
  uint64_t packets = 0;
  for (const CRuleHits& h : hits) packets += h.packets;
  return rules.SummaryText() + " (" + Counted(rules.Count(), "rule", "rules") + ", " +
         Counted(packets, "packet", "packets") + " matched)";
}
