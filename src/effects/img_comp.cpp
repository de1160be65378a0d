// Colour-space conversions on the pixels of a bitmap.
#include "img_comp.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "img_common.h"
#include "raster_blend.h"
#include "raster_parallel.h"
#include "raster_system.h"

namespace {

using ByteTable = std::array<int32_t, 256>;

// Entry i = ClampToByte(trunc(i * C)), optionally halved; C is an extended constant.
ByteTable TruncTable(long double C, bool Halve = false) {
  ByteTable T{};
  for (int32_t i = 0; i < 256; ++i) {
    int32_t V = static_cast<int32_t>(static_cast<long double>(i) * C);
    if (Halve) V >>= 1;
    T[i] = ClampToByte(V);
  }
  return T;
}

inline int32_t IntensityBytes(TColor32 C) {
  return static_cast<int32_t>((((C >> 16) & 0xFF) * 61 + ((C >> 8) & 0xFF) * 174 + (C & 0xFF) * 21) >> 8);
}

// round(V * 255) of a 0..1 float, as the packed H/S/L bytes store it.
inline TColor32 UnitToByte(float V) {
  return static_cast<TColor32>(ClampToByte64(static_cast<int64_t>(RoundHalfEven(static_cast<long double>(V) * 255))));
}

// A percentage turned into a 32-bit float factor (100 + p) / 100.
inline float PercentFactor(int32_t Percent) {
  return static_cast<float>(static_cast<long double>(int64_t{Percent} + 100) / 100.0L);
}

// h * f stored as a float, capped at 1 (hue is capped, not wrapped) and, for
// factors below zero, kept from going negative.
inline float ScaleUnit(float V, float F) {
  float R = static_cast<float>(static_cast<long double>(V) * F);
  if (R > 1.0f) R = 1.0f;
  if (!(R >= 0.0f)) R = 0.0f;
  return R;
}

// The opaque grey of every pixel (level 255); the 16-bit products cannot
// overflow because the weights sum to 256. Compiled for the baseline
// processor and for AVX2.
[[gnu::always_inline]] inline void GreyRun(TColor32* __restrict P, size_t N) {
  for (size_t i = 0; i < N; ++i) {
    const TColor32 C = P[i];
    const TColor32 I = (((C >> 16) & 0xFF) * 61 + ((C >> 8) & 0xFF) * 174 + (C & 0xFF) * 21) >> 8;
    P[i] = 0xFF000000u | (I * 0x010101u);
  }
}

void GreyRunPortable(TColor32* P, size_t N) { GreyRun(P, N); }
[[gnu::target("avx2")]] void GreyRunAvx2(TColor32* P, size_t N) { GreyRun(P, N); }

}  // namespace

void Greyscale(TBitmap32* Bmp, int32_t Level) {
  if (Bmp == nullptr) return;
  Level = ClampLevel(Level);
  if (HasPixels(Bmp)) {
    TColor32* P = Bmp->Bits();
    const size_t N = Bmp->PixelCount();
    if (Level == 255) {
      // Putting an opaque grey replaces the pixel, alpha included.
      const bool Avx2 = !ForcePortable() && __builtin_cpu_supports("avx2");
      ParallelSpans(N, 1 << 16, [&](size_t First, size_t Last) {
        if (Avx2)
          GreyRunAvx2(P + First, Last - First);
        else
          GreyRunPortable(P + First, Last - First);
      });
    } else if (Level > 0) {
      const TColor32 A = static_cast<TColor32>(Level) << 24;
      ParallelSpans(N, 1 << 15, [&](size_t First, size_t Last) {
        for (size_t i = First; i < Last; ++i) {
          const TColor32 I = static_cast<TColor32>(IntensityBytes(P[i]));
          BlendPixelInto(A | (I * 0x010101u), P[i]);
        }
      });
    }
  }
  Bmp->Changed();
  EndMmx();
}

void ChannelToGrey(TBitmap32* Bmp, int32_t Shift) {
  if (Bmp == nullptr || Shift < 0 || Shift > 24) return;
  if (HasPixels(Bmp)) {
    TColor32* P = Bmp->Bits();
    const size_t N = Bmp->PixelCount();
    for (size_t i = 0; i < N; ++i) {
      const TColor32 V = (P[i] >> Shift) & 0xFF;
      P[i] = (P[i] & 0xFF000000u) | (V * 0x010101u);
    }
  }
  Bmp->Changed();
}

void KeepChannel(TBitmap32* Bmp, int32_t Shift) {
  if (Bmp == nullptr || Shift < 0 || Shift > 24) return;
  if (HasPixels(Bmp)) {
    const TColor32 Mask = (TColor32{255} << Shift) | 0xFF000000u;
    TColor32* P = Bmp->Bits();
    const size_t N = Bmp->PixelCount();
    for (size_t i = 0; i < N; ++i) P[i] &= Mask;
  }
  Bmp->Changed();
}

void RgbToHslBytes(TBitmap32* Bmp) {
  if (Bmp == nullptr) return;
  if (HasPixels(Bmp)) {
    TColor32* P = Bmp->Bits();
    const size_t N = Bmp->PixelCount();
    ParallelSpans(N, 1 << 14, [&](size_t First, size_t Last) {
      for (size_t i = First; i < Last; ++i) {
        float H = 0, S = 0, L = 0;
        HslFromArgb(P[i], H, S, L);
        P[i] = (P[i] & 0xFF000000u) | (UnitToByte(H) << 16) | (UnitToByte(S) << 8) | UnitToByte(L);
      }
    });
  }
  Bmp->Changed();
}

void HslBytesToRgb(TBitmap32* Bmp) {
  if (Bmp == nullptr) return;
  if (HasPixels(Bmp)) {
    TColor32* P = Bmp->Bits();
    const size_t N = Bmp->PixelCount();
    ParallelSpans(N, 1 << 14, [&](size_t First, size_t Last) {
      for (size_t i = First; i < Last; ++i) {
        const TColor32 C = P[i];
        const float H = static_cast<float>(static_cast<long double>((C >> 16) & 0xFF) / 255.0L);
        const float S = static_cast<float>(static_cast<long double>((C >> 8) & 0xFF) / 255.0L);
        const float L = static_cast<float>(static_cast<long double>(C & 0xFF) / 255.0L);
        P[i] = (C & 0xFF000000u) | (ArgbFromHsl(H, S, L) & 0x00FFFFFFu);
      }
    });
  }
  Bmp->Changed();
}

void RgbToYCbCr(TBitmap32* Bmp) {
  if (Bmp == nullptr) return;
  if (HasPixels(Bmp)) {
    static const ByteTable YR = TruncTable(0.299L), YG = TruncTable(0.587L), YB = TruncTable(0.114L);
    static const ByteTable CrG = TruncTable(0.419L), CrB = TruncTable(0.081L);
    static const ByteTable CbR = TruncTable(0.169L), CbG = TruncTable(0.331L);
    TColor32* P = Bmp->Bits();
    const size_t N = Bmp->PixelCount();
    ParallelSpans(N, 1 << 14, [&](size_t First, size_t Last) {
      for (size_t i = First; i < Last; ++i) {
        const TColor32 C = P[i];
        const int32_t R = (C >> 16) & 0xFF, G = (C >> 8) & 0xFF, B = C & 0xFF;
        const int32_t Y = ClampToByte(YR[R] + YG[G] + YB[B]);
        const int32_t Cr = ClampToByte((R >> 1) - CrG[G] - CrB[B] + 128);
        const int32_t Cb = ClampToByte(-CbR[R] - CbG[G] + (B >> 1) + 128);
        P[i] = (C & 0xFF000000u) | (static_cast<TColor32>(Cr) << 16) | (static_cast<TColor32>(Y) << 8) |
               static_cast<TColor32>(Cb);
      }
    });
  }
  Bmp->Changed();
}

void YCbCrToRgb(TBitmap32* Bmp) {
  if (Bmp == nullptr) return;
  if (HasPixels(Bmp)) {
    // The halved tables drop their lowest bit, so a round trip is close to,
    // not equal to, the identity.
    static const ByteTable A = TruncTable(1.403L, true), B = TruncTable(0.344L);
    static const ByteTable C = TruncTable(0.714L), D = TruncTable(1.77L, true);
    TColor32* P = Bmp->Bits();
    const size_t N = Bmp->PixelCount();
    ParallelSpans(N, 1 << 14, [&](size_t First, size_t Last) {
      for (size_t i = First; i < Last; ++i) {
        const TColor32 Px = P[i];
        const int32_t Cr = (Px >> 16) & 0xFF, Y = (Px >> 8) & 0xFF, Cb = Px & 0xFF;
        const int32_t R = ClampToByte(Y + 2 * A[Cr] - 180);
        const int32_t G = ClampToByte(Y - B[Cb] - C[Cr] + 135);
        const int32_t Bl = ClampToByte(Y + 2 * D[Cb] - 227);
        P[i] = (Px & 0xFF000000u) | (static_cast<TColor32>(R) << 16) | (static_cast<TColor32>(G) << 8) |
               static_cast<TColor32>(Bl);
      }
    });
  }
  Bmp->Changed();
}

void HslScale(TBitmap32* Dst, TBitmap32* Src, int32_t HuePercent, int32_t SatPercent, int32_t LightPercent,
              bool DoRed, bool DoGreen, bool DoBlue) {
  if (Dst == nullptr || Src == nullptr) return;
  const float Fh = PercentFactor(HuePercent), Fs = PercentFactor(SatPercent), Fl = PercentFactor(LightPercent);
  ResizeLike(Dst, Src);
  if (HasPixels(Src) && HasPixels(Dst)) {
    TColor32 Mask = 0;
    if (DoRed) Mask |= 0x00FF0000u;
    if (DoGreen) Mask |= 0x0000FF00u;
    if (DoBlue) Mask |= 0x000000FFu;
    const TColor32* S = Src->Bits();
    TColor32* D = Dst->Bits();
    const size_t N = Src->PixelCount();
    // Factors of 1 leave H, S and L as they are, and every colour comes back
    // from its H, S and L exactly: the result is Src itself.
    const bool Unchanged = Fh == 1.0f && Fs == 1.0f && Fl == 1.0f;
    ParallelSpans(N, 1 << 14, [&](size_t First, size_t Last) {
      if (Unchanged) {
        if (D != S) std::copy(S + First, S + Last, D + First);
        return;
      }
      for (size_t i = First; i < Last; ++i) {
        const TColor32 Px = S[i];
        float H = 0, Sa = 0, L = 0;
        HslFromArgb(Px, H, Sa, L);
        const TColor32 C = ArgbFromHsl(ScaleUnit(H, Fh), ScaleUnit(Sa, Fs), ScaleUnit(L, Fl));
        D[i] = (Px & ~Mask) | (C & Mask);
      }
    });
  }
  Dst->Changed();
}
