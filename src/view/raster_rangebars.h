#pragma once
// Scroll-bar-like controls that draw themselves. TArrowBar is the common
// part: two arrow buttons, a track and a handle, the zones the mouse can hit,
// auto-repeat by timer and hot tracking. TCustomRangeBar scrolls a window
// over a range with a float position (the scrollable view's two bars);
// TCustomGaugeBar is an integer slider between Min and Max (the tool bar's
// alpha, size and density gauges). TArrowBarAccess forwards the look of one
// or two bars as properties of another object.
//
// A bar is a paint box: it renders into its buffer and its window (a
// TViewHost) shows it, so a bar can live in a window of its own or, through a
// child host, inside another control.
#include <cstdint>

#include "raster_image.h"

// System colours a bar is painted with by default.
constexpr TColor clBarBtnShadow = static_cast<TColor>(0xFF000010u);
constexpr TColor clBarBtnHighlight = static_cast<TColor>(0xFF000014u);
constexpr TColor clBarWindowFrame = static_cast<TColor>(0xFF000006u);
constexpr TColor clBarBtnText = static_cast<TColor>(0xFF000012u);
constexpr TColor clBarGrayText = static_cast<TColor>(0xFF000011u);
constexpr TColor clBar3DDkShadow = static_cast<TColor>(0xFF000015u);

enum TRBBackgnd : uint8_t { bgPattern, bgSolid };
enum TRBStyle : uint8_t { rbsDefault, rbsMac };
enum TRBDirection : uint8_t { drLeft, drUp, drRight, drDown };
enum TScrollBarKind : uint8_t { sbHorizontal, sbVertical };
enum TBorderStyle : uint8_t { bsNone, bsSingle };

// The zones along a bar.
enum TRBZone : uint8_t { zNone = 0, zBtnPrev = 1, zTrackPrev = 2, zHandle = 3, zTrackNext = 4, zBtnNext = 5 };

// Timer modes: the first delay of auto-repeat, repeating, hot tracking.
constexpr int32_t tmNone = 0;
constexpr int32_t tmFirstDelay = 1;
constexpr int32_t tmRepeat = 2;
constexpr int32_t tmHotTrack = 3;

class TArrowBar : public TCustomPaintBox32 {
  VEMRA_CLASS(TArrowBar, TCustomPaintBox32)
 public:
  // Host null: a window of its own, 100 x 16.
  explicit TArrowBar(TViewHost* Host = nullptr);
  ~TArrowBar() override;

  // ---- Look ---------------------------------------------------------------------------
  TRBBackgnd Backgnd() const { return FBackgnd; }
  void SetBackgnd(TRBBackgnd Value);
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle Value);
  // 0: automatic (the bar's thickness, at most 32).
  int32_t ButtonSize() const { return FButtonSize; }
  void SetButtonSize(int32_t Value);
  TScrollBarKind Kind() const { return FKind; }
  virtual void SetKind(TScrollBarKind Value);
  bool ShowArrows() const { return FShowArrows; }
  void SetShowArrows(bool Value);
  bool ShowHandleGrip() const { return FShowHandleGrip; }
  void SetShowHandleGrip(bool Value);
  TRBStyle Style() const { return FStyle; }
  void SetStyle(TRBStyle Value);
  TColor HandleColor() const { return FHandleColor; }
  void SetHandleColor(TColor Value);
  TColor ButtonColor() const { return FButtonColor; }
  void SetButtonColor(TColor Value);
  TColor HighLightColor() const { return FHighLightColor; }
  void SetHighLightColor(TColor Value);
  TColor ShadowColor() const { return FShadowColor; }
  void SetShadowColor(TColor Value);
  TColor BorderColor() const { return FBorderColor; }
  void SetBorderColor(TColor Value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);

  // ---- Geometry (client coordinates: inside the border) ---------------------------------
  // The width of the border on each side: 2 for the sunken single border.
  int32_t BorderWidth() const { return FBorderStyle == bsSingle ? 2 : 0; }
  int32_t ClientWidth() const;
  int32_t ClientHeight() const;
  // The length of each arrow button along the bar; 0 without arrows.
  int32_t GetButtonSize() const;
  // The client rectangle without the two buttons.
  TRect GetTrackBoundary() const;
  TRect GetBtnPrevRect() const;
  TRect GetBtnNextRect() const;
  TRect GetTrackPrevRect() const;
  TRect GetTrackNextRect() const;
  TRBZone GetZone(int32_t X, int32_t Y) const;
  TRBZone DragZone() const { return FDragZone; }
  TRBZone HotZone() const { return FHotZone; }
  int32_t TimerMode() const { return FTimerMode; }

  // ---- Host entry points ----------------------------------------------------------------
  void Resize() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseLeave() override;
  // The mouse wheel; WheelDelta is 120 per notch. True when handled.
  bool MouseWheel(TShiftState Shift, int32_t WheelDelta, int32_t X, int32_t Y) override;

  TNotifyEvent OnChange;
  // Only changes the user made with the mouse.
  TNotifyEvent OnUserChange;

  // ---- Virtual operations (in this order) ------------------------------------------------
  virtual void DoChange();
  virtual void DoDrawButton(const TRect& R, TRBDirection Direction, bool Pushed, bool Enabled, bool Hot);
  virtual void DoDrawHandle(const TRect& R, bool Horz, bool Pushed, bool Hot);
  virtual void DoDrawTrack(const TRect& R, TRBDirection Direction, bool Pushed, bool Enabled, bool Hot);
  virtual bool DrawEnabled() const;
  // The handle in client coordinates; empty when there is none.
  virtual TRect GetHandleRect() const;
  virtual void StopHotTracking();
  virtual void TimerHandler();

 protected:
  void DoPaintBuffer() override;
  // Colours resolved through the window (system colours).
  TColor32 Resolve(TColor C) const;
  // Whether a press may start anything (a range bar with nothing to scroll says no).
  virtual bool AcceptsPress() const { return true; }
  // The position at the start of a handle drag is kept.
  virtual void BeginHandleDrag() {}
  // Moves the handle by D pixels along the axis from where the drag began.
  virtual void DragHandle(int32_t D) { (void)D; }
  // One auto-repeat step for the drag zone; false when an arrow step could
  // not move the position (a limit was reached).
  virtual bool Step() { return true; }
  // The mouse's last client position, clamped into the client area.
  TPoint ClampedMouse() const;
  void StartTimer(uint32_t Interval, int32_t Mode);
  void StopTimer();
  void StartHotTracking();
  // One auto-repeat step by the drag zone, as a change made by the user; an
  // arrow step that cannot move switches the timer to hot tracking.
  void RepeatStep();
  // Length along the axis of a rectangle, and the client length of the bar.
  int32_t AxisLength(const TRect& R) const;
  // The handle of length Len placed Off pixels along the track, clamped into it.
  TRect PlaceHandle(const TRect& Track, int32_t Off, int32_t Len) const;
  int32_t BarLength() const;
  int32_t BarThickness() const;

  TRBBackgnd FBackgnd = bgPattern;
  TBorderStyle FBorderStyle = bsSingle;
  int32_t FButtonSize = 0;
  TScrollBarKind FKind = sbHorizontal;
  bool FShowArrows = true;
  bool FShowHandleGrip = true;
  TRBStyle FStyle = rbsDefault;
  TColor FHandleColor = clBarBtnShadow;
  TColor FButtonColor = clBtnFace;
  TColor FHighLightColor = clBarBtnHighlight;
  TColor FShadowColor = clBarBtnShadow;
  TColor FBorderColor = clBarWindowFrame;
  bool FEnabled = true;

  TRBZone FDragZone = zNone;
  TRBZone FHotZone = zNone;
  TPoint FStackedAt;      // where the press was, client coordinates
  TPoint FMousePos;       // the last client position the mouse was seen at
  bool FMouseInside = false;
  int32_t FTimerId = 0;
  bool FTimerRunning = false;
  int32_t FTimerMode = tmNone;
  uint32_t FTimerInterval = 0;
  bool FGenChange = false;  // the change under way comes from the mouse
};

class TCustomRangeBar : public TArrowBar {
  VEMRA_CLASS(TCustomRangeBar, TArrowBar)
 public:
  explicit TCustomRangeBar(TViewHost* Host = nullptr);

  bool Centered() const { return FCentered; }
  void SetCentered(bool Value) { FCentered = Value; }
  int32_t Increment() const { return FIncrement; }
  void SetIncrement(int32_t Value) { FIncrement = Value; }
  int32_t Range() const { return FRange; }
  void SetRange(int32_t Value) { SetParams(Value, FWindow); }
  int32_t Window() const { return FWindow; }
  void SetWindow(int32_t Value) { SetParams(FRange, Value); }
  // Range and window together, negatives taken as 0; a centred bar keeps its centre.
  void SetParams(int32_t NewRange, int32_t NewWindow);
  float Position() const { return FPosition; }
  // Limited to range - effective window, then to 0.
  void SetPosition(float Value);
  // Window, or the bar's length when Window is 0.
  int32_t EffectiveWindow() const { return FEffectiveWindow; }

  void Resize() override;
  void SetKind(TScrollBarKind Value) override;
  bool MouseWheel(TShiftState Shift, int32_t WheelDelta, int32_t X, int32_t Y) override;
  bool DrawEnabled() const override;
  TRect GetHandleRect() const override;

 protected:
  bool AcceptsPress() const override { return int64_t{FRange} > FEffectiveWindow; }
  void BeginHandleDrag() override { FPosBeforeDrag = FPosition; }
  void DragHandle(int32_t D) override;
  bool Step() override;
  void UpdateEffectiveWindow();
  // Applies the limits to FPosition and reports a change from Old.
  void AdjustPosition();
  void PositionChanged(float Old);
  // Keeps the centre across a change of range or window.
  void KeepCentre(int32_t OldRange, int32_t OldWindow);

  bool FCentered = false;
  int32_t FIncrement = 8;
  int32_t FRange = 0;
  int32_t FWindow = 0;
  int32_t FEffectiveWindow = 0;
  float FPosition = 0;
  float FPosBeforeDrag = 0;
};

class TRangeBar : public TCustomRangeBar {
  VEMRA_CLASS(TRangeBar, TCustomRangeBar)
 public:
  using TCustomRangeBar::TCustomRangeBar;
  void GetPublishedProperties(TPropList& List) const override;
};

class TCustomGaugeBar : public TArrowBar {
  VEMRA_CLASS(TCustomGaugeBar, TArrowBar)
 public:
  explicit TCustomGaugeBar(TViewHost* Host = nullptr);

  // 0: square (the bar's thickness).
  int32_t HandleSize() const { return FHandleSize; }
  void SetHandleSize(int32_t Value);
  int32_t LargeChange() const { return FLargeChange; }
  void SetLargeChange(int32_t Value) { FLargeChange = Value < 1 ? 1 : Value; }
  int32_t SmallChange() const { return FSmallChange; }
  void SetSmallChange(int32_t Value) { FSmallChange = Value < 1 ? 1 : Value; }
  int32_t Max() const { return FMax; }
  // A value not above Min becomes Min + 1 (not while loading).
  void SetMax(int32_t Value);
  int32_t Min() const { return FMin; }
  // A value not below Max becomes Max - 1 (not while loading).
  void SetMin(int32_t Value);
  int32_t Position() const { return FPosition; }
  // Limited to Min..Max.
  void SetPosition(int32_t Value);
  // While the stored properties are read, Min and Max take any value.
  bool Loading() const { return FLoading; }
  void SetLoading(bool Value) { FLoading = Value; }
  // After loading: the position is limited to the final Min..Max.
  void Loaded();

  bool MouseWheel(TShiftState Shift, int32_t WheelDelta, int32_t X, int32_t Y) override;
  TRect GetHandleRect() const override;

 protected:
  void BeginHandleDrag() override { FPosBeforeDrag = FPosition; }
  void DragHandle(int32_t D) override;
  bool Step() override;
  void SetPosition64(int64_t Value);
  int32_t HandleLength() const;

  int32_t FHandleSize = 0;
  int32_t FLargeChange = 1;
  int32_t FSmallChange = 1;
  int32_t FMax = 100;
  int32_t FMin = 0;
  int32_t FPosition = 0;
  int32_t FPosBeforeDrag = 0;
  bool FLoading = false;
};

class TGaugeBar : public TCustomGaugeBar {
  VEMRA_CLASS(TGaugeBar, TCustomGaugeBar)
 public:
  using TCustomGaugeBar::TCustomGaugeBar;
  void GetPublishedProperties(TPropList& List) const override;
};

// The look of a master bar as properties: reading asks the master, writing
// sets the master and the optional second bar.
class TArrowBarAccess : public TPersistent {
  VEMRA_CLASS(TArrowBarAccess, TPersistent)
 public:
  TArrowBarAccess() = default;
  TArrowBarAccess(TArrowBar* Master, TArrowBar* Slave) : FMaster(Master), FSlave(Slave) {}

  TArrowBar* Master() const { return FMaster; }
  void SetMaster(TArrowBar* Value) { FMaster = Value; }
  TArrowBar* Slave() const { return FSlave; }
  void SetSlave(TArrowBar* Value) { FSlave = Value; }

  TRBBackgnd Backgnd() const;
  void SetBackgnd(TRBBackgnd Value);
  int32_t ButtonSize() const;
  void SetButtonSize(int32_t Value);
  TColor Color() const;
  void SetColor(TColor Value);
  TColor HandleColor() const;
  void SetHandleColor(TColor Value);
  TColor ButtonColor() const;
  void SetButtonColor(TColor Value);
  TColor HighLightColor() const;
  void SetHighLightColor(TColor Value);
  TColor ShadowColor() const;
  void SetShadowColor(TColor Value);
  TColor BorderColor() const;
  void SetBorderColor(TColor Value);
  bool ShowArrows() const;
  void SetShowArrows(bool Value);
  bool ShowHandleGrip() const;
  void SetShowHandleGrip(bool Value);
  TRBStyle Style() const;
  void SetStyle(TRBStyle Value);

  // Another access object copies its master's look into this one's bars.
  void AssignTo(TPersistent* Dest) override;
  void GetPublishedProperties(TPropList& List) const override;

 protected:
  // Runs Fn on the master and the second bar, whichever exist.
  template <class F>
  void Both(F&& Fn) {
    if (FMaster) Fn(*FMaster);
    if (FSlave) Fn(*FSlave);
  }

  TArrowBar* FMaster = nullptr;
  TArrowBar* FSlave = nullptr;
};
