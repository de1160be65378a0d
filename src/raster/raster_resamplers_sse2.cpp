// The SSE2 block average and quad interpolator. The interpolator mixes in
// 16-bit lanes as ((a - b) * w + b * 256) shr 8 with the full weight 0..256
// and no rounding bias, so it can come out up to two levels below the
// portable one; the block average gives the portable routine's exact result.
#include "raster_resamplers.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

TColor32 AverageBlockSse2(int32_t Dlx, int32_t Dly, const TColor32* Src, int32_t Pitch) {
  if (Dlx < 1) Dlx = 1;
  if (Dly < 1) Dly = 1;
  const uint64_t N = static_cast<uint64_t>(Dlx) * static_cast<uint64_t>(Dly);
  const __m128i Zero = _mm_setzero_si128();
  // 32-bit lane sums per channel; a row of at most 2^23 pixels cannot carry
  // them past 2^31, so rows fold into 64-bit totals one at a time.
  uint64_t T[4] = {0, 0, 0, 0};
  const auto* Row = reinterpret_cast<const uint8_t*>(Src);
  for (int32_t y = 0; y < Dly; ++y, Row += Pitch) {
    const auto* P = reinterpret_cast<const TColor32*>(Row);
    __m128i Acc = Zero;  // B, G, R, A in four 32-bit lanes
    int32_t x = 0;
    for (; x + 4 <= Dlx; x += 4) {
      const __m128i V = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + x));
      const __m128i Lo = _mm_unpacklo_epi8(V, Zero);  // two pixels, 16-bit lanes
      const __m128i Hi = _mm_unpackhi_epi8(V, Zero);
      const __m128i S = _mm_add_epi16(Lo, Hi);  // at most 510 per lane
      Acc = _mm_add_epi32(Acc, _mm_unpacklo_epi16(S, Zero));
      Acc = _mm_add_epi32(Acc, _mm_unpackhi_epi16(S, Zero));
    }
    for (; x < Dlx; ++x) {
      const __m128i V = _mm_cvtsi32_si128(static_cast<int>(P[x]));
      Acc = _mm_add_epi32(Acc, _mm_unpacklo_epi16(_mm_unpacklo_epi8(V, Zero), Zero));
    }
    alignas(16) uint32_t L[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(L), Acc);
    for (int c = 0; c < 4; ++c) T[c] += L[c];
  }
  uint64_t R[4];
  if (N <= 0x1000000u) {
    const uint64_t C = 0x1000000u / N;
    for (int c = 0; c < 4; ++c) R[c] = (T[c] * C) >> 24;
  } else {
    for (int c = 0; c < 4; ++c) R[c] = T[c] / N;
  }
  return static_cast<TColor32>(R[3] << 24 | R[2] << 16 | R[1] << 8 | R[0]);
}

// Lerp of each 16-bit lane: (a * w + b * (256 - w)) shr 8, computed as
// ((a - b) * w + b * 256) shr 8 in wrapping 16-bit arithmetic.
inline __m128i Lerp16(__m128i A, __m128i B, __m128i W) {
  const __m128i D = _mm_mullo_epi16(_mm_sub_epi16(A, B), W);
  return _mm_srli_epi16(_mm_add_epi16(D, _mm_slli_epi16(B, 8)), 8);
}

TColor32 InterpolateQuadSse2(uint32_t WX, uint32_t WY, const TColor32* Upper,
                             const TColor32* Lower) {
  const __m128i Zero = _mm_setzero_si128();
  const __m128i Wx = _mm_set1_epi16(static_cast<short>(WX & 0xFFFF));
  const __m128i Wy = _mm_set1_epi16(static_cast<short>(WY & 0xFFFF));
  // Left pixels of both rows in the low half, right pixels in the high half.
  const __m128i Left = _mm_unpacklo_epi8(
      _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(Upper[0])),
                         _mm_cvtsi32_si128(static_cast<int>(Lower[0]))),
      Zero);
  const __m128i Right = _mm_unpacklo_epi8(
      _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(Upper[1])),
                         _mm_cvtsi32_si128(static_cast<int>(Lower[1]))),
      Zero);
  const __m128i Rows = Lerp16(Left, Right, Wx);   // top in lanes 0..3, bottom in 4..7
  const __m128i Bottom = _mm_srli_si128(Rows, 8);
  const __m128i Mix = Lerp16(Rows, Bottom, Wy);
  return static_cast<TColor32>(_mm_cvtsi128_si32(_mm_packus_epi16(Mix, Zero)));
}

const TResamplerFamily Sse2Family{AverageBlockSse2, InterpolateQuadSse2};

}  // namespace

const TResamplerFamily* Sse2ResamplerFamily() { return &Sse2Family; }

#else

const TResamplerFamily* Sse2ResamplerFamily() { return nullptr; }

#endif
