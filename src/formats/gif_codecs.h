#pragma once
// The pixel codecs of GIF frames: the LZW decoder that turns a chain of data
// sub-blocks into one colour index per pixel, the sub-block writer, and the
// two encoders. Codes are packed least-significant bit first; the string
// table holds 4096 codes, and code size grows from the minimum code size + 1
// up to 12 bits. The run-length encoder emits only codes that every decoder
// reads back as runs of one colour, so it never needs a string table.
#include <cstdint>
#include <functional>
#include <string>

#include "platform_exceptions.h"
#include "platform_stream.h"

// Every error of the GIF unit; warnings go through a TGIFWarning instead.
VEMRA_DECLARE_EXCEPTION(GIFException, EInvalidGraphic);

// A warning of the GIF unit: sender, severity (always 1 here), message.
using TGIFWarning = std::function<void(const void* Sender, int32_t Severity, const std::string& Message)>;

// Walks the rows of a W x H frame in file order: top to bottom, or in the
// four interlace passes (rows 0, 8, 16, ...; 4, 12, ...; 2, 6, ...; 1, 3, ...),
// skipping a pass that has no row inside the frame.
class TGIFRowOrder {
 public:
  TGIFRowOrder(int32_t Height, bool Interlaced) : height_(Height), interlaced_(Interlaced) {}
  int32_t Row() const { return row_; }
  bool Finished() const { return row_ >= height_; }
  // Moves to the next row; Finished() after the last one.
  void Next();

 private:
  int32_t height_;
  bool interlaced_;
  int32_t row_ = 0;
  int32_t pass_ = 0;
};

// Decodes the image data of one frame (from the minimum code size byte up
// to and including the terminating zero-length block) into Pixels, W x H
// bytes in row order; pixels the data does not reach get Fill. Damage ends
// the frame with one warning; what
// is left of the sub-block chain is skipped in any case, so the next block is
// read from its start. Raises GIFException for a minimum code size above 11.
void DecodeGIFImageData(TStream& Stream, uint8_t* Pixels, int32_t Width, int32_t Height, bool Interlaced,
                        uint8_t Fill, const TGIFWarning& Warning);

// A stream of the codec's own: refuses everything ("Invalid stream operation").
class TGIFStream : public TStream {
 public:
  explicit TGIFStream(TGIFWarning Warning) : warning_(std::move(Warning)) {}
  size_t Read(void* Buffer, size_t Count) override;
  size_t Write(const void* Buffer, size_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override;

 protected:
  TGIFWarning warning_;
};

// Cuts what is written into data sub-blocks of 255 bytes on the way to the
// output stream. Destroying it (or Flush) writes a partly filled block; the
// terminating zero-length block is the encoder's to write.
class TGIFWriter : public TGIFStream {
 public:
  TGIFWriter(TStream& Output, TGIFWarning Warning) : TGIFStream(std::move(Warning)), out_(Output) {}
  ~TGIFWriter() override;
  TGIFWriter(const TGIFWriter&) = delete;
  TGIFWriter& operator=(const TGIFWriter&) = delete;
  size_t Write(const void* Buffer, size_t Count) override;
  void PutByte(uint8_t B) {
    buffer_[count_++] = B;
    if (count_ == 256) FlushBuffer();
  }
  void FlushBuffer();

 private:
  TStream& out_;
  uint8_t buffer_[256] = {};
  int32_t count_ = 1;  // byte 0 is the block's length
};

// What both encoders share: the bit bucket, the code widths, the walk over
// the pixels and the sub-block writer.
class TGIFEncoder {
 public:
  explicit TGIFEncoder(TGIFWarning Warning = nullptr) : warning_(std::move(Warning)) {}
  virtual ~TGIFEncoder() = default;
  // Writes the minimum code size byte, the coded pixels as sub-blocks and the
  // zero-length terminator. Pixels are W x H indices in row order; each must
  // be below ColorCount ("Color not in color table").
  void Compress(TStream& Stream, int32_t BitsPerPixel, int32_t ColorCount, const uint8_t* Pixels,
                bool Interlaced, int32_t Height, int32_t Width);

 protected:
  virtual void Output(int32_t Code);
  virtual void Clear();
  virtual void DoCompress() = 0;
  // The next pixel in file order, checked against the colour count; false
  // when the image is finished.
  bool NextPixel(int32_t& Pixel) {
    if (pixelsLeft_ <= 0 && !NextRow()) return false;
    Pixel = *pixel_++;
    --pixelsLeft_;
    if (Pixel >= colorCount_) ColorNotInTable();
    return true;
  }
  // Moves to the next row of an interlaced image; false after the last.
  bool NextRow();
  [[noreturn]] static void ColorNotInTable();

  TGIFWarning warning_;
  TGIFWriter* writer_ = nullptr;
  int32_t bitsPerPixel_ = 0;
  int32_t colorCount_ = 0;
  int32_t width_ = 0, height_ = 0;
  bool interlaced_ = false;
  const uint8_t* data_ = nullptr;
  const uint8_t* pixel_ = nullptr;  // the next pixel to take
  int64_t pixelsLeft_ = 0;          // in the current row, or in the image when not interlaced
  TGIFRowOrder rows_{0, false};
  uint32_t bucket_ = 0;
  int32_t bucketBits_ = 0;
  int32_t bitsPerCode_ = 0;
  int32_t initBitsPerCode_ = 0;
  int32_t maxCode_ = 0;
  int32_t clearCode_ = 0;
  int32_t eoiCode_ = 0;
  int32_t baseCode_ = 0;
  bool justCleared_ = false;
};

// LZW with a string table in an 8009-entry hash with double probing.
class TLZWEncoder : public TGIFEncoder {
 public:
  using TGIFEncoder::TGIFEncoder;

 protected:
  void Output(int32_t Code) override;
  void Clear() override;
  void DoCompress() override;

 private:
  static constexpr int32_t kHashSize = 8009;  // a prime a little below twice the 4096 codes
  // The key's code, or -1 with Slot at the first empty entry, where an
  // insertion of the key goes.
  int32_t Lookup(uint32_t Key, int32_t& Slot) const;
  uint32_t table_[kHashSize];
  int32_t nextCode_ = 0;
};

// Runs of one colour, coded with the codes a decoder builds for itself while
// it reads them; clears the table before it could need 13 bits.
class TRLEEncoder final : public TGIFEncoder {
 public:
  using TGIFEncoder::TGIFEncoder;

 protected:
  void Clear() override;
  void DoCompress() override;

 private:
  void OutputPlain(int32_t Code);
  void Flush(int64_t Count);
  void FlushFromClear(int64_t Count);
  void FlushClearOrRep(int64_t Count);
  void FlushWithTable(int64_t Count);
  void ResetOutClear();

  int32_t outBumpInit_ = 0, outClearInit_ = 0, maxOcodes_ = 0;
  int64_t outBump_ = 0, outClear_ = 0, outCount_ = 0;
  int64_t rlTableMax_ = 0;
  int32_t rlPixel_ = -1, rlTablePixel_ = -1;
};

// The integer square root and the cost, in codes, of coding a run of Count
// pixels as a rising staircase of table codes that restarts every
// RepCodes codes (used by the run-length encoder to pick its strategy).
int64_t GIFIsqrt(int64_t X);
int64_t GIFTriangleCount(int64_t Count, int64_t RepCodes);
