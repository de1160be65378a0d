// Polygon filling and TPolygon32: the crossing table's known rows and its
// row-skipping, even-odd against non-zero on a square and a pentagram,
// anti-aliased coverage, clipping, transformed and measured fills, extreme
// coordinates, polylines, Grow and Outline.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "raster_blend.h"
#include "raster_lowlevel.h"
#include "raster_polygons.h"
#include "raster_transforms.h"

namespace {

TFixedPoint FP(double X, double Y) {
  return TFixedPoint{static_cast<TFixed>(std::lround(X * 65536)), static_cast<TFixed>(std::lround(Y * 65536))};
}

TArrayOfFixedPoint Square(double L, double T, double R, double B) {
  return {FP(L, T), FP(R, T), FP(R, B), FP(L, B)};
}

TArrayOfFixedPoint Pentagram(double Cx, double Cy, double Radius) {
  TArrayOfFixedPoint pts;
  for (int k = 0; k < 5; ++k) {
    const double a = (-90.0 + 144.0 * k) * std::numbers::pi / 180.0;
    pts.push_back(FP(Cx + Radius * std::cos(a), Cy + Radius * std::sin(a)));
  }
  return pts;
}

std::vector<TColor32> Pixels(const TBitmap32& B) { return {B.Bits(), B.Bits() + B.PixelCount()}; }

// The pixels of B equal to C, as a set of "x,y" positions.
std::vector<TPoint> PixelsOf(const TBitmap32& B, TColor32 C) {
  std::vector<TPoint> out;
  for (int32_t y = 0; y < B.Height(); ++y)
    for (int32_t x = 0; x < B.Width(); ++x)
      if (B.GetPixel(x, y) == C) out.push_back(TPoint{x, y});
  return out;
}

constexpr uint32_t UP = CrossingUpward;

// ---- Crossing table ----------------------------------------------------------------------------

TEST(ScanLineTable, TriangleKnownRows) {
  // A 45-degree edge lags one row behind a textbook stepper: its error term
  // must exceed dY, not reach it, before x moves.
  TScanLineTable t;
  t.Init(0, 10, 0, 1000);
  AddLineCrossings(t, {TPoint{0, 0}, TPoint{10, 10}, TPoint{20, 0}});
  SortScanLines(t);
  EXPECT_EQ(t.Rows[0], (std::vector<uint32_t>{0 | UP, 0}));
  EXPECT_EQ(t.Rows[1], (std::vector<uint32_t>{0, 18 | UP}));
  EXPECT_EQ(t.Rows[2], (std::vector<uint32_t>{1, 17 | UP}));
  EXPECT_EQ(t.Rows[5], (std::vector<uint32_t>{4, 14 | UP}));
  EXPECT_EQ(t.Rows[9], (std::vector<uint32_t>{8, 10 | UP}));
  // The bottom vertex gets a balancing crossing of the opposite direction.
  EXPECT_EQ(t.Rows[10], (std::vector<uint32_t>{10, 10 | UP}));
}

TEST(ScanLineTable, SteepAndFlatEdgesAndLimits) {
  // A flat edge moves x several pixels per row through the division step.
  TScanLineTable t;
  t.Init(0, 4, 0, 1000);
  AddLineCrossings(t, {TPoint{0, 0}, TPoint{100, 4}, TPoint{0, 4}});
  SortScanLines(t);
  // dX = 100, dY = 4: the error starts at 0; each row adds 100 and the
  // division step leaves it at or below 0, so x moves ceil(e / 4) steps.
  EXPECT_EQ(t.Rows[1], (std::vector<uint32_t>{0 | UP, 25}));
  EXPECT_EQ(t.Rows[3], (std::vector<uint32_t>{0 | UP, 75}));
  // x is held to the table's limits; rows outside it are dropped.
  TScanLineTable c;
  c.Init(1, 2, 10, 40);
  AddLineCrossings(c, {TPoint{0, 0}, TPoint{100, 4}, TPoint{0, 4}});
  SortScanLines(c);
  ASSERT_EQ(c.Rows.size(), 2u);
  EXPECT_EQ(c.Rows[0], (std::vector<uint32_t>{10 | UP, 25}));
  EXPECT_EQ(c.Rows[1], (std::vector<uint32_t>{10 | UP, 40}));
}

TEST(ScanLineTable, RowsAreEvenAndAWindowMatchesTheWholeTable) {
  // Rows before a window are skipped in closed form (or walked for middling
  // slopes); the rows inside must come out as if every row had been walked.
  std::mt19937 rng(5);
  for (int n = 0; n < 400; ++n) {
    const int32_t spreadX = (n % 4 == 0) ? 3000 : (n % 4 == 1 ? 300 : 40);
    std::uniform_int_distribution<int32_t> dx(-spreadX, spreadX), dy(-200, 200);
    std::vector<TPoint> pts(3 + n % 9);
    for (TPoint& p : pts) p = TPoint{dx(rng), dy(rng)};
    TScanLineTable whole;
    whole.Init(-200, 200, 0, 8000);
    std::vector<TPoint> shifted = pts;
    for (TPoint& p : shifted) p.X += 4000;  // keep x non-negative, as a clip does
    AddLineCrossings(whole, shifted);
    ASSERT_NO_THROW(SortScanLines(whole)) << n;
    std::uniform_int_distribution<int32_t> w(-200, 200);
    int32_t a = w(rng), b = w(rng);
    OrderInts(a, b);
    TScanLineTable part;
    part.Init(a, b, 0, 8000);
    AddLineCrossings(part, shifted);
    SortScanLines(part);
    for (int32_t y = a; y <= b; ++y)
      ASSERT_EQ(part.Rows[static_cast<size_t>(y - a)], whole.Rows[static_cast<size_t>(y + 200)])
          << "case " << n << " row " << y;
  }
}

// Edges spanning the whole int32 range in both axes: skipping the rows before
// a window near the far end must neither overflow nor lose the x position.
TEST(ScanLineTable, FullRangeEdgesSkipToAFarWindow) {
  constexpr int32_t Min = std::numeric_limits<int32_t>::min(), Max = std::numeric_limits<int32_t>::max();
  TScanLineTable t;
  t.Init(Max - 6, Max - 1, 0, Max);
  // Down the diagonal (dX = dY: x steps once per row from the second row on),
  // across the bottom, and straight up the left side (clamped to x = 0).
  AddLineCrossings(t, {TPoint{Min, Min}, TPoint{Max, Max}, TPoint{Min, Max}});
  SortScanLines(t);
  for (int32_t y = Max - 6; y <= Max - 1; ++y) {
    const uint32_t Diagonal = static_cast<uint32_t>(y - 1);
    EXPECT_EQ(t.Rows[static_cast<size_t>(y - (Max - 6))], (std::vector<uint32_t>{CrossingUpward, Diagonal}))
        << "row " << y;
  }
}

// ---- Whole-pixel fills -----------------------------------------------------------------------------

TEST(FillPolygon, SquareByBothRules) {
  const TColor32 C = 0xFFFF0000u;
  TBitmap32 B;
  B.SetSize(32, 32);
  B.Clear(0);
  FillPolygon(&B, Square(10, 10, 20, 20), C, pfAlternate);
  std::vector<TPoint> expected;
  for (int32_t y = 11; y <= 19; ++y)
    for (int32_t x = 10; x <= 20; ++x) expected.push_back(TPoint{x, y});
  EXPECT_EQ(PixelsOf(B, C), expected);

  B.Clear(0);
  FillPolygon(&B, Square(10, 10, 20, 20), C, pfWinding);
  expected.insert(expected.begin(), TPoint{20, 10});
  expected.push_back(TPoint{10, 20});
  EXPECT_EQ(PixelsOf(B, C), expected);
}

TEST(FillPolygon, PentagramCentreByRule) {
  for (const bool smooth : {false, true}) {
    TBitmap32 B;
    B.SetSize(100, 100);
    B.Clear(0xFF000000u);
    const TArrayOfFixedPoint star = Pentagram(50, 50, 40);
    auto fill = [&](TPolyFillMode m) {
      B.Clear(0xFF000000u);
      if (smooth)
        FillPolygonSmooth(&B, star, 0xFFFFFFFFu, m);
      else
        FillPolygon(&B, star, 0xFFFFFFFFu, m);
    };
    // Full coverage blended at alpha 255 may land a step below white.
    auto lit = [&](int32_t x, int32_t y) { return RedOf(B.GetPixel(x, y)) >= 250; };
    auto dark = [&](int32_t x, int32_t y) { return B.GetPixel(x, y) == 0xFF000000u; };
    fill(pfAlternate);
    EXPECT_TRUE(dark(50, 50)) << smooth;
    EXPECT_TRUE(lit(50, 20)) << smooth;  // inside the top point
    EXPECT_TRUE(dark(5, 5)) << smooth;
    fill(pfWinding);
    EXPECT_TRUE(lit(50, 50)) << smooth;
    EXPECT_TRUE(lit(50, 20)) << smooth;
    EXPECT_TRUE(dark(5, 5)) << smooth;
  }
}

TEST(FillPolygon, DegenerateInputsDrawAndReportNothing) {
  TBitmap32 B;
  B.SetSize(20, 20);
  B.Clear(0xFF000000u);
  int reports = 0;
  B.OnAreaChanged = [&](TBitmap32*, const TRect&, uint32_t) { ++reports; };
  // All points on one row.
  FillPolygon(&B, {FP(2, 5), FP(15, 5), FP(8, 5)}, 0xFFFFFFFFu);
  // Two points only, and no points.
  FillPolygon(&B, {FP(2, 2), FP(15, 15)}, 0xFFFFFFFFu);
  FillPolygonSmooth(&B, {FP(2, 2), FP(15, 15)}, 0xFFFFFFFFu);
  FillPolyPolygon(&B, {}, 0xFFFFFFFFu);
  FillPolyPolygonSmooth(&B, {{}, {}}, 0xFFFFFFFFu);
  EXPECT_EQ(PixelsOf(B, 0xFFFFFFFFu).size(), 0u);
  EXPECT_EQ(reports, 0);
}

TEST(FillPolygon, OneRowClipStillFills) {
  TBitmap32 B;
  B.SetSize(20, 20);
  B.Clear(0);
  B.SetClipRect(TRect{0, 7, 20, 8});
  FillPolygon(&B, Square(2, 2, 12, 12), 0xFFFFFFFFu);
  const auto filled = PixelsOf(B, 0xFFFFFFFFu);
  ASSERT_EQ(filled.size(), 11u);
  EXPECT_EQ(filled.front(), (TPoint{2, 7}));
  EXPECT_EQ(filled.back(), (TPoint{12, 7}));
}

// ---- Anti-aliased fills ---------------------------------------------------------------------------

TEST(FillPolygonSmooth, InteriorCoverageByMode) {
  // Mode 0's multiplier tops out at 251; the others reach 255.
  const int32_t expectedAlpha[5] = {251, 255, 255, 255, 255};
  for (int32_t mode = 0; mode < 5; ++mode) {
    TBitmap32 B;
    B.SetSize(40, 30);
    B.Clear(0);
    B.SetCombineMode(cmMerge);
    FillPolygonSmooth(&B, Square(5, 5, 35, 25), 0xFF204080u, pfAlternate, mode);
    EXPECT_EQ(B.GetPixel(20, 15), (static_cast<TColor32>(expectedAlpha[mode]) << 24) | 0x204080u)
        << "mode " << mode;
    EXPECT_EQ(B.GetPixel(2, 2), 0u);
    // Colour alpha is the master alpha: half of it halves the coverage.
    B.Clear(0);
    FillPolygonSmooth(&B, Square(5, 5, 35, 25), 0x80204080u, pfAlternate, mode);
    TColor32 half = 0;
    MergePixelMasterInto((static_cast<TColor32>(expectedAlpha[mode]) << 24) | 0x204080u, half, 0x80);
    EXPECT_EQ(B.GetPixel(20, 15), half) << "mode " << mode;
  }
}

TEST(FillPolygonSmooth, EdgesArePartlyCovered) {
  TBitmap32 B;
  B.SetSize(20, 20);
  B.Clear(0);
  B.SetCombineMode(cmMerge);
  // The left edge at x = 4.5 covers half of column 4.
  FillPolygonSmooth(&B, Square(4.5, 2, 15, 18), 0xFFFFFFFFu);
  const int32_t edge = AlphaOf(B.GetPixel(4, 10));
  EXPECT_GT(edge, 64);
  EXPECT_LT(edge, 192);
  EXPECT_EQ(AlphaOf(B.GetPixel(3, 10)), 0);
  EXPECT_EQ(AlphaOf(B.GetPixel(8, 10)), 255);
}

// ---- Properties shared by both fills -------------------------------------------------------------

TEST(Fills, NeverWriteOutsideTheClipRectangle) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> coord(-15, 45);
  std::uniform_int_distribution<int32_t> lo(-3, 12), hi(8, 35);
  int drawn = 0;
  for (int n = 0; n < 300; ++n) {
    TBitmap32 B;
    B.SetSize(30, 24);
    B.Clear(0x01020304u);
    B.SetClipRect(TRect{lo(rng), lo(rng), hi(rng), hi(rng)});
    TArrayOfArrayOfFixedPoint lines(1 + n % 2);
    for (auto& line : lines) {
      line.resize(3 + n % 6);
      for (TFixedPoint& p : line) p = FP(coord(rng), coord(rng));
    }
    const TPolyFillMode mode = n % 3 == 0 ? pfWinding : pfAlternate;
    if (n % 2 == 0)
      FillPolyPolygon(&B, lines, 0xFFFFFFFFu, mode);
    else
      FillPolyPolygonSmooth(&B, lines, 0xFFFFFFFFu, mode, n % 5);
    const TRect& c = B.ClipRect();
    bool any = false;
    for (int32_t y = 0; y < B.Height(); ++y)
      for (int32_t x = 0; x < B.Width(); ++x) {
        const bool changed = B.GetPixel(x, y) != 0x01020304u;
        if (changed && !PointInRect(c, x, y)) {
          FAIL() << "case " << n << " wrote " << x << "," << y;
        }
        any = any || changed;
      }
    drawn += any;
  }
  EXPECT_GT(drawn, 150);
}

TEST(Fills, TransformationMovesTheFillAndItsReport) {
  TAffineTransformation T;
  T.Translate(5, 3);
  for (const bool smooth : {false, true}) {
    TBitmap32 A, B;
    A.SetSize(40, 40);
    B.SetSize(40, 40);
    A.Clear(0);
    B.Clear(0);
    std::vector<TRect> areas;
    B.OnAreaChanged = [&](TBitmap32*, const TRect& R, uint32_t) { areas.push_back(R); };
    const TArrayOfFixedPoint star = Pentagram(15, 15, 12);
    TArrayOfFixedPoint moved;
    for (const TFixedPoint& p : star) moved.push_back(TFixedPoint{p.X + 5 * FixedOne, p.Y + 3 * FixedOne});
    if (smooth) {
      FillPolygonSmooth(&A, moved, 0xFFFFFFFFu);
      FillPolygonSmooth(&B, star, 0xFFFFFFFFu, pfAlternate, 2, &T);
    } else {
      FillPolygon(&A, moved, 0xFFFFFFFFu);
      FillPolygon(&B, star, 0xFFFFFFFFu, pfAlternate, &T);
    }
    EXPECT_EQ(Pixels(A), Pixels(B)) << smooth;
    ASSERT_EQ(areas.size(), 1u);
    EXPECT_EQ(areas[0], RoundFixedRect(PolygonBounds(moved), rrOuter)) << smooth;
  }
}

TEST(Fills, MeasuringReportsWithoutDrawing) {
  TBitmap32 B;
  B.SetSize(30, 30);
  B.Clear(0xFF000000u);
  const auto before = Pixels(B);
  std::vector<TRect> areas;
  B.StartAreaReporting([&](TBitmap32*, const TRect& R, uint32_t) { areas.push_back(R); });
  FillPolygon(&B, Square(2.5, 3, 20, 21.25), 0xFFFFFFFFu);
  FillPolygonSmooth(&B, Square(2.5, 3, 20, 21.25), 0xFFFFFFFFu);
  Polyline(&B, {FP(1, 1)}, 0xFFFFFFFFu, true);
  B.StopAreaReporting();
  EXPECT_EQ(Pixels(B), before);
  ASSERT_EQ(areas.size(), 3u);
  EXPECT_EQ(areas[0], (TRect{2, 3, 20, 22}));
  EXPECT_EQ(areas[1], (TRect{2, 3, 20, 22}));
  EXPECT_EQ(areas[2], (TRect{1, 1, 2, 2}));
}

TEST(Fills, ExtremeCoordinatesCoverTheBitmap) {
  const int32_t MAX = std::numeric_limits<int32_t>::max(), MIN = std::numeric_limits<int32_t>::min();
  const TArrayOfFixedPoint huge{TFixedPoint{MIN, MIN}, TFixedPoint{MAX, MIN}, TFixedPoint{0, MAX}};
  for (int32_t mode = -1; mode < 5; ++mode) {
    TBitmap32 B;
    B.SetSize(40, 30);
    B.Clear(0);
    B.SetCombineMode(cmMerge);
    if (mode < 0)
      FillPolygon(&B, huge, 0xFF00FF00u);
    else
      FillPolygonSmooth(&B, huge, 0xFF00FF00u, pfAlternate, mode);
    const TColor32 expected = mode == 0 ? 0xFB00FF00u : 0xFF00FF00u;
    EXPECT_EQ(PixelsOf(B, expected).size(), B.PixelCount()) << "mode " << mode;
  }
}

// ---- Polylines ---------------------------------------------------------------------------------------

TEST(Polyline, LinesAndSinglePoints) {
  TBitmap32 B;
  B.SetSize(12, 12);
  B.Clear(0);
  // Open: the end point itself is not drawn.
  Polyline(&B, {FP(1, 1), FP(5, 1)}, 0xFFFFFFFFu);
  EXPECT_EQ(PixelsOf(B, 0xFFFFFFFFu), (std::vector<TPoint>{{1, 1}, {2, 1}, {3, 1}, {4, 1}}));
  // Closed: back to the start, so every corner of the square is drawn.
  B.Clear(0);
  Polyline(&B, Square(2, 2, 6, 6), 0xFFFFFFFFu, true);
  EXPECT_EQ(PixelsOf(B, 0xFFFFFFFFu).size(), 16u);
  // One closed point is one blended pixel; one open point draws nothing.
  B.Clear(0xFF000000u);
  Polyline(&B, {FP(3, 4)}, 0x80FFFFFFu, true);
  Polyline(&B, {FP(7, 7)}, 0xFFFFFFFFu, false);
  TColor32 expected = 0xFF000000u;
  BlendPixelInto(0x80FFFFFFu, expected);
  EXPECT_EQ(B.GetPixel(3, 4), expected);
  EXPECT_EQ(B.GetPixel(7, 7), 0xFF000000u);
}

// ---- TPolygon32 ----------------------------------------------------------------------------------------

TEST(Polygon32, DrawFillsThenOutlinesAndNotifiesOnce) {
  TPolygon32 P;
  for (const TFixedPoint& p : Square(4, 4, 12, 12)) P.AddPoint(p);
  TBitmap32 B;
  B.SetSize(16, 16);
  B.Clear(0);
  int changes = 0;
  B.OnChange = [&](void*) { ++changes; };
  P.Draw(&B, 0xFFFF0000u, 0xFF00FF00u);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(B.GetPixel(8, 8), 0xFF00FF00u);   // fill
  EXPECT_EQ(B.GetPixel(4, 8), 0xFFFF0000u);   // outline over it
  EXPECT_EQ(B.GetPixel(0, 0), 0u);
  // A colour with alpha 0 is skipped altogether.
  B.Clear(0);
  P.Draw(&B, 0x00FF0000u, 0xFF00FF00u);
  EXPECT_EQ(B.GetPixel(4, 8), 0xFF00FF00u);

  // One line of two points: outlined, never filled.
  TPolygon32 L;
  L.AddPoint(FP(2, 2));
  L.AddPoint(FP(10, 10));
  B.Clear(0);
  L.Draw(&B, 0xFFFFFFFFu, 0xFF00FF00u);
  EXPECT_EQ(PixelsOf(B, 0xFF00FF00u).size(), 0u);
  EXPECT_GT(PixelsOf(B, 0xFFFFFFFFu).size(), 5u);
}

TEST(Polygon32, LinesAndAssignment) {
  TPolygon32 P;
  P.AddPoint(FP(1, 1));
  P.NewLine();
  P.AddPoint(FP(2, 2));
  P.SetAntialiasMode(9);  // held to 0..4
  P.SetFillMode(pfWinding);
  TPolygon32 Q;
  Q.Assign(&P);
  EXPECT_EQ(Q.Points(), (TArrayOfArrayOfFixedPoint{{FP(1, 1)}, {FP(2, 2)}}));
  EXPECT_EQ(Q.AntialiasMode(), 4);
  EXPECT_EQ(Q.FillMode(), pfWinding);
  P.Clear();
  EXPECT_EQ(P.Points(), (TArrayOfArrayOfFixedPoint{{}}));
}

TEST(Polygon32, GrowMitresOrBevelsCorners) {
  TPolygon32 P;
  for (const TFixedPoint& p : Square(10, 10, 20, 20)) P.AddPoint(p);
  // Sharp edges allowed: every right angle is mitred, the square grows by one.
  auto G = P.Grow(FixedOne, 0.99f);
  ASSERT_EQ(G->Points().size(), 1u);
  EXPECT_EQ(G->Points()[0], Square(9, 9, 21, 21));
  // Sharpness 2 is held to 0.99.
  EXPECT_EQ(P.Grow(FixedOne, 2.0f)->Points(), G->Points());
  // No sharpness allowed: each corner becomes two points.
  auto Bv = P.Grow(FixedOne, 0.0f);
  const TArrayOfFixedPoint expected{FP(9, 10), FP(10, 9), FP(20, 9), FP(21, 10),
                                    FP(21, 20), FP(20, 21), FP(10, 21), FP(9, 20)};
  EXPECT_EQ(Bv->Points()[0], expected);
  // Delta 0 is a copy with the same properties.
  P.SetFillMode(pfWinding);
  auto Z = P.Grow(0, 0.5f);
  EXPECT_EQ(Z->Points(), P.Points());
  EXPECT_EQ(Z->FillMode(), pfWinding);
  // The normals are unit length, pointing away from the filled side.
  ASSERT_EQ(P.Normals().size(), 1u);
  EXPECT_EQ(P.Normals()[0][0], (TFixedPoint{0, -FixedOne}));
  EXPECT_EQ(P.Normals()[0][1], (TFixedPoint{FixedOne, 0}));
  // Shrinking a spike that turns straight back stays finite.
  TPolygon32 S;
  S.AddPoint(FP(10, 10));
  S.AddPoint(FP(20, 10));
  S.AddPoint(FP(10, 10.0001));
  auto shrunk = S.Grow(-FixedOne, 0.99f);
  for (const TFixedPoint& p : shrunk->Points()[0]) {
    EXPECT_LT(std::abs(p.X - 15 * FixedOne), 20 * FixedOne);
    EXPECT_LT(std::abs(p.Y - 10 * FixedOne), 20 * FixedOne);
  }
}

TEST(Polygon32, OutlineRunsForwardAndBack) {
  TPolygon32 P;
  const TArrayOfFixedPoint sq = Square(2, 2, 8, 8);
  for (const TFixedPoint& p : sq) P.AddPoint(p);
  const TArrayOfFixedPoint back(sq.rbegin(), sq.rend());
  auto O = P.Outline();
  ASSERT_EQ(O->Points().size(), 2u);
  EXPECT_EQ(O->Points()[0], sq);
  EXPECT_EQ(O->Points()[1], back);
  P.SetClosed(false);
  O = P.Outline();
  ASSERT_EQ(O->Points().size(), 1u);
  TArrayOfFixedPoint both = sq;
  both.insert(both.end(), back.begin(), back.end());
  EXPECT_EQ(O->Points()[0], both);
  EXPECT_FALSE(O->Closed());

  // Outline grown and filled even-odd is a stroke: the inside stays empty.
  P.SetClosed(true);
  auto stroke = P.Outline()->Grow(FixedOne, 0.99f);
  TBitmap32 B;
  B.SetSize(12, 12);
  B.Clear(0);
  stroke->DrawFill(&B, 0xFFFFFFFFu);
  EXPECT_EQ(B.GetPixel(5, 5), 0u);
  EXPECT_EQ(B.GetPixel(5, 2), 0xFFFFFFFFu);
}

}  // namespace

// Even-odd filling treats left and right alike: a polygon mirrored about a
// whole column fills the mirrored pixels. The corners snap to whole pixels
// first, halves going down (as FixedRound does), so corner x positions avoid
// exact halves; between whole corners the crossings of steep and shallow
// edges still fall on pixel halves, where span rounding decides.
TEST(FillPolygon, MirrorImageFillsMirroredPixels) {
  constexpr int32_t W = 41, H = 30, Axis = 40;  // x -> 40 - x maps pixel i to pixel 40 - i
  std::mt19937 rng(29);
  std::uniform_int_distribution<int32_t> qx(0, 40 * 4), qy(0, 29 * 4);
  for (int trial = 0; trial < 400; ++trial) {
    TArrayOfFixedPoint poly, mirror;
    const int n = 3 + trial % 6;
    for (int k = 0; k < n; ++k) {
      int32_t x = qx(rng);
      if (x % 4 == 2) ++x;  // no corner on an exact half
      const TFixed fx = x * 16384, fy = qy(rng) * 16384;
      poly.push_back(TFixedPoint{fx, fy});
      mirror.push_back(TFixedPoint{Axis * 65536 - fx, fy});
    }
    TBitmap32 a, b;
    for (TBitmap32* bm : {&a, &b}) {
      bm->SetSize(W, H);
      bm->Clear(0);
    }
    FillPolygon(&a, poly, 0xFFFFFFFFu, pfAlternate);
    FillPolygon(&b, mirror, 0xFFFFFFFFu, pfAlternate);
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x)
        ASSERT_EQ(a.GetPixel(x, y), b.GetPixel(Axis - x, y)) << "trial " << trial << " pixel " << x << "," << y;
  }
}
