// Convolution, sharpening and edge magnitude.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "effects_fixtures.h"
#include "img_conv.h"
#include "raster_parallel.h"
#include "raster_system.h"

namespace {

// The filter written the plain way: clamped coordinates, a 64-bit sum cut to
// 32 bits, division toward zero, then the bias. Masked form included.
std::vector<TColor32> Reference(const std::vector<TColor32>& In, int32_t W, int32_t H, const int32_t* K, int32_t KS,
                                int32_t Div, int32_t Bias, int32_t Channels = 7, int32_t Threshold = 1 << 30) {
  std::vector<TColor32> Out(In);
  const int32_t R = KS / 2;
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x)
      for (int c = 0; c < 3; ++c) {
        if ((Channels & (1 << c)) == 0) continue;
        int64_t S = 0;
        for (int32_t k = 0; k < KS * KS; ++k) {
          const int32_t sx = std::clamp(x + k % KS - R, 0, W - 1), sy = std::clamp(y + k / KS - R, 0, H - 1);
          S += int64_t{K[k]} * ((In[sy * W + sx] >> (8 * c)) & 0xFF);
        }
        const int64_t S32 = static_cast<int32_t>(static_cast<uint32_t>(S));
        const int64_t V = std::clamp<int64_t>(S32 / Div + Bias, 0, 255);
        const int32_t Old = (In[y * W + x] >> (8 * c)) & 0xFF;
        if (std::abs(V - Old) >= Threshold) continue;
        TColor32& P = Out[y * W + x];
        P = (P & ~(0xFFu << (8 * c))) | (static_cast<TColor32>(V) << (8 * c));
      }
  return Out;
}

TEST(Convolve, ImpulseResponseIsTheKernelUnmirrored) {
  // A single bright pixel on black: the output around it is the kernel read
  // backwards through the correlation, so entry k shows at (2 - k mod 3, 2 - k div 3).
  const int32_t K3[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  auto B = MakeBitmap(5, 5, 0xFF000000u);
  B->SetPixel(2, 2, 0xFF0A0A0Au);
  Convolve3x3(K3, 1, B.get(), 0);
  for (int32_t k = 0; k < 9; ++k) {
    const TColor32 P = B->GetPixel(1 + 2 - k % 3, 1 + 2 - k / 3);
    EXPECT_EQ(P, 0xFF000000u | (0x010101u * (10 * K3[k]))) << "entry " << k;
  }
  int32_t K5[25];
  for (int i = 0; i < 25; ++i) K5[i] = i + 1;
  auto C = MakeBitmap(7, 7, 0x00000000u);
  C->SetPixel(3, 3, 0x00050505u);
  Convolve5x5(K5, 1, C.get(), 0);
  for (int32_t k = 0; k < 25; ++k)
    EXPECT_EQ(C->GetPixel(1 + 4 - k % 5, 1 + 4 - k / 5), std::min(255, 5 * K5[k]) * 0x010101u) << "entry " << k;
}

TEST(Convolve, FlatImagesShowDivisorAndBias) {
  const int32_t Blur[9] = {1, 1, 1, 1, 4, 1, 1, 1, 1};
  auto A = MakeBitmap(6, 4, 0x7F405060u);
  Convolve3x3(Blur, 12, A.get(), 0);
  for (TColor32 P : Pixels(*A)) EXPECT_EQ(P, 0x7F405060u);
  // Sum 12 * v, divisor 6: twice the value, plus a bias of -10, clamped.
  auto B = MakeBitmap(3, 3, 0x10408090u);
  Convolve3x3(Blur, 6, B.get(), -10);
  for (TColor32 P : Pixels(*B)) EXPECT_EQ(P, 0x1076F6FFu);
  // A zero-sum kernel turns a flat image black and keeps alpha.
  const int32_t Laplace[9] = {0, -1, 0, -1, 4, -1, 0, -1, 0};
  auto C = MakeBitmap(4, 4, 0x33ABCDEFu);
  Convolve3x3(Laplace, 1, C.get(), 0);
  for (TColor32 P : Pixels(*C)) EXPECT_EQ(P, 0x33000000u);
  // 5x5 box of 25 with divisor 25 is the identity on a flat image; a 1x1 image too.
  int32_t Box[25];
  std::fill(Box, Box + 25, 1);
  auto D = MakeBitmap(1, 1, 0xFF123456u);
  Convolve5x5(Box, 25, D.get(), 0);
  EXPECT_EQ(D->GetPixel(0, 0), 0xFF123456u);
  auto E = MakeBitmap(1, 1, 0xFF123456u);
  Convolve3x3(Blur, 12, E.get(), 0);
  EXPECT_EQ(E->GetPixel(0, 0), 0xFF123456u);
}

TEST(Convolve, NegativeSumsTruncateTowardZeroBeforeTheBias) {
  // Centre weight -7 on a flat value of 1: S = -7, -7 div 2 = -3, + 127 = 124 (a shift would give 123).
  const int32_t K[9] = {0, 0, 0, 0, -7, 0, 0, 0, 0};
  auto B = MakeBitmap(2, 2, 0xFF010101u);
  Convolve3x3(K, 2, B.get(), 127);
  for (TColor32 P : Pixels(*B)) EXPECT_EQ(P, 0xFF7C7C7Cu);
}

// Both processor variants (baseline and AVX2 where the machine has it) must
// give the plain filter's bytes.
class ConvolveVariants : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    saved_ = ForcePortable();
    SetForcePortable(GetParam() || saved_);
  }
  void TearDown() override { SetForcePortable(saved_); }
  bool saved_ = false;
};

INSTANTIATE_TEST_SUITE_P(Convolve, ConvolveVariants, ::testing::Values(false, true),
                         [](const auto& Info) { return Info.param ? "Portable" : "Best"; });

TEST_P(ConvolveVariants, MatchesThePlainFilterForEveryAccumulatorWidth) {
  std::mt19937 Rng(7);
  struct Case {
    std::vector<int32_t> K;
    int32_t Div, Bias;
  };
  const std::vector<Case> Cases3 = {
      {{1, 2, 1, 2, 4, 2, 1, 2, 1}, 16, 0},            // non-negative, power-of-two divisor
      {{1, 1, 1, 1, 4, 1, 1, 1, 1}, 12, 3},            // non-negative, other divisor
      {{-1, -2, -1, 0, 0, 0, 1, 2, 1}, -3, 127},       // signed, negative divisor
      {{-1, -1, -1, -1, 9, -1, -1, -1, -1}, 1, 0},     // signed, divisor 1
      {{1000, -3000, 7, 0, 255, 0, 9, 9, -70000}, 37, -5},  // needs 32-bit sums
      {{0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF,
        0x7FFFFFFF}, 7, 0},                             // wraps in 32 bits
  };
  for (const Case& C : Cases3) {
    for (auto [W, H] : {std::pair{1, 1}, {2, 3}, {17, 5}, {600, 3}}) {
      auto B = RandomBitmap(W, H, Rng());
      const auto Expected = Reference(Pixels(*B), W, H, C.K.data(), 3, C.Div, C.Bias);
      Convolve3x3(C.K.data(), C.Div, B.get(), C.Bias);
      EXPECT_EQ(Pixels(*B), Expected) << "3x3 " << W << "x" << H << " div " << C.Div;
    }
  }
  // Signed kernels at the edge of the 16-bit sums: absolute weights of 128 fit
  // them, 129 to 257 do not (a narrower accumulator wraps there), and 257
  // non-negative ones still fit unsigned sums. Pixels of 0 and 255 only, so
  // partial sums reach the extremes.
  const std::vector<Case> Edge3 = {
      {{0, 0, 0, 0, 128, 0, 0, 0, 0}, 128, 0},          // 128, non-negative
      {{-1, 0, 0, 0, 127, 0, 0, 0, 0}, 127, 0},         // 128, signed
      {{0, 0, 0, 0, 128, 0, 0, 0, -1}, 128, 0},         // 129
      {{-60, 0, 0, 0, 130, 0, 0, 0, 0}, 70, 1},         // 190
      {{-50, -50, -28, 0, 128, 0, 0, 0, 1}, 1, 40},     // 257
      {{-1, -1, -1, -1, 253, 0, 0, 0, 0}, -251, 255},   // 257, negative divisor
      {{1, 1, 1, 1, 249, 1, 1, 1, 1}, 257, 0},          // 257, non-negative
  };
  for (const Case& C : Edge3) {
    auto B = RandomBitmap(37, 11, Rng());
    for (size_t i = 0; i < B->PixelCount(); ++i) {
      const TColor32 Top = B->Bits()[i] & 0x80808080u;  // each byte to 0 or 255
      B->Bits()[i] = (Top >> 7) * 0xFF;
    }
    const auto Expected = Reference(Pixels(*B), 37, 11, C.K.data(), 3, C.Div, C.Bias);
    Convolve3x3(C.K.data(), C.Div, B.get(), C.Bias);
    EXPECT_EQ(Pixels(*B), Expected) << "3x3 edge kernel centre " << C.K[4] << " div " << C.Div;
  }
  for (int Trial = 0; Trial < 6; ++Trial) {
    std::vector<int32_t> K(25);
    const int32_t Span = Trial < 2 ? 3 : (Trial < 4 ? 300 : 1 << 20);
    for (auto& V : K) V = static_cast<int32_t>(Rng() % (2 * Span + 1)) - (Trial % 2 == 0 ? 0 : Span);
    const int32_t Div = (Trial % 3 == 0) ? 1 : static_cast<int32_t>(Rng() % 50) - 25;
    if (Div == 0) continue;
    auto B = RandomBitmap(9, 6, Rng());
    const auto Expected = Reference(Pixels(*B), 9, 6, K.data(), 5, Div, 17);
    Convolve5x5(K.data(), Div, B.get(), 17);
    EXPECT_EQ(Pixels(*B), Expected) << "5x5 trial " << Trial;
  }
}

TEST(Convolve, MaskedFormsRespectChannelsAndThreshold) {
  const int32_t K[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  auto B = RandomBitmap(8, 7, 11);
  const auto Before = Pixels(*B);
  Convolve3x3Masked(K, 9, B.get(), 0, 7, 0);
  EXPECT_EQ(Pixels(*B), Before) << "threshold 0";
  Convolve3x3Masked(K, 9, B.get(), 0, 0, 255);
  EXPECT_EQ(Pixels(*B), Before) << "no channels";
  Convolve3x3Masked(K, 9, B.get(), 0, 4 | 1, 40);
  EXPECT_EQ(Pixels(*B), Reference(Before, 8, 7, K, 3, 9, 0, 4 | 1, 40));
  int32_t K5[25];
  std::fill(K5, K5 + 25, 1);
  auto C = RandomBitmap(6, 9, 12);
  const auto Before5 = Pixels(*C);
  Convolve5x5Masked(K5, 25, C.get(), 2, 2, 60);
  EXPECT_EQ(Pixels(*C), Reference(Before5, 6, 9, K5, 5, 25, 2, 2, 60));
}

TEST(Convolve, HostileArgumentsChangeNothing) {
  const int32_t K[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  auto B = RandomBitmap(5, 5, 3);
  const auto Before = Pixels(*B);
  Convolve3x3(K, 0, B.get(), 0);
  Convolve5x5(nullptr, 1, B.get(), 0);
  Convolve3x3(K, 1, nullptr, 0);
  EXPECT_EQ(Pixels(*B), Before);
  auto Empty = MakeBitmap(0, 4);
  Convolve3x3(K, 1, Empty.get(), 0);
  EXPECT_EQ(Empty->Width(), 0);
}

TEST(Convolve, BlurMapPixelReadsBlueOnly) {
  TColor32 P = 0x80FFFF7Fu;
  BlurMapPixel(&P);
  EXPECT_EQ(P, 0x80000000u);
  P = 0x12345600u;
  BlurMapPixel(&P);
  EXPECT_EQ(P, 0x12FEFEFEu);
  P = 0xFF0000FFu;  // |255 - 127| * 2 = 256, clamped
  BlurMapPixel(&P);
  EXPECT_EQ(P, 0xFFFFFFFFu);
  auto B = MakeBitmap(3, 2, 0xFF00007Fu);
  int Calls = 0;
  ForEachPixel(B.get(), [&](TColor32* Px) {
    ++Calls;
    BlurMapPixel(Px);
  });
  EXPECT_EQ(Calls, 6);
  for (TColor32 Px : Pixels(*B)) EXPECT_EQ(Px, 0xFF000000u);
}

TEST(Sharpen, UnsharpRoundsHalvesToEvenAndKeepsAlpha) {
  // A pixel of 10 in a field of 0: the blurred value is 10*4/16 = 2, difference 8.
  // Amount 0.5 adds round(4) = 4; amount 0.3125 adds round(2.5) = 2 (ties to even).
  auto Src = MakeBitmap(3, 3, 0x40000000u);
  Src->SetPixel(1, 1, 0x400A0A0Au);
  auto Dst = MakeBitmap(1, 1);
  Sharpen(Dst.get(), Src.get(), 0, 0.5f);
  ASSERT_EQ(Dst->Width(), 3);
  EXPECT_EQ(Dst->GetPixel(1, 1), 0x400E0E0Eu);
  Sharpen(Dst.get(), Src.get(), 0, 0.3125f);
  EXPECT_EQ(Dst->GetPixel(1, 1), 0x400C0C0Cu);
  // A neighbour sees blurred 1 (10*2/16): difference -1, amount 0.5 -> round(-0.5) = 0.
  EXPECT_EQ(Dst->GetPixel(0, 1), 0x40000000u);
  // Laplacian: only positive responses count; 4*10 = 40 times 0.5 = 20.
  Sharpen(Dst.get(), Src.get(), 1, 0.5f);
  EXPECT_EQ(Dst->GetPixel(1, 1), 0x401E1E1Eu);
  // In place, and an unknown mode writes nothing.
  auto Before = Pixels(*Src);
  Sharpen(Src.get(), Src.get(), 7, 1.0f);
  EXPECT_EQ(Pixels(*Src), Before);
}

TEST(EdgeMagnitude, WeightsAndMagnitude) {
  // Amount 0 keeps Src scaled by 255/256; amounts 0.3f and 0.9f give the
  // weights 77 and 229 (extended rounding of the float).
  auto Src = MakeBitmap(2, 2, 0x80FF6400u);
  auto Dst = MakeBitmap(0, 0);
  SobelEdges(Dst.get(), Src.get(), 0.0f);
  EXPECT_EQ(Dst->GetPixel(0, 0), 0x80FE6300u);
  SobelEdges(Dst.get(), Src.get(), 0.3f);  // flat: magnitude 0, Src * (255 - 77) >> 8
  EXPECT_EQ(Dst->GetPixel(0, 0), 0x80B14500u);
  SobelEdges(Dst.get(), Src.get(), 0.9f);  // Src * 26 >> 8
  EXPECT_EQ(Dst->GetPixel(0, 0), 0x80190A00u);
  SobelEdges(Dst.get(), Src.get(), 7.0f);  // limited to 1: pure magnitude
  EXPECT_EQ(Dst->GetPixel(0, 0), 0x80000000u);

  // A vertical step from 0 to 100: Kernel2 of Sobel responds with 4*100 on the
  // dark side next to the step (clamped 255); Kernel1 is 0 there.
  auto Step = MakeBitmap(4, 3, 0xFF000000u);
  for (int y = 0; y < 3; ++y)
    for (int x = 2; x < 4; ++x) Step->SetPixel(x, y, 0xFF646464u);
  SobelEdges(Dst.get(), Step.get(), 1.0f);
  EXPECT_EQ(Dst->GetPixel(0, 1), 0xFF000000u);
  EXPECT_EQ(Dst->GetPixel(1, 1), 0xFF000000u);  // 1 0 -1: left minus right is negative -> 0
  PrewittEdges(Dst.get(), Step.get(), 1.0f);
  EXPECT_EQ(Dst->GetPixel(3, 1), 0xFF000000u);
  // Mirrored step: now the response is positive, 255 * 255 >> 8 = 254.
  auto Step2 = MakeBitmap(4, 3, 0xFF646464u);
  for (int y = 0; y < 3; ++y)
    for (int x = 2; x < 4; ++x) Step2->SetPixel(x, y, 0xFF000000u);
  SobelEdges(Dst.get(), Step2.get(), 1.0f);
  EXPECT_EQ(Dst->GetPixel(1, 1), 0xFFFEFEFEu);
  PrewittEdges(Dst.get(), Step2.get(), 1.0f);  // 3 * 100 = 300 -> 255
  EXPECT_EQ(Dst->GetPixel(2, 1), 0xFFFEFEFEu);

  // Every pixel as the formula gives it from the two gradients, in place on a
  // tall picture, on one thread and on eight.
  static constexpr int32_t Sobel1[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1}, Sobel2[9] = {1, 0, -1, 2, 0, -2, 1, 0, -1};
  for (float Amount : {0.0f, 0.5f})
    for (int32_t Threads : {1, 8}) {
      auto B = RandomBitmap(40, 700, 6);
      TBitmap32 Ga, Gb;
      Ga.Assign(B.get());
      Gb.Assign(B.get());
      Convolve3x3(Sobel1, 1, &Ga, 0);
      Convolve3x3(Sobel2, 1, &Gb, 0);
      const int32_t Wt = static_cast<int32_t>(std::nearbyint(static_cast<long double>(Amount) * 255));
      std::vector<TColor32> Want = Pixels(*B);
      for (size_t i = 0; i < Want.size(); ++i)
        for (int S = 0; S < 24; S += 8) {
          const int32_t a = (Ga.Bits()[i] >> S) & 0xFF, b = (Gb.Bits()[i] >> S) & 0xFF;
          const int32_t M = std::min(255, static_cast<int32_t>(std::sqrt(static_cast<long double>(a * a + b * b))));
          const int32_t V = (M * Wt + static_cast<int32_t>((B->Bits()[i] >> S) & 0xFF) * (255 - Wt)) >> 8;
          Want[i] = (Want[i] & ~(0xFFu << S)) | static_cast<TColor32>(V) << S;
        }
      TThreadLimit Limit(Threads);
      SobelEdges(B.get(), B.get(), Amount);
      ASSERT_EQ(Pixels(*B), Want) << Amount << " on " << Threads;
    }
}

}  // namespace
