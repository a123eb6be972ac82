#include "output/log_text.h"

#include <cinttypes>
#include <cstdio>

#include "output/packet_text.h"
#include "output/value_format.h"

std::string LogFileName(const std::string& dir, const char* prefix, int64_t now,
                        const std::string& suffix) {
  std::string name = dir;
  if (!name.empty() && name.back() != '/') name += '/';
  name += prefix;
  name += FormatFileStamp(now);
  name += suffix;
  name += ".txt";
  return name;
}

void AppendTraceText(std::string& out, const CPacketRecord& r, bool hex) {
  // The log writes what it was handed in full, even while the program closes.
  static const CCancelToken kNever;
  AppendHeaderBlock(out, r);
  if (hex) {
    AppendHexDump(out, r, kNever);
  } else {
    AppendDataText(out, r, kNever);
  }
}

std::string TraceGapText(uint64_t count) {
  char text[96];
  std::snprintf(text, sizeof text, "\r\n(%" PRIu64 " packets not written: the trace log fell behind)\r\n",
                count);
  return text;
}
