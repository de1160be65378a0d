// The picture classes: the graphic base's file handling (with the atomic save),
// the platform bitmap's storage, pixel-format conversion and drawing, the
// picture object and the picture-format registry. The BMP reader and writer
// live in platform_bmp.cpp.
#include "platform_graphics.h"
#include "platform_icon.h"
#include "platform_metafile.h"
#include "platform_jpeg.h"
#include "platform_savefile.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

// ---------------------------------------------------------------------------
// TGraphic

void TGraphic::SaveToStream(TStream&) const {
  throw EInvalidGraphicOperation("Cannot save a picture of class " + ClassName());
}

void TGraphic::LoadFromFile(const std::string& FileName) {
  TFileStream s(FileName, TFileMode::fmOpenRead);
  LoadFromStream(s);
}

bool TGraphic::LoadPixelsFromFile(const std::string&, const TPixelAllocator&) { return false; }

// Writes the whole picture into a temporary file beside the target and only
// then renames it over the target: a failed or interrupted save leaves the
// old file as it was, and never a half-written picture under its name.
void TGraphic::SaveToFile(const std::string& FileName) const {
  ReplaceFileAtomically(FileName, [this](TStream& s) { SaveToStream(s); }, TRenameFailure::rfCreateError);
}

// ---------------------------------------------------------------------------
// TPlatformBitmap: storage and pixel formats

void TPlatformBitmap::CheckSize(int32_t W, int32_t H) {
  if (W < 0 || H < 0 || W > kMaxDimension || H > kMaxDimension ||
      static_cast<int64_t>(W) * static_cast<int64_t>(H) > kMaxPixels)
    throw EOutOfResources("Bitmap size " + std::to_string(W) + " x " + std::to_string(H) + " is out of range");
}

void TPlatformBitmap::SetSize(int32_t W, int32_t H) {
  CheckSize(W, H);
  TPixelVector fresh;
  try {
    fresh.resize(static_cast<size_t>(W) * static_cast<size_t>(H));  // zeroed by the allocation
  } catch (const std::bad_alloc&) {
    throw EOutOfResources("Not enough memory for a bitmap of " + std::to_string(W) + " x " + std::to_string(H));
  }
  pixels_ = std::move(fresh);
  width_ = W;
  height_ = H;
}

namespace {

uint32_t Rgb(uint32_t c) { return c & 0x00FFFFFFu; }

uint32_t ColorDistance(uint32_t a, uint32_t b) {
  int dr = static_cast<int>((a >> 16) & 0xFF) - static_cast<int>((b >> 16) & 0xFF);
  int dg = static_cast<int>((a >> 8) & 0xFF) - static_cast<int>((b >> 8) & 0xFF);
  int db = static_cast<int>(a & 0xFF) - static_cast<int>(b & 0xFF);
  return static_cast<uint32_t>(dr * dr + dg * dg + db * db);
}

std::vector<uint32_t> MonoPalette() { return {0xFF000000u, 0xFFFFFFFFu}; }

// The image's own colours when there are at most Limit of them, else empty.
std::vector<uint32_t> ExactPalette(const TPixelVector& Pixels, size_t Limit) {
  std::unordered_set<uint32_t> seen;
  std::vector<uint32_t> p;
  for (uint32_t c : Pixels) {
    if (seen.insert(Rgb(c)).second) {
      if (p.size() == Limit) return {};
      p.push_back(0xFF000000u | Rgb(c));
    }
  }
  std::sort(p.begin(), p.end());
  return p;
}

// Expands an n-bit channel value to 8 bits, rounding, so that 0 and the
// channel's maximum map to 0 and 255.
uint32_t Expand(uint32_t v, uint32_t bits) {
  uint32_t max = (1u << bits) - 1;
  return (v * 255 + max / 2) / max;
}

}  // namespace

int32_t NearestPaletteIndex(const std::vector<uint32_t>& Palette, uint32_t Color) {
  int32_t best = 0;
  uint32_t bestDist = UINT32_MAX;
  for (size_t i = 0; i < Palette.size(); ++i) {
    uint32_t d = ColorDistance(Palette[i], Color);
    if (d < bestDist) {
      bestDist = d;
      best = static_cast<int32_t>(i);
      if (d == 0) break;
    }
  }
  return best;
}

const std::vector<uint32_t>& VgaPalette() {
  static const std::vector<uint32_t> p = {0xFF000000u, 0xFF800000u, 0xFF008000u, 0xFF808000u,
                                          0xFF000080u, 0xFF800080u, 0xFF008080u, 0xFF808080u,
                                          0xFFC0C0C0u, 0xFFFF0000u, 0xFF00FF00u, 0xFFFFFF00u,
                                          0xFF0000FFu, 0xFFFF00FFu, 0xFF00FFFFu, 0xFFFFFFFFu};
  return p;
}

const std::vector<uint32_t>& SystemPalette20() {
  static const std::vector<uint32_t> p = {0xFF000000u, 0xFF800000u, 0xFF008000u, 0xFF808000u, 0xFF000080u,
                                          0xFF800080u, 0xFF008080u, 0xFFC0C0C0u, 0xFFC0DCC0u, 0xFFA6CAF0u,
                                          0xFFFFFBF0u, 0xFFA0A0A4u, 0xFF808080u, 0xFFFF0000u, 0xFF00FF00u,
                                          0xFFFFFF00u, 0xFF0000FFu, 0xFFFF00FFu, 0xFF00FFFFu, 0xFFFFFFFFu};
  return p;
}

const std::vector<uint32_t>& CubePalette() {
  static const std::vector<uint32_t> p = [] {
    std::vector<uint32_t> q;
    q.reserve(256);
    for (uint32_t r = 0; r < 6; ++r)
      for (uint32_t g = 0; g < 6; ++g)
        for (uint32_t b = 0; b < 6; ++b) q.push_back(0xFF000000u | (r * 51) << 16 | (g * 51) << 8 | (b * 51));
    for (uint32_t i = 1; i <= kCubeGreys; ++i) {
      const uint32_t v = i * 255 / (kCubeGreys + 1);
      q.push_back(0xFF000000u | v << 16 | v << 8 | v);
    }
    return q;
  }();
  return p;
}

namespace {

// The inverse map of the cube palette, exact. With Q = r^2 + g^2 + b^2, the
// squared distance to a cube entry (lr, lg, lb) is Q + sum of (l^2 - 2cl) per
// channel, and to a grey v it is Q + 3v^2 - 2v(r + g + b). Q is common, so the
// comparison needs one term per channel and one per channel sum:
//   - the nearest cube entry takes the nearest level in each channel on its
//     own (no ties: the levels are 51 apart, every midpoint lies on a half);
//   - the nearest grey depends on the sum s = r + g + b alone (the first of
//     equal greys wins, as in the palette's order);
//   - the grey wins only when strictly nearer, since the cube comes first.
// Each table entry packs the term plus an offset that keeps it positive (low
// half) with a palette index, or with the channel's part of the palette
// colour (high half): the parts of a cube colour add up without carries. A
// pixel then costs four reads and two additions.
struct TCubeInverse {
  static constexpr int64_t kOffset = 65536;  // above the largest c^2, so l^2 - 2cl + kOffset > 0
  struct TTables {
    uint64_t red[256], green[256], blue[256];
    uint64_t grey[766];
    uint32_t Pick(uint32_t C) const {
      const uint32_t r = (C >> 16) & 0xFF, g = (C >> 8) & 0xFF, b = C & 0xFF;
      const uint64_t cube = red[r] + green[g] + blue[b];
      const uint64_t gr = grey[r + g + b];
      return static_cast<uint32_t>((static_cast<uint32_t>(gr) < static_cast<uint32_t>(cube) ? gr : cube) >> 32);
    }
  };
  TTables index, color;
  TCubeInverse() {
    for (int c = 0; c < 256; ++c) {
      const int64_t l = (c + 25) / 51;  // 25 -> 0, 26 -> 1
      const auto term = static_cast<uint64_t>(51 * l * 51 * l - 2 * c * 51 * l + kOffset);
      const auto level = static_cast<uint64_t>(51 * l);
      index.red[c] = static_cast<uint64_t>(36 * l) << 32 | term;
      index.green[c] = static_cast<uint64_t>(6 * l) << 32 | term;
      index.blue[c] = static_cast<uint64_t>(l) << 32 | term;
      color.red[c] = (level << 16 | 0xFF000000u) << 32 | term;  // alpha once, in red's part
      color.green[c] = level << 40 | term;
      color.blue[c] = level << 32 | term;
    }
    for (int64_t s = 0; s <= 765; ++s) {
      int64_t best = 1, bestKey = INT64_MAX;
      for (int64_t i = 1; i <= static_cast<int64_t>(kCubeGreys); ++i) {
        const int64_t v = i * 255 / (kCubeGreys + 1);
        const int64_t key = 3 * v * v - 2 * v * s;
        if (key < bestKey) bestKey = key, best = i;
      }
      const auto key = static_cast<uint64_t>(bestKey + 3 * kOffset);
      const auto v = static_cast<uint64_t>(best * 255 / (kCubeGreys + 1));
      index.grey[s] = static_cast<uint64_t>(215 + best) << 32 | key;
      color.grey[s] = (0xFF000000u | v * 0x010101u) << 32 | key;
    }
  }
};

const TCubeInverse& CubeInverse() {
  static const TCubeInverse t;
  return t;
}

}  // namespace

uint8_t NearestCubeIndex(uint32_t Color) { return static_cast<uint8_t>(CubeInverse().index.Pick(Color)); }

void MapToCubePalette(uint32_t* Pixels, size_t Count) {
  const TCubeInverse::TTables& t = CubeInverse().color;
  for (size_t i = 0; i < Count; ++i) Pixels[i] = t.Pick(Pixels[i]);
}

void TPlatformBitmap::SetPixelFormat(TPixelFormat f) {
  if (f == pixelFormat_) return;
  pixelFormat_ = f;
  switch (f) {
    case TPixelFormat::pf1bit:
    case TPixelFormat::pf4bit:
    case TPixelFormat::pf8bit: {
      std::vector<uint32_t> pal;
      if (f == TPixelFormat::pf1bit) {
        pal = MonoPalette();
      } else {
        size_t limit = f == TPixelFormat::pf4bit ? 16 : 256;
        pal = ExactPalette(pixels_, limit);
        if (pal.empty()) pal = f == TPixelFormat::pf4bit ? VgaPalette() : CubePalette();
      }
      std::unordered_map<uint32_t, uint32_t> memo;
      for (uint32_t& c : pixels_) {
        auto it = memo.find(Rgb(c));
        if (it == memo.end())
          it = memo.emplace(Rgb(c), pal[static_cast<size_t>(NearestPaletteIndex(pal, c))]).first;
        c = it->second;
      }
      palette_ = std::move(pal);
      return;
    }
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit: {
      uint32_t gbits = f == TPixelFormat::pf15bit ? 5 : 6;
      for (uint32_t& c : pixels_) {
        uint32_t r = Expand(((c >> 16) & 0xFF) >> 3, 5);
        uint32_t g = Expand(((c >> 8) & 0xFF) >> (8 - gbits), gbits);
        uint32_t b = Expand((c & 0xFF) >> 3, 5);
        c = 0xFF000000u | r << 16 | g << 8 | b;
      }
      break;
    }
    case TPixelFormat::pf24bit:
      for (uint32_t& c : pixels_) c |= 0xFF000000u;
      break;
    case TPixelFormat::pfDevice:
    case TPixelFormat::pf32bit:
    case TPixelFormat::pfCustom:
      break;
  }
  palette_.clear();
}

// ---------------------------------------------------------------------------
// TPlatformBitmap: drawing

// Nearest-neighbour stretch of the whole bitmap into Dest, clipped to the
// surface: each destination pixel takes the source pixel under its centre.
// A Dest with Right < Left or Bottom < Top draws mirrored. A transparent
// bitmap leaves the surface alone where its pixels have the transparent colour.
void TPlatformBitmap::Draw(TPixelSurface& Surface, const TPlatformRect& Dest) const {
  if (Empty() || !Surface.Bits || Surface.Width <= 0 || Surface.Height <= 0) return;
  int64_t dw = static_cast<int64_t>(Dest.Right) - Dest.Left;
  int64_t dh = static_cast<int64_t>(Dest.Bottom) - Dest.Top;
  if (dw == 0 || dh == 0) return;
  bool mirrorX = dw < 0, mirrorY = dh < 0;
  int64_t x0 = std::min<int64_t>(Dest.Left, Dest.Right), y0 = std::min<int64_t>(Dest.Top, Dest.Bottom);
  int64_t adw = mirrorX ? -dw : dw, adh = mirrorY ? -dh : dh;
  int64_t cx0 = std::max<int64_t>(x0, 0), cx1 = std::min<int64_t>(x0 + adw, Surface.Width);
  int64_t cy0 = std::max<int64_t>(y0, 0), cy1 = std::min<int64_t>(y0 + adh, Surface.Height);
  if (cx0 >= cx1 || cy0 >= cy1) return;
  uint32_t key = 0;
  if (transparent_) {
    uint32_t c = static_cast<uint32_t>(transparentColor_);
    key = (c & 0xFF) << 16 | (c & 0xFF00) | ((c >> 16) & 0xFF);
  }
  std::vector<int32_t> srcX(static_cast<size_t>(cx1 - cx0));
  for (int64_t x = cx0; x < cx1; ++x) {
    int64_t i = x - x0;
    int64_t s = ((2 * i + 1) * width_) / (2 * adw);
    if (mirrorX) s = width_ - 1 - s;
    srcX[static_cast<size_t>(x - cx0)] = static_cast<int32_t>(s);
  }
  for (int64_t y = cy0; y < cy1; ++y) {
    int64_t j = y - y0;
    int64_t sy = ((2 * j + 1) * height_) / (2 * adh);
    if (mirrorY) sy = height_ - 1 - sy;
    const uint32_t* src = ScanLine(static_cast<int32_t>(sy));
    uint32_t* dst = Surface.Bits + static_cast<size_t>(y) * static_cast<size_t>(Surface.Width);
    for (int64_t x = cx0; x < cx1; ++x) {
      uint32_t c = src[srcX[static_cast<size_t>(x - cx0)]];
      if (transparent_ && Rgb(c) == key) continue;
      dst[x] = c;
    }
  }
}

// ---------------------------------------------------------------------------
// The picture-format registry

namespace {

std::vector<TPictureFormat>& Formats() {
  static std::vector<TPictureFormat> formats;
  return formats;
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string StripDot(const std::string& e) { return !e.empty() && e[0] == '.' ? e.substr(1) : e; }

}  // namespace

void RegisterFileFormat(const std::string& Extension, const std::string& Description,
                        const std::string& GraphicClassName, TGraphicFactory Create) {
  Formats().push_back({StripDot(Extension), Description, GraphicClassName, std::move(Create)});
}

void UnregisterGraphicClass(const std::string& GraphicClassName) {
  auto& f = Formats();
  f.erase(std::remove_if(f.begin(), f.end(),
                         [&](const TPictureFormat& p) { return p.GraphicClassName == GraphicClassName; }),
          f.end());
}

// The newest registration of an extension wins, so a unit can take over an
// extension that an earlier one registered.
const TPictureFormat* FindFileFormat(const std::string& Extension) {
  std::string key = LowerAscii(StripDot(Extension));
  if (key.empty()) return nullptr;
  const auto& f = Formats();
  for (auto it = f.rbegin(); it != f.rend(); ++it)
    if (LowerAscii(it->Extension) == key) return &*it;
  return nullptr;
}

const std::vector<TPictureFormat>& RegisteredFileFormats() { return Formats(); }

// ---------------------------------------------------------------------------
// TPicture

std::unique_ptr<TGraphic> TPicture::CreateGraphicFor(const std::string& FileName) const {
  // The extension follows the last dot of the file's own name.
  std::string ext;
  size_t slash = FileName.find_last_of('/');
  size_t dot = FileName.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ext = FileName.substr(dot + 1);
  const TPictureFormat* fmt = FindFileFormat(ext);
  if (!fmt || !fmt->Create) throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
  std::unique_ptr<TGraphic> g = fmt->Create();
  if (!g) throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
  return g;
}

void TPicture::LoadFromFile(const std::string& FileName) {
  std::unique_ptr<TGraphic> g = CreateGraphicFor(FileName);
  // The old graphic stays when the new one fails to load.
  g->LoadFromFile(FileName);
  graphic_ = std::move(g);
}

bool TPicture::LoadPixelsFromFile(const std::string& FileName, const TGraphic::TPixelAllocator& Allocate) {
  std::unique_ptr<TGraphic> g = CreateGraphicFor(FileName);
  const bool direct = g->LoadPixelsFromFile(FileName, Allocate);
  if (!direct) g->LoadFromFile(FileName);
  graphic_ = std::move(g);
  return direct;
}

void TPicture::SaveToFile(const std::string& FileName) const {
  if (graphic_) graphic_->SaveToFile(FileName);
}

void RegisterBuiltinPictureFormats() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterFileFormat("bmp", "Bitmaps", "TBitmap", [] { return std::make_unique<TPlatformBitmap>(); });
    // Icons, JPEG pictures and metafiles register here, after the bitmaps.
    RegisterFileFormat("ico", "Icons", "TIcon", [] { return std::make_unique<TIcon>(); });
    RegisterFileFormat("jpeg", "JPEG Image File", "TJPEGImage", [] { return std::make_unique<TJPEGImage>(); });
    RegisterFileFormat("jpg", "JPEG Image File", "TJPEGImage", [] { return std::make_unique<TJPEGImage>(); });
    RegisterFileFormat("emf", "Enhanced Metafiles", "TMetafile", [] { return std::make_unique<TMetafile>(); });
    RegisterFileFormat("wmf", "Metafiles", "TMetafile", [] { return std::make_unique<TMetafile>(); });
  });
}
