#pragma once
// A plain model of the bitmap's bilinear reads, written channel by channel
// from the two mixing formulas, for the tests of the reads and of the effects
// that sample through them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "raster_core.h"

namespace bilinear_model {

// The portable mix: weights W and 255 - W, each product rounded by itself.
inline uint32_t PortableMix(uint32_t A, uint32_t B, uint32_t W) {
  if (W == 0) return B;
  if (W == 255) return A;
  return ((A * W + 128) >> 8) + ((B * (255 - W) + 128) >> 8);
}

// The processor mix: weights W and 256 - W, truncated, saturated to a byte.
inline uint32_t ProcessorMix(uint32_t A, uint32_t B, uint32_t W) {
  return std::min<uint32_t>((A * W + B * (256 - W)) >> 8, 255);
}

inline TColor32 Interpolate(bool Processor, uint32_t WX, uint32_t WY, TColor32 TL, TColor32 TR, TColor32 BL,
                            TColor32 BR) {
  WX = std::min<uint32_t>(WX, 255);
  WY = std::min<uint32_t>(WY, 255);
  auto mix = Processor ? ProcessorMix : PortableMix;
  TColor32 r = 0;
  for (int s = 0; s < 32; s += 8) {
    auto c = [s](TColor32 P) { return (P >> s) & 255u; };
    const uint32_t top = mix(c(TL), c(TR), WX), bottom = mix(c(BL), c(BR), WX);
    r |= mix(top, bottom, WY) << s;
  }
  return r;
}

// round(255 * (i / 255) ^ 0.7), computed in double.
inline uint32_t Gamma(uint32_t I) {
  return static_cast<uint32_t>(std::nearbyint(255.0 * std::pow(I / 255.0, 0.7)));
}

// A copy of a bitmap's pixels, clip rectangle and outer colour, read the way
// the clipped 24.8 read is described: outside the clip the outer colour; on
// the last column or row the plain pixel; elsewhere the interpolated one.
struct TModelBitmap {
  int32_t W = 0, H = 0;
  std::vector<TColor32> Px;
  TRect Clip{};
  TColor32 Outer = 0;
  bool Processor = false;

  TModelBitmap(const TBitmap32& B, bool UseProcessor)
      : W(B.Width()), H(B.Height()), Px(B.Bits(), B.Bits() + B.PixelCount()), Clip(B.ClipRect()),
        Outer(B.OuterColor()), Processor(UseProcessor) {}

  TColor32 At(int64_t X, int64_t Y) const { return Px[static_cast<size_t>(Y * W + X)]; }

  TColor32 Read256Clipped(int64_t X, int64_t Y) const {
    if (Clip.Right <= Clip.Left || Clip.Bottom <= Clip.Top) return Outer;
    const int64_t lastX = (int64_t{Clip.Right} - 1) * 256, lastY = (int64_t{Clip.Bottom} - 1) * 256;
    if (X < int64_t{Clip.Left} * 256 || Y < int64_t{Clip.Top} * 256) return Outer;
    const int64_t x = X >> 8, y = Y >> 8;
    if (X < lastX && Y < lastY) {
      const uint32_t wx = Gamma((static_cast<uint32_t>(X) & 255) ^ 255);
      const uint32_t wy = Gamma((static_cast<uint32_t>(Y) & 255) ^ 255);
      return Interpolate(Processor, wx, wy, At(x, y), At(x + 1, y), At(x, y + 1), At(x + 1, y + 1));
    }
    if (X == lastX && Y <= lastY) return At(Clip.Right - 1, y);
    if (Y == lastY && X <= lastX) return At(x, Clip.Bottom - 1);
    return Outer;
  }

  // The float read: the position times 256, rounded to the nearest (ties to
  // even); positions beyond the 24.8 range are outside.
  TColor32 ReadFloat(float X, float Y) const {
    const double fx = double{X} * 256, fy = double{Y} * 256;
    if (!(std::fabs(fx) <= 2147483520.0 && std::fabs(fy) <= 2147483520.0)) return Outer;
    return Read256Clipped(static_cast<int64_t>(std::nearbyint(fx)), static_cast<int64_t>(std::nearbyint(fy)));
  }
};

}  // namespace bilinear_model
