#pragma once
// PNG files to and from the raster engine's bitmap, for the editor's open and
// save commands: how the picture's transparency becomes the alpha byte of
// each pixel, and how the save makes a colour or a palette picture.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "raster_core.h"

// Reads FileName into Bitmap. Bit transparency gives alpha 0 to the pixels of
// the transparent colour (for grey and colour pictures exactly the pixels
// whose samples equal the key); grey and colour pictures with alpha keep their
// alpha plane; every other pixel is opaque. Errors of the picture pass as
// exceptions and leave Bitmap as it was.
void LoadPNGIntoBitmap32(const std::string& FileName, TBitmap32* Bitmap);

// A PNG file held in memory as Width x Height 0xAARRGGBB pixels, top row
// first, with alpha as LoadPNGIntoBitmap32 gives it; the PNG exceptions on
// damage. Icons hold their large images as PNG files and reach this through
// the icon reader's decoder hook.
bool DecodePngToArgb(const uint8_t* Data, size_t Size, int32_t& Width, int32_t& Height,
                     std::vector<uint32_t>& Argb);

// Writes Bitmap to FileName with compression Level (0..9). Palette8 reduces
// it to at most 256 octree colours first (its own colours when they fit);
// Transparent with a palette gives TransparentColor (platform colour
// 0x00BBGGRR) entry 0, transparent, which exactly the pixels of that colour
// take, and 255 octree colours to the others (no such entry when no pixel
// has the colour); without a palette it writes the bitmap's alpha.
void SavePNGFromBitmap32(const std::string& FileName, const TBitmap32* Bitmap, bool Palette8, bool Transparent,
                         int32_t TransparentColor, int32_t Level);
