// The bridge between PNG files and the raster engine's bitmap. Loading hands
// each decoded row straight to the bitmap's row through a converter chosen
// once for the file's format; the bitmap the caller gave takes the pixels
// only when the whole file has been read. Saving with a palette reduces the
// picture here, so that the transparent colour keeps an entry of its own.
#include "img_png.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <memory>

#include "img_fileio.h"
#include "platform_graphics.h"
#include "png_image.h"

namespace {

// Rows into pixels the caller allocates once the size is known.
class TPixelSink : public TPngRowSink {
 public:
  // Gives the first pixel of a Width x Height top-down buffer.
  using TAllocate = std::function<uint32_t*(int32_t Width, int32_t Height)>;
  explicit TPixelSink(TAllocate Allocate) : allocate_(std::move(Allocate)) {}

  void Begin(TPNGObject& Png, TChunkIHDR& Header) override {
    conv_.Prepare(Png, Header);
    width_ = static_cast<int32_t>(Header.Width);
    pixels_ = allocate_(width_, static_cast<int32_t>(Header.Height));
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

 private:
  TAllocate allocate_;
  TPngArgbConverter conv_;
  uint32_t* pixels_ = nullptr;
  int32_t width_ = 0;
  std::vector<uint32_t> pass_;
};

}  // namespace

void LoadPNGIntoBitmap32(const std::string& FileName, TBitmap32* Bitmap) {
  TBitmap32 decoded;
  TPixelSink sink([&](int32_t W, int32_t H) {
    decoded.SetSize(W, H);
    return decoded.Bits();
  });
  {
    TFileStream file(FileName, TFileMode::fmOpenRead);
    TPNGObject png;
    png.LoadFromStream(file, &sink);
  }
  Bitmap->AdoptPixels(decoded);
}

bool DecodePngToArgb(const uint8_t* Data, size_t Size, int32_t& Width, int32_t& Height,
                     std::vector<uint32_t>& Argb) {
  std::vector<uint32_t> pixels;
  int32_t w = 0, h = 0;
  TPixelSink sink([&](int32_t W, int32_t H) {
    pixels.assign(static_cast<size_t>(W) * static_cast<size_t>(H), 0);
    w = W;
    h = H;
    return pixels.data();
  });
  TReadOnlyMemoryStream stream(Data, Size);
  TPNGObject png;
  png.LoadFromStream(stream, &sink);
  Width = w;
  Height = h;
  Argb = std::move(pixels);
  return true;
}

// ---- The 8-bit reduction of the save -------------------------------------------

namespace {

struct TColorCount {
  uint32_t Rgb;
  uint32_t Count;
};

uint8_t Channel(uint32_t Rgb, int Axis) { return static_cast<uint8_t>(Rgb >> (16 - 8 * Axis)); }

// A box of the median cut: a range of the colour list.
struct TBox {
  size_t Begin, End;
  int Axis = 0;
  int Range = 0;
};

void MeasureBox(const std::vector<TColorCount>& Colors, TBox& Box) {
  std::array<int, 3> lo{255, 255, 255}, hi{0, 0, 0};
  for (size_t i = Box.Begin; i < Box.End; ++i)
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min<int>(lo[a], Channel(Colors[i].Rgb, a));
      hi[a] = std::max<int>(hi[a], Channel(Colors[i].Rgb, a));
    }
  Box.Range = -1;
  for (int a = 0; a < 3; ++a)
    if (hi[a] - lo[a] > Box.Range) {
      Box.Range = hi[a] - lo[a];
      Box.Axis = a;
    }
}

// Splits the colours into at most N boxes, each time the box with the widest
// channel at the pixel-weighted median of that channel; every colour's entry
// is the weighted mean of its box.
void MedianCut(std::vector<TColorCount>& Colors, size_t N, std::vector<uint32_t>& Palette, uint8_t* IndexOf,
               uint8_t FirstIndex) {
  std::vector<TBox> boxes{{0, Colors.size()}};
  MeasureBox(Colors, boxes[0]);
  while (boxes.size() < N) {
    auto widest = std::max_element(boxes.begin(), boxes.end(), [](const TBox& A, const TBox& B) {
      return (A.End - A.Begin > 1 ? A.Range : -1) < (B.End - B.Begin > 1 ? B.Range : -1);
    });
    if (widest->End - widest->Begin < 2) break;
    TBox box = *widest;
    std::sort(Colors.begin() + static_cast<ptrdiff_t>(box.Begin), Colors.begin() + static_cast<ptrdiff_t>(box.End),
              [&](const TColorCount& A, const TColorCount& B) {
                return Channel(A.Rgb, box.Axis) < Channel(B.Rgb, box.Axis);
              });
    uint64_t total = 0, run = 0;
    for (size_t i = box.Begin; i < box.End; ++i) total += Colors[i].Count;
    size_t cut = box.Begin + 1;
    for (size_t i = box.Begin; i < box.End - 1; ++i) {
      run += Colors[i].Count;
      cut = i + 1;
      if (run * 2 >= total) break;
    }
    TBox left{box.Begin, cut}, right{cut, box.End};
    MeasureBox(Colors, left);
    MeasureBox(Colors, right);
    *widest = left;
    boxes.push_back(right);
  }
  for (const TBox& box : boxes) {
    uint64_t sum[3] = {}, count = 0;
    for (size_t i = box.Begin; i < box.End; ++i) {
      for (int a = 0; a < 3; ++a) sum[a] += uint64_t{Channel(Colors[i].Rgb, a)} * Colors[i].Count;
      count += Colors[i].Count;
    }
    uint32_t mean = 0;
    for (int a = 0; a < 3; ++a) mean |= static_cast<uint32_t>((sum[a] + count / 2) / count) << (16 - 8 * a);
    const auto index = static_cast<uint8_t>(FirstIndex + Palette.size());
    Palette.push_back(mean);
    for (size_t i = box.Begin; i < box.End; ++i) IndexOf[Colors[i].Rgb] = index;
  }
}

// Tables over all 2^24 colours: a count and an entry per colour, so that a
// photo's millions of colours cost a fixed 80 MB and no hashing. calloc
// leaves the untouched parts of the count table unmapped.
struct TFree {
  void operator()(void* P) const { std::free(P); }
};

// A palette picture of Bitmap: its own colours when it has at most 256, else
// 256 median-cut colours. With a key colour that occurs in the picture, the
// key is entry 0 and only pixels of exactly that colour get it (255 reduced
// colours then share the rest), so no other pixel can turn transparent.
// KeyPresent tells whether entry 0 is the key.
std::unique_ptr<TPNGObject> PalettePicture(const TBitmap32& Bitmap, bool HasKey, uint32_t KeyRgb,
                                           bool& KeyPresent) {
  constexpr size_t kColors = size_t{1} << 24;
  std::unique_ptr<uint32_t, TFree> counts(static_cast<uint32_t*>(std::calloc(kColors, sizeof(uint32_t))));
  std::unique_ptr<uint8_t, TFree> indexOf(static_cast<uint8_t*>(std::malloc(kColors)));
  if (!counts || !indexOf) throw EPNGOutMemory(PngText(65229));
  const size_t n = Bitmap.PixelCount();
  const TColor32* px = Bitmap.Bits();
  for (size_t i = 0; i < n; ++i) ++counts.get()[px[i] & 0x00FFFFFFu];
  KeyPresent = HasKey && counts.get()[KeyRgb] != 0;
  std::vector<uint32_t> palette;
  if (KeyPresent) {
    palette.push_back(KeyRgb);
    indexOf.get()[KeyRgb] = 0;
    counts.get()[KeyRgb] = 0;
  }
  // Colours in ascending order: the same picture gives the same file.
  std::vector<TColorCount> colors;
  for (uint32_t rgb = 0; rgb < kColors; ++rgb)
    if (counts.get()[rgb] != 0) colors.push_back({rgb, counts.get()[rgb]});
  counts.reset();
  const size_t room = 256 - palette.size();
  if (colors.size() <= room) {
    for (const TColorCount& c : colors) {
      indexOf.get()[c.Rgb] = static_cast<uint8_t>(palette.size());
      palette.push_back(c.Rgb);
    }
  } else {
    std::vector<uint32_t> reduced;
    MedianCut(colors, room, reduced, indexOf.get(), static_cast<uint8_t>(palette.size()));
    palette.insert(palette.end(), reduced.begin(), reduced.end());
  }
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
  for (int32_t y = 0; y < Bitmap.Height(); ++y) {
    const TColor32* src = Bitmap.RowPtr(y);
    uint8_t* dst = h->Scanline(y);
    for (int32_t x = 0; x < Bitmap.Width(); ++x) dst[x] = indexOf.get()[src[x] & 0x00FFFFFFu];
  }
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
