#include "output/packet_text.h"

#include <algorithm>
#include <cstdio>
#include <span>

#include "output/value_format.h"

namespace {

constexpr const char* kSeparator =
    "=============================================================================";

// Control bytes reach no terminal or view as they are: a trace log shown
// with cat must not run the escape sequences a remote host sent. The data
// text and the summaries print them as ".", the hex dump's character column
// as a blank. TAB, CR and LF keep their place in the data text; bytes from
// 0x80 up are left as they are.
bool IsControl(uint8_t b) { return b < 0x20 || b == 0x7F; }

bool IsLineOrTab(uint8_t b) { return b == '\n' || b == '\r' || b == '\t'; }

bool IsDataTextUnshowable(uint8_t b) { return IsControl(b) && !IsLineOrTab(b); }

void AppendReleased(std::string& out) { out += "\r\n(data released to stay within the memory limit)\r\n"; }

void AppendHeaderOnly(std::string& out, const CPacketRecord& r) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "\r\nHeader Only - %d bytes of data not shown\r\n",
                r.PayloadLength());
  out += buf;
}

// The bytes the header claims but the record did not keep; 0 when none.
long long MissingBytes(const CPacketRecord& r) {
  const long long missing =
      static_cast<long long>(r.PayloadLength()) - static_cast<long long>(r.Payload().size());
  return missing > 0 ? missing : 0;
}

void AppendMissingNote(std::string& out, long long missing) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Additional Bytes Not Shown: %lld\r\n", missing);
  out += buf;
}

constexpr char kHexDigits[] = "0123456789abcdef";

// One dump line of up to 16 bytes at `offset`; a short line keeps the
// character column aligned with full lines. Built in a buffer and appended
// once: dumps run to megabytes.
void AppendHexLine(std::string& out, std::size_t offset, std::span<const uint8_t> bytes) {
  char line[96];
  int n = std::snprintf(line, sizeof line, "%08zx ", offset);
  if (n < 0) return;
  std::size_t at = static_cast<std::size_t>(n);
  for (uint8_t b : bytes) {
    line[at++] = kHexDigits[b >> 4];
    line[at++] = kHexDigits[b & 0x0F];
    line[at++] = ' ';
  }
  for (std::size_t i = bytes.size(); i < 16; ++i) {
    line[at++] = ' ';
    line[at++] = ' ';
    line[at++] = ' ';
  }
  for (uint8_t b : bytes) line[at++] = IsControl(b) ? ' ' : static_cast<char>(b);
  line[at++] = '\r';
  line[at++] = '\n';
  out.append(line, at);
}

}  // namespace

std::string DirectionName(const CPacketRecord& r) {
  return r.direction == EDirection::kSent ? "SEND" : "RECIEVE";
}

std::string TcpFlagNames(uint8_t flags) {
  static constexpr struct {
    uint8_t bit;
    const char* name;
  } kNames[] = {{0x02, "SYN "}, {0x01, "FIN "}, {0x04, "RST "},
                {0x08, "PUSH "}, {0x80, "CWR "}, {0x40, "ECE "}};
  std::string s;
  for (const auto& n : kNames) {
    if (flags & n.bit) s += n.name;
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string PacketSource(const CPacketRecord& r) {
  return r.direction == EDirection::kReceived ? FormatEndpoint(r.remote, r.remotePort)
                                     : FormatEndpoint(r.local, r.localPort);
}

std::string PacketDestination(const CPacketRecord& r) {
  return r.direction == EDirection::kSent ? FormatEndpoint(r.remote, r.remotePort)
                                 : FormatEndpoint(r.local, r.localPort);
}

void AppendHeaderBlock(std::string& out, const CPacketRecord& r, std::string_view remoteName) {
  const char* fragment = r.IsFragment() ? "** FRAGMENT **" : "";
  const std::string protocol = ProtocolName(r.protocol);
  const std::string source = PacketSource(r);
  const std::string destination = PacketDestination(r);
  const std::string direction = DirectionName(r);
  const std::string time = FormatClockTime(r.time);
  std::string remote;
  if (!remoteName.empty()) {
    remote = "Remote: " + FormatAddress(r.remote) + " (";
    remote.append(remoteName);
    remote += ")\r\n";
  }
  char buf[1024];
  if (r.protocol == 6) {
    const std::string flags = TcpFlagNames(r.tcpFlags);
    std::snprintf(buf, sizeof buf,
                  "\r\n\r\n%s\r\n%s %s -> %s %s\r\n%s%s Len: %d ConvId: %d Time: %s\r\n"
                  "TTL: %u ID: %u Seq: %u Ack: %u\r\nFlags: %s\r\n%s\r\n\r\n",
                  kSeparator, protocol.c_str(), source.c_str(), destination.c_str(), fragment,
                  remote.c_str(), direction.c_str(), r.totalLength, r.convId, time.c_str(),
                  unsigned{r.ttl}, unsigned{r.identification}, unsigned{r.seq}, unsigned{r.ack},
                  flags.c_str(), kSeparator);
  } else {
    std::snprintf(buf, sizeof buf,
                  "\r\n\r\n%s\r\n%s %s -> %s %s\r\n%s%s Len: %d ConvId: %d Time: %s\r\n"
                  "TTL: %u ID: %u\r\n%s\r\n\r\n",
                  kSeparator, protocol.c_str(), source.c_str(), destination.c_str(), fragment,
                  remote.c_str(), direction.c_str(), r.totalLength, r.convId, time.c_str(),
                  unsigned{r.ttl}, unsigned{r.identification}, kSeparator);
  }
  out += buf;
}

std::string RenderHeaderBlock(const CPacketRecord& r) {
  std::string s;
  AppendHeaderBlock(s, r);
  return s;
}

namespace {

// Where a record holds no data to show, the line that says why; false when
// it holds its data.
bool AppendStandIn(std::string& out, const CPacketRecord& r) {
  if (r.headerOnly) {
    AppendHeaderOnly(out, r);
    return true;
  }
  if (r.released) {
    AppendReleased(out);
    return true;
  }
  return false;
}

}  // namespace

void AppendDataText(std::string& out, const CPacketRecord& r, const CCancelToken& cancel) {
  if (AppendStandIn(out, r)) return;
  const std::span<const uint8_t> data = r.Payload();
  out.reserve(out.size() + data.size() + 40);
  // Copied in slices so that a large payload still notices the cancel token.
  constexpr std::size_t kSlice = 4096;
  for (std::size_t at = 0; at < data.size(); at += kSlice) {
    if (cancel.Cancelled()) return;
    const std::size_t end = std::min(data.size(), at + kSlice);
    const std::size_t from = out.size();
    out.append(reinterpret_cast<const char*>(data.data() + at), end - at);
    for (std::size_t i = from; i < out.size(); ++i) {
      if (IsDataTextUnshowable(static_cast<uint8_t>(out[i]))) out[i] = '.';
    }
  }
  if (const long long missing = MissingBytes(r)) {
    out += "\r\n\r\n";
    AppendMissingNote(out, missing);
  }
}

std::string RenderDataText(const CPacketRecord& r, const CCancelToken& cancel) {
  std::string s;
  AppendDataText(s, r, cancel);
  return s;
}

void AppendHexDump(std::string& out, const CPacketRecord& r, const CCancelToken& cancel) {
  if (AppendStandIn(out, r)) return;
  const std::span<const uint8_t> data = r.Payload();
  const std::size_t fullLines = data.size() / 16;
  out.reserve(out.size() + (fullLines + 1) * 75 + 40);
  for (std::size_t line = 0; line < fullLines; ++line) {
    if (cancel.Cancelled()) return;
    AppendHexLine(out, line * 16, data.subspan(line * 16, 16));
  }
  if (data.size() % 16 != 0) AppendHexLine(out, fullLines * 16, data.subspan(fullLines * 16));
  if (const long long missing = MissingBytes(r)) AppendMissingNote(out, missing);
  out += "\r\n";
}

std::string RenderHexDump(const CPacketRecord& r, const CCancelToken& cancel) {
  std::string s;
  AppendHexDump(s, r, cancel);
  return s;
}

std::string RenderDataSummary(const CDataStart& start) {
  if (!start.present) return {};
  if (start.headerOnly) return "(Header Only)";
  const std::span<const uint8_t> data = start.Bytes();
  std::string s;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const uint8_t b = data[i];
    if (b == 0x00 || b == '\r' || b == '\n') break;
    s += IsDataTextUnshowable(b) ? '.' : static_cast<char>(b);
  }
  return s;
}
