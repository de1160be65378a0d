// Pixel sorting.
#include <gtest/gtest.h>

#include <algorithm>

#include "effects_fixtures.h"
#include "img_sort.h"

namespace {

TEST(SortPixels, EveryKeyOrdersAPermutation) {
  for (int32_t Key = 0; Key <= 7; ++Key) {
    auto B = RandomBitmap(31, 17, 100 + Key, 40);
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
  // Hue as round(h * 255) of the stored float, formed wide: 1/6 as a float is a
  // hair above, so yellow rounds up to 43 (a float product would give 42).
  EXPECT_EQ(PixelSortKey(0xFFFFFF00u, 5), 43);
  EXPECT_EQ(PixelSortKey(0xFF00FF00u, 5), 85);
  EXPECT_EQ(PixelSortKey(0xFF0000FFu, 5), 170);
  EXPECT_EQ(PixelSortKey(0xFFFF0000u, 6), 255);
  EXPECT_EQ(PixelSortKey(0xFF808080u, 6), 0);
  EXPECT_EQ(PixelSortKey(0xFFFFFFFFu, 7), 255);
  EXPECT_EQ(PixelSortKey(0x80102030u, 0), (0x10 * 61 + 0x20 * 174 + 0x30 * 21) >> 8);
  EXPECT_EQ(PixelSortKey(0x80102030u, 4), 0x80);
}

TEST(SortPixels, EqualOrUnknownKeysAndSignedKeys) {
  auto B = RandomBitmap(20, 10, 4);
  for (size_t i = 0; i < B->PixelCount(); ++i) B->Bits()[i] |= 0xFF000000u;
  const auto Before = Pixels(*B);
  for (int32_t Key : {4, 8, -1}) SortPixels(B->Bits(), static_cast<int64_t>(B->PixelCount()), Key);
  EXPECT_EQ(Pixels(*B), Before) << "equal alphas make no exchange; keys outside 0..7 do nothing";
  TColor32 Q[6] = {1, 2, 3, 4, 5, 6};
  int32_t L[6] = {3, -1, 2, -7, 0, 9};
  CombSortPixels(Q, L, 6);
  EXPECT_EQ(std::vector<TColor32>(Q, Q + 6), (std::vector<TColor32>{4, 2, 5, 3, 1, 6}));
  EXPECT_EQ(std::vector<int32_t>(L, L + 6), (std::vector<int32_t>{-7, -1, 0, 2, 3, 9}));
}

}  // namespace
