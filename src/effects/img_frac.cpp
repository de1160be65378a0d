// Mandelbrot rendering.
#include "img_frac.h"

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

namespace {

// One pixel from its last values, as MandelbrotPoint leaves them.
inline void PutPoint(TColor32* Row, int32_t X, int32_t Count, long double Re, long double Im) {
  int32_t A = 0, B = 0;
  if (!RoundToInt32(Re * 32 + 127, A) || !RoundToInt32(Im * 32 + 127, B)) return;
  Row[X] = MakeArgb(ClampToByte(B), ClampToByte(A), ClampToByte(Count), 255);
}

// A row of the set without a cross term (K = 0, where the dialog opens).
// Then y is Ci from the first step on (0 * x * y is a zero, and a zero's sign
// never reaches x, the test or the colour), so y * y is Ci * Ci throughout,
// and x stays below 5 in magnitude, never infinite. Each step waits for the
// one before it, so three pixels of the row are iterated side by side, each
// lane taking the next pixel of the row when its own is done; every pixel
// still sees exactly the operations MandelbrotPoint does.
void RenderRowWithoutCrossTerm(TColor32* Row, int32_t W, long double Sx, long double Ci) {
  const long double Ci2 = Ci * Ci;
  int32_t Next = 0;
  // A lane holds a pixel after its first step: x = Cr, y = Ci, one step done.
  int32_t Xa = -1, Xb = -1, Xc = -1, Ca = 0, Cb = 0, Cc = 0;
  long double Ra = 0, Rb = 0, Rc = 0, Cra = 0, Crb = 0, Crc = 0;
  const auto Settle = [&](int32_t& Px, int32_t& C, long double& Re, long double& Cr) {
    while (Px >= 0 ? (Re * Re + Ci2 >= 4 || C >= 256) : Next < W) {
      if (Px >= 0) PutPoint(Row, Px, C, Re, Ci);
      if (Next >= W) {
        Px = -1;
        return;
      }
      Px = Next++;
      Cr = Px * Sx - 2;
      Re = Cr;
      C = 1;
    }
  };
  for (;;) {
    Settle(Xa, Ca, Ra, Cra);
    Settle(Xb, Cb, Rb, Crb);
    Settle(Xc, Cc, Rc, Crc);
    if (Xa < 0 && Xb < 0 && Xc < 0) return;
    // An idle lane at the row's end steps on harmlessly and is never read.
    for (;;) {
      const long double Na = Ra * Ra - Ci2 + Cra;
      const long double Nb = Rb * Rb - Ci2 + Crb;
      const long double Nc = Rc * Rc - Ci2 + Crc;
      Ra = Na, Rb = Nb, Rc = Nc;
      ++Ca, ++Cb, ++Cc;
      const bool Da = Xa >= 0 && (Ra * Ra + Ci2 >= 4 || Ca >= 256);
      const bool Db = Xb >= 0 && (Rb * Rb + Ci2 >= 4 || Cb >= 256);
      const bool Dc = Xc >= 0 && (Rc * Rc + Ci2 >= 4 || Cc >= 256);
      if (Da || Db || Dc) break;
    }
  }
}

}  // namespace

void RenderMandelbrot(TBitmap32* Bmp, long double K) {
  if (!HasPixels(Bmp)) return;
  const int32_t W = Bmp->Width(), H = Bmp->Height();
  const long double Sx = 3.0L / W, Sy = 3.0L / H;
  // Rows cost very differently (up to 256 steps a pixel), so they go out in small pieces.
  ParallelRows(0, H, RowsPerTask(int64_t{W} * 64), [&](int32_t First, int32_t Last) {
    for (int32_t y = First; y < Last; ++y) {
      const long double Ci = y * Sy - 1.5L;
      TColor32* Row = Bmp->RowPtr(y);
      if (K == 0) {
        RenderRowWithoutCrossTerm(Row, W, Sx, Ci);
        continue;
      }
      for (int32_t x = 0; x < W; ++x) {
        int32_t Count = 0, A = 0, B = 0;
        if (!MandelbrotPoint(Count, A, B, x * Sx - 2, Ci, K)) continue;
        Row[x] = MakeArgb(ClampToByte(B), ClampToByte(A), ClampToByte(Count), 255);
      }
    }
  });
  Bmp->Changed();
}
