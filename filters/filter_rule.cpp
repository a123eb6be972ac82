#include "filters/filter_rule.h"

#include "filters/decimal_value.h"
#include "filters/token_list.h"

namespace {

// A stored port part: "*" is any, otherwise the low 16 bits of its atoi
// value (0 is any as well).
uint16_t StoredPort(std::string_view portPart) {
  if (portPart == "*") return 0;
  return static_cast<uint16_t>(static_cast<unsigned>(AtoiValue(portPart)) & 0xFFFFu);
}

}  // namespace

CFilterRule::CFilterRule(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t p)
    : port(p), address{a, b, c, d} {}

CFilterRule CFilterRule::Ipv6(const CIpAddr& addr, int length, uint16_t p) {
  if (length < 0) length = 0;
  if (length > kMaxPrefixLength) length = kMaxPrefixLength;
  CFilterRule rule;
  rule.port = p;
  rule.prefixLength = static_cast<uint8_t>(length);
  // Kept as the network alone, so that equal prefixes give equal rules and
  // one text.
  rule.address = addr;
  for (int bit = length; bit < kMaxPrefixLength; ++bit) {
    rule.address[static_cast<std::size_t>(bit / 8)] &= static_cast<uint8_t>(~(0x80 >> (bit % 8)));
  }
  return rule;
}

std::optional<CFilterRule> CFilterRule::ParseIpv6Prefix(std::string_view text, uint16_t p) {
  const std::size_t slash = text.find('/');
  const std::optional<CIpAddr> addr = CIpAddr::FromText(text.substr(0, slash));
  if (!addr || !addr->IsV6()) return std::nullopt;
  int length = kMaxPrefixLength;
  if (slash != std::string_view::npos) {
    const std::string_view digits = text.substr(slash + 1);
    if (digits.empty() || digits.size() > 3) return std::nullopt;
    length = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      length = length * 10 + (c - '0');
    }
    if (length > kMaxPrefixLength) return std::nullopt;
  }
  return Ipv6(*addr, length, p);
}

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
  if (const uint16_t low = StoredPort(portPart); low != 0) {
    rule.port = low;
    rule.invalid = 0;
  }
  return rule;
}

CFilterRule CFilterRule::ParseIpv6Rule(std::string_view prefixPart, std::string_view portPart) {
  // Bracketed text is ours; once it no longer reads as a prefix it was
  // damaged, and widening it (as an unreadable IPv4 pattern widens) could
  // record or drop far more than the user chose.
  if (std::optional<CFilterRule> rule = ParseIpv6Prefix(prefixPart, StoredPort(portPart))) {
    return *rule;
  }
  CFilterRule rule;
  rule.invalid = 1;
  return rule;
}

std::string CFilterRule::ToText() const {
  std::string text;
  if (address.IsV6()) {
    text = "[" + address.ToText();
    if (prefixLength < kMaxPrefixLength) text += "/" + std::to_string(prefixLength);
    text += "]";
  } else {
    for (int i = 0; i < 4; ++i) {
      if (i > 0) text += '.';
      text += address[i] == 0 ? std::string("*") : std::to_string(address[i]);
    }
  }
  text += ':';
  text += port == 0 ? std::string("*") : std::to_string(port);
  return text;
}
