#pragma once
// GIF files to and from the raster engine's bitmap, for the editor's open and
// save commands: the first frame is read, opaque; a save writes one frame on
// the web-cube palette, run-length coded.
#include <string>

#include "raster_core.h"

// Bitmap receives the first frame on the logical screen; every pixel's alpha
// is 255 (a transparent colour arrives as its table colour). Errors of the
// file pass as exceptions and leave Bitmap as it was.
void LoadGIF(const std::string& FileName, TBitmap32* Bitmap);

// Writes Bitmap as a one-frame GIF87a; Dither diffuses the error of the web
// cube (Floyd-Steinberg) instead of taking each pixel's cube colour. Alpha is
// dropped. Sides above 65535 are refused ("Invalid image dimensions").
void SaveGIF(const std::string& FileName, const TBitmap32* Bitmap, bool Dither);
