// The scrollable image view: the viewport without the bars, the bars' layout
// and ranges, the placement of the image by bar positions or centring,
// scrolling, the size grip, and the routing of paint and mouse to the bars.
#include "raster_image_view.h"

#include <algorithm>
#include <cmath>
#include <limits>

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

// Sets a flag for the length of a scope, also when an exception passes.
class TFlagGuard {
 public:
  explicit TFlagGuard(bool& Flag) : flag_(Flag), old_(Flag) { flag_ = true; }
  ~TFlagGuard() { flag_ = old_; }
  TFlagGuard(const TFlagGuard&) = delete;
  TFlagGuard& operator=(const TFlagGuard&) = delete;

 private:
  bool& flag_;
  bool old_;
};

}  // namespace

// The window of a bar inside the view: a rectangle of the view's window. Its
// paints land on the view's window pixels at that place, its invalidations
// become the view's, and timers, capture and cursor are the view's window's.
class TBarChildHost : public TViewHost {
 public:
  explicit TBarChildHost(TCustomImgView32* View) : view_(View) {}

  const TRect& Bounds() const { return bounds_; }
  bool Visible() const { return visible_; }
  // True when the size changed (the bar must then resize).
  bool Place(const TRect& Bounds, bool Visible) {
    const bool resized = (bounds_.Right - bounds_.Left) != (Bounds.Right - Bounds.Left) ||
                         (bounds_.Bottom - bounds_.Top) != (Bounds.Bottom - Bounds.Top);
    bounds_ = Bounds;
    visible_ = Visible;
    return resized;
  }
  bool Shows() const { return visible_ && !IsRectEmpty(bounds_); }

  TPoint ClientSize() const override {
    return TPoint{std::max(0, bounds_.Right - bounds_.Left), std::max(0, bounds_.Bottom - bounds_.Top)};
  }
  void Invalidate(const TRect* Area) override {
    if (!Shows()) return;
    TRect r = bounds_;
    if (Area != nullptr) {
      TRect a = *Area;
      OffsetRectBy(a, bounds_.Left, bounds_.Top);
      if (!IntersectRects(r, a, bounds_) || IsRectEmpty(r)) return;
    }
    view_->Host().Invalidate(&r);
  }
  void RepaintNow() override {
    if (Shows()) view_->Host().RepaintNow();
  }
  void CopyToWindow(const TBitmap32& Buffer, const TRect& Area) override {
    if (!Shows()) return;
    TPixelSurface* s = view_->Host().WindowSurface();
    if (s == nullptr || s->Bits == nullptr) return;
    // Area in the bar's coordinates, limited to the bar, its buffer and the window.
    TRect r;
    if (!IntersectRects(r, Area, TRect{0, 0, ClientSize().X, ClientSize().Y})) return;
    if (!IntersectRects(r, r, Buffer.BoundsRect())) return;
    TRect onWindow = r;
    OffsetRectBy(onWindow, bounds_.Left, bounds_.Top);
    if (!IntersectRects(onWindow, onWindow, TRect{0, 0, s->Width, s->Height}) || IsRectEmpty(onWindow)) return;
    for (int32_t y = onWindow.Top; y < onWindow.Bottom; ++y) {
      const TColor32* src = Buffer.PixelAddress(onWindow.Left - bounds_.Left, y - bounds_.Top);
      uint32_t* dst = s->Bits + static_cast<size_t>(y) * static_cast<size_t>(s->Width) + onWindow.Left;
      for (int32_t x = onWindow.Left; x < onWindow.Right; ++x) *dst++ = *src++ | 0xFF000000u;
    }
  }
  TPixelSurface* WindowSurface() override { return nullptr; }
  void SetMouseCapture(bool Capture) override { view_->Host().SetMouseCapture(Capture); }
  bool MouseCapture() const override { return view_->Host().MouseCapture(); }
  void SetCursor(TCursor Cursor) override { view_->Host().SetCursor(Cursor); }
  bool CanFocus() const override { return false; }
  void SetFocus() override {}
  int32_t StartTimer(uint32_t IntervalMs, TTimerProc Proc) override {
    return view_->Host().StartTimer(IntervalMs, std::move(Proc));
  }
  void StopTimer(int32_t Id) override { view_->Host().StopTimer(Id); }
  uint32_t TickCount() const override { return view_->Host().TickCount(); }
  int64_t Microseconds() const override { return view_->Host().Microseconds(); }
  int32_t ScrollBarThickness() const override { return view_->Host().ScrollBarThickness(); }
  // The view places its bars; they never size themselves.
  void RequestClientSize(int32_t, int32_t) override {}
  TColor SysColor(int32_t Index) const override { return view_->Host().SysColor(Index); }

 private:
  TCustomImgView32* view_;
  TRect bounds_;
  bool visible_ = false;
};

// ---- TIVScrollProperties ---------------------------------------------------------------

TIVScrollProperties::TIVScrollProperties(TCustomImgView32* ImgView)
    : TArrowBarAccess(ImgView ? ImgView->HScroll() : nullptr, ImgView ? ImgView->VScroll() : nullptr),
      FImgView(ImgView) {}

int32_t TIVScrollProperties::Increment() const { return FMaster ? static_cast<TCustomRangeBar*>(FMaster)->Increment() : 8; }

void TIVScrollProperties::SetIncrement(int32_t Value) {
  if (FImgView == nullptr) return;
  FImgView->HScroll()->SetIncrement(Value);
  FImgView->VScroll()->SetIncrement(Value);
}

void TIVScrollProperties::SetSize(int32_t Value) {
  FSize = Value;
  if (FImgView == nullptr) return;
  FImgView->AlignAll();
  FImgView->UpdateImage();
}

void TIVScrollProperties::SetVisibility(TScrollBarVisibility Value) {
  if (Value == FVisibility) return;
  FVisibility = Value;
  if (FImgView != nullptr) FImgView->Resize();
}

void TIVScrollProperties::AssignTo(TPersistent* Dest) {
  TArrowBarAccess::AssignTo(Dest);
  if (auto* d = dynamic_cast<TIVScrollProperties*>(Dest)) {
    d->SetIncrement(Increment());
    d->SetSize(FSize);
    d->SetVisibility(FVisibility);
  }
}

void TIVScrollProperties::GetPublishedProperties(TPropList& List) const {
  TArrowBarAccess::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Increment", &TIVScrollProperties::Increment, &TIVScrollProperties::SetIncrement));
  List.push_back(PublishedProperty("Size", &TIVScrollProperties::Size, &TIVScrollProperties::SetSize));
  List.push_back(PublishedProperty("Visibility", &TIVScrollProperties::Visibility, &TIVScrollProperties::SetVisibility));
}

// ---- TCustomImgView32 -------------------------------------------------------------------

TCustomImgView32::TCustomImgView32(TViewHost* Host) : TCustomImage32(Host) {
  FHScrollHost = std::make_unique<TBarChildHost>(this);
  FVScrollHost = std::make_unique<TBarChildHost>(this);
  FHScroll = std::make_unique<TCustomRangeBar>(FHScrollHost.get());
  FVScroll = std::make_unique<TCustomRangeBar>(FVScrollHost.get());
  for (TCustomRangeBar* bar : {FHScroll.get(), FVScroll.get()}) {
    bar->SetBorderStyle(bsNone);
    bar->SetCentered(FCentered);
    bar->OnUserChange = [this](void* Sender) { ScrollHandler(Sender); };
  }
  FVScroll->SetKind(sbVertical);
  FScrollBars = std::make_unique<TIVScrollProperties>(this);
  FScaleMode = smScale;
  FBitmapAlign = baCustom;
  InvalidateCache();
  AlignAll();
  ResizeBuffer();
  UpdateScrollBars();
  UpdateImage();
}

TCustomImgView32::~TCustomImgView32() {
  FPressedBar = nullptr;
  FHoverBar = nullptr;
  FScrollBars.reset();
  FVScroll.reset();
  FHScroll.reset();
}

void TCustomImgView32::SetCentered(bool Value) {
  FCentered = Value;
  Recenter();
}

void TCustomImgView32::SetOverSize(int32_t Value) {
  if (Value == FOverSize) return;
  FOverSize = Value;
  // The margin changes the bars' ranges and where the image lies; without
  // this they would wait for the next resize or zoom.
  UpdateScrollBars();
  UpdateImage();
  Invalidate();
}

void TCustomImgView32::SetScrollBars(const TIVScrollProperties* Value) {
  if (Value == FScrollBars.get()) return;
  FScrollBars->Assign(Value);
}

void TCustomImgView32::SetSizeGrip(TSizeGripStyle Value) {
  if (Value == FSizeGrip) return;
  FSizeGrip = Value;
  Invalidate();
}

void TCustomImgView32::SetParentClientAligned(bool Value) {
  if (Value == FParentClientAligned) return;
  FParentClientAligned = Value;
  Invalidate();
}

int32_t TCustomImgView32::ScaledOverSize() const {
  return RoundToInt(static_cast<long double>(FOverSize) * FScaleX);
}

bool TCustomImgView32::GetScrollBarsVisible() {
  if (!FHScroll || !FVScroll || !FScrollBars) return true;
  switch (FScrollBars->Visibility()) {
    case svAlways: return true;
    case svHidden: return false;
    default:
      return int64_t{FHScroll->Range()} > FHScroll->EffectiveWindow() ||
             int64_t{FVScroll->Range()} > FVScroll->EffectiveWindow();
  }
}

int32_t TCustomImgView32::GetScrollBarSize() {
  if (!GetScrollBarsVisible()) return 0;
  int32_t s = FScrollBars ? FScrollBars->Size() : 0;
  if (s == 0) s = FHost->ScrollBarThickness();
  return std::max(s, 0);
}

TRect TCustomImgView32::GetViewportRect() {
  const int32_t t = GetScrollBarSize();
  return TRect{0, 0, Saturate(int64_t{Width()} - t), Saturate(int64_t{Height()} - t)};
}

bool TCustomImgView32::IsSizeGripVisible() {
  switch (FSizeGrip) {
    case sgAlways: return true;
    case sgNone: return false;
    default: return FParentClientAligned;
  }
}

TRect TCustomImgView32::GetSizeGripRect() {
  const int32_t t = GetScrollBarSize();
  return TRect{Saturate(int64_t{Width()} - t), Saturate(int64_t{Height()} - t), Width(), Height()};
}

void TCustomImgView32::AlignAll() {
  if (!FHScroll || !FVScroll) return;
  const TRect r = GetViewportRect();
  const bool visible = GetScrollBarsVisible();
  if (FHScrollHost->Place(TRect{r.Left, r.Bottom, r.Right, Height()}, visible)) FHScroll->Resize();
  if (FVScrollHost->Place(TRect{r.Right, r.Top, Width(), r.Bottom}, visible)) FVScroll->Resize();
  FHScroll->Invalidate();
  FVScroll->Invalidate();
  // When the bars come or go the viewport grows or shrinks by their
  // thickness; the buffer must still cover it.
  ResizeBuffer();
}

void TCustomImgView32::UpdateScrollBars() {
  if (!FHScroll || !FVScroll) return;
  const int64_t m = RoundToInt(2.0L * FOverSize * FScaleX);
  const TPoint size = GetBitmapSize();
  FHScroll->SetRange(Saturate(size.X + m));
  FVScroll->SetRange(Saturate(size.Y + m));
  if (FScrollBars->Visibility() == svAuto) AlignAll();
}

void TCustomImgView32::UpdateImage() {
  if (!FHScroll || !FVScroll) return;
  const TPoint size = GetBitmapSize();
  const int64_t o = ScaledOverSize();
  const TRect r = GetViewportRect();
  const int64_t w = int64_t{r.Right} - r.Left, h = int64_t{r.Bottom} - r.Top;
  BeginUpdate();
  try {
    if (FCentered && w > 2 * o + size.X)
      SetOffsetHorz(static_cast<float>((w - size.X) / 2.0L));
    else
      SetOffsetHorz(static_cast<float>(o - static_cast<long double>(FHScroll->Position())));
    if (FCentered && h > 2 * o + size.Y)
      SetOffsetVert(static_cast<float>((h - size.Y) / 2.0L));
    else
      SetOffsetVert(static_cast<float>(o - static_cast<long double>(FVScroll->Position())));
    InvalidateCache();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  Changed();
}

void TCustomImgView32::ScrollToCenter(int32_t X, int32_t Y) {
  {
    TFlagGuard scrolling(FScrolling);
    AlignAll();
    const long double o = ScaledOverSize();
    const TRect r = GetViewportRect();
    const long double w = static_cast<long double>(int64_t{r.Right} - r.Left);
    const long double h = static_cast<long double>(int64_t{r.Bottom} - r.Top);
    FHScroll->SetPosition(static_cast<float>(X * static_cast<long double>(FScaleX) - w / 2 + o));
    FVScroll->SetPosition(static_cast<float>(Y * static_cast<long double>(FScaleY) - h / 2 + o));
  }
  UpdateImage();
}

void TCustomImgView32::Scroll(float Dx, float Dy) {
  {
    TFlagGuard scrolling(FScrolling);
    FHScroll->SetPosition(static_cast<float>(static_cast<long double>(FHScroll->Position()) + Dx));
    FVScroll->SetPosition(static_cast<float>(static_cast<long double>(FVScroll->Position()) + Dy));
  }
  UpdateImage();
}

void TCustomImgView32::Recenter() {
  InvalidateCache();
  FHScroll->SetCentered(FCentered);
  FVScroll->SetCentered(FCentered);
  UpdateScrollBars();
  UpdateImage();
  if (FCentered)
    ScrollToCenter(FBitmap->Width() / 2, FBitmap->Height() / 2);
  else
    ScrollToCenter(0, 0);
}

void TCustomImgView32::DoScroll() {
  if (OnScroll) OnScroll(this);
}

void TCustomImgView32::ScrollHandler(void* Sender) {
  if (FScrolling) return;
  if (Sender == FHScroll.get())
    FHScroll->Repaint();
  else if (Sender == FVScroll.get())
    FVScroll->Repaint();
  UpdateImage();
  DoScroll();
  Repaint();
}

void TCustomImgView32::BitmapResized() {
  TCustomImage32::BitmapResized();
  if (!FHScroll || !FVScroll) return;
  UpdateScrollBars();
  if (FCentered) {
    ScrollToCenter(FBitmap->Width() / 2, FBitmap->Height() / 2);
  } else {
    FHScroll->SetPosition(0);
    FVScroll->SetPosition(0);
    UpdateImage();
  }
}

void TCustomImgView32::DoScaleChange() {
  TCustomImage32::DoScaleChange();
  InvalidateCache();
  UpdateScrollBars();
  UpdateImage();
  Invalidate();
}

void TCustomImgView32::SetScaleMode(TScaleMode Value) {
  TCustomImage32::SetScaleMode(Value);
  Recenter();
}

void TCustomImgView32::Resize() {
  AlignAll();
  InvalidateCache();
  UpdateScrollBars();
  UpdateImage();
  Invalidate();
  TCustomImage32::Resize();
}

void TCustomImgView32::Loaded() {
  AlignAll();
  Invalidate();
  UpdateScrollBars();
  if (FCentered) ScrollToCenter(FBitmap->Width() / 2, FBitmap->Height() / 2);
  TCustomImage32::Loaded();
}

void TCustomImgView32::PaintSizeGrip() {
  TPixelSurface* s = FHost->WindowSurface();
  if (s == nullptr || s->Bits == nullptr) return;
  TRect r;
  if (!IntersectRects(r, GetSizeGripRect(), TRect{0, 0, s->Width, s->Height}) || IsRectEmpty(r)) return;
  auto resolve = [this](int32_t Index) {
    const TColor c = FHost->SysColor(Index);
    return ArgbFromColor(c < 0 ? 0 : c);
  };
  auto put = [&](int32_t X, int32_t Y, TColor32 C) {
    if (PointInRect(r, X, Y)) s->Bits[static_cast<size_t>(Y) * static_cast<size_t>(s->Width) + X] = C;
  };
  const TColor32 face = resolve(15);
  for (int32_t y = r.Top; y < r.Bottom; ++y)
    for (int32_t x = r.Left; x < r.Right; ++x) put(x, y, face);
  if (!IsSizeGripVisible()) return;
  // Diagonal ridges in the bottom right corner, a highlight above each shadow pair.
  const TColor32 hi = resolve(20), lo = resolve(16);
  const TRect g = GetSizeGripRect();
  const int32_t n = std::min(g.Right - g.Left, g.Bottom - g.Top);
  for (int32_t k = 3; k + 1 < n; k += 4) {
    for (int32_t i = 0; i <= k; ++i) {
      const int32_t x = g.Right - 1 - k + i, y = g.Bottom - 1 - i;
      put(x, y, hi);
      put(x + 1, y, lo);
      put(x + 2, y, lo);
    }
  }
}

void TCustomImgView32::Paint() {
  TCustomImage32::Paint();
  // The corner and the bars lie outside the viewport; the buffer copy above
  // may reach into them, so they are painted after it.
  PaintSizeGrip();
  for (TCustomRangeBar* bar : {FHScroll.get(), FVScroll.get()})
    if (bar && HostOf(bar)->Shows()) bar->PaintWindow();
}

TBarChildHost* TCustomImgView32::HostOf(const TCustomRangeBar* Bar) const {
  return Bar == FHScroll.get() ? FHScrollHost.get() : FVScrollHost.get();
}

TCustomRangeBar* TCustomImgView32::BarAt(int32_t X, int32_t Y) {
  for (TCustomRangeBar* bar : {FHScroll.get(), FVScroll.get()}) {
    if (bar == nullptr) continue;
    const TBarChildHost* h = HostOf(bar);
    if (h->Shows() && PointInRect(h->Bounds(), X, Y)) return bar;
  }
  return nullptr;
}

void TCustomImgView32::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (TCustomRangeBar* bar = BarAt(X, Y)) {
    FPressedBar = bar;
    const TRect& b = HostOf(bar)->Bounds();
    bar->MouseDown(Button, Shift, X - b.Left, Y - b.Top);
    return;
  }
  if (IsSizeGripVisible() && OnSizeGripResize && PointInRect(GetSizeGripRect(), X, Y)) {
    // The form resizes itself from here on; the view must not hold the mouse.
    FHost->SetMouseCapture(false);
    OnSizeGripResize(this);
    return;
  }
  TCustomImage32::MouseDown(Button, Shift, X, Y);
}

void TCustomImgView32::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  if (FPressedBar != nullptr) {
    const TRect& b = HostOf(FPressedBar)->Bounds();
    FPressedBar->MouseMove(Shift, X - b.Left, Y - b.Top);
    return;
  }
  TCustomRangeBar* bar = BarAt(X, Y);
  if (bar != FHoverBar) {
    if (FHoverBar != nullptr) {
      FHoverBar->MouseLeave();
      FHost->SetCursor(Cursor());
    }
    // The bars stand over the picture's area as windows of their own would:
    // the pointer that moves onto one has left the picture, and comes back to
    // it when it moves off, so whoever follows the pointer over the picture
    // (the dropper's colour label) hears of both.
    if (FHoverBar == nullptr && bar != nullptr)
      TCustomImage32::MouseLeave();
    else if (FHoverBar != nullptr && bar == nullptr)
      MouseEnter();
    FHoverBar = bar;
    if (bar != nullptr) {
      bar->MouseEnter();
      FHost->SetCursor(crArrow);
    }
  }
  if (bar != nullptr) {
    const TRect& b = HostOf(bar)->Bounds();
    bar->MouseMove(Shift, X - b.Left, Y - b.Top);
    return;
  }
  const bool overGrip = IsSizeGripVisible() && PointInRect(GetSizeGripRect(), X, Y);
  // The resize cursor is ours to take back when the mouse leaves the grip;
  // the layers may then set their own.
  if (FGripCursor && !overGrip) {
    FGripCursor = false;
    FHost->SetCursor(Cursor());
  }
  TCustomImage32::MouseMove(Shift, X, Y);
  if (overGrip) {
    FGripCursor = true;
    FHost->SetCursor(crSizeNWSE);
  }
}

void TCustomImgView32::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (FPressedBar != nullptr) {
    TCustomRangeBar* bar = FPressedBar;
    // The bar keeps the mouse until the button that pressed it comes up.
    if (Button == mbLeft || bar->DragZone() == zNone) FPressedBar = nullptr;
    const TRect& b = HostOf(bar)->Bounds();
    bar->MouseUp(Button, Shift, X - b.Left, Y - b.Top);
    return;
  }
  TCustomImage32::MouseUp(Button, Shift, X, Y);
}

void TCustomImgView32::MouseLeave() {
  // From a bar the pointer had left the picture already.
  const bool overPicture = FHoverBar == nullptr;
  if (FHoverBar != nullptr) {
    FHoverBar->MouseLeave();
    FHoverBar = nullptr;
  }
  if (FGripCursor) {
    FGripCursor = false;
    FHost->SetCursor(Cursor());
  }
  if (overPicture) TCustomImage32::MouseLeave();
}

bool TCustomImgView32::MouseWheel(TShiftState Shift, int32_t WheelDelta, int32_t X, int32_t Y) {
  TCustomRangeBar* bar = BarAt(X, Y);
  if (bar == nullptr) return false;
  const TRect& b = HostOf(bar)->Bounds();
  return bar->MouseWheel(Shift, WheelDelta, X - b.Left, Y - b.Top);
}

// ---- TImgView32 --------------------------------------------------------------------------

void TImgView32::GetPublishedProperties(TPropList& List) const {
  TCustomImgView32::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Bitmap", &TCustomImage32::Bitmap, &TCustomImage32::SetBitmap));
  List.push_back(PublishedProperty("BitmapAlign", &TCustomImage32::BitmapAlign, &TCustomImage32::SetBitmapAlign));
  List.push_back(PublishedProperty("Centered", &TCustomImgView32::Centered, &TCustomImgView32::SetCentered));
  List.push_back(PublishedProperty("Color", &TCustomPaintBox32::Color, &TCustomPaintBox32::SetColor));
  List.push_back(PublishedProperty("Cursor", &TCustomPaintBox32::Cursor, &TCustomPaintBox32::SetCursor));
  List.push_back(PublishedProperty("OverSize", &TCustomImgView32::OverSize, &TCustomImgView32::SetOverSize));
  List.push_back(PublishedProperty("RepaintMode", &TCustomPaintBox32::RepaintMode, &TCustomPaintBox32::SetRepaintMode));
  List.push_back(PublishedProperty("Scale", &TCustomImage32::Scale, &TCustomImage32::SetScale));
  List.push_back(PublishedProperty("ScaleMode", &TCustomImage32::ScaleMode, &TCustomImage32::SetScaleMode));
  List.push_back(PublishedProperty("ScrollBars", &TCustomImgView32::ScrollBars, &TCustomImgView32::SetScrollBars));
  List.push_back(PublishedProperty("SizeGrip", &TCustomImgView32::SizeGrip, &TCustomImgView32::SetSizeGrip));
  List.push_back(PublishedProperty("Options", &TCustomPaintBox32::Options, &TCustomPaintBox32::SetOptions));
  List.push_back(PublishedProperty("TabStop", &TCustomPaintBox32::TabStop, &TCustomPaintBox32::SetTabStop));
  List.push_back(PublishedField("OnBitmapResize", &TCustomImage32::OnBitmapResize));
  List.push_back(PublishedField("OnChange", &TCustomImage32::OnChange));
  List.push_back(PublishedField("OnInitStages", &TCustomImage32::OnInitStages));
  List.push_back(PublishedField("OnMouseDown", &TCustomImage32::OnMouseDown));
  List.push_back(PublishedField("OnMouseMove", &TCustomImage32::OnMouseMove));
  List.push_back(PublishedField("OnMouseUp", &TCustomImage32::OnMouseUp));
  List.push_back(PublishedField("OnPaintStage", &TCustomImage32::OnPaintStage));
  List.push_back(PublishedField("OnScroll", &TCustomImgView32::OnScroll));
}
