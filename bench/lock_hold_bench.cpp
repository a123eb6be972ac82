// How long the user-interface operations hold the traffic lock with the model
// at its full bounds: 2,000 conversations with 300 records per direction and
// 1,000 hosts with 100 ports each. While one of them holds the lock the
// capture thread waits, so each must stay short.
//
// Measured (each the work done between taking and releasing the lock):
//   Refresh     the Conversations page's rows: the table walked from the
//               newest conversation, up to two rows per conversation with the
//               ten column texts through the output formatters;
//   Host rows   the Host Stats page's refresh: the ageing walk and the six
//               column texts of every host;
//   Show        RenderConversationText of the direction with the most text,
//               headers and hex dump, which passes 2,000,000 characters.
// Each is run several times; the longest hold is reported beside its goal.
//
// Usage: lock_hold_bench [REPEATS]   (default 5)

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/app_state.h"
#include "model/traffic_model.h"
#include "output/conversation_text.h"
#include "output/value_format.h"
#include "tests/model_test_support.h"

namespace {

const CIpAddr kLocal = CIpAddr(192, 0, 2, 10);
constexpr int32_t kStart = 1700000000;

CIpAddr HostAddr(uint32_t i) {
  return CIpAddr(198, 18, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i));
}

// The model tests' TCP segment, seen from this benchmark's own address, with
// the acknowledgement and identification the header text shows.
CPacketFields Tcp(int direction, CIpAddr remote, uint16_t remotePort, uint16_t localPort,
                  uint32_t seq, int payload, CTimeStamp t) {
  CPacketFields f = TcpFields(direction, seq, payload, t, remote, remotePort, localPort);
  f.local = kLocal;
  f.ack = seq + 7;
  f.identification = static_cast<uint16_t>(seq);
  return f;
}

// Server role: each conversation is 300 requests received, then 300 answers
// sent, so both directions hold 300 records. The first conversation's
// answers are full-size, for the Show measurement.
void Fill(CAppState& state) {
  state.hostRole = kRoleServer;
  CTrafficModel& model = state.Model();
  std::vector<uint8_t> small(120);
  std::vector<uint8_t> large(1460);
  for (std::size_t i = 0; i < small.size(); ++i) small[i] = static_cast<uint8_t>("GET /a HTTP/1.1\r\n"[i % 17]);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 7);
  int32_t sec = kStart;
  for (uint32_t c = 0; c < 2000; ++c) {
    const CIpAddr remote = HostAddr(c % 1000);
    const uint16_t remotePort = static_cast<uint16_t>(1024 + c % 100 + (c / 1000) * 100);
    const uint16_t localPort = 443;
    for (uint32_t k = 0; k < 300; ++k) {
      model.Record(Tcp(kDirReceived, remote, remotePort, localPort, k * 120, 120,
                       {sec, static_cast<int32_t>(k)}),
                   small);
      model.TrimRecent();
    }
    const std::vector<uint8_t>& answer = c == 0 ? large : small;
    for (uint32_t k = 0; k < 300; ++k) {
      model.Record(Tcp(kDirSent, remote, remotePort, localPort, k * 1460,
                       static_cast<int>(answer.size()), {sec, 500000 + static_cast<int32_t>(k)}),
                   answer);
      model.TrimRecent();
    }
    if (c % 10 == 9) ++sec;
  }
}

using Row = std::vector<std::string>;

void AddConversationRow(std::vector<Row>& rows, const CConversation& c, int d,
                        const std::string& response, const std::atomic<int>& quit) {
  const bool sent = d == kDirSent;
  const uint64_t packets = sent ? c.packetsSent : c.packetsReceived;
  if (packets == 0) return;
  const uint64_t bytes = sent ? c.bytesSent : c.bytesReceived;
  const bool opening = sent == (c.hostRole == kRoleClient);
  const int k = opening ? 0 : 2;
  char buf[32];
  Row row;
  row.reserve(10);
  row.push_back(FormatEndpoint(c.remote, c.remotePort));
  std::snprintf(buf, sizeof buf, "%d", c.localPort);
  row.emplace_back(buf);
  std::snprintf(buf, sizeof buf, "%d", c.convId);
  row.emplace_back(buf);
  row.push_back(ProtocolName(c.protocol));
  std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(bytes));
  row.emplace_back(buf);
  std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(packets));
  row.emplace_back(buf);
  row.push_back(response);
  row.push_back(FormatClockTime(c.times[k]));
  row.push_back(FormatClockTime(c.times[k + 1]));
  row.push_back(RenderConversationSummary(c, d, quit));
  rows.push_back(std::move(row));
}

std::size_t ConversationRows(const CTrafficModel& model, const std::atomic<int>& quit) {
  std::vector<Row> rows;
  const auto& table = model.conversations.Conversations();
  for (auto it = table.rbegin(); it != table.rend(); ++it) {
    const CConversation& c = **it;
    const std::string response = FormatElapsed(c.times[CConversation::kLastTime],
                                               c.times[CConversation::kFirstTime]);
    if (c.hostRole == kRoleServer) {
      AddConversationRow(rows, c, kDirSent, {}, quit);
      AddConversationRow(rows, c, kDirReceived, response, quit);
    } else {
      AddConversationRow(rows, c, kDirReceived, {}, quit);
      AddConversationRow(rows, c, kDirSent, response, quit);
    }
  }
  return rows.size();
}

std::size_t HostRows(const CTrafficModel& model) {
  // The ageing walk reads every host's last time; nothing is old enough to
  // go here, so the walk is measured without changing the table.
  const int64_t now = kStart + 300;
  std::size_t old = 0;
  const auto& hosts = model.hosts.Hosts();
  for (auto it = hosts.rbegin(); it != hosts.rend(); ++it) {
    if (now - it->lastTime.sec > 100000) ++old;
  }
  std::vector<Row> rows;
  rows.reserve(hosts.size());
  char buf[32];
  for (const CHostRecord& h : hosts) {
    Row row;
    row.reserve(6);
    row.push_back(FormatAddress(h.address));
    row.push_back(FormatByteCount(static_cast<int64_t>(h.bytesSent)));
    row.push_back(FormatByteCount(static_cast<int64_t>(h.bytesReceived)));
    row.push_back(FormatShortCount(static_cast<int64_t>(h.packetsSent)));
    row.push_back(FormatShortCount(static_cast<int64_t>(h.packetsReceived)));
    std::snprintf(buf, sizeof buf, ".%.6d", static_cast<int>(h.lastTime.usec));
    row.push_back(FormatClockTime({h.lastTime.sec, 0}).substr(0, 8) + buf);
    rows.push_back(std::move(row));
  }
  return rows.size() + old;
}

double HeldMillis(std::mutex& lock, const std::function<std::size_t()>& work, std::size_t* out) {
  const auto t0 = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> held(lock);
    *out = work();
  }
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  CAppState state;
  Fill(state);
  CTrafficModel& model = state.Model();
  const CConversation& largest = *model.conversations.Conversations().front();
  std::printf("model: %zu conversations, %zu+%zu records in the first, %zu hosts\n",
              model.conversations.Size(), largest.sent.size(), largest.received.size(),
              model.hosts.Size());

  struct Op {
    const char* name;
    double goalMs;
    std::function<std::size_t()> work;
    const char* unit;
  };
  const Op ops[] = {
      {"conversation rows (Refresh)", 50,
       [&] { return ConversationRows(model, state.quit); }, "rows"},
      {"host rows (Host Stats refresh)", 50, [&] { return HostRows(model); }, "rows"},
      {"Show (headers + hex)", 150,
       [&] { return RenderConversationText(largest, kDirSent, 1, 1, 1, state.quit).size(); },
       "chars"},
  };
  int failed = 0;
  for (const Op& op : ops) {
    double longest = 0;
    std::size_t size = 0;
    for (int i = 0; i < repeats; ++i) longest = std::max(longest, HeldMillis(state.trafficLock, op.work, &size));
    const bool ok = longest < op.goalMs;
    failed += ok ? 0 : 1;
    std::printf("%-32s longest hold %8.2f ms  (goal < %3.0f ms) %s  [%zu %s]\n", op.name,
                longest, op.goalMs, ok ? "ok" : "OVER", size, op.unit);
  }
  return failed == 0 ? 0 : 1;
}
