#pragma once
// Enhanced metafiles (.emf): the header, the walk over the records, and a
// player for the records pictures are commonly made of, drawn onto a
// TMetaCanvas. The picture's frame (in 0.01 mm) is stretched into the
// destination rectangle the way the platform plays a metafile into a
// rectangle; inside, the records' logical coordinates pass through the
// mapping mode, the window/viewport extents and the world transform.
//
// Everything read from the file is checked before use: every record lies
// inside the data and its size is a multiple of 4, every count fits the
// record, object indices stay inside the header's handle table, SAVEDC
// nesting and embedded bitmaps are bounded, and a drawing pass has a work
// budget. Damage raises EInvalidGraphic "Metafile is not valid"; records
// the player does not know are skipped.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform_graphics.h"
#include "platform_metacanvas.h"

// Both kinds of metafile answer damage with EInvalidGraphic and this one
// message.
[[noreturn]] void RaiseInvalidMetafile();

// The fields of the header record the picture needs.
struct TEmfHeader {
  TPlatformRect Bounds;  // inclusive, device pixels of the reference device
  TPlatformRect Frame;   // inclusive, 0.01 mm
  int32_t DeviceWidth = 0, DeviceHeight = 0;            // reference device, pixels
  int32_t MillimetersWidth = 0, MillimetersHeight = 0;  // reference device, mm
  uint32_t Records = 0;
  uint16_t Handles = 0;  // size of the object table, slot 0 included
};

class TEmfPicture {
 public:
  // Deepest SAVEDC nesting a file may reach.
  static constexpr int32_t kMaxSaveDepth = 1024;
  // Largest bitmap a record may carry, in pixels.
  static constexpr int64_t kMaxBitmapPixels = int64_t{1} << 24;

  // True when the data starts with an enhanced-metafile header record.
  static bool IsEmf(const uint8_t* Data, size_t Size);

  // Takes a copy of the file after walking every record once; EInvalidGraphic
  // on damage, with the picture left as it was.
  void LoadFromBytes(const uint8_t* Data, size_t Size);
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  const TEmfHeader& Header() const { return header_; }
  bool Empty() const { return bytes_.empty(); }

  // The picture's size at 96 dpi, from the frame.
  int32_t Width() const;
  int32_t Height() const;

  // Plays the records onto Canvas with the frame stretched into Dest. Only
  // what the records draw is touched. EInvalidGraphic when the work budget
  // (a thousand times the surface's pixels) runs out.
  void Play(TMetaCanvas& Canvas, const TPixelSurface& Surface, const TPlatformRect& Dest) const;

 private:
  std::vector<uint8_t> bytes_;
  TEmfHeader header_;
};
