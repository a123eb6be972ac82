#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

enum class EConnectionNameSource : uint8_t {
  kTlsServerName,  // the host_name server name of a TLS ClientHello
  kHttpHost,       // the Host header of an HTTP/1 request
};

// The name a connection carried in its opening bytes.
struct CConnectionName {
  EConnectionNameSource source = EConnectionNameSource::kTlsServerName;
  std::string name;  // a CHostName text, port removed
  // The hello carried an encrypted inner hello (ECH): `name` is the outer
  // server name, the public name of the provider that decrypts it, not the
  // host the program asked for, which stays hidden.
  bool publicName = false;
};

// Finds the name in the first payload of a TCP connection's opening
// direction, on any port: the server name of a TLS ClientHello, or the Host
// header of an HTTP/1 request.
//
// Only what was captured in that one payload is read. A ClientHello whose
// record is longer than the payload (split over segments) or spread over
// several records gives no name; there is no reassembly. An HTTP request
// head is looked at for its first kMaxHttpHead bytes.
//
// With an encrypted inner hello (extension 0xfe0d) only the outer hello is
// readable: its server name is the public name and is returned as such,
// flagged by `publicName`.
//
// Every read is bounds-checked (CByteReader over the payload); names that
// break the CHostName rule give no name. Allocates only the returned name;
// about 0.2 us of CPU for a typical hello or request head, 25 ns for a
// payload that is neither. Plain functions; any thread.
class CConnectionNameReader {
 public:
  static constexpr std::size_t kMaxHttpHead = 4096;

  // The TLS reader when the payload starts with a TLS handshake record,
  // otherwise the HTTP one.
  static std::optional<CConnectionName> Read(std::span<const uint8_t> payload);

  static std::optional<CConnectionName> ReadTlsServerName(std::span<const uint8_t> payload);
  static std::optional<CConnectionName> ReadHttpHost(std::span<const uint8_t> payload);
};
