#pragma once
// Colour reduction by error diffusion, in place: keeping the top bits of each
// channel, or turning the image into black and white; and the count of the
// distinct colours of an image.
//
// Both dithers scan in a serpentine: row 0 runs right to left, row 1 left to
// right, and so on.
#include <cstdint>

#include "raster_core.h"

// Per channel min(255, A + B) for red, green and blue; the alpha of A.
TColor32 AddSaturated(TColor32 A, TColor32 B);
// Each channel keeps its top 8 - N bits; the dropped bits are passed on to the
// neighbours (7/16 ahead, 1/16 ahead below, 5/16 below, 3/16 behind below).
// Alpha is kept. Nothing for N outside 1..7.
void DitherFloydSteinberg(TBitmap32* Bmp, int32_t N);
// v := red + E; red, green and blue := v clamped to a byte; E := the part that
// did not fit (v - red). Alpha is kept.
void DiffuseGreyError(TColor32* Pixel, int32_t& E);
// Grey scale (which makes every pixel opaque), then every pixel black or white
// with one running error carried across the whole image.
void DitherBlackWhite(TBitmap32* Bmp);
// The number of distinct 24-bit colours (alpha ignored); 0 for a null or empty bitmap.
int32_t CountColors(const TBitmap32* Bmp);
