// TBitmap32 drawing primitives: the known answers of lines, stipple, blended
// fills and anti-aliased pixels; a differential test of the clipped line
// against the same line drawn unclipped; and property tests over random and
// extreme coordinates (nothing written outside the clip rectangle; measuring
// reports cover exactly what the drawing then touches).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "change_recorder.h"
#include "raster_blend.h"
#include "raster_core.h"

namespace {

constexpr TColor32 kInk = 0xFFFF0000u;
constexpr TColor32 kGround = 0xFF00FF00u;

std::vector<TColor32> Pixels(const TBitmap32& B) {
  return std::vector<TColor32>(B.Bits(), B.Bits() + B.PixelCount());
}

std::vector<TPoint> Inked(const TBitmap32& B, TColor32 Ground = 0) {
  std::vector<TPoint> r;
  for (int32_t y = 0; y < B.Height(); ++y)
    for (int32_t x = 0; x < B.Width(); ++x)
      if (B.GetPixel(x, y) != Ground) r.push_back(TPoint{x, y});
  return r;
}

// Coordinates a caller may pass: ordinary ones near the bitmap, and the ends
// of the 32-bit range.
int32_t AnyCoord(std::mt19937& rng) {
  static const int32_t extremes[] = {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::min() + 1,
                                     -1000000000, -65536, 65536, 1000000000,
                                     std::numeric_limits<int32_t>::max() - 1, std::numeric_limits<int32_t>::max()};
  std::uniform_int_distribution<int> pick(0, 9);
  const int k = pick(rng);
  if (k < 2) return extremes[std::uniform_int_distribution<int>(0, 7)(rng)];
  return std::uniform_int_distribution<int32_t>(-40, 70)(rng);
}

// a * k wrapping like the 32-bit product, so extreme coordinates stay defined.
int32_t Scale(int32_t a, uint32_t k) { return static_cast<int32_t>(static_cast<uint32_t>(a) * k); }

// Every clipped primitive, chosen by Op, with four coordinates and a colour.
void DrawClipped(TBitmap32& B, int Op, int32_t a, int32_t b, int32_t c, int32_t d, TColor32 C) {
  switch (Op) {
    case 0: B.HorzLineClipped(a, b, c, C); break;
    case 1: B.HorzLineBlendClipped(a, b, c, C); break;
    case 2: B.HorzLineStipple(a, b, c); break;
    case 3: B.VertLineClipped(a, b, c, C); break;
    case 4: B.VertLineBlendClipped(a, b, c, C); break;
    case 5: B.VertLineStipple(a, b, c); break;
    case 6: B.LineClipped(a, b, c, d, C, (a & 1) != 0); break;
    case 7: B.LineBlendClipped(a, b, c, d, C, (b & 1) != 0); break;
    case 8: B.LineFixedClipped(Scale(a, 4096), Scale(b, 4096), Scale(c, 4096), Scale(d, 4096), C, (c & 1) != 0); break;
    case 9: B.LineFixedClipped(a, b, c, d, C, false); break;
    case 10: B.FillRectClipped(a, b, c, d, C); break;
    case 11: B.FillRectBlendClipped(a, b, c, d, C); break;
    case 12: B.FrameRectClipped(a, b, c, d, C); break;
    case 13: B.FrameRectBlendClipped(a, b, c, d); break;
    case 14: B.SetPixelClipped(a, b, C); break;
    case 15: B.SetPixelBlendClipped(a, b, C); break;
    case 16: B.SetPixel256Clipped(Scale(a, 64), Scale(b, 64), C); break;
    case 17: B.SetPixelFixedClipped(Scale(a, 16384), Scale(b, 16384), C); break;
    case 18: B.MoveTo(a, b); B.LineToClipped(c, d); B.LineToBlend(a, d); break;
    case 19: B.MoveToFixed(Scale(a, 8192), Scale(b, 8192)); B.LineToSmooth(Scale(c, 8192), Scale(d, 8192)); break;
  }
}
constexpr int kOps = 20;

}  // namespace

TEST(DrawLine, EndPixelOnlyWithL) {
  TBitmap32 b;
  b.SetSize(6, 3);
  b.LineClipped(0, 0, 3, 0, kInk, false);
  EXPECT_EQ(Inked(b), (std::vector<TPoint>{{0, 0}, {1, 0}, {2, 0}}));
  b.Clear(0);
  b.LineClipped(0, 0, 3, 0, kInk, true);
  EXPECT_EQ(Inked(b), (std::vector<TPoint>{{0, 0}, {1, 0}, {2, 0}, {3, 0}}));
  b.Clear(0);
  b.LineClipped(0, 2, 3, 0, kInk, true);  // a general line keeps both ends too
  const auto p = Inked(b);
  EXPECT_EQ(p.size(), 4u);
  EXPECT_TRUE(std::find(p.begin(), p.end(), TPoint{0, 2}) != p.end());
  EXPECT_TRUE(std::find(p.begin(), p.end(), TPoint{3, 0}) != p.end());
}

TEST(DrawLine, ClippedDiagonalAndLinesOutside) {
  TBitmap32 b;
  b.SetSize(10, 10);
  b.LineClipped(-5, -5, 20, 20, kInk, false);
  std::vector<TPoint> diagonal;
  for (int i = 0; i < 10; ++i) diagonal.push_back(TPoint{i, i});
  EXPECT_EQ(Inked(b), diagonal);

  TBitmap32 c;
  c.SetSize(10, 10);
  int areas = 0;
  c.OnAreaChanged = [&](TBitmap32*, const TRect&, uint32_t) { ++areas; };
  c.LineClipped(-20, 3, -1, 15, kInk, true);
  c.LineClipped(30, -7, 12, 40, kInk, true);
  c.LineBlendClipped(-5, 12, 20, 30, kInk, true);
  EXPECT_TRUE(Inked(c).empty());
  EXPECT_EQ(areas, 0);
}

// The clipping solves for the entry and exit pixels; drawing the same line
// without any clipping on a bitmap large enough must give the same pixels
// inside the clip rectangle. Catches off-by-one entry, exit and end pixels.
TEST(DrawLine, ClippedLineMatchesUnclippedLine) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int32_t> coord(0, 59), clipc(5, 54);
  for (int iter = 0; iter < 4000; ++iter) {
    const int32_t x1 = coord(rng), y1 = coord(rng), x2 = coord(rng), y2 = coord(rng);
    const bool l = (iter & 1) != 0, blend = (iter & 2) != 0;
    int32_t cl = clipc(rng), cr = clipc(rng), ct = clipc(rng), cb = clipc(rng);
    if (cl > cr) std::swap(cl, cr);
    if (ct > cb) std::swap(ct, cb);
    TBitmap32 ref, clipped;
    ref.SetSize(60, 60);
    clipped.SetSize(60, 60);
    clipped.SetClipRect(TRect{cl, ct, cr + 1, cb + 1});
    const TColor32 ink = blend ? 0x80FF0000u : kInk;
    if (blend) {
      ref.LineBlendClipped(x1, y1, x2, y2, ink, l);
      clipped.LineBlendClipped(x1, y1, x2, y2, ink, l);
    } else {
      ref.LineClipped(x1, y1, x2, y2, ink, l);
      clipped.LineClipped(x1, y1, x2, y2, ink, l);
    }
    for (int32_t y = 0; y < 60; ++y)
      for (int32_t x = 0; x < 60; ++x) {
        const bool inside = x >= cl && x <= cr && y >= ct && y <= cb;
        const TColor32 want = inside ? ref.GetPixel(x, y) : 0u;
        ASSERT_EQ(clipped.GetPixel(x, y), want)
            << "line (" << x1 << "," << y1 << ")-(" << x2 << "," << y2 << ") L=" << l << " clip (" << cl << ","
            << ct << ")-(" << cr << "," << cb << ") at " << x << "," << y;
      }
  }
}

TEST(DrawLine, ConsecutiveLineToBlendsSharedPointsOnce) {
  TBitmap32 b;
  b.SetSize(20, 20);
  b.Clear(0xFF000000u);
  b.SetPenColor(0x80FFFFFFu);
  b.MoveTo(2, 2);
  b.LineToBlend(15, 2);
  b.LineToBlend(15, 15);
  b.LineToBlend(3, 9);
  std::vector<TColor32> seen;
  for (const TPoint& p : Inked(b, 0xFF000000u)) seen.push_back(b.GetPixel(p.X, p.Y));
  ASSERT_GT(seen.size(), 30u);
  for (TColor32 c : seen) EXPECT_EQ(c, seen[0]);  // a twice-blended corner would be lighter
  EXPECT_EQ(b.PenPos(), (TPoint{3, 9}));
}

TEST(DrawStipple, KnownColoursAndRunawayCounters) {
  TBitmap32 b;
  EXPECT_EQ(b.GetStippleColor(), 0xFF000000u);
  const TColor32 A = 0xFF0000FFu, B = 0xFFFFFF00u;
  b.SetStipple({A, B});
  b.SetStippleStep(0.5f);
  EXPECT_EQ(b.GetStippleColor(), A);
  EXPECT_EQ(b.GetStippleColor(), CombinePixels(A, B, 127));
  EXPECT_EQ(b.GetStippleColor(), B);  // round(0.5) is 0 and A's weight becomes 0

  // Enormous and non-finite steps must neither hang nor index outside the pattern.
  b.SetStippleStep(1e30f);
  b.AdvanceStipple(1e30f);
  b.GetStippleColor();
  EXPECT_TRUE(std::isfinite(b.StippleCounter()));
  b.SetStippleStep(std::numeric_limits<float>::quiet_NaN());
  b.AdvanceStipple(3);
  const TColor32 c = b.GetStippleColor();
  EXPECT_TRUE(c == A || c == B);
  b.SetStippleStep(1);
  b.SetStippleCounter(-1e-9f);  // reduces to just below the length
  const TColor32 d = b.GetStippleColor();
  EXPECT_TRUE(d == A || d == B || d == CombinePixels(B, A, 0));
}

// The pattern phase inside the clip rectangle does not depend on clipping.
TEST(DrawStipple, ClippedLinesKeepThePatternPhase) {
  std::vector<TColor32> pattern;
  for (int i = 0; i < 7; ++i) pattern.push_back(0xFF000000u | static_cast<TColor32>(i * 30 + 1));
  for (bool vertical : {false, true})
    for (bool reversed : {false, true}) {
      TBitmap32 full, clipped;
      full.SetSize(30, 30);
      clipped.SetSize(30, 30);
      clipped.SetClipRect(TRect{8, 8, 19, 19});
      for (TBitmap32* b : {&full, &clipped}) {
        b->SetStipple(pattern);
        const int32_t from = reversed ? 27 : 2, to = reversed ? 2 : 27;
        if (vertical) {
          b->VertLineStipple(10, from, to);
          b->VertLineStipple(12, from, to);  // second line continues the phase
        } else {
          b->HorzLineStipple(from, 10, to);
          b->HorzLineStipple(from, 12, to);
        }
      }
      EXPECT_EQ(full.StippleCounter(), clipped.StippleCounter());
      for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 30; ++x) {
          const bool inside = x >= 8 && x < 19 && y >= 8 && y < 19;
          ASSERT_EQ(clipped.GetPixel(x, y), inside ? full.GetPixel(x, y) : 0u) << vertical << reversed << x << "," << y;
        }
    }
}

TEST(DrawRect, FramesVisitEveryBorderPixelOnce) {
  // Opaque-ish blended frame: a doubly blended pixel would differ.
  TBitmap32 b;
  b.SetSize(12, 12);
  b.Clear(0xFF000000u);
  b.FrameRectClipped(1, 2, 9, 7, 0x80FFFFFFu);
  const auto border = Inked(b, 0xFF000000u);
  EXPECT_EQ(border.size(), static_cast<size_t>(2 * 8 + 2 * 3));
  for (const TPoint& p : border) EXPECT_EQ(b.GetPixel(p.X, p.Y), b.GetPixel(1, 2));

  // Stippled frame: with as many colours as border pixels, each gets its own.
  for (const TRect& r : {TRect{1, 1, 7, 5}, TRect{3, 3, 4, 8}, TRect{2, 6, 9, 7}, TRect{5, 5, 6, 6},
                         TRect{4, 4, 6, 6}}) {
    TBitmap32 s;
    s.SetSize(12, 12);
    std::vector<TColor32> pattern;
    for (int i = 0; i < 64; ++i) pattern.push_back(0xFF000000u | static_cast<TColor32>(i + 1));
    s.SetStipple(pattern);
    s.FrameRectBlendClipped(r.Left, r.Top, r.Right, r.Bottom);
    const int32_t w = r.Right - r.Left, h = r.Bottom - r.Top;
    const size_t perimeter = (w == 1 || h == 1) ? static_cast<size_t>(w * h) : static_cast<size_t>(2 * (w + h) - 4);
    const auto pix = Inked(s);
    EXPECT_EQ(pix.size(), perimeter);
    std::vector<TColor32> colours;
    for (const TPoint& p : pix) colours.push_back(s.GetPixel(p.X, p.Y));
    std::sort(colours.begin(), colours.end());
    EXPECT_EQ(std::unique(colours.begin(), colours.end()), colours.end());
    EXPECT_EQ(colours.back(), 0xFF000000u | static_cast<TColor32>(perimeter));
    EXPECT_EQ(s.StippleCounter(), static_cast<float>(perimeter));
  }
}

TEST(DrawRect, BlendedFillAlphaExtremes) {
  TBitmap32 b;
  b.SetSize(4, 4);
  b.Clear(kGround);
  int areas = 0;
  b.OnAreaChanged = [&](TBitmap32*, const TRect&, uint32_t) { ++areas; };
  b.FillRectBlend(0, 0, 4, 4, 0x00FF0000u);
  EXPECT_EQ(areas, 0);
  for (TColor32 p : Pixels(b)) EXPECT_EQ(p, kGround);
  b.FillRectBlend(1, 1, 3, 3, 0xFF123456u);
  EXPECT_EQ(b.GetPixel(1, 1), 0xFF123456u);
  EXPECT_EQ(b.GetPixel(0, 0), kGround);
  b.FillRectBlend(0, 0, 1, 1, 0x80FF0000u);
  EXPECT_EQ(b.GetPixel(0, 0), CombinePixels(0x80FF0000u, kGround, 0x80));
  b.SetCombineMode(cmMerge);
  b.FillRectBlend(3, 3, 4, 4, 0x80FF0000u);
  EXPECT_EQ(b.GetPixel(3, 3), MergePixel(0x80FF0000u, kGround));
}

TEST(DrawPixel, AntiAliasedWritesAndReads) {
  TBitmap32 b;
  b.SetSize(5, 5);
  b.Clear(0xFF000000u);
  b.SetPixel256(2 << 8, 2 << 8, 0xFFFFFFFFu);
  EXPECT_EQ(b.GetPixel(2, 2), CombinePixels(0xFFFFFFFFu, 0xFF000000u, 253));
  EXPECT_EQ(b.GetPixel(3, 2), 0xFF000000u);
  EXPECT_EQ(b.GetPixel(2, 3), 0xFF000000u);
  EXPECT_EQ(b.GetPixel(3, 3), 0xFF000000u);

  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 5; ++x) b.SetPixel(x, y, 0xFF000000u | static_cast<TColor32>(x * 50 + y));
  b.SetOuterColor(0x11223344u);
  EXPECT_EQ(b.GetPixelBilinear(2.0f, 1.0f), b.GetPixel(2, 1));
  EXPECT_EQ(b.GetPixelBilinear(4.0f, 3.0f), b.GetPixel(4, 3));  // the last column, plain
  EXPECT_EQ(b.GetPixelBilinear(4.5f, 1.0f), 0x11223344u);
  EXPECT_EQ(b.GetPixelBilinear(-0.1f, 1.0f), 0x11223344u);
  EXPECT_EQ(b.GetPixelBilinear(std::nanf(""), 1.0f), 0x11223344u);
  EXPECT_EQ(b.GetPixelBilinear(1e30f, -1e30f), 0x11223344u);
  const TColor32 mid = b.GetPixelBilinear(1.5f, 1.0f);
  EXPECT_GT(BlueOf(mid), BlueOf(b.GetPixel(1, 1)));
  EXPECT_LT(BlueOf(mid), BlueOf(b.GetPixel(2, 1)));
}

// The 16.16 forms go to 24.8 as (v + 127) sar 8: a fraction below half a
// 24.8 step goes down, an exact half (0x80) too, and above it up.
TEST(DrawPixel, FixedPositionsRoundTo24Point8AtTheHalfStep) {
  TBitmap32 b;
  b.SetSize(6, 6);
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 6; ++x) b.SetPixel(x, y, 0xFF000000u | static_cast<TColor32>(x * 40 + y * 7));
  for (int32_t low : {0x00, 0x01, 0x7F, 0x80, 0x81, 0xFF})
    for (int32_t step : {0x1300, 0x13FF, 0x2080}) {
      const TFixed X = (1 << 16) + step + low - (step & 0xFF), Y = (2 << 16) + step + low - (step & 0xFF);
      const int32_t X256 = static_cast<int32_t>((int64_t{X} + 127) >> 8), Y256 = static_cast<int32_t>((int64_t{Y} + 127) >> 8);
      EXPECT_EQ(b.GetPixelFixed(X, Y), b.GetPixel256(X256, Y256)) << std::hex << X;
      EXPECT_EQ(b.GetPixelFixedClipped(X, Y), b.GetPixel256Clipped(X256, Y256)) << std::hex << X;
      TBitmap32 f, g;
      for (TBitmap32* t : {&f, &g}) {
        t->SetSize(6, 6);
        t->Clear(0xFF000000u);
      }
      f.SetPixelFixedClipped(X, Y, 0xFFFFFFFFu);
      g.SetPixel256Clipped(X256, Y256, 0xFFFFFFFFu);
      EXPECT_EQ(Pixels(f), Pixels(g)) << std::hex << X;
    }
}

TEST(DrawPixel, WrappedReadsAndEmptyClip) {
  TBitmap32 b;
  b.SetSize(4, 3);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 4; ++x) b.SetPixel(x, y, static_cast<TColor32>(10 * y + x));
  b.SetWrapMode(wmRepeat);
  EXPECT_EQ(b.GetPixelWrapped(-1, 0), 3u);
  EXPECT_EQ(b.GetPixelWrapped(4, 4), 10u);
  b.SetWrapMode(wmMirror);
  EXPECT_EQ(b.GetPixelWrapped(-1, -1), 0u);
  b.SetWrapMode(wmClamp);
  EXPECT_EQ(b.GetPixelWrapped(100, -100), 3u);
  EXPECT_EQ(b.GetPixelWrappedBilinear(1 << 16, 1 << 16), 11u);
  b.SetOuterColor(0xDEADBEEFu);
  b.SetClipRect(TRect{2, 1, 2, 3});  // zero width
  EXPECT_EQ(b.GetPixelWrapped(5, 5), 0xDEADBEEFu);
  EXPECT_EQ(b.GetPixelWrappedBilinear(5 << 16, 5 << 16), 0xDEADBEEFu);
  EXPECT_EQ(b.GetPixel256Clipped(2 << 8, 1 << 8), 0xDEADBEEFu);
}

// Every clipped primitive, fed random and extreme coordinates, leaves every
// pixel outside the clip rectangle alone.
TEST(DrawProperty, NothingIsWrittenOutsideTheClipRectangle) {
  std::mt19937 rng(777);
  for (int iter = 0; iter < 6000; ++iter) {
    TBitmap32 b;
    b.SetSize(40, 30);
    b.Clear(kGround);
    b.SetStipple({0xFFFF0000u, 0x80000000u, 0xFF0000FFu});
    const TRect clip{5, 4, 33, 21};
    b.SetClipRect(clip);
    const int op = iter % kOps;
    const int32_t a = AnyCoord(rng), c = AnyCoord(rng), d = AnyCoord(rng), e = AnyCoord(rng);
    DrawClipped(b, op, a, c, d, e, 0xC0FF0000u);
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 40; ++x)
        if (!PointInRect(clip, x, y))
          ASSERT_EQ(b.GetPixel(x, y), kGround) << "op " << op << " args " << a << " " << c << " " << d << " " << e;
  }
}

// What measuring reports covers what the drawing then touches, and measuring
// changes no pixel and no stipple state. The single-pixel setters (ops 14 to
// 17) are the unreported building blocks and take no part.
TEST(DrawProperty, MeasuringReportsCoverWhatDrawingTouches) {
  std::mt19937 rng(4242);
  std::uniform_int_distribution<int32_t> near(-8, 40);
  for (int iter = 0; iter < 6000; ++iter) {
    const int op = iter % kOps;
    if (op >= 14 && op <= 17) continue;
    const int32_t a = near(rng), c = near(rng), d = near(rng), e = near(rng);
    TBitmap32 b;
    b.SetSize(32, 24);
    b.Clear(kGround);
    b.SetStipple({0xFFFF0000u, 0xFF0000FFu});
    b.SetClipRect(TRect{2, 3, 29, 20});
    std::vector<std::pair<TRect, uint32_t>> measured;
    b.StartAreaReporting([&](TBitmap32*, const TRect& R, uint32_t Info) { measured.push_back({R, Info}); });
    DrawClipped(b, op, a, c, d, e, 0xC0FF0000u);
    b.StopAreaReporting();
    ASSERT_TRUE(std::all_of(b.Bits(), b.Bits() + b.PixelCount(), [](TColor32 p) { return p == kGround; }))
        << "op " << op;
    ASSERT_EQ(b.StippleCounter(), 0.0f) << "op " << op;

    DrawClipped(b, op, a, c, d, e, 0xC0FF0000u);
    auto covered = [&](int32_t x, int32_t y) {
      for (const auto& [r, info] : measured) {
        TRect n{std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::max(r.Left, r.Right),
                std::max(r.Top, r.Bottom)};
        if (info & AREAINFO_LINE) {
          // A line's end points, inclusive, widened by its width.
          const int32_t w = static_cast<int32_t>(info & 0xFFFF);
          n = TRect{n.Left - w, n.Top - w, n.Right + 1 + w, n.Bottom + 1 + w};
        }
        if (PointInRect(n, x, y)) return true;
      }
      return false;
    };
    for (const TPoint& p : Inked(b, kGround))
      ASSERT_TRUE(covered(p.X, p.Y)) << "op " << op << " args " << a << " " << c << " " << d << " " << e
                                     << " pixel " << p.X << "," << p.Y;
  }
}

// The clipped fill reports through the fill it runs and then once more; views
// rely only on the union, but the sequence is part of the bitmap's contract.
TEST(DrawNotify, ClippedFillReportsTheCutRectangleThenOnceMore) {
  TBitmap32 b;
  b.SetSize(10, 10);
  b.SetClipRect(TRect{2, 2, 8, 8});
  std::vector<TRect> reports;
  b.OnAreaChanged = [&](TBitmap32*, const TRect& r, uint32_t) { reports.push_back(r); };
  b.FillRectClipped(0, 0, 5, 5, kInk);
  ASSERT_EQ(reports.size(), 2u);
  for (const TRect& r : reports) EXPECT_EQ(r, (TRect{2, 2, 5, 5}));

  // A rectangle that misses the clip draws nothing and is reported as given.
  reports.clear();
  b.FillRectClipped(8, 8, 12, 12, kInk);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], (TRect{8, 8, 12, 12}));
  EXPECT_EQ(b.GetPixel(9, 9), 0u);
}

// Each drawing routine reports the area it changed: exactly the bounding box of
// the pixels it wrote (clipped forms: after clipping), so a view repaints all of
// them and no more. Semi-transparent values take the blending paths.
TEST(DrawNotify, EveryRoutineReportsTheAreaItChanged) {
  constexpr TColor32 kHalf = 0x80FF0000u;
  struct Case {
    const char* Name;
    std::function<void(TBitmap32&)> Draw;
    TRect Expected;
  };
  const Case cases[] = {
      {"HorzLineClipped", [](TBitmap32& b) { b.HorzLineClipped(0, 3, 9, kInk); }, {2, 3, 8, 4}},
      {"HorzLineClipped reversed", [](TBitmap32& b) { b.HorzLineClipped(9, 3, 4, kInk); }, {4, 3, 8, 4}},
      {"HorzLineBlendClipped", [](TBitmap32& b) { b.HorzLineBlendClipped(-5, 4, 6, kHalf); }, {2, 4, 7, 5}},
      {"VertLineClipped", [](TBitmap32& b) { b.VertLineClipped(3, 0, 9, kInk); }, {3, 2, 4, 8}},
      {"VertLineBlendClipped", [](TBitmap32& b) { b.VertLineBlendClipped(5, 4, 20, kHalf); }, {5, 4, 6, 8}},
      {"FillRect", [](TBitmap32& b) { b.FillRect(1, 1, 4, 4, kInk); }, {1, 1, 4, 4}},
      {"FillRectClipped", [](TBitmap32& b) { b.FillRectClipped(0, 0, 5, 5, kInk); }, {2, 2, 5, 5}},
      {"FillRectBlend", [](TBitmap32& b) { b.FillRectBlend(1, 1, 4, 4, kHalf); }, {1, 1, 4, 4}},
      {"FillRectBlend opaque", [](TBitmap32& b) { b.FillRectBlend(6, 6, 9, 8, kInk); }, {6, 6, 9, 8}},
      {"FillRectBlendClipped", [](TBitmap32& b) { b.FillRectBlendClipped(0, 3, 5, 9, kHalf); }, {2, 3, 5, 8}},
      {"FrameRectClipped", [](TBitmap32& b) { b.FrameRectClipped(3, 3, 6, 7, kInk); }, {3, 3, 6, 7}},
  };
  for (const Case& c : cases) {
    TBitmap32 b;
    b.SetSize(10, 10);
    b.Clear(kGround);
    b.SetClipRect(TRect{2, 2, 8, 8});
    const std::vector<TColor32> before = Pixels(b);
    TChangeRecorder rec;
    b.OnAreaChanged = rec.AreaListener();
    c.Draw(b);
    ASSERT_FALSE(rec.Events.empty()) << c.Name << " sent no notification";
    EXPECT_EQ(rec.Union(), c.Expected) << c.Name;
    // The pixels written span exactly the reported area.
    TRect written{10, 10, 0, 0};
    for (int32_t y = 0; y < 10; ++y)
      for (int32_t x = 0; x < 10; ++x)
        if (b.GetPixel(x, y) != before[static_cast<size_t>(y) * 10 + x]) {
          written.Left = std::min(written.Left, x);
          written.Top = std::min(written.Top, y);
          written.Right = std::max(written.Right, x + 1);
          written.Bottom = std::max(written.Bottom, y + 1);
        }
    EXPECT_EQ(written, c.Expected) << c.Name;
  }
}
