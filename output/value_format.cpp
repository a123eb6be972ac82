#include "output/value_format.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace {

// Local broken-down time of `seconds`; false before 1970 or out of range.
bool LocalTime(int64_t seconds, std::tm& out) {
  if (seconds < 0) return false;
  const std::time_t t = static_cast<std::time_t>(seconds);
  return localtime_r(&t, &out) != nullptr;
}

std::string FormatLocal(int64_t seconds, const char* pattern) {
  std::tm tm{};
  if (!LocalTime(seconds, tm)) return {};
  char buf[32];
  const std::size_t n = std::strftime(buf, sizeof buf, pattern, &tm);
  return std::string(buf, n);
}

std::string ScaledCount(int64_t v, const char* k, const char* m, const char* g) {
  char buf[48];
  if (v < 100000) {
    std::snprintf(buf, sizeof buf, "%" PRId64, v);
  } else if (v < 10000000) {
    std::snprintf(buf, sizeof buf, "%" PRId64 " %s", v / 1024, k);
  } else if (v < 1000000000) {
    std::snprintf(buf, sizeof buf, "%" PRId64 " %s", v / 1048576, m);
  } else {
    std::snprintf(buf, sizeof buf, "%" PRId64 " %s", v / 1073741824, g);
  }
  return buf;
}

}  // namespace

std::string ProtocolName(uint16_t protocol) {
  switch (protocol) {
    case 2: return "IGMP";
    case 4: return "IP";
    case 6: return "TCP";
    case 17: return "UDP";
    default: return {};
  }
}

std::string FormatAddress(const CIpAddr& a) { return a.ToText(); }

std::string FormatEndpoint(const CIpAddr& a, uint16_t port) {
  char buf[16];
  std::snprintf(buf, sizeof buf, ":%u", unsigned{port});
  if (a.IsV6()) return "[" + FormatAddress(a) + "]" + buf;
  return FormatAddress(a) + buf;
}

std::string FormatClockTime(CTimeStamp time) {
  const std::string clock = FormatLocal(time.sec, "%H:%M:%S");
  if (clock.empty()) return {};
  char buf[48];
  std::snprintf(buf, sizeof buf, "%s.%.6d", clock.c_str(), static_cast<int>(time.usec));
  return buf;
}

std::string FormatDate(int64_t seconds) { return FormatLocal(seconds, "%Y-%m-%d"); }

std::string FormatElapsed(CTimeStamp later, CTimeStamp earlier) {
  // A later time stamp earlier than the first (fragments or segments that
  // arrive out of order) is shown as a negative span, "-0.000035", rather
  // than the borrowed "-1.999965" that mixes a negative second with a
  // positive fraction.
  const int64_t micros = (static_cast<int64_t>(later.sec) - earlier.sec) * 1000000 +
                         (static_cast<int64_t>(later.usec) - earlier.usec);
  const uint64_t magnitude = micros < 0 ? static_cast<uint64_t>(-micros) : static_cast<uint64_t>(micros);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%s%" PRIu64 ".%06u", micros < 0 ? "-" : "", magnitude / 1000000,
                static_cast<unsigned>(magnitude % 1000000));
  return buf;
}

std::string FormatByteCount(int64_t count) { return ScaledCount(count, "KB", "MB", "GB"); }

std::string FormatShortCount(int64_t count) { return ScaledCount(count, "K", "M", "G"); }

std::string FormatFileStamp(int64_t seconds) { return FormatLocal(seconds, "%y%m%d_%H%M%S"); }

std::string FormatFileStamp() { return FormatFileStamp(static_cast<int64_t>(std::time(nullptr))); }
