// The cost of exporting one finished conversation: the enqueue the capture
// side pays (CFlowExporter::Add) and the encoding the sender thread pays
// (CIpfixEncoder::Add plus its share of a message), beside the copy of the
// snapshot itself that every consumer of a finished conversation already
// makes.

#include <benchmark/benchmark.h>


#include "flows/flow_exporter.h"
#include "flows/ipfix_encoder.h"
#include "model/conversation_snapshot.h"

namespace {

CConversationSnapshot Snapshot(bool v6) {
  CConversationSnapshot s;
  s.role = EHostRole::kClient;
  s.protocol = 6;
  if (v6) {
    std::array<uint8_t, 16> a{0x20, 0x01, 0x0d, 0xb8}, b = a;
    a[15] = 1;
    b[15] = 2;
    s.local = CIpAddr::V6(a);
    s.remote = CIpAddr::V6(b);
  } else {
    s.local = CIpAddr(198, 51, 100, 1);
    s.remote = CIpAddr(198, 51, 100, 2);
  }
  s.localPort = 40000;
  s.remotePort = 443;
  s.bytesSent = 1200;
  s.bytesReceived = 64000;
  s.packetsSent = 8;
  s.packetsReceived = 50;
  s.times = {CTimeStamp{1700000000, 0}, CTimeStamp{1700000000, 1000},
             CTimeStamp{1700000000, 21000}, CTimeStamp{1700000001, 0}};
  return s;
}

// Reference: the snapshot copy a consumer receives.
void BM_CopySnapshot(benchmark::State& state) {
  const CConversationSnapshot s = Snapshot(false);
  CConversationSnapshot out;
  for (auto _ : state) {
    // A copy, not a byte copy: the snapshot holds a string, whose bytes
    // copied over another would free that one's buffer twice.
    out = s;
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_CopySnapshot);

// The capture side: the queue is full (no sender runs), so every Add also
// drops the oldest record, the dearest steady state.
void BM_Enqueue(benchmark::State& state) {
  CFlowExporter::Options o;
  o.collector = {"127.0.0.1", 9};
  CFlowExporter exporter(o);
  const CConversationSnapshot s = Snapshot(state.range(0) != 0);
  for (int i = 0; i < 10000; ++i) exporter.Add(s);
  for (auto _ : state) exporter.Add(s);
  exporter.Stop(std::chrono::milliseconds(0));
}
BENCHMARK(BM_Enqueue)->Arg(0)->Arg(1)->ArgName("v6");

// The sender side: encoding, with the message closed whenever it is full.
void BM_Encode(benchmark::State& state) {
  CIpfixEncoder encoder;
  const CFlowRecord r = CFlowRecord::FromSnapshot(Snapshot(state.range(0) != 0));
  std::size_t bytes = 0;
  for (auto _ : state) {
    if (!encoder.Add(r)) {
      bytes += encoder.Finish().size();
      encoder.Add(r);
    }
  }
  state.counters["bytes_per_record"] =
      benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_Encode)->Arg(0)->Arg(1)->ArgName("v6");

}  // namespace

BENCHMARK_MAIN();
