// Fuzzes the micro-tile algebra against a plain model: arbitrary rectangles
// (reversed, empty, huge, far outside) are added to a small tile set, and
//  - every tile must be the bounding box of what the rectangles put into it,
//  - the rectangles made from the tiles must cover exactly the pixels of the
//    tiles' boxes inside the clip, counted pixel by pixel,
//  - the packed union routines must give the words of the plain ones, for any
//    words, covering or not.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "raster_containers.h"
#include "raster_microtiles.h"
#include "test_startup.h"

namespace {

// A tile's box in tile-local pixels, or none.
struct TBox {
  int64_t L = 0, T = 0, R = 0, B = 0;
  bool Any = false;
  void Add(int64_t l, int64_t t, int64_t r, int64_t b) {
    if (!Any) {
      *this = {l, t, r, b, true};
      return;
    }
    L = std::min(L, l), T = std::min(T, t), R = std::max(R, r), B = std::max(B, b);
  }
};

// Coordinates that reach the interesting places: inside the small grid, on
// tile edges, just outside, and anywhere in the int32 range.
int32_t Coord(TFuzzInput& In) {
  const uint8_t kind = In.Byte();
  switch (kind % 4) {
    case 0: return static_cast<int32_t>(In.Byte()) - 16;
    case 1: return 32 * static_cast<int32_t>(In.Byte() % 10) + static_cast<int32_t>(In.Byte() % 3) - 1;
    case 2: return static_cast<int32_t>(static_cast<int16_t>(In.Byte() | In.Byte() << 8));
    default: return In.Int();
  }
}

[[noreturn]] void Fail() { __builtin_trap(); }

void CheckPackedUnion(TFuzzInput& In) {
  const TMicroTileUnionProc packed = MicroTileUnionPacked();
  const TMicroTilesUnionRowProc packedRow = MicroTilesUnionRowPacked();
  if (!packed || !packedRow) return;
  for (int i = 0; i < 8; ++i) {
    TMicroTile a = In.Word(), b = In.Word();
    TMicroTile plain = a, fast = a;
    MicroTileUnionPortable(plain, b);
    packed(fast, b);
    if (plain != fast) Fail();
  }
  const int32_t n = In.Byte() % 40;
  const bool whole = In.Byte() & 1;
  std::vector<TMicroTile> dst(static_cast<size_t>(n)), src(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    dst[static_cast<size_t>(i)] = In.Word();
    src[static_cast<size_t>(i)] = In.Word();
  }
  std::vector<TMicroTile> plain = dst, fast = dst;
  MicroTilesUnionRowPortable(plain.data(), src.data(), n, whole);
  packedRow(fast.data(), src.data(), n, whole);
  if (plain != fast) Fail();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  VemraTestStartup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TFuzzInput in(Data, Size);
  CheckPackedUnion(in);

  const int32_t w = 1 + in.Byte() % 200, h = 1 + in.Byte() % 200;
  TMicroTiles tiles = MicroTilesCreate();
  MicroTilesSetSize(tiles, TRect{0, 0, w, h});
  const int32_t cols = tiles.Columns, rows = tiles.Rows;
  const bool whole = in.Byte() & 1;
  std::vector<TBox> model(static_cast<size_t>(cols) * rows);

  for (int k = in.Byte() % 12; k > 0; --k) {
    const TRect r{Coord(in), Coord(in), Coord(in), Coord(in)};
    MicroTilesAddRect(tiles, r, whole);
    // The model: the rectangle normalised, and its part in each tile.
    const int64_t l = std::min<int64_t>(r.Left, r.Right), rr = std::max<int64_t>(r.Left, r.Right);
    const int64_t t = std::min<int64_t>(r.Top, r.Bottom), b = std::max<int64_t>(r.Top, r.Bottom);
    for (int32_t y = 0; y < rows; ++y)
      for (int32_t x = 0; x < cols; ++x) {
        const int64_t tl = std::max<int64_t>(l, 32 * x), tr = std::min<int64_t>(rr, 32 * x + 32);
        const int64_t tt = std::max<int64_t>(t, 32 * y), tb = std::min<int64_t>(b, 32 * y + 32);
        if (tl >= tr || tt >= tb) continue;
        TBox& box = model[static_cast<size_t>(y) * cols + x];
        if (whole)
          box.Add(0, 0, 32, 32);
        else
          box.Add(tl - 32 * x, tt - 32 * y, tr - 32 * x, tb - 32 * y);
      }
  }
  for (int32_t y = 0; y < rows; ++y)
    for (int32_t x = 0; x < cols; ++x) {
      const TBox& box = model[static_cast<size_t>(y) * cols + x];
      const TMicroTile want =
          box.Any ? MakeMicroTile(static_cast<int32_t>(box.L), static_cast<int32_t>(box.T),
                                  static_cast<int32_t>(box.R), static_cast<int32_t>(box.B))
                  : MICROTILE_EMPTY;
      if (tiles.Tiles[static_cast<size_t>(y) * cols + x] != want) Fail();
    }

  // Pixel by pixel: what the rectangles cover is what the tiles hold, clipped.
  const TRect clip = (in.Byte() & 1) ? TRect{Coord(in), Coord(in), Coord(in), Coord(in)} : tiles.BoundsRect;
  const bool roundRects = in.Byte() & 1;
  TRectList list;
  const int32_t n = MicroTilesCalcRects(tiles, &list, clip, false, roundRects);
  if (n != list.Count() || MicroTilesCalcRects(tiles, nullptr, clip, true, roundRects) != n) Fail();
  const int32_t pw = cols * 32, ph = rows * 32;
  std::vector<uint8_t> got(static_cast<size_t>(pw) * ph, 0), want(got.size(), 0);
  for (const TRect& r : list) {
    if (r.Left > r.Right || r.Top > r.Bottom) Fail();
    for (int64_t y = std::max(0, r.Top); y < std::min(ph, r.Bottom); ++y)
      for (int64_t x = std::max(0, r.Left); x < std::min(pw, r.Right); ++x) got[static_cast<size_t>(y * pw + x)] = 1;
    // Nothing outside the grid or the clip.
    if (r.Right > r.Left && r.Bottom > r.Top &&
        (r.Left < std::max(0, clip.Left) || r.Top < std::max(0, clip.Top) || r.Right > std::min(pw, clip.Right) ||
         r.Bottom > std::min(ph, clip.Bottom)))
      Fail();
  }
  for (int32_t ty = 0; ty < rows; ++ty)
    for (int32_t tx = 0; tx < cols; ++tx) {
      const TBox& box = model[static_cast<size_t>(ty) * cols + tx];
      if (!box.Any) continue;
      const int64_t l = roundRects ? 0 : box.L, t = roundRects ? 0 : box.T;
      const int64_t r = roundRects ? 32 : box.R, b = roundRects ? 32 : box.B;
      for (int64_t y = 32 * ty + t; y < 32 * ty + b; ++y)
        for (int64_t x = 32 * tx + l; x < 32 * tx + r; ++x)
          if (x >= clip.Left && x < clip.Right && y >= clip.Top && y < clip.Bottom)
            want[static_cast<size_t>(y * pw + x)] = 1;
    }
  if (got != want) Fail();

  // Lines and set unions must stay inside the tile set, whatever they are given.
  TMicroTiles other = MicroTilesCreate();
  MicroTilesSetSize(other, TRect{0, 0, 1 + in.Byte() % 200, 1 + in.Byte() % 200});
  MicroTilesAddLine(other, Coord(in), Coord(in), Coord(in), Coord(in), in.Int(), in.Byte() & 1);
  MicroTilesUnion(tiles, other, in.Byte() & 1);
  MicroTilesCopy(other, tiles);
  MicroTilesCalcRects(other, nullptr, true, false);
  return 0;
}
