// Error diffusion and colour counting.
#include <gtest/gtest.h>

#include <set>

#include "effects_fixtures.h"
#include "img_fsdither.h"

namespace {

TEST(AddSaturated, PerChannelWithTheFirstAlpha) {
  EXPECT_EQ(AddSaturated(MakeArgb(200, 100, 50, 0x12), MakeArgb(100, 100, 100, 0xFF)), MakeArgb(255, 200, 150, 0x12));
  EXPECT_EQ(AddSaturated(0x00000000u, 0xFFFFFFFFu), 0x00FFFFFFu);
}

TEST(DitherFloydSteinberg, KeepsTheTopBitsAndAlpha) {
  auto U = MakeBitmap(16, 9, 0x40878787u);
  DitherFloydSteinberg(U.get(), 4);
  for (TColor32 P : Pixels(*U)) {
    EXPECT_EQ(AlphaOf(P), 0x40);
    for (int32_t C : {RedOf(P), GreenOf(P), BlueOf(P)}) EXPECT_TRUE(C == 0x80 || C == 0x90) << C;
  }
  for (int32_t N = 1; N <= 7; ++N) {
    auto B = RandomBitmap(23, 11, 40 + N);
    const auto Before = Pixels(*B);
    DitherFloydSteinberg(B.get(), N);
    const TColor32 Low = (1u << N) - 1;
    const auto After = Pixels(*B);
    for (size_t i = 0; i < After.size(); ++i) {
      ASSERT_EQ(After[i] & (Low | Low << 8 | Low << 16), 0u) << "N = " << N;
      ASSERT_EQ(After[i] >> 24, Before[i] >> 24);
    }
  }
}

TEST(DitherFloydSteinberg, FirstRowRunsRightToLeft) {
  // 0x0F everywhere, four bits dropped. From the right: 15 -> 0 passing
  // 7*15/16 = 6 left; 21 -> 16 passing 2; 17 -> 16. Left to right would give
  // the mirror image.
  auto B = MakeBitmap(3, 1, 0xFF0F0F0Fu);
  DitherFloydSteinberg(B.get(), 4);
  EXPECT_EQ(B->GetPixel(0, 0), 0xFF101010u);
  EXPECT_EQ(B->GetPixel(1, 0), 0xFF101010u);
  EXPECT_EQ(B->GetPixel(2, 0), 0xFF000000u);
  // Out-of-range counts do nothing.
  auto C = RandomBitmap(4, 4, 1);
  const auto Before = Pixels(*C);
  DitherFloydSteinberg(C.get(), 0);
  DitherFloydSteinberg(C.get(), 8);
  DitherFloydSteinberg(C.get(), -3);
  EXPECT_EQ(Pixels(*C), Before);
}

TEST(DiffuseGreyError, ClampsAndReturnsTheOverflow) {
  TColor32 P = MakeArgb(250, 1, 2, 0x33);
  int32_t E = 10;
  DiffuseGreyError(&P, E);
  EXPECT_EQ(P, MakeArgb(255, 255, 255, 0x33));
  EXPECT_EQ(E, 5);
  P = MakeArgb(20, 0, 0);
  E = -300;
  DiffuseGreyError(&P, E);
  EXPECT_EQ(P, MakeArgb(0, 0, 0));
  EXPECT_EQ(E, -280);
  P = MakeArgb(100, 0, 0);
  E = 28;
  DiffuseGreyError(&P, E);
  EXPECT_EQ(P, GrayArgb(128));
  EXPECT_EQ(E, 0);
}

TEST(DitherBlackWhite, SerpentineAndTwoLevels) {
  // Grey 128: the first pixel (top right) turns white, and its error of -127
  // pushes the next one below 128.
  auto B = MakeBitmap(4, 3, GrayArgb(128));
  DitherBlackWhite(B.get());
  EXPECT_EQ(B->GetPixel(3, 0), GrayArgb(255));
  EXPECT_EQ(B->GetPixel(2, 0), GrayArgb(0));
  // Uniform grey 64 comes out about a quarter white, opaque after the grey scale.
  auto G = MakeBitmap(64, 64, GrayArgb(64, 0x77));
  DitherBlackWhite(G.get());
  int White = 0;
  for (TColor32 P : Pixels(*G)) {
    ASSERT_EQ(AlphaOf(P), 255);
    ASSERT_TRUE((P & 0xFFFFFF) == 0 || (P & 0xFFFFFF) == 0xFFFFFF) << std::hex << P;
    White += (P & 0xFF) == 0xFF;
  }
  EXPECT_NEAR(White / 4096.0, 0.25, 0.02);
}

TEST(DitherBlackWhite, HostileImagesStayInRange) {
  // Alternating extremes in one column make the neighbours overflow again and
  // again; every result must still be black or white.
  for (int32_t W : {1, 2, 3}) {
    auto B = MakeBitmap(W, 50);
    for (int32_t y = 0; y < 50; ++y)
      for (int32_t x = 0; x < W; ++x) B->SetPixel(x, y, GrayArgb((y & 1) ? 255 : 127));
    DitherBlackWhite(B.get());
    for (TColor32 P : Pixels(*B)) ASSERT_TRUE((P & 0xFFFFFF) == 0 || (P & 0xFFFFFF) == 0xFFFFFF);
  }
}

TEST(CountColors, DistinctColoursIgnoringAlpha) {
  auto One = MakeBitmap(5, 5, 0xFF123456u);
  One->SetPixel(1, 1, 0x00123456u);
  One->SetPixel(2, 2, 0x80123456u);
  EXPECT_EQ(CountColors(One.get()), 1);
  TBitmap32 Empty;
  EXPECT_EQ(CountColors(&Empty), 0);
  EXPECT_EQ(CountColors(nullptr), 0);
  auto R = RandomBitmap(100, 50, 8, 300);
  std::set<TColor32> Set;
  for (TColor32 P : Pixels(*R)) Set.insert(P & 0xFFFFFF);
  EXPECT_EQ(CountColors(R.get()), static_cast<int32_t>(Set.size()));
  // Colours that share a slot (same top 16 bits) are told apart.
  auto S = MakeBitmap(256, 1);
  for (int32_t x = 0; x < 256; ++x) S->SetPixel(x, 0, 0xFF000000u | 0xABCD00u | static_cast<TColor32>(x));
  EXPECT_EQ(CountColors(S.get()), 256);
}

}  // namespace
