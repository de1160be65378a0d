// Mandelbrot rendering.
#include "img_frac.h"

#include <cmath>

#include "img_common.h"

namespace {

// round(V) ties to even, limited to the int32 range; false for NaN.
bool RoundToInt32(long double V, int32_t& Out) {
  if (std::isnan(V)) return false;
  if (V <= -2147483648.0L)
    Out = INT32_MIN;
  else if (V >= 2147483647.0L)
    Out = INT32_MAX;
  else
    Out = static_cast<int32_t>(std::nearbyint(V));
  return true;
}

}  // namespace

bool MandelbrotPoint(int32_t& Count, int32_t& A, int32_t& B, long double Cr, long double Ci, long double K) {
  long double X = 0, Y = 0;
  Count = 0;
  do {
    const long double NewX = X * X - Y * Y + Cr;
    Y = K * X * Y + Ci;
    X = NewX;
    ++Count;
  } while (!(X * X + Y * Y >= 4) && Count < 256);
  int32_t NewA = 0, NewB = 0;
  if (!RoundToInt32(X * 32 + 127, NewA) || !RoundToInt32(Y * 32 + 127, NewB)) return false;
  A = NewA;
  B = NewB;
  return true;
}

void RenderMandelbrot(TBitmap32* Bmp, long double K) {
  if (!HasPixels(Bmp)) return;
  const int32_t W = Bmp->Width(), H = Bmp->Height();
  const long double Sx = 3.0L / W, Sy = 3.0L / H;
  for (int32_t y = 0; y < H; ++y) {
    const long double Ci = y * Sy - 1.5L;
    for (int32_t x = 0; x < W; ++x) {
      int32_t Count = 0, A = 0, B = 0;
      if (!MandelbrotPoint(Count, A, B, x * Sx - 2, Ci, K)) continue;
      Bmp->SetPixel(x, y, MakeArgb(ClampToByte(B), ClampToByte(A), ClampToByte(Count), 255));
    }
  }
  Bmp->Changed();
}
