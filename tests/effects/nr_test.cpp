// Noise reduction.
#include <gtest/gtest.h>

#include <random>

#include "effects_fixtures.h"
#include "img_nr.h"

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

}  // namespace
