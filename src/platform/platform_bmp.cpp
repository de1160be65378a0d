// BMP files for the platform bitmap.
//
// Reading takes the 12-byte core header and the 40-, 52-, 56-, 108- and
// 124-byte info headers; 1, 4, 8, 16, 24 and 32 bits per pixel; uncompressed,
// RLE8, RLE4 and bit-field pixels; bottom-up and top-down rows. The pixel
// format follows the file. Only 32-bit files carry alpha: an uncompressed
// 32-bit file keeps its fourth byte as alpha (our own writer stores alpha
// there, and the undo checkpoint must bring a transparent image back), a
// bit-field file takes alpha from its alpha mask. Every other file is read
// with alpha 255, which is also what assigning a non-32-bit bitmap to a
// 32-bit one gives. Pixels that an RLE file skips (delta and early end codes)
// get palette entry 0; a palette index beyond the file's table reads as black.
//
// Every inconsistency in the file is an EInvalidGraphic with a message that
// says what is wrong; sizes are checked against the bytes the file really has
// before anything is allocated.
//
// Writing stores the bitmap in its pixel format, bottom-up, with a 40-byte
// header: 32-bit bitmaps uncompressed with alpha in the fourth byte, 24 bits,
// 16 bits as 5-6-5 bit fields, 15 bits uncompressed, and 1, 4 or 8 bits with
// the bitmap's colour table.
#include <algorithm>
#include <cstring>
#include <typeinfo>
#include <unordered_map>

#include "platform_graphics.h"

namespace {

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6;

[[noreturn]] void Bad(const std::string& What) { throw EInvalidGraphic(What); }

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Reads exactly Count bytes; a short stream is a truncated file, not a
// stream failure, for whoever loads the picture.
void ReadExact(TStream& S, void* Buffer, size_t Count) {
  try {
    S.ReadBuffer(Buffer, Count);
  } catch (const EReadError&) {
    Bad("Bitmap file is truncated");
  }
}

// One channel of a bit-field pixel: where it sits and how far it reaches.
struct TChannel {
  uint32_t Mask = 0, Shift = 0, Max = 0;
  explicit TChannel(uint32_t m = 0) : Mask(m) {
    if (m == 0) return;
    while (!((m >> Shift) & 1u)) ++Shift;
    Max = m >> Shift;
  }
  // The channel scaled to 0..255 (Fallback for a missing channel).
  uint32_t Get(uint32_t Pixel, uint32_t Fallback) const {
    if (Max == 0) return Fallback;
    uint64_t v = (Pixel & Mask) >> Shift;
    return static_cast<uint32_t>((v * 255 + Max / 2) / Max);
  }
};

struct TBmpInfo {
  uint32_t HeaderSize = 0;
  int64_t Width = 0, Height = 0;
  bool TopDown = false;
  uint32_t BitCount = 0, Compression = 0, ColorsUsed = 0;
  uint32_t Masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  bool HasMasks = false;
};

// What a BMP file says besides its pixels.
struct TBmpRead {
  int32_t Width = 0, Height = 0;
  TPixelFormat Format = TPixelFormat::pf32bit;
  std::vector<uint32_t> Palette;
};

// Reads a BMP picture from the stream's position; the pixels go into the
// rows Allocate hands out once the header and the pixel data were checked
// and read. The stream is left after the pixel data, where a following
// record starts.
void ReadBmp(TStream& Stream, const TGraphic::TPixelAllocator& Allocate, TBmpRead& Out) {
  const int64_t start = Stream.Position();
  const int64_t avail = Stream.Size() - start;

  uint8_t fh[18];
  if (avail < 18) Bad("Bitmap file is truncated");
  ReadExact(Stream, fh, sizeof fh);
  if (fh[0] != 'B' || fh[1] != 'M') Bad("Not a bitmap file (no BM signature)");
  const uint32_t offBits = Le32(fh + 10);

  TBmpInfo bi;
  bi.HeaderSize = Le32(fh + 14);
  const uint32_t hs = bi.HeaderSize;
  if (hs != 12 && hs != 40 && hs != 52 && hs != 56 && hs != 108 && hs != 124)
    Bad("Unsupported bitmap header size " + std::to_string(hs));
  uint8_t h[124] = {};
  ReadExact(Stream, h + 4, hs - 4);
  int64_t pos = 14 + static_cast<int64_t>(hs);  // relative to start

  if (hs == 12) {
    bi.Width = Le16(h + 4);
    bi.Height = Le16(h + 6);
    bi.BitCount = Le16(h + 10);
    bi.Compression = kBiRgb;
  } else {
    bi.Width = static_cast<int32_t>(Le32(h + 4));
    int32_t height = static_cast<int32_t>(Le32(h + 8));
    bi.BitCount = Le16(h + 14);
    bi.Compression = Le32(h + 16);
    bi.ColorsUsed = Le32(h + 32);
    if (height < 0) {
      bi.TopDown = true;
      bi.Height = -static_cast<int64_t>(height);
    } else {
      bi.Height = height;
    }
    if (hs >= 52) {
      for (int i = 0; i < 3; ++i) bi.Masks[i] = Le32(h + 40 + 4 * i);
      if (hs >= 56) bi.Masks[3] = Le32(h + 52);
      bi.HasMasks = true;
    }
  }

  const uint32_t bits = bi.BitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    Bad("Unsupported bitmap bit count " + std::to_string(bits));
  if (hs == 12 && bits == 16) Bad("Unsupported bitmap bit count 16");
  switch (bi.Compression) {
    case kBiRgb: break;
    case kBiRle8:
      if (bits != 8) Bad("RLE8 compression needs 8 bits per pixel");
      break;
    case kBiRle4:
      if (bits != 4) Bad("RLE4 compression needs 4 bits per pixel");
      break;
    case kBiBitfields:
    case kBiAlphaBitfields:
      if (bits != 16 && bits != 32) Bad("Bit-field compression needs 16 or 32 bits per pixel");
      if (hs == 40) {
        // The masks of a 40-byte header follow it.
        int n = bi.Compression == kBiAlphaBitfields ? 4 : 3;
        uint8_t m[16];
        if (avail < pos + 4 * n) Bad("Bitmap file is truncated");
        ReadExact(Stream, m, static_cast<size_t>(4 * n));
        for (int i = 0; i < n; ++i) bi.Masks[i] = Le32(m + 4 * i);
        pos += 4 * n;
        bi.HasMasks = true;
      }
      break;
    default:
      Bad("Unsupported bitmap compression " + std::to_string(bi.Compression));
  }

  if (bi.Width < 0) Bad("Invalid bitmap width " + std::to_string(bi.Width));
  if (bi.Width > TPlatformBitmap::kMaxDimension || bi.Height > TPlatformBitmap::kMaxDimension || bi.Width * bi.Height > TPlatformBitmap::kMaxPixels)
    Bad("Bitmap dimensions " + std::to_string(bi.Width) + " x " + std::to_string(bi.Height) + " are too large");
  const bool rle = bi.Compression == kBiRle8 || bi.Compression == kBiRle4;

  // The colour table of a palette bitmap, cut short where the pixel data
  // begins (some writers store fewer entries than they declare).
  std::vector<uint32_t> palette;
  if (bits <= 8) {
    const int64_t entrySize = hs == 12 ? 3 : 4;
    int64_t count = int64_t{1} << bits;
    if (hs != 12 && bi.ColorsUsed != 0 && bi.ColorsUsed < count) count = bi.ColorsUsed;
    if (offBits != 0 && offBits >= pos) count = std::min<int64_t>(count, (offBits - pos) / entrySize);
    count = std::max<int64_t>(0, std::min<int64_t>(count, (avail - pos) / entrySize));
    std::vector<uint8_t> raw(static_cast<size_t>(count * entrySize));
    ReadExact(Stream, raw.data(), raw.size());
    pos += count * entrySize;
    palette.resize(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
      const uint8_t* e = raw.data() + i * entrySize;
      palette[static_cast<size_t>(i)] = 0xFF000000u | static_cast<uint32_t>(e[2]) << 16 |
                                        static_cast<uint32_t>(e[1]) << 8 | e[0];
    }
  }

  // Where the pixels start: the file header's offset when it is sane, else
  // straight after the colour table (which a direct-colour file may carry as
  // a hint for palette displays).
  int64_t dataPos = pos;
  if (offBits == 0 && bits > 8 && hs != 12) dataPos = std::min<int64_t>(avail, pos + int64_t{4} * bi.ColorsUsed);
  if (offBits != 0) {
    if (offBits < pos || offBits > avail) Bad("Invalid bitmap data offset " + std::to_string(offBits));
    dataPos = offBits;
  }
  const int64_t dataAvail = avail - dataPos;
  const int64_t W = bi.Width, H = bi.Height;
  const int64_t stride = ((W * bits + 31) / 32) * 4;

  std::vector<uint8_t> data;
  if (W > 0 && H > 0) {
    if (rle) {
      // Runs, skips and an early end let a few bytes cover many pixels, so
      // the file's size bounds an RLE image only loosely: up to 4 million
      // pixels whatever the data (as a short file may fill with black rows),
      // beyond that 1024 pixels a byte, eight times the longest run.
      const int64_t limit = std::max<int64_t>(int64_t{1} << 22, dataAvail * 1024);
      if (W * H > limit) Bad("Bitmap dimensions are too large for its RLE data");
      data.resize(static_cast<size_t>(dataAvail));
    } else {
      // The last row may lack its padding.
      const int64_t need = stride * (H - 1) + (W * bits + 7) / 8;
      if (need > dataAvail) Bad("Bitmap data is truncated");
      data.resize(static_cast<size_t>(std::min(stride * H, dataAvail)));
    }
    Stream.SetPosition(start + dataPos);
    ReadExact(Stream, data.data(), data.size());
  }

  uint32_t* const px = Allocate(static_cast<int32_t>(W), static_cast<int32_t>(H));
  const uint32_t black = 0xFF000000u;
  auto color = [&](uint32_t index) {
    return index < palette.size() ? palette[index] : black;
  };
  auto rowOf = [&](int64_t fileRow) { return bi.TopDown ? fileRow : H - 1 - fileRow; };

  TPixelFormat format = TPixelFormat::pf32bit;
  switch (bits) {
    case 1: format = TPixelFormat::pf1bit; break;
    case 4: format = TPixelFormat::pf4bit; break;
    case 8: format = TPixelFormat::pf8bit; break;
    case 24: format = TPixelFormat::pf24bit; break;
    case 32: format = TPixelFormat::pf32bit; break;
    default: break;
  }

  if (rle && W > 0 && H > 0) {
    std::fill(px, px + W * H, palette.empty() ? black : palette[0]);
    const bool rle8 = bi.Compression == kBiRle8;
    const size_t n = data.size();
    const uint8_t* d = data.data();
    size_t p = 0;
    int64_t x = 0, y = 0;
    bool ended = false;
    auto put = [&](int64_t X, uint32_t index) {
      if (X < W) px[static_cast<size_t>(rowOf(y) * W + X)] = color(index);
    };
    while (true) {
      if (y >= H) {
        ended = true;
        break;
      }
      if (p + 2 > n) break;
      const uint8_t a = d[p], b = d[p + 1];
      p += 2;
      if (a > 0) {
        // An encoded run: one index (RLE8) or two alternating ones (RLE4).
        for (int k = 0; k < a && x + k < W; ++k) put(x + k, rle8 ? b : (k & 1) ? (b & 15u) : (b >> 4));
        x += a;
      } else if (b == 0) {
        x = 0;
        ++y;
      } else if (b == 1) {
        ended = true;
        break;
      } else if (b == 2) {
        if (p + 2 > n) break;
        x += d[p];
        y += d[p + 1];
        p += 2;
      } else {
        // Absolute mode: b literal indices, padded to a 16-bit boundary.
        const size_t bytes = rle8 ? b : (b + 1u) / 2u;
        if (p + bytes > n) break;
        for (int k = 0; k < b && x + k < W; ++k)
          put(x + k, rle8 ? d[p + k] : (k & 1) ? (d[p + k / 2] & 15u) : (d[p + k / 2] >> 4));
        x += b;
        p += std::min(bytes + (bytes & 1), n - p);
      }
    }
    if (!ended) Bad("Bitmap data is truncated");
  } else if (W > 0 && H > 0) {
    const bool fields = bi.Compression == kBiBitfields || bi.Compression == kBiAlphaBitfields;
    TChannel r, g, b, a;
    if (bits == 16) {
      if (fields) {
        r = TChannel(bi.Masks[0]);
        g = TChannel(bi.Masks[1]);
        b = TChannel(bi.Masks[2]);
      } else {
        r = TChannel(0x7C00);
        g = TChannel(0x03E0);
        b = TChannel(0x001F);
      }
      if (r.Mask == 0x7C00 && g.Mask == 0x03E0 && b.Mask == 0x001F)
        format = TPixelFormat::pf15bit;
      else if (r.Mask == 0xF800 && g.Mask == 0x07E0 && b.Mask == 0x001F)
        format = TPixelFormat::pf16bit;
      else
        format = TPixelFormat::pfCustom;
    } else if (bits == 32 && fields) {
      r = TChannel(bi.Masks[0]);
      g = TChannel(bi.Masks[1]);
      b = TChannel(bi.Masks[2]);
      a = TChannel(bi.Masks[3]);
    }
    for (int64_t fr = 0; fr < H; ++fr) {
      const uint8_t* s = data.data() + fr * stride;
      uint32_t* o = px + rowOf(fr) * W;
      switch (bits) {
        case 1:
          for (int64_t x = 0; x < W; ++x) o[x] = color((s[x >> 3] >> (7 - (x & 7))) & 1u);
          break;
        case 4:
          for (int64_t x = 0; x < W; ++x) o[x] = color((x & 1) ? (s[x >> 1] & 15u) : (s[x >> 1] >> 4));
          break;
        case 8:
          for (int64_t x = 0; x < W; ++x) o[x] = color(s[x]);
          break;
        case 16:
          for (int64_t x = 0; x < W; ++x) {
            uint32_t v = Le16(s + 2 * x);
            o[x] = 0xFF000000u | r.Get(v, 0) << 16 | g.Get(v, 0) << 8 | b.Get(v, 0);
          }
          break;
        case 24:
          for (int64_t x = 0; x < W; ++x)
            o[x] = 0xFF000000u | static_cast<uint32_t>(s[3 * x + 2]) << 16 |
                   static_cast<uint32_t>(s[3 * x + 1]) << 8 | s[3 * x];
          break;
        case 32:
          if (fields) {
            for (int64_t x = 0; x < W; ++x) {
              uint32_t v = Le32(s + 4 * x);
              o[x] = a.Get(v, 255) << 24 | r.Get(v, 0) << 16 | g.Get(v, 0) << 8 | b.Get(v, 0);
            }
          } else {
            for (int64_t x = 0; x < W; ++x) o[x] = Le32(s + 4 * x);
          }
          break;
      }
    }
  }

  Out.Width = static_cast<int32_t>(W);
  Out.Height = static_cast<int32_t>(H);
  Out.Format = format;
  Out.Palette = bits <= 8 ? std::move(palette) : std::vector<uint32_t>{};
  Stream.SetPosition(start + dataPos + static_cast<int64_t>(data.size()));
}

}  // namespace

void TPlatformBitmap::LoadFromStream(TStream& Stream) {
  // Decode into fresh pixels so that a failure leaves this bitmap untouched.
  TPixelVector px;
  TBmpRead r;
  ReadBmp(
      Stream,
      [&px](int32_t W, int32_t H) {
        px.resize(static_cast<size_t>(W) * static_cast<size_t>(H));
        return px.data();
      },
      r);
  width_ = r.Width;
  height_ = r.Height;
  pixels_ = std::move(px);
  palette_ = std::move(r.Palette);
  pixelFormat_ = r.Format;
}

// Every pixel the reader stores is opaque unless the file is a 32-bit one,
// and a freshly read bitmap is not transparent, so the rows already are
// what assigning the loaded bitmap to a 32-bit one gives. Classes built on
// the bitmap read their own files, so only the bitmap itself reads BMP here.
bool TPlatformBitmap::LoadPixelsFromFile(const std::string& FileName, const TPixelAllocator& Allocate) {
  if (typeid(*this) != typeid(TPlatformBitmap)) return false;
  TFileStream s(FileName, TFileMode::fmOpenRead);
  TBmpRead r;
  ReadBmp(s, Allocate, r);
  return true;
}

namespace {

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

}  // namespace

void TPlatformBitmap::SaveToStream(TStream& Stream) const {
  uint32_t bits = 32;
  switch (pixelFormat_) {
    case TPixelFormat::pf1bit: bits = 1; break;
    case TPixelFormat::pf4bit: bits = 4; break;
    case TPixelFormat::pf8bit: bits = 8; break;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit: bits = 16; break;
    case TPixelFormat::pf24bit: bits = 24; break;
    default: bits = 32; break;
  }
  const bool fields = pixelFormat_ == TPixelFormat::pf16bit;

  // A palette bitmap writes its own colour table; one without a usable table
  // gets the table its format would give on conversion.
  std::vector<uint32_t> pal;
  if (bits <= 8) {
    if (!palette_.empty() && palette_.size() <= (1u << bits)) {
      pal = palette_;
    } else {
      TPlatformBitmap probe;
      probe.width_ = width_;
      probe.height_ = height_;
      probe.pixels_ = pixels_;
      probe.SetPixelFormat(pixelFormat_);
      pal = probe.palette_;
    }
  }

  const int64_t W = width_, H = height_;
  const int64_t stride = ((W * bits + 31) / 32) * 4;
  const uint32_t offBits = static_cast<uint32_t>(14 + 40 + (fields ? 12 : 0) + pal.size() * 4);
  const int64_t fileSize = offBits + stride * H;

  std::vector<uint8_t> head;
  head.reserve(offBits);
  head.push_back('B');
  head.push_back('M');
  Put32(head, fileSize > UINT32_MAX ? 0u : static_cast<uint32_t>(fileSize));
  Put32(head, 0);
  Put32(head, offBits);
  Put32(head, 40);
  Put32(head, static_cast<uint32_t>(W));
  Put32(head, static_cast<uint32_t>(H));  // positive: bottom-up rows
  Put16(head, 1);
  Put16(head, bits);
  Put32(head, fields ? kBiBitfields : kBiRgb);
  Put32(head, static_cast<uint32_t>(stride * H));
  Put32(head, 0);
  Put32(head, 0);
  Put32(head, static_cast<uint32_t>(pal.size()));
  Put32(head, 0);
  if (fields) {
    Put32(head, 0xF800);
    Put32(head, 0x07E0);
    Put32(head, 0x001F);
  }
  for (uint32_t c : pal) Put32(head, c & 0x00FFFFFFu);
  Stream.WriteBuffer(head.data(), head.size());

  std::unordered_map<uint32_t, uint32_t> indexOf;
  auto index = [&](uint32_t c) -> uint32_t {
    uint32_t key = c & 0x00FFFFFFu;
    auto it = indexOf.find(key);
    if (it == indexOf.end())
      it = indexOf.emplace(key, static_cast<uint32_t>(NearestPaletteIndex(pal, key))).first;
    return it->second;
  };

  std::vector<uint8_t> row(static_cast<size_t>(stride));
  for (int64_t y = H - 1; y >= 0; --y) {
    std::fill(row.begin(), row.end(), uint8_t{0});
    const uint32_t* s = ScanLine(static_cast<int32_t>(y));
    uint8_t* o = row.data();
    for (int64_t x = 0; x < W; ++x) {
      const uint32_t c = s[x];
      const uint32_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
      switch (bits) {
        case 1: o[x >> 3] = static_cast<uint8_t>(o[x >> 3] | (index(c) & 1u) << (7 - (x & 7))); break;
        case 4: o[x >> 1] = static_cast<uint8_t>(o[x >> 1] | (index(c) & 15u) << ((x & 1) ? 0 : 4)); break;
        case 8: o[x] = static_cast<uint8_t>(index(c)); break;
        case 16: {
          uint32_t v = fields ? (r >> 3) << 11 | (g >> 2) << 5 | b >> 3 : (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
          o[2 * x] = static_cast<uint8_t>(v);
          o[2 * x + 1] = static_cast<uint8_t>(v >> 8);
          break;
        }
        case 24:
          o[3 * x] = static_cast<uint8_t>(b);
          o[3 * x + 1] = static_cast<uint8_t>(g);
          o[3 * x + 2] = static_cast<uint8_t>(r);
          break;
        default:
          o[4 * x] = static_cast<uint8_t>(b);
          o[4 * x + 1] = static_cast<uint8_t>(g);
          o[4 * x + 2] = static_cast<uint8_t>(r);
          o[4 * x + 3] = static_cast<uint8_t>(c >> 24);
          break;
      }
    }
    Stream.WriteBuffer(row.data(), row.size());
  }
}
