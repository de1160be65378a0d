// Matrices from the input: singular ones, huge and tiny entries, NaN and
// infinities, built directly or by Translate and Rotate with any arguments.
// Each is inverted, asked for its bounds, maps points of every form (the ends
// of the 32-bit range included), and draws a small bitmap through every
// resampler class. Besides the sanitizers' checks: nothing outside the clip is
// drawn, and measuring changes nothing.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "fuzz_input.h"
#include "raster_core.h"
#include "raster_rasterizers.h"
#include "raster_transforms.h"
#include "test_startup.h"

namespace {

// Special values often, small numbers mostly, any bit pattern now and then.
float ShapedFloat(TFuzzInput& r) {
  static const float special[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 1e-6f, 1e-30f, 1e30f,
                                  std::numeric_limits<float>::max(),
                                  std::numeric_limits<float>::lowest(),
                                  std::numeric_limits<float>::denorm_min(),
                                  std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity(),
                                  std::numeric_limits<float>::quiet_NaN(), 65536.0f, 32767.5f};
  const uint8_t k = r.Byte();
  if (k < 64) return special[k % 16];
  if (k < 96) return r.Float();
  return static_cast<float>(static_cast<int16_t>(r.Int())) / 256.0f;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  VemraTestStartup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput r(data, size);
  TAffineTransformation t;
  const uint8_t build = r.Byte();
  if (build & 1) {
    TFloatMatrix m{};
    for (float& e : m) e = ShapedFloat(r);
    t.SetMatrix(m);
  }
  for (int i = 0; i < (build >> 1) % 4; ++i) {
    const float a = ShapedFloat(r), b = ShapedFloat(r);
    if (r.Byte() & 1)
      t.Translate(a, b);
    else
      t.Rotate(a, b, ShapedFloat(r));
  }

  // The algebra on its own.
  TFloatMatrix inv = t.Matrix;
  Invert(inv);
  (void)Determinant(t.Matrix);
  (void)Multiply(t.Matrix, inv);
  (void)FixedMatrixOf(inv);

  // Point mappings of every form.
  for (int i = 0; i < 4; ++i) {
    const int32_t x = r.Int(), y = r.Int();
    (void)t.Transform(TPoint{x, y});
    (void)t.ReverseTransform(TPoint{x, y});
    (void)t.Transform(TFixedPoint{x, y});
    (void)t.ReverseTransform(TFixedPoint{x, y});
    const float fx = ShapedFloat(r), fy = ShapedFloat(r);
    (void)t.Transform(TFloatPoint{fx, fy});
    (void)t.ReverseTransform(TFloatPoint{fx, fy});
  }
  const TFloatRect src{ShapedFloat(r), ShapedFloat(r), ShapedFloat(r), ShapedFloat(r)};
  (void)t.GetTransformedBounds(src);

  // Drawing a small bitmap through it.
  TBitmap32 s, d;
  s.SetSize(1 + r.Byte() % 16, 1 + r.Byte() % 16);
  for (size_t i = 0; i < s.PixelCount(); ++i) s.Bits()[i] = static_cast<TColor32>(i * 0x01030507u);
  static const char* resamplers[] = {"TNearestResampler", "TLinearResampler", "TDraftResampler",
                                     "TKernelResampler"};
  s.SetResamplerClassName(resamplers[r.Byte() % 4]);
  s.SetDrawMode(static_cast<TDrawMode>(r.Byte() % 4));
  s.SetMasterAlpha(r.Byte());
  d.SetSize(1 + r.Byte() % 24, 1 + r.Byte() % 24);
  d.Clear(0xFF102030u);
  d.SetClipRect(TRect{static_cast<int8_t>(r.Byte()), static_cast<int8_t>(r.Byte()),
                      static_cast<int8_t>(r.Byte()), static_cast<int8_t>(r.Byte())});
  const TRect clip{static_cast<int8_t>(r.Byte()), static_cast<int8_t>(r.Byte()),
                   static_cast<int8_t>(r.Byte()), static_cast<int8_t>(r.Byte())};
  t.SetSrcRect(r.Byte() & 1 ? src : FloatRectFromRect(s.BoundsRect()));

  const std::vector<TColor32> before(d.Bits(), d.Bits() + d.PixelCount());
  TRegularRasterizer rasterizer;
  rasterizer.SetUpdateRowCount(r.Byte() % 4);
  TransformBitmap(&d, &s, &t, clip, rasterizer);
  const TRect& dc = d.ClipRect();
  for (int32_t y = 0; y < d.Height(); ++y)
    for (int32_t x = 0; x < d.Width(); ++x)
      if (!(PointInRect(dc, x, y) && PointInRect(clip, x, y)) &&
          d.GetPixel(x, y) != before[static_cast<size_t>(y) * d.Width() + x])
        std::abort();

  const std::vector<TColor32> drawn(d.Bits(), d.Bits() + d.PixelCount());
  d.StartAreaReporting([](TBitmap32*, const TRect&, uint32_t) {});
  TransformBitmap(&d, &s, &t);
  d.StopAreaReporting();
  if (!std::equal(drawn.begin(), drawn.end(), d.Bits())) std::abort();
  return 0;
}
