#pragma once
// The arithmetic of the small dialogs, kept apart from their windows: the
// resize dialog's aspect and canvas offsets, the rotate dialog's angle text,
// the matrix dialog's edits, the text dialog's layout and the histogram's
// counting and curves, and the EXIF information text. The Qt dialogs call
// these and only show what comes back.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "raster_core.h"
#include "zub_actions.h"

// A decimal number as the dialogs read it, whatever the locale: blanks
// around it are ignored and "," is taken as the decimal point. False for
// anything else (a half-typed "-", "1,2,3", an empty text).
bool ReadDecimalText(const std::string& Text, double& Value);

// ---- Resize dialog ---------------------------------------------------------------------------

// Width and height with the aspect kept (mode 1), the new image's size
// (mode 2) or the canvas size with the picture's offsets (mode 3).
class TResizeCalc {
 public:
  static constexpr int32_t kMinSize = 1, kMaxSize = 8192, kMaxOffset = 2048;

  // Showing: the aspect becomes Width / Height as the caller set them (1
  // for a height of 0), then both size updates run. ImageWidth and
  // ImageHeight are the picture's size for the canvas offsets.
  void Show(int32_t Mode, bool KeepAspect, int32_t Width, int32_t Height, int32_t ImageWidth, int32_t ImageHeight);
  // The width or height was set (an up-down click or a number typed). The
  // other side follows when the aspect is kept; what follows never feeds
  // back, so a typed 402 stays 402.
  void WidthChanged(int32_t Width);
  void HeightChanged(int32_t Height);
  void SetKeepAspect(bool Keep) { keepAspect_ = Keep; }

  int32_t Mode() const { return mode_; }
  bool KeepAspect() const { return keepAspect_; }
  double Aspect() const { return aspect_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t Left() const { return left_; }
  int32_t Top() const { return top_; }

 private:
  void Recentre();

  int32_t mode_ = 1;
  bool keepAspect_ = true;
  double aspect_ = 1.0;
  int32_t width_ = 1, height_ = 1, left_ = 0, top_ = 0;
  int32_t imageWidth_ = 0, imageHeight_ = 0;
  bool following_ = false;
};

// ---- Rotate dialog ---------------------------------------------------------------------------

constexpr int32_t kRotateRight90 = 501, kRotate180 = 502, kRotateLeft90 = 503, kRotateFree = 10000;

// The tenths of a degree typed as "12,5" or "12.5" (125), truncated toward
// zero and clamped to 0..3600; -1 for text that is no number.
int32_t RotateTenthsFromText(const std::string& Text);
// What the edit shows after an up-down click: the degrees with two decimals.
std::string RotateTextFromTenths(int32_t Tenths);
// The rotation code the dialog hands back on OK.
int32_t RotateCode(int32_t Choice, int32_t Tenths);

// ---- Matrix dialog ---------------------------------------------------------------------------

// A kernel cell, "Divide by:" or "Add:": the integer typed, 0 for anything else.
int32_t MatrixIntegerFromText(const std::string& Text);
// A threshold: the integer typed held to 0..255 (invalid text gives 0).
int32_t MatrixThresholdFromText(const std::string& Text);
// Showing: a divisor of 0 (left by Random) becomes 1.
void PrepareMatrixForShow(TCustomMatrix& M);
// "Get Last": the kernel, divisor and bias a convolution last ran with.
void GetLastKernel(TCustomMatrix& M, const TLastKernel& Last);

// ---- Text dialog -----------------------------------------------------------------------------

// Draws Text (lines split at line feeds, each trimmed of blanks and control
// characters) in Font and Color with anti-aliasing AALevel over Background
// with alpha 0, and crops to the drawn pixels grown by 4 across and 2 down.
// Out is left empty when nothing was drawn.
void RenderTextPreview(const std::string& Text, const TFont& Font, TColor32 Color, int32_t AALevel,
                       TColor32 Background, TBitmap32& Out);

// ---- Histogram -------------------------------------------------------------------------------

// The four distributions of one picture and the sum of its intensities;
// 64-bit so that no picture the editor can hold overflows them.
struct THistogramCounts {
  std::array<uint64_t, 256> Red{}, Green{}, Blue{}, Intensity{};
  uint64_t Sum = 0;    // of the intensities
  uint64_t Count = 0;  // pixels counted
};

THistogramCounts CountHistogram(const TColor32* Pixels, size_t Count);

struct THistogramPoint {
  int32_t X = 0, Y = 0;
  friend bool operator==(const THistogramPoint&, const THistogramPoint&) = default;
};

// The polyline of one table: (i + 5, 109 - count * 100 div largest).
std::vector<THistogramPoint> HistogramCurve(const std::array<uint64_t, 256>& Table);
// The x of the mean marker (mean intensity + 5); -1 for no pixels.
int32_t HistogramMeanX(const THistogramCounts& Counts);

// ---- Information box -------------------------------------------------------------------------

// The EXIF summary of the opened file, or "No EXIF data found on picture file !".
std::string ExifInfoText();
