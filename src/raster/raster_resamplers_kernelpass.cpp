// The two inner loops of the kernel stretch. Both work in 32-bit words that
// wrap like plain integer adds, so the horizontal-then-vertical order gives
// exactly the sums of the vertical-then-horizontal definition.
#include <cstdint>

#include "raster_core.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void KernelHorizontalPass(const TColor32* Row, const int32_t* Start, const int32_t* Pos,
                          const int32_t* Weight, int32_t Count, uint32_t* Out) {
#if defined(__SSE2__)
  const __m128i Zero = _mm_setzero_si128();
  for (int32_t i = 0; i < Count; ++i) {
    int32_t k = Start[i];
    const int32_t End = Start[i + 1];
    __m128i Acc = Zero;
    // Two taps per multiply-add: channels of both pixels interleaved in
    // 16-bit lanes against the two weights. Weights outside 16 bits would not
    // fit the lanes; such clusters take the plain loop.
    bool Narrow = true;
    for (int32_t t = k; t < End; ++t)
      if (Weight[t] > 32767 || Weight[t] < -32768) Narrow = false;
    if (Narrow) {
      for (; k + 2 <= End; k += 2) {
        const __m128i P0 = _mm_cvtsi32_si128(static_cast<int>(Row[Pos[k]]));
        const __m128i P1 = _mm_cvtsi32_si128(static_cast<int>(Row[Pos[k + 1]]));
        const __m128i P = _mm_unpacklo_epi8(_mm_unpacklo_epi8(P0, P1), Zero);
        const __m128i W = _mm_set1_epi32(static_cast<int>(
            (static_cast<uint32_t>(Weight[k + 1]) << 16) | (static_cast<uint32_t>(Weight[k]) & 0xFFFF)));
        Acc = _mm_add_epi32(Acc, _mm_madd_epi16(P, W));
      }
      if (k < End) {
        const __m128i P = _mm_unpacklo_epi16(
            _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(Row[Pos[k]])), Zero), Zero);
        const __m128i W = _mm_set1_epi32(static_cast<int>(static_cast<uint32_t>(Weight[k]) & 0xFFFF));
        Acc = _mm_add_epi32(Acc, _mm_madd_epi16(P, W));
        ++k;
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + static_cast<size_t>(i) * 4), Acc);
      continue;
    }
    uint32_t B = 0, G = 0, R = 0, A = 0;
    for (; k < End; ++k) {
      const TColor32 C = Row[Pos[k]];
      const uint32_t W = static_cast<uint32_t>(Weight[k]);
      B += (C & 0xFF) * W;
      G += ((C >> 8) & 0xFF) * W;
      R += ((C >> 16) & 0xFF) * W;
      A += (C >> 24) * W;
    }
    uint32_t* O = Out + static_cast<size_t>(i) * 4;
    O[0] = B;
    O[1] = G;
    O[2] = R;
    O[3] = A;
  }
#else
  for (int32_t i = 0; i < Count; ++i) {
    uint32_t B = 0, G = 0, R = 0, A = 0;
    for (int32_t k = Start[i]; k < Start[i + 1]; ++k) {
      const TColor32 C = Row[Pos[k]];
      const uint32_t W = static_cast<uint32_t>(Weight[k]);
      B += (C & 0xFF) * W;
      G += ((C >> 8) & 0xFF) * W;
      R += ((C >> 16) & 0xFF) * W;
      A += (C >> 24) * W;
    }
    uint32_t* O = Out + static_cast<size_t>(i) * 4;
    O[0] = B;
    O[1] = G;
    O[2] = R;
    O[3] = A;
  }
#endif
}

#if defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__)
__attribute__((target_clones("avx2", "default")))
#endif
void KernelVerticalAccumulate(const uint32_t* In, int32_t W, uint32_t* Out, int32_t N) {
  const uint32_t Wu = static_cast<uint32_t>(W);
#pragma GCC ivdep
  for (int32_t i = 0; i < N; ++i) Out[i] += In[i] * Wu;
}
