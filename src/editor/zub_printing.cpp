#include "zub_printing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "raster_core.h"
#include "raster_filterindex.h"
#include "strarray.h"

int16_t TDevMode::Get16(size_t Offset) const {
  return static_cast<int16_t>(Bytes[Offset] | (Bytes[Offset + 1] << 8));
}

void TDevMode::Set16(size_t Offset, int16_t Value) {
  const auto v = static_cast<uint16_t>(Value);
  Bytes[Offset] = static_cast<uint8_t>(v & 0xFF);
  Bytes[Offset + 1] = static_cast<uint8_t>(v >> 8);
}

std::string TDevMode::Text(size_t Offset) const {
  const char* p = reinterpret_cast<const char*>(Bytes.data() + Offset);
  return std::string(p, strnlen(p, 32));
}

void TDevMode::SetText(size_t Offset, const std::string& Value) {
  std::memset(Bytes.data() + Offset, 0, 32);
  std::memcpy(Bytes.data() + Offset, Value.data(), std::min<size_t>(Value.size(), 31));
}

std::string EncodeDevMode(const uint8_t* Block, size_t Size) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(Size / 4 * 10);
  for (size_t w = 0; w < Size / 4; ++w) {
    const uint32_t v = Block[4 * w] | Block[4 * w + 1] << 8 | Block[4 * w + 2] << 16 |
                       static_cast<uint32_t>(Block[4 * w + 3]) << 24;
    out += w == 0 ? "$" : ",$";
    for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(v >> shift) & 0xF];
  }
  return out;
}

uint32_t ParseDevModeWord(const std::string& Part) {
  // Unsigned on purpose: every word the encoder writes is "$" + 8 digits, and
  // half of them would not read back as a signed integer.
  const bool hex = !Part.empty() && Part[0] == '$';
  const size_t start = hex ? 1 : 0;
  if (Part.size() == start) return 0;
  uint64_t v = 0;
  for (size_t i = start; i < Part.size(); ++i) {
    const char c = Part[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else return 0;
    v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFu) return 0;
  }
  return static_cast<uint32_t>(v);
}

void DecodeDevMode(const std::string& Text, uint8_t* Block, size_t Size) {
  const std::vector<std::string> parts = SplitStringArray(Text, ",", '"', 0);
  const size_t words = std::min(Size / 4, parts.size());
  for (size_t w = 0; w < words; ++w) {
    const uint32_t v = ParseDevModeWord(parts[w]);
    for (int b = 0; b < 4; ++b) Block[4 * w + b] = static_cast<uint8_t>(v >> (8 * b));
  }
}

int32_t PreviewReduction(int32_t Width, int32_t Height) { return std::max(1, std::max(Height / 256, Width / 256)); }

TPoint PrintedSize(int32_t PageWidth, int32_t PageHeight, int32_t PreviewWidth, int32_t PreviewHeight,
                   float PreviewScale, int32_t BoxWidth, int32_t BoxHeight) {
  if (BoxWidth <= 0 || BoxHeight <= 0) return {0, 0};
  const double w = std::trunc(PageWidth * (PreviewWidth * static_cast<double>(PreviewScale) / BoxWidth));
  const double h = std::trunc(PageHeight * (PreviewHeight * static_cast<double>(PreviewScale) / BoxHeight));
  auto clampSide = [](double v) { return static_cast<int32_t>(std::clamp(v, 0.0, 1.0e9)); };
  return {clampSide(w), clampSide(h)};
}

TPoint PrintBitmapSize(int32_t Width, int32_t Height) {
  if (Width <= 0 || Height <= 0) return {0, 0};
  const int64_t pixels = int64_t{Width} * Height;
  if (pixels <= kMaxPrintPixels) return {Width, Height};
  const double f = std::sqrt(static_cast<double>(kMaxPrintPixels) / static_cast<double>(pixels));
  return {std::max<int32_t>(1, static_cast<int32_t>(Width * f)), std::max<int32_t>(1, static_cast<int32_t>(Height * f))};
}

std::unique_ptr<TBitmap32> MakePrintBitmap(TBitmap32& Source, TPoint Size) {
  auto b = std::make_unique<TBitmap32>();
  if (Size.X <= 0 || Size.Y <= 0 || Source.Empty()) return b;
  b->SetSize(Size.X, Size.Y);
  const TRect r{0, 0, Size.X, Size.Y};
  StretchTransferByIndex(b.get(), r, r, &Source, TRect{0, 0, Source.Width(), Source.Height()}, 4, dmOpaque);
  return b;
}

std::unique_ptr<TBitmap32> MakePreviewBitmap(TBitmap32& Source) {
  auto b = std::make_unique<TBitmap32>();
  if (Source.Empty()) return b;
  // A side the reduction takes to nothing keeps one pixel: an empty preview
  // would print nothing, and say nothing, for a long thin picture.
  const int32_t s = PreviewReduction(Source.Width(), Source.Height());
  b->SetSize(std::max<int32_t>(1, Source.Width() / s), std::max<int32_t>(1, Source.Height() / s));
  const TRect r{0, 0, b->Width(), b->Height()};
  StretchTransferByIndex(b.get(), r, r, &Source, TRect{0, 0, Source.Width(), Source.Height()}, 2, dmOpaque);
  return b;
}

int32_t EstimatePrintQuality(int32_t PageWidthPx, int32_t PageHeightPx, int32_t PaperWidth, int32_t PaperLength,
                             bool Landscape) {
  if (PaperWidth <= 0 || PaperLength <= 0) return 0;
  if (Landscape) std::swap(PaperWidth, PaperLength);
  const long double v =
      PageWidthPx / (PaperWidth / 254.0L * 2) + PageHeightPx / (PaperLength / 254.0L * 2);
  return static_cast<int32_t>(std::nearbyint(std::clamp(v, 0.0L, 32767.0L)));
}

std::string PrintInfoText(TDevMode& Mode, int32_t PageWidthPx, int32_t PageHeightPx) {
  if ((Mode.Get16(TDevMode::PaperWidth) == 0 || Mode.Get16(TDevMode::PaperLength) == 0) &&
      Mode.Get16(TDevMode::PaperSize) == TDevMode::kPaperA4) {
    Mode.Set16(TDevMode::PaperWidth, 2100);
    Mode.Set16(TDevMode::PaperLength, 2970);
  }
  if (Mode.Get16(TDevMode::PrintQuality) <= 0 && Mode.Get16(TDevMode::PaperWidth) > 0 &&
      Mode.Get16(TDevMode::PaperLength) > 0)
    Mode.Set16(TDevMode::PrintQuality,
               static_cast<int16_t>(EstimatePrintQuality(PageWidthPx, PageHeightPx, Mode.Get16(TDevMode::PaperWidth),
                                                         Mode.Get16(TDevMode::PaperLength),
                                                         Mode.Get16(TDevMode::Orientation) == TDevMode::kLandscape)));
  return "form: " + Mode.Text(TDevMode::FormName) + " scale:" + std::to_string(Mode.Get16(TDevMode::Scale)) + "%" +
         " copies:" + std::to_string(Mode.Get16(TDevMode::Copies)) + "\n" +
         "quality:" + std::to_string(Mode.Get16(TDevMode::PrintQuality)) + "dpi";
}
