// Chromatic aberration correction and channel shifts.
#include <gtest/gtest.h>

#include <limits>

#include "effects_fixtures.h"
#include "img_cac.h"

namespace {

TEST(CorrectChromaticAberration, ZeroAmountsOnlySetAlpha) {
  auto B = RandomBitmap(9, 6, 5);
  const auto Before = Pixels(*B);
  CorrectChromaticAberration(B.get(), 0, 0);
  const auto After = Pixels(*B);
  for (size_t i = 0; i < After.size(); ++i) EXPECT_EQ(After[i], Before[i] | 0xFF000000u);
}

TEST(CorrectChromaticAberration, SquareImageLosesRedAtItsBorder) {
  for (int32_t Amount : {1, -1}) {
    auto B = MakeBitmap(9, 9, 0x80C08040u);
    CorrectChromaticAberration(B.get(), Amount, 0);
    for (int32_t y = 0; y < 9; ++y)
      for (int32_t x = 0; x < 9; ++x) {
        const TColor32 P = B->GetPixel(x, y);
        const bool Border = x == 0 || y == 0 || x == 8 || y == 8;
        EXPECT_EQ(RedOf(P), Border ? 0 : 0xC0) << Amount << ": " << x << "," << y;
        EXPECT_EQ(P & 0xFF00FFFFu, 0xFF008040u) << "green and blue stay, alpha becomes 255";
      }
  }
}

TEST(CorrectChromaticAberration, MagnifiesAndShrinksAboutTheCentre) {
  // A horizontal ramp in red and blue: magnifying pulls the values near the
  // centre column towards it, shrinking pushes them away; the centre stays.
  auto Ramp = [] {
    auto B = MakeBitmap(9, 9);
    for (int32_t y = 0; y < 9; ++y)
      for (int32_t x = 0; x < 9; ++x) B->SetPixel(x, y, MakeArgb(100 + 10 * x, 77, 100 + 10 * x));
    return B;
  };
  auto M = Ramp();
  CorrectChromaticAberration(M.get(), 1, -1);
  EXPECT_EQ(RedOf(M->GetPixel(4, 4)), 140);
  EXPECT_EQ(BlueOf(M->GetPixel(4, 4)), 140);
  EXPECT_GT(RedOf(M->GetPixel(2, 4)), 120);   // magnified: closer to the centre value
  EXPECT_LT(BlueOf(M->GetPixel(2, 4)), 120);  // shrunk: further from it
  EXPECT_LT(RedOf(M->GetPixel(6, 4)), 160);
  EXPECT_GT(BlueOf(M->GetPixel(6, 4)), 160);
  for (TColor32 P : Pixels(*M)) EXPECT_EQ(GreenOf(P), 77);
}

TEST(CorrectChromaticAberration, NonSquareAndTinyImages) {
  // Amounts beyond one pixel per side are limited and must not leave the canvas.
  for (auto [W, H] : {std::pair{12, 5}, std::pair{3, 8}, std::pair{1, 1}, std::pair{2, 2}, std::pair{4, 1}}) {
    auto B = RandomBitmap(W, H, 3);
    CorrectChromaticAberration(B.get(), 1, -1);
    CorrectChromaticAberration(B.get(), -100, 100);
    EXPECT_EQ(B->Width(), W);
    for (TColor32 P : Pixels(*B)) EXPECT_EQ(AlphaOf(P), 255);
  }
  CorrectChromaticAberration(nullptr, 1, 1);
}

TEST(ShiftChannels, ReadsShiftedPixelsAndTheOuterColour) {
  auto B = MakeBitmap(3, 1);
  B->SetPixel(0, 0, 0x10112233u);
  B->SetPixel(1, 0, 0x20445566u);
  B->SetPixel(2, 0, 0x30778899u);
  B->SetOuterColor(0x00AB00CDu);
  ShiftChannels(B.get(), 1, 0, -1, 0);
  EXPECT_EQ(B->GetPixel(0, 0), 0xFF4422CDu);  // red of 1, blue of the outer colour
  EXPECT_EQ(B->GetPixel(1, 0), 0xFF775533u);  // red of 2, blue of 0
  EXPECT_EQ(B->GetPixel(2, 0), 0xFFAB8866u);  // red of the outer colour, blue of 1
  // Vertical offsets, and offsets at the ends of the integer range.
  auto C = MakeBitmap(1, 2);
  C->SetPixel(0, 0, 0xFF010203u);
  C->SetPixel(0, 1, 0xFF040506u);
  ShiftChannels(C.get(), 0, 1, 0, 0);
  EXPECT_EQ(C->GetPixel(0, 0), 0xFF040203u);
  EXPECT_EQ(C->GetPixel(0, 1), 0xFF000506u);
  const int32_t Big = std::numeric_limits<int32_t>::max();
  ShiftChannels(C.get(), Big, Big, -Big - 1, 0);
  EXPECT_EQ(C->GetPixel(0, 0), 0xFF000200u);
}

}  // namespace
