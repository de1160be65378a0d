// Chromatic aberration correction and channel shifts.
#include <gtest/gtest.h>

#include "effects_fixtures.h"
#include "img_cac.h"

namespace {

TEST(CorrectChromaticAberration, ZeroAmountsOnlySetAlpha) {
  auto B = RandomBitmap(9, 6, 5);
  auto Expected = Pixels(*B);
  for (auto& P : Expected) P |= 0xFF000000u;
  CorrectChromaticAberration(B.get(), 0, 0);
  EXPECT_EQ(Pixels(*B), Expected);
}

TEST(CorrectChromaticAberration, SquareImageLosesRedAtItsBorder) {
  for (int32_t Amount : {1, -1}) {
    auto B = MakeBitmap(9, 9, 0x80C08040u);
    CorrectChromaticAberration(B.get(), Amount, 0);
    for (int32_t y = 0; y < 9; ++y)
      for (int32_t x = 0; x < 9; ++x) {
        const bool Border = x == 0 || y == 0 || x == 8 || y == 8;
        EXPECT_EQ(B->GetPixel(x, y), Border ? 0xFF008040u : 0xFFC08040u) << Amount << ": " << x << "," << y;
      }
  }
}

TEST(CorrectChromaticAberration, MagnifiesAndShrinksAboutTheCentre) {
  // A horizontal ramp in red and blue: magnifying pulls the values near the
  // centre column towards it, shrinking pushes them away; the centre stays.
  auto M = MakeBitmap(9, 9);
  for (int32_t y = 0; y < 9; ++y)
    for (int32_t x = 0; x < 9; ++x) M->SetPixel(x, y, MakeArgb(100 + 10 * x, 77, 100 + 10 * x));
  CorrectChromaticAberration(M.get(), 1, -1);
  EXPECT_EQ(M->GetPixel(4, 4), MakeArgb(140, 77, 140));
  EXPECT_GT(RedOf(M->GetPixel(2, 4)), 120);
  EXPECT_LT(BlueOf(M->GetPixel(2, 4)), 120);
  EXPECT_LT(RedOf(M->GetPixel(6, 4)), 160);
  EXPECT_GT(BlueOf(M->GetPixel(6, 4)), 160);
  for (TColor32 P : Pixels(*M)) EXPECT_EQ(GreenOf(P), 77);
  // Amounts beyond a pixel per side are limited to one and stay inside the canvas.
  auto Big = MakeBitmap(9, 9);
  CorrectChromaticAberration(Big.get(), -100, 100);
  EXPECT_EQ(Big->GetPixel(4, 4), 0xFF000000u);
}

TEST(ShiftChannels, ReadsShiftedPixelsAndTheOuterColour) {
  auto B = MakeBitmap(3, 1);
  B->SetPixel(0, 0, 0x10112233u);
  B->SetPixel(1, 0, 0x20445566u);
  B->SetPixel(2, 0, 0x30778899u);
  B->SetOuterColor(0x00AB00CDu);
  ShiftChannels(B.get(), 1, 0, -1, 0);
  // Red of the pixel to the right, blue of the one to the left, the outer colour beyond.
  EXPECT_EQ(Pixels(*B), (std::vector<TColor32>{0xFF4422CDu, 0xFF775533u, 0xFFAB8866u}));
  auto C = MakeBitmap(1, 2);
  C->SetPixel(0, 0, 0xFF010203u);
  C->SetPixel(0, 1, 0xFF040506u);
  ShiftChannels(C.get(), 0, 1, 0, INT32_MIN);
  EXPECT_EQ(Pixels(*C), (std::vector<TColor32>{0xFF040200u, 0xFF000500u}));
}

}  // namespace
