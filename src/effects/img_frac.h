#pragma once
// Rendering of a Mandelbrot-type set with a coefficient K on the cross term
// of the iteration z := (x*x - y*y + Cr, K*x*y + Ci); K = 2 gives the classic set.
#include <cstdint>

#include "raster_core.h"

// Iterates one point from z = 0 until |z|^2 >= 4 or 256 iterations. Count is
// the number of iterations done, A = round(x*32 + 127) and B = round(y*32 + 127)
// from the last value (limited to the int32 range). When the last value is
// not a number (a NaN coefficient), A and B keep what they held and the
// result is false; otherwise true.
bool MandelbrotPoint(int32_t& Count, int32_t& A, int32_t& B, long double Cr, long double Ci, long double K);
// Every pixel of Bmp: blue the clamped count, green A, red B, alpha 255, over
// the view -2..1 by -1.5..1.5. A pixel whose point gives no number keeps its
// colour. Nothing for a null or empty bitmap.
void RenderMandelbrot(TBitmap32* Bmp, long double K);
