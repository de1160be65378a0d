// The vector PNG unfilters, compiled once per instruction set: each file
// that includes this is built with its own processor flags, and the helpers
// below take the better instructions where the flags allow them. A pixel is
// one group of byte lanes (six and eight bytes for 16-bit colour); the carried pixel on the left and the pixel above
// and left stay in registers. Three- and six-byte pixels load and store
// four and eight bytes while those lie inside the row (the extra lanes are
// overwritten by the next pixel and never reach the other lanes), and
// exactly their own bytes for the last pixel. Only included by png_unfilter_*.cpp.
#pragma once

#include <cstring>

#include "png_unfilter.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#if defined(__SSSE3__)
#include <tmmintrin.h>
#endif
#if defined(__SSE4_1__)
#include <smmintrin.h>
#endif

namespace {

// N bytes to and from the low lanes of a register.
template <size_t N>
inline __m128i Load(const uint8_t* p) {
  uint64_t v = 0;
  std::memcpy(&v, p, N);
  return _mm_cvtsi64_si128(static_cast<int64_t>(v));
}
template <size_t N>
inline void Store(uint8_t* p, __m128i x) {
  const uint64_t v = static_cast<uint64_t>(_mm_cvtsi128_si64(x));
  std::memcpy(p, &v, N);
}

inline __m128i Abs16(__m128i v) {
#if defined(__SSSE3__)
  return _mm_abs_epi16(v);
#else
  return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
#endif
}

// Mask ? X : Y, lane by lane (the mask's lanes are all ones or all zeros).
inline __m128i Select(__m128i Mask, __m128i X, __m128i Y) {
#if defined(__SSE4_1__)
  return _mm_blendv_epi8(Y, X, Mask);
#else
  return _mm_or_si128(_mm_and_si128(Mask, X), _mm_andnot_si128(Mask, Y));
#endif
}

// Runs Step(source pixel, pixel above) -> result over the row's pixels,
// moving a word of four or eight bytes while it lies inside the row.
template <size_t Bpp, class TStep>
inline void EachPixel(uint8_t* r, const uint8_t* s, const uint8_t* p, size_t n, TStep Step) {
  constexpr size_t kWord = Bpp <= 4 ? 4 : 8;
  size_t x = 0;
  for (; x + kWord <= n; x += Bpp) Store<kWord>(r + x, Step(Load<kWord>(s + x), Load<kWord>(p + x)));
  if (x < n) Store<Bpp>(r + x, Step(Load<Bpp>(s + x), Load<Bpp>(p + x)));
}

template <size_t Bpp>
void SubSimd(uint8_t* r, const uint8_t* s, const uint8_t* p, size_t n) {
  __m128i a = _mm_setzero_si128();
  EachPixel<Bpp>(r, s, p, n, [&](__m128i x, __m128i) { return a = _mm_add_epi8(x, a); });
}

template <size_t Bpp>
void AverageSimd(uint8_t* r, const uint8_t* s, const uint8_t* p, size_t n) {
  const __m128i one = _mm_set1_epi8(1);
  __m128i a = _mm_setzero_si128();
  EachPixel<Bpp>(r, s, p, n, [&](__m128i x, __m128i b) {
    // The rounded-up average less the carry the rounding added: (a + b) div 2.
    const __m128i avg = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
    return a = _mm_add_epi8(x, avg);
  });
}

template <size_t Bpp>
void PaethSimd(uint8_t* r, const uint8_t* s, const uint8_t* p, size_t n) {
  const __m128i zero = _mm_setzero_si128();
  __m128i a = zero, c = zero;  // 16-bit lanes
  EachPixel<Bpp>(r, s, p, n, [&](__m128i x, __m128i b8) {
    const __m128i b = _mm_unpacklo_epi8(b8, zero);
    const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
    const __m128i pa = Abs16(bc), pb = Abs16(ac), pc = Abs16(_mm_add_epi16(bc, ac));
    const __m128i least = _mm_min_epi16(pa, _mm_min_epi16(pb, pc));
    // Ties go to a, then to b, as the portable comparisons have it.
    const __m128i pred = Select(_mm_cmpeq_epi16(pa, least), a, Select(_mm_cmpeq_epi16(pb, least), b, c));
    const __m128i out = _mm_add_epi8(x, _mm_packus_epi16(pred, pred));
    a = _mm_unpacklo_epi8(out, zero);
    c = b;
    return out;
  });
}

}  // namespace

#define VEMRA_PNG_UNFILTER_FAMILY(Name)                                                                  \
  {                                                                                                   \
    Name, {SubSimd<3>, SubSimd<4>, SubSimd<6>, SubSimd<8>},                                          \
        {AverageSimd<3>, AverageSimd<4>, AverageSimd<6>, AverageSimd<8>},                            \
        {PaethSimd<3>, PaethSimd<4>, PaethSimd<6>, PaethSimd<8>}                                     \
  }
#endif
