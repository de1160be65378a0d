#pragma once
// PNG files to and from the raster engine's bitmap, for the editor's open and
// save commands: how the picture's transparency becomes the alpha byte of
// each pixel, and how the save makes a colour or a palette picture.
#include <cstdint>
#include <string>

#include "raster_core.h"

// Reads FileName into Bitmap. Bit transparency gives alpha 0 to the pixels of
// the transparent colour; grey and colour pictures with alpha keep their
// alpha plane; every other pixel is opaque. Errors of the picture pass as
// exceptions.
void LoadPNGIntoBitmap32(const std::string& FileName, TBitmap32* Bitmap);

// Writes Bitmap to FileName with compression Level (0..9). Palette8 reduces
// it to at most 256 colours first; Transparent with a palette makes the first
// entry of TransparentColor (platform colour 0x00BBGGRR) transparent, without
// a palette it writes the bitmap's alpha.
void SavePNGFromBitmap32(const std::string& FileName, const TBitmap32* Bitmap, bool Palette8, bool Transparent,
                         int32_t TransparentColor, int32_t Level);
