#pragma once
// The scanner's frames put together into one packed device-independent
// bitmap, as the source manager hands it over in a native transfer.
//
// A scan arrives as one frame (grey or interleaved colour) or as three
// (red, green and blue planes, in any order). Every frame's parameters are
// checked before a byte is taken: depth 1, 8 or 16; a known height or -1
// (a hand scanner, whose height is what arrives); lines at least as long
// as their pixels need; three planes that agree with each other. 16-bit
// samples come in the machine's byte order and keep their high byte.
// Grey becomes an 8-bit bitmap with a grey table, line art a 1-bit bitmap
// (0 white, 1 black), colour 24 bits.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

enum TScanFrameFormat : int32_t { sfGray = 0, sfRgb = 1, sfRed = 2, sfGreen = 3, sfBlue = 4 };

struct TScanFrameParams {
  int32_t Format = sfGray;
  bool LastFrame = true;
  int32_t BytesPerLine = 0;
  int32_t PixelsPerLine = 0;
  int32_t Lines = 0;  // -1: not known before the frame ends
  int32_t Depth = 8;
};

// A frame the bitmap cannot be built from; Condition is the protocol's
// condition code the source reports for it.
class EScanFrameError : public std::runtime_error {
 public:
  EScanFrameError(uint16_t Condition, const std::string& Message)
      : std::runtime_error(Message), Condition(Condition) {}
  uint16_t Condition;
};

class TScanAssembler {
 public:
  // The largest picture put together: 2^28 pixels, as any bitmap.
  static constexpr int64_t kMaxPixels = int64_t{1} << 28;

  void BeginFrame(const TScanFrameParams& P);
  // Bytes of the current frame in any portions.
  void Append(const uint8_t* Data, size_t Size);
  // The frame's data ended.
  void EndFrame();
  // The last frame has ended: the picture is complete.
  bool Done() const { return done_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  // Information header (40 bytes), colour table, bottom-up rows.
  std::vector<uint8_t> PackedDib() const;

 private:
  void TakeLine(const uint8_t* Line);
  size_t RowBytes() const;

  TScanFrameParams frame_{};
  bool inFrame_ = false, done_ = false;
  int32_t frames_ = 0;
  int32_t planesSeen_ = 0;  // bit per colour plane
  int32_t width_ = 0, height_ = 0, depth_ = 0;
  int32_t kind_ = -1;  // 0 line art, 1 grey, 2 colour
  int32_t linesInFrame_ = 0;
  std::vector<uint8_t> partial_;
  std::vector<uint8_t> pixels_;  // top-down rows of RowBytes()
};
