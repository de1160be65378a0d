// Block and stretch transfers: clipping and notification, the combine modes,
// self-overlapping copies, the kernel mapping's weights, and the known
// answers of the nearest, bilinear, block-average and kernel paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "raster_blend.h"
#include "raster_filterindex.h"
#include "raster_parallel.h"
#include "raster_resamplers.h"
#include "raster_resamplers_kernelpass.h"

namespace {

struct TAreaLog {
  std::vector<TRect> Areas;
  void Attach(TBitmap32& B) {
    B.OnAreaChanged = [this](TBitmap32*, const TRect& R, uint32_t) { Areas.push_back(R); };
  }
};

void FillPattern(TBitmap32& B, uint32_t Seed = 1) {
  std::mt19937 Rng(Seed);
  for (int32_t y = 0; y < B.Height(); ++y)
    for (int32_t x = 0; x < B.Width(); ++x) B.SetPixel(x, y, Rng());
}

std::vector<TColor32> Pixels(const TBitmap32& B) {
  return std::vector<TColor32>(B.Bits(), B.Bits() + B.PixelCount());
}

// Runs a test body once with each routine family, then restores the choice.
class TFamilies {
 public:
  ~TFamilies() {
    SelectBlendFamily(true);
    SelectResamplerFamily(true);
  }
  static void Portable() {
    SelectBlendFamily(false);
    SelectResamplerFamily(false);
  }
  static bool Processor() {
    SelectBlendFamily(true);
    return SelectResamplerFamily(true);
  }
};

// One pixel of a kernel resample as the plain double sum over the mapping's
// clusters, each channel clamped and taken from 16.16 fixed point.
template <typename TCluster>
TColor32 KernelSum(const TBitmap32& Src, const TCluster& X, const TCluster& Y) {
  TColor32 Expected = 0;
  for (int c = 0; c < 4; ++c) {
    int64_t Sum = 0;
    for (const auto& PY : Y) {
      int64_t V = 0;
      for (const auto& PX : X) V += int64_t{PX.Weight} * ((Src.GetPixel(PX.Pos, PY.Pos) >> (8 * c)) & 0xFF);
      Sum += V * PY.Weight;
    }
    Expected |= static_cast<TColor32>(std::clamp<int64_t>(Sum, 0, 0xFF0000) >> 16) << (8 * c);
  }
  return Expected;
}

// ---- kernel mapping -------------------------------------------------------------

TEST(KernelMapping, LinearTwoToFourGivesTheKnownClusters) {
  TLinearKernel K;
  const TMappingTable M = BuildKernelMapping(0, 4, 0, 4, 0, 2, K);
  ASSERT_EQ(M.size(), 4u);
  const std::vector<std::vector<std::pair<int, int>>> Expected = {
      {{0, 64}, {0, 192}}, {{0, 192}, {1, 64}}, {{0, 64}, {1, 192}}, {{1, 192}, {1, 64}}};
  for (size_t i = 0; i < 4; ++i) {
    ASSERT_EQ(M[i].size(), Expected[i].size()) << i;
    for (size_t k = 0; k < M[i].size(); ++k) {
      EXPECT_EQ(M[i][k].Pos, Expected[i][k].first) << i << "," << k;
      EXPECT_EQ(M[i][k].Weight, Expected[i][k].second) << i << "," << k;
    }
  }
  // Shrinking ten to three: clusters of 7, 6 and 7 entries.
  const TMappingTable S = BuildKernelMapping(0, 3, 0, 3, 0, 10, K);
  ASSERT_EQ(S.size(), 3u);
  EXPECT_EQ(S[0].size(), 7u);
  EXPECT_EQ(S[1].size(), 6u);
  EXPECT_EQ(S[2].size(), 7u);
}

TEST(KernelMapping, DegenerateSourcesAndClips) {
  TCubicKernel K;
  const TMappingTable One = BuildKernelMapping(0, 5, 1, 4, 7, 8, K);
  ASSERT_EQ(One.size(), 3u);
  for (const auto& C : One) {
    ASSERT_EQ(C.size(), 1u);
    EXPECT_EQ(C[0].Pos, 7);
    EXPECT_EQ(C[0].Weight, 256);
  }
  EXPECT_TRUE(BuildKernelMapping(0, 5, 0, 5, 3, 3, K).empty());
  EXPECT_TRUE(BuildKernelMapping(0, 5, 2, 2, 0, 9, K).empty());
}

// Every cluster of every kernel sums to exactly 256, its indices stay inside
// the source range, and a clipped mapping is the matching part of the whole.
TEST(KernelMapping, ClustersSumTo256OverRandomSizesAndClips) {
  std::mt19937 Rng(7);
  for (TClass C : KernelClassList()) {
    auto Kernel = CreateKernelByName(C->ClassName());
    ASSERT_TRUE(Kernel);
    for (int Trial = 0; Trial < 60; ++Trial) {
      const int32_t SrcLo = static_cast<int32_t>(Rng() % 20);
      const int32_t SrcW = 2 + static_cast<int32_t>(Rng() % 200);
      const int32_t DstLo = static_cast<int32_t>(Rng() % 30) - 10;
      const int32_t DstW = 1 + static_cast<int32_t>(Rng() % 300);
      const int32_t ClipLo = DstLo + static_cast<int32_t>(Rng() % DstW);
      const int32_t ClipHi = ClipLo + 1 + static_cast<int32_t>(Rng() % (DstLo + DstW - ClipLo));
      const TMappingTable Whole =
          BuildKernelMapping(DstLo, DstLo + DstW, DstLo, DstLo + DstW, SrcLo, SrcLo + SrcW, *Kernel);
      const TMappingTable Part =
          BuildKernelMapping(DstLo, DstLo + DstW, ClipLo, ClipHi, SrcLo, SrcLo + SrcW, *Kernel);
      ASSERT_EQ(Whole.size(), static_cast<size_t>(DstW));
      ASSERT_EQ(Part.size(), static_cast<size_t>(ClipHi - ClipLo));
      for (size_t i = 0; i < Whole.size(); ++i) {
        int Sum = 0;
        for (const auto& P : Whole[i]) {
          Sum += P.Weight;
          ASSERT_GE(P.Pos, SrcLo);
          ASSERT_LT(P.Pos, SrcLo + SrcW);
        }
        ASSERT_EQ(Sum, 256) << C->ClassName() << " " << SrcW << "->" << DstW << " at " << i;
      }
      for (size_t i = 0; i < Part.size(); ++i) {
        const auto& W = Whole[static_cast<size_t>(ClipLo - DstLo) + i];
        ASSERT_EQ(Part[i].size(), W.size());
        for (size_t k = 0; k < W.size(); ++k) {
          EXPECT_EQ(Part[i][k].Pos, W[k].Pos);
          EXPECT_EQ(Part[i][k].Weight, W[k].Weight);
        }
      }
    }
  }
}

// ---- DrawRectAt ---------------------------------------------------------------

TEST(DrawRectAt, ClipsCopiesAndNotifiesTheUnclippedRectangle) {
  TBitmap32 Src, Dst;
  Src.SetSize(6, 5);
  FillPattern(Src);
  Dst.SetSize(8, 8);
  Dst.Clear(0xFF102030);
  TAreaLog Log;
  Log.Attach(Dst);
  DrawRectAt(&Dst, 4, 5, TRect{0, 0, 7, 8}, &Src, TRect{1, 1, 6, 5}, dmOpaque);
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x) {
      const bool Inside = x >= 4 && x < 7 && y >= 5;
      EXPECT_EQ(Dst.GetPixel(x, y), Inside ? Src.GetPixel(x - 3, y - 4) : 0xFF102030u) << x << "," << y;
    }
  ASSERT_EQ(Log.Areas.size(), 1u);
  EXPECT_EQ(Log.Areas[0], (TRect{4, 5, 9, 9}));

  // A clip that misses changes nothing but still reports the rectangle.
  const auto Before = Pixels(Dst);
  DrawRectAt(&Dst, 0, 0, TRect{20, 20, 30, 30}, &Src, TRect{0, 0, 6, 5}, dmOpaque);
  EXPECT_EQ(Pixels(Dst), Before);
  ASSERT_EQ(Log.Areas.size(), 2u);
  EXPECT_EQ(Log.Areas[1], (TRect{0, 0, 6, 5}));

  // Blending with master alpha 0 does nothing at all.
  Src.SetMasterAlpha(0);
  DrawRectAt(&Dst, 0, 0, Dst.BoundsRect(), &Src, TRect{0, 0, 6, 5}, dmBlend);
  EXPECT_EQ(Pixels(Dst), Before);
  EXPECT_EQ(Log.Areas.size(), 2u);
}

TEST(DrawRectAt, NullBitmapsRaiseTheirMessages) {
  TBitmap32 B;
  B.SetSize(2, 2);
  try {
    DrawRectAt(nullptr, 0, 0, TRect{}, nullptr, TRect{}, dmOpaque);
    FAIL();
  } catch (const EBitmapException& E) {
    EXPECT_STREQ(E.what(), "Destination bitmap is nil");
  }
  try {
    DrawRectAt(&B, 0, 0, TRect{}, nullptr, TRect{}, dmOpaque);
    FAIL();
  } catch (const EBitmapException& E) {
    EXPECT_STREQ(E.what(), "Source bitmap is nil");
  }
}

TEST(DrawRectAt, CombineModesFollowTheSourceSettings) {
  TBitmap32 Src, Dst;
  Src.SetSize(3, 1);
  Src.SetPixel(0, 0, 0x80FF0000);
  Src.SetPixel(1, 0, 0x12345678);  // the outer colour: skipped by dmTransparent
  Src.SetPixel(2, 0, 0xFF00FF00);
  Src.SetOuterColor(0x12345678);
  Dst.SetSize(3, 1);

  Dst.Clear(0xFF0000FF);
  DrawRectAt(&Dst, 0, 0, Dst.BoundsRect(), &Src, Src.BoundsRect(), dmTransparent);
  EXPECT_EQ(Dst.GetPixel(0, 0), 0x80FF0000u);
  EXPECT_EQ(Dst.GetPixel(1, 0), 0xFF0000FFu);
  EXPECT_EQ(Dst.GetPixel(2, 0), 0xFF00FF00u);

  // Blend with full master alpha uses the plain row routine, below 255 the
  // master row routine; both agree with the pixel routines they stand for.
  for (uint32_t M : {255u, 100u}) {
    Src.SetMasterAlpha(M);
    Dst.Clear(0xFF0000FF);
    DrawRectAt(&Dst, 0, 0, Dst.BoundsRect(), &Src, Src.BoundsRect(), dmBlend);
    for (int32_t x = 0; x < 3; ++x) {
      TColor32 Expected = 0xFF0000FF;
      if (M == 255)
        BlendPixelInto(Src.GetPixel(x, 0), Expected);
      else
        BlendPixelMasterInto(Src.GetPixel(x, 0), Expected, M);
      EXPECT_EQ(Dst.GetPixel(x, 0), Expected) << M << " " << x;
    }
  }

  // dmCustom hands (source, destination, master alpha) to the callback; with
  // no callback it copies.
  std::vector<std::pair<TColor32, uint32_t>> Calls;
  const TPixelCombineEvent Swap = [&](TColor32 F, TColor32& B, TColor32 M) {
    Calls.push_back({F, M});
    B = ~F;
  };
  Dst.Clear(0);
  DrawRectAt(&Dst, 0, 0, Dst.BoundsRect(), &Src, Src.BoundsRect(), dmCustom, Swap);
  ASSERT_EQ(Calls.size(), 3u);
  EXPECT_EQ(Calls[0].second, 100u);
  EXPECT_EQ(Dst.GetPixel(2, 0), ~0xFF00FF00u);
  DrawRectAt(&Dst, 0, 0, Dst.BoundsRect(), &Src, Src.BoundsRect(), dmCustom);
  EXPECT_EQ(Dst.GetPixel(1, 0), 0x12345678u);
}

// A bitmap drawn onto itself with overlapping areas gives the same picture
// as drawing from an untouched copy, in every direction and mode.
TEST(DrawRectAt, OverlappingSelfTransferReadsTheOriginalPixels) {
  for (TDrawMode Mode : {dmOpaque, dmBlend, dmTransparent}) {
    for (auto [Dx, Dy] : {std::pair{2, 1}, std::pair{-2, -1}, std::pair{1, -2}, std::pair{-1, 2},
                          std::pair{3, 0}, std::pair{0, 3}}) {
      TBitmap32 B, Copy, Expected;
      B.SetSize(9, 7);
      FillPattern(B, 3);
      B.SetOuterColor(B.GetPixel(4, 4));
      Copy.Assign(&B);
      Expected.Assign(&B);
      const TRect Area{2, 2, 7, 5};
      DrawRectAt(&Expected, Area.Left + Dx, Area.Top + Dy, Expected.BoundsRect(), &Copy, Area, Mode);
      DrawRectAt(&B, Area.Left + Dx, Area.Top + Dy, B.BoundsRect(), &B, Area, Mode);
      EXPECT_EQ(Pixels(B), Pixels(Expected)) << Mode << " " << Dx << "," << Dy;
    }
  }
}

// ---- DrawRectScaled -----------------------------------------------------------

// Stretching part of a bitmap onto itself gives what stretching from an
// untouched copy gives, through every resampler.
TEST(DrawRectScaled, SelfStretchReadsTheOriginalPixels) {
  for (uint8_t Index = 0; Index < 8; ++Index) {
    TBitmap32 B, Copy, Expected;
    B.SetSize(12, 10);
    FillPattern(B, 21);
    Copy.Assign(&B);
    Expected.Assign(&B);
    auto R = MakeUnboundResampler(Index);
    const TRect SrcRect{1, 1, 7, 6}, DstRect{2, 2, 12, 10};
    DrawRectScaled(&Expected, DstRect, Expected.BoundsRect(), &Copy, SrcRect, R.get(), dmOpaque);
    DrawRectScaled(&B, DstRect, B.BoundsRect(), &B, SrcRect, R.get(), dmOpaque);
    EXPECT_EQ(Pixels(B), Pixels(Expected)) << int(Index);
  }
}

class TSpyResampler : public TNearestResampler {
 public:
  void Resample(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip, TBitmap32* Src,
                const TRect& SrcRect, TDrawMode Op, const TPixelCombineEvent& CB) override {
    ++Calls;
    LastClip = DstClip;
    TNearestResampler::Resample(Dst, DstRect, DstClip, Src, SrcRect, Op, CB);
  }
  int Calls = 0;
  TRect LastClip;
};

TEST(DrawRectScaled, ValidatesClipsAndNotifies) {
  TBitmap32 Src, Dst;
  Src.SetSize(4, 4);
  FillPattern(Src);
  Dst.SetSize(10, 10);
  TAreaLog Log;
  Log.Attach(Dst);
  TSpyResampler Spy;

  EXPECT_THROW(DrawRectScaled(&Dst, TRect{0, 0, 8, 8}, Dst.BoundsRect(), &Src, TRect{0, 0, 5, 4},
                              &Spy, dmOpaque),
               ESrcInvalidException);
  try {
    DrawRectScaled(&Dst, TRect{0, 0, 8, 8}, Dst.BoundsRect(), &Src, TRect{-1, 0, 4, 4}, &Spy, dmOpaque);
  } catch (const ESrcInvalidException& E) {
    EXPECT_STREQ(E.what(), "Source rectangle is invalid");
  }
  // An empty source rectangle and a clip that misses draw and report nothing.
  DrawRectScaled(&Dst, TRect{0, 0, 8, 8}, Dst.BoundsRect(), &Src, TRect{2, 2, 2, 4}, &Spy, dmOpaque);
  DrawRectScaled(&Dst, TRect{0, 0, 8, 8}, TRect{8, 8, 10, 10}, &Src, Src.BoundsRect(), &Spy, dmOpaque);
  EXPECT_TRUE(Log.Areas.empty());
  EXPECT_EQ(Spy.Calls, 0);

  // Equal sizes copy without the resampler.
  DrawRectScaled(&Dst, TRect{3, 3, 7, 7}, Dst.BoundsRect(), &Src, Src.BoundsRect(), &Spy, dmOpaque);
  EXPECT_EQ(Spy.Calls, 0);
  EXPECT_EQ(Dst.GetPixel(3, 3), Src.GetPixel(0, 0));
  EXPECT_EQ(Dst.GetPixel(6, 6), Src.GetPixel(3, 3));
  ASSERT_EQ(Log.Areas.size(), 1u);
  EXPECT_EQ(Log.Areas[0], (TRect{3, 3, 7, 7}));

  // Otherwise the resampler draws inside the clipped rectangle, and the whole
  // destination rectangle is reported.
  DrawRectScaled(&Dst, TRect{-2, 1, 12, 9}, TRect{1, 0, 9, 5}, &Src, Src.BoundsRect(), &Spy, dmOpaque);
  EXPECT_EQ(Spy.Calls, 1);
  EXPECT_EQ(Spy.LastClip, (TRect{1, 1, 9, 5}));
  ASSERT_EQ(Log.Areas.size(), 2u);
  EXPECT_EQ(Log.Areas[1], (TRect{-2, 1, 12, 9}));
}

// Rectangles whose sides sit near both ends of the integer range have no
// width a stretch could use: nothing is drawn, the area is still reported.
// The stretch paths reached directly refuse a source rectangle outside the
// source instead of reading past it.
TEST(DrawRectScaled, ExtremeRectanglesAndDirectCallsStaySafe) {
  TBitmap32 Src, Dst;
  Src.SetSize(4, 4);
  FillPattern(Src);
  Dst.SetSize(6, 6);
  Dst.Clear(0xFF000000);
  TAreaLog Log;
  Log.Attach(Dst);
  const TRect Huge{-2147483647, 0, 2147483647, 6};
  for (uint8_t Index = 0; Index < 8; ++Index) {
    auto R = MakeUnboundResampler(Index);
    DrawRectScaled(&Dst, Huge, Dst.BoundsRect(), &Src, Src.BoundsRect(), R.get(), dmOpaque);
  }
  for (TColor32 P : Pixels(Dst)) EXPECT_EQ(P, 0xFF000000u);
  ASSERT_EQ(Log.Areas.size(), 8u);
  EXPECT_EQ(Log.Areas[0], Huge);
  TCubicKernel K;
  EXPECT_THROW(ResampleWithKernel(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &Src, TRect{2, 0, 7, 4}, &K, dmOpaque),
               ESrcInvalidException);
  EXPECT_THROW(QuickResample(&Dst, TRect{0, 0, 2, 2}, Dst.BoundsRect(), &Src, TRect{0, -1, 4, 4}, &K, dmOpaque),
               ESrcInvalidException);
}

// Whatever the resampler, mode and rectangles, no pixel outside the clip
// rectangle changes, and a flat opaque picture drawn opaquely through the
// nearest and kernel resamplers stays exactly flat.
TEST(DrawRectScaled, NothingOutsideTheClipAndFlatStaysFlat) {
  std::mt19937 Rng(11);
  const TColor32 Flat = 0xFFC86432;
  for (int Trial = 0; Trial < 120; ++Trial) {
    const uint8_t Index = static_cast<uint8_t>(Trial % 9);
    TBitmap32 Src, Dst;
    Src.SetSize(1 + static_cast<int32_t>(Rng() % 40), 1 + static_cast<int32_t>(Rng() % 40));
    Src.Clear(Flat);
    Dst.SetSize(1 + static_cast<int32_t>(Rng() % 50), 1 + static_cast<int32_t>(Rng() % 50));
    Dst.Clear(0x01020304);
    const int32_t L = static_cast<int32_t>(Rng() % 60) - 10, T = static_cast<int32_t>(Rng() % 60) - 10;
    const TRect DstRect{L, T, L + 1 + static_cast<int32_t>(Rng() % 70), T + 1 + static_cast<int32_t>(Rng() % 70)};
    const int32_t CL = static_cast<int32_t>(Rng() % 50) - 5, CT = static_cast<int32_t>(Rng() % 50) - 5;
    const TRect Clip{CL, CT, CL + static_cast<int32_t>(Rng() % 40), CT + static_cast<int32_t>(Rng() % 40)};
    auto R = MakeUnboundResampler(Index);
    DrawRectScaled(&Dst, DstRect, Clip, &Src, Src.BoundsRect(), R.get(), dmOpaque);
    for (int32_t y = 0; y < Dst.Height(); ++y)
      for (int32_t x = 0; x < Dst.Width(); ++x) {
        const bool Inside = PointInRect(Clip, x, y) && PointInRect(DstRect, x, y);
        const TColor32 P = Dst.GetPixel(x, y);
        if (!Inside)
          ASSERT_EQ(P, 0x01020304u) << "index " << int(Index) << " at " << x << "," << y;
        else if (Index == 0 || Index >= 3)
          ASSERT_EQ(P, Flat) << "index " << int(Index) << " at " << x << "," << y;
      }
  }
}

// ---- stretch paths ----------------------------------------------------------------

TEST(StretchNearestPixels, MapsColumnsAndRowsByTruncation) {
  TBitmap32 Src, Dst;
  Src.SetSize(4, 1);
  for (int32_t x = 0; x < 4; ++x) Src.SetPixel(x, 0, 0xFF000000u + static_cast<TColor32>(x));
  Dst.SetSize(5, 3);
  StretchNearestPixels(&Dst, TRect{0, 0, 5, 3}, Dst.BoundsRect(), &Src, TRect{0, 0, 2, 1}, dmOpaque);
  const TColor32 Up[5] = {0xFF000000, 0xFF000000, 0xFF000000, 0xFF000001, 0xFF000001};
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(Dst.GetPixel(x, y), Up[x]);
  Dst.Clear(0);
  StretchNearestPixels(&Dst, TRect{0, 0, 2, 1}, Dst.BoundsRect(), &Src, TRect{0, 0, 4, 1}, dmOpaque);
  EXPECT_EQ(Dst.GetPixel(0, 0), 0xFF000000u);
  EXPECT_EQ(Dst.GetPixel(1, 0), 0xFF000002u);
  // A one-pixel-wide destination takes the middle column.
  StretchNearestPixels(&Dst, TRect{4, 0, 5, 2}, Dst.BoundsRect(), &Src, TRect{0, 0, 4, 1}, dmOpaque);
  EXPECT_EQ(Dst.GetPixel(4, 1), 0xFF000001u);
  try {
    StretchNearestPixels(&Dst, TRect{0, 0, 5, 3}, Dst.BoundsRect(), &Src, TRect{0, 0, 5, 1}, dmOpaque);
    FAIL();
  } catch (const Exception& E) {
    EXPECT_STREQ(E.what(), "Invalid SrcRect");
  }
}

// A flat white 2 x 2 enlarged to 4 x 4: the edge weights 256 and 0 reproduce
// the pixel, the inner ones run through the blend formula of the family.
TEST(StretchBilinearFast, TwoByTwoToFourByFourPinnedPerFamily) {
  TFamilies Restore;
  TBitmap32 Src, Dst;
  Src.SetSize(2, 2);
  Src.Clear(0xFFFFFFFF);
  Dst.SetSize(4, 4);
  TFamilies::Portable();
  StretchBilinearFast(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &Src, Src.BoundsRect(), dmOpaque);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) {
      const bool Corner = (x == 0 || x == 3) && (y == 0 || y == 3);
      EXPECT_EQ(Dst.GetPixel(x, y), Corner ? 0xFFFFFFFFu : 0xFEFEFEFEu) << x << "," << y;
    }
  if (TFamilies::Processor()) {
    StretchBilinearFast(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &Src, Src.BoundsRect(), dmOpaque);
    for (TColor32 P : Pixels(Dst)) EXPECT_EQ(P, 0xFFFFFFFFu);
  }
  // A gradient: column weights 256, 192, 64 and (last column) 0 at position 0.
  Src.SetPixel(0, 0, 0xFF000000);
  Src.SetPixel(1, 0, 0xFF0000FF);
  Src.SetPixel(0, 1, 0xFF000000);
  Src.SetPixel(1, 1, 0xFF0000FF);
  TFamilies::Portable();
  StretchBilinearFast(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &Src, Src.BoundsRect(), dmOpaque);
  EXPECT_EQ(Dst.GetPixel(0, 0), 0xFF000000u);
  EXPECT_EQ(Dst.GetPixel(1, 0) & 0xFF, 63u);
  EXPECT_EQ(Dst.GetPixel(2, 0) & 0xFF, 190u);
  EXPECT_EQ(Dst.GetPixel(3, 0), 0xFF0000FFu);
  if (TFamilies::Processor()) {
    StretchBilinearFast(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &Src, Src.BoundsRect(), dmOpaque);
    EXPECT_EQ(Dst.GetPixel(1, 0), 0xFF00003Fu);  // (255 * 64) shr 8
    EXPECT_EQ(Dst.GetPixel(2, 0), 0xFF0000BFu);  // (255 * 192) shr 8
  }
}

// The bilinear positions are limited to the whole bitmap, so a source
// rectangle that starts inside the bitmap mixes in the column before it.
TEST(StretchBilinearFast, OffsetSourceRectangleBlendsThePixelOutsideIt) {
  TBitmap32 Src, Dst;
  Src.SetSize(4, 2);
  for (int32_t y = 0; y < 2; ++y) {
    Src.SetPixel(0, y, 0xFFFF0000);
    Src.SetPixel(1, y, 0xFF00FF00);
    Src.SetPixel(2, y, 0xFF0000FF);
    Src.SetPixel(3, y, 0xFFFFFFFF);
  }
  Dst.SetSize(8, 4);
  TLinearResampler Linear;
  DrawRectScaled(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &Src, TRect{1, 0, 3, 2}, &Linear, dmOpaque);
  EXPECT_GT(RedOf(Dst.GetPixel(0, 0)), 0);
  EXPECT_GT(GreenOf(Dst.GetPixel(0, 0)), RedOf(Dst.GetPixel(0, 0)));
}

TEST(QuickResample, AveragesBlocksWhenShrinking) {
  TFamilies Restore;
  TBitmap32 Src, Dst;
  Src.SetSize(4, 4);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) Src.SetPixel(x, y, y % 2 ? 0xFFFFFFFF : 0x00000000);
  Dst.SetSize(2, 2);
  TLinearKernel K;
  for (bool Processor : {false, true}) {
    if (Processor) {
      if (!TFamilies::Processor()) break;
    } else {
      TFamilies::Portable();
    }
    Dst.Clear(0x12345678);
    QuickResample(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &Src, Src.BoundsRect(), &K, dmOpaque);
    for (TColor32 P : Pixels(Dst)) EXPECT_EQ(P, 0x7F7F7F7Fu);
    // 3 x 3 blocks of flat 255: the truncated factor gives 254.
    TBitmap32 White;
    White.SetSize(9, 9);
    White.Clear(0xFFFFFFFF);
    TBitmap32 Small;
    Small.SetSize(3, 3);
    QuickResample(&Small, Small.BoundsRect(), Small.BoundsRect(), &White, White.BoundsRect(), &K, dmOpaque);
    for (TColor32 P : Pixels(Small)) EXPECT_EQ(P, 0xFEFEFEFEu);
  }
}

// Blocks of more than 2^24 pixels divide their 64-bit sums instead of turning
// black through a zero factor.
TEST(AverageBlockRoutine, HugeBlocksKeepTheirColour) {
  TFamilies Restore;
  const int32_t Side = 4097;  // 4097 * 4097 > 2^24
  std::vector<TColor32> Block(static_cast<size_t>(Side) * Side, 0xFF808080);
  TFamilies::Portable();
  EXPECT_EQ(AverageBlock(Side, Side, Block.data(), Side * 4), 0xFF808080u);
  if (TFamilies::Processor()) EXPECT_EQ(AverageBlock(Side, Side, Block.data(), Side * 4), 0xFF808080u);
}

TEST(ResampleWithKernel, LinearKernelKnownAnswerAndClampedOvershoot) {
  TBitmap32 Src, Dst;
  Src.SetSize(2, 2);
  for (int32_t y = 0; y < 2; ++y) {
    Src.SetPixel(0, y, 0xFF000000);
    Src.SetPixel(1, y, 0xFF0000FF);
  }
  Dst.SetSize(4, 4);
  TLinearKernel Linear;
  ResampleWithKernel(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &Src, Src.BoundsRect(), &Linear, dmOpaque);
  // Clusters [(0,64),(0,192)], [(0,192),(1,64)], [(0,64),(1,192)], [(1,192),(1,64)].
  const TColor32 Row[4] = {0xFF000000, 0xFF00003F, 0xFF0000BF, 0xFF0000FF};
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(Dst.GetPixel(x, y), Row[x]) << x << "," << y;

  // A hard edge through Lanczos rings past 0 and 255; the sums are limited,
  // never wrapped into the far end of the byte.
  TBitmap32 Edge, Big;
  Edge.SetSize(8, 2);
  for (int32_t x = 0; x < 8; ++x)
    for (int32_t y = 0; y < 2; ++y) Edge.SetPixel(x, y, x < 4 ? 0xFF000000 : 0xFFFFFFFF);
  Big.SetSize(40, 2);
  TLanczosKernel Lanczos;
  ResampleWithKernel(&Big, Big.BoundsRect(), Big.BoundsRect(), &Edge, Edge.BoundsRect(), &Lanczos, dmOpaque);
  for (int32_t x = 0; x < 40; ++x) {
    const int32_t V = BlueOf(Big.GetPixel(x, 0));
    if (x < 14) EXPECT_LT(V, 40) << x;
    if (x >= 26) EXPECT_GT(V, 215) << x;
    EXPECT_EQ(AlphaOf(Big.GetPixel(x, 0)), 255);
  }
}

// The kernel path computes both passes in one order; the definition sums
// vertically first. Compare with a direct evaluation of the double sum.
TEST(ResampleWithKernel, MatchesTheDirectDoubleSum) {
  std::mt19937 Rng(5);
  for (const char* Name : {"TLanczosKernel", "TCubicKernel", "TMitchellKernel", "TLinearKernel"}) {
    auto K = CreateKernelByName(Name);
    TBitmap32 Src, Dst;
    Src.SetSize(13, 9);
    FillPattern(Src, 9);
    Dst.SetSize(21, 5);
    const TRect DstRect{-3, 0, 19, 5}, Clip{2, 1, 21, 5}, SrcRect{1, 2, 12, 9};
    ResampleWithKernel(&Dst, DstRect, Clip, &Src, SrcRect, K.get(), dmOpaque);
    const auto MX = BuildKernelMapping(DstRect.Left, DstRect.Right, Clip.Left, 19, SrcRect.Left, SrcRect.Right, *K);
    const auto MY = BuildKernelMapping(DstRect.Top, DstRect.Bottom, Clip.Top, Clip.Bottom, SrcRect.Top, SrcRect.Bottom, *K);
    for (int32_t j = 0; j < 4; ++j)
      for (int32_t i = 0; i < 17; ++i)
        ASSERT_EQ(Dst.GetPixel(Clip.Left + i, Clip.Top + j), KernelSum(Src, MX[i], MY[j])) << Name << " " << i << "," << j;
  }
}

// Wide results and deep reductions (a ring of hundreds of filtered rows,
// bands of a few rings each): every pixel, on either side of every band edge
// and on one thread or eight, is still the double sum.
TEST(ResampleWithKernel, WideAndDeepPicturesKeepTheDirectDoubleSum) {
  struct TCase {
    const char* Kernel;
    int32_t SrcW, SrcH, DstW, DstH;
  };
  const TCase Cases[] = {{"TLanczosKernel", 700, 6, 9001, 11},   // wide enlargement
                         {"TCubicKernel", 3001, 401, 700, 3},    // deep reduction: a ring of hundreds of rows
                         {"TMitchellKernel", 5000, 9, 4999, 9}};  // near 1:1
  for (const TCase& C : Cases) {
    auto K = CreateKernelByName(C.Kernel);
    TBitmap32 Src;
    Src.SetSize(C.SrcW, C.SrcH);
    FillPattern(Src, 3);
    const TRect DstRect{0, 0, C.DstW, C.DstH}, SrcRect{0, 0, C.SrcW, C.SrcH};
    const auto MX = BuildKernelMapping(0, C.DstW, 0, C.DstW, 0, C.SrcW, *K);
    const auto MY = BuildKernelMapping(0, C.DstH, 0, C.DstH, 0, C.SrcH, *K);
    for (int32_t Threads : {1, 8}) {
      SCOPED_TRACE(std::string(C.Kernel) + " on " + std::to_string(Threads) + " threads");
      TThreadLimit Limit(Threads);
      TBitmap32 Dst;
      Dst.SetSize(C.DstW, C.DstH);
      ResampleWithKernel(&Dst, DstRect, DstRect, &Src, SrcRect, K.get(), dmOpaque);
      for (int32_t j = 0; j < C.DstH; ++j)
        for (int32_t i = 0; i < C.DstW; ++i) ASSERT_EQ(Dst.GetPixel(i, j), KernelSum(Src, MX[i], MY[j])) << i << "," << j;
    }
  }
}

// The horizontal pass, whichever form the processor gets, gives the plain
// weighted sums; clusters with repeated positions or weights beyond 16 bits
// included.
TEST(KernelPasses, HorizontalPassMatchesTheWeightedSums) {
  std::mt19937 Rng(17);
  for (int Trial = 0; Trial < 200; ++Trial) {
    const int32_t Width = 1 + static_cast<int32_t>(Rng() % 40);
    std::vector<TColor32> Row(static_cast<size_t>(Width));
    for (auto& P : Row) P = Rng();
    TMappingTable Map(1 + Rng() % 30);
    for (auto& C : Map) {
      const int32_t Lo = static_cast<int32_t>(Rng() % Width);
      const int32_t N = 1 + static_cast<int32_t>(Rng() % 12);
      for (int32_t k = 0; k < N; ++k) {
        const int32_t Wide = Trial % 7 == 0 ? 40000 : 300;
        C.push_back({std::min(Lo + k, Width - 1), static_cast<int32_t>(Rng() % (2 * Wide)) - Wide / 3});
      }
    }
    const THorizontalKernelPass Pass(Map, Width);
    std::vector<uint32_t> Out(Map.size() * 4);
    Pass.Run(Row.data(), Out.data());
    for (size_t i = 0; i < Map.size(); ++i)
      for (int c = 0; c < 4; ++c) {
        uint32_t Sum = 0;
        for (const auto& P : Map[i]) Sum += ((Row[P.Pos] >> (8 * c)) & 0xFF) * static_cast<uint32_t>(P.Weight);
        ASSERT_EQ(Out[i * 4 + c], Sum) << Trial << " " << i << " " << c;
      }
  }
}

TEST(KernelPasses, VerticalCombineAndPacking) {
  std::mt19937 Rng(19);
  std::vector<std::vector<uint32_t>> Rows(5, std::vector<uint32_t>(37));
  for (auto& R : Rows)
    for (auto& V : R) V = Rng();
  const uint32_t* Ptr[5] = {Rows[0].data(), Rows[1].data(), Rows[2].data(), Rows[3].data(), Rows[4].data()};
  const int32_t W[5] = {-20, 70, 160, 70, -24};
  std::vector<uint32_t> Out(37);
  KernelVerticalCombine(Ptr, W, 5, Out.data(), 37);
  for (int i = 0; i < 37; ++i) {
    uint32_t S = 0;
    for (int k = 0; k < 5; ++k) S += Rows[k][i] * static_cast<uint32_t>(W[k]);
    ASSERT_EQ(Out[i], S) << i;
  }
  // Limited to 0 .. 0xFF0000 before the shift, in the wide and plain parts.
  const uint32_t Sums[20] = {0xFFFFFFFF, 0, 0xFFFF, 0x10000,     0xFF0000, 0xFEFFFF, 0x1000000, 0x7FFFFFFF,
                             0x80000000, 0x123456, 0x7F8000, 0xFF, 0x00FFFFFF, 0x20000, 0x30000, 0x40000,
                             0x50000, 0x60000, 0x70000, 0x80000};
  TColor32 Packed[5];
  KernelPackRow(Sums, 5, Packed);
  EXPECT_EQ(Packed[0], 0x01000000u);
  EXPECT_EQ(Packed[1], 0xFFFFFEFFu);
  EXPECT_EQ(Packed[2], 0x007F1200u);
  EXPECT_EQ(Packed[3], 0x040302FFu);
  EXPECT_EQ(Packed[4], 0x08070605u);
}

}  // namespace

// A stretch into a destination past the caches is written with streaming
// stores; it must give what the same stretch drawn in small bands (the plain
// path) gives, for destinations whose rows start off any 16-byte boundary and
// whose widths are no multiple of four, shrinking and enlarging (where rows
// repeat), on one thread and on many.
TEST(DrawRectScaled, LargeNearestStretchMatchesTheBandedDrawing) {
  TBitmap32 Src;
  Src.SetSize(3001, 1403);
  FillPattern(Src, 5);
  const TRect Whole{1, 0, 3001, 1403}, Part{1, 0, 1001, 700};
  for (const auto& [W, H, Left, From] : {std::tuple{2047, 1103, 1, Whole}, std::tuple{2998, 1400, 3, Whole},
                                          std::tuple{1999, 1301, 0, Whole}, std::tuple{2047, 1403, 1, Part}}) {
    const TRect DstRect{Left, 2, Left + W, 2 + H};
    TBitmap32 All, Banded;
    All.SetSize(W + Left + 1, H + 3);
    Banded.SetSize(W + Left + 1, H + 3);
    All.Clear(0xFF102030u);
    Banded.Clear(0xFF102030u);
    auto R = MakeUnboundResampler(0);
    for (int32_t Threads : {1, 8}) {
      TThreadLimit Limit(Threads);
      DrawRectScaled(&All, DstRect, All.BoundsRect(), &Src, From, R.get(), dmOpaque);
      for (int32_t Top = 0; Top < Banded.Height(); Top += 97)
        DrawRectScaled(&Banded, DstRect, TRect{0, Top, Banded.Width(), Top + 97}, &Src, From, R.get(), dmOpaque);
      ASSERT_EQ(Pixels(All), Pixels(Banded)) << W << "x" << H << " on " << Threads;
    }
  }
}
