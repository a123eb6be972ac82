#pragma once
#include <string_view>

// Reads a decimal integer the way the C library's atoi does: leading white
// space, an optional sign, then digits up to the first non-digit; no digits
// gives 0. Unlike atoi a value outside the int range saturates instead of
// being undefined. Pure; any thread.
int AtoiValue(std::string_view text);
