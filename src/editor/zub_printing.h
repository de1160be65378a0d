#pragma once
// What printing computes without a printer: the device-mode block and its
// settings text, the preview's reduced bitmap, the printed size on the page
// and the print bitmap itself.
//
// The device-mode block is the 156-byte record the settings have always
// stored (the printer's name, orientation, paper, copies, quality, form
// name, ...), kept byte for byte so that a stored "devmode" text still
// applies. The window reads it from and writes it to the printer object.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "raster_core.h"

class TBitmap32;

// Byte offsets of the block's fields (little-endian 16- and 32-bit values).
struct TDevMode {
  static constexpr size_t kSize = 156;
  static constexpr size_t DeviceName = 0, SpecVersion = 32, Size = 36, Fields = 40, Orientation = 44,
                          PaperSize = 46, PaperLength = 48, PaperWidth = 50, Scale = 52, Copies = 54,
                          PrintQuality = 58, Color = 60, Duplex = 62, YResolution = 64, Collate = 68,
                          FormName = 70;
  static constexpr int16_t kPortrait = 1, kLandscape = 2;
  static constexpr int16_t kPaperLetter = 1, kPaperLegal = 5, kPaperA3 = 8, kPaperA4 = 9, kPaperA5 = 11;

  std::array<uint8_t, kSize> Bytes{};

  int16_t Get16(size_t Offset) const;
  void Set16(size_t Offset, int16_t Value);
  // A name field (32 bytes), up to its first zero.
  std::string Text(size_t Offset) const;
  void SetText(size_t Offset, const std::string& Value);
};

// "$XXXXXXXX" per whole 32-bit little-endian word of Block, joined by ",";
// a trailing part of fewer than 4 bytes is left out.
std::string EncodeDevMode(const uint8_t* Block, size_t Size);
// Writes min(words of Block, parts of Text) words: part i parsed as an
// unsigned 32-bit number ("$" hexadecimal, else decimal); text that is no
// such number gives 0. Extra parts are ignored, further words kept.
void DecodeDevMode(const std::string& Text, uint8_t* Block, size_t Size);
// One part: the unsigned value, or 0 for anything that is not one.
uint32_t ParseDevModeWord(const std::string& Part);

// The reduction of the preview: max(1, max(height div 256, width div 256)).
int32_t PreviewReduction(int32_t Width, int32_t Height);

// The image's size on the page: it takes the same share of the page as the
// preview bitmap at PreviewScale takes of the preview box.
TPoint PrintedSize(int32_t PageWidth, int32_t PageHeight, int32_t PreviewWidth, int32_t PreviewHeight,
                   float PreviewScale, int32_t BoxWidth, int32_t BoxHeight);

// The print bitmap's own size for a printed size: the same, unless that
// would pass kMaxPrintPixels; then both sides shrink by one factor (the
// printer enlarges it again), so a page never needs more than 128 MB.
constexpr int64_t kMaxPrintPixels = int64_t{1} << 25;
TPoint PrintBitmapSize(int32_t Width, int32_t Height);

// The print bitmap: Source stretched to Size with the spline kernel.
std::unique_ptr<TBitmap32> MakePrintBitmap(TBitmap32& Source, TPoint Size);
// The preview bitmap: Source reduced by PreviewReduction with the linear kernel.
std::unique_ptr<TBitmap32> MakePreviewBitmap(TBitmap32& Source);

// The quality estimate shown when the driver reports none: the mean of the
// horizontal and vertical resolution from the page in pixels and the paper
// in tenths of a millimetre (width and length exchanged in landscape).
int32_t EstimatePrintQuality(int32_t PageWidthPx, int32_t PageHeightPx, int32_t PaperWidth, int32_t PaperLength,
                             bool Landscape);
// UpdatePrintInfo's corrections to the block (A4 paper of size 0, the
// quality estimate), then the label's text.
std::string PrintInfoText(TDevMode& Mode, int32_t PageWidthPx, int32_t PageHeightPx);
