#pragma once
// The scrollable image view: the image control with two range bars as its
// scroll bars, an optional margin around the image (OverSize), centring of an
// image smaller than the viewport, and a size grip in the corner between the
// bars. The main window's document view is one.
//
// The bars are child controls: each paints through a child host that places
// it inside the view's window, and the view hands them the mouse events that
// fall on them, the way a window system routes input to child windows.
#include <cstdint>
#include <functional>
#include <memory>

#include "raster_image.h"
#include "raster_rangebars.h"

enum TScrollBarVisibility : uint8_t { svAlways, svHidden, svAuto };
enum TSizeGripStyle : uint8_t { sgAuto, sgNone, sgAlways };

class TCustomImgView32;
class TBarChildHost;

// The look of both scroll bars, their arrow step, their thickness and when
// they show.
class TIVScrollProperties : public TArrowBarAccess {
  VEMRA_CLASS(TIVScrollProperties, TArrowBarAccess)
 public:
  explicit TIVScrollProperties(TCustomImgView32* ImgView = nullptr);

  // Both bars' arrow step, read from the horizontal bar.
  int32_t Increment() const;
  void SetIncrement(int32_t Value);
  // The bar thickness; 0: the system's horizontal scroll-bar height.
  int32_t Size() const { return FSize; }
  void SetSize(int32_t Value);
  TScrollBarVisibility Visibility() const { return FVisibility; }
  void SetVisibility(TScrollBarVisibility Value);

  void AssignTo(TPersistent* Dest) override;
  void GetPublishedProperties(TPropList& List) const override;

 private:
  TCustomImgView32* FImgView;
  int32_t FSize = 0;
  TScrollBarVisibility FVisibility = svAlways;
};

class TCustomImgView32 : public TCustomImage32 {
  VEMRA_CLASS(TCustomImgView32, TCustomImage32)
 public:
  explicit TCustomImgView32(TViewHost* Host = nullptr);
  ~TCustomImgView32() override;

  TCustomRangeBar* HScroll() const { return FHScroll.get(); }
  TCustomRangeBar* VScroll() const { return FVScroll.get(); }

  bool Centered() const { return FCentered; }
  // Stores and recentres.
  void SetCentered(bool Value);
  // A margin in bitmap pixels around the image.
  int32_t OverSize() const { return FOverSize; }
  void SetOverSize(int32_t Value);
  TIVScrollProperties* ScrollBars() const { return FScrollBars.get(); }
  // Copies Value's settings.
  void SetScrollBars(const TIVScrollProperties* Value);
  TSizeGripStyle SizeGrip() const { return FSizeGrip; }
  void SetSizeGrip(TSizeGripStyle Value);
  // For sgAuto: the window that places the view says whether the view and
  // every parent up to its form fill their parents' client areas.
  bool ParentClientAligned() const { return FParentClientAligned; }
  void SetParentClientAligned(bool Value);

  // Moves both bars by Dx and Dy scaled pixels and places the image.
  void Scroll(float Dx, float Dy);
  // Scrolls so that the bitmap point (X, Y) is in the middle of the viewport.
  void ScrollToCenter(int32_t X, int32_t Y);

  // The bars' thickness, 0 while they are hidden.
  int32_t GetScrollBarSize();
  bool GetScrollBarsVisible();
  bool IsSizeGripVisible();
  TRect GetSizeGripRect();
  // Lays the bars out along the viewport's bottom and right edges.
  void AlignAll();
  // Runs the recentring after Centered or the scale mode changed.
  void Recenter();
  bool Scrolling() const { return FScrolling; }

  // After the stored properties are loaded.
  void Loaded();

  TNotifyEvent OnScroll;
  // A press on the visible size grip asks the form to be resized from its
  // bottom right corner; unassigned, the view has no form to ask.
  TNotifyEvent OnSizeGripResize;

  // ---- Overrides -------------------------------------------------------------------------
  TRect GetViewportRect() override;
  void BitmapResized() override;
  void DoScaleChange() override;
  void SetScaleMode(TScaleMode Value) override;
  void Paint() override;
  void Resize() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseLeave() override;
  // The wheel over a visible bar moves that bar; true when a bar took it.
  bool MouseWheel(TShiftState Shift, int32_t WheelDelta, int32_t X, int32_t Y) override;

  // ---- Virtual operations (in this order) --------------------------------------------------
  virtual void DoScroll();
  virtual void ScrollHandler(void* Sender);
  virtual void UpdateImage();
  virtual void UpdateScrollBars();

 protected:
  // The visible bar under the control point, or null.
  TCustomRangeBar* BarAt(int32_t X, int32_t Y);
  TBarChildHost* HostOf(const TCustomRangeBar* Bar) const;
  void PaintSizeGrip();
  int32_t ScaledOverSize() const;

  // The hosts outlive the bars that paint through them.
  std::unique_ptr<TBarChildHost> FHScrollHost;
  std::unique_ptr<TBarChildHost> FVScrollHost;
  std::unique_ptr<TCustomRangeBar> FHScroll;
  std::unique_ptr<TCustomRangeBar> FVScroll;
  std::unique_ptr<TIVScrollProperties> FScrollBars;
  bool FCentered = true;
  int32_t FOverSize = 0;
  TSizeGripStyle FSizeGrip = sgAuto;
  bool FParentClientAligned = false;
  bool FScrolling = false;
  TCustomRangeBar* FPressedBar = nullptr;  // the bar that has the mouse until release
  TCustomRangeBar* FHoverBar = nullptr;
  bool FGripCursor = false;
};

// The scrollable view the windows use.
class TImgView32 : public TCustomImgView32 {
  VEMRA_CLASS(TImgView32, TCustomImgView32)
 public:
  using TCustomImgView32::TCustomImgView32;
  // The image control's properties, then Centered, OverSize, ScrollBars,
  // SizeGrip and OnScroll.
  void GetPublishedProperties(TPropList& List) const override;
};
