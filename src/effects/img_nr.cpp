// Noise reduction.
#include "img_nr.h"

#include <cmath>
#include <memory>

#include "img_common.h"
#include "img_comp.h"
#include "img_conv.h"
#include "img_lut.h"
#include "img_minmax.h"
#include "img_rank.h"
#include "raster_blend.h"
#include "raster_filters.h"

namespace {

constexpr int32_t Soft3x3[9] = {1, 1, 1, 1, 2, 1, 1, 1, 1};
constexpr int32_t Box5x5[25] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
constexpr int32_t AllChannels = 7, RedBlue = 5;

// Stretches the green range Lo..Hi of the mask to start at 0 with the factor
// 255 / Hi. A mask without any variation has Hi = 0; the quotient has no value
// then and the mask is left as it is (every entry is 0 anyway).
void StretchMaskRange(TBitmap32* Mask) {
  int32_t Lo = 0, Hi = 0;
  GreenMinMax(Mask, Lo, Hi);
  if (Hi <= 0) return;
  const long double Factor = 255.0L / Hi;
  TLut T;
  for (int i = 0; i < 256; ++i) {
    // |i - Lo| * Factor stays below 65026, so the truncation is in range.
    T[i] = static_cast<uint8_t>(ClampToByte(static_cast<int32_t>(std::trunc((i - Lo) * Factor))));
  }
  ApplyLut(Mask, T.data(), 255);
}

}  // namespace

void ReduceNoise(TBitmap32* Bmp, int32_t Strength) {
  if (!HasPixels(Bmp)) return;
  Strength = ClampLevel(Strength);

  // A: the smoothed copy; green is smoothed once, red and blue more.
  auto A = std::make_unique<TBitmap32>();
  A->SetSize(Bmp->Width(), Bmp->Height());
  A->Assign(Bmp);
  Convolve3x3Masked(Soft3x3, 10, A.get(), 0, AllChannels, 32);
  Convolve5x5Masked(Box5x5, 25, A.get(), 0, RedBlue, 32);

  // B: the mask, from the local deviation of A.
  auto B = std::make_unique<TBitmap32>();
  B->Assign(A.get());
  DeviationFilter(B.get(), 1, 255);
  Greyscale(B.get(), 255);
  StretchMaskRange(B.get());
  InvertRGB(B.get(), B.get());
  const int32_t Mean = GreenMean(B.get());
  TLut T;
  for (int i = 0; i < 256; ++i) T[i] = static_cast<uint8_t>(ClampToByte((i - Mean) * 8 + 128));
  ApplyLut(B.get(), T.data(), 255);
  StretchMaskRange(B.get());
  Convolve3x3Masked(Soft3x3, 10, B.get(), 0, AllChannels, 32);

  for (int Pass = 0; Pass < 3; ++Pass) Convolve5x5Masked(Box5x5, 25, A.get(), 0, RedBlue, 16);

  TColor32* D = Bmp->Bits();
  const TColor32* Ap = A->Bits();
  const TColor32* Bp = B->Bits();
  const size_t N = Bmp->PixelCount();
  for (size_t i = 0; i < N; ++i) {
    const TColor32 Alpha = (static_cast<TColor32>(GreenOf(Bp[i])) * static_cast<TColor32>(Strength)) >> 8;
    BlendPixelInto((Ap[i] & 0x00FFFFFFu) | (Alpha << 24), D[i]);
  }
  EndMmx();
  Bmp->Changed();
}
