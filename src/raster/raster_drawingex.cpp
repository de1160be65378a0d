// Cohen-Sutherland clipping of an integer line with rounded interpolation.
#include "raster_drawingex.h"

#include <cstdlib>

namespace {

// A * B / C rounded half away from zero, on 64-bit values. The clipper only
// divides by a difference that cannot be zero where it calls this, and
// |A| <= |C| there, so the quotient stays within |B|.
int64_t MulDivRound(int64_t A, int64_t B, int64_t C) {
  if (C == 0) return -1;
  const __int128 p = static_cast<__int128>(A) * B;
  const bool negative = (p < 0) != (C < 0);
  const unsigned __int128 n = p < 0 ? static_cast<unsigned __int128>(-p) : static_cast<unsigned __int128>(p);
  const unsigned __int128 d = static_cast<unsigned __int128>(C < 0 ? -static_cast<__int128>(C) : static_cast<__int128>(C));
  const int64_t q = static_cast<int64_t>((2 * n + d) / (2 * d));
  return negative ? -q : q;
}

}  // namespace

bool ClipLineToRect(int32_t& X1, int32_t& Y1, int32_t& X2, int32_t& Y2, int32_t MinX, int32_t MinY,
                    int32_t MaxX, int32_t MaxY) {
  // Work in 64 bits: differences of int32 coordinates overflow 32 bits.
  int64_t x1 = X1, y1 = Y1, x2 = X2, y2 = Y2;
  auto outcode = [&](int64_t x, int64_t y) {
    int c = 0;
    if (x < MinX) c = 1;
    else if (x > MaxX) c = 2;
    if (y < MinY) c += 4;
    else if (y > MaxY) c += 8;
    return c;
  };
  auto xpart = [&](int64_t x) { return x < MinX ? 1 : (x > MaxX ? 2 : 0); };
  auto store = [&] {
    X1 = static_cast<int32_t>(x1);
    Y1 = static_cast<int32_t>(y1);
    X2 = static_cast<int32_t>(x2);
    Y2 = static_cast<int32_t>(y2);
  };

  int c1 = outcode(x1, y1);
  int c2 = outcode(x2, y2);
  if ((c1 & c2) != 0 || (c1 == 0 && c2 == 0)) return c1 == 0 && c2 == 0;

  if (c1 & 12) {
    const int64_t y = c1 < 8 ? MinY : MaxY;
    x1 += MulDivRound(y - y1, x2 - x1, y2 - y1);
    y1 = y;
    c1 = xpart(x1);
  }
  if (c2 & 12) {
    const int64_t y = c2 < 8 ? MinY : MaxY;
    x2 += MulDivRound(y - y2, x2 - x1, y2 - y1);
    y2 = y;
    c2 = xpart(x2);
  }
  if ((c1 & c2) != 0 || (c1 == 0 && c2 == 0)) {
    // Nothing moved out of range is written back unless the line survives.
    if (c1 == 0 && c2 == 0) store();
    return c1 == 0 && c2 == 0;
  }
  if (c1 != 0) {
    const int64_t x = c1 == 1 ? MinX : MaxX;
    y1 += MulDivRound(x - x1, y2 - y1, x2 - x1);
    x1 = x;
    c1 = 0;
  }
  if (c2 != 0) {
    const int64_t x = c2 == 1 ? MinX : MaxX;
    y2 += MulDivRound(x - x2, y2 - y1, x2 - x1);
    x2 = x;
  }
  store();
  return true;
}
