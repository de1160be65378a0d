#pragma once
// Word fill and move, clamps, coordinate wrapping and mirroring, and the
// arithmetic shifts: the small routines under every bulk pixel operation.
#include <cstdint>

#include "raster_core.h"

// V when 0 <= V <= 255; 0 below, 255 above.
constexpr int32_t ClampByte(int32_t V) { return V < 0 ? 0 : (V > 255 ? 255 : V); }

// Writes Value into Count 32-bit words at Dst; nothing when Count < 1.
// A routine variable: RasterLowLevelStartup picks the processor variant
// (64-bit stores) when the processor offers it, the portable loop otherwise.
using TFillWords32Proc = void (*)(uint32_t* Dst, int64_t Count, uint32_t Value);
extern TFillWords32Proc FillWords32;

// Copies Count words from Src to Dst, first word first (an overlapping Dst
// above Src therefore repeats the leading words, as the word loop did);
// nothing when Src = Dst or Count < 1.
void MoveWords32(const uint32_t* Src, uint32_t* Dst, int64_t Count);

constexpr void SwapInts(int32_t& A, int32_t& B) {
  const int32_t t = A;
  A = B;
  B = t;
}
// Exchanges A and B when A > B.
constexpr void OrderInts(int32_t& A, int32_t& B) {
  if (A > B) SwapInts(A, B);
}
// Orders A and B, then clips them to Lo .. Hi - 1; true when something is left.
bool ClipPairToRange(int32_t& A, int32_t& B, int32_t Lo, int32_t Hi);

// min(max(V, Lo), Hi).
constexpr int32_t ClampInt(int32_t V, int32_t Lo, int32_t Hi) {
  const int32_t t = V < Lo ? Lo : V;
  return t > Hi ? Hi : t;
}
// Max when V > Max; V when V >= 0; else 0.
constexpr int32_t ClampZeroTo(int32_t V, int32_t Max) { return V > Max ? Max : (V >= 0 ? V : 0); }
// V wrapped into Lo .. Hi (inclusive) as a repeating tile. An empty range
// (Hi < Lo) gives Lo.
int32_t WrapCoord(int32_t V, int32_t Lo, int32_t Hi);
// V mirrored into Lo .. Hi (inclusive); the edge pixel repeats, so Lo - 1
// maps to Lo and Hi + 1 to Hi. An empty range (Hi < Lo) gives Lo.
int32_t MirrorCoord(int32_t V, int32_t Lo, int32_t Hi);

// Coordinate functions indexed by TWrapMode: wmClamp -> ClampInt,
// wmRepeat -> WrapCoord, wmMirror -> MirrorCoord.
using TWrapProc = int32_t (*)(int32_t V, int32_t Lo, int32_t Hi);
extern const TWrapProc WrapProcByMode[3];

// Arithmetic shifts right.
constexpr int32_t ShiftRight8(int32_t V) { return V >> 8; }
constexpr int32_t ShiftRight9(int32_t V) { return V >> 9; }
constexpr int32_t ShiftRight11(int32_t V) { return V >> 11; }
constexpr int32_t ShiftRight12(int32_t V) { return V >> 12; }
constexpr int32_t ShiftRight13(int32_t V) { return V >> 13; }
constexpr int32_t ShiftRight14(int32_t V) { return V >> 14; }
constexpr int32_t ShiftRight15(int32_t V) { return V >> 15; }
constexpr int32_t ShiftRight16(int32_t V) { return V >> 16; }

// ShiftRight11 .. ShiftRight15 by index 0..4 (the anti-aliasing modes of the
// polygon filler).
using TShiftProc = int32_t (*)(int32_t V);
extern const TShiftProc ShiftRightTable[5];

// Selects the FillWords32 variant by the processor test of raster_system
// (so a forced portable run gets the portable loop). May be called again.
void RasterLowLevelStartup();

// The two variants, named only by the start-up and by the tests that pin them.
void FillWords32Portable(uint32_t* Dst, int64_t Count, uint32_t Value);
void FillWords32Paired(uint32_t* Dst, int64_t Count, uint32_t Value);
