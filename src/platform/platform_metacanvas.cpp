// The metafile drawing surface. Everything that covers an area (brushes, wide
// pens, their joins and caps) becomes polygons filled by one scanline routine
// that samples each pixel at its centre: a pixel belongs to a shape when its
// centre is inside it, edges at the top and left count, edges at the bottom
// and right do not, so shapes that share an edge never paint a pixel twice
// and a rectangle from (0, 0) to (4, 4) covers exactly 4 x 4 pixels. Lines
// one pixel wide are stepped pixel by pixel instead, leaving out the last
// pixel of an open line as the platform's line drawing does. Drawn pixels get
// an alpha byte of 0, the way the platform's text on a 32-bit bitmap leaves
// them.
#include "platform_metacanvas.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "platform_text.h"

namespace {

// 0x00BBGGRR to the surface's 0x00RRGGBB (alpha 0).
uint32_t SurfaceRgb(uint32_t Color) {
  return ((Color & 0xFF) << 16) | (Color & 0xFF00) | ((Color >> 16) & 0xFF);
}

// Arcs and curves never need more points than this: a hostile radius would
// otherwise ask for billions of them.
constexpr int64_t kMaxCurveSegments = 1 << 14;

// Coordinates far outside any surface are pulled in to this magnitude before
// they meet integer arithmetic; no pixel decision changes, since the surface
// is at most 2^20 pixels wide.
constexpr double kFar = 1e8;

double Tame(double v) {
  if (std::isnan(v)) return 0;
  return std::clamp(v, -kFar, kFar);
}

// The 8 x 8 hatch patterns, aligned to the surface's origin.
bool HatchBit(TMetaHatch Hatch, int32_t X, int32_t Y) {
  const int32_t x = X & 7, y = Y & 7;
  const bool horizontal = y == 7;
  const bool vertical = x == 7;
  const bool fdiagonal = x == y;           // top-left to bottom-right
  const bool bdiagonal = ((x + y) & 7) == 7;  // bottom-left to top-right
  switch (Hatch) {
    case TMetaHatch::Horizontal: return horizontal;
    case TMetaHatch::Vertical: return vertical;
    case TMetaHatch::FDiagonal: return fdiagonal;
    case TMetaHatch::BDiagonal: return bdiagonal;
    case TMetaHatch::Cross: return horizontal || vertical;
    case TMetaHatch::DiagCross: return fdiagonal || bdiagonal;
  }
  return false;
}

// The on/off runs of the dashed one-pixel pens, in pixels.
const std::vector<int>& DashPattern(TMetaPenStyle Style) {
  static const std::vector<int> kSolid;
  static const std::vector<int> kDash{18, 6};
  static const std::vector<int> kDot{3, 3};
  static const std::vector<int> kDashDot{9, 6, 3, 6};
  static const std::vector<int> kDashDotDot{9, 3, 3, 3, 3, 3};
  switch (Style) {
    case TMetaPenStyle::Dash: return kDash;
    case TMetaPenStyle::Dot: return kDot;
    case TMetaPenStyle::DashDot: return kDashDot;
    case TMetaPenStyle::DashDotDot: return kDashDotDot;
    default: return kSolid;
  }
}

// The disc a wide pen leaves at a point. Small pens get more corners than
// the quarter-pixel rule alone would give them: a hexagon for a 3-pixel pen
// leaves visible notches at the joins.
void PenDisc(std::vector<TMetaPoint>& Disc, TMetaPoint Centre, double R) {
  Disc.clear();
  TMetaCanvas::AppendArc(Disc, Centre.X, Centre.Y, R, R, 0, 360);
  if (Disc.size() >= 17) return;
  Disc.clear();
  for (int i = 0; i < 16; ++i) {
    const double a = i * std::numbers::pi / 8;
    Disc.push_back(TMetaPoint{Centre.X + R * std::cos(a), Centre.Y - R * std::sin(a)});
  }
}

}  // namespace

TMetaCanvas::TMetaCanvas(TPixelSurface& Surface) : surface_(Surface) { SetClipRect(nullptr); }

void TMetaCanvas::SetClipRect(const TPlatformRect* Clip) {
  clip_ = TPlatformRect{0, 0, std::max(surface_.Width, 0), std::max(surface_.Height, 0)};
  if (!surface_.Bits) clip_ = TPlatformRect{};
  if (Clip) {
    clip_.Left = std::max(clip_.Left, Clip->Left);
    clip_.Top = std::max(clip_.Top, Clip->Top);
    clip_.Right = std::min(clip_.Right, Clip->Right);
    clip_.Bottom = std::min(clip_.Bottom, Clip->Bottom);
  }
  if (clip_.Right < clip_.Left) clip_.Right = clip_.Left;
  if (clip_.Bottom < clip_.Top) clip_.Bottom = clip_.Top;
}

bool TMetaCanvas::Inside(int64_t X, int64_t Y) const {
  return X >= clip_.Left && X < clip_.Right && Y >= clip_.Top && Y < clip_.Bottom;
}

uint32_t* TMetaCanvas::Row(int32_t Y) const {
  return surface_.Bits + static_cast<size_t>(Y) * static_cast<size_t>(surface_.Width);
}

void TMetaCanvas::SetPixel(int32_t X, int32_t Y, uint32_t Color) {
  if (Inside(X, Y)) Row(Y)[X] = SurfaceRgb(Color);
}

// Paints pixels X0 .. X1 - 1 of row Y (already clipped) with the brush.
void TMetaCanvas::BrushSpan(int32_t Y, int32_t X0, int32_t X1, const TMetaBrush& Brush,
                            const TMetaBackground& Background) {
  uint32_t* row = Row(Y);
  if (Brush.Style == TMetaBrushStyle::Solid) {
    std::fill(row + X0, row + X1, SurfaceRgb(Brush.Color));
    return;
  }
  const uint32_t fore = SurfaceRgb(Brush.Color), back = SurfaceRgb(Background.Color);
  for (int32_t x = X0; x < X1; ++x) {
    if (HatchBit(Brush.Hatch, x, Y)) {
      row[x] = fore;
    } else if (Background.Opaque) {
      row[x] = back;
    }
  }
}

void TMetaCanvas::AddEdges(const TMetaPoint* P, size_t N) {
  if (N < 3) return;
  for (size_t i = 0; i < N; ++i) {
    const TMetaPoint& a = P[i];
    const TMetaPoint& b = P[(i + 1) % N];
    const double ax = Tame(a.X), ay = Tame(a.Y), bx = Tame(b.X), by = Tame(b.Y);
    if (ay == by) continue;  // a horizontal edge crosses no pixel centre row
    if (ay < by) {
      edges_.push_back(TEdge{ax, ay, bx, by, +1});
    } else {
      edges_.push_back(TEdge{bx, by, ax, ay, -1});
    }
  }
}

void TMetaCanvas::FillPolygons(const std::vector<std::vector<TMetaPoint>>& Polygons, TMetaFillRule Rule,
                               const TMetaBrush& Brush, const TMetaBackground& Background) {
  edges_.clear();
  for (const auto& poly : Polygons) AddEdges(poly.data(), poly.size());
  FillEdges(Rule, Brush, Background);
}

void TMetaCanvas::FillEdges(TMetaFillRule Rule, const TMetaBrush& Brush, const TMetaBackground& Background) {
  if (Brush.Style == TMetaBrushStyle::Null || clip_.Left >= clip_.Right || clip_.Top >= clip_.Bottom ||
      edges_.empty()) {
    edges_.clear();
    return;
  }
  std::sort(edges_.begin(), edges_.end(), [](const TEdge& l, const TEdge& r) { return l.Y0 < r.Y0; });

  // The first row whose centre an edge reaches: centre y + 0.5 >= Y0.
  auto firstRow = [](double y) { return static_cast<int64_t>(std::ceil(y - 0.5)); };
  const int64_t top = std::max<int64_t>(clip_.Top, firstRow(edges_.front().Y0));
  active_.clear();
  size_t next = 0;
  for (int64_t y = top; y < clip_.Bottom; ++y) {
    const double yc = static_cast<double>(y) + 0.5;
    // An edge covers the centres Y0 <= yc < Y1.
    while (next < edges_.size() && edges_[next].Y0 <= yc) active_.push_back(&edges_[next++]);
    active_.erase(std::remove_if(active_.begin(), active_.end(), [yc](const TEdge* e) { return e->Y1 <= yc; }),
                  active_.end());
    if (active_.empty()) {
      if (next == edges_.size()) break;
      // Skip the empty rows up to the next edge.
      y = std::max(y, firstRow(edges_[next].Y0) - 1);
      continue;
    }
    crossings_.clear();
    for (const TEdge* e : active_) {
      const double t = (yc - e->Y0) / (e->Y1 - e->Y0);
      crossings_.emplace_back(e->X0 + t * (e->X1 - e->X0), e->Dir);
    }
    std::sort(crossings_.begin(), crossings_.end());
    int winding = 0;
    for (size_t i = 0; i + 1 < crossings_.size(); ++i) {
      winding += Rule == TMetaFillRule::Winding ? crossings_[i].second : 1;
      const bool inside = Rule == TMetaFillRule::Winding ? winding != 0 : (winding & 1) != 0;
      if (!inside) continue;
      // Pixels whose centre x + 0.5 lies in [xa, xb).
      const double xa = crossings_[i].first, xb = crossings_[i + 1].first;
      const int64_t x0 = std::max<int64_t>(clip_.Left, static_cast<int64_t>(std::ceil(xa - 0.5)));
      const int64_t x1 = std::min<int64_t>(clip_.Right, static_cast<int64_t>(std::ceil(xb - 0.5)));
      if (x0 < x1) BrushSpan(static_cast<int32_t>(y), static_cast<int32_t>(x0), static_cast<int32_t>(x1), Brush, Background);
    }
  }
  edges_.clear();
}

// A one-pixel line from pixel (X0, Y0) to pixel (X1, Y1), the last pixel left
// out; Phase carries the dash position from one segment to the next.
void TMetaCanvas::ThinLine(int64_t X0, int64_t Y0, int64_t X1, int64_t Y1, const TMetaPen& Pen,
                           const TMetaBackground& Background, int64_t& Phase) {
  const std::vector<int>& dashes = DashPattern(Pen.Style);
  int64_t period = 0;
  for (int d : dashes) period += d;
  const uint32_t fore = SurfaceRgb(Pen.Color), back = SurfaceRgb(Background.Color);
  const int64_t dx = std::llabs(X1 - X0), dy = std::llabs(Y1 - Y0);
  const int64_t sx = X0 < X1 ? 1 : -1, sy = Y0 < Y1 ? 1 : -1;
  const int64_t steps = std::max(dx, dy);
  // A line that never enters the clip is skipped without walking it.
  const TPlatformRect& c = clip_;
  if (std::max(X0, X1) < c.Left || std::min(X0, X1) >= c.Right || std::max(Y0, Y1) < c.Top ||
      std::min(Y0, Y1) >= c.Bottom) {
    Phase += steps;
    return;
  }
  int64_t err = dx - dy;
  int64_t x = X0, y = Y0;
  int64_t first = 0, last = steps;
  if (steps > 4 * (int64_t{c.Right} - c.Left + c.Bottom - c.Top) + 16) {
    // A line far longer than the clip is walked only where it can touch
    // it: the steps before and after are counted for the dashes but not
    // taken, and the walk restarts at the nearest pixel of the line.
    const double fx = static_cast<double>(X1 - X0) / steps, fy = static_cast<double>(Y1 - Y0) / steps;
    double t0 = 0, t1 = static_cast<double>(steps);
    auto limit = [&](double p, double q) {  // keeps p * t <= q
      if (p == 0) {
        if (q < 0) t1 = -1;
        return;
      }
      const double t = q / p;
      if (p < 0) {
        t0 = std::max(t0, t);
      } else {
        t1 = std::min(t1, t);
      }
    };
    limit(-fx, static_cast<double>(X0 - (c.Left - 2)));
    limit(fx, static_cast<double>((c.Right + 2) - X0));
    limit(-fy, static_cast<double>(Y0 - (c.Top - 2)));
    limit(fy, static_cast<double>((c.Bottom + 2) - Y0));
    if (t0 > t1) {
      Phase += steps;
      return;
    }
    first = static_cast<int64_t>(std::floor(t0));
    last = std::min<int64_t>(steps, static_cast<int64_t>(std::ceil(t1)) + 1);
    first = std::min(first, last);
    x = X0 + static_cast<int64_t>(std::nearbyint(fx * first));
    y = Y0 + static_cast<int64_t>(std::nearbyint(fy * first));
    // The walk restarts on the line with a fresh error term: the pixels may
    // differ from the full walk's by one, on a line thousands of pixels long.
    err = dx - dy;
    Phase += first;
  }
  for (int64_t i = first; i < last; ++i) {
    if (Inside(x, y)) {
      bool on = true;
      if (period > 0) {
        int64_t p = Phase % period;
        size_t k = 0;
        while (p >= dashes[k]) p -= dashes[k++];
        on = (k & 1) == 0;
      }
      if (on) {
        Row(static_cast<int32_t>(y))[x] = fore;
      } else if (Background.Opaque) {
        Row(static_cast<int32_t>(y))[x] = back;
      }
    }
    ++Phase;
    const int64_t e2 = 2 * err;
    if (e2 > -dy) {
      err -= dy;
      x += sx;
    }
    if (e2 < dx) {
      err += dx;
      y += sy;
    }
  }
  Phase += steps - last;
}

void TMetaCanvas::StrokePolyline(const std::vector<TMetaPoint>& Points, bool Closed, const TMetaPen& Pen,
                                 const TMetaBackground& Background) {
  if (Pen.Style == TMetaPenStyle::Null || Points.empty()) return;
  if (clip_.Left >= clip_.Right || clip_.Top >= clip_.Bottom) return;
  const double width = std::isfinite(Pen.Width) ? std::min(Pen.Width, kFar) : 0.0;
  const size_t n = Points.size();
  const size_t segments = Closed ? n : n - 1;

  if (std::nearbyint(width) <= 1) {
    int64_t phase = 0;
    auto pixel = [](double v) { return static_cast<int64_t>(std::nearbyint(Tame(v))); };
    for (size_t i = 0; i < segments; ++i) {
      const TMetaPoint& a = Points[i];
      const TMetaPoint& b = Points[(i + 1) % n];
      ThinLine(pixel(a.X), pixel(a.Y), pixel(b.X), pixel(b.Y), Pen, Background, phase);
    }
    return;
  }

  // A wide pen is solid (as the platform draws wide cosmetic pens): one
  // quadrilateral per segment and a disc at every point for the round joins
  // and caps. Painting one solid colour twice changes nothing, so each piece
  // is filled on its own, and pieces that miss the clip are never built:
  // memory stays that of one piece however long the line. A pen on point
  // (x, y) is centred on that pixel's centre.
  const double r = width / 2;
  const TMetaBrush ink{TMetaBrushStyle::Solid, Pen.Color, TMetaHatch::Horizontal};
  auto centre = [](const TMetaPoint& p) { return TMetaPoint{Tame(p.X) + 0.5, Tame(p.Y) + 0.5}; };
  auto misses = [&](double x0, double y0, double x1, double y1) {
    return std::max(x0, x1) + r < clip_.Left || std::min(x0, x1) - r > clip_.Right ||
           std::max(y0, y1) + r < clip_.Top || std::min(y0, y1) - r > clip_.Bottom;
  };
  for (size_t i = 0; i < segments; ++i) {
    const TMetaPoint a = centre(Points[i]), b = centre(Points[(i + 1) % n]);
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    const double len = std::hypot(dx, dy);
    if (len == 0 || misses(a.X, a.Y, b.X, b.Y)) continue;
    const double nx = -dy / len * r, ny = dx / len * r;
    const TMetaPoint quad[4] = {{a.X + nx, a.Y + ny}, {b.X + nx, b.Y + ny}, {b.X - nx, b.Y - ny}, {a.X - nx, a.Y - ny}};
    AddEdges(quad, 4);
    FillEdges(TMetaFillRule::Winding, ink, Background);
  }
  for (size_t i = 0; i < n; ++i) {
    const TMetaPoint p = centre(Points[i]);
    if (misses(p.X, p.Y, p.X, p.Y)) continue;
    PenDisc(disc_, p, r);
    AddEdges(disc_.data(), disc_.size());
    FillEdges(TMetaFillRule::Winding, ink, Background);
  }
}

void TMetaCanvas::TextOut(TMetaPoint Origin, const std::string& Utf8, const TFont& Font,
                          const TMetaBackground& Background) {
  if (clip_.Left >= clip_.Right || clip_.Top >= clip_.Bottom) return;
  const int32_t x = static_cast<int32_t>(std::nearbyint(Tame(Origin.X)));
  const int32_t y = static_cast<int32_t>(std::nearbyint(Tame(Origin.Y)));
  // Text whose cell misses the clip is not rendered at all: a huge font
  // costs its glyphs even where nothing of them shows.
  const TTextExtent e = PlatformTextExtent(Font, Utf8);
  if (int64_t{x} + e.cx <= clip_.Left || x >= clip_.Right || int64_t{y} + e.cy <= clip_.Top || y >= clip_.Bottom) return;
  if (Background.Opaque) {
    const int64_t x0 = std::max<int64_t>(clip_.Left, x), x1 = std::min<int64_t>(clip_.Right, int64_t{x} + e.cx);
    const int64_t y0 = std::max<int64_t>(clip_.Top, y), y1 = std::min<int64_t>(clip_.Bottom, int64_t{y} + e.cy);
    const uint32_t back = SurfaceRgb(Background.Color);
    for (int64_t row = y0; row < y1; ++row) {
      if (x0 < x1) std::fill(Row(static_cast<int32_t>(row)) + x0, Row(static_cast<int32_t>(row)) + x1, back);
    }
  }
  PlatformTextOut(surface_, x, y, Utf8, Font, &clip_);
}

void TMetaCanvas::StretchPixels(const TPlatformRect& Dest, const uint32_t* Pixels, int32_t Width, int32_t Height) {
  if (!Pixels || Width <= 0 || Height <= 0) return;
  // A destination given right-to-left or bottom-to-top mirrors the block.
  const bool flipX = Dest.Right < Dest.Left, flipY = Dest.Bottom < Dest.Top;
  const int64_t left = std::min(Dest.Left, Dest.Right), right = std::max(Dest.Left, Dest.Right);
  const int64_t top = std::min(Dest.Top, Dest.Bottom), bottom = std::max(Dest.Top, Dest.Bottom);
  const int64_t dw = right - left, dh = bottom - top;
  if (dw == 0 || dh == 0) return;
  const int64_t x0 = std::max<int64_t>(left, clip_.Left), x1 = std::min<int64_t>(right, clip_.Right);
  const int64_t y0 = std::max<int64_t>(top, clip_.Top), y1 = std::min<int64_t>(bottom, clip_.Bottom);
  for (int64_t y = y0; y < y1; ++y) {
    // The source pixel under the destination pixel's centre.
    int64_t sy = ((2 * (y - top) + 1) * Height) / (2 * dh);
    if (flipY) sy = Height - 1 - sy;
    const uint32_t* src = Pixels + static_cast<size_t>(sy) * static_cast<size_t>(Width);
    uint32_t* row = Row(static_cast<int32_t>(y));
    for (int64_t x = x0; x < x1; ++x) {
      int64_t sx = ((2 * (x - left) + 1) * Width) / (2 * dw);
      if (flipX) sx = Width - 1 - sx;
      row[x] = src[sx] & 0x00FFFFFF;
    }
  }
}

// The angles are those of the points as seen from the centre (where the
// radial lines of an arc record cut the ellipse), not the ellipse's
// parameter; for a circle the two agree.
void TMetaCanvas::AppendArc(std::vector<TMetaPoint>& Out, double Cx, double Cy, double Rx, double Ry,
                            double StartAngle, double SweepAngle) {
  if (!std::isfinite(Cx) || !std::isfinite(Cy) || !std::isfinite(Rx) || !std::isfinite(Ry) ||
      !std::isfinite(StartAngle) || !std::isfinite(SweepAngle)) {
    return;
  }
  Rx = std::fabs(Rx);
  Ry = std::fabs(Ry);
  constexpr double kPi = std::numbers::pi;
  const double a0 = StartAngle * kPi / 180, a1 = (StartAngle + SweepAngle) * kPi / 180;
  const double t0 = std::atan2(Rx * std::sin(a0), Ry * std::cos(a0));
  double delta;
  if (std::fabs(SweepAngle) >= 360) {
    delta = SweepAngle > 0 ? 2 * kPi : -2 * kPi;
  } else {
    const double t1 = std::atan2(Rx * std::sin(a1), Ry * std::cos(a1));
    delta = t1 - t0;
    if (SweepAngle > 0) {
      while (delta <= 0) delta += 2 * kPi;
      while (delta > 2 * kPi) delta -= 2 * kPi;
    } else if (SweepAngle < 0) {
      while (delta >= 0) delta -= 2 * kPi;
      while (delta < -2 * kPi) delta += 2 * kPi;
    } else {
      delta = 0;
    }
  }
  // Segments of angle s stay within e of the curve when r (1 - cos(s / 2)) <= e.
  const double r = std::max(Rx, Ry);
  int64_t count = 1;
  if (r > 0.25 && delta != 0) {
    const double step = 2 * std::acos(1 - 0.25 / r);
    count = std::clamp<int64_t>(static_cast<int64_t>(std::ceil(std::fabs(delta) / step)), 1, kMaxCurveSegments);
  }
  for (int64_t i = 0; i <= count; ++i) {
    const double t = t0 + delta * static_cast<double>(i) / static_cast<double>(count);
    Out.push_back(TMetaPoint{Cx + Rx * std::cos(t), Cy - Ry * std::sin(t)});
  }
}

void TMetaCanvas::AppendBezier(std::vector<TMetaPoint>& Out, TMetaPoint P0, TMetaPoint C1, TMetaPoint C2,
                               TMetaPoint P3) {
  // n equal steps stay within 3/4 d / n^2 of a cubic whose second
  // differences of the control points are at most d.
  const double d = std::max(std::hypot(P0.X - 2 * C1.X + C2.X, P0.Y - 2 * C1.Y + C2.Y),
                            std::hypot(C1.X - 2 * C2.X + P3.X, C1.Y - 2 * C2.Y + P3.Y));
  int64_t count = 1;
  if (std::isfinite(d) && d > 0) {
    count = std::clamp<int64_t>(static_cast<int64_t>(std::ceil(std::sqrt(0.75 * d / 0.25))), 1, kMaxCurveSegments);
  } else if (!std::isfinite(d)) {
    Out.push_back(P3);
    return;
  }
  for (int64_t i = 1; i <= count; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(count), u = 1 - t;
    const double b0 = u * u * u, b1 = 3 * u * u * t, b2 = 3 * u * t * t, b3 = t * t * t;
    Out.push_back(TMetaPoint{b0 * P0.X + b1 * C1.X + b2 * C2.X + b3 * P3.X,
                             b0 * P0.Y + b1 * C1.Y + b2 * C2.Y + b3 * P3.Y});
  }
}
