// The pixel-level drawing of TBitmap32: single pixels (plain, clipped,
// blended, anti-aliased at 24.8 positions, wrapped), the stipple pattern,
// horizontal, vertical and general lines, the pen, rectangle fills and frames.
// Every operation that changes pixels reports its area through Changed; while
// the bitmap is measuring it skips the pixel work and only reports.
//
// The clipped forms accept any coordinates: their clipping arithmetic runs in
// 64 bits (128 where two 33-bit quantities meet), so no input overflows.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "raster_blend.h"
#include "raster_blend_family.h"
#include "raster_core.h"
#include "raster_drawingex.h"
#include "raster_lowlevel.h"
#include "raster_math.h"
#include "raster_system.h"

namespace {

using i128 = __int128;

int32_t ClampToInt32(int64_t V) {
  return static_cast<int32_t>(std::clamp<int64_t>(V, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// 16.16 to 24.8 with rounding: (v + 127) sar 8, without overflowing near the top.
int32_t FixedTo256(TFixed V) { return static_cast<int32_t>((int64_t{V} + 127) >> 8); }

// A rectangle from two inclusive corners in any order, right and bottom exclusive.
TRect SpanRect(int64_t X1, int64_t Y1, int64_t X2, int64_t Y2) {
  return TRect{ClampToInt32(std::min(X1, X2)), ClampToInt32(std::min(Y1, Y2)),
               ClampToInt32(std::max(X1, X2) + 1), ClampToInt32(std::max(Y1, Y2) + 1)};
}

// The 16.16 area of the anti-aliased lines rounded to whole pixels, each side
// to the nearest integer (an exact half goes down).
TRect RoundFixedArea(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2) {
  auto r = [](TFixed v) { return static_cast<int32_t>((int64_t{v} + 32767) >> 16); };
  return TRect{r(X1), r(Y1), r(X2), r(Y2)};
}

// A stippled span A..B (walked from A to B) clipped to [Lo, Hi) along its
// axis. The pattern advances by one colour per pixel also over what is cut
// away: Lead steps before From, Tail after To. Shown is false when nothing of
// the span is inside (Across: the other axis is outside or the clip is empty);
// then Lead covers the whole span.
struct TStippleSpan {
  bool Shown;
  int64_t From, To, Lead, Tail;
};

TStippleSpan ClipStippleSpan(int64_t A, int64_t B, int64_t Lo, int64_t Hi, bool Across) {
  if (!Across || (A < Lo && B < Lo) || (A >= Hi && B >= Hi)) return {false, A, B, std::llabs(B - A) + 1, 0};
  TStippleSpan S{true, A, B, 0, 0};
  if (A < Lo) {
    S.Lead = Lo - A;
    S.From = Lo;
  } else if (A >= Hi) {
    S.Lead = A - (Hi - 1);
    S.From = Hi - 1;
  }
  if (B < Lo) {
    S.Tail = Lo - B;
    S.To = Lo;
  } else if (B >= Hi) {
    S.Tail = B - (Hi - 1);
    S.To = Hi - 1;
  }
  return S;
}

}  // namespace

TInterpolator Interpolator = InterpolatePortable;

TColor32 InterpolatePortable(uint32_t WX, uint32_t WY, const TColor32* Top, const TColor32* Bottom) {
  if (WX > 255) WX = 255;
  if (WY > 255) WY = 255;
  const TColor32 t = CombinePixelsPortable(Top[0], Top[1], WX);
  const TColor32 b = CombinePixelsPortable(Bottom[0], Bottom[1], WX);
  return CombinePixelsPortable(t, b, WY);
}

bool SelectInterpolator(bool UseProcessor) {
  const TInterpolator processor = InterpolateProcessorVariant();
  const bool use = UseProcessor && processor != nullptr && (CpuMmxTest() || Cpu3DNowTest());
  Interpolator = use ? processor : InterpolatePortable;
  return use;
}

// ---- Pixel access -------------------------------------------------------------------

TColor32 TBitmap32::GetPixelClipped(int32_t X, int32_t Y) const {
  if (PointInRect(clipRect_, X, Y)) return GetPixel(X, Y);
  return outerColor_;
}

void TBitmap32::SetPixelClipped(int32_t X, int32_t Y, TColor32 C) {
  if (PointInRect(clipRect_, X, Y)) SetPixel(X, Y, C);
}

void TBitmap32::SetPixelBlend(int32_t X, int32_t Y, TColor32 C) {
  PixelIntoByMode[combineMode_](C, *PixelAddress(X, Y));
  EndMmx();
}

void TBitmap32::SetPixelBlendClipped(int32_t X, int32_t Y, TColor32 C) {
  if (PointInRect(clipRect_, X, Y)) SetPixelBlend(X, Y, C);
}

TColor32 TBitmap32::GetPixelWrapped(int32_t X, int32_t Y) const {
  // An empty clip rectangle has nothing to wrap into.
  if (IsRectEmpty(clipRect_)) return outerColor_;
  const auto wrap = WrapProcByMode[wrapMode_];
  const int32_t x = wrap(X, clipRect_.Left, clipRect_.Right - 1);
  const int32_t y = wrap(Y, clipRect_.Top, clipRect_.Bottom - 1);
  return GetPixel(x, y);
}

TColor32 TBitmap32::GetPixelWrappedBilinear(TFixed X, TFixed Y) const {
  if (IsRectEmpty(clipRect_)) return outerColor_;
  const auto wrap = WrapProcByMode[wrapMode_];
  // Integer parts are the high 16 bits as signed 16-bit values.
  const int32_t ix = static_cast<int16_t>(static_cast<uint32_t>(X) >> 16);
  const int32_t iy = static_cast<int16_t>(static_cast<uint32_t>(Y) >> 16);
  const uint32_t fx = (static_cast<uint32_t>(X) >> 8) & 0xFF;
  const uint32_t fy = (static_cast<uint32_t>(Y) >> 8) & 0xFF;
  const int32_t x1 = wrap(ix, clipRect_.Left, clipRect_.Right - 1);
  const int32_t x2 = wrap(ix + 1, clipRect_.Left, clipRect_.Right - 1);
  const int32_t y1 = wrap(iy, clipRect_.Top, clipRect_.Bottom - 1);
  const int32_t y2 = wrap(iy + 1, clipRect_.Top, clipRect_.Bottom - 1);
  const TColor32 top = CombinePixels(GetPixel(x2, y1), GetPixel(x1, y1), fx);
  const TColor32 bottom = CombinePixels(GetPixel(x2, y2), GetPixel(x1, y2), fx);
  const TColor32 result = CombinePixels(bottom, top, fy);
  EndMmx();
  return result;
}

// Spreads C over the 2 x 2 block at a 24.8 position with gamma-corrected
// weights; Clip restricts the writes to ClipRect.
void TBitmap32::SetPixel256Weights(int32_t X, int32_t Y, TColor32 C, bool Clip) {
  const uint32_t fx = static_cast<uint32_t>(X) & 255;
  const uint32_t fy = static_cast<uint32_t>(Y) & 255;
  const int32_t px = X >> 8;
  const int32_t py = Y >> 8;
  const int32_t xs[4] = {px, px + 1, px + 1, px};
  const int32_t ys[4] = {py, py, py + 1, py + 1};
  const uint32_t wt = GammaTable[fy ^ 255], wb = GammaTable[fy];
  if (combineMode_ == cmBlend) {
    const uint32_t a = C >> 24;
    const uint32_t wl = a * GammaTable[fx ^ 255], wr = a * GammaTable[fx];
    const uint32_t w[4] = {(wl * wt) >> 16, (wr * wt) >> 16, (wr * wb) >> 16, (wl * wb) >> 16};
    for (int i = 0; i < 4; ++i) {
      if (Clip && !PointInRect(clipRect_, xs[i], ys[i])) continue;
      CombinePixelInto(C, *PixelAddress(xs[i], ys[i]), w[i]);
    }
  } else {
    const uint32_t wl = GammaTable[fx ^ 255], wr = GammaTable[fx];
    const uint32_t w[4] = {(wl * wt) >> 8, (wr * wt) >> 8, (wr * wb) >> 8, (wl * wb) >> 8};
    for (int i = 0; i < 4; ++i) {
      if (Clip && !PointInRect(clipRect_, xs[i], ys[i])) continue;
      TColor32& p = *PixelAddress(xs[i], ys[i]);
      CombinePixelInto(MergePixel(C, p), p, w[i]);
    }
  }
}

void TBitmap32::SetPixel256(int32_t X, int32_t Y, TColor32 C) { SetPixel256Weights(X, Y, C, false); }

void TBitmap32::SetPixel256Clipped(int32_t X, int32_t Y, TColor32 C) {
  const int64_t l = int64_t{clipRect_.Left} * 256, t = int64_t{clipRect_.Top} * 256;
  const int64_t r = int64_t{clipRect_.Right} * 256, b = int64_t{clipRect_.Bottom} * 256;
  if (X < l - 256 || X >= r || Y < t - 256 || Y >= b) return;
  SetPixel256Weights(X, Y, C, true);
}

void TBitmap32::SetPixelFixedClipped(TFixed X, TFixed Y, TColor32 C) {
  SetPixel256Clipped(FixedTo256(X), FixedTo256(Y), C);
  EndMmx();
}

TColor32 TBitmap32::GetPixel256(int32_t X, int32_t Y) const {
  const uint32_t wx = GammaTable[(static_cast<uint32_t>(X) & 255) ^ 255];
  const uint32_t wy = GammaTable[(static_cast<uint32_t>(Y) & 255) ^ 255];
  const TColor32* p = PixelAddress(X >> 8, Y >> 8);
  return Interpolator(wx, wy, p, p + FWidth);
}

TColor32 TBitmap32::GetPixel256Clipped(int32_t X, int32_t Y) const {
  if (IsRectEmpty(clipRect_)) return outerColor_;
  const int64_t l = int64_t{clipRect_.Left} * 256, t = int64_t{clipRect_.Top} * 256;
  const int64_t lastX = (int64_t{clipRect_.Right} - 1) * 256;
  const int64_t lastY = (int64_t{clipRect_.Bottom} - 1) * 256;
  if (X < l || Y < t) return outerColor_;
  if (X < lastX && Y < lastY) return GetPixel256(X, Y);
  // On the last column or row there is no neighbour to mix with.
  if (X == lastX && Y <= lastY) return GetPixel(clipRect_.Right - 1, Y >> 8);
  if (Y == lastY && X <= lastX) return GetPixel(X >> 8, clipRect_.Bottom - 1);
  return outerColor_;
}

TColor32 TBitmap32::GetPixelFixed(TFixed X, TFixed Y) const {
  const TColor32 c = GetPixel256(FixedTo256(X), FixedTo256(Y));
  EndMmx();
  return c;
}

TColor32 TBitmap32::GetPixelFixedClipped(TFixed X, TFixed Y) const {
  const TColor32 c = GetPixel256Clipped(FixedTo256(X), FixedTo256(Y));
  EndMmx();
  return c;
}

TColor32 TBitmap32::GetPixelBilinear(float X, float Y) const {
  const float fx = X * 256.0f, fy = Y * 256.0f;
  // A position that is not a number or lies beyond 24.8 range is outside
  // every clip rectangle.
  constexpr float lim = 2147483520.0f;  // the largest float below 2^31
  if (!(fx >= -lim && fx <= lim && fy >= -lim && fy <= lim)) return outerColor_;
  const TColor32 c = GetPixel256Clipped(static_cast<int32_t>(std::nearbyint(fx)),
                                        static_cast<int32_t>(std::nearbyint(fy)));
  EndMmx();
  return c;
}

// ---- Stipple -------------------------------------------------------------------------

void TBitmap32::SetStipple(const TArrayOfColor32& Pattern) {
  stipplePattern_ = Pattern;
  stippleCounter_ = 0.0f;
}

void TBitmap32::AdvanceStipple(float Length) {
  const long double len = static_cast<long double>(stipplePattern_.size());
  const long double delta = static_cast<long double>(Length) * stippleStep_;
  if (stipplePattern_.empty() || delta == 0) return;
  long double c = stippleCounter_ + delta;
  // Reduce with floor so that a huge step costs no loop; a counter that is not
  // a number starts the pattern over.
  c -= std::floor(c / len) * len;
  if (!std::isfinite(c)) c = 0;
  stippleCounter_ = static_cast<float>(c);
}

TColor32 TBitmap32::GetStippleColor() {
  if (stipplePattern_.empty()) return 0xFF000000u;
  const int64_t count = static_cast<int64_t>(stipplePattern_.size());
  const long double len = static_cast<long double>(count);
  long double c = stippleCounter_;
  c -= std::floor(c / len) * len;
  // Rounding of the reduction may land exactly on the length.
  if (!std::isfinite(c) || c < 0 || c >= len) c = 0;
  stippleCounter_ = static_cast<float>(c);
  c = stippleCounter_;
  // Round, not std::round: ties go to even, so a counter of 0 gives -0.5 -> 0.
  int64_t prev = static_cast<int64_t>(std::nearbyint(c - 0.5L));
  prev = std::clamp<int64_t>(prev, 0, count - 1);
  int64_t weight = 255 - static_cast<int64_t>(std::nearbyint(255 * (c - prev)));
  weight = std::clamp<int64_t>(weight, 0, 255);
  int64_t next = prev + 1;
  if (next >= count) next = 0;
  TColor32 result;
  if (weight == 255) {
    result = stipplePattern_[prev];
  } else {
    result = CombinePixels(stipplePattern_[prev], stipplePattern_[next], static_cast<uint32_t>(weight));
    EndMmx();
  }
  stippleCounter_ = static_cast<float>(static_cast<long double>(stippleCounter_) + stippleStep_);
  return result;
}

// ---- Horizontal and vertical lines ---------------------------------------------------

void TBitmap32::HorzLine(int32_t X1, int32_t Y, int32_t X2, TColor32 Value) {
  const int64_t n = int64_t{X2} - X1 + 1;
  if (n > 0) FillWords32(PixelAddress(X1, Y), n, Value);
}

void TBitmap32::HorzLineClipped(int32_t X1, int32_t Y, int32_t X2, TColor32 Value) {
  if (measuringMode_) {
    Changed(SpanRect(X1, Y, X2, Y), AREAINFO_RECT);
    return;
  }
  if (Y >= clipRect_.Top && Y < clipRect_.Bottom &&
      ClipPairToRange(X1, X2, clipRect_.Left, clipRect_.Right)) {
    HorzLine(X1, Y, X2, Value);
    Changed(SpanRect(X1, Y, X2, Y), AREAINFO_RECT);
  }
}

void TBitmap32::HorzLineBlend(int32_t X1, int32_t Y, int32_t X2, TColor32 Value) {
  if (X2 < X1) return;
  const auto blend = PixelIntoByMode[combineMode_];
  TColor32* p = PixelAddress(X1, Y);
  for (int64_t n = int64_t{X2} - X1 + 1; n > 0; --n, ++p) blend(Value, *p);
  EndMmx();
}

void TBitmap32::HorzLineBlendClipped(int32_t X1, int32_t Y, int32_t X2, TColor32 Value) {
  if (measuringMode_) {
    Changed(SpanRect(X1, Y, X2, Y), AREAINFO_RECT);
    return;
  }
  if (Y >= clipRect_.Top && Y < clipRect_.Bottom &&
      ClipPairToRange(X1, X2, clipRect_.Left, clipRect_.Right)) {
    HorzLineBlend(X1, Y, X2, Value);
    Changed(SpanRect(X1, Y, X2, Y), AREAINFO_RECT);
  }
}

void TBitmap32::VertLine(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value) {
  TColor32* p = PixelAddress(X, Y1);
  for (int64_t n = int64_t{Y2} - Y1 + 1; n > 0; --n, p += FWidth) *p = Value;
}

void TBitmap32::VertLineClipped(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value) {
  if (measuringMode_) {
    Changed(SpanRect(X, Y1, X, Y2), AREAINFO_RECT);
    return;
  }
  if (X >= clipRect_.Left && X < clipRect_.Right &&
      ClipPairToRange(Y1, Y2, clipRect_.Top, clipRect_.Bottom)) {
    VertLine(X, Y1, Y2, Value);
    Changed(SpanRect(X, Y1, X, Y2), AREAINFO_RECT);
  }
}

void TBitmap32::VertLineBlend(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value) {
  if (Y2 < Y1) return;
  const auto blend = PixelIntoByMode[combineMode_];
  TColor32* p = PixelAddress(X, Y1);
  for (int64_t n = int64_t{Y2} - Y1 + 1; n > 0; --n, p += FWidth) blend(Value, *p);
  EndMmx();
}

void TBitmap32::VertLineBlendClipped(int32_t X, int32_t Y1, int32_t Y2, TColor32 Value) {
  if (measuringMode_) {
    Changed(SpanRect(X, Y1, X, Y2), AREAINFO_RECT);
    return;
  }
  if (X >= clipRect_.Left && X < clipRect_.Right &&
      ClipPairToRange(Y1, Y2, clipRect_.Top, clipRect_.Bottom)) {
    VertLineBlend(X, Y1, Y2, Value);
    Changed(SpanRect(X, Y1, X, Y2), AREAINFO_RECT);
  }
}

// The pattern advances by one colour per pixel, also over the parts cut away
// by the clip rectangle, so the phase inside does not depend on the clipping.
void TBitmap32::HorzLineStipple(int32_t X1, int32_t Y, int32_t X2) {
  if (measuringMode_) {
    Changed(SpanRect(X1, Y, X2, Y), AREAINFO_RECT);
    return;
  }
  if (Empty()) return;
  const TStippleSpan S = ClipStippleSpan(X1, X2, clipRect_.Left, clipRect_.Right,
                                         !IsRectEmpty(clipRect_) && Y >= clipRect_.Top && Y < clipRect_.Bottom);
  if (S.Lead > 0) AdvanceStipple(static_cast<float>(S.Lead));
  if (!S.Shown) return;
  const int64_t x1 = S.From, x2 = S.To, n = S.Tail;
  const int64_t step = x2 >= x1 ? 1 : -1;
  for (int64_t x = x1;; x += step) {
    SetPixelBlend(static_cast<int32_t>(x), Y, GetStippleColor());
    if (x == x2) break;
  }
  Changed(SpanRect(x1, Y, x2, Y), AREAINFO_RECT);
  if (n > 0) AdvanceStipple(static_cast<float>(n));
}

void TBitmap32::VertLineStipple(int32_t X, int32_t Y1, int32_t Y2) {
  if (measuringMode_) {
    Changed(SpanRect(X, Y1, X, Y2), AREAINFO_RECT);
    return;
  }
  if (Empty()) return;
  const TStippleSpan S = ClipStippleSpan(Y1, Y2, clipRect_.Top, clipRect_.Bottom,
                                         !IsRectEmpty(clipRect_) && X >= clipRect_.Left && X < clipRect_.Right);
  if (S.Lead > 0) AdvanceStipple(static_cast<float>(S.Lead));
  if (!S.Shown) return;
  const int64_t y1 = S.From, y2 = S.To, n = S.Tail;
  const int64_t step = y2 >= y1 ? 1 : -1;
  for (int64_t y = y1;; y += step) {
    SetPixelBlend(X, static_cast<int32_t>(y), GetStippleColor());
    if (y == y2) break;
  }
  Changed(SpanRect(X, y1, X, y2), AREAINFO_RECT);
  if (n > 0) AdvanceStipple(static_cast<float>(n));
}

// ---- General lines ---------------------------------------------------------------------

void TBitmap32::LineClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value, bool L) {
  LineClippedImpl(X1, Y1, X2, Y2, Value, L, false);
}

void TBitmap32::LineBlendClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value, bool L) {
  LineClippedImpl(X1, Y1, X2, Y2, Value, L, true);
}

// Bresenham with the clipping done once up front: the entry point is found by
// solving for the first pixel inside the clip rectangle, the exit by solving
// for the last one, so the walk itself needs no bounds test.
void TBitmap32::LineClippedImpl(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value, bool L,
                                bool Blend) {
  const TRect area{X1, Y1, X2, Y2};
  if (measuringMode_) {
    Changed(area, AREAINFO_LINE2);
    return;
  }
  const int64_t dx0 = int64_t{X2} - X1, dy0 = int64_t{Y2} - Y1;
  if (dx0 == 0 || dy0 == 0) {
    // Straight lines go through the line primitives, which report themselves;
    // the end pixel is left out and added only when L asks for it.
    if (dx0 == 0) {
      if (dy0 > 0) {
        Blend ? VertLineBlendClipped(X1, Y1, Y2 - 1, Value) : VertLineClipped(X1, Y1, Y2 - 1, Value);
      } else if (dy0 < 0) {
        Blend ? VertLineBlendClipped(X1, Y2 + 1, Y1, Value) : VertLineClipped(X1, Y2 + 1, Y1, Value);
      }
    } else if (dx0 > 0) {
      Blend ? HorzLineBlendClipped(X1, Y1, X2 - 1, Value) : HorzLineClipped(X1, Y1, X2 - 1, Value);
    } else {
      Blend ? HorzLineBlendClipped(X2 + 1, Y1, X1, Value) : HorzLineClipped(X2 + 1, Y1, X1, Value);
    }
    const bool endInside = PointInRect(clipRect_, X2, Y2);
    if (L) {
      if (Blend) {
        SetPixelBlendClipped(X2, Y2, Value);
        // The line calls above did not cover the end pixel.
        if (endInside) Changed(TRect{X2, Y2, X2 + 1, Y2 + 1}, AREAINFO_RECT);
      } else {
        SetPixelClipped(X2, Y2, Value);
      }
    }
    if (!Blend) Changed();
    return;
  }
  if (IsRectEmpty(clipRect_)) return;

  int64_t cx1 = clipRect_.Left, cx2 = int64_t{clipRect_.Right} - 1;
  int64_t cy1 = clipRect_.Top, cy2 = int64_t{clipRect_.Bottom} - 1;
  int64_t x1 = X1, y1 = Y1, x2 = X2, y2 = Y2, dx = dx0, dy = dy0;
  int64_t sx, sy;
  if (dx > 0) {
    if (x1 > cx2 || x2 < cx1) return;
    sx = 1;
  } else {
    if (x2 > cx2 || x1 < cx1) return;
    sx = -1;
    x1 = -x1;
    x2 = -x2;
    dx = -dx;
    const int64_t t = cx1;
    cx1 = -cx2;
    cx2 = -t;
  }
  if (dy > 0) {
    if (y1 > cy2 || y2 < cy1) return;
    sy = 1;
  } else {
    if (y2 > cy2 || y1 < cy1) return;
    sy = -1;
    y1 = -y1;
    y2 = -y2;
    dy = -dy;
    const int64_t t = cy1;
    cy1 = -cy2;
    cy2 = -t;
  }
  // Walk along the longer axis; "x" below is always the walking axis.
  const bool steep = dx < dy;
  if (steep) {
    std::swap(x1, y1);
    std::swap(x2, y2);
    std::swap(dx, dy);
    std::swap(cx1, cy1);
    std::swap(cx2, cy2);
    std::swap(sx, sy);
  }
  // dx and dy reach 2^32; their doubled products with coordinate spans reach
  // 2^65, hence the 128-bit intermediates of the entry and exit solving.
  const i128 dx2 = i128{dx} * 2, dy2 = i128{dy} * 2;
  i128 xd = x1, yd = y1, e = dy2 - dx, term = x2;
  bool endClipped = false;
  bool checkX = true;

  if (y1 < cy1) {
    const i128 t = dx2 * (cy1 - y1) - dx;
    xd += t / dy2;
    const i128 r = t % dy2;
    if (xd > cx2) return;
    if (xd >= cx1) {
      yd = cy1;
      e -= r + dx;
      if (r > 0) {
        e += dy2;
        xd += 1;
      }
      checkX = false;
    }
  }
  if (checkX && x1 < cx1) {
    const i128 t = dy2 * (cx1 - x1);
    yd += t / dx2;
    const i128 r = t % dx2;
    if (yd > cy2 || (yd == cy2 && r >= dx)) return;
    xd = cx1;
    e += r;
    if (r >= dx) {
      e -= dx2;
      yd += 1;
    }
  }
  if (y2 > cy2) {
    const i128 t = dx2 * (cy2 - y1) + dx;
    term = x1 + t / dy2;
    if (t % dy2 == 0) term -= 1;
    endClipped = true;
  }
  if (term > cx2) {
    term = cx2;
    endClipped = true;
  }
  term += 1;

  if (sy == -1) yd = -yd;
  if (sx == -1) {
    xd = -xd;
    term = -term;
  }
  const i128 dxStep = dx2 - dy2;
  if (!L && !endClipped) term -= sx;

  // The pixel offset lags the walking coordinate by one step: it is written
  // first, then both move on.
  const int64_t stepWalk = steep ? sx * FWidth : sx;
  const int64_t stepOther = steep ? sy : sy * FWidth;
  const int64_t px = steep ? static_cast<int64_t>(yd) : static_cast<int64_t>(xd);
  const int64_t py = steep ? static_cast<int64_t>(xd) : static_cast<int64_t>(yd);
  int64_t offset = py * FWidth + px;
  int64_t walk = static_cast<int64_t>(xd);
  const int64_t end = static_cast<int64_t>(term);
  int64_t err = static_cast<int64_t>(e);
  const int64_t dxs = static_cast<int64_t>(dxStep), dys = static_cast<int64_t>(dy2);
  if (Blend) {
    const auto blend = PixelIntoByMode[combineMode_];
    while (walk != end) {
      walk += sx;
      blend(Value, bits_[offset]);
      offset += stepWalk;
      if (err >= 0) {
        offset += stepOther;
        err -= dxs;
      } else {
        err += dys;
      }
    }
    EndMmx();
  } else {
    while (walk != end) {
      walk += sx;
      bits_[offset] = Value;
      offset += stepWalk;
      if (err >= 0) {
        offset += stepOther;
        err -= dxs;
      } else {
        err += dys;
      }
    }
  }
  Changed(area, AREAINFO_LINE2);
}

// The anti-aliased line steps along its length one pixel at a time and puts
// every step down with SetPixel256; the last, partial step gets an alpha in
// proportion to the length it covers.
void TBitmap32::LineFixed(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L) {
  const TRect area = RoundFixedArea(X1, Y1, X2, Y2);
  if (measuringMode_) {
    Changed(area, AREAINFO_LINE2);
    return;
  }
  int64_t x1 = int64_t{X1} + 127, y1 = int64_t{Y1} + 127;
  const int64_t x2 = int64_t{X2} + 127, y2 = int64_t{Y2} + 127;
  int64_t hyp = static_cast<int64_t>(
      std::nearbyint(Hypot(static_cast<float>(x2 - x1), static_cast<float>(y2 - y1))));
  if (L) hyp += 65536;
  if (hyp >= 256) {
    const int64_t n = hyp >> 16;
    int64_t nx = 0, ny = 0;
    if (n > 0) {
      const float h = 65536.0f / static_cast<float>(hyp);
      nx = static_cast<int64_t>(std::nearbyint(static_cast<float>(x2 - x1) * h));
      ny = static_cast<int64_t>(std::nearbyint(static_cast<float>(y2 - y1) * h));
      for (int64_t i = 0; i < n; ++i) {
        SetPixel256(static_cast<int32_t>(x1 >> 8), static_cast<int32_t>(y1 >> 8), Value);
        x1 += nx;
        y1 += ny;
      }
    }
    const uint32_t a = (((Value >> 24) * static_cast<uint32_t>(hyp - (n << 16))) << 8) & 0xFF000000u;
    SetPixel256(static_cast<int32_t>((x1 + x2 - nx) >> 9), static_cast<int32_t>((y1 + y2 - ny) >> 9),
                (Value & 0x00FFFFFFu) + a);
  }
  EndMmx();
  Changed(area, AREAINFO_LINE2);
}

void TBitmap32::LineFixedClipped(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Value, bool L) {
  const TRect area = RoundFixedArea(X1, Y1, X2, Y2);
  if (measuringMode_) {
    Changed(area, AREAINFO_LINE2);
    return;
  }
  if (IsRectEmpty(clipRect_)) return;
  // Clip one pixel wider on the left and top: a pixel there still spreads into
  // the first column and row.
  const int64_t fl = int64_t{clipRect_.Left} * 65536, ft = int64_t{clipRect_.Top} * 65536;
  const int64_t fr = int64_t{clipRect_.Right} * 65536, fb = int64_t{clipRect_.Bottom} * 65536;
  const int32_t ox2 = X2, oy2 = Y2;
  if (!ClipLineToRect(X1, Y1, X2, Y2, ClampToInt32(fl - 65536), ClampToInt32(ft - 65536),
                      ClampToInt32(fr), ClampToInt32(fb)))
    return;
  if (X2 != ox2 || Y2 != oy2) L = true;
  if (X1 > fl && X1 < fr - 131072 && X2 > fl && X2 < fr - 131072 && Y1 > ft && Y1 < fb - 131072 &&
      Y2 > ft && Y2 < fb - 131072) {
    LineFixed(X1, Y1, X2, Y2, Value, L);
    return;
  }
  int64_t x1 = int64_t{X1} + 127, y1 = int64_t{Y1} + 127;
  const int64_t x2 = int64_t{X2} + 127, y2 = int64_t{Y2} + 127;
  int64_t hyp = static_cast<int64_t>(
      std::nearbyint(Hypot(static_cast<float>(x2 - x1), static_cast<float>(y2 - y1))));
  if (L) hyp += 65536;
  if (hyp < 256) {
    EndMmx();
    return;
  }
  const int64_t n = hyp >> 16;
  int64_t nx = 0, ny = 0;
  if (n > 0) {
    const float h = 65536.0f / static_cast<float>(hyp);
    nx = static_cast<int64_t>(std::nearbyint(static_cast<float>(x2 - x1) * h));
    ny = static_cast<int64_t>(std::nearbyint(static_cast<float>(y2 - y1) * h));
    for (int64_t i = 0; i < n; ++i) {
      SetPixel256Clipped(ClampToInt32(x1 >> 8), ClampToInt32(y1 >> 8), Value);
      x1 += nx;
      y1 += ny;
    }
  }
  const uint32_t a = (((Value >> 24) * static_cast<uint32_t>(hyp - (n << 16))) << 8) & 0xFF000000u;
  SetPixel256Clipped(ClampToInt32((x1 + x2 - nx) >> 9), ClampToInt32((y1 + y2 - ny) >> 9),
                     (Value & 0x00FFFFFFu) + a);
  EndMmx();
  Changed(area, AREAINFO_LINE2);
}

// ---- Pen ------------------------------------------------------------------------------

void TBitmap32::MoveTo(int32_t X, int32_t Y) { penPos_ = TPoint{X, Y}; }

void TBitmap32::LineToClipped(int32_t X, int32_t Y) {
  LineClipped(penPos_.X, penPos_.Y, X, Y, penColor_, false);
  penPos_ = TPoint{X, Y};
}

void TBitmap32::LineToBlend(int32_t X, int32_t Y) {
  LineBlendClipped(penPos_.X, penPos_.Y, X, Y, penColor_, false);
  penPos_ = TPoint{X, Y};
}

void TBitmap32::MoveToFixed(TFixed X, TFixed Y) { penPosFixed_ = TFixedPoint{X, Y}; }

void TBitmap32::LineToSmooth(TFixed X, TFixed Y) {
  LineFixedClipped(penPosFixed_.X, penPosFixed_.Y, X, Y, penColor_, false);
  penPosFixed_ = TFixedPoint{X, Y};
}

// ---- Rectangles ---------------------------------------------------------------------

void TBitmap32::FillRect(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value) {
  if (!measuringMode_) {
    const int64_t w = int64_t{X2} - X1;
    if (w > 0)
      for (int32_t y = Y1; y < Y2; ++y) FillWords32(PixelAddress(X1, y), w, Value);
  }
  Changed(TRect{X1, Y1, X2, Y2}, AREAINFO_RECT);
}

void TBitmap32::FillRectClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value) {
  const TRect given{X1, Y1, X2, Y2};
  TRect r;
  if (!measuringMode_ && X1 < X2 && Y1 < Y2 && IntersectRects(r, given, clipRect_) && !IsRectEmpty(r))
    FillRect(r.Left, r.Top, r.Right, r.Bottom, Value);
  else
    r = given;
  Changed(r, AREAINFO_RECT);
}

void TBitmap32::FillRectBlend(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value) {
  const uint32_t a = Value >> 24;
  if (a == 255) {
    FillRect(X1, Y1, X2, Y2, Value);
    return;
  }
  if (a == 0) return;
  if (!measuringMode_ && X2 > X1) {
    for (int32_t y = Y1; y < Y2; ++y) {
      TColor32* p = PixelAddress(X1, y);
      if (combineMode_ == cmMerge)
        for (int32_t x = X1; x < X2; ++x, ++p) MergePixelInto(Value, *p);
      else
        for (int32_t x = X1; x < X2; ++x, ++p) CombinePixelInto(Value, *p, a);
    }
    EndMmx();
  }
  Changed(TRect{X1, Y1, X2, Y2}, AREAINFO_RECT);
}

void TBitmap32::FillRectBlendClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value) {
  const TRect given{X1, Y1, X2, Y2};
  TRect r;
  if (!measuringMode_ && X1 < X2 && Y1 < Y2 && IntersectRects(r, given, clipRect_) && !IsRectEmpty(r))
    FillRectBlend(r.Left, r.Top, r.Right, r.Bottom, Value);
  else
    r = given;
  Changed(r, AREAINFO_RECT);
}

void TBitmap32::FrameRectClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Value) {
  if (X2 <= X1 || Y1 >= Y2 || X1 >= clipRect_.Right || Y1 >= clipRect_.Bottom || X2 <= clipRect_.Left ||
      Y2 <= clipRect_.Top)
    return;
  HorzLineBlendClipped(X1, Y1, X2 - 1, Value);
  if (int64_t{Y1} < int64_t{Y2} - 1) HorzLineBlendClipped(X1, Y2 - 1, X2 - 1, Value);
  if (int64_t{Y1} + 1 < int64_t{Y2} - 1) {
    VertLineBlendClipped(X1, Y1 + 1, Y2 - 2, Value);
    if (int64_t{X1} < int64_t{X2} - 1) VertLineBlendClipped(X2 - 1, Y1 + 1, Y2 - 2, Value);
  }
}

// A stippled frame, clockwise from the top-left corner, no corner twice.
void TBitmap32::FrameRectBlendClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  if (!(X1 < X2 && Y1 < Y2 && X1 < FWidth && Y1 < FHeight && X2 >= 1 && Y2 >= 1)) return;
  const int32_t r = X2 - 1, b = Y2 - 1;
  if (X1 < r && Y1 < b) {
    HorzLineStipple(X1, Y1, X2 - 2);
    VertLineStipple(r, Y1, Y2 - 2);
    HorzLineStipple(r, b, X1 + 1);
    VertLineStipple(X1, b, Y1 + 1);
  } else if (X1 < r) {
    HorzLineStipple(X1, Y1, r);
  } else if (Y1 < b) {
    VertLineStipple(X1, Y1, b);
  } else {
    // A single pixel; it obeys the clip rectangle like the sides do.
    if (!measuringMode_) {
      const TColor32 c = GetStippleColor();
      if (PointInRect(clipRect_, X1, Y1)) SetPixelBlend(X1, Y1, c);
    }
    Changed(TRect{X1, Y1, X1 + 1, Y1 + 1}, AREAINFO_RECT);
  }
}
