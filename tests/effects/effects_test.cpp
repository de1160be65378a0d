// Distortion and cell effects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "bilinear_model.h"
#include "effects_fixtures.h"
#include "img_common.h"
#include "img_effects.h"
#include "raster_blend.h"
#include "raster_parallel.h"

namespace {

// Cells are put with BlendPixel, whose processor form is not exact even for
// opaque colours; expectations go through it too.
TColor32 Put(TColor32 F, TColor32 B) { return BlendPixel(F, B); }

std::unique_ptr<TBitmap32> Opaque(int32_t W, int32_t H, uint32_t Seed) {
  auto B = RandomBitmap(W, H, Seed);
  for (size_t i = 0; i < B->PixelCount(); ++i) B->Bits()[i] |= 0xFF000000u;
  return B;
}

// The largest channel difference, leaving out the last row and column (where
// bilinear reads may fall just outside the image).
int32_t InteriorDistance(const TBitmap32& A, const TBitmap32& B) {
  int32_t D = 0;
  for (int32_t y = 0; y + 1 < A.Height(); ++y)
    for (int32_t x = 0; x + 1 < A.Width(); ++x)
      for (int S = 0; S < 32; S += 8)
        D = std::max(D, std::abs(int32_t((A.GetPixel(x, y) >> S) & 0xFF) - int32_t((B.GetPixel(x, y) >> S) & 0xFF)));
  return D;
}

TEST(EffectMosaic, CellsAreClippedAndTakeTheirMean) {
  // 4 x 4 with Radius 1: centres at 1 and 4; the second cell is column 3 / row 3 alone.
  auto B = MakeBitmap(4, 4);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) B->SetPixel(x, y, MakeArgb(10 * x + y, 3 * y, 200 - x));
  TBitmap32 Dst;
  EffectMosaic(&Dst, B.get(), 1, 0xFF000000u, 0);
  const TColor32 A = Put(MakeArgb(11, 3, 199), 0xFF000000u), C = Put(MakeArgb(31, 3, 197), 0xFF000000u);
  const TColor32 D = Put(MakeArgb(13, 9, 199), 0xFF000000u), E = Put(B->GetPixel(3, 3), 0xFF000000u);
  EXPECT_EQ(Pixels(Dst), (std::vector<TColor32>{A, A, A, C, A, A, A, C, A, A, A, C, D, D, D, E}));
  EffectMosaic(&Dst, B.get(), 0, 0, 0);
  EXPECT_EQ(Pixels(Dst), Pixels(*B)) << "radius 0 copies";
}

TEST(EffectMosaic, SolidCellsTakeTheBottomRightAlphaAndPowerFades) {
  auto B = MakeBitmap(3, 3, 0xFF204060u);
  B->SetPixel(2, 2, 0x00204060u);  // the last pixel summed is transparent
  TBitmap32 Dst;
  EffectMosaic(&Dst, B.get(), 1, 0xFF0000FFu, 0);
  EXPECT_EQ(Pixels(Dst), std::vector<TColor32>(9, Put(0x00204060u, 0xFF0000FFu)));
  // Centre of a 5 x 5 cell: rho = hypot(0.2, 0.2), alpha round(255 - 72.1) = 183;
  // a corner has rho above 1 and alpha 0. Dst and Src may be one bitmap.
  auto C = MakeBitmap(5, 5, 0xFFFFFFFFu);
  EffectMosaic(C.get(), C.get(), 2, 0xFF000000u, 1);
  EXPECT_EQ(C->GetPixel(2, 2), Put(0xB7FFFFFFu, 0xFF000000u));
  EXPECT_EQ(C->GetPixel(0, 0), Put(0x00FFFFFFu, 0xFF000000u));
}

TEST(EffectQuantize, DotSizeUsesTheRealRatio) {
  // Grey 160 on black paper, Radius 1: the dot radius sqrt(2) * 4/3 * 160/255
  // = 1.18 covers every pixel of the 3 x 3 cell (rho 0.47 or 1.05) but the
  // top-left corner (rho = sqrt 2). The integer ratio (D + 1) div D = 1 would give 0.89.
  auto B = MakeBitmap(3, 3, GrayArgb(160));
  TBitmap32 Dst;
  EffectQuantize(&Dst, B.get(), 1, 0xFFFFFFFFu, 0xFF000000u, false, false, false);
  std::vector<TColor32> Expected(9, Put(0xFFFFFFFFu, 0xFF000000u));
  Expected[0] = 0xFF000000u;
  EXPECT_EQ(Pixels(Dst), Expected);
  // On light paper dark cells get the large dots; a channel flag takes the cell's mean.
  auto Dark = MakeBitmap(3, 3, MakeArgb(10, 20, 30));
  EffectQuantize(&Dst, Dark.get(), 1, 0xFF000000u, 0xFFFFFFFFu, true, false, false);
  EXPECT_EQ(Dst.GetPixel(1, 1), Put(MakeArgb(10, 0, 0), 0xFFFFFFFFu));
}

TEST(EffectSpray, KeepsTheMultisetOfPixels) {
  SeedEffectRandom(12345);
  auto B = RandomBitmap(33, 21, 6);
  auto Before = Pixels(*B);
  EffectSprayInPlace(B.get(), 3);
  auto After = Pixels(*B);
  EXPECT_NE(After, Before);
  std::sort(Before.begin(), Before.end());
  std::sort(After.begin(), After.end());
  EXPECT_EQ(After, Before);
  auto Same = RandomBitmap(33, 21, 6);
  EffectSprayInPlace(Same.get(), 0);
  EXPECT_EQ(Pixels(*Same), Pixels(*RandomBitmap(33, 21, 6)));
}

TEST(EffectHole, OpaqueAtTheCentreUntouchedAtTheCorners) {
  auto B = RandomBitmap(10, 8, 2);
  const auto Before = Pixels(*B);
  EffectHoleInPlace(B.get(), 0xFF00FF00u, 1);
  EXPECT_EQ(B->GetPixel(5, 4), 0xFF00FF00u);
  EXPECT_EQ(B->GetPixel(0, 0), Before[0]);
  EXPECT_EQ(B->GetPixel(9, 7), Before[79]);
  // Power 0: rho^0 is 1 everywhere, every alpha 0, nothing changes.
  EffectHoleInPlace(B.get(), 0xFF00FF00u, 0);
  EffectHoleInPlace(B.get(), 0xFF00FF00u, 1);
  const auto Once = Pixels(*B);
  EffectHoleInPlace(B.get(), 0xFF00FF00u, 0);
  EXPECT_EQ(Pixels(*B), Once);
  // Every pixel as the formula gives it, on a picture split across threads.
  for (int32_t Threads : {1, 8}) {
    auto T = RandomBitmap(40, 700, 3);
    std::vector<TColor32> Want = Pixels(*T);
    for (int32_t y = 0; y < 700; ++y)
      for (int32_t x = 0; x < 40; ++x) {
        const long double Rho =
            CartesianToPolar(PixelToUnit(TFloatPoint{static_cast<float>(x), static_cast<float>(y)}, 40, 700)).Radius;
        const long double A = 255 - std::pow(Rho, 1.5f) * 255;
        const int32_t Alpha = A > 0 ? static_cast<int32_t>(std::min(255.0L, std::nearbyint(A))) : 0;
        BlendPixelInto(SetAlphaOf(0xFF102030u, Alpha), Want[static_cast<size_t>(y * 40 + x)]);
      }
    TThreadLimit Limit(Threads);
    EffectHoleInPlace(T.get(), 0xFF102030u, 1.5f);
    EXPECT_EQ(Pixels(*T), Want) << "on " << Threads;
  }
}

TEST(EffectTwirl, IdentityCasesAndWarpsWithoutAValue) {
  auto Src = Opaque(12, 9, 4);
  TBitmap32 Dst;
  EffectTwirl(&Dst, Src.get(), 1, 0);
  EXPECT_LE(InteriorDistance(Dst, *Src), 2) << "type 1 with amount 0 keeps every angle";
  // 6 x 2, type 3: R0 = round(hypot(3, 1)) = 3; only pixel (0, 0) lies further
  // (rho = 3.16), its inverse cosine has no value and it keeps its place.
  auto Six = Opaque(6, 2, 8);
  EffectTwirl(&Dst, Six.get(), 3, 0.5f);
  // Read at its own place: the pixel itself through the portable variant; the
  // processor variant mixes 1/256 of the neighbours in even there.
  const bilinear_model::TModelBitmap SixModel(*Six, Interpolator != &InterpolatePortable);
  EXPECT_EQ(Dst.GetPixel(0, 0), SixModel.ReadFloat(0, 0));
  EXPECT_NE(Pixels(Dst), Pixels(*Six));
  // One pixel wide: m = 0, and every type that divides by it leaves the image.
  auto Thin = Opaque(1, 7, 9);
  for (int32_t Type : {1, 2, 5, 6, 9}) {
    EffectTwirl(&Dst, Thin.get(), Type, 0.5f);
    EXPECT_EQ(Pixels(Dst), Pixels(*Thin)) << "type " << Type;
  }
  // A single pixel: R0 = 0 for types 3 and 4.
  auto Dot = MakeBitmap(1, 1, 0xFF123456u);
  for (int32_t Type : {3, 4}) {
    EffectTwirl(&Dst, Dot.get(), Type, 0.25f);
    EXPECT_EQ(Dst.GetPixel(0, 0), 0xFF123456u) << "type " << Type;
  }
}

TEST(EffectRoundAndShear, KnownPositions) {
  auto R = MakeBitmap(41, 41, 0xFF336699u);
  EffectRound(R.get());
  EXPECT_EQ(R->GetPixel(20, 5), 0xFF336699u) << "inside the ellipse the picture continues";
  EXPECT_NE(R->GetPixel(0, 0), 0xFF336699u) << "outside it the samples leave the image";
  // One pixel high: the horizontal cross term would be 0 / 0 and keeps 0;
  // pixel x reads position x * (1 + A) of the row.
  auto Row = MakeBitmap(8, 1);
  for (int32_t x = 0; x < 8; ++x) Row->SetPixel(x, 0, 0xFF000000u | static_cast<TColor32>(x * 30));
  ShearBitmap(Row.get(), 1, 0);
  EXPECT_EQ(Row->GetPixel(1, 0), 0xFF00003Cu);
  EXPECT_EQ(Row->GetPixel(3, 0), 0xFF0000B4u);
  auto S = Opaque(9, 7, 5);
  ShearBitmap(S.get(), 0, 0);
  EXPECT_LE(InteriorDistance(*S, *Opaque(9, 7, 5)), 2);
}

// Twirl, round and shear read their source through the bitmap's bilinear
// interpolator, in whichever variant the start-up chose: each output pixel is
// the model's read at the position the effect's own geometry gives.
TEST(BilinearEffects, SampleThroughTheInterpolatorInBothVariants) {
  using bilinear_model::TModelBitmap;
  const TInterpolator Saved = Interpolator;
  for (bool Processor : {false, true}) {
    if (Processor && InterpolateProcessorVariant() == nullptr) continue;
    ASSERT_EQ(SelectInterpolator(Processor), Processor);
    const char* Name = Processor ? "processor" : "portable";
    // Twirl and round run their rows on the threads: a tall picture too, on one thread and on eight.
    for (auto [W, H, Threads] : {std::tuple{23, 17, 1}, std::tuple{24, 600, 1}, std::tuple{24, 600, 8}}) {
      TThreadLimit Limit(Threads);
      auto Src = Opaque(W, H, 31);
      const TModelBitmap M(*Src, Processor);

      TBitmap32 Dst;
      EffectTwirl(&Dst, Src.get(), 2, 0.8f);
      const int32_t Cx = W >> 1, Cy = H >> 1;
      const long double Mr = std::min(Cx, Cy), A = 0.8f;
      for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
          TPolarPoint P = CartesianToPolar(TFloatPoint{static_cast<float>(x - Cx), static_cast<float>(y - Cy)});
          P.Angle = P.Angle + P.Radius / Mr * A * A * A;
          const TFloatPoint D = PolarToCartesian(P);
          ASSERT_EQ(Dst.GetPixel(x, y), M.ReadFloat(static_cast<float>(Cx + static_cast<long double>(D.X)),
                                                    static_cast<float>(Cy + static_cast<long double>(D.Y))))
              << "twirl " << Name << " " << x << "," << y;
        }

      auto R = Opaque(W, H, 31);
      EffectRound(R.get());
      for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
          const TFloatPoint U = PixelToUnit(TFloatPoint{static_cast<float>(x), static_cast<float>(y)}, W, H);
          TFloatPoint Px{static_cast<float>(x), static_cast<float>(y)};
          if (U.X != 0 && U.Y != 0) {
            TPolarPoint P = CartesianToPolar(U);
            const long double Rho = P.Radius;
            const long double S = std::min(Rho / std::fabs(static_cast<long double>(U.X)),
                                           Rho / std::fabs(static_cast<long double>(U.Y))) - 1;
            P.Radius = std::pow(Rho, 33) * (Rho * S) + Rho;
            Px = UnitToPixel(PolarToCartesian(P), W, H);
          }
          ASSERT_EQ(R->GetPixel(x, y), M.ReadFloat(Px.X, Px.Y)) << "round " << Name << " " << x << "," << y;
        }
    }

    auto Src = Opaque(23, 17, 31);
    const TModelBitmap M(*Src, Processor);
    const int32_t W = Src->Width(), H = Src->Height();

    auto S = Opaque(23, 17, 31);
    const long double SA = 0.3L, SB = -0.2L;
    ShearBitmap(S.get(), SA, SB);
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) {
        const long double X = x * (1 + SA) - W * SA * y / (H - 1), Y = y * (1 + SB) - H * SB * x / (W - 1);
        ASSERT_EQ(S->GetPixel(x, y), M.ReadFloat(static_cast<float>(X), static_cast<float>(Y)))
            << "shear " << Name << " " << x << "," << y;
      }
  }
  Interpolator = Saved;
}

}  // namespace
