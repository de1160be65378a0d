// The window-less hosts of the view controls: one that only keeps a size, and
// one for tests that records every request and paints onto a screen bitmap.
#include "view_host.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "raster_image.h"
#include "raster_system.h"

void TViewHost::Sleep(uint32_t Milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds)); }

uint32_t TNullViewHost::TickCount() const { return ReadTickCount(); }

int64_t TNullViewHost::Microseconds() const {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void TNullViewHost::RequestClientSize(int32_t Width, int32_t Height) {
  if (size_ == TPoint{Width, Height}) return;
  size_ = TPoint{Width, Height};
  if (Control() != nullptr) Control()->Resize();
}

// ---- TFakeClock -----------------------------------------------------------------

void TFakeClock::Advance(uint32_t Milliseconds) {
  const int64_t target = micro_ + int64_t{Milliseconds} * 1000;
  for (;;) {
    // The earliest due timer not beyond the target; a timer may stop or
    // start timers, so look again after every call.
    auto next = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it)
      if (it->second.Due <= target && (next == timers_.end() || it->second.Due < next->second.Due)) next = it;
    if (next == timers_.end()) break;
    micro_ = std::max(micro_, next->second.Due);
    next->second.Due += int64_t{std::max<uint32_t>(next->second.Interval, 1)} * 1000;
    TTimerProc proc = next->second.Proc;  // the timer may be stopped inside
    if (proc) proc();
  }
  micro_ = target;
}

int32_t TFakeClock::StartTimer(uint32_t IntervalMs, TTimerProc Proc) {
  const int32_t id = nextId_++;
  timers_[id] = TTimer{IntervalMs, micro_ + int64_t{std::max<uint32_t>(IntervalMs, 1)} * 1000, std::move(Proc)};
  return id;
}

void TFakeClock::StopTimer(int32_t Id) { timers_.erase(Id); }

// ---- TRecordingViewHost ------------------------------------------------------------

TRecordingViewHost::TRecordingViewHost(int32_t Width, int32_t Height, TFakeClock* Clock)
    : TNullViewHost(Width, Height), clock_(Clock) {}

TRecordingViewHost::~TRecordingViewHost() = default;

void TRecordingViewHost::FitScreen() {
  const TPoint s = ClientSize();
  if (screen_.Width() != std::max(s.X, 0) || screen_.Height() != std::max(s.Y, 0))
    screen_.SetSize(std::max(s.X, 0), std::max(s.Y, 0));
}

bool TRecordingViewHost::ProcessPaint() {
  if (!pending_ || Control() == nullptr) return false;
  pending_ = false;
  painting_ = true;
  try {
    Control()->PaintWindow();
  } catch (...) {
    painting_ = false;
    throw;
  }
  painting_ = false;
  return true;
}

void TRecordingViewHost::Invalidate(const TRect* Area) {
  const TPoint s = ClientSize();
  records_.push_back(THostRecord{THostCall::Invalidate, Area ? *Area : TRect{0, 0, s.X, s.Y}, 0});
  pending_ = true;
}

void TRecordingViewHost::RepaintNow() {
  records_.push_back(THostRecord{THostCall::RepaintNow, TRect{}, 0});
  // A window paints only what is invalid; a repaint inside a paint is ignored
  // the way a window system ignores it.
  if (painting_) return;
  pending_ = true;
  ProcessPaint();
}

void TRecordingViewHost::CopyToWindow(const TBitmap32& Buffer, const TRect& Area) {
  records_.push_back(THostRecord{THostCall::CopyToWindow, Area, 0});
  FitScreen();
  TRect r;
  if (!IntersectRects(r, Area, screen_.BoundsRect()) || IsRectEmpty(r)) return;
  TRect b;
  if (!IntersectRects(b, r, Buffer.BoundsRect()) || IsRectEmpty(b)) return;
  for (int32_t y = b.Top; y < b.Bottom; ++y)
    for (int32_t x = b.Left; x < b.Right; ++x) screen_.SetPixel(x, y, Buffer.GetPixel(x, y) | 0xFF000000u);
}

TPixelSurface* TRecordingViewHost::WindowSurface() {
  FitScreen();
  surface_ = screen_.Canvas();
  return &surface_;
}

void TRecordingViewHost::SetMouseCapture(bool Capture) {
  records_.push_back(THostRecord{THostCall::SetCapture, TRect{}, Capture ? 1 : 0});
  TNullViewHost::SetMouseCapture(Capture);
}

void TRecordingViewHost::SetCursor(TCursor Cursor) {
  records_.push_back(THostRecord{THostCall::SetCursor, TRect{}, Cursor});
  TNullViewHost::SetCursor(Cursor);
}

void TRecordingViewHost::SetFocus() {
  records_.push_back(THostRecord{THostCall::SetFocus, TRect{}, 0});
  if (canFocus_) focused_ = true;
}

int32_t TRecordingViewHost::StartTimer(uint32_t IntervalMs, TTimerProc Proc) {
  const int32_t id = clock_ ? clock_->StartTimer(IntervalMs, std::move(Proc)) : 0;
  records_.push_back(THostRecord{THostCall::StartTimer, TRect{}, id});
  return id;
}

void TRecordingViewHost::StopTimer(int32_t Id) {
  records_.push_back(THostRecord{THostCall::StopTimer, TRect{}, Id});
  if (clock_) clock_->StopTimer(Id);
}

void TRecordingViewHost::Sleep(uint32_t Milliseconds) {
  // Without a clock no time passes here, and nobody need wait for it.
  if (clock_) clock_->Advance(Milliseconds);
}

uint32_t TRecordingViewHost::TickCount() const { return clock_ ? clock_->TickCount() : 0; }

int64_t TRecordingViewHost::Microseconds() const { return clock_ ? clock_->Microseconds() : 0; }

TColor TRecordingViewHost::SysColor(int32_t Index) const {
  auto it = sysColors_.find(Index);
  return it != sysColors_.end() ? it->second : GetSysColor(Index);
}

std::vector<THostRecord> TRecordingViewHost::RecordsOf(THostCall Call) const {
  std::vector<THostRecord> out;
  for (const auto& r : records_)
    if (r.Call == Call) out.push_back(r);
  return out;
}

size_t TRecordingViewHost::CountOf(THostCall Call) const {
  return static_cast<size_t>(std::count_if(records_.begin(), records_.end(), [&](const THostRecord& r) { return r.Call == Call; }));
}
