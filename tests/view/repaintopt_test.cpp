// The micro-tile repaint optimizer: what a moved, changed or deleted layer and
// a changed bitmap repaint (the screen after a partial repaint must equal a
// full one), the adaptive levels on a fake clock, and the hooks' lifetime.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "raster_image.h"
#include "raster_layers.h"
#include "raster_microtiles.h"
#include "view_host.h"

namespace {

constexpr TColor32 kRed = 0xFFFF0000u;
constexpr TColor32 kBlue = 0xFF0000FFu;
constexpr TColor32 kGreen = 0xFF00FF00u;

std::vector<TColor32> Pixels(TBitmap32& B) { return std::vector<TColor32>(B.Bits(), B.Bits() + B.PixelCount()); }

TBitmapLayer* AddSquare(TImage32& Img, TFloatRect Where, TColor32 C) {
  auto* l = Img.Layers()->Add<TBitmapLayer>();
  TBitmap32 b;
  b.SetSize(10, 10);
  b.Clear(C);
  l->SetBitmap(&b);
  l->SetLocation(Where);
  return l;
}

// A 100 x 100 view of a blue bitmap in optimizer mode, painted once in full.
struct TView {
  TRecordingViewHost Host{100, 100};
  TImage32 Img{&Host};
  TView() {
    Img.Bitmap()->SetSize(100, 100);
    Img.Bitmap()->Clear(kBlue);
    Img.SetRepaintMode(rmOptimizer);
    // Real paint times under the sanitizers would move the levels at random.
    Opt()->SetAdaptiveMode(false);
    Host.ProcessPaint();
  }
  TMicroTilesRepaintOptimizer* Opt() { return dynamic_cast<TMicroTilesRepaintOptimizer*>(Img.RepaintOptimizer()); }
  // Paints what changed and returns the rectangles copied to the window;
  // then checks the screen against a full repaint of the same scene.
  std::vector<TRect> PaintAndCheck() {
    Host.ClearRecords();
    Host.ProcessPaint();
    std::vector<TRect> copied;
    for (const THostRecord& r : Host.RecordsOf(THostCall::CopyToWindow)) copied.push_back(r.Area);
    const std::vector<TColor32> partial = Pixels(Host.Screen());
    Img.ForceFullInvalidate();
    Host.ProcessPaint();
    EXPECT_EQ(partial, Pixels(Host.Screen())) << "the partial repaint left stale pixels";
    return copied;
  }
};

int64_t Area(const std::vector<TRect>& Rs) {
  int64_t a = 0;
  for (const TRect& r : Rs) a += int64_t(r.Right - r.Left) * (r.Bottom - r.Top);
  return a;
}

bool Inside(const TRect& R, const TRect& Outer) {
  return R.Left >= Outer.Left && R.Top >= Outer.Top && R.Right <= Outer.Right && R.Bottom <= Outer.Bottom;
}

}  // namespace

TEST(MicroTilesRepaintOptimizer, IsWhatPaintBoxesCreate) {
  TImage32 img;
  EXPECT_NE(dynamic_cast<TMicroTilesRepaintOptimizer*>(img.RepaintOptimizer()), nullptr);
}

TEST(MicroTilesRepaintOptimizer, LayerChangesRepaintOnlyTheOldAndNewPlaces) {
  TView v;
  TBitmapLayer* a = AddSquare(v.Img, TFloatRect{10, 10, 20, 20}, kRed);
  TBitmapLayer* b = AddSquare(v.Img, TFloatRect{60, 60, 70, 70}, kGreen);
  v.PaintAndCheck();
  ASSERT_NE(v.Opt()->OldInvalidTiles(a), nullptr);

  // A move repaints where the layer was and where it is, not the rest.
  a->SetLocation(TFloatRect{40, 12, 50, 22});
  EXPECT_NE(a->LayerOptions() & LOB_INVALID, 0u);
  std::vector<TRect> copied = v.PaintAndCheck();
  ASSERT_FALSE(copied.empty());
  EXPECT_LE(Area(copied), 2 * 10 * 10 + 200);
  for (const TRect& r : copied) EXPECT_TRUE(Inside(r, TRect{10, 10, 50, 22})) << r.Left << "," << r.Top;
  EXPECT_EQ(a->LayerOptions() & LOB_INVALID, 0u);
  EXPECT_EQ(v.Host.Screen().GetPixel(15, 15), kBlue);
  EXPECT_EQ(v.Host.Screen().GetPixel(45, 15), kRed);

  // A deleted layer's last place is repainted.
  v.Img.Layers()->Remove(b);
  copied = v.PaintAndCheck();
  ASSERT_FALSE(copied.empty());
  for (const TRect& r : copied) EXPECT_TRUE(Inside(r, TRect{60, 60, 70, 70}));
  EXPECT_EQ(v.Host.Screen().GetPixel(65, 65), kBlue);

  // A change of the bitmap repaints its mapped area (grown by the resampler's reach).
  v.Img.Bitmap()->FillRect(80, 5, 90, 8, kGreen);
  copied = v.PaintAndCheck();
  ASSERT_FALSE(copied.empty());
  for (const TRect& r : copied) EXPECT_TRUE(Inside(r, TRect{78, 3, 92, 10}));

  // Clearing the collection repaints every layer's place.
  v.Img.Layers()->Clear();
  copied = v.PaintAndCheck();
  ASSERT_FALSE(copied.empty());
  for (const TRect& r : copied) EXPECT_TRUE(Inside(r, TRect{40, 12, 50, 22}));
}

// A layer that moves while a full repaint is owed (after a resize, or in a
// new window) is painted by it; its later moves still repaint only their tiles.
TEST(MicroTilesRepaintOptimizer, LayerMovedBeforeAFullRepaintStaysOptimized) {
  TView v;
  TBitmapLayer* a = AddSquare(v.Img, TFloatRect{10, 10, 20, 20}, kRed);
  v.PaintAndCheck();
  v.Img.ForceFullInvalidate();
  a->SetLocation(TFloatRect{30, 30, 40, 40});
  v.Host.ProcessPaint();
  EXPECT_EQ(v.Host.Screen().GetPixel(35, 35), kRed);
  for (int Step = 1; Step <= 3; ++Step) {
    const float X = 30.0f + 10 * Step;
    a->SetLocation(TFloatRect{X, 30, X + 10, 40});
    const std::vector<TRect> copied = v.PaintAndCheck();
    ASSERT_FALSE(copied.empty());
    for (const TRect& r : copied) EXPECT_TRUE(Inside(r, TRect{int32_t(X) - 10, 30, int32_t(X) + 10, 40})) << Step;
  }
}

TEST(MicroTilesRepaintOptimizer, ThrowingLayerLeavesTheBufferOutOfMeasuring) {
  TView v;
  AddSquare(v.Img, TFloatRect{10, 10, 20, 20}, kRed);
  auto* bad = v.Img.Layers()->Add<TPositionedLayer>();
  bool fail = true;
  bad->OnPaint = [&](TCustomLayer*, TBitmap32*) {
    if (fail) throw EListError("paint failed");
  };
  EXPECT_THROW(v.Img.ForceFullInvalidate(), EListError);  // the reset measures every layer
  EXPECT_FALSE(v.Img.Buffer()->MeasuringMode());
  fail = false;
  v.PaintAndCheck();
}

namespace {

// The optimizer on its own with a clock the test moves.
class TClockedOptimizer : public TMicroTilesRepaintOptimizer {
 public:
  using TMicroTilesRepaintOptimizer::TMicroTilesRepaintOptimizer;
  int64_t Elapsed = 0;
  int64_t Tick = 0;

 protected:
  int64_t PaintElapsedMicroseconds() override { return Elapsed; }
  int64_t CurrentTickCount() override { return Tick; }
};

struct TBench {
  TBitmap32 Buffer;
  TRectList Rects;
  TLayerCollection Layers;
  std::unique_ptr<TClockedOptimizer> Opt;
  TBench() {
    Buffer.SetSize(128, 128);
    Opt = std::make_unique<TClockedOptimizer>(&Buffer, &Rects);
    Opt->RegisterLayerCollection(&Layers);
    Opt->SetEnabled(true);
  }
  // One repaint cycle taking Micro microseconds; returns the rectangles painted.
  std::vector<TRect> Cycle(int64_t Micro, const TRect& Changed = TRect{1, 1, 3, 3}) {
    Rects.Clear();
    Opt->AreaUpdated(nullptr, Changed, AREAINFO_RECT);
    EXPECT_TRUE(Opt->UpdatesAvailable());
    Opt->PerformOptimization();
    std::vector<TRect> out(Rects.begin(), Rects.end());
    Opt->BeginPaintBuffer();
    Opt->Elapsed = Micro;
    Opt->EndPaintBuffer();
    return out;
  }
};

}  // namespace

TEST(MicroTilesRepaintOptimizer, SlowPartialRepaintsCoarsenThenRecover) {
  TBench t;
  // The reset after enabling owes a full repaint: the whole buffer in one piece.
  t.Rects.Clear();
  ASSERT_TRUE(t.Opt->UpdatesAvailable());
  t.Opt->PerformOptimization();
  ASSERT_EQ(t.Rects.Count(), 1);
  EXPECT_EQ(*t.Rects.GetItem(0), (TRect{0, 0, 128, 128}));
  // Timed as a full scene (the paint box empties the list for a full repaint).
  t.Rects.Clear();
  t.Opt->BeginPaintBuffer();
  t.Opt->Elapsed = 500;
  t.Opt->EndPaintBuffer();
  EXPECT_EQ(t.Opt->FullSceneTime(), 500);
  EXPECT_FALSE(t.Opt->UpdatesAvailable());

  EXPECT_EQ(t.Cycle(100), (std::vector<TRect>{{1, 1, 3, 3}}));  // fast: stays exact
  EXPECT_EQ(t.Opt->PerformanceLevel(), PL_MICROTILES);
  t.Cycle(900);  // slower than the full scene: whole tiles next time
  EXPECT_EQ(t.Opt->PerformanceLevel(), PL_WHOLETILES);
  EXPECT_TRUE(t.Opt->AdaptionFailed());
  EXPECT_EQ(t.Cycle(900), (std::vector<TRect>{{0, 0, 32, 32}}));
  EXPECT_EQ(t.Opt->PerformanceLevel(), PL_FULLSCENE);
  // At the full-scene level the list is emptied: the paint box repaints everything.
  EXPECT_TRUE(t.Cycle(300).empty());
  EXPECT_EQ(t.Opt->FullSceneTime(), 300);

  // Once the tick passes the next check, the level steps down and a timed
  // check follows; a fast repaint then keeps it and resets the delay.
  t.Opt->Tick += 1;  // NextCheck was never set past the start tick
  t.Cycle(100);
  EXPECT_EQ(t.Opt->PerformanceLevel(), PL_WHOLETILES);
  EXPECT_EQ(t.Opt->TimeDelta(), 1000);
  t.Opt->Tick += 2000;
  t.Cycle(100);
  EXPECT_EQ(t.Opt->PerformanceLevel(), PL_MICROTILES);
  EXPECT_FALSE(t.Opt->TimedCheck());
}

// Past 2^31 milliseconds of uptime (25 days), and with a next check set 25
// days before the clock is read again, slow repaints must still be retried
// finer once the delay is over: the 32-bit tick compared as a signed
// difference locked the view at full repaints for good.
TEST(MicroTilesRepaintOptimizer, LongUptimeStillReturnsToMicroTiles) {
  constexpr int64_t kDay = 24 * 3600 * 1000;
  struct TCase {
    int64_t StartTick;
    int64_t Later;  // how long after the level rose the view is used again
  } cases[] = {{0x90000000LL, 1500}, {0x90000000LL, 25 * kDay}, {0, 25 * kDay}, {0xFFFFFF00LL, 1300}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.StartTick);
    TBench t;
    t.Opt->Tick = c.StartTick;
    t.Rects.Clear();
    t.Opt->PerformOptimization();
    t.Rects.Clear();  // timed as a full scene
    t.Opt->BeginPaintBuffer();
    t.Opt->Elapsed = 500;
    t.Opt->EndPaintBuffer();
    // Two slow partial repaints: whole tiles, then the full scene. One step
    // down and a slow repaint again: the timed check fails and sets the next
    // check 1.25 s ahead.
    t.Cycle(900);
    t.Cycle(900);
    t.Opt->Tick += 1;
    t.Cycle(900);
    ASSERT_EQ(t.Opt->PerformanceLevel(), PL_FULLSCENE);
    ASSERT_EQ(t.Opt->TimeDelta(), 1250);
    t.Opt->Tick += c.Later;
    int cycles = 0;
    while (t.Opt->PerformanceLevel() != PL_MICROTILES && cycles < 4) {
      t.Cycle(100);
      t.Opt->Tick += 5001;  // past any delay the optimizer may have chosen
      ++cycles;
    }
    EXPECT_EQ(t.Opt->PerformanceLevel(), PL_MICROTILES);
    EXPECT_EQ(cycles, 2);
  }
}

TEST(MicroTilesRepaintOptimizer, HooksFollowEnablingAndLifetime) {
  TBitmap32 buffer;
  buffer.SetSize(64, 64);
  TRectList rects;
  TLayerCollection layers;
  auto* l = layers.Add<TPositionedLayer>();
  {
    TMicroTilesRepaintOptimizer opt(&buffer, &rects);
    opt.RegisterLayerCollection(&layers);
    EXPECT_TRUE(layers.OnListNotify);
    EXPECT_FALSE(layers.OnLayerUpdated);
    opt.SetEnabled(true);
    EXPECT_TRUE(layers.OnLayerUpdated);
    EXPECT_TRUE(layers.OnAreaUpdated);
    l->SetLocation(TFloatRect{1, 1, 5, 5});
    ASSERT_EQ(opt.InvalidLayers(), std::vector<TCustomLayer*>{l});
    opt.SetEnabled(false);
    EXPECT_FALSE(layers.OnLayerUpdated);
    EXPECT_TRUE(opt.InvalidLayers().empty());
    EXPECT_EQ(l->LayerOptions() & LOB_INVALID, 0u);
    opt.SetEnabled(true);
    l->SetLocation(TFloatRect{2, 2, 5, 5});
    EXPECT_EQ(opt.InvalidLayers().size(), 1u);
    // Unregistering forgets the collection's queued layers, so freeing them
    // later leaves nothing dangling.
    opt.UnregisterLayerCollection(&layers);
    EXPECT_TRUE(opt.InvalidLayers().empty());
    EXPECT_FALSE(layers.OnListNotify);
    opt.RegisterLayerCollection(&layers);
  }
  // The optimizer is gone: the collection must not call it.
  EXPECT_FALSE(layers.OnLayerUpdated);
  EXPECT_FALSE(layers.OnListNotify);
  l->SetLocation(TFloatRect{3, 3, 6, 6});
  layers.Clear();
}
