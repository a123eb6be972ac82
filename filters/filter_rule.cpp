#include "filters/filter_rule.h"

#include "filters/decimal_value.h"
#include "filters/token_list.h"

CFilterRule::CFilterRule(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t p)
    : port(p), address{a, b, c, d} {}

CFilterRule CFilterRule::ParseRule(std::string_view addressPart, std::string_view portPart) {
  CFilterRule rule;
  const CTokenList pieces(addressPart, ".");
  if (pieces.Count() != 4) {
    rule.invalid = 1;
  } else {
    for (std::size_t i = 0; i < 4; ++i) {
      const std::string& piece = pieces.At(i);
      if (piece == "*") continue;
      const int value = AtoiValue(piece);
      // Anything that is not a real octet widens the pattern rather than
      // dropping the rule: stored text was written by us or edited by hand.
      if (value >= 1 && value <= 255) rule.address[i] = static_cast<uint8_t>(value);
    }
  }
  if (portPart != "*") {
    const auto low = static_cast<uint16_t>(static_cast<unsigned>(AtoiValue(portPart)) & 0xFFFFu);
    if (low != 0) {
      rule.port = low;
      rule.invalid = 0;
    }
  }
  return rule;
}

std::string CFilterRule::ToText() const {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text += '.';
    text += address[i] == 0 ? std::string("*") : std::to_string(address[i]);
  }
  text += ':';
  text += port == 0 ? std::string("*") : std::to_string(port);
  return text;
}
