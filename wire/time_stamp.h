#pragma once
#include <cstdint>

// A capture time stamp as the capture library delivers it: whole seconds
// since 1970 and microseconds, both signed 32-bit.
struct CTimeStamp {
  int32_t sec = 0;
  int32_t usec = 0;

  friend bool operator==(const CTimeStamp&, const CTimeStamp&) = default;
};
