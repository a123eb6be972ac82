// How long the screen's calls into a capture session take with the model at
// its full bounds: 2,000 conversations with 300 records per direction and
// 1,000 hosts. Each call holds the session's traffic lock for at most its
// own duration (the rows are built and the records copied under it; the
// texts are rendered after it is released), and while it is held the
// capture thread waits, so each must stay short.
//
// Measured, each a whole call:
//   Refresh     ConversationRows: the table walked once, one snapshot per
//               conversation;
//   Host rows   Hosts(age): the ageing walk and one summary per host;
//   Show        CopyRows of the direction with the most records.
// Each is run several times; the longest is reported beside its goal.
//
// Usage: lock_hold_bench [REPEATS]   (default 5)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

constexpr int32_t kStart = 1700000000;

CIpAddr HostAddr(uint32_t i) {
  return CIpAddr(198, 18, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i));
}

// Server role: each conversation is 300 requests received, then 300 answers
// sent, so both directions hold 300 records. The first conversation's
// answers are full-size, for the Show measurement.
void Fill(CTestSession& test) {
  test.switches.Set({true, true, false, EHostRole::kServer});
  const std::string small(120, 'g');
  std::string large(1460, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7);
  int32_t sec = kStart;
  for (uint32_t c = 0; c < 2000; ++c) {
    const CIpAddr remote = HostAddr(c % 1000);
    const uint16_t remotePort = static_cast<uint16_t>(1024 + c % 100 + (c / 1000) * 100);
    for (uint32_t k = 0; k < 300; ++k) {
      test.Record(TcpFields(kReceived, k * 120, 120, {sec, static_cast<int32_t>(k)}, remote,
                            remotePort, 443),
                  small);
    }
    const std::string& answer = c == 0 ? large : small;
    for (uint32_t k = 0; k < 300; ++k) {
      test.Record(TcpFields(kSent, k * 1460, static_cast<int>(answer.size()),
                            {sec, 500000 + static_cast<int32_t>(k)}, remote, remotePort, 443),
                  answer);
    }
    if (c % 10 == 9) ++sec;
  }
}

double Millis(const std::function<std::size_t()>& work, std::size_t* out) {
  const auto t0 = std::chrono::steady_clock::now();
  *out = work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  CTestSession test;
  Fill(test);
  CCaptureSession& session = test.session;
  const std::vector<CConversationRowData> all = session.ConversationRows();
  const CExportRow largest{1, EDirection::kSent};  // the full-size answers
  std::printf("model: %zu rows, %zu hosts\n", all.size(), session.Hosts(false).hosts.size());

  struct Op {
    const char* name;
    double goalMs;
    std::function<std::size_t()> work;
    const char* unit;
  };
  const Op ops[] = {
      {"conversation rows (Refresh)", 50, [&] { return session.ConversationRows().size(); },
       "rows"},
      {"host rows (Host Stats refresh)", 50, [&] { return session.Hosts(true).hosts.size(); },
       "rows"},
      {"Show (records copied)", 150,
       [&] {
         const auto copies = session.CopyRows({largest});
         return copies.empty() ? 0 : copies[0].records.size();
       },
       "records"},
  };
  int failed = 0;
  for (const Op& op : ops) {
    double longest = 0;
    std::size_t size = 0;
    for (int i = 0; i < repeats; ++i) longest = std::max(longest, Millis(op.work, &size));
    const bool ok = longest < op.goalMs;
    failed += ok ? 0 : 1;
    std::printf("%-32s longest hold %8.2f ms  (goal < %3.0f ms) %s  [%zu %s]\n", op.name,
                longest, op.goalMs, ok ? "ok" : "OVER", size, op.unit);
  }
  return failed == 0 ? 0 : 1;
}
