// The selection frame and the layer commands through the scripted window and
// the headless view: info texts, Ctrl-resizing by real drags, pasting,
// stamping and flattening against a plain blend model with their undo steps,
// Delete All and Flatten All with reference-point markers present, the Layers
// menu state and list, the alpha gauge.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "editor_test_util.h"
#include "fake_editor_ui.h"
#include "img_common.h"
#include "raster_blend.h"
#include "raster_filterindex.h"
#include "view_host.h"
#include "zub_layers.h"

namespace {

// The portable blend written out: master alpha 255 blends by the pixel's alpha
// alone (an opaque pixel is copied); any other weighs W = ((M + 1) * Fa) shr 8.
// Each channel, alpha included: ((F*W + 128) shr 8) + ((B*(255 - W) + 128) shr 8).
TColor32 ModelBlend(TColor32 F, TColor32 B, uint32_t M) {
  const uint32_t fa = F >> 24, w = M == 255 ? fa : ((M + 1) * fa) >> 8;
  if (fa == 0 || w == 0) return B;
  if (M == 255 && fa == 255) return F;
  TColor32 r = 0;
  for (int s = 0; s < 32; s += 8) {
    const uint32_t f = (F >> s) & 0xFF, b = (B >> s) & 0xFF;
    r |= (((f * w + 128) >> 8) + ((b * (255 - w) + 128) >> 8)) << s;
  }
  return r;
}

// Stamping Layer 1:1 at (X, Y) in the plain model.
void ModelStamp(TBitmap32& Doc, const TBitmap32& Layer, int32_t X, int32_t Y, uint32_t M) {
  for (int32_t y = 0; y < Layer.Height(); ++y)
    for (int32_t x = 0; x < Layer.Width(); ++x)
      Doc.SetPixel(X + x, Y + y, ModelBlend(Layer.GetPixel(x, y), Doc.GetPixel(X + x, Y + y), M));
}

class Layers : public ::testing::Test {
 protected:
  void SetUp() override {
    // The model is the portable formula; the processor family may differ by one.
    savedProcessor = MmxActive;
    SelectBlendFamily(false);
    view.SetScaleMode(smScale);
    view.Bitmap()->SetSize(100, 80);
    PaintPattern(*view.Bitmap(), 3);
    view.Bitmap()->SetAllAlpha(255);
    ed = std::make_unique<TEditor>(view, ui, 1024);
    ed->gFileName = "doc.png";
    ui.Gauges[TGauge::Alpha] = 255;
    ui.HistogramMade = ui.HistogramShown = true;
    view.Layers()->OnListNotify = [this](TLayerCollection*, TLayerListNotification A, TCustomLayer* L, int32_t I) {
      if (A == lnLayerAdded || A == lnLayerDeleted)
        events.push_back((A == lnLayerAdded ? "+" : "-") + L->ClassName() + std::to_string(I));
    };
  }
  void TearDown() override {
    ed.reset();
    view.Layers()->Clear();
    SelectBlendFamily(savedProcessor);
  }
  // A W x H picture of Seed from the clipboard as a floating layer.
  TBitmapLayer* Paste(int32_t W, int32_t H, uint32_t Seed) {
    Pattern(W, H, Seed)->AssignTo(board);
    PasteAsFloatingSelection1Click(*ed, board);
    return dynamic_cast<TBitmapLayer*>(ed->gSelectedLayer.get());
  }
  int32_t Count() const { return view.Layers()->Count(); }
  TCustomLayer* Top() const { return view.Layers()->Items(Count() - 1); }

  bool savedProcessor = false;
  TFakeEditorUi ui;
  TRecordingViewHost host{300, 200};
  TImage32 view{&host};
  TMemoryClipboard board;
  std::unique_ptr<TEditor> ed;
  std::vector<std::string> events;
};

}  // namespace

TEST(SelectionInfo, TextIsExactWithTiesToEven) {
  const std::pair<TFloatRect, const char*> cases[] = {
      {{0, 0, 1, 8}, "[0,0,1,8]=(1x8:0.12)"},        // 12.5 hundredths: down to the even 12
      {{0, 0, 3, 8}, "[0,0,3,8]=(3x8:0.38)"},        // 37.5: up to 38
      {{0, 0, 3, 200}, "[0,0,3,200]=(3x200:0.02)"},  // 1.5: up to 2
      {{0, 0, 1, 200}, "[0,0,1,200]=(1x200:0)"},     // 0.5: down to 0
      {{0, 0, 640, 480}, "[0,0,640,480]=(640x480:1.33)"},
      {{2, 3, 10, 3}, "[2,3,10,3]=(8x0)"},                 // no height: no ratio
      {{1.7f, 2.2f, 11.9f, 7.5f}, "[1,2,11,7]=(10x5:2)"},  // a scaled frame's fractions are cut
  };
  for (const auto& [r, text] : cases) EXPECT_EQ(SelectionInfoText(r), text);
}

TEST_F(Layers, SelectAllAndCtrlDragsOnSidesKeepTheAspectRatio) {
  view.SetScale(2.0f);
  SelectAll1Click(*ed);
  EXPECT_EQ(ed->gSelection->Location(), MakeFloatRect(0, 0, 200, 160));  // control pixels
  EXPECT_EQ(ed->gSelection->LayerOptions(), LOB_VISIBLE | LOB_MOUSE_EVENTS);
  EXPECT_EQ(ed->gSelection->Tag(), kSelectionTag + kSelectAllTag);
  EXPECT_EQ(ui.Status[1], "[0,0,100,80]=(100x80:1.25)");
  SelectNone1Click(*ed);
  EXPECT_EQ(events, (std::vector<std::string>{"+TRubberbandLayer0", "-TRubberbandLayer0"}));
  view.SetScale(1.0f);

  struct Case {
    TPoint Press, To;
    TShiftState Shift;
    TFloatRect Result;
    const char* Status;
  } cases[] = {
      // Right side of (10,10,50,30), ratio 2: the bottom follows.
      {{49, 19}, {69, 19}, ssLeft | ssCtrl, {10, 10, 69, 39.5f}, "[10,10,69,40]=(59x30:1.97)"},
      {{49, 19}, {69, 19}, ssLeft, {10, 10, 69, 30}, "[10,10,69,30]=(59x20:2.95)"},
      // Bottom side: the right follows. A corner resizes freely.
      {{29, 29}, {29, 39}, ssLeft | ssCtrl, {10, 10, 68, 39}, "[10,10,68,39]=(58x29:2)"},
      {{49, 29}, {59, 49}, ssLeft | ssCtrl, {10, 10, 59, 49}, "[10,10,59,49]=(49x39:1.26)"},
      // Clipped to the image first, then the ratio; so the ratio may reach past the image.
      {{49, 19}, {150, 19}, ssLeft | ssCtrl, {10, 10, 100, 55}, "[10,10,100,55]=(90x45:2)"},
      {{29, 29}, {29, 75}, ssLeft | ssCtrl, {10, 10, 140, 75}, "[10,10,140,75]=(130x65:2)"},
  };
  for (const Case& c : cases) {
    CreateSelection(*ed, MakeFloatRect(10, 10, 50, 30), ed->gSelection);
    PresentSelection(*ed);
    view.MouseDown(mbLeft, c.Shift, c.Press.X, c.Press.Y);
    view.MouseMove(c.Shift, c.To.X, c.To.Y);
    view.MouseUp(mbLeft, c.Shift, c.To.X, c.To.Y);
    EXPECT_EQ(ed->gSelection->Location(), c.Result) << c.Status;
    EXPECT_EQ(ed->gSelRect, c.Result) << c.Status;
    EXPECT_EQ(ui.Status[1], c.Status);
  }
  // A frame that started with no height has no ratio to keep.
  TFloatRect r = MakeFloatRect(10, 10, 40, 10);
  RBResizing(*ed, ed->gSelection, MakeFloatRect(10, 10, 30, 10), r, dsSizeR, ssCtrl);
  EXPECT_EQ(r, MakeFloatRect(10, 10, 40, 10));
}

TEST_F(Layers, PasteFloatsThePictureInAFrameThatTakesTheMouseShrunkToFit) {
  SetStretchFilter(view.Bitmap(), 5);
  ui.Gauges[TGauge::Alpha] = 200;
  TBitmapLayer* layer = Paste(20, 10, 7);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->Location(), MakeFloatRect(0, 0, 20, 10));
  EXPECT_EQ(layer->Bitmap()->MasterAlpha(), 200u);
  EXPECT_EQ(StretchFilterIndex(layer->Bitmap()->Resampler()), 5);
  EXPECT_EQ(ed->gSelection->ChildLayer(), layer);
  EXPECT_EQ(ed->gSelection->LayerOptions(), LOB_VISIBLE | LOB_MOUSE_EVENTS);
  EXPECT_EQ(events, (std::vector<std::string>{"+TBitmapLayer0", "+TRubberbandLayer1"}));
  EXPECT_TRUE(ui.GaugeEnabled[TGauge::Alpha]);

  // 300 x 100 into 100 x 80: a third, proportions kept; Unstretch gives the
  // picture its own size, the frame moving with it.
  layer = Paste(300, 100, 8);
  EXPECT_EQ(layer->Location(), MakeFloatRect(0, 0, 100, 100.0f / 3));
  Unstretch1Click(*ed);
  EXPECT_EQ(layer->Location(), MakeFloatRect(0, 0, 300, 100));
  EXPECT_EQ(ed->gSelection->Location(), layer->Location());
  // 50 x 200: the height bounds it, to 0.4.
  EXPECT_EQ(Paste(50, 200, 10)->Location(), MakeFloatRect(0, 0, 20, 80));

  // Into a selection of its size a picture goes back where it was cut; other sizes go to the corner.
  for (int32_t w : {20, 21}) {
    SelectNone1Click(*ed);
    CreateSelection(*ed, MakeFloatRect(30, 20, 50, 30), ed->gSelection);
    EXPECT_EQ(Paste(w, 10, 9)->Location(), w == 20 ? MakeFloatRect(30, 20, 50, 30) : MakeFloatRect(0, 0, 21, 10));
  }
  // An empty clipboard or picture makes no layer.
  const int32_t before = Count();
  EmptyClipboard1Click(board);
  PasteAsFloatingSelection1Click(*ed, board);
  TBitmap32 empty;
  EXPECT_EQ(NewBitmapLayer(*ed, &empty, 0, 0, {}), nullptr);
  EXPECT_EQ(Count(), before);
}

TEST_F(Layers, StampBlendsWithTheMasterAlphaAsOneUndoStep) {
  auto doc = Copy(*view.Bitmap());
  auto picture = Pattern(16, 12, 11);  // varied alpha
  ui.Gauges[TGauge::Alpha] = 180;
  TBitmapLayer* layer = NewBitmapLayer(*ed, picture.get(), 5, 7, {});
  SelectLayer(*ed, layer);
  const int repaints = ui.HistogramRepaints;
  Stamp1Click(*ed);
  ModelStamp(*doc, *picture, 5, 7, 180);
  EXPECT_TRUE(view.Bitmap()->Equal(doc.get()));
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);
  EXPECT_EQ(ui.Captions.back(), "Vemra - doc.png* (100x80)[1:1]");
  EXPECT_EQ(ui.HistogramRepaints, repaints + 1);

  // At 1:2 the layer's control corners fall on half pixels; the stamp still lands on its bitmap pixels.
  ed->gImageUndo->Undo(view.Bitmap());
  view.SetScale(0.5f);
  Stamp1Click(*ed);
  EXPECT_TRUE(view.Bitmap()->Equal(doc.get()));

  // Enlarged, the picture is drawn with the spline filter; shrunk, with the linear one.
  for (const auto& [location, filter] : {std::pair{MakeFloatRect(2, 3, 34, 27), 4}, {MakeFloatRect(2, 3, 10, 9), 2}}) {
    ed->gImageUndo->Undo(view.Bitmap());
    auto expected = Copy(*view.Bitmap());
    ed->gSelection->SetLocation(location);
    Stamp1Click(*ed);
    StretchTransferByIndex(expected.get(), RoundRectF(location), expected->BoundsRect(), layer->Bitmap(),
                           layer->Bitmap()->BoundsRect(), static_cast<uint8_t>(filter), dmBlend);
    EXPECT_TRUE(view.Bitmap()->Equal(expected.get())) << filter;
  }
}

TEST_F(Layers, FlattenAllStampsBottomFirstAndKeepsTheMarkers) {
  const auto before = Copy(*view.Bitmap());
  auto doc = Copy(*view.Bitmap());
  TLayerRef<TRubberbandLayer> p1, p2;
  CreateSelectionAt(*ed, 3, 4, p1);
  auto a = Pattern(30, 20, 21), b = Pattern(25, 25, 22), c = Pattern(8, 8, 23);
  NewBitmapLayer(*ed, a.get(), 10, 10, {});
  ui.Gauges[TGauge::Alpha] = 100;
  NewBitmapLayer(*ed, b.get(), 20, 15, {});
  CreateSelectionAt(*ed, 50, 50, p2);
  view.Layers()->Add<TPositionedLayer>();  // not a picture: dropped unstamped
  CreateSelection(*ed, MakeFloatRect(1, 1, 9, 9), ed->gSelection);

  FlattenAll1Click(*ed);
  ModelStamp(*doc, *a, 10, 10, 255);
  ModelStamp(*doc, *b, 20, 15, 100);
  EXPECT_TRUE(view.Bitmap()->Equal(doc.get()));
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 3);  // the command, and one per picture
  ASSERT_EQ(Count(), 2);
  EXPECT_EQ(p1->Location(), MakeFloatRect(3, 4, 4, 5));
  EXPECT_EQ(p2->LayerOptions(), LOB_VISIBLE);
  EXPECT_EQ(ed->gSelection.get(), nullptr);
  EXPECT_EQ(ui.Captions.back(), "Vemra - doc.png* (100x80)[1:1]");

  // Flatten: the selected picture is stamped, then goes with its frame.
  SelectLayer(*ed, NewBitmapLayer(*ed, c.get(), 60, 5, {}));
  Flatten1Click(*ed);
  ModelStamp(*doc, *c, 60, 5, 100);
  EXPECT_TRUE(view.Bitmap()->Equal(doc.get()));
  EXPECT_EQ(Count(), 2);
  for (int i = 0; i < 4; ++i) ed->gImageUndo->Undo(view.Bitmap());
  EXPECT_TRUE(view.Bitmap()->Equal(before.get()));
}

TEST_F(Layers, DeleteAndArrangeKeepTheFrameAboveItsLayer) {
  TLayerRef<TRubberbandLayer> marker;
  CreateSelectionAt(*ed, 7, 7, marker);
  TBitmapLayer* a = Paste(10, 10, 1);
  TBitmapLayer* b = Paste(12, 12, 2);
  // Brought to the front and deleted: the chosen layer is the one that goes.
  SelectLayer(*ed, a);
  BringtoFront1Click(*ed);
  EXPECT_EQ(Top(), ed->gSelection.get());
  events.clear();
  Delete1Click(*ed);
  EXPECT_EQ(events, (std::vector<std::string>{"-TRubberbandLayer3", "-TBitmapLayer2"}));
  SelectLayer(*ed, b);
  SendtoBack1Click(*ed);
  EXPECT_EQ(b->Index(), 0);

  // Delete All takes the pictures and the frame and leaves the marker; a
  // marker deleted by its index lets go of its reference.
  Paste(5, 5, 3);
  DeleteAll1Click(*ed);
  ASSERT_EQ(Count(), 1);
  EXPECT_EQ(view.Layers()->Items(0), marker.get());
  DeleteLayer(*ed, 0);
  EXPECT_EQ(marker.get(), nullptr);
  DeleteLayer(*ed, 0);
}

TEST_F(Layers, MenuStateLayerListAndAlphaGauge) {
  TLayerRef<TRubberbandLayer> marker;
  CreateSelectionAt(*ed, 7, 7, marker);
  CreateSelection(*ed, MakeFloatRect(1, 1, 9, 9), ed->gSelection);
  Layers1Click(*ed);
  Image1Click(*ed);
  for (const char* item : {"DeleteAll1", "FlattenAll1", "Layers2", "Flatten1", "Delete1", "Arrange1"})
    EXPECT_FALSE(ui.MenuEnabled[item]) << item;
  EXPECT_TRUE(ui.MenuEnabled["CroptoSelection1"]);
  // One layer of the user's is enough.
  TCustomLayer* lone = view.Layers()->Add<TPositionedLayer>();
  Layers1Click(*ed);
  for (const char* item : {"DeleteAll1", "FlattenAll1", "Layers2", "Flatten1"}) EXPECT_TRUE(ui.MenuEnabled[item]) << item;
  view.Layers()->Delete(lone->Index());

  TBitmapLayer* a = Paste(10, 10, 1);
  view.Layers()->Add<TPositionedLayer>();
  TBitmapLayer* b = Paste(12, 12, 2);
  SelectNone1Click(*ed);
  Layers1Click(*ed);
  for (const char* item : {"DeleteAll1", "FlattenAll1", "Layers2", "Flatten1"}) EXPECT_TRUE(ui.MenuEnabled[item]);
  EXPECT_FALSE(ui.MenuEnabled["Delete1"]);

  Layers2Click(*ed);
  EXPECT_EQ(ui.LayerItems, (std::vector<TLayerListItem>{{1, "Layer 1"}, {3, "Layer 3"}}));
  Layer1Click(*ed, 3);
  EXPECT_EQ(ed->gSelectedLayer.get(), b);
  EXPECT_EQ(ed->gSelection->LayerOptions(), LOB_VISIBLE | LOB_MOUSE_EVENTS);
  EXPECT_EQ(Top(), ed->gSelection.get());
  EXPECT_EQ(ui.Status[1], "[0,0,12,12]=(12x12:1)");
  Layers1Click(*ed);
  EXPECT_TRUE(ui.MenuEnabled["Delete1"] && ui.MenuEnabled["Arrange1"]);
  Layer1Click(*ed, 2);  // not a picture
  EXPECT_EQ(ed->gSelectedLayer.get(), b);

  // The gauge sets the selected picture's master alpha, and the layer reports the change.
  int changes = 0;
  b->OnChange = [&](void*) { ++changes; };
  ui.Gauges[TGauge::Alpha] = 77;
  GaugeBar1Change(*ed);
  EXPECT_EQ(b->Bitmap()->MasterAlpha(), 77u);
  EXPECT_EQ(changes, 1);
  // Selecting shows a picture's own alpha; a layer of another kind turns the gauge off.
  LayerMouseDownHandler(*ed)(a, mbLeft, ssLeft, 0, 0);
  EXPECT_EQ(ed->gSelectedLayer.get(), a);
  EXPECT_EQ(ui.Gauges[TGauge::Alpha], 255);
  SelectLayer(*ed, view.Layers()->Items(2));
  EXPECT_FALSE(ui.GaugeEnabled[TGauge::Alpha]);
  GaugeBar1Change(*ed);
  EXPECT_EQ(a->Bitmap()->MasterAlpha(), 255u);
}
