// GIF frames: an image descriptor, an optional local colour table, one byte
// of colour index per pixel (row by row, top row first) and the extension
// blocks that precede the frame in the file. A frame reads and writes itself,
// imports a bitmap's colours as indices, and renders its indices through the
// active colour table into a bitmap of its own size.
#include <algorithm>
#include <cstring>

#include "gif_image.h"
#include "gif_reduce.h"
#include "img_fileio.h"
#include "platform_icon.h"
#include "png_image.h"
#include "raster_math.h"

namespace {

// Colour of a 0xAARRGGBB pixel as a table entry.
TGIFColor ToGIFColor(uint32_t C) {
  return {static_cast<uint8_t>(C >> 16), static_cast<uint8_t>(C >> 8), static_cast<uint8_t>(C)};
}

// A frame's pixel buffer of N zero bytes; a failed allocation is the
// picture's own error, not a crash of the program.
void AllocatePixels(std::vector<uint8_t>& Pixels, size_t N) {
  try {
    Pixels.assign(N, 0);
  } catch (const std::bad_alloc&) {
    Pixels.clear();
    throw GIFException("Failed to allocate memory for GIF DIB");
  }
}

// The bytes of the image data that starts here (code size byte, sub-blocks
// and their length bytes, as far as the stream has them); the stream is left
// where it was.
int64_t ImageDataBytes(TStream& Stream) {
  const int64_t start = Stream.Position();
  uint8_t n = 0;
  if (ReadUpTo(Stream, &n, 1) == 1)
    while (ReadUpTo(Stream, &n, 1) == 1 && n != 0 && Stream.Remaining() > 0)
      Stream.Seek(std::min<int64_t>(n, Stream.Remaining()), TSeekOrigin::soCurrent);
  const int64_t bytes = Stream.Position() - start;
  Stream.SetPosition(start);
  return bytes;
}

}  // namespace

TGIFSubImage::TGIFSubImage(TGIFImage* Image) : TGIFItem(Image), colorMap_(Image, this), extensions_(Image, this) {}

TGIFSubImage::~TGIFSubImage() { extensions_.Clear(); }

TGIFVersion TGIFSubImage::GetVersion() const {
  if (colorMap_.Optimized() || extensions_.Count() > 0) return TGIFVersion::gv89a;
  return TGIFVersion::gv87a;
}

void TGIFSubImage::Clear() {
  extensions_.Clear();
  colorMap_.Clear();
  pixels_.clear();
  pixels_.shrink_to_fit();
  descriptor_.Width = descriptor_.Height = 0;
  transparent_ = false;
  gce_ = nullptr;
  FreeBitmap();
  palette_.clear();
}

bool TGIFSubImage::Empty() const { return pixels_.empty() || Width() == 0 || Height() == 0; }

void TGIFSubImage::SetBounds(int32_t L, int32_t T, int32_t W, int32_t H) {
  const auto clamp16 = [](int32_t v) { return static_cast<uint16_t>(std::clamp(v, 0, 65535)); };
  const uint16_t w = clamp16(W), h = clamp16(H);
  descriptor_.Left = clamp16(L);
  descriptor_.Top = clamp16(T);
  if (w != descriptor_.Width || h != descriptor_.Height || pixels_.size() != size_t{w} * h) {
    if (int64_t{w} * h > TPlatformBitmap::kMaxPixels) throw GIFException("Invalid image dimensions");
    CheckImageFitsMemory(w, h);
    FreeBitmap();
    descriptor_.Width = w;
    descriptor_.Height = h;
    AllocatePixels(pixels_, size_t{w} * h);
  }
  if (!image_) return;
  image_->FreeBitmap();
  bool warned = false;
  TGIFHeader& hd = image_->Header();
  if (Left() + Width() > hd.Width) {
    if (hd.Width > 0) {
      Warning(1, "Image width too small for contained frames");
      warned = true;
    }
    hd.Width = clamp16(Left() + Width());
  }
  if (Top() + Height() > hd.Height) {
    if (hd.Height > 0) {
      Warning(1, "Image height too small for contained frames");
      warned = true;
    }
    hd.Height = clamp16(Top() + Height());
  }
  if (warned) Warning(1, "Image exceeds Logical Screen size");
}

uint8_t TGIFSubImage::Pixels(int32_t X, int32_t Y) const {
  if (X < 0 || X >= Width() || Y < 0 || Y >= Height()) throw GIFException("Invalid pixel coordinates");
  if (pixels_.empty()) throw GIFException("Image is empty");
  return pixels_[static_cast<size_t>(Y) * static_cast<size_t>(Width()) + static_cast<size_t>(X)];
}

void TGIFSubImage::SetPixels(int32_t X, int32_t Y, uint8_t Index) {
  if (X < 0 || X >= Width() || Y < 0 || Y >= Height()) throw GIFException("Invalid pixel coordinates");
  if (pixels_.empty()) throw GIFException("Image is empty");
  pixels_[static_cast<size_t>(Y) * static_cast<size_t>(Width()) + static_cast<size_t>(X)] = Index;
  FreeBitmap();
}

const TGIFColorMap& TGIFSubImage::ActiveColorMap() const {
  if (colorMap_.Count() > 0) return colorMap_;
  if (image_ && image_->Header().ColorMap().Count() > 0) return image_->Header().ColorMap();
  return colorMap_;
}

void TGIFSubImage::ColorMapChanged() {
  FreeBitmap();
  palette_.clear();
}

// ---- Loading and saving --------------------------------------------------------------

void TGIFSubImage::LoadFromStream(TStream& Stream) {
  Clear();
  extensions_.LoadFromStream(Stream);
  uint8_t b = 0;
  if (ReadUpTo(Stream, &b, 1) != 1) return;
  Stream.Seek(-1, TSeekOrigin::soCurrent);
  // Only an image separator starts a descriptor. A stray byte after a broken
  // extension is left for the frame list, which stops there with a warning,
  // rather than read as a frame of whatever size its bytes happen to give.
  if (b != 0x2C) return;
  uint8_t d[10];
  if (ReadUpTo(Stream, d, 10) != 10) throw GIFException("Premature end of data");
  descriptor_.Separator = d[0];
  descriptor_.Left = GIFGetWord(d + 1);
  descriptor_.Top = GIFGetWord(d + 3);
  uint16_t w = GIFGetWord(d + 5), h = GIFGetWord(d + 7);
  descriptor_.Packed = d[9];
  if (w == 0 || h == 0) {
    Warning(1, "Image exceeds Logical Screen size");
    w = image_ ? image_->Header().Width : 0;
    h = image_ ? image_->Header().Height : 0;
  }
  if (descriptor_.Packed & 0x80) colorMap_.LoadFromStream(Stream, 1 << ((descriptor_.Packed & 7) + 1));
  // The platform's bitmaps stop at this many pixels; a frame that could never
  // be shown is refused before its buffer is made.
  if (int64_t{w} * h > TPlatformBitmap::kMaxPixels) throw GIFException("Invalid image dimensions");
  // Up to 4 million pixels in all a short file still loads with the fill;
  // beyond that the frames' own image data must be able to fill them, so
  // thousands of empty frames the size of the screen are refused before their
  // buffers are made. The data is only walked once the frames are that large.
  TGIFImage::TLoadTally alone;
  TGIFImage::TLoadTally& tally = image_ ? image_->LoadTally : alone;
  const int64_t pixels = int64_t{w} * h;
  if (tally.Pixels + pixels > kShortFileMaxPixels &&
      !FileCanFillPicture(tally.Pixels + pixels, tally.DataBytes + ImageDataBytes(Stream), kGIFMaxPixelsPerByte))
    throw GIFException("Invalid GIF data");
  CheckImageFitsMemory(w, h);
  descriptor_.Width = w;
  descriptor_.Height = h;
  const uint8_t fill = transparent_ && gce_ ? gce_->TransparentColorIndex() : 0;
  AllocatePixels(pixels_, size_t{w} * h);
  const TGIFWarning warn = [this](const void* Sender, int32_t Severity, const std::string& Message) {
    if (image_) image_->Warning(Sender, Severity, Message);
  };
  const int64_t dataStart = Stream.Position();
  DecodeGIFImageData(Stream, pixels_.data(), w, h, Interlaced(), fill, warn);
  tally.Pixels += pixels;
  tally.DataBytes += Stream.Position() - dataStart;
}

void TGIFSubImage::SaveToStream(TStream& Stream) {
  extensions_.SaveToStream(Stream);
  if (Empty()) return;
  const bool local = colorMap_.Count() > 0;
  if (local)
    descriptor_.Packed = static_cast<uint8_t>((colorMap_.Optimized() ? 0xA0 : 0x80) | (ColorResolution() & 7));
  else
    descriptor_.Packed &= 0x58;
  uint8_t d[10];
  d[0] = 0x2C;
  GIFPutWord(d + 1, descriptor_.Left);
  GIFPutWord(d + 3, descriptor_.Top);
  GIFPutWord(d + 5, descriptor_.Width);
  GIFPutWord(d + 7, descriptor_.Height);
  d[9] = descriptor_.Packed;
  Stream.WriteBuffer(d, 10);
  colorMap_.SaveToStream(Stream);
  const int32_t bpp = local ? colorMap_.BitsPerPixel() : (image_ ? image_->BitsPerPixel() : 0);
  const int32_t colors = local ? colorMap_.Count() : 1 << std::clamp(bpp, 0, 8);
  const TGIFWarning warn = [this](const void* Sender, int32_t Severity, const std::string& Message) {
    if (image_) image_->Warning(Sender, Severity, Message);
  };
  std::unique_ptr<TGIFEncoder> encoder;
  if (image_ && image_->Compression == 1)
    encoder = std::make_unique<TRLEEncoder>(warn);
  else
    encoder = std::make_unique<TLZWEncoder>(warn);
  encoder->Compress(Stream, bpp, colors, pixels_.data(), Interlaced(), Height(), Width());
}

// ---- Copies ------------------------------------------------------------------------------

void TGIFSubImage::Assign(const TGIFSubImage& Source) {
  if (&Source == this) return;
  Clear();
  if (Source.Empty()) return;
  descriptor_ = Source.descriptor_;
  transparent_ = Source.transparent_;
  pixels_ = Source.pixels_;
  colorMap_.Assign(Source.colorMap_);
  if (Source.extensions_.Count() > 0) {
    // Through their own bytes: that also links a graphic control extension
    // to this frame.
    TMemoryStream m;
    Source.extensions_.SaveToStream(m);
    m.SetPosition(0);
    extensions_.LoadFromStream(m);
  }
}

void TGIFSubImage::Assign(const TPlatformBitmap& Source) {
  Clear();
  if (Source.Empty()) return;
  if (image_) image_->Progress(TProgressStage::psStarting, 0, "Converting...");
  SetBounds(0, 0, Source.Width(), Source.Height());
  const TPixelFormat pf = Source.PixelFormat();
  const bool paletted = (pf == TPixelFormat::pf1bit || pf == TPixelFormat::pf4bit || pf == TPixelFormat::pf8bit) &&
                        !Source.Palette().empty();
  const int32_t reduction = image_ ? image_->ColorReduction : ReduceWebCube;
  if (paletted) {
    ImportIndexed(Source);
  } else if (reduction == ReduceOff) {
    ImportTrueColor(Source);
  } else {
    TReducedImage r;
    if (!ReduceColorsToIndices(Source, reduction, image_ ? image_->DitherMode : DitherNone,
                               image_ ? image_->ReductionBits : 8, nullptr, r))
      throw GIFException("Image has no DIB");  // no rows to import
    colorMap_.ImportPalette(r.Palette);
    pixels_ = std::move(r.Indices);
  }
  if (Source.Transparent()) {
    const int32_t tc = Source.TransparentColor();
    const uint32_t key = static_cast<uint32_t>(tc & 0xFF) << 16 | static_cast<uint32_t>(tc & 0xFF00) |
                         static_cast<uint32_t>((tc >> 16) & 0xFF);
    ApplyMask([&](int32_t X, int32_t Y) { return (Source.ScanLine(Y)[X] & 0xFFFFFFu) == key; });
  }
  FreeBitmap();
  if (image_) image_->Progress(TProgressStage::psEnding, 100, "Converting...");
}

void TGIFSubImage::ImportIndexed(const TPlatformBitmap& Source) {
  const std::vector<uint32_t>& pal = Source.Palette();
  colorMap_.ImportPalette(pal);
  const int32_t w = Width(), h = Height();
  // The rows hold colours of the table; the last one found spares most searches.
  uint32_t last = 0;
  uint8_t lastIndex = static_cast<uint8_t>(NearestPaletteIndex(pal, 0xFF000000u));
  for (int32_t y = 0; y < h; ++y) {
    const uint32_t* src = Source.ScanLine(y);
    uint8_t* dst = pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t c = src[x] & 0xFFFFFFu;
      if (c != last) {
        last = c;
        lastIndex = static_cast<uint8_t>(NearestPaletteIndex(pal, c | 0xFF000000u));
      }
      dst[x] = lastIndex;
    }
    if (image_ && y % 32 == 0) image_->Progress(TProgressStage::psRunning, GIFPercent(y, h), "Converting...");
  }
}

void TGIFSubImage::ImportTrueColor(const TPlatformBitmap& Source) {
  const int32_t w = Width(), h = Height();
  // A ring of the last colours found spares most table searches.
  TGIFColor ring[8];
  int32_t ringIndex[8];
  std::fill(std::begin(ringIndex), std::end(ringIndex), -1);
  int32_t ringNext = 0;
  for (int32_t y = 0; y < h; ++y) {
    const uint32_t* src = Source.ScanLine(y);
    uint8_t* dst = pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    for (int32_t x = 0; x < w; ++x) {
      const TGIFColor c = ToGIFColor(src[x]);
      int32_t idx = -1;
      for (int32_t i = 0; i < 8; ++i)
        if (ringIndex[i] >= 0 && ring[i] == c) {
          idx = ringIndex[i];
          break;
        }
      if (idx < 0) {
        idx = colorMap_.AddUnique(c);
        ring[ringNext] = c;
        ringIndex[ringNext] = idx;
        ringNext = (ringNext + 1) & 7;
      }
      dst[x] = static_cast<uint8_t>(idx);
    }
    if (image_ && y % 32 == 0) image_->Progress(TProgressStage::psRunning, GIFPercent(y, h), "Converting...");
  }
}

void TGIFSubImage::Assign(const TGraphic& Source) {
  if (const auto* bmp = dynamic_cast<const TPlatformBitmap*>(&Source)) return Assign(*bmp);
  const int32_t w = Source.Width(), h = Source.Height();
  if (w <= 0 || h <= 0) {
    Clear();
    return;
  }
  TPlatformBitmap b;
  if (const auto* gif = dynamic_cast<const TGIFImage*>(&Source)) {
    // Its composite, the one way a graphic of ours turns into a bitmap.
    const_cast<TGIFImage*>(gif)->AssignTo(b);
    return Assign(b);
  }
  if (const auto* png = dynamic_cast<const TPNGObject*>(&Source)) {
    // Through a platform bitmap, which keeps a single transparent colour;
    // drawing would lose it.
    png->AssignTo(b);
    return Assign(b);
  }
  // Drawn onto an opaque black bitmap of its size.
  const auto drawOn = [&](TPlatformBitmap& To, uint32_t Background) {
    To.SetPixelFormat(TPixelFormat::pf24bit);
    To.SetSize(w, h);
    std::fill(To.Bits(), To.Bits() + static_cast<size_t>(w) * static_cast<size_t>(h), Background);
    TPixelSurface s{To.Bits(), w, h};
    Source.Draw(s, {0, 0, w, h});
  };
  drawOn(b, 0xFF000000u);
  if (!dynamic_cast<const TTransparentGraphic*>(&Source)) return Assign(b);
  std::vector<uint32_t> icon, white;
  if (const auto* i = dynamic_cast<const TIcon*>(&Source)) {
    // The icon's own mask: the pixels it leaves fully transparent.
    icon = i->Pixels();
    if (icon.size() != static_cast<size_t>(w) * static_cast<size_t>(h)) icon.clear();
  } else {
    // A metafile says nothing of its transparency: what it leaves untouched
    // differs between a white and a black background.
    TPlatformBitmap w1;
    drawOn(w1, 0xFFFFFFFFu);
    white.assign(w1.Bits(), w1.Bits() + static_cast<size_t>(w) * static_cast<size_t>(h));
  }
  Assign(b);
  ApplyMask([&](int32_t X, int32_t Y) {
    const size_t i = static_cast<size_t>(Y) * static_cast<size_t>(w) + static_cast<size_t>(X);
    if (!white.empty()) return ((white[i] ^ b.Bits()[i]) & 0xFFFFFFu) != 0;
    return !icon.empty() && (icon[i] >> 24) == 0;
  });
}

void TGIFSubImage::Assign(const TPicture& Source) {
  if (Source.Graphic())
    Assign(*Source.Graphic());
  else
    Clear();
}

void TGIFSubImage::ApplyMask(const std::function<bool(int32_t X, int32_t Y)>& Masked) {
  // The masked pixels become a new black entry named by a graphic control
  // extension, unless the table has no room for one.
  colorMap_.Optimize();
  const int32_t n = colorMap_.Count();
  if (n == 0 || n >= 256) return;
  const int32_t entry = colorMap_.Add(TGIFColor{});
  bool any = false;
  const int32_t w = Width(), h = Height();
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    for (int32_t x = 0; x < w; ++x)
      if (Masked(x, y)) {
        row[x] = static_cast<uint8_t>(entry);
        any = true;
      }
  }
  if (!any) {
    colorMap_.Delete(entry);
    return;
  }
  auto gce = std::make_unique<TGIFGraphicControlExtension>(this);
  gce->SetTransparent(true);
  gce->SetTransparentColorIndex(entry);
  extensions_.Add(std::move(gce));
  FreeBitmap();
}

// ---- Rendering ---------------------------------------------------------------------------

std::vector<uint32_t> TGIFSubImage::Palette() {
  if (bitmap_ && !bitmap_->Palette().empty()) return bitmap_->Palette();
  if (!palette_.empty()) return palette_;
  if (image_ && image_->DoDither()) return palette_ = WebPalette();
  if (colorMap_.Count() > 0) return palette_ = colorMap_.ExportPalette();
  return image_ ? image_->Palette() : std::vector<uint32_t>{};
}

void TGIFSubImage::SetPalette(const std::vector<uint32_t>& Palette) {
  if (Palette == palette_) return;
  palette_ = Palette;
  if (bitmap_ && bitmap_->Palette() != Palette) {
    FreeBitmap();
    if (image_) {
      image_->GlobalColorMapChanged();
      image_->Changed();
    }
  }
}

const std::vector<uint8_t>& TGIFSubImage::Mask() {
  Bitmap();
  return mask_;
}

const TPlatformBitmap& TGIFSubImage::Bitmap() {
  if (bitmap_) return *bitmap_;
  mask_.clear();
  auto b = std::make_unique<TPlatformBitmap>();
  if (!Empty()) {
    const int32_t w = Width(), h = Height();
    const std::vector<TGIFColor>& table = ActiveColorMap().Colors();
    uint32_t lut[256];
    for (int32_t i = 0; i < 256; ++i) {
      const TGIFColor c = table.empty() ? TGIFColor{} : table[static_cast<size_t>(i) < table.size() ? i : 0];
      lut[i] = 0xFF000000u | uint32_t{c.Red} << 16 | uint32_t{c.Green} << 8 | c.Blue;
    }
    const bool masked = transparent_ && gce_;
    const uint8_t key = masked ? gce_->TransparentColorIndex() : 0;
    const size_t rowBytes = MaskRowBytes();
    std::vector<uint8_t> mask(masked ? rowBytes * static_cast<size_t>(h) : 0, 0);
    bool anyMasked = false;
    b->SetPixelFormat(TPixelFormat::pf8bit);
    b->SetSize(w, h);
    uint32_t* out = b->Bits();
    if (image_ && image_->DoDither()) {
      // Diffused onto the web palette; transparent pixels keep the cube
      // colour of the transparent entry and are left to the mask.
      std::vector<uint32_t> web = WebPalette();
      TNetscapeColorLookup lookup;
      TFloydSteinbergDitherer engine(w, lookup);
      const TGIFColor tc = masked ? ActiveColorMap().Color(key) : TGIFColor{};
      int32_t tr, tg, tb;
      const uint32_t background = web[static_cast<size_t>(lookup.Lookup(tc.Red, tc.Green, tc.Blue, tr, tg, tb))];
      int32_t r, g, bl;
      for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
        uint32_t* row = out + static_cast<size_t>(y) * static_cast<size_t>(w);
        if (masked) std::fill(row, row + w, background);
        while (engine.Column >= 0 && engine.Column < w) {
          const int32_t x = engine.Column;
          if (masked && src[x] == key) {
            // The key's colour is never shown, so its error must not reach
            // the pixels around it.
            engine.Skip();
            mask[static_cast<size_t>(y) * rowBytes + static_cast<size_t>(x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
            anyMasked = true;
          } else {
            const uint32_t c = lut[src[x]];
            const int32_t idx = engine.Dither(static_cast<int32_t>((c >> 16) & 0xFF), static_cast<int32_t>((c >> 8) & 0xFF),
                                              static_cast<int32_t>(c & 0xFF), r, g, bl);
            row[x] = web[static_cast<size_t>(idx)];
          }
        }
        engine.NextLine();
        if (image_ && y % 32 == 0) image_->Progress(TProgressStage::psRunning, GIFPercent(y, h), "Rendering...");
      }
      b->SetPalette(std::move(web));
    } else {
      std::vector<uint32_t> pal(lut, lut + std::max<size_t>(1, std::min<size_t>(256, table.size())));
      b->SetPalette(std::move(pal));
      for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
        uint32_t* row = out + static_cast<size_t>(y) * static_cast<size_t>(w);
        for (int32_t x = 0; x < w; ++x) row[x] = lut[src[x]];
        if (masked) {
          uint8_t* m = mask.data() + static_cast<size_t>(y) * rowBytes;
          for (int32_t x = 0; x < w; ++x)
            if (src[x] == key) {
              m[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
              anyMasked = true;
            }
        }
        if (image_ && y % 32 == 0) image_->Progress(TProgressStage::psRunning, GIFPercent(y, h), "Rendering...");
      }
    }
    if (anyMasked) mask_ = std::move(mask);
  }
  bitmap_ = std::move(b);
  return *bitmap_;
}

TPlatformRect TGIFSubImage::ScaledRect(const TPlatformRect& Dest) const {
  const int32_t sw = image_ ? image_->Width() : Width(), sh = image_ ? image_->Height() : Height();
  const int32_t dw = Dest.Right - Dest.Left, dh = Dest.Bottom - Dest.Top;
  return {Dest.Left + RoundingMulDiv(Left(), dw, sw), Dest.Top + RoundingMulDiv(Top(), dh, sh),
          Dest.Left + RoundingMulDiv(Left() + Width(), dw, sw), Dest.Top + RoundingMulDiv(Top() + Height(), dh, sh)};
}

void TGIFSubImage::StretchInto(TPixelSurface& Surface, const TPlatformRect& R, bool Transparent) {
  const TPlatformBitmap& b = Bitmap();
  const int32_t w = b.Width(), h = b.Height();
  const int64_t dw = int64_t{R.Right} - R.Left, dh = int64_t{R.Bottom} - R.Top;
  if (w <= 0 || h <= 0 || dw <= 0 || dh <= 0 || !Surface.Bits) return;
  const bool masked = Transparent && !mask_.empty();
  const size_t rowBytes = MaskRowBytes();
  const int32_t y0 = std::max(R.Top, 0), y1 = static_cast<int32_t>(std::min<int64_t>(R.Bottom, Surface.Height));
  const int32_t x0 = std::max(R.Left, 0), x1 = static_cast<int32_t>(std::min<int64_t>(R.Right, Surface.Width));
  for (int32_t y = y0; y < y1; ++y) {
    const int32_t sy = static_cast<int32_t>((y - int64_t{R.Top}) * h / dh);
    const uint32_t* src = b.ScanLine(sy);
    const uint8_t* m = masked ? mask_.data() + static_cast<size_t>(sy) * rowBytes : nullptr;
    uint32_t* dst = Surface.Bits + static_cast<size_t>(y) * static_cast<size_t>(Surface.Width);
    for (int32_t x = x0; x < x1; ++x) {
      const int32_t sx = static_cast<int32_t>((x - int64_t{R.Left}) * w / dw);
      if (m && (m[sx >> 3] & (0x80 >> (sx & 7)))) continue;
      dst[x] = src[sx];
    }
  }
}

void TGIFSubImage::Draw(TPixelSurface& Surface, const TPlatformRect& Dest, bool Transparent, bool Tile) {
  if (Empty()) return;
  if (!Tile) {
    StretchInto(Surface, ScaledRect(Dest), Transparent);
    return;
  }
  const int64_t sw = image_ && image_->Width() > 0 ? image_->Width() : Width();
  const int64_t sh = image_ && image_->Height() > 0 ? image_->Height() : Height();
  for (int64_t y = int64_t{Dest.Top} + Top(); y < Dest.Bottom; y += sh)
    for (int64_t x = int64_t{Dest.Left} + Left(); x < Dest.Right; x += sw)
      StretchInto(Surface,
                  {static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(x + Width()),
                   static_cast<int32_t>(y + Height())},
                  Transparent);
}
