// Enhanced metafiles: one walker over the records serves both the check made
// on loading (no canvas: records are parsed and the device-context state is
// kept, nothing is drawn) and playing, so a file that loaded cannot meet a
// parse error later. Geometry goes from logical coordinates through the
// world transform, the page transform (mapping mode, window and viewport)
// and the frame-to-destination transform, and is rounded to whole device
// pixels as the platform does before it rasterises.
#include "platform_emf.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>

#include "platform_text.h"

void RaiseInvalidMetafile() { throw EInvalidGraphic("Metafile is not valid"); }

namespace {

[[noreturn]] void Invalid() { RaiseInvalidMetafile(); }

uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// Record types of the common subset.
enum : uint32_t {
  EMR_HEADER = 1, EMR_POLYBEZIER = 2, EMR_POLYGON = 3, EMR_POLYLINE = 4, EMR_POLYBEZIERTO = 5,
  EMR_POLYLINETO = 6, EMR_POLYPOLYLINE = 7, EMR_POLYPOLYGON = 8, EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10, EMR_SETVIEWPORTEXTEX = 11, EMR_SETVIEWPORTORGEX = 12, EMR_EOF = 14,
  EMR_SETPIXELV = 15, EMR_SETMAPMODE = 17, EMR_SETBKMODE = 18, EMR_SETPOLYFILLMODE = 19,
  EMR_SETTEXTALIGN = 22, EMR_SETTEXTCOLOR = 24, EMR_SETBKCOLOR = 25, EMR_MOVETOEX = 27,
  EMR_INTERSECTCLIPRECT = 30, EMR_SAVEDC = 33, EMR_RESTOREDC = 34, EMR_SETWORLDTRANSFORM = 35,
  EMR_MODIFYWORLDTRANSFORM = 36, EMR_SELECTOBJECT = 37, EMR_CREATEPEN = 38, EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40, EMR_ELLIPSE = 42, EMR_RECTANGLE = 43, EMR_ROUNDRECT = 44, EMR_ARC = 45,
  EMR_CHORD = 46, EMR_PIE = 47, EMR_LINETO = 54, EMR_ARCTO = 55, EMR_SETARCDIRECTION = 57,
  EMR_BEGINPATH = 59, EMR_ENDPATH = 60, EMR_CLOSEFIGURE = 61, EMR_FILLPATH = 62,
  EMR_STROKEANDFILLPATH = 63, EMR_STROKEPATH = 64, EMR_ABORTPATH = 68, EMR_EXTSELECTCLIPRGN = 75,
  EMR_BITBLT = 76, EMR_STRETCHBLT = 77, EMR_STRETCHDIBITS = 81, EMR_EXTCREATEFONTINDIRECTW = 82,
  EMR_EXTTEXTOUTW = 84, EMR_POLYBEZIER16 = 85, EMR_POLYGON16 = 86, EMR_POLYLINE16 = 87,
  EMR_POLYBEZIERTO16 = 88, EMR_POLYLINETO16 = 89, EMR_POLYPOLYLINE16 = 90, EMR_POLYPOLYGON16 = 91,
  EMR_EXTCREATEPEN = 95,
};

constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr double kMaxWork = 4.0e9;  // pixel writes, a few seconds of drawing
constexpr uint32_t kHeaderSize = 88;            // up to and including szlMillimeters

constexpr uint32_t kSrcCopy = 0x00CC0020, kPatCopy = 0x00F00021, kBlackness = 0x00000042,
                   kWhiteness = 0x00FF0062;

// The platform keeps device coordinates within 27 bits; so does the
// player, which also keeps runaway transforms from the rasteriser.
constexpr double kMaxDevice = 134217727.0;

// The work of one point of an outline (made, sorted among the edges) in
// painted pixels.
constexpr double kPointWork = 16;

// Points an open path may collect before it is used.
constexpr size_t kMaxPathPoints = size_t{1} << 20;

// One record: its type and bytes. Every read is checked against the record's
// size, so a count that promises more than the record holds ends in the
// error, never past the data.
struct TRecord {
  uint32_t Type = 0;
  const uint8_t* P = nullptr;
  uint32_t Size = 0;

  void Need(uint64_t Off, uint64_t Len) const {
    if (Off + Len > Size) Invalid();
  }
  uint32_t U(uint32_t Off) const {
    Need(Off, 4);
    return U32(P + Off);
  }
  int32_t I(uint32_t Off) const { return static_cast<int32_t>(U(Off)); }
  int16_t I16(uint32_t Off) const {
    Need(Off, 2);
    return static_cast<int16_t>(P[Off] | (P[Off + 1] << 8));
  }
  float F(uint32_t Off) const {
    const uint32_t w = U(Off);
    float f;
    std::memcpy(&f, &w, sizeof f);
    return f;
  }
};

// An affine map as the platform's XFORM: x' = x*M11 + y*M21 + Dx,
// y' = x*M12 + y*M22 + Dy.
struct TXform {
  double M11 = 1, M12 = 0, M21 = 0, M22 = 1, Dx = 0, Dy = 0;
  TMetaPoint Map(double X, double Y) const { return {X * M11 + Y * M21 + Dx, X * M12 + Y * M22 + Dy}; }
  double Det() const { return M11 * M22 - M12 * M21; }
  bool AxisAligned() const { return M12 == 0 && M21 == 0; }
};

// A then B.
TXform Then(const TXform& A, const TXform& B) {
  TXform r;
  r.M11 = A.M11 * B.M11 + A.M12 * B.M21;
  r.M12 = A.M11 * B.M12 + A.M12 * B.M22;
  r.M21 = A.M21 * B.M11 + A.M22 * B.M21;
  r.M22 = A.M21 * B.M12 + A.M22 * B.M22;
  r.Dx = A.Dx * B.M11 + A.Dy * B.M21 + B.Dx;
  r.Dy = A.Dx * B.M12 + A.Dy * B.M22 + B.Dy;
  return r;
}

double ClampDevice(double V) {
  if (!(V == V)) return 0;
  return std::clamp(V, -kMaxDevice, kMaxDevice);
}

// Whole device pixels, halves away from zero as the platform rounds.
double RoundDevice(double V) { return ClampDevice(std::round(V)); }

struct TLogPen {
  uint32_t Style = 0;  // PS_* low nibble
  double Width = 0;    // logical units
  bool Cosmetic = true;
  bool Null = false;
  uint32_t Color = 0;
};

struct TLogFont {
  int32_t Height = 0;
  int32_t Weight = 400;
  bool Italic = false, Underline = false, StrikeOut = false;
  uint8_t Quality = 0;
  std::string Face;
};

struct TObject {
  enum class Kind { Pen, Brush, Font } K = Kind::Pen;
  TLogPen Pen;
  TMetaBrush Brush;
  TLogFont Font;
};

enum : int32_t { MM_TEXT = 1, MM_LOMETRIC, MM_HIMETRIC, MM_LOENGLISH, MM_HIENGLISH, MM_TWIPS, MM_ISOTROPIC, MM_ANISOTROPIC };

struct TDcState {
  int32_t MapMode = MM_TEXT;
  double WinOrgX = 0, WinOrgY = 0, WinExtX = 1, WinExtY = 1;
  double VpOrgX = 0, VpOrgY = 0, VpExtX = 1, VpExtY = 1;
  TXform World;
  TLogPen Pen;  // the stock black pen
  TMetaBrush Brush{TMetaBrushStyle::Solid, 0x00FFFFFF, TMetaHatch::Horizontal};
  TLogFont Font;
  TMetaBackground Background{true, 0x00FFFFFF};
  uint32_t TextColor = 0;
  bool Winding = false;
  uint32_t TextAlign = 0;
  bool Clockwise = false;
  bool HasClip = false;
  TPlatformRect Clip;  // destination pixels
  double CurX = 0, CurY = 0;  // logical
};

// One figure of a path, or of a shape about to be drawn, in device pixels.
struct TFigure {
  std::vector<TMetaPoint> Points;
  bool Closed = false;
};

std::string Utf16ToUtf8(const TRecord& R, uint32_t Off, uint32_t Count) {
  R.Need(Off, uint64_t{Count} * 2);
  std::string out;
  out.reserve(Count);
  auto unit = [&](uint32_t i) { return static_cast<uint32_t>(R.P[Off + 2 * i] | (R.P[Off + 2 * i + 1] << 8)); };
  for (uint32_t i = 0; i < Count; ++i) {
    uint32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < Count && unit(i + 1) >= 0xDC00 && unit(i + 1) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// A bitmap carried by a record, decoded to 0x00RRGGBB rows, top row first.
struct TDib {
  int32_t Width = 0, Height = 0;
  std::vector<uint32_t> Pixels;
};

// Reads the DIB at the record's offsets and decodes the source rectangle
// (Sx, Sy, Sw, Sh, top-down pixels, already inside the bitmap) when Out is
// given. False for layouts the player does not draw (compressed, 16-bit,
// palette indices); damage raises.
bool ReadDib(const TRecord& R, uint32_t OffBmi, uint32_t CbBmi, uint32_t OffBits, uint32_t CbBits, uint32_t Usage,
             int32_t& Width, int32_t& Height, bool& BottomUp, const int32_t* SrcRect, TDib* Out) {
  R.Need(OffBmi, CbBmi);
  R.Need(OffBits, CbBits);
  if (CbBmi < 40) Invalid();
  const uint32_t biSize = R.U(OffBmi);
  if (biSize < 40 || biSize > CbBmi) Invalid();
  const int32_t w = R.I(OffBmi + 4);
  const int32_t h = R.I(OffBmi + 8);
  const uint32_t planesBits = R.U(OffBmi + 12);
  const uint32_t bpp = planesBits >> 16;
  const uint32_t compression = R.U(OffBmi + 16);
  const uint32_t clrUsed = R.U(OffBmi + 32);
  if (w <= 0 || h == 0 || h == INT32_MIN) Invalid();
  const int64_t absH = std::abs(static_cast<int64_t>(h));
  if (static_cast<int64_t>(w) * absH > TEmfPicture::kMaxBitmapPixels) Invalid();
  if (Usage != 0) return false;  // palette indices into a logical palette
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
  // BI_RGB, or BI_BITFIELDS with the plain 8-8-8 masks of 32-bit pixels.
  if (compression == 3) {
    if (bpp != 32) return false;
    const uint32_t maskOff = OffBmi + 40;  // after a plain header, inside a longer one
    R.Need(maskOff, 12);
    if (maskOff + 12 > OffBmi + CbBmi) Invalid();
    if (R.U(maskOff) != 0x00FF0000 || R.U(maskOff + 4) != 0x0000FF00 || R.U(maskOff + 8) != 0x000000FF) return false;
  } else if (compression != 0) {
    return false;
  }
  uint32_t paletteCount = 0;
  if (bpp <= 8) {
    paletteCount = clrUsed == 0 ? (1u << bpp) : std::min<uint32_t>(clrUsed, 1u << bpp);
    if (biSize + uint64_t{paletteCount} * 4 > CbBmi) Invalid();
  }
  const uint64_t stride = ((static_cast<uint64_t>(w) * bpp + 31) / 32) * 4;
  if (stride * static_cast<uint64_t>(absH) > CbBits) Invalid();
  Width = w;
  Height = static_cast<int32_t>(absH);
  BottomUp = h > 0;
  if (!Out) return true;

  const int32_t sx = SrcRect[0], sy = SrcRect[1], sw = SrcRect[2], sh = SrcRect[3];
  uint32_t palette[256] = {};
  for (uint32_t i = 0; i < paletteCount; ++i) palette[i] = R.U(OffBmi + biSize + 4 * i) & 0x00FFFFFF;
  Out->Width = sw;
  Out->Height = sh;
  Out->Pixels.resize(static_cast<size_t>(sw) * static_cast<size_t>(sh));
  for (int32_t y = 0; y < sh; ++y) {
    const int64_t fileRow = BottomUp ? (absH - 1 - (sy + y)) : (sy + y);
    const uint8_t* row = R.P + OffBits + static_cast<size_t>(fileRow) * stride;
    uint32_t* dst = Out->Pixels.data() + static_cast<size_t>(y) * sw;
    for (int32_t x = 0; x < sw; ++x) {
      const uint32_t px = static_cast<uint32_t>(sx + x);
      switch (bpp) {
        case 1: dst[x] = palette[(row[px >> 3] >> (7 - (px & 7))) & 1]; break;
        case 4: dst[x] = palette[(row[px >> 1] >> ((px & 1) ? 0 : 4)) & 15]; break;
        case 8: dst[x] = palette[row[px]]; break;
        case 24: {
          const uint8_t* p = row + 3 * static_cast<size_t>(px);
          dst[x] = p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16);
          break;
        }
        default: dst[x] = U32(row + 4 * static_cast<size_t>(px)) & 0x00FFFFFF; break;
      }
    }
  }
  return true;
}

// Plays (or, without a canvas, only walks) the records.
class TPlayer {
 public:
  TPlayer(const uint8_t* Data, size_t Size, const TEmfHeader& H, TMetaCanvas* Canvas, const TPixelSurface* Surface,
          const TPlatformRect& Dest)
      : data_(Data), size_(Size), header_(H), canvas_(Canvas), objects_(H.Handles) {
    // The frame, in reference-device pixels, is stretched into Dest.
    const double fx0 = static_cast<double>(H.Frame.Left) * H.DeviceWidth / (H.MillimetersWidth * 100.0);
    const double fx1 = static_cast<double>(H.Frame.Right) * H.DeviceWidth / (H.MillimetersWidth * 100.0);
    const double fy0 = static_cast<double>(H.Frame.Top) * H.DeviceHeight / (H.MillimetersHeight * 100.0);
    const double fy1 = static_cast<double>(H.Frame.Bottom) * H.DeviceHeight / (H.MillimetersHeight * 100.0);
    const double sx = fx1 != fx0 ? (static_cast<double>(Dest.Right) - Dest.Left) / (fx1 - fx0) : 0;
    const double sy = fy1 != fy0 ? (static_cast<double>(Dest.Bottom) - Dest.Top) / (fy1 - fy0) : 0;
    init_ = TXform{sx, 0, 0, sy, Dest.Left - fx0 * sx, Dest.Top - fy0 * sy};
    if (Surface) {
      surfaceW_ = std::max(Surface->Width, 0);
      surfaceH_ = std::max(Surface->Height, 0);
      // The budget grows with the surface, but a tiny file declaring a
      // huge frame must not buy minutes of drawing with it.
      budget_ = std::min(1024.0 * surfaceW_ * surfaceH_ + double{1 << 22}, kMaxWork);
    }
    UpdateTransform();
  }

  void Run() {
    size_t pos = 0;
    bool first = true;
    while (pos < size_) {
      if (size_ - pos < 8) Invalid();
      TRecord r{U32(data_ + pos), data_ + pos, U32(data_ + pos + 4)};
      if (r.Size < 8 || (r.Size & 3) != 0 || r.Size > size_ - pos) Invalid();
      pos += r.Size;
      Charge(1);
      if (first) {
        first = false;
        continue;
      }
      if (r.Type == EMR_EOF) return;
      Record(r);
    }
  }

 private:
  // ----- state and transforms -----

  void UpdateTransform() {
    TDcState& s = dc_;
    double vx = s.VpExtX, vy = s.VpExtY;
    if (s.MapMode == MM_ISOTROPIC) {
      // Both axes get the smaller of the two scales, keeping the signs.
      const double ax = std::abs(vx / s.WinExtX), ay = std::abs(vy / s.WinExtY);
      if (ax > ay) vx = std::copysign(ay * std::abs(s.WinExtX), vx);
      else if (ay > ax) vy = std::copysign(ax * std::abs(s.WinExtY), vy);
    }
    const double kx = vx / s.WinExtX, ky = vy / s.WinExtY;
    const TXform page{kx, 0, 0, ky, s.VpOrgX - s.WinOrgX * kx, s.VpOrgY - s.WinOrgY * ky};
    xf_ = Then(Then(s.World, page), init_);
  }

  // The fixed scales of the metric modes: logical units per millimetre, y up.
  void SetMapMode(int32_t Mode) {
    TDcState& s = dc_;
    if (Mode < MM_TEXT || Mode > MM_ANISOTROPIC) return;
    const double pxPerMmX = static_cast<double>(header_.DeviceWidth) / header_.MillimetersWidth;
    const double pxPerMmY = static_cast<double>(header_.DeviceHeight) / header_.MillimetersHeight;
    auto metric = [&](double UnitsPerMm) {
      s.WinExtX = s.WinExtY = UnitsPerMm;
      s.VpExtX = pxPerMmX;
      s.VpExtY = -pxPerMmY;
    };
    switch (Mode) {
      case MM_TEXT: s.WinExtX = s.WinExtY = s.VpExtX = s.VpExtY = 1; break;
      case MM_LOMETRIC: metric(10); break;
      case MM_HIMETRIC: metric(100); break;
      case MM_LOENGLISH: metric(100 / 25.4); break;
      case MM_HIENGLISH: metric(1000 / 25.4); break;
      case MM_TWIPS: metric(1440 / 25.4); break;
      case MM_ISOTROPIC: metric(10); break;  // starts from the low-metric extents
      case MM_ANISOTROPIC: break;            // keeps the extents it had
    }
    s.MapMode = Mode;
    UpdateTransform();
  }

  TMetaPoint Dev(double X, double Y) const {
    const TMetaPoint p = xf_.Map(X, Y);
    return {RoundDevice(p.X), RoundDevice(p.Y)};
  }

  // How many device pixels one logical unit spans (for pen widths and fonts).
  double LinearScale() const { return std::sqrt(std::abs(xf_.Det())); }

  void Charge(double Work) {
    if (!canvas_) return;
    spent_ += Work;
    if (spent_ > budget_) Invalid();
  }

  // The rows of the surface an edge from A to B crosses: the scanline fill
  // visits each edge on each of them.
  double EdgeRows(const TMetaPoint& A, const TMetaPoint& B) const {
    const double y0 = std::clamp(std::min(A.Y, B.Y), 0.0, double(surfaceH_));
    const double y1 = std::clamp(std::max(A.Y, B.Y), 0.0, double(surfaceH_));
    return y1 - y0 + 1;
  }

  // The part of a device box that lies on the surface, in pixels.
  double VisibleArea(double X0, double Y0, double X1, double Y1) const {
    const double w = std::clamp(X1, 0.0, double(surfaceW_)) - std::clamp(X0, 0.0, double(surfaceW_));
    const double h = std::clamp(Y1, 0.0, double(surfaceH_)) - std::clamp(Y0, 0.0, double(surfaceH_));
    return std::max(w, 0.0) * std::max(h, 0.0);
  }

  void ApplyClip() {
    if (!canvas_) return;
    canvas_->SetClipRect(dc_.HasClip ? &dc_.Clip : nullptr);
  }

  TMetaPen DevicePen() const {
    const TLogPen& p = dc_.Pen;
    TMetaPen out;
    out.Color = p.Color & 0x00FFFFFF;
    out.Width = p.Cosmetic ? 1.0 : std::min(p.Width * LinearScale(), kMaxDevice);
    switch (p.Style) {
      case 1: out.Style = TMetaPenStyle::Dash; break;
      case 2: out.Style = TMetaPenStyle::Dot; break;
      case 3: out.Style = TMetaPenStyle::DashDot; break;
      case 4: out.Style = TMetaPenStyle::DashDotDot; break;
      case 5: out.Style = TMetaPenStyle::Null; break;
      case 6: out.Style = TMetaPenStyle::InsideFrame; break;
      default: out.Style = TMetaPenStyle::Solid; break;
    }
    if (p.Null) out.Style = TMetaPenStyle::Null;
    // Dashes only exist for one-pixel pens; wider ones draw solid.
    if (out.Width > 1 && out.Style != TMetaPenStyle::Null && out.Style != TMetaPenStyle::InsideFrame)
      out.Style = TMetaPenStyle::Solid;
    return out;
  }
  bool PenVisible() const { return !dc_.Pen.Null && dc_.Pen.Style != 5; }
  bool BrushVisible() const { return dc_.Brush.Style != TMetaBrushStyle::Null; }

  // ----- drawing -----

  void Fill(const std::vector<TFigure>& Figures, const TMetaBrush& Brush) {
    if (!canvas_ || Brush.Style == TMetaBrushStyle::Null) return;
    std::vector<std::vector<TMetaPoint>> polys;
    double x0 = kMaxDevice, y0 = kMaxDevice, x1 = -kMaxDevice, y1 = -kMaxDevice;
    double work = 0;
    for (const TFigure& f : Figures) {
      if (f.Points.size() < 2) continue;
      polys.push_back(f.Points);
      for (size_t i = 0; i < f.Points.size(); ++i) {
        const TMetaPoint& p = f.Points[i];
        x0 = std::min(x0, p.X), y0 = std::min(y0, p.Y), x1 = std::max(x1, p.X), y1 = std::max(y1, p.Y);
        work += kPointWork + EdgeRows(p, f.Points[(i + 1) % f.Points.size()]);
      }
    }
    if (polys.empty()) return;
    Charge(work + VisibleArea(x0, y0, x1 + 1, y1 + 1));
    canvas_->FillPolygons(polys, dc_.Winding ? TMetaFillRule::Winding : TMetaFillRule::Alternate, Brush,
                          dc_.Background);
  }

  void Stroke(const std::vector<TFigure>& Figures) {
    if (!canvas_ || !PenVisible()) return;
    const TMetaPen pen = DevicePen();
    for (const TFigure& f : Figures) StrokeFigure(f.Points, f.Closed, pen);
  }

  // Work: a one-pixel line steps along its length near the surface (a long
  // one is walked only where it can touch it). A wide one is filled piece by
  // piece, a quadrilateral per segment and a round disc per point (flattened
  // to a quarter pixel, so a huge pen has thousands of corners); pieces off
  // the surface cost nothing, the others their edges, the rows they cross
  // and the pixels they paint. A corner (its sine and cosine, its place in
  // the sorted edges) costs about as much as 64 painted pixels.
  void StrokeFigure(const std::vector<TMetaPoint>& Points, bool Closed, const TMetaPen& Pen) {
    if (Points.empty()) return;
    const double reach = double(surfaceW_) + surfaceH_;
    const size_t n = Points.size();
    const bool thin = !(Pen.Width > 1) || std::nearbyint(Pen.Width) <= 1;
    const double r = thin ? 0 : std::min(Pen.Width, kMaxDevice) / 2;
    double work = double(n);
    if (!thin) {
      const double corners = std::max(17.0, std::min(16385.0, std::ceil(std::numbers::pi / std::acos(1 - 0.25 / r)) + 1));
      for (const TMetaPoint& p : Points) {
        const double area = VisibleArea(p.X - r, p.Y - r, p.X + r + 1, p.Y + r + 1);
        if (area > 0) work += 64 * corners + 2 * EdgeRows({0, p.Y - r}, {0, p.Y + r}) + area;
      }
    }
    for (size_t i = 0; i < (Closed ? n : n - 1); ++i) {
      const TMetaPoint& a = Points[i];
      const TMetaPoint& b = Points[(i + 1) % n];
      const double x0 = std::min(a.X, b.X) - r, x1 = std::max(a.X, b.X) + r + 1;
      const double y0 = std::min(a.Y, b.Y) - r, y1 = std::max(a.Y, b.Y) + r + 1;
      const double area = VisibleArea(x0, y0, x1, y1);
      if (area == 0) continue;
      if (thin) work += std::min(std::max(x1 - x0, y1 - y0), 4 * reach + 16);
      else work += 4 + 4 * EdgeRows({0, y0}, {0, y1}) + area;
    }
    Charge(work);
    canvas_->StrokePolyline(Points, Closed, Pen, dc_.Background);
  }

  // A shape made by a drawing record: into the path while one is open,
  // otherwise filled (closed shapes only) and then outlined.
  void Draw(std::vector<TFigure> Figures, bool Filled) {
    if (inPath_) {
      for (TFigure& f : Figures) {
        AddPathPoints(f.Points.size());
        path_.push_back(std::move(f));
      }
      figureOpen_ = false;
      return;
    }
    if (Filled) Fill(Figures, dc_.Brush);
    Stroke(Figures);
  }

  // A path keeps its points until it is filled or stroked; their number is
  // bounded so a path that is never used cannot take the memory.
  void AddPathPoints(size_t N) {
    pathPoints_ += N;
    if (pathPoints_ > kMaxPathPoints) Invalid();
    Charge(double(N));
  }

  // Line segments from Start (the current position, device pixels) on
  // through Points (LINETO, POLYLINETO, POLYBEZIERTO, ARCTO).
  void Continue(TMetaPoint Start, const std::vector<TMetaPoint>& Points) {
    if (Points.empty()) return;
    if (inPath_) {
      if (!figureOpen_ || path_.empty()) {
        AddPathPoints(1);
        path_.push_back(TFigure{{Start}, false});
        figureOpen_ = true;
      }
      AddPathPoints(Points.size());
      TFigure& f = path_.back();
      f.Points.insert(f.Points.end(), Points.begin(), Points.end());
      return;
    }
    std::vector<TMetaPoint> line{Start};
    line.insert(line.end(), Points.begin(), Points.end());
    Stroke({TFigure{std::move(line), false}});
  }

  // The Bezier curves through device points P (start first), flattened.
  // Curves far larger than the surface flatten into many points; they are
  // paid for as they come, so a record of huge curves stops at the budget
  // instead of filling the memory.
  std::vector<TMetaPoint> Flatten(const std::vector<TMetaPoint>& P) {
    std::vector<TMetaPoint> out{P[0]};
    if (!canvas_) return out;
    for (size_t i = 1; i + 2 < P.size(); i += 3) {
      const size_t before = out.size();
      TMetaCanvas::AppendBezier(out, P[i - 1], P[i], P[i + 1], P[i + 2]);
      if (out.size() > kMaxPathPoints) Invalid();
      Charge(kPointWork * double(out.size() - before));
    }
    return out;
  }

  // The map from a box's logical coordinates to device pixels. Under a
  // transform without rotation the box is rounded to whole pixels and loses
  // its right and bottom edges, as the platform's rectangles and ellipses
  // do; Inset shrinks it further (inside-frame pens).
  TXform BoxMap(double L, double T, double R, double B, double Inset) const {
    if (!xf_.AxisAligned()) return xf_;
    double x0 = RoundDevice(xf_.Map(L, T).X), x1 = RoundDevice(xf_.Map(R, B).X);
    double y0 = RoundDevice(xf_.Map(L, T).Y), y1 = RoundDevice(xf_.Map(R, B).Y);
    const bool flipX = x0 > x1, flipY = y0 > y1;
    double lo = std::min(x0, x1), hi = std::max(x0, x1) - 1;
    double top = std::min(y0, y1), bottom = std::max(y0, y1) - 1;
    lo += Inset, hi -= Inset, top += Inset, bottom -= Inset;
    if (hi < lo) hi = lo = (lo + hi) / 2;
    if (bottom < top) bottom = top = (top + bottom) / 2;
    if (flipX) std::swap(lo, hi);
    if (flipY) std::swap(top, bottom);
    TXform m;
    m.M11 = R != L ? (hi - lo) / (R - L) : xf_.M11;
    m.M22 = B != T ? (bottom - top) / (B - T) : xf_.M22;
    m.Dx = lo - L * m.M11;
    m.Dy = top - T * m.M22;
    return m;
  }

  // Points of the elliptic arc of the ellipse with centre (Cx, Cy) and radii
  // (Rx, Ry) in the box's logical space, from parameter angle A0 through
  // Sweep (radians, counter-clockwise with y down), mapped by Map.
  void AppendEllipseArc(std::vector<TMetaPoint>& Out, const TXform& Map, double Cx, double Cy, double Rx,
                        double Ry, double A0, double Sweep, bool WithStart) const {
    auto at = [&](double x, double y) { return Map.Map(Cx + Rx * x, Cy - Ry * y); };
    const int segments = std::max(1, static_cast<int>(std::ceil(std::abs(Sweep) / (std::numbers::pi / 4) - 1e-9)));
    const double step = Sweep / segments;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    TMetaPoint p0 = at(std::cos(A0), std::sin(A0));
    if (WithStart) Out.push_back(p0);
    if (!canvas_) return;
    for (int i = 0; i < segments; ++i) {
      const double a = A0 + i * step, b = a + step;
      const TMetaPoint c1 = at(std::cos(a) - k * std::sin(a), std::sin(a) + k * std::cos(a));
      const TMetaPoint c2 = at(std::cos(b) + k * std::sin(b), std::sin(b) - k * std::cos(b));
      const TMetaPoint p3 = at(std::cos(b), std::sin(b));
      TMetaCanvas::AppendBezier(Out, p0, c1, c2, p3);
      p0 = p3;
    }
  }

  // The ARC/CHORD/PIE/ARCTO geometry: the arc's points in device pixels and
  // its centre, with the radials through the record's two points.
  struct TArc {
    std::vector<TMetaPoint> Points;
    TMetaPoint Centre;
  };
  TArc ArcPoints(const TRecord& R) {
    double l = R.I(8), t = R.I(12), r = R.I(16), b = R.I(20);
    const double sx = R.I(24), sy = R.I(28), ex = R.I(32), ey = R.I(36);
    if (l > r) std::swap(l, r);
    if (t > b) std::swap(t, b);
    const TXform map = BoxMap(l, t, r, b, 0);
    const double cx = (l + r) / 2, cy = (t + b) / 2, rx = (r - l) / 2, ry = (b - t) / 2;
    auto angle = [&](double x, double y) {
      return std::atan2(-(y - cy) / (ry > 0 ? ry : 1), (x - cx) / (rx > 0 ? rx : 1));
    };
    const double a0 = angle(sx, sy), a1 = angle(ex, ey);
    double ccw = std::remainder(a1 - a0, 2 * std::numbers::pi);
    if (ccw <= 1e-12) ccw += 2 * std::numbers::pi;
    // Counter-clockwise as seen on the surface: a mirroring map turns the
    // parameter's direction around.
    const bool screenCcw = !dc_.Clockwise;
    const bool paramCcw = (map.Det() < 0) ? !screenCcw : screenCcw;
    const double sweep = paramCcw ? ccw : ccw - 2 * std::numbers::pi;
    TArc arc;
    AppendEllipseArc(arc.Points, map, cx, cy, rx, ry, a0, sweep == 0 ? -2 * std::numbers::pi : sweep, true);
    arc.Centre = map.Map(cx, cy);
    return arc;
  }

  std::vector<TMetaPoint> Points(const TRecord& R, uint32_t Off, uint32_t Count, bool Short) {
    const uint32_t each = Short ? 4 : 8;
    R.Need(Off, uint64_t{Count} * each);
    std::vector<TMetaPoint> pts;
    pts.reserve(Count);
    for (uint32_t i = 0; i < Count; ++i) {
      const uint32_t o = Off + i * each;
      const double x = Short ? R.I16(o) : R.I(o);
      const double y = Short ? R.I16(o + 2) : R.I(o + 4);
      pts.push_back(Dev(x, y));
      if (i + 1 == Count) dc_.CurX = x, dc_.CurY = y;
    }
    return pts;
  }

  void Poly(const TRecord& R, bool Short) {
    const uint32_t count = R.U(24);
    const TMetaPoint start = Dev(dc_.CurX, dc_.CurY);
    std::vector<TMetaPoint> pts = Points(R, 28, count, Short);
    switch (R.Type) {
      case EMR_POLYLINE:
      case EMR_POLYLINE16:
        Draw({TFigure{std::move(pts), false}}, false);
        break;
      case EMR_POLYGON:
      case EMR_POLYGON16:
        Draw({TFigure{std::move(pts), true}}, true);
        break;
      case EMR_POLYBEZIER:
      case EMR_POLYBEZIER16:
        if (count < 4 || (count - 1) % 3 != 0) return;
        Draw({TFigure{Flatten(pts), false}}, false);
        break;
      case EMR_POLYLINETO:
      case EMR_POLYLINETO16:
        Continue(start, pts);
        break;
      case EMR_POLYBEZIERTO:
      case EMR_POLYBEZIERTO16: {
        if (count % 3 != 0) return;
        pts.insert(pts.begin(), start);
        std::vector<TMetaPoint> flat = Flatten(pts);
        flat.erase(flat.begin());
        Continue(start, flat);
        break;
      }
    }
  }

  void PolyPoly(const TRecord& R, bool Short) {
    const uint32_t polys = R.U(24);
    const uint32_t total = R.U(28);
    R.Need(32, uint64_t{polys} * 4);
    const uint32_t off = 32 + polys * 4;
    R.Need(off, uint64_t{total} * (Short ? 4 : 8));
    uint64_t sum = 0;
    for (uint32_t i = 0; i < polys; ++i) sum += R.U(32 + 4 * i);
    if (sum != total) Invalid();
    std::vector<TMetaPoint> pts = Points(R, off, total, Short);
    std::vector<TFigure> figures;
    const bool polygon = R.Type == EMR_POLYPOLYGON || R.Type == EMR_POLYPOLYGON16;
    size_t at = 0;
    for (uint32_t i = 0; i < polys; ++i) {
      const uint32_t n = R.U(32 + 4 * i);
      figures.push_back(TFigure{std::vector<TMetaPoint>(pts.begin() + at, pts.begin() + at + n), polygon});
      at += n;
    }
    Draw(std::move(figures), polygon);
  }

  void Box(const TRecord& R) {
    double l = R.I(8), t = R.I(12), r = R.I(16), b = R.I(20);
    if (l > r) std::swap(l, r);
    if (t > b) std::swap(t, b);
    const TMetaPen pen = DevicePen();
    const double inset = pen.Style == TMetaPenStyle::InsideFrame && PenVisible() ? std::floor(pen.Width / 2) : 0;
    const TXform map = BoxMap(l, t, r, b, inset);
    TFigure f{{}, true};
    if (R.Type == EMR_RECTANGLE) {
      f.Points = {map.Map(l, t), map.Map(r, t), map.Map(r, b), map.Map(l, b)};
    } else if (R.Type == EMR_ELLIPSE) {
      AppendEllipseArc(f.Points, map, (l + r) / 2, (t + b) / 2, (r - l) / 2, (b - t) / 2, 0, 2 * std::numbers::pi,
                       true);
    } else {  // EMR_ROUNDRECT: quarter ellipses of the corner's size
      const double rx = std::min(std::abs(double(R.I(24))) / 2, (r - l) / 2);
      const double ry = std::min(std::abs(double(R.I(28))) / 2, (b - t) / 2);
      const double q = std::numbers::pi / 2;
      AppendEllipseArc(f.Points, map, r - rx, t + ry, rx, ry, 0, q, true);
      AppendEllipseArc(f.Points, map, l + rx, t + ry, rx, ry, q, q, true);
      AppendEllipseArc(f.Points, map, l + rx, b - ry, rx, ry, 2 * q, q, true);
      AppendEllipseArc(f.Points, map, r - rx, b - ry, rx, ry, 3 * q, q, true);
    }
    if (inPath_) {
      Draw({std::move(f)}, true);
      return;
    }
    if (!canvas_) return;
    Fill({f}, dc_.Brush);
    if (PenVisible()) {
      TMetaPen solid = pen;
      if (solid.Style == TMetaPenStyle::InsideFrame) solid.Style = TMetaPenStyle::Solid;
      StrokeFigure(f.Points, true, solid);
    }
  }

  void ArcRecord(const TRecord& R) {
    TArc arc = ArcPoints(R);
    switch (R.Type) {
      case EMR_ARC:
        Draw({TFigure{std::move(arc.Points), false}}, false);
        break;
      case EMR_CHORD:
        Draw({TFigure{std::move(arc.Points), true}}, true);
        break;
      case EMR_PIE:
        arc.Points.push_back(arc.Centre);
        Draw({TFigure{std::move(arc.Points), true}}, true);
        break;
      case EMR_ARCTO: {
        // The current position moves to the arc's end.
        const TMetaPoint end = arc.Points.back();
        Continue(Dev(dc_.CurX, dc_.CurY), arc.Points);
        const TXform inv = Inverse(xf_);
        const TMetaPoint logical = inv.Map(end.X, end.Y);
        dc_.CurX = logical.X, dc_.CurY = logical.Y;
        break;
      }
    }
  }

  static TXform Inverse(const TXform& M) {
    const double d = M.Det();
    if (d == 0 || !std::isfinite(d)) return TXform{};
    TXform r;
    r.M11 = M.M22 / d;
    r.M12 = -M.M12 / d;
    r.M21 = -M.M21 / d;
    r.M22 = M.M11 / d;
    r.Dx = -(M.Dx * r.M11 + M.Dy * r.M21);
    r.Dy = -(M.Dx * r.M12 + M.Dy * r.M22);
    return r;
  }

  // ----- objects -----

  TObject* Slot(uint32_t Index) {
    if (Index == 0 || Index >= objects_.size()) Invalid();
    return objects_[Index].get();
  }
  void Create(uint32_t Index, TObject Obj) {
    Slot(Index);
    objects_[Index] = std::make_unique<TObject>(std::move(Obj));
  }

  void SelectStock(uint32_t Stock) {
    static const uint32_t kGreys[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
    if (Stock <= 4) {
      dc_.Brush = TMetaBrush{TMetaBrushStyle::Solid, kGreys[Stock], TMetaHatch::Horizontal};
    } else if (Stock == 5) {
      dc_.Brush = TMetaBrush{TMetaBrushStyle::Null, 0, TMetaHatch::Horizontal};
    } else if (Stock == 6 || Stock == 7 || Stock == 8) {
      dc_.Pen = TLogPen{};
      dc_.Pen.Color = Stock == 6 ? 0xFFFFFF : 0;
      dc_.Pen.Null = Stock == 8;
    } else if (Stock >= 10 && Stock <= 17 && Stock != 15) {
      dc_.Font = TLogFont{};
    }
  }

  void Select(uint32_t Index) {
    if (Index & 0x80000000u) {
      SelectStock(Index & 0x7FFFFFFFu);
      return;
    }
    const TObject* o = Slot(Index);
    if (!o) return;  // the platform ignores handles that were never made
    switch (o->K) {
      case TObject::Kind::Pen: dc_.Pen = o->Pen; break;
      case TObject::Kind::Brush: dc_.Brush = o->Brush; break;
      case TObject::Kind::Font: dc_.Font = o->Font; break;
    }
  }

  static TMetaHatch Hatch(uint32_t H) {
    switch (H) {
      case 1: return TMetaHatch::Vertical;
      case 2: return TMetaHatch::FDiagonal;
      case 3: return TMetaHatch::BDiagonal;
      case 4: return TMetaHatch::Cross;
      case 5: return TMetaHatch::DiagCross;
      default: return TMetaHatch::Horizontal;
    }
  }

  void CreateFont(const TRecord& R) {
    R.Need(12, 92);
    TObject o;
    o.K = TObject::Kind::Font;
    o.Font.Height = R.I(12);
    o.Font.Weight = R.I(28);
    o.Font.Italic = R.P[32] != 0;
    o.Font.Underline = R.P[33] != 0;
    o.Font.StrikeOut = R.P[34] != 0;
    o.Font.Quality = R.P[38];
    uint32_t n = 0;
    while (n < 32 && (R.P[40 + 2 * n] | R.P[41 + 2 * n]) != 0) ++n;
    o.Font.Face = Utf16ToUtf8(R, 40, n);
    Create(R.U(8), std::move(o));
  }

  TFont DeviceFont() const {
    TFont f;
    const TLogFont& lf = dc_.Font;
    if (!lf.Face.empty()) f.Name = lf.Face;
    // The height's size on the surface: a cell of h pixels is h * 72 / 96
    // points. Zero asks for the default size.
    const double h = lf.Height == 0 ? 16.0
                                    : std::abs(double(lf.Height)) * std::hypot(xf_.M21, xf_.M22);
    f.Size = static_cast<int32_t>(std::clamp(std::round(h * 72 / 96), 1.0, 4096.0));
    f.Style = (lf.Weight >= 600 ? fsBold : 0) | (lf.Italic ? fsItalic : 0) | (lf.Underline ? fsUnderline : 0) |
              (lf.StrikeOut ? fsStrikeOut : 0);
    static const TFontQuality kQuality[] = {TFontQuality::fqDefault,        TFontQuality::fqDraft,
                                            TFontQuality::fqProof,          TFontQuality::fqNonAntialiased,
                                            TFontQuality::fqAntialiased,    TFontQuality::fqClearType};
    f.Quality = lf.Quality < 6 ? kQuality[lf.Quality] : TFontQuality::fqDefault;
    f.Color = static_cast<int32_t>(dc_.TextColor & 0x00FFFFFF);
    return f;
  }

  // ----- text -----

  void TextOutW(const TRecord& R) {
    const double refX = R.I(36), refY = R.I(40);
    const uint32_t chars = R.U(44);
    const uint32_t offString = R.U(48);
    const uint32_t options = R.U(52);
    const double rl = R.I(56), rt = R.I(60), rr = R.I(64), rb = R.I(68);
    std::string text = Utf16ToUtf8(R, offString, chars);
    if (!canvas_) return;
    const bool updateCp = (dc_.TextAlign & 1) != 0;
    const double lx = updateCp ? dc_.CurX : refX, ly = updateCp ? dc_.CurY : refY;
    const TMetaPoint o = Dev(lx, ly);
    const TMetaPoint a = Dev(rl, rt), b = Dev(rr, rb);
    const TPlatformRect textRect{int32_t(std::min(a.X, b.X)), int32_t(std::min(a.Y, b.Y)), int32_t(std::max(a.X, b.X)),
                                 int32_t(std::max(a.Y, b.Y))};
    // ETO_OPAQUE: the rectangle takes the background colour first.
    if ((options & 2) && textRect.Right > textRect.Left && textRect.Bottom > textRect.Top) {
      const TMetaBrush bk{TMetaBrushStyle::Solid, dc_.Background.Color & 0x00FFFFFF, TMetaHatch::Horizontal};
      Fill({TFigure{{{a.X, a.Y}, {b.X, a.Y}, {b.X, b.Y}, {a.X, b.Y}}, true}}, bk);
    }
    if (text.empty()) return;
    const TFont font = DeviceFont();
    // Glyphs are rendered whole, however little of them shows.
    const double em = font.Size * 96.0 / 72.0;
    Charge(double(text.size()) * (em * em + 1));
    const TTextExtent ext = PlatformTextExtent(font, text);
    double x = o.X, y = o.Y;
    switch (dc_.TextAlign & 6) {
      case 2: x -= ext.cx; break;  // TA_RIGHT
      case 6: x -= ext.cx / 2; break;  // TA_CENTER
    }
    if ((dc_.TextAlign & 24) == 24) y -= PlatformTextMetrics(font).Ascent;  // TA_BASELINE
    else if (dc_.TextAlign & 8) y -= ext.cy;                                 // TA_BOTTOM
    Charge(VisibleArea(x, y, x + ext.cx, y + ext.cy));
    // ETO_CLIPPED: the text stays inside the rectangle (and the clip).
    const bool clipped = (options & 4) != 0;
    if (clipped) {
      TPlatformRect c = textRect;
      if (dc_.HasClip) {
        c.Left = std::max(c.Left, dc_.Clip.Left), c.Top = std::max(c.Top, dc_.Clip.Top);
        c.Right = std::min(c.Right, dc_.Clip.Right), c.Bottom = std::min(c.Bottom, dc_.Clip.Bottom);
      }
      canvas_->SetClipRect(&c);
    }
    canvas_->TextOut({x, y}, text, font, dc_.Background);
    if (clipped) ApplyClip();
    if (updateCp) {
      const double scale = std::hypot(xf_.M11, xf_.M12);
      if (scale > 0) dc_.CurX += ((dc_.TextAlign & 6) == 2 ? -1 : 1) * ext.cx / scale;
    }
  }

  // ----- bitmaps -----

  // Draws the DIB's source rectangle into the logical destination
  // rectangle; the source rectangle is cut to the bitmap and the
  // destination cut in proportion.
  void Blit(const TRecord& R, double Dx, double Dy, double Dw, double Dh, double Sx, double Sy, double Sw, double Sh,
            uint32_t OffBmi, uint32_t CbBmi, uint32_t OffBits, uint32_t CbBits, uint32_t Usage, bool FromBottom) {
    int32_t w = 0, h = 0;
    bool bottomUp = false;
    if (!ReadDib(R, OffBmi, CbBmi, OffBits, CbBits, Usage, w, h, bottomUp, nullptr, nullptr)) return;
    if (!canvas_ || Sw == 0 || Sh == 0 || Dw == 0 || Dh == 0) return;
    if (!std::isfinite(Sx + Sy + Sw + Sh)) return;
    // A source rectangle counted from the bottom row (bottom-up DIBs played
    // by StretchDIBits) is turned into top-down rows.
    if (FromBottom && bottomUp) Sy = h - Sy - Sh;
    // Negative source extents mirror like negative destination ones.
    if (Sw < 0) Sx += Sw, Sw = -Sw, Dx += Dw, Dw = -Dw;
    if (Sh < 0) Sy += Sh, Sh = -Sh, Dy += Dh, Dh = -Dh;
    const double cx0 = std::max(Sx, 0.0), cy0 = std::max(Sy, 0.0);
    const double cx1 = std::min(Sx + Sw, double(w)), cy1 = std::min(Sy + Sh, double(h));
    if (cx1 <= cx0 || cy1 <= cy0) return;
    const double kx = Dw / Sw, ky = Dh / Sh;
    Dx += (cx0 - Sx) * kx, Dy += (cy0 - Sy) * ky;
    Dw = (cx1 - cx0) * kx, Dh = (cy1 - cy0) * ky;
    const int32_t src[4] = {int32_t(cx0), int32_t(cy0), int32_t(cx1) - int32_t(cx0), int32_t(cy1) - int32_t(cy0)};
    if (src[2] <= 0 || src[3] <= 0) return;

    const TMetaPoint p0 = Dev(Dx, Dy), p1 = Dev(Dx + Dw, Dy + Dh);
    TPlatformRect dest{int32_t(std::min(p0.X, p1.X)), int32_t(std::min(p0.Y, p1.Y)), int32_t(std::max(p0.X, p1.X)),
                       int32_t(std::max(p0.Y, p1.Y))};
    if (dest.Right <= dest.Left || dest.Bottom <= dest.Top) return;
    if (VisibleArea(dest.Left, dest.Top, dest.Right, dest.Bottom) == 0) return;
    Charge(double(src[2]) * src[3] + VisibleArea(dest.Left, dest.Top, dest.Right, dest.Bottom));
    TDib dib;
    ReadDib(R, OffBmi, CbBmi, OffBits, CbBits, Usage, w, h, bottomUp, src, &dib);
    if (p1.X < p0.X)
      for (int32_t y = 0; y < dib.Height; ++y)
        std::reverse(dib.Pixels.begin() + size_t(y) * dib.Width, dib.Pixels.begin() + size_t(y + 1) * dib.Width);
    if (p1.Y < p0.Y)
      for (int32_t y = 0; y < dib.Height / 2; ++y)
        std::swap_ranges(dib.Pixels.begin() + size_t(y) * dib.Width, dib.Pixels.begin() + size_t(y + 1) * dib.Width,
                         dib.Pixels.begin() + size_t(dib.Height - 1 - y) * dib.Width);
    canvas_->StretchPixels(dest, dib.Pixels.data(), dib.Width, dib.Height);
  }

  void BitBlt(const TRecord& R) {
    const bool stretch = R.Type == EMR_STRETCHBLT;
    const double dx = R.I(24), dy = R.I(28), dw = R.I(32), dh = R.I(36);
    const uint32_t rop = R.U(40);
    const double sx = R.I(44), sy = R.I(48);
    const TXform srcXf{R.F(52), R.F(56), R.F(60), R.F(64), R.F(68), R.F(72)};
    const uint32_t usage = R.U(80), offBmi = R.U(84), cbBmi = R.U(88), offBits = R.U(92), cbBits = R.U(96);
    const double sw = stretch ? R.I(100) : dw, sh = stretch ? R.I(104) : dh;
    if (cbBmi == 0) {
      // No source: the pattern and constant operations fill the rectangle.
      TMetaBrush brush;
      if (rop == kPatCopy) brush = dc_.Brush;
      else if (rop == kBlackness) brush = TMetaBrush{TMetaBrushStyle::Solid, 0, TMetaHatch::Horizontal};
      else if (rop == kWhiteness) brush = TMetaBrush{TMetaBrushStyle::Solid, 0xFFFFFF, TMetaHatch::Horizontal};
      else return;
      if (!canvas_) return;
      const TMetaPoint a = Dev(dx, dy), b = Dev(dx + dw, dy + dh);
      Fill({TFigure{{{a.X, a.Y}, {b.X, a.Y}, {b.X, b.Y}, {a.X, b.Y}}, true}}, brush);
      return;
    }
    if (rop != kSrcCopy) {
      int32_t w, h;
      bool bu;
      ReadDib(R, offBmi, cbBmi, offBits, cbBits, usage, w, h, bu, nullptr, nullptr);
      return;
    }
    // The source rectangle in the bitmap's pixels, through the source
    // transform (scale and offset only).
    const bool finite = std::isfinite(srcXf.M11) && std::isfinite(srcXf.M22) && std::isfinite(srcXf.Dx) &&
                        std::isfinite(srcXf.Dy) && std::abs(srcXf.M11) < 1e6 && std::abs(srcXf.M22) < 1e6 &&
                        std::abs(srcXf.Dx) < 1e9 && std::abs(srcXf.Dy) < 1e9;
    const TXform scale = finite ? TXform{srcXf.M11, 0, 0, srcXf.M22, srcXf.Dx, srcXf.Dy} : TXform{};
    const TMetaPoint s0 = scale.Map(sx, sy), s1 = scale.Map(sx + sw, sy + sh);
    Blit(R, dx, dy, dw, dh, std::round(s0.X), std::round(s0.Y), std::round(s1.X - s0.X), std::round(s1.Y - s0.Y),
         offBmi, cbBmi, offBits, cbBits, usage, false);
  }

  void StretchDIBits(const TRecord& R) {
    const double dx = R.I(24), dy = R.I(28);
    const double sx = R.I(32), sy = R.I(36), sw = R.I(40), sh = R.I(44);
    const uint32_t offBmi = R.U(48), cbBmi = R.U(52), offBits = R.U(56), cbBits = R.U(60);
    const uint32_t usage = R.U(64), rop = R.U(68);
    const double dw = R.I(72), dh = R.I(76);
    if (rop != kSrcCopy) {
      int32_t w, h;
      bool bu;
      ReadDib(R, offBmi, cbBmi, offBits, cbBits, usage, w, h, bu, nullptr, nullptr);
      return;
    }
    Blit(R, dx, dy, dw, dh, sx, sy, sw, sh, offBmi, cbBmi, offBits, cbBits, usage, true);
  }

  // ----- the records -----

  void Record(const TRecord& R) {
    switch (R.Type) {
      case EMR_HEADER:
        Invalid();  // a second header
      case EMR_POLYBEZIER: case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
        Poly(R, false);
        break;
      case EMR_POLYBEZIER16: case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIERTO16:
      case EMR_POLYLINETO16:
        Poly(R, true);
        break;
      case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON: PolyPoly(R, false); break;
      case EMR_POLYPOLYLINE16: case EMR_POLYPOLYGON16: PolyPoly(R, true); break;
      case EMR_SETWINDOWEXTEX:
      case EMR_SETVIEWPORTEXTEX: {
        const int32_t x = R.I(8), y = R.I(12);
        if (x == 0 || y == 0) break;  // the platform refuses empty extents
        if (dc_.MapMode != MM_ISOTROPIC && dc_.MapMode != MM_ANISOTROPIC) break;
        if (R.Type == EMR_SETWINDOWEXTEX) dc_.WinExtX = x, dc_.WinExtY = y;
        else dc_.VpExtX = x, dc_.VpExtY = y;
        UpdateTransform();
        break;
      }
      case EMR_SETWINDOWORGEX: dc_.WinOrgX = R.I(8), dc_.WinOrgY = R.I(12), UpdateTransform(); break;
      case EMR_SETVIEWPORTORGEX: dc_.VpOrgX = R.I(8), dc_.VpOrgY = R.I(12), UpdateTransform(); break;
      case EMR_SETPIXELV: {
        const TMetaPoint p = Dev(R.I(8), R.I(12));
        const uint32_t color = R.U(16) & 0x00FFFFFF;
        if (!canvas_ || inPath_) break;
        Charge(1);
        canvas_->SetPixel(int32_t(p.X), int32_t(p.Y), color);
        break;
      }
      case EMR_SETMAPMODE: SetMapMode(R.I(8)); break;
      case EMR_SETBKMODE: dc_.Background.Opaque = R.U(8) == 2; break;
      case EMR_SETPOLYFILLMODE: dc_.Winding = R.U(8) == 2; break;
      case EMR_SETTEXTALIGN: dc_.TextAlign = R.U(8); break;
      case EMR_SETTEXTCOLOR: dc_.TextColor = R.U(8) & 0x00FFFFFF; break;
      case EMR_SETBKCOLOR: dc_.Background.Color = R.U(8) & 0x00FFFFFF; break;
      case EMR_MOVETOEX:
        dc_.CurX = R.I(8), dc_.CurY = R.I(12);
        figureOpen_ = false;
        break;
      case EMR_LINETO: {
        const double x = R.I(8), y = R.I(12);
        Continue(Dev(dc_.CurX, dc_.CurY), {Dev(x, y)});
        dc_.CurX = x, dc_.CurY = y;
        break;
      }
      case EMR_INTERSECTCLIPRECT: {
        const TMetaPoint a = Dev(R.I(8), R.I(12)), b = Dev(R.I(16), R.I(20));
        TPlatformRect c{int32_t(std::min(a.X, b.X)), int32_t(std::min(a.Y, b.Y)), int32_t(std::max(a.X, b.X)),
                        int32_t(std::max(a.Y, b.Y))};
        if (dc_.HasClip) {
          c.Left = std::max(c.Left, dc_.Clip.Left), c.Top = std::max(c.Top, dc_.Clip.Top);
          c.Right = std::min(c.Right, dc_.Clip.Right), c.Bottom = std::min(c.Bottom, dc_.Clip.Bottom);
        }
        if (c.Right < c.Left) c.Right = c.Left;
        if (c.Bottom < c.Top) c.Bottom = c.Top;
        dc_.HasClip = true;
        dc_.Clip = c;
        ApplyClip();
        break;
      }
      case EMR_EXTSELECTCLIPRGN: {
        // RGN_COPY of no region lifts the clip.
        const uint32_t cb = R.U(8), mode = R.U(12);
        R.Need(16, cb);
        if (mode == 5 && cb == 0) {
          dc_.HasClip = false;
          ApplyClip();
        }
        break;
      }
      case EMR_SAVEDC:
        if (saved_.size() >= size_t(TEmfPicture::kMaxSaveDepth)) Invalid();
        saved_.push_back(SavedState());
        break;
      case EMR_RESTOREDC: {
        const int32_t rel = R.I(8);
        const int64_t n = int64_t(saved_.size());
        // Negative: that many levels back; positive: that saved instance.
        const int64_t keep = rel < 0 ? n + rel : int64_t(rel) - 1;
        if (keep < 0 || keep >= n) break;
        dc_ = saved_[size_t(keep)].Dc;
        inPath_ = false;
        saved_.resize(size_t(keep));
        UpdateTransform();
        ApplyClip();
        break;
      }
      case EMR_SETWORLDTRANSFORM:
      case EMR_MODIFYWORLDTRANSFORM: {
        const TXform x{R.F(8), R.F(12), R.F(16), R.F(20), R.F(24), R.F(28)};
        const uint32_t mode = R.Type == EMR_SETWORLDTRANSFORM ? 4 : R.U(32);
        const bool sane = std::isfinite(x.M11) && std::isfinite(x.M12) && std::isfinite(x.M21) &&
                          std::isfinite(x.M22) && std::isfinite(x.Dx) && std::isfinite(x.Dy) && x.Det() != 0 &&
                          std::abs(x.M11) + std::abs(x.M12) + std::abs(x.M21) + std::abs(x.M22) < 1e7 &&
                          std::abs(x.Dx) + std::abs(x.Dy) < 1e10;
        if (mode == 1) dc_.World = TXform{};
        else if (!sane) break;
        else if (mode == 2) dc_.World = Then(x, dc_.World);
        else if (mode == 3) dc_.World = Then(dc_.World, x);
        else if (mode == 4) dc_.World = x;
        const double d = dc_.World.Det();
        if (!std::isfinite(d) || d == 0 || std::abs(dc_.World.M11) + std::abs(dc_.World.M22) > 1e7) dc_.World = TXform{};
        UpdateTransform();
        break;
      }
      case EMR_SELECTOBJECT: Select(R.U(8)); break;
      case EMR_DELETEOBJECT: {
        const uint32_t i = R.U(8);
        if (i & 0x80000000u) break;
        Slot(i);
        objects_[i].reset();
        break;
      }
      case EMR_CREATEPEN: {
        TObject o;
        o.Pen.Style = R.U(12) & 0xF;
        const int32_t width = R.I(16);
        // Width 0 is one pixel whatever the mapping; any other width is
        // in logical units.
        o.Pen.Width = std::abs(double(width));
        o.Pen.Cosmetic = width == 0;
        o.Pen.Color = R.U(24) & 0x00FFFFFF;
        Create(R.U(8), o);
        break;
      }
      case EMR_EXTCREATEPEN: {
        TObject o;
        const uint32_t style = R.U(28);
        o.Pen.Style = style & 0xF;
        o.Pen.Cosmetic = (style & 0x000F0000) == 0 || R.U(32) == 0;
        o.Pen.Width = R.U(32);
        o.Pen.Null = R.U(36) == 1;  // BS_NULL brush
        o.Pen.Color = R.U(40) & 0x00FFFFFF;
        const uint32_t entries = R.U(48);
        R.Need(52, uint64_t{entries} * 4);
        Create(R.U(8), o);
        break;
      }
      case EMR_CREATEBRUSHINDIRECT: {
        TObject o;
        o.K = TObject::Kind::Brush;
        const uint32_t style = R.U(12);
        o.Brush.Color = R.U(16) & 0x00FFFFFF;
        o.Brush.Style = style == 1 ? TMetaBrushStyle::Null
                        : style == 2 ? TMetaBrushStyle::Hatched
                                     : TMetaBrushStyle::Solid;
        o.Brush.Hatch = Hatch(R.U(20));
        Create(R.U(8), o);
        break;
      }
      case EMR_EXTCREATEFONTINDIRECTW: CreateFont(R); break;
      case EMR_RECTANGLE: case EMR_ELLIPSE: case EMR_ROUNDRECT:
        R.Need(8, R.Type == EMR_ROUNDRECT ? 24 : 16);
        Box(R);
        break;
      case EMR_ARC: case EMR_CHORD: case EMR_PIE: case EMR_ARCTO:
        R.Need(8, 32);
        ArcRecord(R);
        break;
      case EMR_SETARCDIRECTION: dc_.Clockwise = R.U(8) == 2; break;
      case EMR_BEGINPATH:
        inPath_ = true;
        figureOpen_ = false;
        path_.clear();
        pathPoints_ = 0;
        break;
      case EMR_ENDPATH: inPath_ = false; break;
      case EMR_ABORTPATH:
        inPath_ = false;
        path_.clear();
        pathPoints_ = 0;
        break;
      case EMR_CLOSEFIGURE:
        if (inPath_ && !path_.empty()) path_.back().Closed = true;
        figureOpen_ = false;
        break;
      case EMR_FILLPATH: case EMR_STROKEPATH: case EMR_STROKEANDFILLPATH: {
        if (inPath_) break;
        std::vector<TFigure> figures = std::move(path_);
        path_.clear();
        pathPoints_ = 0;
        if (R.Type != EMR_STROKEPATH) Fill(figures, dc_.Brush);
        if (R.Type != EMR_FILLPATH) Stroke(figures);
        break;
      }
      case EMR_BITBLT: case EMR_STRETCHBLT: BitBlt(R); break;
      case EMR_STRETCHDIBITS: StretchDIBits(R); break;
      case EMR_EXTTEXTOUTW: TextOutW(R); break;
      default: break;  // records outside the subset are skipped
    }
  }

  struct TSaved {
    TDcState Dc;
  };
  TSaved SavedState() const { return TSaved{dc_}; }

  const uint8_t* data_;
  size_t size_;
  const TEmfHeader& header_;
  TMetaCanvas* canvas_;
  std::vector<std::unique_ptr<TObject>> objects_;
  std::vector<TSaved> saved_;
  TDcState dc_;
  TXform init_, xf_;
  std::vector<TFigure> path_;
  bool inPath_ = false, figureOpen_ = false;
  size_t pathPoints_ = 0;
  int32_t surfaceW_ = 0, surfaceH_ = 0;
  double budget_ = 0, spent_ = 0;
};

TEmfHeader ParseHeader(const uint8_t* Data, size_t Size) {
  if (!TEmfPicture::IsEmf(Data, Size)) Invalid();
  const TRecord r{U32(Data), Data, U32(Data + 4)};
  if (r.Size < kHeaderSize || (r.Size & 3) != 0 || r.Size > Size) Invalid();
  TEmfHeader h;
  h.Bounds = TPlatformRect{r.I(8), r.I(12), r.I(16), r.I(20)};
  h.Frame = TPlatformRect{r.I(24), r.I(28), r.I(32), r.I(36)};
  h.Records = r.U(52);
  h.Handles = static_cast<uint16_t>(r.U(56) & 0xFFFF);
  h.DeviceWidth = r.I(72);
  h.DeviceHeight = r.I(76);
  h.MillimetersWidth = r.I(80);
  h.MillimetersHeight = r.I(84);
  if (h.DeviceWidth <= 0 || h.DeviceHeight <= 0 || h.MillimetersWidth <= 0 || h.MillimetersHeight <= 0) Invalid();
  return h;
}

// Frame extent in 0.01 mm to pixels at 96 dpi, rounded as MulDiv does.
int32_t FrameToPixels(int32_t A, int32_t B) {
  const int64_t d = int64_t{B} - A;
  if (d <= 0) return 0;
  return static_cast<int32_t>(std::min<int64_t>((d * 96 + 1270) / 2540, INT32_MAX));
}

}  // namespace

bool TEmfPicture::IsEmf(const uint8_t* Data, size_t Size) {
  return Data && Size >= kHeaderSize && U32(Data) == EMR_HEADER && U32(Data + 40) == kEmfSignature;
}

void TEmfPicture::LoadFromBytes(const uint8_t* Data, size_t Size) {
  const TEmfHeader h = ParseHeader(Data, Size);
  TPlayer(Data, Size, h, nullptr, nullptr, TPlatformRect{}).Run();
  bytes_.assign(Data, Data + Size);
  header_ = h;
}

int32_t TEmfPicture::Width() const { return bytes_.empty() ? 0 : FrameToPixels(header_.Frame.Left, header_.Frame.Right); }
int32_t TEmfPicture::Height() const {
  return bytes_.empty() ? 0 : FrameToPixels(header_.Frame.Top, header_.Frame.Bottom);
}

void TEmfPicture::Play(TMetaCanvas& Canvas, const TPixelSurface& Surface, const TPlatformRect& Dest) const {
  if (bytes_.empty()) return;
  TPlayer(bytes_.data(), bytes_.size(), header_, &Canvas, &Surface, Dest).Run();
  Canvas.SetClipRect(nullptr);
}
