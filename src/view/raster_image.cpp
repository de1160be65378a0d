// The paint box and the image control: buffer sizing, painting through the
// stages, the bitmap-to-control mapping, repaint modes and mouse routing.
#include "raster_image.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "raster_math.h"
#include "raster_resamplers.h"

namespace {

int32_t Saturate(int64_t V) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(V, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// Round half to even, saturated to int32; NaN gives 0.
int32_t RoundToInt(long double V) {
  if (std::isnan(V)) return 0;
  const long double r = std::nearbyint(V);
  if (r <= static_cast<long double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (r >= static_cast<long double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(r);
}

int64_t RectWidth(const TRect& R) { return int64_t{R.Right} - R.Left; }
int64_t RectHeight(const TRect& R) { return int64_t{R.Bottom} - R.Top; }

TRect Offset(const TRect& R, int64_t Dx, int64_t Dy) {
  return TRect{Saturate(R.Left + Dx), Saturate(R.Top + Dy), Saturate(R.Right + Dx), Saturate(R.Bottom + Dy)};
}

// Grows R by Dx and Dy on both sides; a reversed pair of sides grows the other
// way round so that it still grows.
void GrowArea(TRect& R, int32_t Dx, int32_t Dy) {
  if (R.Left > R.Right) Dx = -Dx;
  if (R.Top > R.Bottom) Dy = -Dy;
  R = TRect{Saturate(int64_t{R.Left} - Dx), Saturate(int64_t{R.Top} - Dy), Saturate(int64_t{R.Right} + Dx),
            Saturate(int64_t{R.Bottom} + Dy)};
}

// A focus rectangle: every other pixel of the frame inverted, inside the clip rectangle.
void DrawFocusRect(TBitmap32* Dest, const TRect& R) {
  if (Dest == nullptr || Dest->Empty() || IsRectEmpty(R)) return;
  const TRect& c = Dest->ClipRect();
  auto flip = [&](int32_t x, int32_t y) {
    if (x < c.Left || x >= c.Right || y < c.Top || y >= c.Bottom || ((x + y) & 1) != 0) return;
    Dest->SetPixel(x, y, Dest->GetPixel(x, y) ^ 0x00FFFFFFu);
  };
  const int32_t x0 = std::max(R.Left, c.Left), x1 = std::min(R.Right, c.Right);
  for (int32_t x = x0; x < x1; ++x) {
    flip(x, R.Top);
    if (R.Bottom - 1 > R.Top) flip(x, R.Bottom - 1);
  }
  const int32_t y0 = std::max(R.Top + 1, c.Top), y1 = std::min(R.Bottom - 1, c.Bottom);
  for (int32_t y = y0; y < y1; ++y) {
    flip(R.Left, y);
    if (R.Right - 1 > R.Left) flip(R.Right - 1, y);
  }
}

}  // namespace

// ---- TPaintStages ---------------------------------------------------------------------

TPaintStage* TPaintStages::Add() {
  FItems.push_back(TPaintStage{});
  return &FItems.back();
}

TPaintStage* TPaintStages::Items(int32_t Index) {
  if (Index < 0 || Index >= Count()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return &FItems[static_cast<size_t>(Index)];
}

const TPaintStage* TPaintStages::Items(int32_t Index) const {
  return const_cast<TPaintStages*>(this)->Items(Index);
}

// ---- TCustomPaintBox32 ------------------------------------------------------------------

TCustomPaintBox32::TCustomPaintBox32(TViewHost* Host)
    : FBuffer(std::make_unique<TBitmap32>()), FInvalidRects(std::make_unique<TRectList>()) {
  if (Host == nullptr) {
    FOwnHost = std::make_unique<TNullViewHost>();
    Host = FOwnHost.get();
  }
  FHost = Host;
  FHost->Attach(this);
  if (DefaultRepaintOptimizerClass) FRepaintOptimizer = DefaultRepaintOptimizerClass(FBuffer.get(), FInvalidRects.get());
  if (!FRepaintOptimizer) FRepaintOptimizer = std::make_unique<TNullRepaintOptimizer>(FBuffer.get(), FInvalidRects.get());
  ResizeBuffer();
}

TCustomPaintBox32::~TCustomPaintBox32() {
  FHost->Detach(this);
  FBuffer->OnAreaChanged = nullptr;
  FRepaintOptimizer.reset();
  FInvalidRects.reset();
  FBuffer.reset();
}

void TCustomPaintBox32::SetHost(TViewHost* Host) {
  FHost->Detach(this);
  if (Host == nullptr) {
    if (!FOwnHost) FOwnHost = std::make_unique<TNullViewHost>();
    Host = FOwnHost.get();
  }
  FHost = Host;
  FHost->Attach(this);
  Resize();
  ForceFullInvalidate();
}

void TCustomPaintBox32::PaintWindow() {
  // With collected updates the window copies only what they cover; otherwise
  // the whole viewport.
  if (CustomRepaint()) {
    if (InvalidRectsAvailable()) {
      Paint();
      return;
    }
    FHost->Invalidate(nullptr);
  }
  Paint();
}

void TCustomPaintBox32::Resize() {
  ResizeBuffer();
  // The buffer may have kept its size, but the viewport's new part was never
  // painted (and a centred bitmap moves).
  Invalidate();
}

void TCustomPaintBox32::MouseDown(TMouseButton, TShiftState, int32_t, int32_t) {
  if ((FOptions & pboAutoFocus) != 0 && FHost->CanFocus()) FHost->SetFocus();
}

void TCustomPaintBox32::MouseMove(TShiftState, int32_t, int32_t) {}

void TCustomPaintBox32::MouseUp(TMouseButton, TShiftState, int32_t, int32_t) {}

void TCustomPaintBox32::MouseEnter() {
  FMouseInControl = true;
  if (OnMouseEnter) OnMouseEnter(this);
}

void TCustomPaintBox32::MouseLeave() {
  FMouseInControl = false;
  if (OnMouseLeave) OnMouseLeave(this);
}

void TCustomPaintBox32::Invalidate() {
  FBufferValid = false;
  FHost->Invalidate(nullptr);
}

void TCustomPaintBox32::Repaint() {
  Invalidate();
  FHost->RepaintNow();
}

void TCustomPaintBox32::ForceFullInvalidate() {
  if (FRepaintOptimizer->Enabled()) FRepaintOptimizer->Reset();
  FForceFullRepaint = true;
  Invalidate();
}

void TCustomPaintBox32::ResizeBuffer() {
  const TRect v = GetViewportRect();
  const int64_t w = std::max<int64_t>(RectWidth(v), 0);
  const int64_t h = std::max<int64_t>(RectHeight(v), 0);
  auto fit = [this](int64_t B, int64_t N) {
    int64_t r = B;
    if (B < N)
      r = N + FBufferOversize;
    else if (N < B - FBufferOversize)
      r = N;
    return static_cast<int32_t>(std::clamp<int64_t>(r, 1, std::numeric_limits<int32_t>::max()));
  };
  const int32_t oldW = FBuffer->Width(), oldH = FBuffer->Height();
  const int32_t newW = fit(oldW, w), newH = fit(oldH, h);
  if (newW == oldW && newH == oldH) return;
  {
    TLockGuard lock(*FBuffer);
    // The new pixels are painted by the full repaint below; the buffer's own
    // area notification has nothing to tell.
    TUpdateGuard quiet(*FBuffer);
    FBuffer->SetSize(newW, newH);
  }
  DoBufferResized(oldW, oldH);
  ForceFullInvalidate();
}

TRect TCustomPaintBox32::GetViewportRect() { return TRect{0, 0, Width(), Height()}; }

void TCustomPaintBox32::SetRepaintMode(TRepaintMode Value) {
  if (!FRepaintOptimizer) return;
  TCustomRepaintOptimizer* opt = FRepaintOptimizer.get();
  if (Value == rmOptimizer && FRoutesBufferAreasToOptimizer)
    FBuffer->OnAreaChanged = [opt](TBitmap32* Sender, const TRect& Area, uint32_t Info) {
      opt->AreaUpdated(Sender, Area, Info);
    };
  else if (Value == rmDirect)
    FBuffer->OnAreaChanged = [this](TBitmap32*, const TRect& Area, uint32_t) { DirectAreaUpdateHandler(Area); };
  else
    FBuffer->OnAreaChanged = nullptr;
  opt->SetEnabled(Value == rmOptimizer);
  FRepaintMode = Value;
  Invalidate();
}

void TCustomPaintBox32::DirectAreaUpdateHandler(const TRect& Area) {
  FInvalidRects->Add(Area);
  if (!FPainting) Repaint();
}

void TCustomPaintBox32::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  Invalidate();
}

TColor32 TCustomPaintBox32::Color32() const {
  TColor c = FColor;
  if (c < 0) c = FHost->SysColor(c & 0xFF);
  return ArgbFromColor(c < 0 ? 0 : c);
}

void TCustomPaintBox32::SetCursor(TCursor Value) {
  if (Value == FCursor) return;
  FCursor = Value;
  FHost->SetCursor(Value);
}

void TCustomPaintBox32::SetDesigning(bool Value) {
  if (Value == FDesigning) return;
  FDesigning = Value;
  Invalidate();
}

void TCustomPaintBox32::Paint() {
  const bool wasPainting = FPainting;
  FPainting = true;
  try {
    if (FRepaintOptimizer->Enabled()) FRepaintOptimizer->BeginPaint();
    if (!FBufferValid) DoPaintBuffer();
    {
      TLockGuard lock(*FBuffer);
      const TRect bounds = FBuffer->BoundsRect();
      auto copy = [&](const TRect& R) {
        TRect r;
        if (IntersectRects(r, R, bounds) && !IsRectEmpty(r)) FHost->CopyToWindow(*FBuffer, r);
      };
      if (FInvalidRects->Count() == 0) {
        copy(GetViewportRect());
      } else {
        for (const TRect& r : *FInvalidRects) copy(r);
      }
    }
    DoPaintGDIOverlay();
    if (FRepaintOptimizer->Enabled()) FRepaintOptimizer->EndPaint();
    FInvalidRects->Clear();
    FForceFullRepaint = false;
  } catch (...) {
    FPainting = wasPainting;
    throw;
  }
  FPainting = wasPainting;
}

bool TCustomPaintBox32::CustomRepaint() {
  return FRepaintOptimizer->Enabled() && !FForceFullRepaint && FRepaintOptimizer->UpdatesAvailable();
}

bool TCustomPaintBox32::InvalidRectsAvailable() { return true; }

void TCustomPaintBox32::DoPrepareInvalidRects() {
  if (FRepaintOptimizer->Enabled() && !FForceFullRepaint) FRepaintOptimizer->PerformOptimization();
}

void TCustomPaintBox32::DoPaintBuffer() {
  if (FForceFullRepaint) {
    FForceFullRepaint = false;
    FInvalidRects->Clear();
  } else {
    DoPrepareInvalidRects();
  }
  FBufferValid = true;
}

void TCustomPaintBox32::DoPaintGDIOverlay() {
  if (OnGDIOverlay) OnGDIOverlay(this);
}

void TCustomPaintBox32::DoBufferResized(int32_t, int32_t) {
  if (FRepaintOptimizer->Enabled()) FRepaintOptimizer->BufferResized(FBuffer->Width(), FBuffer->Height());
}

// ---- TCustomImage32 ---------------------------------------------------------------------

TCustomImage32::TCustomImage32(TViewHost* Host) : TCustomPaintBox32(Host) {
  FRoutesBufferAreasToOptimizer = false;
  FBitmap = std::make_unique<TBitmap32>();
  FBitmap->OnResize = [this](void*) { BitmapResized(); };
  FLayers = std::make_unique<TLayerCollection>(this);
  FLayers->OnChange = [this](void*) { Changed(); };
  FLayers->OnGDIUpdate = [this](void*) { FHost->RepaintNow(); };
  FLayers->OnGetViewportScale = [this](void*, float& ScaleX, float& ScaleY) {
    UpdateCache();
    ScaleX = static_cast<float>(FCachedScaleX / 65536.0L);
    ScaleY = static_cast<float>(FCachedScaleY / 65536.0L);
  };
  FLayers->OnGetViewportShift = [this](void*, float& ShiftX, float& ShiftY) {
    UpdateCache();
    ShiftX = static_cast<float>(FCachedShiftX);
    ShiftY = static_cast<float>(FCachedShiftY);
  };
  FRepaintOptimizer->RegisterLayerCollection(FLayers.get());
  SetRepaintMode(rmFull);
  FPaintStages = std::make_unique<TPaintStages>();
  FScaleX = 1.0f;
  FScaleY = 1.0f;
  InitDefaultStages();
}

TCustomImage32::~TCustomImage32() {
  FPaintStages->Clear();
  FPaintStages.reset();
  FRepaintOptimizer->UnregisterLayerCollection(FLayers.get());
  // The layers go first and may tell observers that point back at us.
  FLayers.reset();
  FBitmap->OnResize = nullptr;
  FBitmap->OnChange = nullptr;
  FBitmap->OnAreaChanged = nullptr;
  FBitmap.reset();
}

void TCustomImage32::SetBitmap(const TBitmap32* Value) {
  if (Value == FBitmap.get()) return;
  FBitmap->Assign(static_cast<const TPersistent*>(Value));
}

void TCustomImage32::SetBitmapAlign(TBitmapAlign Value) {
  InvalidateCache();
  FBitmapAlign = Value;
  Changed();
}

void TCustomImage32::SetOffsetHorz(float Value) {
  if (Value == FOffsetHorz) return;
  FOffsetHorz = Value;
  InvalidateCache();
  Changed();
}

void TCustomImage32::SetOffsetVert(float Value) {
  if (Value == FOffsetVert) return;
  FOffsetVert = Value;
  InvalidateCache();
  Changed();
}

void TCustomImage32::SetScale(float Value) {
  // Also catches NaN.
  if (!(Value >= 0.001f)) Value = 0.001f;
  if (Value == FScaleX) return;
  InvalidateCache();
  FScaleX = Value;
  FScaleY = Value;
  DoScaleChange();
  Changed();
}

void TCustomImage32::SetScaleMode(TScaleMode Value) {
  if (Value == FScaleMode) return;
  InvalidateCache();
  FScaleMode = Value;
  Changed();
}

TPoint TCustomImage32::BitmapToControl(const TPoint& P) {
  UpdateCache();
  // 64-bit products: wide bitmaps map correctly; division truncates toward zero.
  return TPoint{Saturate(int64_t{P.X} * FCachedScaleX / 65536 + FCachedShiftX),
                Saturate(int64_t{P.Y} * FCachedScaleY / 65536 + FCachedShiftY)};
}

TPoint TCustomImage32::ControlToBitmap(const TPoint& P) {
  UpdateCache();
  return TPoint{Saturate((int64_t{P.X} - FCachedShiftX) * FCachedRecScaleX / 65536),
                Saturate((int64_t{P.Y} - FCachedShiftY) * FCachedRecScaleY / 65536)};
}

TPoint TCustomImage32::GetBitmapSize() {
  if (FBitmap->Empty()) return TPoint{0, 0};
  const TRect v = GetViewportRect();
  const int64_t vw = RectWidth(v), vh = RectHeight(v);
  if (vw <= 0 || vh <= 0) return TPoint{0, 0};
  const int64_t w = FBitmap->Width(), h = FBitmap->Height();
  TScaleMode mode = FScaleMode;
  if (mode == smOptimal) {
    mode = (w > vw || h > vh) ? smResize : smNormal;
  } else if (mode == smOptimalScaled) {
    mode = (RoundToInt(static_cast<long double>(w) * FScaleX) > vw || RoundToInt(static_cast<long double>(h) * FScaleY) > vh)
               ? smResize
               : smScale;
  }
  int64_t cx = 0, cy = 0;
  switch (mode) {
    case smNormal:
      cx = w;
      cy = h;
      break;
    case smStretch:
      cx = vw;
      cy = vh;
      break;
    case smScale:
      cx = RoundToInt(static_cast<long double>(w) * FScaleX);
      cy = RoundToInt(static_cast<long double>(h) * FScaleY);
      break;
    default: {  // smResize
      const float sx = static_cast<float>(static_cast<long double>(vw) / w);
      const float sy = static_cast<float>(static_cast<long double>(vh) / h);
      if (sx < sy) {
        cx = vw;
        cy = RoundToInt(static_cast<long double>(h) * sx);
      } else {
        cx = RoundToInt(static_cast<long double>(w) * sy);
        cy = vh;
      }
      break;
    }
  }
  return TPoint{cx > 0 ? Saturate(cx) : 0, cy > 0 ? Saturate(cy) : 0};
}

TRect TCustomImage32::GetBitmapRect() {
  if (FBitmap->Empty()) return TRect{};
  const TPoint s = GetBitmapSize();
  TRect r{0, 0, s.X, s.Y};
  if (FBitmapAlign == baCenter)
    r = Offset(r, (int64_t{Width()} - s.X) / 2, (int64_t{Height()} - s.Y) / 2);
  else if (FBitmapAlign == baCustom)
    r = Offset(r, RoundToInt(FOffsetHorz), RoundToInt(FOffsetVert));
  return r;
}

void TCustomImage32::SetUnityCache() {
  FCachedScaleX = FixedOne;
  FCachedScaleY = FixedOne;
  FCachedRecScaleX = FixedOne;
  FCachedRecScaleY = FixedOne;
  FCachedShiftX = 0;
  FCachedShiftY = 0;
}

void TCustomImage32::ComputeCache(const TRect& R) {
  const int32_t w = FBitmap->Width(), h = FBitmap->Height();
  const int32_t rw = Saturate(RectWidth(R)), rh = Saturate(RectHeight(R));
  FCachedShiftX = R.Left;
  FCachedShiftY = R.Top;
  FCachedScaleX = RoundingMulDiv(rw, FixedOne, w);
  FCachedScaleY = RoundingMulDiv(rh, FixedOne, h);
  FCachedRecScaleX = RoundingMulDiv(w, FixedOne, rw);
  FCachedRecScaleY = RoundingMulDiv(h, FixedOne, rh);
}

void TCustomImage32::UpdateCache() {
  if (FCacheValid) return;
  FCachedBitmapRect = GetBitmapRect();
  if (FBitmap->Empty())
    SetUnityCache();
  else
    ComputeCache(FCachedBitmapRect);
  FCacheValid = true;
}

void TCustomImage32::InvalidateCache() {
  if (FRepaintOptimizer->Enabled()) FRepaintOptimizer->Reset();
  FCacheValid = false;
}

void TCustomImage32::BeginUpdate() { ++FUpdateCount; }

void TCustomImage32::EndUpdate() {
  if (FUpdateCount <= 0) throw EAssertionFailed("Unpaired EndUpdate call");
  --FUpdateCount;
}

void TCustomImage32::Changed() {
  if (FUpdateCount != 0) return;
  Invalidate();
  if (OnChange) OnChange(this);
}

void TCustomImage32::SetupBitmap(bool DoClear, TColor32 ClearColor) {
  const TRect v = GetViewportRect();
  FBitmap->BeginUpdate();
  try {
    FBitmap->SetSize(Saturate(std::max<int64_t>(RectWidth(v), 0)), Saturate(std::max<int64_t>(RectHeight(v), 0)));
    if (DoClear) FBitmap->Clear(ClearColor);
  } catch (...) {
    FBitmap->EndUpdate();
    throw;
  }
  FBitmap->EndUpdate();
  InvalidateCache();
  Changed();
}

void TCustomImage32::PaintTo(TBitmap32* Dest, const TRect& DestRect) {
  if (Dest == nullptr) return;
  const TRepaintMode saved = FRepaintMode;
  SetRepaintMode(rmFull);
  FCachedBitmapRect = DestRect;
  if (RectWidth(DestRect) > 0 && RectHeight(DestRect) > 0 && !FBitmap->Empty())
    ComputeCache(DestRect);
  else
    SetUnityCache();
  FCacheValid = true;
  FPaintToMode = true;
  auto restore = [&] {
    FPaintToMode = false;
    FCacheValid = false;
    SetRepaintMode(saved);
  };
  try {
    for (int32_t i = 0; i < FPaintStages->Count(); ++i) {
      const TPaintStage* st = FPaintStages->Items(i);
      if (!st->RunTime) continue;
      if (TStageHandler h = StageHandler(st->Stage)) (this->*h)(Dest, i);
    }
  } catch (...) {
    restore();
    throw;
  }
  restore();
}

void TCustomImage32::Loaded() {
  FBufferValid = false;
  DoInitStages();
}

void TCustomImage32::Invalidate() {
  FCacheValid = false;
  TCustomPaintBox32::Invalidate();
}

void TCustomImage32::SetRepaintMode(TRepaintMode Value) {
  TCustomPaintBox32::SetRepaintMode(Value);
  WireBitmap();
}

void TCustomImage32::WireBitmap() {
  switch (FRepaintMode) {
    case rmOptimizer:
      FBitmap->OnAreaChanged = [this](TBitmap32* Sender, const TRect& Area, uint32_t) {
        if (Sender == FBitmap.get()) BitmapAreaChanged(Area);
      };
      FBitmap->OnChange = nullptr;
      break;
    case rmDirect:
      FBitmap->OnAreaChanged = [this](TBitmap32* Sender, const TRect& Area, uint32_t) {
        if (Sender == FBitmap.get()) BitmapDirectAreaChanged(Area);
      };
      FBitmap->OnChange = nullptr;
      break;
    default:
      FBitmap->OnAreaChanged = nullptr;
      FBitmap->OnChange = [this](void*) {
        if (FRepaintOptimizer->Enabled()) FRepaintOptimizer->Reset();
        BitmapChanged(FBitmap->BoundsRect());
      };
      break;
  }
}

std::vector<TRect> TCustomImage32::MappedAreas(const TRect& Area) {
  TRect t = Area;
  const float reach = FBitmap->Resampler() ? FBitmap->Resampler()->GetWidth() : 0.0f;
  const int32_t grow = Saturate(static_cast<int64_t>(std::trunc(std::isfinite(reach) ? reach : 0.0f))) + 1;
  GrowArea(t, grow, grow);
  const TPoint a = BitmapToControl(TPoint{t.Left, t.Top});
  const TPoint b = BitmapToControl(TPoint{t.Right, t.Bottom});
  const TRect mapped{a.X, a.Y, b.X, b.Y};
  const TRect& r = FCachedBitmapRect;
  // Tiles repeat the change once per copy of the bitmap in the buffer. An
  // empty bitmap rectangle has no tiles to repeat (and nothing to divide by).
  if (FBitmapAlign != baTile || r.Right <= 0 || r.Bottom <= 0) return {mapped};
  std::vector<TRect> out;
  const int32_t tx = FBuffer->Width() / r.Right, ty = FBuffer->Height() / r.Bottom;
  for (int32_t x = 0; x <= tx; ++x)
    for (int32_t y = 0; y <= ty; ++y) out.push_back(Offset(mapped, int64_t{r.Right} * x, int64_t{r.Bottom} * y));
  return out;
}

void TCustomImage32::BitmapAreaChanged(const TRect& Area) {
  for (const TRect& r : MappedAreas(Area)) FRepaintOptimizer->AreaUpdated(FBitmap.get(), r, AREAINFO_RECT);
  BitmapChanged(Area);
}

void TCustomImage32::BitmapDirectAreaChanged(const TRect& Area) {
  for (const TRect& r : MappedAreas(Area)) FInvalidRects->Add(r);
  if (FUpdateCount != 0) return;
  if (!FPainting) Repaint();
  if (OnChange) OnChange(this);
}

bool TCustomImage32::InvalidRectsInEffect() const { return !FPaintToMode && FInvalidRects->Count() > 0; }

void TCustomImage32::DoPaintBuffer() {
  if (FRepaintOptimizer->Enabled()) FRepaintOptimizer->BeginPaintBuffer();
  UpdateCache();
  // A full repaint is owed (new buffer, new window): areas collected before
  // it would leave the rest of the buffer unpainted.
  if (FForceFullRepaint) {
    FForceFullRepaint = false;
    FInvalidRects->Clear();
  }
  FPaintStageHandlers.clear();
  FPaintStageNum.clear();
  for (int32_t i = 0; i < FPaintStages->Count(); ++i) {
    const TPaintStage* st = FPaintStages->Items(i);
    if ((st->DsgnTime && FDesigning) || (st->RunTime && !FDesigning)) {
      if (TStageHandler h = StageHandler(st->Stage)) {
        FPaintStageHandlers.push_back(h);
        FPaintStageNum.push_back(i);
      }
    }
  }
  const auto handlers = FPaintStageHandlers;
  const auto numbers = FPaintStageNum;
  auto runAll = [&] {
    for (size_t i = 0; i < handlers.size(); ++i) (this->*handlers[i])(FBuffer.get(), numbers[i]);
  };
  const TRect viewport = GetViewportRect();
  {
    TUpdateGuard bracket(*FBuffer);
    try {
      if (FInvalidRects->Count() > 0) {
        // A stage may change the bitmap and so add rectangles: paint the ones we have.
        const std::vector<TRect> rects(FInvalidRects->begin(), FInvalidRects->end());
        for (const TRect& r : rects) {
          FBuffer->SetClipRect(r);
          runAll();
        }
      } else {
        FBuffer->SetClipRect(viewport);
        runAll();
      }
    } catch (...) {
      FBuffer->SetClipRect(viewport);
      throw;
    }
    FBuffer->SetClipRect(viewport);
  }
  if (FRepaintOptimizer->Enabled()) FRepaintOptimizer->EndPaintBuffer();
  FBufferValid = true;
}

void TCustomImage32::DoPaintGDIOverlay() {
  if (TPixelSurface* surface = FHost->WindowSurface()) {
    for (int32_t i = 0; i < FLayers->Count(); ++i) {
      TCustomLayer* l = FLayers->Items(i);
      if ((l->LayerOptions() & LOB_GDI_OVERLAY) != 0) l->DoPaintGDI(*surface);
    }
  }
  TCustomPaintBox32::DoPaintGDIOverlay();
}

bool TCustomImage32::InvalidRectsAvailable() {
  DoPrepareInvalidRects();
  return FInvalidRects->Count() > 0;
}

void TCustomImage32::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TCustomPaintBox32::MouseDown(Button, Shift, X, Y);
  if (FTabStop && FHost->CanFocus()) FHost->SetFocus();
  TCustomLayer* layer = FLayers->MouseEvents() ? FLayers->MouseDown(Button, Shift, X, Y) : nullptr;
  // Left presses and layers that listen keep the mouse until the release.
  if (Button == mbLeft || FLayers->MouseListener() != nullptr) FHost->SetMouseCapture(true);
  DoMouseDown(Button, Shift, X, Y, layer);
}

void TCustomImage32::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  TCustomPaintBox32::MouseMove(Shift, X, Y);
  TCustomLayer* layer = FLayers->MouseEvents() ? FLayers->MouseMove(Shift, X, Y) : nullptr;
  DoMouseMove(Shift, X, Y, layer);
}

void TCustomImage32::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  const bool layerHeld = FLayers->MouseListener() != nullptr;
  TCustomLayer* layer = FLayers->MouseEvents() ? FLayers->MouseUp(Button, Shift, X, Y) : nullptr;
  // The capture ends with the left button, and also when the release lets a
  // layer go that a right or middle press captured for; otherwise it would
  // outlast every button.
  if ((Button == mbLeft || layerHeld) && FLayers->MouseListener() == nullptr) FHost->SetMouseCapture(false);
  DoMouseUp(Button, Shift, X, Y, layer);
}

void TCustomImage32::MouseLeave() {
  if (FLayers->MouseEvents() && FLayers->MouseListener() == nullptr) SetScreenCursor(crDefault);
  TCustomPaintBox32::MouseLeave();
}

bool TCustomImage32::GetCropRect(TRect& R) {
  // While painting elsewhere the bitmap lies where PaintTo put it.
  R = FPaintToMode ? FCachedBitmapRect : GetBitmapRect();
  return true;
}

void TCustomImage32::SetScreenCursor(TCursor Cursor) { FHost->SetCursor(Cursor); }

void TCustomImage32::BitmapResized() {
  if (FAutoSize) {
    int32_t w = FBitmap->Width(), h = FBitmap->Height();
    if (FScaleMode == smScale) {
      w = RoundToInt(static_cast<long double>(w) * FScaleX);
      h = RoundToInt(static_cast<long double>(h) * FScaleY);
    }
    if (w > 0 && h > 0) FHost->RequestClientSize(w, h);
  }
  if (OnBitmapResize) OnBitmapResize(this);
  InvalidateCache();
  ForceFullInvalidate();
}

void TCustomImage32::BitmapChanged(const TRect&) { Changed(); }

void TCustomImage32::DoInitStages() {
  if (OnInitStages) OnInitStages(this);
}

void TCustomImage32::DoScaleChange() {
  if (OnScaleChange) OnScaleChange(this);
}

void TCustomImage32::InitDefaultStages() {
  auto add = [this](bool Dsgn, bool Run, uint32_t Stage, uint32_t Parameter) {
    TPaintStage* s = FPaintStages->Add();
    s->DsgnTime = Dsgn;
    s->RunTime = Run;
    s->Stage = Stage;
    s->Parameter = Parameter;
  };
  add(true, true, PST_CLEAR_BACKGND, 0);
  add(true, false, PST_CONTROL_FRAME, 0);
  add(true, true, PST_DRAW_BITMAP, 0);
  add(true, false, PST_BITMAP_FRAME, 0);
  add(true, true, PST_DRAW_LAYERS, LOB_VISIBLE);
}

void TCustomImage32::DoMouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y, TCustomLayer* Layer) {
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y, Layer);
}

void TCustomImage32::DoMouseMove(TShiftState Shift, int32_t X, int32_t Y, TCustomLayer* Layer) {
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y, Layer);
}

void TCustomImage32::DoMouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y, TCustomLayer* Layer) {
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y, Layer);
}

TCustomImage32::TStageHandler TCustomImage32::StageHandler(uint32_t Stage) {
  switch (Stage) {
    case PST_CUSTOM: return &TCustomImage32::ExecCustom;
    case PST_CLEAR_BUFFER: return &TCustomImage32::ExecClearBuffer;
    case PST_CLEAR_BACKGND: return &TCustomImage32::ExecClearBackgnd;
    case PST_DRAW_BITMAP: return &TCustomImage32::ExecDrawBitmap;
    case PST_DRAW_LAYERS: return &TCustomImage32::ExecDrawLayers;
    case PST_CONTROL_FRAME: return &TCustomImage32::ExecDrawFrame;
    case PST_BITMAP_FRAME: return &TCustomImage32::ExecBitmapFrame;
    default: return nullptr;
  }
}

void TCustomImage32::ExecBitmapFrame(TBitmap32* Dest, int32_t) { DrawFocusRect(Dest, FCachedBitmapRect); }

void TCustomImage32::ExecClearBuffer(TBitmap32* Dest, int32_t) { Dest->Clear(Color32()); }

void TCustomImage32::ExecClearBackgnd(TBitmap32* Dest, int32_t) {
  const TColor32 c = Color32();
  if (InvalidRectsInEffect()) {
    for (const TRect& r : *FInvalidRects) Dest->FillRectClipped(r.Left, r.Top, r.Right, r.Bottom, c);
    return;
  }
  if (FBitmap->Empty() || FBitmap->DrawMode() != dmOpaque) {
    Dest->Clear(c);
    return;
  }
  // Only the margins around the bitmap; the bitmap covers the rest. While
  // painting elsewhere the margins reach to the edges of that bitmap.
  const TRect& r = FCachedBitmapRect;
  const int32_t w = FPaintToMode ? Dest->Width() : Width();
  const int32_t h = FPaintToMode ? Dest->Height() : Height();
  if (r.Left < 1 && r.Top < 1 && r.Right >= w && (r.Bottom >= h || FBitmapAlign == baTile)) return;
  Dest->FillRectClipped(0, 0, w, r.Top, c);
  Dest->FillRectClipped(0, r.Bottom, w, h, c);
  Dest->FillRectClipped(0, r.Top, r.Left, r.Bottom, c);
  Dest->FillRectClipped(r.Right, r.Top, w, r.Bottom, c);
}

void TCustomImage32::ExecDrawFrame(TBitmap32* Dest, int32_t) { DrawFocusRect(Dest, TRect{0, 0, Width(), Height()}); }

void TCustomImage32::ExecCustom(TBitmap32* Dest, int32_t StageNum) {
  if (OnPaintStage) OnPaintStage(this, Dest, StageNum);
}

void TCustomImage32::ExecDrawBitmap(TBitmap32* Dest, int32_t) {
  const TRect r = FCachedBitmapRect;
  if (FBitmap->Empty() || IsRectEmpty(r)) return;
  TLockGuard lock(*FBitmap);
  if (FBitmapAlign != baTile || r.Right <= 0 || r.Bottom <= 0) {
    FBitmap->DrawTo(Dest, r);
    return;
  }
  // Whole copies of the bitmap rectangle until the destination is covered.
  const int32_t tx = Dest->Width() / r.Right, ty = Dest->Height() / r.Bottom;
  for (int32_t y = 0; y <= ty; ++y)
    for (int32_t x = 0; x <= tx; ++x) FBitmap->DrawTo(Dest, Offset(r, int64_t{r.Right} * x, int64_t{r.Bottom} * y));
}

void TCustomImage32::ExecDrawLayers(TBitmap32* Dest, int32_t StageNum) {
  const uint32_t mask = FPaintStages->Items(StageNum)->Parameter;
  for (int32_t i = 0; i < FLayers->Count(); ++i) {
    TCustomLayer* l = FLayers->Items(i);
    if ((l->LayerOptions() & mask) != 0) l->DoPaint(Dest);
  }
}

// ---- TImage32 -------------------------------------------------------------------------

void TImage32::GetPublishedProperties(TPropList& List) const {
  TCustomImage32::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Bitmap", &TCustomImage32::Bitmap, &TCustomImage32::SetBitmap));
  List.push_back(PublishedProperty("BitmapAlign", &TCustomImage32::BitmapAlign, &TCustomImage32::SetBitmapAlign));
  List.push_back(PublishedProperty("Scale", &TCustomImage32::Scale, &TCustomImage32::SetScale));
  List.push_back(PublishedProperty("ScaleMode", &TCustomImage32::ScaleMode, &TCustomImage32::SetScaleMode));
  List.push_back(PublishedProperty("RepaintMode", &TCustomPaintBox32::RepaintMode, &TCustomPaintBox32::SetRepaintMode));
  List.push_back(PublishedProperty("AutoSize", &TCustomImage32::AutoSize, &TCustomImage32::SetAutoSize));
  List.push_back(PublishedProperty("Color", &TCustomPaintBox32::Color, &TCustomPaintBox32::SetColor));
  List.push_back(PublishedProperty("Cursor", &TCustomPaintBox32::Cursor, &TCustomPaintBox32::SetCursor));
  List.push_back(PublishedProperty("TabStop", &TCustomPaintBox32::TabStop, &TCustomPaintBox32::SetTabStop));
  List.push_back(PublishedProperty("Options", &TCustomPaintBox32::Options, &TCustomPaintBox32::SetOptions));
  List.push_back(PublishedField("OnBitmapResize", &TCustomImage32::OnBitmapResize));
  List.push_back(PublishedField("OnChange", &TCustomImage32::OnChange));
  List.push_back(PublishedField("OnGDIOverlay", &TCustomPaintBox32::OnGDIOverlay));
  List.push_back(PublishedField("OnInitStages", &TCustomImage32::OnInitStages));
  List.push_back(PublishedField("OnMouseDown", &TCustomImage32::OnMouseDown));
  List.push_back(PublishedField("OnMouseMove", &TCustomImage32::OnMouseMove));
  List.push_back(PublishedField("OnMouseUp", &TCustomImage32::OnMouseUp));
  List.push_back(PublishedField("OnMouseEnter", &TCustomPaintBox32::OnMouseEnter));
  List.push_back(PublishedField("OnMouseLeave", &TCustomPaintBox32::OnMouseLeave));
  List.push_back(PublishedField("OnPaintStage", &TCustomImage32::OnPaintStage));
}
