#pragma once
// Wireless bitmaps (.wbm, .wbmp) as this program reads and writes them: a
// type byte and a header byte (written as 0, not checked on reading), the
// width and the height as single bytes, then the rows, each starting on a
// new byte, pixels from the most significant bit, 1 white and 0 black.
// Single-byte sides agree with the published multi-byte form below 128;
// files of 128 to 255 pixels written here rely on the single-byte reading.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "raster_core.h"

// Largest side the single-byte fields hold.
constexpr int32_t kWbmpMaxSide = 255;

// Reads a WBMP file (opened read-only): opaque black and white pixels; bytes
// missing at the end of a short file count as 0 (black). A file that cannot
// be opened raises EFOpenError.
void LoadWBMP(const std::string& FileName, TBitmap32* Bitmap);
// The same on the file's bytes.
void LoadWBMPFromBytes(const uint8_t* Data, size_t Size, TBitmap32* Bitmap);

// Writes Bitmap as a WBMP file through a temporary file that replaces the
// target only when complete; a pixel is white when its intensity is at least
// 127. A side above 255 is refused with a box captioned "img_wbmp" and
// nothing is written (false). File errors raise EFCreateError or EWriteError
// and leave the target untouched.
bool SaveWBMP(const std::string& FileName, const TBitmap32* Bitmap);
// The file's bytes for a bitmap of at most 255 x 255 pixels.
std::vector<uint8_t> EncodeWBMP(const TBitmap32& Bitmap);
