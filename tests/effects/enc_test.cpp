// Picture encryption with a phrase.
#include <gtest/gtest.h>

#include "effects_fixtures.h"
#include "img_enc.h"

namespace {

TEST(EncryptBitmap, TwiceRestoresEverythingAlphaIncluded) {
  auto B = RandomBitmap(37, 23, 9);
  const auto Before = Pixels(*B);
  EncryptBitmap(B.get(), "open sesame");
  int AlphaChanged = 0;
  for (size_t i = 0; i < Before.size(); ++i) AlphaChanged += (B->Bits()[i] >> 24) != (Before[i] >> 24);
  EXPECT_GT(AlphaChanged, static_cast<int>(Before.size()) * 9 / 10) << "alpha is scrambled too";
  EncryptBitmap(B.get(), "open sesame");
  EXPECT_EQ(Pixels(*B), Before);
}

TEST(EncryptBitmap, BytesInMemoryOrderAndEmptyPhrase) {
  // The stream of "abc" starts 38 8E 18 54 CA B8 7A 3E; pixels are B, G, R, A in memory.
  auto B = MakeBitmap(2, 1, 0);
  EncryptBitmap(B.get(), "abc");
  EXPECT_EQ(Pixels(*B), (std::vector<TColor32>{0x54188E38u, 0x3E7AB8CAu}));
  EncryptBitmap(B.get(), "");
  EXPECT_EQ(Pixels(*B), (std::vector<TColor32>{0x54188E38u, 0x3E7AB8CAu})) << "no key, no change";
}

}  // namespace
