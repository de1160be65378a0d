#pragma once
// The program's own image format "ZU3" (extension .zub): an 8-byte header
// ("ZU3", a zero byte, signed 16-bit width and height, little-endian), the
// 32-bit length N of what follows, and one bzip2 stream of the bitmap's
// pixels, top row first, each pixel as its memory bytes blue, green, red,
// alpha. Lossless, alpha included.
//
// The reader and writer report their failures in message boxes captioned
// "img_zub" and return normally.
#include <cstdint>
#include <string>

#include "platform_stream.h"
#include "raster_core.h"

// Widest and highest picture the 16-bit header fields hold.
constexpr int32_t kZubMaxSide = 32767;

// Fills Bitmap from a ZU3 file (opened read-only). On a refused header the
// bitmap is empty; after a read or decompression error it keeps the header's
// size, opaque black (pictures of up to kShortFileMaxPixels of img_fileio;
// a larger one is left empty). Memory follows the data the file holds: the
// pixels are decompressed before the picture is made.
void LoadZubImage(const std::string& FileName, TBitmap32* Bitmap);
// The same on an open stream (the file's bytes from its start); FileName only
// names the file in the messages.
void LoadZubImageFromStream(TStream& Stream, const std::string& FileName, TBitmap32* Bitmap);
// The same with the outcome: "" when the picture loaded, else the text of the
// box that was shown.
std::string LoadZubImageChecked(const std::string& FileName, TBitmap32& Bitmap);
std::string LoadZubImageChecked(TStream& Stream, const std::string& FileName, TBitmap32& Bitmap);

// Writes Bitmap as a ZU3 file through a temporary file that replaces the
// target only when complete. False after a failure (shown in a box), when
// the target is untouched; a side above 32767 is refused before anything is
// written.
bool SaveZubImage(const std::string& FileName, const TBitmap32* Bitmap);

// The reading and writing cores without boxes. ReadZubStream returns false
// for a header it does not recognise (the bitmap is then empty) and raises
// for read and decompression errors; WriteZubStream raises EInvalidGraphic
// for a side above 32767 and the stream's or compressor's errors otherwise.
bool ReadZubStream(TStream& Stream, TBitmap32& Bitmap);
void WriteZubStream(TStream& Stream, const TBitmap32& Bitmap);
