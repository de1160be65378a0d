// The kernel sampler read at 16.16 points must give exactly what it gives at
// the same float points, in every kernel, kernel mode, table size and pixel
// access mode; and its results, and so those of a rotation by an angle, are
// pinned to the ones of the plain per-tap arithmetic it was first written
// with, so that work on its speed cannot change a single pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

// A 13 x 9 picture of pattern Seed clipped to (1, 1, 12, 8), with an outer
// colour, and its kernel sampler (owned by the picture).
TKernelResampler* ClippedPicture(TBitmap32& B, uint32_t Seed) {
  B.SetSize(13, 9);
  FillPattern(B, Seed);
  B.SetOuterColor(0x80123456);
  B.SetClipRect(TRect{1, 1, 12, 8});
  return new TKernelResampler(&B);
}

// N float points in X0..X1 x Y0..Y1, the same on every run.
std::vector<std::pair<float, float>> RandomPoints(int N, float X0, float X1, float Y0, float Y1) {
  std::mt19937 Rng(4);
  std::uniform_real_distribution<float> X(X0, X1), Y(Y0, Y1);
  std::vector<std::pair<float, float>> P;
  for (int i = 0; i < N; ++i) P.emplace_back(X(Rng), Y(Rng));
  return P;
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
  TKernelResampler* R = ClippedPicture(B, 5);
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

// The kernel sample written plainly: taps at ceil(X) - W .. ceil(X) + W, each
// axis' weights Filter(k + ceil(X) - X) * 256 rounded to even (read from a
// table in the table modes) and corrected at the centre to sum to 256; the
// weighted channels summed in double (exact at these sizes) and divided by
// 2^16 with the floor; taps the clip cuts off read the outer colour (safe) or
// the pixel without alpha (transparent edge).
struct TSampleModel {
  const TBitmap32& B;
  const TCustomKernel& K;
  TKernelMode Mode;
  int32_t TableSize;
  TPixelAccessMode Access;
  int32_t W = static_cast<int32_t>(std::ceil(K.GetWidth()));

  std::vector<int64_t> RowAt(float F) const {  // weights for the fraction F, summing to 256
    std::vector<int64_t> R;
    int64_t Sum = 0;
    for (int32_t k = -W; k <= W; ++k) {
      R.push_back(static_cast<int64_t>(std::nearbyint(double{K.Filter(static_cast<float>(k) + F)} * 256.0)));
      Sum += R.back();
    }
    R[static_cast<size_t>(W)] -= Sum - 256;
    return R;
  }
  std::vector<int64_t> Weights(float F) const {
    if (Mode == kmDynamic) return RowAt(F);
    auto TableRow = [&](int64_t i) {
      return RowAt(static_cast<float>(static_cast<long double>(i) / (TableSize - 1)));
    };
    if (Mode == kmTableNearest)
      return TableRow(std::clamp<int64_t>(std::llround(std::nearbyint(double{F} * (TableSize - 1))), 0, TableSize));
    const int64_t P = static_cast<int64_t>(std::nearbyint(double{F} * (TableSize - 1) * 65536.0));
    const int64_t I = std::clamp<int64_t>(P / 65536, 0, TableSize - 1), Q = P % 65536;
    const std::vector<int64_t> R0 = TableRow(I), R1 = TableRow(I + 1);
    std::vector<int64_t> R;
    int64_t Sum = 0;
    for (size_t k = 0; k < R0.size(); ++k) {
      R.push_back(R0[k] + static_cast<int64_t>(std::trunc(((R1[k] - R0[k]) * Q + 32767) / 65536.0)));
      Sum += R.back();
    }
    R[static_cast<size_t>(W)] -= Sum - 256;
    return R;
  }
  TColor32 Sample(float X, float Y) const {
    const TRect C = B.ClipRect();
    const int32_t Cx = static_cast<int32_t>(std::ceil(X)), Cy = static_cast<int32_t>(std::ceil(Y));
    const bool Checked = Access == pamSafe || Access == pamTransparentEdge;
    if (Checked && (Cx < C.Left || Cx > C.Right || Cy < C.Top || Cy > C.Bottom))
      return Access == pamSafe ? B.OuterColor() : 0;
    const std::vector<int64_t> WX = Weights(static_cast<float>(Cx - double{X}));
    const std::vector<int64_t> WY = Weights(static_cast<float>(Cy - double{Y}));
    double S[4] = {0, 0, 0, 0};
    for (int32_t j = 0; j <= 2 * W; ++j)
      for (int32_t i = 0; i <= 2 * W; ++i) {
        const int32_t x = Cx - W + i, y = Cy - W + j;
        TColor32 P = B.GetPixel(std::clamp(x, 0, B.Width() - 1), std::clamp(y, 0, B.Height() - 1));
        if (Checked && (x < C.Left || x >= C.Right || y < C.Top || y >= C.Bottom))
          P = Access == pamSafe ? B.OuterColor() : P & 0x00FFFFFFu;
        for (int c = 0; c < 4; ++c)
          S[c] += static_cast<double>(WX[static_cast<size_t>(i)] * WY[static_cast<size_t>(j)]) * ((P >> (8 * c)) & 0xFF);
      }
    TColor32 Out = 0;
    for (int c = 0; c < 4; ++c)
      Out |= static_cast<TColor32>(std::clamp(std::floor(S[c] / 65536.0), 0.0, 255.0)) << (8 * c);
    return Out;
  }
};

// Every kernel in every kernel mode and checked access mode, at points over,
// around and between the pixels, against the plain model.
TEST(KernelSampling, SamplesMatchThePlainModel) {
  TBitmap32 B;
  TKernelResampler* R = ClippedPicture(B, 9);
  std::vector<std::pair<float, float>> Points = RandomPoints(60, -2.0f, 15.0f, -2.0f, 11.0f);
  for (float v : {0.0f, 0.5f, 1.0f, 1.5f, 4.25f, 6.5f, 7.0f, 8.0f})
    Points.emplace_back(v, v);
  ForEachConfiguration(B, *R, [&] {
    if (R->PixelAccessMode() == pamWrap) return;  // wrapping is checked against the other modes above
    const TSampleModel M{B, *R->Kernel(), R->KernelMode(), R->TableSize(), R->PixelAccessMode()};
    for (auto [x, y] : Points)
      ASSERT_EQ(R->GetSampleFloat(x, y), M.Sample(x, y))
          << R->KernelClassName() << " mode " << int(R->KernelMode()) << " table " << R->TableSize() << " access "
          << int(R->PixelAccessMode()) << " at " << x << "," << y;
  });
}

TEST(KernelSampling, ResultsPinnedInEveryConfiguration) {
  TBitmap32 B;
  TKernelResampler* R = ClippedPicture(B, 9);
  std::vector<std::pair<float, float>> FloatPoints = RandomPoints(120, -4.0f, 17.0f, -4.0f, 13.0f);
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
