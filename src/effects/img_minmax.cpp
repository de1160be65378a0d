// Channel statistics of a bitmap.
#include "img_minmax.h"

#include <algorithm>
#include <array>

#include "img_common.h"

namespace {

inline int32_t IntensityBytes(TColor32 C) {
  return static_cast<int32_t>((((C >> 16) & 0xFF) * 61 + ((C >> 8) & 0xFF) * 174 + (C & 0xFF) * 21) >> 8);
}

// Min starts at 255 and Max at 0; Value(pixel) feeds both.
template <typename F>
void MinMaxOf(const TBitmap32* Bmp, int32_t& Min, int32_t& Max, F Value) {
  Min = 255;
  Max = 0;
  if (!HasPixels(Bmp)) return;
  const TColor32* P = Bmp->Bits();
  const size_t N = Bmp->PixelCount();
  int32_t Lo = 255, Hi = 0;
  for (size_t i = 0; i < N; ++i) Value(P[i], Lo, Hi);
  Min = Lo;
  Max = Hi;
}

}  // namespace

void LevelsFromHistogram(const TBitmap32* Bmp, int32_t& Lo, int32_t& Hi) {
  const size_t Count = HasPixels(Bmp) ? Bmp->PixelCount() : 0;
  // With fewer than two pixels there is no N to divide by: the one pixel (or
  // nothing, giving 0) is both ends.
  if (Count < 2) {
    Lo = Hi = Count == 1 ? IntensityBytes(Bmp->Bits()[0]) : 0;
    return;
  }
  std::array<uint64_t, 256> Bins{};
  const TColor32* P = Bmp->Bits();
  for (size_t i = 0; i < Count; ++i) ++Bins[IntensityBytes(P[i])];
  const uint64_t N = Count - 1;
  Lo = 255;
  Hi = 0;
  bool Found = false;
  for (int32_t i = 0; i < 256; ++i) {
    uint64_t S = Bins[i];
    if (i > 0) S += Bins[i - 1];
    if (i < 255) S += Bins[i + 1];
    // S <= 3 * 2^32 * 2^31 would still fit; a bitmap's pixel count is far below that.
    if ((S * 2048) / N > 1) {
      if (!Found) Lo = i;
      Found = true;
      Hi = i;
    }
  }
}

void IntensityMinMax(const TBitmap32* Bmp, int32_t& Min, int32_t& Max) {
  MinMaxOf(Bmp, Min, Max, [](TColor32 C, int32_t& Lo, int32_t& Hi) {
    const int32_t I = IntensityBytes(C);
    Lo = std::min(Lo, I);
    Hi = std::max(Hi, I);
  });
}

void GreenMinMax(const TBitmap32* Bmp, int32_t& Min, int32_t& Max) {
  MinMaxOf(Bmp, Min, Max, [](TColor32 C, int32_t& Lo, int32_t& Hi) {
    const int32_t G = (C >> 8) & 0xFF;
    Lo = std::min(Lo, G);
    Hi = std::max(Hi, G);
  });
}

void ChannelsMinMax(const TBitmap32* Bmp, int32_t& Min, int32_t& Max) {
  MinMaxOf(Bmp, Min, Max, [](TColor32 C, int32_t& Lo, int32_t& Hi) {
    const int32_t R = (C >> 16) & 0xFF, G = (C >> 8) & 0xFF, B = C & 0xFF;
    Lo = std::min({Lo, R, G, B});
    Hi = std::max({Hi, R, G, B});
  });
}

int32_t GreenMean(const TBitmap32* Bmp) {
  if (!HasPixels(Bmp)) return 0;
  const TColor32* P = Bmp->Bits();
  const size_t N = Bmp->PixelCount();
  uint64_t Sum = 0;
  for (size_t i = 0; i < N; ++i) Sum += (P[i] >> 8) & 0xFF;
  return static_cast<int32_t>(Sum / N);
}
