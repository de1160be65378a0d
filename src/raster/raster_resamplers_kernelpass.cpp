// The two passes of the kernel stretch and the packing of their sums. A wide
// form for processors with AVX2 reads eight neighbouring pixels per step;
// it is picked at run time and gives the same words as the plain loops.
#include "raster_resamplers_kernelpass.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "raster_parallel.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VEMRA_X86 1
#endif

namespace {

bool HasAvx2() {
#ifdef VEMRA_X86
  static const bool Has = __builtin_cpu_supports("avx2");
  return Has;
#else
  return false;
#endif
}

#ifdef VEMRA_X86
__attribute__((target("avx2"))) void HorizontalWide(const TColor32* Row, const int32_t* Start,
                                                    const int32_t* Groups, const int32_t* Offset,
                                                    const int16_t* Weights, int32_t Count,
                                                    uint32_t* Out) {
  // Within each 128-bit lane: pixels p0..p3 become p0b p1b p0g p1g p0r p1r p0a
  // p1a | p2b p3b ..., so that after widening to 16 bits one multiply-add
  // gives b0*w0 + b1*w1 (and so on) in each 32-bit lane.
  const __m256i Order = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15,
                                         0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
  const __m256i Zero = _mm256_setzero_si256();
  for (int32_t i = 0; i < Count; ++i) {
    const TColor32* P = Row + Start[i];
    const __m256i* W = reinterpret_cast<const __m256i*>(Weights + Offset[i]);
    __m256i Acc = Zero;
    for (int32_t g = 0; g < Groups[i]; ++g, P += 8, W += 2) {
      const __m256i V = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(P)), Order);
      Acc = _mm256_add_epi32(Acc, _mm256_madd_epi16(_mm256_unpacklo_epi8(V, Zero), _mm256_loadu_si256(W)));
      Acc = _mm256_add_epi32(Acc, _mm256_madd_epi16(_mm256_unpackhi_epi8(V, Zero), _mm256_loadu_si256(W + 1)));
    }
    const __m128i Sum = _mm_add_epi32(_mm256_castsi256_si128(Acc), _mm256_extracti128_si256(Acc, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + static_cast<size_t>(i) * 4), Sum);
  }
}

__attribute__((target("avx2"))) void VerticalWide(const uint32_t* const* Rows, const int32_t* W,
                                                  int32_t Taps, uint32_t* Out, int32_t N) {
  int32_t i = 0;
  for (; i + 16 <= N; i += 16) {
    __m256i A = _mm256_setzero_si256(), B = _mm256_setzero_si256();
    for (int32_t k = 0; k < Taps; ++k) {
      const __m256i Wk = _mm256_set1_epi32(W[k]);
      A = _mm256_add_epi32(A, _mm256_mullo_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(Rows[k] + i)), Wk));
      B = _mm256_add_epi32(B, _mm256_mullo_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(Rows[k] + i + 8)), Wk));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + i), A);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Out + i + 8), B);
  }
  for (; i < N; ++i) {
    uint32_t S = 0;
    for (int32_t k = 0; k < Taps; ++k) S += Rows[k][i] * static_cast<uint32_t>(W[k]);
    Out[i] = S;
  }
}
#endif

void HorizontalPlain(const TColor32* Row, const int32_t* Start, const int32_t* Pos,
                     const int32_t* Weight, int32_t Count, uint32_t* Out) {
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
}

}  // namespace

THorizontalKernelPass::THorizontalKernelPass(const TMappingTable& Map, int32_t RowWidth, int32_t Count) {
  const size_t N = Count < 0 ? Map.size() : std::min(Map.size(), static_cast<size_t>(Count));
  size_t Pairs = 0;
  for (size_t c = 0; c < N; ++c) Pairs += Map[c].size();
  FStart.reserve(N + 1);
  FPos.reserve(Pairs);
  FWeight.reserve(Pairs);
  FStart.push_back(0);
  for (size_t c = 0; c < N; ++c) {
    for (const auto& P : Map[c]) {
      FPos.push_back(P.Pos);
      FWeight.push_back(P.Weight);
    }
    FStart.push_back(static_cast<int32_t>(FPos.size()));
  }
  if (!HasAvx2() || RowWidth < 8) return;
  // The wide form: each cluster's weights merged per pixel (the same pixel can
  // appear twice where positions were limited to the source), laid out over a
  // window of whole groups of eight that stays inside the row. The windows are
  // laid out first; the weights, dozens per cluster for a wide kernel, are
  // then filled in on every core.
  FWideStart.resize(N);
  FWideGroups.resize(N);
  FWideOffset.resize(N);
  size_t Total = 0;
  for (size_t c = 0; c < N; ++c) {
    int32_t Lo = Map[c].front().Pos, Hi = Lo;
    for (const auto& P : Map[c]) {
      Lo = std::min(Lo, P.Pos);
      Hi = std::max(Hi, P.Pos);
    }
    const int32_t Groups = (Hi - Lo + 1 + 7) / 8;
    const int32_t Start = std::min(Lo, RowWidth - 8 * Groups);
    if (Start < 0) {
      FWideStart.clear();
      return;
    }
    FWideStart[c] = Start;
    FWideGroups[c] = Groups;
    FWideOffset[c] = static_cast<int32_t>(Total);
    Total += 32 * static_cast<size_t>(Groups);
  }
  FWideWeights.resize(Total);
  std::atomic<bool> Fits{true};
  ParallelRows(0, static_cast<int32_t>(N), 256, [&](int32_t First, int32_t Last) {
    std::vector<int32_t> Dense;
    for (int32_t c = First; c < Last; ++c) {
      const int32_t Groups = FWideGroups[c], Start = FWideStart[c];
      Dense.assign(static_cast<size_t>(8 * Groups), 0);
      for (const auto& P : Map[c]) Dense[static_cast<size_t>(P.Pos - Start)] += P.Weight;
      for (int32_t W : Dense)
        if (W < -32768 || W > 32767) {
          Fits.store(false, std::memory_order_relaxed);
          return;
        }
      int16_t* Out = FWideWeights.data() + FWideOffset[c];
      for (int32_t g = 0; g < Groups; ++g) {
        const int32_t* D = Dense.data() + 8 * g;
        // Low half of the group: pixel pairs (0,1) | (4,5); high half: (2,3) | (6,7).
        for (int Half = 0; Half < 2; ++Half)
          for (int Lane = 0; Lane < 2; ++Lane)
            for (int r = 0; r < 4; ++r) {
              const int32_t Base = Lane * 4 + Half * 2;
              *Out++ = static_cast<int16_t>(D[Base]);
              *Out++ = static_cast<int16_t>(D[Base + 1]);
            }
      }
    }
  });
  if (!Fits.load()) FWideStart.clear();
}

void THorizontalKernelPass::Run(const TColor32* Row, uint32_t* Out) const {
#ifdef VEMRA_X86
  if (Wide()) {
    HorizontalWide(Row, FWideStart.data(), FWideGroups.data(), FWideOffset.data(),
                   FWideWeights.data(), Count(), Out);
    return;
  }
#endif
  HorizontalPlain(Row, FStart.data(), FPos.data(), FWeight.data(), Count(), Out);
}

void KernelVerticalCombine(const uint32_t* const* Rows, const int32_t* W, int32_t Taps,
                           uint32_t* Out, int32_t N) {
#ifdef VEMRA_X86
  if (HasAvx2()) {
    VerticalWide(Rows, W, Taps, Out, N);
    return;
  }
#endif
  std::memset(Out, 0, static_cast<size_t>(N) * sizeof(uint32_t));
  for (int32_t k = 0; k < Taps; ++k) {
    const uint32_t Wk = static_cast<uint32_t>(W[k]);
    const uint32_t* R = Rows[k];
    for (int32_t i = 0; i < N; ++i) Out[i] += R[i] * Wk;
  }
}

void KernelPackRow(const uint32_t* Sums, int32_t Count, TColor32* Out) {
  int32_t i = 0;
#if defined(__SSE2__)
  // (sum sar 16) saturated to 0..255 equals the sum limited to 0 .. 0xFF0000
  // and shifted: both saturating packs clamp exactly there.
  for (; i + 4 <= Count; i += 4) {
    const __m128i* S = reinterpret_cast<const __m128i*>(Sums + static_cast<size_t>(i) * 4);
    const __m128i A = _mm_packs_epi32(_mm_srai_epi32(_mm_loadu_si128(S), 16),
                                      _mm_srai_epi32(_mm_loadu_si128(S + 1), 16));
    const __m128i B = _mm_packs_epi32(_mm_srai_epi32(_mm_loadu_si128(S + 2), 16),
                                      _mm_srai_epi32(_mm_loadu_si128(S + 3), 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + i), _mm_packus_epi16(A, B));
  }
#endif
  for (; i < Count; ++i) {
    TColor32 C = 0;
    for (int c = 0; c < 4; ++c) {
      const int32_t V = static_cast<int32_t>(Sums[static_cast<size_t>(i) * 4 + c]);
      const uint32_t B = V <= 0 ? 0u : V >= 0xFF0000 ? 255u : static_cast<uint32_t>(V) >> 16;
      C |= B << (8 * c);
    }
    Out[i] = C;
  }
}
