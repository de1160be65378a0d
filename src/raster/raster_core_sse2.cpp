// The processor variant of the bitmap's bilinear interpolator: each channel in
// a 16-bit lane, both rows' pairs in one register.
//
// Each mix is ((first - second) * W + second * 256) shr 8 with no rounding
// bias. Its weights add up to 256 where the portable mix's add up to 255, so
// the two differ by up to one per mix (either way) and by up to two after the
// three mixes; pictures made on this path must keep coming out as they did, so
// the formula stays as it is.
#include "raster_core.h"

#if defined(__SSE2__)

#include <emmintrin.h>

namespace {

// The true value (first * W + second * (256 - W)) lies in 0..65280 for W up to
// 256, so the 16-bit wrap of the product cancels out and the logical shift is
// exact.
inline __m128i MixLanes(__m128i First, __m128i Second, __m128i W) {
  const __m128i prod = _mm_mullo_epi16(_mm_sub_epi16(First, Second), W);
  return _mm_srli_epi16(_mm_add_epi16(prod, _mm_slli_epi16(Second, 8)), 8);
}

TColor32 InterpolateSse2(uint32_t WX, uint32_t WY, const TColor32* Top, const TColor32* Bottom) {
  if (WX > 255) WX = 255;
  if (WY > 255) WY = 255;
  const __m128i zero = _mm_setzero_si128();
  // The left pixels of both rows in the first register (top in lanes 0..3,
  // bottom in 4..7), the right pixels in the second.
  const __m128i left = _mm_unpacklo_epi8(
      _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(Top[0])), _mm_cvtsi32_si128(static_cast<int>(Bottom[0]))),
      zero);
  const __m128i right = _mm_unpacklo_epi8(
      _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(Top[1])), _mm_cvtsi32_si128(static_cast<int>(Bottom[1]))),
      zero);
  const __m128i rows = MixLanes(left, right, _mm_set1_epi16(static_cast<short>(WX)));
  const __m128i mix = MixLanes(rows, _mm_srli_si128(rows, 8), _mm_set1_epi16(static_cast<short>(WY)));
  return static_cast<TColor32>(_mm_cvtsi128_si32(_mm_packus_epi16(mix, zero)));
}

}  // namespace

TInterpolator InterpolateProcessorVariant() { return InterpolateSse2; }

#else

TInterpolator InterpolateProcessorVariant() { return nullptr; }

#endif
