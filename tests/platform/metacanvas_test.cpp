// The metafile drawing surface: polygon fills compared with a plain
// point-in-polygon model at every pixel centre, pens, hatches, clipping,
// stretched pixel blocks, text and the flattened curves.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "platform_metacanvas.h"
#include "platform_text.h"

namespace {

constexpr uint32_t kPaper = 0xFF123456;

struct TCanvasBuffer {
  TCanvasBuffer(int32_t w, int32_t h, uint32_t fill = kPaper) : px(static_cast<size_t>(w) * h, fill), s{px.data(), w, h} {}
  uint32_t At(int32_t x, int32_t y) const { return px[static_cast<size_t>(y) * s.Width + x]; }
  std::vector<uint32_t> px;
  TPixelSurface s;
};

using TPolys = std::vector<std::vector<TMetaPoint>>;

// The plain rule: count the edges that cross the horizontal through the
// point at or left of it (an edge owns its upper end, not its lower one).
bool ModelInside(const TPolys& polys, double px, double py, TMetaFillRule rule) {
  int crossings = 0, winding = 0;
  for (const auto& p : polys) {
    for (size_t i = 0; i < p.size(); ++i) {
      const TMetaPoint a = p[i], b = p[(i + 1) % p.size()];
      if ((a.Y <= py) == (b.Y <= py)) continue;
      const double x = a.X + (py - a.Y) / (b.Y - a.Y) * (b.X - a.X);
      if (x <= px) {
        ++crossings;
        winding += b.Y > a.Y ? 1 : -1;
      }
    }
  }
  return rule == TMetaFillRule::Winding ? winding != 0 : (crossings & 1) != 0;
}

TMetaBrush Solid(uint32_t c) { return TMetaBrush{TMetaBrushStyle::Solid, c, TMetaHatch::Horizontal}; }

TEST(MetaCanvasFill, RandomPolygonsMatchThePointInPolygonModel) {
  std::mt19937 rng(20261207);
  std::uniform_real_distribution<double> coord(-6, 46);
  for (TMetaFillRule rule : {TMetaFillRule::Alternate, TMetaFillRule::Winding}) {
    for (int round = 0; round < 60; ++round) {
      TPolys polys(1 + round % 3);
      for (auto& p : polys) {
        p.resize(3 + rng() % 9);
        for (auto& pt : p) pt = TMetaPoint{coord(rng), coord(rng)};
      }
      const bool clipped = round % 4 == 1;
      const TPlatformRect clip{7, 3, 31, 29};
      TCanvasBuffer c(40, 40);
      TMetaCanvas canvas(c.s);
      if (clipped) canvas.SetClipRect(&clip);
      canvas.FillPolygons(polys, rule, Solid(0x00332211), TMetaBackground{});
      for (int32_t y = 0; y < 40; ++y) {
        for (int32_t x = 0; x < 40; ++x) {
          bool in = ModelInside(polys, x + 0.5, y + 0.5, rule);
          if (clipped) in = in && x >= clip.Left && x < clip.Right && y >= clip.Top && y < clip.Bottom;
          ASSERT_EQ(c.At(x, y), in ? 0x00112233u : kPaper)
              << "rule " << static_cast<int>(rule) << " round " << round << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST(MetaCanvasFill, SharedEdgesPaintEveryPixelOnceAndRectanglesExcludeRightAndBottom) {
  // The two halves of a square split along its diagonal: together exactly
  // the square, never a pixel in both.
  const TPolys upper{{{2, 2}, {12, 2}, {12, 9}}}, lower{{{2, 2}, {12, 9}, {2, 9}}};
  TCanvasBuffer a(16, 16), b(16, 16);
  TMetaCanvas(a.s).FillPolygons(upper, TMetaFillRule::Alternate, Solid(1), TMetaBackground{});
  TMetaCanvas(b.s).FillPolygons(lower, TMetaFillRule::Alternate, Solid(1), TMetaBackground{});
  for (int32_t y = 0; y < 16; ++y) {
    for (int32_t x = 0; x < 16; ++x) {
      const bool inA = a.At(x, y) != kPaper, inB = b.At(x, y) != kPaper;
      EXPECT_FALSE(inA && inB) << x << "," << y;
      EXPECT_EQ(inA || inB, x >= 2 && x < 12 && y >= 2 && y < 9) << x << "," << y;
    }
  }
}

TEST(MetaCanvasFill, HatchesDrawTheirLinesAndOnlyAnOpaqueBackgroundFillsTheGaps) {
  struct TCase {
    TMetaHatch Hatch;
    int32_t InkPerTile;  // of the 64 pixels of an 8 x 8 tile
  };
  const TCase cases[] = {{TMetaHatch::Horizontal, 8}, {TMetaHatch::Vertical, 8}, {TMetaHatch::FDiagonal, 8},
                         {TMetaHatch::BDiagonal, 8},  {TMetaHatch::Cross, 15},   {TMetaHatch::DiagCross, 16}};
  const TPolys square{{{0, 0}, {16, 0}, {16, 16}, {0, 16}}};
  for (const TCase& tc : cases) {
    const TMetaBrush brush{TMetaBrushStyle::Hatched, 0x000000FF, tc.Hatch};
    TCanvasBuffer clear(16, 16), opaque(16, 16);
    TMetaCanvas(clear.s).FillPolygons(square, TMetaFillRule::Alternate, brush, TMetaBackground{false, 0x0000FF00});
    TMetaCanvas(opaque.s).FillPolygons(square, TMetaFillRule::Alternate, brush, TMetaBackground{true, 0x0000FF00});
    int32_t ink = 0;
    for (int32_t y = 0; y < 16; ++y) {
      for (int32_t x = 0; x < 16; ++x) {
        const bool isInk = clear.At(x, y) == 0x00FF0000u;
        EXPECT_TRUE(isInk || clear.At(x, y) == kPaper);
        EXPECT_EQ(opaque.At(x, y), isInk ? 0x00FF0000u : 0x0000FF00u);
        // The pattern repeats every 8 pixels both ways, anchored to the surface.
        EXPECT_EQ(isInk, clear.At(x % 8, y % 8) == 0x00FF0000u);
        if (x < 8 && y < 8) ink += isInk;
      }
    }
    EXPECT_EQ(ink, tc.InkPerTile) << static_cast<int>(tc.Hatch);
  }
  // A null brush leaves everything as it was.
  TCanvasBuffer none(8, 8);
  TMetaCanvas(none.s).FillPolygons(square, TMetaFillRule::Winding, TMetaBrush{TMetaBrushStyle::Null, 0, {}},
                                   TMetaBackground{true, 0});
  for (uint32_t p : none.px) EXPECT_EQ(p, kPaper);
}

TEST(MetaCanvasPen, ThinLinesLeaveOutTheLastPixelAndDashesFollowTheBackgroundMode) {
  TCanvasBuffer c(40, 4);
  TMetaCanvas canvas(c.s);
  canvas.StrokePolyline({{0, 1}, {30, 1}}, false, TMetaPen{TMetaPenStyle::Solid, 0, 0x000000FF}, TMetaBackground{});
  for (int32_t x = 0; x < 40; ++x) EXPECT_EQ(c.At(x, 1), x < 30 ? 0x00FF0000u : kPaper) << x;

  // Dash: 18 on, 6 off, repeating; the gaps take the opaque background.
  canvas.StrokePolyline({{0, 2}, {39, 2}}, false, TMetaPen{TMetaPenStyle::Dash, 1, 0x000000FF},
                        TMetaBackground{true, 0x00FFFFFF});
  canvas.StrokePolyline({{0, 3}, {39, 3}}, false, TMetaPen{TMetaPenStyle::Dash, 1, 0x000000FF}, TMetaBackground{});
  for (int32_t x = 0; x < 39; ++x) {
    const bool on = x % 24 < 18;
    EXPECT_EQ(c.At(x, 2), on ? 0x00FF0000u : 0x00FFFFFFu) << x;
    EXPECT_EQ(c.At(x, 3), on ? 0x00FF0000u : kPaper) << x;
  }
  canvas.StrokePolyline({{0, 0}, {39, 0}}, false, TMetaPen{TMetaPenStyle::Null, 5, 0}, TMetaBackground{true, 0});
  for (int32_t x = 0; x < 40; ++x) EXPECT_EQ(c.At(x, 0), kPaper);
}

TEST(MetaCanvasPen, LinesFarLongerThanTheSurfaceKeepTheirCourseAndDashes) {
  // Two million pixels long, crossing a 40 x 8 surface: only the part inside
  // is walked, on the true line and with the dash phase of the whole line.
  TCanvasBuffer c(40, 8);
  TMetaCanvas(c.s).StrokePolyline({{-1000000, 4}, {1000000, 4}}, false, TMetaPen{TMetaPenStyle::Dash, 0, 0},
                                  TMetaBackground{});
  for (int32_t x = 0; x < 40; ++x) EXPECT_EQ(c.At(x, 4), (x + 1000000) % 24 < 18 ? 0u : kPaper) << x;
  TCanvasBuffer d(40, 40);
  TMetaCanvas(d.s).StrokePolyline({{-1000000, -999980}, {1000000, 1000020}}, false, TMetaPen{}, TMetaBackground{});
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 40; ++x) EXPECT_EQ(d.At(x, y) == 0u, std::abs(y - (x + 20)) == 0) << x << "," << y;
}

TEST(MetaCanvasPen, ClosedThinOutlinesCoverEveryCornerAndDiagonalsStepOnePixel) {
  TCanvasBuffer c(12, 12);
  TMetaCanvas canvas(c.s);
  canvas.StrokePolyline({{1, 1}, {8, 1}, {8, 6}, {1, 6}}, true, TMetaPen{}, TMetaBackground{});
  for (int32_t y = 0; y < 12; ++y) {
    for (int32_t x = 0; x < 12; ++x) {
      const bool border = x >= 1 && x <= 8 && y >= 1 && y <= 6 && (x == 1 || x == 8 || y == 1 || y == 6);
      EXPECT_EQ(c.At(x, y), border ? 0u : kPaper) << x << "," << y;
    }
  }
  TCanvasBuffer d(12, 12);
  TMetaCanvas(d.s).StrokePolyline({{0, 0}, {10, 10}}, false, TMetaPen{}, TMetaBackground{});
  for (int32_t y = 0; y < 12; ++y)
    for (int32_t x = 0; x < 12; ++x) EXPECT_EQ(d.At(x, y), x == y && x < 10 ? 0u : kPaper) << x << "," << y;
}

TEST(MetaCanvasPen, WidePensAreCentredOnThePixelsAndJoinRound) {
  TCanvasBuffer c(30, 30);
  TMetaCanvas canvas(c.s);
  canvas.StrokePolyline({{5, 10}, {20, 10}, {20, 25}}, false, TMetaPen{TMetaPenStyle::Dash, 3, 0x00FF0000},
                        TMetaBackground{true, 0x00FFFFFF});
  // Width 3 around row 10's centre: rows 9, 10 and 11, solid in spite of the
  // dash style.
  for (int32_t x = 6; x <= 18; ++x)
    for (int32_t y = 7; y <= 13; ++y) EXPECT_EQ(c.At(x, y) == 0x000000FFu, y >= 9 && y <= 11) << x << "," << y;
  // The vertical leg: columns 19..21 down to the end.
  for (int32_t y = 12; y <= 25; ++y)
    for (int32_t x = 16; x <= 24; ++x) EXPECT_EQ(c.At(x, y) == 0x000000FFu, x >= 19 && x <= 21) << x << "," << y;
  // The round cap reaches 1.5 pixels beyond the start, and the join leaves
  // no notch at the outer corner.
  EXPECT_EQ(c.At(4, 10), 0x000000FFu);
  EXPECT_EQ(c.At(3, 10), kPaper);
  EXPECT_EQ(c.At(21, 9), 0x000000FFu);
  EXPECT_EQ(c.At(22, 8), kPaper);
}

TEST(MetaCanvas, PixelsGetTheSurfaceLayoutWithAlphaZeroAndStayInsideTheClip) {
  TCanvasBuffer c(4, 4);
  TMetaCanvas canvas(c.s);
  const TPlatformRect clip{1, 1, 3, 3};
  canvas.SetClipRect(&clip);
  for (int32_t y = -1; y <= 4; ++y)
    for (int32_t x = -1; x <= 4; ++x) canvas.SetPixel(x, y, 0x00CCBBAA);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x)
      EXPECT_EQ(c.At(x, y), x >= 1 && x < 3 && y >= 1 && y < 3 ? 0x00AABBCCu : kPaper);
  canvas.SetClipRect(nullptr);
  canvas.SetPixel(0, 0, 0);
  EXPECT_EQ(c.At(0, 0), 0u);
}

TEST(MetaCanvas, StretchPixelsPicksTheSourcePixelUnderEachCentreAndMirrors) {
  const int32_t sw = 3, sh = 2;
  const std::vector<uint32_t> src{0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004, 0xFF000005, 0xFF000006};
  struct TCase {
    TPlatformRect Dest;
  };
  const TCase cases[] = {{{1, 1, 8, 6}}, {{8, 1, 1, 6}}, {{1, 6, 8, 1}}, {{0, 0, 2, 1}}, {{-3, -2, 9, 9}}};
  for (const TCase& tc : cases) {
    TCanvasBuffer c(10, 10);
    TMetaCanvas(c.s).StretchPixels(tc.Dest, src.data(), sw, sh);
    const int32_t l = std::min(tc.Dest.Left, tc.Dest.Right), r = std::max(tc.Dest.Left, tc.Dest.Right);
    const int32_t t = std::min(tc.Dest.Top, tc.Dest.Bottom), b = std::max(tc.Dest.Top, tc.Dest.Bottom);
    for (int32_t y = 0; y < 10; ++y) {
      for (int32_t x = 0; x < 10; ++x) {
        if (x < l || x >= r || y < t || y >= b) {
          EXPECT_EQ(c.At(x, y), kPaper);
          continue;
        }
        int32_t sx = static_cast<int32_t>(std::floor((x - l + 0.5) * sw / (r - l)));
        int32_t sy = static_cast<int32_t>(std::floor((y - t + 0.5) * sh / (b - t)));
        if (tc.Dest.Right < tc.Dest.Left) sx = sw - 1 - sx;
        if (tc.Dest.Bottom < tc.Dest.Top) sy = sh - 1 - sy;
        EXPECT_EQ(c.At(x, y), src[sy * sw + sx] & 0xFFFFFF) << x << "," << y;
      }
    }
  }
}

TEST(MetaCanvas, TextIsThePlatformsTextOverAnOptionalBackgroundCell) {
  TFont font;
  font.Size = 14;
  font.Color = 0x000000FF;
  TCanvasBuffer plain(120, 40), ours(120, 40), opaque(120, 40);
  PlatformTextOut(plain.s, 5, 6, "Hello", font, nullptr);
  TMetaCanvas(ours.s).TextOut({5, 6}, "Hello", font, TMetaBackground{});
  EXPECT_EQ(ours.px, plain.px);
  TMetaCanvas(opaque.s).TextOut({5, 6}, "Hello", font, TMetaBackground{true, 0x00FFFFFF});
  const TTextExtent e = PlatformTextExtent(font, "Hello");
  ASSERT_GT(e.cx, 10);
  int32_t ink = 0;
  for (int32_t y = 0; y < 40; ++y) {
    for (int32_t x = 0; x < 120; ++x) {
      const bool cell = x >= 5 && x < 5 + e.cx && y >= 6 && y < 6 + e.cy;
      if (!cell) {
        EXPECT_EQ(opaque.At(x, y), kPaper);
      } else {
        EXPECT_EQ(opaque.At(x, y) >> 24, 0u);
        ink += opaque.At(x, y) != 0x00FFFFFFu;
      }
    }
  }
  EXPECT_GT(ink, 20);
}

// The largest distance from points of the true curve to the polyline.
double Deviation(const std::vector<TMetaPoint>& poly, const std::vector<TMetaPoint>& truth) {
  double worst = 0;
  for (const TMetaPoint& p : truth) {
    double best = 1e300;
    for (size_t i = 0; i + 1 < poly.size(); ++i) {
      const TMetaPoint a = poly[i], b = poly[i + 1];
      const double dx = b.X - a.X, dy = b.Y - a.Y, l2 = dx * dx + dy * dy;
      double t = l2 > 0 ? ((p.X - a.X) * dx + (p.Y - a.Y) * dy) / l2 : 0;
      t = std::clamp(t, 0.0, 1.0);
      best = std::min(best, std::hypot(a.X + t * dx - p.X, a.Y + t * dy - p.Y));
    }
    worst = std::max(worst, best);
  }
  return worst;
}

TEST(MetaCanvasCurves, ArcsStayWithinAQuarterPixelAndEndOnTheRadials) {
  constexpr double kPi = std::numbers::pi;
  struct TCase {
    double Rx, Ry, Start, Sweep;
  };
  const TCase cases[] = {{100, 100, 0, 360}, {300, 40, 30, 100}, {50, 120, 200, -250}, {2, 3, 10, 45}};
  for (const TCase& tc : cases) {
    std::vector<TMetaPoint> arc;
    TMetaCanvas::AppendArc(arc, 400, 300, tc.Rx, tc.Ry, tc.Start, tc.Sweep);
    ASSERT_GE(arc.size(), 2u);
    // The ends lie on the rays at the start and end angles (y up on screen).
    for (auto [p, angle] : {std::pair{arc.front(), tc.Start}, std::pair{arc.back(), tc.Start + tc.Sweep}}) {
      const double a = angle * kPi / 180;
      const double cross = (p.X - 400) * -std::sin(a) - (p.Y - 300) * std::cos(a);
      EXPECT_NEAR(cross, 0, 1e-6);
      EXPECT_GT((p.X - 400) * std::cos(a) - (p.Y - 300) * std::sin(a), 0);
    }
    // Densely sampled points of the true arc (by the ellipse's parameter
    // between the two ends, walked the arc's way).
    std::vector<TMetaPoint> truth;
    const double t0 = std::atan2(-(arc.front().Y - 300) / tc.Ry, (arc.front().X - 400) / tc.Rx);
    double t1 = std::atan2(-(arc.back().Y - 300) / tc.Ry, (arc.back().X - 400) / tc.Rx);
    if (tc.Sweep > 0) {
      while (t1 <= t0) t1 += 2 * kPi;
    } else {
      while (t1 >= t0) t1 -= 2 * kPi;
    }
    for (int i = 0; i <= 2000; ++i) {
      const double t = t0 + (t1 - t0) * i / 2000;
      truth.push_back({400 + tc.Rx * std::cos(t), 300 - tc.Ry * std::sin(t)});
    }
    EXPECT_LE(Deviation(arc, truth), 0.25);
    EXPECT_LE(Deviation(truth, arc), 0.25);
  }
  // Hostile radii give a bounded number of points.
  std::vector<TMetaPoint> huge;
  TMetaCanvas::AppendArc(huge, 0, 0, 1e12, 1e12, 0, 360);
  EXPECT_LE(huge.size(), 20000u);
}

TEST(MetaCanvasCurves, BeziersStayWithinAQuarterPixel) {
  const TMetaPoint cases[][4] = {{{0, 0}, {100, 300}, {300, -200}, {400, 100}},
                                 {{10, 10}, {10, 10}, {20, 20}, {20, 20}},
                                 {{0, 0}, {1000, 0}, {0, 1000}, {1000, 1000}}};
  for (const auto& c : cases) {
    std::vector<TMetaPoint> out{c[0]};
    TMetaCanvas::AppendBezier(out, c[0], c[1], c[2], c[3]);
    EXPECT_EQ(out.back().X, c[3].X);
    EXPECT_EQ(out.back().Y, c[3].Y);
    std::vector<TMetaPoint> truth;
    for (int i = 0; i <= 4000; ++i) {
      const double t = i / 4000.0, u = 1 - t;
      truth.push_back({u * u * u * c[0].X + 3 * u * u * t * c[1].X + 3 * u * t * t * c[2].X + t * t * t * c[3].X,
                       u * u * u * c[0].Y + 3 * u * u * t * c[1].Y + 3 * u * t * t * c[2].Y + t * t * t * c[3].Y});
    }
    EXPECT_LE(Deviation(out, truth), 0.25);
  }
}

}  // namespace
