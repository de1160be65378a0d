#pragma once
// The GIF animation painter: shows the frames of a TGIFImage one after another
// on a canvas, keeping each frame's delay, the disposal methods and the loop
// extension. It is a state machine driven by the view host's timers on the
// user-interface thread: every frame is painted there, and the wait between
// frames is a one-shot timer whose length corrects for the time the painting
// took. Time differences are 64-bit milliseconds of the host's clock.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "gif_image.h"
#include "raster_image.h"
#include "view_host.h"

class TGIFPainter : public TGIFPainterBase {
 public:
  // Delay units (hundredths of a second) and their length at speed 100.
  static constexpr int32_t kDefaultDelay = 10, kMinDelay = 3, kMaxDelay = 1000, kDelayMs = 12;

  // Paints Image into Rect of Canvas (both must outlive the painter or be
  // left through Stop), with the image's draw options and speed.
  TGIFPainter(TGIFImage& Image, TViewHost& Host, const TPixelSurface& Canvas, const TPlatformRect& Rect);
  TGIFPainter(TGIFImage& Image, TViewHost& Host, TBitmap32& Canvas, const TPlatformRect& Rect)
      : TGIFPainter(Image, Host, TPixelSurface{Canvas.Bits(), Canvas.Width(), Canvas.Height()}, Rect) {}
  ~TGIFPainter() override;

  // Paints the first frame now and schedules the rest.
  void Start() override;
  // Plays to the end on this thread, waiting through the host's Sleep
  // (which lets the other timers run). A loop count of 0 plays once here
  // and looping on and on is not honoured: the call must return.
  void Execute() override;
  // Ends the animation at once (safe from inside an event); the end event fires.
  void Stop() override;
  // Starts over from frame 0 at the next step.
  void Restart();
  bool Running() const override { return running_; }

  // After each painted frame: the canvas changed (default: the host's Invalidate).
  std::function<void()> OnInvalidate;

  // The wait now pending, in milliseconds (-1: until stopped).
  int64_t PendingWaitMs() const { return pendingWaitMs_; }
  uint8_t Disposal() const { return disposal_; }

 private:
  int64_t NowMs() const { return host_.Microseconds() / 1000; }
  TGIFImage& Gif() const { return *image_; }
  void BeginRun();
  void BeginRound(bool First);
  void PaintActive();
  void Next();
  void Wait();
  void Resume();
  void Finish();
  void PaintFrame(TGIFSubImage& Frame);
  void RestoreArea(TGIFSubImage& Frame);
  void CopyToCanvas(const std::vector<uint32_t>& From);
  TPixelSurface Surface(std::vector<uint32_t>& Pixels);

  TViewHost& host_;
  int32_t rw_, rh_;
  uint32_t background_ = 0xFF000000u;
  std::vector<uint32_t> backup_, frameBuffer_, snapshot_;
  bool useBackup_ = false;

  bool running_ = false, restart_ = false, sync_ = false, syncWaiting_ = false;
  int32_t loopCount_ = 1, loopStart_ = 0;
  bool loopSeen_ = false;
  int32_t pendingDelay_ = 0;
  uint8_t disposal_ = 1, previousDisposal_ = 1;
  int64_t lastTime_ = 0, timingError_ = 0, pendingWaitMs_ = 0;
  int32_t timer_ = 0;
};

// A paint box that shows a GIF, animated when it has several frames. The
// image draws itself onto the control's own canvas and starts its painters
// through the control, which gives them its host's timers; the control copies
// the canvas to its buffer. TViewWidget hosts it in the program.
class TGIFPreview : public TCustomPaintBox32, private TGIFPainterFactory {
 public:
  explicit TGIFPreview(TViewHost* Host = nullptr);
  ~TGIFPreview() override;
  // Shows Image (null: nothing) stretched over the control; the preview does
  // not own the image, which must outlive it or be replaced first.
  void SetImage(TGIFImage* Image);
  TGIFPainterBase* Painter() const { return image_ ? image_->Painter() : nullptr; }
  const TBitmap32& Canvas() const { return canvas_; }
  // A new size or a new window: the animation starts over on a canvas of
  // the new size with the new window's timers.
  void Resize() override;

 protected:
  void DoPaintBuffer() override;

 private:
  std::shared_ptr<TGIFPainterBase> CreatePainter(TGIFImage& Image, const TPixelSurface& Canvas,
                                                 const TPlatformRect& Rect) override;
  void Release();
  TPixelSurface CanvasSurface() { return {canvas_.Bits(), canvas_.Width(), canvas_.Height()}; }

  TGIFImage* image_ = nullptr;
  TBitmap32 canvas_;
};
