#include "model/conversation_index.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace {

using Key = CConversationIndex::Key;

Key KeyNumber(uint32_t n) {
  // Few distinct addresses and ports, so keys crowd the same probe runs.
  return CConversationIndex::MakeKey(n % 3 == 0 ? 17 : 6,
                                     CIpAddr(10, 0, static_cast<uint8_t>(n >> 8),
                                                static_cast<uint8_t>(n)),
                                     CIpAddr(192, 0, 2, 10), 443,
                                     static_cast<uint16_t>(n * 7));
}

TEST(ConversationIndex, KeysDifferInEveryField) {
  const CIpAddr a = CIpAddr(1, 2, 3, 4), b = CIpAddr(5, 6, 7, 8);
  const Key k = CConversationIndex::MakeKey(6, a, b, 80, 1000);
  EXPECT_FALSE(k == CConversationIndex::MakeKey(17, a, b, 80, 1000));
  EXPECT_FALSE(k == CConversationIndex::MakeKey(6, b, a, 80, 1000));
  EXPECT_FALSE(k == CConversationIndex::MakeKey(6, a, b, 1000, 80));
  EXPECT_FALSE(k == CConversationIndex::MakeKey(6, a, CIpAddr(5, 6, 7, 9), 80, 1000));
  const CIpAddr a6 = CIpAddr::V6({1, 2, 3, 4});  // the same leading bytes, another family
  EXPECT_FALSE(k == CConversationIndex::MakeKey(6, a6, b, 80, 1000));
  EXPECT_TRUE(k == CConversationIndex::MakeKey(6, a, b, 80, 1000));
}

// Random sets, replacements and conditional erases at the fill the
// conversation bound allows, checked against std::map after every step:
// backward-shift deletion must never lose a key behind the hole.
TEST(ConversationIndex, AgreesWithAMapUnderChurn) {
  CConversationIndex index;
  std::map<uint32_t, CConversation*> model;
  std::vector<char> tags(64);
  std::mt19937 rng(7);
  auto tag = [&](uint32_t t) { return reinterpret_cast<CConversation*>(&tags[t % tags.size()]); };
  for (int step = 0; step < 200000; ++step) {
    const uint32_t n = rng() % 3000;
    const uint32_t op = rng() % 3;
    if (op < 2 && (model.size() < 2000 || model.count(n))) {
      CConversation* c = tag(rng());
      index.Set(KeyNumber(n), c);
      model[n] = c;
    } else {
      CConversation* c = rng() % 2 ? tag(rng()) : (model.count(n) ? model[n] : nullptr);
      index.EraseIf(KeyNumber(n), c);
      auto it = model.find(n);
      if (it != model.end() && it->second == c) model.erase(it);
    }
    if (step % 997 == 0) {
      ASSERT_EQ(index.Size(), model.size());
      for (uint32_t k = 0; k < 3000; ++k) {
        auto it = model.find(k);
        ASSERT_EQ(index.Find(KeyNumber(k)), it == model.end() ? nullptr : it->second)
            << "key " << k << " step " << step;
      }
    }
  }
  index.Clear();
  EXPECT_EQ(index.Size(), 0u);
  EXPECT_EQ(index.Find(KeyNumber(1)), nullptr);
}

}  // namespace
