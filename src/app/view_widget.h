#pragma once
// The Qt window of a view control. The control (a paint box, an image, later
// the scrollable view) keeps all state and paints into its own buffer; this
// widget only hands it the window's size and mouse input and shows what the
// control copies out of its buffer.
//
// The widget is opaque and erases nothing: it keeps an image of its own
// pixels (the "window"), into which the control copies buffer rectangles and
// over which overlay layers draw, and a paint event shows that image. Buffer
// pixels count as opaque whatever their alpha.
#include <QElapsedTimer>
#include <QImage>
#include <QWidget>

#include <map>
#include <memory>

#include "view_host.h"

class QCursor;
class QTimer;

// Screen cursors of the program's own under their numbers (the main window's
// tool cursors 1 to 8); any other number shows the standard shape closest to
// the one it names.
void RegisterScreenCursor(TCursor Id, const QCursor& Cursor);

class TViewWidget : public QWidget, public TViewHost {
 public:
  explicit TViewWidget(QWidget* Parent = nullptr);
  ~TViewWidget() override;

  // Shows Control here (null: nothing). The widget does not own the control;
  // whichever of the two goes first, the other lets go of it.
  void SetControl(TCustomPaintBox32* Control);

  // Ends, for the control, the presses it holds other than StillDown, at the
  // last mouse point: a popup opened by a press takes its release, which then
  // never comes here, and a layer would go on dragging. The window calls it
  // as it opens a popup; a later event that shows a button up does too.
  void ReleaseHeldButtons(Qt::MouseButtons StillDown = Qt::NoButton);

  // The TCursor last asked for, as shown.
  TCursor CurrentCursor() const { return cursor_; }
  // The window's pixels as last painted.
  const QImage& WindowImage() const { return window_; }

  // ---- TViewHost -------------------------------------------------------------------
  TPoint ClientSize() const override { return TPoint{width(), height()}; }
  void Invalidate(const TRect* Area) override;
  void RepaintNow() override;
  void CopyToWindow(const TBitmap32& Buffer, const TRect& Area) override;
  TPixelSurface* WindowSurface() override;
  void SetMouseCapture(bool Capture) override { capture_ = Capture; }
  bool MouseCapture() const override { return capture_; }
  void SetCursor(TCursor Cursor) override;
  bool CanFocus() const override;
  void SetFocus() override;
  int32_t StartTimer(uint32_t IntervalMs, TTimerProc Proc) override;
  void StopTimer(int32_t Id) override;
  uint32_t TickCount() const override;
  int64_t Microseconds() const override;
  int32_t ScrollBarThickness() const override;
  void RequestClientSize(int32_t Width, int32_t Height) override;
  TColor SysColor(int32_t Index) const override;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  // The control gets the wheel first; what it leaves goes on to the parent.
  void wheelEvent(QWheelEvent* Event) override;

 private:
  // Runs one call into the control; an exception ends any mouse capture and
  // is shown in the application's message box instead of leaving Qt's loop.
  template <class F>
  void Guarded(F&& Fn);
  void FitWindowImage();
  void Press(QMouseEvent* Event, TShiftState Extra);

  QImage window_;
  TPixelSurface surface_;
  bool painting_ = false;
  bool firstPictureShown_ = false;
  bool capture_ = false;
  Qt::MouseButtons held_;  // pressed for the control and not yet released
  QPoint lastMouse_;       // where the control last heard of the mouse
  TCursor cursor_ = crDefault;
  QElapsedTimer clock_;
  int32_t nextTimerId_ = 1;
  std::map<int32_t, std::unique_ptr<QTimer>> timers_;
};
