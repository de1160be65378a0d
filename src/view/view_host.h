#pragma once
// What a view control needs from the window that shows it. The controls of
// this folder hold all their state and paint into a TBitmap32 of their own;
// the window (a Qt widget in the application, a recording stand-in in tests,
// nothing at all when the editor drives a view headless) only reports its
// size and input and copies finished pixels to the screen.
//
// TNullViewHost is a window that exists nowhere: it keeps a client size and
// answers every request quietly. TRecordingViewHost also remembers what was
// asked of it, keeps a "screen" bitmap that receives the copies, and runs
// its timers on a TFakeClock, so a test can watch a control from outside.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "raster_core.h"

class TCustomPaintBox32;

// Screen cursors, with the class library's numbers.
using TCursor = int32_t;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crDrag = -12;
constexpr TCursor crNo = -18;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSizeAll = -22;

enum TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };

// Keys and buttons held while a mouse event happened.
using TShiftState = uint32_t;
constexpr TShiftState ssShift = 1u << 0;
constexpr TShiftState ssAlt = 1u << 1;
constexpr TShiftState ssCtrl = 1u << 2;
constexpr TShiftState ssLeft = 1u << 3;
constexpr TShiftState ssRight = 1u << 4;
constexpr TShiftState ssMiddle = 1u << 5;
constexpr TShiftState ssDouble = 1u << 6;

// System colours a control may be painted with (the class library's
// negative colour values: 0xFF000000 or the system colour index).
constexpr TColor clScrollBar = static_cast<TColor>(0xFF000000u);
constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000Fu);
constexpr TColor clWindow = static_cast<TColor>(0xFF000005u);
constexpr TColor clWindowText = static_cast<TColor>(0xFF000008u);
constexpr TColor clHighlight = static_cast<TColor>(0xFF00000Du);

// Called by a host timer.
using TTimerProc = std::function<void()>;

// The window side of a view control. Every request is one that the control
// may make at any time; a host that has no real window answers harmlessly.
class TViewHost {
 public:
  virtual ~TViewHost() = default;

  // Width and height of the window's client area in pixels.
  virtual TPoint ClientSize() const = 0;
  // Asks for a paint of Area (or of the whole client area) later; nothing is
  // erased first.
  virtual void Invalidate(const TRect* Area) = 0;
  // Paints now whatever is waiting, through the control's PaintWindow.
  virtual void RepaintNow() = 0;
  // While the control paints: copies the Area of Buffer to the same place of
  // the window. Buffer pixels count as opaque.
  virtual void CopyToWindow(const TBitmap32& Buffer, const TRect& Area) = 0;
  // The window's pixels as they stand during a paint, for layers that draw
  // over the copied buffer; null when the host has none.
  virtual TPixelSurface* WindowSurface() = 0;
  // Mouse capture: all mouse events go to the control until released.
  virtual void SetMouseCapture(bool Capture) = 0;
  virtual bool MouseCapture() const = 0;
  // The screen cursor shown over the control.
  virtual void SetCursor(TCursor Cursor) = 0;
  // Keyboard focus.
  virtual bool CanFocus() const = 0;
  virtual void SetFocus() = 0;
  // A repeating timer; the id is positive. Stopping an unknown id does nothing.
  virtual int32_t StartTimer(uint32_t IntervalMs, TTimerProc Proc) = 0;
  virtual void StopTimer(int32_t Id) = 0;
  // Waits on the user-interface thread: what an animation that must end
  // before its caller returns does between frames.
  virtual void Sleep(uint32_t Milliseconds);
  // Milliseconds since an arbitrary start, wrapping at 2^32.
  virtual uint32_t TickCount() const = 0;
  // Microseconds on a monotonic clock, for timing repaints.
  virtual int64_t Microseconds() const = 0;
  // The system's horizontal scroll-bar height in pixels.
  virtual int32_t ScrollBarThickness() const = 0;
  // The control asks for another client size (an auto-sizing image); the
  // window resizes when it can and then calls the control's Resize.
  virtual void RequestClientSize(int32_t Width, int32_t Height) = 0;
  // The platform colour of system colour Index (0..30).
  virtual TColor SysColor(int32_t Index) const = 0;

  // The control that paints through this host, told by the control itself.
  void Attach(TCustomPaintBox32* Control) { control_ = Control; }
  void Detach(TCustomPaintBox32* Control) {
    if (control_ == Control) control_ = nullptr;
  }
  TCustomPaintBox32* Control() const { return control_; }

 private:
  TCustomPaintBox32* control_ = nullptr;
};

// A window that exists nowhere: a stored client size (192 x 192 at first),
// no paints, no capture, the real clocks and the engine's system colours.
class TNullViewHost : public TViewHost {
 public:
  TNullViewHost() = default;
  TNullViewHost(int32_t Width, int32_t Height) : size_{Width, Height} {}

  // Stores the size; the control learns of it through its Resize.
  void SetClientSize(int32_t Width, int32_t Height) { size_ = TPoint{Width, Height}; }

  TPoint ClientSize() const override { return size_; }
  void Invalidate(const TRect*) override {}
  void RepaintNow() override {}
  void CopyToWindow(const TBitmap32&, const TRect&) override {}
  TPixelSurface* WindowSurface() override { return nullptr; }
  void SetMouseCapture(bool Capture) override { capture_ = Capture; }
  bool MouseCapture() const override { return capture_; }
  void SetCursor(TCursor Cursor) override { cursor_ = Cursor; }
  TCursor Cursor() const { return cursor_; }
  bool CanFocus() const override { return false; }
  void SetFocus() override {}
  int32_t StartTimer(uint32_t, TTimerProc) override { return 0; }
  void StopTimer(int32_t) override {}
  uint32_t TickCount() const override;
  int64_t Microseconds() const override;
  int32_t ScrollBarThickness() const override { return 17; }
  void RequestClientSize(int32_t Width, int32_t Height) override;
  TColor SysColor(int32_t Index) const override { return GetSysColor(Index); }

 private:
  TPoint size_{192, 192};
  bool capture_ = false;
  TCursor cursor_ = crDefault;
};

// A clock that moves only when told; it fires the timers of the hosts that
// use it as their due times pass.
class TFakeClock {
 public:
  uint32_t TickCount() const { return static_cast<uint32_t>(micro_ / 1000); }
  int64_t Microseconds() const { return micro_; }
  // Moves the clock forward, firing each due timer in time order.
  void Advance(uint32_t Milliseconds);
  void AdvanceMicroseconds(int64_t Microseconds) { micro_ += Microseconds; }

  int32_t StartTimer(uint32_t IntervalMs, TTimerProc Proc);
  void StopTimer(int32_t Id);
  size_t TimerCount() const { return timers_.size(); }

 private:
  struct TTimer {
    uint32_t Interval;
    int64_t Due;  // microseconds
    TTimerProc Proc;
  };
  int64_t micro_ = 0;
  int32_t nextId_ = 1;
  std::map<int32_t, TTimer> timers_;
};

// One request a control made of its window.
enum class THostCall : uint8_t {
  Invalidate,
  RepaintNow,
  CopyToWindow,
  SetCapture,
  SetCursor,
  SetFocus,
  StartTimer,
  StopTimer,
};

struct THostRecord {
  THostCall Call;
  TRect Area;         // Invalidate (the whole client area when none was given), CopyToWindow
  int32_t Value = 0;  // SetCapture 0/1, SetCursor, timer id
};

// A window for tests: records every request, keeps a screen bitmap of the
// client size that CopyToWindow fills, and paints on RepaintNow (at once) or
// on ProcessPaint (what an event loop would do after Invalidate).
class TRecordingViewHost : public TNullViewHost {
 public:
  explicit TRecordingViewHost(int32_t Width = 192, int32_t Height = 192, TFakeClock* Clock = nullptr);
  ~TRecordingViewHost() override;

  // Runs the control's paint when an invalidation is waiting; true when it painted.
  bool ProcessPaint();
  bool PaintPending() const { return pending_; }

  void Invalidate(const TRect* Area) override;
  void RepaintNow() override;
  void CopyToWindow(const TBitmap32& Buffer, const TRect& Area) override;
  TPixelSurface* WindowSurface() override;
  void SetMouseCapture(bool Capture) override;
  void SetCursor(TCursor Cursor) override;
  bool CanFocus() const override { return canFocus_; }
  void SetCanFocus(bool Value) { canFocus_ = Value; }
  void SetFocus() override;
  bool Focused() const { return focused_; }
  int32_t StartTimer(uint32_t IntervalMs, TTimerProc Proc) override;
  void StopTimer(int32_t Id) override;
  // With a fake clock the clock moves instead, firing the timers due meanwhile.
  void Sleep(uint32_t Milliseconds) override;
  uint32_t TickCount() const override;
  int64_t Microseconds() const override;
  int32_t ScrollBarThickness() const override { return scrollBar_; }
  void SetScrollBarThickness(int32_t Value) { scrollBar_ = Value; }
  TColor SysColor(int32_t Index) const override;
  // Replaces one system colour.
  void SetSysColor(int32_t Index, TColor Value) { sysColors_[Index] = Value; }

  const std::vector<THostRecord>& Records() const { return records_; }
  // The records of one kind, in order.
  std::vector<THostRecord> RecordsOf(THostCall Call) const;
  size_t CountOf(THostCall Call) const;
  void ClearRecords() { records_.clear(); }
  // What the window shows: the client size, filled by the copies.
  TBitmap32& Screen() { return screen_; }

 private:
  void FitScreen();

  TFakeClock* clock_;
  std::vector<THostRecord> records_;
  TBitmap32 screen_;
  TPixelSurface surface_;
  bool pending_ = false;
  bool painting_ = false;
  bool canFocus_ = true;
  bool focused_ = false;
  int32_t scrollBar_ = 17;
  std::map<int32_t, TColor> sysColors_;
};
