// The layer collection and its layers: order and notifications, hit tests,
// the rubber band's drag states and drag arithmetic, painting, child layers,
// and lifetime (layers destroyed in the middle of a drag must be clean under
// AddressSanitizer).
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "change_recorder.h"
#include "raster_image.h"
#include "raster_layers.h"
#include "view_host.h"

namespace {

struct TListEvent {
  TLayerListNotification Action;
  TCustomLayer* Layer;
  int32_t Index;
  bool operator==(const TListEvent&) const = default;
};

TRubberbandLayer* AddBand(TLayerCollection& C, TFloatRect Location) {
  auto* b = C.Add<TRubberbandLayer>();
  b->SetLocation(Location);
  return b;
}

}  // namespace

TEST(LayerCollection, AddInsertMoveAndDeleteKeepOrderAndNotify) {
  TLayerCollection c;
  std::vector<TListEvent> events;
  c.OnListNotify = [&](TLayerCollection*, TLayerListNotification A, TCustomLayer* L, int32_t I) {
    events.push_back({A, L, I});
  };
  auto* a = c.Add<TCustomLayer>();
  auto* b = c.Add<TPositionedLayer>();
  auto* d = c.Insert<TBitmapLayer>(1);
  ASSERT_EQ(c.Count(), 3);
  EXPECT_EQ(c.Items(0), a);
  EXPECT_EQ(c.Items(1), d);
  EXPECT_EQ(c.Items(2), b);
  EXPECT_EQ(b->Index(), 2);
  EXPECT_EQ(events, (std::vector<TListEvent>{{lnLayerAdded, a, 0}, {lnLayerAdded, b, 1}, {lnLayerInserted, d, 1}}));

  // SetIndex clamps at both ends.
  a->SetIndex(99);
  EXPECT_EQ(a->Index(), 2);
  a->SetIndex(-5);
  EXPECT_EQ(a->Index(), 0);
  a->BringToFront();
  EXPECT_EQ(c.Items(2), a);
  a->SendToBack();
  EXPECT_EQ(c.Items(0), a);

  events.clear();
  c.Delete(1);
  EXPECT_EQ(events, (std::vector<TListEvent>{{lnLayerDeleted, d, 1}}));
  EXPECT_EQ(c.Count(), 2);
  EXPECT_THROW(c.Delete(2), EListError);
  EXPECT_THROW(c.Items(-1), EListError);

  events.clear();
  c.Clear();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events.back().Action, lnCleared);
  EXPECT_EQ(c.Count(), 0);
}

TEST(LayerCollection, DefaultsOfTheLayerClasses) {
  TLayerCollection c;
  EXPECT_EQ(c.Add<TCustomLayer>()->LayerOptions(), LOB_VISIBLE);
  auto* p = c.Add<TPositionedLayer>();
  EXPECT_EQ(p->LayerOptions(), LOB_VISIBLE | LOB_MOUSE_EVENTS);
  EXPECT_EQ(p->Location(), (TFloatRect{0, 0, 64, 64}));
  auto* r = c.Add<TRubberbandLayer>();
  EXPECT_EQ(r->Handles(), 15);
  EXPECT_EQ(r->HandleSize(), 3);
  EXPECT_FLOAT_EQ(r->MinWidth(), 10.0f);
  EXPECT_EQ(r->FrameStipple(), (TArrayOfColor32{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFF000000u, 0xFF000000u}));
  // The rubber band always repaints.
  r->SetLayerOptions(LOB_VISIBLE | LOB_NO_UPDATE);
  EXPECT_EQ(r->LayerOptions(), LOB_VISIBLE);
}

TEST(LayerCollection, UpdateBracketReportsOnceAndRejectsUnpairedEnd) {
  TLayerCollection c;
  int changing = 0, changed = 0;
  c.OnChanging = [&](void*) { ++changing; };
  c.OnChange = [&](void*) { ++changed; };
  c.BeginUpdate();
  c.BeginUpdate();
  c.Add<TPositionedLayer>()->SetLocation(TFloatRect{1, 1, 2, 2});
  c.EndUpdate();
  EXPECT_EQ(changed, 0);
  c.EndUpdate();
  EXPECT_EQ(changing, 1);
  EXPECT_EQ(changed, 1);
  try {
    c.EndUpdate();
    FAIL() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Unpaired EndUpdate");
  }
}

TEST(LayerCollection, HitTestTakesTheTopmostMatchingLayer) {
  TLayerCollection c;
  auto* low = c.Add<TPositionedLayer>();
  low->SetLocation(TFloatRect{0, 0, 100, 100});
  auto* high = c.Add<TPositionedLayer>();
  high->SetLocation(TFloatRect{10, 10, 20, 20});
  EXPECT_EQ(c.HitTest(15, 15), high);
  EXPECT_EQ(c.HitTest(20, 15), low);  // right edge exclusive
  EXPECT_EQ(c.HitTest(100, 5), nullptr);
  high->SetMouseEvents(false);
  EXPECT_EQ(c.HitTest(15, 15), low);
  EXPECT_EQ(c.HitTest(15, 15, LOB_VISIBLE), high);
  // OnHitTest has the last word.
  low->OnHitTest = [](TCustomLayer*, int32_t X, int32_t, bool& Passed) { Passed = Passed && X < 50; };
  EXPECT_EQ(c.HitTest(60, 60), nullptr);
  EXPECT_EQ(c.HitTest(40, 60), low);
}

TEST(BitmapLayer, AlphaHitIgnoresTransparentPixelsAndNeverReadsPastTheEdge) {
  TLayerCollection c;
  auto* l = c.Add<TBitmapLayer>();
  l->Bitmap()->SetSize(2, 1);
  l->Bitmap()->SetPixel(0, 0, 0x00FFFFFFu);
  l->Bitmap()->SetPixel(1, 0, 0xFF000000u);
  l->SetLocation(TFloatRect{0, 0, 4, 1});
  EXPECT_TRUE(l->HitTest(0, 0));  // without AlphaHit the rectangle decides
  l->SetAlphaHit(true);
  EXPECT_FALSE(l->HitTest(0, 0));  // pixel 0: alpha 0
  EXPECT_TRUE(l->HitTest(2, 0));   // pixel 1
  // x = 3 maps to 3 * 2 / 4 = 1.5, which rounds to 2: one past the last
  // pixel. It reads as transparent.
  EXPECT_FALSE(l->HitTest(3, 0));
  l->SetLocation(TFloatRect{0, 0, 0.4f, 1});
  EXPECT_FALSE(l->HitTest(0, 0));
}

TEST(RubberbandLayer, DragStatesFollowTheRuleOrder) {
  TLayerCollection c;
  auto* r = AddBand(c, TFloatRect{10, 10, 110, 60});
  // Reduced rectangle (10, 10, 109, 59), centre (59, 34), tolerance 4.
  struct Case {
    int32_t X, Y;
    TDragState Expected;
  };
  const Case cases[] = {
      {109, 59, dsSizeBR}, {10, 59, dsSizeBL}, {109, 10, dsSizeTR}, {10, 10, dsSizeTL}, {113, 63, dsSizeBR},
      {6, 6, dsSizeTL},    {109, 34, dsSizeR}, {59, 59, dsSizeB},   {10, 34, dsSizeL},  {59, 10, dsSizeT},
      {50, 30, dsMove},    {108, 58, dsSizeBR}, {200, 200, dsNone}, {5, 34, dsNone},    {114, 34, dsNone},
      // The handles are drawn centred on Right and Bottom, (10 + 110) div 2 and (10 + 60) div 2.
      {110, 60, dsSizeBR}, {110, 35, dsSizeR},  {60, 60, dsSizeB},   {110, 10, dsSizeTR}, {10, 60, dsSizeBL},
  };
  for (const Case& k : cases) EXPECT_EQ(r->GetDragState(k.X, k.Y), k.Expected) << k.X << "," << k.Y;

  // Corners come before sides: near the right, the bottom and the right side's middle at once.
  auto* small = AddBand(c, TFloatRect{0, 0, 10, 10});
  EXPECT_EQ(small->GetDragState(9, 7), dsSizeBR);

  // Among the sides: right, bottom, left, top. In a 10 x 10 frame without
  // corners a point is often near two sides' middles at once.
  small->SetHandles(rhCenter | rhSides);
  EXPECT_EQ(small->GetDragState(8, 8), dsSizeR);  // right before bottom
  EXPECT_EQ(small->GetDragState(1, 8), dsSizeB);  // bottom before left
  EXPECT_EQ(small->GetDragState(1, 1), dsSizeL);  // left before top
  small->SetHandles(rhCenter | rhSides | rhNotLeftSide);
  EXPECT_EQ(small->GetDragState(1, 1), dsSizeT);

  // Move only: never a sizing state; inside the frame it moves.
  r->SetHandles(rhCenter);
  EXPECT_EQ(r->GetDragState(10, 10), dsMove);
  EXPECT_EQ(r->GetDragState(109, 34), dsNone);
  EXPECT_EQ(r->GetDragState(50, 59), dsNone);

  // Excluded handles fall through to the later rules.
  r->SetHandles(rhCenter | rhSides | rhCorners | rhNotTLCorner | rhNotLeftSide);
  EXPECT_EQ(r->GetDragState(10, 10), dsMove);
  EXPECT_EQ(r->GetDragState(10, 34), dsMove);
  EXPECT_EQ(r->GetDragState(9, 34), dsNone);
  EXPECT_FALSE(r->HitTest(9, 34));
  EXPECT_TRUE(r->HitTest(109, 34));
}

TEST(RubberbandLayer, DragArithmeticAndSizeLimits) {
  TLayerCollection c;
  auto* r = AddBand(c, TFloatRect{10, 10, 110, 60});
  int userChanges = 0;
  r->OnUserChange = [&](void*) { ++userChanges; };
  auto drag = [&](int32_t X0, int32_t Y0, int32_t X1, int32_t Y1) {
    r->SetLocation(TFloatRect{10, 10, 110, 60});
    c.MouseDown(mbLeft, ssLeft, X0, Y0);
    c.MouseMove(ssLeft, X1, Y1);
    c.MouseUp(mbLeft, 0, X1, Y1);
    return r->Location();
  };
  // Moving keeps the size and the grip offset.
  EXPECT_EQ(drag(50, 30, 70, 45), (TFloatRect{30, 25, 130, 75}));
  EXPECT_EQ(userChanges, 1);
  // The left edge dragged past the right one stops MinWidth short of it.
  EXPECT_EQ(drag(10, 34, 200, 34), (TFloatRect{100, 10, 110, 60}));
  // The bottom edge dragged above the top stops MinHeight below it.
  EXPECT_EQ(drag(59, 59, 59, 0), (TFloatRect{10, 10, 110, 20}));
  // A corner moves two edges.
  EXPECT_EQ(drag(10, 10, 0, 5), (TFloatRect{0, 5, 110, 60}));
  // MaxWidth limits growth; a Max below Min means no limit.
  r->SetMaxWidth(50);
  EXPECT_EQ(drag(109, 34, 300, 34), (TFloatRect{10, 10, 60, 60}));
  r->SetMaxWidth(5);
  EXPECT_EQ(drag(109, 34, 300, 34), (TFloatRect{10, 10, 300, 60}));
  // OnResizing may rewrite the new location.
  r->OnResizing = [](TRubberbandLayer*, const TFloatRect& Old, TFloatRect& New, TDragState State, TShiftState) {
    EXPECT_EQ(Old, (TFloatRect{10, 10, 110, 60}));
    EXPECT_EQ(State, dsSizeR);
    New.Bottom = New.Top + (New.Right - New.Left);
  };
  EXPECT_EQ(drag(109, 34, 50, 34), (TFloatRect{10, 10, 50, 50}));
  // No change, no user change.
  r->OnResizing = nullptr;
  const int before = userChanges;
  drag(50, 30, 50, 30);
  EXPECT_EQ(userChanges, before);
  EXPECT_EQ(r->DragState(), dsNone);
}

TEST(RubberbandLayer, ScaledDragMapsTheMouseBackIntoBitmapCoordinates) {
  TRecordingViewHost host(300, 300);
  TImage32 img(&host);
  img.Bitmap()->SetSize(100, 100);
  img.SetScaleMode(smScale);
  img.SetScale(2.0f);
  auto* r = img.Layers()->Add<TRubberbandLayer>();
  r->SetScaled(true);
  r->SetLocation(TFloatRect{10, 10, 60, 40});  // on screen (20, 20, 120, 80)
  img.MouseDown(mbLeft, ssLeft, 20, 49);        // left side
  EXPECT_EQ(r->DragState(), dsSizeL);
  img.MouseMove(ssLeft, 40, 49);
  EXPECT_EQ(r->Location(), (TFloatRect{20, 10, 60, 40}));
  img.MouseUp(mbLeft, 0, 40, 49);
  img.MouseDown(mbLeft, ssLeft, 80, 50);  // inside: move
  img.MouseMove(ssLeft, 90, 60);
  EXPECT_EQ(r->Location(), (TFloatRect{25, 15, 65, 45}));
  img.MouseUp(mbLeft, 0, 90, 60);

  // Hovering shows the sizing cursors; inside, the layer's own cursor.
  r->SetCursor(crSizeAll);
  img.MouseMove(0, 50, 30);   // (50, 30, 130, 90) on screen: top-left corner
  EXPECT_EQ(host.Cursor(), crSizeNWSE);
  img.MouseMove(0, 129, 60);  // right side
  EXPECT_EQ(host.Cursor(), crSizeWE);
  img.MouseMove(0, 90, 89);   // bottom side
  EXPECT_EQ(host.Cursor(), crSizeNS);
  img.MouseMove(0, 129, 30);  // top-right corner
  EXPECT_EQ(host.Cursor(), crSizeNESW);
  img.MouseMove(0, 90, 60);
  EXPECT_EQ(host.Cursor(), crSizeAll);
}

TEST(RubberbandLayer, PaintsStippledFrameAndHandles) {
  TRecordingViewHost host(40, 40);
  TImage32 img(&host);
  img.Bitmap()->SetSize(40, 40);
  img.Bitmap()->Clear(0xFF808080u);
  auto* r = img.Layers()->Add<TRubberbandLayer>();
  r->SetLocation(TFloatRect{2, 2, 32, 32});
  host.ProcessPaint();
  TBitmap32& s = host.Screen();
  // Corner handle at (2, 2): (-1, -1)-(5, 5) filled white, framed black.
  EXPECT_EQ(s.GetPixel(2, 2), 0xFFFFFFFFu);
  EXPECT_EQ(s.GetPixel(4, 4), 0xFF000000u);
  EXPECT_EQ(s.GetPixel(5, 5), 0xFF808080u);
  // Side handle on the left edge at (2, 17).
  EXPECT_EQ(s.GetPixel(2, 17), 0xFFFFFFFFu);
  EXPECT_EQ(s.GetPixel(4, 19), 0xFF000000u);
  // The frame between handles alternates two white and two black pixels.
  EXPECT_EQ(s.GetPixel(6, 2), 0xFFFFFFFFu);
  EXPECT_EQ(s.GetPixel(8, 2), 0xFF000000u);
  EXPECT_EQ(s.GetPixel(9, 2), 0xFF000000u);
  EXPECT_EQ(s.GetPixel(10, 2), 0xFFFFFFFFu);
  // Inside stays untouched.
  EXPECT_EQ(s.GetPixel(10, 10), 0xFF808080u);

  // Without frame and handles nothing is drawn.
  r->SetHandles(rhCenter);
  host.ProcessPaint();
  EXPECT_EQ(s.GetPixel(2, 2), 0xFF808080u);
  EXPECT_EQ(s.GetPixel(8, 2), 0xFF808080u);
}

TEST(RubberbandLayer, ChildFollowsTheFrameAndIsDroppedWhenDestroyed) {
  TLayerCollection c;
  auto* child = c.Add<TBitmapLayer>();
  child->SetLocation(TFloatRect{5, 6, 7, 8});
  child->SetScaled(true);
  auto* band = c.Add<TRubberbandLayer>();
  band->SetChildLayer(child);
  EXPECT_EQ(band->Location(), (TFloatRect{5, 6, 7, 8}));
  EXPECT_TRUE(band->Scaled());
  band->SetLocation(TFloatRect{1, 2, 30, 40});
  EXPECT_EQ(child->Location(), (TFloatRect{1, 2, 30, 40}));
  c.Remove(child);
  EXPECT_EQ(band->ChildLayer(), nullptr);
  band->SetLocation(TFloatRect{0, 0, 10, 10});  // no child to touch

  // The band going first leaves the child with no pointer back to it.
  auto* child2 = c.Add<TPositionedLayer>();
  auto* band2 = c.Add<TRubberbandLayer>();
  band2->SetChildLayer(child2);
  c.Remove(band2);
  c.Remove(child2);
  EXPECT_EQ(c.Count(), 1);
}

TEST(LayerLifetime, DestroyNotificationsComeInOrder) {
  auto c = std::make_unique<TLayerCollection>();
  auto* l = c->Add<TPositionedLayer>();
  std::vector<std::string> seen;
  l->OnDestroy = [&](void* S) {
    // Still in its collection while OnDestroy runs.
    seen.push_back("destroy at " + std::to_string(static_cast<TCustomLayer*>(S)->Index()));
  };
  c->OnListNotify = [&](TLayerCollection*, TLayerListNotification A, TCustomLayer*, int32_t I) {
    if (A == lnLayerDeleted) seen.push_back("deleted " + std::to_string(I));
  };
  TCustomLayer* held = l;
  l->AddDestroyObserver([&](TCustomLayer* L) {
    EXPECT_EQ(L, held);
    held = nullptr;
    seen.push_back("observer");
  });
  const int32_t dropped = l->AddDestroyObserver([&](TCustomLayer*) { seen.push_back("removed observer"); });
  l->RemoveDestroyObserver(dropped);
  c.reset();  // the collection's end destroys the layer too
  EXPECT_EQ(held, nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"destroy at 0", "observer"}));

  // Extract hands a layer out whole; destroying it then still tells observers.
  TLayerCollection c2;
  auto* e = c2.Add<TBitmapLayer>();
  bool told = false;
  e->AddDestroyObserver([&](TCustomLayer*) { told = true; });
  std::unique_ptr<TCustomLayer> owned = c2.Extract(e);
  EXPECT_EQ(c2.Count(), 0);
  EXPECT_EQ(owned->LayerCollection(), nullptr);
  EXPECT_FALSE(told);
  owned.reset();
  EXPECT_TRUE(told);
}

TEST(LayerLifetime, DeletingOrClearingInTheMiddleOfADragIsSafe) {
  TRecordingViewHost host(200, 200);
  TImage32 img(&host);
  img.Bitmap()->SetSize(200, 200);
  TCustomLayer* reported = reinterpret_cast<TCustomLayer*>(1);
  img.OnMouseDown = [&](TCustomImage32*, TMouseButton, TShiftState, int32_t, int32_t, TCustomLayer* L) { reported = L; };
  img.OnMouseMove = [&](TCustomImage32*, TShiftState, int32_t, int32_t, TCustomLayer* L) { reported = L; };

  // Deleted between press and move.
  auto* band = AddBand(*img.Layers(), TFloatRect{10, 10, 100, 100});
  img.MouseDown(mbLeft, ssLeft, 50, 50);
  ASSERT_EQ(img.Layers()->MouseListener(), band);
  img.Layers()->Delete(band->Index());
  EXPECT_EQ(img.Layers()->MouseListener(), nullptr);
  img.MouseMove(ssLeft, 60, 60);
  EXPECT_EQ(reported, nullptr);
  img.MouseUp(mbLeft, 0, 60, 60);

  // Cleared while dragging.
  AddBand(*img.Layers(), TFloatRect{10, 10, 100, 100});
  img.MouseDown(mbLeft, ssLeft, 50, 50);
  img.Layers()->Clear();
  img.MouseMove(ssLeft, 70, 70);
  img.MouseUp(mbLeft, 0, 70, 70);
  EXPECT_FALSE(host.MouseCapture());

  // Deleted by its own press handler: the control hears of no layer.
  auto* self = AddBand(*img.Layers(), TFloatRect{10, 10, 100, 100});
  self->OnMouseDown = [&](TCustomLayer* L, TMouseButton, TShiftState, int32_t, int32_t) {
    img.Layers()->Remove(L);
  };
  img.MouseDown(mbLeft, ssLeft, 50, 50);
  EXPECT_EQ(reported, nullptr);
  EXPECT_EQ(img.Layers()->Count(), 0);
  img.MouseUp(mbLeft, 0, 50, 50);

  // Deleted by its user-change handler in the middle of a move.
  auto* moved = AddBand(*img.Layers(), TFloatRect{10, 10, 100, 100});
  moved->OnUserChange = [&](void* S) { img.Layers()->Remove(static_cast<TCustomLayer*>(S)); };
  img.MouseDown(mbLeft, ssLeft, 50, 50);
  img.MouseMove(ssLeft, 55, 55);
  EXPECT_EQ(img.Layers()->Count(), 0);
  EXPECT_EQ(reported, nullptr);
  img.MouseMove(ssLeft, 60, 60);
  img.MouseUp(mbLeft, 0, 60, 60);
  host.ProcessPaint();
}

TEST(LayerChanges, LayerChangesRepaintTheControl) {
  TRecordingViewHost host(50, 50);
  TImage32 img(&host);
  int changes = 0;
  img.OnChange = [&](void*) { ++changes; };
  auto* l = img.Layers()->Add<TBitmapLayer>();
  EXPECT_GT(changes, 0);
  changes = 0;
  l->Bitmap()->SetSize(4, 4);
  changes = 0;
  l->Bitmap()->FillRectClipped(0, 0, 1, 1, 0xFFFF0000u);  // forwarded as a layer change
  EXPECT_GT(changes, 0);
  changes = 0;
  l->SetLayerOptions(l->LayerOptions() | LOB_NO_UPDATE);
  changes = 0;
  l->Bitmap()->FillRectClipped(0, 0, 1, 1, 0xFF00FF00u);
  l->SetLocation(TFloatRect{1, 1, 5, 5});
  EXPECT_EQ(changes, 0);
}

TEST(LayerChanges, EmptyingALayerBitmapRemovesItsPictureFromTheWindow) {
  TRecordingViewHost host(20, 20);
  TImage32 img(&host);
  img.Bitmap()->SetSize(20, 20);
  img.Bitmap()->Clear(0xFF808080u);
  auto* l = img.Layers()->Add<TBitmapLayer>();
  l->Bitmap()->SetSize(2, 2);
  l->Bitmap()->Clear(0xFF0000FFu);
  l->SetLocation(TFloatRect{4, 4, 8, 8});
  host.ProcessPaint();
  ASSERT_EQ(host.Screen().GetPixel(5, 5), 0xFF0000FFu);
  // Both ways of emptying it: the window must show the image underneath.
  l->Bitmap()->SetSize(0, 0);
  EXPECT_TRUE(host.ProcessPaint());
  EXPECT_EQ(host.Screen().GetPixel(5, 5), 0xFF808080u);

  l->Bitmap()->SetSize(2, 2);
  l->Bitmap()->Clear(0xFF0000FFu);
  host.ProcessPaint();
  ASSERT_EQ(host.Screen().GetPixel(5, 5), 0xFF0000FFu);
  l->SetBitmap(nullptr);
  EXPECT_TRUE(host.ProcessPaint());
  EXPECT_EQ(host.Screen().GetPixel(5, 5), 0xFF808080u);
}

TEST(LayerCollection, AssignCopiesLayersByClass) {
  TLayerCollection src;
  auto* b = src.Add<TBitmapLayer>();
  b->Bitmap()->SetSize(3, 2);
  b->SetLocation(TFloatRect{1, 2, 3, 4});
  b->SetAlphaHit(true);
  auto* r = src.Add<TRubberbandLayer>();
  r->SetHandleSize(5);
  TLayerCollection dst;
  dst.Add<TCustomLayer>();
  dst.Assign(&src);
  ASSERT_EQ(dst.Count(), 2);
  auto* b2 = dynamic_cast<TBitmapLayer*>(dst.Items(0));
  ASSERT_NE(b2, nullptr);
  EXPECT_EQ(b2->Bitmap()->Width(), 3);
  EXPECT_EQ(b2->Location(), (TFloatRect{1, 2, 3, 4}));
  EXPECT_TRUE(b2->AlphaHit());
  auto* r2 = dynamic_cast<TRubberbandLayer*>(dst.Items(1));
  ASSERT_NE(r2, nullptr);
  EXPECT_EQ(r2->HandleSize(), 5);
}

TEST(LayerGeometry, ExtremeLocationsNeitherWrapNorHit) {
  TRecordingViewHost host(50, 50);
  TImage32 img(&host);
  img.Bitmap()->SetSize(10, 10);
  auto* band = img.Layers()->Add<TRubberbandLayer>();
  auto* pic = img.Layers()->Add<TBitmapLayer>();
  pic->Bitmap()->SetSize(2, 2);
  pic->Bitmap()->Clear(0xFF00FF00u);
  pic->SetAlphaHit(true);
  pic->SetLocation(TFloatRect{100, 100, 101, 101});
  const float nan = std::numeric_limits<float>::quiet_NaN();

  // Beyond the int32 range on every side: the frame's edges saturate and
  // the whole control lies inside.
  band->SetLocation(TFloatRect{-3e9f, -3e9f, 3e9f, 3e9f});
  EXPECT_EQ(band->GetDragState(25, 25), dsMove);
  host.ProcessPaint();
  EXPECT_EQ(host.Screen().GetPixel(25, 25), img.Color32());  // no frame or handle in sight
  // A picture in reach shows.
  pic->SetLocation(TFloatRect{20, 20, 30, 30});
  host.ProcessPaint();
  EXPECT_EQ(host.Screen().GetPixel(25, 25), 0xFF00FF00u);
  pic->SetLocation(TFloatRect{-3e9f, -3e9f, 3e9f, 3e9f});
  EXPECT_TRUE(pic->HitTest(25, 25));
  EXPECT_TRUE(host.ProcessPaint());  // the sanitizers watch the saturated drawing rectangle

  // Reversed and undefined locations hit nothing.
  for (const TFloatRect& r : {TFloatRect{1e30f, 1e30f, -1e30f, -1e30f}, TFloatRect{nan, nan, nan, nan}}) {
    band->SetLocation(r);
    pic->SetLocation(r);
    EXPECT_EQ(band->GetDragState(25, 25), dsNone);
    EXPECT_FALSE(pic->HitTest(25, 25));
    EXPECT_EQ(img.Layers()->HitTest(25, 25), nullptr);
    pic->Bitmap()->FillRect(0, 0, 1, 1, 0xFFFF0000u);  // forwarded with a mapped area
    host.ProcessPaint();
  }
}

// A layer moved in the stack or on the picture tells the layer's and the
// collection's listeners after the move: the last notification already sees
// the new index and location (a repaint started from it must paint the new
// state). The moved layer starts at index 1 of three.
TEST(LayerNotify, MovesAreToldAfterTheMove) {
  struct Case {
    const char* Name;
    std::function<void(TPositionedLayer*)> Do;
    std::string Expected;  // index and location seen by the last notification
  };
  const Case cases[] = {
      {"SetIndex", [](TPositionedLayer* l) { l->SetIndex(0); }, "0 1,2,3,4"},
      {"SetIndex clamped", [](TPositionedLayer* l) { l->SetIndex(7); }, "2 1,2,3,4"},
      {"BringToFront", [](TPositionedLayer* l) { l->BringToFront(); }, "2 1,2,3,4"},
      {"SendToBack", [](TPositionedLayer* l) { l->SendToBack(); }, "0 1,2,3,4"},
      {"SetLocation", [](TPositionedLayer* l) { l->SetLocation(TFloatRect{5, 6, 7, 8}); }, "1 5,6,7,8"},
  };
  for (const Case& c : cases) {
    TLayerCollection col;
    col.Add<TCustomLayer>();
    auto* l = col.Add<TPositionedLayer>();
    col.Add<TCustomLayer>();
    l->SetLocation(TFloatRect{1, 2, 3, 4});
    TChangeRecorder rec;
    rec.Observe = [&] {
      const TFloatRect r = l->Location();
      return std::to_string(l->Index()) + " " + std::to_string(int(r.Left)) + "," + std::to_string(int(r.Top)) +
             "," + std::to_string(int(r.Right)) + "," + std::to_string(int(r.Bottom));
    };
    l->OnChange = rec.Listener("layer");
    col.OnChange = rec.Listener("collection");
    c.Do(l);
    ASSERT_FALSE(rec.Events.empty()) << c.Name;
    EXPECT_EQ(rec.Events.back().What, "layer") << c.Name;
    // The collection may hear of the coming change too; its last word and the
    // layer's come after the move.
    for (const std::string who : {"layer", "collection"}) {
      auto last = std::find_if(rec.Events.rbegin(), rec.Events.rend(), [&](const auto& e) { return e.What == who; });
      ASSERT_NE(last, rec.Events.rend()) << c.Name << " " << who << " not told";
      EXPECT_EQ(last->Seen, c.Expected) << c.Name << " " << who;
    }
  }
}
