// TBitmap32: storage, properties, notifications, assignment from and to the
// picture classes and the clipboard, the "Data" record, files, text, flips
// and the draw-to entry points. The pixel primitives are in raster_core_draw.cpp.
#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform_text.h"
#include "raster_blend.h"
#include "raster_core.h"
#include "raster_lowlevel.h"
#include "raster_parallel.h"
#include "raster_resamplers.h"
#include "raster_system.h"

namespace {

// Above this many bytes we do not even ask the allocator: no machine we run on
// has that much memory, and the sanitizers abort on such requests instead of
// failing them.
constexpr uint64_t kMaxBitmapBytes = uint64_t{1} << 40;

[[noreturn]] void RaiseAllocation() { throw Exception("Can't allocate the DIB handle"); }

void FillAll(TColor32* Bits, size_t Count, TColor32 Value) {
  FillWords32(Bits, static_cast<int64_t>(Count), Value);
}

// Opens and closes a clipboard bracket around one transfer.
class TClipboardBracket {
 public:
  explicit TClipboardBracket(TClipboard& C) : c_(C) { c_.Open(); }
  ~TClipboardBracket() { c_.Close(); }
  TClipboardBracket(const TClipboardBracket&) = delete;
  TClipboardBracket& operator=(const TClipboardBracket&) = delete;

 private:
  TClipboard& c_;
};

// Pixels are stored as B, G, R, A bytes whatever the host's byte order.
void PixelsFromBytes(TColor32* Dst, const uint8_t* Src, size_t Count) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(Dst, Src, Count * 4);
  } else {
    for (size_t i = 0; i < Count; ++i, Src += 4)
      Dst[i] = Src[0] | (TColor32{Src[1]} << 8) | (TColor32{Src[2]} << 16) | (TColor32{Src[3]} << 24);
  }
}

void WriteInt32(TStream& S, int32_t V) {
  const uint32_t u = static_cast<uint32_t>(V);
  const uint8_t b[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8),
                        static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 24)};
  S.WriteBuffer(b, 4);
}

int32_t ReadInt32(TStream& S) {
  uint8_t b[4];
  S.ReadBuffer(b, 4);
  return static_cast<int32_t>(b[0] | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) |
                              (uint32_t{b[3]} << 24));
}

// The blocks of ReservePixelBlocks. The preparing thread holds the reserve by
// a shared pointer, so it may outlive everything else at exit.
struct TPixelReserve {
  std::mutex Lock;
  uint64_t Count = 0;
  int32_t Wanted = 0;
  bool Preparing = false;
  std::vector<std::unique_ptr<TColor32[]>> Ready;
};

const std::shared_ptr<TPixelReserve>& Reserve() {
  static const std::shared_ptr<TPixelReserve> R = std::make_shared<TPixelReserve>();
  return R;
}

// One thread, not the pool: the blocks are made while the user looks at the
// picture, and must not take processors from a command that starts meanwhile.
void PrepareReserve(std::shared_ptr<TPixelReserve> R) {
  for (;;) {
    uint64_t Count = 0;
    {
      std::lock_guard<std::mutex> Guard(R->Lock);
      if (R->Count == 0 || static_cast<int32_t>(R->Ready.size()) >= R->Wanted) {
        R->Preparing = false;
        return;
      }
      Count = R->Count;
    }
    std::unique_ptr<TColor32[]> Block(new (std::nothrow) TColor32[Count]);
    if (Block) {
      AdviseLargePages(Block.get(), Count * sizeof(TColor32));
      std::memset(static_cast<void*>(Block.get()), 0, Count * sizeof(TColor32));
    }
    std::lock_guard<std::mutex> Guard(R->Lock);
    if (!Block) {
      R->Preparing = false;
      return;
    }
    if (R->Count == Count && static_cast<int32_t>(R->Ready.size()) < R->Wanted) R->Ready.push_back(std::move(Block));
  }
}

// A cleared block of exactly Count pixels from the reserve, or null.
std::unique_ptr<TColor32[]> TakeReservedBlock(uint64_t Count) {
  const std::shared_ptr<TPixelReserve>& R = Reserve();
  std::lock_guard<std::mutex> Guard(R->Lock);
  if (Count != R->Count || R->Ready.empty()) return nullptr;
  std::unique_ptr<TColor32[]> Block = std::move(R->Ready.back());
  R->Ready.pop_back();
  return Block;
}

}  // namespace

void ReservePixelBlocks(uint64_t Count, int32_t Blocks) {
  const std::shared_ptr<TPixelReserve>& R = Reserve();
  std::vector<std::unique_ptr<TColor32[]>> Dropped;  // freed outside the lock
  {
    std::lock_guard<std::mutex> Guard(R->Lock);
    if (Count == 0 || Count > kMaxBitmapBytes / 4 || Blocks <= 0) {
      Count = 0;
      Blocks = 0;
    }
    if (Count != R->Count) Dropped.swap(R->Ready);
    while (static_cast<int32_t>(R->Ready.size()) > Blocks) {
      Dropped.push_back(std::move(R->Ready.back()));
      R->Ready.pop_back();
    }
    R->Count = Count;
    R->Wanted = Blocks;
    if (R->Preparing || static_cast<int32_t>(R->Ready.size()) >= Blocks) return;
    R->Preparing = true;
  }
  try {
    std::thread(PrepareReserve, R).detach();
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> Guard(R->Lock);
    R->Preparing = false;
  }
}

int32_t ReservedPixelBlocks() {
  const std::shared_ptr<TPixelReserve>& R = Reserve();
  std::lock_guard<std::mutex> Guard(R->Lock);
  return static_cast<int32_t>(R->Ready.size());
}

// ---- Construction and storage ------------------------------------------------

TBitmap32::TBitmap32() {
  // The resampler's constructor hands itself to SetResampler; keep ownership
  // single whichever way it went.
  auto r = std::make_unique<TNearestResampler>(this);
  if (resampler_.get() == r.get())
    r.release();
  else
    resampler_ = std::move(r);
}

TBitmap32::~TBitmap32() {
  BeginUpdate();
  TLockGuard lock(*this);
  // No notifications from a dying object.
  OnChange = nullptr;
  OnResize = nullptr;
  OnAreaChanged = nullptr;
  OnHandleChanged = nullptr;
  savedAreaChanged_ = nullptr;
  storage_.reset();
  bits_ = nullptr;
  resampler_.reset();
}

void TBitmap32::ChangeSize(int32_t& W, int32_t& H, int32_t NewWidth, int32_t NewHeight) {
  storage_.reset();
  bits_ = nullptr;
  W = 0;
  H = 0;
  if (NewWidth >= 1 && NewHeight >= 1) {
    const uint64_t count = static_cast<uint64_t>(NewWidth) * static_cast<uint64_t>(NewHeight);
    std::unique_ptr<TColor32[]> p = TakeReservedBlock(count);
    const bool cleared = p != nullptr;
    if (!p && count <= kMaxBitmapBytes / 4) p.reset(new (std::nothrow) TColor32[count]);
    if (!p) {
      // Leave a consistent empty bitmap behind: no stale clip rectangle may
      // point the clipped primitives at pixels that are gone.
      ResetClipRect();
      HandleChanged();
      RaiseAllocation();
    }
    storage_ = std::move(p);
    bits_ = storage_.get();
    // A reserved block was cleared and paged in when it was made.
    if (!cleared) AdviseLargePages(bits_, static_cast<size_t>(count) * sizeof(TColor32));
    // A large bitmap is cleared by all threads: the first write to each page
    // costs a fault, and one thread taking them all was the serial part of
    // every routine making a big result.
    if (!leaveUnwritten_ && !cleared)
      ParallelSpans(static_cast<size_t>(count), size_t{1} << 18, [this](size_t First, size_t Last) {
        std::memset(static_cast<void*>(bits_ + First), 0, (Last - First) * sizeof(TColor32));
      });
  }
  W = NewWidth;
  H = NewHeight;
  ResetClipRect();
  HandleChanged();
}

bool TBitmap32::SetSizeForOverwrite(int32_t NewWidth, int32_t NewHeight) {
  leaveUnwritten_ = true;
  try {
    const bool Resized = SetSize(NewWidth, NewHeight);
    leaveUnwritten_ = false;
    return Resized;
  } catch (...) {
    leaveUnwritten_ = false;
    throw;
  }
}

void TBitmap32::AdoptPixels(TBitmap32& Source) { AdoptPixels(Source, Source.FHeight); }

void TBitmap32::AdoptPixels(TBitmap32& Source, int32_t Rows) {
  if (&Source == this) return;
  const int32_t w = Source.FWidth, h = std::clamp(Rows, 0, Source.FHeight);
  const bool resized = w != FWidth || h != FHeight;
  storage_ = std::move(Source.storage_);
  bits_ = storage_.get();
  Source.bits_ = nullptr;
  Source.FWidth = 0;
  Source.FHeight = 0;
  Source.ResetClipRect();
  Source.HandleChanged();
  FWidth = bits_ && h > 0 ? w : 0;
  FHeight = bits_ && h > 0 ? h : 0;
  ResetClipRect();
  HandleChanged();
  Changed();
  if (resized) Resized();
}

void TBitmap32::SwapPixels(TBitmap32& Other) {
  if (&Other == this) return;
  const bool resized = FWidth != Other.FWidth || FHeight != Other.FHeight;
  std::swap(storage_, Other.storage_);
  std::swap(bits_, Other.bits_);
  std::swap(FWidth, Other.FWidth);
  std::swap(FHeight, Other.FHeight);
  for (TBitmap32* B : {this, &Other}) {
    B->ResetClipRect();
    B->HandleChanged();
    B->Changed();
    if (resized) B->Resized();
  }
}

bool TBitmap32::Empty() const { return bits_ == nullptr || FWidth == 0 || FHeight == 0; }

void TBitmap32::HandleChanged() {
  if (OnHandleChanged) OnHandleChanged(this);
}

TPixelSurface TBitmap32::Canvas() const {
  TPixelSurface s;
  if (!Empty()) {
    s.Bits = bits_;
    s.Width = FWidth;
    s.Height = FHeight;
  }
  return s;
}

TRect TBitmap32::BoundsRect() const { return TRect{0, 0, FWidth, FHeight}; }

// ---- Properties ------------------------------------------------------------------

void TBitmap32::SetDrawMode(TDrawMode Value) {
  if (drawMode_ == Value) return;
  drawMode_ = Value;
  Changed();
}

void TBitmap32::SetCombineMode(TCombineMode Value) {
  if (combineMode_ == Value) return;
  combineMode_ = Value;
  Changed();
}

void TBitmap32::SetWrapMode(TWrapMode Value) {
  if (wrapMode_ == Value) return;
  wrapMode_ = Value;
  Changed();
}

void TBitmap32::SetMasterAlpha(uint32_t Value) {
  if (masterAlpha_ == Value) return;
  masterAlpha_ = Value;
  Changed();
}

void TBitmap32::SetFont(const TFont& Value) { font_ = Value; }

void TBitmap32::SetResampler(TCustomResampler* Value) {
  if (Value == nullptr || Value == resampler_.get()) return;
  resampler_.reset(Value);
  Changed();
}

void TBitmap32::SetResampler(std::unique_ptr<TCustomResampler> Value) {
  if (!Value || Value.get() == resampler_.get()) {
    // Handing us our own object again must not free it twice.
    if (Value) Value.release();
    return;
  }
  SetResampler(Value.release());
}

std::string TBitmap32::ResamplerClassName() const {
  return resampler_ ? std::string(resampler_->ClassName()) : std::string();
}

void TBitmap32::SetResamplerClassName(const std::string& Value) {
  if (Value.empty() || Value == ResamplerClassName()) return;
  // Binds itself (and frees the old one) when the class is registered.
  CreateResamplerByName(Value, this);
}

void TBitmap32::GetPublishedProperties(TPropList& List) const {
  TCustomMap::GetPublishedProperties(List);
  List.push_back(PublishedProperty("DrawMode", &TBitmap32::DrawMode, &TBitmap32::SetDrawMode));
  List.push_back(PublishedProperty("CombineMode", &TBitmap32::CombineMode, &TBitmap32::SetCombineMode));
  List.push_back(PublishedProperty("WrapMode", &TBitmap32::WrapMode, &TBitmap32::SetWrapMode));
  List.push_back(PublishedProperty("MasterAlpha", &TBitmap32::MasterAlpha, &TBitmap32::SetMasterAlpha));
  List.push_back(PublishedProperty("OuterColor", &TBitmap32::OuterColor, &TBitmap32::SetOuterColor));
  List.push_back(PublishedProperty("ResamplerClassName", &TBitmap32::ResamplerClassName,
                                   &TBitmap32::SetResamplerClassName));
  // The resampler is copied with Assign by property copiers.
  {
    TPropInfo p;
    p.Name = "Resampler";
    p.Kind = tkClass;
    p.Get = [](const TObject& o) {
      return TPropValue{static_cast<TObject*>(static_cast<const TBitmap32&>(o).Resampler())};
    };
    List.push_back(std::move(p));
  }
  List.push_back(PublishedField("OnChange", &TBitmap32::OnChange));
  List.push_back(PublishedField("OnHandleChanged", &TBitmap32::OnHandleChanged));
  List.push_back(PublishedField("OnPixelCombine", &TBitmap32::OnPixelCombine));
  List.push_back(PublishedField("OnAreaChanged", &TBitmap32::OnAreaChanged));
  List.push_back(PublishedField("OnResize", &TBitmap32::OnResize));
}

// ---- Clip rectangle -------------------------------------------------------------

void TBitmap32::SetClipRect(const TRect& Value) {
  IntersectRects(clipRect_, Value, BoundsRect());
  // The shifted copies wrap like the 32-bit shifts they stand for; only
  // bitmaps beyond the 16.16 range (32767 pixels) are affected.
  auto shl = [](int32_t v, int n) { return static_cast<int32_t>(static_cast<uint32_t>(v) << n); };
  fixedClipRect_ = TFixedRect{shl(clipRect_.Left, 16), shl(clipRect_.Top, 16),
                              shl(clipRect_.Right, 16), shl(clipRect_.Bottom, 16)};
  clipRect256_ = TRect{shl(clipRect_.Left, 8), shl(clipRect_.Top, 8), shl(clipRect_.Right, 8),
                       shl(clipRect_.Bottom, 8)};
  clipping_ = !(clipRect_ == BoundsRect());
}

void TBitmap32::ResetClipRect() { SetClipRect(BoundsRect()); }

// ---- Notification and measuring ---------------------------------------------------

void TBitmap32::Changed() {
  if (FUpdateCount > 0 && !measuringMode_) return;
  if (OnAreaChanged) OnAreaChanged(this, BoundsRect(), AREAINFO_RECT);
  if (!measuringMode_) TCustomMap::Changed();
}

void TBitmap32::Changed(const TRect& Area, uint32_t Info) {
  if (FUpdateCount > 0 && !measuringMode_) return;
  if (OnAreaChanged) OnAreaChanged(this, Area, Info);
  if (!measuringMode_) TCustomMap::Changed();
}

void TBitmap32::StartAreaReporting(TAreaChangedEvent Callback) {
  measuringMode_ = true;
  savedAreaChanged_ = std::move(OnAreaChanged);
  OnAreaChanged = std::move(Callback);
}

void TBitmap32::StopAreaReporting() {
  measuringMode_ = false;
  OnAreaChanged = std::move(savedAreaChanged_);
  savedAreaChanged_ = nullptr;
}

// ---- Whole-bitmap operations ------------------------------------------------------

void TBitmap32::Clear() { ClearToColor(0xFF000000u); }

void TBitmap32::ClearToColor(TColor32 FillColor) {
  if (Empty()) return;
  if (!measuringMode_) {
    if (clipping_)
      FillRect(clipRect_.Left, clipRect_.Top, clipRect_.Right, clipRect_.Bottom, FillColor);
    else
      FillAll(bits_, PixelCount(), FillColor);
  }
  Changed();
}

void TBitmap32::SetAllAlpha(uint8_t Alpha) {
  if (!measuringMode_ && !Empty()) {
    const TColor32 a = TColor32{Alpha} << 24;
    TColor32* p = bits_;
    for (size_t i = PixelCount(); i > 0; --i, ++p) *p = (*p & 0x00FFFFFFu) | a;
  }
  Changed();
}

void TBitmap32::CopyMapTo(TBitmap32* Dst) const {
  if (Dst == nullptr || Dst == this) return;
  // Every pixel is written below: a new block needs no clearing first, and
  // the threads copying page it in.
  Dst->SetSizeForOverwrite(FWidth, FHeight);
  if (Empty() || Dst->Empty()) return;
  TColor32* To = Dst->bits_;
  const TColor32* From = bits_;
  ParallelSpans(PixelCount(), size_t{1} << 18, [To, From](size_t First, size_t Last) {
    std::memcpy(static_cast<void*>(To + First), From + First, (Last - First) * sizeof(TColor32));
  });
}

void TBitmap32::CopyPropertiesTo(TBitmap32* Dst) const {
  if (Dst == nullptr || Dst == this) return;
  Dst->SetDrawMode(drawMode_);
  Dst->SetCombineMode(combineMode_);
  Dst->SetWrapMode(wrapMode_);
  Dst->SetMasterAlpha(masterAlpha_);
  Dst->SetOuterColor(outerColor_);
  Dst->SetResamplerClassName(ResamplerClassName());
  if (Dst->Resampler() && resampler_) Dst->Resampler()->Assign(resampler_.get());
  Dst->SetFont(font_);
}

void TBitmap32::FlipHorizontal(TBitmap32* Dst) {
  if (Dst != nullptr && Dst != this) {
    {
      TUpdateGuard guard(*Dst);
      Dst->SetSize(FWidth, FHeight);
      if (!Empty() && !Dst->Empty()) {
        for (int32_t y = 0; y < FHeight; ++y) {
          const TColor32* s = RowPtr(y);
          TColor32* d = Dst->RowPtr(y) + FWidth - 1;
          for (int32_t x = 0; x < FWidth; ++x) *d-- = *s++;
        }
      }
    }
    Dst->Changed();
    return;
  }
  if (!Empty()) {
    for (int32_t y = 0; y < FHeight; ++y) {
      TColor32* row = RowPtr(y);
      for (int32_t i = 0, j = FWidth - 1; i < FWidth / 2; ++i, --j) std::swap(row[i], row[j]);
    }
  }
  Changed();
}

void TBitmap32::FlipVertical(TBitmap32* Dst) {
  if (Dst != nullptr && Dst != this) {
    Dst->SetSize(FWidth, FHeight);
    if (!Empty() && !Dst->Empty()) {
      for (int32_t y = 0; y < FHeight; ++y)
        std::memcpy(Dst->RowPtr(FHeight - 1 - y), RowPtr(y), static_cast<size_t>(FWidth) * 4);
    }
    Dst->Changed();
    return;
  }
  if (!Empty()) {
    std::vector<TColor32> buffer(static_cast<size_t>(FWidth));
    const size_t bytes = static_cast<size_t>(FWidth) * 4;
    for (int32_t y = 0; y < FHeight / 2; ++y) {
      TColor32* a = RowPtr(y);
      TColor32* b = RowPtr(FHeight - 1 - y);
      std::memcpy(buffer.data(), a, bytes);
      std::memcpy(a, b, bytes);
      std::memcpy(b, buffer.data(), bytes);
    }
  }
  Changed();
}

// ---- Assignment -----------------------------------------------------------------

void TBitmap32::Assign(const TPersistent* Source) {
  if (Source != nullptr && dynamic_cast<const TBitmap32*>(Source) == nullptr) {
    // Not ours to convert: the persistent base raises its conversion error.
    TCustomMap::Assign(Source);
    return;
  }
  {
    TUpdateGuard guard(*this);
    if (Source == nullptr) {
      SetSize(0, 0);
    } else if (Source != this) {
      const auto* src = static_cast<const TBitmap32*>(Source);
      src->CopyMapTo(this);
      src->CopyPropertiesTo(this);
    }
  }
  Changed();
}

void TBitmap32::Assign(const TGraphic* Source) {
  {
    TUpdateGuard guard(*this);
    if (Source == nullptr)
      SetSize(0, 0);
    else if (const auto* b = dynamic_cast<const TPlatformBitmap*>(Source))
      AssignFromBitmap(*b);
    else
      AssignFromGraphic(*Source);
  }
  Changed();
}

void TBitmap32::Assign(const TPicture* Source) {
  {
    TUpdateGuard guard(*this);
    const TGraphic* g = Source ? Source->Graphic() : nullptr;
    if (g == nullptr)
      SetSize(0, 0);
    else if (const auto* b = dynamic_cast<const TPlatformBitmap*>(g))
      AssignFromBitmap(*b);
    else if (dynamic_cast<const TTransparentGraphic*>(g) != nullptr)
      AssignFromTransparentGraphic(*g);
    else
      AssignFromGraphic(*g);
  }
  Changed();
}

void TBitmap32::Assign(TClipboard& Source) {
  {
    TUpdateGuard guard(*this);
    std::unique_ptr<TPlatformBitmap> picture;
    {
      TClipboardBracket bracket(Source);
      picture = Source.GetPicture();
    }
    if (!picture) {
      SetSize(0, 0);
    } else {
      SetSize(picture->Width(), picture->Height());
      if (!Empty()) {
        TPixelSurface s = Canvas();
        picture->Draw(s, TPlatformRect{0, 0, FWidth, FHeight});
        SetAllAlpha(255);
      }
    }
  }
  Changed();
}

void TBitmap32::AssignFromBitmap(const TPlatformBitmap& B) {
  SetSize(B.Width(), B.Height());
  if (Empty()) return;
  std::memcpy(bits_, B.Bits(), PixelCount() * sizeof(TColor32));
  // Only 32-bit pixels carry an alpha worth keeping.
  if (B.PixelFormat() != TPixelFormat::pf32bit) SetAllAlpha(255);
  if (B.Transparent()) {
    const TColor32 key = ArgbFromColor(B.TransparentColor()) & 0x00FFFFFFu;
    TColor32* p = bits_;
    for (size_t i = PixelCount(); i > 0; --i, ++p)
      if ((*p & 0x00FFFFFFu) == key) *p &= 0x00FFFFFFu;
  }
  font_ = B.Font();
}

void TBitmap32::AssignFromGraphic(const TGraphic& G) {
  SetSize(G.Width(), G.Height());
  if (Empty()) return;
  TPixelSurface s = Canvas();
  G.Draw(s, TPlatformRect{0, 0, FWidth, FHeight});
  SetAllAlpha(255);
}

// Icons and metafiles say nothing about their transparency in pixels we can
// read; drawing them on white and on red shows it: where the two renderings
// agree the graphic covered the background.
void TBitmap32::AssignFromTransparentGraphic(const TGraphic& G) {
  SetSize(G.Width(), G.Height());
  if (Empty()) return;
  FillAll(bits_, PixelCount(), 0xFFFFFFFFu);
  TPixelSurface s = Canvas();
  G.Draw(s, TPlatformRect{0, 0, FWidth, FHeight});
  TBitmap32 red;
  red.SetSize(FWidth, FHeight);
  FillAll(red.bits_, red.PixelCount(), 0xFFFF0000u);
  TPixelSurface rs = red.Canvas();
  G.Draw(rs, TPlatformRect{0, 0, FWidth, FHeight});
  TColor32* p = bits_;
  const TColor32* q = red.bits_;
  for (size_t i = PixelCount(); i > 0; --i, ++p, ++q) {
    if ((*p & 0x00FFFFFFu) == (*q & 0x00FFFFFFu))
      *p = (*p & 0x00FFFFFFu) | 0xFF000000u;
    else
      *p &= 0x00FFFFFFu;
  }
}

void TBitmap32::AssignTo(TPersistent* Dst) {
  if (auto* b = dynamic_cast<TBitmap32*>(Dst)) {
    b->Assign(this);
    return;
  }
  TCustomMap::AssignTo(Dst);
}

void TBitmap32::FillPlatformBitmap(TPlatformBitmap& Dst) const {
  Dst.SetPixelFormat(TPixelFormat::pf32bit);
  Dst.Font() = font_;
  Dst.SetSize(FWidth, FHeight);
  if (Empty() || Dst.Width() != FWidth || Dst.Height() != FHeight) return;
  std::memcpy(Dst.Bits(), bits_, PixelCount() * sizeof(TColor32));
}

void TBitmap32::AssignTo(TPlatformBitmap& Dst) const { FillPlatformBitmap(Dst); }

void TBitmap32::AssignTo(TPicture& Dst) const {
  auto b = std::make_unique<TPlatformBitmap>();
  FillPlatformBitmap(*b);
  Dst.SetGraphic(std::move(b));
}

void TBitmap32::AssignTo(TClipboard& Dst) const {
  TPlatformBitmap b;
  FillPlatformBitmap(b);
  TClipboardBracket bracket(Dst);
  Dst.SetPicture(b);
}

// ---- Files and streams -------------------------------------------------------------

void TBitmap32::LoadFromFile(const std::string& FileName) {
  // Classes that can decode into our rows do so, into a bitmap of their
  // own that we then take over: one full-size picture in memory, and a
  // failed load leaves this bitmap as it was.
  TPicture picture;
  TBitmap32 loaded;
  const bool direct = picture.LoadPixelsFromFile(FileName, [&loaded](int32_t W, int32_t H) {
    loaded.SetSize(W, H);
    return loaded.bits_;
  });
  if (!direct) {
    Assign(&picture);
    return;
  }
  {
    TUpdateGuard guard(*this);
    if (loaded.Empty()) {
      // A picture without pixels (a BMP may declare no rows) sizes the
      // bitmap as assigning it always did.
      SetSize(loaded.Width(), loaded.Height());
    } else {
      AdoptPixels(loaded);
      // Assigning a platform bitmap takes its font, which a freshly read one
      // has at the defaults.
      if (dynamic_cast<const TPlatformBitmap*>(picture.Graphic())) font_ = TPlatformBitmap().Font();
    }
  }
  Changed();
}

void TBitmap32::LoadFromStream(TStream& S) {
  TPlatformBitmap b;
  b.LoadFromStream(S);
  Assign(static_cast<const TGraphic*>(&b));
  Changed();
}

void TBitmap32::SaveToStream(TStream& S) const {
  TPlatformBitmap b;
  FillPlatformBitmap(b);
  b.SaveToStream(S);
}

void TBitmap32::ReadData(TStream& S) {
  const int32_t w = ReadInt32(S);
  const int32_t h = ReadInt32(S);
  // Check the pixel count against what the stream still holds before any
  // allocation, so a forged header cannot make us reserve gigabytes.
  const uint64_t count = (w > 0 && h > 0) ? static_cast<uint64_t>(w) * static_cast<uint64_t>(h) : 0;
  const int64_t remaining = S.Remaining();
  if (remaining < 0 || count > static_cast<uint64_t>(remaining) / 4) throw EReadError("Stream read error");
  SetSize(w, h);
  if (!Empty()) {
    const size_t n = PixelCount();
    if constexpr (std::endian::native == std::endian::little) {
      S.ReadBuffer(bits_, n * 4);
    } else {
      std::vector<uint8_t> bytes(n * 4);
      S.ReadBuffer(bytes.data(), bytes.size());
      PixelsFromBytes(bits_, bytes.data(), n);
    }
  }
  Changed();
}

void TBitmap32::WriteData(TStream& S) const {
  WriteInt32(S, FWidth);
  WriteInt32(S, FHeight);
  if (Empty()) return;
  const size_t n = PixelCount();
  if constexpr (std::endian::native == std::endian::little) {
    S.WriteBuffer(bits_, n * 4);
  } else {
    std::vector<uint8_t> bytes(n * 4);
    for (size_t i = 0; i < n; ++i) {
      const TColor32 c = bits_[i];
      bytes[4 * i] = static_cast<uint8_t>(c);
      bytes[4 * i + 1] = static_cast<uint8_t>(c >> 8);
      bytes[4 * i + 2] = static_cast<uint8_t>(c >> 16);
      bytes[4 * i + 3] = static_cast<uint8_t>(c >> 24);
    }
    S.WriteBuffer(bytes.data(), bytes.size());
  }
}

bool TBitmap32::DataDiffers(const TBitmap32* Ancestor) const {
  if (Ancestor == nullptr) return !Empty();
  return !Equal(Ancestor);
}

// Two bitmaps are equal when they would save the same BMP: same class, same
// size, same pixels (alpha included, since the BMP keeps it).
bool TBitmap32::Equal(const TBitmap32* Other) const {
  if (Other == nullptr) return false;
  if (Empty() || Other->Empty()) return Empty() && Other->Empty();
  if (Other->ClassType() != ClassType()) return false;
  if (Other->FWidth != FWidth || Other->FHeight != FHeight) return false;
  return std::memcmp(bits_, Other->bits_, PixelCount() * sizeof(TColor32)) == 0;
}

// ---- Text ---------------------------------------------------------------------------

TTextExtent TBitmap32::TextExtent(const std::string& Text) const {
  return PlatformTextExtent(font_, Text);
}

void TBitmap32::TextOut(int32_t X, int32_t Y, const std::string& Text) {
  if (!measuringMode_ && !Empty()) {
    TPixelSurface s = Canvas();
    TPlatformRect clip{clipRect_.Left, clipRect_.Top, clipRect_.Right, clipRect_.Bottom};
    PlatformTextOut(s, X, Y, Text, font_, clipping_ ? &clip : nullptr);
  }
  const TTextExtent e = TextExtent(Text);
  auto add = [](int32_t a, int64_t b) {
    return static_cast<int32_t>(std::clamp<int64_t>(a + b, INT32_MIN, INT32_MAX));
  };
  Changed(TRect{X, Y, add(X, int64_t{e.cx} + 1), add(Y, int64_t{e.cy} + 1)}, AREAINFO_RECT);
}

void TBitmap32::DrawSmoothText(int32_t X, int32_t Y, const std::string& Text, int32_t AALevel,
                               TColor32 Color) {
  if (Empty()) return;
  const uint32_t alpha = Color >> 24;
  Color &= 0x00FFFFFFu;
  AALevel = std::clamp(AALevel, -1, 4);
  const std::string padded = Text + " ";
  TFont font = font_;
  font.Quality = AALevel < 0 ? TFontQuality::fqAntialiased : TFontQuality::fqNonAntialiased;
  font.Color = 0x00FFFFFF;  // white on black: the blue byte is the coverage

  TBitmap32 glyphs;
  if (AALevel <= 0) {
    const TTextExtent e = PlatformTextExtent(font, padded);
    glyphs.SetSize(e.cx, e.cy);
    glyphs.SetFont(font);
    glyphs.ClearToColor(0);
    glyphs.TextOut(0, 0, Text);
    if (!glyphs.Empty()) {
      TColor32* p = glyphs.Bits();
      for (size_t i = glyphs.PixelCount(); i > 0; --i, ++p)
        if (*p != 0) *p = (*p << 24) + Color;
    }
  } else {
    const int n = AALevel;
    TFont big = font;
    big.Size = static_cast<int32_t>(static_cast<uint32_t>(font.Size) << n);
    const TTextExtent e = PlatformTextExtent(big, padded);
    const int32_t w = ((std::max(e.cx, 0) >> n) + 1) << n;
    const int32_t h = ((std::max(e.cy, 0) >> n) + 1) << n;
    TBitmap32 super;
    super.SetSize(w, h);
    super.ClearToColor(0);
    super.SetFont(big);
    super.TextOut(0, 0, Text);
    glyphs.SetSize(w >> n, h >> n);
    const int32_t block = 1 << n;
    for (int32_t gy = 0; gy < glyphs.Height(); ++gy) {
      TColor32* d = glyphs.RowPtr(gy);
      for (int32_t gx = 0; gx < glyphs.Width(); ++gx) {
        uint32_t sum = 0;
        for (int32_t sy = 0; sy < block; ++sy) {
          const TColor32* s = super.PixelAddress(gx << n, (gy << n) + sy);
          for (int32_t sx = 0; sx < block; ++sx) sum += s[sx] & 0xFF;
        }
        d[gx] = ((sum >> (2 * n)) << 24) + Color;
      }
    }
  }
  glyphs.SetDrawMode(dmBlend);
  glyphs.SetMasterAlpha(alpha);
  glyphs.SetCombineMode(combineMode_);
  glyphs.DrawAt(this, X, Y);
}

// ---- Drawing onto another bitmap ---------------------------------------------------

void TBitmap32::DrawAt(TBitmap32* Dst, int32_t X, int32_t Y) const {
  const TRect clip = Dst ? Dst->ClipRect() : TRect{};
  DrawRectAt(Dst, X, Y, clip, const_cast<TBitmap32*>(this), BoundsRect(), drawMode_, OnPixelCombine);
}

void TBitmap32::DrawTo(TBitmap32* Dst, const TRect& DstRect) const {
  DrawScaledTo(Dst, DstRect, BoundsRect());
}

void TBitmap32::DrawScaledTo(TBitmap32* Dst, const TRect& DstRect, const TRect& SrcRect) const {
  const TRect clip = Dst ? Dst->ClipRect() : TRect{};
  DrawRectScaled(Dst, DstRect, clip, const_cast<TBitmap32*>(this), SrcRect, resampler_.get(),
                 drawMode_, OnPixelCombine);
}

void TBitmap32::DrawScaledFrom(const TRect& DstRect, const TRect& SrcRect, const TBitmap32* Src) {
  if (Src != nullptr) Src->DrawScaledTo(this, DstRect, SrcRect);
}

void TBitmap32::DrawToDC(TPixelSurface& DC, int32_t X, int32_t Y) const {
  if (Empty() || DC.Bits == nullptr) return;
  // Copy the part that lands on the surface, 1:1.
  const int64_t x0 = std::max<int64_t>(X, 0), y0 = std::max<int64_t>(Y, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{X} + FWidth, DC.Width);
  const int64_t y1 = std::min<int64_t>(int64_t{Y} + FHeight, DC.Height);
  if (x0 >= x1 || y0 >= y1) return;
  for (int64_t y = y0; y < y1; ++y) {
    const TColor32* s = PixelAddress(static_cast<int32_t>(x0 - X), static_cast<int32_t>(y - Y));
    uint32_t* d = DC.Bits + y * DC.Width + x0;
    std::memcpy(d, s, static_cast<size_t>(x1 - x0) * 4);
  }
}
