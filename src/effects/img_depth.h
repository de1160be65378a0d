#pragma once
// Colour-depth reduction: the pixels keep 32 bits but take only the colours a
// 1-, 4-, 8-, 15- or 16-bit picture can hold, and become opaque, as a picture
// of that depth carries no alpha.
//   1 bit   the nearer of black and white
//   4 bits  the nearest of the 16-colour system palette (VgaPalette)
//   8 bits  the nearest of the halftone palette (CubePalette, by its inverse map)
//   15, 16  the low bits of each channel dropped (5-5-5, 5-6-5)
// Nearest means the least squared RGB distance, the first palette entry of equals.
#include <cstdint>

#include "raster_core.h"

// Any other Bits leaves the bitmap as it is.
void ReduceColorDepth(TBitmap32* Bmp, int32_t Bits);
