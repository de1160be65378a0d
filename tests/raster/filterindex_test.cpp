// The stretch-filter index: index to resampler and back, copying between
// bitmaps, and the transfer through a temporary resampler.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "raster_filterindex.h"

namespace {

class TSmoothLinearResampler : public TLinearResampler {
  VEMRA_CLASS(TSmoothLinearResampler, TLinearResampler)
};

TEST(StretchFilterIndex, RoundTripsZeroToSevenAndFallsBackToZero) {
  const char* Resamplers[] = {"TNearestResampler", "TDraftResampler", "TLinearResampler",
                              "TKernelResampler", "TKernelResampler", "TKernelResampler",
                              "TKernelResampler", "TKernelResampler", "TKernelResampler"};
  const char* Kernels[] = {"TCosineKernel", "TSplineKernel", "TLanczosKernel",
                           "TMitchellKernel", "TCubicKernel", "TBoxKernel"};
  TBitmap32 B;
  for (int i = 0; i <= 8; ++i) {
    TBitmap32Resampler* R = MakeResampler(static_cast<uint8_t>(i), &B);
    ASSERT_NE(R, nullptr);
    EXPECT_EQ(B.Resampler(), R);
    EXPECT_EQ(R->Bitmap(), &B);
    EXPECT_EQ(R->ClassName(), Resamplers[i]);
    if (auto* K = dynamic_cast<TKernelResampler*>(R)) {
      EXPECT_EQ(K->KernelClassName(), Kernels[i - 3]);
      EXPECT_EQ(K->KernelMode(), kmTableLinear);
    }
    EXPECT_EQ(StretchFilterIndex(R), i < 8 ? i : 0);
  }
  // The index is a byte: 300 is 44, a kernel resampler with the box kernel.
  auto R = MakeUnboundResampler(static_cast<uint8_t>(300));
  ASSERT_TRUE(R);
  EXPECT_EQ(R->Bitmap(), nullptr);
  EXPECT_EQ(static_cast<TKernelResampler*>(R.get())->KernelClassName(), "TBoxKernel");
  EXPECT_EQ(MakeResampler(2, nullptr), nullptr);
  EXPECT_EQ(StretchFilterIndex(nullptr), 0);
  // A subclass counts by its own name only.
  TSmoothLinearResampler Mine;
  EXPECT_EQ(StretchFilterIndex(&Mine), 0);
  TKernelResampler Gauss;
  Gauss.SetKernel(std::make_unique<TGaussianKernel>());
  EXPECT_EQ(StretchFilterIndex(&Gauss), 0);
}

TEST(StretchFilterIndex, SetAndCopyBetweenBitmaps) {
  TBitmap32 A, B;
  SetStretchFilter(&A, 5);
  EXPECT_EQ(StretchFilterIndex(A.Resampler()), 5);
  CopyStretchFilter(&B, &A);
  EXPECT_EQ(B.ResamplerClassName(), "TKernelResampler");
  EXPECT_EQ(StretchFilterIndex(B.Resampler()), 5);
  EXPECT_NE(B.Resampler(), A.Resampler());
  // A box-kernel resampler reports 0, so the copy gets the nearest resampler.
  new TKernelResampler(&A);  // owned by A
  CopyStretchFilter(&B, &A);
  EXPECT_EQ(B.ResamplerClassName(), "TNearestResampler");
}

TEST(StretchTransferByIndex, DrawsLikeItsResamplerAndLeavesBothBitmapsAlone) {
  TBitmap32 Src, Dst, Expected;
  Src.SetSize(9, 7);
  std::mt19937 Rng(4);
  for (int32_t y = 0; y < 7; ++y)
    for (int32_t x = 0; x < 9; ++x) Src.SetPixel(x, y, Rng());
  const TCustomResampler* SrcOwn = Src.Resampler();
  for (uint8_t Index = 0; Index < 9; ++Index) {
    Dst.SetSize(20, 11);
    Dst.Clear(0xFF000000);
    Expected.SetSize(20, 11);
    Expected.Clear(0xFF000000);
    const TCustomResampler* DstOwn = Dst.Resampler();
    StretchTransferByIndex(&Dst, TRect{1, 1, 19, 10}, TRect{0, 0, 15, 11}, &Src, TRect{1, 0, 8, 7},
                           Index, dmOpaque);
    auto R = MakeUnboundResampler(Index);
    DrawRectScaled(&Expected, TRect{1, 1, 19, 10}, TRect{0, 0, 15, 11}, &Src, TRect{1, 0, 8, 7},
                   R.get(), dmOpaque);
    EXPECT_EQ(std::vector<TColor32>(Dst.Bits(), Dst.Bits() + Dst.PixelCount()),
              std::vector<TColor32>(Expected.Bits(), Expected.Bits() + Expected.PixelCount()))
        << int(Index);
    EXPECT_EQ(Dst.Resampler(), DstOwn);
    EXPECT_EQ(Src.Resampler(), SrcOwn);
  }
}

}  // namespace
