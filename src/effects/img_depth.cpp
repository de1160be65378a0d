#include "img_depth.h"

#include "platform_graphics.h"

namespace {

// (r, g, b) is nearer black than white exactly when r + g + b <= 382: the
// squared distances differ by 510 * (r + g + b) - 3 * 255^2, never zero.
inline TColor32 BlackOrWhite(TColor32 C) {
  const uint32_t s = ((C >> 16) & 0xFF) + ((C >> 8) & 0xFF) + (C & 0xFF);
  return s <= 382 ? 0xFF000000u : 0xFFFFFFFFu;
}

// The sixteen colours are few enough to compare, but a picture repeats its
// colours run after run, so the last answer is kept.
void ToVga(TColor32* P, size_t N) {
  const std::vector<uint32_t>& pal = VgaPalette();
  uint32_t lastIn = 0, lastOut = 0xFF000000u | pal[static_cast<size_t>(NearestPaletteIndex(pal, 0))];
  for (size_t i = 0; i < N; ++i) {
    const uint32_t rgb = P[i] & 0x00FFFFFFu;
    if (rgb != lastIn) {
      lastIn = rgb;
      lastOut = 0xFF000000u | pal[static_cast<size_t>(NearestPaletteIndex(pal, rgb))];
    }
    P[i] = lastOut;
  }
}

}  // namespace

void ReduceColorDepth(TBitmap32* Bmp, int32_t Bits) {
  if (Bmp == nullptr || Bmp->Empty()) return;
  TColor32* p = Bmp->Bits();
  const size_t n = Bmp->PixelCount();
  switch (Bits) {
    case 1:
      for (size_t i = 0; i < n; ++i) p[i] = BlackOrWhite(p[i]);
      break;
    case 4:
      ToVga(p, n);
      break;
    case 8:
      MapToCubePalette(p, n);
      break;
    case 15:
      for (size_t i = 0; i < n; ++i) p[i] = (p[i] & 0x00F8F8F8u) | 0xFF000000u;
      break;
    case 16:
      for (size_t i = 0; i < n; ++i) p[i] = (p[i] & 0x00F8FCF8u) | 0xFF000000u;
      break;
    default:
      return;
  }
  Bmp->Changed();
}
