// The scrollable image view in a recording window: the viewport without the
// bars, the image's offsets by centring and bar positions, OverSize, scrolling
// to a point, the user's drags through the bars, the size grip, painting of
// bars and corner, and the scroll-bar settings object.
#include <gtest/gtest.h>

#include <cmath>

#include "raster_image_view.h"
#include "view_host.h"

namespace {

// A 300 x 200 window with 17-pixel system scroll bars on a fake clock.
struct TViewRig {
  TFakeClock Clock;
  TRecordingViewHost Host{300, 200, &Clock};
  TImgView32 View{&Host};
  int Scrolls = 0;
  TViewRig() { View.OnScroll = [this](void*) { ++Scrolls; }; }
  void Picture(int32_t W, int32_t H) {
    View.Bitmap()->SetSize(W, H);
    View.Bitmap()->Clear(0xFF336699u);
  }
};

TEST(ImgView, DefaultsAndViewport) {
  TViewRig r;
  EXPECT_EQ(r.View.ScaleMode(), smScale);
  EXPECT_EQ(r.View.BitmapAlign(), baCustom);
  EXPECT_TRUE(r.View.Centered());
  EXPECT_TRUE(r.View.HScroll()->Centered());
  EXPECT_EQ(r.View.VScroll()->Kind(), sbVertical);
  // svAlways: both axes lose the thickness.
  EXPECT_EQ(r.View.GetViewportRect(), (TRect{0, 0, 283, 183}));
  r.View.ScrollBars()->SetSize(20);
  EXPECT_EQ(r.View.GetViewportRect(), (TRect{0, 0, 280, 180}));
  r.View.ScrollBars()->SetVisibility(svHidden);
  r.Picture(1000, 1000);
  EXPECT_EQ(r.View.GetViewportRect(), (TRect{0, 0, 300, 200}));
  EXPECT_FALSE(r.View.GetScrollBarsVisible());
  // Hidden bars take no mouse: a press anywhere reaches the image.
  int downs = 0;
  r.View.OnMouseDown = [&](TCustomImage32*, TMouseButton, TShiftState, int32_t, int32_t, TCustomLayer*) { ++downs; };
  r.View.MouseDown(mbLeft, 0, 150, 195);
  r.View.MouseUp(mbLeft, 0, 150, 195);
  EXPECT_EQ(downs, 1);
}

TEST(ImgView, AutoBarsShowOnlyWhenTheImageIsLarger) {
  TViewRig r;
  r.View.ScrollBars()->SetVisibility(svAuto);
  r.Picture(100, 100);
  EXPECT_EQ(r.View.GetViewportRect(), (TRect{0, 0, 300, 200}));
  r.View.SetScale(4);  // 400 x 400 > 300 x 200
  EXPECT_EQ(r.View.GetViewportRect(), (TRect{0, 0, 283, 183}));
  r.View.SetScale(1);
  EXPECT_EQ(r.View.GetViewportRect(), (TRect{0, 0, 300, 200}));
  EXPECT_GE(r.View.Buffer()->Width(), 300);
}

TEST(ImgView, CentredSmallImageIgnoresBarPositions) {
  TViewRig r;
  r.View.ScrollBars()->SetVisibility(svAuto);
  r.Picture(100, 100);
  EXPECT_EQ(r.View.OffsetHorz(), 100.0f);
  EXPECT_EQ(r.View.OffsetVert(), 50.0f);
  r.View.Scroll(30, 40);
  EXPECT_EQ(r.View.OffsetHorz(), 100.0f);
  EXPECT_EQ(r.View.OffsetVert(), 50.0f);
  EXPECT_EQ(r.View.GetBitmapRect(), (TRect{100, 50, 200, 150}));
  // An odd margin is halved as a float and rounded only when mapped.
  r.Picture(101, 100);
  EXPECT_EQ(r.View.OffsetHorz(), 99.5f);
  EXPECT_EQ(r.View.GetBitmapRect().Left, 100);  // 99.5 to even
}

TEST(ImgView, NotCentredOffsetsFollowTheBars) {
  TViewRig r;
  r.View.SetCentered(false);
  r.Picture(1000, 800);
  EXPECT_EQ(r.View.HScroll()->Range(), 1000);
  EXPECT_EQ(r.View.VScroll()->Range(), 800);
  EXPECT_EQ(r.View.OffsetHorz(), 0.0f);
  r.View.Scroll(30, 40);
  EXPECT_EQ(r.View.OffsetHorz(), -30.0f);
  EXPECT_EQ(r.View.OffsetVert(), -40.0f);
  r.View.Scroll(5000, 5000);  // clamped to range - window
  EXPECT_EQ(r.View.HScroll()->Position(), 1000.0f - 283.0f);
  EXPECT_EQ(r.View.OffsetVert(), -(800.0f - 183.0f));
  EXPECT_EQ(r.Scrolls, 0);  // moved by code: no OnScroll
  // A new bitmap size puts a view that is not centred back at the origin.
  r.Picture(900, 900);
  EXPECT_EQ(r.View.HScroll()->Position(), 0.0f);
  EXPECT_EQ(r.View.OffsetVert(), 0.0f);
}

TEST(ImgView, OverSizeMargin) {
  TViewRig r;
  r.View.SetCentered(false);
  r.Picture(100, 100);
  r.View.SetScale(2);
  r.View.SetOverSize(10);  // after the zoom: the ranges follow at once
  EXPECT_EQ(r.View.HScroll()->Range(), 240);
  EXPECT_EQ(r.View.VScroll()->Range(), 240);
  EXPECT_EQ(r.View.HScroll()->Position(), 0.0f);
  EXPECT_EQ(r.View.OffsetHorz(), 20.0f);
  EXPECT_EQ(r.View.GetBitmapRect(), (TRect{20, 20, 220, 220}));
}

TEST(ImgView, ScrollToCenterAndCentredResize) {
  TFakeClock clock;
  TRecordingViewHost host(117, 117, &clock);  // a 100 x 100 viewport
  TImgView32 view(&host);
  view.SetCentered(false);
  view.Bitmap()->SetSize(200, 200);
  view.SetScale(2);
  view.ScrollToCenter(50, 50);
  EXPECT_EQ(view.HScroll()->Position(), 50.0f);
  EXPECT_EQ(view.VScroll()->Position(), 50.0f);
  EXPECT_EQ(view.OffsetHorz(), -50.0f);
  // Centred: a new size scrolls to the bitmap's middle.
  TViewRig r;
  r.Picture(1000, 1000);
  EXPECT_EQ(r.View.HScroll()->Position(), 500.0f - 141.5f);
  EXPECT_EQ(r.View.OffsetHorz(), -358.5f);
  EXPECT_FALSE(r.View.Scrolling());
}

// Wherever the point lies, after ScrollToCenter it sits in the viewport's
// middle unless the bars had to stop at an end of their range.
TEST(ImgView, ScrollToCenterPutsThePointInTheMiddle) {
  TViewRig r;
  r.View.SetCentered(false);
  r.Picture(1500, 900);
  for (float scale : {0.5f, 1.0f, 1.5f, 3.0f}) {
    r.View.SetScale(scale);
    for (int32_t x = 0; x <= 1500; x += 250) {
      const int32_t y = x * 900 / 1500;
      r.View.ScrollToCenter(x, y);
      const TCustomRangeBar* h = r.View.HScroll();
      const float maxPos = static_cast<float>(h->Range() - h->EffectiveWindow());
      const TPoint c = r.View.BitmapToControl(TPoint{x, y});
      if (h->Position() > 0 && h->Position() < maxPos) EXPECT_NEAR(c.X, 283 / 2, 2) << scale << " " << x;
      // The image's left edge is where the bar says.
      EXPECT_EQ(r.View.GetBitmapRect().Left, static_cast<int32_t>(std::nearbyint(-h->Position())));
    }
  }
}

TEST(ImgView, DraggingABarScrollsAndFiresOnScroll) {
  TViewRig r;
  r.View.SetCentered(false);
  r.Picture(1000, 1000);
  // HScroll lies at (0, 183)-(283, 200): buttons 17, track 249, handle 70 long.
  r.View.MouseDown(mbLeft, 0, 50, 191);
  EXPECT_EQ(r.View.HScroll()->DragZone(), zHandle);
  r.View.MouseMove(ssLeft, 60, 191);
  const float expected = static_cast<float>(10 * 1000 / 249.0L);
  EXPECT_FLOAT_EQ(r.View.HScroll()->Position(), expected);
  EXPECT_FLOAT_EQ(r.View.OffsetHorz(), -expected);
  EXPECT_EQ(r.Scrolls, 1);
  r.View.MouseUp(mbLeft, 0, 60, 191);
  EXPECT_FALSE(r.Host.MouseCapture());
  // Holding the down arrow of the vertical bar repeats through the window's timer.
  r.View.MouseDown(mbLeft, 0, 290, 175);
  EXPECT_EQ(r.View.VScroll()->Position(), 8.0f);
  r.Clock.Advance(700);
  EXPECT_EQ(r.View.VScroll()->Position(), 24.0f);
  EXPECT_EQ(r.View.OffsetVert(), -24.0f);
  r.View.MouseUp(mbLeft, 0, 290, 175);
  EXPECT_EQ(r.Scrolls, 4);
  // The wheel over a bar moves it as the user's change: turned toward the
  // user, later rows come into view, and the picture moves up.
  EXPECT_TRUE(r.View.MouseWheel(0, -120, 290, 100));
  EXPECT_EQ(r.View.VScroll()->Position(), 32.0f);
  EXPECT_EQ(r.View.OffsetVert(), -32.0f);
  EXPECT_EQ(r.Scrolls, 5);
  // Over the horizontal bar, columns further right.
  const float Left = r.View.HScroll()->Position();
  EXPECT_TRUE(r.View.MouseWheel(0, -120, 60, 191));
  EXPECT_FLOAT_EQ(r.View.HScroll()->Position(), Left + 8);
  EXPECT_EQ(r.Scrolls, 6);
  EXPECT_FALSE(r.View.MouseWheel(0, 120, 100, 100));
}

TEST(ImgView, SizeGripCursorAndPress) {
  TViewRig r;
  r.Picture(1000, 1000);
  EXPECT_EQ(r.View.GetSizeGripRect(), (TRect{283, 183, 300, 200}));
  EXPECT_FALSE(r.View.IsSizeGripVisible());  // sgAuto with no form around it
  r.View.SetParentClientAligned(true);
  EXPECT_TRUE(r.View.IsSizeGripVisible());
  r.View.SetSizeGrip(sgAlways);
  r.View.MouseMove(0, 290, 190);
  EXPECT_EQ(r.Host.Cursor(), crSizeNWSE);
  r.View.MouseMove(0, 100, 100);
  EXPECT_EQ(r.Host.Cursor(), crDefault);
  int resizes = 0, downs = 0;
  r.View.OnSizeGripResize = [&](void*) { ++resizes; };
  r.View.OnMouseDown = [&](TCustomImage32*, TMouseButton, TShiftState, int32_t, int32_t, TCustomLayer*) { ++downs; };
  r.View.MouseDown(mbLeft, 0, 290, 190);
  EXPECT_EQ(resizes, 1);
  EXPECT_EQ(downs, 0);
  EXPECT_FALSE(r.Host.MouseCapture());
  r.View.SetSizeGrip(sgNone);
  r.View.MouseDown(mbLeft, 0, 290, 190);
  r.View.MouseUp(mbLeft, 0, 290, 190);
  EXPECT_EQ(resizes, 1);
  EXPECT_EQ(downs, 1);
}

TEST(ImgView, PaintsImageBarsAndCorner) {
  TViewRig r;
  r.View.SetCentered(false);
  r.Picture(1000, 1000);
  r.View.ScrollBars()->SetBackgnd(bgSolid);
  r.View.ScrollBars()->SetColor(0x00FF00);
  r.Host.ProcessPaint();
  TBitmap32& s = r.Host.Screen();
  EXPECT_EQ(s.GetPixel(100, 100), 0xFF336699u);  // the image
  EXPECT_EQ(s.GetPixel(200, 191), 0xFF00FF00u);  // the horizontal bar's track
  EXPECT_EQ(s.GetPixel(291, 150), 0xFF00FF00u);  // the vertical bar's track
  EXPECT_EQ(s.GetPixel(291, 191), ArgbFromColor(r.Host.SysColor(15)));  // the corner
  // A bar moved by the user repaints its new handle place.
  r.View.MouseDown(mbLeft, 0, 50, 191);
  r.View.MouseMove(ssLeft, 150, 191);
  r.View.MouseUp(mbLeft, 0, 150, 191);
  r.Host.ProcessPaint();
  EXPECT_NE(s.GetPixel(150, 191), 0xFF00FF00u);
  EXPECT_EQ(s.GetPixel(30, 191), 0xFF00FF00u);
}

TEST(ImgView, ScrollBarSettingsCopyBetweenViews) {
  TViewRig a, b;
  b.View.ScrollBars()->SetSize(25);
  b.View.ScrollBars()->SetIncrement(5);
  b.View.ScrollBars()->SetStyle(rbsMac);
  b.View.ScrollBars()->SetVisibility(svAuto);
  a.View.SetScrollBars(b.View.ScrollBars());
  EXPECT_EQ(a.View.ScrollBars()->Size(), 25);
  EXPECT_EQ(a.View.VScroll()->Increment(), 5);
  EXPECT_EQ(a.View.VScroll()->Style(), rbsMac);
  EXPECT_EQ(a.View.ScrollBars()->Visibility(), svAuto);
}

}  // namespace
