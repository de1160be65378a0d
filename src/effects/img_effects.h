#pragma once
// Geometric and cell effects: a round-cell mosaic, a halftone of dots sized by
// brightness, a random spray, a soft coloured hole over the centre, polar
// warps, a square-to-circle remap and a two-axis shear.
//
// Cells (mosaic and quantize) are squares of side D = 2*Radius + 1 whose
// centres lie at Radius + k*D in each direction, clipped to the image. Warps
// sample the source bilinearly at float positions. Routines taking (Dst, Src)
// may be given the same bitmap twice; they then work from a copy.
#include <cstdint>

#include "raster_core.h"

// Round-cell mosaic of Src into Dst over Bg. Each cell takes the mean colour
// of its pixels; with Power > 0 it fades outward as 255 - rho^Power * 255
// (rho the cell's polar radius), otherwise it is solid with the alpha of the
// cell's bottom-right pixel. Radius < 1 copies Src.
void EffectMosaic(TBitmap32* Dst, TBitmap32* Src, int32_t Radius, TColor32 Bg, float Power);
// Halftone dots of Ink over Paper, one per cell, sized by the cell's mean
// intensity (bright cells get large dots on dark paper, dark cells on light
// paper); the chosen channels of the dot take the cell's mean.
void EffectQuantize(TBitmap32* Dst, TBitmap32* Src, int32_t Radius, TColor32 Ink, TColor32 Paper, bool DoRed,
                    bool DoGreen, bool DoBlue);
// Every pixel exchanged with a random one at most Radius away in x and y
// (when that one lies inside the image). Radius <= 0 changes nothing.
void EffectSprayInPlace(TBitmap32* Bmp, int32_t Radius);
void EffectSpray(TBitmap32* Dst, TBitmap32* Src, int32_t Radius);
// Color blended over the image, opaque at the centre and fading outward as
// 255 - rho^Power * 255.
void EffectHoleInPlace(TBitmap32* Bmp, TColor32 Color, float Power);
void EffectHole(TBitmap32* Dst, TBitmap32* Src, TColor32 Color, float Power);
// Polar warp of Src into Dst; Type 1..9 picks the warp, other types copy.
// A warp that has no value for a pixel (an inverse cosine beyond 1, a
// division by zero on a one-pixel-wide image) leaves that pixel unwarped.
void EffectTwirl(TBitmap32* Dst, TBitmap32* Src, int32_t Type, float Amount);
// The whole square drawn inside the inscribed ellipse, in place.
void EffectRound(TBitmap32* Bmp);
// Two-axis shear in place by the factors A (horizontal) and B (vertical).
void ShearBitmap(TBitmap32* Bmp, long double A, long double B);

// Seeds the generator of the spray, for repeatable results.
void SeedEffectRandom(uint32_t Seed);
