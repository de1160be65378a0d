// The kernel sampler read at 16.16 points must give exactly what it gives at
// the same float points, in every kernel, kernel mode, table size and pixel
// access mode; and its results, and so those of a rotation by an angle, are
// pinned to the ones of the plain per-tap arithmetic it was first written
// with, so that work on its speed cannot change a single pixel.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "img_rotate.h"
#include "raster_resamplers.h"

namespace {

struct TDigest {
  uint64_t H = 1469598103934665603ull;
  void Add(uint32_t V) {
    for (int i = 0; i < 4; ++i) {
      H ^= (V >> (8 * i)) & 0xFF;
      H *= 1099511628211ull;
    }
  }
};

void FillPattern(TBitmap32& B, uint32_t Seed) {
  std::mt19937 Rng(Seed);
  for (int32_t y = 0; y < B.Height(); ++y)
    for (int32_t x = 0; x < B.Width(); ++x) B.SetPixel(x, y, Rng());
}

// Every configuration the sampler knows, in a fixed order, on one bitmap.
template <typename F>
void ForEachConfiguration(TBitmap32& B, TKernelResampler& R, F&& Visit) {
  for (TClass K : KernelClassList()) {
    R.SetKernelClassName(K->ClassName());
    for (TKernelMode Mode : {kmDynamic, kmTableNearest, kmTableLinear})
      for (int32_t Table : {32, 7})
        for (TPixelAccessMode Access : {pamUnsafe, pamSafe, pamWrap, pamTransparentEdge})
          for (TWrapMode Wrap : {wmClamp, wmRepeat, wmMirror}) {
            if (Access != pamWrap && Wrap != wmClamp) continue;
            B.SetWrapMode(Wrap);
            R.SetKernelMode(Mode);
            R.SetTableSize(Table);
            R.SetPixelAccessMode(Access);
            R.PrepareSampling();
            Visit();
            R.FinalizeSampling();
          }
  }
}

// 16.16 points over and around a 13 x 9 picture, with whole, half and odd
// fractions, and a few far outside it.
std::vector<TFixedPoint> FixedPoints() {
  std::vector<TFixedPoint> P;
  std::mt19937 Rng(11);
  std::uniform_int_distribution<int32_t> X(-4 * 65536, 17 * 65536), Y(-4 * 65536, 13 * 65536);
  for (int i = 0; i < 120; ++i) P.push_back(TFixedPoint{X(Rng), Y(Rng)});
  for (int32_t v : {0, 0x8000, 0x10000, 0x18000, 12 * 0x10000 + 0x7FFF, 8 * 0x10000 + 1})
    P.push_back(TFixedPoint{v, v});
  for (int32_t v : {1 << 24, (1 << 24) + 1, -(1 << 24) - 3, INT32_MAX, INT32_MIN, 0x7FFF0000})
    P.push_back(TFixedPoint{v, 3 * 65536});
  return P;
}

TEST(KernelSampling, FixedPointsSampleAsTheSameFloatPoints) {
  TBitmap32 B;
  B.SetSize(13, 9);
  FillPattern(B, 5);
  B.SetOuterColor(0x80123456);
  B.SetClipRect(TRect{1, 1, 12, 8});
  auto* R = new TKernelResampler(&B);
  const std::vector<TFixedPoint> Points = FixedPoints();
  ForEachConfiguration(B, *R, [&] {
    for (const TFixedPoint& P : Points) {
      const float X = static_cast<float>(P.X * (1.0L / 65536)), Y = static_cast<float>(P.Y * (1.0L / 65536));
      ASSERT_EQ(R->GetSampleFixed(P.X, P.Y), R->GetSampleFloat(X, Y))
          << R->KernelClassName() << " mode " << int(R->KernelMode()) << " table " << R->TableSize()
          << " access " << int(R->PixelAccessMode()) << " wrap " << int(B.WrapMode()) << " at " << P.X << ","
          << P.Y;
    }
  });
}

// Away from the edges every access mode reads the same taps: the short path
// taken there must sum exactly as the general per-tap loop (which wrapping
// always takes) does, also for weights too wide for it.
TEST(KernelSampling, InteriorSamplesAgreeAcrossAccessModes) {
  TBitmap32 B;
  B.SetSize(40, 30);
  FillPattern(B, 17);
  auto* R = new TKernelResampler(&B);
  std::mt19937 Rng(23);
  std::uniform_real_distribution<float> X(9.0f, 30.0f), Y(9.0f, 20.0f);
  std::vector<std::pair<float, float>> Points;
  for (int i = 0; i < 60; ++i) Points.emplace_back(X(Rng), Y(Rng));
  Points.emplace_back(12.0f, 13.0f);
  Points.emplace_back(12.5f, 13.5f);
  for (int Wild = 0; Wild < 2; ++Wild)
    for (TClass K : KernelClassList()) {
      R->SetKernelClassName(K->ClassName());
      // A cubic with a huge coefficient has weights far beyond 16 bits.
      if (auto* C = dynamic_cast<TCubicKernel*>(R->Kernel()); C && Wild) C->SetCoeff(-3000.0f);
      if (Wild && !dynamic_cast<TCubicKernel*>(R->Kernel())) continue;
      for (TKernelMode Mode : {kmDynamic, kmTableNearest, kmTableLinear}) {
        R->SetKernelMode(Mode);
        std::vector<TColor32> Expected;
        R->SetPixelAccessMode(pamWrap);
        R->PrepareSampling();
        for (auto [x, y] : Points) Expected.push_back(R->GetSampleFloat(x, y));
        R->FinalizeSampling();
        for (TPixelAccessMode Access : {pamUnsafe, pamSafe, pamTransparentEdge}) {
          R->SetPixelAccessMode(Access);
          R->PrepareSampling();
          for (size_t i = 0; i < Points.size(); ++i)
            ASSERT_EQ(R->GetSampleFloat(Points[i].first, Points[i].second), Expected[i])
                << K->ClassName() << (Wild ? " wild" : "") << " mode " << int(Mode) << " access " << int(Access)
                << " at " << Points[i].first << "," << Points[i].second;
          R->FinalizeSampling();
        }
      }
    }
}

TEST(KernelSampling, ResultsPinnedInEveryConfiguration) {
  TBitmap32 B;
  B.SetSize(13, 9);
  FillPattern(B, 9);
  B.SetOuterColor(0x80123456);
  B.SetClipRect(TRect{1, 1, 12, 8});
  auto* R = new TKernelResampler(&B);
  std::mt19937 Rng(4);
  std::uniform_real_distribution<float> X(-4.0f, 17.0f), Y(-4.0f, 13.0f);
  std::vector<std::pair<float, float>> FloatPoints;
  for (int i = 0; i < 120; ++i) FloatPoints.emplace_back(X(Rng), Y(Rng));
  FloatPoints.emplace_back(1e9f, 2.0f);
  FloatPoints.emplace_back(-3e9f, -1e-30f);
  const std::vector<TFixedPoint> Points = FixedPoints();
  TDigest D;
  int64_t Count = 0;
  ForEachConfiguration(B, *R, [&] {
    for (auto [x, y] : FloatPoints) D.Add(R->GetSampleFloat(x, y));
    for (const TFixedPoint& P : Points) D.Add(R->GetSampleFixed(P.X, P.Y));
    for (int32_t y = -1; y <= 9; y += 2)
      for (int32_t x = -1; x <= 13; x += 3) D.Add(R->GetSampleInt(x, y));
    ++Count;
  });
  EXPECT_GT(Count, 100);
  // Recorded from the plain per-tap sampler.
  EXPECT_EQ(D.H, 0x2183e134804fc908ull);
}

TEST(RotateByAngle, PixelsPinned) {
  TDigest D;
  for (auto [W, H, Degrees] : {std::tuple{45, 31, 30.0f}, std::tuple{20, 37, -17.5f}, std::tuple{16, 16, 90.0f},
                               std::tuple{33, 8, 211.25f}}) {
    TBitmap32 B;
    B.SetSize(W, H);
    FillPattern(B, static_cast<uint32_t>(W * H));
    RotateByAngle(&B, Degrees);
    D.Add(static_cast<uint32_t>(B.Width()));
    D.Add(static_cast<uint32_t>(B.Height()));
    for (size_t i = 0; i < B.PixelCount(); ++i) D.Add(B.Bits()[i]);
  }
  // Recorded from the plain per-tap sampler.
  EXPECT_EQ(D.H, 0x20a01435d25c2a3aull);
}

}  // namespace
