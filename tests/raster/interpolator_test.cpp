// The bitmap's bilinear interpolator in both variants, alone and behind every
// bilinear read (24.8, 16.16 and float positions, clipped), against the plain
// model of each formula in tests/common/bilinear_model.h.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "bilinear_model.h"
#include "raster_core.h"
#include "raster_system.h"

namespace {

using bilinear_model::TModelBitmap;

// Runs each test once with the portable and once with the processor variant,
// and puts the start-up's choice back afterwards.
class InterpolatorVariants : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    saved_ = Interpolator;
    if (GetParam() && InterpolateProcessorVariant() == nullptr) GTEST_SKIP() << "no processor variant in this build";
    ASSERT_EQ(SelectInterpolator(GetParam()), GetParam());
  }
  void TearDown() override { Interpolator = saved_; }
  TInterpolator saved_ = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Bilinear, InterpolatorVariants, ::testing::Values(false, true),
                         [](const auto& Info) { return Info.param ? "Processor" : "Portable"; });

TEST_P(InterpolatorVariants, EveryChannelFollowsItsFormula) {
  // Weights on the rounding edges, and above 255 (taken as 255).
  const uint32_t Weights[] = {0, 1, 2, 127, 128, 129, 254, 255, 256, 1000};
  // Extremes that reach the saturation and the largest products, and random quads.
  std::vector<std::array<TColor32, 4>> Quads = {
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}, {0, 0, 0, 0},
      {0xFFFFFFFFu, 0, 0, 0xFFFFFFFFu},                     {0, 0xFFFFFFFFu, 0xFFFFFFFFu, 0},
      {0x00FF00FFu, 0xFF00FF00u, 0x01FE7F80u, 0x80817F7Eu}, {0x00000082u, 0, 0x00000082u, 0}};
  std::mt19937 Rng(25);
  for (int i = 0; i < 200; ++i) Quads.push_back({TColor32(Rng()), TColor32(Rng()), TColor32(Rng()), TColor32(Rng())});
  for (const auto& Q : Quads)
    for (uint32_t WX : Weights)
      for (uint32_t WY : Weights) {
        const TColor32 Top[2] = {Q[0], Q[1]}, Bottom[2] = {Q[2], Q[3]};
        ASSERT_EQ(Interpolator(WX, WY, Top, Bottom),
                  bilinear_model::Interpolate(GetParam(), WX, WY, Q[0], Q[1], Q[2], Q[3]))
            << std::hex << Q[0] << " " << Q[1] << " " << Q[2] << " " << Q[3] << std::dec << " wx " << WX
            << " wy " << WY;
      }
  // One worked case: a 130 beside a 0 at the half weight is 64 for the
  // portable mix (weights 128 and 127 of 256) and 65 for the processor one.
  const TColor32 Top[2] = {0, 130}, Bottom[2] = {0, 130};
  EXPECT_EQ(Interpolator(128, 255, Top, Bottom), GetParam() ? 65u : 64u);
}

TEST_P(InterpolatorVariants, EveryClippedReadUsesIt) {
  std::mt19937 Rng(2502);
  for (auto [W, H] : {std::pair{1, 1}, {2, 2}, {7, 5}, {1, 6}, {9, 1}}) {
    TBitmap32 B;
    B.SetSize(W, H);
    for (size_t i = 0; i < B.PixelCount(); ++i) B.Bits()[i] = static_cast<TColor32>(Rng());
    B.SetOuterColor(0x12345678u);
    for (const TRect& Clip : {TRect{0, 0, W, H}, TRect{1, 0, W, H - 1}, TRect{0, 1, W - 1, H}}) {
      B.SetClipRect(Clip);
      const TModelBitmap M(B, GetParam());
      // Every 24.8 position from a pixel before the image to one past it,
      // with the fraction stepping over its whole range.
      for (int32_t Y = -256; Y <= (H + 1) * 256; Y += 37)
        for (int32_t X = -256; X <= (W + 1) * 256; X += 29)
          ASSERT_EQ(B.GetPixel256Clipped(X, Y), M.Read256Clipped(X, Y)) << W << "x" << H << " at " << X << "," << Y;
      // The exact last column and row, where no neighbour is mixed in.
      for (int32_t Y = 0; Y < H; ++Y) ASSERT_EQ(B.GetPixel256Clipped((W - 1) * 256, Y * 256 + 100),
                                                M.Read256Clipped((W - 1) * 256, Y * 256 + 100));
      // 16.16 positions round to 24.8 by (v + 127) sar 8.
      for (int i = 0; i < 300; ++i) {
        const TFixed FX = static_cast<TFixed>(Rng() % ((W + 2) << 16)) - (1 << 16);
        const TFixed FY = static_cast<TFixed>(Rng() % ((H + 2) << 16)) - (1 << 16);
        ASSERT_EQ(B.GetPixelFixedClipped(FX, FY), M.Read256Clipped((int64_t{FX} + 127) >> 8, (int64_t{FY} + 127) >> 8))
            << FX << "," << FY;
      }
      for (int i = 0; i < 300; ++i) {
        const float FX = static_cast<float>(Rng() % 100000) / 100000.0f * (W + 1) - 0.5f;
        const float FY = static_cast<float>(Rng() % 100000) / 100000.0f * (H + 1) - 0.5f;
        ASSERT_EQ(B.GetPixelBilinear(FX, FY), M.ReadFloat(FX, FY)) << FX << "," << FY;
      }
    }
  }
}

// The model's gamma weights are an independent computation of the table the
// reads use; any difference would make the read tests above compare unlike things.
TEST(Interpolator, ReadsWeighWithTheGammaTable) {
  for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(GammaTable[i], bilinear_model::Gamma(i)) << i;
}

// The two variants stay close: per channel the processor result lies within
// two of the portable one. The processor mix's weights add up to 256 against
// the portable 255, so a single mix can come out one higher (the worked case
// above) or one lower, and after three mixes up to two either way.
TEST(Interpolator, VariantsDifferByAtMostTwoPerChannel) {
  if (InterpolateProcessorVariant() == nullptr) GTEST_SKIP() << "no processor variant in this build";
  const TInterpolator Processor = InterpolateProcessorVariant();
  std::mt19937 Rng(7);
  int Higher = 0, Lower = 0;
  for (int i = 0; i < 200000; ++i) {
    const TColor32 Top[2] = {TColor32(Rng()), TColor32(Rng())}, Bottom[2] = {TColor32(Rng()), TColor32(Rng())};
    const uint32_t WX = Rng() & 255, WY = Rng() & 255;
    const TColor32 P = InterpolatePortable(WX, WY, Top, Bottom), Q = Processor(WX, WY, Top, Bottom);
    for (int s = 0; s < 32; s += 8) {
      const int d = static_cast<int>((Q >> s) & 255) - static_cast<int>((P >> s) & 255);
      ASSERT_LE(std::abs(d), 2) << std::hex << P << " " << Q;
      Higher += d > 0;
      Lower += d < 0;
    }
  }
  EXPECT_GT(Higher, 0);
  EXPECT_GT(Lower, 0);
}

// The switch that forces the portable routines also decides the interpolator
// at start-up.
TEST(Interpolator, StartupChoosesByTheProcessorAndTheSwitch) {
  const TInterpolator Saved = Interpolator;
  const bool SavedForce = ForcePortable();
  SetForcePortable(true);
  RasterFoundationStartup();
  EXPECT_EQ(Interpolator, &InterpolatePortable);
  SetForcePortable(false);
  RasterFoundationStartup();
  if (InterpolateProcessorVariant() != nullptr && CpuMmxTest()) {
    EXPECT_EQ(Interpolator, InterpolateProcessorVariant());
  }
  SetForcePortable(SavedForce);
  RasterFoundationStartup();
  Interpolator = Saved;
}

}  // namespace
