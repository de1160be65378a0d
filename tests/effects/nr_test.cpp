// Noise reduction.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "effects_fixtures.h"
#include "img_nr.h"

namespace {

// A left half dark and a right half bright, both with noise of +-Noise.
std::unique_ptr<TBitmap32> NoisyEdge(int32_t W, int32_t H, int32_t Noise, uint32_t Seed) {
  auto B = MakeBitmap(W, H);
  std::mt19937 Rng(Seed);
  std::uniform_int_distribution<int32_t> N(-Noise, Noise);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) {
      const int32_t Base = x < W / 2 ? 60 : 190;
      B->SetPixel(x, y, MakeArgb(Base + N(Rng), Base + N(Rng), Base + N(Rng)));
    }
  return B;
}

// Mean absolute difference of each pixel's red from its right neighbour's,
// over columns Lo..Hi - 1.
double Roughness(const TBitmap32& B, int32_t Lo, int32_t Hi) {
  double Sum = 0;
  int Count = 0;
  for (int32_t y = 0; y < B.Height(); ++y)
    for (int32_t x = Lo; x + 1 < Hi; ++x, ++Count) Sum += std::abs(RedOf(B.GetPixel(x, y)) - RedOf(B.GetPixel(x + 1, y)));
  return Sum / Count;
}

TEST(ReduceNoise, SmoothsFlatAreasAndKeepsTheEdge) {
  auto B = NoisyEdge(64, 48, 12, 7);
  const double Before = Roughness(*B, 2, 28);
  ReduceNoise(B.get(), 255);
  const double After = Roughness(*B, 2, 28);
  EXPECT_LT(After, Before * 0.7) << Before << " -> " << After;
  // The edge between columns 31 and 32 stays a step, not a ramp.
  double Left = 0, Right = 0;
  for (int32_t y = 0; y < 48; ++y) {
    Left += RedOf(B->GetPixel(30, y));
    Right += RedOf(B->GetPixel(33, y));
  }
  EXPECT_LT(Left / 48, 80);
  EXPECT_GT(Right / 48, 170);
}

TEST(ReduceNoise, StrengthScalesTheEffect) {
  auto Full = NoisyEdge(40, 30, 10, 3);
  auto Half = NoisyEdge(40, 30, 10, 3);
  auto None = NoisyEdge(40, 30, 10, 3);
  const auto Before = Pixels(*None);
  ReduceNoise(Full.get(), 255);
  ReduceNoise(Half.get(), 100);
  ReduceNoise(None.get(), 0);
  EXPECT_EQ(Pixels(*None), Before) << "strength 0 blends every pixel with alpha 0";
  EXPECT_LT(Roughness(*Full, 2, 18), Roughness(*Half, 2, 18));
  EXPECT_LT(Roughness(*Half, 2, 18), Roughness(*None, 2, 18));
}

TEST(ReduceNoise, FlatImagesKeepTheirColour) {
  // No variation at all: the mask's range is 0 and its stretch is skipped.
  for (TColor32 Fill : {0xFF808080u, 0xFF000000u, 0xFFFFFFFFu, 0xFF123456u}) {
    auto B = MakeBitmap(17, 9, Fill);
    ReduceNoise(B.get(), 200);
    for (TColor32 P : Pixels(*B)) EXPECT_EQ(P & 0xFFFFFF, Fill & 0xFFFFFF);
  }
  auto One = MakeBitmap(1, 1, 0xFF445566u);
  ReduceNoise(One.get(), 255);
  EXPECT_EQ(One->GetPixel(0, 0) & 0xFFFFFF, 0x445566u);
  ReduceNoise(nullptr, 255);
}

}  // namespace
