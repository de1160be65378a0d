// Pixel sorting.
#include <gtest/gtest.h>

#include <algorithm>

#include "effects_fixtures.h"
#include "img_sort.h"

namespace {

TEST(SortPixels, EveryKeyOrdersAPermutation) {
  for (int32_t Key = 0; Key <= 7; ++Key) {
    auto B = RandomBitmap(31, 17, 100 + Key, Key == 4 ? 0 : 40);
    auto Before = Pixels(*B);
    SortPixels(B->Bits(), static_cast<int64_t>(B->PixelCount()), Key);
    auto After = Pixels(*B);
    for (size_t i = 1; i < After.size(); ++i)
      ASSERT_LE(PixelSortKey(After[i - 1], Key), PixelSortKey(After[i], Key)) << "key " << Key << " at " << i;
    std::sort(Before.begin(), Before.end());
    std::sort(After.begin(), After.end());
    EXPECT_EQ(Before, After) << "key " << Key << " keeps the pixels";
  }
}

TEST(SortPixels, KeysOfKnownColours) {
  EXPECT_EQ(PixelSortKey(0xFF102030u, 0), (0x10 * 61 + 0x20 * 174 + 0x30 * 21) >> 8);
  EXPECT_EQ(PixelSortKey(0x80102030u, 1), 0x10);
  EXPECT_EQ(PixelSortKey(0x80102030u, 2), 0x20);
  EXPECT_EQ(PixelSortKey(0x80102030u, 3), 0x30);
  EXPECT_EQ(PixelSortKey(0x80102030u, 4), 0x80);
  // Hue as round(h * 255) of the stored float, formed wide: 1/6 as a float is a
  // hair above, so yellow rounds up to 43 (a float product would give 42).
  EXPECT_EQ(PixelSortKey(0xFFFFFF00u, 5), 43);
  EXPECT_EQ(PixelSortKey(0xFFFF0000u, 5), 0);
  EXPECT_EQ(PixelSortKey(0xFF00FF00u, 5), 85);
  EXPECT_EQ(PixelSortKey(0xFF0000FFu, 5), 170);
  EXPECT_EQ(PixelSortKey(0xFF808080u, 6), 0);
  EXPECT_EQ(PixelSortKey(0xFFFF0000u, 6), 255);
  EXPECT_EQ(PixelSortKey(0xFFFFFFFFu, 7), 255);
  EXPECT_EQ(PixelSortKey(0xFF000000u, 7), 0);
}

TEST(SortPixels, EqualOrUnknownKeysChangeNothing) {
  auto B = RandomBitmap(20, 10, 4);
  for (size_t i = 0; i < B->PixelCount(); ++i) B->Bits()[i] |= 0xFF000000u;
  const auto Before = Pixels(*B);
  SortPixels(B->Bits(), static_cast<int64_t>(B->PixelCount()), 4);  // every alpha 255
  EXPECT_EQ(Pixels(*B), Before);
  SortPixels(B->Bits(), static_cast<int64_t>(B->PixelCount()), 8);
  SortPixels(B->Bits(), static_cast<int64_t>(B->PixelCount()), -1);
  EXPECT_EQ(Pixels(*B), Before);
}

TEST(CombSortPixels, SmallCountsAndNegativeKeys) {
  TColor32 P[1] = {7};
  int32_t K[1] = {-5};
  CombSortPixels(P, K, 1);
  CombSortPixels(P, K, 0);
  CombSortPixels(nullptr, nullptr, 5);
  EXPECT_EQ(P[0], 7u);
  // Signed comparison; pixels travel with their keys.
  TColor32 Q[6] = {1, 2, 3, 4, 5, 6};
  int32_t L[6] = {3, -1, 2, -7, 0, 9};
  CombSortPixels(Q, L, 6);
  const int32_t SortedKeys[6] = {-7, -1, 0, 2, 3, 9};
  const TColor32 SortedPixels[6] = {4, 2, 5, 3, 1, 6};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(L[i], SortedKeys[i]);
    EXPECT_EQ(Q[i], SortedPixels[i]);
  }
}

}  // namespace
