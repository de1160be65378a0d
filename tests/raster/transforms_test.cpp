// Matrices, affine transformations, TransformBitmap and the regular rasterizer:
// known rotations, inverses, bounds rounding, the 64-bit fixed-point forms,
// non-finite matrices, combine modes, row reports, and the promise that a
// rasterizer never writes outside its clip.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "raster_blend.h"
#include "raster_lowlevel.h"
#include "raster_math.h"
#include "raster_rasterizers.h"
#include "raster_resamplers.h"
#include "raster_transforms.h"

namespace {

void FillPattern(TBitmap32& B, uint32_t Seed) {
  std::mt19937 rng(Seed);
  for (int32_t y = 0; y < B.Height(); ++y)
    for (int32_t x = 0; x < B.Width(); ++x) B.SetPixel(x, y, rng() | 0xFF000000u);
}

std::vector<TColor32> Pixels(const TBitmap32& B) { return {B.Bits(), B.Bits() + B.PixelCount()}; }

void ExpectMatrixNear(const TFloatMatrix& A, const TFloatMatrix& B, float Tol) {
  for (size_t i = 0; i < 9; ++i) EXPECT_NEAR(A[i], B[i], Tol) << "element " << i;
}

// A sampler that returns a fixed colour everywhere and counts its brackets.
class TSolidSampler : public TCustomSampler {
  VEMRA_CLASS(TSolidSampler, TCustomSampler)
 public:
  TColor32 Color = 0xFF102030u;
  int Prepared = 0, Finalized = 0;
  TBitmap32* OpenUpdateOn = nullptr;
  bool ThrowAt = false;
  TColor32 GetSampleInt(int32_t, int32_t) override {
    if (OpenUpdateOn) OpenUpdateOn->BeginUpdate();
    if (ThrowAt) throw Exception("sampler failed");
    return Color;
  }
  TColor32 GetSampleFixed(TFixed, TFixed) override { return Color; }
  void PrepareSampling() override { ++Prepared; }
  void FinalizeSampling() override { ++Finalized; }
};

// ---- Matrix algebra -----------------------------------------------------------------------

TEST(Matrix, InverseTimesMatrixIsIdentity) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> d(-4.0f, 4.0f);
  for (int n = 0; n < 200; ++n) {
    TFloatMatrix M{};
    for (float& e : M) e = d(rng);
    M[2] = M[5] = 0;
    M[8] = 1;
    if (std::fabs(Determinant(M)) < 0.1f) continue;
    TFloatMatrix I = M;
    Invert(I);
    ExpectMatrixNear(Multiply(M, I), IdentityMatrix, 1e-4f);
    ExpectMatrixNear(Multiply(I, M), IdentityMatrix, 1e-4f);
  }
}

TEST(Matrix, SingularAndNonFiniteMatricesInvertToIdentity) {
  TFloatMatrix Z{};
  Invert(Z);
  EXPECT_EQ(Z, IdentityMatrix);
  // Rank one.
  TFloatMatrix R{1, 2, 0, 2, 4, 0, 0, 0, 0};
  Invert(R);
  EXPECT_EQ(R, IdentityMatrix);
  // Just under the limit on the determinant.
  TFloatMatrix T{3e-3f, 0, 0, 0, 3e-3f, 0, 0, 0, 1};
  Invert(T);
  EXPECT_EQ(T, IdentityMatrix);
  TFloatMatrix N = IdentityMatrix;
  N[4] = std::numeric_limits<float>::quiet_NaN();
  Invert(N);
  EXPECT_EQ(N, IdentityMatrix);
}

TEST(Matrix, MultiplyAppliesTheRightOperandFirst) {
  TFloatMatrix T = IdentityMatrix;  // translate by (10, 0)
  T[6] = 10;
  TFloatMatrix S = IdentityMatrix;  // scale x by 2
  S[0] = 2;
  // Scale first, then translate: (1, 0) -> (2, 0) -> (12, 0).
  const TVector3f a = VectorTransform(Multiply(T, S), TVector3f{1, 0, 1});
  EXPECT_FLOAT_EQ(a.X, 12.0f);
  // Translate first, then scale: (1, 0) -> (11, 0) -> (22, 0).
  const TVector3f b = VectorTransform(Multiply(S, T), TVector3f{1, 0, 1});
  EXPECT_FLOAT_EQ(b.X, 22.0f);
}

TEST(Matrix, FixedCopyRoundsAndSaturates) {
  TFloatMatrix M{0.5f, -1.25f, 0, 1e9f, -1e9f, 0, std::numeric_limits<float>::quiet_NaN(),
                 std::numeric_limits<float>::infinity(), 1};
  const TFixedMatrix F = FixedMatrixOf(M);
  EXPECT_EQ(F[0], 32768);
  EXPECT_EQ(F[1], -81920);
  EXPECT_EQ(F[3], std::numeric_limits<int32_t>::max());
  EXPECT_EQ(F[4], std::numeric_limits<int32_t>::min());
  EXPECT_EQ(F[6], 0);
  EXPECT_EQ(F[7], std::numeric_limits<int32_t>::max());
  EXPECT_EQ(F[8], 65536);
}

// ---- Transformations --------------------------------------------------------------------------

TEST(AffineTransformation, RotationKnownAnswers) {
  TAffineTransformation T;
  T.Rotate(0, 0, 90);
  TFloatPoint p = T.Transform(TFloatPoint{1, 0});
  EXPECT_NEAR(p.X, 0.0f, 1e-6f);
  EXPECT_NEAR(p.Y, -1.0f, 1e-6f);
  p = T.Transform(TFloatPoint{0, 1});
  EXPECT_NEAR(p.X, 1.0f, 1e-6f);
  EXPECT_NEAR(p.Y, 0.0f, 1e-6f);
  // The fixed and integer forms agree.
  EXPECT_EQ(T.Transform(TPoint{1, 0}), (TPoint{0, -1}));
  const TFixedPoint f = T.Transform(TFixedPoint{FixedOne, 0});
  EXPECT_NEAR(f.X, 0, 1);
  EXPECT_NEAR(f.Y, -FixedOne, 1);

  TAffineTransformation H;
  H.Rotate(10, 10, 180);
  EXPECT_EQ(H.Transform(TPoint{10, 10}), (TPoint{10, 10}));
  EXPECT_EQ(H.Transform(TPoint{11, 10}), (TPoint{9, 10}));
  p = H.Transform(TFloatPoint{11, 10});
  EXPECT_NEAR(p.X, 9.0f, 1e-5f);
  EXPECT_NEAR(p.Y, 10.0f, 1e-5f);
}

TEST(AffineTransformation, ReverseUndoesForward) {
  TAffineTransformation T;
  T.Translate(3.5f, -7.25f);
  T.Rotate(20, 30, 37);
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> d(-500, 500);
  for (int n = 0; n < 100; ++n) {
    const TFloatPoint p{d(rng), d(rng)};
    const TFloatPoint q = T.ReverseTransform(T.Transform(p));
    EXPECT_NEAR(q.X, p.X, 1e-2f);
    EXPECT_NEAR(q.Y, p.Y, 1e-2f);
    const TFixedPoint pf{FixedFromFloat(p.X), FixedFromFloat(p.Y)};
    const TFixedPoint qf = T.ReverseTransform(T.Transform(pf));
    EXPECT_NEAR(qf.X, pf.X, 64);
    EXPECT_NEAR(qf.Y, pf.Y, 64);
  }
}

TEST(AffineTransformation, CachedMatricesFollowChanges) {
  TAffineTransformation T;
  EXPECT_EQ(T.Transform(TPoint{5, 5}), (TPoint{5, 5}));
  T.Translate(2, 3);
  EXPECT_FALSE(T.TransformValid());
  // The public forms prepare again before mapping.
  EXPECT_EQ(T.Transform(TPoint{5, 5}), (TPoint{7, 8}));
  EXPECT_EQ(T.ReverseTransform(TPoint{7, 8}), (TPoint{5, 5}));
  T.Matrix[6] = 100;  // written directly: stale until Changed
  T.Changed();
  EXPECT_EQ(T.Transform(TPoint{0, 0}), (TPoint{100, 3}));
}

TEST(AffineTransformation, TransformedBoundsRoundTiesToEven) {
  TAffineTransformation T;
  EXPECT_EQ(T.GetTransformedBounds(TFloatRect{0, 0, 10, 10}), (TRect{0, 0, 10, 10}));
  // Halves go to the even neighbour: -0.5 -> 0, 7.5 -> 8, 5.5 -> 6 (rounding
  // halves away from zero would give (-1, -1, 8, 6)).
  EXPECT_EQ(T.GetTransformedBounds(TFloatRect{0, 0, 7, 5}), (TRect{0, 0, 8, 6}));
  T.Translate(2, 1);
  EXPECT_EQ(T.GetTransformedBounds(TFloatRect{0, 0, 5, 5}), (TRect{2, 0, 8, 6}));
  T.Clear();
  T.Translate(0.5f, 0.5f);
  EXPECT_EQ(T.GetTransformedBounds(TFloatRect{0, 0, 10, 10}), (TRect{0, 0, 11, 11}));
  // A mirror: (x, y) -> (-x, y); the corners are exact, so only the rounding shows.
  T.SetMatrix(TFloatMatrix{-1, 0, 0, 0, 1, 0, 0, 0, 1});
  EXPECT_EQ(T.GetTransformedBounds(TFloatRect{0, 0, 10, 20}), (TRect{-10, 0, 0, 20}));
  // The base class only rounds.
  TTransformation B;
  EXPECT_EQ(B.GetTransformedBounds(TFloatRect{0.5f, 1.5f, 2.5f, 3.6f}), (TRect{0, 2, 2, 4}));
  EXPECT_TRUE(B.HasTransformedBounds());
}

TEST(AffineTransformation, LargeCoordinatesDoNotWrap) {
  TAffineTransformation T;
  T.Translate(2000, -2000);
  // 32000 + 2000 lies beyond 16.16; the integer form is formed in 64 bits.
  EXPECT_EQ(T.Transform(TPoint{32000, -32000}), (TPoint{34000, -34000}));
  EXPECT_EQ(T.ReverseTransform(TPoint{34000, -34000}), (TPoint{32000, -32000}));
  EXPECT_EQ(T.Transform(TPoint{std::numeric_limits<int32_t>::max(), 0}).X,
            std::numeric_limits<int32_t>::max());
  // The fixed form saturates instead of wrapping to the other sign.
  const TFixedPoint f = T.Transform(TFixedPoint{0x7FF00000, static_cast<TFixed>(0x80100000)});
  EXPECT_EQ(f.X, std::numeric_limits<int32_t>::max());
  EXPECT_EQ(f.Y, std::numeric_limits<int32_t>::min());
}

TEST(AffineTransformation, NonFiniteMatricesGiveDefinedAnswers) {
  TAffineTransformation T;
  TFloatMatrix M = IdentityMatrix;
  M[0] = std::numeric_limits<float>::quiet_NaN();
  M[6] = std::numeric_limits<float>::infinity();
  T.SetMatrix(M);
  EXPECT_EQ(T.GetTransformedBounds(TFloatRect{0, 0, 10, 10}), (TRect{}));
  // NaN inverts to the identity; the forward fixed matrix holds 0 for NaN.
  EXPECT_EQ(T.ReverseTransform(TPoint{3, 4}), (TPoint{3, 4}));
  const TFixedPoint f = T.Transform(TFixedPoint{FixedOne, FixedOne});
  EXPECT_EQ(f.X, std::numeric_limits<int32_t>::max());
  EXPECT_TRUE(std::isnan(T.Transform(TFloatPoint{1, 1}).X));

  M = IdentityMatrix;
  M[0] = M[4] = 1e30f;
  T.SetMatrix(M);
  const TRect r = T.GetTransformedBounds(TFloatRect{-1, -1, 1, 1});
  EXPECT_EQ(r.Left, std::numeric_limits<int32_t>::min());
  EXPECT_EQ(r.Right, std::numeric_limits<int32_t>::max());
}

TEST(Transformation, BaseClassRefusesWithItsName) {
  TTransformation T;
  try {
    T.ReverseTransform(TPoint{1, 1});
    FAIL() << "no exception";
  } catch (const ETransformNotImplemented& e) {
    EXPECT_EQ(e.Message(), "Reverse transformation is not implemented in TTransformation.");
  }
  EXPECT_THROW(T.Transform(TFloatPoint{1, 1}), ETransformNotImplemented);
}

// ---- TransformBitmap ----------------------------------------------------------------------------

TEST(TransformBitmap, IdentityCopiesAndReportsTheSourceRectangle) {
  TBitmap32 Src, Dst;
  Src.SetSize(8, 6);
  FillPattern(Src, 1);
  Dst.SetSize(12, 9);
  Dst.Clear(0xFF000000u);
  TAffineTransformation T;
  T.SetSrcRect(TFloatRect{0, 0, 8, 6});
  std::vector<TRect> areas;
  Dst.OnAreaChanged = [&](TBitmap32*, const TRect& R, uint32_t Info) {
    areas.push_back(R);
    EXPECT_EQ(Info, AREAINFO_RECT);
  };
  TransformBitmap(&Dst, &Src, &T);
  for (int32_t y = 0; y < Dst.Height(); ++y)
    for (int32_t x = 0; x < Dst.Width(); ++x)
      EXPECT_EQ(Dst.GetPixel(x, y), x < 8 && y < 6 ? Src.GetPixel(x, y) : 0xFF000000u) << x << "," << y;
  ASSERT_FALSE(areas.empty());
  EXPECT_EQ(areas.back(), (TRect{0, 0, 8, 6}));
}

TEST(TransformBitmap, QuarterTurnMovesEveryPixel) {
  TBitmap32 Src, Dst;
  const int32_t W = 6, H = 4;
  Src.SetSize(W, H);
  FillPattern(Src, 2);
  Src.SetOuterColor(0xFF00FF00u);
  Dst.SetSize(10, 10);
  Dst.Clear(0);
  TAffineTransformation T;
  T.SetSrcRect(TFloatRect{0, 0, static_cast<float>(W), static_cast<float>(H)});
  T.Rotate(0, 0, 90);      // (x, y) -> (y, -x)
  T.Translate(0, W);       // then down by W: (x, y) -> (y, W - x)
  TransformBitmap(&Dst, &Src, &T);
  // Drawing maps destination pixels back: (X, Y) reads the source at (W - Y, X).
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 10; ++x) {
      const TColor32 expected = (x < H && y < W) ? Src.GetPixelClipped(W - y, x) : 0u;
      EXPECT_EQ(Dst.GetPixel(x, y), expected) << x << "," << y;
    }
}

TEST(TransformBitmap, MeasuringOnlyReports) {
  TBitmap32 Src, Dst;
  Src.SetSize(5, 5);
  FillPattern(Src, 3);
  Dst.SetSize(8, 8);
  Dst.Clear(0xFF123456u);
  const auto before = Pixels(Dst);
  TAffineTransformation T;
  T.SetSrcRect(TFloatRect{0, 0, 5, 5});
  T.Translate(2, 1);
  std::vector<TRect> areas;
  Dst.StartAreaReporting([&](TBitmap32*, const TRect& R, uint32_t) { areas.push_back(R); });
  TransformBitmap(&Dst, &Src, &T);
  Dst.StopAreaReporting();
  EXPECT_EQ(Pixels(Dst), before);
  ASSERT_EQ(areas.size(), 1u);
  EXPECT_EQ(areas[0], (TRect{2, 0, 8, 6}));
}

TEST(TransformBitmap, RasterizerNeverWritesOutsideTheClip) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> angle(-360, 360), shift(-8, 16);
  std::uniform_int_distribution<int32_t> lo(-5, 14), hi(6, 30);
  TBitmap32 Src, Dst;
  Src.SetSize(13, 9);
  FillPattern(Src, 4);
  const char* resamplers[] = {"TNearestResampler", "TLinearResampler", "TKernelResampler"};
  TRegularRasterizer R;
  int drawn = 0;
  for (int n = 0; n < 150; ++n) {
    Src.SetResamplerClassName(resamplers[n % 3]);
    Dst.SetSize(24, 20);
    Dst.Clear(0x01020304u);
    auto randomRect = [&] {
      int32_t l = lo(rng), r = hi(rng), t = lo(rng), b = hi(rng);
      if (n % 5 != 0) {  // mostly in order, now and then inverted
        OrderInts(l, r);
        OrderInts(t, b);
      }
      return TRect{l, t, r, b};
    };
    Dst.SetClipRect(randomRect());
    const TRect clip = randomRect();
    TAffineTransformation T;
    T.SetSrcRect(TFloatRect{0, 0, 13, 9});
    T.Rotate(6, 4, angle(rng));
    T.Translate(shift(rng), shift(rng));
    TransformBitmap(&Dst, &Src, &T, clip, R);
    const TRect& dc = Dst.ClipRect();
    bool drew = false;
    for (int32_t y = 0; y < Dst.Height(); ++y)
      for (int32_t x = 0; x < Dst.Width(); ++x) {
        const bool inside = PointInRect(dc, x, y) && PointInRect(clip, x, y);
        if (inside && Dst.GetPixel(x, y) != 0x01020304u) drew = true;
        if (!inside) {
          ASSERT_EQ(Dst.GetPixel(x, y), 0x01020304u) << n << ": " << x << "," << y;
        }
      }
    EXPECT_EQ(R.Sampler(), nullptr);
    drawn += drew;
  }
  // Most cases must have drawn something, or the check above proves nothing.
  EXPECT_GT(drawn, 40);
}

TEST(TransformBitmap, NeedsABitmapResampler) {
  class TOddResampler : public TCustomResampler {
   public:
    float GetWidth() const override { return 1; }
    void Resample(TBitmap32*, const TRect&, const TRect&, TBitmap32*, const TRect&, TDrawMode,
                  const TPixelCombineEvent&) override {}
    TColor32 GetSampleFixed(TFixed, TFixed) override { return 0; }
  };
  TBitmap32 Src, Dst;
  Src.SetSize(2, 2);
  Dst.SetSize(2, 2);
  Src.SetResampler(std::make_unique<TOddResampler>());
  TAffineTransformation T;
  T.SetSrcRect(TFloatRect{0, 0, 2, 2});
  EXPECT_THROW(TransformBitmap(&Dst, &Src, &T), EInvalidCast);
  EXPECT_THROW(TransformBitmap(&Dst, &Src, nullptr), Exception);
}

// ---- Rasterizers --------------------------------------------------------------------------------

TEST(Rasterizer, CombineModesFromTheBitmap) {
  TBitmap32 Src;
  Src.SetMasterAlpha(100);
  Src.SetDrawMode(dmCustom);
  // dmCustom without a handler counts as opaque.
  EXPECT_EQ(CombineInfoOf(Src).DrawMode, dmOpaque);
  Src.OnPixelCombine = [&](TColor32 F, TColor32& B, TColor32 M) { B = F ^ M; };
  TSolidSampler S;
  TRegularRasterizer R;
  R.SetSampler(&S);
  TBitmap32 Dst;
  Dst.SetSize(3, 2);
  Dst.Clear(0xFF000000u);
  R.Rasterize(&Dst, Dst.BoundsRect(), &Src);
  EXPECT_EQ(Dst.GetPixel(2, 1), 0xFF102030u ^ 100u);
  // Blending with the merge mode goes through the merge routine and the master alpha.
  Src.SetDrawMode(dmBlend);
  Src.SetCombineMode(cmMerge);
  S.Color = 0x80FF8040u;
  Dst.Clear(0x40000000u);
  R.Rasterize(&Dst, Dst.BoundsRect(), &Src);
  TColor32 expected = 0x40000000u;
  MergePixelMasterInto(0x80FF8040u, expected, 100);
  EXPECT_EQ(Dst.GetPixel(0, 0), expected);
}

TEST(Rasterizer, ReportsRowsInChunks) {
  TSolidSampler S;
  TRegularRasterizer R;
  R.SetSampler(&S);
  TBitmap32 Dst;
  Dst.SetSize(5, 12);
  std::vector<TRect> areas;
  Dst.OnAreaChanged = [&](TBitmap32*, const TRect& A, uint32_t) { areas.push_back(A); };
  R.SetUpdateRowCount(4);
  R.Rasterize(&Dst, TRect{1, 1, 4, 11});
  ASSERT_EQ(areas.size(), 3u);
  EXPECT_EQ(areas[0], (TRect{1, 1, 4, 5}));
  EXPECT_EQ(areas[1], (TRect{1, 5, 4, 9}));
  EXPECT_EQ(areas[2], (TRect{1, 9, 4, 11}));
  areas.clear();
  R.SetUpdateRowCount(0);
  // Cut to the bitmap.
  R.Rasterize(&Dst, TRect{-3, -3, 20, 2});
  ASSERT_EQ(areas.size(), 1u);
  EXPECT_EQ(areas[0], (TRect{0, 0, 5, 2}));
  EXPECT_EQ(S.Prepared, 2);
  EXPECT_EQ(S.Finalized, 2);
}

TEST(Rasterizer, FailureRestoresUpdateCountAndFinalizes) {
  TSolidSampler S;
  TBitmap32 Dst;
  Dst.SetSize(4, 4);
  S.OpenUpdateOn = &Dst;
  S.ThrowAt = true;
  TRegularRasterizer R;
  R.SetSampler(&S);
  EXPECT_THROW(R.Rasterize(&Dst, Dst.BoundsRect()), Exception);
  EXPECT_EQ(Dst.UpdateCount(), 0);
  EXPECT_EQ(S.Finalized, 1);
  // Without a sampler nothing happens at all.
  TRegularRasterizer Empty;
  Dst.Clear(0xFFABCDEFu);
  Empty.Rasterize(&Dst, Dst.BoundsRect());
  EXPECT_EQ(Dst.GetPixel(0, 0), 0xFFABCDEFu);
}

}  // namespace

// Whole points moved by exact halves sit on the rounding edge. The integer form
// must give what the 16.16 form gives after FixedRound, (v + 0x7FFF) sar 16:
// +0.5 and -0.5 both round down. The model works in exact 64-bit integers.
TEST(AffineTransformation, WholePointsMovedByHalvesRoundAsTheFixedForm) {
  auto model = [](int64_t V16) {  // floor((V16 + 0x7FFF) / 65536)
    const int64_t n = V16 + 0x7FFF;
    return static_cast<int32_t>(n >= 0 ? n / 65536 : -((-n + 65535) / 65536));
  };
  const std::pair<float, float> shifts[] = {{0.5f, -0.5f}, {-0.5f, 0.5f}, {1.5f, -2.5f}, {0.25f, -0.75f}, {3, 4}};
  for (auto [dx, dy] : shifts) {
    TAffineTransformation T;
    T.Translate(dx, dy);
    const int64_t fx = std::llround(dx * 65536.0), fy = std::llround(dy * 65536.0);
    for (int32_t y : {-30001, -3, -1, 0, 1, 2, 7, 30000})
      for (int32_t x : {-30001, -2, -1, 0, 1, 5, 30000}) {
        const TPoint got = T.Transform(TPoint{x, y});
        EXPECT_EQ(got, (TPoint{model(int64_t{x} * 65536 + fx), model(int64_t{y} * 65536 + fy)}))
            << "shift " << dx << "," << dy << " at " << x << "," << y;
        const TFixedPoint f = T.Transform(TFixedPoint{FixedFromInt(x), FixedFromInt(y)});
        EXPECT_EQ(got, (TPoint{FixedRound(f.X), FixedRound(f.Y)})) << x << "," << y;
        // The way back lands on the other side of the same edge.
        const TPoint back = T.ReverseTransform(TPoint{x, y});
        EXPECT_EQ(back, (TPoint{model(int64_t{x} * 65536 - fx), model(int64_t{y} * 65536 - fy)})) << x << "," << y;
      }
  }
  // The case named: (0.5, -0.5) takes (x, y) to (x, y - 1).
  TAffineTransformation T;
  T.Translate(0.5f, -0.5f);
  EXPECT_EQ(T.Transform(TPoint{10, 10}), (TPoint{10, 9}));
}
