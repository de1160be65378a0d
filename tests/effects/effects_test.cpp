// Distortion and cell effects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "effects_fixtures.h"
#include "img_effects.h"
#include "raster_blend.h"

namespace {

std::vector<TColor32> Sorted(std::vector<TColor32> V) {
  std::sort(V.begin(), V.end());
  return V;
}

// The cells are put with BlendPixel, whose processor form is not exact even
// for opaque colours; expectations go through it too.
TColor32 Put(TColor32 F, TColor32 B) { return BlendPixel(F, B); }

// The largest channel difference between two images, leaving out the last
// row and column (bilinear reads there may fall just outside the image).
int32_t InteriorDistance(const TBitmap32& A, const TBitmap32& B) {
  int32_t D = 0;
  for (int32_t y = 0; y + 1 < A.Height(); ++y)
    for (int32_t x = 0; x + 1 < A.Width(); ++x)
      for (int S = 0; S < 32; S += 8)
        D = std::max(D, std::abs(int32_t((A.GetPixel(x, y) >> S) & 0xFF) - int32_t((B.GetPixel(x, y) >> S) & 0xFF)));
  return D;
}

TEST(EffectMosaic, RadiusZeroCopiesAndCellsAreClipped) {
  auto Src = RandomBitmap(6, 5, 1);
  Src->SetOuterColor(0x11223344u);
  TBitmap32 Dst;
  EffectMosaic(&Dst, Src.get(), 0, 0xFF000000u, 0);
  EXPECT_EQ(Pixels(Dst), Pixels(*Src));
  EXPECT_EQ(Dst.OuterColor(), 0x11223344u);

  // 4 x 4 with Radius 1: centres at 1 and 4; the second cell is column 3 / row 3 alone.
  auto B = MakeBitmap(4, 4);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) B->SetPixel(x, y, MakeArgb(10 * x + y, 3 * y, 200 - x));
  EffectMosaic(&Dst, B.get(), 1, 0xFF000000u, 0);
  // Cell (1, 1): columns 0..2, rows 0..2: red mean (0+10+20)*3/9 + (0+1+2)*3/9 = 11, green 3.
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(Dst.GetPixel(x, y), Put(MakeArgb(11, 3, 199), 0xFF000000u));
  // Cell (4, 1): column 3 rows 0..2.
  for (int32_t y = 0; y < 3; ++y) EXPECT_EQ(Dst.GetPixel(3, y), Put(MakeArgb(31, 3, 197), 0xFF000000u));
  // Cell (4, 4): the single pixel (3, 3).
  EXPECT_EQ(Dst.GetPixel(3, 3), Put(B->GetPixel(3, 3), 0xFF000000u));
}

TEST(EffectMosaic, SolidCellsTakeTheBottomRightAlphaAndFadedCellsFade) {
  auto B = MakeBitmap(3, 3, 0xFF204060u);
  B->SetPixel(2, 2, 0x00204060u);  // the last pixel summed is transparent
  TBitmap32 Dst;
  EffectMosaic(&Dst, B.get(), 1, 0xFF0000FFu, 0);
  for (TColor32 P : Pixels(Dst)) EXPECT_EQ(P, Put(0x00204060u, 0xFF0000FFu)) << "the cell takes the transparent alpha";
  // With a power the cell is opaque-ish at its centre and gone at its corners.
  auto C = MakeBitmap(5, 5, 0xFFFFFFFFu);
  EffectMosaic(C.get(), C.get(), 2, 0xFF000000u, 1);
  // Centre of a 5 x 5 cell: rho = hypot(0.2, 0.2), alpha round(255 - 72.1) = 183.
  EXPECT_EQ(C->GetPixel(2, 2), Put(0xB7FFFFFFu, 0xFF000000u));
  EXPECT_EQ(RedOf(C->GetPixel(0, 0)), 0) << "rho^1 at a corner exceeds 1";
  EXPECT_LT(RedOf(C->GetPixel(1, 1)), RedOf(C->GetPixel(2, 2)));
  // Hostile arguments.
  EffectMosaic(C.get(), C.get(), std::numeric_limits<int32_t>::max(), 0, 1e30f);
  EffectMosaic(C.get(), C.get(), 3, 0, std::numeric_limits<float>::quiet_NaN());
  EffectMosaic(nullptr, C.get(), 3, 0, 1);
}

TEST(EffectQuantize, DotSizeUsesTheRealRatio) {
  // Grey 160 on black paper, Radius 1: t = 160/255 and the dot radius is
  // sqrt(2) * 4/3 * t = 1.18, which covers every pixel of the 3 x 3 cell but
  // the top-left corner (rho = sqrt 2); the others lie at 0.47 or 1.05. With
  // the integer ratio (D + 1) div D = 1 the radius would be 0.89.
  auto B = MakeBitmap(3, 3, GrayArgb(160));
  TBitmap32 Dst;
  EffectQuantize(&Dst, B.get(), 1, 0xFFFFFFFFu, 0xFF000000u, false, false, false);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 3; ++x)
      EXPECT_EQ(Dst.GetPixel(x, y), (x == 0 && y == 0) ? 0xFF000000u : Put(0xFFFFFFFFu, 0xFF000000u)) << x << "," << y;
  // On light paper dark cells get the large dots; a channel flag takes the cell's mean.
  auto Dark = MakeBitmap(3, 3, MakeArgb(10, 20, 30));
  EffectQuantize(&Dst, Dark.get(), 1, 0xFF000000u, 0xFFFFFFFFu, true, false, false);
  EXPECT_EQ(Dst.GetPixel(1, 1), Put(MakeArgb(10, 0, 0), 0xFFFFFFFFu));
  auto Bright = MakeBitmap(3, 3, 0xFFFFFFFFu);
  EffectQuantize(&Dst, Bright.get(), 1, 0xFF000000u, 0xFFFFFFFFu, false, false, false);
  for (TColor32 P : Pixels(Dst)) EXPECT_EQ(P, 0xFFFFFFFFu) << "a white cell on white paper has no dot";
}

TEST(EffectSpray, KeepsTheMultisetOfPixels) {
  SeedEffectRandom(12345);
  auto B = RandomBitmap(33, 21, 6);
  const auto Before = Pixels(*B);
  EffectSprayInPlace(B.get(), 3);
  EXPECT_NE(Pixels(*B), Before);
  EXPECT_EQ(Sorted(Pixels(*B)), Sorted(Before));
  auto Same = RandomBitmap(33, 21, 6);
  EffectSprayInPlace(Same.get(), 0);
  EXPECT_EQ(Pixels(*Same), Before);
  // The preview form leaves its source alone; huge radii swap only inside the image.
  TBitmap32 Dst;
  EffectSpray(&Dst, Same.get(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(Pixels(*Same), Before);
  EXPECT_EQ(Sorted(Pixels(Dst)), Sorted(Before));
}

TEST(EffectHole, OpaqueAtTheCentreUntouchedAtTheCorners) {
  auto B = RandomBitmap(10, 8, 2);
  const auto Before = Pixels(*B);
  EffectHoleInPlace(B.get(), 0xFF00FF00u, 1);
  EXPECT_EQ(B->GetPixel(5, 4), 0xFF00FF00u);
  EXPECT_EQ(B->GetPixel(0, 0), Before[0]);
  EXPECT_EQ(B->GetPixel(9, 7), Before[79]);
  TBitmap32 Dst;
  auto C = RandomBitmap(10, 8, 2);
  EffectHole(&Dst, C.get(), 0xFF00FF00u, std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(Pixels(Dst), Before) << "a power without a value adds nothing";
}

TEST(EffectTwirl, IdentityCasesAndWarpsWithoutAValue) {
  auto Src = RandomBitmap(12, 9, 4);
  for (size_t i = 0; i < Src->PixelCount(); ++i) Src->Bits()[i] |= 0xFF000000u;
  TBitmap32 Dst;
  EffectTwirl(&Dst, Src.get(), 1, 0);
  EXPECT_LE(InteriorDistance(Dst, *Src), 2) << "type 1 with amount 0 leaves every angle";
  EffectTwirl(&Dst, Src.get(), 42, 3);
  EXPECT_LE(InteriorDistance(Dst, *Src), 2) << "an unknown type changes nothing";
  // In place through a copy.
  auto Same = RandomBitmap(12, 9, 4);
  for (size_t i = 0; i < Same->PixelCount(); ++i) Same->Bits()[i] |= 0xFF000000u;
  EffectTwirl(Same.get(), Same.get(), 2, 0);
  EXPECT_LE(InteriorDistance(*Same, *Src), 2);

  // 6 x 2, type 3: R0 = round(hypot(3, 1)) = 3; only pixel (0, 0) lies further
  // (rho = 3.16), its inverse cosine has no value and it keeps its place.
  auto Six = RandomBitmap(6, 2, 8);
  for (size_t i = 0; i < Six->PixelCount(); ++i) Six->Bits()[i] |= 0xFF000000u;
  EffectTwirl(&Dst, Six.get(), 3, 0.5f);
  EXPECT_EQ(Dst.GetPixel(0, 0), Six->GetPixel(0, 0));
  EXPECT_NE(Pixels(Dst), Pixels(*Six));

  // One pixel wide: m = 0, and every type that divides by it leaves the image.
  auto Thin = RandomBitmap(1, 7, 9);
  for (size_t i = 0; i < Thin->PixelCount(); ++i) Thin->Bits()[i] |= 0xFF000000u;
  for (int32_t Type : {1, 2, 5, 6, 9}) {
    EffectTwirl(&Dst, Thin.get(), Type, 0.5f);
    EXPECT_EQ(Pixels(Dst), Pixels(*Thin)) << "type " << Type;
  }
  // A single pixel (R0 = 0) and hostile amounts.
  auto Dot = MakeBitmap(1, 1, 0xFF123456u);
  for (int32_t Type = 1; Type <= 9; ++Type) {
    EffectTwirl(&Dst, Dot.get(), Type, 0.25f);
    // Types 7 and 8 move rho by a term of their own even at the centre.
    if (Type != 7 && Type != 8) {
      EXPECT_EQ(Dst.GetPixel(0, 0), 0xFF123456u) << "type " << Type;
    }
    EffectTwirl(&Dst, Src.get(), Type, -1);  // k = 0
    EffectTwirl(&Dst, Src.get(), Type, std::numeric_limits<float>::max());
    EffectTwirl(&Dst, Src.get(), Type, std::numeric_limits<float>::quiet_NaN());
  }
}

TEST(EffectRound, KeepsTheCentreAndFillsTheEllipse) {
  auto B = MakeBitmap(41, 41, 0xFF336699u);
  B->SetPixel(20, 20, 0xFFFFFFFFu);
  EffectRound(B.get());
  // The centre is not moved (the bilinear read mixes in a trace of its neighbours).
  EXPECT_GE(RedOf(B->GetPixel(20, 20)), 250);
  EXPECT_GE(BlueOf(B->GetPixel(20, 20)), 250);
  EXPECT_EQ(B->GetPixel(20, 5), 0xFF336699u);
  EXPECT_EQ(B->GetPixel(10, 30), 0xFF336699u);
  EXPECT_NE(B->GetPixel(0, 0), 0xFF336699u) << "outside the ellipse the samples leave the image";
  TBitmap32 Empty;
  EffectRound(&Empty);
}

TEST(ShearBitmap, ZeroIsIdentityAndThinImagesHaveNoCrossTerm) {
  auto B = RandomBitmap(9, 7, 5);
  for (size_t i = 0; i < B->PixelCount(); ++i) B->Bits()[i] |= 0xFF000000u;
  const auto Before = Pixels(*B);
  auto Copy = RandomBitmap(9, 7, 5);
  for (size_t i = 0; i < Copy->PixelCount(); ++i) Copy->Bits()[i] |= 0xFF000000u;
  ShearBitmap(B.get(), 0, 0);
  EXPECT_LE(InteriorDistance(*B, *Copy), 2);
  // One pixel high: the horizontal cross term would be 0 / 0 and keeps 0;
  // pixel x reads position x * (1 + A) of the row.
  auto Row = MakeBitmap(8, 1);
  for (int32_t x = 0; x < 8; ++x) Row->SetPixel(x, 0, 0xFF000000u | static_cast<TColor32>(x * 30));
  ShearBitmap(Row.get(), 1, 0);
  EXPECT_EQ(Row->GetPixel(0, 0), 0xFF000000u);
  EXPECT_EQ(Row->GetPixel(1, 0), 0xFF00003Cu);
  EXPECT_EQ(Row->GetPixel(3, 0), 0xFF0000B4u);
  auto Column = MakeBitmap(1, 5, 0xFF010203u);
  ShearBitmap(Column.get(), 0.5L, 0);
  EXPECT_EQ(Column->GetPixel(0, 0), 0xFF010203u);
  ShearBitmap(Column.get(), std::numeric_limits<long double>::quiet_NaN(), 1e4000L);
}

}  // namespace
