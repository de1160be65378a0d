// The GIF picture: header and logical screen, colour tables, the frame list
// and the trailer, loaded and saved in file order, and the image-level
// operations (copy, composite bitmap, palette, size, clipboard, warnings and
// progress). The composite bitmap and the kept palettes are caches that any
// change of size, palette or frames discards.
#include "gif_image.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "gif_reduce.h"
#include "img_fileio.h"

namespace {

// Skips zero bytes; false at the end of the stream, else the stream stands
// on the first other byte, which B holds.
bool SkipZeros(TStream& S, uint8_t& B) {
  for (;;) {
    if (ReadUpTo(S, &B, 1) != 1) return false;
    if (B != 0) {
      S.Seek(-1, TSeekOrigin::soCurrent);
      return true;
    }
  }
}

// Opens the clipboard for one operation and closes it on every path.
class TBoardOpen {
 public:
  explicit TBoardOpen(TClipboard& B) : b_(B) { b_.Open(); }
  ~TBoardOpen() { b_.Close(); }
  TBoardOpen(const TBoardOpen&) = delete;
  TBoardOpen& operator=(const TBoardOpen&) = delete;

 private:
  TClipboard& b_;
};

}  // namespace

// ---- Items ----------------------------------------------------------------------------

void TGIFItem::Warning(int32_t Severity, const std::string& Message) const {
  if (image_) image_->Warning(this, Severity, Message);
}

void TGIFItem::SaveToFile(const std::string& FileName) {
  SaveFileAtomically(FileName, [this](TStream& S) { SaveToStream(S); });
}

void TGIFItem::LoadFromFile(const std::string& FileName) {
  TFileStream s(FileName, TFileMode::fmOpenRead);
  LoadFromStream(s);
}

// ---- Colour tables -----------------------------------------------------------------------

int32_t TGIFColorMap::BitsPerPixel() const {
  const int32_t n = Count();
  if (n == 0) return 0;
  int32_t bits = 1;
  while ((1 << bits) < n) ++bits;
  return bits;
}

void TGIFColorMap::Grow(int32_t Size) {
  if (Size < capacity_) return;
  capacity_ = Size <= 16 ? 16 : std::min(256, (Size + 31) / 32 * 32);
}

TGIFColor TGIFColorMap::Color(int32_t Index) const {
  if (Index < 0 || Index >= Count()) {
    if (Count() == 0) throw GIFException("Color table is empty");
    if (image_) image_->Warning(this, 1, "Invalid color index");
    return colors_[0];
  }
  return colors_[static_cast<size_t>(Index)];
}

void TGIFColorMap::SetColor(int32_t Index, TGIFColor C) {
  if (Index < 0 || Index >= Count()) throw GIFException("Invalid color index");
  colors_[static_cast<size_t>(Index)] = C;
  Changed();
}

int32_t TGIFColorMap::Add(TGIFColor C) {
  if (Count() >= 256) throw GIFException("Color table overflow");
  Grow(Count() + 1);
  colors_.push_back(C);
  optimized_ = false;
  Changed();
  return Count() - 1;
}

int32_t TGIFColorMap::AddUnique(TGIFColor C) {
  const int32_t i = IndexOf(C);
  return i >= 0 ? i : Add(C);
}

void TGIFColorMap::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) throw GIFException("Invalid color index");
  colors_.erase(colors_.begin() + Index);
  Changed();
}

void TGIFColorMap::Clear() {
  colors_.clear();
  capacity_ = 0;
  optimized_ = false;
  Changed();
}

int32_t TGIFColorMap::IndexOf(TGIFColor C) const {
  // A table sorted by frequency finds the common colours first.
  if (optimized_) {
    for (int32_t i = 0; i < Count(); ++i)
      if (colors_[static_cast<size_t>(i)] == C) return i;
  } else {
    for (int32_t i = Count() - 1; i >= 0; --i)
      if (colors_[static_cast<size_t>(i)] == C) return i;
  }
  return -1;
}

void TGIFColorMap::Assign(const TGIFColorMap& Source) {
  if (&Source == this) return;
  colors_ = Source.colors_;
  capacity_ = Source.capacity_;
  optimized_ = Source.optimized_;
  Changed();
}

void TGIFColorMap::SaveToStream(TStream& Stream) const {
  if (colors_.empty()) return;
  const size_t entries = size_t{1} << BitsPerPixel();
  std::vector<uint8_t> b(entries * 3, 0);
  for (size_t i = 0; i < colors_.size(); ++i) {
    b[i * 3] = colors_[i].Red;
    b[i * 3 + 1] = colors_[i].Green;
    b[i * 3 + 2] = colors_[i].Blue;
  }
  Stream.WriteBuffer(b.data(), b.size());
}

void TGIFColorMap::LoadFromStream(TStream& Stream, int32_t Count) {
  Count = std::clamp(Count, 0, 256);
  uint8_t b[768];
  if (ReadUpTo(Stream, b, static_cast<size_t>(Count) * 3) != static_cast<size_t>(Count) * 3)
    throw GIFException("Premature end of data");
  colors_.resize(static_cast<size_t>(Count));
  for (int32_t i = 0; i < Count; ++i) colors_[static_cast<size_t>(i)] = {b[i * 3], b[i * 3 + 1], b[i * 3 + 2]};
  capacity_ = 0;
  Grow(Count);
  optimized_ = false;
  Changed();
}

std::vector<uint32_t> TGIFColorMap::ExportPalette() const {
  std::vector<uint32_t> p;
  p.reserve(colors_.size());
  for (const TGIFColor& c : colors_) p.push_back(0xFF000000u | uint32_t{c.Red} << 16 | uint32_t{c.Green} << 8 | c.Blue);
  return p;
}

void TGIFColorMap::ImportPalette(const std::vector<uint32_t>& Palette) {
  const size_t n = std::min<size_t>(256, Palette.size());
  colors_.resize(n);
  for (size_t i = 0; i < n; ++i)
    colors_[i] = {static_cast<uint8_t>(Palette[i] >> 16), static_cast<uint8_t>(Palette[i] >> 8),
                  static_cast<uint8_t>(Palette[i])};
  capacity_ = 0;
  Grow(static_cast<int32_t>(n));
  optimized_ = false;
  Changed();
}

void TGIFColorMap::Changed() {
  if (image_) image_->Changed();
}

void TGIFColorMap::Optimize() {
  if (Count() <= 1) return;
  optimized_ = true;
  const std::vector<TGIFSubImage*> users = Users();
  if (users.empty()) return;
  int64_t hist[256] = {};
  for (TGIFSubImage* f : users) {
    const uint8_t* p = f->Data();
    for (size_t i = 0, n = f->DataSize(); i < n; ++i) ++hist[p[i]];
  }
  const int32_t n = Count();
  std::vector<int32_t> order(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) order[static_cast<size_t>(i)] = i;
  // Stable, so a table already in order stays as it is.
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return hist[a] > hist[b]; });
  bool same = true;
  for (int32_t i = 0; i < n && same; ++i) same = order[static_cast<size_t>(i)] == i;
  if (same) return;
  uint8_t remap[256];
  for (int32_t i = 0; i < 256; ++i) remap[i] = static_cast<uint8_t>(i);
  for (int32_t i = 0; i < n; ++i) remap[order[static_cast<size_t>(i)]] = static_cast<uint8_t>(i);
  for (TGIFSubImage* f : users) {
    uint8_t* p = f->Data();
    for (size_t i = 0, m = f->DataSize(); i < m; ++i) p[i] = remap[p[i]];
    if (TGIFGraphicControlExtension* g = f->GraphicControlExtension())
      if (g->TransparentColorIndex() < n) g->SetTransparentColorIndex(remap[g->TransparentColorIndex()]);
    f->FreeBitmap();
  }
  std::vector<TGIFColor> sorted;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t from = order[static_cast<size_t>(i)];
    if (hist[from] == 0) break;
    sorted.push_back(colors_[static_cast<size_t>(from)]);
  }
  colors_ = std::move(sorted);
  Changed();
}

void TGIFGlobalColorMap::Changed() {
  if (image_) image_->GlobalColorMapChanged();
}

std::vector<TGIFSubImage*> TGIFGlobalColorMap::Users() const {
  std::vector<TGIFSubImage*> u;
  if (!image_) return u;
  for (int32_t i = 0; i < image_->Images().Count(); ++i)
    if (image_->Images().Item(i)->ColorMap().Count() == 0) u.push_back(image_->Images().Item(i));
  return u;
}

void TGIFLocalColorMap::Changed() {
  if (frame_) frame_->ColorMapChanged();
  TGIFColorMap::Changed();
}

std::vector<TGIFSubImage*> TGIFLocalColorMap::Users() const {
  if (frame_ && Count() > 0) return {frame_};
  return {};
}

// ---- Header and trailer ------------------------------------------------------------------

TGIFHeader::TGIFHeader(TGIFImage* Image) : TGIFItem(Image), colorMap_(Image) {}

void TGIFHeader::Clear() {
  colorMap_.Clear();
  Width = Height = 0;
  Packed = 0;
  BackgroundColorIndex = 0;
  AspectRatio = 0;
}

void TGIFHeader::Prepare() {
  const int32_t n = colorMap_.Count();
  Packed = n > 0 ? (colorMap_.Optimized() ? 0x88 : 0x80) : 0;
  const int32_t resolution = image_ ? image_->ColorResolution() : colorMap_.ColorResolution();
  Packed |= static_cast<uint8_t>((resolution << 4) & 0x70);
  // The size field describes the global table itself: a larger local table
  // elsewhere must not make readers take more entries than were written.
  const int32_t bits = n > 0 ? colorMap_.BitsPerPixel() : (image_ ? image_->BitsPerPixel() : 0);
  Packed |= static_cast<uint8_t>((bits - 1) & 7);
}

void TGIFHeader::LoadFromStream(TStream& Stream) {
  const int64_t start = Stream.Position();
  uint8_t sig[6];
  if (ReadUpTo(Stream, sig, 6) != 6) throw GIFException("Premature end of data");
  const auto isGif = [&] {
    return std::toupper(sig[0]) == 'G' && std::toupper(sig[1]) == 'I' && std::toupper(sig[2]) == 'F';
  };
  if (!isGif()) {
    // Some writers put four bytes in front of the signature.
    Stream.SetPosition(start + 4);
    if (ReadUpTo(Stream, sig, 6) != 6 || !isGif()) throw GIFException("Invalid GIF signature");
  }
  uint8_t d[7];
  if (ReadUpTo(Stream, d, 7) != 7) throw GIFException("Premature end of data");
  Width = GIFGetWord(d);
  Height = GIFGetWord(d + 2);
  // The picture the editor gets has the logical screen's size: a screen the
  // rest of the file cannot fill is damage, refused before it costs memory.
  if (!FileCanFillPicture(int64_t{Width} * Height, Stream.Remaining(), kGIFMaxPixelsPerByte))
    throw GIFException("Invalid GIF data");
  Packed = d[4];
  BackgroundColorIndex = d[5];
  AspectRatio = d[6];
  if (Packed & 0x80)
    colorMap_.LoadFromStream(Stream, 1 << ((Packed & 7) + 1));
  else
    colorMap_.Clear();
}

void TGIFHeader::SaveToStream(TStream& Stream) {
  const TGIFVersion v = image_ ? image_->Version() : TGIFVersion::gv87a;
  if (v == TGIFVersion::gvUnknown) throw GIFException("Unsupported GIF version");
  Stream.WriteBuffer(v == TGIFVersion::gv89a ? "GIF89a" : "GIF87a", 6);
  Prepare();
  uint8_t d[7];
  GIFPutWord(d, Width);
  GIFPutWord(d + 2, Height);
  d[4] = Packed;
  d[5] = BackgroundColorIndex;
  d[6] = AspectRatio;
  Stream.WriteBuffer(d, 7);
  if (Packed & 0x80) colorMap_.SaveToStream(Stream);
}

void TGIFTrailer::LoadFromStream(TStream& Stream) {
  uint8_t b = 0;
  if (ReadUpTo(Stream, &b, 1) == 1 && b != 0x3B) Warning(1, "Invalid Image trailer");
}

void TGIFTrailer::SaveToStream(TStream& Stream) {
  const uint8_t b = 0x3B;
  Stream.WriteBuffer(&b, 1);
}

// ---- Frame list ---------------------------------------------------------------------------

void TGIFImageList::LoadFromStream(TStream& Stream) {
  uint8_t b = 0;
  if (!SkipZeros(Stream, b)) return;
  const int64_t size = Stream.Size();
  while (b != 0x3B) {
    if (b != 0x21 && b != 0x2C) {
      image_->Warning(this, 1, "Unknown GIF block type");
      return;
    }
    auto frame = std::make_unique<TGIFSubImage>(image_);
    frame->LoadFromStream(Stream);
    Add(std::move(frame));
    image_->Progress(TProgressStage::psRunning, GIFPercent(Stream.Position(), size), "Loading...");
    if (!SkipZeros(Stream, b)) return;
  }
}

// ---- The image ---------------------------------------------------------------------------

TGIFImage::TGIFImage() : header_(this), images_(this) { Clear(); }

TGIFImage::~TGIFImage() {
  // A painter that outlives the image (its step still on the stack) must
  // find no image behind it.
  const std::vector<std::shared_ptr<TGIFPainterBase>> painters = painters_;
  StopDraw();
  for (const auto& p : painters) p->image_ = nullptr;
  // No events while the parts go.
  OnWarning = nullptr;
  OnProgress = nullptr;
  OnChange = nullptr;
  images_.Clear();
}

void TGIFImage::Warning(const void* Sender, int32_t Severity, const std::string& Message) const {
  if (OnWarning) OnWarning(Sender, Severity, Message);
}

void TGIFImage::Progress(TProgressStage Stage, uint8_t Percent, const std::string& Message) const {
  if (OnProgress) OnProgress(*this, Stage, Percent, Message);
}

void TGIFImage::Changed() {
  if (OnChange) OnChange(*this);
}

void TGIFImage::GlobalColorMapChanged() {
  globalPalette_.clear();
  FreeBitmap();
  Changed();
}

bool TGIFImage::DoDither() const {
  // The screens this runs on show true colour, never a palette.
  constexpr bool kPaletteDevice = false;
  return (DrawOptions & goDither) && (!(DrawOptions & goAutoDither) || kPaletteDevice);
}

void TGIFImage::Clear() {
  StopDraw();
  images_.Clear();
  header_.ColorMap().Clear();
  header_.Width = header_.Height = 0;
  header_.Prepare();
  globalPalette_.clear();
}

TGIFVersion TGIFImage::Version() const {
  TGIFVersion v = TGIFVersion::gvUnknown;
  for (int32_t i = 0; i < images_.Count() && v != TGIFVersion::gv89a; ++i)
    v = std::max(v, images_.Item(i)->GetVersion());
  return v;
}

int32_t TGIFImage::ColorResolution() const {
  int32_t r = header_.ColorMap().ColorResolution();
  for (int32_t i = 0; i < images_.Count(); ++i) r = std::max(r, images_.Item(i)->ColorResolution());
  return r;
}

int32_t TGIFImage::BitsPerPixel() const {
  int32_t b = header_.ColorMap().BitsPerPixel();
  for (int32_t i = 0; i < images_.Count(); ++i) b = std::max(b, images_.Item(i)->BitsPerPixel());
  return b;
}

void TGIFImage::SetWidth(int32_t W) {
  for (int32_t i = 0; i < images_.Count(); ++i) {
    const TGIFSubImage* f = images_.Item(i);
    if (f->Left() + f->Width() > W) throw GIFException("Image width too small for contained frames");
  }
  header_.Width = static_cast<uint16_t>(std::clamp(W, 0, 65535));
  FreeBitmap();
  Changed();
}

void TGIFImage::SetHeight(int32_t H) {
  for (int32_t i = 0; i < images_.Count(); ++i) {
    const TGIFSubImage* f = images_.Item(i);
    if (f->Top() + f->Height() > H) throw GIFException("Image height too small for contained frames");
  }
  header_.Height = static_cast<uint16_t>(std::clamp(H, 0, 65535));
  FreeBitmap();
  Changed();
}

int32_t TGIFImage::Add(std::unique_ptr<TGIFSubImage> Frame) {
  const int32_t i = images_.Add(std::move(Frame));
  FreeBitmap();
  Changed();
  return i;
}

int32_t TGIFImage::Add(const TGraphic& Source) {
  auto frame = std::make_unique<TGIFSubImage>(this);
  frame->Assign(Source);
  return Add(std::move(frame));
}

void TGIFImage::Assign(const TGIFImage* Source) {
  if (Source == this) return;
  Clear();
  if (!Source) return;
  // The copy reports through the source's events.
  const TGIFProgress ownProgress = OnProgress;
  const TGIFWarning ownWarning = OnWarning;
  OnProgress = Source->OnProgress;
  OnWarning = Source->OnWarning;
  struct TRestore {
    TGIFImage& I;
    const TGIFProgress& P;
    const TGIFWarning& W;
    ~TRestore() {
      I.OnProgress = P;
      I.OnWarning = W;
    }
  } restore{*this, ownProgress, ownWarning};
  Progress(TProgressStage::psStarting, 0, "Copying...");
  header_.Width = Source->header_.Width;
  header_.Height = Source->header_.Height;
  header_.Packed = Source->header_.Packed;
  header_.BackgroundColorIndex = Source->header_.BackgroundColorIndex;
  header_.AspectRatio = Source->header_.AspectRatio;
  header_.ColorMap().Assign(Source->header_.ColorMap());
  ThreadPriority = Source->ThreadPriority;
  DrawBackgroundColor = Source->DrawBackgroundColor;
  DrawOptions = Source->DrawOptions;
  ColorReduction = Source->ColorReduction;
  DitherMode = Source->DitherMode;
  ForceFrame = Source->ForceFrame;
  OnStartPaint = Source->OnStartPaint;
  OnPaint = Source->OnPaint;
  OnAfterPaint = Source->OnAfterPaint;
  OnLoop = Source->OnLoop;
  OnEndPaint = Source->OnEndPaint;
  const int32_t n = Source->images_.Count();
  for (int32_t i = 0; i < n; ++i) {
    auto frame = std::make_unique<TGIFSubImage>(this);
    frame->Assign(*Source->images_.Item(i));
    images_.Add(std::move(frame));
    Progress(TProgressStage::psRunning, GIFPercent(i + 1, n), "Copying...");
  }
  Progress(TProgressStage::psEnding, 100, "Copying...");
  Changed();
}

void TGIFImage::Assign(const TGraphic& Source) {
  if (const auto* gif = dynamic_cast<const TGIFImage*>(&Source)) {
    Assign(gif);
    return;
  }
  Clear();
  Add(Source);
}

void TGIFImage::AssignTo(TPlatformBitmap& Dest) {
  const TPlatformBitmap* b = Bitmap();
  Dest = b ? *b : TPlatformBitmap();
}

// ---- Composite and palette ------------------------------------------------------------------

const TPlatformBitmap* TGIFImage::Bitmap() {
  if (images_.Count() == 0) return nullptr;
  if (bitmap_) return bitmap_.get();
  TGIFSubImage* f = images_.Item(0);
  if (f->Width() == Width() && f->Height() == Height()) {
    bitmap_ = std::make_unique<TPlatformBitmap>(f->Bitmap());
    return bitmap_.get();
  }
  // The first frame at its offset on the logical screen, opaque; the rest of
  // the screen shows palette entry 0, as a fresh palette bitmap does.
  auto b = std::make_unique<TPlatformBitmap>();
  std::vector<uint32_t> pal = Palette();
  b->SetPixelFormat(TPixelFormat::pf8bit);
  b->SetSize(Width(), Height());
  const uint32_t background = pal.empty() ? 0xFF000000u : pal[0];
  std::fill(b->Bits(), b->Bits() + static_cast<size_t>(Width()) * static_cast<size_t>(Height()), background);
  b->SetPalette(std::move(pal));
  const TPlatformBitmap& fb = f->Bitmap();
  for (int32_t y = 0; y < fb.Height(); ++y) {
    const int32_t ty = f->Top() + y;
    if (ty >= Height()) break;
    const int32_t n = std::min(fb.Width(), Width() - f->Left());
    if (n > 0) std::memcpy(b->ScanLine(ty) + f->Left(), fb.ScanLine(y), static_cast<size_t>(n) * 4);
  }
  bitmap_ = std::move(b);
  return bitmap_.get();
}

std::vector<uint32_t> TGIFImage::Palette() {
  if (findingPalette_) throw GIFException("No global or local color table defined");
  findingPalette_ = true;
  struct TDone {
    bool& F;
    ~TDone() { F = false; }
  } done{findingPalette_};
  if (bitmap_ && !bitmap_->Palette().empty()) return bitmap_->Palette();
  if (!globalPalette_.empty()) return globalPalette_;
  if (DoDither()) return globalPalette_ = WebPalette();
  if (header_.ColorMap().Count() > 0) return globalPalette_ = header_.ColorMap().ExportPalette();
  if (images_.Count() > 0) return images_.Item(0)->Palette();
  return {};
}

void TGIFImage::SetPalette(const std::vector<uint32_t>& Palette) {
  if (Palette == globalPalette_) return;
  globalPalette_ = Palette;
  if (!bitmap_ || bitmap_->Palette() != Palette) {
    FreeBitmap();
    paletteModified_ = true;
    Changed();
  }
}

// ---- Drawing and painters ----------------------------------------------------------------------

TGIFPainterBase::TGIFPainterBase(TGIFImage& Image, const TPixelSurface& Canvas, const TPlatformRect& Rect)
    : DrawOptions(Image.DrawOptions),
      AnimationSpeed(Image.AnimationSpeed),
      image_(&Image),
      canvas_(Canvas),
      rect_(Rect) {}

void TGIFPainterBase::Detach() {
  if (image_) image_->RemovePainter(this);
}

void TGIFImage::RemovePainter(TGIFPainterBase* Painter) {
  if (painter_ == Painter) painter_ = nullptr;
  // The list may hold the painter's last reference: it goes once the
  // painter's own step returns, which holds one more.
  for (auto it = painters_.begin(); it != painters_.end(); ++it)
    if (it->get() == Painter) {
      painters_.erase(it);
      break;
    }
}

void TGIFImage::StopDraw() {
  // Drawing is refused meanwhile, so that an end event cannot start a
  // painter on what is about to go; nothing waits, so a painter's own event
  // may call this.
  const bool wasDrawing = drawing_;
  drawing_ = true;
  while (!painters_.empty()) {
    const std::vector<std::shared_ptr<TGIFPainterBase>> stopping = painters_;
    for (const auto& p : stopping) p->Stop();
    // A painter started elsewhere detaches as it stops; one that never ran
    // is simply dropped.
    for (const auto& p : stopping) RemovePainter(p.get());
  }
  painter_ = nullptr;
  drawing_ = wasDrawing;
  bitmap_.reset();
}

void TGIFImage::DrawComposite(TPixelSurface& Surface, const TPlatformRect& Dest) const {
  if (!(DrawOptions & goTile)) {
    bitmap_->Draw(Surface, Dest);
    return;
  }
  // The bitmap at its own size, repeated across the rectangle from its corner.
  const int32_t w = bitmap_->Width(), h = bitmap_->Height();
  if (w <= 0 || h <= 0 || !Surface.Bits) return;
  const int32_t y0 = std::max(Dest.Top, 0), y1 = std::min(Dest.Bottom, Surface.Height);
  const int32_t x0 = std::max(Dest.Left, 0), x1 = std::min(Dest.Right, Surface.Width);
  for (int32_t y = y0; y < y1; ++y) {
    const uint32_t* src = bitmap_->ScanLine(static_cast<int32_t>((int64_t{y} - Dest.Top) % h));
    uint32_t* dst = Surface.Bits + static_cast<size_t>(y) * static_cast<size_t>(Surface.Width);
    for (int32_t x = x0; x < x1; ++x) dst[x] = src[(int64_t{x} - Dest.Left) % w];
  }
}

void TGIFImage::Draw(TPixelSurface& Surface, const TPlatformRect& Dest) const {
  // Caches are filled and painters started even when drawing a picture held as const.
  const_cast<TGIFImage*>(this)->DoDraw(Surface, Dest);
}

void TGIFImage::DoDraw(TPixelSurface& Surface, const TPlatformRect& Dest) {
  if (drawing_ || images_.Count() == 0) return;
  drawing_ = true;
  struct TDone {
    bool& F;
    ~TDone() { F = false; }
  } done{drawing_};
  const bool transparent = (DrawOptions & goTransparent) != 0, tile = (DrawOptions & goTile) != 0;
  if (images_.Count() == 1 || !(DrawOptions & goAnimate) || !PainterFactory) {
    const int32_t i = ForceFrame >= 0 && ForceFrame < images_.Count() ? ForceFrame : 0;
    images_.Item(i)->Draw(Surface, Dest, transparent, tile);
    return;
  }
  const bool direct = (DrawOptions & goDirectDraw) != 0;
  if (bitmap_ && !direct) {
    DrawComposite(Surface, Dest);
    return;
  }
  if (painter_ && painter_->Running() && painter_->Canvas().Bits == Surface.Bits &&
      painter_->Canvas().Width == Surface.Width && painter_->Canvas().Height == Surface.Height &&
      painter_->Rect().Left == Dest.Left && painter_->Rect().Top == Dest.Top &&
      painter_->Rect().Right == Dest.Right && painter_->Rect().Bottom == Dest.Bottom)
    return;
  if (painter_) {
    // Kept alive through its own end event, which may look at the list.
    const std::shared_ptr<TGIFPainterBase> old = painter_->shared_from_this();
    old->Stop();
    RemovePainter(old.get());
  }
  if (Dest.Right <= Dest.Left || Dest.Bottom <= Dest.Top || Width() <= 0 || Height() <= 0) return;
  TPixelSurface canvas = Surface;
  TPlatformRect rect = Dest;
  if (!direct) {
    // The painter works on a bitmap of the logical screen that starts with
    // what the destination shows, and each Draw copies it out.
    TPlatformBitmap under;
    under.SetSize(Dest.Right - Dest.Left, Dest.Bottom - Dest.Top);
    for (int32_t y = 0; y < under.Height(); ++y)
      for (int32_t x = 0; x < under.Width(); ++x) {
        const int32_t sx = Dest.Left + x, sy = Dest.Top + y;
        if (sx >= 0 && sy >= 0 && sx < Surface.Width && sy < Surface.Height && Surface.Bits)
          under.ScanLine(y)[x] = Surface.Bits[static_cast<size_t>(sy) * static_cast<size_t>(Surface.Width) + sx];
      }
    bitmap_ = std::make_unique<TPlatformBitmap>();
    bitmap_->SetSize(Width(), Height());
    canvas = TPixelSurface{bitmap_->Bits(), Width(), Height()};
    under.Draw(canvas, {0, 0, Width(), Height()});
    rect = {0, 0, Width(), Height()};
  }
  const std::shared_ptr<TGIFPainterBase> p = PainterFactory->CreatePainter(*this, canvas, rect);
  if (!p) return;
  painters_.push_back(p);
  painter_ = p.get();
  p->OnStartPaint = OnStartPaint;
  p->OnPaint = OnPaint;
  p->OnAfterPaint = OnAfterPaint;
  p->OnLoop = OnLoop;
  p->OnEndPaint = OnEndPaint;
  if (DrawOptions & goAsync)
    p->Start();
  else
    p->Execute();
  // The first frame is painted before Start returns unless the painter
  // ended; either way the composite shows what there is.
  if (!direct && bitmap_) DrawComposite(Surface, Dest);
}

// ---- Streams ----------------------------------------------------------------------------------

void TGIFImage::LoadFromStream(TStream& Stream) {
  Progress(TProgressStage::psStarting, 0, "Loading...");
  Clear();
  LoadTally = {};
  const int64_t start = Stream.Position();
  try {
    header_.LoadFromStream(Stream);
    images_.LoadFromStream(Stream);
    TGIFTrailer(this).LoadFromStream(Stream);
  } catch (...) {
    Stream.SetPosition(start);
    Progress(TProgressStage::psEnding, 0, "Loading...");
    throw;
  }
  Progress(TProgressStage::psEnding, 100, "Loading...");
}

void TGIFImage::SaveToStream(TStream& Stream) const {
  // Saving brings the packed bytes of header and frames up to date, as the
  // file has them.
  const_cast<TGIFImage*>(this)->DoSaveToStream(Stream);
}

void TGIFImage::DoSaveToStream(TStream& Stream) {
  Progress(TProgressStage::psStarting, 0, "Saving...");
  try {
    header_.SaveToStream(Stream);
    const int32_t n = images_.Count();
    for (int32_t i = 0; i < n; ++i) {
      images_.Item(i)->SaveToStream(Stream);
      Progress(TProgressStage::psRunning, GIFPercent(i + 1, n), "Saving...");
    }
    TGIFTrailer(this).SaveToStream(Stream);
  } catch (...) {
    Progress(TProgressStage::psEnding, 0, "Saving...");
    throw;
  }
  Progress(TProgressStage::psEnding, 100, "Saving...");
}

// ---- Clipboard ----------------------------------------------------------------------------------

void TGIFImage::LoadFromClipboardFormat(TClipboard& Board, const std::string& Format) {
  if (Format == kGIFClipboardFormat) {
    std::vector<uint8_t> data;
    {
      TBoardOpen open(Board);
      if (Board.HasFormat(kGIFClipboardFormat)) data = Board.GetData(kGIFClipboardFormat);
    }
    if (data.empty()) throw GIFException("Unsupported clipboard format");
    TReadOnlyMemoryStream s(data.data(), data.size());
    LoadFromStream(s);
    return;
  }
  if (Format == kBitmapClipboardFormat) {
    std::unique_ptr<TPlatformBitmap> picture;
    {
      TBoardOpen open(Board);
      picture = Board.GetPicture();
    }
    if (!picture) throw GIFException("Unsupported clipboard format");
    Assign(*picture);
    return;
  }
  throw GIFException("Unsupported clipboard format");
}

void TGIFImage::SaveToClipboardFormat(TClipboard& Board) {
  if (IsEmpty()) return;
  TMemoryStream gif;
  SaveToStream(gif);
  const TPlatformBitmap* b = Bitmap();
  TBoardOpen open(Board);
  try {
    Board.SetPicture(*b);
    Board.SetData(kGIFClipboardFormat, gif.Bytes());
  } catch (const std::exception&) {
    throw GIFException("Failed to store GIF on clipboard");
  }
}

// ---- Registration --------------------------------------------------------------------------------

namespace {
bool gRegistered = false;
}

void RegisterGifImage() {
  if (gRegistered) return;
  RegisterFileFormat("GIF", "GIF Image", "TGIFImage", [] { return std::make_unique<TGIFImage>(); });
  gRegistered = true;
}

void UnregisterGifImage() {
  UnregisterGraphicClass("TGIFImage");
  FreeGIFExtensionRegistries();
  gRegistered = false;
}
