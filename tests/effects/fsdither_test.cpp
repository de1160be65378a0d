// Error diffusion and colour counting.
#include <gtest/gtest.h>

#include <set>

#include "effects_fixtures.h"
#include "img_fsdither.h"

namespace {

TEST(AddSaturatedAndDiffuseGreyError, KnownAnswers) {
  EXPECT_EQ(AddSaturated(MakeArgb(200, 100, 50, 0x12), MakeArgb(100, 100, 100, 0xFF)), MakeArgb(255, 200, 150, 0x12));
  struct TCase {
    int32_t Red, E, Out, Left;
  };
  for (const TCase& C : {TCase{250, 10, 255, 5}, TCase{20, -300, 0, -280}, TCase{100, 28, 128, 0}}) {
    TColor32 P = MakeArgb(C.Red, 1, 2, 0x33);
    int32_t E = C.E;
    DiffuseGreyError(&P, E);
    EXPECT_EQ(P, GrayArgb(C.Out, 0x33));
    EXPECT_EQ(E, C.Left);
  }
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
    for (size_t i = 0; i < Before.size(); ++i)
      ASSERT_EQ(B->Bits()[i] & (0xFF000000u | Low | Low << 8 | Low << 16), Before[i] & 0xFF000000u) << N;
  }
}

TEST(DitherFloydSteinberg, FirstRowRunsRightToLeft) {
  // 0x0F, four bits dropped. From the right: 15 -> 0 passing 7*15/16 = 6 on;
  // 21 -> 16 passing 2; 17 -> 16. Left to right would give the mirror image.
  auto B = MakeBitmap(3, 1, 0xFF0F0F0Fu);
  DitherFloydSteinberg(B.get(), 4);
  EXPECT_EQ(Pixels(*B), (std::vector<TColor32>{0xFF101010u, 0xFF101010u, 0xFF000000u}));
  DitherFloydSteinberg(B.get(), 8);  // out of range: nothing
  EXPECT_EQ(B->GetPixel(0, 0), 0xFF101010u);
}

TEST(DitherBlackWhite, SerpentineAndTwoLevels) {
  // Grey 128: the first pixel (top right) turns white, and its error of -127
  // pushes the next one below 128.
  auto B = MakeBitmap(4, 3, GrayArgb(128));
  DitherBlackWhite(B.get());
  EXPECT_EQ(B->GetPixel(3, 0), GrayArgb(255));
  EXPECT_EQ(B->GetPixel(2, 0), GrayArgb(0));
  // Grey 64 comes out about a quarter white, opaque after the grey scale.
  auto G = MakeBitmap(64, 64, GrayArgb(64, 0x77));
  DitherBlackWhite(G.get());
  int White = 0;
  for (TColor32 P : Pixels(*G)) {
    ASSERT_TRUE(P == 0xFF000000u || P == 0xFFFFFFFFu) << std::hex << P;
    White += P == 0xFFFFFFFFu;
  }
  EXPECT_NEAR(White / 4096.0, 0.25, 0.02);
}

TEST(CountColors, DistinctColoursIgnoringAlpha) {
  auto One = MakeBitmap(5, 5, 0xFF123456u);
  One->SetPixel(1, 1, 0x00123456u);
  EXPECT_EQ(CountColors(One.get()), 1);
  TBitmap32 Empty;
  EXPECT_EQ(CountColors(&Empty), 0);
  auto R = RandomBitmap(100, 50, 8, 300);
  std::set<TColor32> Set;
  for (TColor32 P : Pixels(*R)) Set.insert(P & 0xFFFFFF);
  EXPECT_EQ(CountColors(R.get()), static_cast<int32_t>(Set.size()));
  // Colours that share a slot (the same top 16 bits) are told apart.
  auto S = MakeBitmap(256, 1);
  for (int32_t x = 0; x < 256; ++x) S->SetPixel(x, 0, 0xFFABCD00u | static_cast<TColor32>(x));
  EXPECT_EQ(CountColors(S.get()), 256);
}

}  // namespace
