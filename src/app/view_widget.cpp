// The Qt window of a view control: paint, resize and mouse events in, buffer
// rectangles out.
#include "view_widget.h"

#include "qt_messagebox.h"

#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QResizeEvent>
#include <QStyle>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <exception>
#include <string>

#include "raster_image.h"
#include "raster_system.h"
#include "steptrace.h"
#include "utilities.h"

namespace {

TShiftState ShiftOf(Qt::KeyboardModifiers Mods, Qt::MouseButtons Buttons) {
  TShiftState s = 0;
  if (Mods & Qt::ShiftModifier) s |= ssShift;
  if (Mods & Qt::AltModifier) s |= ssAlt;
  if (Mods & Qt::ControlModifier) s |= ssCtrl;
  if (Buttons & Qt::LeftButton) s |= ssLeft;
  if (Buttons & Qt::RightButton) s |= ssRight;
  if (Buttons & Qt::MiddleButton) s |= ssMiddle;
  return s;
}

bool ButtonOf(Qt::MouseButton B, TMouseButton& Out) {
  switch (B) {
    case Qt::LeftButton: Out = mbLeft; return true;
    case Qt::RightButton: Out = mbRight; return true;
    case Qt::MiddleButton: Out = mbMiddle; return true;
    default: return false;
  }
}

Qt::CursorShape ShapeOf(TCursor C) {
  switch (C) {
    case crNone: return Qt::BlankCursor;
    case crCross: return Qt::CrossCursor;
    case crIBeam: return Qt::IBeamCursor;
    case crSizeNESW: return Qt::SizeBDiagCursor;
    case crSizeNS: return Qt::SizeVerCursor;
    case crSizeNWSE: return Qt::SizeFDiagCursor;
    case crSizeWE: return Qt::SizeHorCursor;
    case crUpArrow: return Qt::UpArrowCursor;
    case crHourGlass: return Qt::WaitCursor;
    case crDrag: return Qt::DragMoveCursor;
    case crNo: return Qt::ForbiddenCursor;
    case crHandPoint: return Qt::PointingHandCursor;
    case crSizeAll: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
  }
}

std::map<TCursor, QCursor>& OwnCursors() {
  static std::map<TCursor, QCursor> Cursors;
  return Cursors;
}

TColor ColorFromQt(const QColor& C) {
  return static_cast<TColor>((C.blue() << 16) | (C.green() << 8) | C.red());
}

std::string LoopMessage(const std::exception& E) { return ExceptionMessageText(E.what()); }

}  // namespace

void RegisterScreenCursor(TCursor Id, const QCursor& Cursor) { OwnCursors()[Id] = Cursor; }

TViewWidget::TViewWidget(QWidget* Parent) : QWidget(Parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setAutoFillBackground(false);
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  clock_.start();
}

TViewWidget::~TViewWidget() {
  timers_.clear();
  SetControl(nullptr);
}

void TViewWidget::SetControl(TCustomPaintBox32* NewControl) {
  TCustomPaintBox32* old = Control();
  if (old == NewControl) return;
  // The old control goes back to a window of its own.
  if (old != nullptr) old->SetHost(nullptr);
  if (NewControl != nullptr) NewControl->SetHost(this);
  update();
}

template <class F>
void TViewWidget::Guarded(F&& Fn) {
  try {
    Fn();
  } catch (const std::exception& e) {
    capture_ = false;
    ShowMessageBox(LoopMessage(e), MB_OK | MB_ICONSTOP);
  } catch (...) {
    capture_ = false;
    ShowMessageBox("Unknown exception.", MB_OK | MB_ICONSTOP);
  }
}

void TViewWidget::FitWindowImage() {
  const QSize s = size();
  if (window_.size() == s) return;
  QImage grown(s, QImage::Format_RGB32);
  grown.fill(Qt::black);
  if (!window_.isNull()) {
    QPainter p(&grown);
    p.drawImage(0, 0, window_);
  }
  window_ = std::move(grown);
}

void TViewWidget::Invalidate(const TRect* Area) {
  if (Area != nullptr)
    update(QRect(Area->Left, Area->Top, Area->Right - Area->Left, Area->Bottom - Area->Top));
  else
    update();
}

void TViewWidget::RepaintNow() {
  // Qt refuses a repaint from inside a paint; the paint under way shows it.
  if (painting_) return;
  repaint();
}

void TViewWidget::CopyToWindow(const TBitmap32& Buffer, const TRect& Area) {
  FitWindowImage();
  const int32_t x0 = std::max({Area.Left, 0}), y0 = std::max({Area.Top, 0});
  const int32_t x1 = std::min({Area.Right, Buffer.Width(), window_.width()});
  const int32_t y1 = std::min({Area.Bottom, Buffer.Height(), window_.height()});
  if (x0 >= x1 || y0 >= y1 || Buffer.Empty()) return;
  for (int32_t y = y0; y < y1; ++y) {
    const TColor32* s = Buffer.PixelAddress(x0, y);
    auto* d = reinterpret_cast<uint32_t*>(window_.scanLine(y)) + x0;
    for (int32_t x = x0; x < x1; ++x) *d++ = *s++ | 0xFF000000u;
  }
}

TPixelSurface* TViewWidget::WindowSurface() {
  FitWindowImage();
  if (window_.isNull()) return nullptr;
  surface_.Bits = reinterpret_cast<uint32_t*>(window_.bits());
  surface_.Width = window_.width();
  surface_.Height = window_.height();
  return &surface_;
}

void TViewWidget::SetCursor(TCursor C) {
  cursor_ = C;
  // The default cursor means: the control's own.
  TCursor shown = C;
  if (shown == crDefault && Control() != nullptr) shown = Control()->Cursor();
  if (shown == crDefault) {
    unsetCursor();
    return;
  }
  const auto own = OwnCursors().find(shown);
  if (own != OwnCursors().end())
    setCursor(own->second);
  else
    setCursor(ShapeOf(shown));
}

bool TViewWidget::CanFocus() const { return isEnabled() && focusPolicy() != Qt::NoFocus; }

void TViewWidget::SetFocus() { setFocus(Qt::MouseFocusReason); }

int32_t TViewWidget::StartTimer(uint32_t IntervalMs, TTimerProc Proc) {
  const int32_t id = nextTimerId_++;
  auto t = std::make_unique<QTimer>();
  t->setInterval(static_cast<int>(std::min<uint32_t>(IntervalMs, 0x7FFFFFFF)));
  QObject::connect(t.get(), &QTimer::timeout, this, [this, Proc = std::move(Proc)] {
    Guarded([&] {
      if (Proc) Proc();
    });
  });
  t->start();
  timers_[id] = std::move(t);
  return id;
}

void TViewWidget::StopTimer(int32_t Id) {
  auto it = timers_.find(Id);
  if (it == timers_.end()) return;
  it->second->stop();
  // The timer may be stopping itself from inside its own timeout.
  it->second.release()->deleteLater();
  timers_.erase(it);
}

uint32_t TViewWidget::TickCount() const { return ReadTickCount(); }

int64_t TViewWidget::Microseconds() const { return clock_.nsecsElapsed() / 1000; }

int32_t TViewWidget::ScrollBarThickness() const { return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this); }

void TViewWidget::RequestClientSize(int32_t Width, int32_t Height) { resize(std::max(Width, 0), std::max(Height, 0)); }

TColor TViewWidget::SysColor(int32_t Index) const {
  const QPalette& p = palette();
  switch (Index) {
    case 5: return ColorFromQt(p.color(QPalette::Base));          // window background
    case 8: return ColorFromQt(p.color(QPalette::Text));          // window text
    case 13: return ColorFromQt(p.color(QPalette::Highlight));
    case 14: return ColorFromQt(p.color(QPalette::HighlightedText));
    case 15: return ColorFromQt(p.color(QPalette::Button));       // button face
    case 16: return ColorFromQt(p.color(QPalette::Dark));         // button shadow
    case 18: return ColorFromQt(p.color(QPalette::ButtonText));
    case 20: return ColorFromQt(p.color(QPalette::Light));        // button highlight
    default: return GetSysColor(Index);
  }
}

void TViewWidget::paintEvent(QPaintEvent* Event) {
  TraceStep("view-paint-begin");
  FitWindowImage();
  bool Picture = false;
  if (TCustomPaintBox32* c = Control()) {
    painting_ = true;
    Guarded([&] { c->PaintWindow(); });
    painting_ = false;
    if (auto* Image = dynamic_cast<TCustomImage32*>(c)) Picture = !Image->Bitmap()->Empty();
  }
  QPainter p(this);
  for (const QRect& r : Event->region()) p.drawImage(r, window_, r);
  TraceStep("view-paint-end");
  if (Picture && !firstPictureShown_) {
    firstPictureShown_ = true;
    TraceStep("first-picture-frame");
  }
}

void TViewWidget::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  FitWindowImage();
  if (TCustomPaintBox32* c = Control()) Guarded([&] { c->Resize(); });
}

void TViewWidget::ReleaseHeldButtons(Qt::MouseButtons StillDown) {
  for (Qt::MouseButton q : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
    if (!(held_ & q) || (StillDown & q)) continue;
    held_ &= ~q;
    TMouseButton b;
    TCustomPaintBox32* c = Control();
    if (c == nullptr || !ButtonOf(q, b)) continue;
    Guarded([&] { c->MouseUp(b, ShiftOf(Qt::NoModifier, held_), lastMouse_.x(), lastMouse_.y()); });
  }
}

void TViewWidget::Press(QMouseEvent* Event, TShiftState Extra) {
  TMouseButton b;
  // A button pressed again was released where this widget did not see it.
  ReleaseHeldButtons(Event->buttons() & ~Event->button());
  TCustomPaintBox32* c = Control();
  if (c == nullptr || !ButtonOf(Event->button(), b)) return;
  const QPoint pos = Event->position().toPoint();
  held_ |= Event->button();
  lastMouse_ = pos;
  Guarded([&] { c->MouseDown(b, ShiftOf(Event->modifiers(), Event->buttons()) | Extra, pos.x(), pos.y()); });
}

void TViewWidget::mousePressEvent(QMouseEvent* Event) { Press(Event, 0); }

void TViewWidget::mouseDoubleClickEvent(QMouseEvent* Event) { Press(Event, ssDouble); }

void TViewWidget::mouseMoveEvent(QMouseEvent* Event) {
  ReleaseHeldButtons(Event->buttons());
  TCustomPaintBox32* c = Control();
  if (c == nullptr) return;
  const QPoint pos = Event->position().toPoint();
  lastMouse_ = pos;
  Guarded([&] { c->MouseMove(ShiftOf(Event->modifiers(), Event->buttons()), pos.x(), pos.y()); });
}

void TViewWidget::mouseReleaseEvent(QMouseEvent* Event) {
  ReleaseHeldButtons(Event->buttons() | Event->button());
  TMouseButton b;
  TCustomPaintBox32* c = Control();
  if (c == nullptr || !ButtonOf(Event->button(), b)) return;
  const QPoint pos = Event->position().toPoint();
  held_ &= ~Event->button();
  lastMouse_ = pos;
  Guarded([&] { c->MouseUp(b, ShiftOf(Event->modifiers(), Event->buttons()), pos.x(), pos.y()); });
}

void TViewWidget::enterEvent(QEnterEvent* Event) {
  QWidget::enterEvent(Event);
  if (TCustomPaintBox32* c = Control()) Guarded([&] { c->MouseEnter(); });
}

void TViewWidget::leaveEvent(QEvent* Event) {
  QWidget::leaveEvent(Event);
  if (TCustomPaintBox32* c = Control()) Guarded([&] { c->MouseLeave(); });
}

void TViewWidget::wheelEvent(QWheelEvent* Event) {
  TCustomPaintBox32* c = Control();
  const QPoint d = Event->angleDelta();
  const int32_t Delta = d.y() != 0 ? d.y() : d.x();
  bool Used = false;
  if (c != nullptr && Delta != 0) {
    const QPoint pos = Event->position().toPoint();
    Guarded([&] { Used = c->MouseWheel(ShiftOf(Event->modifiers(), Event->buttons()), Delta, pos.x(), pos.y()); });
  }
  Event->setAccepted(Used);
}
