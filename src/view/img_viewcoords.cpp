// Rectangles between control and bitmap coordinates, and the zoom to fit.
#include "img_viewcoords.h"

#include <cmath>

#include "raster_image.h"

namespace {

TFloatPoint MapPoint(TCustomImage32& View, float X, float Y, bool ToBitmap) {
  const TPoint p = RoundFloatPoint(TFloatPoint{X, Y});
  return FloatPointFromPoint(ToBitmap ? View.ControlToBitmap(p) : View.BitmapToControl(p));
}

TFloatRect MapRect(TCustomImage32& View, const TFloatRect& R, bool ToBitmap) {
  const TFloatPoint tl = MapPoint(View, R.Left, R.Top, ToBitmap);
  const TFloatPoint br = MapPoint(View, R.Right, R.Bottom, ToBitmap);
  return TFloatRect{tl.X, tl.Y, br.X, br.Y};
}

}  // namespace

TFloatRect ControlToBitmapRect(TCustomImage32& View, const TFloatRect& R) { return MapRect(View, R, true); }

TFloatRect BitmapToControlRect(TCustomImage32& View, const TFloatRect& R) { return MapRect(View, R, false); }

TFloatRect BitmapRectInControl(TCustomImage32& View) {
  return BitmapToControlRect(View, FloatRectFromRect(View.Bitmap()->BoundsRect()));
}

void ZoomToFit(TCustomImage32& View, int32_t MarginHorz, int32_t MarginVert) {
  const TRect v = View.GetViewportRect();
  const int64_t availW = int64_t{v.Right} - v.Left - MarginHorz;
  const int64_t availH = int64_t{v.Bottom} - v.Top - MarginVert;
  // With no room at all nothing would ever fit (a 0 x 0 window): leave the scale.
  if (availW <= 0 || availH <= 0) return;
  const long double w = View.Bitmap()->Width(), h = View.Bitmap()->Height();
  auto fits = [&] {
    return std::nearbyint(w * View.Scale()) <= availW && std::nearbyint(h * View.Scale()) <= availH;
  };
  while (!fits()) {
    const float old = View.Scale();
    View.SetScale(static_cast<float>(old / 1.414213562L));
    // At the smallest scale the division changes nothing any more.
    if (!(View.Scale() < old)) break;
  }
}
