#pragma once
// Rectangles between a view's control pixels and its bitmap, and the zoom
// that fits a bitmap into the view. The editor keeps the selection frame in
// control coordinates and turns it into the bitmap area a command works on
// with these.
#include <cstdint>

#include "raster_core.h"

class TCustomImage32;

// Each corner is rounded to a whole control pixel and mapped with the view's
// ControlToBitmap, so the result always holds integer values.
TFloatRect ControlToBitmapRect(TCustomImage32& View, const TFloatRect& R);
// The same the other way, with BitmapToControl.
TFloatRect BitmapToControlRect(TCustomImage32& View, const TFloatRect& R);
// The whole bitmap (0, 0, width, height) in control coordinates.
TFloatRect BitmapRectInControl(TCustomImage32& View);
// Divides the view's scale by the square root of 2 until the displayed
// bitmap fits the viewport less the margins. Never enlarges; stops when the
// scale no longer decreases or no room is left at all.
void ZoomToFit(TCustomImage32& View, int32_t MarginHorz, int32_t MarginVert);
