#pragma once
// Correction of lateral colour fringes: the red and the blue plane magnified
// or shrunk by a pixel per side about the image centre, or moved by whole pixels.
#include <cstdint>

#include "raster_core.h"

// The red plane magnified by Red pixels per side (shrunk when negative), the
// blue plane by Blue; an amount of 0 leaves its plane, green is never touched,
// and every alpha becomes 255. Amounts are limited to -1..1, the most the
// square canvas around the image allows. Nothing for a null or empty bitmap.
void CorrectChromaticAberration(TBitmap32* Bmp, int32_t Red, int32_t Blue);
// Red of (x, y) := red of (x + RedDx, y + RedDy), blue := blue of
// (x + BlueDx, y + BlueDy), read from a copy; positions outside give the outer
// colour's byte. Every alpha becomes 255.
void ShiftChannels(TBitmap32* Bmp, int32_t RedDx, int32_t RedDy, int32_t BlueDx, int32_t BlueDy);
