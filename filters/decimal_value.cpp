#include "filters/decimal_value.h"

#include <climits>
#include <cstdint>

int AtoiValue(std::string_view text) {
  std::size_t i = 0;
  // The white space set of isspace in the C locale.
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate beyond the int range in 64 bits and stop growing there, so
  // that stored text with a hundred digits cannot overflow.
  constexpr int64_t kLimit = int64_t{INT_MAX} + 1;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) return static_cast<int>(-value);  // -2^31 at worst: in range
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}
