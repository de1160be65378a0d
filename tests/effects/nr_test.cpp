// Noise reduction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "effects_fixtures.h"
#include "img_comp.h"
#include "img_conv.h"
#include "img_nr.h"
#include "img_rank.h"
#include "raster_blend.h"

namespace {

// A left half dark and a right half bright, both with noise of +-10.
std::unique_ptr<TBitmap32> NoisyEdge(int32_t W, int32_t H) {
  auto B = MakeBitmap(W, H);
  std::mt19937 Rng(7);
  std::uniform_int_distribution<int32_t> N(-10, 10);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) {
      const int32_t Base = x < W / 2 ? 60 : 190;
      B->SetPixel(x, y, MakeArgb(Base + N(Rng), Base + N(Rng), Base + N(Rng)));
    }
  return B;
}

// Mean absolute difference of red between neighbours in columns 2..Hi - 1.
double Roughness(const TBitmap32& B, int32_t Hi) {
  double Sum = 0;
  int Count = 0;
  for (int32_t y = 0; y < B.Height(); ++y)
    for (int32_t x = 2; x + 1 < Hi; ++x, ++Count) Sum += std::abs(RedOf(B.GetPixel(x, y)) - RedOf(B.GetPixel(x + 1, y)));
  return Sum / Count;
}

TEST(ReduceNoise, SmoothsFlatAreasKeepsTheEdgeAndScalesWithStrength) {
  auto Full = NoisyEdge(64, 48), Half = NoisyEdge(64, 48), None = NoisyEdge(64, 48);
  const double Before = Roughness(*Full, 28);
  const auto Original = Pixels(*None);
  ReduceNoise(Full.get(), 255);
  ReduceNoise(Half.get(), 100);
  ReduceNoise(None.get(), 0);
  EXPECT_EQ(Pixels(*None), Original) << "strength 0 blends every pixel with alpha 0";
  EXPECT_LT(Roughness(*Full, 28), Before * 0.7);
  EXPECT_LT(Roughness(*Full, 28), Roughness(*Half, 28));
  EXPECT_LT(Roughness(*Half, 28), Before);
  // The edge between columns 31 and 32 stays a step, not a ramp.
  double Left = 0, Right = 0;
  for (int32_t y = 0; y < 48; ++y) {
    Left += RedOf(Full->GetPixel(30, y));
    Right += RedOf(Full->GetPixel(33, y));
  }
  EXPECT_LT(Left / 48, 80);
  EXPECT_GT(Right / 48, 170);
}

TEST(ReduceNoise, FlatImagesKeepTheirColour) {
  // No variation at all: the mask's range is 0 and its stretch is skipped.
  for (TColor32 Fill : {0xFF808080u, 0xFF000000u, 0xFFFFFFFFu, 0xFF123456u}) {
    for (auto [W, H] : {std::pair{17, 9}, std::pair{1, 1}}) {
      auto B = MakeBitmap(W, H, Fill);
      ReduceNoise(B.get(), 200);
      for (TColor32 P : Pixels(*B)) EXPECT_EQ(P & 0xFFFFFF, Fill & 0xFFFFFF);
    }
  }
}

// The noise reduction rebuilt from its steps: the filters it runs (each checked
// in its own suite) and, written plainly here, what joins them: the mask's
// stretch by 255 / max, its inversion, the contrast of 8 around its mean, and
// the alpha of the final blend: the mask times the strength, shifted by 8.
std::vector<TColor32> ReduceNoiseModel(const TBitmap32& In, int32_t Strength) {
  static const int32_t Soft[9] = {1, 1, 1, 1, 2, 1, 1, 1, 1};
  static const int32_t Box[25] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  auto A = MakeBitmap(In.Width(), In.Height());
  A->Assign(&In);
  Convolve3x3Masked(Soft, 10, A.get(), 0, 7, 32);
  Convolve5x5Masked(Box, 25, A.get(), 0, 5, 32);
  auto B = MakeBitmap(In.Width(), In.Height());
  B->Assign(A.get());
  DeviationFilter(B.get(), 1, 255);
  Greyscale(B.get(), 255);
  // From here the mask is grey: one value a pixel, with its alpha.
  std::vector<int32_t> M;
  for (TColor32 P : Pixels(*B)) M.push_back(GreenOf(P));
  auto stretch = [&M] {
    const int32_t Lo = *std::min_element(M.begin(), M.end()), Hi = *std::max_element(M.begin(), M.end());
    if (Hi <= 0) return;
    const long double Factor = 255.0L / Hi;  // the factor as the adjustment forms it
    for (int32_t& v : M) v = std::clamp(static_cast<int32_t>(std::trunc((v - Lo) * Factor)), 0, 255);
  };
  stretch();
  for (int32_t& v : M) v = 255 - v;
  int64_t Sum = 0;
  for (int32_t v : M) Sum += v;
  const int64_t Mean = Sum / static_cast<int64_t>(M.size());
  for (int32_t& v : M) v = static_cast<int32_t>(std::clamp<int64_t>((v - Mean) * 8 + 128, 0, 255));
  stretch();
  for (size_t i = 0; i < M.size(); ++i) B->Bits()[i] = (B->Bits()[i] & 0xFF000000u) | GrayArgb(M[i], 0);
  Convolve3x3Masked(Soft, 10, B.get(), 0, 7, 32);
  for (int Pass = 0; Pass < 3; ++Pass) Convolve5x5Masked(Box, 25, A.get(), 0, 5, 16);
  std::vector<TColor32> Out = Pixels(In);
  for (size_t i = 0; i < Out.size(); ++i) {
    const uint32_t Alpha = static_cast<uint32_t>(GreenOf(B->Bits()[i])) * static_cast<uint32_t>(Strength) >> 8;
    // The blend itself is the raster's (checked against its per-channel model there).
    BlendPixelInto((A->Bits()[i] & 0x00FFFFFFu) | Alpha << 24, Out[i]);
  }
  EndMmx();
  return Out;
}

TEST(ReduceNoise, EveryPixelMatchesTheModelOfItsSteps) {
  std::mt19937 Rng(12);
  for (int32_t Strength : {255, 200, 128, 1})
    for (auto [W, H] : {std::pair{64, 48}, {9, 7}, {1, 5}}) {
      auto B = Strength == 200 ? RandomBitmap(W, H, Rng()) : NoisyEdge(W, H);
      const auto Expected = ReduceNoiseModel(*B, Strength);
      ReduceNoise(B.get(), Strength);
      ASSERT_EQ(Pixels(*B), Expected) << W << "x" << H << " strength " << Strength;
    }
}

}  // namespace
