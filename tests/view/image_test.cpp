// The paint box and image control against a recording window: buffer sizing,
// the stages that run, bitmap size and placement, the 16.16 mapping, setters,
// repaint modes, mouse routing, painted pixels and PaintTo.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "raster_image.h"
#include "raster_layers.h"
#include "view_host.h"

namespace {

constexpr TColor32 kRed = 0xFFFF0000u;
constexpr TColor32 kBlue = 0xFF0000FFu;
constexpr TColor32 kGreen = 0xFF00FF00u;
constexpr TColor32 kGrey = 0xFF808080u;

// An image control that notes which stage handlers ran, in order.
class TStageRecorder : public TImage32 {
 public:
  using TImage32::TImage32;
  std::vector<std::string> Ran;
  void ExecClearBackgnd(TBitmap32* D, int32_t N) override { Ran.push_back("clear-bg"); TImage32::ExecClearBackgnd(D, N); }
  void ExecClearBuffer(TBitmap32* D, int32_t N) override { Ran.push_back("clear-buf"); TImage32::ExecClearBuffer(D, N); }
  void ExecDrawBitmap(TBitmap32* D, int32_t N) override { Ran.push_back("bitmap"); TImage32::ExecDrawBitmap(D, N); }
  void ExecDrawLayers(TBitmap32* D, int32_t N) override { Ran.push_back("layers"); TImage32::ExecDrawLayers(D, N); }
  void ExecDrawFrame(TBitmap32* D, int32_t N) override { Ran.push_back("frame"); TImage32::ExecDrawFrame(D, N); }
  void ExecBitmapFrame(TBitmap32* D, int32_t N) override { Ran.push_back("bitmap-frame"); TImage32::ExecBitmapFrame(D, N); }
  void ExecCustom(TBitmap32* D, int32_t N) override { Ran.push_back("custom"); TImage32::ExecCustom(D, N); }
};

void Fill(TBitmap32& B, int32_t W, int32_t H, TColor32 C) {
  B.SetSize(W, H);
  B.Clear(C);
}

// Places the control in a window of W x H and tells it.
void Resize(TRecordingViewHost& Host, TCustomPaintBox32& Box, int32_t W, int32_t H) {
  Host.SetClientSize(W, H);
  Box.Resize();
}

}  // namespace

TEST(PaintBox, BufferGrowsWithOversizeAndShrinksOnlyBeyondIt) {
  TRecordingViewHost host(100, 100);
  TCustomPaintBox32 box(&host);
  EXPECT_EQ(box.Buffer()->Width(), 140);
  EXPECT_EQ(box.Buffer()->Height(), 140);
  for (int32_t w : {100, 120, 140, 101}) {
    Resize(host, box, w, 100);
    EXPECT_EQ(box.Buffer()->Width(), 140) << "viewport " << w;
  }
  Resize(host, box, 99, 100);
  EXPECT_EQ(box.Buffer()->Width(), 99);
  Resize(host, box, 141, 100);
  EXPECT_EQ(box.Buffer()->Width(), 181);
  // An empty window still leaves a 1 x 1 buffer.
  Resize(host, box, 0, 0);
  EXPECT_EQ(box.Buffer()->Width(), 1);
  EXPECT_EQ(box.Buffer()->Height(), 1);
}

TEST(PaintBox, ResizingRepaintsAndPaintCopiesTheViewport) {
  TRecordingViewHost host(50, 30);
  TCustomPaintBox32 box(&host);
  host.ProcessPaint();
  host.ClearRecords();
  // The buffer (90 x 70) keeps its size, yet the new columns must be painted.
  Resize(host, box, 60, 30);
  EXPECT_EQ(box.Buffer()->Width(), 90);
  EXPECT_FALSE(box.BufferValid());
  EXPECT_EQ(host.CountOf(THostCall::Invalidate), 1u);
  ASSERT_TRUE(host.ProcessPaint());
  auto copies = host.RecordsOf(THostCall::CopyToWindow);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].Area, (TRect{0, 0, 60, 30}));
  EXPECT_TRUE(box.BufferValid());

  // A new buffer forces a full repaint.
  Resize(host, box, 100, 30);
  EXPECT_TRUE(box.ForceFullRepaint());
  ASSERT_TRUE(host.ProcessPaint());
  EXPECT_FALSE(box.ForceFullRepaint());
  EXPECT_FALSE(host.ProcessPaint());  // nothing waiting any more
}

TEST(Image32, DefaultStagesAtRunTimeAndWhileDesigning) {
  TRecordingViewHost host(40, 40);
  TStageRecorder img(&host);
  ASSERT_EQ(img.PaintStages()->Count(), 5);
  EXPECT_EQ(img.PaintStages()->Items(4)->Parameter, LOB_VISIBLE);
  host.ProcessPaint();
  EXPECT_EQ(img.Ran, (std::vector<std::string>{"clear-bg", "bitmap", "layers"}));

  img.Ran.clear();
  img.SetDesigning(true);
  host.ProcessPaint();
  EXPECT_EQ(img.Ran, (std::vector<std::string>{"clear-bg", "frame", "bitmap", "bitmap-frame", "layers"}));

  // Unknown kinds are skipped; a custom stage fires OnPaintStage with its index.
  img.SetDesigning(false);
  img.PaintStages()->Add()->Stage = 99;
  img.PaintStages()->Add()->Stage = PST_CUSTOM;
  std::vector<int32_t> custom;
  img.OnPaintStage = [&](TCustomImage32*, TBitmap32* D, int32_t N) {
    EXPECT_EQ(D, img.Buffer());
    custom.push_back(N);
  };
  img.Ran.clear();
  img.Invalidate();
  host.ProcessPaint();
  EXPECT_EQ(img.Ran, (std::vector<std::string>{"clear-bg", "bitmap", "layers", "custom"}));
  EXPECT_EQ(custom, std::vector<int32_t>{6});
}

TEST(Image32, BitmapSizeByScaleMode) {
  struct Case {
    TScaleMode Mode;
    int32_t W, H;
    float Scale;
    TPoint Expected;
  };
  const Case cases[] = {
      {smNormal, 100, 50, 1.0f, {100, 50}},
      {smStretch, 100, 50, 1.0f, {300, 300}},
      {smResize, 100, 50, 1.0f, {300, 150}},
      {smResize, 50, 100, 1.0f, {150, 300}},
      {smOptimal, 100, 50, 1.0f, {100, 50}},
      {smOptimal, 600, 50, 1.0f, {300, 25}},
      {smScale, 5, 7, 0.5f, {2, 4}},  // 2.5 and 3.5 round half to even
      {smScale, 100, 50, 3.0f, {300, 150}},
      {smOptimalScaled, 100, 50, 2.0f, {200, 100}},
      {smOptimalScaled, 100, 50, 4.0f, {300, 150}},  // too big scaled: resize instead
  };
  for (const Case& c : cases) {
    TRecordingViewHost host(300, 300);
    TImage32 img(&host);
    img.Bitmap()->SetSize(c.W, c.H);
    img.SetScale(c.Scale);
    img.SetScaleMode(c.Mode);
    EXPECT_EQ(img.GetBitmapSize(), c.Expected) << "mode " << int(c.Mode) << " " << c.W << "x" << c.H;
  }
  TRecordingViewHost host(300, 300);
  TImage32 img(&host);
  EXPECT_EQ(img.GetBitmapSize(), (TPoint{0, 0}));  // empty bitmap
  img.Bitmap()->SetSize(10, 10);
  Resize(host, img, 0, 300);
  EXPECT_EQ(img.GetBitmapSize(), (TPoint{0, 0}));  // empty viewport
}

TEST(Image32, BitmapRectangleByAlignment) {
  TRecordingViewHost host(200, 100);
  TImage32 img(&host);
  img.Bitmap()->SetSize(301, 20);
  img.SetBitmapAlign(baCenter);
  // (200 - 301) div 2 truncates toward zero: -50, not -51.
  EXPECT_EQ(img.GetBitmapRect(), (TRect{-50, 40, 251, 60}));
  img.SetBitmapAlign(baCustom);
  img.SetOffsetHorz(2.5f);   // rounds to 2
  img.SetOffsetVert(-3.5f);  // rounds to -4
  EXPECT_EQ(img.GetBitmapRect(), (TRect{2, -4, 303, 16}));
  img.SetBitmapAlign(baTile);
  EXPECT_EQ(img.GetBitmapRect(), (TRect{0, 0, 301, 20}));
  img.Bitmap()->SetSize(0, 0);
  EXPECT_EQ(img.GetBitmapRect(), (TRect{0, 0, 0, 0}));
}

TEST(Image32, MappingAtScalesRoundTripsAndTruncatesTowardZero) {
  TRecordingViewHost host(500, 500);
  TImage32 img(&host);
  img.Bitmap()->SetSize(100, 100);
  img.SetScaleMode(smScale);

  img.SetScale(2.0f);
  EXPECT_EQ(img.BitmapToControl({10, 10}), (TPoint{20, 20}));
  EXPECT_EQ(img.ControlToBitmap({21, 21}), (TPoint{10, 10}));
  EXPECT_EQ(img.CachedScaleX(), 131072);
  EXPECT_EQ(img.CachedRecScaleX(), 32768);
  // -1 * 32768 div 65536 is 0 (toward zero), not -1 as a shift would give.
  EXPECT_EQ(img.ControlToBitmap({-1, -1}), (TPoint{0, 0}));

  img.SetScale(1.0f);
  EXPECT_EQ(img.ControlToBitmap({-1, -1}), (TPoint{-1, -1}));

  // At scales of 1 and more the middle of a bitmap pixel's span of control
  // pixels maps back onto it; at 0.5 every control pixel survives the trip.
  for (float s : {1.0f, 2.0f, 3.0f}) {
    img.SetScale(s);
    const int32_t half = static_cast<int32_t>(s) / 2;
    for (int32_t x : {0, 1, 7, 33, 50, 99}) {
      const TPoint c = img.BitmapToControl({x, x});
      EXPECT_EQ(c.X, x * static_cast<int32_t>(s));
      EXPECT_EQ(img.ControlToBitmap({c.X + half, c.Y + half}), (TPoint{x, x})) << "scale " << s << " x " << x;
    }
  }
  img.SetScale(0.5f);
  for (int32_t c : {0, 1, 17, 49}) {
    const TPoint b = img.ControlToBitmap({c, c});
    EXPECT_EQ(b.X, 2 * c);
    EXPECT_EQ(img.BitmapToControl(b), (TPoint{c, c})) << "control " << c;
    EXPECT_EQ(img.BitmapToControl({2 * c + 1, 0}).X, c);
  }
  img.SetScale(3.0f);
  img.UpdateCache();
  EXPECT_EQ(img.CachedScaleX(), 196608);
  EXPECT_EQ(img.CachedRecScaleX(), 21845);  // 65536 / 3 rounded
  EXPECT_EQ(img.BitmapToControl({33, 0}).X, 99);

  // Offsets move the mapping; negative control points stay exact.
  img.SetScale(1.0f);
  img.SetBitmapAlign(baCustom);
  img.SetOffsetHorz(-40.0f);
  img.SetOffsetVert(5.0f);
  EXPECT_EQ(img.BitmapToControl({50, 0}), (TPoint{10, 5}));
  EXPECT_EQ(img.ControlToBitmap({-10, 4}), (TPoint{30, -1}));
}

TEST(Image32, WideBitmapsMapWithoutOverflow) {
  TRecordingViewHost host(100, 100);
  TImage32 img(&host);
  img.Bitmap()->SetSize(70000, 1);
  img.SetScaleMode(smScale);
  EXPECT_EQ(img.BitmapToControl({69999, 0}).X, 69999);
  EXPECT_EQ(img.ControlToBitmap({65000, 0}).X, 65000);
  img.SetScale(0.5f);
  EXPECT_EQ(img.BitmapToControl({60000, 0}).X, 30000);
  EXPECT_EQ(img.ControlToBitmap({30000, 0}).X, 60000);
}

TEST(Image32, EmptyBitmapUsesUnityCacheAndEmptyViewportAZeroScale) {
  TRecordingViewHost host(100, 100);
  TImage32 img(&host);
  img.UpdateCache();
  EXPECT_EQ(img.CachedScaleX(), FixedOne);
  EXPECT_EQ(img.CachedRecScaleX(), FixedOne);
  EXPECT_EQ(img.BitmapToControl({5, 6}), (TPoint{5, 6}));
  img.Bitmap()->SetSize(10, 10);
  Resize(host, img, 0, 0);
  img.UpdateCache();
  EXPECT_EQ(img.CachedScaleX(), 0);
  EXPECT_EQ(img.CachedRecScaleX(), -1);
}

TEST(Image32, SettersClampScaleAndFireOncePerChange) {
  TRecordingViewHost host(100, 100);
  TImage32 img(&host);
  int changes = 0, scaleChanges = 0;
  img.OnChange = [&](void*) { ++changes; };
  img.OnScaleChange = [&](void*) { ++scaleChanges; };
  img.SetScale(0.0f);
  EXPECT_FLOAT_EQ(img.Scale(), 0.001f);
  img.SetScale(-3.0f);
  EXPECT_FLOAT_EQ(img.ScaleY(), 0.001f);
  EXPECT_EQ(changes, 1);
  img.SetScale(2.0f);
  img.SetScale(2.0f);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(scaleChanges, 2);
  img.SetScaleMode(smScale);
  img.SetScaleMode(smScale);
  EXPECT_EQ(changes, 3);
  img.SetBitmapAlign(baTopLeft);  // fires even when equal
  EXPECT_EQ(changes, 4);
  img.SetOffsetHorz(0.0f);  // unchanged: nothing
  EXPECT_EQ(changes, 4);

  // Inside an update nothing fires; EndUpdate itself does not report.
  img.BeginUpdate();
  img.SetScale(3.0f);
  img.EndUpdate();
  EXPECT_EQ(changes, 4);
  EXPECT_THROW(img.EndUpdate(), EAssertionFailed);
  try {
    img.EndUpdate();
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Unpaired EndUpdate call");
  }
}

TEST(Image32, PaintsBitmapBackgroundAndLayersOntoTheWindow) {
  TRecordingViewHost host(20, 12);
  TImage32 img(&host);
  host.SetSysColor(15, 0x00808080);  // button face: grey
  Fill(*img.Bitmap(), 4, 3, kRed);
  img.SetScaleMode(smScale);
  img.SetScale(2.0f);
  auto* layer = img.Layers()->Add<TBitmapLayer>();
  Fill(*layer->Bitmap(), 2, 2, kBlue);
  layer->SetLocation(TFloatRect{1, 1, 3, 3});
  layer->SetScaled(true);  // bitmap coordinates: (2, 2)-(6, 6) on screen
  host.ProcessPaint();
  TBitmap32& s = host.Screen();
  EXPECT_EQ(s.GetPixel(0, 0), kRed);
  EXPECT_EQ(s.GetPixel(7, 5), kRed);
  EXPECT_EQ(s.GetPixel(2, 2), kBlue);
  EXPECT_EQ(s.GetPixel(5, 5), kBlue);
  EXPECT_EQ(s.GetPixel(6, 5), kRed);
  EXPECT_EQ(s.GetPixel(8, 0), kGrey);   // right margin
  EXPECT_EQ(s.GetPixel(0, 6), kGrey);   // bottom margin
  EXPECT_EQ(s.GetPixel(19, 11), kGrey);

  // A hidden layer shows the bitmap again.
  layer->SetVisible(false);
  host.ProcessPaint();
  EXPECT_EQ(s.GetPixel(3, 3), kRed);
}

TEST(Image32, TiledBitmapCoversTheBuffer) {
  TRecordingViewHost host(10, 7);
  TImage32 img(&host);
  Fill(*img.Bitmap(), 3, 2, kGreen);
  img.Bitmap()->SetPixel(0, 0, kRed);
  img.SetBitmapAlign(baTile);
  host.ProcessPaint();
  for (int32_t y = 0; y < 7; ++y)
    for (int32_t x = 0; x < 10; ++x)
      EXPECT_EQ(host.Screen().GetPixel(x, y), (x % 3 == 0 && y % 2 == 0) ? kRed : kGreen) << x << "," << y;
}

TEST(Image32, CroppedLayerIsClippedToTheBitmapAndLeavesLaterLayersAlone) {
  TRecordingViewHost host(12, 12);
  TImage32 img(&host);
  Fill(*img.Bitmap(), 6, 6, kRed);
  auto* cropped = img.Layers()->Add<TBitmapLayer>();
  Fill(*cropped->Bitmap(), 1, 1, kBlue);
  cropped->SetLocation(TFloatRect{4, 4, 10, 10});
  cropped->SetCropped(true);
  auto* above = img.Layers()->Add<TBitmapLayer>();
  Fill(*above->Bitmap(), 1, 1, kGreen);
  above->SetLocation(TFloatRect{8, 0, 10, 2});
  host.ProcessPaint();
  TBitmap32& s = host.Screen();
  EXPECT_EQ(s.GetPixel(5, 5), kBlue);
  EXPECT_NE(s.GetPixel(7, 7), kBlue);   // outside the bitmap: cropped away
  EXPECT_EQ(s.GetPixel(9, 1), kGreen);  // the next layer is not cropped
  EXPECT_EQ(img.Buffer()->ClipRect(), img.GetViewportRect());
}

TEST(Image32, DirectModeRepaintsExactlyTheChangedAreas) {
  TRecordingViewHost host(40, 40);
  TImage32 img(&host);
  Fill(*img.Bitmap(), 20, 20, kRed);
  img.SetScaleMode(smScale);
  img.SetScale(2.0f);
  img.SetRepaintMode(rmDirect);
  host.ProcessPaint();
  host.ClearRecords();
  int changes = 0;
  img.OnChange = [&](void*) { ++changes; };

  // (5, 5)-(7, 6) grows by the nearest resampler's reach 1 + 1 and maps at scale 2.
  img.Bitmap()->FillRect(5, 5, 7, 6, kBlue);
  auto copies = host.RecordsOf(THostCall::CopyToWindow);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].Area, (TRect{6, 6, 18, 16}));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(host.Screen().GetPixel(10, 10), kBlue);
  EXPECT_EQ(host.Screen().GetPixel(14, 10), kRed);
  EXPECT_EQ(img.InvalidRects()->Count(), 0);

  // Inside an update the areas wait; the paint after it copies each of them.
  host.ClearRecords();
  img.BeginUpdate();
  img.Bitmap()->FillRect(0, 0, 1, 1, kGreen);
  img.Bitmap()->FillRect(10, 10, 11, 11, kGreen);
  EXPECT_EQ(host.CountOf(THostCall::CopyToWindow), 0u);
  EXPECT_EQ(img.InvalidRects()->Count(), 2);
  img.EndUpdate();
  img.Repaint();
  copies = host.RecordsOf(THostCall::CopyToWindow);
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_EQ(copies[0].Area, (TRect{0, 0, 6, 6}));  // (-4, -4, 6, 6) clipped to the buffer
  EXPECT_EQ(copies[1].Area, (TRect{16, 16, 26, 26}));
  EXPECT_EQ(host.Screen().GetPixel(21, 21), kGreen);
}

TEST(Image32, FullModeRepaintsEverythingOnABitmapChange) {
  TRecordingViewHost host(30, 30);
  TImage32 img(&host);
  Fill(*img.Bitmap(), 10, 10, kRed);
  host.ProcessPaint();
  host.ClearRecords();
  int changes = 0;
  img.OnChange = [&](void*) { ++changes; };
  img.Bitmap()->FillRect(1, 1, 2, 2, kBlue);
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(img.BufferValid());
  ASSERT_TRUE(host.ProcessPaint());
  const auto copies = host.RecordsOf(THostCall::CopyToWindow);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].Area, (TRect{0, 0, 30, 30}));
}

TEST(Image32, PaintToRendersIntoAnotherBitmap) {
  TRecordingViewHost host(50, 50);
  TImage32 img(&host);
  host.SetSysColor(15, 0x00808080);
  Fill(*img.Bitmap(), 2, 2, kRed);
  img.Bitmap()->SetPixel(1, 1, kBlue);
  auto* layer = img.Layers()->Add<TBitmapLayer>();
  Fill(*layer->Bitmap(), 1, 1, kGreen);
  layer->SetLocation(TFloatRect{0, 1, 1, 2});
  layer->SetScaled(true);
  img.SetRepaintMode(rmDirect);
  TBitmap32 dst;
  dst.SetSize(12, 12);
  dst.Clear(0);
  img.PaintTo(&dst, TRect{2, 2, 10, 10});
  EXPECT_EQ(dst.GetPixel(0, 0), kGrey);    // background around the rectangle
  EXPECT_EQ(dst.GetPixel(11, 11), kGrey);
  EXPECT_EQ(dst.GetPixel(3, 3), kRed);
  EXPECT_EQ(dst.GetPixel(9, 9), kBlue);
  EXPECT_EQ(dst.GetPixel(3, 9), kGreen);   // the scaled layer follows the rectangle
  EXPECT_EQ(img.RepaintMode(), rmDirect);
  EXPECT_FALSE(img.PaintToMode());
  EXPECT_FALSE(img.CacheValid());
}

TEST(Image32, MouseRoutingGoesThroughTheLayersFirst) {
  TRecordingViewHost host(100, 100);
  TImage32 img(&host);
  std::vector<std::string> order;
  auto* bottom = img.Layers()->Add<TPositionedLayer>();
  bottom->SetLocation(TFloatRect{0, 0, 50, 50});
  auto* top = img.Layers()->Add<TPositionedLayer>();
  top->SetLocation(TFloatRect{20, 20, 40, 40});
  top->SetCursor(crHandPoint);
  for (auto* l : {bottom, top}) {
    const std::string name = l == bottom ? "bottom" : "top";
    l->OnMouseDown = [&order, name](TCustomLayer*, TMouseButton, TShiftState, int32_t, int32_t) { order.push_back(name + " down"); };
    l->OnMouseMove = [&order, name](TCustomLayer*, TShiftState, int32_t, int32_t) { order.push_back(name + " move"); };
    l->OnMouseUp = [&order, name](TCustomLayer*, TMouseButton, TShiftState, int32_t, int32_t) { order.push_back(name + " up"); };
  }
  TCustomLayer* seen = nullptr;
  img.OnMouseDown = [&](TCustomImage32*, TMouseButton, TShiftState, int32_t, int32_t, TCustomLayer* L) {
    order.push_back("image down");
    seen = L;
  };
  img.OnMouseMove = [&](TCustomImage32*, TShiftState, int32_t, int32_t, TCustomLayer* L) {
    order.push_back("image move");
    seen = L;
  };
  img.OnMouseUp = [&](TCustomImage32*, TMouseButton, TShiftState, int32_t, int32_t, TCustomLayer* L) {
    order.push_back("image up");
    seen = L;
  };

  img.MouseDown(mbLeft, ssLeft, 30, 30);
  EXPECT_EQ(seen, top);
  EXPECT_EQ(img.Layers()->MouseListener(), top);
  EXPECT_TRUE(host.MouseCapture());
  // The listener keeps the mouse even outside itself, and its cursor shows.
  img.MouseMove(ssLeft, 10, 10);
  EXPECT_EQ(seen, top);
  EXPECT_EQ(host.Cursor(), crHandPoint);
  img.MouseUp(mbLeft, 0, 10, 10);
  EXPECT_EQ(img.Layers()->MouseListener(), nullptr);
  EXPECT_FALSE(host.MouseCapture());
  EXPECT_EQ(host.Cursor(), crDefault);
  // Without a listener the hit layer gets the move.
  img.MouseMove(0, 10, 10);
  EXPECT_EQ(seen, bottom);
  EXPECT_EQ(order, (std::vector<std::string>{"top down", "image down", "top move", "image move", "top up", "image up",
                                             "bottom move", "image move"}));

  // Outside every layer: the control's own cursor, no layer for the handlers.
  img.SetCursor(crCross);
  img.MouseMove(0, 80, 80);
  EXPECT_EQ(seen, nullptr);
  EXPECT_EQ(host.Cursor(), crCross);
  // A right press over no layer does not capture the mouse.
  img.MouseDown(mbRight, ssRight, 80, 80);
  EXPECT_FALSE(host.MouseCapture());

  // A right press on a layer captures for the layer; its release lets go
  // of both, or the window would keep every later mouse event.
  img.MouseDown(mbRight, ssRight, 30, 30);
  EXPECT_EQ(img.Layers()->MouseListener(), top);
  EXPECT_TRUE(host.MouseCapture());
  img.MouseUp(mbRight, 0, 30, 30);
  EXPECT_EQ(img.Layers()->MouseListener(), nullptr);
  EXPECT_FALSE(host.MouseCapture());
  // While another button still holds the layer, the capture stays.
  img.MouseDown(mbLeft, ssLeft, 30, 30);
  img.MouseDown(mbRight, ssLeft | ssRight, 30, 30);
  img.MouseUp(mbRight, ssLeft, 30, 30);
  EXPECT_TRUE(host.MouseCapture());
  img.MouseUp(mbLeft, 0, 30, 30);
  EXPECT_FALSE(host.MouseCapture());

  // With mouse events off the layers hear nothing.
  order.clear();
  img.Layers()->SetMouseEvents(false);
  img.MouseDown(mbLeft, ssLeft, 30, 30);
  EXPECT_EQ(seen, nullptr);
  EXPECT_EQ(order, std::vector<std::string>{"image down"});
}

TEST(Image32, PressTakesTheFocusWhenAsked) {
  TRecordingViewHost host(10, 10);
  TImage32 img(&host);
  img.MouseDown(mbLeft, 0, 1, 1);
  EXPECT_FALSE(host.Focused());
  img.SetTabStop(true);
  img.MouseDown(mbLeft, 0, 1, 1);
  EXPECT_TRUE(host.Focused());
  TRecordingViewHost host2(10, 10);
  TImage32 img2(&host2);
  img2.SetOptions(pboAutoFocus);
  img2.MouseDown(mbRight, 0, 1, 1);
  EXPECT_TRUE(host2.Focused());
}

TEST(Image32, AutoSizeAsksTheWindowForTheScaledBitmapSize) {
  TRecordingViewHost host(50, 50);
  TImage32 img(&host);
  img.SetAutoSize(true);
  img.SetScaleMode(smScale);
  img.SetScale(1.5f);
  int resized = 0;
  img.OnBitmapResize = [&](void*) { ++resized; };
  img.Bitmap()->SetSize(21, 10);
  EXPECT_EQ(host.ClientSize(), (TPoint{32, 15}));  // 31.5 rounds to even
  EXPECT_EQ(img.Buffer()->Width(), 32);             // shrunk by more than the oversize
  EXPECT_EQ(resized, 1);
}

TEST(Image32, SetupBitmapTakesTheViewportSize) {
  TRecordingViewHost host(33, 17);
  TImage32 img(&host);
  img.SetupBitmap(true, kGreen);
  EXPECT_EQ(img.Bitmap()->Width(), 33);
  EXPECT_EQ(img.Bitmap()->Height(), 17);
  EXPECT_EQ(img.Bitmap()->GetPixel(32, 16), kGreen);
}

namespace {

// An optimizer that hands back exactly the areas it was told of, and notes
// every call the paint box makes.
class TRecordingOptimizer : public TCustomRepaintOptimizer {
 public:
  using TCustomRepaintOptimizer::TCustomRepaintOptimizer;
  std::vector<std::string> Calls;
  std::vector<TRect> Areas;

  void SetEnabled(bool Value) override {
    TCustomRepaintOptimizer::SetEnabled(Value);
    for (TLayerCollection* c : FLayerCollections)
      c->OnLayerUpdated = Value ? TLayerUpdateEvent([this](void*, TCustomLayer*) { Calls.push_back("layer"); })
                                : TLayerUpdateEvent();
  }
  void LayerListNotify(TCustomLayer*, TLayerListNotification A) override {
    Calls.push_back("list " + std::to_string(int(A)));
  }
  void Reset() override { Calls.push_back("reset"); }
  bool UpdatesAvailable() override { return !Areas.empty(); }
  void PerformOptimization() override {
    Calls.push_back("optimize");
    for (const TRect& r : Areas) FInvalidRects->Add(r);
    Areas.clear();
  }
  void AreaUpdated(void*, const TRect& Area, uint32_t Info) override {
    EXPECT_EQ(Info, AREAINFO_RECT);
    Areas.push_back(Area);
  }
  void LayerUpdated(void*, TCustomLayer*) override {}
  void BufferResized(int32_t W, int32_t H) override { Calls.push_back("resized " + std::to_string(W) + "x" + std::to_string(H)); }
  void BeginPaint() override { Calls.push_back("begin"); }
  void EndPaint() override { Calls.push_back("end"); }
  void BeginPaintBuffer() override { Calls.push_back("begin-buffer"); }
  void EndPaintBuffer() override { Calls.push_back("end-buffer"); }
};

// Installs the recording optimizer as the class new paint boxes use.
class TOptimizerScope {
 public:
  TOptimizerScope() : saved_(DefaultRepaintOptimizerClass) {
    DefaultRepaintOptimizerClass = [](TBitmap32* B, TRectList* R) {
      return std::unique_ptr<TCustomRepaintOptimizer>(std::make_unique<TRecordingOptimizer>(B, R));
    };
  }
  ~TOptimizerScope() { DefaultRepaintOptimizerClass = saved_; }

 private:
  TRepaintOptimizerClass saved_;
};

}  // namespace

TEST(Image32, OptimizerModePaintsOnlyWhatTheOptimizerHandsBack) {
  TOptimizerScope scope;
  TRecordingViewHost host(40, 40);
  TImage32 img(&host);
  auto* opt = dynamic_cast<TRecordingOptimizer*>(img.RepaintOptimizer());
  ASSERT_NE(opt, nullptr);
  ASSERT_EQ(opt->LayerCollections(), std::vector<TLayerCollection*>{img.Layers()});
  Fill(*img.Bitmap(), 20, 20, kRed);
  img.SetRepaintMode(rmOptimizer);
  EXPECT_TRUE(opt->Enabled());
  host.ProcessPaint();  // the first paint is a full one
  host.ClearRecords();
  opt->Calls.clear();

  img.Bitmap()->FillRect(3, 4, 5, 6, kBlue);
  ASSERT_EQ(opt->Areas.size(), 1u);
  EXPECT_EQ(opt->Areas[0], (TRect{1, 2, 7, 8}));
  ASSERT_TRUE(host.ProcessPaint());
  EXPECT_EQ(opt->Calls, (std::vector<std::string>{"optimize", "begin", "begin-buffer", "end-buffer", "end"}));
  auto copies = host.RecordsOf(THostCall::CopyToWindow);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].Area, (TRect{1, 2, 7, 8}));
  EXPECT_EQ(host.Screen().GetPixel(4, 5), kBlue);

  // A tiled bitmap reports each change once per tile in the buffer (80 x 80 here).
  Fill(*img.Bitmap(), 40, 30, kRed);
  img.SetBitmapAlign(baTile);
  host.ProcessPaint();
  opt->Areas.clear();
  img.Bitmap()->FillRect(0, 0, 1, 1, kGreen);
  EXPECT_EQ(opt->Areas.size(), 9u);  // columns 0..2 (80 div 40) by rows 0..2 (80 div 30)
  EXPECT_EQ(opt->Areas.back(), (TRect{78, 58, 83, 63}));

  // Layer changes and list changes reach the optimizer through the collection.
  opt->Calls.clear();
  auto* l = img.Layers()->Add<TPositionedLayer>();
  l->SetLocation(TFloatRect{1, 1, 2, 2});
  EXPECT_EQ(opt->Calls.front(), "list 0");
  EXPECT_NE(std::find(opt->Calls.begin(), opt->Calls.end(), "layer"), opt->Calls.end());

  // Leaving the mode switches the optimizer off.
  img.SetRepaintMode(rmFull);
  EXPECT_FALSE(opt->Enabled());
}

TEST(Image32, OverlayLayersDrawOnTheWindowAfterTheBuffer) {
  class TOverlay : public TCustomLayer {
   protected:
    void PaintGDI(TPixelSurface& Canvas) override {
      if (Canvas.Bits && Canvas.Width > 2 && Canvas.Height > 2) Canvas.Bits[2 * Canvas.Width + 2] = kGreen;
    }
  };
  TRecordingViewHost host(10, 10);
  TImage32 img(&host);
  Fill(*img.Bitmap(), 10, 10, kRed);
  std::vector<std::string> order;
  img.OnGDIOverlay = [&](void*) { order.push_back("overlay event"); };
  auto* overlay = img.Layers()->Adopt(std::make_unique<TOverlay>());
  host.ProcessPaint();
  EXPECT_EQ(host.Screen().GetPixel(2, 2), kRed);  // not an overlay yet: nothing drawn
  order.clear();
  overlay->SetLayerOptions(LOB_GDI_OVERLAY);  // invisible in the buffer, drawn on the window
  host.ProcessPaint();
  EXPECT_EQ(host.Screen().GetPixel(2, 2), kGreen);
  EXPECT_EQ(host.Screen().GetPixel(3, 2), kRed);
  EXPECT_EQ(img.Buffer()->GetPixel(2, 2), kRed);
  EXPECT_EQ(order, std::vector<std::string>{"overlay event"});

  // A change of an invisible overlay layer repaints the window at once,
  // without rendering the buffer again.
  host.ClearRecords();
  overlay->SetCursor(crCross);
  overlay->Changed();
  EXPECT_EQ(host.CountOf(THostCall::RepaintNow), 1u);
  EXPECT_TRUE(img.BufferValid());
  EXPECT_EQ(order.size(), 2u);
}

TEST(Image32, PublishedPropertiesCopyOntoAnotherImage) {
  TImage32 a, b;
  Fill(*a.Bitmap(), 3, 2, kBlue);
  a.SetScaleMode(smScale);
  a.SetScale(2.5f);
  a.SetBitmapAlign(baCenter);
  a.SetRepaintMode(rmDirect);
  int changes = 0;
  a.OnChange = [&](void*) { ++changes; };
  CopyPublishedProperties(&a, &b);  // plain properties, no events
  EXPECT_EQ(b.Bitmap()->Width(), 3);
  EXPECT_EQ(b.Bitmap()->GetPixel(2, 1), kBlue);
  EXPECT_FLOAT_EQ(b.Scale(), 2.5f);
  EXPECT_EQ(b.ScaleMode(), smScale);
  EXPECT_EQ(b.BitmapAlign(), baCenter);
  EXPECT_EQ(b.RepaintMode(), rmDirect);
  EXPECT_FALSE(b.OnChange);
  CopyPublishedProperties(&a, &b, tkAny);
  ASSERT_TRUE(b.OnChange);
  b.OnChange(&b);
  EXPECT_EQ(changes, 1);
}
