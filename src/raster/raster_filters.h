#pragma once
// Whole-bitmap channel operations: a grey picture of the alpha channel, an
// alpha channel from intensity, and the inversion of chosen channels, built
// on a bit-mask operation (XOR, AND or OR of every pixel with a 32-bit mask)
// over a rectangle, either copying from a source bitmap or in place.
#include <cstdint>

#include "raster_core.h"

// A set of channels: blue 1, green 2, red 4, alpha 8.
using TColor32Channels = uint32_t;
constexpr TColor32Channels ccBlue = 1, ccGreen = 2, ccRed = 4, ccAlpha = 8;
constexpr TColor32Channels ccRGB = ccBlue | ccGreen | ccRed;

enum TLogicalOperator : uint8_t { loXOR = 0, loAND = 1, loOR = 2 };

// The 32-bit mask covering the channels of the set.
constexpr TColor32 ChannelMask(TColor32Channels Channels) {
  return ((Channels & ccBlue) ? 0x000000FFu : 0u) | ((Channels & ccGreen) ? 0x0000FF00u : 0u) |
         ((Channels & ccRed) ? 0x00FF0000u : 0u) | ((Channels & ccAlpha) ? 0xFF000000u : 0u);
}

// Raises "The source is nil" / "Destination is nil"; with ResizeDst, Dst takes Src's size.
void CheckFilterArgs(TBitmap32* Dst, const TBitmap32* Src, bool ResizeDst);
// Every Dst pixel becomes opaque grey of the Src pixel's alpha.
void AlphaToGray(TBitmap32* Dst, const TBitmap32* Src);
// Every Dst pixel's alpha becomes the Src pixel's intensity.
void IntensityToAlpha(TBitmap32* Dst, const TBitmap32* Src);
// XOR of the chosen channels; in place when Dst and Src are the same bitmap.
void InvertChannels(TBitmap32* Dst, TBitmap32* Src, TColor32Channels Channels);
void InvertRGB(TBitmap32* Dst, TBitmap32* Src);
// Copying form: SrcRect of Src, combined with Mask, written at (DstX, DstY) of Dst.
void ApplyLogicalMask(TBitmap32* Dst, int32_t DstX, int32_t DstY, const TBitmap32* Src, const TRect& SrcRect,
                      TColor32 Mask, TLogicalOperator Operator);
// In-place form over DstRect of Dst.
void ApplyLogicalMask(TBitmap32* Dst, const TRect& DstRect, TColor32 Mask, TLogicalOperator Operator);
