#include "zub_dlgcalc.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "exif_reader.h"
#include "img_common.h"
#include "stringutils.h"

namespace {

std::string Trimmed(const std::string& S) {
  size_t b = 0, e = S.size();
  while (b < e && static_cast<unsigned char>(S[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(S[e - 1]) <= ' ') --e;
  return S.substr(b, e - b);
}

int32_t RoundToSize(double V) {
  // Ties to even, then held to what the up-down accepts.
  const double r = std::nearbyint(V);
  if (!(r >= TResizeCalc::kMinSize)) return TResizeCalc::kMinSize;
  if (r > TResizeCalc::kMaxSize) return TResizeCalc::kMaxSize;
  return static_cast<int32_t>(r);
}

// Halving that rounds toward minus infinity, so a smaller canvas gives
// negative offsets: -201 / 2 is -101, not -100.
int32_t HalfDown(int64_t V) { return static_cast<int32_t>(V >= 0 ? V / 2 : -((-V + 1) / 2)); }

}  // namespace

bool ReadDecimalText(const std::string& Text, double& Value) {
  std::string t = Trimmed(Text);
  std::replace(t.begin(), t.end(), ',', '.');
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (first != last && *first == '+') ++first;
  if (first == last) return false;
  const auto [end, ec] = std::from_chars(first, last, Value);
  return ec == std::errc() && end == last && std::isfinite(Value);
}

// ---- Resize ---------------------------------------------------------------------------------

void TResizeCalc::Show(int32_t Mode, bool KeepAspect, int32_t Width, int32_t Height, int32_t ImageWidth,
                       int32_t ImageHeight) {
  mode_ = Mode;
  keepAspect_ = KeepAspect;
  imageWidth_ = ImageWidth;
  imageHeight_ = ImageHeight;
  width_ = std::clamp(Width, kMinSize, kMaxSize);
  height_ = std::clamp(Height, kMinSize, kMaxSize);
  // A height of 0 has no ratio to keep; 1 keeps the sides equal.
  aspect_ = Height != 0 ? static_cast<double>(Width) / Height : 1.0;
  if (!(aspect_ > 0)) aspect_ = 1.0;
  WidthChanged(width_);
  HeightChanged(height_);
}

void TResizeCalc::WidthChanged(int32_t Width) {
  width_ = std::clamp(Width, kMinSize, kMaxSize);
  if (!following_ && keepAspect_) {
    following_ = true;
    const int32_t h = RoundToSize(width_ / aspect_);
    if (h != height_) height_ = h;
    following_ = false;
  }
  Recentre();
}

void TResizeCalc::HeightChanged(int32_t Height) {
  height_ = std::clamp(Height, kMinSize, kMaxSize);
  if (!following_ && keepAspect_) {
    following_ = true;
    const int32_t w = RoundToSize(height_ * aspect_);
    if (w != width_) width_ = w;
    following_ = false;
  }
  Recentre();
}

void TResizeCalc::Recentre() {
  if (mode_ != 3) return;
  left_ = std::clamp(HalfDown(int64_t{width_} - imageWidth_), -kMaxOffset, kMaxOffset);
  top_ = std::clamp(HalfDown(int64_t{height_} - imageHeight_), -kMaxOffset, kMaxOffset);
}

// ---- Rotate ---------------------------------------------------------------------------------

int32_t RotateTenthsFromText(const std::string& Text) {
  double v = 0;
  if (!ReadDecimalText(Text, v)) return -1;
  const double tenths = std::trunc(v * 10);
  return static_cast<int32_t>(std::clamp(tenths, 0.0, 3600.0));
}

std::string RotateTextFromTenths(int32_t Tenths) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%02d", Tenths / 10, (std::abs(Tenths) % 10) * 10);
  return buf;
}

int32_t RotateCode(int32_t Choice, int32_t Tenths) {
  return Choice == kRotateFree ? kRotateFree + std::clamp(Tenths, 0, 3600) : Choice;
}

// ---- Matrix ---------------------------------------------------------------------------------

int32_t MatrixIntegerFromText(const std::string& Text) { return StrToIntDef(Text, 0); }

int32_t MatrixThresholdFromText(const std::string& Text) { return std::clamp(MatrixIntegerFromText(Text), 0, 255); }

void PrepareMatrixForShow(TCustomMatrix& M) {
  if (M.Divisor == 0) M.Divisor = 1;
}

void GetLastKernel(TCustomMatrix& M, const TLastKernel& Last) {
  M.Kernel = Last.Kernel;
  M.Divisor = Last.Divisor;
  M.Bias = Last.Bias;
}

// ---- Text -----------------------------------------------------------------------------------

void RenderTextPreview(const std::string& Text, const TFont& Font, TColor32 Color, int32_t AALevel,
                       TColor32 Background, TBitmap32& Out) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t lf = Text.find('\n', start);
    lines.push_back(Trimmed(Text.substr(start, lf == std::string::npos ? std::string::npos : lf - start)));
    if (lf == std::string::npos) break;
    start = lf + 1;
  }
  TBitmap32 canvas;
  canvas.SetFont(Font);
  int32_t widest = 0, lineHeight = 1;
  for (const std::string& line : lines) {
    const TTextExtent e = canvas.TextExtent(line);
    widest = std::max(widest, e.cx);
    lineHeight = std::max(lineHeight, e.cy + 2);
  }
  // Room for the slant of italic and the overhang of anti-aliased glyphs.
  const auto width = std::max<int64_t>(1, static_cast<int64_t>(widest * 1.15)) + 4;
  const int64_t height = static_cast<int64_t>(lines.size()) * lineHeight + 4;
  Out.SetSize(0, 0);
  if (width > TResizeCalc::kMaxSize * 4 || height > TResizeCalc::kMaxSize * 4) return;
  canvas.SetSize(static_cast<int32_t>(width), static_cast<int32_t>(height));
  canvas.Clear(Background & 0x00FFFFFF);
  for (size_t i = 0; i < lines.size(); ++i)
    if (!lines[i].empty())
      canvas.DrawSmoothText(2, lineHeight * static_cast<int32_t>(i) + 2, lines[i], AALevel, Color | 0xFF000000);

  bool drawn = false;
  for (size_t i = 0, n = canvas.PixelCount(); i < n && !drawn; ++i) drawn = (canvas.Bits()[i] >> 24) != 0;
  if (!drawn) return;
  // Inclusive bounds: the crop is Right - Left + 1 wide.
  const TRect b = AlphaBounds(&canvas, 4, 2);
  Out.SetSize(b.Right - b.Left + 1, b.Bottom - b.Top + 1);
  for (int32_t y = 0; y < Out.Height(); ++y)
    std::copy_n(canvas.PixelAddress(b.Left, b.Top + y), Out.Width(), Out.RowPtr(y));
  Out.SetDrawMode(dmBlend);
}

// ---- Histogram ------------------------------------------------------------------------------

THistogramCounts CountHistogram(const TColor32* Pixels, size_t Count) {
  THistogramCounts c;
  if (Pixels == nullptr) return c;
  for (size_t i = 0; i < Count; ++i) {
    const TColor32 p = Pixels[i];
    ++c.Red[(p >> 16) & 0xFF];
    ++c.Green[(p >> 8) & 0xFF];
    ++c.Blue[p & 0xFF];
    const auto y = static_cast<uint32_t>(IntensityOf(p));
    ++c.Intensity[y];
    c.Sum += y;
  }
  c.Count = Count;
  return c;
}

std::vector<THistogramPoint> HistogramCurve(const std::array<uint64_t, 256>& Table) {
  const uint64_t m = std::max<uint64_t>(1, *std::max_element(Table.begin(), Table.end()));
  std::vector<THistogramPoint> points(256);
  for (int32_t i = 0; i < 256; ++i)
    points[static_cast<size_t>(i)] = {i + 5, 109 - static_cast<int32_t>(Table[static_cast<size_t>(i)] * 100 / m)};
  return points;
}

int32_t HistogramMeanX(const THistogramCounts& Counts) {
  if (Counts.Count == 0) return -1;
  return static_cast<int32_t>(Counts.Sum / Counts.Count) + 5;
}

// ---- Information ----------------------------------------------------------------------------

std::string ExifInfoText() {
  std::string text = "No EXIF data found on picture file !";
  if (gHasExif && gExifData && gExifData->HasExif()) text = gExifData->ExifSummaryText();
  return text;
}
