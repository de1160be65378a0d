// Enhanced metafiles written record by record here, played and compared with
// coverage worked out independently: boxes by mapping arithmetic, polygons
// and ellipses by point tests at the pixel centres, bitmaps by block
// replication; sizes from the header, and damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "emf_writer.h"
#include "platform_emf.h"
#include "platform_metafile.h"
#include "platform_text.h"

namespace {

using namespace emr;

constexpr uint32_t kPaper = 0xFF0A0B0C;
constexpr uint32_t kRed = 0x0000FF, kBlue = 0xFF0000, kGreen = 0x00FF00;  // 0x00BBGGRR
// The surface's 0x00RRGGBB of a 0x00BBGGRR colour.
uint32_t OnSurface(uint32_t c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

// A solid brush of Color made in slot 1 and selected, with the null pen.
void SolidNoPen(TEmfWriter& W, uint32_t Color) {
  W.Rec(CREATEBRUSH, {1, 0, int32_t(Color), 0}).Rec(SELECTOBJECT, {1}).Rec(SELECTOBJECT, {kNullPen});
}

struct TSurface {
  TSurface(int32_t w, int32_t h, uint32_t fill = kPaper) : px(size_t(w) * h, fill), s{px.data(), w, h} {}
  uint32_t At(int32_t x, int32_t y) const { return px[size_t(y) * s.Width + x] & 0x00FFFFFF; }
  std::vector<uint32_t> px;
  TPixelSurface s;
};

TSurface Play(const std::vector<uint8_t>& File, int32_t W, int32_t H, TPlatformRect Dest = {0, 0, 0, 0}) {
  TEmfPicture pic;
  pic.LoadFromBytes(File.data(), File.size());
  TSurface out(W, H);
  TMetaCanvas canvas(out.s);
  if (Dest.Right == 0) Dest = TPlatformRect{0, 0, W, H};
  pic.Play(canvas, out.s, Dest);
  return out;
}

// Every pixel is Color inside the box [L, R) x [T, B) and untouched outside.
void ExpectBox(const TSurface& S, int32_t L, int32_t T, int32_t R, int32_t B, uint32_t Color, const std::string& Why) {
  int bad = 0;
  for (int32_t y = 0; y < S.s.Height; ++y)
    for (int32_t x = 0; x < S.s.Width; ++x) {
      const bool in = x >= L && x < R && y >= T && y < B;
      const uint32_t want = in ? OnSurface(Color) : (kPaper & 0x00FFFFFF);
      if (S.At(x, y) != want && bad++ < 3) ADD_FAILURE() << Why << " at " << x << "," << y << ": " << std::hex << S.At(x, y) << " not " << want;
    }
}

TEST(EmfPlay, MappingModesPlaceTheFilledRectangle) {
  // A rectangle drawn without a pen covers its box less the right column and
  // the bottom row; the expected boxes are the mapping's arithmetic.
  struct TCase {
    const char* Name;
    std::function<void(TEmfWriter&)> Setup;
    int32_t Rect[4];
    int32_t Expected[4];
    TPlatformRect Dest;
    int32_t DevPerMm = 10;
  };
  const TCase cases[] = {
      {"text", [](TEmfWriter&) {}, {2, 3, 9, 7}, {2, 3, 8, 6}, {}},
      {"reversed corners", [](TEmfWriter&) {}, {9, 7, 2, 3}, {2, 3, 8, 6}, {}},
      {"anisotropic x2 y3",
       [](TEmfWriter& w) { w.Rec(SETMAPMODE, {8}).Rec(SETWINDOWEXTEX, {10, 10}).Rec(SETVIEWPORTEXTEX, {20, 30}); },
       {1, 1, 5, 4}, {2, 3, 9, 11}, {}},
      {"isotropic keeps the smaller scale",
       [](TEmfWriter& w) { w.Rec(SETMAPMODE, {7}).Rec(SETWINDOWEXTEX, {10, 10}).Rec(SETVIEWPORTEXTEX, {40, 20}); },
       {1, 1, 5, 5}, {2, 2, 9, 9}, {}},
      {"origins",
       [](TEmfWriter& w) {
         w.Rec(SETMAPMODE, {8}).Rec(SETWINDOWEXTEX, {1, 1}).Rec(SETVIEWPORTEXTEX, {2, 2});
         w.Rec(SETWINDOWORGEX, {10, 10}).Rec(SETVIEWPORTORGEX, {4, 1});
       },
       {11, 12, 14, 15}, {6, 5, 11, 10}, {}},
      {"y-up viewport",
       [](TEmfWriter& w) { w.Rec(SETMAPMODE, {8}).Rec(SETWINDOWEXTEX, {1, -1}).Rec(SETVIEWPORTORGEX, {0, 20}); },
       {3, 4, 8, 10}, {3, 10, 7, 15}, {}},
      // 10 pixels per mm: a low-metric unit (0.1 mm) is one pixel, y up.
      {"low metric", [](TEmfWriter& w) { w.Rec(SETMAPMODE, {2}); }, {2, -3, 7, -8}, {2, 3, 6, 7}, {}},
      // 100 pixels per mm: a high-metric unit (0.01 mm) is one pixel.
      {"high metric", [](TEmfWriter& w) { w.Rec(SETMAPMODE, {3}); }, {1, -2, 6, -9}, {1, 2, 5, 8}, {}, 100},
      {"world scale and shift",
       [](TEmfWriter& w) {
         w.Rec(SETWORLDTRANSFORM, {FloatBits(2), 0, 0, FloatBits(3), FloatBits(1), FloatBits(2)});
       },
       {1, 1, 4, 3}, {3, 5, 8, 10}, {}},
      {"world right multiply",
       [](TEmfWriter& w) {
         w.Rec(SETWORLDTRANSFORM, {FloatBits(2), 0, 0, FloatBits(2), 0, 0});
         w.Rec(MODIFYWORLDTRANSFORM, {FloatBits(1), 0, 0, FloatBits(1), FloatBits(3), FloatBits(1), 3});
       },
       {1, 1, 4, 3}, {5, 3, 10, 6}, {}},
      {"world reset", [](TEmfWriter& w) {
         w.Rec(SETWORLDTRANSFORM, {FloatBits(5), 0, 0, FloatBits(5), 0, 0});
         w.Rec(MODIFYWORLDTRANSFORM, {0, 0, 0, 0, 0, 0, 1});
       }, {2, 3, 9, 7}, {2, 3, 8, 6}, {}},
      // The frame (20 x 16 pixels) stretched into twice its width, shifted.
      {"destination stretch", [](TEmfWriter&) {}, {2, 3, 9, 7}, {8, 5, 21, 8}, {4, 2, 44, 18}},
  };
  for (const TCase& c : cases) {
    TEmfWriter w(20, 16, 8, c.DevPerMm);
    SolidNoPen(w, kRed);
    c.Setup(w);
    w.Rec(RECTANGLE, {c.Rect[0], c.Rect[1], c.Rect[2], c.Rect[3]});
    const TSurface s = Play(w.Finish(), 48, 24, c.Dest.Right ? c.Dest : TPlatformRect{0, 0, 20, 16});
    ExpectBox(s, c.Expected[0], c.Expected[1], c.Expected[2], c.Expected[3], kRed, c.Name);
  }
}

TEST(EmfPlay, PenOutlinesTheRectangleInsideItsBox) {
  // A one-pixel pen runs along the first and last column and row of the
  // box; the brush fills what is inside.
  TEmfWriter w(16, 16);
  w.Rec(CREATEBRUSH, {1, 0, int32_t(kRed), 0}).Rec(SELECTOBJECT, {1});
  w.Rec(CREATEPEN, {2, 0, 0, 0, int32_t(kBlue)}).Rec(SELECTOBJECT, {2});
  w.Rec(RECTANGLE, {3, 2, 11, 9});
  const TSurface s = Play(w.Finish(), 16, 16);
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x) {
      const bool box = x >= 3 && x <= 10 && y >= 2 && y <= 8;
      const bool edge = box && (x == 3 || x == 10 || y == 2 || y == 8);
      const uint32_t want = edge ? OnSurface(kBlue) : box ? OnSurface(kRed) : (kPaper & 0xFFFFFF);
      ASSERT_EQ(s.At(x, y), want) << x << "," << y;
    }
}

// The plain rule at a point: crossings (alternate) or signed crossings
// (winding) of the edges to its left.
int Inside(const std::vector<std::vector<double>>& Polys, double X, double Y, bool Winding, bool& OnEdge) {
  int crossings = 0, winding = 0;
  for (const auto& p : Polys) {
    const size_t n = p.size() / 2;
    for (size_t i = 0; i < n; ++i) {
      const double ax = p[2 * i], ay = p[2 * i + 1], bx = p[2 * ((i + 1) % n)], by = p[2 * ((i + 1) % n) + 1];
      if ((ay <= Y) == (by <= Y)) continue;
      const double x = ax + (Y - ay) / (by - ay) * (bx - ax);
      if (std::abs(x - X) < 1e-6) OnEdge = true;
      if (x < X) ++crossings, winding += by > ay ? 1 : -1;
    }
  }
  return Winding ? winding != 0 : crossings & 1;
}

TEST(EmfPlay, PolygonsMatchThePointInPolygonModel) {
  // A self-crossing star (its middle is outside by the alternate rule and
  // inside by the winding rule) and a square with a square hole, in the
  // 32-bit, 16-bit and poly-polygon records.
  const std::vector<std::vector<double>> star{{20, 1, 32, 37, 1, 14, 39, 14, 8, 37}};
  const std::vector<std::vector<double>> holed{{2, 2, 30, 2, 30, 30, 2, 30}, {9, 9, 23, 9, 23, 23, 9, 23}};
  for (bool winding : {false, true})
    for (int form = 0; form < 3; ++form) {
      const auto& polys = form == 2 ? holed : star;
      TEmfWriter w(40, 40);
      SolidNoPen(w, kGreen);
      w.Rec(SETPOLYFILLMODE, {winding ? 2 : 1});
      if (form == 0) {
        std::vector<int32_t> p{0, 0, 40, 40, int32_t(polys[0].size() / 2)};
        for (double v : polys[0]) p.push_back(int32_t(v));
        w.Rec(POLYGON, p);
      } else {
        std::vector<int32_t> counts;
        std::vector<int16_t> pts;
        for (const auto& q : polys) {
          counts.push_back(int32_t(q.size() / 2));
          for (double v : q) pts.push_back(int16_t(v));
        }
        std::vector<int32_t> p{0, 0, 40, 40};
        if (form == 2) p.push_back(int32_t(counts.size()));
        p.push_back(int32_t(pts.size() / 2));
        if (form == 2) p.insert(p.end(), counts.begin(), counts.end());
        for (size_t i = 0; i < pts.size(); i += 2) p.push_back(int32_t(uint16_t(pts[i]) | (uint32_t(uint16_t(pts[i + 1])) << 16)));
        w.Rec(form == 2 ? POLYPOLYGON16 : POLYGON16, p);
      }
      const TSurface s = Play(w.Finish(), 40, 40);
      int compared = 0, inside = 0;
      for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x) {
          bool onEdge = false;
          const bool in = Inside(polys, x + 0.5, y + 0.5, winding, onEdge);
          if (onEdge) continue;
          ++compared, inside += in;
          ASSERT_EQ(s.At(x, y), in ? OnSurface(kGreen) : (kPaper & 0xFFFFFF))
              << "form " << form << " winding " << winding << " at " << x << "," << y;
        }
      EXPECT_GT(compared, 1500);
      EXPECT_GT(inside, 250);
    }
}

TEST(EmfPlay, EllipseFillsItsBoxLessTheLastRowAndColumn) {
  TEmfWriter w(40, 30);
  SolidNoPen(w, kBlue);
  w.Rec(ELLIPSE, {4, 3, 37, 26});
  const TSurface s = Play(w.Finish(), 40, 30);
  // Centre and radii of the box (4, 3) .. (36, 25).
  const double cx = 20, cy = 14, rx = 16, ry = 11;
  int compared = 0;
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 40; ++x) {
      const double d = std::hypot((x + 0.5 - cx) / rx, (y + 0.5 - cy) / ry);
      if (std::abs(d - 1) < 0.04) continue;  // within the flattening's reach of the curve
      ++compared;
      ASSERT_EQ(s.At(x, y), d < 1 ? OnSurface(kBlue) : (kPaper & 0xFFFFFF)) << x << "," << y;
    }
  EXPECT_GT(compared, 1000);
}

TEST(EmfPlay, PathFillEqualsTheSamePolygon) {
  // A path built from a move, lines and a closed figure fills as the polygon
  // through the same points; the clip then cuts a second fill.
  auto make = [](bool path) {
    TEmfWriter w(32, 32);
    SolidNoPen(w, kRed);
    if (path) {
      w.Rec(BEGINPATH, {}).Rec(MOVETOEX, {3, 2}).Rec(LINETO, {28, 6}).Rec(LINETO, {20, 29}).Rec(LINETO, {5, 21});
      w.Rec(CLOSEFIGURE, {}).Rec(ENDPATH, {}).Rec(FILLPATH, {0, 0, 32, 32});
    } else {
      w.Rec(POLYGON, {0, 0, 32, 32, 4, 3, 2, 28, 6, 20, 29, 5, 21});
    }
    return Play(w.Finish(), 32, 32);
  };
  const TSurface a = make(true), b = make(false);
  EXPECT_EQ(a.px, b.px);
  int red = 0;
  for (uint32_t p : a.px) red += (p & 0xFFFFFF) == OnSurface(kRed);
  EXPECT_GT(red, 250);
}

TEST(EmfPlay, ObjectsAndSavedStatesAreRestored) {
  // SAVEDC / RESTOREDC bring back the brush, the clip and the transform;
  // a stock null brush draws nothing; a deleted slot can be made again.
  TEmfWriter w(30, 20);
  w.Rec(CREATEBRUSH, {1, 0, int32_t(kRed), 0}).Rec(CREATEBRUSH, {2, 0, int32_t(kBlue), 0});
  w.Rec(SELECTOBJECT, {kNullPen}).Rec(SELECTOBJECT, {1}).Rec(SAVEDC, {});
  w.Rec(SELECTOBJECT, {2}).Rec(INTERSECTCLIPRECT, {0, 0, 2, 2});
  w.Rec(SETWORLDTRANSFORM, {FloatBits(9), 0, 0, FloatBits(9), 0, 0}).Rec(SAVEDC, {});
  w.Rec(RESTOREDC, {-2});
  w.Rec(RECTANGLE, {1, 1, 11, 6});  // red, unclipped, untransformed
  w.Rec(SELECTOBJECT, {kNullBrush}).Rec(RECTANGLE, {12, 1, 20, 6});
  w.Rec(DELETEOBJECT, {2}).Rec(CREATEBRUSH, {2, 0, int32_t(kGreen), 0}).Rec(SELECTOBJECT, {2});
  w.Rec(INTERSECTCLIPRECT, {0, 0, 25, 12}).Rec(RECTANGLE, {20, 10, 29, 19});
  const TSurface s = Play(w.Finish(), 30, 20);
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 30; ++x) {
      uint32_t want = kPaper & 0xFFFFFF;
      if (x >= 1 && x < 10 && y >= 1 && y < 5) want = OnSurface(kRed);
      if (x >= 20 && x < 25 && y >= 10 && y < 12) want = OnSurface(kGreen);
      ASSERT_EQ(s.At(x, y), want) << x << "," << y;
    }
}

// The same 3 x 2 picture as a DIB of each depth: a STRETCHDIBITS record
// (source rectangle counted from the bottom of a bottom-up DIB) drawing it
// at twice its size leaves 2 x 2 blocks.
std::vector<uint8_t> DibRecordBody(int Bits, bool TopDown, int32_t Dx, int32_t Dy, int32_t Dw, int32_t Dh) {
  const uint32_t rgb[2][3] = {{0xFF0000, 0x00FF00, 0x0000FF}, {0xFFFFFF, 0x000000, 0xFF0000}};  // rows, top first
  const uint32_t palette[4] = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00};
  auto index = [&](uint32_t c) {
    if (Bits == 1) return c == 0xFFFFFF ? 1 : 0;
    for (int i = 0; i < 4; ++i)
      if (palette[i] == c) return i;
    return 3;
  };
  const int colours = Bits <= 8 ? (Bits == 1 ? 2 : 4) : 0;
  const uint32_t stride = ((3 * Bits + 31) / 32) * 4;
  std::vector<uint8_t> bmi(40 + 4 * colours), bits(stride * 2);
  auto put = [](std::vector<uint8_t>& v, size_t at, uint32_t x) { std::memcpy(v.data() + at, &x, 4); };
  put(bmi, 0, 40), put(bmi, 4, 3), put(bmi, 8, TopDown ? uint32_t(-2) : 2), put(bmi, 12, 1 | (Bits << 16));
  put(bmi, 32, colours);
  for (int i = 0; i < colours; ++i) put(bmi, 40 + 4 * i, palette[i]);
  for (int r = 0; r < 2; ++r) {
    uint8_t* row = bits.data() + stride * (TopDown ? r : 1 - r);
    for (int x = 0; x < 3; ++x) {
      const uint32_t c = rgb[r][x];
      if (Bits == 24) row[3 * x] = c & 0xFF, row[3 * x + 1] = (c >> 8) & 0xFF, row[3 * x + 2] = c >> 16;
      else if (Bits == 32) std::memcpy(row + 4 * x, &c, 4);
      else if (Bits == 8) row[x] = uint8_t(index(c));
      else if (Bits == 4) row[x / 2] |= uint8_t(index(c) << (x % 2 ? 0 : 4));
      else row[0] |= uint8_t((index(c) & 1) << (7 - x));
    }
  }
  std::vector<int32_t> head{0, 0, 0, 0, Dx, Dy, 0, 0, 3, 2, 80, int32_t(bmi.size()), int32_t(80 + bmi.size()),
                            int32_t(bits.size()), 0, int32_t(0x00CC0020), Dw, Dh};
  std::vector<uint8_t> body(head.size() * 4);
  std::memcpy(body.data(), head.data(), body.size());
  body.insert(body.end(), bmi.begin(), bmi.end());
  body.insert(body.end(), bits.begin(), bits.end());
  return body;
}

TEST(EmfPlay, StretchedBitmapsOfEveryDepth) {
  const uint32_t rgb[2][3] = {{0xFF0000, 0x00FF00, 0x0000FF}, {0xFFFFFF, 0x000000, 0xFF0000}};
  for (int bits : {1, 4, 8, 24, 32})
    for (bool topDown : {false, true})
      for (bool mirrored : {false, true}) {
        TEmfWriter w(12, 8);
        w.Raw(STRETCHDIBITS, mirrored ? DibRecordBody(bits, topDown, 8, 1, -6, 4) : DibRecordBody(bits, topDown, 2, 1, 6, 4));
        const TSurface s = Play(w.Finish(), 12, 8);
        for (int32_t y = 0; y < 8; ++y)
          for (int32_t x = 0; x < 12; ++x) {
            uint32_t want = kPaper & 0xFFFFFF;
            if (x >= 2 && x < 8 && y >= 1 && y < 5) {
              const int sx = (x - 2) / 2;
              want = rgb[(y - 1) / 2][mirrored ? 2 - sx : sx];
              if (bits == 1 && want != 0xFFFFFF) want = 0;  // two colours only
              if (bits == 4 || bits == 8) want = want == 0x0000FF ? 0x00FF00 : want;  // blue is not in the palette
            }
            ASSERT_EQ(s.At(x, y), want) << bits << " bits, top-down " << topDown << ", mirrored " << mirrored << " at "
                                        << x << "," << y;
          }
      }
}

TEST(EmfPlay, BltRecordsCopyTheBitmapTopDownAndStretchIt) {
  // BITBLT copies the block at its size; STRETCHBLT doubles it. Both take
  // the source rectangle from the top of the picture whatever the DIB's
  // row order. The bitmap is the same 3 x 2 picture as above.
  const uint32_t rgb[2][3] = {{0xFF0000, 0x00FF00, 0x0000FF}, {0xFFFFFF, 0x000000, 0xFF0000}};
  for (bool stretch : {false, true})
    for (bool topDown : {false, true}) {
      const std::vector<uint8_t> dib = DibRecordBody(24, topDown, 0, 0, 3, 2);
      const std::vector<uint8_t> bmiAndBits(dib.begin() + 72, dib.end());
      const int32_t cbBmi = 40, head = stretch ? 100 : 92;
      std::vector<int32_t> p{0, 0, 0, 0, 2, 1, stretch ? 6 : 3, stretch ? 4 : 2, int32_t(0x00CC0020), 0, 0,
                             FloatBits(1), 0, 0, FloatBits(1), 0, 0, 0, 0, head + 8, cbBmi, head + 8 + cbBmi,
                             int32_t(bmiAndBits.size()) - cbBmi};
      if (stretch) p.insert(p.end(), {3, 2});
      std::vector<uint8_t> body(p.size() * 4);
      std::memcpy(body.data(), p.data(), body.size());
      body.insert(body.end(), bmiAndBits.begin(), bmiAndBits.end());
      TEmfWriter w(10, 6);
      w.Raw(stretch ? 77 : 76, body);
      const TSurface s = Play(w.Finish(), 10, 6);
      const int k = stretch ? 2 : 1;
      for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 10; ++x) {
          const bool in = x >= 2 && x < 2 + 3 * k && y >= 1 && y < 1 + 2 * k;
          ASSERT_EQ(s.At(x, y), in ? rgb[(y - 1) / k][(x - 2) / k] : (kPaper & 0xFFFFFF))
              << "stretch " << stretch << ", top-down " << topDown << " at " << x << "," << y;
        }
    }
}

TEST(EmfPlay, PieSweepsCounterClockwiseUnlessTheArcDirectionSaysOtherwise) {
  // A circle of radius 16 around (20, 20); the pie runs from the radial
  // through the east point to the one through the north point: the
  // upper-right quarter, or with the clockwise direction the other three.
  for (bool clockwise : {false, true}) {
    TEmfWriter w(41, 41);
    SolidNoPen(w, kBlue);
    if (clockwise) w.Rec(57, {2});
    w.Rec(47, {4, 4, 37, 37, 36, 20, 20, 4});
    const TSurface s = Play(w.Finish(), 41, 41);
    int compared = 0;
    for (int32_t y = 0; y < 41; ++y)
      for (int32_t x = 0; x < 41; ++x) {
        const double dx = x + 0.5 - 20, dy = y + 0.5 - 20, d = std::hypot(dx, dy) / 16;
        if (std::abs(d - 1) < 0.04 || std::abs(dx) < 0.6 || std::abs(dy) < 0.6) continue;
        const bool quarter = dx > 0 && dy < 0;
        const bool in = d < 1 && quarter != clockwise;
        ++compared;
        ASSERT_EQ(s.At(x, y), in ? OnSurface(kBlue) : (kPaper & 0xFFFFFF)) << clockwise << " at " << x << "," << y;
      }
    EXPECT_GT(compared, 1200);
  }
}

// UTF-16 units as record words, two to a word.
void PushUtf16(std::vector<int32_t>& P, const std::u16string& S) {
  for (size_t i = 0; i < S.size(); i += 2)
    P.push_back(int32_t(uint32_t(S[i]) | (i + 1 < S.size() ? uint32_t(S[i + 1]) << 16 : 0)));
}

TEST(EmfPlay, TextIsDrawnAsThePlatformDrawsIt) {
  // The string (UTF-16 in the file, a surrogate pair included) and its
  // baseline alignment give the same pixels as the platform's text output.
  const std::u16string text = u"Ab\u00e9\u20ac\U0001D11E";
  const std::string utf8 = "Ab\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E";
  TEmfWriter w(80, 40);
  std::vector<int32_t> font{1, -24, 0, 0, 0, 600, 0, 0};  // bold starts at 600
  PushUtf16(font, u"Liberation Sans");
  font.resize(1 + 23);  // LOGFONTW: 92 bytes
  w.Rec(EXTCREATEFONTINDIRECTW, font).Rec(SELECTOBJECT, {1});
  w.Rec(SETTEXTCOLOR, {int32_t(kBlue)}).Rec(SETBKMODE, {1}).Rec(SETTEXTALIGN, {24});
  std::vector<int32_t> out{0, 0, 80, 40, 1, 0, 0, 6, 30, int32_t(text.size()), 76, 0, 0, 0, 0, 0, 0};
  PushUtf16(out, text);
  w.Rec(EXTTEXTOUTW, out);
  const TSurface s = Play(w.Finish(), 80, 40);

  TFont f;
  f.Name = "Liberation Sans";
  f.Size = 18;  // 24 pixels
  f.Style = fsBold;
  f.Color = int32_t(kBlue);
  TSurface want(80, 40);
  PlatformTextOut(want.s, 6, 30 - PlatformTextMetrics(f).Ascent, utf8, f, nullptr);
  EXPECT_EQ(s.px, want.px);
  EXPECT_NE(want.px, TSurface(80, 40).px);
}

TEST(EmfHeader, SizeAtNinetySixDpiFromTheFrame) {
  // Frame extents in 0.01 mm; 13 is 0.49 of a pixel and 14 is 0.53.
  struct TCase {
    int32_t Frame[4];
    int32_t W, H;
  } cases[] = {{{0, 0, 2540, 1270}, 96, 48}, {{100, 200, 2640, 1470}, 96, 48}, {{0, 0, 13, 14}, 0, 1},
               {{-500, -500, 26960, 500}, 1038, 38}, {{10, 10, 5, 10}, 0, 0}};
  for (const TCase& c : cases) {
    TEmfWriter w(10, 10);
    std::vector<uint8_t> f = w.Finish();
    std::memcpy(f.data() + 24, c.Frame, 16);
    TEmfPicture pic;
    pic.LoadFromBytes(f.data(), f.size());
    EXPECT_EQ(pic.Width(), c.W) << c.Frame[2];
    EXPECT_EQ(pic.Height(), c.H) << c.Frame[3];
    EXPECT_EQ(pic.Header().Frame.Right, c.Frame[2]);
  }
}

TEST(EmfDamage, DamagedFilesRaiseTheGraphicError) {
  auto good = [] {
    TEmfWriter w(10, 10, 4);
    w.Rec(CREATEBRUSH, {1, 0, 0xFF, 0}).Rec(SELECTOBJECT, {1});
    return w;
  };
  struct TCase {
    const char* Name;
    std::function<std::vector<uint8_t>()> Make;
  };
  const TCase cases[] = {
      {"truncated record", [&] { auto f = good().Finish(); f.resize(f.size() - 4); return f; }},
      {"size not a multiple of 4", [&] { auto w = good(); auto f = w.Finish(); f[88 + 4] = 26; return f; }},
      {"size below a record head", [&] { auto w = good(); auto f = w.Finish(); f[88 + 4] = 4; return f; }},
      {"count past the record", [&] { auto w = good(); w.Rec(POLYGON, {0, 0, 9, 9, 3, 1, 1, 5, 5}); return w.Finish(); }},
      {"count that wraps", [&] { auto w = good(); w.Rec(POLYGON16, {0, 0, 9, 9, 0x40000001, 0}); return w.Finish(); }},
      {"poly counts disagree",
       [&] { auto w = good(); w.Rec(POLYPOLYGON16, {0, 0, 9, 9, 1, 3, 4, 0, 0, 0}); return w.Finish(); }},
      {"object index past the table", [&] { auto w = good(); w.Rec(SELECTOBJECT, {4}); return w.Finish(); }},
      {"object made in slot 0", [&] { auto w = good(); w.Rec(CREATEPEN, {0, 0, 1, 0, 0}); return w.Finish(); }},
      {"deleting past the table", [&] { auto w = good(); w.Rec(DELETEOBJECT, {70000}); return w.Finish(); }},
      {"saves nested too deep",
       [&] { auto w = good(); for (int i = 0; i <= TEmfPicture::kMaxSaveDepth; ++i) w.Rec(SAVEDC, {}); return w.Finish(); }},
      {"bitmap bits past the record",
       [&] { auto w = good(); auto b = DibRecordBody(24, false, 0, 0, 3, 2); b.resize(b.size() - 8); w.Raw(STRETCHDIBITS, b); return w.Finish(); }},
      {"huge bitmap",
       [&] { auto w = good(); auto b = DibRecordBody(1, false, 0, 0, 3, 2); std::memcpy(b.data() + 72 + 4, "\x01\x10\x00\x00", 4);
             std::memcpy(b.data() + 72 + 8, "\x00\x10\x00\x00", 4);
             w.Raw(STRETCHDIBITS, b); return w.Finish(); }},
      {"second header", [&] { auto w = good(); auto f = w.Finish(); std::vector<uint8_t> h(f.begin(), f.begin() + 88);
             f.insert(f.begin() + 88, h.begin(), h.end()); return f; }},
      {"bad signature", [&] { auto f = good().Finish(); f[40] = 'X'; return f; }},
      {"no reference device", [&] { auto f = good().Finish(); std::memset(f.data() + 80, 0, 4); return f; }},
      {"short header", [&] { auto f = good().Finish(); f.resize(60); return f; }},
  };
  for (const TCase& c : cases) {
    const std::vector<uint8_t> f = c.Make();
    TEmfPicture pic;
    const std::vector<uint8_t> kept = good().Finish();
    pic.LoadFromBytes(kept.data(), kept.size());
    try {
      pic.LoadFromBytes(f.data(), f.size());
      ADD_FAILURE() << c.Name << " was accepted";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), "Metafile is not valid") << c.Name;
    }
    EXPECT_EQ(pic.Bytes(), kept) << c.Name;
  }
}

TEST(EmfDamage, WorkBeyondTheBudgetIsRefusedWhilePlaying) {
  // Each record fills the whole surface: a few thousand are a picture, a
  // hundred thousand on a small surface are not.
  auto make = [](int n) {
    TEmfWriter w(64, 64);
    SolidNoPen(w, kRed);
    for (int i = 0; i < n; ++i) w.Rec(RECTANGLE, {0, 0, 65, 65});
    return w.Finish();
  };
  EXPECT_NO_THROW(Play(make(200), 64, 64));
  const std::vector<uint8_t> big = make(100000);
  TEmfPicture pic;
  pic.LoadFromBytes(big.data(), big.size());
  TSurface s(64, 64);
  TMetaCanvas canvas(s.s);
  EXPECT_THROW(pic.Play(canvas, s.s, TPlatformRect{0, 0, 64, 64}), EInvalidGraphic);
}

TEST(EmfPicture, TheRegistryOpensEmfFilesAsMetafilesOfTheFramesSize) {
  // The frame (0.01 mm) at 96 dpi, whatever the reference device; drawing
  // stretches the frame onto the destination.
  RegisterBuiltinPictureFormats();
  const TPictureFormat* f = FindFileFormat(".EMF");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->Description, "Enhanced Metafiles");
  EXPECT_EQ(f->GraphicClassName, "TMetafile");
  TEmfWriter w(30, 20);
  w.SetFrame(0, 0, 2540, 1270);  // 96 x 48 pixels; 254 x 127 reference pixels (10 per mm)
  SolidNoPen(w, kRed);
  w.Rec(RECTANGLE, {0, 0, 31, 21});
  const std::vector<uint8_t> bytes = w.Finish();
  std::unique_ptr<TGraphic> g = f->Create();
  auto* meta = dynamic_cast<TMetafile*>(g.get());
  ASSERT_NE(meta, nullptr);
  meta->LoadFromBytes(bytes.data(), bytes.size());
  EXPECT_EQ(meta->Kind(), TMetafileKind::Emf);
  EXPECT_EQ(meta->Width(), 96);
  EXPECT_EQ(meta->Height(), 48);
  // Drawn twice as wide as the frame's reference pixels.
  TSurface s(70, 30);
  meta->Draw(s.s, TPlatformRect{0, 0, 508, 127});
  ExpectBox(s, 0, 0, 61, 20, kRed, "stretched frame");
}

}  // namespace
