#pragma once
// Pictures and views for the editor's tests.
#include <cstdint>
#include <memory>

#include "raster_core.h"
#include "raster_image.h"
#include "raster_layers.h"

// Fills B with pixels (alpha included) that depend on position and Seed.
inline void PaintPattern(TBitmap32& B, uint32_t Seed) {
  for (int32_t y = 0; y < B.Height(); ++y)
    for (int32_t x = 0; x < B.Width(); ++x) {
      const uint32_t v = (static_cast<uint32_t>(x) * 2654435761u) ^ (static_cast<uint32_t>(y) * 40503u) ^
                         (Seed * 0x9E3779B9u);
      B.SetPixel(x, y, v * 0x01000193u);
    }
}

inline std::unique_ptr<TBitmap32> Pattern(int32_t W, int32_t H, uint32_t Seed) {
  auto b = std::make_unique<TBitmap32>();
  b->SetSize(W, H);
  PaintPattern(*b, Seed);
  return b;
}

inline std::unique_ptr<TBitmap32> Copy(const TBitmap32& B) {
  auto c = std::make_unique<TBitmap32>();
  c->Assign(&B);
  return c;
}

// True when every pixel of Area of A equals the pixel of B at the same place.
inline bool SameArea(const TBitmap32& A, const TBitmap32& B, const TRect& Area) {
  for (int32_t y = Area.Top; y < Area.Bottom; ++y)
    for (int32_t x = Area.Left; x < Area.Right; ++x)
      if (A.GetPixel(x, y) != B.GetPixel(x, y)) return false;
  return true;
}

// A selection frame over a control rectangle of View (at scale 1 the same
// rectangle of the bitmap).
inline TRubberbandLayer* AddFrame(TCustomImage32& View, float L, float T, float R, float B) {
  auto* f = View.Layers()->Add<TRubberbandLayer>();
  f->SetLocation(MakeFloatRect(L, T, R, B));
  return f;
}
