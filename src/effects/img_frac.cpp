// Mandelbrot rendering.
#include "img_frac.h"

#include <algorithm>
#include <cmath>

#include "img_common.h"
#include "raster_parallel.h"

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
  // A point inside the set mostly falls into a cycle of exactly repeating
  // values long before step 256; once a value comes back, every later one is
  // known, none escapes, and only the value at step 256 is still wanted.
  // Values are checked against one kept at doubling distances (Brent), which
  // finds any cycle within about twice its start plus its length.
  long double KeptX = 0, KeptY = 0;
  int32_t Since = 0, Span = 1;
  do {
    const long double NewX = X * X - Y * Y + Cr;
    Y = K * X * Y + Ci;
    X = NewX;
    ++Count;
    if (X == KeptX && Y == KeptY) {
      // A zero's sign cannot reach a later value (it only ever meets a
      // product or a square), so values equal as numbers go on alike.
      for (int32_t Left = (256 - Count) % (Since + 1); Left > 0; --Left) {
        const long double NextX = X * X - Y * Y + Cr;
        Y = K * X * Y + Ci;
        X = NextX;
      }
      Count = 256;
      break;
    }
    if (++Since == Span) {
      KeptX = X;
      KeptY = Y;
      Since = 0;
      Span *= 2;
    }
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
  // Rows cost very differently (up to 256 steps a pixel), so they go out in small pieces.
  ParallelRows(0, H, std::max(1, RowsPerTask(int64_t{W} * 64)), [&](int32_t First, int32_t Last) {
    for (int32_t y = First; y < Last; ++y) {
      const long double Ci = y * Sy - 1.5L;
      TColor32* Row = Bmp->RowPtr(y);
      for (int32_t x = 0; x < W; ++x) {
        int32_t Count = 0, A = 0, B = 0;
        if (!MandelbrotPoint(Count, A, B, x * Sx - 2, Ci, K)) continue;
        Row[x] = MakeArgb(ClampToByte(B), ClampToByte(A), ClampToByte(Count), 255);
      }
    }
  });
  Bmp->Changed();
}
