#pragma once
// JPEG pictures through libjpeg-turbo. Decoding gives 24-bit colour (grey and
// CMYK expanded to RGB, alpha 255, no rotation from EXIF); encoding writes a
// baseline (or, on request, progressive) stream with the JFIF APP0 first.
// Every library failure comes back as EInvalidGraphic "JPEG error #NN", where
// NN is the library's message code; the library never ends the process.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform_graphics.h"

struct TJpegPixelFree {
  void operator()(uint32_t* p) const;
};
using TJpegPixelBuffer = std::unique_ptr<uint32_t[], TJpegPixelFree>;

// Decoded pixels: Width x Height top-down rows of 0xFFRRGGBB. The buffer is
// left uninitialised on allocation so large pictures cost no extra pass.
struct TJpegPixels {
  int32_t Width = 0;
  int32_t Height = 0;
  bool Grayscale = false;  // the stream had one component
  TJpegPixelBuffer Bits;
};

// Decodes a complete JPEG stream; EInvalidGraphic on any error.
void DecodeJpeg(const uint8_t* Data, size_t Size, TJpegPixels& Out);
// The same into the rows Allocate hands out once the header was read (only
// a picture far larger than its data promises is decoded into memory of
// our own first and copied when complete). Grayscale may be null.
void DecodeJpegInto(const uint8_t* Data, size_t Size, const TGraphic::TPixelAllocator& Allocate, bool* Grayscale);
// Encodes Width x Height 32-bit pixels (alpha ignored) with Quality 1..100.
std::vector<uint8_t> EncodeJpeg(const uint32_t* Pixels, int32_t Width, int32_t Height, int32_t Quality,
                                bool Progressive = false);

// Largest picture (in pixels) the decoder agrees to allocate; larger headers
// are refused before any pixel memory is taken. Returns the previous limit.
uint64_t SetJpegPixelLimit(uint64_t MaxPixels);

class TJPEGImage : public TGraphic {
 public:
  static constexpr int32_t kDefaultQuality = 90;

  std::string ClassName() const override { return "TJPEGImage"; }
  int32_t Width() const override { return pixels_.Width; }
  int32_t Height() const override { return pixels_.Height; }
  // Copies the picture (alpha 255) stretched into Dest, nearest pixel.
  void Draw(TPixelSurface& Surface, const TPlatformRect& Dest) const override;
  // Reads the rest of the stream as one JPEG file.
  void LoadFromStream(TStream& Stream) override;
  // Decodes the file into the caller's rows; the picture itself stays as it was.
  bool LoadPixelsFromFile(const std::string& FileName, const TPixelAllocator& Allocate) override;
  // Writes the compressed data: the bytes that were loaded when the picture
  // has not changed since, otherwise a fresh encoding with the current settings.
  void SaveToStream(TStream& Stream) const override;

  void LoadFromBytes(const uint8_t* Data, size_t Size);
  std::vector<uint8_t> SaveToBytes() const;

  int32_t CompressionQuality() const { return quality_; }
  // 1..100 (values outside are clamped). A new quality drops the kept
  // compressed data, so the next save really encodes with it.
  void SetCompressionQuality(int32_t Quality);
  bool ProgressiveEncoding() const { return progressive_; }
  void SetProgressiveEncoding(bool Value);
  // True when the loaded stream was a one-component (grey) JPEG.
  bool Grayscale() const { return pixels_.Grayscale; }

  // Takes the pixels of a bitmap (alpha dropped) as the new picture.
  void Assign(const TPlatformBitmap& Bitmap);
  void SetPixels(int32_t W, int32_t H, const uint32_t* Argb);
  // Top-down rows of 0xFFRRGGBB; null when empty.
  const uint32_t* Pixels() const { return pixels_.Bits.get(); }
  // Fills a 24-bit platform bitmap with the picture.
  void AssignTo(TPlatformBitmap& Bitmap) const;
  // Encodes now with the current settings and keeps the result.
  void Compress();
  // The compressed data kept for saving (empty until loaded or compressed).
  const std::vector<uint8_t>& Data() const { return data_; }

 private:
  TJpegPixels pixels_;
  std::vector<uint8_t> data_;
  int32_t quality_ = kDefaultQuality;
  bool progressive_ = false;
};
