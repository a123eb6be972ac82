// Micro-benchmarks of the per-frame paths through the traffic model, each at
// the model's bounds where the bound matters: CTrafficModel::Record with the
// recent-list trim that follows it, and the packet decoder for the whole
// road of a frame from its IPv4 header into a capture session, with and
// without the host names read on the way.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "filters/active_filter_rules.h"
#include "filters/filter_rule_list.h"
#include "engine/host_name_service.h"
#include "engine/interface_record.h"
#include "engine/notification_queue.h"
#include "engine/packet_decoder.h"
#include "model/traffic_model.h"
#include "tests/test_support.h"

// make bench also builds this file in the tree of an earlier commit, to
// measure both in the same run: what that tree lacks is left out there.
#if __has_include("processes/socket_owner_cache.h")
#define BENCH_NAMES_PROGRAMS 1
#include "processes/proc_socket_scanner.h"
#include "processes/socket_owner_cache.h"
#include "processes/socket_table_reader.h"
#endif
#if __has_include("filters/filter_rule_report.h")
#define BENCH_RULES_COUNT 1
#endif

namespace {

const CIpAddr kLocal = CIpAddr(192, 0, 2, 10);

CIpAddr HostAddr(uint32_t i) {
  return CIpAddr(198, static_cast<uint8_t>(18 + ((i >> 16) & 1)),
                    static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i));
}

// The model tests' TCP segment, seen from this benchmark's own address.
CPacketFields Tcp(EDirection direction, CIpAddr remote, uint16_t remotePort, uint16_t localPort,
                  uint32_t seq, int payload, CTimeStamp t) {
  CPacketFields f = TcpFields(direction, seq, payload, t, remote, remotePort, localPort);
  f.local = kLocal;
  return f;
}

void Record(CTrafficModel& model, const CPacketFields& f, const std::vector<uint8_t>& bytes,
            bool headerOnly = false) {
  CRecordOptions options;
  options.headerOnly = headerOnly;
  benchmark::DoNotOptimize(model.Record(f, {bytes.data(), bytes.size()}, options));
}

// Fills the model to its bounds: 1000 hosts at even last octets and 2000
// conversations, each holding `perConversation` received records.
void Fill(CTrafficModel& model, int perConversation, const std::vector<uint8_t>& bytes) {
  for (uint32_t i = 0; i < 2000; ++i) {
    const CIpAddr remote = HostAddr((i % 1000) * 2);
    for (int k = 0; k < perConversation; ++k) {
      Record(model, Tcp(kReceived, remote, 443, static_cast<uint16_t>(20000 + i),
                        static_cast<uint32_t>(k) * 1400, 1400, {1700000000, 0}),
             bytes);
    }
  }
}

// Server push into open conversations, in sequence order, 1400 bytes each;
// a conversation is left after 300 records for the next one, so the table
// trims 400 full conversations every 400 x 300 frames, as in a long replay.
void InOrderTcpData(CTrafficModel& model, const std::vector<uint8_t>& bytes, uint64_t n,
                    bool headerOnly = false) {
  const uint32_t conv = static_cast<uint32_t>(n / 300);
  const CIpAddr remote = HostAddr(conv % 800);
  Record(model, Tcp(kReceived, remote, 443, static_cast<uint16_t>(1024 + conv % 60000),
                    static_cast<uint32_t>(n % 300) * 1400, 1400,
                    {1700000000 + static_cast<int32_t>(n / 3000), 0}),
         bytes, headerOnly);
}

// From an empty model: most of a short run fills the table, and so takes
// fresh memory from the system for every record.
void BM_InOrderTcpData(benchmark::State& st) {
  const CCancelToken never;
  CTrafficModel model(never);
  const std::vector<uint8_t> bytes(1400, 'x');
  uint64_t n = 0;
  for (auto _ : st) InOrderTcpData(model, bytes, n++);
  st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_InOrderTcpData);

// The same stream once the table is at its bounds (2,000 conversations of
// 300 records, filled before the clock starts), as in a long replay or
// trace: records are made in the memory that trimming gave back. One run
// of a fixed length, which passes ten trims. `range(0)` = 1 keeps no
// payload (header-only mode): the difference is what copying 1,400 bytes
// into memory the cache no longer holds costs.
void BM_InOrderTcpDataAtBounds(benchmark::State& st) {
  const CCancelToken never;
  CTrafficModel model(never);
  const std::vector<uint8_t> bytes(1400, 'x');
  const bool headerOnly = st.range(0) != 0;
  uint64_t n = 0;
  while (n < 2000 * 300) InOrderTcpData(model, bytes, n++, headerOnly);
  for (auto _ : st) InOrderTcpData(model, bytes, n++, headerOnly);
  st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_InOrderTcpDataAtBounds)->Arg(0)->Arg(1)->Iterations(1200000);

// Every frame opens a new conversation with a known host (the table stays
// at 1,600 to 2,000 conversations).
void BM_NewConversation(benchmark::State& st) {
  const CCancelToken never;
  CTrafficModel model(never);
  const std::vector<uint8_t> bytes(100, 'x');
  uint64_t n = 0;
  for (auto _ : st) {
    Record(model, Tcp(kSent, HostAddr(static_cast<uint32_t>(n % 1000)), 80,
                      static_cast<uint16_t>(1024 + n % 60000), 1, 100,
                      {1700000000 + static_cast<int32_t>(n / 3000), 0}),
           bytes);
    ++n;
  }
  st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_NewConversation);

// A new host between existing ones with 999 hosts in the table: the sorted
// insert shifts half the table. The host is removed again in the same
// iteration (that costs a second shift) so that the table never fills.
void BM_NewHostBetweenExisting(benchmark::State& st) {
  const CCancelToken never;
  CTrafficModel model(never);
  const std::vector<uint8_t> bytes(100, 'x');
  Fill(model, 1, bytes);
  model.hosts.Remove(HostAddr(1998));
  uint64_t n = 0;
  for (auto _ : st) {
    const CIpAddr remote = HostAddr(static_cast<uint32_t>((n % 999) * 2 + 1));
    Record(model, Tcp(kSent, remote, 80, static_cast<uint16_t>(1024 + n % 60000), 1, 100,
                      {1700000000, 0}),
           bytes);
    model.hosts.Remove(remote);
    ++n;
  }
  st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_NewHostBetweenExisting);

// A later fragment whose conversation is unknown, with 2000 conversations of
// 300 received records each; `range(0)` = 1 puts them all on the fragment's own
// addresses (the worst case: every conversation's received list is
// searched for the identification), 0 spreads them over 1000 hosts.
void BM_PendingFragment(benchmark::State& st) {
  const CCancelToken never;
  CTrafficModel model(never);
  const std::vector<uint8_t> bytes(100, 'x');
  const bool sameHost = st.range(0) != 0;
  for (uint32_t i = 0; i < 2000; ++i) {
    const CIpAddr remote = sameHost ? HostAddr(7) : HostAddr((i % 1000) * 2);
    for (int k = 0; k < 300; ++k) {
      CPacketFields f = Tcp(kReceived, remote, 443, static_cast<uint16_t>(20000 + i),
                            static_cast<uint32_t>(k) * 100, 100, {1700000000, 0});
      f.identification = static_cast<uint32_t>(k);
      Record(model, f, bytes);
    }
  }
  uint64_t n = 0;
  for (auto _ : st) {
    CPacketFields f = Tcp(kReceived, HostAddr(7), 0, 0, 0, 100, {1700000000, 0});
    f.laterFragment = true;
    f.identification = static_cast<uint32_t>(40000 + n % 20000);
    Record(model, f, bytes);
    ++n;
  }
  st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_PendingFragment)->Arg(0)->Arg(1);

// The filter in force holds 100 exclude rules of which none matches, so
// every frame walks all of them before it is recorded into an open
// conversation. Arg 1 asks as the capture path does, counting what the
// rules match; arg 0 only asks, as it did before the rules counted.
void BM_FilterHundredRules(benchmark::State& st) {
  const CCancelToken never;
  CTrafficModel model(never);
  CActiveFilterRules filter;
  CFilterRuleList rules;
  rules.SetMode(CFilterRuleList::kExclude);
  for (int i = 0; i < 100; ++i) rules.Append(CFilterRule(203, 0, 113, static_cast<uint8_t>(i + 1), 0));
  filter.Replace(rules);
  const std::vector<uint8_t> bytes(1400, 'x');
  uint64_t n = 0;
  for (auto _ : st) {
    const uint32_t conv = static_cast<uint32_t>(n / 300);
    CPacketFields f = Tcp(kReceived, HostAddr(conv % 800), 443,
                          static_cast<uint16_t>(1024 + conv % 60000),
                          static_cast<uint32_t>(n % 300) * 1400, 1400, {1700000000, 0});
#ifdef BENCH_RULES_COUNT
    const bool pass = st.range(0) != 0 ? filter.Admit(f.remote, f.remotePort, 1440)
                                       : filter.Passes(f.remote, f.remotePort);
#else
    const bool pass = filter.Passes(f.remote, f.remotePort);
#endif
    if (pass) Record(model, f, bytes);
    ++n;
  }
  st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_FilterHundredRules)->Arg(0)->Arg(1)->ArgName("counting");

// Decodes `packet` (IPv4 and TCP headers, then data) once per iteration as
// in-order segments of open conversations: a conversation is left after 300
// segments for the next one, over 200 remote hosts. The remote host's last
// octet is at `hostAt`, the local port at `portAt`.
void DecodeInOrder(benchmark::State& st, CPacketDecoder& decoder, std::vector<uint8_t>& packet,
                   std::size_t hostAt, std::size_t portAt) {
  uint64_t n = 0;
  for (auto _ : st) {
    const uint32_t conv = static_cast<uint32_t>(n / 300);
    const uint32_t seq = static_cast<uint32_t>(n % 300) * 1400;
    packet[hostAt] = static_cast<uint8_t>(conv % 200);
    packet[portAt] = static_cast<uint8_t>(0x80 | ((conv >> 8) & 0x3F));
    packet[portAt + 1] = static_cast<uint8_t>(conv);
    packet[24] = static_cast<uint8_t>(seq >> 24);
    packet[25] = static_cast<uint8_t>(seq >> 16);
    packet[26] = static_cast<uint8_t>(seq >> 8);
    packet[27] = static_cast<uint8_t>(seq);
    benchmark::DoNotOptimize(decoder.Decode(packet, {1700000000, 0}));
    ++n;
  }
  st.SetItemsProcessed(st.iterations());
}

#ifdef BENCH_NAMES_PROGRAMS
// A socket table with no sockets: every program answer is "(gone)", at
// once, so that only the capture thread's side of naming programs counts.
class CEmptySocketTable : public CSocketTableReader {
 public:
  bool Read(std::span<const CSocketKey>, std::vector<CSocketRecord>& out) override {
    out.clear();
    return true;
  }
};
#endif

// The whole road of a received TCP segment from its IPv4 header: decode,
// direction, lock, record, trim. Arg 1: as a live trace, whose conversations
// are each asked once for their program and get the answer when it lands;
// Arg 0: as a replay, which names no programs.
void BM_DecodeAndRecord(benchmark::State& st) {
  CTestSession test;
#ifdef BENCH_NAMES_PROGRAMS
  // Both paths run beside a cache and its look-up thread, as a replay does
  // once the engine has traced live: only the replay leaves it unasked.
  CSocketOwnerCache::CSources sources;
  sources.table = std::make_unique<CEmptySocketTable>();
  sources.scanner = std::make_unique<CProcSocketScanner>("/nonexistent", false);
  CSocketOwnerCache cache(std::move(sources), CSocketOwnerCache::COptions{});
  if (st.range(0) != 0) test.session.SetProcessCache(&cache);
#endif
  CInterfaceRecord local;
  local.AddAddress(192, 0, 2, 10);
  CPacketDecoder decoder(test.session, local);
  std::vector<uint8_t> packet(40 + 1400, 'x');
  const uint8_t header[40] = {0x45, 0, 0x05, 0xA8, 0, 1, 0x40, 0, 64, 6, 0, 0,
                              198, 18, 0, 7, 192, 0, 2, 10,
                              0x01, 0xBB, 0x9C, 0x40, 0, 0, 0, 0, 0, 0, 0, 0,
                              0x50, 0x18, 0xFF, 0xFF, 0, 0, 0, 0};
  std::copy(std::begin(header), std::end(header), packet.begin());
  DecodeInOrder(st, decoder, packet, 15, 22);
}
BENCHMARK(BM_DecodeAndRecord)->Arg(0)->Arg(1);

// A sent TCP segment of 1400 bytes into open conversations, as above:
// `range(0)` = 0 with no names read (the reference), 1 with the engine's
// names read from a payload no reader takes (the common case), 2 with every
// segment an HTTP request whose Host header names its conversation and host
// (the worst case: every segment parsed, the cache written).
void BM_DecodeWithNames(benchmark::State& st) {
  CTestSession test;
  CNotificationQueue notifications;
  CHostNameService names(notifications);
  if (st.range(0) > 0) names.Attach(test.session);
  CInterfaceRecord local;
  local.AddAddress(192, 0, 2, 10);
  CPacketDecoder decoder(test.session, local);
  std::vector<uint8_t> packet(40 + 1400, 'x');
  const uint8_t header[40] = {0x45, 0, 0x05, 0xA8, 0, 1, 0x40, 0, 64, 6, 0, 0,
                              192, 0, 2, 10, 198, 18, 0, 7,
                              0x9C, 0x40, 0x00, 0x50, 0, 0, 0, 0, 0, 0, 0, 0,
                              0x50, 0x18, 0xFF, 0xFF, 0, 0, 0, 0};
  std::copy(std::begin(header), std::end(header), packet.begin());
  const std::string request = "GET /index.html HTTP/1.1\r\nHost: www.example.com\r\nAccept: */*\r\n\r\n";
  if (st.range(0) == 2) std::copy(request.begin(), request.end(), packet.begin() + 40);
  DecodeInOrder(st, decoder, packet, 19, 20);
}
BENCHMARK(BM_DecodeWithNames)->Arg(0)->Arg(1)->Arg(2);

}  // namespace

BENCHMARK_MAIN();
