#pragma once
// Every per-pixel combination of two TColor32 values the engine uses: linear
// combination by a weight, alpha blending with and without a master alpha,
// merging that honours the background's alpha, the same on whole rows, and the
// per-channel colour operations.
//
// Each operation is a routine variable. The variables start out holding the
// portable routines, and RasterBlendStartup() fills them once with the best
// family the processor offers. Callers always call through the variables and
// end a batch of calls with EndMmx().
#include <array>
#include <cstdint>

#include "raster_core.h"

// Weights and master alphas are 0..255 unless a routine says otherwise.
using TCombineReg = TColor32 (*)(TColor32 X, TColor32 Y, uint32_t W);
using TCombineMem = void (*)(TColor32 F, TColor32& B, uint32_t W);
using TBlendReg = TColor32 (*)(TColor32 F, TColor32 B);
using TBlendMem = void (*)(TColor32 F, TColor32& B);
using TBlendRegEx = TColor32 (*)(TColor32 F, TColor32 B, uint32_t M);
using TBlendMemEx = void (*)(TColor32 F, TColor32& B, uint32_t M);
using TBlendLine = void (*)(const TColor32* Src, TColor32* Dst, int32_t Count);
using TBlendLineEx = void (*)(const TColor32* Src, TColor32* Dst, int32_t Count, uint32_t M);
using TCombineLine = void (*)(const TColor32* Src, TColor32* Dst, int32_t Count, uint32_t W);
using TColorOp = TColor32 (*)(TColor32 C1, TColor32 C2);
using TColorScaleOp = TColor32 (*)(TColor32 C, uint32_t W);

// Linear combination: the weight W belongs to the first colour.
extern TCombineReg CombinePixels;
extern TCombineMem CombinePixelInto;
// Foreground over background by the foreground's alpha.
extern TBlendReg BlendPixel;
extern TBlendMem BlendPixelInto;
extern TBlendRegEx BlendPixelMaster;
extern TBlendMemEx BlendPixelMasterInto;
extern TBlendLine BlendRow;
extern TBlendLineEx BlendRowMaster;
extern TCombineLine CombineRow;
// Foreground over a background that has an alpha of its own.
extern TBlendReg MergePixel;
extern TBlendMem MergePixelInto;
extern TBlendRegEx MergePixelMaster;
extern TBlendMemEx MergePixelMasterInto;
extern TBlendLine MergeRow;
extern TBlendLineEx MergeRowMaster;
// Per-channel colour algebra, alpha included.
extern TColorOp ColorAdd;
extern TColorOp ColorSub;
extern TColorOp ColorDiv;
extern TColorOp ColorModulate;
extern TColorOp ColorMax;
extern TColorOp ColorMin;
extern TColorOp ColorDifference;
extern TColorOp ColorAverage;
extern TColorOp ColorExclusion;
extern TColorScaleOp ColorScale;

// Indexed by a bitmap's TCombineMode: [cmBlend] the blend routine, [cmMerge]
// the merge routine.
extern TBlendReg PixelByMode[2];
extern TBlendMem PixelIntoByMode[2];
extern TBlendRegEx PixelMasterByMode[2];
extern TBlendMemEx PixelMasterIntoByMode[2];
extern TBlendLine RowByMode[2];
extern TBlendLineEx RowMasterByMode[2];

// ProductTable[x][y] = round(x*y/255). ReciprocalTable[r][v] = round(v*255/r)
// (ties to even) cut to its low 8 bits, row 0 all zero. Both are computed when
// the program is compiled, so the merge routines are correct even when called
// before the start-up.
using TByteTable256 = std::array<std::array<uint8_t, 256>, 256>;
extern const TByteTable256 ProductTable;
extern const TByteTable256 ReciprocalTable;

// While the processor family is active: 256 entries of four 16-bit lanes, entry
// W holding W in each lane, and RoundingBias pointing at entry 128. Both are
// null while the portable family is active.
extern const uint16_t* WeightTable;
extern const uint16_t* RoundingBias;

// True while the processor family (packed 16-bit lanes) fills the variables.
extern bool MmxActive;

// Ends a batch of blend calls before floating-point work. The packed variants
// use SSE registers, which share no state with the floating-point unit, so there
// is nothing to reset; the call stays at its call sites all the same.
inline void EndMmx() {}

// Fills every variable once, in this order: the tables, MmxActive from the
// processor test, the merge routines (always portable), the blend and colour
// routines of the chosen family, ColorMax/ColorMin/ColorAverage by the extended
// test, then WeightTable. VEMRA_FORCE_PORTABLE=1 in the environment keeps the
// portable family. Later calls do nothing.
void RasterBlendStartup();
// Frees WeightTable.
void RasterBlendShutdown();

// Re-fills every variable with the processor family (UseProcessor true; only
// when the processor has it) or the portable family, in the same order as the
// start-up. Returns MmxActive. Meant for tests and for processors without the
// instructions; not safe while another thread blends.
bool SelectBlendFamily(bool UseProcessor);
