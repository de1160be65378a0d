// Icon files: the directory, the first entry's DIB (colours plus AND mask),
// and the platform's way of drawing an icon.
#include "platform_icon.h"

#include <algorithm>
#include <cstring>

namespace {

const char kInvalidIcon[] = "Icon image is not valid";

[[noreturn]] void Invalid() { throw EInvalidGraphic(kInvalidIcon); }

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}

// Icon images beyond this size are not icons; the limit keeps the row
// arithmetic far from overflow.
constexpr int64_t kMaxSide = 16384;

}  // namespace

TIconPngDecoder gIconPngDecoder = nullptr;

void TIcon::LoadFromBytes(const uint8_t* Data, size_t Size) {
  // Directory: reserved 0, type 1, count, then 16-byte entries.
  if (!Data || Size < 6) Invalid();
  if (U16(Data) != 0 || U16(Data + 2) != 1) Invalid();
  const uint32_t count = U16(Data + 4);
  if (count == 0 || Size < 6 + 16) Invalid();
  const uint8_t* entry = Data + 6;
  const uint64_t resSize = U32(entry + 8);
  const uint64_t resOffset = U32(entry + 12);
  if (resOffset < 6 + 16 || resOffset >= Size || resSize == 0) Invalid();
  // A size running past the end is trimmed to what is there: the checks
  // below refuse the entry when that is not enough.
  const size_t avail = static_cast<size_t>(std::min<uint64_t>(resSize, Size - resOffset));
  const uint8_t* res = Data + resOffset;

  static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (avail >= 8 && std::memcmp(res, kPng, 8) == 0) {
    if (gIconPngDecoder == nullptr) throw EInvalidGraphic("PNG-compressed icons are not supported yet");
    int32_t w = 0, h = 0;
    std::vector<uint32_t> argb;
    // The icon's callers know one error, the icon's; the PNG reader's text
    // still says what is wrong with the entry.
    try {
      gIconPngDecoder(res, avail, w, h, argb);
    } catch (const EInvalidGraphic&) {
      throw;
    } catch (const Exception& e) {
      throw EInvalidGraphic(e.Message());
    }
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide || argb.size() != static_cast<size_t>(w) * h) Invalid();
    SetPixels(w, h, argb.data());
    return;
  }

  if (avail < 40) Invalid();
  const uint32_t hdrSize = U32(res);
  if (hdrSize < 40 || hdrSize > avail) Invalid();
  const int64_t w = static_cast<int32_t>(U32(res + 4));
  const int64_t h2 = static_cast<int32_t>(U32(res + 8));
  const uint32_t planes = U16(res + 12);
  const uint32_t bpp = U16(res + 14);
  const uint32_t compression = U32(res + 16);
  const uint32_t clrUsed = U32(res + 32);
  // The DIB's height counts the colour rows and the mask rows.
  if (w <= 0 || w > kMaxSide || h2 < 2 || h2 > 2 * kMaxSide || (h2 & 1) || planes != 1) Invalid();
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) Invalid();
  if (compression != 0) Invalid();  // only uncompressed DIBs occur in icons
  const int64_t h = h2 / 2;

  uint32_t palette[256] = {};
  size_t pos = hdrSize;
  if (bpp <= 8) {
    const uint32_t maxColors = 1u << bpp;
    const uint32_t colors = (clrUsed == 0 || clrUsed > maxColors) ? maxColors : clrUsed;
    if (avail - pos < static_cast<size_t>(colors) * 4) Invalid();
    for (uint32_t i = 0; i < colors; ++i) palette[i] = U32(res + pos + i * 4) & 0x00FFFFFF;
    pos += static_cast<size_t>(colors) * 4;
  }
  const size_t xorStride = static_cast<size_t>((w * bpp + 31) / 32 * 4);
  const size_t andStride = static_cast<size_t>((w + 31) / 32 * 4);
  const size_t xorBytes = xorStride * static_cast<size_t>(h);
  const size_t andBytes = andStride * static_cast<size_t>(h);
  if (avail - pos < xorBytes) Invalid();
  const uint8_t* xorBits = res + pos;
  pos += xorBytes;
  // 32-bit entries written without a mask still carry their alpha.
  const bool haveMask = avail - pos >= andBytes;
  if (!haveMask && bpp != 32) Invalid();
  const uint8_t* andBits = haveMask ? res + pos : nullptr;

  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  std::vector<uint32_t> colors(n);
  std::vector<uint8_t> mask(n, 0);
  bool anyAlpha = false;
  for (int64_t y = 0; y < h; ++y) {
    // DIB rows are stored bottom-up.
    const uint8_t* src = xorBits + static_cast<size_t>(h - 1 - y) * xorStride;
    uint32_t* dst = colors.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    for (int64_t x = 0; x < w; ++x) {
      uint32_t c = 0;
      switch (bpp) {
        case 1: c = palette[(src[x >> 3] >> (7 - (x & 7))) & 1]; break;
        case 4: c = palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F]; break;
        case 8: c = palette[src[x]]; break;
        case 16: {
          const uint32_t v = U16(src + x * 2);
          const uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
          c = (((r << 3) | (r >> 2)) << 16) | (((g << 3) | (g >> 2)) << 8) | ((b << 3) | (b >> 2));
          break;
        }
        case 24: c = src[x * 3] | (src[x * 3 + 1] << 8) | (static_cast<uint32_t>(src[x * 3 + 2]) << 16); break;
        case 32: c = U32(src + x * 4); anyAlpha |= (c >> 24) != 0; break;
      }
      dst[x] = c;
    }
    if (andBits) {
      const uint8_t* m = andBits + static_cast<size_t>(h - 1 - y) * andStride;
      uint8_t* md = mask.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
      for (int64_t x = 0; x < w; ++x) md[x] = (m[x >> 3] >> (7 - (x & 7))) & 1;
    }
  }
  // A 32-bit entry whose alpha is all zero is an old-style icon: its mask rules.
  const bool alpha = bpp == 32 && anyAlpha;
  if (bpp == 32 && !alpha) {
    if (!haveMask) Invalid();
    for (uint32_t& c : colors) c &= 0x00FFFFFF;
  }
  width_ = static_cast<int32_t>(w);
  height_ = static_cast<int32_t>(h);
  bitCount_ = static_cast<int32_t>(bpp);
  alpha_ = alpha;
  colors_ = std::move(colors);
  mask_ = std::move(mask);
}

void TIcon::LoadFromStream(TStream& Stream) {
  const int64_t remaining = Stream.Remaining();
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(remaining, 0)));
  if (!bytes.empty()) Stream.ReadBuffer(bytes.data(), bytes.size());
  LoadFromBytes(bytes.data(), bytes.size());
}

void TIcon::SetPixels(int32_t W, int32_t H, const uint32_t* Argb) {
  if (W <= 0 || H <= 0 || !Argb) {
    width_ = height_ = bitCount_ = 0;
    alpha_ = false;
    colors_.clear();
    mask_.clear();
    return;
  }
  if (W > kMaxSide || H > kMaxSide) throw EInvalidGraphic(kInvalidIcon);
  const size_t n = static_cast<size_t>(W) * static_cast<size_t>(H);
  colors_.assign(Argb, Argb + n);
  mask_.resize(n);
  for (size_t i = 0; i < n; ++i) mask_[i] = (Argb[i] >> 24) == 0 ? 1 : 0;
  width_ = W;
  height_ = H;
  bitCount_ = 32;
  alpha_ = true;
}

std::vector<uint32_t> TIcon::Pixels() const {
  std::vector<uint32_t> out(colors_.size());
  for (size_t i = 0; i < out.size(); ++i) {
    if (alpha_) out[i] = colors_[i];
    else out[i] = mask_[i] ? 0u : (0xFF000000u | colors_[i]);
  }
  return out;
}

void TIcon::Draw(TPixelSurface& Surface, const TPlatformRect& Dest) const {
  if (!Surface.Bits || colors_.empty()) return;
  const int64_t dw = static_cast<int64_t>(Dest.Right) - Dest.Left;
  const int64_t dh = static_cast<int64_t>(Dest.Bottom) - Dest.Top;
  if (dw <= 0 || dh <= 0) return;
  const int64_t x0 = std::max<int64_t>(Dest.Left, 0), x1 = std::min<int64_t>(Dest.Right, Surface.Width);
  const int64_t y0 = std::max<int64_t>(Dest.Top, 0), y1 = std::min<int64_t>(Dest.Bottom, Surface.Height);
  for (int64_t y = y0; y < y1; ++y) {
    const size_t sy = static_cast<size_t>((y - Dest.Top) * height_ / dh);
    uint32_t* dst = Surface.Bits + y * static_cast<int64_t>(Surface.Width);
    for (int64_t x = x0; x < x1; ++x) {
      const size_t i = sy * static_cast<size_t>(width_) + static_cast<size_t>((x - Dest.Left) * width_ / dw);
      const uint32_t s = colors_[i];
      uint32_t& d = dst[x];
      if (alpha_) {
        // Source-over with the icon's own alpha, as an alpha icon is drawn.
        const uint32_t a = s >> 24;
        if (a == 0) continue;
        if (a == 255) {
          d = s;
          continue;
        }
        const uint32_t ia = 255 - a;
        auto mix = [&](int shift) {
          return ((((s >> shift) & 0xFF) * a + ((d >> shift) & 0xFF) * ia + 127) / 255) << shift;
        };
        const uint32_t da = a + (((d >> 24) * ia + 127) / 255);
        d = (da << 24) | mix(16) | mix(8) | mix(0);
      } else {
        // The AND mask keeps or clears the background, then the colours are
        // XORed in (a set mask bit with a colour inverts the background).
        d = (mask_[i] ? d : 0u) ^ s;
      }
    }
  }
}

std::vector<uint8_t> TIcon::SaveToBytes() const {
  if (colors_.empty()) throw EInvalidGraphic("Cannot save an empty icon");
  const std::vector<uint32_t> argb = Pixels();
  const uint32_t w = static_cast<uint32_t>(width_), h = static_cast<uint32_t>(height_);
  const size_t andStride = (w + 31) / 32 * 4;
  const size_t imageSize = static_cast<size_t>(w) * h * 4 + andStride * h;
  const uint32_t resSize = static_cast<uint32_t>(40 + imageSize);
  std::vector<uint8_t> out;
  out.reserve(6 + 16 + resSize);
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, 1);
  // Directory entry: a side of 256 or more is written as 0.
  out.push_back(static_cast<uint8_t>(w >= 256 ? 0 : w));
  out.push_back(static_cast<uint8_t>(h >= 256 ? 0 : h));
  out.push_back(0);  // colour count
  out.push_back(0);  // reserved
  Put16(out, 1);     // planes
  Put16(out, 32);    // bits per pixel
  Put32(out, resSize);
  Put32(out, 6 + 16);
  // BITMAPINFOHEADER: the height counts colour and mask rows.
  Put32(out, 40);
  Put32(out, w);
  Put32(out, h * 2);
  Put16(out, 1);
  Put16(out, 32);
  Put32(out, 0);  // BI_RGB
  Put32(out, static_cast<uint32_t>(imageSize));
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  for (uint32_t y = h; y-- > 0;) {
    for (uint32_t x = 0; x < w; ++x) Put32(out, argb[static_cast<size_t>(y) * w + x]);
  }
  for (uint32_t y = h; y-- > 0;) {
    const size_t rowStart = out.size();
    out.resize(rowStart + andStride, 0);
    for (uint32_t x = 0; x < w; ++x) {
      if ((argb[static_cast<size_t>(y) * w + x] >> 24) == 0) out[rowStart + x / 8] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  return out;
}

void TIcon::SaveToStream(TStream& Stream) const {
  const std::vector<uint8_t> bytes = SaveToBytes();
  Stream.WriteBuffer(bytes.data(), bytes.size());
}
