#pragma once
// Builders of DNS messages and connection openings for the name readers'
// tests, the stub server and the engine's name tests.
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

using CBytes = std::vector<uint8_t>;

constexpr uint16_t kDnsResponse = 0x8180;  // QR, RD, RA, NOERROR
constexpr uint16_t kDnsA = 1, kDnsCname = 5, kDnsPtr = 12, kDnsAaaa = 28;

inline CBytes Cat(std::initializer_list<CBytes> parts) {
  CBytes out;
  for (const CBytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline CBytes Be16(uint16_t v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }

// Uncompressed wire form of a dotted name; label bytes are taken as given.
inline CBytes DnsName(std::string_view dotted) {
  CBytes out;
  while (!dotted.empty()) {
    const std::size_t dot = dotted.find('.');
    const std::string_view label = dotted.substr(0, dot);
    out.push_back(static_cast<uint8_t>(label.size()));
    out.insert(out.end(), label.begin(), label.end());
    dotted = dot == std::string_view::npos ? std::string_view() : dotted.substr(dot + 1);
  }
  out.push_back(0);
  return out;
}

inline CBytes DnsPointer(uint16_t offset) { return Be16(static_cast<uint16_t>(0xC000 | offset)); }

inline CBytes DnsHeader(uint16_t flags, uint16_t questions, uint16_t answers, uint16_t id = 0x1234) {
  return Cat({Be16(id), Be16(flags), Be16(questions), Be16(answers), Be16(0), Be16(0)});
}

inline CBytes DnsQuestion(const CBytes& name, uint16_t type) {
  return Cat({name, Be16(type), Be16(1)});
}

inline CBytes DnsRecord(const CBytes& owner, uint16_t type, uint32_t ttl, const CBytes& data) {
  return Cat({owner, Be16(type), Be16(1), Be16(static_cast<uint16_t>(ttl >> 16)),
              Be16(static_cast<uint16_t>(ttl)), Be16(static_cast<uint16_t>(data.size())), data});
}

// ---- Connection openings ---------------------------------------------------

inline CBytes Be24(std::size_t v) {
  return {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}
inline CBytes Sized16(const CBytes& b) { return Cat({Be16(static_cast<uint16_t>(b.size())), b}); }
inline CBytes Text(std::string_view s) { return CBytes(s.begin(), s.end()); }
inline CBytes Extension(uint16_t type, const CBytes& data) { return Cat({Be16(type), Sized16(data)}); }
inline CBytes ServerName(std::string_view name) {
  return Extension(0, Sized16(Cat({CBytes{0}, Sized16(Text(name))})));
}

// A TLS record holding a ClientHello with a 32-byte session id, two cipher
// suites, null compression and `extensions`.
inline CBytes ClientHello(std::initializer_list<CBytes> extensions) {
  const CBytes body = Cat({Be16(0x0303), CBytes(32, 0x5a), CBytes{32}, CBytes(32, 0x11),
                           Sized16({0x13, 0x01, 0x13, 0x02}), CBytes{1, 0},
                           Sized16(Cat(extensions))});
  const CBytes handshake = Cat({CBytes{1}, Be24(body.size()), body});
  return Cat({CBytes{22, 3, 1}, Sized16(handshake)});
}
