// Comb sort of pixels by a key, done fast without changing its result.
//
// Two facts make that possible. First, once the gap has shrunk to 1 the comb
// sort is a bubble sort run to completion, which never exchanges equal keys:
// what it leaves is the stable sort of what the larger gaps left, and a
// counting sort gives that at once (the bubble phase is what makes some
// pictures take minutes). Second, a pass at gap g compares i with i + g in
// rising i, so the comparisons of one row of g indices touch disjoint pairs:
// a pass may run on several rows of the array at once as long as each runs
// behind the one before it, and a pass may start as soon as the pass before
// it has gone g indices ahead. The passes therefore run as a wavefront of
// blocks, every block of a round independent of the others in that round,
// and every comparison still sees exactly the values the plain loop shows it.
//
// The sort moves small elements instead of (pixel, key) pairs: the key in the
// top bits and, below it, which pixel of that key the element stands for.
#include "img_sort.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "raster_parallel.h"

namespace {

// The gaps of the passes before the gap reaches 1, largest first.
std::vector<int64_t> GapsAboveOne(int64_t N) {
  std::vector<int64_t> Gaps;
  for (int64_t Gap = (N >> 3) + 1; Gap > 1;) {
    Gaps.push_back(Gap);
    Gap = std::max<int64_t>(1, Gap - (Gap >> 3) - 1);
  }
  return Gaps;
}

// One pass's comparisons at indices [First, Last) with gap Gap; elements
// compare by their bits above Shift, and equal keys stay where they are.
template <typename T, int Shift>
void CompareRange(T* A, int64_t First, int64_t Last, int64_t Gap) {
  int64_t i = First;
  if constexpr (sizeof(T) == 4) {
    // Four comparisons at once need four indices whose pairs do not meet.
    if (Gap >= 4) {
      typedef uint32_t V4 __attribute__((vector_size(16)));
      typedef int32_t V4s __attribute__((vector_size(16)));
      for (; i + 4 <= Last; i += 4) {
        V4 Lo, Hi;
        std::memcpy(&Lo, A + i, sizeof Lo);
        std::memcpy(&Hi, A + i + Gap, sizeof Hi);
        const V4 Swap = reinterpret_cast<V4>(reinterpret_cast<V4s>(Lo >> Shift) > reinterpret_cast<V4s>(Hi >> Shift));
        const V4 NewLo = (Lo & ~Swap) | (Hi & Swap), NewHi = (Hi & ~Swap) | (Lo & Swap);
        std::memcpy(A + i, &NewLo, sizeof NewLo);
        std::memcpy(A + i + Gap, &NewHi, sizeof NewHi);
      }
    }
  }
  for (; i < Last; ++i) {
    const T Lo = A[i], Hi = A[i + Gap];
    const bool Swap = (Lo >> Shift) > (Hi >> Shift);
    A[i] = Swap ? Hi : Lo;
    A[i + Gap] = Swap ? Lo : Hi;
  }
}

// Every pass of the comb sort with a gap above 1 over A[0, N).
//
// Pass j's comparisons are cut into blocks of kBlock indices; block b of
// pass j runs in round b + Start[j]. Pass j starts ceil(g / kBlock) + 1
// rounds after pass j - 1, so when one of its blocks runs, the pass before
// has finished every index up to the block's end plus g (all the positions
// the block reads), and blocks of one round lie so far apart that their
// positions never meet.
template <typename T, int Shift>
void GapPasses(T* A, int64_t N) {
  constexpr int64_t kBlock = int64_t{1} << 15;
  const std::vector<int64_t> Gaps = GapsAboveOne(N);
  const size_t Passes = Gaps.size();
  if (Passes == 0) return;
  std::vector<int64_t> Start(Passes), Blocks(Passes);
  int64_t Rounds = 0;
  for (size_t j = 0; j < Passes; ++j) {
    Start[j] = j == 0 ? 0 : Start[j - 1] + (Gaps[j] + kBlock - 1) / kBlock + 1;
    Blocks[j] = N > Gaps[j] ? (N - Gaps[j] + kBlock - 1) / kBlock : 0;
    Rounds = std::max(Rounds, Start[j] + Blocks[j]);
  }
  size_t FirstLive = 0;
  for (int64_t Round = 0; Round < Rounds; ++Round) {
    while (FirstLive < Passes && Round - Start[FirstLive] >= Blocks[FirstLive]) ++FirstLive;
    size_t EndLive = FirstLive;
    while (EndLive < Passes && Start[EndLive] <= Round) ++EndLive;
    if (EndLive == FirstLive) continue;
    ParallelSpans(EndLive - FirstLive, 1, [&](size_t FirstTask, size_t LastTask) {
      for (size_t j = FirstLive + FirstTask; j < FirstLive + LastTask; ++j) {
        const int64_t Block = Round - Start[j];
        if (Block < 0 || Block >= Blocks[j]) continue;
        const int64_t First = Block * kBlock;
        CompareRange<T, Shift>(A, First, std::min(First + kBlock, N - Gaps[j]), Gaps[j]);
      }
    });
  }
}

// Pieces of the pixel array counted separately, so that counting and placing
// run on all threads; their number does not depend on the threads.
constexpr size_t kPieces = 64;

struct TPieces {
  size_t N;
  size_t Begin(size_t p) const { return N * p / kPieces; }
};

using TCounts = std::array<uint32_t, 256>;

// For each piece the number of elements of every key, then turned into the
// running count before the piece (the first rank of the key in the piece).
template <typename KeyOf>
std::vector<TCounts> CountBefore(const TPieces& P, KeyOf Key, std::array<uint64_t, 256>& Total) {
  std::vector<TCounts> Counts(kPieces);
  ParallelSpans(kPieces, 1, [&](size_t First, size_t Last) {
    for (size_t p = First; p < Last; ++p) {
      TCounts& C = Counts[p];
      C.fill(0);
      for (size_t i = P.Begin(p); i < P.Begin(p + 1); ++i) ++C[Key(i)];
    }
  });
  Total.fill(0);
  for (TCounts& C : Counts)
    for (size_t k = 0; k < 256; ++k) {
      const uint64_t Here = C[k];
      C[k] = static_cast<uint32_t>(Total[k]);
      Total[k] += Here;
    }
  return Counts;
}

// The comb sort of (Pixels, Keys) through 64-bit elements: the key (made
// unsigned) above the pixel's index. The bubble phase becomes a stable sort.
void CombSortWide(TColor32* Pixels, int32_t* Keys, int64_t N) {
  std::vector<uint64_t> E(static_cast<size_t>(N));
  ParallelSpans(E.size(), size_t{1} << 16, [&](size_t First, size_t Last) {
    for (size_t i = First; i < Last; ++i)
      E[i] = (uint64_t{static_cast<uint32_t>(Keys[i]) ^ 0x80000000u} << 32) | i;
  });
  GapPasses<uint64_t, 32>(E.data(), N);
  const auto [Lo, Hi] = std::minmax_element(Keys, Keys + N);
  if (int64_t{*Hi} - *Lo < 65536) {
    // Few distinct keys (a byte key shared by most pixels): counted into place.
    const uint32_t Low = static_cast<uint32_t>(*Lo) ^ 0x80000000u;
    std::vector<size_t> Next(static_cast<size_t>(int64_t{*Hi} - *Lo) + 2, 0);
    for (uint64_t V : E) ++Next[(V >> 32) - Low + 1];
    for (size_t k = 1; k < Next.size(); ++k) Next[k] += Next[k - 1];
    std::vector<uint64_t> Sorted(E.size());
    for (uint64_t V : E) Sorted[Next[(V >> 32) - Low]++] = V;
    E.swap(Sorted);
  } else {
    std::stable_sort(E.begin(), E.end(), [](uint64_t A, uint64_t B) { return (A >> 32) < (B >> 32); });
  }
  const std::vector<TColor32> Old(Pixels, Pixels + N);
  ParallelSpans(E.size(), size_t{1} << 16, [&](size_t First, size_t Last) {
    for (size_t i = First; i < Last; ++i) {
      Pixels[i] = Old[E[i] & 0xFFFFFFFFu];
      Keys[i] = static_cast<int32_t>(static_cast<uint32_t>(E[i] >> 32) ^ 0x80000000u);
    }
  });
}

}  // namespace

int32_t PixelSortKey(TColor32 C, int32_t Key) {
  switch (Key) {
    case 0: return IntensityOf(C);
    case 1: return RedOf(C);
    case 2: return GreenOf(C);
    case 3: return BlueOf(C);
    case 4: return AlphaOf(C);
    default: break;
  }
  if (Key < 5 || Key > 7) return 0;
  float H = 0, S = 0, L = 0;
  HslFromArgb(C, H, S, L);
  const float V = Key == 5 ? H : (Key == 6 ? S : L);
  // The product is formed in extended precision: in float, pure yellow's hue
  // (1/6 stored as a float, a hair above) would round to 42 instead of 43.
  return static_cast<int32_t>(RoundHalfEven(static_cast<long double>(V) * 255));
}

void CombSortPixels(TColor32* Pixels, int32_t* Keys, int64_t N) {
  if (Pixels == nullptr || Keys == nullptr || N <= 0) return;
  CombSortWide(Pixels, Keys, N);
}

void SortPixels(TColor32* Pixels, int64_t N, int32_t Key) {
  if (Pixels == nullptr || N <= 0 || Key < 0 || Key > 7) return;
  const size_t Count = static_cast<size_t>(N);
  std::unique_ptr<uint8_t[]> Keys(new uint8_t[Count]);
  ParallelSpans(Count, size_t{1} << 14, [&](size_t First, size_t Last) {
    for (size_t i = First; i < Last; ++i) Keys[i] = static_cast<uint8_t>(PixelSortKey(Pixels[i], Key));
  });
  // Keys already in order make the comb sort exchange nothing (an opaque
  // picture sorted by alpha, a picture sorted twice).
  if (std::is_sorted(Keys.get(), Keys.get() + Count)) return;

  const TPieces P{Count};
  std::array<uint64_t, 256> Total{};
  std::vector<TCounts> Rank = CountBefore(P, [&](size_t i) { return Keys[i]; }, Total);
  // An element holds its pixel's rank among the pixels of its key in 24 bits;
  // a key shared by more pixels than that takes the wide elements.
  if (*std::max_element(Total.begin(), Total.end()) >= (uint64_t{1} << 24)) {
    std::vector<int32_t> Wide(Keys.get(), Keys.get() + Count);
    CombSortWide(Pixels, Wide.data(), N);
    return;
  }
  std::array<size_t, 256> Base{};
  for (size_t k = 1; k < 256; ++k) Base[k] = Base[k - 1] + Total[k - 1];

  // The pixels grouped by key in their old order, and the elements naming them.
  std::unique_ptr<TColor32[]> Grouped(new TColor32[Count]);
  std::unique_ptr<uint32_t[]> E(new uint32_t[Count]);
  ParallelSpans(kPieces, 1, [&](size_t First, size_t Last) {
    for (size_t p = First; p < Last; ++p) {
      TCounts Next = Rank[p];
      for (size_t i = P.Begin(p); i < P.Begin(p + 1); ++i) {
        const uint32_t k = Keys[i], r = Next[k]++;
        E[i] = (k << 24) | r;
        Grouped[Base[k] + r] = Pixels[i];
      }
    }
  });
  Keys.reset();

  GapPasses<uint32_t, 24>(E.get(), N);

  // The bubble phase: the stable order of what the gaps left.
  std::vector<TCounts> Place = CountBefore(P, [&](size_t i) { return E[i] >> 24; }, Total);
  ParallelSpans(kPieces, 1, [&](size_t First, size_t Last) {
    for (size_t p = First; p < Last; ++p) {
      TCounts Next = Place[p];
      for (size_t i = P.Begin(p); i < P.Begin(p + 1); ++i) {
        const uint32_t k = E[i] >> 24;
        Pixels[Base[k] + Next[k]++] = Grouped[Base[k] + (E[i] & 0xFFFFFFu)];
      }
    }
  });
}
