// The GIF animation painter as a timer-driven state machine. The steps of the
// run (start, rounds, frames, waits, end) follow one another through a
// one-shot host timer; nothing here blocks, so stopping from an event is a
// flag and a stopped timer.
#include "gif_painter.h"

#include <algorithm>
#include <cstring>

#include "raster_math.h"

namespace {
constexpr int32_t kColorWindow = 5;
constexpr int32_t kNoColor = 0x1FFFFFFF;

uint32_t ToArgb(TColor C) {
  const uint32_t c = static_cast<uint32_t>(C);
  return 0xFF000000u | (c & 0xFF) << 16 | (c & 0xFF00) | ((c >> 16) & 0xFF);
}
}  // namespace

TGIFPainter::TGIFPainter(TGIFImage& Image, TViewHost& Host, const TPixelSurface& Canvas, const TPlatformRect& Rect)
    : TGIFPainterBase(Image, Canvas, Rect),
      host_(Host),
      rw_(std::max(0, Rect.Right - Rect.Left)),
      rh_(std::max(0, Rect.Bottom - Rect.Top)) {
  if (Image.DrawBackgroundColor != kNoColor)
    background_ = ToArgb(static_cast<TColor>(Image.DrawBackgroundColor));
  else if (Image.Header().ColorMap().Count() == 0)
    background_ = ToArgb(Host.SysColor(kColorWindow));
  else {
    const TGIFColor c = Image.Header().ColorMap().Color(Image.Header().BackgroundColorIndex);
    background_ = 0xFF000000u | uint32_t{c.Red} << 16 | uint32_t{c.Green} << 8 | c.Blue;
  }
  bool restoreBackground = (DrawOptions & goClearOnLoop) != 0, restorePrevious = false;
  for (int32_t i = 0; i < Image.Images().Count(); ++i)
    if (const TGIFGraphicControlExtension* g = Image.Images().Item(i)->GraphicControlExtension()) {
      restoreBackground |= g->Disposal() == 2;
      restorePrevious |= g->Disposal() == 3;
    }
  const size_t n = static_cast<size_t>(rw_) * static_cast<size_t>(rh_);
  auto snapshot = [&](std::vector<uint32_t>& To) {
    To.assign(n, background_);
    for (int32_t y = 0; y < rh_; ++y)
      for (int32_t x = 0; x < rw_; ++x) {
        const int32_t cx = rect_.Left + x, cy = rect_.Top + y;
        if (canvas_.Bits && cx >= 0 && cy >= 0 && cx < canvas_.Width && cy < canvas_.Height)
          To[static_cast<size_t>(y) * static_cast<size_t>(rw_) + static_cast<size_t>(x)] =
              canvas_.Bits[static_cast<size_t>(cy) * static_cast<size_t>(canvas_.Width) + static_cast<size_t>(cx)];
      }
  };
  if (restoreBackground && (DrawOptions & goTransparent)) snapshot(snapshot_);
  if (restoreBackground || restorePrevious) {
    useBackup_ = true;
    snapshot(backup_);
    frameBuffer_.assign(n, background_);
  }
}

TGIFPainter::~TGIFPainter() {
  if (timer_) host_.StopTimer(timer_);
}

TPixelSurface TGIFPainter::Surface(std::vector<uint32_t>& Pixels) { return {Pixels.data(), rw_, rh_}; }

void TGIFPainter::CopyToCanvas(const std::vector<uint32_t>& From) {
  if (!canvas_.Bits) return;
  for (int32_t y = 0; y < rh_; ++y) {
    const int32_t cy = rect_.Top + y;
    if (cy < 0 || cy >= canvas_.Height) continue;
    uint32_t* row = canvas_.Bits + static_cast<size_t>(cy) * static_cast<size_t>(canvas_.Width);
    for (int32_t x = 0; x < rw_; ++x) {
      const int32_t cx = rect_.Left + x;
      if (cx >= 0 && cx < canvas_.Width)
        row[cx] = From[static_cast<size_t>(y) * static_cast<size_t>(rw_) + static_cast<size_t>(x)];
    }
  }
}

void TGIFPainter::Start() {
  // The image's list may hold the last reference: keep this alive until the step returns.
  const std::shared_ptr<TGIFPainterBase> keep = weak_from_this().lock();
  if (running_ || !image_ || Gif().Images().Count() == 0 || rw_ == 0 || rh_ == 0) return;
  running_ = true;
  restart_ = true;
  BeginRun();
}

void TGIFPainter::Execute() {
  const std::shared_ptr<TGIFPainterBase> keep = weak_from_this().lock();
  sync_ = true;
  Start();
  // Each wait comes back here instead of to a timer, so the stack stays flat
  // however many frames play.
  while (running_ && syncWaiting_) {
    syncWaiting_ = false;
    int64_t left = std::max<int64_t>(pendingWaitMs_, 1);
    while (left > 0 && running_ && !restart_) {
      const int64_t before = NowMs();
      host_.Sleep(static_cast<uint32_t>(std::min<int64_t>(left, 100)));
      left -= std::max<int64_t>(NowMs() - before, 1);
    }
    pendingWaitMs_ = 0;
    Resume();
  }
}

void TGIFPainter::BeginRun() {
  ActiveFrame = 0;
  if (OnStartPaint) OnStartPaint(*this);
  restart_ = false;
  loopCount_ = 1;
  loopStart_ = 0;
  loopSeen_ = false;
  pendingDelay_ = sync_ ? 1 : 0;
  previousDisposal_ = 1;
  lastTime_ = NowMs();
  timingError_ = 0;
  if (!running_) return Finish();
  BeginRound(true);
}

void TGIFPainter::BeginRound(bool First) {
  ActiveFrame = loopStart_;
  if (!First && OnLoop) OnLoop(*this);
  if (!running_) return Finish();
  if (pendingDelay_ > 0) return Wait();
  PaintActive();
}

void TGIFPainter::Wait() {
  // The frame's bitmap is made before the clock is read, so that building it
  // counts as time already spent.
  if (ActiveFrame >= 0 && ActiveFrame < Gif().Images().Count()) Gif().Images().Item(ActiveFrame)->Bitmap();
  const int64_t now = NowMs();
  int64_t d;
  if (AnimationSpeed < 1) {
    d = sync_ ? int64_t{1000} * kDelayMs : -1;  // asynchronous: until stopped
  } else {
    const int64_t want = int64_t{pendingDelay_} * kDelayMs - (now - lastTime_ - timingError_) / 2;
    d = RoundingMulDiv(static_cast<int32_t>(std::clamp<int64_t>(want, INT32_MIN / 2, INT32_MAX / 200)), 100,
                       AnimationSpeed);
    timingError_ = d;
  }
  lastTime_ = now;
  pendingDelay_ = 0;
  pendingWaitMs_ = d;
  if (sync_) {
    syncWaiting_ = true;  // Execute waits and resumes
    return;
  }
  if (d < 0 && AnimationSpeed < 1) return;  // woken only by Stop
  timer_ = host_.StartTimer(static_cast<uint32_t>(std::max<int64_t>(1, d)), [this] {
    const std::shared_ptr<TGIFPainterBase> keep = weak_from_this().lock();
    host_.StopTimer(timer_);
    timer_ = 0;
    pendingWaitMs_ = 0;
    Resume();
  });
}

void TGIFPainter::Resume() {
  if (!running_) return;
  if (restart_) return BeginRun();
  PaintActive();
}

void TGIFPainter::PaintActive() {
  const int32_t count = Gif().Images().Count();
  if (!running_) return Finish();
  if (ActiveFrame < 0 || ActiveFrame >= count || Gif().Images().Item(ActiveFrame)->Empty()) return Next();
  TGIFSubImage& frame = *Gif().Images().Item(ActiveFrame);
  if (OnPaint) OnPaint(*this);
  if (!running_) return Finish();
  disposal_ = 1;
  for (int32_t e = 0; e < frame.Extensions().Count(); ++e) {
    TGIFExtension* x = frame.Extensions().Item(e);
    if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(x); loop && !loopSeen_) {
      loopSeen_ = true;
      loopCount_ = !sync_ && (loop->Loops == 0 || (DrawOptions & goLoopContinously)) ? -1 : loop->Loops;
      loopStart_ = ActiveFrame;
    }
    if (auto* g = dynamic_cast<TGIFGraphicControlExtension*>(x)) disposal_ = g->Disposal();
  }
  PaintFrame(frame);
  previousDisposal_ = disposal_;
  pendingDelay_ = kDefaultDelay;
  if (const TGIFGraphicControlExtension* g = frame.GraphicControlExtension(); g && g->Delay() != 0)
    pendingDelay_ = std::clamp<int32_t>(g->Delay(), kMinDelay, sync_ ? kMaxDelay : INT32_MAX);
  const int32_t shown = ActiveFrame;
  if (OnAfterPaint) OnAfterPaint(*this);
  if (!running_) return Finish();
  if (ActiveFrame == shown) ++ActiveFrame;
  if (!(DrawOptions & goAnimate)) ActiveFrame = count;  // one frame only
  Next();
}

void TGIFPainter::Next() {
  if (!running_) return Finish();
  if (restart_) return BeginRun();
  const int32_t count = Gif().Images().Count();
  if (ActiveFrame >= 0 && ActiveFrame < count && !Gif().Images().Item(ActiveFrame)->Empty()) return Wait();
  // The round is over.
  if (loopCount_ > 0) --loopCount_;
  const bool again = (DrawOptions & goAnimate) && (DrawOptions & goLoop) &&
                     (loopCount_ != 0 || (!sync_ && (DrawOptions & goLoopContinously)));
  if (!again) return Finish();
  BeginRound(false);
}

void TGIFPainter::Finish() {
  if (timer_) {
    host_.StopTimer(timer_);
    timer_ = 0;
  }
  const bool wasRunning = running_ || ActiveFrame >= 0;
  running_ = false;
  syncWaiting_ = false;
  ActiveFrame = -1;
  pendingWaitMs_ = 0;
  if (wasRunning && OnEndPaint) OnEndPaint(*this);
  Detach();
}

void TGIFPainter::Stop() {
  const std::shared_ptr<TGIFPainterBase> keep = weak_from_this().lock();
  if (!running_) return;
  running_ = false;
  // From inside an event the step that fired it returns at its next check.
  Finish();
}

void TGIFPainter::Restart() { restart_ = true; }

void TGIFPainter::RestoreArea(TGIFSubImage& Frame) {
  const bool fromSnapshot = (DrawOptions & goTransparent) && !snapshot_.empty();
  const auto restore = [&](int64_t Left, int64_t Top, int64_t Right, int64_t Bottom) {
    for (int64_t y = std::max<int64_t>(0, Top); y < std::min<int64_t>(rh_, Bottom); ++y)
      for (int64_t x = std::max<int64_t>(0, Left); x < std::min<int64_t>(rw_, Right); ++x) {
        const size_t i = static_cast<size_t>(y) * static_cast<size_t>(rw_) + static_cast<size_t>(x);
        backup_[i] = fromSnapshot ? snapshot_[i] : background_;
      }
  };
  // Tiled, the frame stands once in every tile, and each copy leaves its
  // own area behind (only a frame smaller than the screen tiles at all).
  const int64_t sw = Gif().Width(), sh = Gif().Height();
  if ((DrawOptions & goTile) && Frame.Width() < sw && Frame.Height() < sh) {
    for (int64_t y = Frame.Top(); y < rh_; y += sh)
      for (int64_t x = Frame.Left(); x < rw_; x += sw) restore(x, y, x + Frame.Width(), y + Frame.Height());
    return;
  }
  const TPlatformRect r = Frame.ScaledRect({0, 0, rw_, rh_});
  restore(r.Left, r.Top, r.Right, r.Bottom);
}

void TGIFPainter::PaintFrame(TGIFSubImage& Frame) {
  const bool transparent = (DrawOptions & goTransparent) != 0, tile = (DrawOptions & goTile) != 0;
  const TPlatformRect local{0, 0, rw_, rh_};
  if (!useBackup_) {
    TPixelSurface s = canvas_;
    Frame.Draw(s, rect_, transparent, tile);
  } else {
    if ((DrawOptions & goClearOnLoop) && ActiveFrame == 0) RestoreArea(Frame);
    if (disposal_ == 3) {
      if (previousDisposal_ <= 1) {
        TPixelSurface s = canvas_;
        Frame.Draw(s, rect_, transparent, tile);
      } else {
        frameBuffer_ = backup_;
        TPixelSurface s = Surface(frameBuffer_);
        Frame.Draw(s, local, transparent, tile);
        CopyToCanvas(frameBuffer_);
      }
    } else {
      TPixelSurface s = Surface(backup_);
      Frame.Draw(s, local, transparent, tile);
      CopyToCanvas(backup_);
      if (disposal_ == 2) RestoreArea(Frame);
    }
  }
  painted_ = true;
  if (OnInvalidate)
    OnInvalidate();
  else
    host_.Invalidate(nullptr);
}

// ---- The preview control ---------------------------------------------------------------

TGIFPreview::TGIFPreview(TViewHost* Host) : TCustomPaintBox32(Host) {}

TGIFPreview::~TGIFPreview() { Release(); }

std::shared_ptr<TGIFPainterBase> TGIFPreview::CreatePainter(TGIFImage& Image, const TPixelSurface& Canvas,
                                                            const TPlatformRect& Rect) {
  auto p = std::make_shared<TGIFPainter>(Image, Host(), Canvas, Rect);
  p->OnInvalidate = [this] { Invalidate(); };
  return p;
}

void TGIFPreview::Release() {
  if (!image_) return;
  // Its painters paint on our canvas with our timers.
  image_->StopDraw();
  if (image_->PainterFactory == this) image_->PainterFactory = nullptr;
  image_ = nullptr;
}

void TGIFPreview::SetImage(TGIFImage* Image) {
  Release();
  image_ = Image;
  canvas_.SetSize(Width(), Height());
  canvas_.Clear(ToArgb(Host().SysColor(kColorWindow)));
  if (image_) {
    image_->PainterFactory = this;
    TPixelSurface s = CanvasSurface();
    image_->Draw(s, {0, 0, Width(), Height()});
  }
  Invalidate();
}

void TGIFPreview::Resize() {
  TCustomPaintBox32::Resize();
  if (image_) SetImage(image_);
}

void TGIFPreview::DoPaintBuffer() {
  // A painter on the composite bitmap leaves the canvas alone: the image
  // copies its present state out on each Draw.
  if (image_ && !(image_->DrawOptions & goDirectDraw)) {
    TPixelSurface s = CanvasSurface();
    image_->Draw(s, {0, 0, canvas_.Width(), canvas_.Height()});
  }
  // The buffer may be larger than the control (its oversize).
  if (TBitmap32* b = Buffer()) {
    const int32_t w = std::min(canvas_.Width(), b->Width()), h = std::min(canvas_.Height(), b->Height());
    for (int32_t y = 0; y < h; ++y)
      std::memcpy(b->Bits() + static_cast<size_t>(y) * b->Width(), canvas_.Bits() + static_cast<size_t>(y) * canvas_.Width(),
                  static_cast<size_t>(w) * 4);
  }
  TCustomPaintBox32::DoPaintBuffer();
}
