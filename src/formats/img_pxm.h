#pragma once
// Netpbm grey maps (P5) and pixel maps (P6) with one byte per sample.
//
// The header is read in this program's own dialect, kept so that the files it
// accepted before read the same way: the header lies in the file's first 256
// bytes (up to the first zero byte); CR, TAB and LF all end a line; "#" cuts
// the rest of a line; a double quote suspends the splitting of lines, of
// comments and of the size line until the next one; the first three lines
// that are not empty are the magic, "width height" with exactly one space,
// and the maximum sample value. The pixel rows start right after the line
// break (CR, LF or CR LF) that ends the third line. A maximum below 255
// spreads the samples over 0..255 (v * 255 / maximum, rounded half up); 255,
// and 0, take them as they are. P1 to P4 and maximum values above 255 are
// refused as unsupported.
//
// A file shorter than its picture reads with opaque black rows where the data
// ends, for pictures of up to kPnmMaxShortPixels; a larger picture needs all
// its data, so that a header of a few bytes cannot claim gigabytes.
//
// Writing gives "P5\n" or "P6\n", "width height\n", "255\n" and the rows;
// grey is (54 R + 181 G + 20 B) shr 8, so white becomes 254.
//
// LoadPNM, SavePGM and SavePPM report their failures in boxes captioned
// "img_pxm" and return normally.
#include <cstdint>
#include <functional>
#include <string>

#include "platform_stream.h"
#include "raster_core.h"

// Pictures up to this many pixels load from a file that ends early.
constexpr int64_t kPnmMaxShortPixels = 4000000;

// Reads a P5 or P6 file (opened read-only) into Bitmap, opaque. Rows missing
// at the end of a short file stay opaque black, without a message. The file
// is decoded aside and the bitmap takes the picture only when it was read;
// after a refusal or a failure the bitmap is empty.
void LoadPNM(const std::string& FileName, TBitmap32* Bitmap);
// The same on an open stream holding the file's bytes; FileName names the
// file in the messages.
void LoadPNMFromStream(TStream& Stream, const std::string& FileName, TBitmap32* Bitmap);

// Write P5 (grey) and P6 (colour) files through a temporary file that
// replaces the target only when complete; alpha is dropped. False after a
// failure (shown in a box), when the target is untouched.
bool SavePGM(const std::string& FileName, const TBitmap32* Bitmap);
bool SavePPM(const std::string& FileName, const TBitmap32* Bitmap);

// ---- The reading and writing cores, shared with the picture class ----------

enum class TPnmHeaderStatus { Ok, Unsupported, Unrecognized };

struct TPnmHeader {
  bool Colour = false;  // P6; P5 otherwise
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t MaxVal = 0;
  int64_t DataStart = 0;  // offset of the first pixel byte from the stream's start
};

// Reads the header from the stream's start.
TPnmHeaderStatus ReadPnmHeader(TStream& Stream, TPnmHeader& Header);

// Raises EReadError "Stream read error" when the header's picture is larger
// than kPnmMaxShortPixels and the stream holds less data than it needs.
void CheckPnmDataPresent(TStream& Stream, const TPnmHeader& Header);

// Hands each complete row (Width grey bytes, or Width R, G, B triples, scaled
// to 0..255) to Row, top row first, starting at the header's DataStart; stops
// quietly where the file ends.
using TPnmRowSink = std::function<void(int32_t Y, const uint8_t* Row)>;
void ReadPnmRows(TStream& Stream, const TPnmHeader& Header, const TPnmRowSink& Row);

// The whole read with the boxes of the unit named Caption: header refusals,
// the data check, then Prepare (which sizes the destination), then the rows;
// an exception on the way becomes the "error reading" box. True when the
// picture was read without a box; else Failure (when given) gets its text.
bool ReadPnmReporting(TStream& Stream, const std::string& FileName, const std::string& Caption,
                      const std::function<void(const TPnmHeader&)>& Prepare, const TPnmRowSink& Row,
                      std::string* Failure = nullptr);

// Writes the header and Height rows; FillRow fills each row buffer (Width or
// 3 x Width bytes).
using TPnmRowSource = std::function<void(int32_t Y, uint8_t* Row)>;
void WritePnm(TStream& Stream, bool Colour, int32_t Width, int32_t Height, const TPnmRowSource& FillRow);

// The save with the boxes of the unit named Caption; false after a failure.
bool SavePnmReporting(const std::string& FileName, const std::string& Caption, bool Colour, int32_t Width,
                      int32_t Height, const TPnmRowSource& FillRow);

// Grey of a pixel as the P5 writer stores it.
constexpr uint8_t PnmGrey(TColor32 C) {
  return static_cast<uint8_t>((static_cast<uint32_t>(RedOf(C)) * 54 + static_cast<uint32_t>(GreenOf(C)) * 181 +
                               static_cast<uint32_t>(BlueOf(C)) * 20) >> 8);
}
