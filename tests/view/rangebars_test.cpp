// The arrow, range and gauge bars in a recording window on a fake clock:
// button and handle geometry, the position rules, auto-repeat timing, track
// paging, handle drags, hot tracking, the wheel, events, drawing and the
// access object.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "change_recorder.h"
#include "raster_rangebars.h"
#include "view_host.h"

namespace {

// A borderless horizontal bar of 100 x 16: buttons 16 long, track 16..84 (68).
template <class TBar>
struct TBarRig {
  TFakeClock Clock;
  TRecordingViewHost Host{100, 16, &Clock};
  TBar Bar{&Host};
  int Changes = 0, UserChanges = 0;
  TBarRig() {
    Bar.SetBorderStyle(bsNone);
    Bar.OnChange = [this](void*) { ++Changes; };
    Bar.OnUserChange = [this](void*) { ++UserChanges; };
  }
};

TEST(ArrowBar, ButtonSizeRule) {
  struct Case {
    int32_t W, H, ButtonSize;
    TRBStyle Style;
    bool Arrows;
    int32_t Expected;
  };
  const Case cases[] = {
      {100, 16, 0, rbsDefault, true, 16},   // thickness
      {100, 40, 0, rbsDefault, true, 32},   // at most 32
      {100, 16, 0, rbsMac, true, 15},       // one less in the flat style
      {100, 16, 0, rbsDefault, false, 0},   // no arrows
      {20, 16, 0, rbsDefault, true, 10},    // half a short bar
      {3, 16, 0, rbsDefault, true, 0},      // below 2
      {100, 16, 40, rbsDefault, true, 40},  // explicit
      {100, 16, 60, rbsDefault, true, 50},  // explicit, halved
  };
  for (const Case& c : cases) {
    TRecordingViewHost host(c.W, c.H);
    TGaugeBar bar(&host);
    bar.SetBorderStyle(bsNone);
    bar.SetButtonSize(c.ButtonSize);
    bar.SetStyle(c.Style);
    bar.SetShowArrows(c.Arrows);
    EXPECT_EQ(bar.GetButtonSize(), c.Expected) << c.W << "x" << c.H << " size " << c.ButtonSize;
  }
  // The single border takes two pixels a side from the client area.
  TRecordingViewHost host(100, 20);
  TGaugeBar bordered(&host);
  EXPECT_EQ(bordered.ClientWidth(), 96);
  EXPECT_EQ(bordered.GetButtonSize(), 16);
}

TEST(ArrowBar, ZonesAlongTheBar) {
  TBarRig<TGaugeBar> r;
  r.Bar.SetPosition(50);  // handle 16 long at 16 + Round(52 * 0.5) = 42
  EXPECT_EQ(r.Bar.GetHandleRect(), (TRect{42, 0, 58, 16}));
  EXPECT_EQ(r.Bar.GetZone(-1, 8), zNone);
  EXPECT_EQ(r.Bar.GetZone(0, 8), zBtnPrev);
  EXPECT_EQ(r.Bar.GetZone(15, 8), zBtnPrev);
  EXPECT_EQ(r.Bar.GetZone(16, 8), zTrackPrev);
  EXPECT_EQ(r.Bar.GetZone(42, 8), zHandle);
  EXPECT_EQ(r.Bar.GetZone(58, 8), zTrackNext);
  EXPECT_EQ(r.Bar.GetZone(84, 8), zBtnNext);
  EXPECT_EQ(r.Bar.GetZone(99, 16), zNone);
}

TEST(RangeBar, PositionLimits) {
  TBarRig<TRangeBar> r;
  r.Bar.SetRange(100);
  r.Bar.SetWindow(200);
  for (float p : {50.0f, -5.0f, 1000.0f}) {
    r.Bar.SetPosition(p);
    EXPECT_EQ(r.Bar.Position(), 0.0f);
  }
  r.Bar.SetWindow(0);  // the bar's own length
  EXPECT_EQ(r.Bar.EffectiveWindow(), 100);
  r.Bar.SetRange(1000);
  r.Bar.SetPosition(2000);
  EXPECT_EQ(r.Bar.Position(), 900.0f);
  r.Bar.SetRange(-7);
  EXPECT_EQ(r.Bar.Range(), 0);
  EXPECT_EQ(r.Bar.Position(), 0.0f);
}

TEST(RangeBar, HandleLengthAndMinimum) {
  TBarRig<TRangeBar> r;
  r.Bar.SetRange(200);  // Round(68 * 100 / 200) = 34
  r.Bar.SetPosition(50);
  EXPECT_EQ(r.Bar.GetHandleRect(), (TRect{33, 0, 67, 16}));
  r.Bar.SetRange(10000);  // 1 pixel becomes 17; offset over (68 - 17)
  r.Bar.SetPosition(9900);
  EXPECT_EQ(r.Bar.GetHandleRect(), (TRect{67, 0, 84, 16}));
  r.Bar.SetRange(50);  // nothing to scroll: the handle fills the track, drawn disabled
  EXPECT_EQ(r.Bar.GetHandleRect(), (TRect{16, 0, 84, 16}));
  EXPECT_FALSE(r.Bar.DrawEnabled());
}

TEST(RangeBar, CentredBarKeepsItsCentre) {
  TBarRig<TRangeBar> r;
  r.Bar.SetCentered(true);
  r.Bar.SetRange(1000);
  r.Bar.SetPosition(450);  // centre at 500 of 1000
  r.Bar.SetRange(2000);
  EXPECT_FLOAT_EQ(r.Bar.Position(), 950.0f);
  // A resize keeps it too: window 100 -> 200, centre still 1000.
  r.Host.SetClientSize(200, 16);
  r.Bar.Resize();
  EXPECT_FLOAT_EQ(r.Bar.Position(), 900.0f);
  // Not centred: the position stays.
  TBarRig<TRangeBar> s;
  s.Bar.SetRange(1000);
  s.Bar.SetPosition(450);
  s.Bar.SetRange(2000);
  EXPECT_EQ(s.Bar.Position(), 450.0f);
}

TEST(RangeBar, CodeChangesFireOnlyOnChangeDragFiresBoth) {
  TBarRig<TRangeBar> r;
  r.Bar.SetRange(200);
  r.Bar.SetPosition(10);
  EXPECT_EQ(r.Changes, 1);
  EXPECT_EQ(r.UserChanges, 0);
  r.Bar.SetPosition(10);  // no change, no event
  EXPECT_EQ(r.Changes, 1);
  r.Bar.SetPosition(0);
  r.Changes = 0;
  // Handle 16..50; drag it by 10 pixels: 10 * 200 / 68.
  r.Bar.MouseDown(mbLeft, 0, 30, 8);
  EXPECT_EQ(r.Bar.DragZone(), zHandle);
  r.Bar.MouseMove(ssLeft, 40, 8);
  EXPECT_FLOAT_EQ(r.Bar.Position(), static_cast<float>(10 * 200 / 68.0L));
  EXPECT_EQ(r.Changes, 1);
  EXPECT_EQ(r.UserChanges, 1);
  r.Bar.MouseUp(mbLeft, 0, 40, 8);
  EXPECT_EQ(r.Bar.DragZone(), zNone);
  EXPECT_EQ(r.Bar.TimerMode(), tmHotTrack);
  EXPECT_FALSE(r.Host.MouseCapture());
}

// A scroll bar follows the wheel as a page does: turned toward the user
// (a negative delta) it shows what lies further on, turned away what lies
// before, and it stops at either end without an event.
TEST(RangeBar, WheelDownShowsWhatLiesFurtherOn) {
  struct Case {
    float From;
    int32_t Delta;
    float To;
  };
  const Case cases[] = {
      {500, -120, 508},  // one notch toward the user: one Increment on
      {500, 120, 492},   // away: one back
      {500, -360, 524},  // three notches at once
      {500, -60, 504},   // half a notch of a fine wheel: half an Increment
      {4, 120, 0},       // held at the start
      {898, -120, 900},  // held at the end, range - window
      {0, 120, 0},       // at the start already: no change
      {900, -120, 900},
  };
  for (const Case& c : cases) {
    TBarRig<TRangeBar> r;
    r.Bar.SetRange(1000);  // window 100, the bar's length; Increment 8
    r.Bar.SetPosition(c.From);
    r.Changes = 0;
    EXPECT_TRUE(r.Bar.MouseWheel(0, c.Delta, 50, 8));
    EXPECT_EQ(r.Bar.Position(), c.To) << c.From << " by " << c.Delta;
    const int Moved = c.To != c.From ? 1 : 0;
    EXPECT_EQ(r.Changes, Moved) << c.From << " by " << c.Delta;
    EXPECT_EQ(r.UserChanges, Moved) << c.From << " by " << c.Delta;
  }
}

TEST(RangeBar, ArrowRepeatsAfter600ThenEvery100AndStopsAtTheLimit) {
  TBarRig<TRangeBar> r;
  r.Bar.SetRange(130);  // limit 30
  r.Bar.MouseDown(mbLeft, 0, 95, 8);
  EXPECT_EQ(r.Bar.Position(), 8.0f);  // once at once
  r.Clock.Advance(599);
  EXPECT_EQ(r.Bar.Position(), 8.0f);
  r.Clock.Advance(1);
  EXPECT_EQ(r.Bar.Position(), 16.0f);
  r.Clock.Advance(100);
  EXPECT_EQ(r.Bar.Position(), 24.0f);
  r.Clock.Advance(100);
  EXPECT_EQ(r.Bar.Position(), 30.0f);
  EXPECT_EQ(r.Bar.TimerMode(), tmRepeat);
  r.Clock.Advance(100);  // nothing left to move: hot tracking
  EXPECT_EQ(r.Bar.Position(), 30.0f);
  EXPECT_EQ(r.Bar.TimerMode(), tmHotTrack);
  EXPECT_EQ(r.UserChanges, 4);
  r.Bar.MouseUp(mbLeft, 0, 95, 8);
}

TEST(RangeBar, TrackPagesOnlyUntilTheHandlePassesTheMouse) {
  TBarRig<TRangeBar> r;
  r.Bar.SetRange(1000);  // window 100, minimum handle 17 over 51 pixels
  r.Bar.MouseDown(mbLeft, 0, 60, 8);
  EXPECT_EQ(r.Bar.Position(), 100.0f);
  r.Clock.Advance(3000);
  // At 500 the handle covers 44..61 and so the mouse: paging stops there.
  EXPECT_EQ(r.Bar.Position(), 500.0f);
  EXPECT_EQ(r.Bar.GetZone(60, 8), zHandle);
  r.Bar.MouseUp(mbLeft, 0, 60, 8);
}

TEST(RangeBar, PressIgnoredWithNothingToScroll) {
  TBarRig<TRangeBar> r;
  r.Bar.SetRange(80);
  r.Bar.MouseDown(mbLeft, 0, 95, 8);
  EXPECT_EQ(r.Bar.DragZone(), zNone);
  EXPECT_EQ(r.Clock.TimerCount(), 0u);
  EXPECT_EQ(r.Changes, 0);
}

TEST(ArrowBar, HotTrackingEndsAfterTheMouseLeaves) {
  TBarRig<TGaugeBar> r;
  r.Bar.MouseMove(0, 5, 8);
  EXPECT_EQ(r.Bar.HotZone(), zBtnPrev);
  EXPECT_EQ(r.Bar.TimerMode(), tmHotTrack);
  r.Bar.MouseMove(0, 60, 8);
  EXPECT_EQ(r.Bar.HotZone(), zTrackNext);
  r.Clock.Advance(300);  // still inside
  EXPECT_EQ(r.Bar.HotZone(), zTrackNext);
  r.Bar.MouseLeave();
  r.Clock.Advance(150);
  EXPECT_EQ(r.Bar.HotZone(), zNone);
  EXPECT_EQ(r.Clock.TimerCount(), 0u);
}

TEST(GaugeBar, MinMaxAndPositionLimits) {
  TBarRig<TGaugeBar> r;
  r.Bar.SetMin(1);
  r.Bar.SetMax(64);
  r.Bar.SetPosition(0);
  EXPECT_EQ(r.Bar.Position(), 1);
  r.Bar.SetMax(1);
  EXPECT_EQ(r.Bar.Max(), 2);
  r.Bar.SetMin(5);
  EXPECT_EQ(r.Bar.Min(), 1);
  r.Bar.SetPosition(99);
  EXPECT_EQ(r.Bar.Position(), 2);
  r.Bar.SetSmallChange(0);
  r.Bar.SetLargeChange(-4);
  EXPECT_EQ(r.Bar.SmallChange(), 1);
  EXPECT_EQ(r.Bar.LargeChange(), 1);
  // While loading Min and Max take any order; the position settles afterwards.
  TBarRig<TGaugeBar> l;
  l.Bar.SetLoading(true);
  l.Bar.SetMin(200);
  l.Bar.SetMax(255);
  EXPECT_EQ(l.Bar.Min(), 200);
  l.Bar.Loaded();
  EXPECT_EQ(l.Bar.Position(), 200);
}

TEST(GaugeBar, DragPageAndWheel) {
  TBarRig<TGaugeBar> r;
  r.Bar.SetPosition(50);
  // Handle 42..58; 26 pixels right is (100 - 0) * 26 / 52 = 50 more.
  r.Bar.MouseDown(mbLeft, 0, 50, 8);
  r.Bar.MouseMove(ssLeft, 76, 8);
  EXPECT_EQ(r.Bar.Position(), 100);
  r.Bar.MouseMove(ssLeft, 37, 8);  // -13 px: Round(-25)
  EXPECT_EQ(r.Bar.Position(), 25);
  r.Bar.MouseUp(mbLeft, 0, 37, 8);
  EXPECT_GE(r.UserChanges, 2);
  r.Bar.SetLargeChange(10);
  r.Bar.MouseDown(mbLeft, 0, 20, 8);  // track before the handle
  EXPECT_EQ(r.Bar.Position(), 15);
  r.Bar.MouseUp(mbLeft, 0, 20, 8);
  r.Bar.SetSmallChange(3);
  EXPECT_TRUE(r.Bar.MouseWheel(0, 240, 50, 8));
  EXPECT_EQ(r.Bar.Position(), 21);
  EXPECT_TRUE(r.Bar.MouseWheel(0, -119, 50, 8));  // 3 * -119 div 120, toward zero
  EXPECT_EQ(r.Bar.Position(), 19);
}

TEST(GaugeBar, TinyBarHasNoHandleAndDragsNothing) {
  TFakeClock clock;
  TRecordingViewHost host(10, 16, &clock);
  TGaugeBar bar(&host);
  bar.SetBorderStyle(bsNone);
  EXPECT_TRUE(IsRectEmpty(bar.GetHandleRect()));
  bar.MouseDown(mbLeft, 0, 5, 8);
  bar.MouseMove(ssLeft, 9, 8);
  bar.MouseUp(mbLeft, 0, 9, 8);
  host.ProcessPaint();
  EXPECT_EQ(bar.Position(), 1);  // the press hit the next button
}

TEST(ArrowBar, DrawsHandleTrackAndNoHandleWhenDisabled) {
  TBarRig<TGaugeBar> r;
  r.Bar.SetBackgnd(bgSolid);
  r.Bar.SetColor(0x00FF00);        // green track
  r.Bar.SetHandleColor(0x0000FF);  // red handle
  r.Bar.SetShowHandleGrip(false);
  r.Bar.SetPosition(50);
  r.Host.ProcessPaint();
  EXPECT_EQ(r.Host.Screen().GetPixel(50, 8), 0xFFFF0000u);
  EXPECT_EQ(r.Host.Screen().GetPixel(25, 8), 0xFF00FF00u);
  EXPECT_EQ(r.Host.Screen().GetPixel(70, 8), 0xFF00FF00u);
  r.Bar.SetEnabled(false);
  r.Host.ProcessPaint();
  EXPECT_EQ(r.Host.Screen().GetPixel(50, 8), 0xFF00FF00u);
  r.Bar.MouseDown(mbLeft, 0, 95, 8);  // a disabled bar takes no press
  EXPECT_EQ(r.Bar.Position(), 50);
}

// Random settings in random order: the position stays inside its limits, the
// handle inside the track, and a press on the handle's middle hits it.
TEST(RangeAndGaugeBar, RandomSettingsKeepInvariants) {
  std::mt19937 rng(20261207);
  auto pick = [&](int32_t Lo, int32_t Hi) { return std::uniform_int_distribution<int32_t>(Lo, Hi)(rng); };
  TRecordingViewHost host(100, 16);
  TRangeBar range(&host);
  TRecordingViewHost host2(100, 16);
  TGaugeBar gauge(&host2);
  for (int i = 0; i < 3000; ++i) {
    switch (pick(0, 7)) {
      case 0: range.SetRange(pick(-50, 5000)); break;
      case 1: range.SetWindow(pick(-10, 400)); break;
      case 2: range.SetPosition(static_cast<float>(pick(-100, 6000))); break;
      case 3: range.SetCentered(pick(0, 1) == 1); break;
      case 4: host.SetClientSize(pick(0, 300), pick(0, 40)); range.Resize(); break;
      case 5: gauge.SetMin(pick(-300, 300)); break;
      case 6: gauge.SetMax(pick(-300, 300)); break;
      default: gauge.SetPosition(pick(-400, 400)); break;
    }
    const float limit = std::max(0.0f, static_cast<float>(range.Range() - range.EffectiveWindow()));
    ASSERT_GE(range.Position(), 0.0f);
    ASSERT_LE(range.Position(), limit);
    ASSERT_LT(gauge.Min(), gauge.Max());
    ASSERT_GE(gauge.Position(), gauge.Min());
    ASSERT_LE(gauge.Position(), gauge.Max());
    for (TArrowBar* bar : {static_cast<TArrowBar*>(&range), static_cast<TArrowBar*>(&gauge)}) {
      const TRect h = bar->GetHandleRect(), t = bar->GetTrackBoundary();
      if (IsRectEmpty(h)) continue;
      ASSERT_GE(h.Left, t.Left);
      ASSERT_LE(h.Right, t.Right);
      ASSERT_EQ(bar->GetZone((h.Left + h.Right) / 2, (h.Top + h.Bottom) / 2), zHandle);
    }
  }
}

TEST(ArrowBarAccess, ReadsMasterWritesBoth) {
  TRecordingViewHost h1(100, 16), h2(100, 16);
  TGaugeBar a(&h1), b(&h2);
  TArrowBarAccess access(&a, &b);
  access.SetColor(0x123456);
  access.SetStyle(rbsMac);
  access.SetButtonSize(12);
  EXPECT_EQ(b.Color(), 0x123456);
  EXPECT_EQ(b.Style(), rbsMac);
  EXPECT_EQ(b.ButtonSize(), 12);
  a.SetBackgnd(bgSolid);
  EXPECT_EQ(access.Backgnd(), bgSolid);
  TRecordingViewHost h3(100, 16);
  TGaugeBar c(&h3);
  TArrowBarAccess other(&c, nullptr);
  other.Assign(&access);
  EXPECT_EQ(c.Color(), 0x123456);
  EXPECT_EQ(c.Backgnd(), bgSolid);
  EXPECT_EQ(c.ButtonSize(), 12);
}

}  // namespace

// Every change of the position sends OnChange once, also one that new limits
// force, and the listener already reads the new position; a call that leaves
// the position sends nothing. Range bar of 100 pixels, range 1000, at 800.
TEST(RangeBarNotify, ForcedPositionChangesAreToldWithTheNewPosition) {
  struct Case {
    const char* Name;
    std::function<void(TBarRig<TRangeBar>&)> Do;
    std::vector<std::string> Expected;  // the position seen at each OnChange
  };
  const Case cases[] = {
      {"smaller range", [](auto& r) { r.Bar.SetRange(500); }, {"400"}},
      {"range below the window", [](auto& r) { r.Bar.SetRange(50); }, {"0"}},
      {"larger range", [](auto& r) { r.Bar.SetRange(5000); }, {}},
      {"wider window", [](auto& r) { r.Bar.SetWindow(600); }, {"400"}},
      {"both at once", [](auto& r) { r.Bar.SetParams(300, 50); }, {"250"}},
      {"same params", [](auto& r) { r.Bar.SetParams(1000, 0); }, {}},
      {"longer bar", [](auto& r) { r.Host.SetClientSize(400, 16); r.Bar.Resize(); }, {"600"}},
      {"position beyond the end", [](auto& r) { r.Bar.SetPosition(5000); }, {"900"}},
      {"same position", [](auto& r) { r.Bar.SetPosition(800); }, {}},
  };
  for (const Case& c : cases) {
    TBarRig<TRangeBar> r;
    r.Bar.SetRange(1000);
    r.Bar.SetPosition(800);
    TChangeRecorder rec;
    rec.Observe = [&] { return std::to_string(static_cast<int>(r.Bar.Position())); };
    r.Bar.OnChange = rec.Listener();
    c.Do(r);
    std::vector<std::string> seen;
    for (const auto& e : rec.Events) seen.push_back(e.Seen);
    EXPECT_EQ(seen, c.Expected) << c.Name;
  }
}

// The gauge bar: new limits that move the position tell it the same way.
TEST(GaugeBarNotify, LimitsThatMoveThePositionAreTold) {
  struct Case {
    const char* Name;
    std::function<void(TGaugeBar&)> Do;
    std::vector<std::string> Expected;
  };
  const Case cases[] = {
      {"lower max", [](TGaugeBar& b) { b.SetMax(30); }, {"30"}},
      {"higher min", [](TGaugeBar& b) { b.SetMin(60); }, {"60"}},
      {"higher max", [](TGaugeBar& b) { b.SetMax(300); }, {}},
      {"position above max", [](TGaugeBar& b) { b.SetPosition(1000); }, {"100"}},
  };
  for (const Case& c : cases) {
    TBarRig<TGaugeBar> r;
    r.Bar.SetMax(100);
    r.Bar.SetPosition(50);
    TChangeRecorder rec;
    rec.Observe = [&] { return std::to_string(r.Bar.Position()); };
    r.Bar.OnChange = rec.Listener();
    c.Do(r.Bar);
    std::vector<std::string> seen;
    for (const auto& e : rec.Events) seen.push_back(e.Seen);
    EXPECT_EQ(seen, c.Expected) << c.Name;
  }
}
