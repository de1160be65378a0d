// The processor blend family: every channel in a 16-bit lane, one pixel per
// four lanes, with SSE2 instructions.
//
// The combination here is ((Xc - Yc) * W + Yc * 256 + 128) shr 8 in 16-bit
// lanes, which is (Xc*W + Yc*(256 - W) + 128) shr 8 and can be one above or
// below the portable Lerp. That difference is kept on purpose: pictures made on
// this path must come out as they always did, so each routine computes exactly
// its own formula (and keeps its own special cases) rather than the portable one.
#include "raster_blend_family.h"

#if defined(__SSE2__)

#include <emmintrin.h>

#include <cstring>

namespace {

inline __m128i Zero() { return _mm_setzero_si128(); }

// One pixel into the four low 16-bit lanes (B, G, R, A) and back.
inline __m128i UnpackPixel(TColor32 C) { return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(C)), Zero()); }
inline TColor32 PackPixel(__m128i V) { return static_cast<TColor32>(_mm_cvtsi128_si32(_mm_packus_epi16(V, V))); }

// ((X - Y) * W + Y * 256 + 128) shr 8 in each 16-bit lane. The sum is below
// 65536 for weights 0..256, so the wrap of the 16-bit product cancels out and
// the logical shift gives the exact quotient.
inline __m128i LerpLanes(__m128i X, __m128i Y, __m128i W) {
  const __m128i prod = _mm_mullo_epi16(_mm_sub_epi16(X, Y), W);
  const __m128i sum = _mm_add_epi16(_mm_add_epi16(prod, _mm_slli_epi16(Y, 8)), _mm_set1_epi16(128));
  return _mm_srli_epi16(sum, 8);
}

inline TColor32 LerpPixel(TColor32 X, TColor32 Y, uint32_t W) {
  return PackPixel(LerpLanes(UnpackPixel(X), UnpackPixel(Y), _mm_set1_epi16(static_cast<short>(W))));
}

// Each pixel's alpha lane copied into its other three lanes (two pixels per
// register).
inline __m128i BroadcastAlpha(__m128i Lanes) {
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(Lanes, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
}

// Rows are combined four pixels at a time from values loaded before anything is
// stored. A destination that starts inside the source row would then see old
// source pixels where a pixel-by-pixel walk sees new ones, so such rows take the
// pixel-by-pixel path.
inline bool DstRunsIntoSrc(const TColor32* Src, const TColor32* Dst, int32_t Count) {
  const auto s = reinterpret_cast<uintptr_t>(Src);
  const auto d = reinterpret_cast<uintptr_t>(Dst);
  return d > s && d < s + static_cast<uintptr_t>(Count) * sizeof(TColor32);
}

inline __m128i Load4(const TColor32* P) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(P)); }
inline void Store4(TColor32* P, __m128i V) { _mm_storeu_si128(reinterpret_cast<__m128i*>(P), V); }

// ---- single pixels --------------------------------------------------------

TColor32 CombinePixelsSse2(TColor32 X, TColor32 Y, uint32_t W) { return LerpPixel(X, Y, W); }

void CombinePixelIntoSse2(TColor32 F, TColor32& B, uint32_t W) {
  if (W == 0) return;
  if (W == 255) {
    B = F;
    return;
  }
  B = LerpPixel(F, B, W);
}

TColor32 BlendPixelSse2(TColor32 F, TColor32 B) { return LerpPixel(F, B, F >> 24); }

void BlendPixelIntoSse2(TColor32 F, TColor32& B) {
  const uint32_t fa = F >> 24;
  if (fa == 0) return;
  if (fa == 255) {
    B = F;
    return;
  }
  B = LerpPixel(F, B, fa);
}

TColor32 BlendPixelMasterSse2(TColor32 F, TColor32 B, uint32_t M) {
  const uint32_t w = ((M + 1) * (F >> 24)) >> 8;
  if (w == 0) return B;
  return LerpPixel(F, B, w);
}

void BlendPixelMasterIntoSse2(TColor32 F, TColor32& B, uint32_t M) {
  const uint32_t fa = F >> 24;
  const uint32_t w = ((M + 1) * fa) >> 8;
  if (fa == 0 || w == 0) return;
  B = LerpPixel(F, B, w);
}

// ---- rows -----------------------------------------------------------------

// Four pixels blended by their own alphas; alpha 255 copies the source pixel
// (the formula alone would give 254 for 255 over 0). Alpha 0 needs no special
// case here: the formula with W = 0 returns the background exactly.
inline __m128i BlendFour(__m128i S, __m128i D) {
  const __m128i slo = _mm_unpacklo_epi8(S, Zero());
  const __m128i shi = _mm_unpackhi_epi8(S, Zero());
  const __m128i rlo = LerpLanes(slo, _mm_unpacklo_epi8(D, Zero()), BroadcastAlpha(slo));
  const __m128i rhi = LerpLanes(shi, _mm_unpackhi_epi8(D, Zero()), BroadcastAlpha(shi));
  const __m128i opaque = _mm_cmpeq_epi32(_mm_srli_epi32(S, 24), _mm_set1_epi32(255));
  return _mm_or_si128(_mm_and_si128(opaque, S), _mm_andnot_si128(opaque, _mm_packus_epi16(rlo, rhi)));
}

void BlendRowSse2(const TColor32* Src, TColor32* Dst, int32_t Count) {
  int32_t i = 0;
  if (!DstRunsIntoSrc(Src, Dst, Count)) {
    const __m128i alphaMask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    for (; i + 4 <= Count; i += 4) {
      const __m128i s = Load4(Src + i);
      const __m128i a = _mm_and_si128(s, alphaMask);
      // Whole runs of transparent or opaque pixels are common in layers.
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(a, Zero())) == 0xFFFF) continue;
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(a, alphaMask)) == 0xFFFF) {
        Store4(Dst + i, s);
        continue;
      }
      Store4(Dst + i, BlendFour(s, Load4(Dst + i)));
    }
  }
  for (; i < Count; ++i) BlendPixelIntoSse2(Src[i], Dst[i]);
}

// Master-alpha weights per pixel: W = ((Fa + 1) * M) shr 8 (the row variant
// adds one to the pixel's alpha, the single-pixel variant to M). The product is
// formed in 16-bit lanes, so every path of this routine gives the same result.
inline __m128i MasterWeights(__m128i Lanes, __m128i M) {
  const __m128i a1 = _mm_add_epi16(BroadcastAlpha(Lanes), _mm_set1_epi16(1));
  return _mm_srli_epi16(_mm_mullo_epi16(a1, M), 8);
}

void BlendRowMasterSse2(const TColor32* Src, TColor32* Dst, int32_t Count, uint32_t M) {
  const __m128i m = _mm_set1_epi16(static_cast<short>(M));
  int32_t i = 0;
  // A pixel whose weight is 0 is skipped; the formula with W = 0 returns the
  // background unchanged, so the four-pixel path needs no test for that.
  if (!DstRunsIntoSrc(Src, Dst, Count)) {
    for (; i + 4 <= Count; i += 4) {
      const __m128i s = Load4(Src + i);
      const __m128i clear = _mm_cmpeq_epi32(_mm_srli_epi32(s, 24), Zero());
      if (_mm_movemask_epi8(clear) == 0xFFFF) continue;
      const __m128i d = Load4(Dst + i);
      const __m128i slo = _mm_unpacklo_epi8(s, Zero());
      const __m128i shi = _mm_unpackhi_epi8(s, Zero());
      const __m128i rlo = LerpLanes(slo, _mm_unpacklo_epi8(d, Zero()), MasterWeights(slo, m));
      const __m128i rhi = LerpLanes(shi, _mm_unpackhi_epi8(d, Zero()), MasterWeights(shi, m));
      // Transparent pixels are skipped whatever M is.
      const __m128i r = _mm_packus_epi16(rlo, rhi);
      Store4(Dst + i, _mm_or_si128(_mm_and_si128(clear, d), _mm_andnot_si128(clear, r)));
    }
  }
  for (; i < Count; ++i) {
    const TColor32 f = Src[i];
    if ((f >> 24) == 0) continue;
    const __m128i fl = UnpackPixel(f);
    const __m128i w = MasterWeights(fl, m);
    if (_mm_cvtsi128_si32(w) == 0) continue;
    Dst[i] = PackPixel(LerpLanes(fl, UnpackPixel(Dst[i]), w));
  }
}

void CombineRowSse2(const TColor32* Src, TColor32* Dst, int32_t Count, uint32_t W) {
  if (Count < 1 || W == 0) return;
  const bool runsInto = DstRunsIntoSrc(Src, Dst, Count);
  if (W == 255) {
    if (runsInto) {
      for (int32_t i = 0; i < Count; ++i) Dst[i] = Src[i];
    } else {
      std::memmove(Dst, Src, static_cast<size_t>(Count) * sizeof(TColor32));
    }
    return;
  }
  const __m128i w = _mm_set1_epi16(static_cast<short>(W));
  int32_t i = 0;
  if (!runsInto) {
    for (; i + 4 <= Count; i += 4) {
      const __m128i s = Load4(Src + i);
      const __m128i d = Load4(Dst + i);
      const __m128i rlo = LerpLanes(_mm_unpacklo_epi8(s, Zero()), _mm_unpacklo_epi8(d, Zero()), w);
      const __m128i rhi = LerpLanes(_mm_unpackhi_epi8(s, Zero()), _mm_unpackhi_epi8(d, Zero()), w);
      Store4(Dst + i, _mm_packus_epi16(rlo, rhi));
    }
  }
  for (; i < Count; ++i) Dst[i] = PackPixel(LerpLanes(UnpackPixel(Src[i]), UnpackPixel(Dst[i]), w));
}

// ---- colour algebra -------------------------------------------------------

inline __m128i Bytes(TColor32 C) { return _mm_cvtsi32_si128(static_cast<int>(C)); }
inline TColor32 FromBytes(__m128i V) { return static_cast<TColor32>(_mm_cvtsi128_si32(V)); }

TColor32 ColorAddSse2(TColor32 C1, TColor32 C2) { return FromBytes(_mm_adds_epu8(Bytes(C1), Bytes(C2))); }
TColor32 ColorSubSse2(TColor32 C1, TColor32 C2) { return FromBytes(_mm_subs_epu8(Bytes(C1), Bytes(C2))); }
TColor32 ColorMaxSse2(TColor32 C1, TColor32 C2) { return FromBytes(_mm_max_epu8(Bytes(C1), Bytes(C2))); }
TColor32 ColorMinSse2(TColor32 C1, TColor32 C2) { return FromBytes(_mm_min_epu8(Bytes(C1), Bytes(C2))); }

TColor32 ColorDifferenceSse2(TColor32 C1, TColor32 C2) {
  const __m128i a = Bytes(C1), b = Bytes(C2);
  return FromBytes(_mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a)));
}

// (a + b + 1) shr 1: the byte average instruction rounds up, unlike the
// portable variant.
TColor32 ColorAverageSse2(TColor32 C1, TColor32 C2) { return FromBytes(_mm_avg_epu8(Bytes(C1), Bytes(C2))); }

TColor32 ColorModulateSse2(TColor32 C1, TColor32 C2) {
  return PackPixel(_mm_srli_epi16(_mm_mullo_epi16(UnpackPixel(C1), UnpackPixel(C2)), 8));
}

TColor32 ColorExclusionSse2(TColor32 C1, TColor32 C2) {
  const __m128i a = UnpackPixel(C1), b = UnpackPixel(C2);
  const __m128i ab = _mm_srli_epi16(_mm_mullo_epi16(a, b), 7);
  return PackPixel(_mm_sub_epi16(_mm_add_epi16(a, b), ab));
}

// (c * W) shr 8 with the weight lanes read from WeightTable. A weight above 255
// would read past the table, so it takes a wide path instead that gives the
// portable result: the 32-bit product from its two 16-bit halves, saturated to
// 255. Weights of 65535 and more give the same as 65535 (255 for any c > 0).
TColor32 ColorScaleSse2(TColor32 C, uint32_t W) {
  const __m128i c = UnpackPixel(C);
  const uint16_t* table = WeightTable;
  if (W <= 255 && table != nullptr) {
    const __m128i w = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(table + 4 * W));
    return PackPixel(_mm_srli_epi16(_mm_mullo_epi16(c, w), 8));
  }
  const __m128i w = _mm_set1_epi16(static_cast<short>(W > 0xFFFF ? 0xFFFF : W));
  const __m128i lo = _mm_mullo_epi16(c, w);
  const __m128i hi = _mm_mulhi_epu16(c, w);
  const __m128i over = _mm_andnot_si128(_mm_cmpeq_epi16(hi, Zero()), _mm_set1_epi16(0xFF));
  return PackPixel(_mm_or_si128(_mm_srli_epi16(lo, 8), over));
}

constexpr TBlendFamily kSse2Family = {
    CombinePixelsSse2,   CombinePixelIntoSse2, BlendPixelSse2,     BlendPixelIntoSse2,
    BlendPixelMasterSse2, BlendPixelMasterIntoSse2, BlendRowSse2, BlendRowMasterSse2,
    CombineRowSse2,      ColorAddSse2,         ColorSubSse2,       ColorDivPortable,
    ColorModulateSse2,   ColorMaxSse2,         ColorMinSse2,       ColorDifferenceSse2,
    ColorAverageSse2,    ColorExclusionSse2,   ColorScaleSse2,
};

}  // namespace

const TBlendFamily* Sse2BlendFamily() { return &kSse2Family; }

#else

const TBlendFamily* Sse2BlendFamily() { return nullptr; }

#endif
