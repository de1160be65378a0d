// Colour-space conversions and channel statistics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "effects_fixtures.h"
#include "img_comp.h"
#include "img_minmax.h"
#include "raster_blend.h"
#include "raster_system.h"

namespace {

int32_t MaxChannelDistance(TColor32 A, TColor32 B) {
  int32_t D = 0;
  for (int s = 0; s < 24; s += 8) D = std::max(D, std::abs(int32_t((A >> s) & 0xFF) - int32_t((B >> s) & 0xFF)));
  return D;
}

TEST(Greyscale, IntensityWithLevel) {
  auto B = MakeBitmap(2, 1, 0x80FF0000u);
  B->SetPixel(1, 0, 0x00FFFFFFu);
  Greyscale(B.get(), 255);
  EXPECT_EQ(B->GetPixel(0, 0), 0xFF3C3C3Cu);  // (255 * 61) shr 8 = 60
  EXPECT_EQ(B->GetPixel(1, 0), 0xFFFFFFFFu);
  // Level 0 changes nothing; a middle level blends as BlendPixelInto does.
  auto C = RandomBitmap(4, 4, 1);
  const auto Before = Pixels(*C);
  Greyscale(C.get(), 0);
  EXPECT_EQ(Pixels(*C), Before);
  Greyscale(C.get(), 77);
  for (size_t i = 0; i < Before.size(); ++i) {
    TColor32 Expected = Before[i];
    const TColor32 G = static_cast<TColor32>(IntensityOf(Before[i]));
    BlendPixelInto((77u << 24) | G * 0x010101u, Expected);
    EXPECT_EQ(C->Bits()[i], Expected);
  }
}

TEST(Greyscale, BothProcessorVariantsGiveTheIntensity) {
  const bool Saved = ForcePortable();
  for (bool Portable : {false, true}) {
    SetForcePortable(Portable || Saved);
    auto B = RandomBitmap(37, 11, 21);
    const auto Before = Pixels(*B);
    Greyscale(B.get(), 255);
    for (size_t i = 0; i < Before.size(); ++i)
      ASSERT_EQ(B->Bits()[i], GrayArgb(IntensityOf(Before[i]), 255)) << i << (Portable ? " portable" : "");
  }
  SetForcePortable(Saved);
}

TEST(ChannelConversions, SpreadAndKeep) {
  const TColor32 P = 0x80123456u;  // alpha 128, red 0x12, green 0x34, blue 0x56
  auto B = MakeBitmap(1, 1, P);
  ChannelToGrey(B.get(), 8);
  EXPECT_EQ(B->GetPixel(0, 0), 0x80343434u);
  B->SetPixel(0, 0, P);
  ChannelToGrey(B.get(), 16);
  EXPECT_EQ(B->GetPixel(0, 0), 0x80121212u);
  B->SetPixel(0, 0, P);
  KeepChannel(B.get(), 8);
  EXPECT_EQ(B->GetPixel(0, 0), 0x80003400u);
  B->SetPixel(0, 0, P);
  KeepChannel(B.get(), 0);
  EXPECT_EQ(B->GetPixel(0, 0), 0x80000056u);
}

TEST(YCbCr, KnownAnswersAndRoundTrip) {
  auto B = MakeBitmap(2, 1, 0x11FFFFFFu);
  B->SetPixel(1, 0, 0x22000000u);
  RgbToYCbCr(B.get());
  // Packed: red Cr, green Y, blue Cb.
  EXPECT_EQ(B->GetPixel(0, 0), 0x1181FE80u);  // Y 254, Cr 129, Cb 128
  EXPECT_EQ(B->GetPixel(1, 0), 0x22800080u);  // Y 0, Cr 128, Cb 128
  auto Z = MakeBitmap(1, 1, 0x33800080u);
  YCbCrToRgb(Z.get());
  EXPECT_EQ(Z->GetPixel(0, 0), 0x33000000u);
  // The halved tables make the round trip close to the identity, not exact.
  auto R = RandomBitmap(32, 32, 4);
  const auto Before = Pixels(*R);
  RgbToYCbCr(R.get());
  YCbCrToRgb(R.get());
  int32_t Worst = 0;
  for (size_t i = 0; i < Before.size(); ++i) {
    EXPECT_EQ(R->Bits()[i] >> 24, Before[i] >> 24);
    Worst = std::max(Worst, MaxChannelDistance(R->Bits()[i], Before[i]));
  }
  EXPECT_LE(Worst, 6);
}

TEST(Hsl, PackedBytesAndScale) {
  auto B = MakeBitmap(1, 1, 0x400000FFu);  // pure blue: H 4/6, S 1, L 0.5
  RgbToHslBytes(B.get());
  EXPECT_EQ(B->GetPixel(0, 0), 0x40AAFF80u);  // round(170), 255, round(127.5) = 128
  HslBytesToRgb(B.get());
  EXPECT_EQ(B->GetPixel(0, 0) >> 24, 0x40u);
  EXPECT_LE(MaxChannelDistance(B->GetPixel(0, 0), 0x400000FFu), 1);

  // All percentages 0 reproduce Src exactly (every colour survives the way to
  // H, S, L and back), into another bitmap or in place.
  auto Src = RandomBitmap(16, 16, 8);
  auto Dst = MakeBitmap(1, 1);
  HslScale(Dst.get(), Src.get(), 0, 0, 0, true, true, true);
  ASSERT_EQ(Dst->Width(), 16);
  EXPECT_EQ(Pixels(*Dst), Pixels(*Src));
  HslScale(Dst.get(), Dst.get(), 0, 0, 0, true, false, true);
  EXPECT_EQ(Pixels(*Dst), Pixels(*Src));
  // Lightness +100 % doubles L, capped at 1: everything turns white; only blue taken.
  HslScale(Dst.get(), Src.get(), 0, 0, 100, false, false, true);
  for (size_t i = 0; i < Src->PixelCount(); ++i) {
    const TColor32 S = Src->Bits()[i], D = Dst->Bits()[i];
    EXPECT_EQ(D & 0xFFFFFF00u, S & 0xFFFFFF00u);
    float H, Sa, L;
    HslFromArgb(S, H, Sa, L);
    if (L >= 0.5f) EXPECT_EQ(D & 0xFF, 0xFFu);
  }
  // Factors below zero are kept at 0 rather than producing wrapped bytes.
  HslScale(Dst.get(), Src.get(), -300, -300, -300, true, true, true);
  for (size_t i = 0; i < Src->PixelCount(); ++i) EXPECT_EQ(Dst->Bits()[i] & 0xFFFFFF, 0u);
}

TEST(Statistics, LevelsMinMaxAndMean) {
  auto B = MakeBitmap(4, 2, 0xFF000000u);
  for (int x = 0; x < 4; ++x) B->SetPixel(x, 1, 0xFFFFFFFFu);
  int32_t Lo = -1, Hi = -1;
  LevelsFromHistogram(B.get(), Lo, Hi);
  EXPECT_EQ(Lo, 0);
  EXPECT_EQ(Hi, 255);
  // Fewer than two pixels: both ends are the pixel's intensity, 0 when empty.
  auto One = MakeBitmap(1, 1, 0xFF00FF00u);
  LevelsFromHistogram(One.get(), Lo, Hi);
  EXPECT_EQ(Lo, 173);
  EXPECT_EQ(Hi, 173);
  auto Empty = MakeBitmap(0, 0);
  LevelsFromHistogram(Empty.get(), Lo, Hi);
  EXPECT_EQ(Lo, 0);
  EXPECT_EQ(Hi, 0);
  // One stray pixel among many is not significant.
  auto Many = MakeBitmap(100, 100, 0xFF808080u);
  Many->SetPixel(5, 5, 0xFFFFFFFFu);
  LevelsFromHistogram(Many.get(), Lo, Hi);
  EXPECT_EQ(Lo, 127);
  EXPECT_EQ(Hi, 129);

  auto C = MakeBitmap(3, 1, 0xFF000000u);
  C->SetPixel(0, 0, 0xFF102030u);
  C->SetPixel(1, 0, 0xFF405060u);
  C->SetPixel(2, 0, 0xFF0A90F0u);
  int32_t Mn = 0, Mx = 0;
  IntensityMinMax(C.get(), Mn, Mx);
  EXPECT_EQ(Mn, IntensityOf(0xFF102030u));
  EXPECT_EQ(Mx, IntensityOf(0xFF0A90F0u));
  GreenMinMax(C.get(), Mn, Mx);
  EXPECT_EQ(Mn, 0x20);
  EXPECT_EQ(Mx, 0x90);
  ChannelsMinMax(C.get(), Mn, Mx);
  EXPECT_EQ(Mn, 0x0A);
  EXPECT_EQ(Mx, 0xF0);
  EXPECT_EQ(GreenMean(C.get()), (0x20 + 0x50 + 0x90) / 3);
  IntensityMinMax(Empty.get(), Mn, Mx);
  EXPECT_EQ(Mn, 255);
  EXPECT_EQ(Mx, 0);
  EXPECT_EQ(GreenMean(Empty.get()), 0);
  EXPECT_EQ(GreenMean(nullptr), 0);
}

TEST(Statistics, LargePicturesSumWithoutOverflow) {
  // 3000 x 3000 pixels of green 255: the green sum 255 * 9e6 passes 2^31.
  auto B = MakeBitmap(3000, 3000, 0xFF00FF00u);
  EXPECT_EQ(GreenMean(B.get()), 255);
  // Exactly 2^21 white pixels on black: 2^21 * 2048 is 2^32, which a 32-bit
  // product would wrap to 0 and so lose the white level.
  std::fill(B->Bits(), B->Bits() + B->PixelCount(), 0xFF000000u);
  std::fill(B->Bits(), B->Bits() + (size_t{1} << 21), 0xFFFFFFFFu);
  int32_t Lo = -1, Hi = -1;
  LevelsFromHistogram(B.get(), Lo, Hi);
  EXPECT_EQ(Lo, 0);
  EXPECT_EQ(Hi, 255);
  EXPECT_EQ(GreenMean(B.get()), 59);  // 255 * 2^21 div 9e6
}

}  // namespace
