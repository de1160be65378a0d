// The bridge between PNG files and the raster engine's bitmap. Loading hands
// each decoded row straight to the bitmap's row through a converter chosen
// once for the file's format; the bitmap the caller gave takes the pixels
// only when the whole file has been read. Saving with a palette reduces the
// picture here, so that the transparent colour keeps an entry of its own.
#include "img_png.h"

#include <algorithm>
#include <functional>
#include <memory>

#include "gif_reduce.h"
#include "img_fileio.h"
#include "platform_graphics.h"
#include "png_image.h"
#include "raster_parallel.h"

namespace {

// Rows into pixels the caller allocates once the size is known.
class TPixelSink : public TPngRowSink {
 public:
  // Gives the first pixel of a Width x Height top-down buffer with Spare
  // more rows of memory after it, which the picture never shows.
  using TAllocate = std::function<uint32_t*(int32_t Width, int32_t Height, int32_t Spare)>;
  explicit TPixelSink(TAllocate Allocate) : allocate_(std::move(Allocate)) {}

  void Begin(TPNGObject& Png, TChunkIHDR& Header, size_t Whole) override {
    conv_.Prepare(Png, Header);
    width_ = static_cast<int32_t>(Header.Width);
    const size_t stride = static_cast<size_t>(width_) * 4, pixels = stride * Header.Height;
    // Image data a little larger than the pixels (four samples a pixel add
    // a filter byte a row) still goes through the one inflate, for a row or
    // so of memory; data half as large again (16-bit samples) does not.
    spare_ = Whole > pixels && Whole - pixels <= pixels / 64 ? static_cast<int32_t>((Whole - pixels + stride - 1) / stride)
                                                             : 0;
    pixels_ = allocate_(width_, static_cast<int32_t>(Header.Height), spare_);
    height_ = static_cast<int32_t>(Header.Height);
    if (Header.InterlaceMethod == 1) pass_.resize(Header.Width);
  }

  void Row(const uint8_t* Src, int32_t Count, int32_t Y, int32_t X0, int32_t DX) override {
    uint32_t* dst = pixels_ + static_cast<ptrdiff_t>(Y) * width_;
    if (DX == 1) {
      conv_.Convert(Src, dst + X0, Count);
      return;
    }
    conv_.Convert(Src, pass_.data(), Count);
    for (int32_t i = 0; i < Count; ++i) dst[X0 + static_cast<ptrdiff_t>(i) * DX] = pass_[static_cast<size_t>(i)];
  }

  uint8_t* Canvas(size_t& Stride, size_t& Bytes) override {
    Stride = static_cast<size_t>(width_) * 4;
    Bytes = Stride * static_cast<size_t>(height_ + spare_);
    return reinterpret_cast<uint8_t*>(pixels_);
  }

 private:
  TAllocate allocate_;
  TPngArgbConverter conv_;
  uint32_t* pixels_ = nullptr;
  int32_t width_ = 0, height_ = 0, spare_ = 0;
  std::vector<uint32_t> pass_;
};

}  // namespace

void LoadPNGIntoBitmap32(const std::string& FileName, TBitmap32* Bitmap) {
  TBitmap32 decoded;
  int32_t height = 0;
  // A load that succeeds has written every pixel (a failed one is thrown
  // away), so the pixels need no clearing first.
  TPixelSink sink([&](int32_t W, int32_t H, int32_t Spare) {
    decoded.SetSizeForOverwrite(W, H + Spare);
    height = H;
    return decoded.Bits();
  });
  {
    TFileStream file(FileName, TFileMode::fmOpenRead);
    // Files of many small image data chunks would cost a read and a seek
    // or two each.
    TReadAheadStream stream(file);
    TPNGObject png;
    png.LoadFromStream(stream, &sink);
  }
  Bitmap->AdoptPixels(decoded, height);
}

bool DecodePngToArgb(const uint8_t* Data, size_t Size, int32_t& Width, int32_t& Height,
                     std::vector<uint32_t>& Argb) {
  std::vector<uint32_t> pixels;
  int32_t w = 0, h = 0;
  TPixelSink sink([&](int32_t W, int32_t H, int32_t Spare) {
    pixels.assign(static_cast<size_t>(W) * static_cast<size_t>(H + Spare), 0);
    w = W;
    h = H;
    return pixels.data();
  });
  TReadOnlyMemoryStream stream(Data, Size);
  TPNGObject png;
  png.LoadFromStream(stream, &sink);
  pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
  Width = w;
  Height = h;
  Argb = std::move(pixels);
  return true;
}

// ---- The 8-bit reduction of the save -------------------------------------------

namespace {

// A palette picture of Bitmap through the octree: 256 colours of its own, or,
// when the key colour occurs in it, the key at entry 0 and 255 colours of the
// other pixels after it. Only pixels of exactly the key take entry 0, so no
// other pixel can turn transparent; up to 255 colours every one keeps its
// own. KeyPresent tells whether entry 0 is the key.
std::unique_ptr<TPNGObject> PalettePicture(const TBitmap32& Bitmap, bool HasKey, uint32_t KeyRgb,
                                           bool& KeyPresent) {
  const size_t n = Bitmap.PixelCount();
  const TColor32* px = Bitmap.Bits();
  KeyPresent = HasKey && std::any_of(px, px + n, [&](TColor32 C) { return (C & 0x00FFFFFFu) == KeyRgb; });
  std::vector<uint32_t> reduced = OctreePalette(px, n, KeyPresent ? 255 : 256, KeyPresent, KeyRgb);
  for (uint32_t& c : reduced) {
    c &= 0x00FFFFFFu;
    // A mean that lands exactly on the key would read back transparent (a
    // reader makes every pixel of the transparent colour so): one step of
    // blue keeps its pixels visible.
    if (KeyPresent && c == KeyRgb) c ^= 1;
  }
  std::vector<uint32_t> palette;
  if (KeyPresent) palette.push_back(KeyRgb);
  palette.insert(palette.end(), reduced.begin(), reduced.end());
  if (palette.empty()) palette.push_back(0);

  auto png = std::make_unique<TPNGObject>();
  TPNGList& chunks = png->Chunks();
  auto* h = static_cast<TChunkIHDR*>(chunks.Add(CreatePngChunk(png.get(), "IHDR")));
  h->Width = static_cast<uint32_t>(Bitmap.Width());
  h->Height = static_cast<uint32_t>(Bitmap.Height());
  h->ColorType = 3;
  h->BitDepth = 8;
  h->PrepareImageData(true);
  auto* plte = static_cast<TChunkPLTE*>(chunks.Add(CreatePngChunk(png.get(), "PLTE")));
  plte->SetCount(static_cast<int32_t>(palette.size()));
  std::copy(palette.begin(), palette.end(), h->Store.Palette);
  if (KeyPresent) {
    auto* trns = static_cast<TChunktRNS*>(chunks.Add(CreatePngChunk(png.get(), "tRNS")));
    std::fill(std::begin(trns->PaletteValues), std::end(trns->PaletteValues), uint8_t{255});
    trns->PaletteValues[0] = 0;
    trns->ResizeData(1);
    trns->BitTransparency = true;
  }
  chunks.Add(CreatePngChunk(png.get(), "IDAT"));
  chunks.Add(CreatePngChunk(png.get(), "IEND"));
  // Every other pixel takes the nearest of the reduced colours.
  const TSlowColorLookup lookup(reduced.empty() ? std::vector<uint32_t>{0} : reduced, n > (size_t{1} << 20));
  const int32_t w = Bitmap.Width();
  const uint32_t first = KeyPresent ? 1 : 0;
  ParallelRows(0, Bitmap.Height(), RowsPerTask(w), [&](int32_t First, int32_t Last) {
    for (int32_t y = First; y < Last; ++y) {
      const TColor32* src = Bitmap.RowPtr(y);
      uint8_t* dst = h->Scanline(y);
      int32_t last = -1;
      for (int32_t x = 0; x < w; ++x) {
        const uint32_t c = src[x] & 0x00FFFFFFu;
        if (KeyPresent && c == KeyRgb) {
          dst[x] = 0;
          continue;
        }
        last = lookup.IndexOf(c, last);
        dst[x] = static_cast<uint8_t>(first + static_cast<uint32_t>(last));
      }
    }
  });
  return png;
}

}  // namespace

void SavePNGFromBitmap32(const std::string& FileName, const TBitmap32* Bitmap, bool Palette8, bool Transparent,
                         int32_t TransparentColor, int32_t Level) {
  std::unique_ptr<TPNGObject> png;
  if (Palette8 && !Bitmap->Empty()) {
    const uint32_t c = static_cast<uint32_t>(TransparentColor);
    const uint32_t keyRgb = (c & 0xFF) << 16 | (c & 0xFF00) | ((c >> 16) & 0xFF);
    bool keyPresent = false;
    png = PalettePicture(*Bitmap, Transparent, keyRgb, keyPresent);
  } else {
    TPlatformBitmap plain;
    Bitmap->AssignTo(plain);
    png = std::make_unique<TPNGObject>();
    // Whatever transparency the bitmap names is decided below, not by Assign.
    plain.SetTransparent(false);
    png->Assign(plain);
    if (Transparent) {
      png->CreateAlpha();
      for (int32_t y = 0; y < Bitmap->Height(); ++y) {
        const TColor32* src = Bitmap->RowPtr(y);
        uint8_t* a = png->AlphaScanline(y);
        for (int32_t x = 0; x < Bitmap->Width(); ++x) a[x] = static_cast<uint8_t>(src[x] >> 24);
      }
    }
  }
  png->InterlaceMethod = imNone;
  png->SetCompressionLevel(static_cast<uint8_t>(std::clamp(Level, 0, 9)));
  SaveFileAtomically(FileName, [&](TStream& s) { png->SaveToStream(s); });
}
