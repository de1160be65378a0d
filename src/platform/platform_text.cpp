// Text output with FreeType and fontconfig. One mutex guards the FreeType
// library, the face cache and fontconfig, because callers (the print job, the
// histogram worker) may measure or draw text from worker threads and FreeType
// faces must not be used by two threads at once.
#include "platform_text.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

namespace {

std::mutex& TextMutex() {
  static std::mutex m;
  return m;
}

// What a font name and style resolve to through fontconfig.
struct TResolvedFont {
  std::string File;
  int Index = 0;
  std::string Family;
  bool SyntheticBold = false;
  bool SyntheticItalic = false;
};

// A face opened at one size, with the line metrics worked out once.
struct TSizedFace {
  FT_Face Face = nullptr;
  int64_t Em26_6 = 0;  // the em height in 1/64 pixel
  TTextMetrics Metrics;
  int32_t UnderlinePos = 0, UnderlineThickness = 1;  // pixels below / thickness
  int32_t StrikeoutPos = 0, StrikeoutThickness = 1;  // pixels above baseline
  uint64_t LastUse = 0;
};

// Everything text needs for one call: a face at the right size, the synthetic
// style bits and the rendering mode.
struct TFontSetup {
  TSizedFace* Sized = nullptr;
  bool SyntheticBold = false;
  bool SyntheticItalic = false;
  bool Mono = false;
  int32_t BoldStrength = 0;  // whole pixels added to each glyph by synthetic bold
};

class TFontCache {
 public:
  ~TFontCache() {
    for (auto& kv : faces_) FT_Done_Face(kv.second.Face);
    for (auto& kv : unsized_) FT_Done_Face(kv.second);
    if (library_) FT_Done_FreeType(library_);
    // Our own configuration, so that other fontconfig users in the process
    // (the GUI toolkit) are not disturbed when it is released at exit.
    if (config_) FcConfigDestroy(config_);
  }

  // Caller holds TextMutex().
  bool Setup(const TFont& Font, TFontSetup& Out) {
    if (!Init()) return false;
    const TResolvedFont* rf = Resolve(Font.Name, Font.Style);
    if (!rf) return false;
    FT_Face base = Unsized(*rf);
    if (!base) return false;
    int64_t em = EmFor(base, Font.Size);
    auto key = std::make_tuple(rf->File, rf->Index, em);
    auto it = faces_.find(key);
    if (it == faces_.end()) {
      if (faces_.size() >= kMaxFaces) EvictOldest();
      FT_Face f = nullptr;
      if (FT_New_Face(library_, rf->File.c_str(), rf->Index, &f) != 0) return false;
      if (FT_Set_Char_Size(f, 0, static_cast<FT_F26Dot6>(em), 72, 72) != 0) {
        FT_Done_Face(f);
        return false;
      }
      TSizedFace sf;
      sf.Face = f;
      sf.Em26_6 = em;
      ComputeMetrics(sf);
      it = faces_.emplace(key, sf).first;
    }
    it->second.LastUse = ++clock_;
    Out.Sized = &it->second;
    Out.SyntheticBold = rf->SyntheticBold;
    Out.SyntheticItalic = rf->SyntheticItalic;
    Out.Mono = Font.Quality == TFontQuality::fqNonAntialiased || Font.Quality == TFontQuality::fqDraft;
    Out.BoldStrength = rf->SyntheticBold ? std::max<int32_t>(1, static_cast<int32_t>((em + 24 * 32) / (24 * 64))) : 0;
    return true;
  }

  const TResolvedFont* Resolve(const std::string& Name, uint8_t Style) {
    if (!Init()) return nullptr;
    std::string key;
    for (char c : Name) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    key += '|';
    key += static_cast<char>('0' + (Style & (fsBold | fsItalic)));
    auto it = resolved_.find(key);
    if (it != resolved_.end()) return it->second.File.empty() ? nullptr : &it->second;
    // Names come from files too (a metafile may name thousands of fonts):
    // the answers are cheap to find again, so the list is started afresh
    // rather than kept growing.
    if (resolved_.size() >= kMaxResolved) resolved_.clear();
    TResolvedFont rf = Match(config_, Name, Style);
    // A family without a bold or italic face is emboldened or slanted by us.
    if (!rf.File.empty() && (rf.SyntheticBold || rf.SyntheticItalic)) {
      if (FT_Face face = Unsized(rf)) {
        auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        const bool faceBold = (face->style_flags & FT_STYLE_FLAG_BOLD) ||
                              (os2 && os2->version != 0xFFFF && os2->usWeightClass >= 600);
        const bool faceItalic = (face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
        rf.SyntheticBold = rf.SyntheticBold && !faceBold;
        rf.SyntheticItalic = rf.SyntheticItalic && !faceItalic;
      }
    }
    auto& slot = resolved_[key];
    slot = rf;
    return slot.File.empty() ? nullptr : &slot;
  }

 private:
  static constexpr size_t kMaxFaces = 32;
  static constexpr size_t kMaxResolved = 256;

  bool Init() {
    if (library_) return true;
    if (!config_) config_ = FcInitLoadConfigAndFonts();
    if (!config_) return false;
    if (FT_Init_FreeType(&library_) != 0) {
      library_ = nullptr;
      return false;
    }
    return true;
  }

  static TResolvedFont Match(FcConfig* Config, const std::string& Name, uint8_t Style) {
    TResolvedFont rf;
    // "Default" stands for the class library's default face.
    std::string family = (Name.empty() || Name == "Default") ? std::string("Arial") : Name;
    const bool wantBold = (Style & fsBold) != 0, wantItalic = (Style & fsItalic) != 0;
    FcPattern* pat = FcPatternCreate();
    if (!pat) return rf;
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pat, FC_WEIGHT, wantBold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pat, FC_SLANT, wantItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(Config, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult res = FcResultNoMatch;
    FcPattern* m = FcFontMatch(Config, pat, &res);
    FcPatternDestroy(pat);
    if (!m) return rf;
    FcChar8* file = nullptr;
    if (FcPatternGetString(m, FC_FILE, 0, &file) == FcResultMatch && file) {
      rf.File = reinterpret_cast<const char*>(file);
      int index = 0;
      if (FcPatternGetInteger(m, FC_INDEX, 0, &index) == FcResultMatch) rf.Index = index;
      FcChar8* fam = nullptr;
      if (FcPatternGetString(m, FC_FAMILY, 0, &fam) == FcResultMatch && fam)
        rf.Family = reinterpret_cast<const char*>(fam);
      // Provisional: Resolve checks the face itself, because the matched
      // pattern reports the weight and slant that were asked for.
      rf.SyntheticBold = wantBold;
      rf.SyntheticItalic = wantItalic;
    }
    FcPatternDestroy(m);
    return rf;
  }

  FT_Face Unsized(const TResolvedFont& rf) {
    auto key = std::make_pair(rf.File, rf.Index);
    auto it = unsized_.find(key);
    if (it != unsized_.end()) return it->second;
    FT_Face f = nullptr;
    if (FT_New_Face(library_, rf.File.c_str(), rf.Index, &f) != 0) return nullptr;
    unsized_.emplace(key, f);
    return f;
  }

  static void WinMetrics(FT_Face f, int64_t& Ascent, int64_t& Descent) {
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
      Ascent = os2->usWinAscent;
      Descent = os2->usWinDescent;
    } else {
      Ascent = f->ascender;
      Descent = -static_cast<int64_t>(f->descender);
    }
    if (Ascent + Descent <= 0) {
      Ascent = f->units_per_EM ? f->units_per_EM : 1;
      Descent = 0;
    }
  }

  // The em height in 1/64 pixel for a point size at 96 dpi. A positive size is
  // a character (em) height of MulDiv(Size, 96, 72) pixels; a negative one asks
  // for a cell height of that many pixels, which the win ascent and descent
  // must fill.
  static int64_t EmFor(FT_Face f, int32_t Size) {
    int64_t height = -MulDiv96(Size);
    if (height == 0) height = -13;  // no size given: the 10-point default
    if (height < 0) return -height * 64;
    int64_t asc = 0, desc = 0;
    WinMetrics(f, asc, desc);
    const int64_t upem = f->units_per_EM ? f->units_per_EM : 2048;
    int64_t em = (height * 64 * upem + (asc + desc) / 2) / (asc + desc);
    return std::max<int64_t>(em, 1);
  }

  // MulDiv(Size, 96, 72) with the platform's rounding (halves away from zero).
  static int64_t MulDiv96(int32_t Size) {
    int64_t p = static_cast<int64_t>(Size) * 96;
    return p >= 0 ? (p + 36) / 72 : -((-p + 36) / 72);
  }

  // Font units scaled to whole pixels, halves rounded up.
  static int32_t Scale(int64_t Units, int64_t Em26_6, int64_t Upem) {
    int64_t num = Units * Em26_6;
    int64_t den = Upem * 64;
    if (num >= 0) return static_cast<int32_t>((num + den / 2) / den);
    return -static_cast<int32_t>((-num + den / 2) / den);
  }

  static int32_t BaseMaxWidth(const TSizedFace& sf) {
    auto* hhea = static_cast<TT_HoriHeader*>(FT_Get_Sfnt_Table(sf.Face, FT_SFNT_HHEA));
    const int64_t upem = sf.Face->units_per_EM ? sf.Face->units_per_EM : 2048;
    int64_t units = hhea ? hhea->advance_Width_Max : sf.Face->max_advance_width;
    return Scale(units, sf.Em26_6, upem);
  }

  static void ComputeMetrics(TSizedFace& sf) {
    FT_Face f = sf.Face;
    const int64_t upem = f->units_per_EM ? f->units_per_EM : 2048;
    int64_t winA = 0, winD = 0;
    WinMetrics(f, winA, winD);
    TTextMetrics& m = sf.Metrics;
    m.Ascent = Scale(winA, sf.Em26_6, upem);
    m.Descent = Scale(winD, sf.Em26_6, upem);
    m.Height = m.Ascent + m.Descent;
    m.InternalLeading = std::max<int32_t>(0, m.Height - static_cast<int32_t>((sf.Em26_6 + 32) / 64));
    auto* hhea = static_cast<TT_HoriHeader*>(FT_Get_Sfnt_Table(f, FT_SFNT_HHEA));
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2));
    if (hhea) {
      // The line gap less what the win metrics already add over the typographic ones.
      int64_t extra = hhea->Line_Gap - ((winA + winD) - (hhea->Ascender - hhea->Descender));
      m.ExternalLeading = std::max<int32_t>(0, Scale(extra, sf.Em26_6, upem));
    }
    if (os2 && os2->version != 0xFFFF && os2->xAvgCharWidth > 0) {
      m.AveCharWidth = Scale(os2->xAvgCharWidth, sf.Em26_6, upem);
    } else {
      m.AveCharWidth = std::max<int32_t>(1, Scale(upem / 2, sf.Em26_6, upem));
    }
    m.MaxCharWidth = BaseMaxWidth(sf);
    auto* post = static_cast<TT_Postscript*>(FT_Get_Sfnt_Table(f, FT_SFNT_POST));
    int64_t ulPos = post ? post->underlinePosition : f->underline_position;
    int64_t ulThick = post ? post->underlineThickness : f->underline_thickness;
    sf.UnderlinePos = std::max<int32_t>(1, -Scale(ulPos, sf.Em26_6, upem));
    sf.UnderlineThickness = std::max<int32_t>(1, Scale(ulThick, sf.Em26_6, upem));
    if (os2 && os2->version != 0xFFFF && os2->yStrikeoutSize > 0) {
      sf.StrikeoutPos = Scale(os2->yStrikeoutPosition, sf.Em26_6, upem);
      sf.StrikeoutThickness = std::max<int32_t>(1, Scale(os2->yStrikeoutSize, sf.Em26_6, upem));
    } else {
      sf.StrikeoutPos = m.Ascent / 3;
      sf.StrikeoutThickness = sf.UnderlineThickness;
    }
  }

  void EvictOldest() {
    auto oldest = faces_.begin();
    for (auto it = faces_.begin(); it != faces_.end(); ++it)
      if (it->second.LastUse < oldest->second.LastUse) oldest = it;
    if (oldest != faces_.end()) {
      FT_Done_Face(oldest->second.Face);
      faces_.erase(oldest);
    }
  }

  FcConfig* config_ = nullptr;
  FT_Library library_ = nullptr;
  uint64_t clock_ = 0;
  std::map<std::string, TResolvedFont> resolved_;
  std::map<std::pair<std::string, int>, FT_Face> unsized_;
  std::map<std::tuple<std::string, int, int64_t>, TSizedFace> faces_;
};

TFontCache& Cache() {
  static TFontCache cache;
  return cache;
}

// Decodes UTF-8; malformed sequences become U+FFFD one byte at a time.
std::u32string DecodeUtf8(const std::string& s) {
  std::u32string out;
  out.reserve(s.size());
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else {
      size_t need = 0;
      char32_t min = 0;
      if ((c & 0xE0) == 0xC0) { need = 1; cp = c & 0x1F; min = 0x80; }
      else if ((c & 0xF0) == 0xE0) { need = 2; cp = c & 0x0F; min = 0x800; }
      else if ((c & 0xF8) == 0xF0) { need = 3; cp = c & 0x07; min = 0x10000; }
      bool ok = need > 0;
      if (ok) {
        for (size_t k = 1; k <= need; ++k) {
          if (i + k >= n) { ok = false; break; }
          const unsigned char cc = static_cast<unsigned char>(s[i + k]);
          if ((cc & 0xC0) != 0x80) { ok = false; break; }
          cp = (cp << 6) | (cc & 0x3F);
        }
      }
      if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
      if (ok) len = need + 1;
      else cp = 0xFFFD;
    }
    out.push_back(cp);
    i += len;
  }
  return out;
}

FT_Int32 LoadFlags(const TFontSetup& fs) {
  return FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP | (fs.Mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
}

void ApplyTransform(const TFontSetup& fs) {
  if (fs.SyntheticItalic) {
    // The same slant FreeType's own oblique synthesis uses (about 12 degrees).
    FT_Matrix shear = {0x10000, 0x0366A, 0, 0x10000};
    FT_Set_Transform(fs.Sized->Face, &shear, nullptr);
  } else {
    FT_Set_Transform(fs.Sized->Face, nullptr, nullptr);
  }
}

// Loads one glyph (emboldened when the style asks for a bold the family lacks)
// and returns its advance in whole pixels.
bool LoadGlyph(const TFontSetup& fs, char32_t cp, int32_t& Advance) {
  FT_Face f = fs.Sized->Face;
  FT_UInt gi = FT_Get_Char_Index(f, cp);
  if (FT_Load_Glyph(f, gi, LoadFlags(fs)) != 0) {
    if (gi == 0 || FT_Load_Glyph(f, 0, LoadFlags(fs)) != 0) return false;
  }
  if (fs.SyntheticBold && f->glyph->format == FT_GLYPH_FORMAT_OUTLINE) {
    FT_Outline_EmboldenXY(&f->glyph->outline, fs.BoldStrength * 64, 0);
  }
  Advance = static_cast<int32_t>((f->glyph->advance.x + 32) >> 6) + fs.BoldStrength;
  return true;
}

int32_t MeasureLocked(const TFontSetup& fs, const std::u32string& text) {
  ApplyTransform(fs);
  int64_t cx = 0;
  for (char32_t cp : text) {
    int32_t adv = 0;
    if (LoadGlyph(fs, cp, adv)) cx += adv;
  }
  return static_cast<int32_t>(std::min<int64_t>(cx, INT32_MAX));
}

// The font colour as 0x00RRGGBB; system colours (high bit set) take the
// desktop's classic defaults.
uint32_t FontRgb(int32_t Color) {
  static const uint32_t kSystem[31] = {
      0xC8C8C8, 0x000000, 0x99B4D1, 0xBFCDDB, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000,
      0x000000, 0x000000, 0xB4B4B4, 0xF4F7FC, 0xABABAB, 0x3399FF, 0xFFFFFF, 0xF0F0F0,
      0xA0A0A0, 0x6D6D6D, 0x000000, 0x000000, 0xFFFFFF, 0x696969, 0xE3E3E3, 0x000000,
      0xFFFFE1, 0x000000, 0x0066CC, 0xB9D1EA, 0xD7E4F2, 0x3399FF, 0xF0F0F0};
  const uint32_t c = static_cast<uint32_t>(Color);
  if (c & 0x80000000u) {
    const uint32_t idx = c & 0xFF;
    return idx < 31 ? kSystem[idx] : 0;
  }
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

struct TClipBox {
  int32_t Left, Top, Right, Bottom;
};

inline void BlendPixel(uint32_t& Dst, uint32_t Rgb, uint32_t Cov) {
  if (Cov == 0) return;
  if (Cov >= 255) {
    Dst = Rgb;  // alpha byte 0, as text on a 32-bit bitmap leaves it
    return;
  }
  const uint32_t inv = 255 - Cov;
  const uint32_t r = (((Rgb >> 16) & 0xFF) * Cov + ((Dst >> 16) & 0xFF) * inv + 127) / 255;
  const uint32_t g = (((Rgb >> 8) & 0xFF) * Cov + ((Dst >> 8) & 0xFF) * inv + 127) / 255;
  const uint32_t b = ((Rgb & 0xFF) * Cov + (Dst & 0xFF) * inv + 127) / 255;
  Dst = (r << 16) | (g << 8) | b;
}

void FillRect(TPixelSurface& S, const TClipBox& clip, int64_t x0, int64_t y0, int64_t x1, int64_t y1,
              uint32_t Rgb) {
  x0 = std::max<int64_t>(x0, clip.Left);
  y0 = std::max<int64_t>(y0, clip.Top);
  x1 = std::min<int64_t>(x1, clip.Right);
  y1 = std::min<int64_t>(y1, clip.Bottom);
  for (int64_t y = y0; y < y1; ++y) {
    uint32_t* row = S.Bits + static_cast<size_t>(y) * static_cast<size_t>(S.Width);
    for (int64_t x = x0; x < x1; ++x) row[x] = Rgb;
  }
}

void DrawBitmap(TPixelSurface& S, const TClipBox& clip, const FT_Bitmap& bm, int64_t left, int64_t top,
                uint32_t Rgb) {
  const int64_t w = bm.width, h = bm.rows;
  const int64_t x0 = std::max<int64_t>(left, clip.Left), x1 = std::min<int64_t>(left + w, clip.Right);
  const int64_t y0 = std::max<int64_t>(top, clip.Top), y1 = std::min<int64_t>(top + h, clip.Bottom);
  if (x0 >= x1 || y0 >= y1 || !bm.buffer) return;
  for (int64_t y = y0; y < y1; ++y) {
    const unsigned char* src = bm.buffer + (y - top) * static_cast<int64_t>(bm.pitch);
    uint32_t* row = S.Bits + static_cast<size_t>(y) * static_cast<size_t>(S.Width);
    for (int64_t x = x0; x < x1; ++x) {
      const int64_t bx = x - left;
      uint32_t cov;
      if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
        cov = (src[bx >> 3] & (0x80 >> (bx & 7))) ? 255 : 0;
      } else {
        cov = src[bx];
        if (bm.num_grays != 256 && bm.num_grays > 1) cov = cov * 255 / (bm.num_grays - 1);
      }
      BlendPixel(row[x], Rgb, cov);
    }
  }
}

}  // namespace

TTextExtent PlatformTextExtent(const TFont& Font, const std::string& Utf8) {
  std::lock_guard<std::mutex> lock(TextMutex());
  TFontSetup fs;
  TTextExtent e;
  if (!Cache().Setup(Font, fs)) return e;
  e.cy = fs.Sized->Metrics.Height;
  e.cx = MeasureLocked(fs, DecodeUtf8(Utf8));
  return e;
}

TTextMetrics PlatformTextMetrics(const TFont& Font) {
  std::lock_guard<std::mutex> lock(TextMutex());
  TFontSetup fs;
  if (!Cache().Setup(Font, fs)) return TTextMetrics{};
  TTextMetrics m = fs.Sized->Metrics;
  m.MaxCharWidth += fs.BoldStrength;
  return m;
}

void PlatformTextOut(TPixelSurface& S, int32_t X, int32_t Y, const std::string& Utf8, const TFont& Font,
                     const TPlatformRect* Clip) {
  if (!S.Bits || S.Width <= 0 || S.Height <= 0) return;
  TClipBox clip{0, 0, S.Width, S.Height};
  if (Clip) {
    clip.Left = std::max(clip.Left, Clip->Left);
    clip.Top = std::max(clip.Top, Clip->Top);
    clip.Right = std::min(clip.Right, Clip->Right);
    clip.Bottom = std::min(clip.Bottom, Clip->Bottom);
  }
  if (clip.Left >= clip.Right || clip.Top >= clip.Bottom) return;
  const std::u32string text = DecodeUtf8(Utf8);
  const uint32_t rgb = FontRgb(Font.Color);

  std::lock_guard<std::mutex> lock(TextMutex());
  TFontSetup fs;
  if (!Cache().Setup(Font, fs)) return;
  ApplyTransform(fs);
  FT_Face f = fs.Sized->Face;
  const int64_t baseline = static_cast<int64_t>(Y) + fs.Sized->Metrics.Ascent;
  int64_t pen = X;
  for (char32_t cp : text) {
    int32_t adv = 0;
    if (!LoadGlyph(fs, cp, adv)) continue;
    if (FT_Render_Glyph(f->glyph, fs.Mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) == 0) {
      DrawBitmap(S, clip, f->glyph->bitmap, pen + f->glyph->bitmap_left, baseline - f->glyph->bitmap_top, rgb);
    }
    pen += adv;
  }
  if (Font.Style & (fsUnderline | fsStrikeOut)) {
    const TSizedFace& sf = *fs.Sized;
    if (Font.Style & fsUnderline) {
      const int64_t top = baseline + sf.UnderlinePos - sf.UnderlineThickness / 2;
      FillRect(S, clip, X, top, pen, top + sf.UnderlineThickness, rgb);
    }
    if (Font.Style & fsStrikeOut) {
      const int64_t top = baseline - sf.StrikeoutPos;
      FillRect(S, clip, X, top, pen, top + sf.StrikeoutThickness, rgb);
    }
  }
}

std::string PlatformFontFile(const std::string& Name, uint8_t Style) {
  std::lock_guard<std::mutex> lock(TextMutex());
  const TResolvedFont* rf = Cache().Resolve(Name, Style);
  return rf ? rf->File : std::string();
}

std::string PlatformFontFamily(const std::string& Name, uint8_t Style) {
  std::lock_guard<std::mutex> lock(TextMutex());
  const TResolvedFont* rf = Cache().Resolve(Name, Style);
  return rf ? rf->Family : std::string();
}
