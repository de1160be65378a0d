#pragma once
// The stretch-filter index kept in the settings ("stretchfilter"), offered by
// the Preferences menu and the resize dialog: 0 Nearest, 1 Draft, 2 Linear,
// 3 Cosine, 4 Spline, 5 Lanczos, 6 Mitchell, 7 Cubic; 8 and above a kernel
// resampler with its default box kernel.
#include <cstdint>
#include <memory>

#include "raster_resamplers.h"

// A new resampler for Index bound to Bitmap, which owns it from then on; the
// result points at it. Kernel resamplers get kmTableLinear. Null when Bitmap
// is null (unbound resamplers come from MakeUnboundResampler, which hands the
// caller its owner) or construction failed; Bitmap then keeps its old one.
TBitmap32Resampler* MakeResampler(uint8_t Index, TBitmap32* Bitmap);
// The unbound form with its owner spelled out.
std::unique_ptr<TBitmap32Resampler> MakeUnboundResampler(uint8_t Index);
// The index of a resampler by its exact class (and kernel class) name; any
// other class, or a null resampler, gives 0.
uint8_t StretchFilterIndex(const TCustomResampler* Resampler);
// Gives Bitmap a new resampler of Index; the old one is freed.
void SetStretchFilter(TBitmap32* Bitmap, uint8_t Index);
// Gives Dst a resampler of Src's index.
void CopyStretchFilter(TBitmap32* Dst, const TBitmap32* Src);
// DrawRectScaled through a temporary resampler of Index; both bitmaps keep
// their own resamplers.
void StretchTransferByIndex(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip,
                            TBitmap32* Src, const TRect& SrcRect, uint8_t Index,
                            TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack = {});
