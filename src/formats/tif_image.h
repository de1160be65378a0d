#pragma once
// TIFF files through libtiff. Reading takes whatever libtiff can turn into an
// RGBA raster (every depth, palette, grey with alpha, JPEG-in-TIFF, tiles,
// planes); writing always gives an 8-bit RGB file with the horizontal
// predictor and the given compression (LZW on every path of the program).
// libtiff reads and writes through our own streams, so a file is written
// through the one atomic save and a picture can be read from memory as well.
//
// Every failure is reported through TiffErrorHandler as
// "LibTiffKorvin error on <file>: <what>"; libtiff's own errors arrive in the
// same box with the library's module name.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform_graphics.h"
#include "raster_core.h"

// The box for every TIFF failure, captioned with the application's title.
// Installed into libtiff as its error handler by RegisterTifImage.
void TiffErrorHandler(const std::string& Module, const std::string& Text);

// A 32-bit picture of the file, top row first, alpha as libtiff gives it
// (or 255 everywhere with Opaque); null after a reported failure, including
// libtiff's refusal of the pixel layout (floating-point samples, 16-bit
// CMYK). An empty or unreadable file is "Unable to open file".
std::unique_ptr<TPlatformBitmap> ReadTiffBitmap(const std::string& FileName, bool Opaque = false);
// The same straight into Bitmap's own pixels, made opaque, for the load
// dispatch: every refusal is reported before Bitmap is touched. False too
// when libtiff reported an error while reading (a short or damaged strip):
// Bitmap then holds what could be read.
bool ReadTiffIntoBitmap32(const std::string& FileName, TBitmap32& Bitmap);
// The same from bytes in memory; Name stands for the file in the messages.
std::unique_ptr<TPlatformBitmap> ReadTiffBitmapFromMemory(const uint8_t* Data, size_t Size,
                                                          const std::string& Name);

// Rows per strip of a written file: about 256 KB of RGB data per strip, at
// least one row and at most the height. Width must not be 0.
size_t TiffRowsPerStrip(size_t Width, size_t Height);

// Writes a 24- or 32-bit picture as 8-bit RGB with Compression (5 = LZW) and
// Predictor 2; alpha is not stored. True when the file was saved; after a
// reported failure no file (and no partial file) is left in its place.
bool WriteColorBitmapToTiffLZW(const TPlatformBitmap& Bitmap, const std::string& FileName, uint16_t Compression);

// The picture class registered for "TIF" and "TIFF".
class TTIFImage : public TPlatformBitmap {
 public:
  std::string ClassName() const override { return "TTIFImage"; }
  // Takes the picture ReadTiffBitmap gives; stays empty after a failure.
  void LoadFromFile(const std::string& FileName) override;
  // Decodes straight into the rows Allocate hands out; EInvalidGraphic after a failure.
  bool LoadPixelsFromFile(const std::string& FileName, const TPixelAllocator& Allocate) override;
  void SaveToFile(const std::string& FileName) const override;
  // Stream forms for the picture object: EInvalidGraphic after a failure
  // (which libtiff may have reported already).
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) const override;
};

// Installs TiffErrorHandler and registers TTIFImage ("TIF Image").
void RegisterTifImage();
void UnregisterTifImage();
