#include "processes/socket_owner_cache.h"

#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <thread>
#include <vector>

#include "fake_proc_tree.h"
#include "fake_socket_table.h"
#include "processes/proc_socket_scanner.h"

namespace {

using namespace std::chrono_literals;

const CIpAddr kHost(198, 51, 100, 1), kPeer(198, 51, 100, 2);

CTimeStamp Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return CTimeStamp{static_cast<int32_t>(ts.tv_sec), static_cast<int32_t>(ts.tv_nsec / 1000)};
}

CSocketKey Key(uint16_t localPort) { return CSocketKey{6, kHost, localPort, kPeer, 80}; }

class SocketOwnerCache : public ::testing::Test {
 protected:
  void Start(std::chrono::milliseconds refreshPeriod) {
    proc_.Add({10, "curl", "/usr/bin/curl", {"socket:[1]"}});
    proc_.Add({20, "wget", "/usr/bin/wget", {"socket:[2]", "socket:[3]", "socket:[4]"}});
    table_->Set({Record(40001, 1), Record(40002, 2), Record(40003, 3), Record(40004, 4)});
    CSocketOwnerCache::CSources sources;
    sources.table = std::move(tableOwner_);
    sources.scanner = std::make_unique<CProcSocketScanner>(proc_.Root(), false);
    cache_ = std::make_unique<CSocketOwnerCache>(std::move(sources),
                                                 CSocketOwnerCache::COptions{10ms, refreshPeriod});
  }

  static CSocketRecord Record(uint16_t port, uint64_t inode) {
    return CSocketRecord{6, kHost, port, kPeer, 80, false, 0, inode};
  }

  // Collects until `count` answers have landed (or a time limit passes).
  std::vector<CSocketOwnerNews> CollectAnswers(std::size_t count) {
    std::vector<CSocketOwnerNews> landed;
    for (int i = 0; i < 500 && landed.size() < count; ++i) {
      cache_->Collect(landed);
      std::this_thread::sleep_for(2ms);
    }
    return landed;
  }

  FakeProcTree proc_;
  std::unique_ptr<FakeSocketTable> tableOwner_ = std::make_unique<FakeSocketTable>();
  FakeSocketTable* table_ = tableOwner_.get();
  std::unique_ptr<CSocketOwnerCache> cache_;
};

// The asking thread never waits for a look-up; what it asks while one runs
// goes into the next one together.
TEST_F(SocketOwnerCache, AsksWithoutWaitingAndBatchesMisses) {
  Start(1h);
  table_->CloseGate();
  const CTimeStamp start = Now();
  EXPECT_EQ(cache_->Peek(Key(40001), start).state, EOwnerState::kPending);
  table_->AwaitReads(1);  // the look-up is stuck in the table read
  for (uint16_t port : {40002, 40003, 40004, 40009}) {
    EXPECT_EQ(cache_->Peek(Key(port), start).state, EOwnerState::kPending);
  }
  EXPECT_EQ(cache_->Peek(Key(40001), start).state, EOwnerState::kPending);
  table_->OpenGate();

  const std::vector<CSocketOwnerNews> landed = CollectAnswers(5);
  ASSERT_EQ(landed.size(), 5u);
  EXPECT_EQ(table_->Reads(), 2);
  EXPECT_EQ(landed[0].owner.Text(), "curl");
  EXPECT_EQ(landed[0].owner.Pid(), 10);
  EXPECT_EQ(landed[1].owner.Text(), "wget");
  EXPECT_EQ(landed[4].owner.Text(), "(gone)");
  EXPECT_EQ(cache_->Peek(Key(40003), start).Text(), "wget");
}

// Once the socket is seen closed, its answer still holds for conversations
// that began before; a later conversation on the same key is looked up
// again (here the port was reused by another program).
TEST_F(SocketOwnerCache, ClosedSocketAnswersOnlyEarlierConversations) {
  Start(20ms);
  const CTimeStamp early = Now();
  cache_->Peek(Key(40001), early);
  ASSERT_EQ(CollectAnswers(1).size(), 1u);

  table_->Set({Record(40001, 2)});
  const CTimeStamp later = Now();
  std::vector<CSocketOwnerNews> none;
  bool asked = false;
  for (int i = 0; i < 500 && !asked; ++i) {
    EXPECT_EQ(cache_->Collect(none), 0u);  // closing news is not an answer
    EXPECT_EQ(cache_->Peek(Key(40001), early).Text(), "curl");
    asked = cache_->Peek(Key(40001), later).state == EOwnerState::kPending;
    std::this_thread::sleep_for(2ms);
  }
  ASSERT_TRUE(asked);
  const std::vector<CSocketOwnerNews> landed = CollectAnswers(1);
  ASSERT_EQ(landed.size(), 1u);
  EXPECT_EQ(landed[0].owner.Text(), "wget");
  EXPECT_TRUE(landed[0].Covers(later));
}

}  // namespace
