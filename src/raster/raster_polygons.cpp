// Polygon filling, polylines and TPolygon32.
//
// Both fillers build a table of edge crossings per row (per sub-row for the
// anti-aliased one) and fill between them. Coordinates go from 16.16 into the
// table's units in 64 bits, and only rows inside the clip rectangle are
// stored, so points anywhere in the 16.16 range are safe.
#include "raster_polygons.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "raster_blend.h"
#include "raster_math.h"
#include "raster_transforms.h"

namespace {

int32_t Saturate32(int64_t V) {
  return static_cast<int32_t>(std::clamp<int64_t>(V, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

TFixedPoint TransformedPoint(const TFixedPoint& P, TTransformation* T) {
  return T ? T->Transform(P) : P;
}

TArrayOfArrayOfFixedPoint TransformedLines(const TArrayOfArrayOfFixedPoint& Lines, TTransformation* T) {
  if (T == nullptr) return Lines;
  TArrayOfArrayOfFixedPoint out(Lines.size());
  for (size_t i = 0; i < Lines.size(); ++i) {
    out[i].reserve(Lines[i].size());
    for (const TFixedPoint& p : Lines[i]) out[i].push_back(T->Transform(p));
  }
  return out;
}

// The area a fill reports: its points' bounds, floor left and top, ceiling
// right and bottom.
TRect ReportedBounds(const TArrayOfArrayOfFixedPoint& Lines) {
  return RoundFixedRect(PolyPolygonBounds(Lines), rrOuter);
}

bool HasPoints(const TArrayOfArrayOfFixedPoint& Lines) {
  return std::any_of(Lines.begin(), Lines.end(), [](const TArrayOfFixedPoint& l) { return !l.empty(); });
}

// A single pixel drawn by a polyline of one closed point; measuring only reports it.
void ReportPixel(TBitmap32* Bitmap, int32_t X, int32_t Y) {
  Bitmap->Changed(TRect{X, Y, Saturate32(int64_t{X} + 1), Saturate32(int64_t{Y} + 1)}, AREAINFO_RECT);
}

// ---- The crossing stepper -----------------------------------------------------------------

// An edge's x as it steps from row to row: per row the error grows by dX;
// while it exceeds dY (twice at most one step each, then the rest at once by
// a division) x moves towards the end.
struct TEdgeStepper {
  int64_t X, Err, DX, DY;
  int64_t XStep;

  void Row() {
    Err += DX;
    if (Err > DY) {
      X += XStep;
      Err -= DY;
      if (Err > DY) {
        X += XStep;
        Err -= DY;
        if (Err > DY) {
          const int64_t k = (DY + Err - 1) / DY;
          X += k * XStep;
          Err -= k * DY;
        }
      }
    }
  }

  // The same as N calls of Row. Rows outside the table are skipped this way:
  // the two regular regimes have closed forms, the one between them is walked.
  void Rows(int64_t N) {
    if (N <= 0) return;
    // Edges of points anywhere in the int32 range have dX and dY up to 2^32,
    // so the products of the closed forms are taken in 128 bits; the steps
    // themselves never exceed dX + 1.
    using Wide = __int128;
    if (DX <= DY) {
      // At most one step per row: x has moved as often as the error had to
      // come back to dY or below.
      const Wide total = Wide{Err} + Wide{N} * DX;
      const Wide steps = total > DY ? (total - 1) / DY : 0;
      X += static_cast<int64_t>(steps) * XStep;
      Err = static_cast<int64_t>(total - steps * DY);
    } else if (DX >= 4 * DY) {
      // Every row ends in the division branch, leaving Err in (-dY, 0]: with
      // U = -Err, U' = (U - dX) mod dY and the steps of a row are (dX - U + U') / dY.
      const int64_t u0 = -Err;
      Wide un = (Wide{u0} - Wide{N % DY} * (DX % DY)) % DY;
      if (un < 0) un += DY;
      const Wide steps = (Wide{N} * DX + un - u0) / DY;
      X += static_cast<int64_t>(steps) * XStep;
      Err = static_cast<int64_t>(-un);
    } else {
      for (int64_t i = 0; i < N; ++i) Row();
    }
  }
};

void AddCrossing(TScanLineTable& T, int64_t X, int64_t Y, int32_t Direction) {
  if (Y < T.FirstRow || Y > T.LastRow) return;
  const int64_t x = std::clamp<int64_t>(X, T.MinX, T.MaxX);
  uint32_t v = static_cast<uint32_t>(x) & CrossingXMask;
  if (Direction < 0) v |= CrossingUpward;
  T.Rows[static_cast<size_t>(Y - T.FirstRow)].push_back(v);
}

void AddEdge(TScanLineTable& T, const TPoint& P1, const TPoint& P2, int32_t& RunningDirection) {
  if (P1.Y == P2.Y) return;
  const int32_t direction = P2.Y > P1.Y ? 1 : -1;
  if (direction != RunningDirection) {
    AddCrossing(T, P1.X, P1.Y, -direction);
    RunningDirection = direction;
  }
  const int64_t x1 = P1.X, y1 = P1.Y, x2 = P2.X, y2 = P2.Y;
  const int64_t dX = x2 > x1 ? x2 - x1 : x1 - x2;
  const int64_t dY = y2 > y1 ? y2 - y1 : y1 - y2;
  TEdgeStepper s{x1, (dX % dY) / 2, dX, dY, x2 > x1 ? 1 : (x2 < x1 ? -1 : 0)};
  // Row i of the edge is y1 + i * direction for i in 0 .. dY - 1; only those
  // inside the table are walked one by one.
  int64_t first, last;
  if (direction > 0) {
    first = std::max<int64_t>(0, T.FirstRow - y1);
    last = std::min<int64_t>(dY - 1, T.LastRow - y1);
  } else {
    first = std::max<int64_t>(0, y1 - T.LastRow);
    last = std::min<int64_t>(dY - 1, y1 - T.FirstRow);
  }
  if (first > last) return;
  s.Rows(first);
  for (int64_t i = first; i <= last; ++i) {
    AddCrossing(T, s.X, y1 + i * direction, direction);
    s.Row();
  }
}

// Sorts by x with bit 31 ignored; the middle element is the pivot. Equal
// crossings keep the order this partitioning gives them, which the non-zero
// fill's spans depend on.
void QuickSortCrossings(uint32_t* A, int64_t L, int64_t R) {
  while (L < R) {
    int64_t I = L, J = R;
    const uint32_t P = A[(L + R) >> 1] & CrossingXMask;
    do {
      while ((A[I] & CrossingXMask) < P) ++I;
      while ((A[J] & CrossingXMask) > P) --J;
      if (I <= J) {
        std::swap(A[I], A[J]);
        ++I;
        --J;
      }
    } while (I <= J);
    // The two parts are independent; recursing into the smaller keeps the
    // stack shallow whatever the input.
    if (J - L < R - I) {
      if (L < J) QuickSortCrossings(A, L, J);
      L = I;
    } else {
      if (I < R) QuickSortCrossings(A, I, R);
      R = J;
    }
  }
}

// 24.8 to a whole pixel, a fraction of 0x80 or more rounding up.
int32_t Round256(uint32_t V) { return static_cast<int32_t>(((V & CrossingXMask) + 0x80) >> 8); }

// Anti-aliasing table by mode: sub-samples per axis and coverage multiplier.
constexpr int32_t kSubSamples[AntialiasModeCount] = {32, 16, 8, 4, 2};
constexpr int64_t kCoverageMultiplier[AntialiasModeCount] = {65, 273, 1167, 5460, 32662};

// 16.16 to sub-sample units of a mode: (v + 2047) sar (11 + mode).
int32_t ToSubSamples(TFixed V, int32_t Mode) {
  return static_cast<int32_t>((int64_t{V} + 2047) >> (11 + Mode));
}

// A bitmap that can take a fill: it has a clip rectangle with some area.
bool CanFill(const TBitmap32* Bitmap) {
  return Bitmap != nullptr && !Bitmap->Empty() && !IsRectEmpty(Bitmap->ClipRect());
}

}  // namespace

// ---- Scanline table ------------------------------------------------------------------------

void TScanLineTable::Init(int32_t First, int32_t Last, int32_t MinXLimit, int32_t MaxXLimit) {
  FirstRow = First;
  LastRow = Last;
  MinX = MinXLimit;
  MaxX = MaxXLimit;
  Rows.assign(Last >= First ? static_cast<size_t>(int64_t{Last} - First + 1) : 0, {});
}

void AddLineCrossings(TScanLineTable& Table, const std::vector<TPoint>& Points) {
  const size_t n = Points.size();
  if (n < 3) return;
  // The direction the outline arrives at the first point with.
  int32_t running = 0;
  for (size_t i = n - 1; i > 0; --i)
    if (Points[i].Y != Points[0].Y) {
      running = Points[0].Y > Points[i].Y ? 1 : -1;
      break;
    }
  for (size_t i = 1; i < n; ++i) AddEdge(Table, Points[i - 1], Points[i], running);
  AddEdge(Table, Points[n - 1], Points[0], running);
}

void SortScanLines(TScanLineTable& Table) {
  for (std::vector<uint32_t>& row : Table.Rows) {
    const size_t n = row.size();
    if (n % 2 != 0) throw EAssertionFailed("Scanline with an odd number of crossings");
    if (n == 2) {
      if ((row[0] & CrossingXMask) > (row[1] & CrossingXMask)) std::swap(row[0], row[1]);
    } else if (n > 2) {
      QuickSortCrossings(row.data(), 0, static_cast<int64_t>(n) - 1);
    }
  }
}

// ---- Bounds ------------------------------------------------------------------------------------

TFixedRect PolygonBounds(const TArrayOfFixedPoint& Points) {
  TFixedRect r{0x7F000000, 0x7F000000, -0x7F000000, -0x7F000000};
  for (const TFixedPoint& p : Points) {
    r.Left = std::min(r.Left, p.X);
    r.Right = std::max(r.Right, p.X);
    r.Top = std::min(r.Top, p.Y);
    r.Bottom = std::max(r.Bottom, p.Y);
  }
  return r;
}

TFixedRect PolyPolygonBounds(const TArrayOfArrayOfFixedPoint& Points) {
  TFixedRect r{0x7F000000, 0x7F000000, -0x7F000000, -0x7F000000};
  for (const TArrayOfFixedPoint& line : Points) {
    const TFixedRect b = PolygonBounds(line);
    r.Left = std::min(r.Left, b.Left);
    r.Right = std::max(r.Right, b.Right);
    r.Top = std::min(r.Top, b.Top);
    r.Bottom = std::max(r.Bottom, b.Bottom);
  }
  return r;
}

// ---- Polylines -----------------------------------------------------------------------------

void Polyline(TBitmap32* Bitmap, const TArrayOfFixedPoint& Points, TColor32 Color, bool Closed,
              TTransformation* Transformation) {
  if (Bitmap == nullptr) return;
  const size_t n = Points.size();
  if (n == 1 && Closed) {
    const TFixedPoint p = TransformedPoint(Points[0], Transformation);
    const int32_t x = FixedRound(p.X), y = FixedRound(p.Y);
    if (!Bitmap->MeasuringMode()) Bitmap->SetPixelBlendClipped(x, y, Color);
    ReportPixel(Bitmap, x, y);
    return;
  }
  if (n < 2) return;
  {
    TUpdateGuard update(*Bitmap);
    Bitmap->SetPenColor(Color);
    const bool blend = AlphaOf(Color) < 255;
    auto lineTo = [&](const TFixedPoint& q) {
      const TFixedPoint p = TransformedPoint(q, Transformation);
      if (blend)
        Bitmap->LineToBlend(FixedRound(p.X), FixedRound(p.Y));
      else
        Bitmap->LineToClipped(FixedRound(p.X), FixedRound(p.Y));
    };
    const TFixedPoint p0 = TransformedPoint(Points[0], Transformation);
    Bitmap->MoveTo(FixedRound(p0.X), FixedRound(p0.Y));
    for (size_t i = 1; i < n; ++i) lineTo(Points[i]);
    if (Closed) lineTo(Points[0]);
  }
  Bitmap->Changed();
}

void PolylineSmooth(TBitmap32* Bitmap, const TArrayOfFixedPoint& Points, TColor32 Color, bool Closed,
                    TTransformation* Transformation) {
  if (Bitmap == nullptr) return;
  const size_t n = Points.size();
  if (n == 1 && Closed) {
    const TFixedPoint p = TransformedPoint(Points[0], Transformation);
    if (!Bitmap->MeasuringMode()) Bitmap->SetPixelFixedClipped(p.X, p.Y, Color);
    ReportPixel(Bitmap, FixedFloor(p.X), FixedFloor(p.Y));
    return;
  }
  if (n < 2) return;
  {
    TUpdateGuard update(*Bitmap);
    Bitmap->SetPenColor(Color);
    const TFixedPoint p0 = TransformedPoint(Points[0], Transformation);
    Bitmap->MoveToFixed(p0.X, p0.Y);
    for (size_t i = 1; i < n; ++i) {
      const TFixedPoint p = TransformedPoint(Points[i], Transformation);
      Bitmap->LineToSmooth(p.X, p.Y);
    }
    if (Closed) Bitmap->LineToSmooth(p0.X, p0.Y);
  }
  Bitmap->Changed();
}

void PolyPolyline(TBitmap32* Bitmap, const TArrayOfArrayOfFixedPoint& Points, TColor32 Color,
                  bool Closed, TTransformation* Transformation) {
  for (const TArrayOfFixedPoint& line : Points) Polyline(Bitmap, line, Color, Closed, Transformation);
}

void PolyPolylineSmooth(TBitmap32* Bitmap, const TArrayOfArrayOfFixedPoint& Points, TColor32 Color,
                        bool Closed, TTransformation* Transformation) {
  for (const TArrayOfFixedPoint& line : Points)
    PolylineSmooth(Bitmap, line, Color, Closed, Transformation);
}

// ---- Whole-pixel fill ----------------------------------------------------------------------

void FillPolygon(TBitmap32* Bitmap, const TArrayOfFixedPoint& Points, TColor32 Color,
                 TPolyFillMode FillMode, TTransformation* Transformation) {
  FillPolyPolygon(Bitmap, TArrayOfArrayOfFixedPoint{Points}, Color, FillMode, Transformation);
}

void FillPolyPolygon(TBitmap32* Bitmap, const TArrayOfArrayOfFixedPoint& Points, TColor32 Color,
                     TPolyFillMode FillMode, TTransformation* Transformation) {
  if (Bitmap == nullptr || !HasPoints(Points)) return;
  const TArrayOfArrayOfFixedPoint lines = TransformedLines(Points, Transformation);
  const TRect reported = ReportedBounds(lines);
  if (Bitmap->MeasuringMode()) {
    Bitmap->Changed(reported, AREAINFO_RECT);
    return;
  }
  if (!CanFill(Bitmap)) return;

  // Whole pixels: y in rows, x in 24.8 with a zero fraction.
  std::vector<std::vector<TPoint>> pixelLines(lines.size());
  int32_t minY = std::numeric_limits<int32_t>::max(), maxY = std::numeric_limits<int32_t>::min();
  for (size_t i = 0; i < lines.size(); ++i) {
    // Lines of fewer than three points add no crossings; they do not count.
    if (lines[i].size() < 3) continue;
    pixelLines[i].reserve(lines[i].size());
    for (const TFixedPoint& p : lines[i]) {
      const int32_t x = FixedRound(p.X), y = FixedRound(p.Y);
      pixelLines[i].push_back(TPoint{static_cast<int32_t>(static_cast<uint32_t>(x) << 8), y});
      minY = std::min(minY, y);
      maxY = std::max(maxY, y);
    }
  }
  // All on one row (or no line to fill): nothing to fill and nothing to report.
  if (minY >= maxY) return;
  const TRect& clip = Bitmap->ClipRect();
  const int32_t first = std::max(minY, clip.Top);
  const int32_t last = std::min(maxY, clip.Bottom - 1);
  if (first > last) return;

  TScanLineTable table;
  table.Init(first, last, Saturate32(int64_t{clip.Left} * 256),
             Saturate32(int64_t{clip.Right} * 256 - 1));
  for (const std::vector<TPoint>& line : pixelLines) AddLineCrossings(table, line);
  SortScanLines(table);

  const int32_t rightLimit = clip.Right - 1;
  const bool opaque = AlphaOf(Color) == 255;
  {
    TUpdateGuard update(*Bitmap);
    auto span = [&](int32_t x1, int32_t y, int32_t x2) {
      x2 = std::min(x2, rightLimit);
      if (x1 > x2) return;
      if (opaque)
        Bitmap->HorzLine(x1, y, x2, Color);
      else
        Bitmap->HorzLineBlend(x1, y, x2, Color);
    };
    for (size_t r = 0; r < table.Rows.size(); ++r) {
      const std::vector<uint32_t>& c = table.Rows[r];
      if (c.empty()) continue;
      const int32_t y = first + static_cast<int32_t>(r);
      if (FillMode == pfAlternate) {
        int32_t previousEnd = std::numeric_limits<int32_t>::min();
        for (size_t k = 0; k + 1 < c.size(); k += 2) {
          const int64_t a = c[k] & CrossingXMask, b = c[k + 1] & CrossingXMask;
          if (a >= b - 1) continue;
          int32_t x1 = Round256(static_cast<uint32_t>(a));
          const int32_t x2 = Round256(static_cast<uint32_t>(b - 1));
          if (previousEnd != std::numeric_limits<int32_t>::min() && x1 <= previousEnd)
            x1 = previousEnd + 1;
          span(x1, y, x2);
          previousEnd = std::max(previousEnd, std::min(x2, rightLimit));
        }
      } else {
        // The winding count starts at +1 for an upward first crossing and adds
        // each crossing the same way; a span runs while it is not zero, both
        // crossings' pixels included.
        auto directionOf = [](uint32_t v) { return (v & CrossingUpward) ? 1 : -1; };
        int32_t winding = directionOf(c[0]);
        for (size_t k = 1; k < c.size(); ++k) {
          if (winding != 0) span(Round256(c[k - 1]), y, Round256(c[k]));
          winding += directionOf(c[k]);
        }
      }
    }
    EndMmx();
  }
  Bitmap->Changed(reported, AREAINFO_RECT);
}

// ---- Anti-aliased fill -------------------------------------------------------------------------

void FillPolygonSmooth(TBitmap32* Bitmap, const TArrayOfFixedPoint& Points, TColor32 Color,
                       TPolyFillMode FillMode, int32_t AntialiasMode,
                       TTransformation* Transformation) {
  FillPolyPolygonSmooth(Bitmap, TArrayOfArrayOfFixedPoint{Points}, Color, FillMode, AntialiasMode,
                        Transformation);
}

void FillPolyPolygonSmooth(TBitmap32* Bitmap, const TArrayOfArrayOfFixedPoint& Points,
                           TColor32 Color, TPolyFillMode FillMode, int32_t AntialiasMode,
                           TTransformation* Transformation) {
  if (Bitmap == nullptr || !HasPoints(Points)) return;
  const int32_t mode = std::clamp(AntialiasMode, 0, AntialiasModeCount - 1);
  const int32_t S = kSubSamples[mode];
  const TArrayOfArrayOfFixedPoint lines = TransformedLines(Points, Transformation);
  const TRect reported = ReportedBounds(lines);
  if (Bitmap->MeasuringMode()) {
    Bitmap->Changed(reported, AREAINFO_RECT);
    return;
  }
  if (!CanFill(Bitmap)) return;

  std::vector<std::vector<TPoint>> subLines;
  int32_t minY = std::numeric_limits<int32_t>::max(), maxY = std::numeric_limits<int32_t>::min();
  for (const TArrayOfFixedPoint& line : lines) {
    if (line.size() < 3) continue;
    std::vector<TPoint>& out = subLines.emplace_back();
    out.reserve(line.size());
    for (const TFixedPoint& p : line) {
      const TPoint q{ToSubSamples(p.X, mode), ToSubSamples(p.Y, mode)};
      out.push_back(q);
      minY = std::min(minY, q.Y);
      maxY = std::max(maxY, q.Y);
    }
  }
  if (subLines.empty()) return;
  const TRect& clip = Bitmap->ClipRect();
  const int32_t first = Saturate32(std::max<int64_t>(minY, int64_t{clip.Top} * S));
  const int32_t last = Saturate32(std::min<int64_t>(maxY, int64_t{clip.Bottom} * S - 1));
  if (first >= last) return;

  TScanLineTable table;
  table.Init(first, last, Saturate32(int64_t{clip.Left} * S),
             Saturate32(int64_t{clip.Right} * S - 1));
  for (const std::vector<TPoint>& line : subLines) AddLineCrossings(table, line);
  SortScanLines(table);

  const int64_t multiplier = kCoverageMultiplier[mode];
  const uint32_t master = Color >> 24;
  const TColor32 rgb = Color & 0x00FFFFFFu;
  const TBlendLineEx blendRow = RowMasterByMode[Bitmap->CombineMode()];
  std::vector<int32_t> coverage;
  std::vector<TColor32> colours;
  {
    TUpdateGuard update(*Bitmap);
    for (int32_t py = first / S; py <= last / S; ++py) {
      const int32_t subFirst = std::max(py * S, first), subLast = std::min(py * S + S - 1, last);
      uint32_t minX = CrossingXMask, maxX = 0;
      bool any = false;
      for (int32_t sy = subFirst; sy <= subLast; ++sy) {
        const std::vector<uint32_t>& c = table.Rows[static_cast<size_t>(sy - first)];
        if (c.empty()) continue;
        any = true;
        minX = std::min(minX, c.front() & CrossingXMask);
        maxX = std::max(maxX, c.back() & CrossingXMask);
      }
      if (!any) continue;
      const int32_t c0 = static_cast<int32_t>(minX) / S;
      const int32_t cEnd = static_cast<int32_t>((int64_t{maxX} + S - 1) / S) + 1;
      const size_t width = static_cast<size_t>(cEnd - c0 + 1);
      if (coverage.size() < width) {
        coverage.resize(width + 64);
        colours.resize(width + 64);
      }
      std::fill_n(coverage.begin(), width, 0);

      auto addSpan = [&](uint32_t xs, uint32_t xe) {
        const int32_t a = static_cast<int32_t>(xs & CrossingXMask);
        const int32_t b = static_cast<int32_t>(xe & CrossingXMask);
        coverage[static_cast<size_t>(a / S - c0)] += (S - 1) - a % S;
        coverage[static_cast<size_t>(a / S - c0 + 1)] += a % S;
        coverage[static_cast<size_t>(b / S - c0)] -= (S - 1) - b % S;
        coverage[static_cast<size_t>(b / S - c0 + 1)] -= b % S;
      };
      for (int32_t sy = subFirst; sy <= subLast; ++sy) {
        const std::vector<uint32_t>& c = table.Rows[static_cast<size_t>(sy - first)];
        if (FillMode == pfAlternate) {
          for (size_t k = 0; k + 1 < c.size(); k += 2) addSpan(c[k], c[k + 1]);
        } else {
          int32_t winding = 0;
          uint32_t start = 0;
          for (const uint32_t v : c) {
            const int32_t before = winding;
            winding += (v & CrossingUpward) ? -1 : 1;
            if (before == 0 && winding != 0)
              start = v;
            else if (before != 0 && winding == 0)
              addSpan(start, v);
          }
        }
      }

      int64_t a = 0;
      for (size_t i = 0; i < width; ++i) {
        a += coverage[i];
        const uint32_t alpha = static_cast<uint32_t>(((a * multiplier) & 0xFF00) >> 8);
        colours[i] = rgb | (alpha << 24);
      }
      // Pixels right of the clip rectangle have no coverage; they are left out.
      const int64_t count = std::min<int64_t>(static_cast<int64_t>(width), int64_t{clip.Right} - c0);
      if (count > 0)
        blendRow(colours.data(), Bitmap->PixelAddress(c0, py), static_cast<int32_t>(count), master);
      EndMmx();
    }
  }
  Bitmap->Changed(reported, AREAINFO_RECT);
}

// ---- TPolygon32 ------------------------------------------------------------------------------

TPolygon32::TPolygon32() { FPoints.emplace_back(); }

TPolygon32::~TPolygon32() {
  FPoints.clear();
  FNormals.clear();
}

void TPolygon32::SetAntialiased(bool Value) {
  if (Value == FAntialiased) return;
  FAntialiased = Value;
  Changed();
}

void TPolygon32::SetAntialiasMode(int32_t Value) {
  Value = std::clamp(Value, 0, AntialiasModeCount - 1);
  if (Value == FAntialiasMode) return;
  FAntialiasMode = Value;
  Changed();
}

void TPolygon32::SetClosed(bool Value) {
  if (Value == FClosed) return;
  FClosed = Value;
  FNormals.clear();
  Changed();
}

void TPolygon32::SetFillMode(TPolyFillMode Value) {
  if (Value == FFillMode) return;
  FFillMode = Value;
  Changed();
}

void TPolygon32::SetPoints(const TArrayOfArrayOfFixedPoint& Value) {
  FPoints = Value;
  FNormals.clear();
  Changed();
}

void TPolygon32::Clear() {
  FPoints.clear();
  FNormals.clear();
  FPoints.emplace_back();
}

void TPolygon32::NewLine() {
  FPoints.emplace_back();
  FNormals.clear();
}

void TPolygon32::AddPoint(const TFixedPoint& P) {
  if (FPoints.empty()) FPoints.emplace_back();
  FPoints.back().push_back(P);
  FNormals.clear();
}

void TPolygon32::CopyPropertiesTo(TPolygon32* Dst) const {
  if (Dst == nullptr) return;
  Dst->SetAntialiased(FAntialiased);
  Dst->SetAntialiasMode(FAntialiasMode);
  Dst->SetClosed(FClosed);
  Dst->SetFillMode(FFillMode);
}

void TPolygon32::AssignTo(TPersistent* Dst) {
  if (auto* other = dynamic_cast<TPolygon32*>(Dst)) {
    CopyPropertiesTo(other);
    other->FPoints = FPoints;
    other->FNormals = FNormals;
    other->Changed();
    return;
  }
  TThreadPersistent::AssignTo(Dst);
}

void TPolygon32::GetPublishedProperties(TPropList& List) const {
  TThreadPersistent::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Antialiased", &TPolygon32::Antialiased, &TPolygon32::SetAntialiased));
  List.push_back(
      PublishedProperty("AntialiasMode", &TPolygon32::AntialiasMode, &TPolygon32::SetAntialiasMode));
  List.push_back(PublishedProperty("Closed", &TPolygon32::Closed, &TPolygon32::SetClosed));
  List.push_back(PublishedProperty("FillMode", &TPolygon32::FillMode, &TPolygon32::SetFillMode));
}

void TPolygon32::DrawFill(TBitmap32* Bitmap, TColor32 Color, TTransformation* Transformation) {
  if (Bitmap == nullptr) return;
  {
    TUpdateGuard update(*Bitmap);
    if (FAntialiased)
      FillPolyPolygonSmooth(Bitmap, FPoints, Color, FFillMode, FAntialiasMode, Transformation);
    else
      FillPolyPolygon(Bitmap, FPoints, Color, FFillMode, Transformation);
  }
  Bitmap->Changed();
}

void TPolygon32::DrawOutline(TBitmap32* Bitmap, TColor32 Color, TTransformation* Transformation) {
  if (Bitmap == nullptr) return;
  {
    TUpdateGuard update(*Bitmap);
    if (FAntialiased)
      PolyPolylineSmooth(Bitmap, FPoints, Color, FClosed, Transformation);
    else
      PolyPolyline(Bitmap, FPoints, Color, FClosed, Transformation);
  }
  Bitmap->Changed();
}

void TPolygon32::Draw(TBitmap32* Bitmap, TColor32 OutlineColor, TColor32 FillColor,
                      TTransformation* Transformation) {
  if (Bitmap == nullptr) return;
  {
    TUpdateGuard update(*Bitmap);
    if (AlphaOf(FillColor) != 0) {
      if (FAntialiased)
        FillPolyPolygonSmooth(Bitmap, FPoints, FillColor, FFillMode, FAntialiasMode, Transformation);
      else
        FillPolyPolygon(Bitmap, FPoints, FillColor, FFillMode, Transformation);
    }
    if (AlphaOf(OutlineColor) != 0) {
      if (FAntialiased)
        PolyPolylineSmooth(Bitmap, FPoints, OutlineColor, FClosed, Transformation);
      else
        PolyPolyline(Bitmap, FPoints, OutlineColor, FClosed, Transformation);
    }
  }
  Bitmap->Changed();
}

void TPolygon32::BuildNormals() {
  FNormals.assign(FPoints.size(), {});
  for (size_t l = 0; l < FPoints.size(); ++l) {
    const TArrayOfFixedPoint& pts = FPoints[l];
    TArrayOfFixedPoint& nrm = FNormals[l];
    const size_t n = pts.size();
    nrm.assign(n, TFixedPoint{});
    if (n < 2) continue;
    auto normalOf = [](const TFixedPoint& a, const TFixedPoint& b) {
      double dx = static_cast<double>(int64_t{b.X} - a.X) / 65536.0;
      double dy = static_cast<double>(int64_t{b.Y} - a.Y) / 65536.0;
      if (dx != 0 || dy != 0) {
        const double len = std::hypot(dx, dy);
        dx /= len;
        dy /= len;
      }
      return TFixedPoint{FixedFromFloat(static_cast<float>(dy)), FixedFromFloat(static_cast<float>(-dx))};
    };
    for (size_t i = 0; i + 1 < n; ++i) nrm[i] = normalOf(pts[i], pts[i + 1]);
    nrm[n - 1] = FClosed ? normalOf(pts[n - 1], pts[0]) : nrm[n - 2];
  }
}

namespace {

// A * B / C rounded half away from zero in 64 bits, saturated to int32; C is
// never 0 here (the callers test for it).
int32_t MulDivSaturated(int32_t A, int32_t B, int32_t C) {
  const int64_t p = int64_t{A} * B;
  const bool negative = (p < 0) != (C < 0);
  const uint64_t n = p < 0 ? static_cast<uint64_t>(-(p + 1)) + 1 : static_cast<uint64_t>(p);
  const uint64_t d = C < 0 ? static_cast<uint64_t>(-int64_t{C}) : static_cast<uint64_t>(C);
  const uint64_t q = (n / d) + ((n % d) * 2 >= d ? 1 : 0);
  const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()}
                                 : int64_t{std::numeric_limits<int32_t>::max()};
  const int64_t m = q > static_cast<uint64_t>(limit) ? limit : static_cast<int64_t>(q);
  return Saturate32(negative ? -m : m);
}

TFixedPoint Offset(const TFixedPoint& P, const TFixedPoint& D) {
  return TFixedPoint{Saturate32(int64_t{P.X} + D.X), Saturate32(int64_t{P.Y} + D.Y)};
}

}  // namespace

std::unique_ptr<TPolygon32> TPolygon32::Grow(TFixed Delta, float EdgeSharpness) {
  if (std::isnan(EdgeSharpness)) EdgeSharpness = 0;
  EdgeSharpness = std::clamp(EdgeSharpness, 0.0f, 0.99f);
  const double t = (1.0 - double{EdgeSharpness}) * Delta;
  const int32_t threshold = static_cast<int32_t>(std::nearbyint(t));

  auto result = std::make_unique<TPolygon32>();
  CopyPropertiesTo(result.get());
  if (Delta == 0) {
    result->FPoints = FPoints;
    return result;
  }
  if (FNormals.size() != FPoints.size()) BuildNormals();
  result->FPoints.clear();
  auto scaled = [Delta](const TFixedPoint& N) {
    return TFixedPoint{MulDivSaturated(N.X, Delta, 65536), MulDivSaturated(N.Y, Delta, 65536)};
  };
  for (size_t l = 0; l < FPoints.size(); ++l) {
    const TArrayOfFixedPoint& pts = FPoints[l];
    const TArrayOfFixedPoint& nrm = FNormals[l];
    const size_t n = pts.size();
    if (n < 2) continue;
    TArrayOfFixedPoint& out = result->FPoints.emplace_back();
    for (size_t i = 0; i < n; ++i) {
      const TFixedPoint& P = pts[i];
      const TFixedPoint A = scaled(nrm[i]);
      const TFixedPoint B = scaled(nrm[i > 0 ? i - 1 : n - 1]);
      if (!FClosed && i == 0) {
        out.push_back(Offset(P, A));
      } else if (!FClosed && i == n - 1) {
        out.push_back(Offset(P, B));
      } else {
        const TFixedPoint C{Saturate32(int64_t{A.X} + B.X), Saturate32(int64_t{A.Y} + B.Y)};
        const int32_t R = Saturate32(int64_t{MulDivSaturated(B.X, C.X, Delta)} +
                                     MulDivSaturated(B.Y, C.Y, Delta));
        // R = 0 is an edge that turns straight back while shrinking: its mitre
        // would lie at infinity, so it is bevelled like the other sharp corners.
        if (R <= threshold || R == 0) {
          out.push_back(Offset(P, B));
          out.push_back(Offset(P, A));
        } else {
          out.push_back(Offset(P, TFixedPoint{MulDivSaturated(C.X, Delta, R),
                                              MulDivSaturated(C.Y, Delta, R)}));
        }
      }
    }
  }
  return result;
}

std::unique_ptr<TPolygon32> TPolygon32::Outline() {
  if (FNormals.size() != FPoints.size()) BuildNormals();
  auto result = std::make_unique<TPolygon32>();
  CopyPropertiesTo(result.get());
  result->FPoints.clear();
  for (const TArrayOfFixedPoint& line : FPoints) {
    if (line.size() < 2) continue;
    const TArrayOfFixedPoint reversed(line.rbegin(), line.rend());
    if (FClosed) {
      result->FPoints.push_back(line);
      result->FPoints.push_back(reversed);
    } else {
      TArrayOfFixedPoint both = line;
      both.insert(both.end(), reversed.begin(), reversed.end());
      result->FPoints.push_back(std::move(both));
    }
  }
  return result;
}
