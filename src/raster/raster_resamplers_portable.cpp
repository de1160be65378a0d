// The portable block average and quad interpolator, the routine variables
// that hold the chosen family, and the choice itself.
#include <cstdlib>
#include <cstring>

#include "raster_blend.h"
#include "raster_resamplers.h"

namespace {

// Per channel: the block's sum times 0x1000000 div (Dlx * Dly), shifted right
// by 24. The factor truncates, so a flat 255 block can average to 254; that
// is the routine's known answer. Blocks of more than 2^24 pixels would get a
// factor of 0 and turn black: those divide the 64-bit sums directly.
TColor32 AverageBlockPortable(int32_t Dlx, int32_t Dly, const TColor32* Src, int32_t Pitch) {
  if (Dlx < 1) Dlx = 1;
  if (Dly < 1) Dly = 1;
  uint64_t B = 0, G = 0, R = 0, A = 0;
  const auto* Row = reinterpret_cast<const uint8_t*>(Src);
  for (int32_t y = 0; y < Dly; ++y, Row += Pitch) {
    const auto* P = reinterpret_cast<const TColor32*>(Row);
    for (int32_t x = 0; x < Dlx; ++x) {
      const TColor32 C = P[x];
      B += C & 0xFF;
      G += (C >> 8) & 0xFF;
      R += (C >> 16) & 0xFF;
      A += C >> 24;
    }
  }
  const uint64_t N = static_cast<uint64_t>(Dlx) * static_cast<uint64_t>(Dly);
  uint64_t Rb, Rg, Rr, Ra;
  if (N <= 0x1000000u) {
    const uint64_t C = 0x1000000u / N;
    Rb = (B * C) >> 24;
    Rg = (G * C) >> 24;
    Rr = (R * C) >> 24;
    Ra = (A * C) >> 24;
  } else {
    Rb = B / N;
    Rg = G / N;
    Rr = R / N;
    Ra = A / N;
  }
  return static_cast<TColor32>(Ra << 24 | Rr << 16 | Rg << 8 | Rb);
}

// Three linear combinations through CombinePixels, each weight limited to 255.
TColor32 InterpolateQuadPortable(uint32_t WX, uint32_t WY, const TColor32* Upper,
                                 const TColor32* Lower) {
  uint32_t X = WX >> 16, Y = WY >> 16;
  if (X > 255) X = 255;
  if (Y > 255) Y = 255;
  const TColor32 Top = CombinePixels(Upper[0], Upper[1], X);
  const TColor32 Bottom = CombinePixels(Lower[0], Lower[1], X);
  return CombinePixels(Top, Bottom, Y);
}

}  // namespace

const TResamplerFamily PortableResamplerFamily{AverageBlockPortable, InterpolateQuadPortable};

TAverageBlock AverageBlock = AverageBlockPortable;
TInterpolateQuad InterpolateQuad = InterpolateQuadPortable;

bool SelectResamplerFamily(bool UseProcessor) {
  const TResamplerFamily* F = &PortableResamplerFamily;
  if (UseProcessor) {
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("sse2") && Sse2ResamplerFamily()) F = Sse2ResamplerFamily();
#endif
  }
  AverageBlock = F->AverageBlock;
  InterpolateQuad = F->InterpolateQuad;
  return F != &PortableResamplerFamily;
}
