#pragma once
// What the engine's tests share: packets as the decoder fills them, packets
// and frames as the wire carries them, capture files, temporary folders and
// the time zone.
#include <dirent.h>
#include <pcap/pcap.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/capture_session.h"
#include "filters/filter_rule_list.h"
#include "model/packet_record.h"

// ---- Decoded packets ------------------------------------------------------

inline CPacketFields TcpFields(EDirection direction, uint32_t seq, int payload,
                               CTimeStamp t = {1000, 0}, CIpAddr remote = CIpAddr(10, 0, 5, 5),
                               uint16_t remotePort = 80, uint16_t localPort = 40000) {
  CPacketFields f;
  f.direction = direction;
  f.protocol = 6;
  f.seq = seq;
  f.time = t;
  f.headerLength = 40;
  f.totalLength = 40 + payload;
  f.local = CIpAddr(10, 0, 0, 1);
  f.remote = remote;
  f.localPort = localPort;
  f.remotePort = remotePort;
  f.ttl = 64;
  f.tcpFlags = 0x18;
  return f;
}

inline CPacketFields UdpFields(EDirection direction, int payload, CTimeStamp t = {1000, 0},
                               CIpAddr remote = CIpAddr(10, 0, 5, 5)) {
  CPacketFields f = TcpFields(direction, 0, payload, t, remote, 53, 5353);
  f.protocol = 17;
  f.tcpFlags = 0;
  f.headerLength = 28;
  f.totalLength = 28 + payload;
  return f;
}

inline std::span<const uint8_t> AsBytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// A record whose header claims `claimed` payload bytes and which kept the
// first of `payload` (all of it when it is not longer than `claimed`).
inline CPacketRef RecordWith(CPacketFields f, std::string_view payload, int claimed,
                             bool headerOnly = false) {
  f.totalLength = f.headerLength + claimed;
  return MakePacketRecord(f, headerOnly, AsBytes(payload));
}

inline CFilterRuleList MakeList(int mode, const std::vector<CFilterRule>& rules) {
  CFilterRuleList list;
  list.SetMode(mode);
  for (const CFilterRule& rule : rules) list.Append(rule);
  return list;
}

inline constexpr EDirection kSent = EDirection::kSent;
inline constexpr EDirection kReceived = EDirection::kReceived;

// A session on the capture clock, as a replay has, with its own switches,
// filters and token.
struct CTestSession {
  CCaptureSwitches switches;
  CActiveFilterRules filters;
  CCancelToken cancel;
  CCaptureSession session{1, CSessionClock::EKind::kCapture, switches, filters, cancel};

  void Record(const CPacketFields& f, std::string_view payload = "data") {
    session.Clock().Advance(f.time.sec);
    session.Record(f, AsBytes(payload));
  }
};

// ---- Packets and frames on the wire ---------------------------------------

struct CTestPacket {
  uint8_t protocol = 6;
  CIpAddr source = CIpAddr(10, 0, 0, 1);  // an IPv6 source makes an IPv6 packet
  CIpAddr destination = CIpAddr(10, 0, 5, 5);
  uint16_t sourcePort = 40000;
  uint16_t destinationPort = 80;
  int optionWords = 0;     // IPv4 options, 4 bytes each
  int tcpOptionWords = 0;  // TCP options, 4 bytes each
  int payload = 10;
  // IPv4: the low 16 bits; IPv6: the Fragment header's, when there is one.
  uint32_t identification = 0x1234;
  // IPv4 flags and fragment offset (0x2000 More Fragments, the low 13 bits
  // the offset in 8-byte units); IPv6 writes the same into its Fragment
  // header. With an offset there is no transport header.
  uint16_t flagsOffset = 0;
  uint8_t ttl = 64;
  uint8_t tcpFlags = 0x18;
  uint32_t seq = 0x01020304;
  uint32_t ack = 0x0a0b0c0d;
  int totalLengthDelta = 0;  // added to the true length in the header
  // IPv6 extension headers by number (0, 43, 60, 44), 8 bytes each, in order.
  std::vector<uint8_t> extensions;

  bool LaterFragment() const { return (flagsOffset & 0x1FFF) != 0; }
  int TransportHeader() const {
    if (LaterFragment()) return 0;
    return protocol == 6 ? 20 + 4 * tcpOptionWords : 8;
  }
};

inline void PutU16(std::vector<uint8_t>& b, std::size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}

inline void PutU32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
  PutU16(b, at, static_cast<uint16_t>(v >> 16));
  PutU16(b, at + 2, static_cast<uint16_t>(v));
}

// The transport header (none for a later fragment) at `at`, then the
// payload, whose bytes count up from 'a'.
inline void PutTransportAndPayload(std::vector<uint8_t>& b, std::size_t at, const CTestPacket& p) {
  const std::size_t transport = static_cast<std::size_t>(p.TransportHeader());
  if (transport > 0) {
    PutU16(b, at, p.sourcePort);
    PutU16(b, at + 2, p.destinationPort);
    if (p.protocol == 6) {
      PutU32(b, at + 4, p.seq);
      PutU32(b, at + 8, p.ack);
      b[at + 12] = static_cast<uint8_t>((transport / 4) << 4);
      b[at + 13] = p.tcpFlags;
    } else {
      PutU16(b, at + 4, static_cast<uint16_t>(transport + static_cast<std::size_t>(p.payload)));
    }
  }
  for (int i = 0; i < p.payload; ++i)
    b[at + transport + static_cast<std::size_t>(i)] = static_cast<uint8_t>('a' + i % 26);
}

inline std::vector<uint8_t> Ipv4Packet(const CTestPacket& p) {
  const std::size_t ihl = 20 + 4 * static_cast<std::size_t>(p.optionWords);
  const std::size_t total =
      ihl + static_cast<std::size_t>(p.TransportHeader()) + static_cast<std::size_t>(p.payload);
  std::vector<uint8_t> b(total, 0);
  b[0] = static_cast<uint8_t>(0x40 | (ihl / 4));
  PutU16(b, 2, static_cast<uint16_t>(static_cast<int>(total) + p.totalLengthDelta));
  PutU16(b, 4, static_cast<uint16_t>(p.identification));
  PutU16(b, 6, p.flagsOffset);
  b[8] = p.ttl;
  b[9] = p.protocol;
  for (std::size_t i = 0; i < 4; ++i) {
    b[12 + i] = p.source[i];
    b[16 + i] = p.destination[i];
  }
  for (std::size_t i = 20; i < ihl; ++i) b[i] = 1;  // NOP options
  PutTransportAndPayload(b, ihl, p);
  return b;
}

inline std::vector<uint8_t> Ipv6Packet(const CTestPacket& p) {
  const std::size_t headers = 40 + 8 * p.extensions.size();
  const std::size_t total =
      headers + static_cast<std::size_t>(p.TransportHeader()) + static_cast<std::size_t>(p.payload);
  std::vector<uint8_t> b(total, 0);
  b[0] = 0x60;
  PutU16(b, 4, static_cast<uint16_t>(static_cast<int>(total) - 40 + p.totalLengthDelta));
  b[6] = p.extensions.empty() ? p.protocol : p.extensions[0];
  b[7] = p.ttl;
  for (std::size_t i = 0; i < 16; ++i) {
    b[8 + i] = p.source[i];
    b[24 + i] = p.destination[i];
  }
  for (std::size_t i = 0; i < p.extensions.size(); ++i) {
    const std::size_t at = 40 + 8 * i;
    b[at] = i + 1 < p.extensions.size() ? p.extensions[i + 1] : p.protocol;
    if (p.extensions[i] == 44) {  // length 0 stays: the Fragment header's is fixed
      PutU16(b, at + 2, static_cast<uint16_t>((p.flagsOffset & 0x1FFF) << 3 | (p.flagsOffset >> 13 & 1)));
      PutU32(b, at + 4, p.identification);
    }
  }
  PutTransportAndPayload(b, headers, p);
  return b;
}

// The packet of the source's family.
inline std::vector<uint8_t> IpPacket(const CTestPacket& p) {
  return p.source.IsV6() ? Ipv6Packet(p) : Ipv4Packet(p);
}

inline CIpAddr TestV6(uint16_t last) {
  return CIpAddr::V6({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                      static_cast<uint8_t>(last >> 8), static_cast<uint8_t>(last)});
}

inline std::vector<uint8_t> WithPrefix(std::vector<uint8_t> prefix, const std::vector<uint8_t>& body) {
  prefix.insert(prefix.end(), body.begin(), body.end());
  return prefix;
}

// Ethernet II; frames below 60 bytes are padded as a network card pads them.
inline std::vector<uint8_t> EthernetFrame(const std::vector<uint8_t>& body,
                                          uint16_t etherType = 0x0800) {
  std::vector<uint8_t> h(14, 0x02);
  PutU16(h, 12, etherType);
  std::vector<uint8_t> f = WithPrefix(h, body);
  if (f.size() < 60) f.resize(60, 0);
  return f;
}

// Linux cooked capture v1: packet type, ARPHRD, address length, address, protocol.
inline std::vector<uint8_t> SllFrame(const std::vector<uint8_t>& body, uint16_t protocol = 0x0800) {
  std::vector<uint8_t> h(16, 0);
  PutU16(h, 2, 1);  // ARPHRD_ETHER
  PutU16(h, 4, 6);
  PutU16(h, 14, protocol);
  return WithPrefix(h, body);
}

// Linux cooked capture v2: protocol first, then interface index and the rest.
inline std::vector<uint8_t> Sll2Frame(const std::vector<uint8_t>& body, uint16_t protocol = 0x0800) {
  std::vector<uint8_t> h(20, 0);
  PutU16(h, 0, protocol);
  PutU16(h, 8, 1);  // ARPHRD_ETHER
  h[11] = 6;
  return WithPrefix(h, body);
}

// ---- Capture files ---------------------------------------------------------

struct CFrame {
  int64_t sec;
  std::vector<uint8_t> bytes;
};

inline bool WritePcap(const std::string& path, int linkType, const std::vector<CFrame>& frames) {
  pcap_t* dead = pcap_open_dead(linkType, 65536);
  pcap_dumper_t* dumper = dead != nullptr ? pcap_dump_open(dead, path.c_str()) : nullptr;
  if (dumper == nullptr) return false;
  for (const CFrame& f : frames) {
    pcap_pkthdr h{};
    h.ts.tv_sec = f.sec;
    h.ts.tv_usec = 250000;
    h.caplen = static_cast<bpf_u_int32>(f.bytes.size());
    h.len = h.caplen;
    pcap_dump(reinterpret_cast<u_char*>(dumper), &h, f.bytes.data());
  }
  pcap_dump_close(dumper);
  pcap_close(dead);
  return true;
}

// ---- Files, folders and zones ----------------------------------------------

// Sets TZ for the scope and restores the previous value.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) {
      had_ = true;
      old_ = old;
    }
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

// A fresh directory under /tmp, removed with its files at the end.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/trafalyn-test-XXXXXX";
    if (const char* made = mkdtemp(pattern)) path_ = made;
  }
  ~TempDir() { Remove(path_); }
  const std::string& Path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }
  // The names in the folder, hidden ones too, sorted.
  std::vector<std::string> Names() const { return NamesIn(path_); }
  static std::vector<std::string> NamesIn(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d)) {
        const std::string_view n = e->d_name;
        if (n != "." && n != "..") names.emplace_back(n);
      }
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  static void Remove(const std::string& path) {
    if (path.empty()) return;
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        const std::string child = path + "/" + n;
        struct stat st {};
        if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
          Remove(child);
        } else {
          unlink(child.c_str());
        }
      }
      closedir(d);
    }
    rmdir(path.c_str());
  }
  std::string path_;
};

inline bool FileExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

inline void WriteFileBytes(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A 64 KiB tmpfs at `path` while it lives, to fill a disk on purpose; only
// root can mount one.
class SmallTmpfs {
 public:
  explicit SmallTmpfs(const std::string& path) : path_(path) {
    mkdir(path.c_str(), 0700);
    mounted_ = mount("none", path.c_str(), "tmpfs", 0, "size=64k") == 0;
  }
  ~SmallTmpfs() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `command` with its output discarded; true when it exits with 0.
inline bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}
