// Pixel sorting.
#include <gtest/gtest.h>

#include <algorithm>

#include "effects_fixtures.h"
#include "img_sort.h"
#include "raster_parallel.h"

namespace {

// The comb sort written the plain way: one pass after another, the bubble
// passes at gap 1 included, exchanging only on a greater key.
void ReferenceCombSort(std::vector<TColor32>& P, std::vector<int32_t>& K) {
  const int64_t N = static_cast<int64_t>(P.size());
  if (N == 0) return;
  int64_t Gap = (N >> 3) + 1;
  for (;;) {
    bool Swapped = false;
    for (int64_t i = 0; i + Gap < N; ++i)
      if (K[i] > K[i + Gap]) {
        std::swap(P[i], P[i + Gap]);
        std::swap(K[i], K[i + Gap]);
        Swapped = true;
      }
    if (Gap > 1)
      Gap = std::max<int64_t>(1, Gap - (Gap >> 3) - 1);
    else if (!Swapped)
      break;
  }
}

// Equal keys end where the comb sort's own sequence puts them, on pictures
// large enough for many blocks of every pass and on one thread or eight.
TEST(SortPixels, SameOrderAsThePlainCombSort) {
  struct {
    int32_t W, H;
    int Palette;  // 0: random pixels
  } const Cases[] = {{1, 1, 0}, {7, 1, 0}, {31, 17, 40}, {64, 2000, 0}, {64, 2000, 12}, {640, 480, 0}};
  for (const auto& C : Cases)
    for (int32_t Key = 0; Key <= 7; ++Key)
      for (int32_t Threads : {1, 8}) {
        auto B = RandomBitmap(C.W, C.H, static_cast<uint32_t>(C.W * 7 + Key), C.Palette);
        std::vector<TColor32> Want = Pixels(*B);
        std::vector<int32_t> Keys;
        for (TColor32 P : Want) Keys.push_back(PixelSortKey(P, Key));
        ReferenceCombSort(Want, Keys);
        TThreadLimit Limit(Threads);
        SortPixels(B->Bits(), static_cast<int64_t>(B->PixelCount()), Key);
        ASSERT_EQ(Pixels(*B), Want) << C.W << "x" << C.H << " key " << Key << " on " << Threads;
      }
  // Signed keys of any size take the wide elements; few distinct keys are
  // counted into place, many are merged.
  std::mt19937 Rng(3);
  for (auto [N, Range] : {std::pair{size_t{2}, 2001u}, {size_t{9}, 2001u}, {size_t{100000}, 2001u}, {size_t{100000}, 0u}}) {
    std::vector<TColor32> P(N), WantP;
    std::vector<int32_t> K(N), WantK;
    for (size_t i = 0; i < N; ++i)
      P[i] = static_cast<TColor32>(i),
      K[i] = Range ? static_cast<int32_t>(Rng() % Range) - 1000 : static_cast<int32_t>(Rng() % 3000 * 1000003u);
    WantP = P, WantK = K;
    ReferenceCombSort(WantP, WantK);
    CombSortPixels(P.data(), K.data(), static_cast<int64_t>(N));
    EXPECT_EQ(P, WantP) << N;
    EXPECT_EQ(K, WantK) << N;
  }
}

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
