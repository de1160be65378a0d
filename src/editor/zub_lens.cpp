// Reference points, their markers and popup, and the four point-anchored
// corrections. The workers change the bitmap they are given and nothing else;
// ApplyPointOperation wraps one in the undo step, the timing and the refresh.
#include "zub_lens.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "algebra.h"
#include "img_common.h"
#include "img_rotate.h"
#include "zub_layers.h"

namespace {

// Adds Add to R, G and B of C, each clamped; alpha is kept.
TColor32 Brighten(TColor32 C, int32_t Add) {
  const int32_t r = ClampToByte(static_cast<int32_t>((C >> 16) & 0xFF) + Add);
  const int32_t g = ClampToByte(static_cast<int32_t>((C >> 8) & 0xFF) + Add);
  const int32_t b = ClampToByte(static_cast<int32_t>(C & 0xFF) + Add);
  return (C & 0xFF000000u) | (static_cast<TColor32>(r) << 16) | (static_cast<TColor32>(g) << 8) |
         static_cast<TColor32>(b);
}

bool InsideBitmap(const TBitmap32* B, const TPoint& P) {
  return P.X >= 0 && P.Y >= 0 && P.X < B->Width() && P.Y < B->Height();
}

// The brightening per pixel of distance: the gauge spread over width plus
// height, held as a 32-bit float as the gauge's share always was.
float PerPixel(int32_t Alpha, const TBitmap32* B) {
  return static_cast<float>(Alpha) / static_cast<float>(static_cast<int64_t>(B->Width()) + B->Height());
}

}  // namespace

// ---- Workers --------------------------------------------------------------------------------

void CorrectVignetting(TBitmap32* Bitmap, int32_t Alpha, const TPoint& Click, int32_t Mode,
                       const std::vector<TPoint>&) {
  if (Bitmap == nullptr || Bitmap->Empty() || (Mode != 0 && Mode != 1)) return;
  const int32_t w = Bitmap->Width(), h = Bitmap->Height();
  const int32_t cx = Click.X, cy = Click.Y;
  const int32_t sides[] = {cx, w - cx, cy, h - cy};
  const int32_t r0 = Mode == 0 ? *std::min_element(std::begin(sides), std::end(sides))
                               : *std::max_element(std::begin(sides), std::end(sides));
  const long double k = PerPixel(Alpha, Bitmap);
  for (int32_t y = 0; y < h; ++y) {
    TColor32* row = Bitmap->Bits() + static_cast<ptrdiff_t>(y) * w;
    const int64_t dy = static_cast<int64_t>(cy) - y;
    for (int32_t x = 0; x < w; ++x) {
      const int64_t dx = static_cast<int64_t>(cx) - x;
      // The root of a whole number is whole or irrational: no ties to break here.
      const int64_t d = static_cast<int64_t>(std::nearbyint(std::sqrt(static_cast<double>(dx * dx + dy * dy)))) - r0;
      if (d <= 0) continue;
      // Round ties to even: 5 pixels at a half per pixel add 2, not 3.
      const long double add = std::nearbyintl(static_cast<long double>(d) * k);
      row[x] = Brighten(row[x], add > 255 ? 255 : static_cast<int32_t>(add));
    }
  }
}

void LighteningGradient(TBitmap32* Bitmap, int32_t Alpha, const TPoint& Click, int32_t,
                        const std::vector<TPoint>& Points) {
  if (Bitmap == nullptr || Bitmap->Empty() || Points.empty()) return;
  const TPoint p1 = Points[0];
  // The line from P1 to the click gives the direction; the dividing line N is
  // its perpendicular through the click. A pixel's distance from N is its
  // offset along the direction; P1's side is where that offset is negative.
  const double ux0 = static_cast<double>(Click.X) - p1.X, uy0 = static_cast<double>(Click.Y) - p1.Y;
  const double len = std::sqrt(ux0 * ux0 + uy0 * uy0);
  if (len == 0) return;  // no line through one point
  const double ux = ux0 / len, uy = uy0 / len;
  const long double k = PerPixel(Alpha, Bitmap);
  const int32_t w = Bitmap->Width(), h = Bitmap->Height();
  for (int32_t y = 0; y < h; ++y) {
    TColor32* row = Bitmap->Bits() + static_cast<ptrdiff_t>(y) * w;
    const double oy = (static_cast<double>(y) - Click.Y) * uy;
    for (int32_t x = 0; x < w; ++x) {
      const double along = (static_cast<double>(x) - Click.X) * ux + oy;
      if (!(along < 0)) continue;
      const long double add = std::nearbyintl(static_cast<long double>(-along) * k);
      if (add > 0) row[x] = Brighten(row[x], add > 255 ? 255 : static_cast<int32_t>(add));
    }
  }
}

void LevelStraighten(TBitmap32* Bitmap, int32_t, const TPoint& Click, int32_t Mode,
                     const std::vector<TPoint>& Points) {
  if (Bitmap == nullptr || Bitmap->Empty() || Points.empty() || (Mode != 0 && Mode != 1)) return;
  const TPoint p1 = Points[0];
  if (p1.X == Click.X) return;  // level: no direction to level; straighten: vertical already
  long double angle = std::atan2(static_cast<long double>(Click.Y) - p1.Y, static_cast<long double>(Click.X) - p1.X);
  if (Mode == 0 && angle == 0) return;
  if (Mode == 1) angle += std::numbers::pi_v<long double> / 2;
  long double degrees = -angle * 180 / std::numbers::pi_v<long double>;
  // A line is the same line read from either end: a click left of P1 must
  // not turn the picture upside down, so the turn stays within a quarter.
  while (degrees <= -90) degrees += 180;
  while (degrees > 90) degrees -= 180;
  if (degrees == 0) return;
  RotateByAngle(Bitmap, static_cast<float>(degrees));
}

int32_t BarrelNorm(int32_t Width) {
  if (Width < 2) return 0;
  const int64_t half = Width >> 1;
  return static_cast<int32_t>(std::nearbyint(std::sqrt(static_cast<double>(2 * half * half))));
}

void CorrectBarrelPincushion(TBitmap32* Bitmap, int32_t Alpha, const TPoint& Click, int32_t Mode,
                             const std::vector<TPoint>&) {
  if (Bitmap == nullptr || (Mode != 0 && Mode != 1)) return;
  const int32_t w = Bitmap->Width(), h = Bitmap->Height();
  const int32_t norm = BarrelNorm(w);  // both terms use the width, as the correction always measured
  if (norm == 0 || h < 1) return;      // nothing to measure in
  const double a = Alpha;
  const double ref = Mode == 0 ? static_cast<double>(PointDistance(0, 0, w >> 1, h >> 1)) / norm
                               : static_cast<double>(std::min(w >> 1, h >> 1)) / norm;
  const double k = a * ref / 100;
  TBitmap32 result;
  CopyBitmapProps(&result, Bitmap);
  const double cx = Click.X, cy = Click.Y;
  for (int32_t y = 0; y < h; ++y) {
    TColor32* dst = result.Bits() + static_cast<ptrdiff_t>(y) * w;
    const double dy = y - cy, dy2 = dy * dy;
    for (int32_t x = 0; x < w; ++x) {
      const double dx = x - cx;
      const double d = std::sqrt(dx * dx + dy2) / norm;
      const double f = Mode == 0 ? k + 1 - a * d / 100 : a * d / 100 + 1 - k;
      // Sample points past the edge get the outer colour from the clipped read.
      dst[x] = Bitmap->GetPixelBilinear(static_cast<float>(cx + dx * f), static_cast<float>(cy + dy * f));
    }
  }
  Bitmap->Assign(&result);
}

// ---- Reference points --------------------------------------------------------------------

void DefinePoint(TEditor& E, TReferencePoints& P, const TPoint& ControlPoint) {
  TBitmap32* doc = E.View().Bitmap();
  const TPoint b = E.View().ControlToBitmap(ControlPoint);
  if (!InsideBitmap(doc, b)) return;
  auto marker = std::make_unique<TLayerRef<TRubberbandLayer>>();
  CreateSelectionAt(E, static_cast<float>(ControlPoint.X), static_cast<float>(ControlPoint.Y), *marker);
  P.gPoints.push_back(b);
  P.gPointMarkers.push_back(std::move(marker));
}

void DefinePointatCenter1Click(TEditor& E, TReferencePoints& P) {
  TBitmap32* doc = E.View().Bitmap();
  DefinePoint(E, P, E.View().BitmapToControl(TPoint{doc->Width() / 2, doc->Height() / 2}));
}

void UndefineLastPoint1Click(TEditor& E, TReferencePoints& P) {
  if (!P.gPointMarkers.empty()) {
    FreeSelection(E, *P.gPointMarkers.back());
    P.gPointMarkers.pop_back();
  }
  if (!P.gPoints.empty()) P.gPoints.pop_back();
}

void ClearPoints(TEditor& E, TReferencePoints& P) {
  while (!P.gPointMarkers.empty()) {
    FreeSelection(E, *P.gPointMarkers.back());  // a marker already gone is skipped
    P.gPointMarkers.pop_back();
  }
  P.gPoints.clear();
}

void PopupMenu4Popup(TEditor& E, const TReferencePoints& P) {
  EditorUi& ui = E.Ui();
  const int32_t n = P.Count();
  ui.SetMenuCaption("DefinePoint1", "&Define P" + std::to_string(n + 1) + " from Here");
  ui.SetMenuCaption("DefinePointatCenter1", "&Define P" + std::to_string(n + 1) + " at Center");
  ui.SetMenuEnabled("UndefineLastPoint1", n >= 1);
  ui.SetMenuEnabled("ClearPoints1", n >= 1);
  for (const char* item :
       {"LighteningGradientfromP1toHere1", "LevelImagefromP1toHere1", "StraightenImageFromP1toHere1"})
    ui.SetMenuEnabled(item, n == 1);
}

void ApplyPointOperation(TEditor& E, TReferencePoints& P, const TPoint& ClickPoint, TPointWorker Worker,
                         int32_t Mode) {
  TCustomImage32& view = E.View();
  TBitmap32* doc = view.Bitmap();
  const TPoint click = view.ControlToBitmap(ClickPoint);
  if (Worker == nullptr || !InsideBitmap(doc, click)) return;
  view.Invalidate();
  if (E.gSelectedLayer) SelectLayer(E, nullptr);
  EditorUi& ui = E.Ui();
  ui.SetScreenCursor(crHourGlass);
  E.gLastActionTag = 0;
  doc->BeginUpdate();
  // The bracket is closed, the cursor restored and the points cleared however
  // the worker ends, so a failure leaves no frozen view behind.
  auto finish = [&] {
    doc->EndUpdate();
    doc->Changed();
    view.Invalidate();
    E.UpdateCaption();
    E.RefreshHistogram();
    ui.SetScreenCursor(crDefault);
    ClearPoints(E, P);
  };
  try {
    E.gImageUndo->Record(doc, true);
    const uint32_t start = ui.TickCount();
    Worker(doc, ui.GaugePosition(TGauge::Alpha), click, Mode, P.gPoints);
    if (E.gTiming) ui.MessageBox(std::to_string(static_cast<uint32_t>(ui.TickCount() - start)) + " ms", 0);
    // Points that give nothing to correct (a line already level, a gradient
    // of no length) leave the picture as it was: that is no step to undo.
    const TBitmap32* before = E.gImageUndo->Newest();
    if (before != nullptr && doc->Equal(before))
      E.gImageUndo->Withdraw();
    else
      E.gImageUndo->Settle();
  } catch (...) {
    E.gImageUndo->Settle();
    try {
      finish();
    } catch (...) {
    }
    throw;
  }
  finish();
}
