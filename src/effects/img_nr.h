#pragma once
// Edge-preserving noise reduction: a copy is smoothed by change-limited
// convolutions, an edge mask is built from a deviation filter, and the smooth
// copy is merged through the mask (bright where the image is flat), scaled by
// a strength.
#include <cstdint>

#include "raster_core.h"

// Strength 0..255 (limited to it); nothing for a null or empty bitmap.
void ReduceNoise(TBitmap32* Bmp, int32_t Strength);
