// Resampler and sampler classes: binding to a bitmap, the registries, point
// sampling in every pixel access and kernel mode, property copying, nested
// samplers, and the two families of the block-average and quad routines.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "raster_blend.h"
#include "raster_resamplers.h"
#include "raster_transforms.h"

namespace {

void FillPattern(TBitmap32& B, uint32_t Seed = 1) {
  std::mt19937 Rng(Seed);
  for (int32_t y = 0; y < B.Height(); ++y)
    for (int32_t x = 0; x < B.Width(); ++x) B.SetPixel(x, y, Rng());
}

TEST(ResamplerBinding, NewBitmapHasNearestAndABoundResamplerReplacesIt) {
  TBitmap32 B;
  ASSERT_NE(B.Resampler(), nullptr);
  EXPECT_EQ(B.ResamplerClassName(), "TNearestResampler");
  int Changes = 0;
  B.OnChange = [&](void*) { ++Changes; };
  auto* K = new TKernelResampler(&B);  // owned by B from here on
  EXPECT_EQ(B.Resampler(), K);
  EXPECT_EQ(K->Bitmap(), &B);
  EXPECT_EQ(Changes, 1);
  // A change of the resampler's properties reaches the bitmap.
  K->SetKernelMode(kmTableNearest);
  EXPECT_EQ(Changes, 2);
  K->SetKernelMode(kmTableNearest);
  EXPECT_EQ(Changes, 2);

  B.SetResamplerClassName("TDraftResampler");
  EXPECT_EQ(B.ResamplerClassName(), "TDraftResampler");
  B.SetResamplerClassName("TNoSuchResampler");
  EXPECT_EQ(B.ResamplerClassName(), "TDraftResampler");
  EXPECT_EQ(static_cast<TBitmap32Resampler*>(B.Resampler())->Bitmap(), &B);
}

TEST(ResamplerRegistry, HoldsTheFourClassesInStartupOrder) {
  const auto& List = ResamplerClassList();
  ASSERT_EQ(List.size(), 4u);
  EXPECT_EQ(List[0]->ClassName(), "TNearestResampler");
  EXPECT_EQ(List[1]->ClassName(), "TLinearResampler");
  EXPECT_EQ(List[2]->ClassName(), "TDraftResampler");
  EXPECT_EQ(List[3]->ClassName(), "TKernelResampler");
  TBitmap32 B;
  TBitmap32Resampler* Made = CreateResamplerByName("TKernelResampler", &B);
  EXPECT_EQ(Made, B.Resampler());
  EXPECT_EQ(CreateResamplerByName("TCustomResampler", &B), nullptr);
  EXPECT_EQ(B.ResamplerClassName(), "TKernelResampler");
}

TEST(KernelResamplerProperties, KernelNameModeAndTableSize) {
  TKernelResampler R;
  EXPECT_EQ(R.KernelClassName(), "TBoxKernel");
  EXPECT_EQ(R.KernelMode(), kmDynamic);
  EXPECT_EQ(R.TableSize(), 32);
  R.SetKernelClassName("TLanczosKernel");
  ASSERT_EQ(R.KernelClassName(), "TLanczosKernel");
  EXPECT_EQ(R.GetWidth(), 3.0f);
  R.SetKernelClassName("TNoSuchKernel");
  EXPECT_EQ(R.KernelClassName(), "TLanczosKernel");
  R.SetKernel(nullptr);
  EXPECT_EQ(R.KernelClassName(), "TLanczosKernel");
  R.SetTableSize(1);
  EXPECT_EQ(R.TableSize(), 2);

  // Assign copies the class of the kernel, its properties, mode, table size
  // and the access mode onto another kernel resampler.
  static_cast<TLanczosKernel*>(R.Kernel())->SetWidth(2.0f);
  R.SetKernelMode(kmTableLinear);
  R.SetPixelAccessMode(pamWrap);
  TKernelResampler Copy;
  Copy.Assign(&R);
  EXPECT_EQ(Copy.KernelClassName(), "TLanczosKernel");
  EXPECT_EQ(Copy.GetWidth(), 2.0f);
  EXPECT_EQ(Copy.KernelMode(), kmTableLinear);
  EXPECT_EQ(Copy.TableSize(), 2);
  EXPECT_EQ(Copy.PixelAccessMode(), pamWrap);
  // Onto a resampler of another class only the common properties pass.
  TNearestResampler Nearest;
  Nearest.Assign(&R);
  EXPECT_EQ(Nearest.PixelAccessMode(), pamWrap);
}

TEST(NearestSampling, AccessModesAtAndOutsideTheClipRectangle) {
  TBitmap32 B;
  B.SetSize(4, 3);
  FillPattern(B);
  B.SetOuterColor(0x11223344);
  auto* Bound = new TNearestResampler(&B);
  Bound->PrepareSampling();
  EXPECT_EQ(Bound->GetSampleInt(2, 1), B.GetPixel(2, 1));
  EXPECT_EQ(Bound->GetSampleFixed(0x18000, 0x8000), B.GetPixel(1, 0));  // 1.5 rounds down
  EXPECT_EQ(Bound->GetSampleFixed(0x18001, 0x8001), B.GetPixel(2, 1));
  EXPECT_EQ(Bound->GetSampleFloat(2.5f, 1.5f), B.GetPixel(2, 2));  // ties to even
  EXPECT_EQ(Bound->GetSampleInt(-1, 0), 0x11223344u);              // pamSafe
  Bound->SetPixelAccessMode(pamWrap);
  Bound->PrepareSampling();
  EXPECT_EQ(Bound->GetSampleInt(-1, 0), B.GetPixel(0, 0));  // clamp is the default wrap
  B.SetWrapMode(wmRepeat);
  EXPECT_EQ(Bound->GetSampleInt(-1, 0), B.GetPixel(3, 0));
  Bound->SetPixelAccessMode(pamTransparentEdge);
  Bound->PrepareSampling();
  EXPECT_EQ(Bound->GetSampleInt(4, 1), B.GetPixel(3, 1) & 0x00FFFFFFu);
  EXPECT_EQ(Bound->GetSampleInt(3, 1), B.GetPixel(3, 1));
  EXPECT_EQ(Bound->GetSampleBounds(), (TRect{-1, -1, 5, 4}));
  EXPECT_EQ(Bound->TransformerClass(), tcNearestTransformer);
}

TEST(LinearSampling, AccessModesFollowTheBitmapReaders) {
  TBitmap32 B;
  B.SetSize(5, 4);
  FillPattern(B, 2);
  B.SetOuterColor(0x55667788);
  auto* R = new TLinearResampler(&B);
  R->PrepareSampling();
  for (TFixed X : {0x8000, 0x14000, 0x2C000, 0x3FFFF}) {
    EXPECT_EQ(R->GetSampleFixed(X, 0x1A000), B.GetPixelFixedClipped(X, 0x1A000));
    EXPECT_EQ(R->GetSampleFloat(X / 65536.0f, 1.625f), B.GetPixelFixedClipped(X, 0x1A000));
  }
  R->SetPixelAccessMode(pamTransparentEdge);
  R->PrepareSampling();
  // Inside: the plain bilinear read; more than a pixel outside: nothing.
  EXPECT_EQ(R->GetSampleFixed(0x14000, 0x14000), B.GetPixelFixed(0x14000, 0x14000));
  EXPECT_EQ(R->GetSampleFixed(-0x28000, 0x10000), 0u);
  EXPECT_EQ(R->GetSampleFixed(0x60000, 0x10000), 0u);
  // Half a pixel beyond the right edge: the outside taps lose their alpha,
  // so the alpha is half the edge pixel's.
  const TColor32 Edge = R->GetSampleFixed(0x48000, 0x10000);
  EXPECT_NEAR(AlphaOf(Edge), AlphaOf(B.GetPixel(4, 1)) / 2, 1);
}

TEST(KernelSampling, BoxAtIntegerPointsAndEdgesPerAccessMode) {
  TBitmap32 B;
  B.SetSize(6, 5);
  FillPattern(B, 4);
  B.SetOuterColor(0x99AABBCC);
  auto* R = new TKernelResampler(&B);
  R->PrepareSampling();
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 6; ++x) ASSERT_EQ(R->GetSampleFloat(float(x), float(y)), B.GetPixel(x, y));
  EXPECT_EQ(R->GetSampleFloat(-2.0f, 1.0f), 0x99AABBCCu);
  R->SetPixelAccessMode(pamTransparentEdge);
  R->PrepareSampling();
  EXPECT_EQ(R->GetSampleFloat(-2.0f, 1.0f), 0u);
  // On the clip edge the box reaches one tap outside: it carries the nearest
  // pixel's colour with no alpha.
  const TColor32 C = R->GetSampleFloat(-0.5f, 2.0f);
  EXPECT_EQ(C & 0x00FFFFFFu, B.GetPixel(0, 2) & 0x00FFFFFFu);
}

// A flat picture sampled anywhere inside stays flat in every kernel mode and
// for every kernel, also for kernels wider than four pixels.
TEST(KernelSampling, FlatPictureStaysFlatInEveryModeAndWidth) {
  TBitmap32 B;
  B.SetSize(30, 30);
  B.Clear(0xFF3C78B4);
  auto* R = new TKernelResampler(&B);
  std::mt19937 Rng(3);
  std::uniform_real_distribution<float> Pos(8.0f, 21.0f);
  for (TClass K : KernelClassList()) {
    R->SetKernelClassName(K->ClassName());
    if (auto* S = dynamic_cast<TSinshKernel*>(R->Kernel())) S->SetWidth(7.0f);
    for (TKernelMode Mode : {kmDynamic, kmTableNearest, kmTableLinear}) {
      R->SetKernelMode(Mode);
      R->PrepareSampling();
      for (int i = 0; i < 20; ++i) {
        const float X = Pos(Rng), Y = Pos(Rng);
        ASSERT_EQ(R->GetSampleFloat(X, Y), 0xFF3C78B4u) << K->ClassName() << " mode " << Mode << " at " << X << "," << Y;
      }
      R->FinalizeSampling();
    }
  }
  // A wide kernel near the edge reads only pixels of the bitmap.
  R->SetPixelAccessMode(pamUnsafe);
  R->SetKernelMode(kmDynamic);
  R->PrepareSampling();
  EXPECT_EQ(R->GetSampleFloat(0.25f, 29.5f), 0xFF3C78B4u);
}

// Changing the kernel or the table size between PrepareSampling and a read
// must not read a table of the old shape (it ran past the table's end).
TEST(KernelSampling, TableFollowsKernelAndSizeChangedAfterPreparing) {
  TBitmap32 B;
  B.SetSize(12, 12);
  B.Clear(0xFF204060);
  auto* R = new TKernelResampler(&B);
  R->SetKernelMode(kmTableNearest);
  R->PrepareSampling();  // a box table, three columns wide
  R->SetKernelClassName("TLanczosKernel");
  EXPECT_EQ(R->GetSampleFloat(5.99f, 6.0f), 0xFF204060u);
  EXPECT_EQ(R->GetSampleFloat(5.01f, 6.0f), 0xFF204060u);  // the last table row
  R->SetTableSize(200);
  R->SetKernelMode(kmTableLinear);
  EXPECT_EQ(R->GetSampleFloat(5.999f, 6.001f), 0xFF204060u);
  R->SetKernelClassName("TBoxKernel");
  EXPECT_EQ(R->GetSampleFloat(3.0f, 4.0f), 0xFF204060u);
}

// A cubic with a huge Coeff has weights near 2^28 of both signs; a row sum
// times a vertical weight then leaves 64 bits. The sample must saturate the
// way the sums say (white where the positive taps are white, black where the
// white taps carry a negative vertical weight), not wrap.
TEST(KernelSampling, WildWeightsSaturateAndUndefinedPositionsReadNothing) {
  TBitmap32 B;
  B.SetSize(12, 12);
  auto* R = new TKernelResampler(&B);
  R->SetKernelClassName("TCubicKernel");
  static_cast<TCubicKernel*>(R->Kernel())->SetCoeff(1e7f);
  // At 5.5 the taps are 4 .. 7; 4 and 7 weigh positive, 5 and 6 negative.
  const auto Paint = [&](std::initializer_list<int32_t> Rows) {
    B.Clear(0xFF000000u);
    for (int32_t y : Rows)
      for (int32_t x : {4, 7}) B.SetPixel(x, y, 0xFFFFFFFFu);
    R->PrepareSampling();
  };
  Paint({4, 7});
  EXPECT_EQ(R->GetSampleFloat(5.5f, 5.5f), 0xFFFFFFFFu);
  Paint({5, 6});
  EXPECT_EQ(R->GetSampleFloat(5.5f, 5.5f), 0xFF000000u);

  B.SetOuterColor(0x11223344u);
  R->PrepareSampling();
  EXPECT_EQ(R->GetSampleFloat(std::nanf(""), 5.0f), 0x11223344u);
  for (TPixelAccessMode Mode : {pamUnsafe, pamWrap, pamTransparentEdge}) {
    R->SetPixelAccessMode(Mode);
    R->PrepareSampling();
    EXPECT_EQ(R->GetSampleFloat(5.0f, std::nanf("")), 0u) << int(Mode);
  }
}

TEST(Resample, LinearAndDraftChooseTheirPaths) {
  TBitmap32 Src, A, B;
  Src.SetSize(12, 10);
  FillPattern(Src, 8);
  A.SetSize(5, 4);
  B.SetSize(5, 4);
  TLinearKernel K;
  TLinearResampler Linear;
  Linear.Resample(&A, A.BoundsRect(), A.BoundsRect(), &Src, Src.BoundsRect(), dmOpaque, {});
  ResampleWithKernel(&B, B.BoundsRect(), B.BoundsRect(), &Src, Src.BoundsRect(), &K, dmOpaque);
  EXPECT_EQ(std::vector<TColor32>(A.Bits(), A.Bits() + 20), std::vector<TColor32>(B.Bits(), B.Bits() + 20));
  TDraftResampler Draft;
  Draft.Resample(&A, A.BoundsRect(), A.BoundsRect(), &Src, Src.BoundsRect(), dmOpaque, {});
  QuickResample(&B, B.BoundsRect(), B.BoundsRect(), &Src, Src.BoundsRect(), &K, dmOpaque);
  EXPECT_EQ(std::vector<TColor32>(A.Bits(), A.Bits() + 20), std::vector<TColor32>(B.Bits(), B.Bits() + 20));
}

TEST(NestedSampler, ForwardsAndRefusesWithoutASampler) {
  TNestedSampler N;
  try {
    N.PrepareSampling();
    FAIL();
  } catch (const ENestedException& E) {
    EXPECT_STREQ(E.what(), "Nested sampler is nil");
  }
  EXPECT_THROW(N.GetSampleBounds(), ENestedException);
  TBitmap32 B;
  B.SetSize(3, 3);
  FillPattern(B);
  auto* R = new TNearestResampler(&B);
  N.SetSampler(R);
  N.PrepareSampling();
  EXPECT_TRUE(N.HasBounds());
  EXPECT_EQ(N.GetSampleBounds(), (TRect{0, 0, 3, 3}));
  EXPECT_EQ(N.GetSampleInt(1, 2), B.GetPixel(1, 2));
}

// A transformer reads its sampler at the point the transformation maps back
// to; the nearest transformer reads whole pixels.
TEST(Transformers, MapPointsBackThroughTheTransformation) {
  TBitmap32 B;
  B.SetSize(6, 5);
  FillPattern(B, 6);
  auto* Nearest = new TNearestResampler(&B);
  TAffineTransformation T;
  T.Translate(2.0f, 1.0f);
  TTransformer Plain(Nearest, &T);
  Plain.PrepareSampling();
  EXPECT_EQ(Plain.GetSampleInt(3, 2), B.GetPixel(1, 1));
  EXPECT_EQ(Plain.GetSampleFixed(0x38000, 0x20000), B.GetPixel(1, 1));  // 1.5 rounds down
  EXPECT_EQ(Plain.GetSampleFloat(4.0f, 3.0f), B.GetPixel(2, 2));
  EXPECT_TRUE(Plain.HasBounds());
  // Corners widened by half a pixel and rounded ties-to-even.
  EXPECT_EQ(Plain.GetSampleBounds(), (TRect{2, 0, 8, 6}));

  auto Made = MakeTransformer(Nearest->TransformerClass(), Nearest, &T);
  ASSERT_EQ(Made->ClassName(), "TNearestTransformer");
  EXPECT_EQ(Made->GetSampleInt(3, 2), B.GetPixel(1, 1));
  EXPECT_EQ(Made->GetSampleFixed(0x3C000, 0x2F000), B.GetPixel(1, 1));  // floored
  EXPECT_EQ(Made->GetSampleFloat(3.5f, 2.5f), B.GetPixel(2, 2));         // ties to even
  // Undefined and huge positions read outside the picture instead of
  // converting a NaN to an integer.
  B.SetOuterColor(0x12345678u);
  EXPECT_EQ(Made->GetSampleFloat(std::nanf(""), 2.0f), 0x12345678u);
  EXPECT_EQ(Made->GetSampleFloat(3.0f, std::nanf("")), 0x12345678u);
  EXPECT_EQ(Made->GetSampleFloat(3e30f, -3e30f), 0x12345678u);
  TLinearResampler Linear;
  EXPECT_EQ(MakeTransformer(Linear.TransformerClass(), &Linear, &T)->ClassName(), "TTransformer");
}

// The portable interpolator mixes through CombinePixels with the weight cut
// to 255; the SSE2 one mixes 16-bit lanes with the full weight and no bias.
TEST(ProcessorRoutines, InterpolateQuadFamiliesPinnedAndWithinTwoLevels) {
  SelectBlendFamily(false);
  SelectResamplerFamily(false);
  const TColor32 Quad[2][2] = {{0xFFFFFFFF, 0x00000000}, {0x80402010, 0x10204080}};
  EXPECT_EQ(InterpolateQuad(256 * 0x10001u, 256 * 0x10001u, Quad[0], Quad[1]), 0xFFFFFFFFu);
  EXPECT_EQ(InterpolateQuad(128 * 0x10001u, 256 * 0x10001u, Quad[0], Quad[1]), 0x80808080u);
  const TColor32 Portable = InterpolateQuad(96 * 0x10001u, 200 * 0x10001u, Quad[0], Quad[1]);
  if (SelectResamplerFamily(true)) {
    EXPECT_EQ(InterpolateQuad(128 * 0x10001u, 256 * 0x10001u, Quad[0], Quad[1]), 0x7F7F7F7Fu);
    EXPECT_EQ(InterpolateQuad(0, 0, Quad[0], Quad[1]), 0x10204080u);
    const TColor32 Sse2 = InterpolateQuad(96 * 0x10001u, 200 * 0x10001u, Quad[0], Quad[1]);
    for (int c = 0; c < 4; ++c)
      EXPECT_LE(std::abs(int((Portable >> (8 * c)) & 0xFF) - int((Sse2 >> (8 * c)) & 0xFF)), 2);
    std::mt19937 Rng(1);
    for (int i = 0; i < 20000; ++i) {
      const TColor32 Up[2] = {Rng(), Rng()}, Lo[2] = {Rng(), Rng()};
      const uint32_t WX = (Rng() % 257) * 0x10001u, WY = (Rng() % 257) * 0x10001u;
      SelectBlendFamily(false);
      SelectResamplerFamily(false);
      const TColor32 P = InterpolateQuad(WX, WY, Up, Lo);
      SelectBlendFamily(true);
      SelectResamplerFamily(true);
      const TColor32 S = InterpolateQuad(WX, WY, Up, Lo);
      for (int c = 0; c < 4; ++c)
        ASSERT_LE(std::abs(int((P >> (8 * c)) & 0xFF) - int((S >> (8 * c)) & 0xFF)), 2) << i;
    }
  }
  SelectBlendFamily(true);
  SelectResamplerFamily(true);
}

TEST(ProcessorRoutines, AverageBlockFamiliesAgree) {
  std::mt19937 Rng(2);
  std::vector<TColor32> Px(40 * 40);
  for (auto& P : Px) P = Rng();
  const TResamplerFamily* Sse2 = Sse2ResamplerFamily();
  if (!Sse2) GTEST_SKIP() << "no SSE2 family in this build";
  for (int i = 0; i < 500; ++i) {
    const int32_t W = 1 + static_cast<int32_t>(Rng() % 20), H = 1 + static_cast<int32_t>(Rng() % 20);
    const TColor32* Start = Px.data() + (Rng() % 20) + 40 * (Rng() % 20);
    ASSERT_EQ(PortableResamplerFamily.AverageBlock(W, H, Start, 160), Sse2->AverageBlock(W, H, Start, 160));
  }
  const TColor32 Two[4] = {0, 0, 0xFFFFFFFF, 0xFFFFFFFF};
  EXPECT_EQ(PortableResamplerFamily.AverageBlock(2, 2, Two, 8), 0x7F7F7F7Fu);
}

}  // namespace
