// The packed variants of the tile unions: a tile's four bytes are two minima
// (left, top) and two maxima (right, bottom), so one unsigned byte min and one
// max per register handle four tiles; the special cases (full destination,
// source that covers nothing, empty destination, full source) become masks.
// Same words as the portable routines.
#include "raster_microtiles.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

// Per 32-bit lane: all ones where the tile covers something.
inline __m128i CoversMask(__m128i S) {
  const __m128i byte = _mm_set1_epi32(0xFF);
  const __m128i left = _mm_srli_epi32(S, 24);
  const __m128i top = _mm_and_si128(_mm_srli_epi32(S, 16), byte);
  const __m128i right = _mm_and_si128(_mm_srli_epi32(S, 8), byte);
  const __m128i bottom = _mm_and_si128(S, byte);
  return _mm_and_si128(_mm_cmpgt_epi32(right, left), _mm_cmpgt_epi32(bottom, top));
}

inline __m128i Select(__m128i Mask, __m128i A, __m128i B) {
  return _mm_or_si128(_mm_and_si128(Mask, A), _mm_andnot_si128(Mask, B));
}

inline __m128i UnionPacked(__m128i D, __m128i S) {
  const __m128i full = _mm_set1_epi32(static_cast<int>(MICROTILE_FULL));
  const __m128i highHalf = _mm_set1_epi32(static_cast<int>(0xFFFF0000u));
  const __m128i box = Select(highHalf, _mm_min_epu8(D, S), _mm_max_epu8(D, S));
  const __m128i takeS = _mm_or_si128(_mm_cmpeq_epi32(D, _mm_setzero_si128()), _mm_cmpeq_epi32(S, full));
  const __m128i merged = Select(takeS, S, box);
  const __m128i change = _mm_andnot_si128(_mm_cmpeq_epi32(D, full), CoversMask(S));
  return Select(change, merged, D);
}

inline __m128i RoundPacked(__m128i D, __m128i S) {
  const __m128i full = _mm_set1_epi32(static_cast<int>(MICROTILE_FULL));
  return Select(CoversMask(S), full, D);
}

void MicroTileUnionSse2(TMicroTile& Dst, TMicroTile Src) {
  const __m128i r = UnionPacked(_mm_cvtsi32_si128(static_cast<int>(Dst)), _mm_cvtsi32_si128(static_cast<int>(Src)));
  Dst = static_cast<TMicroTile>(_mm_cvtsi128_si32(r));
}

void MicroTilesUnionRowSse2(TMicroTile* Dst, const TMicroTile* Src, int32_t Count, bool RoundToWholeTiles) {
  int32_t i = 0;
  for (; i + 4 <= Count; i += 4) {
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dst + i));
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + i), RoundToWholeTiles ? RoundPacked(d, s) : UnionPacked(d, s));
  }
  for (; i < Count; ++i) {
    const __m128i d = _mm_cvtsi32_si128(static_cast<int>(Dst[i]));
    const __m128i s = _mm_cvtsi32_si128(static_cast<int>(Src[i]));
    Dst[i] = static_cast<TMicroTile>(_mm_cvtsi128_si32(RoundToWholeTiles ? RoundPacked(d, s) : UnionPacked(d, s)));
  }
}

}  // namespace

TMicroTileUnionProc MicroTileUnionPacked() { return MicroTileUnionSse2; }
TMicroTilesUnionRowProc MicroTilesUnionRowPacked() { return MicroTilesUnionRowSse2; }

#else

TMicroTileUnionProc MicroTileUnionPacked() { return nullptr; }
TMicroTilesUnionRowProc MicroTilesUnionRowPacked() { return nullptr; }

#endif
