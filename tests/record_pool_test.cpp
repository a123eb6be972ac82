#include "model/record_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "model/packet_record.h"
#include "tests/test_support.h"

namespace {

TEST(RecordPool, ReleasedBlockIsHandedOutAgainForTheSameClass) {
  if (!CRecordPool::kEnabled) GTEST_SKIP() << "blocks are not pooled under AddressSanitizer";
  CRecordPool& pool = CRecordPool::Instance();
  void* a = pool.Allocate(1500);
  pool.Release(a, 1500);
  void* b = pool.Allocate(1480);  // the same 64-byte class as 1500
  EXPECT_EQ(a, b);
  void* small = pool.Allocate(100);
  EXPECT_NE(small, a);
  pool.Release(b, 1480);
  pool.Release(small, 100);
}

// Records of every payload size, from pooled blocks and from blocks too big
// for the pool, keep exactly their bytes, also while blocks are reused.
TEST(RecordPool, RecordsKeepTheirPayloadAcrossReuse) {
  for (int round = 0; round < 2; ++round) {
    std::vector<CPacketRef> kept;
    for (int payload : {1, 63, 64, 200, 1460, 1900, 2100, 9000, 65495}) {
      std::vector<uint8_t> bytes(static_cast<std::size_t>(payload));
      for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 + round);
      kept.push_back(MakePacketRecord(TcpFields(kSent, 1, payload), false, bytes));
      EXPECT_TRUE(std::ranges::equal(kept.back()->Payload(), bytes)) << payload;
    }
    for (const CPacketRef& r : kept) EXPECT_EQ(r.use_count(), 1);
  }
}

}  // namespace
