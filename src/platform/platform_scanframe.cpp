#include "platform_scanframe.h"

#include <cstring>
#include <string>

#include "twain_records.h"

namespace {

int64_t NeededLineBytes(const TScanFrameParams& P) {
  const int64_t samples = int64_t{P.PixelsPerLine} * (P.Format == sfRgb ? 3 : 1);
  return (samples * P.Depth + 7) / 8;
}

[[noreturn]] void Bad(uint16_t Condition, const std::string& Text) { throw EScanFrameError(Condition, Text); }

// Sample i of a line at depth 1, 8 or 16, as 8 bits. A 1-bit colour sample
// is the channel on or off; 1-bit grey (line art) is copied, not sampled.
uint8_t Sample(const uint8_t* Line, int64_t I, int32_t Depth) {
  if (Depth == 8) return Line[I];
  if (Depth == 16) {
    uint16_t v;
    std::memcpy(&v, Line + 2 * I, 2);
    return static_cast<uint8_t>(v >> 8);
  }
  return (Line[I >> 3] >> (7 - (I & 7)) & 1) ? 255 : 0;
}

}  // namespace

size_t TScanAssembler::RowBytes() const {
  const int64_t bits = int64_t{width_} * (kind_ == 0 ? 1 : kind_ == 1 ? 8 : 24);
  return static_cast<size_t>((bits + 31) / 32 * 4);
}

void TScanAssembler::BeginFrame(const TScanFrameParams& P) {
  if (done_ || inFrame_) Bad(TWCC_SEQERROR, "A frame began after the picture was complete");
  if (P.Depth != 1 && P.Depth != 8 && P.Depth != 16) Bad(TWCC_BADVALUE, "Unsupported depth " + std::to_string(P.Depth));
  if (P.Format < sfGray || P.Format > sfBlue) Bad(TWCC_BADVALUE, "Unknown frame format " + std::to_string(P.Format));
  if (P.PixelsPerLine <= 0 || (P.Lines <= 0 && P.Lines != -1)) Bad(TWCC_BADVALUE, "Empty or invalid frame size");
  const int64_t need = NeededLineBytes(P);
  if (P.BytesPerLine < need || P.BytesPerLine > (int64_t{1} << 26))
    Bad(TWCC_BADVALUE, "Line length " + std::to_string(P.BytesPerLine) + " does not fit the pixels");
  if (P.Lines > 0 && int64_t{P.PixelsPerLine} * P.Lines > kMaxPixels) Bad(TWCC_LOWMEMORY, "Picture too large");

  const bool plane = P.Format >= sfRed;
  if (frames_ == 0) {
    width_ = P.PixelsPerLine;
    depth_ = P.Depth;
    height_ = P.Lines;
    kind_ = plane || P.Format == sfRgb ? 2 : (P.Depth == 1 ? 0 : 1);
    // A single-pass frame must be the last; a plane must not be the only one.
    if (!plane && !P.LastFrame) Bad(TWCC_SEQERROR, "A single-pass frame was not the last");
  } else {
    if (!plane) Bad(TWCC_SEQERROR, "A single-pass frame followed another frame");
    if (P.PixelsPerLine != width_ || P.Depth != depth_ || (P.Lines != -1 && P.Lines != height_))
      Bad(TWCC_BADVALUE, "The colour planes do not agree");
  }
  if (plane) {
    const int32_t bit = 1 << (P.Format - sfRed);
    if (planesSeen_ & bit) Bad(TWCC_SEQERROR, "A colour plane came twice");
    planesSeen_ |= bit;
    if (P.LastFrame && planesSeen_ != 7) Bad(TWCC_SEQERROR, "The last frame left a colour plane out");
  }
  frame_ = P;
  inFrame_ = true;
  linesInFrame_ = 0;
  partial_.clear();
  ++frames_;
}

void TScanAssembler::Append(const uint8_t* Data, size_t Size) {
  if (!inFrame_) Bad(TWCC_SEQERROR, "Data outside a frame");
  const size_t bpl = static_cast<size_t>(frame_.BytesPerLine);
  while (Size > 0) {
    const size_t take = std::min(Size, bpl - partial_.size());
    partial_.insert(partial_.end(), Data, Data + take);
    Data += take;
    Size -= take;
    if (partial_.size() == bpl) {
      TakeLine(partial_.data());
      partial_.clear();
    }
  }
}

void TScanAssembler::TakeLine(const uint8_t* Line) {
  const int32_t y = linesInFrame_;
  if (height_ > 0 && y >= height_) Bad(TWCC_BADVALUE, "More lines than the frame declared");
  if (static_cast<size_t>(y) >= pixels_.size() / RowBytes()) {
    // Rows are added as their data arrives, never on the word of the frame's
    // parameters alone; only the first plane adds rows.
    if (frames_ > 1) Bad(TWCC_BADVALUE, "A colour plane is longer than the first");
    if (int64_t{width_} * (y + 1) > kMaxPixels) Bad(TWCC_LOWMEMORY, "Picture too large");
    pixels_.resize(pixels_.size() + RowBytes(), 0);
  }
  uint8_t* row = pixels_.data() + RowBytes() * static_cast<size_t>(y);
  if (kind_ == 0) {
    // Line art stays 1 bit: the table says 0 white, 1 black, as the scanner does.
    std::memcpy(row, Line, static_cast<size_t>((width_ + 7) / 8));
  } else if (kind_ == 1) {
    for (int32_t x = 0; x < width_; ++x) row[x] = Sample(Line, x, depth_);
  } else if (frame_.Format == sfRgb) {
    for (int32_t x = 0; x < width_; ++x)
      for (int c = 0; c < 3; ++c) row[3 * x + (2 - c)] = Sample(Line, int64_t{3} * x + c, depth_);
  } else {
    const int c = frame_.Format - sfRed;  // rows are blue, green, red
    for (int32_t x = 0; x < width_; ++x) row[3 * x + (2 - c)] = Sample(Line, x, depth_);
  }
  ++linesInFrame_;
}

void TScanAssembler::EndFrame() {
  if (!inFrame_) Bad(TWCC_SEQERROR, "No frame to end");
  if (!partial_.empty()) Bad(TWCC_BADVALUE, "The frame ended inside a line");
  if (height_ > 0 && linesInFrame_ != height_) Bad(TWCC_BADVALUE, "The frame ended early");
  if (height_ <= 0) {
    if (linesInFrame_ == 0) Bad(TWCC_BADVALUE, "The frame had no lines");
    height_ = linesInFrame_;
  }
  inFrame_ = false;
  done_ = frame_.LastFrame;
}

std::vector<uint8_t> TScanAssembler::PackedDib() const {
  if (!done_) Bad(TWCC_SEQERROR, "The picture is not complete");
  const uint32_t colours = kind_ == 0 ? 2 : kind_ == 1 ? 256 : 0;
  const size_t rowBytes = RowBytes();
  std::vector<uint8_t> dib(40 + 4 * colours + rowBytes * static_cast<size_t>(height_), 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) dib[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, 40);
  put32(4, static_cast<uint32_t>(width_));
  put32(8, static_cast<uint32_t>(height_));
  dib[12] = 1;
  dib[14] = static_cast<uint8_t>(kind_ == 0 ? 1 : kind_ == 1 ? 8 : 24);
  put32(20, static_cast<uint32_t>(rowBytes * static_cast<size_t>(height_)));
  put32(32, colours);
  for (uint32_t i = 0; i < colours; ++i) {
    const uint32_t g = kind_ == 0 ? (i == 0 ? 255 : 0) : i;
    put32(40 + 4 * i, g | g << 8 | g << 16);
  }
  uint8_t* bits = dib.data() + 40 + 4 * colours;
  for (int32_t y = 0; y < height_; ++y)
    std::memcpy(bits + rowBytes * static_cast<size_t>(height_ - 1 - y), pixels_.data() + rowBytes * static_cast<size_t>(y),
                rowBytes);
  return dib;
}
