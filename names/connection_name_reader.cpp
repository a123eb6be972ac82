#include "names/connection_name_reader.h"

#include <algorithm>
#include <string_view>

#include "names/host_name.h"
#include "wire/byte_reader.h"

namespace {

constexpr uint8_t kHandshakeRecord = 22;
constexpr uint8_t kClientHello = 1;
constexpr uint16_t kServerNameExtension = 0;
constexpr uint16_t kEncryptedHelloExtension = 0xfe0d;
constexpr uint8_t kHostNameType = 0;
constexpr std::size_t kRandomBytes = 32;
constexpr std::size_t kMaxMethod = 20;

std::string_view Text(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The first host_name entry of a server_name extension's data.
std::span<const uint8_t> HostNameEntry(std::span<const uint8_t> data) {
  CByteReader reader(data);
  const std::size_t end = 2u + reader.U16(0);
  std::size_t at = 2;
  while (reader.Ok() && at + 3 <= end) {
    const uint8_t type = reader.U8(at);
    const uint16_t length = reader.U16(at + 1);
    if (!reader.Ok() || at + 3 + length > end || !reader.Has(at + 3, length)) break;
    if (type == kHostNameType) return reader.Slice(at + 3, at + 3 + length);
    at += 3u + length;
  }
  return {};
}

bool IsTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!IsTokenChar(c)) return false;
  return true;
}

bool SameIgnoringCase(std::string_view a, std::string_view lowerB) {
  if (a.size() != lowerB.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char c = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    if (c != lowerB[i]) return false;
  }
  return true;
}

// "METHOD target HTTP/1.x", single spaces, the target visible ASCII.
bool IsRequestLine(std::string_view line) {
  const std::size_t firstSpace = line.find(' ');
  if (firstSpace == std::string_view::npos || firstSpace > kMaxMethod ||
      !IsToken(line.substr(0, firstSpace)))
    return false;
  const std::size_t lastSpace = line.rfind(' ');
  if (lastSpace == firstSpace + 1 || lastSpace == firstSpace) return false;
  for (char c : line.substr(firstSpace + 1, lastSpace - firstSpace - 1))
    if (c <= ' ' || c > '~') return false;
  const std::string_view version = line.substr(lastSpace + 1);
  return version.size() == 8 && version.substr(0, 7) == "HTTP/1." && version[7] >= '0' &&
         version[7] <= '9';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Drops a ":port" suffix; a bracketed IPv6 literal is left whole (and later
// rejected as a name).
std::string_view WithoutPort(std::string_view host) {
  const std::size_t colon = host.rfind(':');
  if (colon == std::string_view::npos || host.find(']') != std::string_view::npos) return host;
  const std::string_view port = host.substr(colon + 1);
  if (port.empty() || port.size() > 5) return host;
  for (char c : port)
    if (c < '0' || c > '9') return host;
  return host.substr(0, colon);
}

}  // namespace

std::optional<CConnectionName> CConnectionNameReader::Read(std::span<const uint8_t> payload) {
  if (!payload.empty() && payload[0] == kHandshakeRecord) return ReadTlsServerName(payload);
  return ReadHttpHost(payload);
}

std::optional<CConnectionName> CConnectionNameReader::ReadTlsServerName(
    std::span<const uint8_t> payload) {
  CByteReader record(payload);
  const uint8_t contentType = record.U8(0);
  const uint8_t major = record.U8(1);
  const uint16_t recordLength = record.U16(3);
  if (!record.Ok() || contentType != kHandshakeRecord || major != 3 ||
      !record.Has(5, recordLength))
    return std::nullopt;

  CByteReader handshake(record.Slice(5, 5u + recordLength));
  const uint8_t handshakeType = handshake.U8(0);
  const std::size_t helloLength = std::size_t{handshake.U8(1)} << 16 | handshake.U16(2);
  if (!handshake.Ok() || handshakeType != kClientHello || !handshake.Has(4, helloLength))
    return std::nullopt;

  CByteReader hello(handshake.Slice(4, 4 + helloLength));
  std::size_t at = 2 + kRandomBytes;  // after the legacy version and the random
  at += 1u + hello.U8(at);           // session id
  at += 2u + hello.U16(at);          // cipher suites
  at += 1u + hello.U8(at);           // compression methods
  const std::size_t extensionsEnd = at + 2u + hello.U16(at);
  at += 2;
  if (!hello.Ok() || !hello.Has(at, extensionsEnd - at)) return std::nullopt;

  std::span<const uint8_t> serverName;
  bool encryptedInner = false;
  while (at + 4 <= extensionsEnd) {
    const uint16_t type = hello.U16(at);
    const uint16_t length = hello.U16(at + 2);
    if (!hello.Ok() || at + 4 + length > extensionsEnd) break;
    if (type == kServerNameExtension && serverName.empty())
      serverName = HostNameEntry(hello.Slice(at + 4, at + 4 + length));
    if (type == kEncryptedHelloExtension) encryptedInner = true;
    at += 4u + length;
  }
  std::optional<std::string> name = CHostName::FromText(Text(serverName));
  if (!name) return std::nullopt;
  return CConnectionName{EConnectionNameSource::kTlsServerName, std::move(*name), encryptedInner};
}

std::optional<CConnectionName> CConnectionNameReader::ReadHttpHost(
    std::span<const uint8_t> payload) {
  std::string_view head = Text(payload.first(std::min(payload.size(), kMaxHttpHead)));
  bool requestLine = true;
  for (;;) {
    const std::size_t end = head.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view line = head.substr(0, end);
    head.remove_prefix(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (requestLine) {
      if (!IsRequestLine(line)) return std::nullopt;
      requestLine = false;
      continue;
    }
    if (line.empty()) return std::nullopt;  // end of the head, no Host
    // No space may stand before the colon; such a line is no Host header.
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !SameIgnoringCase(line.substr(0, colon), "host"))
      continue;
    std::optional<std::string> name = CHostName::FromText(WithoutPort(Trim(line.substr(colon + 1))));
    if (!name) return std::nullopt;
    return CConnectionName{EConnectionNameSource::kHttpHost, std::move(*name), false};
  }
}
