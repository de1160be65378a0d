#pragma once
// The two families of blend routines behind the variables of raster_blend.h.
// Only the start-up and the tests name a family; everything else calls through
// the variables.
#include "raster_blend.h"

struct TBlendFamily {
  TCombineReg CombinePixels;
  TCombineMem CombinePixelInto;
  TBlendReg BlendPixel;
  TBlendMem BlendPixelInto;
  TBlendRegEx BlendPixelMaster;
  TBlendMemEx BlendPixelMasterInto;
  TBlendLine BlendRow;
  TBlendLineEx BlendRowMaster;
  TCombineLine CombineRow;
  TColorOp ColorAdd;
  TColorOp ColorSub;
  TColorOp ColorDiv;
  TColorOp ColorModulate;
  TColorOp ColorMax;
  TColorOp ColorMin;
  TColorOp ColorDifference;
  TColorOp ColorAverage;
  TColorOp ColorExclusion;
  TColorScaleOp ColorScale;
};

// The portable reference family, including the merge routines, which have no
// processor variant.
TColor32 CombinePixelsPortable(TColor32 X, TColor32 Y, uint32_t W);
void CombinePixelIntoPortable(TColor32 F, TColor32& B, uint32_t W);
TColor32 BlendPixelPortable(TColor32 F, TColor32 B);
void BlendPixelIntoPortable(TColor32 F, TColor32& B);
TColor32 BlendPixelMasterPortable(TColor32 F, TColor32 B, uint32_t M);
void BlendPixelMasterIntoPortable(TColor32 F, TColor32& B, uint32_t M);
void BlendRowPortable(const TColor32* Src, TColor32* Dst, int32_t Count);
void BlendRowMasterPortable(const TColor32* Src, TColor32* Dst, int32_t Count, uint32_t M);
void CombineRowPortable(const TColor32* Src, TColor32* Dst, int32_t Count, uint32_t W);
TColor32 ColorAddPortable(TColor32 C1, TColor32 C2);
TColor32 ColorSubPortable(TColor32 C1, TColor32 C2);
TColor32 ColorDivPortable(TColor32 C1, TColor32 C2);
TColor32 ColorModulatePortable(TColor32 C1, TColor32 C2);
TColor32 ColorMaxPortable(TColor32 C1, TColor32 C2);
TColor32 ColorMinPortable(TColor32 C1, TColor32 C2);
TColor32 ColorDifferencePortable(TColor32 C1, TColor32 C2);
TColor32 ColorAveragePortable(TColor32 C1, TColor32 C2);
TColor32 ColorExclusionPortable(TColor32 C1, TColor32 C2);
TColor32 ColorScalePortable(TColor32 C, uint32_t W);
TColor32 MergePixelPortable(TColor32 F, TColor32 B);
void MergePixelIntoPortable(TColor32 F, TColor32& B);
TColor32 MergePixelMasterPortable(TColor32 F, TColor32 B, uint32_t M);
void MergePixelMasterIntoPortable(TColor32 F, TColor32& B, uint32_t M);
void MergeRowPortable(const TColor32* Src, TColor32* Dst, int32_t Count);
void MergeRowMasterPortable(const TColor32* Src, TColor32* Dst, int32_t Count, uint32_t M);

inline constexpr TBlendFamily PortableBlendFamily = {
    CombinePixelsPortable, CombinePixelIntoPortable, BlendPixelPortable,
    BlendPixelIntoPortable, BlendPixelMasterPortable, BlendPixelMasterIntoPortable,
    BlendRowPortable, BlendRowMasterPortable, CombineRowPortable,
    ColorAddPortable, ColorSubPortable, ColorDivPortable,
    ColorModulatePortable, ColorMaxPortable, ColorMinPortable,
    ColorDifferencePortable, ColorAveragePortable, ColorExclusionPortable,
    ColorScalePortable,
};

// The SSE2 family, or null when this build has none (not an x86 target). Its
// ColorDiv is the portable one; its ColorScale reads WeightTable while that
// exists and otherwise forms the weight lanes itself.
const TBlendFamily* Sse2BlendFamily();
