// Micro tile sets: known tiles for rectangles, merged rectangles, coverage
// against a per-pixel model, lines, the packed unions against the portable
// ones, and sets of different sizes meeting without stray writes.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "raster_microtiles.h"

namespace {

TMicroTiles Sized(int32_t W, int32_t H) {
  TMicroTiles m = MicroTilesCreate();
  MicroTilesSetSize(m, TRect{0, 0, W, H});
  return m;
}

TMicroTile TileAt(const TMicroTiles& M, int32_t X, int32_t Y) { return M.Tiles[size_t(Y) * M.Columns + X]; }

std::vector<TRect> Rects(const TMicroTiles& M, bool Whole = false) {
  TRectList l;
  const int32_t n = MicroTilesCalcRects(M, &l, false, Whole);
  EXPECT_EQ(n, l.Count());
  EXPECT_EQ(MicroTilesCalcRects(M, nullptr, true, Whole), n);
  return std::vector<TRect>(l.begin(), l.end());
}

// Pixels covered by Rects; fails on a pixel covered twice.
std::vector<uint8_t> Coverage(const std::vector<TRect>& Rects, int32_t W, int32_t H) {
  std::vector<uint8_t> c(size_t(W) * H, 0);
  for (const TRect& r : Rects) {
    EXPECT_FALSE(IsRectEmpty(r));
    for (int32_t y = r.Top; y < r.Bottom; ++y)
      for (int32_t x = r.Left; x < r.Right; ++x) {
        EXPECT_EQ(c[size_t(y) * W + x], 0) << "overlap at " << x << "," << y;
        c[size_t(y) * W + x] = 1;
      }
  }
  return c;
}

}  // namespace

TEST(MicroTiles, RectanglesLandAsTileParts) {
  TMicroTiles m = Sized(100, 100);
  EXPECT_EQ(m.Columns, 4);
  EXPECT_EQ(m.Rows, 4);
  EXPECT_EQ(m.Count, 25);
  EXPECT_EQ(m.BoundsUsedTiles, (TRect{4, 4, 0, 0}));
  MicroTilesAddRect(m, TRect{10, 10, 20, 20});
  EXPECT_EQ(TileAt(m, 0, 0), MakeMicroTile(10, 10, 20, 20));
  MicroTilesAddRect(m, TRect{15, 5, 40, 12});
  EXPECT_EQ(TileAt(m, 0, 0), MakeMicroTile(10, 5, 32, 20));
  EXPECT_EQ(TileAt(m, 1, 0), MakeMicroTile(0, 5, 8, 12));
  EXPECT_EQ(m.BoundsUsedTiles, (TRect{0, 0, 1, 0}));

  // An edge exactly on a tile boundary touches the next column only with an
  // empty part: the tile stays, the used block still reaches it. Rounding
  // to whole tiles leaves it alone too.
  for (bool whole : {false, true}) {
    TMicroTiles b = Sized(100, 100);
    MicroTilesAddRect(b, TRect{40, 40, 64, 50}, whole);
    EXPECT_EQ(TileAt(b, 2, 1), MICROTILE_EMPTY);
    EXPECT_EQ(TileAt(b, 1, 1), whole ? MICROTILE_FULL : MakeMicroTile(8, 8, 32, 18));
    EXPECT_EQ(b.BoundsUsedTiles, (TRect{1, 1, 2, 1}));
  }

  // Reversed corners are put in order; a rectangle reaching past the grid's
  // right edge never spills into the next row's first tile.
  TMicroTiles e = Sized(64, 64);  // 3 x 3 tiles
  MicroTilesAddRect(e, TRect{500, 40, 70, 33}, true);
  MicroTilesAddRect(e, TRect{70, 33, 500, 40});
  EXPECT_EQ(TileAt(e, 2, 1), MICROTILE_FULL);
  EXPECT_EQ(TileAt(e, 0, 2), MICROTILE_EMPTY);
  EXPECT_EQ(e.BoundsUsedTiles, (TRect{2, 1, 2, 1}));

  // A reversed bounds rectangle sizes to a single tile, not billions.
  TMicroTiles z = MicroTilesCreate();
  MicroTilesSetSize(z, TRect{10, 10, 0, 0});
  EXPECT_EQ(z.Columns, 1);
  EXPECT_EQ(z.Count, 4);
}

TEST(MicroTiles, AdjacentTilesMergeAlongRowsAndDownColumns) {
  TMicroTiles m = Sized(200, 200);
  MicroTilesAddRect(m, TRect{32, 32, 96, 64});
  EXPECT_EQ(Rects(m), (std::vector<TRect>{{32, 32, 96, 64}}));
  MicroTilesAddRect(m, TRect{32, 64, 96, 96});
  EXPECT_EQ(Rects(m), (std::vector<TRect>{{32, 32, 96, 96}}));
  // Parts that do not line up stay apart; whole tiles join them.
  MicroTilesAddRect(m, TRect{100, 100, 110, 105});
  MicroTilesAddRect(m, TRect{150, 100, 160, 108});
  EXPECT_EQ(Rects(m), (std::vector<TRect>{{32, 32, 96, 96}, {100, 100, 110, 105}, {150, 100, 160, 108}}));
  EXPECT_EQ(Rects(m, true), (std::vector<TRect>{{32, 32, 96, 96}, {96, 96, 160, 128}}));
  // Rectangles are clipped to the set's bounds (the tiles reach 224).
  MicroTilesAddRect(m, TRect{190, 190, 250, 250});
  EXPECT_EQ(Rects(m).back(), (TRect{190, 190, 200, 200}));
  MicroTilesClearUsed(m);
  EXPECT_TRUE(Rects(m).empty());
  EXPECT_EQ(std::count(m.Tiles.begin(), m.Tiles.end(), MICROTILE_EMPTY), m.Count);
}

// Random rectangles against a model that keeps, per tile, the bounding box
// of the parts that fell into it: the rectangles must cover exactly those
// boxes, each pixel once.
TEST(MicroTiles, RectanglesCoverExactlyEachTilesBoundingBox) {
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    const int32_t W = 1 + rng() % 150, H = 1 + rng() % 150;
    TMicroTiles m = Sized(W, H);
    const int32_t cols = m.Columns, rows = m.Rows;
    std::vector<TRect> box(size_t(cols) * rows, TRect{1000, 1000, -1, -1});
    const int n = 1 + rng() % 6;
    for (int i = 0; i < n; ++i) {
      TRect r{int32_t(rng() % 200) - 20, int32_t(rng() % 200) - 20, 0, 0};
      r.Right = r.Left + int32_t(rng() % 70);
      r.Bottom = r.Top + int32_t(rng() % 70);
      MicroTilesAddRect(m, r);
      for (int32_t ty = 0; ty < rows; ++ty)
        for (int32_t tx = 0; tx < cols; ++tx) {
          TRect part;
          if (!IntersectRects(part, r, TRect{tx * 32, ty * 32, tx * 32 + 32, ty * 32 + 32}) || IsRectEmpty(part)) continue;
          TRect& b = box[size_t(ty) * cols + tx];
          b = TRect{std::min(b.Left, part.Left), std::min(b.Top, part.Top), std::max(b.Right, part.Right),
                    std::max(b.Bottom, part.Bottom)};
        }
    }
    std::vector<uint8_t> want(size_t(W) * H, 0);
    for (const TRect& b : box)
      for (int32_t y = std::max(b.Top, 0); y < std::min(b.Bottom, H); ++y)
        for (int32_t x = std::max(b.Left, 0); x < std::min(b.Right, W); ++x) want[size_t(y) * W + x] = 1;
    ASSERT_EQ(Coverage(Rects(m), W, H), want) << "round " << round;
  }
}

TEST(MicroTiles, LinesCoverTheirPixelsAndWildLinesFinish) {
  TMicroTiles m = Sized(300, 200);
  MicroTilesAddLine(m, 290, 5, 3, 190, 1);  // right to left, steep enough to step in x
  const std::vector<uint8_t> c = Coverage(Rects(m), 300, 200);
  for (int32_t x = 3; x <= 290; ++x) {
    const int32_t y = int32_t(std::lround(5 + (290.0 - x) * 185.0 / 287.0));
    EXPECT_TRUE(c[size_t(y) * 300 + x]) << x << "," << y;
  }
  size_t covered = std::count(c.begin(), c.end(), 1);
  EXPECT_LT(covered, size_t(300 * 200) / 2);  // a line, not the whole box

  // A horizontal line is its end points' rectangle grown by twice the width.
  TMicroTiles h = Sized(300, 200);
  MicroTilesAddLine(h, 10, 50, 100, 50, 3);
  EXPECT_EQ(Rects(h), (std::vector<TRect>{{4, 44, 106, 56}}));

  // A line from far outside crosses the tiles and covers its part of them.
  TMicroTiles w = Sized(300, 200);
  MicroTilesAddLine(w, -2000000000, 100, 2000000000, 101, 1);
  const std::vector<uint8_t> wc = Coverage(Rects(w), 300, 200);
  for (int32_t x = 0; x < 300; ++x) EXPECT_TRUE(wc[size_t(100) * 300 + x]) << x;
}

TEST(MicroTiles, PackedUnionsMatchThePortableOnes) {
  if (MicroTileUnionPacked() == nullptr) GTEST_SKIP() << "no packed variant compiled in";
  std::mt19937 rng(11);
  auto randomTile = [&]() -> TMicroTile {
    switch (rng() % 6) {
      case 0: return MICROTILE_EMPTY;
      case 1: return MICROTILE_FULL;
      case 2: return MakeMicroTile(rng() % 33, rng() % 33, rng() % 33, rng() % 33);  // may cover nothing
      default: {
        const int32_t l = rng() % 32, t = rng() % 32;
        return MakeMicroTile(l, t, l + 1 + rng() % (32 - l), t + 1 + rng() % (32 - t));
      }
    }
  };
  for (int i = 0; i < 20000; ++i) {
    const TMicroTile d = randomTile(), s = randomTile();
    TMicroTile a = d, b = d;
    MicroTileUnionPortable(a, s);
    MicroTileUnionPacked()(b, s);
    ASSERT_EQ(a, b) << std::hex << d << " " << s;
  }
  for (bool whole : {false, true})
    for (int32_t n : {0, 1, 3, 4, 7, 33}) {
      std::vector<TMicroTile> d(n), s(n);
      for (int32_t i = 0; i < n; ++i) d[i] = randomTile(), s[i] = randomTile();
      std::vector<TMicroTile> a = d, b = d;
      MicroTilesUnionRowPortable(a.data(), s.data(), n, whole);
      MicroTilesUnionRowPacked()(b.data(), s.data(), n, whole);
      EXPECT_EQ(a, b) << n << " " << whole;
    }
}

TEST(MicroTiles, CopyAndUnionAcrossSizes) {
  TMicroTiles big = Sized(300, 300), small = Sized(40, 40);
  MicroTilesAddRect(big, TRect{0, 0, 300, 300});
  MicroTilesAddRect(small, TRect{5, 5, 10, 10});
  // Only the tiles both sets have meet; nothing is written past the small set.
  MicroTilesUnion(small, big);
  EXPECT_EQ(small.BoundsUsedTiles, (TRect{0, 0, 1, 1}));
  EXPECT_EQ(Rects(small), (std::vector<TRect>{{0, 0, 40, 40}}));
  TMicroTiles empty = MicroTilesCreate();
  MicroTilesUnion(empty, big);  // no tiles at all: nothing happens
  EXPECT_EQ(empty.Count, 0);

  // A copy takes the source's shape and only its used tiles.
  TMicroTiles c = Sized(40, 40);
  MicroTilesAddRect(c, TRect{0, 0, 40, 40});
  TMicroTiles one = Sized(300, 300);
  MicroTilesAddRect(one, TRect{100, 100, 110, 120});
  MicroTilesCopy(c, one);
  EXPECT_EQ(c.Columns, one.Columns);
  EXPECT_EQ(c.Count, one.Count);
  EXPECT_EQ(c.Tiles, one.Tiles);
  EXPECT_EQ(Rects(c), (std::vector<TRect>{{100, 100, 110, 120}}));

  // The rounded union fills every tile the source touches.
  TMicroTiles r = Sized(100, 100);
  MicroTilesUnion(r, one, true);
  EXPECT_EQ(Rects(r), (std::vector<TRect>{{96, 96, 100, 100}}));
}
