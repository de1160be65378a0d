// The processor variant of FillWords32: the odd first word alone, then two
// words per 64-bit store.
#include <cstring>

#include "raster_lowlevel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void FillWords32Paired(uint32_t* Dst, int64_t Count, uint32_t Value) {
  if (Count < 1) return;
  if (Count & 1) {
    *Dst++ = Value;
    --Count;
  }
#if defined(__SSE2__)
  const __m128i pair = _mm_set1_epi32(static_cast<int>(Value));
  for (int64_t i = 0; i < Count; i += 2) _mm_storel_epi64(reinterpret_cast<__m128i*>(Dst + i), pair);
#else
  const uint64_t pair = (static_cast<uint64_t>(Value) << 32) | Value;
  for (int64_t i = 0; i < Count; i += 2) std::memcpy(Dst + i, &pair, sizeof pair);
#endif
}
