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

TGIFPainter::TGIFPainter(TGIFImage& Image, TViewHost& Host, TBitmap32& Canvas, const TPlatformRect& Rect)
    : DrawOptions(Image.DrawOptions),
      AnimationSpeed(Image.AnimationSpeed),
      image_(Image),
      host_(Host),
      canvas_(Canvas),
      rect_(Rect),
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
        if (cx >= 0 && cy >= 0 && cx < canvas_.Width() && cy < canvas_.Height())
          To[static_cast<size_t>(y) * static_cast<size_t>(rw_) + static_cast<size_t>(x)] = canvas_.GetPixel(cx, cy);
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

TPixelSurface TGIFPainter::CanvasSurface() { return {canvas_.Bits(), canvas_.Width(), canvas_.Height()}; }

void TGIFPainter::CopyToCanvas(const std::vector<uint32_t>& From) {
  for (int32_t y = 0; y < rh_; ++y) {
    const int32_t cy = rect_.Top + y;
    if (cy < 0 || cy >= canvas_.Height()) continue;
    for (int32_t x = 0; x < rw_; ++x) {
      const int32_t cx = rect_.Left + x;
      if (cx >= 0 && cx < canvas_.Width())
        canvas_.SetPixel(cx, cy, From[static_cast<size_t>(y) * static_cast<size_t>(rw_) + static_cast<size_t>(x)]);
    }
  }
}

void TGIFPainter::Start() {
  if (running_ || image_.Images().Count() == 0 || rw_ == 0 || rh_ == 0) return;
  running_ = true;
  restart_ = true;
  BeginRun();
}

void TGIFPainter::BeginRun() {
  ActiveFrame = 0;
  if (OnStartPaint) OnStartPaint(*this);
  restart_ = false;
  loopCount_ = 1;
  loopStart_ = 0;
  loopSeen_ = false;
  pendingDelay_ = 0;
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
  if (ActiveFrame >= 0 && ActiveFrame < image_.Images().Count()) image_.Images().Item(ActiveFrame)->Bitmap();
  const int64_t now = NowMs();
  int64_t d;
  if (AnimationSpeed < 1) {
    d = -1;  // until stopped
  } else {
    const int64_t want = int64_t{pendingDelay_} * kDelayMs - (now - lastTime_ - timingError_) / 2;
    d = RoundingMulDiv(static_cast<int32_t>(std::clamp<int64_t>(want, INT32_MIN / 2, INT32_MAX / 200)), 100,
                       AnimationSpeed);
    timingError_ = d;
  }
  lastTime_ = now;
  pendingDelay_ = 0;
  pendingWaitMs_ = d;
  if (d < 0 && AnimationSpeed < 1) return;  // woken only by Stop
  timer_ = host_.StartTimer(static_cast<uint32_t>(std::max<int64_t>(1, d)), [this] {
    host_.StopTimer(timer_);
    timer_ = 0;
    pendingWaitMs_ = 0;
    if (!running_) return;
    if (restart_) return BeginRun();
    PaintActive();
  });
}

void TGIFPainter::PaintActive() {
  const int32_t count = image_.Images().Count();
  if (!running_) return Finish();
  if (ActiveFrame < 0 || ActiveFrame >= count || image_.Images().Item(ActiveFrame)->Empty()) return Next();
  TGIFSubImage& frame = *image_.Images().Item(ActiveFrame);
  if (OnPaint) OnPaint(*this);
  if (!running_) return Finish();
  disposal_ = 1;
  for (int32_t e = 0; e < frame.Extensions().Count(); ++e) {
    TGIFExtension* x = frame.Extensions().Item(e);
    if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(x); loop && !loopSeen_) {
      loopSeen_ = true;
      // Our painter never blocks the thread, so it plays as the asynchronous one.
      loopCount_ = loop->Loops == 0 || (DrawOptions & goLoopContinously) ? -1 : loop->Loops;
      loopStart_ = ActiveFrame;
    }
    if (auto* g = dynamic_cast<TGIFGraphicControlExtension*>(x)) disposal_ = g->Disposal();
  }
  PaintFrame(frame);
  previousDisposal_ = disposal_;
  pendingDelay_ = kDefaultDelay;
  if (const TGIFGraphicControlExtension* g = frame.GraphicControlExtension(); g && g->Delay() != 0)
    pendingDelay_ = std::max<int32_t>(g->Delay(), kMinDelay);
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
  const int32_t count = image_.Images().Count();
  if (ActiveFrame >= 0 && ActiveFrame < count && !image_.Images().Item(ActiveFrame)->Empty()) return Wait();
  // The round is over.
  if (loopCount_ > 0) --loopCount_;
  const bool again = (DrawOptions & goAnimate) && (DrawOptions & goLoop) &&
                     (loopCount_ != 0 || (DrawOptions & goLoopContinously));
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
  ActiveFrame = -1;
  pendingWaitMs_ = 0;
  if (wasRunning && OnEndPaint) OnEndPaint(*this);
}

void TGIFPainter::Stop() {
  if (!running_) return;
  running_ = false;
  // From inside an event the step that fired it returns at its next check.
  Finish();
}

void TGIFPainter::Restart() { restart_ = true; }

void TGIFPainter::RestoreArea(TGIFSubImage& Frame) {
  const TPlatformRect r = Frame.ScaledRect({0, 0, rw_, rh_});
  for (int32_t y = std::max(0, r.Top); y < std::min(rh_, r.Bottom); ++y)
    for (int32_t x = std::max(0, r.Left); x < std::min(rw_, r.Right); ++x) {
      const size_t i = static_cast<size_t>(y) * static_cast<size_t>(rw_) + static_cast<size_t>(x);
      backup_[i] = (DrawOptions & goTransparent) && !snapshot_.empty() ? snapshot_[i] : background_;
    }
}

void TGIFPainter::PaintFrame(TGIFSubImage& Frame) {
  const bool transparent = (DrawOptions & goTransparent) != 0, tile = (DrawOptions & goTile) != 0;
  const TPlatformRect local{0, 0, rw_, rh_};
  if (!useBackup_) {
    TPixelSurface s = CanvasSurface();
    Frame.Draw(s, rect_, transparent, tile);
  } else {
    if ((DrawOptions & goClearOnLoop) && ActiveFrame == 0) RestoreArea(Frame);
    if (disposal_ == 3) {
      if (previousDisposal_ <= 1) {
        TPixelSurface s = CanvasSurface();
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
  if (OnInvalidate)
    OnInvalidate();
  else
    host_.Invalidate(nullptr);
}

// ---- The preview control ---------------------------------------------------------------

TGIFPreview::TGIFPreview(TViewHost* Host) : TCustomPaintBox32(Host) {}

TGIFPreview::~TGIFPreview() { painter_.reset(); }

void TGIFPreview::SetImage(TGIFImage* Image) {
  painter_.reset();
  image_ = Image;
  canvas_.SetSize(Width(), Height());
  canvas_.Clear(ToArgb(Host().SysColor(kColorWindow)));
  if (image_ && !image_->IsEmpty()) {
    painter_ = std::make_unique<TGIFPainter>(*image_, Host(), canvas_, TPlatformRect{0, 0, Width(), Height()});
    painter_->OnInvalidate = [this] { Invalidate(); };
    painter_->Start();
  }
  Invalidate();
}

void TGIFPreview::DoPaintBuffer() {
  // The buffer may be larger than the control (its oversize).
  if (TBitmap32* b = Buffer()) {
    const int32_t w = std::min(canvas_.Width(), b->Width()), h = std::min(canvas_.Height(), b->Height());
    for (int32_t y = 0; y < h; ++y)
      std::memcpy(b->Bits() + static_cast<size_t>(y) * b->Width(), canvas_.Bits() + static_cast<size_t>(y) * canvas_.Width(),
                  static_cast<size_t>(w) * 4);
  }
  TCustomPaintBox32::DoPaintBuffer();
}
