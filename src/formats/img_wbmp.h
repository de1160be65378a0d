#pragma once
// Wireless bitmaps (.wbm, .wbmp): a type byte and a header byte (written as
// 0, not checked on reading), the width and the height, then the rows, each
// starting on a new byte, pixels from the most significant bit, 1 white and
// 0 black.
//
// Sides come in two forms. The published one writes them as multi-byte
// integers (7 bits a byte, most significant first, the high bit set on every
// byte but the last); this program used to write single bytes, which agree
// with it below 128. A file is read in the multi-byte form when its length
// is exactly what that form gives, else in the single-byte form (where rows
// past the end of the file are black). Sides of 128 or more are written in the
// multi-byte form, which every reader understands; smaller pictures give the
// same bytes as ever.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "raster_core.h"

// Reads a WBMP file (opened read-only): opaque black and white pixels. A
// file that cannot be opened raises EFOpenError.
void LoadWBMP(const std::string& FileName, TBitmap32* Bitmap);
// The same on the file's bytes.
void LoadWBMPFromBytes(const uint8_t* Data, size_t Size, TBitmap32* Bitmap);

// Where a file's pixel rows are and how large its picture is.
struct TWbmpLayout {
  int64_t Width = 0, Height = 0;
  size_t DataStart = 4;
  bool MultiByte = false;
};
// The layout of a file of FileSize bytes whose first bytes are Head (up to
// kWbmpHeadBytes of them).
TWbmpLayout WbmpLayout(const uint8_t* Head, size_t HeadSize, uint64_t FileSize);
constexpr size_t kWbmpHeadBytes = 2 + 2 * 5;

// Writes Bitmap as a WBMP file through a temporary file that replaces the
// target only when complete; a pixel is white when its intensity is at least
// 127. File errors raise EFCreateError or EWriteError and leave the target
// untouched. True when the file was written.
bool SaveWBMP(const std::string& FileName, const TBitmap32* Bitmap);
// The file's bytes for a bitmap.
std::vector<uint8_t> EncodeWBMP(const TBitmap32& Bitmap);
