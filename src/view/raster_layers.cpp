// The layer collection and its layers: ownership, notifications, hit tests,
// painting and the rubber band's drag arithmetic.
#include "raster_layers.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "raster_resamplers.h"

namespace {

uint32_t ButtonBit(TMouseButton Button) { return 1u << static_cast<uint32_t>(Button); }
constexpr uint32_t kAllButtons = (1u << mbLeft) | (1u << mbRight) | (1u << mbMiddle);

// A float to int32, saturated, after the given rounding; NaN gives 0.
int32_t SaturateToInt(long double V) {
  if (std::isnan(V)) return 0;
  if (V <= static_cast<long double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (V >= static_cast<long double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(V);
}

// Grows R by Dx and Dy on both sides; a reversed side pair grows the other way
// round so that it still grows.
void GrowArea(TRect& R, int32_t Dx, int32_t Dy) {
  if (R.Left > R.Right) Dx = -Dx;
  if (R.Top > R.Bottom) Dy = -Dy;
  auto sat = [](int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
  };
  R = TRect{sat(int64_t{R.Left} - Dx), sat(int64_t{R.Top} - Dy), sat(int64_t{R.Right} + Dx), sat(int64_t{R.Bottom} + Dy)};
}

// Runs F while keeping an eye on Layer: true when Layer is still alive after it.
template <class F>
bool Survives(TCustomLayer* Layer, F&& Fn) {
  const std::weak_ptr<void> token = Layer->LifeToken();
  Fn();
  return !token.expired();
}

}  // namespace

// ---- TCustomLayer --------------------------------------------------------------------

TCustomLayer::TCustomLayer() = default;

TCustomLayer::~TCustomLayer() {
  // A layer owned by its collection has been through all of this already;
  // one made on its own says goodbye here.
  if (!FDestroying) {
    NotifyDestroying();
    NotifyDependents();
  }
}

void TCustomLayer::NotifyDestroying() {
  FDestroying = true;
  if (OnDestroy) OnDestroy(this);
}

void TCustomLayer::NotifyDependents() {
  // Stop hearing from the layers we watched: they must not call back into us.
  std::vector<TCustomLayer*> watching;
  watching.swap(FWatching);
  for (TCustomLayer* l : watching) l->FNotifyList.erase(std::remove(l->FNotifyList.begin(), l->FNotifyList.end(), this), l->FNotifyList.end());
  // Take the lists first: a Notification may add or remove entries.
  std::vector<TCustomLayer*> notify;
  notify.swap(FNotifyList);
  for (TCustomLayer* l : notify) {
    l->FWatching.erase(std::remove(l->FWatching.begin(), l->FWatching.end(), this), l->FWatching.end());
    l->Notification(this);
  }
  auto observers = std::move(FDestroyObservers);
  FDestroyObservers.clear();
  for (auto& o : observers)
    if (o.second) o.second(this);
}

int32_t TCustomLayer::Index() const { return FLayerCollection ? FLayerCollection->IndexOf(this) : -1; }

void TCustomLayer::SetIndex(int32_t Value) {
  if (FLayerCollection == nullptr) return;
  const int32_t old = Index();
  const int32_t count = FLayerCollection->Count();
  if (Value < 0) Value = 0;
  if (Value >= count) Value = count - 1;
  if (Value == old || old < 0) return;
  const bool visible = Visible();
  if (visible) Changing();
  FLayerCollection->MoveItem(old, Value);
  if (visible) Changed();
}

void TCustomLayer::BringToFront() {
  if (FLayerCollection) SetIndex(FLayerCollection->Count());
}

void TCustomLayer::SendToBack() { SetIndex(0); }

void TCustomLayer::SetLayerOptions(uint32_t Value) {
  Changing();
  FLayerOptions = Value;
  Changed();
}

void TCustomLayer::SetVisible(bool Value) {
  if (Value != Visible()) SetLayerOptions(Value ? (FLayerOptions | LOB_VISIBLE) : (FLayerOptions & ~LOB_VISIBLE));
}

void TCustomLayer::SetMouseEvents(bool Value) {
  if (Value != MouseEvents())
    SetLayerOptions(Value ? (FLayerOptions | LOB_MOUSE_EVENTS) : (FLayerOptions & ~LOB_MOUSE_EVENTS));
}

void TCustomLayer::SetCursor(TCursor Value) {
  if (Value == FCursor) return;
  FCursor = Value;
  if (FLayerCollection && FLayerCollection->MouseListener() == this) SetScreenCursor(Value);
}

void TCustomLayer::SetScreenCursor(TCursor Value) {
  if (FLayerCollection && FLayerCollection->Owner()) FLayerCollection->Owner()->SetScreenCursor(Value);
}

bool TCustomLayer::HitTest(int32_t X, int32_t Y) {
  bool passed = DoHitTest(X, Y);
  if (OnHitTest) OnHitTest(this, X, Y, passed);
  return passed;
}

bool TCustomLayer::DoHitTest(int32_t, int32_t) { return true; }

void TCustomLayer::DoPaint(TBitmap32* Buffer) {
  Paint(Buffer);
  if (OnPaint) OnPaint(this, Buffer);
}

void TCustomLayer::Paint(TBitmap32*) {}

void TCustomLayer::PaintGDI(TPixelSurface&) {}

void TCustomLayer::Changing() {
  if (FUpdateCount > 0) return;
  if (Visible() && FLayerCollection && (FLayerOptions & LOB_NO_UPDATE) == 0) Update();
}

void TCustomLayer::Changed() {
  ChangedWith([this] { Update(); });
}

void TCustomLayer::Changed(const TRect& Area) {
  ChangedWith([this, &Area] { Update(Area); });
}

void TCustomLayer::ChangedWith(const std::function<void()>& DoUpdate) {
  if (FUpdateCount > 0) return;
  if (FLayerCollection == nullptr || (FLayerOptions & LOB_NO_UPDATE) != 0) return;
  TLayerCollection* c = FLayerCollection;
  if (!Survives(this, DoUpdate)) return;
  if (FLayerCollection != c) return;
  if (Visible())
    c->Changed();
  else if ((FLayerOptions & LOB_GDI_OVERLAY) != 0)
    c->GDIUpdate();
  TNotifiablePersistent::Changed();
}

void TCustomLayer::Update() {
  if (FLayerCollection && (FLayerOptions & LOB_NO_UPDATE) == 0) FLayerCollection->DoUpdateLayer(this);
}

void TCustomLayer::Update(const TRect& Area) {
  if (FLayerCollection && (FLayerOptions & LOB_NO_UPDATE) == 0) FLayerCollection->DoUpdateArea(Area);
}

void TCustomLayer::AddNotification(TCustomLayer* Layer) {
  if (Layer == nullptr || Layer == this) return;
  if (std::find(FNotifyList.begin(), FNotifyList.end(), Layer) != FNotifyList.end()) return;
  FNotifyList.push_back(Layer);
  Layer->FWatching.push_back(this);
}

void TCustomLayer::RemoveNotification(TCustomLayer* Layer) {
  auto it = std::find(FNotifyList.begin(), FNotifyList.end(), Layer);
  if (it == FNotifyList.end()) return;
  FNotifyList.erase(it);
  Layer->FWatching.erase(std::remove(Layer->FWatching.begin(), Layer->FWatching.end(), this), Layer->FWatching.end());
}

int32_t TCustomLayer::AddDestroyObserver(TLayerDestroyObserver Observer) {
  const int32_t id = FNextObserverId++;
  FDestroyObservers.emplace_back(id, std::move(Observer));
  return id;
}

void TCustomLayer::RemoveDestroyObserver(int32_t Id) {
  FDestroyObservers.erase(std::remove_if(FDestroyObservers.begin(), FDestroyObservers.end(),
                                         [Id](const auto& o) { return o.first == Id; }),
                          FDestroyObservers.end());
}

void TCustomLayer::Notification(TCustomLayer*) {}

void TCustomLayer::SetLayerCollection(TLayerCollection* Value) {
  if (Value == FLayerCollection) return;
  if (FLayerCollection == nullptr || Value == nullptr)
    throw EListError("A layer moves between collections; use Adopt and Extract to give or take one");
  Value->Adopt(FLayerCollection->RemoveItem(this));
}

void TCustomLayer::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  // Handlers may destroy the layer: call a copy, never the member itself.
  if (TLayerMouseEvent h = OnMouseDown) h(this, Button, Shift, X, Y);
}

void TCustomLayer::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  SetScreenCursor(FCursor);
  if (TLayerMouseMoveEvent h = OnMouseMove) h(this, Shift, X, Y);
}

void TCustomLayer::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  SetScreenCursor(crDefault);
  if (TLayerMouseEvent h = OnMouseUp) h(this, Button, Shift, X, Y);
}

void TCustomLayer::AssignTo(TPersistent* Dst) {
  auto* d = dynamic_cast<TCustomLayer*>(Dst);
  if (d == nullptr) {
    TNotifiablePersistent::AssignTo(Dst);
    return;
  }
  d->BeginUpdate();
  d->FCursor = FCursor;
  d->FLayerOptions = FLayerOptions & ~LOB_INVALID;
  d->EndUpdate();
  d->Changed();
}

// ---- TLayerCollection ----------------------------------------------------------------

TLayerCollection::TLayerCollection(TLayerCollectionOwner* Owner) : FOwner(Owner) {}

TLayerCollection::~TLayerCollection() {
  // Nobody outside hears of the teardown except through the layers' own
  // destroy notifications, which the editor relies on.
  OnChange = nullptr;
  OnChanging = nullptr;
  OnGDIUpdate = nullptr;
  OnListNotify = nullptr;
  OnLayerUpdated = nullptr;
  OnAreaUpdated = nullptr;
  OnGetViewportScale = nullptr;
  OnGetViewportShift = nullptr;
  FOwner = nullptr;
  while (!FItems.empty()) DestroyLayer(FItems.back().get());
}

TCustomLayer* TLayerCollection::Adopt(std::unique_ptr<TCustomLayer> Layer, int32_t Index) {
  if (!Layer) return nullptr;
  TCustomLayer* raw = Layer.get();
  const bool atTop = Index < 0 || Index >= Count();
  const int32_t idx = atTop ? Count() : Index;
  BeginUpdate();
  try {
    FItems.insert(FItems.begin() + idx, std::move(Layer));
    raw->FLayerCollection = this;
    raw->FClicked = 0;
    Notify(atTop ? lnLayerAdded : lnLayerInserted, raw, idx);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  return raw;
}

std::unique_ptr<TCustomLayer> TLayerCollection::Extract(TCustomLayer* Layer) {
  if (Layer == nullptr || Layer->FDestroying) return nullptr;
  return RemoveItem(Layer);
}

std::unique_ptr<TCustomLayer> TLayerCollection::RemoveItem(TCustomLayer* Layer) {
  const int32_t idx = IndexOf(Layer);
  if (idx < 0) return nullptr;
  std::unique_ptr<TCustomLayer> p;
  BeginUpdate();
  try {
    p = std::move(FItems[static_cast<size_t>(idx)]);
    FItems.erase(FItems.begin() + idx);
    if (FMouseListener == Layer) FMouseListener = nullptr;
    Layer->FLayerCollection = nullptr;
    Layer->FClicked = 0;
    Notify(lnLayerDeleted, Layer, idx);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  return p;
}

void TLayerCollection::DestroyLayer(TCustomLayer* Layer) {
  if (Layer == nullptr || Layer->FDestroying) return;
  Layer->NotifyDestroying();
  // OnDestroy may have handed the layer on; it is ours to free only while we hold it.
  std::unique_ptr<TCustomLayer> p;
  if (Layer->FLayerCollection == this) {
    p = RemoveItem(Layer);
  } else if (Layer->FLayerCollection != nullptr) {
    p = Layer->FLayerCollection->RemoveItem(Layer);
  }
  Layer->NotifyDependents();
  p.reset();
}

void TLayerCollection::Clear() {
  BeginUpdate();
  try {
    while (!FItems.empty()) DestroyLayer(FItems.back().get());
    Notify(lnCleared, nullptr, 0);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TLayerCollection::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  DestroyLayer(FItems[static_cast<size_t>(Index)].get());
}

void TLayerCollection::Remove(TCustomLayer* Layer) {
  if (IndexOf(Layer) >= 0) DestroyLayer(Layer);
}

TCustomLayer* TLayerCollection::Items(int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FItems[static_cast<size_t>(Index)].get();
}

int32_t TLayerCollection::IndexOf(const TCustomLayer* Layer) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == Layer) return static_cast<int32_t>(i);
  return -1;
}

void TLayerCollection::MoveItem(int32_t From, int32_t To) {
  if (From == To) return;
  auto p = std::move(FItems[static_cast<size_t>(From)]);
  FItems.erase(FItems.begin() + From);
  FItems.insert(FItems.begin() + To, std::move(p));
}

TCustomLayer* TLayerCollection::HitTest(int32_t X, int32_t Y, uint32_t OptionsMask) {
  // A hit-test handler may change the list; look at what is there at each step.
  for (int32_t i = Count() - 1; i >= 0; --i) {
    if (i >= Count()) continue;
    TCustomLayer* l = FItems[static_cast<size_t>(i)].get();
    if ((l->FLayerOptions & OptionsMask) == 0) continue;
    bool hit = false;
    if (!Survives(l, [&] { hit = l->HitTest(X, Y); })) continue;
    if (hit && IndexOf(l) >= 0) return l;
  }
  return nullptr;
}

void TLayerCollection::SetMouseEvents(bool Value) {
  FMouseEvents = Value;
  SetMouseListener(nullptr);
}

void TLayerCollection::SetMouseListener(TCustomLayer* Value) {
  if (Value == FMouseListener) return;
  // A released listener forgets its buttons, or a later release would never come.
  if (FMouseListener) FMouseListener->FClicked = 0;
  FMouseListener = (Value && Value->FLayerCollection == this) ? Value : nullptr;
}

TCustomLayer* TLayerCollection::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TCustomLayer* found = FMouseListener;
  if (found == nullptr) {
    found = HitTest(X, Y, LOB_MOUSE_EVENTS);
    if (found != nullptr && (found->FLayerOptions & LOB_NO_CAPTURE) == 0) SetMouseListener(found);
  }
  if (found == nullptr) return nullptr;
  const std::weak_ptr<void> foundToken = found->LifeToken();
  if (TCustomLayer* l = FMouseListener) {
    l->FClicked |= ButtonBit(Button);
    l->MouseDown(Button, Shift, X, Y);
  }
  return foundToken.expired() ? nullptr : found;
}

TCustomLayer* TLayerCollection::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  TCustomLayer* l = FMouseListener ? FMouseListener : HitTest(X, Y, LOB_MOUSE_EVENTS);
  if (l != nullptr) {
    if (!Survives(l, [&] { l->MouseMove(Shift, X, Y); })) return nullptr;
  } else if (FOwner) {
    FOwner->SetScreenCursor(FOwner->OwnerCursor());
  }
  return l;
}

TCustomLayer* TLayerCollection::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TCustomLayer* l = FMouseListener ? FMouseListener : HitTest(X, Y, LOB_MOUSE_EVENTS);
  if (l != nullptr) {
    l->FClicked &= ~ButtonBit(Button);
    if (!Survives(l, [&] { l->MouseUp(Button, Shift, X, Y); })) l = nullptr;
  }
  if (FMouseListener && (FMouseListener->FClicked & kAllButtons) == 0) SetMouseListener(nullptr);
  return l;
}

void TLayerCollection::GetViewportScale(float& ScaleX, float& ScaleY) {
  if (OnGetViewportScale) {
    OnGetViewportScale(this, ScaleX, ScaleY);
  } else {
    ScaleX = 1.0f;
    ScaleY = 1.0f;
  }
}

void TLayerCollection::GetViewportShift(float& ShiftX, float& ShiftY) {
  if (OnGetViewportShift) {
    OnGetViewportShift(this, ShiftX, ShiftY);
  } else {
    ShiftX = 0.0f;
    ShiftY = 0.0f;
  }
}

void TLayerCollection::BeginUpdate() {
  if (FUpdateCount == 0 && OnChanging) OnChanging(this);
  ++FUpdateCount;
}

void TLayerCollection::EndUpdate() {
  if (FUpdateCount <= 0) {
    FUpdateCount = 0;
    throw EAssertionFailed("Unpaired EndUpdate");
  }
  if (--FUpdateCount == 0) Changed();
}

void TLayerCollection::GDIUpdate() {
  if (FUpdateCount == 0 && OnGDIUpdate) OnGDIUpdate(this);
}

void TLayerCollection::DoUpdateLayer(TCustomLayer* Layer) {
  if (OnLayerUpdated) OnLayerUpdated(this, Layer);
  Changed();
}

void TLayerCollection::DoUpdateArea(const TRect& Area) {
  if (OnAreaUpdated) OnAreaUpdated(this, Area, AREAINFO_RECT);
  Changed();
}

void TLayerCollection::Notify(TLayerListNotification Action, TCustomLayer* Layer, int32_t Index) {
  if (OnListNotify) OnListNotify(this, Action, Layer, Index);
}

void TLayerCollection::Assign(const TPersistent* Source) {
  const auto* src = dynamic_cast<const TLayerCollection*>(Source);
  if (src == nullptr) {
    TNotifiablePersistent::Assign(Source);
    return;
  }
  if (src == this) return;
  BeginUpdate();
  try {
    Clear();
    for (const auto& s : src->FItems) {
      TCustomLayer* n = Adopt(s->NewInstance());
      n->Assign(s.get());
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

// ---- TPositionedLayer ----------------------------------------------------------------

TPositionedLayer::TPositionedLayer() { FLayerOptions = LOB_VISIBLE | LOB_MOUSE_EVENTS; }

TFloatRect TPositionedLayer::GetAdjustedRect(const TFloatRect& R) {
  if (!FScaled || FLayerCollection == nullptr) return R;
  float shiftX = 0, shiftY = 0, scaleX = 1, scaleY = 1;
  FLayerCollection->GetViewportShift(shiftX, shiftY);
  FLayerCollection->GetViewportScale(scaleX, scaleY);
  return TFloatRect{R.Left * scaleX + shiftX, R.Top * scaleY + shiftY, R.Right * scaleX + shiftX,
                    R.Bottom * scaleY + shiftY};
}

bool TPositionedLayer::DoHitTest(int32_t X, int32_t Y) {
  const TFloatRect a = GetAdjustedRect(FLocation);
  const float x = static_cast<float>(X), y = static_cast<float>(Y);
  return x >= a.Left && x < a.Right && y >= a.Top && y < a.Bottom;
}

void TPositionedLayer::SetLocation(const TFloatRect& Value) {
  Changing();
  DoSetLocation(Value);
  Changed();
}

void TPositionedLayer::DoSetLocation(const TFloatRect& Value) { FLocation = Value; }

void TPositionedLayer::SetScaled(bool Value) {
  if (Value == FScaled) return;
  Changing();
  FScaled = Value;
  Changed();
}

void TPositionedLayer::AssignTo(TPersistent* Dst) {
  if (auto* d = dynamic_cast<TPositionedLayer*>(Dst)) {
    d->BeginUpdate();
    d->FScaled = FScaled;
    d->DoSetLocation(FLocation);
    d->EndUpdate();
  }
  TCustomLayer::AssignTo(Dst);
}

// ---- TBitmapLayer ----------------------------------------------------------------------

TBitmapLayer::TBitmapLayer() : FBitmap(std::make_unique<TBitmap32>()) {
  FBitmap->OnAreaChanged = [this](TBitmap32*, const TRect& Area, uint32_t) { BitmapAreaChanged(Area); };
}

TBitmapLayer::~TBitmapLayer() { FBitmap->OnAreaChanged = nullptr; }

void TBitmapLayer::SetBitmap(const TBitmap32* Value) {
  if (Value == FBitmap.get()) return;
  FBitmap->Assign(static_cast<const TPersistent*>(Value));
}

void TBitmapLayer::SetCropped(bool Value) {
  if (Value == FCropped) return;
  FCropped = Value;
  Changed();
}

// A change of the bitmap's pixels repaints the part of the layer they cover,
// grown by the reach of the resampler.
void TBitmapLayer::BitmapAreaChanged(const TRect& Area) {
  if (FLayerCollection == nullptr || (FLayerOptions & LOB_NO_UPDATE) != 0) return;
  // An emptied bitmap has no area to map, but the picture it showed is still
  // on the window: repaint the whole layer.
  if (FBitmap->Empty()) {
    Changed();
    return;
  }
  const TFloatRect a = GetAdjustedLocation();
  const long double sx = (static_cast<long double>(a.Right) - a.Left) / FBitmap->Width();
  const long double sy = (static_cast<long double>(a.Bottom) - a.Top) / FBitmap->Height();
  TRect t{SaturateToInt(std::floor(a.Left + Area.Left * sx)), SaturateToInt(std::floor(a.Top + Area.Top * sy)),
          SaturateToInt(std::ceil(a.Left + Area.Right * sx)), SaturateToInt(std::ceil(a.Top + Area.Bottom * sy))};
  const int32_t w = SaturateToInt(std::trunc(FBitmap->Resampler()->GetWidth())) + 1;
  GrowArea(t, w, w);
  Changed(t);
}

bool TBitmapLayer::DoHitTest(int32_t X, int32_t Y) {
  if (!TPositionedLayer::DoHitTest(X, Y)) return false;
  if (!FAlphaHit) return true;
  const TFloatRect a = GetAdjustedLocation();
  const long double w = std::nearbyint(static_cast<long double>(a.Right) - a.Left);
  const long double h = std::nearbyint(static_cast<long double>(a.Bottom) - a.Top);
  if (w < 0.5L || h < 0.5L) return false;
  const int32_t bx = SaturateToInt(std::nearbyint((X - static_cast<long double>(a.Left)) * FBitmap->Width() / w));
  const int32_t by = SaturateToInt(std::nearbyint((Y - static_cast<long double>(a.Top)) * FBitmap->Height() / h));
  // The right and bottom edges round to an index one past the last pixel:
  // that reads as transparent, never beyond the pixels.
  if (FBitmap->Empty() || bx < 0 || by < 0 || bx >= FBitmap->Width() || by >= FBitmap->Height()) return false;
  return AlphaOf(FBitmap->GetPixel(bx, by)) > 0;
}

void TBitmapLayer::Paint(TBitmap32* Buffer) {
  if (Buffer == nullptr || FBitmap->Empty()) return;
  const TRect d = RoundFloatRect(GetAdjustedLocation(), rrNearest);
  TRect clip = Buffer->ClipRect();
  TRect meet;
  if (!IntersectRects(meet, clip, d) || IsRectEmpty(meet)) return;
  if (FCropped && FLayerCollection && FLayerCollection->Owner()) {
    if (int64_t{d.Right} - d.Left < 1 || int64_t{d.Bottom} - d.Top < 1) return;
    TRect crop;
    if (FLayerCollection->Owner()->GetCropRect(crop)) {
      // The buffer's own clip rectangle stays as it is, so the layers above
      // are not cropped with us.
      if (!IntersectRects(clip, clip, crop) || IsRectEmpty(clip)) return;
    }
  }
  DrawRectScaled(Buffer, d, clip, FBitmap.get(), FBitmap->BoundsRect(), FBitmap->Resampler(), FBitmap->DrawMode(),
                 FBitmap->OnPixelCombine);
}

void TBitmapLayer::AssignTo(TPersistent* Dst) {
  if (auto* d = dynamic_cast<TBitmapLayer*>(Dst)) {
    d->BeginUpdate();
    d->FBitmap->Assign(static_cast<const TPersistent*>(FBitmap.get()));
    d->FAlphaHit = FAlphaHit;
    d->FCropped = FCropped;
    d->EndUpdate();
  }
  TPositionedLayer::AssignTo(Dst);
}

// ---- TRubberbandLayer ------------------------------------------------------------------

TRubberbandLayer::TRubberbandLayer() = default;

TRubberbandLayer::~TRubberbandLayer() {
  if (FChildLayer) FChildLayer->RemoveNotification(this);
  FChildLayer = nullptr;
}

void TRubberbandLayer::SetChildLayer(TPositionedLayer* Value) {
  if (Value == this) return;
  if (FChildLayer) FChildLayer->RemoveNotification(this);
  FChildLayer = Value;
  if (Value) {
    SetLocation(Value->Location());
    SetScaled(Value->Scaled());
    Value->AddNotification(this);
  }
}

void TRubberbandLayer::Notification(TCustomLayer* Layer) {
  if (Layer == FChildLayer) FChildLayer = nullptr;
}

void TRubberbandLayer::DoSetLocation(const TFloatRect& Value) {
  TPositionedLayer::DoSetLocation(Value);
  if (FChildLayer) FChildLayer->SetLocation(Value);
}

void TRubberbandLayer::SetLayerOptions(uint32_t Value) {
  // The frame must always repaint when it moves.
  TCustomLayer::SetLayerOptions(Value & ~LOB_NO_UPDATE);
}

void TRubberbandLayer::SetFrameStipple(const TArrayOfColor32& Value) {
  FFrameStipplePattern = Value;
  Changed();
}

void TRubberbandLayer::SetFrameStippleStep(float Value) {
  if (Value == FFrameStippleStep) return;
  FFrameStippleStep = Value;
  Changed();
}

void TRubberbandLayer::SetFrameStippleCounter(float Value) {
  if (Value == FFrameStippleCounter) return;
  FFrameStippleCounter = Value;
  Changed();
}

void TRubberbandLayer::SetHandleFrame(TColor32 Value) {
  if (Value == FHandleFrame) return;
  FHandleFrame = Value;
  Changed();
}

void TRubberbandLayer::SetHandleFill(TColor32 Value) {
  if (Value == FHandleFill) return;
  FHandleFill = Value;
  Changed();
}

void TRubberbandLayer::SetHandles(TRBHandles Value) {
  if (Value == FHandles) return;
  Changing();
  FHandles = Value;
  Changed();
}

void TRubberbandLayer::SetHandleSize(int32_t Value) {
  if (Value < 1) Value = 1;
  if (Value == FHandleSize) return;
  Changing();
  FHandleSize = Value;
  Changed();
}

TDragState TRubberbandLayer::GetDragState(int32_t X, int32_t Y) {
  const TRect a = RoundFloatRect(GetAdjustedRect(FLocation), rrNearest);
  // The last pixel inside the frame, in 64 bits so that no edge can wrap.
  struct {
    int64_t Left, Top, Right, Bottom;
  } r{a.Left, a.Top, int64_t{a.Right} - 1, int64_t{a.Bottom} - 1};
  const int64_t t = int64_t{FHandleSize} + 1;
  auto near = [t](int64_t p, int64_t q) { return std::llabs(p - q) <= t; };
  const int64_t cx = (r.Left + r.Right) / 2;
  const int64_t cy = (r.Top + r.Bottom) / 2;
  const bool nearL = near(X, r.Left), nearR = near(X, r.Right), nearCX = near(X, cx);
  const bool nearT = near(Y, r.Top), nearB = near(Y, r.Bottom), nearCY = near(Y, cy);
  const bool corners = (FHandles & rhCorners) != 0, sides = (FHandles & rhSides) != 0;
  if (corners) {
    if (nearR && nearB && !(FHandles & rhNotBRCorner)) return dsSizeBR;
    if (nearL && nearB && !(FHandles & rhNotBLCorner)) return dsSizeBL;
    if (nearR && nearT && !(FHandles & rhNotTRCorner)) return dsSizeTR;
    if (nearL && nearT && !(FHandles & rhNotTLCorner)) return dsSizeTL;
  }
  if (sides) {
    if (nearR && nearCY && !(FHandles & rhNotRightSide)) return dsSizeR;
    if (nearCX && nearB && !(FHandles & rhNotBottomSide)) return dsSizeB;
    if (nearL && nearCY && !(FHandles & rhNotLeftSide)) return dsSizeL;
    if (nearT && nearCX && !(FHandles & rhNotTopSide)) return dsSizeT;
  }
  if ((FHandles & rhCenter) && X >= r.Left && X < r.Right && Y >= r.Top && Y < r.Bottom) return dsMove;
  return dsNone;
}

bool TRubberbandLayer::DoHitTest(int32_t X, int32_t Y) { return GetDragState(X, Y) != dsNone; }

void TRubberbandLayer::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (!FIsDragging) {
    FDragState = GetDragState(X, Y);
    FIsDragging = FDragState != dsNone;
    if (FIsDragging) {
      FOldLocation = FLocation;
      if (FDragState == dsMove) {
        const TFloatRect a = GetAdjustedRect(FLocation);
        FMouseShift = TFloatPoint{X - a.Left, Y - a.Top};
      } else {
        FMouseShift = TFloatPoint{0, 0};
      }
    }
  }
  TCustomLayer::MouseDown(Button, Shift, X, Y);
}

namespace {

// A low edge (left or top) goes to Pos; the size limits then hold it off the high edge.
void MoveLowEdge(float& Lo, float Hi, float Pos, float MinSize, float MaxSize) {
  Lo = Pos;
  if (Hi - Lo < MinSize) Lo = Hi - MinSize;
  if (MaxSize >= MinSize && Hi - Lo > MaxSize) Lo = Hi - MaxSize;
}

void MoveHighEdge(float Lo, float& Hi, float Pos, float MinSize, float MaxSize) {
  Hi = Pos;
  if (Hi - Lo < MinSize) Hi = Lo + MinSize;
  if (MaxSize >= MinSize && Hi - Lo > MaxSize) Hi = Lo + MaxSize;
}

constexpr TCursor kDragCursors[] = {crDefault, crDefault,  crSizeWE,   crSizeNS,   crSizeWE,
                                    crSizeNS,  crSizeNWSE, crSizeNESW, crSizeNESW, crSizeNWSE};

}  // namespace

void TRubberbandLayer::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  if (!FIsDragging) {
    const TDragState s = GetDragState(X, Y);
    SetScreenCursor(s == dsMove ? FCursor : kDragCursors[s]);
    return;
  }
  float mx = X - FMouseShift.X;
  float my = Y - FMouseShift.Y;
  if (FScaled) {
    const TFloatRect a = GetAdjustedRect(FLocation);
    if (IsFloatRectEmpty(a)) return;
    const TFloatRect& l = FLocation;
    mx = (mx - a.Left) / (a.Right - a.Left) * (l.Right - l.Left) + l.Left;
    my = (my - a.Top) / (a.Bottom - a.Top) * (l.Bottom - l.Top) + l.Top;
  }
  float l = FOldLocation.Left, t = FOldLocation.Top, r = FOldLocation.Right, b = FOldLocation.Bottom;
  if (FDragState == dsMove) {
    const float w = r - l, h = b - t;
    l = mx;
    t = my;
    r = mx + w;
    b = my + h;
  } else {
    if (FDragState == dsSizeL || FDragState == dsSizeTL || FDragState == dsSizeBL)
      MoveLowEdge(l, r, mx, FMinWidth, FMaxWidth);
    if (FDragState == dsSizeR || FDragState == dsSizeTR || FDragState == dsSizeBR)
      MoveHighEdge(l, r, mx, FMinWidth, FMaxWidth);
    if (FDragState == dsSizeT || FDragState == dsSizeTL || FDragState == dsSizeTR)
      MoveLowEdge(t, b, my, FMinHeight, FMaxHeight);
    if (FDragState == dsSizeB || FDragState == dsSizeBL || FDragState == dsSizeBR)
      MoveHighEdge(t, b, my, FMinHeight, FMaxHeight);
  }
  TFloatRect newLocation{l, t, r, b};
  const std::weak_ptr<void> alive = LifeToken();
  DoResizing(FOldLocation, newLocation, FDragState, Shift);
  if (alive.expired() || !FIsDragging) return;
  if (!(newLocation == FLocation)) {
    SetLocation(newLocation);
    if (alive.expired()) return;
    if (TNotifyEvent h = OnUserChange) h(this);
  }
}

void TRubberbandLayer::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  FIsDragging = false;
  FDragState = dsNone;
  TCustomLayer::MouseUp(Button, Shift, X, Y);
}

void TRubberbandLayer::DoResizing(const TFloatRect& OldLocation, TFloatRect& NewLocation, TDragState DragState,
                                  TShiftState Shift) {
  if (TRubberbandResizingEvent h = OnResizing) h(this, OldLocation, NewLocation, DragState, Shift);
}

void TRubberbandLayer::DrawHandle(TBitmap32* Buffer, int32_t X, int32_t Y) {
  const int64_t s = FHandleSize;
  auto clampInt = [](int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
  };
  const int32_t x1 = clampInt(X - s), y1 = clampInt(Y - s), x2 = clampInt(X + s), y2 = clampInt(Y + s);
  Buffer->FillRectClipped(x1, y1, x2, y2, FHandleFill);
  Buffer->FrameRectClipped(x1, y1, x2, y2, FHandleFrame);
}

void TRubberbandLayer::Paint(TBitmap32* Buffer) {
  if (Buffer == nullptr) return;
  const TRect r = RoundFloatRect(GetAdjustedRect(FLocation), rrNearest);
  if (FHandles & rhFrame) {
    Buffer->SetStipple(FFrameStipplePattern);
    Buffer->SetStippleCounter(0);
    Buffer->SetStippleStep(FFrameStippleStep);
    Buffer->FrameRectBlendClipped(r.Left, r.Top, r.Right, r.Bottom);
  }
  if (FHandles & rhCorners) {
    if (!(FHandles & rhNotTLCorner)) DrawHandle(Buffer, r.Left, r.Top);
    if (!(FHandles & rhNotTRCorner)) DrawHandle(Buffer, r.Right, r.Top);
    if (!(FHandles & rhNotBLCorner)) DrawHandle(Buffer, r.Left, r.Bottom);
    if (!(FHandles & rhNotBRCorner)) DrawHandle(Buffer, r.Right, r.Bottom);
  }
  if (FHandles & rhSides) {
    const int32_t cx = static_cast<int32_t>((int64_t{r.Left} + r.Right) / 2);
    const int32_t cy = static_cast<int32_t>((int64_t{r.Top} + r.Bottom) / 2);
    if (!(FHandles & rhNotTopSide)) DrawHandle(Buffer, cx, r.Top);
    if (!(FHandles & rhNotLeftSide)) DrawHandle(Buffer, r.Left, cy);
    if (!(FHandles & rhNotRightSide)) DrawHandle(Buffer, r.Right, cy);
    if (!(FHandles & rhNotBottomSide)) DrawHandle(Buffer, cx, r.Bottom);
  }
}

void TRubberbandLayer::AssignTo(TPersistent* Dst) {
  if (auto* d = dynamic_cast<TRubberbandLayer*>(Dst)) {
    d->BeginUpdate();
    d->FFrameStipplePattern = FFrameStipplePattern;
    d->FFrameStippleStep = FFrameStippleStep;
    d->FFrameStippleCounter = FFrameStippleCounter;
    d->FHandleFrame = FHandleFrame;
    d->FHandleFill = FHandleFill;
    d->FHandles = FHandles;
    d->FHandleSize = FHandleSize;
    d->FMinWidth = FMinWidth;
    d->FMaxHeight = FMaxHeight;
    d->FMinHeight = FMinHeight;
    d->FMaxWidth = FMaxWidth;
    d->EndUpdate();
  }
  TPositionedLayer::AssignTo(Dst);
}
