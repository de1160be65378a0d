// The blend routine variables, the merge tables and the start-up that picks
// the family of routines for this processor.
#include "raster_blend.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "raster_blend_family.h"
#include "raster_system.h"

namespace {

// round(x*y/255); 255 is odd, so no product lies exactly halfway.
constexpr TByteTable256 BuildProductTable() {
  TByteTable256 t{};
  for (uint32_t x = 0; x < 256; ++x)
    for (uint32_t y = 0; y < 256; ++y) {
      const uint32_t n = x * y;
      uint32_t q = n / 255;
      if (2 * (n % 255) > 255) ++q;
      t[x][y] = static_cast<uint8_t>(q);
    }
  return t;
}

// round(v*255/r) with ties to even, keeping the low 8 bits. The merge never asks
// for a quotient above 255, but the table is defined for every (r, v).
constexpr TByteTable256 BuildReciprocalTable() {
  TByteTable256 t{};
  for (uint32_t r = 1; r < 256; ++r)
    for (uint32_t v = 0; v < 256; ++v) {
      const uint32_t n = v * 255;
      uint32_t q = n / r;
      const uint32_t twice = 2 * (n % r);
      if (twice > r || (twice == r && (q & 1) != 0)) ++q;
      t[r][v] = static_cast<uint8_t>(q & 0xFF);
    }
  return t;
}

}  // namespace

constinit const TByteTable256 ProductTable = BuildProductTable();
constinit const TByteTable256 ReciprocalTable = BuildReciprocalTable();

// The variables hold the portable family from the first instruction on, so a
// routine called before the start-up (a static initialiser, a tool) still works.
constinit TCombineReg CombinePixels = CombinePixelsPortable;
constinit TCombineMem CombinePixelInto = CombinePixelIntoPortable;
constinit TBlendReg BlendPixel = BlendPixelPortable;
constinit TBlendMem BlendPixelInto = BlendPixelIntoPortable;
constinit TBlendRegEx BlendPixelMaster = BlendPixelMasterPortable;
constinit TBlendMemEx BlendPixelMasterInto = BlendPixelMasterIntoPortable;
constinit TBlendLine BlendRow = BlendRowPortable;
constinit TBlendLineEx BlendRowMaster = BlendRowMasterPortable;
constinit TCombineLine CombineRow = CombineRowPortable;
constinit TBlendReg MergePixel = MergePixelPortable;
constinit TBlendMem MergePixelInto = MergePixelIntoPortable;
constinit TBlendRegEx MergePixelMaster = MergePixelMasterPortable;
constinit TBlendMemEx MergePixelMasterInto = MergePixelMasterIntoPortable;
constinit TBlendLine MergeRow = MergeRowPortable;
constinit TBlendLineEx MergeRowMaster = MergeRowMasterPortable;
constinit TColorOp ColorAdd = ColorAddPortable;
constinit TColorOp ColorSub = ColorSubPortable;
constinit TColorOp ColorDiv = ColorDivPortable;
constinit TColorOp ColorModulate = ColorModulatePortable;
constinit TColorOp ColorMax = ColorMaxPortable;
constinit TColorOp ColorMin = ColorMinPortable;
constinit TColorOp ColorDifference = ColorDifferencePortable;
constinit TColorOp ColorAverage = ColorAveragePortable;
constinit TColorOp ColorExclusion = ColorExclusionPortable;
constinit TColorScaleOp ColorScale = ColorScalePortable;

constinit TBlendReg PixelByMode[2] = {BlendPixelPortable, MergePixelPortable};
constinit TBlendMem PixelIntoByMode[2] = {BlendPixelIntoPortable, MergePixelIntoPortable};
constinit TBlendRegEx PixelMasterByMode[2] = {BlendPixelMasterPortable, MergePixelMasterPortable};
constinit TBlendMemEx PixelMasterIntoByMode[2] = {BlendPixelMasterIntoPortable,
                                                  MergePixelMasterIntoPortable};
constinit TBlendLine RowByMode[2] = {BlendRowPortable, MergeRowPortable};
constinit TBlendLineEx RowMasterByMode[2] = {BlendRowMasterPortable, MergeRowMasterPortable};

constinit const uint16_t* WeightTable = nullptr;
constinit const uint16_t* RoundingBias = nullptr;
constinit bool MmxActive = false;

namespace {

// The storage behind WeightTable: 2056 bytes, the table starting at the first
// multiple of 8 inside it.
std::unique_ptr<uint8_t[]> gWeightStorage;

void BuildWeightTable() {
  if (gWeightStorage) return;
  gWeightStorage = std::make_unique<uint8_t[]>(2056);
  const auto base = reinterpret_cast<uintptr_t>(gWeightStorage.get());
  auto* table = reinterpret_cast<uint16_t*>(gWeightStorage.get() + ((8 - base % 8) % 8));
  for (uint16_t w = 0; w < 256; ++w)
    for (int lane = 0; lane < 4; ++lane) table[4 * w + lane] = w;
  WeightTable = table;
  RoundingBias = table + 4 * 128;
}

void FreeWeightTable() {
  WeightTable = nullptr;
  RoundingBias = nullptr;
  gWeightStorage.reset();
}

// The raster system's start-up reads the same switch; reading it here too keeps
// the choice right whichever start-up runs first.
bool ForcedPortableByEnvironment() {
  const char* v = std::getenv("VEMRA_FORCE_PORTABLE");
  return v != nullptr && std::strcmp(v, "1") == 0;
}

// The packed family is written with SSE2, which every x86-64 processor has; it
// stands for the 64-bit multimedia family, and the three byte-wise operations
// that once needed the extended instructions are SSE2 as well.
bool ProcessorHasPackedBlend() { return Sse2BlendFamily() != nullptr && CpuMmxTest() && CpuFeatureTest(ciSSE2); }

bool ProcessorHasExtendedBlend() { return ProcessorHasPackedBlend() && CpuExtMmxTest(); }

void Fill(const TBlendFamily& main, const TBlendFamily& extended) {
  CombinePixels = main.CombinePixels;
  CombinePixelInto = main.CombinePixelInto;
  BlendPixel = main.BlendPixel;
  BlendPixelInto = main.BlendPixelInto;
  BlendPixelMaster = main.BlendPixelMaster;
  BlendPixelMasterInto = main.BlendPixelMasterInto;
  BlendRow = main.BlendRow;
  BlendRowMaster = main.BlendRowMaster;
  CombineRow = main.CombineRow;
  PixelByMode[cmBlend] = main.BlendPixel;
  PixelIntoByMode[cmBlend] = main.BlendPixelInto;
  PixelMasterByMode[cmBlend] = main.BlendPixelMaster;
  PixelMasterIntoByMode[cmBlend] = main.BlendPixelMasterInto;
  RowByMode[cmBlend] = main.BlendRow;
  RowMasterByMode[cmBlend] = main.BlendRowMaster;
  ColorAdd = main.ColorAdd;
  ColorSub = main.ColorSub;
  ColorDiv = ColorDivPortable;
  ColorModulate = main.ColorModulate;
  ColorDifference = main.ColorDifference;
  ColorExclusion = main.ColorExclusion;
  ColorScale = main.ColorScale;

  ColorMax = extended.ColorMax;
  ColorMin = extended.ColorMin;
  ColorAverage = extended.ColorAverage;
}

void FillMerge() {
  MergePixel = MergePixelPortable;
  MergePixelInto = MergePixelIntoPortable;
  MergePixelMaster = MergePixelMasterPortable;
  MergePixelMasterInto = MergePixelMasterIntoPortable;
  MergeRow = MergeRowPortable;
  MergeRowMaster = MergeRowMasterPortable;
  PixelByMode[cmMerge] = MergePixelPortable;
  PixelIntoByMode[cmMerge] = MergePixelIntoPortable;
  PixelMasterByMode[cmMerge] = MergePixelMasterPortable;
  PixelMasterIntoByMode[cmMerge] = MergePixelMasterIntoPortable;
  RowByMode[cmMerge] = MergeRowPortable;
  RowMasterByMode[cmMerge] = MergeRowMasterPortable;
}

bool gStarted = false;

}  // namespace

bool SelectBlendFamily(bool UseProcessor) {
  // 1. ProductTable and ReciprocalTable were built at compile time.
  // 2. The processor test.
  MmxActive = UseProcessor && ProcessorHasPackedBlend();
  // 3. Merging has only the portable routines.
  FillMerge();
  // 4. and 5. The blend and colour routines of the chosen family; the
  // maximum, minimum and average by the extended test.
  const TBlendFamily* sse2 = Sse2BlendFamily();
  const bool extended = UseProcessor && ProcessorHasExtendedBlend();
  Fill(MmxActive ? *sse2 : PortableBlendFamily, extended ? *sse2 : PortableBlendFamily);
  // 6. The weight lanes for ColorScale.
  if (MmxActive) {
    BuildWeightTable();
  } else {
    FreeWeightTable();
  }
  return MmxActive;
}

void RasterBlendStartup() {
  if (gStarted) return;
  gStarted = true;
  SelectBlendFamily(!ForcedPortableByEnvironment());
}

void RasterBlendShutdown() { FreeWeightTable(); }
