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
  // (a + b) div 2 is the complement of the rounded-up average of the
  // complements, so the pixel on the left is carried complemented: the
  // next one, complemented, is avg(~a, ~b) - x, two steps a pixel.
  const __m128i ones = _mm_set1_epi8(-1);
  __m128i na = ones;
  EachPixel<Bpp>(r, s, p, n, [&](__m128i x, __m128i b) {
    na = _mm_sub_epi8(_mm_avg_epu8(na, _mm_xor_si128(b, ones)), x);
    return _mm_xor_si128(na, ones);
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

#if defined(__SSSE3__)
// Runs Put(three registers of 48 source bytes, alpha, destination) over the
// row, Pixels pixels a step, and Tail over the pixels after the last step.
template <size_t Pixels, class TPut>
inline void Each48(const uint8_t* s, uint32_t* d, size_t n, TPngToArgb Tail, TPut Put) {
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  size_t i = 0;
  for (; i + Pixels <= n; i += Pixels, s += 48, d += Pixels)
    Put(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16)),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32)), alpha, reinterpret_cast<__m128i*>(d));
  Tail(s, d, n - i);
}

// Four pixels of three bytes at the bottom of a register, R G B, as four
// words B G R 0.
inline __m128i RgbToBgr0(__m128i v) {
  return _mm_shuffle_epi8(v, _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1));
}

// Sixteen pixels a step: the three registers they fill are cut into four
// of four pixels each.
void Rgb8ToArgbSimd(const uint8_t* s, uint32_t* d, size_t n) {
  Each48<16>(s, d, n, PngRgb8ToArgbPortable, [](__m128i v0, __m128i v1, __m128i v2, __m128i alpha, __m128i* o) {
    _mm_storeu_si128(o, _mm_or_si128(RgbToBgr0(v0), alpha));
    _mm_storeu_si128(o + 1, _mm_or_si128(RgbToBgr0(_mm_alignr_epi8(v1, v0, 12)), alpha));
    _mm_storeu_si128(o + 2, _mm_or_si128(RgbToBgr0(_mm_alignr_epi8(v2, v1, 8)), alpha));
    _mm_storeu_si128(o + 3, _mm_or_si128(RgbToBgr0(_mm_srli_si128(v2, 4)), alpha));
  });
}

// Four pixels of six bytes, two from the bottom of Lo and two from bytes 4
// to 15 of Hi, as four words of their high bytes B G R 0.
inline __m128i Rgb16ToBgr0(__m128i Lo, __m128i Hi) {
  const __m128i lo = _mm_shuffle_epi8(Lo, _mm_setr_epi8(4, 2, 0, -1, 10, 8, 6, -1, -1, -1, -1, -1, -1, -1, -1, -1));
  const __m128i hi = _mm_shuffle_epi8(Hi, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 8, 6, 4, -1, 14, 12, 10, -1));
  return _mm_or_si128(lo, hi);
}

// Eight pixels a step.
void Rgb16ToArgbSimd(const uint8_t* s, uint32_t* d, size_t n) {
  Each48<8>(s, d, n, PngRgb16ToArgbPortable, [](__m128i v0, __m128i v1, __m128i v2, __m128i alpha, __m128i* o) {
    _mm_storeu_si128(o, _mm_or_si128(Rgb16ToBgr0(v0, _mm_alignr_epi8(v1, v0, 8)), alpha));
    _mm_storeu_si128(o + 1, _mm_or_si128(Rgb16ToBgr0(_mm_alignr_epi8(v2, v1, 8), v2), alpha));
  });
}
#else
// Without byte shuffles the portable conversions are as quick.
constexpr TPngToArgb Rgb8ToArgbSimd = PngRgb8ToArgbPortable;
constexpr TPngToArgb Rgb16ToArgbSimd = PngRgb16ToArgbPortable;
#endif

}  // namespace

#define VEMRA_PNG_UNFILTER_FAMILY(Name)                                                                  \
  {                                                                                                   \
    Name, {SubSimd<3>, SubSimd<4>, SubSimd<6>, SubSimd<8>},                                          \
        {AverageSimd<3>, AverageSimd<4>, AverageSimd<6>, AverageSimd<8>},                            \
        {PaethSimd<3>, PaethSimd<4>, PaethSimd<6>, PaethSimd<8>}, Rgb8ToArgbSimd, Rgb16ToArgbSimd    \
  }
#endif
