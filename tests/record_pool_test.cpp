#include "model/record_pool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "model/packet_record.h"
#include "tests/test_support.h"

namespace {

TEST(RecordPool, ReleasedBlockIsHandedOutAgainForTheSameClass) {
  if (!CRecordPool::kEnabled) GTEST_SKIP() << "blocks are not pooled under AddressSanitizer";
  CRecordPool& pool = CRecordPool::Instance();
  void* a = pool.Allocate(1500);
  pool.Release(a, 1500);
  // 1480 bytes round to the same 64-byte class as 1500 (1536).
  void* b = pool.Allocate(1480);
  EXPECT_EQ(a, b);
  pool.Release(b, 1480);
  void* small = pool.Allocate(100);
  EXPECT_NE(small, a);
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
      CPacketRef r = MakePacketRecord(TcpFields(kSent, 1, payload), false, bytes);
      ASSERT_EQ(r->Payload().size(), bytes.size());
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), r->Payload().begin()));
      kept.push_back(r);
    }
    for (const CPacketRef& r : kept) EXPECT_EQ(r.use_count(), 1);
  }
}

}  // namespace
