// Picture encryption with a phrase.
#include <gtest/gtest.h>

#include <string>

#include "effects_fixtures.h"
#include "img_enc.h"

namespace {

TEST(EncryptBitmap, TwiceRestoresEverythingAlphaIncluded) {
  auto B = RandomBitmap(37, 23, 9);
  const auto Before = Pixels(*B);
  EncryptBitmap(B.get(), "open sesame");
  const auto Scrambled = Pixels(*B);
  int AlphaChanged = 0, Changed = 0;
  for (size_t i = 0; i < Before.size(); ++i) {
    Changed += Scrambled[i] != Before[i];
    AlphaChanged += (Scrambled[i] >> 24) != (Before[i] >> 24);
  }
  EXPECT_GT(Changed, static_cast<int>(Before.size()) * 9 / 10);
  EXPECT_GT(AlphaChanged, static_cast<int>(Before.size()) * 9 / 10) << "alpha is scrambled too";
  EncryptBitmap(B.get(), "open sesame");
  EXPECT_EQ(Pixels(*B), Before);
  // A different phrase does not undo it.
  EncryptBitmap(B.get(), "open sesame");
  EncryptBitmap(B.get(), "open sesamf");
  EXPECT_NE(Pixels(*B), Before);
}

TEST(EncryptBitmap, BytesInMemoryOrder) {
  // The stream of "abc" starts 38 8E 18 54 CA B8 7A 3E; pixels are B, G, R, A in memory.
  auto B = MakeBitmap(2, 1, 0);
  EncryptBitmap(B.get(), "abc");
  EXPECT_EQ(B->GetPixel(0, 0), 0x54188E38u);
  EXPECT_EQ(B->GetPixel(1, 0), 0x3E7AB8CAu);
}

TEST(EncryptBitmap, EmptyPhraseAndEmptyBitmapDoNothing) {
  auto B = RandomBitmap(5, 4, 2);
  const auto Before = Pixels(*B);
  EncryptBitmap(B.get(), "");
  EXPECT_EQ(Pixels(*B), Before);
  EncryptBitmap(nullptr, "abc");
  TBitmap32 Empty;
  EncryptBitmap(&Empty, "abc");
  EXPECT_TRUE(Empty.Empty());
}

TEST(EncryptBitmap, OnlyTheFirst256PhraseBytesCount) {
  const std::string Long(400, 'k');
  auto A = RandomBitmap(8, 8, 3);
  auto B = RandomBitmap(8, 8, 3);
  EncryptBitmap(A.get(), Long);
  EncryptBitmap(B.get(), Long.substr(0, 256));
  EXPECT_EQ(Pixels(*A), Pixels(*B));
}

}  // namespace
