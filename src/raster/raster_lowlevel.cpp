// Word fill and move, clamps and coordinate wrapping.
#include "raster_lowlevel.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "raster_system.h"

TFillWords32Proc FillWords32 = FillWords32Portable;

void FillWords32Portable(uint32_t* Dst, int64_t Count, uint32_t Value) {
  for (int64_t i = 0; i < Count; ++i) Dst[i] = Value;
}

void MoveWords32(const uint32_t* Src, uint32_t* Dst, int64_t Count) {
  if (Src == Dst || Count < 1) return;
  // Only a destination that starts inside the source's span sees the
  // difference between a word loop and memmove; keep the word loop there.
  if (Dst > Src && Dst < Src + Count) {
    for (int64_t i = 0; i < Count; ++i) Dst[i] = Src[i];
    return;
  }
  std::memmove(Dst, Src, static_cast<size_t>(Count) * sizeof(uint32_t));
}

bool ClipPairToRange(int32_t& A, int32_t& B, int32_t Lo, int32_t Hi) {
  OrderInts(A, B);
  if (A < Lo) A = Lo;
  // Hi - 1 in 64 bits: Hi may be the smallest int32.
  const int64_t last = std::min<int64_t>(B, static_cast<int64_t>(Hi) - 1);
  B = static_cast<int32_t>(std::max<int64_t>(last, INT32_MIN));
  return last >= A;
}

// The remainders are formed in 64 bits, where V - Lo and V - Hi cannot overflow.
int32_t WrapCoord(int32_t V, int32_t Lo, int32_t Hi) {
  const int64_t n = static_cast<int64_t>(Hi) - Lo + 1;
  if (n <= 0) return Lo;
  if (V >= Lo) return static_cast<int32_t>((static_cast<int64_t>(V) - Lo) % n + Lo);
  return static_cast<int32_t>((static_cast<int64_t>(V) - Hi) % n + Hi);
}

int32_t MirrorCoord(int32_t V, int32_t Lo, int32_t Hi) {
  const int64_t n = static_cast<int64_t>(Hi) - Lo + 1;
  if (n <= 0) return Lo;
  int64_t q, r;
  if (V >= Lo) {
    const int64_t d = static_cast<int64_t>(V) - Lo;
    q = d / n;
    r = d % n + Lo;
  } else {
    const int64_t d = static_cast<int64_t>(V) - Hi;
    q = d / n;
    r = d % n + Hi;
  }
  if (q % 2 != 0) r = static_cast<int64_t>(Lo) + Hi - r;
  return static_cast<int32_t>(r);
}

namespace {
int32_t ClampIntProc(int32_t V, int32_t Lo, int32_t Hi) { return ClampInt(V, Lo, Hi); }
int32_t Shr11(int32_t V) { return ShiftRight11(V); }
int32_t Shr12(int32_t V) { return ShiftRight12(V); }
int32_t Shr13(int32_t V) { return ShiftRight13(V); }
int32_t Shr14(int32_t V) { return ShiftRight14(V); }
int32_t Shr15(int32_t V) { return ShiftRight15(V); }
}  // namespace

const TWrapProc WrapProcByMode[3] = {ClampIntProc, WrapCoord, MirrorCoord};
const TShiftProc ShiftRightTable[5] = {Shr11, Shr12, Shr13, Shr14, Shr15};

void RasterLowLevelStartup() { FillWords32 = CpuMmxTest() ? FillWords32Paired : FillWords32Portable; }
