// The GIF animation painter on a fake clock: delays (minimum, default, speed,
// drift correction), loops, disposal methods, event order, and stopping from
// inside an event; and the preview control showing the frames.
#include <gtest/gtest.h>

#include <functional>

#include "gif_painter.h"
#include "test_startup.h"
#include "view_host.h"

namespace {

// Frames of one colour each filling a 4 x 4 screen (or a part of it), with
// a delay, a disposal method and, on frame 0, an optional loop count.
struct TAnim {
  TGIFImage Gif;
  explicit TAnim(const std::vector<int>& Delays, const std::vector<int>& Disposals = {}, int Loops = -1,
                 const std::vector<TPlatformRect>& Bounds = {}) {
    Gif.Header().Width = 4;
    Gif.Header().Height = 4;
    for (TGIFColor c : {TGIFColor{0, 0, 0}, TGIFColor{255, 0, 0}, TGIFColor{0, 255, 0}, TGIFColor{0, 0, 255},
                        TGIFColor{255, 255, 255}})
      Gif.GlobalColorMap().Add(c);
    Gif.DrawBackgroundColor = 0x00FFFFFF;  // white, platform colour
    for (size_t i = 0; i < Delays.size(); ++i) {
      auto f = std::make_unique<TGIFSubImage>(&Gif);
      TGIFSubImage* p = f.get();
      Gif.Add(std::move(f));
      if (i == 0 && Loops >= 0) {
        auto l = std::make_unique<TGIFAppExtNSLoop>(p);
        l->Loops = static_cast<uint16_t>(Loops);
        p->Extensions().Add(std::move(l));
      }
      auto g = std::make_unique<TGIFGraphicControlExtension>(p);
      g->SetDelay(static_cast<uint16_t>(Delays[i]));
      g->SetDisposal(static_cast<uint8_t>(i < Disposals.size() ? Disposals[i] : 1));
      p->Extensions().Add(std::move(g));
      const TPlatformRect b = i < Bounds.size() ? Bounds[i] : TPlatformRect{0, 0, 4, 4};
      p->SetBounds(b.Left, b.Top, b.Right - b.Left, b.Bottom - b.Top);
      std::fill(p->Data(), p->Data() + p->DataSize(), static_cast<uint8_t>(1 + i % 3));
    }
  }
};

struct TRun {
  TFakeClock Clock;
  TRecordingViewHost Host{4, 4, &Clock};
  TBitmap32 Canvas;
  std::vector<std::string> Events;
  std::vector<int64_t> PaintTimes;
  std::unique_ptr<TGIFPainter> Painter;
  TRun(TGIFImage& Gif, int Speed = 100) {
    Canvas.SetSize(4, 4);
    Canvas.Clear(0xFF808080u);
    Gif.AnimationSpeed = Speed;
    Painter = std::make_unique<TGIFPainter>(Gif, Host, Canvas, TPlatformRect{0, 0, 4, 4});
    Painter->OnStartPaint = [this](TGIFPainterBase&) { Events.push_back("start"); };
    Painter->OnPaint = [this](TGIFPainterBase& P) {
      Events.push_back("paint" + std::to_string(P.ActiveFrame));
      PaintTimes.push_back(Clock.Microseconds() / 1000);
    };
    Painter->OnLoop = [this](TGIFPainterBase&) { Events.push_back("loop"); };
    Painter->OnEndPaint = [this](TGIFPainterBase&) { Events.push_back("end"); };
  }
};

std::vector<std::string> Split(const std::string& S) {
  std::vector<std::string> v;
  size_t p = 0;
  while (p < S.size()) {
    size_t q = S.find(' ', p);
    if (q == std::string::npos) q = S.size();
    v.push_back(S.substr(p, q - p));
    p = q + 1;
  }
  return v;
}

}  // namespace

TEST(GifPainter, DelaysAtEachSpeedWithDriftCorrection) {
  VemraTestStartup();
  // Delay 1 is raised to 3 units (36 ms), 0 takes the default 10 (120 ms).
  TAnim a({1, 0, 5});
  TRun r(a.Gif);
  r.Painter->Start();
  EXPECT_EQ(r.PaintTimes, std::vector<int64_t>{0});
  EXPECT_EQ(r.Painter->PendingWaitMs(), 36);
  r.Clock.Advance(35);
  EXPECT_EQ(r.PaintTimes.size(), 1u);
  r.Clock.Advance(1);
  EXPECT_EQ(r.PaintTimes, (std::vector<int64_t>{0, 36}));
  // Time the frame took counts against the next wait: (now - last - error) / 2.
  EXPECT_EQ(r.Painter->PendingWaitMs(), 120);
  r.Clock.Advance(120);
  EXPECT_EQ(r.PaintTimes, (std::vector<int64_t>{0, 36, 156}));
  r.Clock.Advance(60);
  EXPECT_EQ(r.Events, Split("start paint0 paint1 paint2 end"));
  EXPECT_FALSE(r.Painter->Running());
  // Speed 200 halves the waits; a late timer shortens the next one.
  TAnim b({10, 10, 10});
  TRun h(b.Gif, 200);
  h.Painter->Start();
  EXPECT_EQ(h.Painter->PendingWaitMs(), 60);
  h.Clock.AdvanceMicroseconds(100 * 1000);  // the timer fires 40 ms late
  h.Clock.Advance(0);
  ASSERT_EQ(h.PaintTimes.size(), 2u);
  // want = 120 - (100 - 0 - 60) / 2 = 100, at speed 200: 50.
  EXPECT_EQ(h.Painter->PendingWaitMs(), 50);
  // Speed 0 waits until stopped.
  TAnim c({10, 10});
  TRun z(c.Gif, 0);
  z.Painter->Start();
  EXPECT_EQ(z.Painter->PendingWaitMs(), -1);
  z.Clock.Advance(100000);
  EXPECT_EQ(z.PaintTimes.size(), 1u);
  z.Painter->Stop();
  EXPECT_EQ(z.Events, Split("start paint0 end"));
  // Days of uptime: the clock is 64-bit, nothing wraps at 2^32 ms.
  TAnim d({10, 10});
  TRun u(d.Gif);
  u.Clock.AdvanceMicroseconds(int64_t{50} * 24 * 3600 * 1000 * 1000);
  u.Painter->Start();
  EXPECT_EQ(u.Painter->PendingWaitMs(), 120);
}

TEST(GifPainter, LoopsAndEventOrder) {
  VemraTestStartup();
  // Count 2: two passes in all, the second from the loop extension's frame.
  TAnim two({10, 10}, {}, 2);
  TRun r(two.Gif);
  r.Painter->Start();
  r.Clock.Advance(2000);
  EXPECT_EQ(r.Events, Split("start paint0 paint1 loop paint0 paint1 end"));
  // Count 0: forever.
  TAnim forever({10, 10}, {}, 0);
  TRun f(forever.Gif);
  f.Painter->Start();
  f.Clock.Advance(120 * 40);
  EXPECT_TRUE(f.Painter->Running());
  EXPECT_GE(std::count(f.Events.begin(), f.Events.end(), "loop"), 15);
  // Without a loop extension: once; with loop-continuously: on and on.
  TAnim once({10, 10});
  TRun o(once.Gif);
  o.Painter->Start();
  o.Clock.Advance(2000);
  EXPECT_EQ(o.Events, Split("start paint0 paint1 end"));
  once.Gif.DrawOptions |= goLoopContinously;
  TRun oc(once.Gif);
  oc.Painter->Start();
  oc.Clock.Advance(1000);
  EXPECT_TRUE(oc.Painter->Running());
  // Without the animate option only the first frame shows.
  once.Gif.DrawOptions = static_cast<uint16_t>(goTransparent | goLoop);
  TRun still(once.Gif);
  still.Painter->Start();
  still.Clock.Advance(2000);
  EXPECT_EQ(still.Events, Split("start paint0 end"));
  // Stopping from inside an event ends at once, with one end event.
  TAnim three({10, 10, 10}, {}, 0);
  TRun s(three.Gif);
  s.Painter->OnPaint = [&](TGIFPainterBase& P) {
    s.Events.push_back("paint" + std::to_string(P.ActiveFrame));
    if (P.ActiveFrame == 1) P.Stop();
  };
  s.Painter->Start();
  s.Clock.Advance(5000);
  EXPECT_EQ(s.Events, Split("start paint0 paint1 end"));
  EXPECT_EQ(s.Clock.TimerCount(), 0u);
  // The after-paint event may pick the next frame.
  TAnim pick({10, 10, 10});
  TRun p(pick.Gif);
  p.Painter->OnAfterPaint = [](TGIFPainterBase& P) {
    if (P.ActiveFrame == 0) P.ActiveFrame = 2;
  };
  p.Painter->Start();
  p.Clock.Advance(2000);
  EXPECT_EQ(p.Events, Split("start paint0 paint2 end"));
}

TEST(GifPainter, DisposalMethods) {
  VemraTestStartup();
  const uint32_t red = 0xFFFF0000u, green = 0xFF00FF00u, blue = 0xFF0000FFu, white = 0xFFFFFFFFu, grey = 0xFF808080u;
  // Frame 0 full red (keep), frame 1 the top-left 2 x 2 green (restore to
  // background), frame 2 the bottom-right 2 x 2 blue (restore previous),
  // frame 3 a 1 x 1 red at (3, 0).
  TAnim a({10, 10, 10, 10}, {1, 2, 3, 1}, -1,
          {{0, 0, 4, 4}, {0, 0, 2, 2}, {2, 2, 4, 4}, {3, 0, 4, 1}});
  a.Gif.DrawOptions = static_cast<uint16_t>(a.Gif.DrawOptions & ~goTransparent);
  TRun r(a.Gif);
  r.Painter->Start();
  EXPECT_EQ(r.Canvas.GetPixel(0, 0), red);
  r.Clock.Advance(120);
  EXPECT_EQ(r.Canvas.GetPixel(0, 0), green);
  EXPECT_EQ(r.Canvas.GetPixel(3, 3), red);
  r.Clock.Advance(120);
  // Frame 1's area went back to the background colour; frame 2 drawn on top.
  EXPECT_EQ(r.Canvas.GetPixel(0, 0), white);
  EXPECT_EQ(r.Canvas.GetPixel(3, 3), blue);
  r.Clock.Advance(120);
  // Frame 2 restored what was there before it.
  EXPECT_EQ(r.Canvas.GetPixel(3, 3), red);
  EXPECT_EQ(r.Canvas.GetPixel(0, 0), white);
  EXPECT_EQ(r.Canvas.GetPixel(3, 0), red);
  EXPECT_GE(r.Host.CountOf(THostCall::Invalidate), 4u);
  // Tiled over a canvas twice the 2 x 2 screen, a frame restored to the
  // background leaves every tile it stood in.
  TAnim t({10, 10, 10}, {1, 2, 1}, -1, {{0, 0, 2, 2}, {0, 0, 1, 1}, {1, 1, 2, 2}});
  t.Gif.Header().Width = t.Gif.Header().Height = 2;
  t.Gif.DrawOptions = static_cast<uint16_t>((t.Gif.DrawOptions | goTile) & ~goTransparent);
  TRun tiled(t.Gif);
  tiled.Painter->Start();
  tiled.Clock.Advance(120);
  tiled.Clock.Advance(120);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(tiled.Canvas.GetPixel(x, y), x % 2 == 0 && y % 2 == 0 ? white : x % 2 && y % 2 ? blue : red) << x << "," << y;
  // Without disposal 2 or 3 the frames go straight onto the canvas.
  TAnim plain({10}, {1}, -1, {{1, 1, 2, 2}});
  TRun p(plain.Gif);
  p.Painter->Start();
  EXPECT_EQ(p.Canvas.GetPixel(1, 1), red);
  EXPECT_EQ(p.Canvas.GetPixel(0, 0), grey);
}

TEST(GifPainter, PreviewControlAnimatesOffscreen) {
  VemraTestStartup();
  TAnim a({10, 10}, {}, 0);
  TFakeClock clock;
  TRecordingViewHost host(4, 4, &clock);
  TGIFPreview preview(&host);
  preview.SetImage(&a.Gif);
  ASSERT_NE(preview.Painter(), nullptr);
  host.ProcessPaint();
  EXPECT_EQ(host.Screen().GetPixel(2, 2), 0xFFFF0000u);
  clock.Advance(120);
  host.ProcessPaint();
  EXPECT_EQ(host.Screen().GetPixel(2, 2), 0xFF00FF00u);
  preview.SetImage(nullptr);
  EXPECT_EQ(clock.TimerCount(), 0u);
}

// ---- The image starting its painters ------------------------------------------------------------

namespace {

const uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlue = 0xFF0000FFu, kGrey = 0xFF808080u;
const uint16_t kDefault = goAsync | goTransparent | goAnimate | goLoop | goDither | goAutoDither;

// An image drawn onto a grey 4 x 4 canvas, its painters on a fake clock and
// its five events recorded (paints with the time in milliseconds).
struct TScene : TGIFPainterFactory {
  TFakeClock Clock;
  TRecordingViewHost Host{4, 4, &Clock};
  TBitmap32 Canvas;
  std::vector<std::string> Events;
  TGIFImage* Gif;  // null once freed
  int Made = 0;
  explicit TScene(TGIFImage& G) : Gif(&G) {
    Canvas.SetSize(4, 4);
    Canvas.Clear(kGrey);
    G.PainterFactory = this;
    const auto note = [this](const char* What, bool Frame, bool Time) {
      return [=, this](TGIFPainterBase& P) {
        Events.push_back(What + (Frame ? std::to_string(P.ActiveFrame) : "") +
                         (Time ? "@" + std::to_string(Clock.Microseconds() / 1000) : ""));
      };
    };
    G.OnStartPaint = note("start", false, false);
    G.OnPaint = note("paint", true, true);
    G.OnAfterPaint = note("after", true, false);
    G.OnLoop = note("loop", false, false);
    G.OnEndPaint = note("end", false, false);
  }
  // The painters use the host and the canvas, which go first.
  ~TScene() override {
    if (Gif) Gif->StopDraw();
  }
  std::shared_ptr<TGIFPainterBase> CreatePainter(TGIFImage& Image, const TPixelSurface& C,
                                                 const TPlatformRect& R) override {
    ++Made;
    return std::make_shared<TGIFPainter>(Image, Host, C, R);
  }
  void Draw(const TPlatformRect& R = {0, 0, 4, 4}) {
    TPixelSurface s{Canvas.Bits(), 4, 4};
    Gif->Draw(s, R);
  }
};

}  // namespace

TEST(GifImageDraw, OptionsChooseAFrameOrAPainter) {
  VemraTestStartup();
  const uint16_t sync = kDefault & ~goAsync;
  struct TCase {
    const char* Name;
    std::vector<int> Delays;
    int Loops, Force, Speed;
    uint16_t Options;
    int Painters;  // running after Draw
    uint32_t Shown;
    const char* Events;
  } cases[] = {
      {"one frame", {10}, -1, -1, 100, kDefault, 0, kRed, ""},
      {"no animate, forced frame", {10, 10, 10}, -1, 1, 100, uint16_t(kDefault & ~goAnimate), 0, kGreen, ""},
      {"no factory", {10, 10}, -1, -1, 100, kDefault, 0, kRed, ""},
      {"asynchronous", {10, 10}, -1, -1, 100, kDefault, 1, kRed, "start paint0@0 after0"},
      // Synchronous: plays to the end inside Draw, one unit's wait first.
      {"synchronous", {10, 10, 10}, -1, -1, 100, sync, 0, kBlue,
       "start paint0@12 after0 paint1@132 after1 paint2@252 after2 end"},
      {"synchronous, direct", {10, 10}, -1, -1, 100, uint16_t(sync | goDirectDraw), 0, kGreen,
       "start paint0@12 after0 paint1@132 after1 end"},
      // Forever on a timer is once here, and so is looping on and on.
      {"loop count 0", {10, 10}, 0, -1, 100, sync, 0, kGreen, "start paint0@12 after0 paint1@132 after1 end"},
      {"loop on and on", {10, 10}, -1, -1, 100, uint16_t(sync | goLoopContinously), 0, kGreen,
       "start paint0@12 after0 paint1@132 after1 end"},
      {"loop count 2", {10, 10}, 2, -1, 100, sync, 0, kGreen,
       "start paint0@12 after0 paint1@132 after1 loop paint0@252 after0 paint1@372 after1 end"},
      // 5000 units are held to 1000 (12 s) when the caller waits.
      {"long delay", {5000, 10}, -1, -1, 100, sync, 0, kGreen, "start paint0@12 after0 paint1@12012 after1 end"},
      {"speed 0", {10, 10}, -1, -1, 0, sync, 0, kGreen, "start paint0@12000 after0 paint1@24000 after1 end"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TAnim a(c.Delays, {}, c.Loops);
    a.Gif.DrawOptions = c.Options;
    a.Gif.ForceFrame = c.Force;
    a.Gif.AnimationSpeed = c.Speed;
    TScene s(a.Gif);
    if (std::string(c.Name) == "no factory") a.Gif.PainterFactory = nullptr;
    s.Draw();
    EXPECT_EQ(s.Canvas.GetPixel(2, 2), c.Shown);
    EXPECT_EQ(a.Gif.PainterCount(), c.Painters);
    EXPECT_EQ(s.Events, Split(c.Events));
    EXPECT_EQ(s.Clock.TimerCount(), size_t(c.Painters));
  }
}

TEST(GifImageDraw, CompositeAndDirectPaintersOverTime) {
  VemraTestStartup();
  // On the composite the canvas changes only when drawn again, stretched or tiled.
  TAnim a({10, 10}, {}, 0);
  TScene s(a.Gif);
  s.Draw();
  s.Clock.Advance(120);
  EXPECT_EQ(s.Canvas.GetPixel(2, 2), kRed);
  s.Draw({0, 0, 2, 2});
  EXPECT_EQ(s.Canvas.GetPixel(1, 1), kGreen);
  EXPECT_EQ(s.Canvas.GetPixel(2, 2), kRed);
  a.Gif.DrawOptions |= goTile;
  s.Draw({1, 1, 4, 4});
  EXPECT_EQ(s.Canvas.GetPixel(0, 0), kGreen);  // left by the stretched draw
  EXPECT_EQ(s.Canvas.GetPixel(3, 3), kGreen);
  EXPECT_EQ(s.Made, 1);
  // Direct: the painter paints on the canvas itself; drawing again on the
  // same canvas and rectangle leaves it running, another rectangle restarts.
  TAnim d({10, 10}, {}, 0);
  d.Gif.DrawOptions |= goDirectDraw;
  TScene t(d.Gif);
  t.Draw();
  t.Clock.Advance(120);
  EXPECT_EQ(t.Canvas.GetPixel(2, 2), kGreen);
  t.Draw();
  t.Draw({0, 0, 2, 2});
  EXPECT_EQ(d.Gif.PainterCount(), 1);
  EXPECT_EQ(t.Made, 2);
  // The loop event opens the next round, before its first wait.
  EXPECT_EQ(t.Events, Split("start paint0@0 after0 paint1@120 after1 loop end start paint0@120 after0"));
}

TEST(GifImageDraw, StoppingFromEventsAndOnChanges) {
  VemraTestStartup();
  // A Draw from a painter's own event inside Draw does nothing.
  TAnim a({10, 10});
  a.Gif.DrawOptions &= uint16_t(~goAsync);
  TScene s(a.Gif);
  a.Gif.OnAfterPaint = [&](TGIFPainterBase&) { s.Draw(); };
  s.Draw();
  EXPECT_EQ(s.Made, 1);
  EXPECT_EQ(s.Events, Split("start paint0@12 paint1@132 end"));
  // Stopping from a paint event, by changing the image or freeing it: one
  // end event, no timer, no painter; an end event that draws starts nothing,
  // and the next Draw animates anew.
  struct TCase {
    const char* Name;
    std::function<void(std::unique_ptr<TAnim>&)> Change;
    bool InEvent;
  } cases[] = {
      {"StopDraw in an event", [](auto& A) { A->Gif.StopDraw(); }, true},
      {"a frame added", [](auto& A) { A->Gif.Add(std::make_unique<TGIFSubImage>(&A->Gif)); }, false},
      {"wider", [](auto& A) { A->Gif.SetWidth(8); }, false},
      {"global table", [](auto& A) { A->Gif.GlobalColorMap().Add({1, 2, 3}); }, false},
      {"cleared", [](auto& A) { A->Gif.Clear(); }, false},
      {"freed", [](auto& A) { A.reset(); }, false},
  };
  for (const TCase& c : cases)
    for (uint16_t options : {kDefault, uint16_t(kDefault | goDirectDraw), uint16_t(kDefault & ~goAsync)}) {
      SCOPED_TRACE(std::string(c.Name) + " " + std::to_string(options));
      const bool sync = (options & goAsync) == 0;
      if (sync && !c.InEvent) continue;  // it has ended inside Draw
      auto a = std::make_unique<TAnim>(std::vector<int>{10, 10, 10}, std::vector<int>{}, 0);
      a->Gif.DrawOptions = options;
      TScene t(a->Gif);
      a->Gif.OnAfterPaint = [&](TGIFPainterBase& P) {
        if (c.InEvent && P.ActiveFrame == 1) c.Change(a);
      };
      a->Gif.OnEndPaint = [&](TGIFPainterBase&) {
        t.Events.push_back("end");
        if (t.Gif) t.Draw();
      };
      t.Draw();
      t.Clock.Advance(120);
      if (!c.InEvent) c.Change(a);
      if (!a) t.Gif = nullptr;
      t.Clock.Advance(1000);
      EXPECT_EQ(t.Events, Split(sync ? "start paint0@12 paint1@132 end" : "start paint0@0 paint1@120 end"));
      EXPECT_EQ(t.Clock.TimerCount(), 0u);
      if (a && a->Gif.Images().Count() > 0) {
        EXPECT_EQ(a->Gif.PainterCount(), 0);
        t.Draw();
        EXPECT_EQ(t.Made, 2);
      }
    }
}
