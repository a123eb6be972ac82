#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "filters/filter_rule.h"
#include "wire/ip_address.h"

// The user's filter rules in the order they were appended, with the mode
// that says whether a match records (Include) or drops (Exclude) a packet.
// A new list is empty in Include mode. A plain value: the list in force is
// published through CActiveFilterRules, which never changes a list that
// readers can see.
class CFilterRuleList {
 public:
  static constexpr int kInclude = 0;
  static constexpr int kExclude = 1;

  // Removes every rule; the mode stays.
  void Clear() { rules_.clear(); }
  void Append(const CFilterRule& rule) { rules_.push_back(rule); }

  int Mode() const { return mode_; }
  // 0 = Include, any other value = Exclude.
  void SetMode(int mode) { mode_ = mode; }

  std::size_t Count() const { return rules_.size(); }
  std::span<const CFilterRule> Rules() const { return rules_; }

  // True when a packet whose far end is `addr` (network order, either
  // family) and `port` (host order) is to be recorded. No rules: always true. Otherwise the
  // first matching rule decides (Include: pass, Exclude: drop); no match
  // drops in Include mode and passes in Exclude mode. Allocates nothing.
  bool Passes(const CIpAddr& addr, uint16_t port) const noexcept {
    return PassesWith(FirstMatch(addr, port));
  }

  // The position of the first rule that matches the packet (the one that
  // decides), or nothing. Allocates nothing.
  std::optional<std::size_t> FirstMatch(const CIpAddr& addr, uint16_t port) const noexcept {
    // One pointer walks the rules, as before the index was wanted; the
    // index is worked out only for the match.
    for (auto rule = rules_.begin(); rule != rules_.end(); ++rule) {
      if (rule->Matches(addr, port)) return static_cast<std::size_t>(rule - rules_.begin());
    }
    return std::nullopt;
  }

  // Passes for a packet whose first matching rule is `match`.
  bool PassesWith(std::optional<std::size_t> match) const noexcept {
    return rules_.empty() || match.has_value() == (mode_ == kInclude);
  }

  // "None" without rules, else "Include" or "Exclude" by the mode.
  std::string SummaryText() const;

  bool operator==(const CFilterRuleList&) const = default;

 private:
  std::vector<CFilterRule> rules_;
  int mode_ = kInclude;
};
