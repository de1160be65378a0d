// Micro tile sets: sizing, clearing, copying, adding rectangles and lines,
// unions, and turning the tiles back into rectangles.
#include "raster_microtiles.h"

#include <algorithm>
#include <limits>

#include "platform_exceptions.h"

namespace {

int32_t Sat32(int64_t V) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(V, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// The used block of a tile set, cut to the tiles that exist; false when empty.
bool UsedBlock(const TMicroTiles& M, int32_t& X0, int32_t& Y0, int32_t& X1, int32_t& Y1) {
  if (M.Count == 0 || M.Columns <= 0 || M.Rows <= 0) return false;
  X0 = std::max(M.BoundsUsedTiles.Left, 0);
  Y0 = std::max(M.BoundsUsedTiles.Top, 0);
  X1 = std::min(M.BoundsUsedTiles.Right, M.Columns - 1);
  Y1 = std::min(M.BoundsUsedTiles.Bottom, M.Rows - 1);
  return X0 <= X1 && Y0 <= Y1;
}

void MarkNoneUsed(TMicroTiles& M) { M.BoundsUsedTiles = TRect{M.Columns, M.Rows, 0, 0}; }

// Grows the used block to hold tiles X0..X1, Y0..Y1 (cut to the grid).
void GrowUsed(TMicroTiles& M, int32_t X0, int32_t Y0, int32_t X1, int32_t Y1) {
  X0 = std::clamp(X0, 0, M.Columns - 1);
  X1 = std::clamp(X1, 0, M.Columns - 1);
  Y0 = std::clamp(Y0, 0, M.Rows - 1);
  Y1 = std::clamp(Y1, 0, M.Rows - 1);
  TRect& u = M.BoundsUsedTiles;
  u.Left = std::min(u.Left, X0);
  u.Top = std::min(u.Top, Y0);
  u.Right = std::max(u.Right, X1);
  u.Bottom = std::max(u.Bottom, Y1);
}

}  // namespace

void InflateArea(TRect& R, int32_t Dx, int32_t Dy) {
  int64_t dx = Dx, dy = Dy;
  if (R.Left > R.Right) dx = -dx;
  if (R.Top > R.Bottom) dy = -dy;
  R = TRect{Sat32(R.Left - dx), Sat32(R.Top - dy), Sat32(R.Right + dx), Sat32(R.Bottom + dy)};
}

TMicroTile MakeMicroTile(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom) {
  return (static_cast<uint32_t>(Left & 0xFF) << 24) | (static_cast<uint32_t>(Top & 0xFF) << 16) |
         (static_cast<uint32_t>(Right & 0xFF) << 8) | static_cast<uint32_t>(Bottom & 0xFF);
}

// ---- Unions ---------------------------------------------------------------------------

void MicroTileUnionPortable(TMicroTile& Dst, TMicroTile Src) {
  if (Dst == MICROTILE_FULL || !MicroTileCovers(Src)) return;
  if (Dst == MICROTILE_EMPTY || Src == MICROTILE_FULL) {
    Dst = Src;
    return;
  }
  Dst = MakeMicroTile(std::min(MicroTileLeft(Dst), MicroTileLeft(Src)), std::min(MicroTileTop(Dst), MicroTileTop(Src)),
                      std::max(MicroTileRight(Dst), MicroTileRight(Src)),
                      std::max(MicroTileBottom(Dst), MicroTileBottom(Src)));
}

void MicroTilesUnionRowPortable(TMicroTile* Dst, const TMicroTile* Src, int32_t Count, bool RoundToWholeTiles) {
  for (int32_t i = 0; i < Count; ++i) {
    if (RoundToWholeTiles) {
      if (Dst[i] != MICROTILE_FULL && MicroTileCovers(Src[i])) Dst[i] = MICROTILE_FULL;
    } else {
      MicroTileUnionPortable(Dst[i], Src[i]);
    }
  }
}

constinit TMicroTileUnionProc MicroTileUnion = MicroTileUnionPortable;
constinit TMicroTilesUnionRowProc MicroTilesUnionRow = MicroTilesUnionRowPortable;

void MicroTilesStartup() {
  const bool packed = CpuExtMmxTest() && CpuFeatureTest(ciSSE2) && MicroTileUnionPacked() && MicroTilesUnionRowPacked();
  MicroTileUnion = packed ? MicroTileUnionPacked() : MicroTileUnionPortable;
  MicroTilesUnionRow = packed ? MicroTilesUnionRowPacked() : MicroTilesUnionRowPortable;
}

// ---- Sizing, clearing, copying ------------------------------------------------------------

TMicroTiles MicroTilesCreate() {
  TMicroTiles m;
  MarkNoneUsed(m);
  return m;
}

void MicroTilesDestroy(TMicroTiles& MicroTiles) {
  MicroTiles.Tiles.clear();
  MicroTiles.Tiles.shrink_to_fit();
  MicroTiles.Count = 0;
  MicroTiles.Columns = 0;
  MicroTiles.Rows = 0;
  MicroTiles.BoundsRect = TRect{};
  MarkNoneUsed(MicroTiles);
}

void MicroTilesSetSize(TMicroTiles& MicroTiles, const TRect& DstRect) {
  // A reversed rectangle would give a shifted negative width billions of
  // tiles wide; it covers nothing.
  const int64_t w = std::max<int64_t>(int64_t{DstRect.Right} - DstRect.Left, 0);
  const int64_t h = std::max<int64_t>(int64_t{DstRect.Bottom} - DstRect.Top, 0);
  const int64_t columns = (w >> MICROTILE_SHIFT) + 1;
  const int64_t rows = (h >> MICROTILE_SHIFT) + 1;
  const int64_t count = (columns + 1) * (rows + 1);
  if (count > std::numeric_limits<int32_t>::max()) throw EOutOfResources("Too many micro tiles");
  MicroTiles.BoundsRect = DstRect;
  MicroTiles.Columns = static_cast<int32_t>(columns);
  MicroTiles.Rows = static_cast<int32_t>(rows);
  MicroTiles.Count = static_cast<int32_t>(count);
  MicroTiles.Tiles.assign(static_cast<size_t>(count), MICROTILE_EMPTY);
  MarkNoneUsed(MicroTiles);
}

void MicroTilesClear(TMicroTiles& MicroTiles, TMicroTile Value) {
  std::fill(MicroTiles.Tiles.begin(), MicroTiles.Tiles.end(), Value);
  MarkNoneUsed(MicroTiles);
}

void MicroTilesClearUsed(TMicroTiles& MicroTiles, TMicroTile Value) {
  int32_t x0, y0, x1, y1;
  if (UsedBlock(MicroTiles, x0, y0, x1, y1)) {
    for (int32_t y = y0; y <= y1; ++y) {
      TMicroTile* row = MicroTiles.Tiles.data() + static_cast<size_t>(y) * MicroTiles.Columns;
      std::fill(row + x0, row + x1 + 1, Value);
    }
  }
  MarkNoneUsed(MicroTiles);
}

void MicroTilesCopy(TMicroTiles& DstTiles, const TMicroTiles& SrcTiles) {
  if (&DstTiles == &SrcTiles) return;
  MicroTilesClearUsed(DstTiles);
  DstTiles.BoundsRect = SrcTiles.BoundsRect;
  DstTiles.Columns = SrcTiles.Columns;
  DstTiles.Rows = SrcTiles.Rows;
  DstTiles.BoundsUsedTiles = SrcTiles.BoundsUsedTiles;
  DstTiles.Count = SrcTiles.Count;
  // The destination is all empty now, so a new row length only moves zeros.
  DstTiles.Tiles.resize(static_cast<size_t>(SrcTiles.Count), MICROTILE_EMPTY);
  int32_t x0, y0, x1, y1;
  if (!UsedBlock(SrcTiles, x0, y0, x1, y1)) return;
  for (int32_t y = y0; y <= y1; ++y) {
    const size_t at = static_cast<size_t>(y) * SrcTiles.Columns + x0;
    std::copy_n(SrcTiles.Tiles.data() + at, x1 - x0 + 1, DstTiles.Tiles.data() + at);
  }
}

void MicroTilesUnion(TMicroTiles& DstTiles, const TMicroTiles& SrcTiles, bool RoundToWholeTiles) {
  if (&DstTiles == &SrcTiles || DstTiles.Count == 0) return;
  int32_t x0, y0, x1, y1;
  if (!UsedBlock(SrcTiles, x0, y0, x1, y1)) return;
  // Sets of two sizes meet only where both have the tile.
  x1 = std::min(x1, DstTiles.Columns - 1);
  y1 = std::min(y1, DstTiles.Rows - 1);
  if (x0 > x1 || y0 > y1) return;
  for (int32_t y = y0; y <= y1; ++y)
    MicroTilesUnionRow(DstTiles.Tiles.data() + static_cast<size_t>(y) * DstTiles.Columns + x0,
                       SrcTiles.Tiles.data() + static_cast<size_t>(y) * SrcTiles.Columns + x0, x1 - x0 + 1,
                       RoundToWholeTiles);
  GrowUsed(DstTiles, x0, y0, x1, y1);
}

// ---- Adding areas --------------------------------------------------------------------------

void MicroTilesAddRect(TMicroTiles& MicroTiles, TRect Rect, bool RoundToWholeTiles) {
  TMicroTiles& m = MicroTiles;
  if (m.Count == 0) return;
  int64_t l = Rect.Left, t = Rect.Top, r = Rect.Right, b = Rect.Bottom;
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  l = std::max<int64_t>(l, 0);
  t = std::max<int64_t>(t, 0);
  r = std::min<int64_t>(r, int64_t{m.Columns} * MICROTILE_SIZE);
  b = std::min<int64_t>(b, int64_t{m.Rows} * MICROTILE_SIZE);
  if (r < l || b < t) return;
  const int32_t c0 = static_cast<int32_t>(l >> MICROTILE_SHIFT), c1 = static_cast<int32_t>(r >> MICROTILE_SHIFT);
  const int32_t r0 = static_cast<int32_t>(t >> MICROTILE_SHIFT), r1 = static_cast<int32_t>(b >> MICROTILE_SHIFT);
  const int32_t ml = static_cast<int32_t>(l & 31), mt = static_cast<int32_t>(t & 31);
  const int32_t mr = static_cast<int32_t>(r & 31), mb = static_cast<int32_t>(b & 31);

  // The tiles the rectangle really covers: an edge exactly on a tile boundary
  // reaches the next tile only with an empty part, and a rectangle of no
  // width or height covers nothing. Those tiles stay as they were in both
  // modes, and nothing lands past the last column (which would alias the
  // first tile of the next row).
  if (r > l && b > t) {
    const int32_t lastCol = std::min(mr == 0 ? c1 - 1 : c1, m.Columns - 1);
    const int32_t lastRow = std::min(mb == 0 ? r1 - 1 : r1, m.Rows - 1);
    for (int32_t y = r0; y <= lastRow; ++y) {
      TMicroTile* row = m.Tiles.data() + static_cast<size_t>(y) * m.Columns;
      const int32_t top = y == r0 ? mt : 0;
      const int32_t bottom = y == r1 ? mb : MICROTILE_SIZE;
      for (int32_t x = c0; x <= lastCol; ++x) {
        if (RoundToWholeTiles) {
          row[x] = MICROTILE_FULL;
        } else {
          const int32_t left = x == c0 ? ml : 0;
          const int32_t right = x == c1 ? mr : MICROTILE_SIZE;
          MicroTileUnion(row[x], MakeMicroTile(left, top, right, bottom));
        }
      }
    }
  }
  GrowUsed(m, c0, r0, c1, r1);
}

void MicroTilesAddLine(TMicroTiles& MicroTiles, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t LineWidth,
                       bool RoundToWholeTiles) {
  if (MicroTiles.Count == 0) return;
  const int32_t width = Sat32(int64_t{LineWidth} * 2);
  int64_t dx = int64_t{X2} - X1, dy = int64_t{Y2} - Y1;
  if (dx == 0 || dy == 0) {
    TRect r{X1, Y1, X2, Y2};
    InflateArea(r, width, width);
    MicroTilesAddRect(MicroTiles, r, RoundToWholeTiles);
    return;
  }
  int64_t sa = dx > 0 ? 1 : -1, sb = dy > 0 ? 1 : -1;
  dx = dx < 0 ? -dx : dx;
  dy = dy < 0 ? -dy : dy;
  // 16.16 in 64 bits: the coordinates of a bitmap's lines need not fit 15 bits.
  int64_t a = int64_t{X1} * 65536, b = int64_t{Y1} * 65536;
  int64_t da = dx * 65536, db = dy * 65536;
  const bool swapped = dx < dy;
  if (swapped) {
    std::swap(a, b);
    std::swap(da, db);
    std::swap(sa, sb);
  }
  const int64_t rects = da / MICROTILE_SIZE;  // tiles along the long axis, 16.16
  const int64_t deltaA = sa * (int64_t{MICROTILE_SIZE} << 16);
  const int64_t deltaB = sb * static_cast<int64_t>((static_cast<__int128>(db) << 16) / rects);
  const int64_t steps = (rects + 0xFFFF) >> 16;

  // Only the steps whose stretch of the long axis can reach the tiles: a wild
  // line from far outside would otherwise take billions of empty steps. Each
  // step starts at exactly Start + i * Delta, so skipping changes nothing.
  const int64_t extent = int64_t{swapped ? MicroTiles.Rows : MicroTiles.Columns} * MICROTILE_SIZE;
  const int64_t a0 = int64_t{swapped ? Y1 : X1};
  const int64_t reach = int64_t{width} + MICROTILE_SIZE;
  int64_t first = 0, last = steps - 1;
  if (sa > 0) {
    first = std::max<int64_t>(first, (-reach - a0) / MICROTILE_SIZE - 1);
    last = std::min<int64_t>(last, (extent + reach - a0) / MICROTILE_SIZE + 1);
  } else {
    first = std::max<int64_t>(first, (a0 - extent - reach) / MICROTILE_SIZE - 1);
    last = std::min<int64_t>(last, (a0 + reach) / MICROTILE_SIZE + 1);
  }
  // A width of millions of pixels leaves millions of steps that reach the
  // tiles, each covering most of them. Then the line's bounding box, grown
  // by the width and one step, stands for them all: it holds every step's
  // rectangle, and repainting a little more is all it costs.
  constexpr int64_t kMaxSteps = int64_t{1} << 16;
  if (last - first > kMaxSteps + extent / MICROTILE_SIZE) {
    TRect r{X1, Y1, X2, Y2};
    InflateArea(r, Sat32(int64_t{width} + MICROTILE_SIZE), Sat32(int64_t{width} + MICROTILE_SIZE));
    MicroTilesAddRect(MicroTiles, r, RoundToWholeTiles);
    return;
  }
  auto fixedRound = [](int64_t v) { return Sat32((v + 0x7FFF) >> 16); };
  for (int64_t i = first; i <= last; ++i) {
    const int64_t sA = a + i * deltaA, sB = b + i * deltaB;
    const int64_t eA = sA + deltaA, eB = sB + deltaB;
    TRect r = swapped ? TRect{fixedRound(sB), fixedRound(sA), fixedRound(eB), fixedRound(eA)}
                      : TRect{fixedRound(sA), fixedRound(sB), fixedRound(eA), fixedRound(eB)};
    InflateArea(r, width, width);
    MicroTilesAddRect(MicroTiles, r, RoundToWholeTiles);
  }
}

// ---- Rectangles from tiles -------------------------------------------------------------------

int32_t MicroTilesCalcRects(const TMicroTiles& MicroTiles, TRectList* DstRects, const TRect& Clip, bool CountOnly,
                            bool RoundToWholeTiles) {
  const TMicroTiles& m = MicroTiles;
  int32_t ux0, uy0, ux1, uy1;
  if (!UsedBlock(m, ux0, uy0, ux1, uy1)) return 0;
  const int32_t stride = ux1 - ux0 + 1;
  std::vector<TRect> rects;
  // For each tile of the used block, the rectangle a run starting there may
  // extend downwards (set by the run right above it).
  std::vector<int32_t> lookup(static_cast<size_t>(stride) * (uy1 - uy0 + 1), -1);
  auto clampX = [&](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, Clip.Left, std::max(Clip.Left, Clip.Right))); };
  auto clampY = [&](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, Clip.Top, std::max(Clip.Top, Clip.Bottom))); };
  auto tileAt = [&](int32_t x, int32_t y) { return m.Tiles[static_cast<size_t>(y) * m.Columns + x]; };

  for (int32_t y = uy0; y <= uy1; ++y) {
    const int64_t py = int64_t{y} * MICROTILE_SIZE;
    for (int32_t x = ux0; x <= ux1; ++x) {
      TMicroTile t = tileAt(x, y);
      if (!MicroTileCovers(t)) continue;
      const int32_t s = x;
      TRect c;
      if (RoundToWholeTiles) {
        c.Top = clampY(py);
        c.Bottom = clampY(py + MICROTILE_SIZE);
        c.Left = clampX(int64_t{x} * MICROTILE_SIZE);
        while (x < ux1 && MicroTileCovers(tileAt(x + 1, y))) ++x;
        c.Right = clampX(int64_t{x} * MICROTILE_SIZE + MICROTILE_SIZE);
      } else {
        c.Top = clampY(py + MicroTileTop(t));
        c.Bottom = clampY(py + MicroTileBottom(t));
        c.Left = clampX(int64_t{x} * MICROTILE_SIZE + MicroTileLeft(t));
        while (MicroTileRight(t) == MICROTILE_SIZE && x < ux1) {
          const TMicroTile n = tileAt(x + 1, y);
          if (MicroTileLeft(n) != 0 || MicroTileTop(n) != MicroTileTop(t) || MicroTileBottom(n) != MicroTileBottom(t) ||
              !MicroTileCovers(n))
            break;
          ++x;
          t = n;
        }
        c.Right = clampX(int64_t{x} * MICROTILE_SIZE + MicroTileRight(t));
      }
      // A part wholly outside the clip rectangle is no rectangle at all.
      if (IsRectEmpty(c)) continue;
      const size_t li = static_cast<size_t>(y - uy0) * stride + (s - ux0);
      int32_t idx = lookup[li];
      if (idx >= 0 && rects[idx].Left == c.Left && rects[idx].Right == c.Right && rects[idx].Bottom == c.Top) {
        rects[idx].Bottom = c.Bottom;
      } else {
        idx = static_cast<int32_t>(rects.size());
        rects.push_back(c);
      }
      if (y < uy1) lookup[li + stride] = idx;
    }
  }
  if (!CountOnly && DstRects != nullptr)
    for (const TRect& r : rects) DstRects->Add(r);
  return static_cast<int32_t>(rects.size());
}

int32_t MicroTilesCalcRects(const TMicroTiles& MicroTiles, TRectList* DstRects, bool CountOnly,
                            bool RoundToWholeTiles) {
  return MicroTilesCalcRects(MicroTiles, DstRects, MicroTiles.BoundsRect, CountOnly, RoundToWholeTiles);
}

// ---- The map of each layer's tiles ------------------------------------------------------------

TMicroTiles& TMicroTilesMap::Add(TCustomLayer* Layer) {
  auto& p = FItems[Layer];
  if (!p) p = std::make_unique<TMicroTiles>(MicroTilesCreate());
  return *p;
}

TMicroTiles* TMicroTilesMap::Find(TCustomLayer* Layer) {
  auto it = FItems.find(Layer);
  return it == FItems.end() ? nullptr : it->second.get();
}

void TMicroTilesMap::Remove(TCustomLayer* Layer) { FItems.erase(Layer); }
