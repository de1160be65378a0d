// Polygons with points taken from the input: small shapes near the bitmap,
// points anywhere in the 16.16 range (its ends included), an optional
// transformation with any matrix, every fill mode and anti-aliasing mode,
// polylines, TPolygon32 with Grow (any delta and sharpness, NaN included) and
// Outline. Besides the sanitizers' checks, every step verifies that nothing
// outside the clip rectangle changed and that measuring changes nothing.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "raster_core.h"
#include "raster_polygons.h"
#include "raster_transforms.h"
#include "test_startup.h"

namespace {

// A coordinate: mostly near a 48-pixel bitmap, sometimes anything at all.
TFixed Coordinate(TFuzzInput& r) {
  const uint8_t kind = r.Byte();
  switch (kind % 8) {
    case 0: return r.Int();
    case 1: return kind & 8 ? std::numeric_limits<int32_t>::max() : std::numeric_limits<int32_t>::min();
    case 2: return static_cast<TFixed>(static_cast<uint32_t>(static_cast<int16_t>(r.Int())) << 16);
    default: {
      // -16 .. 64 pixels with a fraction.
      const int32_t px = static_cast<int32_t>(r.Byte() % 80) - 16;
      return static_cast<TFixed>(static_cast<uint32_t>(px) << 16) + (r.Byte() << 8);
    }
  }
}

// Every pixel outside the clip rectangle is as before.
void CheckOutsideClip(const TBitmap32& B, const std::vector<TColor32>& Before) {
  const TRect& c = B.ClipRect();
  for (int32_t y = 0; y < B.Height(); ++y)
    for (int32_t x = 0; x < B.Width(); ++x)
      if (!PointInRect(c, x, y) && B.GetPixel(x, y) != Before[static_cast<size_t>(y) * B.Width() + x])
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  VemraTestStartup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput r(data, size);
  TBitmap32 b;
  b.SetSize(1 + r.Byte() % 48, 1 + r.Byte() % 48);
  b.Clear(0xFF336699u);
  const int32_t cl = static_cast<int8_t>(r.Byte()), ct = static_cast<int8_t>(r.Byte());
  const int32_t cr = static_cast<int8_t>(r.Byte()), cb = static_cast<int8_t>(r.Byte());
  b.SetClipRect(TRect{cl, ct, cr, cb});
  b.SetCombineMode(r.Byte() & 1 ? cmMerge : cmBlend);

  // Up to four lines, 48 points in all: the anti-aliased fill walks every
  // sub-row between a far point and the bitmap, so this bounds the time.
  TArrayOfArrayOfFixedPoint lines(1 + r.Byte() % 4);
  int budget = 48;
  for (auto& line : lines) {
    const int count = std::min<int>(r.Byte() % 24, budget);
    budget -= count;
    for (int i = 0; i < count; ++i) {
      const TFixed x = Coordinate(r);
      line.push_back(TFixedPoint{x, Coordinate(r)});
    }
  }

  TAffineTransformation transformation;
  const uint8_t flags = r.Byte();
  TTransformation* t = nullptr;
  if (flags & 1) {
    TFloatMatrix m = IdentityMatrix;
    for (int i = 0; i < 9; ++i)
      if (r.Byte() & 1) m[static_cast<size_t>(i)] = r.Float();
    transformation.SetMatrix(m);
    t = &transformation;
  }
  const TColor32 color = static_cast<TColor32>(r.Int());
  const TPolyFillMode mode = flags & 2 ? pfWinding : pfAlternate;
  const int32_t aaMode = static_cast<int32_t>(r.Byte() % 7) - 1;  // -1 and 5 are out of range

  std::vector<TColor32> before(b.Bits(), b.Bits() + b.PixelCount());
  const uint8_t op = r.Byte();
  switch (op % 6) {
    case 0: FillPolyPolygon(&b, lines, color, mode, t); break;
    case 1: FillPolyPolygonSmooth(&b, lines, color, mode, aaMode, t); break;
    case 2: PolyPolyline(&b, lines, color, flags & 4, t); break;
    case 3: PolyPolylineSmooth(&b, lines, color, flags & 4, t); break;
    default: {
      TPolygon32 p;
      p.SetPoints(lines);
      p.SetClosed(flags & 4);
      p.SetAntialiased(flags & 8);
      p.SetAntialiasMode(aaMode);
      p.SetFillMode(mode);
      const TFixed delta = (op & 0x80) ? r.Int() : static_cast<TFixed>(static_cast<int8_t>(r.Byte())) << 14;
      const float sharpness = r.Float();
      std::unique_ptr<TPolygon32> shape = (op % 6 == 4) ? p.Grow(delta, sharpness)
                                                         : p.Outline()->Grow(delta, sharpness);
      shape->Draw(&b, color, color ^ 0x00FFFFFFu, t);
      break;
    }
  }
  CheckOutsideClip(b, before);

  // Measuring: the same fills report but leave every pixel alone.
  before.assign(b.Bits(), b.Bits() + b.PixelCount());
  b.StartAreaReporting([](TBitmap32*, const TRect&, uint32_t) {});
  FillPolyPolygon(&b, lines, color, mode, t);
  FillPolyPolygonSmooth(&b, lines, color, mode, aaMode, t);
  b.StopAreaReporting();
  if (!std::equal(before.begin(), before.end(), b.Bits())) std::abort();
  return 0;
}
