// TransformBitmap through a kernel resampler draws whole rows at a time (and
// on several threads: tests/effects/threads_test.cpp). Every byte must stay what the sample-by-sample drawing
// gives: the reference below is that drawing, one GetSampleInt of the
// transformer per pixel, kept here as it was before the rows came.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "raster_filterindex.h"
#include "transform_reference.h"
#include "raster_rasterizers.h"
#include "raster_resamplers.h"
#include "raster_transforms.h"

namespace {

std::vector<TColor32> Pixels(const TBitmap32& B) { return {B.Bits(), B.Bits() + B.PixelCount()}; }

void Fill(TBitmap32& B, int32_t W, int32_t H, std::mt19937& Rng) {
  B.SetSize(W, H);
  for (size_t i = 0; i < B.PixelCount(); ++i) B.Bits()[i] = static_cast<TColor32>(Rng());
}

struct TCase {
  uint8_t Filter;       // stretch-filter index 3..7 (kernel resamplers)
  TKernelMode Mode;
  int32_t TableSize;
};

TEST(TransformRows, SameBytesAsSampleBySampleOnRandomInputs) {
  std::mt19937 Rng(23);
  const TCase Cases[] = {{7, kmTableLinear, 32}, {6, kmTableLinear, 32}, {5, kmTableLinear, 32},
                         {3, kmTableNearest, 32}, {4, kmDynamic, 32},    {7, kmTableLinear, 2},
                         {7, kmDynamic, 32},      {5, kmTableNearest, 7}};
  const std::pair<int32_t, int32_t> Sizes[] = {{1, 1}, {1, 23}, {23, 1}, {2, 2}, {37, 29}, {64, 5}, {5, 70}};
  int Drawn = 0;
  for (const TCase& K : Cases)
    for (auto [W, H] : Sizes)
      for (int Trial = 0; Trial < 3; ++Trial) {
        TBitmap32 Src;
        Fill(Src, W, H, Rng);
        Src.SetOuterColor(Trial == 1 ? static_cast<TColor32>(Rng()) : 0);
        if (Trial == 2 && W > 2 && H > 2) Src.SetClipRect(TRect{1, 1, W - 1, H});
        SetStretchFilter(&Src, K.Filter);
        auto* R = dynamic_cast<TKernelResampler*>(Src.Resampler());
        ASSERT_NE(R, nullptr);
        R->SetKernelMode(K.Mode);
        R->SetTableSize(K.TableSize);

        TAffineTransformation M;
        M.SetSrcRect(TFloatRect{0, 0, static_cast<float>(W), static_cast<float>(H)});
        // A turn, an uneven scale, a skew and a shift: x' = a x + c y + e.
        const float Turn = static_cast<float>(Rng() % 3600) / 572.96f;
        const float Sx = 0.5f + static_cast<float>(Rng() % 200) / 100.0f;
        const float Sy = 0.5f + static_cast<float>(Rng() % 200) / 100.0f;
        const float Sk = static_cast<float>(Rng() % 100) / 200.0f - 0.25f;
        const float Co = std::cos(Turn), Si = std::sin(Turn);
        M.SetMatrix(TFloatMatrix{Sx * Co, -Sy * Si, 0, Sx * (Si + Sk), Sy * Co, 0,
                                 static_cast<float>(Rng() % 20) - 5.5f + W / 2.0f,
                                 static_cast<float>(Rng() % 20) - 5.25f + H / 2.0f, 1});
        const int32_t DW = W * 2 + 7, DH = H * 2 + 5;
        TBitmap32 Expected, Got;
        Fill(Expected, DW, DH, Rng);
        Got.Assign(&Expected);
        if (Trial == 1) {
          Expected.SetClipRect(TRect{2, 1, DW - 3, DH - 2});
          Got.SetClipRect(Expected.ClipRect());
        }
        PerPixelTransform(Expected, Src, M);
        TransformBitmap(&Got, &Src, &M);
        ASSERT_EQ(Pixels(Got), Pixels(Expected))
            << "filter " << int{K.Filter} << " mode " << K.Mode << " " << W << "x" << H << " trial " << Trial;
        ++Drawn;
      }
  EXPECT_EQ(Drawn, 8 * 7 * 3);
}

}  // namespace
