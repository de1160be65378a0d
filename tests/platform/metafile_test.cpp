// Windows metafile pictures: files written record by record here are sized
// from their headers, drawn stretched onto their destination (shapes
// compared with plain models at pixel centres, text with the platform's own
// text), found through the registry, and damaged files fail with the
// picture's own error.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform_metafile.h"
#include "platform_test_util.h"
#include "platform_text.h"
#include "wmf_writer.h"

namespace {

constexpr uint32_t kPaper = 0xFF123456;
constexpr int kNullPen = 5;

struct TSurfaceBuffer {
  TSurfaceBuffer(int32_t w, int32_t h) : px(static_cast<size_t>(w) * h, kPaper), s{px.data(), w, h} {}
  uint32_t At(int32_t x, int32_t y) const { return px[static_cast<size_t>(y) * s.Width + x]; }
  std::vector<uint32_t> px;
  TPixelSurface s;
};

TMetafile Load(const std::vector<uint8_t>& Bytes) {
  TMetafile m;
  m.LoadFromBytes(Bytes.data(), Bytes.size());
  return m;
}

// A 40 x 30 page (anisotropic, window extent) with a borderless shape.
TWmfWriter Page() {
  TWmfWriter w;
  w.MapMode(8).WindowOrg(0, 0).WindowExt(40, 30).Pen(kNullPen, 0, 0).Select(0).Brush(0, 0x000000FF).Select(1);
  return w;
}

TEST(Metafile, SizeComesFromThePlaceableHeaderTheWindowOrWhatIsDrawn) {
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
    int32_t Width, Height;
  };
  TWmfWriter shapes;
  shapes.Rectangle(10, 5, 70, 45).End();
  TWmfWriter twips;
  twips.MapMode(6).WindowExt(2880, 1440).Rectangle(0, 0, 100, 100).End();
  TWmfWriter drawnOnly;
  drawnOnly.Rectangle(12, 4, 103, 55).End();
  const TCase cases[] = {
      {"placeable, 1440 per inch", shapes.Bytes(0, 0, 1440, 720, 1440), 96, 48},
      {"placeable, 576 per inch", shapes.Bytes(0, 0, 1440, 720, 576), 240, 120},
      // 100 * 96 / 254 = 37.795...: rounded to the nearest pixel.
      {"placeable, odd box", shapes.Bytes(-50, 10, 50, 110, 254), 38, 38},
      {"window extent, anisotropic", Page().Rectangle(1, 1, 5, 5).End().Bytes(), 40, 30},
      {"window extent in twips", twips.Bytes(), 192, 96},
      {"only the drawing", drawnOnly.Bytes(), 103, 55},
  };
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.Name);
    const TMetafile m = Load(tc.Bytes);
    EXPECT_EQ(m.Width(), tc.Width);
    EXPECT_EQ(m.Height(), tc.Height);
    EXPECT_TRUE(m.Transparent());
    EXPECT_EQ(m.ClassName(), "TMetafile");
  }
  // A file that draws nothing and names no size is an empty picture.
  EXPECT_TRUE(Load(TWmfWriter().End().Bytes()).Empty());
}

TEST(Metafile, RectanglesLandOnTheDestinationAtEveryScaleAndLeaveTheRestAlone) {
  const TMetafile m = Load(Page().Rectangle(5, 6, 25, 20).End().Bytes());
  struct TCase {
    TPlatformRect Dest;
    int32_t SurfaceW, SurfaceH;
  };
  const TCase cases[] = {{{0, 0, 40, 30}, 40, 30}, {{0, 0, 80, 60}, 80, 60}, {{3, 2, 23, 17}, 30, 20}};
  for (const TCase& tc : cases) {
    TSurfaceBuffer b(tc.SurfaceW, tc.SurfaceH);
    m.Draw(b.s, tc.Dest);
    const double sx = (tc.Dest.Right - tc.Dest.Left) / 40.0, sy = (tc.Dest.Bottom - tc.Dest.Top) / 30.0;
    for (int32_t y = 0; y < tc.SurfaceH; ++y) {
      for (int32_t x = 0; x < tc.SurfaceW; ++x) {
        // Pixel centres inside the mapped rectangle, in picture units.
        const double px = (x + 0.5 - tc.Dest.Left) / sx, py = (y + 0.5 - tc.Dest.Top) / sy;
        const bool in = px >= 5 && px < 25 && py >= 6 && py < 20;
        ASSERT_EQ(b.At(x, y), in ? 0x00FF0000u : kPaper) << x << "," << y << " dest " << tc.Dest.Right;
      }
    }
  }
}

bool InsidePolygon(const std::vector<std::pair<int, int>>& P, double px, double py, bool winding) {
  int crossings = 0, turns = 0;
  for (size_t i = 0; i < P.size(); ++i) {
    const auto [ax, ay] = P[i];
    const auto [bx, by] = P[(i + 1) % P.size()];
    if ((ay <= py) == (by <= py)) continue;
    const double x = ax + (py - ay) / double(by - ay) * (bx - ax);
    if (x <= px) {
      ++crossings;
      turns += by > ay ? 1 : -1;
    }
  }
  return winding ? turns != 0 : (crossings & 1) != 0;
}

TEST(Metafile, PolygonsFollowTheFileFillMode) {
  // A five-pointed star: its centre is a hole by the alternate rule only.
  const std::vector<std::pair<int, int>> star{{20, 1}, {32, 28}, {3, 10}, {37, 10}, {8, 28}};
  for (int mode : {1, 2}) {
    SCOPED_TRACE(mode);
    const TMetafile m = Load(Page().PolyFillMode(mode).Polygon(star).End().Bytes());
    TSurfaceBuffer b(40, 30);
    m.Draw(b.s, {0, 0, 40, 30});
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 40; ++x)
        ASSERT_EQ(b.At(x, y), InsidePolygon(star, x + 0.5, y + 0.5, mode == 2) ? 0x00FF0000u : kPaper) << x << "," << y;
  }
}

TEST(Metafile, EllipsesAndPenOutlinesStayOnTheirShapes) {
  const TMetafile m = Load(Page().Ellipse(4, 3, 36, 27).End().Bytes());
  TSurfaceBuffer b(80, 60);
  m.Draw(b.s, {0, 0, 80, 60});
  int32_t far = 0;
  for (int32_t y = 0; y < 60; ++y) {
    for (int32_t x = 0; x < 80; ++x) {
      const double u = (x + 0.5 - 40) / 32, v = (y + 0.5 - 30) / 24;
      const double r = std::sqrt(u * u + v * v);
      const bool ink = b.At(x, y) == 0x00FF0000u;
      EXPECT_TRUE(ink || b.At(x, y) == kPaper);
      // Away from the edge (more than a pixel) the model decides.
      if (std::fabs(r - 1) * 24 > 1.0) far += ink != (r < 1);
    }
  }
  EXPECT_EQ(far, 0);

  // A one-pixel black pen round a hollow rectangle: just its border.
  TWmfWriter w;
  w.MapMode(8).WindowExt(20, 20).Pen(0, 1, 0).Select(0).Brush(1, 0).Select(1).Rectangle(2, 3, 12, 9).End();
  TSurfaceBuffer o(20, 20);
  Load(w.Bytes()).Draw(o.s, {0, 0, 20, 20});
  for (int32_t y = 0; y < 20; ++y) {
    for (int32_t x = 0; x < 20; ++x) {
      const bool border = x >= 2 && x <= 11 && y >= 3 && y <= 8 && (x == 2 || x == 11 || y == 3 || y == 8);
      EXPECT_EQ(o.At(x, y), border ? 0u : kPaper) << x << "," << y;
    }
  }
}

TEST(Metafile, PiesRunCounterClockwiseFromTheStartRadialToTheEndOne) {
  constexpr double kPi = 3.14159265358979323846;
  struct TCase {
    int StartX, StartY, EndX, EndY;
    double From, To;  // the covered angles, degrees counter-clockwise from east
  };
  const TCase cases[] = {{40, 20, 20, 0, 0, 90}, {20, 0, 40, 20, 90, 360}, {0, 20, 40, 40, 180, 315}};
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.From);
    TWmfWriter w;
    w.MapMode(8).WindowExt(40, 40).Pen(kNullPen, 0, 0).Select(0).Brush(0, 0x000000FF).Select(1);
    w.Record(0x081A, {tc.EndY, tc.EndX, tc.StartY, tc.StartX, 40, 40, 0, 0}).End();
    TSurfaceBuffer b(40, 40);
    Load(w.Bytes()).Draw(b.s, {0, 0, 40, 40});
    int32_t checked = 0;
    for (int32_t y = 0; y < 40; ++y) {
      for (int32_t x = 0; x < 40; ++x) {
        const double dx = x + 0.5 - 20, dy = 20 - (y + 0.5);
        double a = std::atan2(dy, dx) * 180 / kPi;
        if (a < 0) a += 360;
        // Only pixels clear of the rim and of both radials are decided.
        const double r = std::hypot(dx, dy);
        const double margin = 2.5 * 180 / kPi / std::max(r, 1.0);
        if (std::fabs(r - 19.5) < 2 || r < 3 || std::fabs(a - tc.From) < margin || std::fabs(a - tc.To) < margin ||
            std::fabs(a - tc.To + 360) < margin || std::fabs(a - tc.From + 360) < margin) {
          continue;
        }
        const bool in = r < 19.5 && a >= tc.From && a <= tc.To;
        EXPECT_EQ(b.At(x, y) == 0x00FF0000u, in) << x << "," << y;
        ++checked;
      }
    }
    EXPECT_GT(checked, 900);
  }
}

TEST(Metafile, PenWidthsScaleWithThePictureButHairlinesStayOnePixel) {
  struct TCase {
    int Width;        // in logical units
    int32_t Pixels;   // across the left border at four times the size
  };
  for (const TCase tc : {TCase{0, 1}, TCase{1, 1}, TCase{3, 12}, TCase{5, 20}}) {
    SCOPED_TRACE(tc.Width);
    TWmfWriter w;
    w.MapMode(8).WindowExt(20, 20).Pen(0, tc.Width, 0x000000FF).Select(0).Brush(1, 0).Select(1);
    w.Rectangle(5, 5, 15, 15).End();
    TSurfaceBuffer b(80, 80);
    Load(w.Bytes()).Draw(b.s, {0, 0, 80, 80});
    int32_t ink = 0;
    for (int32_t x = 0; x < 40; ++x) ink += b.At(x, 40) == 0x00FF0000u;
    EXPECT_EQ(ink, tc.Pixels);
  }
}

TEST(Metafile, TextIsThePlatformsTextAtTheRecordsAlignment) {
  TFont font;
  font.Name = "Arial";
  font.Size = 15;  // a 20-pixel character height
  font.Color = 0x00FF0000;
  const TTextExtent e = PlatformTextExtent(font, "Hello");
  const TTextMetrics tm = PlatformTextMetrics(font);
  struct TCase {
    int Align;
    int32_t Left, Top;  // where the cell must land for a reference point at (60, 30)
  };
  const TCase cases[] = {{0, 60, 30},
                         {0x18, 60, 30 - tm.Ascent},
                         {0x06, 60 - e.cx / 2, 30},
                         {0x02, 60 - e.cx, 30},
                         {0x08 | 0x02, 60 - e.cx, 30 - tm.Height}};
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.Align);
    TWmfWriter w;
    w.MapMode(8).WindowExt(120, 80).Font(-20, "Arial").Select(0).TextColor(0x00FF0000).BkMode(1).TextAlign(tc.Align);
    w.TextOut(60, 30, "Hello").End();
    const TMetafile m = Load(w.Bytes());
    TSurfaceBuffer ours(120, 80), want(120, 80);
    m.Draw(ours.s, {0, 0, 120, 80});
    PlatformTextOut(want.s, tc.Left, tc.Top, "Hello", font, nullptr);
    EXPECT_EQ(ours.px, want.px);
  }
  // Clipped to its rectangle, with the rectangle filled first when opaque.
  for (int options : {4, 6}) {
    SCOPED_TRACE(options);
    TWmfWriter w;
    w.MapMode(8).WindowExt(120, 80).Font(-20, "Arial").Select(0).TextColor(0x00FF0000).BkMode(1);
    w.ExtTextOut(60, 30, options, 50, 25, 75, 45, "Hello").End();
    TSurfaceBuffer ours(120, 80), want(120, 80);
    Load(w.Bytes()).Draw(ours.s, {0, 0, 120, 80});
    const TPlatformRect clip{50, 25, 75, 45};
    if (options & 2) {
      for (int32_t y = 25; y < 45; ++y)
        for (int32_t x = 50; x < 75; ++x) want.px[static_cast<size_t>(y) * 120 + x] = 0x00FFFFFF;
    }
    PlatformTextOut(want.s, 60, 30, "Hello", font, &clip);
    EXPECT_EQ(ours.px, want.px);
  }
}

TEST(Metafile, DamagedFilesFailWithThePicturesError) {
  const std::vector<uint8_t> good = Page().Rectangle(1, 1, 9, 9).End().Bytes();
  const size_t first = 18;  // the first record
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
  };
  auto patched = [&](size_t at, std::vector<uint8_t> with) {
    std::vector<uint8_t> b = good;
    std::copy(with.begin(), with.end(), b.begin() + static_cast<ptrdiff_t>(at));
    return b;
  };
  // The count of the record right after the page's set-up records.
  const size_t afterPage = Page().Bytes().size() + 6;
  std::vector<uint8_t> polygon = Page().Polygon({{1, 1}, {9, 1}, {5, 9}}).End().Bytes();
  polygon[afterPage] = 4;  // one point more than the record holds
  std::vector<uint8_t> text = Page().TextOut(1, 1, "abc").End().Bytes();
  text[afterPage] = 10;  // a string longer than its record
  const TCase cases[] = {
      {"empty", {}},
      {"header cut short", std::vector<uint8_t>(good.begin(), good.begin() + 10)},
      {"wrong version", patched(4, {0x00, 0x02})},
      {"record of size 0", patched(first, {0, 0, 0, 0})},
      {"record running past the end", patched(first, {0xFF, 0x7F, 0, 0})},
      {"unknown record", patched(first + 4, {0x99, 0x09})},
      {"polygon with more points than its record", polygon},
      {"text longer than its record", text},
      {"placeable header with no units per inch", TWmfWriter().End().Bytes(0, 0, 10, 10, 1) /* patched below */},
      {"not a metafile", {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.Name);
    std::vector<uint8_t> bytes = tc.Bytes;
    if (std::string(tc.Name).starts_with("placeable")) bytes[14] = bytes[15] = 0;
    TMetafile m;
    try {
      m.LoadFromBytes(bytes.data(), bytes.size());
      ADD_FAILURE() << "loaded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "Metafile is not valid");
    }
  }
  // The undamaged file loads, and a file that stops cleanly without its
  // end record is read as if it had one.
  EXPECT_EQ(Load(good).Width(), 40);
  EXPECT_EQ(Load(std::vector<uint8_t>(good.begin(), good.end() - 6)).Width(), 40);
}

TEST(Metafile, RegionsAndDeviceBitmapsAreLeftOutButObjectNumbersStay) {
  // Object 0 is a region, object 1 the red brush the rectangle is filled with.
  TWmfWriter w;
  w.MapMode(8).WindowExt(20, 20).Region(20, 20);
  w.Brush(0, 0x000000FF).Pen(kNullPen, 0, 0).Select(1).Select(2);
  w.Record(0x012B, {0}).Record(0x012C, {0});  // paint and clip by the region
  w.Record(0x0922, {0x20, 0xCC, 0, 0, 4, 4, 0, 0});  // a device-dependent bitmap copy
  w.Rectangle(2, 2, 6, 6).End();
  TSurfaceBuffer b(20, 20);
  Load(w.Bytes()).Draw(b.s, {0, 0, 20, 20});
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 20; ++x)
      EXPECT_EQ(b.At(x, y), x >= 2 && x < 6 && y >= 2 && y < 6 ? 0x00FF0000u : kPaper) << x << "," << y;
}

TEST(Metafile, TheRegistryOpensWmfFilesAsMetafiles) {
  RegisterBuiltinPictureFormats();
  const TPictureFormat* f = FindFileFormat(".WMF");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->Description, "Metafiles");
  EXPECT_EQ(f->GraphicClassName, "TMetafile");
  TTempDir dir;
  WriteAll(dir.File("a.wmf"), Page().Rectangle(0, 0, 40, 30).End().Bytes());
  TPicture p;
  p.LoadFromFile(dir.File("a.wmf"));
  ASSERT_NE(p.Graphic(), nullptr);
  EXPECT_EQ(p.Graphic()->ClassName(), "TMetafile");
  EXPECT_EQ(p.Width(), 40);
  EXPECT_EQ(p.Height(), 30);
}

}  // namespace
