// Common effect helpers and the combinations with a second image.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "effects_fixtures.h"
#include "img_common.h"
#include "raster_blend.h"
#include "raster_filterindex.h"

namespace {

constexpr long double kHalfPi = 1.570796326794896619231321691639751442L;

TEST(CommonHelpers, ClampAndGeometry) {
  EXPECT_EQ(ClampToByte(-1), 0);
  EXPECT_EQ(ClampToByte(256), 255);
  EXPECT_EQ(ClampToByte(255), 255);
  EXPECT_EQ(ClampToByte(std::numeric_limits<int32_t>::min()), 0);

  // Not atan2: the vertical axis, origin included, points up or down.
  TPolarPoint P = CartesianToPolar(TFloatPoint{0, -3});
  EXPECT_DOUBLE_EQ(static_cast<double>(P.Radius), 3.0);
  EXPECT_DOUBLE_EQ(static_cast<double>(P.Angle), static_cast<double>(-kHalfPi));
  P = CartesianToPolar(TFloatPoint{0, 0});
  EXPECT_EQ(P.Radius, 0);
  EXPECT_DOUBLE_EQ(static_cast<double>(P.Angle), static_cast<double>(kHalfPi));
  P = CartesianToPolar(TFloatPoint{-1, 0});
  EXPECT_NEAR(static_cast<double>(P.Angle), M_PI, 1e-12);
  const TFloatPoint Back = PolarToCartesian(CartesianToPolar(TFloatPoint{3, -4}));
  EXPECT_NEAR(Back.X, 3.0f, 1e-5);
  EXPECT_NEAR(Back.Y, -4.0f, 1e-5);

  const TFloatPoint U = PixelToUnit(TFloatPoint{0, 50}, 100, 200);
  EXPECT_FLOAT_EQ(U.X, -1.0f);
  EXPECT_FLOAT_EQ(U.Y, -0.5f);
  const TFloatPoint Px = UnitToPixel(U, 100, 200);
  EXPECT_FLOAT_EQ(Px.X, 0.0f);
  EXPECT_FLOAT_EQ(Px.Y, 50.0f);

  const TFloatRect C = ClipFloatRect(TFloatRect{-5, 2, 500, 3}, TFloatRect{0, 0, 10, 10});
  EXPECT_EQ(C.Left, 0);
  EXPECT_EQ(C.Top, 2);
  EXPECT_EQ(C.Right, 10);
  EXPECT_EQ(C.Bottom, 3);
  const TFloatRect Out = ClipFloatRect(TFloatRect{20, 20, 30, 30}, TFloatRect{0, 0, 10, 10});
  EXPECT_EQ(Out.Left, 9);  // kept one pixel inside the bounds
  EXPECT_EQ(Out.Right, 10);
  const TRect R = RoundRectF(TFloatRect{0.5f, 1.5f, 2.5f, std::nanf("")});
  EXPECT_EQ(R.Left, 0);
  EXPECT_EQ(R.Top, 2);
  EXPECT_EQ(R.Right, 2);
  EXPECT_EQ(R.Bottom, 0);
  auto B = MakeBitmap(7, 3);
  EXPECT_EQ(BitmapBounds(B.get()).Right, 7);
  EXPECT_EQ(BitmapBounds(nullptr).Right, 0);
  EXPECT_EQ(BitmapFloatBounds(B.get()).Bottom, 3.0f);
}

TEST(CommonHelpers, AlphaBounds) {
  auto B = MakeBitmap(10, 8, 0x00FFFFFFu);
  // No content: Left greater than Right.
  TRect R = AlphaBounds(B.get(), 2, 3);
  EXPECT_EQ(R.Left, 7);
  EXPECT_EQ(R.Top, 4);
  EXPECT_EQ(R.Right, 2);
  EXPECT_EQ(R.Bottom, 3);
  B->SetPixel(3, 2, 0x01000000u);
  B->SetPixel(5, 6, 0xFF000000u);
  R = AlphaBounds(B.get(), 1, 1);
  EXPECT_EQ(R.Left, 2);
  EXPECT_EQ(R.Top, 1);
  EXPECT_EQ(R.Right, 6);
  EXPECT_EQ(R.Bottom, 7);  // inclusive, clamped to Height - 1
  R = AlphaBounds(B.get(), std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(R.Left, 0);
  EXPECT_EQ(R.Right, 9);
}

TEST(CopyHelpers, CopyPropsAndPlacement) {
  auto Src = RandomBitmap(4, 3, 1);
  Src->SetDrawMode(dmBlend);
  Src->SetMasterAlpha(77);
  Src->SetOuterColor(0x12345678u);
  SetStretchFilter(Src.get(), 5);
  auto Dst = MakeBitmap(9, 9, 0xFFFFFFFFu);
  CopyBitmap(Dst.get(), Src.get(), true);
  EXPECT_EQ(Pixels(*Dst), Pixels(*Src));
  EXPECT_EQ(Dst->DrawMode(), dmBlend);
  EXPECT_EQ(Dst->MasterAlpha(), 77u);
  EXPECT_EQ(Dst->OuterColor(), 0x12345678u);
  EXPECT_EQ(StretchFilterIndex(Dst->Resampler()), 5);
  // An empty source still resizes the destination.
  auto Empty = MakeBitmap(0, 0);
  CopyBitmap(Dst.get(), Empty.get(), false);
  EXPECT_EQ(Dst->Width(), 0);
  EXPECT_EQ(Dst->Height(), 0);
  CopyBitmap(nullptr, Src.get(), true);

  // Placed at (-1, 2) on a 3x4 bitmap: only the visible part lands.
  auto Canvas = MakeBitmap(3, 4, 0);
  CopyBitmapAt(Canvas.get(), Src.get(), -1, 2, false);
  EXPECT_EQ(Canvas->Width(), 3);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) {
      const bool Inside = y >= 2 && x + 1 < 4 && y - 2 < 3;
      EXPECT_EQ(Canvas->GetPixel(x, y), Inside ? Src->GetPixel(x + 1, y - 2) : 0u) << x << "," << y;
    }
  CopyBitmapAt(Canvas.get(), Src.get(), std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min(),
               false);

  // Stretch to fit keeps Dst's size and fills it from the whole of Src.
  auto Flat = MakeBitmap(2, 2, 0xFF336699u);
  auto Big = MakeBitmap(6, 5, 0);
  StretchToFit(Big.get(), Flat.get(), false);
  EXPECT_EQ(Big->Width(), 6);
  for (TColor32 P : Pixels(*Big)) EXPECT_EQ(P, 0xFF336699u);
}

TEST(BufferCombination, DifferenceAddModulate) {
  auto A = RandomBitmap(6, 5, 2);
  const auto Before = Pixels(*A);
  DifferenceWith(A.get(), A.get(), 0);
  EXPECT_EQ(Pixels(*A), Before) << "level 0";
  auto Copy = MakeBitmap(6, 5);
  std::copy(Before.begin(), Before.end(), Copy->Bits());
  DifferenceWith(A.get(), Copy.get(), 255);
  for (TColor32 P : Pixels(*A)) EXPECT_EQ(P, 0xFF000000u);

  auto X = MakeBitmap(1, 1, 0x10C08040u), Y = MakeBitmap(1, 1, 0x20608090u);
  AddWith(X.get(), Y.get(), 255);
  EXPECT_EQ(X->GetPixel(0, 0), 0xFFFFFFD0u);
  X->SetPixel(0, 0, 0x10C08040u);
  ModulateWith(X.get(), Y.get(), 255);
  EXPECT_EQ(X->GetPixel(0, 0), 0xFF484024u);  // 0xC0*0x60>>8, 0x80*0x80>>8, 0x40*0x90>>8
  // A middle level blends the result over the old pixel.
  X->SetPixel(0, 0, 0xFF102030u);
  DifferenceWith(X.get(), Y.get(), 128);
  TColor32 Expected = 0xFF102030u;
  BlendPixelInto(0x80506060u, Expected);
  EXPECT_EQ(X->GetPixel(0, 0), Expected);
  // A buffer of another size is stretched first: a flat buffer stays flat.
  auto Small = MakeBitmap(3, 2, 0xFF010203u);
  auto Target = MakeBitmap(7, 4, 0xFF101010u);
  AddWith(Target.get(), Small.get(), 255);
  for (TColor32 P : Pixels(*Target)) EXPECT_EQ(P, 0xFF111213u);
  AddWith(Target.get(), nullptr, 255);
  AddWith(Target.get(), MakeBitmap(0, 3).get(), 255);
}

TEST(BufferCombination, MergeWithOpacityRestoresMasterAlpha) {
  auto Bmp = MakeBitmap(4, 4, 0xFF000000u);
  auto Other = MakeBitmap(4, 4, 0xFFFFFFFFu);
  Other->SetMasterAlpha(33);
  MergeWithOpacity(Bmp.get(), Other.get(), 255);
  EXPECT_EQ(Other->MasterAlpha(), 33u);
  for (TColor32 P : Pixels(*Bmp)) EXPECT_EQ(P, 0xFFFFFFFFu);  // opaque pixels at full opacity are copied
  auto Bmp2 = MakeBitmap(4, 4, 0xFF000000u);
  MergeWithOpacity(Bmp2.get(), Other.get(), 0);
  for (TColor32 P : Pixels(*Bmp2)) EXPECT_EQ(P, 0xFF000000u);
  EXPECT_EQ(Other->MasterAlpha(), 33u);
  // Out-of-range opacity is limited; another size goes through the stretch.
  auto Bmp3 = MakeBitmap(9, 5, 0xFF000000u);
  MergeWithOpacity(Bmp3.get(), Other.get(), 100000);
  EXPECT_EQ(Other->MasterAlpha(), 33u);
  // The stretch blends each pixel with the master routine: 255 over 0 gives 254.
  for (TColor32 P : Pixels(*Bmp3)) EXPECT_EQ(P & 0xFFFFFF, 0xFEFEFEu);
  MergeWithOpacity(Bmp3.get(), nullptr, 10);
  MergeWithOpacity(nullptr, Other.get(), 10);
}

TEST(BufferCombination, SwapKeepsEachSize) {
  auto A = MakeBitmap(100, 50, 0xFF0000FFu);
  auto B = MakeBitmap(20, 20, 0xFFFF0000u);
  SwapBitmaps(A.get(), B.get());
  EXPECT_EQ(A->Width(), 100);
  EXPECT_EQ(A->Height(), 50);
  EXPECT_EQ(B->Width(), 20);
  for (TColor32 P : Pixels(*A)) EXPECT_EQ(P, 0xFFFF0000u);
  for (TColor32 P : Pixels(*B)) EXPECT_EQ(P, 0xFF0000FFu);
  auto C = RandomBitmap(3, 3, 1), D = RandomBitmap(3, 3, 2);
  const auto CB = Pixels(*C), DB = Pixels(*D);
  SwapBitmaps(C.get(), D.get());
  EXPECT_EQ(Pixels(*C), DB);
  EXPECT_EQ(Pixels(*D), CB);
  auto E = MakeBitmap(0, 0);
  SwapBitmaps(C.get(), E.get());
  EXPECT_EQ(Pixels(*C), DB);
}

}  // namespace
