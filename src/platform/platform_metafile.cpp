// Metafile pictures: recognising the kind, checking a Windows metafile's
// record stream, and playing it through libwmf's record player with a device
// of our own that draws on TMetaCanvas.
//
// The player hands the device coordinates in its own units: a logical
// coordinate L becomes (L - window origin) * pixel size, with the window and
// the pixel size of the device context that comes with every call. The device
// turns them back into logical units and maps those onto the destination by
// the picture's frame, so the picture lands where the frame says however the
// player scales. Nothing the player is given can make it read outside the
// records: every record lies inside the file, has a known function and at
// least the parameters its function reads, and the stream ends with an
// end-of-file record. The player's memory comes from a counting allocator
// with a ceiling, and a play that runs too long is stopped.
#include "platform_metafile.h"

#include <libwmf/api.h>
#include <libwmf/ipa.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <numbers>
#include <unordered_map>

#include "platform_metacanvas.h"
#include "platform_text.h"

namespace {

[[noreturn]] void Invalid() { RaiseInvalidMetafile(); }

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
int16_t LeS16(const uint8_t* p) { return static_cast<int16_t>(Le16(p)); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableSize = 22;
constexpr size_t kHeaderSize = 18;

// Limits on what one file may ask of the player.
constexpr size_t kMaxRecords = size_t{1} << 20;
constexpr size_t kMaxPlayerMemory = size_t{64} << 20;
constexpr std::chrono::seconds kMaxPlayTime{10};
// Bitmaps inside a metafile beyond this many pixels are skipped.
constexpr int64_t kMaxEmbeddedPixels = int64_t{1} << 24;

// ---------------------------------------------------------------------------
// The record check

// The least number of 16-bit parameters each record function reads (its
// fixed part; variable parts are checked separately below).
const std::unordered_map<uint16_t, uint16_t>& RecordMinimum() {
  static const std::unordered_map<uint16_t, uint16_t> kMin{
      {0x0000, 0},  // end of file
      {0x001E, 0},  // SaveDC
      {0x0035, 0},  // RealizePalette
      {0x0037, 2},  // SetPalEntries
      {0x00F7, 2},  // CreatePalette
      {0x0102, 1},  // SetBkMode
      {0x0103, 1},  // SetMapMode
      {0x0104, 1},  // SetROP2
      {0x0105, 0},  // SetRelAbs
      {0x0106, 1},  // SetPolyFillMode
      {0x0107, 1},  // SetStretchBltMode
      {0x0108, 1},  // SetTextCharExtra
      {0x0127, 1},  // RestoreDC
      {0x012A, 1},  // InvertRegion
      {0x012B, 1},  // PaintRegion
      {0x012C, 1},  // SelectClipRegion
      {0x012D, 1},  // SelectObject
      {0x012E, 1},  // SetTextAlign
      {0x0139, 1},  // ResizePalette
      {0x0142, 2},  // DibCreatePatternBrush
      {0x0149, 2},  // SetLayout
      {0x01F0, 1},  // DeleteObject
      {0x01F9, 0},  // CreatePatternBrush
      {0x0201, 2},  // SetBkColor
      {0x0209, 2},  // SetTextColor
      {0x020A, 2},  // SetTextJustification
      {0x020B, 2},  // SetWindowOrg
      {0x020C, 2},  // SetWindowExt
      {0x020D, 2},  // SetViewportOrg
      {0x020E, 2},  // SetViewportExt
      {0x020F, 2},  // OffsetWindowOrg
      {0x0211, 2},  // OffsetViewportOrg
      {0x0213, 2},  // LineTo
      {0x0214, 2},  // MoveTo
      {0x0220, 2},  // OffsetClipRgn
      {0x0228, 2},  // FillRegion
      {0x0231, 2},  // SetMapperFlags
      {0x0234, 1},  // SelectPalette
      {0x02FA, 5},  // CreatePenIndirect
      {0x02FB, 9},  // CreateFontIndirect
      {0x02FC, 4},  // CreateBrushIndirect
      {0x0324, 1},  // Polygon
      {0x0325, 1},  // Polyline
      {0x0410, 4},  // ScaleWindowExt
      {0x0412, 4},  // ScaleViewportExt
      {0x0415, 4},  // ExcludeClipRect
      {0x0416, 4},  // IntersectClipRect
      {0x0418, 4},  // Ellipse
      {0x0419, 4},  // FloodFill
      {0x041B, 4},  // Rectangle
      {0x041F, 4},  // SetPixel
      {0x0429, 4},  // FrameRegion
      {0x0436, 2},  // AnimatePalette
      {0x0521, 1},  // TextOut
      {0x0538, 1},  // PolyPolygon
      {0x0548, 5},  // ExtFloodFill
      {0x061C, 6},  // RoundRect
      {0x061D, 6},  // PatBlt
      {0x0626, 2},  // Escape
      {0x06FF, 11}, // CreateRegion
      {0x0817, 8},  // Arc
      {0x081A, 8},  // Pie
      {0x0830, 8},  // Chord
      {0x0922, 8},  // BitBlt
      {0x0940, 8},  // DibBitBlt
      {0x0A32, 4},  // ExtTextOut
      {0x0B23, 10}, // StretchBlt
      {0x0B41, 10}, // DibStretchBlt
      {0x0D33, 9},  // SetDibToDev
      {0x0F43, 11}, // StretchDib
  };
  return kMin;
}

// True when a device-independent bitmap of Words 16-bit words starting at P
// has a header the player and our reader can trust.
bool DibFits(const uint8_t* P, size_t Words) {
  const size_t bytes = Words * 2;
  if (bytes < 12) return false;
  const uint32_t size = Le32(P);
  int64_t w, h;
  uint32_t bits;
  if (size == 12) {
    w = Le16(P + 4);
    h = Le16(P + 6);
    bits = Le16(P + 10);
  } else {
    if (size < 40 || size > bytes) return false;
    w = static_cast<int32_t>(Le32(P + 4));
    h = static_cast<int32_t>(Le32(P + 8));
    bits = Le16(P + 14);
  }
  h = std::llabs(h);
  return w > 0 && h > 0 && w <= 0xFFFF && h <= 0xFFFF && w * h <= kMaxEmbeddedPixels &&
         (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32);
}

// Checks one record's variable part: N parameters at P.
bool RecordFits(uint16_t Function, const uint8_t* P, size_t N) {
  switch (Function) {
    case 0x0324:
    case 0x0325: {  // Polygon, Polyline: count, points
      const size_t count = Le16(P);
      return count >= 1 && 1 + 2 * count <= N;
    }
    case 0x0538: {  // PolyPolygon: polygon count, point counts, points
      const size_t polys = Le16(P);
      if (polys == 0 || 1 + polys > N) return false;
      size_t points = 0;
      for (size_t i = 0; i < polys; ++i) {
        const size_t c = Le16(P + 2 + 2 * i);
        if (c == 0) return false;
        points += c;
      }
      return 1 + polys + 2 * points <= N;
    }
    case 0x0521: {  // TextOut: length, string, y, x
      const size_t len = Le16(P);
      return 1 + (len + 1) / 2 + 2 <= N;
    }
    case 0x0A32: {  // ExtTextOut: y, x, length, options, [rectangle], string, [spacing]
      const size_t len = Le16(P + 4);
      const uint16_t options = Le16(P + 6);
      const size_t rect = (options & 0x0006) ? 4 : 0;
      return 4 + rect + (len + 1) / 2 <= N;
    }
    case 0x0626: {  // Escape: function, byte count, data
      const size_t count = Le16(P + 2);
      return 2 + (count + 1) / 2 <= N;
    }
    case 0x0037:
    case 0x00F7:
    case 0x0436: {  // palettes: start or version, count, entries
      const size_t count = Le16(P + 2);
      return 2 + 2 * count <= N;
    }
    case 0x0142:  // DibCreatePatternBrush: style, usage, bitmap
      return DibFits(P + 4, N - 2);
    case 0x0940:  // DibBitBlt: the bitmap follows the eight parameters when
                  // there is one (a record of exactly nine means none)
      return N == 9 || DibFits(P + 16, N - 8);
    case 0x0B41:
      return N == 11 || DibFits(P + 20, N - 10);
    case 0x0F43:
      return DibFits(P + 22, N - 11);
    case 0x0D33:
      return DibFits(P + 18, N - 9);
    case 0x0922:
    case 0x0B23:
    case 0x01F9:
    case 0x06FF:
      // Device-dependent bitmaps and regions are left out: the player is
      // not given them (see CheckWmf).
      return true;
    default:
      return true;
  }
}

// What the record check learns on the way.
struct TWmfFacts {
  bool Placeable = false;
  int16_t BoxLeft = 0, BoxTop = 0, BoxRight = 0, BoxBottom = 0;
  uint16_t Inch = 0;
  bool HasMapMode = false;
  int MapMode = 1;  // the first SetMapMode's
  bool HasWindowOrg = false, HasWindowExt = false;
  int16_t WindowX = 0, WindowY = 0, WindowW = 0, WindowH = 0;
};

// Copies the records of a Windows metafile into Out (placeable header
// dropped, header sizes corrected, nothing after the end-of-file record, one
// added when the file stops cleanly without it), or throws.
// The first record of its kind sets the pair of 16-bit values it holds, in
// the order it stores them (y before x); later ones leave the pair alone.
void FirstPair(const uint8_t* P, bool& Has, int16_t& First, int16_t& Second) {
  if (Has) return;
  Has = true;
  First = LeS16(P);
  Second = LeS16(P + 2);
}

void CheckWmf(const uint8_t* Data, size_t Size, std::vector<uint8_t>& Out, TWmfFacts& Facts) {
  size_t pos = 0;
  if (Size >= 4 && Le32(Data) == kPlaceableKey) {
    if (Size < kPlaceableSize) Invalid();
    Facts.Placeable = true;
    Facts.BoxLeft = LeS16(Data + 6);
    Facts.BoxTop = LeS16(Data + 8);
    Facts.BoxRight = LeS16(Data + 10);
    Facts.BoxBottom = LeS16(Data + 12);
    Facts.Inch = Le16(Data + 14);
    if (Facts.Inch == 0) Invalid();
    pos = kPlaceableSize;
  }
  if (Size - pos < kHeaderSize) Invalid();
  const uint8_t* header = Data + pos;
  const uint16_t type = Le16(header), headerWords = Le16(header + 2), version = Le16(header + 4);
  if ((type != 1 && type != 2) || headerWords != 9 || (version != 0x0100 && version != 0x0300)) Invalid();
  Out.assign(header, header + kHeaderSize);
  pos += kHeaderSize;

  const auto& minimum = RecordMinimum();
  uint32_t maxRecord = 3;
  size_t records = 0;
  bool ended = false;
  while (pos < Size) {
    if (Size - pos < 6) {
      // A few stray bytes after the last record are padding.
      break;
    }
    const uint32_t words = Le32(Data + pos);
    const uint16_t function = Le16(Data + pos + 4);
    if (words < 3 || words > (Size - pos) / 2) Invalid();
    if (++records > kMaxRecords) Invalid();
    const auto known = minimum.find(function);
    if (known == minimum.end()) Invalid();
    const size_t params = words - 3;
    const uint8_t* p = Data + pos + 6;
    if (params < known->second || !RecordFits(function, p, params)) Invalid();
    switch (function) {
      case 0x0103:
        if (!Facts.HasMapMode) {
          Facts.HasMapMode = true;
          Facts.MapMode = Le16(p);
        }
        break;
      case 0x020B: FirstPair(p, Facts.HasWindowOrg, Facts.WindowY, Facts.WindowX); break;
      case 0x020C: FirstPair(p, Facts.HasWindowExt, Facts.WindowH, Facts.WindowW); break;
      default:
        break;
    }
    pos += size_t{words} * 2;
    if (function == 0x0000) {
      Out.insert(Out.end(), Data + pos - size_t{words} * 2, Data + pos);
      ended = true;
      break;
    }
    // Device-dependent bitmaps, old pattern brushes and regions are dropped
    // with their objects replaced by an empty brush, so object numbering
    // stays as the file has it: the player's readers of these structures are
    // where hostile input hurts, and the platform draws them rarely. The
    // records that use a region go with them, so no brush is taken for one.
    if (function == 0x0922 || function == 0x0B23 || function == 0x012A || function == 0x012B ||
        function == 0x012C || function == 0x0228 || function == 0x0429) {
      continue;
    }
    if (function == 0x01F9 || function == 0x06FF) {
      static const uint8_t kNullBrush[14] = {7, 0, 0, 0, 0xFC, 0x02, 1, 0, 0, 0, 0, 0, 0, 0};
      Out.insert(Out.end(), kNullBrush, kNullBrush + sizeof kNullBrush);
      continue;
    }
    maxRecord = std::max(maxRecord, words);
    Out.insert(Out.end(), Data + pos - size_t{words} * 2, Data + pos);
  }
  if (!ended) {
    static const uint8_t kEof[6] = {3, 0, 0, 0, 0, 0};
    Out.insert(Out.end(), kEof, kEof + sizeof kEof);
  }
  Put32(Out.data() + 6, static_cast<uint32_t>(Out.size() / 2));
  Put32(Out.data() + 12, maxRecord);
}

// ---------------------------------------------------------------------------
// The player's memory

// Blocks carry their size in front so the total can be counted and capped.
struct TPlayerMemory {
  size_t Used = 0;
};

constexpr size_t kBlockHeader = 16;

void* PlayerMalloc(void* Context, size_t Size) {
  auto* m = static_cast<TPlayerMemory*>(Context);
  if (Size > kMaxPlayerMemory || m->Used + Size > kMaxPlayerMemory) return nullptr;
  auto* p = static_cast<uint8_t*>(std::malloc(Size + kBlockHeader));
  if (!p) return nullptr;
  std::memcpy(p, &Size, sizeof Size);
  m->Used += Size;
  return p + kBlockHeader;
}

void PlayerFree(void* Context, void* Mem) {
  if (!Mem) return;
  auto* m = static_cast<TPlayerMemory*>(Context);
  uint8_t* p = static_cast<uint8_t*>(Mem) - kBlockHeader;
  size_t size;
  std::memcpy(&size, p, sizeof size);
  m->Used -= size;
  std::free(p);
}

void* PlayerRealloc(void* Context, void* Mem, size_t Size) {
  if (!Mem) return PlayerMalloc(Context, Size);
  auto* m = static_cast<TPlayerMemory*>(Context);
  uint8_t* p = static_cast<uint8_t*>(Mem) - kBlockHeader;
  size_t old;
  std::memcpy(&old, p, sizeof old);
  if (Size > kMaxPlayerMemory || m->Used - old + Size > kMaxPlayerMemory) return nullptr;
  auto* q = static_cast<uint8_t*>(std::realloc(p, Size + kBlockHeader));
  if (!q) return nullptr;
  std::memcpy(q, &Size, sizeof Size);
  m->Used = m->Used - old + Size;
  return q + kBlockHeader;
}

// ---------------------------------------------------------------------------
// The device

// Embedded bitmaps as the device keeps them between reading and drawing.
struct TDeviceBitmap {
  int32_t Width = 0, Height = 0;
  std::vector<uint32_t> Pixels;  // 0x00RRGGBB, top row first
};

struct TDevice {
  // Measuring collects the logical box of everything drawn; drawing maps
  // logical units onto Dest through the frame.
  bool Measuring = true;
  bool Drawn = false;
  double MinX = 0, MinY = 0, MaxX = 0, MaxY = 0;

  TMetaCanvas* Canvas = nullptr;
  double OriginX = 0, OriginY = 0;  // where the frame's top-left corner lands
  TPlatformRect Clip{};             // the destination rectangle
  TPlatformRect CurrentClip{};      // the clip the records set, within Clip
  TMetafile::TFrame Frame;
  double Sx = 1, Sy = 1;  // destination pixels per logical unit

  std::chrono::steady_clock::time_point Deadline;
  bool TimedOut = false;
};

TDevice& Dev(wmfAPI* API) { return *static_cast<TDevice*>(API->user_data); }

double SafePixel(double v) { return std::isfinite(v) && v != 0 ? v : 1.0; }

// Device coordinate to logical units, by the context's window and pixel size.
TMetaPoint Logical(const wmfDC* Dc, wmfD_Coord P) {
  return TMetaPoint{P.x / SafePixel(Dc->pixel_width) + Dc->Window.Ox,
                    P.y / SafePixel(Dc->pixel_height) + Dc->Window.Oy};
}

// Device coordinate to destination pixels (recording it when measuring).
TMetaPoint Map(TDevice& D, const wmfDC* Dc, wmfD_Coord P) {
  const TMetaPoint l = Logical(Dc, P);
  if (D.Measuring) {
    if (!std::isfinite(l.X) || !std::isfinite(l.Y)) return l;
    if (!D.Drawn) {
      D.MinX = D.MaxX = l.X;
      D.MinY = D.MaxY = l.Y;
      D.Drawn = true;
    } else {
      D.MinX = std::min(D.MinX, l.X);
      D.MaxX = std::max(D.MaxX, l.X);
      D.MinY = std::min(D.MinY, l.Y);
      D.MaxY = std::max(D.MaxY, l.Y);
    }
    return l;
  }
  return TMetaPoint{D.OriginX + (l.X - D.Frame.Left) * D.Sx, D.OriginY + (l.Y - D.Frame.Top) * D.Sy};
}

// A length along x or y in device units, in destination pixels.
double MapLengthX(const TDevice& D, const wmfDC* Dc, double L) { return L / SafePixel(Dc->pixel_width) * D.Sx; }
double MapLengthY(const TDevice& D, const wmfDC* Dc, double L) { return L / SafePixel(Dc->pixel_height) * D.Sy; }

uint32_t Colour(const wmfRGB& C) { return C.r | (C.g << 8) | (C.b << 16); }

TMetaPen Pen(const TDevice& D, const wmfDC* Dc) {
  TMetaPen pen;
  if (!Dc->pen) return pen;
  static const TMetaPenStyle kStyles[] = {TMetaPenStyle::Solid,      TMetaPenStyle::Dash, TMetaPenStyle::Dot,
                                          TMetaPenStyle::DashDot,    TMetaPenStyle::DashDotDot,
                                          TMetaPenStyle::Null,       TMetaPenStyle::InsideFrame};
  const unsigned style = Dc->pen->lopnStyle & 0x0F;
  pen.Style = style < 7 ? kStyles[style] : TMetaPenStyle::Solid;
  // The player gives the hairline pen (width 0) one logical unit, as wide as
  // a pen of width 1; both are drawn one pixel wide, as the hairline is.
  const double logical = std::fabs(Dc->pen->width / SafePixel(Dc->pixel_width));
  pen.Width = logical <= 1 ? 0 : std::fabs(MapLengthX(D, Dc, Dc->pen->width));
  pen.Color = Colour(Dc->pen->lopnColor);
  return pen;
}

TMetaBrush Brush(const wmfDC* Dc) {
  TMetaBrush brush;
  if (!Dc->brush) return brush;
  brush.Color = Colour(Dc->brush->lbColor);
  switch (Dc->brush->lbStyle) {
    case 1:  // hollow
      brush.Style = TMetaBrushStyle::Null;
      break;
    case 2:
      brush.Style = TMetaBrushStyle::Hatched;
      brush.Hatch = static_cast<TMetaHatch>(std::min<unsigned>(Dc->brush->lbHatch, 5));
      break;
    default:
      // Pattern brushes paint in their colour: the player keeps no pattern
      // for us to repeat.
      brush.Style = TMetaBrushStyle::Solid;
      break;
  }
  return brush;
}

TMetaBackground Background(const wmfDC* Dc) { return TMetaBackground{Dc->bgmode == 2, Colour(Dc->bgcolor)}; }

TMetaFillRule Rule(const wmfDC* Dc) {
  return Dc->polyfillmode == 2 ? TMetaFillRule::Winding : TMetaFillRule::Alternate;
}

// Fills and outlines one closed shape.
void Shape(TDevice& D, const wmfDC* Dc, const std::vector<TMetaPoint>& Fill, const std::vector<TMetaPoint>& Outline) {
  if (D.Measuring) return;
  D.Canvas->FillPolygons({Fill}, Rule(Dc), Brush(Dc), Background(Dc));
  D.Canvas->StrokePolyline(Outline, true, Pen(D, Dc), Background(Dc));
}

// The points of an axis-aligned ellipse in the box, or of a rounded
// rectangle when the corner axes are given.
std::vector<TMetaPoint> RoundBox(double L, double T, double R, double B, double Cw, double Ch) {
  std::vector<TMetaPoint> pts;
  if (Cw <= 0 || Ch <= 0) {
    return {{L, T}, {R, T}, {R, B}, {L, B}};
  }
  const double rx = std::min(Cw / 2, (R - L) / 2), ry = std::min(Ch / 2, (B - T) / 2);
  TMetaCanvas::AppendArc(pts, R - rx, T + ry, rx, ry, 0, 90);
  TMetaCanvas::AppendArc(pts, L + rx, T + ry, rx, ry, 90, 90);
  TMetaCanvas::AppendArc(pts, L + rx, B - ry, rx, ry, 180, 90);
  TMetaCanvas::AppendArc(pts, R - rx, B - ry, rx, ry, 270, 90);
  return pts;
}

void Box(TDevice& D, const wmfDC* Dc, wmfD_Coord Tl, wmfD_Coord Br, double& L, double& T, double& R, double& B) {
  const TMetaPoint a = Map(D, Dc, Tl), b = Map(D, Dc, Br);
  L = std::min(a.X, b.X);
  R = std::max(a.X, b.X);
  T = std::min(a.Y, b.Y);
  B = std::max(a.Y, b.Y);
}

bool Stop(wmfAPI* API) {
  TDevice& d = Dev(API);
  if (!d.TimedOut && std::chrono::steady_clock::now() > d.Deadline) d.TimedOut = true;
  return d.TimedOut;
}

void DrawRectangle(wmfAPI* API, wmfDrawRectangle_t* R) {
  TDevice& d = Dev(API);
  double l, t, r, b;
  Box(d, R->dc, R->TL, R->BR, l, t, r, b);
  if (d.Measuring) return;
  const double cw = MapLengthX(d, R->dc, R->width), ch = MapLengthY(d, R->dc, R->height);
  // The outline runs through the border pixels inside the box, as the
  // platform's rectangles do.
  Shape(d, R->dc, RoundBox(l, t, r, b, std::fabs(cw), std::fabs(ch)),
        RoundBox(l, t, std::max(l, r - 1), std::max(t, b - 1), std::fabs(cw), std::fabs(ch)));
}

void DrawEllipse(wmfAPI* API, wmfDrawArc_t* A) {
  TDevice& d = Dev(API);
  double l, t, r, b;
  Box(d, A->dc, A->TL, A->BR, l, t, r, b);
  if (d.Measuring) return;
  std::vector<TMetaPoint> fill, outline;
  TMetaCanvas::AppendArc(fill, (l + r) / 2, (t + b) / 2, (r - l) / 2, (b - t) / 2, 0, 360);
  const double r1 = std::max(l, r - 1), b1 = std::max(t, b - 1);
  TMetaCanvas::AppendArc(outline, (l + r1) / 2, (t + b1) / 2, (r1 - l) / 2, (b1 - t) / 2, 0, 360);
  Shape(d, A->dc, fill, outline);
}

enum class TArcKind { Arc, Pie, Chord };

void DrawArcKind(wmfAPI* API, wmfDrawArc_t* A, TArcKind Kind) {
  TDevice& d = Dev(API);
  double l, t, r, b;
  Box(d, A->dc, A->TL, A->BR, l, t, r, b);
  if (d.Measuring) return;
  r = std::max(l, r - 1);
  b = std::max(t, b - 1);
  const double cx = (l + r) / 2, cy = (t + b) / 2;
  // The player hands the radial points relative to the centre, the end one
  // first; the arc runs counter-clockwise (as the logical space sees it)
  // from the record's start to its end.
  const double ex = MapLengthX(d, A->dc, A->start.x), ey = MapLengthY(d, A->dc, A->start.y);
  const double sx = MapLengthX(d, A->dc, A->end.x), sy = MapLengthY(d, A->dc, A->end.y);
  constexpr double kDeg = 180 / std::numbers::pi;
  const double a0 = std::atan2(-sy, sx) * kDeg, a1 = std::atan2(-ey, ex) * kDeg;
  // A mirrored mapping turns the logical counter-clockwise round; equal
  // ends make a whole turn.
  const bool mirrored = d.Sx * d.Sy < 0;
  double sweep = mirrored ? a0 - a1 : a1 - a0;
  while (sweep <= 0) sweep += 360;
  while (sweep > 360) sweep -= 360;
  if (mirrored) sweep = -sweep;
  std::vector<TMetaPoint> pts;
  if (Kind == TArcKind::Pie) pts.push_back({cx, cy});
  TMetaCanvas::AppendArc(pts, cx, cy, (r - l) / 2, (b - t) / 2, a0, sweep);
  if (Kind == TArcKind::Arc) {
    d.Canvas->StrokePolyline(pts, false, Pen(d, A->dc), Background(A->dc));
  } else {
    Shape(d, A->dc, pts, pts);
  }
}

void DrawArc(wmfAPI* API, wmfDrawArc_t* A) { DrawArcKind(API, A, TArcKind::Arc); }
void DrawPie(wmfAPI* API, wmfDrawArc_t* A) { DrawArcKind(API, A, TArcKind::Pie); }
void DrawChord(wmfAPI* API, wmfDrawArc_t* A) { DrawArcKind(API, A, TArcKind::Chord); }

void DrawLine(wmfAPI* API, wmfDrawLine_t* L) {
  TDevice& d = Dev(API);
  const std::vector<TMetaPoint> pts{Map(d, L->dc, L->from), Map(d, L->dc, L->to)};
  if (!d.Measuring) d.Canvas->StrokePolyline(pts, false, Pen(d, L->dc), Background(L->dc));
}

std::vector<TMetaPoint> Points(TDevice& D, const wmfDC* Dc, const wmfD_Coord* P, size_t N) {
  std::vector<TMetaPoint> pts;
  pts.reserve(N);
  for (size_t i = 0; i < N; ++i) pts.push_back(Map(D, Dc, P[i]));
  return pts;
}

void PolyLine(wmfAPI* API, wmfPolyLine_t* L) {
  TDevice& d = Dev(API);
  if (!L->pt || L->count == 0) return;
  const auto pts = Points(d, L->dc, L->pt, L->count);
  if (!d.Measuring) d.Canvas->StrokePolyline(pts, false, Pen(d, L->dc), Background(L->dc));
}

void DrawPolygon(wmfAPI* API, wmfPolyLine_t* L) {
  TDevice& d = Dev(API);
  if (!L->pt || L->count == 0) return;
  const auto pts = Points(d, L->dc, L->pt, L->count);
  Shape(d, L->dc, pts, pts);
}

void DrawPolyPolygon(wmfAPI* API, wmfPolyPoly_t* P) {
  TDevice& d = Dev(API);
  if (!P->pt || !P->count) return;
  std::vector<std::vector<TMetaPoint>> polys;
  for (size_t i = 0; i < P->npoly; ++i) {
    if (P->pt[i] && P->count[i] > 0) polys.push_back(Points(d, P->dc, P->pt[i], P->count[i]));
  }
  if (d.Measuring) return;
  d.Canvas->FillPolygons(polys, Rule(P->dc), Brush(P->dc), Background(P->dc));
  for (const auto& poly : polys) d.Canvas->StrokePolyline(poly, true, Pen(d, P->dc), Background(P->dc));
}

void DrawPixel(wmfAPI* API, wmfDrawPixel_t* P) {
  TDevice& d = Dev(API);
  const TMetaPoint p = Map(d, P->dc, P->pt);
  if (d.Measuring) return;
  d.Canvas->SetPixel(static_cast<int32_t>(std::clamp(std::floor(p.X), -1.0, 1e9)),
                     static_cast<int32_t>(std::clamp(std::floor(p.Y), -1.0, 1e9)), Colour(P->color));
}

void FillRects(TDevice& D, const wmfDC* Dc, const std::vector<std::vector<TMetaPoint>>& Rects, const TMetaBrush& B) {
  D.Canvas->FillPolygons(Rects, TMetaFillRule::Winding, B, Background(Dc));
}

void RopDraw(wmfAPI* API, wmfROP_Draw_t* R) {
  TDevice& d = Dev(API);
  double l, t, r, b;
  Box(d, R->dc, R->TL, R->BR, l, t, r, b);
  if (d.Measuring) return;
  TMetaBrush brush;
  switch (R->ROP) {
    case 0x00F00021:  // the brush
      brush = Brush(R->dc);
      break;
    case 0x00000042:  // black
      brush = TMetaBrush{TMetaBrushStyle::Solid, 0, TMetaHatch::Horizontal};
      break;
    case 0x00FF0062:  // white
      brush = TMetaBrush{TMetaBrushStyle::Solid, 0x00FFFFFF, TMetaHatch::Horizontal};
      break;
    default:
      // Operations that combine with the destination are left out: the
      // picture is drawn without its background.
      return;
  }
  FillRects(d, R->dc, {{{l, t}, {r, t}, {r, b}, {l, b}}}, brush);
}

void RegionPaint(wmfAPI* API, wmfPolyRectangle_t* R) {
  TDevice& d = Dev(API);
  if (!R->TL || !R->BR) return;
  std::vector<std::vector<TMetaPoint>> rects;
  for (unsigned i = 0; i < R->count; ++i) {
    double l, t, r, b;
    Box(d, R->dc, R->TL[i], R->BR[i], l, t, r, b);
    rects.push_back({{l, t}, {r, t}, {r, b}, {l, b}});
  }
  if (!d.Measuring) FillRects(d, R->dc, rects, Brush(R->dc));
}

void RegionFrame(wmfAPI* API, wmfPolyRectangle_t* R) {
  TDevice& d = Dev(API);
  if (!R->TL || !R->BR) return;
  const double w = std::max(1.0, std::fabs(MapLengthX(d, R->dc, R->width)));
  const double h = std::max(1.0, std::fabs(MapLengthY(d, R->dc, R->height)));
  std::vector<std::vector<TMetaPoint>> strips;
  for (unsigned i = 0; i < R->count; ++i) {
    double l, t, r, b;
    Box(d, R->dc, R->TL[i], R->BR[i], l, t, r, b);
    strips.push_back({{l, t}, {r, t}, {r, t + h}, {l, t + h}});
    strips.push_back({{l, b - h}, {r, b - h}, {r, b}, {l, b}});
    strips.push_back({{l, t}, {l + w, t}, {l + w, b}, {l, b}});
    strips.push_back({{r - w, t}, {r, t}, {r, b}, {r - w, b}});
  }
  if (!d.Measuring) FillRects(d, R->dc, strips, Brush(R->dc));
}

void RegionClip(wmfAPI* API, wmfPolyRectangle_t* R) {
  TDevice& d = Dev(API);
  if (d.Measuring) return;
  // One clip rectangle stands for the region: the box of its rectangles.
  TPlatformRect clip = d.Clip;
  if (R->count > 0 && R->TL && R->BR) {
    double l = 1e300, t = 1e300, r = -1e300, b = -1e300;
    for (unsigned i = 0; i < R->count; ++i) {
      double l1, t1, r1, b1;
      Box(d, R->dc, R->TL[i], R->BR[i], l1, t1, r1, b1);
      l = std::min(l, l1);
      t = std::min(t, t1);
      r = std::max(r, r1);
      b = std::max(b, b1);
    }
    auto edge = [](double v) { return static_cast<int32_t>(std::nearbyint(std::clamp(v, -1e9, 1e9))); };
    clip.Left = std::max(clip.Left, edge(l));
    clip.Top = std::max(clip.Top, edge(t));
    clip.Right = std::min(clip.Right, edge(r));
    clip.Bottom = std::min(clip.Bottom, edge(b));
  }
  d.CurrentClip = clip;
  d.Canvas->SetClipRect(&clip);
}

// Metafile text is in the font's 8-bit character set; the common one is
// read as Latin-1.
std::string Latin1ToUtf8(const char* S) {
  std::string out;
  for (; *S; ++S) {
    const auto c = static_cast<unsigned char>(*S);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

void DrawText(wmfAPI* API, wmfDrawText_t* T) {
  TDevice& d = Dev(API);
  const TMetaPoint pt = Map(d, T->dc, T->pt);
  if (d.Measuring || !T->str || !T->dc->font) return;
  const wmfDC* dc = T->dc;
  const double em = std::fabs(MapLengthY(d, dc, T->font_height));
  if (!std::isfinite(em) || em < 1 || em > 4096) return;
  TFont font;
  if (dc->font->lfFaceName && *dc->font->lfFaceName) font.Name = dc->font->lfFaceName;
  font.Size = std::max(1, static_cast<int32_t>(std::nearbyint(em * 72 / 96)));
  font.Style = static_cast<uint8_t>((dc->font->lfWeight >= 600 ? fsBold : 0) | (dc->font->lfItalic ? fsItalic : 0) |
                                    (dc->font->lfUnderline ? fsUnderline : 0) |
                                    (dc->font->lfStrikeOut ? fsStrikeOut : 0));
  font.Color = static_cast<int32_t>(Colour(dc->textcolor));
  const std::string text = Latin1ToUtf8(T->str);

  // The player moves the reference point by its own guesses (a top-aligned
  // text one em down, a centred or right-aligned one half its estimated
  // width left); the record's point is recovered and aligned here with the
  // real extent.
  double x = pt.X, y = pt.Y;
  const uint16_t align = dc->textalign;
  const double guessed = MapLengthX(d, dc, T->bbox.BR.x - T->bbox.TL.x);
  if (align & 0x0006) x += std::fabs(guessed) / 2;
  if ((align & 0x0018) == 0) y -= em;
  const TTextExtent extent = PlatformTextExtent(font, text);
  const TTextMetrics metrics = PlatformTextMetrics(font);
  if ((align & 0x0006) == 0x0006) {
    x -= extent.cx / 2.0;
  } else if (align & 0x0002) {
    x -= extent.cx;
  }
  if ((align & 0x0018) == 0x0018) {
    y -= metrics.Ascent;
  } else if (align & 0x0008) {
    y -= metrics.Height;
  }
  if (T->flags & 0x0002) {  // an opaque rectangle comes first
    double l, t, r, b;
    Box(d, dc, T->TL, T->BR, l, t, r, b);
    d.Canvas->FillPolygons({{{l, t}, {r, t}, {r, b}, {l, b}}}, TMetaFillRule::Winding,
                           TMetaBrush{TMetaBrushStyle::Solid, Colour(dc->bgcolor), TMetaHatch::Horizontal},
                           TMetaBackground{});
  }
  if (T->flags & 0x0004) {  // clipped to the rectangle
    double l, t, r, b;
    Box(d, dc, T->TL, T->BR, l, t, r, b);
    auto edge = [](double v) { return static_cast<int32_t>(std::nearbyint(std::clamp(v, -1e9, 1e9))); };
    const TPlatformRect clip{std::max(d.CurrentClip.Left, edge(l)), std::max(d.CurrentClip.Top, edge(t)),
                             std::min(d.CurrentClip.Right, edge(r)), std::min(d.CurrentClip.Bottom, edge(b))};
    d.Canvas->SetClipRect(&clip);
    d.Canvas->TextOut({x, y}, text, font, Background(dc));
    d.Canvas->SetClipRect(&d.CurrentClip);
    return;
  }
  d.Canvas->TextOut({x, y}, text, font, Background(dc));
}

// Reads a bitmap the player found in a record: the device-independent bitmap
// is read by the platform's own BMP reader behind a file header made for it.
void BmpRead(wmfAPI* API, wmfBMP_Read_t* R) {
  R->bmp.data = nullptr;
  R->bmp.width = R->bmp.height = 0;
  if (!R->buffer || R->length < 12 || !DibFits(R->buffer, static_cast<size_t>(R->length) / 2)) return;
  try {
    const uint8_t* dib = R->buffer;
    const uint32_t headerSize = Le32(dib);
    const uint32_t bits = headerSize == 12 ? Le16(dib + 10) : Le16(dib + 14);
    uint32_t colours = headerSize == 12 ? 0 : Le32(dib + 32);
    if (bits <= 8 && colours == 0) colours = 1u << bits;
    const uint32_t entry = headerSize == 12 ? 3 : 4;
    uint32_t masks = 0;
    if (headerSize == 40 && Le32(dib + 16) == 3) masks = 12;
    const uint64_t offBits = 14 + uint64_t{headerSize} + masks + uint64_t{colours} * entry;
    std::vector<uint8_t> file(14 + static_cast<size_t>(R->length));
    file[0] = 'B';
    file[1] = 'M';
    Put32(file.data() + 2, static_cast<uint32_t>(file.size()));
    Put32(file.data() + 10, static_cast<uint32_t>(std::min<uint64_t>(offBits, file.size())));
    std::memcpy(file.data() + 14, dib, static_cast<size_t>(R->length));
    TReadOnlyMemoryStream s(file.data(), file.size());
    TPlatformBitmap bmp;
    bmp.LoadFromStream(s);
    if (bmp.Width() <= 0 || bmp.Height() <= 0 || bmp.Width() > 0xFFFF || bmp.Height() > 0xFFFF) return;
    auto* keep = new TDeviceBitmap;
    keep->Width = bmp.Width();
    keep->Height = bmp.Height();
    keep->Pixels.assign(bmp.Bits(), bmp.Bits() + static_cast<size_t>(bmp.Width()) * bmp.Height());
    R->bmp.width = static_cast<U16>(keep->Width);
    R->bmp.height = static_cast<U16>(keep->Height);
    R->bmp.data = keep;
  } catch (...) {
    // A bitmap the reader refuses is left out of the picture, as the
    // platform leaves out what it cannot draw.
  }
  (void)API;
}

void BmpFree(wmfAPI*, wmfBMP* B) {
  delete static_cast<TDeviceBitmap*>(B->data);
  B->data = nullptr;
}

void BmpDraw(wmfAPI* API, wmfBMP_Draw_t* B) {
  TDevice& d = Dev(API);
  const auto* bmp = static_cast<const TDeviceBitmap*>(B->bmp.data);
  const double w = B->crop.w * B->pixel_width, h = B->crop.h * B->pixel_height;
  const TMetaPoint tl = Map(d, B->dc, B->pt);
  const TMetaPoint br = Map(d, B->dc, wmfD_Coord{static_cast<float>(B->pt.x + w), static_cast<float>(B->pt.y + h)});
  if (d.Measuring || !bmp) return;
  const int32_t cx = std::min<int32_t>(B->crop.x, bmp->Width), cy = std::min<int32_t>(B->crop.y, bmp->Height);
  const int32_t cw = std::min<int32_t>(B->crop.w, bmp->Width - cx), ch = std::min<int32_t>(B->crop.h, bmp->Height - cy);
  if (cw <= 0 || ch <= 0) return;
  std::vector<uint32_t> block(static_cast<size_t>(cw) * ch);
  for (int32_t y = 0; y < ch; ++y) {
    const uint32_t* src = bmp->Pixels.data() + static_cast<size_t>(cy + y) * bmp->Width + cx;
    std::copy(src, src + cw, block.begin() + static_cast<ptrdiff_t>(y) * cw);
  }
  auto edge = [](double v) { return static_cast<int32_t>(std::nearbyint(std::clamp(v, -1e9, 1e9))); };
  d.Canvas->StretchPixels(TPlatformRect{edge(tl.X), edge(tl.Y), edge(br.X), edge(br.Y)}, block.data(), cw, ch);
}

void Nothing(wmfAPI*) {}
void NoUserData(wmfAPI*, wmfUserData_t*) {}
void NoFlood(wmfAPI*, wmfFlood_t*) {}
void NoFontMap(wmfAPI*, wmfFont*) {}

// The width the player estimates text by: points of a one-point font.
float StringWidth(wmfAPI*, wmfFont* F, char* S) {
  if (!S || !*S) return 0;
  TFont font;
  if (F && F->lfFaceName && *F->lfFaceName) font.Name = F->lfFaceName;
  font.Size = 96;
  const TTextExtent e = PlatformTextExtent(font, Latin1ToUtf8(S));
  return static_cast<float>(e.cx * 72.0 / 96.0 / 96.0);
}

// Fills the player's function table with our device.
void InstallDevice(wmfAPI* API) {
  auto* f = static_cast<wmfFunctionReference*>(wmf_malloc(API, sizeof(wmfFunctionReference)));
  auto* fonts = static_cast<wmfFontData*>(wmf_malloc(API, sizeof(wmfFontData)));
  if (!f || !fonts) {
    API->err = wmf_E_InsMem;
    return;
  }
  std::memset(f, 0, sizeof *f);
  f->device_open = Nothing;
  f->device_close = Nothing;
  f->device_begin = Nothing;
  f->device_end = Nothing;
  f->flood_interior = NoFlood;
  f->flood_exterior = NoFlood;
  f->draw_pixel = DrawPixel;
  f->draw_pie = DrawPie;
  f->draw_chord = DrawChord;
  f->draw_arc = DrawArc;
  f->draw_ellipse = DrawEllipse;
  f->draw_line = DrawLine;
  f->poly_line = PolyLine;
  f->draw_polygon = DrawPolygon;
  f->draw_polypolygon = DrawPolyPolygon;
  f->draw_rectangle = DrawRectangle;
  f->rop_draw = RopDraw;
  f->bmp_draw = BmpDraw;
  f->bmp_read = BmpRead;
  f->bmp_free = BmpFree;
  f->draw_text = DrawText;
  f->udata_init = NoUserData;
  f->udata_copy = NoUserData;
  f->udata_set = NoUserData;
  f->udata_free = NoUserData;
  f->region_frame = RegionFrame;
  f->region_paint = RegionPaint;
  f->region_clip = RegionClip;
  API->function_reference = f;
  fonts->map = NoFontMap;
  fonts->stringwidth = StringWidth;
  fonts->user_data = nullptr;
  API->font_data = fonts;
}

int Status(void* Context, float) { return Stop(static_cast<wmfAPI*>(Context)) ? 1 : 0; }

// One play of the checked records through the device; false when the player
// or the clock gave up.
bool Play(const std::vector<uint8_t>& Records, TDevice& Device) {
  TPlayerMemory memory;
  wmfAPI_Options options{};
  options.context = &memory;
  options.malloc = PlayerMalloc;
  options.realloc = PlayerRealloc;
  options.free = PlayerFree;
  options.function = InstallDevice;
  wmfAPI* api = nullptr;
  const unsigned long flags = WMF_OPT_ALLOC | WMF_OPT_FUNCTION | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
  if (wmf_lite_create(&api, flags, &options) != wmf_E_None || !api) {
    if (api) wmf_lite_destroy(api);
    return false;
  }
  api->user_data = &Device;
  wmf_status_function(api, api, Status);
  Device.Deadline = std::chrono::steady_clock::now() + kMaxPlayTime;
  bool ok = wmf_mem_open(api, const_cast<unsigned char*>(Records.data()), static_cast<long>(Records.size())) ==
            wmf_E_None;
  if (ok) {
    wmfD_Rect box;
    ok = wmf_scan(api, 0, &box) == wmf_E_None && wmf_play(api, 0, &box) == wmf_E_None;
    wmf_mem_close(api);
  }
  wmf_lite_destroy(api);
  return ok && !Device.TimedOut;
}

// Logical units per inch of the fixed mapping modes (the others count
// device pixels, which are 96 to the inch here).
double UnitsPerInch(int MapMode) {
  switch (MapMode) {
    case 2: return 254;    // tenths of a millimetre
    case 3: return 2540;   // hundredths of a millimetre
    case 4: return 100;    // hundredths of an inch
    case 5: return 1000;   // thousandths of an inch
    case 6: return 1440;   // twips
    default: return 96;
  }
}

int32_t PixelSize(double Logical, double PerInch) {
  const double px = std::nearbyint(std::fabs(Logical) * 96 / PerInch);
  if (!(px <= TPlatformBitmap::kMaxDimension)) Invalid();
  return static_cast<int32_t>(px);
}

}  // namespace

TMetafileKind DetectMetafileKind(const uint8_t* Data, size_t Size) {
  if (!Data || Size < 4) return TMetafileKind::Unknown;
  if (Le32(Data) == kPlaceableKey) return TMetafileKind::Wmf;
  // An enhanced metafile opens with its header record (type 1) and carries
  // " EMF" at offset 40.
  if (Size >= 44 && Le32(Data) == 1 && std::memcmp(Data + 40, " EMF", 4) == 0) return TMetafileKind::Emf;
  if (Size >= kHeaderSize) {
    const uint16_t type = Le16(Data), words = Le16(Data + 2), version = Le16(Data + 4);
    if ((type == 1 || type == 2) && words == 9 && (version == 0x0100 || version == 0x0300)) return TMetafileKind::Wmf;
  }
  return TMetafileKind::Unknown;
}

void TMetafile::LoadFromStream(TStream& Stream) {
  const int64_t remaining = Stream.Remaining();
  if (remaining <= 0 || static_cast<uint64_t>(remaining) > kMaxFileSize) Invalid();
  std::vector<uint8_t> bytes(static_cast<size_t>(remaining));
  Stream.ReadBuffer(bytes.data(), bytes.size());
  LoadFromBytes(bytes.data(), bytes.size());
}

void TMetafile::LoadFromBytes(const uint8_t* Data, size_t Size) {
  switch (DetectMetafileKind(Data, Size)) {
    case TMetafileKind::Wmf:
      LoadWmf(Data, Size);
      emf_ = TEmfPicture{};
      break;
    case TMetafileKind::Emf:
      LoadEmf(Data, Size);
      break;
    case TMetafileKind::Unknown:
      Invalid();
  }
}

void TMetafile::LoadWmf(const uint8_t* Data, size_t Size) {
  TWmfFacts facts;
  std::vector<uint8_t> records;
  CheckWmf(Data, Size, records, facts);

  // One play at load time both proves the records play and measures what
  // they draw, for files that do not say their size.
  TDevice measure;
  if (!Play(records, measure)) Invalid();

  TFrame frame;
  int32_t w = 0, h = 0;
  if (facts.Placeable) {
    frame = TFrame{double(facts.BoxLeft), double(facts.BoxTop), double(facts.BoxRight), double(facts.BoxBottom)};
    w = PixelSize(frame.Right - frame.Left, facts.Inch);
    h = PixelSize(frame.Bottom - frame.Top, facts.Inch);
  } else if (facts.HasWindowExt && facts.WindowW != 0 && facts.WindowH != 0) {
    frame = TFrame{double(facts.WindowX), double(facts.WindowY), double(facts.WindowX) + facts.WindowW,
                   double(facts.WindowY) + facts.WindowH};
    w = PixelSize(facts.WindowW, UnitsPerInch(facts.MapMode));
    h = PixelSize(facts.WindowH, UnitsPerInch(facts.MapMode));
  } else if (measure.Drawn) {
    // The page runs from the window's origin to the far side of what is
    // drawn, so a drawing keeps its margins as a page would.
    const double ox = facts.WindowX, oy = facts.WindowY;
    frame = TFrame{std::min(ox, std::floor(measure.MinX)), std::min(oy, std::floor(measure.MinY)),
                   std::max(ox, std::ceil(measure.MaxX)), std::max(oy, std::ceil(measure.MaxY))};
    w = PixelSize(frame.Right - frame.Left, UnitsPerInch(facts.MapMode));
    h = PixelSize(frame.Bottom - frame.Top, UnitsPerInch(facts.MapMode));
  }
  if (w > 0 && h > 0 && static_cast<int64_t>(w) * h > TPlatformBitmap::kMaxPixels) Invalid();

  kind_ = TMetafileKind::Wmf;
  records_ = std::move(records);
  frame_ = frame;
  width_ = w;
  height_ = h;
}

void TMetafile::LoadEmf(const uint8_t* Data, size_t Size) {
  TEmfPicture emf;
  emf.LoadFromBytes(Data, Size);
  const int32_t w = emf.Width(), h = emf.Height();
  if (w > TPlatformBitmap::kMaxDimension || h > TPlatformBitmap::kMaxDimension) Invalid();
  if (w > 0 && h > 0 && static_cast<int64_t>(w) * h > TPlatformBitmap::kMaxPixels) Invalid();
  const TPlatformRect& f = emf.Header().Frame;
  kind_ = TMetafileKind::Emf;
  records_.clear();
  frame_ = TFrame{double(f.Left), double(f.Top), double(f.Right), double(f.Bottom)};
  width_ = w;
  height_ = h;
  emf_ = std::move(emf);
}

void TMetafile::Draw(TPixelSurface& Surface, const TPlatformRect& Dest) const {
  if (Empty() || !Surface.Bits) return;
  if (kind_ == TMetafileKind::Wmf) DrawWmf(Surface, Dest);
  if (kind_ == TMetafileKind::Emf) {
    // A file that would draw without end raises EInvalidGraphic here, with
    // what it drew so far left on the surface.
    TMetaCanvas canvas(Surface);
    emf_.Play(canvas, Surface, Dest);
  }
}

void TMetafile::DrawWmf(TPixelSurface& Surface, const TPlatformRect& Dest) const {
  const double fw = frame_.Right - frame_.Left, fh = frame_.Bottom - frame_.Top;
  if (fw == 0 || fh == 0) return;
  TMetaCanvas canvas(Surface);
  const TPlatformRect clip{std::min(Dest.Left, Dest.Right), std::min(Dest.Top, Dest.Bottom),
                           std::max(Dest.Left, Dest.Right), std::max(Dest.Top, Dest.Bottom)};
  canvas.SetClipRect(&clip);
  TDevice device;
  device.Measuring = false;
  device.Canvas = &canvas;
  device.Clip = clip;
  device.CurrentClip = clip;
  device.Frame = frame_;
  device.OriginX = Dest.Left;
  device.OriginY = Dest.Top;
  device.Sx = (double(Dest.Right) - Dest.Left) / fw;
  device.Sy = (double(Dest.Bottom) - Dest.Top) / fh;
  // The records played once at load, so a second play fails only when the
  // clock runs out. A half-drawn picture would be wrong twice over: the two
  // backgrounds' plays stop at different records and the difference reads
  // as transparency.
  if (!Play(records_, device)) Invalid();
}
