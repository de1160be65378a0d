// The arrow, range and gauge bars: geometry of buttons, track and handle, the
// mouse (auto-repeat, handle drags, hot tracking, the wheel), the position
// rules of each kind, the drawing, and the access object for their look.
#include "raster_rangebars.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

int32_t Saturate(int64_t V) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(V, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// Round half to even, saturated to int32; NaN gives 0.
int64_t RoundWide(long double V) {
  if (std::isnan(V)) return 0;
  const long double r = std::nearbyint(V);
  if (r <= -9.2e18L) return std::numeric_limits<int64_t>::min() / 2;
  if (r >= 9.2e18L) return std::numeric_limits<int64_t>::max() / 2;
  return static_cast<int64_t>(r);
}

int32_t RoundToInt(long double V) { return Saturate(RoundWide(V)); }

// A quarter of the way to white: the look of a hot part.
TColor32 Lighten(TColor32 C) {
  auto up = [](int32_t v) { return v + (255 - v) / 4; };
  return MakeArgb(up(RedOf(C)), up(GreenOf(C)), up(BlueOf(C)));
}

void Fill(TBitmap32& B, const TRect& R, TColor32 C) {
  if (!IsRectEmpty(R)) B.FillRectClipped(R.Left, R.Top, R.Right, R.Bottom, C);
}

// A one-pixel frame with separate colours for the top-left and bottom-right sides.
void Frame3D(TBitmap32& B, const TRect& R, TColor32 TopLeft, TColor32 BottomRight) {
  if (IsRectEmpty(R)) return;
  Fill(B, TRect{R.Left, R.Top, R.Right, R.Top + 1}, TopLeft);
  Fill(B, TRect{R.Left, R.Top, R.Left + 1, R.Bottom}, TopLeft);
  Fill(B, TRect{R.Left, R.Bottom - 1, R.Right, R.Bottom}, BottomRight);
  Fill(B, TRect{R.Right - 1, R.Top, R.Right, R.Bottom}, BottomRight);
}

TRect Shrunk(const TRect& R, int32_t D) { return TRect{R.Left + D, R.Top + D, R.Right - D, R.Bottom - D}; }

TRect Moved(const TRect& R, int32_t Dx, int32_t Dy) {
  return TRect{R.Left + Dx, R.Top + Dy, R.Right + Dx, R.Bottom + Dy};
}

// A small filled triangle pointing in Direction, centred in R.
void DrawArrow(TBitmap32& B, const TRect& R, TRBDirection Direction, TColor32 C) {
  const int32_t w = R.Right - R.Left, h = R.Bottom - R.Top;
  const int32_t s = std::max(1, std::min(w, h) / 4);
  const int32_t cx = R.Left + w / 2, cy = R.Top + h / 2;
  for (int32_t i = 0; i < s; ++i) {
    // Row i of the triangle, counted from its tip.
    switch (Direction) {
      case drLeft: Fill(B, TRect{cx - s / 2 + i, cy - i, cx - s / 2 + i + 1, cy + i + 1}, C); break;
      case drRight: Fill(B, TRect{cx + s / 2 - i, cy - i, cx + s / 2 - i + 1, cy + i + 1}, C); break;
      case drUp: Fill(B, TRect{cx - i, cy - s / 2 + i, cx + i + 1, cy - s / 2 + i + 1}, C); break;
      case drDown: Fill(B, TRect{cx - i, cy + s / 2 - i, cx + i + 1, cy + s / 2 - i + 1}, C); break;
    }
  }
}

}  // namespace

// ---- TArrowBar ------------------------------------------------------------------------

TArrowBar::TArrowBar(TViewHost* Host) : TCustomPaintBox32(Host) {
  FColor = clScrollBar;
  if (FOwnHost && FHost == FOwnHost.get()) {
    FOwnHost->SetClientSize(100, 16);
    ResizeBuffer();
  }
}

TArrowBar::~TArrowBar() { StopTimer(); }

void TArrowBar::SetBackgnd(TRBBackgnd Value) {
  if (Value == FBackgnd) return;
  FBackgnd = Value;
  Invalidate();
}

void TArrowBar::SetBorderStyle(TBorderStyle Value) {
  if (Value == FBorderStyle) return;
  FBorderStyle = Value;
  // The client area changes with the border.
  Resize();
}

void TArrowBar::SetButtonSize(int32_t Value) {
  if (Value == FButtonSize) return;
  FButtonSize = Value;
  Invalidate();
}

void TArrowBar::SetKind(TScrollBarKind Value) {
  if (Value == FKind) return;
  FKind = Value;
  Invalidate();
}

void TArrowBar::SetShowArrows(bool Value) {
  if (Value == FShowArrows) return;
  FShowArrows = Value;
  Invalidate();
}

void TArrowBar::SetShowHandleGrip(bool Value) {
  if (Value == FShowHandleGrip) return;
  FShowHandleGrip = Value;
  Invalidate();
}

void TArrowBar::SetStyle(TRBStyle Value) {
  if (Value == FStyle) return;
  FStyle = Value;
  Invalidate();
}

void TArrowBar::SetHandleColor(TColor Value) {
  if (Value == FHandleColor) return;
  FHandleColor = Value;
  Invalidate();
}

void TArrowBar::SetButtonColor(TColor Value) {
  if (Value == FButtonColor) return;
  FButtonColor = Value;
  Invalidate();
}

void TArrowBar::SetHighLightColor(TColor Value) {
  if (Value == FHighLightColor) return;
  FHighLightColor = Value;
  Invalidate();
}

void TArrowBar::SetShadowColor(TColor Value) {
  if (Value == FShadowColor) return;
  FShadowColor = Value;
  Invalidate();
}

void TArrowBar::SetBorderColor(TColor Value) {
  if (Value == FBorderColor) return;
  FBorderColor = Value;
  Invalidate();
}

void TArrowBar::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  if (!Value) {
    // A disabled bar lets go of any press under way.
    if (FDragZone != zNone) FHost->SetMouseCapture(false);
    FDragZone = zNone;
    FHotZone = zNone;
    StopTimer();
  }
  Invalidate();
}

int32_t TArrowBar::ClientWidth() const { return std::max(0, Width() - 2 * BorderWidth()); }

int32_t TArrowBar::ClientHeight() const { return std::max(0, Height() - 2 * BorderWidth()); }

int32_t TArrowBar::BarLength() const { return FKind == sbHorizontal ? ClientWidth() : ClientHeight(); }

int32_t TArrowBar::BarThickness() const { return FKind == sbHorizontal ? ClientHeight() : ClientWidth(); }

int32_t TArrowBar::AxisLength(const TRect& R) const {
  return std::max(0, FKind == sbHorizontal ? R.Right - R.Left : R.Bottom - R.Top);
}

TRect TArrowBar::PlaceHandle(const TRect& Track, int32_t Off, int32_t Len) const {
  TRect r = Track;
  if (FKind == sbHorizontal) {
    r.Left += Off;
    r.Right = r.Left + Len;
  } else {
    r.Top += Off;
    r.Bottom = r.Top + Len;
  }
  return r;
}

int32_t TArrowBar::GetButtonSize() const {
  if (!FShowArrows) return 0;
  int32_t r = FButtonSize;
  if (r == 0) r = std::min(BarThickness(), 32);
  const int32_t len = BarLength();
  if (int64_t{r} * 2 >= len) r = len / 2;
  if (FStyle == rbsMac) --r;
  return r < 2 ? 0 : r;
}

TRect TArrowBar::GetTrackBoundary() const {
  const int32_t bs = GetButtonSize();
  if (FKind == sbHorizontal) return TRect{bs, 0, ClientWidth() - bs, ClientHeight()};
  return TRect{0, bs, ClientWidth(), ClientHeight() - bs};
}

TRect TArrowBar::GetBtnPrevRect() const {
  const int32_t bs = GetButtonSize();
  return FKind == sbHorizontal ? TRect{0, 0, bs, ClientHeight()} : TRect{0, 0, ClientWidth(), bs};
}

TRect TArrowBar::GetBtnNextRect() const {
  const int32_t bs = GetButtonSize();
  if (FKind == sbHorizontal) return TRect{ClientWidth() - bs, 0, ClientWidth(), ClientHeight()};
  return TRect{0, ClientHeight() - bs, ClientWidth(), ClientHeight()};
}

TRect TArrowBar::GetTrackPrevRect() const {
  TRect t = GetTrackBoundary();
  const TRect h = GetHandleRect();
  if (IsRectEmpty(h)) return t;
  if (FKind == sbHorizontal)
    t.Right = h.Left;
  else
    t.Bottom = h.Top;
  return t;
}

TRect TArrowBar::GetTrackNextRect() const {
  TRect t = GetTrackBoundary();
  const TRect h = GetHandleRect();
  if (IsRectEmpty(h)) return TRect{};
  if (FKind == sbHorizontal)
    t.Left = h.Right;
  else
    t.Top = h.Bottom;
  return t;
}

TRBZone TArrowBar::GetZone(int32_t X, int32_t Y) const {
  if (!PointInRect(TRect{0, 0, ClientWidth(), ClientHeight()}, X, Y)) return zNone;
  const int32_t bs = GetButtonSize();
  const int32_t a = FKind == sbHorizontal ? X : Y;
  if (a < bs) return zBtnPrev;
  if (a >= BarLength() - bs) return zBtnNext;
  const TRect h = GetHandleRect();
  if (PointInRect(h, X, Y)) return zHandle;
  if (IsRectEmpty(h)) {
    // No handle to be beside: the middle of the track divides the sides.
    const TRect t = GetTrackBoundary();
    const int32_t mid = FKind == sbHorizontal ? (t.Left + t.Right) / 2 : (t.Top + t.Bottom) / 2;
    return a < mid ? zTrackPrev : zTrackNext;
  }
  return a < (FKind == sbHorizontal ? h.Left : h.Top) ? zTrackPrev : zTrackNext;
}

TPoint TArrowBar::ClampedMouse() const {
  return TPoint{std::clamp(FMousePos.X, 0, std::max(0, ClientWidth() - 1)),
                std::clamp(FMousePos.Y, 0, std::max(0, ClientHeight() - 1))};
}

TColor32 TArrowBar::Resolve(TColor C) const {
  if (C < 0) C = FHost->SysColor(C & 0xFF);
  return ArgbFromColor(C < 0 ? 0 : C);
}

void TArrowBar::StartTimer(uint32_t Interval, int32_t Mode) {
  if (FTimerRunning && FTimerInterval == Interval) {
    FTimerMode = Mode;
    return;
  }
  StopTimer();
  FTimerMode = Mode;
  FTimerInterval = Interval;
  FTimerId = FHost->StartTimer(Interval, [this] { TimerHandler(); });
  FTimerRunning = true;
}

void TArrowBar::StopTimer() {
  if (FTimerRunning) FHost->StopTimer(FTimerId);
  FTimerRunning = false;
  FTimerId = 0;
  FTimerMode = tmNone;
}

void TArrowBar::StartHotTracking() { StartTimer(150, tmHotTrack); }

void TArrowBar::RepeatStep() {
  if (FDragZone == zNone || FDragZone == zHandle) return;
  FGenChange = true;
  bool moved;
  try {
    moved = Step();
  } catch (...) {
    FGenChange = false;
    throw;
  }
  FGenChange = false;
  if (!moved) StartHotTracking();
}

void TArrowBar::Resize() { TCustomPaintBox32::Resize(); }

void TArrowBar::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TCustomPaintBox32::MouseDown(Button, Shift, X, Y);
  const TPoint p{X - BorderWidth(), Y - BorderWidth()};
  FMousePos = p;
  FMouseInside = PointInRect(TRect{0, 0, ClientWidth(), ClientHeight()}, p);
  if (Button != mbLeft || !FEnabled || !AcceptsPress()) return;
  FDragZone = GetZone(p.X, p.Y);
  if (FDragZone == zNone) return;
  FStackedAt = p;
  FHost->SetMouseCapture(true);
  Invalidate();
  if (FDragZone == zHandle) {
    StartHotTracking();
    BeginHandleDrag();
  } else {
    StartTimer(600, tmFirstDelay);
    RepeatStep();
  }
}

void TArrowBar::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  TCustomPaintBox32::MouseMove(Shift, X, Y);
  const TPoint p{X - BorderWidth(), Y - BorderWidth()};
  FMousePos = p;
  FMouseInside = PointInRect(TRect{0, 0, ClientWidth(), ClientHeight()}, p);
  if (FDragZone == zHandle) {
    const int32_t d = FKind == sbHorizontal ? p.X - FStackedAt.X : p.Y - FStackedAt.Y;
    FGenChange = true;
    try {
      DragHandle(d);
    } catch (...) {
      FGenChange = false;
      throw;
    }
    FGenChange = false;
    return;
  }
  if (FDragZone != zNone || !FEnabled) return;
  const TRBZone hot = FMouseInside ? GetZone(p.X, p.Y) : zNone;
  if (hot != FHotZone) {
    FHotZone = hot;
    Invalidate();
  }
  if (hot != zNone && FTimerMode != tmHotTrack) StartHotTracking();
}

void TArrowBar::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TCustomPaintBox32::MouseUp(Button, Shift, X, Y);
  if (Button != mbLeft || FDragZone == zNone) return;
  FDragZone = zNone;
  FHost->SetMouseCapture(false);
  Invalidate();
  StartHotTracking();
}

void TArrowBar::MouseLeave() {
  FMouseInside = false;
  TCustomPaintBox32::MouseLeave();
}

bool TArrowBar::MouseWheel(TShiftState, int32_t, int32_t, int32_t) { return false; }

void TArrowBar::DoChange() {
  if (OnChange) OnChange(this);
  if (FGenChange && OnUserChange) OnUserChange(this);
}

void TArrowBar::TimerHandler() {
  switch (FTimerMode) {
    case tmFirstDelay:
      StartTimer(100, tmRepeat);
      RepeatStep();
      break;
    case tmRepeat:
      RepeatStep();
      break;
    case tmHotTrack:
      // The window tells us when the mouse goes; a drag keeps tracking.
      if (!FMouseInside && FDragZone == zNone) StopHotTracking();
      break;
    default:
      break;
  }
}

void TArrowBar::StopHotTracking() {
  StopTimer();
  if (FHotZone != zNone) {
    FHotZone = zNone;
    Invalidate();
  }
}

bool TArrowBar::DrawEnabled() const { return FEnabled; }

TRect TArrowBar::GetHandleRect() const { return TRect{}; }

void TArrowBar::DoPaintBuffer() {
  TBitmap32& b = *FBuffer;
  const int32_t bw = BorderWidth();
  const TRect whole{0, 0, Width(), Height()};
  b.SetClipRect(whole);
  Fill(b, whole, Resolve(FColor));
  if (bw > 0) {
    // The sunken edge: shadow outside, dark shadow inside at the top left.
    Frame3D(b, whole, Resolve(FShadowColor), Resolve(FHighLightColor));
    Frame3D(b, Shrunk(whole, 1), Resolve(clBar3DDkShadow), Resolve(clBtnFace));
  }
  const bool horz = FKind == sbHorizontal;
  const bool enabled = DrawEnabled();
  if (GetButtonSize() > 0) {
    DoDrawButton(Moved(GetBtnPrevRect(), bw, bw), horz ? drLeft : drUp, FDragZone == zBtnPrev, enabled,
                 FHotZone == zBtnPrev);
    DoDrawButton(Moved(GetBtnNextRect(), bw, bw), horz ? drRight : drDown, FDragZone == zBtnNext, enabled,
                 FHotZone == zBtnNext);
  }
  if (enabled) {
    DoDrawTrack(Moved(GetTrackPrevRect(), bw, bw), horz ? drLeft : drUp, FDragZone == zTrackPrev, true,
                FHotZone == zTrackPrev);
    DoDrawTrack(Moved(GetTrackNextRect(), bw, bw), horz ? drRight : drDown, FDragZone == zTrackNext, true,
                FHotZone == zTrackNext);
    const TRect h = GetHandleRect();
    if (!IsRectEmpty(h)) DoDrawHandle(Moved(h, bw, bw), horz, FDragZone == zHandle, FHotZone == zHandle);
  } else {
    DoDrawTrack(Moved(GetTrackBoundary(), bw, bw), horz ? drLeft : drUp, false, false, false);
  }
  TCustomPaintBox32::DoPaintBuffer();
}

void TArrowBar::DoDrawButton(const TRect& R, TRBDirection Direction, bool Pushed, bool Enabled, bool Hot) {
  if (IsRectEmpty(R)) return;
  TBitmap32& b = *FBuffer;
  const TColor32 face = Resolve(FButtonColor);
  Fill(b, R, Hot && Enabled ? Lighten(face) : face);
  if (FStyle == rbsMac) {
    Frame3D(b, R, Resolve(FBorderColor), Resolve(FBorderColor));
  } else if (Pushed) {
    Frame3D(b, R, Resolve(FShadowColor), Resolve(FShadowColor));
  } else {
    Frame3D(b, R, Resolve(FHighLightColor), Resolve(clBar3DDkShadow));
    Frame3D(b, Shrunk(R, 1), face, Resolve(FShadowColor));
  }
  const int32_t push = Pushed ? 1 : 0;
  DrawArrow(b, Moved(R, push, push), Direction, Resolve(Enabled ? clBarBtnText : FShadowColor));
}

void TArrowBar::DoDrawHandle(const TRect& R, bool Horz, bool Pushed, bool Hot) {
  if (IsRectEmpty(R)) return;
  TBitmap32& b = *FBuffer;
  const TColor32 fill = Resolve(FHandleColor);
  Fill(b, R, Hot || Pushed ? Lighten(fill) : fill);
  if (FStyle == rbsMac)
    Frame3D(b, R, Resolve(FBorderColor), Resolve(FBorderColor));
  else
    Frame3D(b, R, Resolve(FHighLightColor), Resolve(clBar3DDkShadow));
  if (!FShowHandleGrip) return;
  // Three grip ridges across the middle, when the handle is long enough.
  const int32_t len = Horz ? R.Right - R.Left : R.Bottom - R.Top;
  const int32_t thick = Horz ? R.Bottom - R.Top : R.Right - R.Left;
  if (len < 12 || thick < 8) return;
  const TColor32 hi = Resolve(FHighLightColor), lo = Resolve(FShadowColor);
  const int32_t mid = Horz ? (R.Left + R.Right) / 2 : (R.Top + R.Bottom) / 2;
  for (int32_t i = -1; i <= 1; ++i) {
    const int32_t at = mid + 3 * i - 1;
    if (Horz) {
      Fill(b, TRect{at, R.Top + 3, at + 1, R.Bottom - 3}, hi);
      Fill(b, TRect{at + 1, R.Top + 3, at + 2, R.Bottom - 3}, lo);
    } else {
      Fill(b, TRect{R.Left + 3, at, R.Right - 3, at + 1}, hi);
      Fill(b, TRect{R.Left + 3, at + 1, R.Right - 3, at + 2}, lo);
    }
  }
}

void TArrowBar::DoDrawTrack(const TRect& R, TRBDirection, bool Pushed, bool Enabled, bool Hot) {
  if (IsRectEmpty(R)) return;
  TBitmap32& b = *FBuffer;
  TColor32 c = Resolve(FColor);
  if (Hot && Enabled) c = Lighten(c);
  const TColor32 other = Pushed ? Resolve(FShadowColor) : Resolve(FHighLightColor);
  if (FBackgnd == bgSolid) {
    Fill(b, R, Pushed ? other : c);
    return;
  }
  // A dither of the colour and the highlight (the shadow while pressed).
  TRect r;
  if (!IntersectRects(r, R, b.ClipRect())) return;
  for (int32_t y = r.Top; y < r.Bottom; ++y)
    for (int32_t x = r.Left; x < r.Right; ++x) b.SetPixel(x, y, ((x + y) & 1) != 0 ? other : c);
}

// ---- TCustomRangeBar -----------------------------------------------------------------

TCustomRangeBar::TCustomRangeBar(TViewHost* Host) : TArrowBar(Host) { UpdateEffectiveWindow(); }

void TCustomRangeBar::UpdateEffectiveWindow() {
  FEffectiveWindow = FWindow > 0 ? FWindow : (FKind == sbHorizontal ? Width() : Height());
  if (FEffectiveWindow < 0) FEffectiveWindow = 0;
}

void TCustomRangeBar::AdjustPosition() {
  // In this order: a window larger than the range leaves 0.
  const float limit = static_cast<float>(int64_t{FRange} - FEffectiveWindow);
  if (FPosition > limit) FPosition = limit;
  if (FPosition < 0) FPosition = 0;
}

void TCustomRangeBar::PositionChanged(float Old) {
  if (FPosition == Old) return;
  Invalidate();
  DoChange();
}

void TCustomRangeBar::SetPosition(float Value) {
  const float old = FPosition;
  // A NaN position would carry into every offset computed from it.
  FPosition = std::isnan(Value) ? 0.0f : Value;
  AdjustPosition();
  PositionChanged(old);
}

void TCustomRangeBar::KeepCentre(int32_t OldRange, int32_t OldWindow) {
  if (!FCentered || int64_t{FRange} <= FEffectiveWindow) return;
  float c = 0.5f;
  if (OldRange > OldWindow && OldRange != 0)
    c = static_cast<float>((OldWindow / 2.0L + FPosition) / OldRange);
  FPosition = static_cast<float>(static_cast<long double>(FRange) * c - FEffectiveWindow / 2.0L);
}

void TCustomRangeBar::SetParams(int32_t NewRange, int32_t NewWindow) {
  NewRange = std::max(NewRange, 0);
  NewWindow = std::max(NewWindow, 0);
  if (NewRange == FRange && NewWindow == FWindow) return;
  const int32_t oldRange = FRange, oldWindow = FEffectiveWindow;
  const float old = FPosition;
  FRange = NewRange;
  FWindow = NewWindow;
  UpdateEffectiveWindow();
  KeepCentre(oldRange, oldWindow);
  AdjustPosition();
  Invalidate();
  // Every position change is told, also one the new limits force.
  if (FPosition != old) DoChange();
}

void TCustomRangeBar::Resize() {
  TArrowBar::Resize();
  const int32_t oldWindow = FEffectiveWindow;
  const float old = FPosition;
  UpdateEffectiveWindow();
  if (FEffectiveWindow != oldWindow) KeepCentre(FRange, oldWindow);
  AdjustPosition();
  if (FPosition != old) DoChange();
}

void TCustomRangeBar::SetKind(TScrollBarKind Value) {
  if (Value == FKind) return;
  TArrowBar::SetKind(Value);
  Resize();
}

bool TCustomRangeBar::MouseWheel(TShiftState, int32_t WheelDelta, int32_t, int32_t) {
  if (!FEnabled) return false;
  FGenChange = true;
  try {
    // The wheel turned toward the user (a negative delta) shows what lies
    // further on, as every scroll bar does; a gauge, like a slider, grows
    // with the wheel turned away.
    SetPosition(static_cast<float>(FPosition - static_cast<long double>(FIncrement) * WheelDelta / 120.0L));
  } catch (...) {
    FGenChange = false;
    throw;
  }
  FGenChange = false;
  return true;
}

bool TCustomRangeBar::DrawEnabled() const { return FEnabled && int64_t{FRange} > FEffectiveWindow; }

TRect TCustomRangeBar::GetHandleRect() const {
  TRect r = GetTrackBoundary();
  const int32_t track = AxisLength(r);
  if (track < 18) return TRect{};
  if (FEffectiveWindow >= FRange) return r;
  const long double range = FRange, window = FEffectiveWindow;
  int32_t len = RoundToInt(track * window / range);
  int32_t off;
  if (len < 17) {
    len = 17;
    off = RoundToInt((track - 17) * static_cast<long double>(FPosition) / (range - window));
  } else {
    off = RoundToInt(track * static_cast<long double>(FPosition) / range);
  }
  return PlaceHandle(r, std::clamp(off, 0, std::max(0, track - len)), len);
}

void TCustomRangeBar::DragHandle(int32_t D) {
  const int32_t track = AxisLength(GetTrackBoundary());
  if (track < 18 || int64_t{FRange} <= FEffectiveWindow) return;
  const long double range = FRange, window = FEffectiveWindow;
  if (RoundToInt(track * window / range) < 17)
    SetPosition(static_cast<float>(FPosBeforeDrag + RoundWide(D * (range - window) / (track - 17))));
  else
    SetPosition(static_cast<float>(FPosBeforeDrag + D * range / track));
}

bool TCustomRangeBar::Step() {
  const float old = FPosition;
  const TPoint m = ClampedMouse();
  const TRBZone under = GetZone(m.X, m.Y);
  switch (FDragZone) {
    case zBtnPrev:
      SetPosition(static_cast<float>(static_cast<long double>(FPosition) - FIncrement));
      return FPosition != old;
    case zBtnNext:
      SetPosition(static_cast<float>(static_cast<long double>(FPosition) + FIncrement));
      return FPosition != old;
    case zTrackPrev:
      if (under == zTrackPrev || under == zBtnPrev)
        SetPosition(static_cast<float>(static_cast<long double>(FPosition) - FEffectiveWindow));
      return true;
    case zTrackNext:
      if (under == zTrackNext || under == zBtnNext)
        SetPosition(static_cast<float>(static_cast<long double>(FPosition) + FEffectiveWindow));
      return true;
    default:
      return true;
  }
}

void TRangeBar::GetPublishedProperties(TPropList& List) const {
  TCustomRangeBar::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Backgnd", &TArrowBar::Backgnd, &TArrowBar::SetBackgnd));
  List.push_back(PublishedProperty("BorderStyle", &TArrowBar::BorderStyle, &TArrowBar::SetBorderStyle));
  List.push_back(PublishedProperty("ButtonSize", &TArrowBar::ButtonSize, &TArrowBar::SetButtonSize));
  List.push_back(PublishedProperty("Centered", &TCustomRangeBar::Centered, &TCustomRangeBar::SetCentered));
  List.push_back(PublishedProperty("Color", &TCustomPaintBox32::Color, &TCustomPaintBox32::SetColor));
  List.push_back(PublishedProperty("Enabled", &TArrowBar::Enabled, &TArrowBar::SetEnabled));
  List.push_back(PublishedProperty("Increment", &TCustomRangeBar::Increment, &TCustomRangeBar::SetIncrement));
  List.push_back(PublishedProperty("Kind", &TArrowBar::Kind, &TArrowBar::SetKind));
  List.push_back(PublishedProperty("Range", &TCustomRangeBar::Range, &TCustomRangeBar::SetRange));
  List.push_back(PublishedProperty("Window", &TCustomRangeBar::Window, &TCustomRangeBar::SetWindow));
  List.push_back(PublishedProperty("Position", &TCustomRangeBar::Position, &TCustomRangeBar::SetPosition));
  List.push_back(PublishedProperty("ShowArrows", &TArrowBar::ShowArrows, &TArrowBar::SetShowArrows));
  List.push_back(PublishedProperty("ShowHandleGrip", &TArrowBar::ShowHandleGrip, &TArrowBar::SetShowHandleGrip));
  List.push_back(PublishedProperty("Style", &TArrowBar::Style, &TArrowBar::SetStyle));
  List.push_back(PublishedField("OnChange", &TArrowBar::OnChange));
  List.push_back(PublishedField("OnUserChange", &TArrowBar::OnUserChange));
}

// ---- TCustomGaugeBar -----------------------------------------------------------------

TCustomGaugeBar::TCustomGaugeBar(TViewHost* Host) : TArrowBar(Host) {}

void TCustomGaugeBar::SetHandleSize(int32_t Value) {
  if (Value == FHandleSize) return;
  FHandleSize = Value;
  Invalidate();
}

void TCustomGaugeBar::SetPosition64(int64_t Value) {
  const int32_t v = static_cast<int32_t>(std::clamp<int64_t>(Value, FMin, std::max(FMin, FMax)));
  if (v == FPosition) return;
  FPosition = v;
  Invalidate();
  DoChange();
}

void TCustomGaugeBar::SetPosition(int32_t Value) { SetPosition64(Value); }

void TCustomGaugeBar::SetMax(int32_t Value) {
  int64_t v = Value;
  if (!FLoading && v <= FMin) v = int64_t{FMin} + 1;
  FMax = Saturate(v);
  if (!FLoading) SetPosition64(FPosition);
  Invalidate();
}

void TCustomGaugeBar::SetMin(int32_t Value) {
  int64_t v = Value;
  if (!FLoading && v >= FMax) v = int64_t{FMax} - 1;
  FMin = Saturate(v);
  if (!FLoading) SetPosition64(FPosition);
  Invalidate();
}

void TCustomGaugeBar::Loaded() {
  FLoading = false;
  SetPosition64(FPosition);
}

int32_t TCustomGaugeBar::HandleLength() const {
  const int32_t track = AxisLength(GetTrackBoundary());
  int32_t len = FHandleSize > 0 ? FHandleSize : BarThickness();
  len = std::min(len, track - 1);
  return std::max(len, 0);
}

TRect TCustomGaugeBar::GetHandleRect() const {
  TRect r = GetTrackBoundary();
  const int32_t track = AxisLength(r);
  const int32_t len = HandleLength();
  const int64_t span = int64_t{FMax} - FMin;
  int32_t off = 0;
  // Min equal to Max can only come from loading: the handle rests at the start.
  if (span > 0) off = RoundToInt(static_cast<long double>(track - len) * (int64_t{FPosition} - FMin) / span);
  return PlaceHandle(r, std::clamp(off, 0, std::max(0, track - len)), len);
}

void TCustomGaugeBar::DragHandle(int32_t D) {
  const int32_t room = AxisLength(GetTrackBoundary()) - HandleLength();
  // A track with no room beside the handle has nothing to drag along.
  if (room <= 0) return;
  const long double span = static_cast<long double>(int64_t{FMax} - FMin);
  SetPosition64(int64_t{FPosBeforeDrag} + RoundWide(D * span / room));
}

bool TCustomGaugeBar::Step() {
  const int32_t old = FPosition;
  const TPoint m = ClampedMouse();
  const TRBZone under = GetZone(m.X, m.Y);
  switch (FDragZone) {
    case zBtnPrev:
      SetPosition64(int64_t{FPosition} - FSmallChange);
      return FPosition != old;
    case zBtnNext:
      SetPosition64(int64_t{FPosition} + FSmallChange);
      return FPosition != old;
    case zTrackPrev:
      if (under == zTrackPrev || under == zBtnPrev) SetPosition64(int64_t{FPosition} - FLargeChange);
      return true;
    case zTrackNext:
      if (under == zTrackNext || under == zBtnNext) SetPosition64(int64_t{FPosition} + FLargeChange);
      return true;
    default:
      return true;
  }
}

bool TCustomGaugeBar::MouseWheel(TShiftState, int32_t WheelDelta, int32_t, int32_t) {
  if (!FEnabled) return false;
  FGenChange = true;
  try {
    SetPosition64(int64_t{FPosition} + int64_t{FSmallChange} * WheelDelta / 120);
  } catch (...) {
    FGenChange = false;
    throw;
  }
  FGenChange = false;
  return true;
}

void TGaugeBar::GetPublishedProperties(TPropList& List) const {
  TCustomGaugeBar::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Backgnd", &TArrowBar::Backgnd, &TArrowBar::SetBackgnd));
  List.push_back(PublishedProperty("BorderStyle", &TArrowBar::BorderStyle, &TArrowBar::SetBorderStyle));
  List.push_back(PublishedProperty("ButtonSize", &TArrowBar::ButtonSize, &TArrowBar::SetButtonSize));
  List.push_back(PublishedProperty("Color", &TCustomPaintBox32::Color, &TCustomPaintBox32::SetColor));
  List.push_back(PublishedProperty("Enabled", &TArrowBar::Enabled, &TArrowBar::SetEnabled));
  List.push_back(PublishedProperty("HandleSize", &TCustomGaugeBar::HandleSize, &TCustomGaugeBar::SetHandleSize));
  List.push_back(PublishedProperty("Kind", &TArrowBar::Kind, &TArrowBar::SetKind));
  List.push_back(PublishedProperty("LargeChange", &TCustomGaugeBar::LargeChange, &TCustomGaugeBar::SetLargeChange));
  List.push_back(PublishedProperty("Max", &TCustomGaugeBar::Max, &TCustomGaugeBar::SetMax));
  List.push_back(PublishedProperty("Min", &TCustomGaugeBar::Min, &TCustomGaugeBar::SetMin));
  List.push_back(PublishedProperty("Position", &TCustomGaugeBar::Position, &TCustomGaugeBar::SetPosition));
  List.push_back(PublishedProperty("ShowArrows", &TArrowBar::ShowArrows, &TArrowBar::SetShowArrows));
  List.push_back(PublishedProperty("ShowHandleGrip", &TArrowBar::ShowHandleGrip, &TArrowBar::SetShowHandleGrip));
  List.push_back(PublishedProperty("SmallChange", &TCustomGaugeBar::SmallChange, &TCustomGaugeBar::SetSmallChange));
  List.push_back(PublishedProperty("Style", &TArrowBar::Style, &TArrowBar::SetStyle));
  List.push_back(PublishedField("OnChange", &TArrowBar::OnChange));
  List.push_back(PublishedField("OnUserChange", &TArrowBar::OnUserChange));
}

// ---- TArrowBarAccess -------------------------------------------------------------------

#define VEMRA_ACCESS(Type, Name, Default)                                             \
  Type TArrowBarAccess::Name() const { return FMaster ? FMaster->Name() : Default; } \
  void TArrowBarAccess::Set##Name(Type Value) {                                      \
    Both([&](TArrowBar& B) { B.Set##Name(Value); });                                  \
  }

VEMRA_ACCESS(TRBBackgnd, Backgnd, bgPattern)
VEMRA_ACCESS(int32_t, ButtonSize, 0)
VEMRA_ACCESS(TColor, Color, clScrollBar)
VEMRA_ACCESS(TColor, HandleColor, clBarBtnShadow)
VEMRA_ACCESS(TColor, ButtonColor, clBtnFace)
VEMRA_ACCESS(TColor, HighLightColor, clBarBtnHighlight)
VEMRA_ACCESS(TColor, ShadowColor, clBarBtnShadow)
VEMRA_ACCESS(TColor, BorderColor, clBarWindowFrame)
VEMRA_ACCESS(bool, ShowArrows, true)
VEMRA_ACCESS(bool, ShowHandleGrip, true)
VEMRA_ACCESS(TRBStyle, Style, rbsDefault)

#undef VEMRA_ACCESS

void TArrowBarAccess::AssignTo(TPersistent* Dest) {
  auto* d = dynamic_cast<TArrowBarAccess*>(Dest);
  if (d == nullptr) {
    TPersistent::AssignTo(Dest);
    return;
  }
  d->SetBackgnd(Backgnd());
  d->SetButtonSize(ButtonSize());
  d->SetColor(Color());
  d->SetHandleColor(HandleColor());
  d->SetButtonColor(ButtonColor());
  d->SetHighLightColor(HighLightColor());
  d->SetShadowColor(ShadowColor());
  d->SetBorderColor(BorderColor());
  d->SetShowArrows(ShowArrows());
  d->SetShowHandleGrip(ShowHandleGrip());
  d->SetStyle(Style());
}

void TArrowBarAccess::GetPublishedProperties(TPropList& List) const {
  TPersistent::GetPublishedProperties(List);
  List.push_back(PublishedProperty("Color", &TArrowBarAccess::Color, &TArrowBarAccess::SetColor));
  List.push_back(PublishedProperty("Backgnd", &TArrowBarAccess::Backgnd, &TArrowBarAccess::SetBackgnd));
  List.push_back(PublishedProperty("ButtonSize", &TArrowBarAccess::ButtonSize, &TArrowBarAccess::SetButtonSize));
  List.push_back(PublishedProperty("HandleColor", &TArrowBarAccess::HandleColor, &TArrowBarAccess::SetHandleColor));
  List.push_back(PublishedProperty("ButtonColor", &TArrowBarAccess::ButtonColor, &TArrowBarAccess::SetButtonColor));
  List.push_back(
      PublishedProperty("HighLightColor", &TArrowBarAccess::HighLightColor, &TArrowBarAccess::SetHighLightColor));
  List.push_back(PublishedProperty("ShadowColor", &TArrowBarAccess::ShadowColor, &TArrowBarAccess::SetShadowColor));
  List.push_back(PublishedProperty("BorderColor", &TArrowBarAccess::BorderColor, &TArrowBarAccess::SetBorderColor));
  List.push_back(PublishedProperty("ShowArrows", &TArrowBarAccess::ShowArrows, &TArrowBarAccess::SetShowArrows));
  List.push_back(
      PublishedProperty("ShowHandleGrip", &TArrowBarAccess::ShowHandleGrip, &TArrowBarAccess::SetShowHandleGrip));
  List.push_back(PublishedProperty("Style", &TArrowBarAccess::Style, &TArrowBarAccess::SetStyle));
}
