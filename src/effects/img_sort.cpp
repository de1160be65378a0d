// Comb sort of pixels by a key.
#include "img_sort.h"

#include <cmath>
#include <utility>
#include <vector>

int32_t PixelSortKey(TColor32 C, int32_t Key) {
  switch (Key) {
    case 0: return IntensityOf(C);
    case 1: return RedOf(C);
    case 2: return GreenOf(C);
    case 3: return BlueOf(C);
    case 4: return AlphaOf(C);
    default: break;
  }
  if (Key < 5 || Key > 7) return 0;
  float H = 0, S = 0, L = 0;
  HslFromArgb(C, H, S, L);
  const float V = Key == 5 ? H : (Key == 6 ? S : L);
  // The product is formed in extended precision: in float, pure yellow's hue
  // (1/6 stored as a float, a hair above) would round to 42 instead of 43.
  return static_cast<int32_t>(std::nearbyint(static_cast<long double>(V) * 255));
}

void CombSortPixels(TColor32* Pixels, int32_t* Keys, int64_t N) {
  if (Pixels == nullptr || Keys == nullptr || N <= 0) return;
  int64_t Gap = (N >> 3) + 1;
  for (;;) {
    bool Swapped = false;
    for (int64_t i = 0; i + Gap < N; ++i) {
      if (Keys[i] > Keys[i + Gap]) {
        std::swap(Pixels[i], Pixels[i + Gap]);
        std::swap(Keys[i], Keys[i + Gap]);
        Swapped = true;
      }
    }
    // Every shrinking step runs another pass; only a clean pass at gap 1 ends it.
    if (Gap > 1) {
      Gap = Gap - (Gap >> 3) - 1;
      if (Gap < 1) Gap = 1;
    } else if (!Swapped) {
      break;
    }
  }
}

void SortPixels(TColor32* Pixels, int64_t N, int32_t Key) {
  if (Pixels == nullptr || N <= 0 || Key < 0 || Key > 7) return;
  std::vector<int32_t> Keys(static_cast<size_t>(N));
  for (int64_t i = 0; i < N; ++i) Keys[i] = PixelSortKey(Pixels[i], Key);
  CombSortPixels(Pixels, Keys.data(), N);
}
