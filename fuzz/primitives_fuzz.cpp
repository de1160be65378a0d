// Every clipped drawing primitive and clipped read with coordinates taken from
// the input: any values, the ends of the 32-bit range included. Besides the
// sanitizers' checks, each step verifies that nothing outside the clip
// rectangle changed and that measuring changed nothing at all.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "raster_core.h"
#include "test_startup.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  VemraTestStartup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput r(data, size);
  TBitmap32 b;
  const int32_t w = 1 + r.Byte() % 48, h = 1 + r.Byte() % 48;
  b.SetSize(w, h);
  // Clip rectangles near the bitmap, also empty and zero-sized ones.
  const int32_t cl = static_cast<int8_t>(r.Byte()), ct = static_cast<int8_t>(r.Byte());
  const int32_t cr = static_cast<int8_t>(r.Byte()), cb = static_cast<int8_t>(r.Byte());
  b.Clear(0xFF336699u);
  b.SetClipRect(TRect{cl, ct, cr, cb});
  b.SetCombineMode(r.Byte() & 1 ? cmMerge : cmBlend);
  b.SetWrapMode(static_cast<TWrapMode>(r.Byte() % 3));
  b.SetStipple({0xFFFF0000u, 0x7F00FF00u, 0x000000FFu});
  b.SetStippleStep(r.Float());

  std::vector<TColor32> before;
  for (int step = 0; step < 32 && r.Left() > 0; ++step) {
    const uint8_t op = r.Byte();
    const bool measure = (op & 0x80) != 0;
    const int32_t x1 = r.Int(), y1 = r.Int(), x2 = r.Int(), y2 = r.Int();
    const TColor32 c = static_cast<TColor32>(r.Int());
    before.assign(b.Bits(), b.Bits() + b.PixelCount());
    const TRect clip = b.ClipRect();
    if (measure) b.StartAreaReporting([](TBitmap32*, const TRect&, uint32_t) {});
    volatile TColor32 sink = 0;
    switch (op & 0x7F) {
      case 0: b.HorzLineClipped(x1, y1, x2, c); break;
      case 1: b.HorzLineBlendClipped(x1, y1, x2, c); break;
      case 2: b.HorzLineStipple(x1, y1, x2); break;
      case 3: b.VertLineClipped(x1, y1, y2, c); break;
      case 4: b.VertLineBlendClipped(x1, y1, y2, c); break;
      case 5: b.VertLineStipple(x1, y1, y2); break;
      case 6: b.LineClipped(x1, y1, x2, y2, c, c & 1); break;
      case 7: b.LineBlendClipped(x1, y1, x2, y2, c, c & 1); break;
      case 8: b.LineFixedClipped(x1, y1, x2, y2, c, c & 1); break;
      case 9: b.LineFixedClipped(x1 >> 8, y1 >> 8, x2 >> 8, y2 >> 8, c, c & 1); break;
      case 10: b.FillRectClipped(x1, y1, x2, y2, c); break;
      case 11: b.FillRectBlendClipped(x1, y1, x2, y2, c); break;
      case 12: b.FrameRectClipped(x1, y1, x2, y2, c); break;
      case 13: b.FrameRectBlendClipped(x1, y1, x2, y2); break;
      case 14: b.MoveTo(x1, y1); b.LineToClipped(x2, y2); b.LineToBlend(x1, y2); break;
      case 15: b.MoveToFixed(x1, y1); b.LineToSmooth(x2, y2); break;
      case 16: b.AdvanceStipple(r.Float()); sink = b.GetStippleColor(); break;
      case 17: b.SetStippleStep(r.Float()); sink = b.GetStippleColor(); break;
      case 18:
        if (!measure) {
          b.SetPixelClipped(x1, y1, c);
          b.SetPixelBlendClipped(x2, y2, c);
          b.SetPixel256Clipped(x1 >> 8, y1 >> 8, c);
          b.SetPixelFixedClipped(x2, y2, c);
        }
        break;
      case 19:
        sink = b.GetPixelClipped(x1, y1) ^ b.GetPixelWrapped(x1, y1) ^ b.GetPixelWrappedBilinear(x2, y2) ^
               b.GetPixel256Clipped(x1, y2) ^ b.GetPixelFixedClipped(x2, y1) ^
               b.GetPixelBilinear(r.Float(), r.Float());
        break;
      default: {
        // A new clip rectangle from the coordinates, any values.
        b.SetClipRect(TRect{x1 % 64, y1 % 64, x2 % 64, y2 % 64});
        break;
      }
    }
    (void)sink;
    if (measure) {
      b.StopAreaReporting();
      if (std::memcmp(before.data(), b.Bits(), before.size() * 4) != 0) std::abort();
    }
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        if (!PointInRect(clip, x, y) && b.GetPixel(x, y) != before[static_cast<size_t>(y) * w + x])
          std::abort();
  }
  return 0;
}
