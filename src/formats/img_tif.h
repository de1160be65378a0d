#pragma once
// The TIFF bridge to TBitmap32 for the load dispatch and the save command.
#include <string>

#include "raster_core.h"

// Reads FileName into Bitmap, every pixel opaque; after a reported refusal
// Bitmap is left as it was.
void LoadTiffToBitmap32(const std::string& FileName, TBitmap32* Bitmap);

// Writes Bitmap as an LZW-compressed 8-bit RGB TIFF; false after a reported
// failure (an empty bitmap is refused without touching the file).
bool SaveBitmap32ToTiff(const std::string& FileName, const TBitmap32* Bitmap);
