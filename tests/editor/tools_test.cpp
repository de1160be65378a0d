// The mouse tools driven by synthetic mouse events through the headless view
// and the scripted window: the tool table, the brush mask, dab placement and
// spacing against a plain line model, undo steps per stroke, the local-undo
// brush, fill ramps, flood fill and replace against a plain breadth-first
// model, pattern fills, the draw and text tools, the swatches and the read-out.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "editor_test_util.h"
#include "fake_editor_ui.h"
#include "img_clipboard.h"
#include "raster_blend.h"
#include "view_host.h"
#include "zub_layers.h"
#include "zub_tools.h"

namespace {

class Tools : public ::testing::Test {
 protected:
  void SetUp() override {
    view.Bitmap()->SetSize(60, 40);
    view.Bitmap()->Clear(0xFF808080u);
    ed = std::make_unique<TEditor>(view, ui, 1024);
    ed->gFileName = "doc.png";
    tools = std::make_unique<TMouseTools>(*ed);
    tools->gClipboard = &board;
    ui.Gauges = {{TGauge::Alpha, 255}, {TGauge::Size, 1}, {TGauge::Density, 255}};
    ui.Swatches = {{TSwatch::Foreground, 0xFFFF0000u}, {TSwatch::Background, 0xFF0000FFu},
                   {TSwatch::Extra, 0xFF00FF00u}};
  }
  void TearDown() override {
    tools.reset();
    ed.reset();
    view.Layers()->Clear();
  }
  void Click(TMouseButton B, TShiftState S, int32_t X, int32_t Y) {
    view.MouseDown(B, S, X, Y);
    view.MouseUp(B, S, X, Y);
  }
  void Drag(const std::vector<TPoint>& Path, TMouseButton B = mbLeft) {
    view.MouseDown(B, 0, Path[0].X, Path[0].Y);
    for (size_t i = 1; i < Path.size(); ++i) view.MouseMove(ssLeft, Path[i].X, Path[i].Y);
    view.MouseUp(B, 0, Path.back().X, Path.back().Y);
  }
  // Pixels that differ from the grey the document started with.
  std::set<std::pair<int32_t, int32_t>> Painted() const {
    std::set<std::pair<int32_t, int32_t>> s;
    for (int32_t y = 0; y < view.Bitmap()->Height(); ++y)
      for (int32_t x = 0; x < view.Bitmap()->Width(); ++x)
        if (view.Bitmap()->GetPixel(x, y) != 0xFF808080u) s.insert({x, y});
    return s;
  }

  TFakeEditorUi ui;
  TRecordingViewHost host{300, 200};
  TImage32 view{&host};
  TMemoryClipboard board;
  std::unique_ptr<TEditor> ed;
  std::unique_ptr<TMouseTools> tools;
};

// The ramp written out from its table, one line per kind.
int32_t ModelRamp(int32_t Mode, int32_t A, int32_t T, int32_t I) {
  const int32_t fall = 255 - I * 255 / T;
  const bool solid = Mode == 3 || Mode == 103 || Mode == 113;
  const bool hard = Mode == 2 || Mode == 10 || Mode == 11 || Mode == 102 || Mode == 112;
  const int32_t v = solid ? A : hard ? (fall * A) / 64 : A * fall / 255;
  return std::clamp(v, 0, 255);
}

}  // namespace

TEST(BrushMask, KnownAnswersAndTheDensityFloor) {
  struct Case {
    int32_t R, Density;
    int32_t Centre, Ring1, Ring2, Corner;  // distance 0, 1, 2 and the corner pixel
  } cases[] = {
      {1, 1, 4, 0, -1, 0},          // k = (2 div 1)^2 = 4
      {10, 25, 250, 225, 200, 0},   // k = 25: 250 - 25 per pixel
      {2, 64, 255, 255, 0, 0},      // k = 4096: clamped
      {50, 20, 50, 49, 48, 0},      // 40 div 50 = 0: the floor k = 1 still paints
      {3, 1, 3, 2, 1, 0},           // 2 div 3 = 0: k = 1
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> m = BuildBrushMask(c.R, c.Density);
    const int32_t side = 2 * c.R + 1;
    ASSERT_EQ(m.size(), static_cast<size_t>(side * side));
    EXPECT_EQ(m[c.R * side + c.R], c.Centre) << c.R << "/" << c.Density;
    EXPECT_EQ(m[c.R * side + c.R + 1], c.Ring1) << c.R << "/" << c.Density;
    if (c.Ring2 >= 0) EXPECT_EQ(m[(c.R + 2) * side + c.R], c.Ring2) << c.R << "/" << c.Density;
    EXPECT_EQ(m[0], c.Corner);
    // Symmetric under both mirrors.
    for (int32_t y = 0; y < side; ++y)
      for (int32_t x = 0; x < side; ++x) ASSERT_EQ(m[y * side + x], m[(side - 1 - y) * side + (side - 1 - x)]);
  }
  EXPECT_EQ(BuildBrushMask(0, 10), std::vector<uint8_t>{0});
}

TEST(FillRamp, SoftHardAndSolidTables) {
  for (int32_t mode : {0, 1, 20, 2, 10, 11, 3, 101, 102, 103, 111, 112, 113})
    for (int32_t a : {0, 40, 200, 255})
      for (int32_t t : {1, 4, 7, 255}) {
        const std::vector<uint8_t> r = FillRamp(mode, a, t);
        ASSERT_EQ(r.size(), static_cast<size_t>(t));
        for (int32_t i = 0; i < t; ++i) ASSERT_EQ(r[i], ModelRamp(mode, a, t, i)) << mode << " " << a << " " << t;
      }
  EXPECT_EQ(FillRamp(0, 200, 4), (std::vector<uint8_t>{200, 150, 100, 50}));
  EXPECT_EQ(FillRamp(2, 40, 4), (std::vector<uint8_t>{159, 120, 80, 40}));
  EXPECT_TRUE(FillRamp(0, 200, 0).empty());
}

TEST_F(Tools, SetToolStatusTextsAndGauges) {
  struct Case {
    int32_t Tool;
    bool Alpha, Size, Density, Effects;
    const char* Label6;
    const char* Status;
  } cases[] = {
      {2, true, true, true, false, "Density",
       "Choose transparency, size and density. Ctrl+Click to select brush type: color, pattern, clone or undo."},
      {3, false, false, false, false, nullptr, "Click to choose a color."},
      {4, false, false, false, false, nullptr, "Click to choose a color."},  // unchanged
      {5, true, true, true, true, "Density", "Choose the effect to apply, transparency, size and density"},
      {6, false, true, false, false, nullptr, "Choose the effect to apply, transparency, size and density"},
      {7, true, false, true, false, "Tolerance", "Click to fill with color and transparency."},
      {8, true, false, true, false, "Tolerance", "Click to replace with color and transparency."},
      {1, true, false, false, false, nullptr, "Click and drag to select. Ctrl+Click to choose a color."},
  };
  for (const Case& c : cases) {
    ui.Labels.clear();
    ed->SetTool(c.Tool);
    EXPECT_EQ(ed->gCurrentTool, c.Tool);
    EXPECT_EQ(ui.PressedTool, c.Tool);
    EXPECT_EQ(view.Cursor(), c.Tool);
    EXPECT_EQ(ui.GaugeEnabled[TGauge::Alpha], c.Alpha) << c.Tool;
    EXPECT_EQ(ui.GaugeEnabled[TGauge::Size], c.Size) << c.Tool;
    EXPECT_EQ(ui.GaugeEnabled[TGauge::Density], c.Density) << c.Tool;
    EXPECT_EQ(ui.EffectListOn, c.Effects) << c.Tool;
    if (c.Label6) EXPECT_EQ(ui.Labels["Label6"].first, c.Label6);
    EXPECT_EQ(ui.Status[0], c.Status) << c.Tool;
  }
  // The brush tools rebuild the mask from the gauges.
  ui.Gauges[TGauge::Size] = 3;
  ed->SetTool(2);
  EXPECT_EQ(tools->gBrushMask, BuildBrushMask(3, 255));
  ui.Gauges[TGauge::Size] = 5;
  tools->GaugeBar2Change();
  EXPECT_EQ(tools->gBrushMask.size(), 121u);
}

TEST_F(Tools, BrushStrokeFollowsTheSpacingAndIsOneUndoStep) {
  // Radius 1 at full density is a one-pixel dab: the stroke shows each dab.
  ed->SetTool(2);
  const std::vector<TPoint> path = {{10, 10}, {20, 13}, {20, 13}, {5, 30}};
  Drag(path);
  std::set<std::pair<int32_t, int32_t>> model = {{10, 10}};
  for (size_t k = 1; k < path.size(); ++k) {
    const int32_t dx = path[k].X - path[k - 1].X, dy = path[k].Y - path[k - 1].Y;
    const int32_t n = static_cast<int32_t>(std::sqrt(double(dx * dx + dy * dy)));  // spacing 1
    for (int32_t i = 1; i <= n; ++i) model.insert({path[k - 1].X + i * dx / n, path[k - 1].Y + i * dy / n});
    model.insert({path[k].X, path[k].Y});
  }
  EXPECT_EQ(Painted(), model);
  for (const auto& [x, y] : model) ASSERT_EQ(view.Bitmap()->GetPixel(x, y), 0xFFFF0000u);
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);
  EXPECT_EQ(tools->gBrushDab, nullptr);
  EXPECT_EQ(ui.Captions.back(), "Vemra - doc.png* (60x40)[1:1]");

  // Dabs are counted through the retouch brush: size 2 gives spacing 2, so
  // 20 pixels are 10 steps, the last at the pointer, each placed once.
  int calls = 0;
  ed->RegisterActionCallback("KernelAction", [&](TEditor&, const TActionArgument& A) {
    EXPECT_EQ(ActionTag(A), 100);
    ++calls;
    return arDone;
  });
  ui.Gauges[TGauge::Size] = 2;
  ed->SetTool(5);
  ui.EffectIndex = 1;  // Blur
  Drag({{10, 20}, {30, 20}});
  EXPECT_EQ(calls, 1 + 10);
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 2);
  // Tint paints with the button's variant: 853 for the right button, 852 for the middle.
  std::vector<int32_t> tints;
  ed->RegisterActionCallback("TintAction", [&](TEditor&, const TActionArgument& A) {
    tints.push_back(ActionTag(A));
    return arDone;
  });
  ui.EffectIndex = 7;
  for (TMouseButton b : {mbLeft, mbRight, mbMiddle}) Click(b, 0, 5, 5);
  EXPECT_EQ(tints, (std::vector<int32_t>{851, 853, 852}));
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 5);
  // Clicks off the bitmap: no step, no undo.
  for (int32_t tool : {2, 5, 7, 8}) {
    ed->SetTool(tool);
    Click(mbLeft, 0, 200, 10);
  }
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 5);
}

TEST_F(Tools, LocalUndoBrushRestoresWithoutAnUndoStep) {
  ui.Gauges[TGauge::Size] = 2;
  ed->SetTool(2);
  // Without a snapshot the local-undo brush paints nothing.
  tools->gBrushType = btLocalUndo;
  Drag({{30, 20}, {40, 20}});
  EXPECT_TRUE(Painted().empty());
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 0);

  tools->gBrushType = btColor;
  ui.Gauges[TGauge::Size] = 4;
  Drag({{30, 20}, {31, 20}});
  ASSERT_FALSE(Painted().empty());
  tools->gBrushType = btLocalUndo;
  Drag({{30, 20}, {31, 20}});
  EXPECT_TRUE(Painted().empty());  // full alpha and density: the snapshot's pixels come back
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);

  // Ctrl+Click opens the brush menu with Local Undo enabled now that there is undo.
  Click(mbLeft, ssCtrl, 5, 5);
  EXPECT_EQ(ui.Popups.back(), "PopupMenu2");
  EXPECT_TRUE(ui.MenuEnabled["UndofromHere1"]);
}

TEST_F(Tools, CloneBrushCopiesFromTheSourceMovingWithThePointer) {
  for (int32_t x = 0; x < 10; ++x) view.Bitmap()->SetPixel(x, 5, 0xFF000000u + static_cast<TColor32>(x));
  ed->SetTool(2);
  view.MouseDown(mbLeft, ssCtrl, 0, 5);  // where PopupMenu2 opened
  view.MouseUp(mbLeft, ssCtrl, 0, 5);
  tools->PatternfromHere1Click(btClone);
  ui.Gauges[TGauge::Size] = 1;
  Drag({{20, 25}, {29, 25}});
  for (int32_t x = 0; x < 10; ++x) EXPECT_EQ(view.Bitmap()->GetPixel(20 + x, 25), 0xFF000000u + static_cast<TColor32>(x));
}

TEST_F(Tools, FillCountsAndBlendsAgainstAPlainModel) {
  // A uniform 10 x 10 fills completely.
  view.Bitmap()->SetSize(10, 10);
  view.Bitmap()->Clear(0xFF102030u);
  ed->SetTool(7);
  ui.Gauges[TGauge::Alpha] = 128;
  ui.Gauges[TGauge::Density] = 1;
  Click(mbLeft, 0, 3, 4);
  EXPECT_EQ(ui.Status[0], "100 pixels filled");
  EXPECT_EQ(view.Bitmap()->GetPixel(9, 9), BlendPixel(0x80FF0000u, 0xFF102030u));
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);
  // At full Alpha the colour itself, as a dab puts it, also where a channel
  // changes by more than half the range (the blend alone gives 254 there).
  view.Bitmap()->Clear(0xFF646464u);
  ui.Gauges[TGauge::Alpha] = 255;
  Click(mbLeft, 0, 3, 4);
  EXPECT_EQ(view.Bitmap()->GetPixel(9, 9), 0xFFFF0000u);

  // Random pictures of few colours: the region, its size and every pixel
  // match a plain breadth-first fill with a queue.
  std::mt19937 rng(5);
  for (int round = 0; round < 30; ++round) {
    const int32_t w = 1 + static_cast<int32_t>(rng() % 40), h = 1 + static_cast<int32_t>(rng() % 30);
    TBitmap32 b;
    b.SetSize(w, h);
    const TColor32 palette[] = {0xFF101010u, 0xFF121110u, 0xFF202020u, 0xFF808080u};
    for (int32_t i = 0; i < w * h; ++i) b.Bits()[i] = palette[rng() % 4];
    const int32_t sx = static_cast<int32_t>(rng() % w), sy = static_cast<int32_t>(rng() % h);
    const int32_t mode = std::vector<int32_t>{0, 2, 3, 10, 11}[rng() % 5];
    const int32_t drawn = static_cast<int32_t>(rng() % 256), t = 1 + static_cast<int32_t>(rng() % 40);
    const int32_t a = round % 4 == 0 ? 255 : drawn;  // full Alpha every fourth round
    const TColor32 f = 0xFF00A0F0u;

    TBitmap32 expected;
    expected.Assign(&b);
    const TColor32 s = b.GetPixel(sx, sy);
    std::vector<char> seen(static_cast<size_t>(w * h));
    std::deque<TPoint> q{{sx, sy}};
    seen[sy * w + sx] = 1;
    // Full alpha puts the colour itself, below it the register blend.
    const auto Over = [](TColor32 C, TColor32 P) { return C >> 24 == 255 ? C : BlendPixel(C, P); };
    expected.SetPixel(sx, sy, Over((f & 0xFFFFFF) | (uint32_t(a) << 24), s));
    int64_t count = 1;
    const double len = mode == 10 ? std::hypot(double(w), double(h)) : double(w + h);
    while (!q.empty()) {
      const TPoint p = q.front();
      q.pop_front();
      for (int32_t dy = -1; dy <= 1; ++dy)
        for (int32_t dx = -1; dx <= 1; ++dx) {
          const int32_t x = p.X + dx, y = p.Y + dy;
          if ((dx == 0 && dy == 0) || x < 0 || y < 0 || x >= w || y >= h || seen[y * w + x]) continue;
          const TColor32 c = b.GetPixel(x, y);
          const int32_t d = std::abs(int32_t((c >> 16) & 255) - int32_t((s >> 16) & 255)) +
                            std::abs(int32_t((c >> 8) & 255) - int32_t((s >> 8) & 255)) +
                            std::abs(int32_t(c & 255) - int32_t(s & 255));
          if (d >= t) continue;
          seen[y * w + x] = 1;
          q.push_back({x, y});
          ++count;
          int32_t alpha = ModelRamp(mode, a, t, d);
          if (mode == 10 || mode == 11) {
            const double dist = mode == 10 ? std::hypot(double(x - sx), double(y - sy))
                                           : double(std::abs(x - sx) + std::abs(y - sy));
            alpha = std::clamp(static_cast<int32_t>(std::nearbyint((1 - dist / len) * alpha)), 0, 255);
          }
          expected.SetPixel(x, y, Over((f & 0xFFFFFF) | (uint32_t(alpha) << 24), c));
        }
    }
    EXPECT_EQ(FloodFill(&b, sx, sy, f, a, t, mode, nullptr), count) << round;
    ASSERT_TRUE(b.Equal(&expected)) << round << " mode " << mode;
  }
}

TEST_F(Tools, PatternFillTilesTheClipboardPicture) {
  TBitmap32 pattern;
  pattern.SetSize(3, 2);
  for (int32_t i = 0; i < 6; ++i) pattern.Bits()[i] = 0xFF000000u | static_cast<TColor32>(i + 1);
  CopyBitmapWithAlpha(board, &pattern);
  view.Bitmap()->SetSize(10, 7);
  view.Bitmap()->Clear(0xFF000000u);
  ed->SetTool(7);
  ui.Gauges[TGauge::Density] = 1;
  for (int32_t mode : {20, 21, 22}) {
    view.Bitmap()->Clear(0xFF000000u);
    Click(mbLeft, ssCtrl, 4, 3);
    EXPECT_EQ(ui.Popups.back(), "PopupMenu3");
    tools->FillAtClick(mode);
    for (int32_t y = 0; y < 7; ++y)
      for (int32_t x = 0; x < 10; ++x) {
        const int32_t px = mode == 20 ? std::abs(x - 4) % 3 : mode == 21 ? x % 3 : (x + 3 - 4 % 3) % 3;
        const int32_t py = mode == 20 ? std::abs(y - 3) % 2 : mode == 21 ? y % 2 : (y + 2 - 3 % 2) % 2;
        ASSERT_EQ(view.Bitmap()->GetPixel(x, y), pattern.GetPixel(px, py)) << mode << " " << x << "," << y;
      }
  }
  // With an empty clipboard there is nothing to fill with: no change, no undo step.
  EmptyClipboard1Click(board);
  view.Bitmap()->Clear(0xFF000000u);
  const int32_t Steps = ed->gImageUndo->UndoCount();
  ui.Status[0].clear();
  tools->FillAtClick(21);
  EXPECT_EQ(ui.Status[0], "");
  EXPECT_EQ(ed->gImageUndo->UndoCount(), Steps);
  EXPECT_TRUE(FillModeApplies(7, 22) && !FillModeApplies(7, 101) && FillModeApplies(8, 3) &&
              !FillModeApplies(8, 20) && FillModeApplies(8, 113));
}

TEST_F(Tools, ReplaceHonoursToleranceAndLuminanceModes) {
  TBitmap32& b = *view.Bitmap();
  b.SetPixel(1, 1, 0xFF818080u);  // distance 1 from the grey
  b.SetPixel(2, 1, 0xFF828180u);  // distance 3
  ed->SetTool(8);
  ui.Gauges[TGauge::Density] = 1;
  ui.Gauges[TGauge::Alpha] = 255;
  Click(mbLeft, 0, 10, 10);
  EXPECT_EQ(b.GetPixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(b.GetPixel(1, 1), 0xFF818080u);  // tolerance 1: only the seed's exact colour
  ui.Gauges[TGauge::Density] = 3;
  ui.Swatches[TSwatch::Background] = b.GetPixel(0, 0) & 0xFFFFFFu;  // the seed's colour, alpha aside
  const auto before = Copy(b);
  Click(mbRight, 0, 0, 0);
  EXPECT_TRUE(b.Equal(before.get()));
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 2);  // only the click's snapshot

  // Keeping the luminance: blended, then scaled back to the old intensity.
  b.Clear(0xFF808080u);
  ui.Swatches[TSwatch::Background] = 0xFFFF0000u;
  ui.Gauges[TGauge::Alpha] = 128;
  tools->FillAtClick(101);  // the last click: (0, 0), right button, red
  const TColor32 blended = BlendPixel(0x80FF0000u, 0xFF808080u);
  const long double k = static_cast<long double>(IntensityOf(0xFF808080u)) / IntensityOf(blended);
  TColor32 model = blended & 0xFF000000u;
  for (int s = 0; s < 24; s += 8)
    model |= static_cast<TColor32>(std::min<long double>(255, std::nearbyintl(((blended >> s) & 255) * k))) << s;
  EXPECT_EQ(b.GetPixel(5, 5), model);
}

TEST_F(Tools, SelectionToolDragsAFrameAndShowsTheColourOfAPlainClick) {
  Drag({{10, 8}, {40, 30}, {25, 20}});
  ASSERT_NE(ed->gSelection.get(), nullptr);
  EXPECT_EQ(ed->gSelection->Location(), MakeFloatRect(10, 8, 25, 20));
  EXPECT_EQ(ui.Status[1], "[10,8,25,20]=(15x12:1.25)");
  // Dragging past the image is clipped to it.
  Drag({{50, 30}, {90, 70}});
  EXPECT_EQ(ed->gSelection->Location(), MakeFloatRect(50, 30, 60, 40));
  // A plain click frees the frame and hints the colour under it, for three moves.
  view.Bitmap()->SetPixel(5, 5, 0xFF12AB3Cu);
  Click(mbLeft, 0, 5, 5);
  EXPECT_EQ(ed->gSelection.get(), nullptr);
  EXPECT_EQ(ui.ViewHint, "#12AB3C");
  view.MouseMove(0, 6, 5);
  view.MouseMove(0, 7, 5);
  EXPECT_EQ(ui.ViewHint, "#12AB3C");
  view.MouseMove(0, 8, 5);
  EXPECT_EQ(ui.ViewHint, "");
  // The read-out: bitmap point and offset from the centre.
  EXPECT_EQ(ui.Status[1], "[8,5] [22,15]");
  // Ctrl picks the rendered colour, layers included, into the button's swatch.
  auto red = Pattern(4, 4, 1);
  red->Clear(0xFFFF0000u);
  NewBitmapLayer(*ed, red.get(), 30, 30, {});
  Click(mbMiddle, ssCtrl, 31, 31);
  EXPECT_EQ(ui.Swatches[TSwatch::Extra], 0xFFFF0000u);
  Click(mbLeft, ssCtrl, 5, 5);
  EXPECT_EQ(tools->gSavedForeground, 0xFF12AB3Cu);
  EXPECT_EQ(ui.Swatches[TSwatch::Foreground], 0xFF12AB3Cu);
  // A plain right click on the frame of a selected layer opens the layer menu.
  SelectLayer(*ed, NewBitmapLayer(*ed, red.get(), 40, 2, {}));
  Click(mbRight, 0, 41, 3);
  EXPECT_EQ(ui.Popups.back(), "PopupMenu1");
  // The dropper shows the colour under the pointer as it moves.
  ed->SetTool(3);
  view.MouseMove(0, 5, 5);
  EXPECT_EQ(ui.Labels["Label3"].first, "#12AB3C");
  // On an empty document a press does nothing.
  view.Bitmap()->SetSize(0, 0);
  ui.Swatches[TSwatch::Foreground] = 0;
  Click(mbLeft, 0, 5, 5);
  EXPECT_EQ(ui.Swatches[TSwatch::Foreground], 0u);
}

TEST_F(Tools, DrawToolFloatsTheShapeAndTextToolTheDialogsPicture) {
  ed->SetTool(6);
  tools->gSnapGrid = 10;
  Click(mbLeft, ssShift, 11, 9);   // snaps to (10, 10)
  Click(mbLeft, ssShift, 31, 12);  // (30, 10)
  Click(mbLeft, ssAlt, 29, 28);    // (30, 30); Alt: the inside only, in the background colour
  TBitmapLayer* layer = dynamic_cast<TBitmapLayer*>(ed->gSelectedLayer.get());
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(ed->gCurrentTool, 1);
  EXPECT_EQ(tools->gDrawPolygon, nullptr);
  const TFloatRect r = layer->Location();
  EXPECT_GE(r.Left, 10);
  EXPECT_LE(r.Right, 31);
  EXPECT_GE(r.Top, 10);
  EXPECT_LE(r.Bottom, 31);
  const TColor32 inside = layer->Bitmap()->GetPixel(layer->Bitmap()->Width() - 2, layer->Bitmap()->Height() / 2);
  EXPECT_EQ(inside & 0xFFFF00u, 0u);
  EXPECT_GT(inside & 0xFFu, 0xF0u);
  EXPECT_EQ(ed->gSelection->LayerOptions(), LOB_VISIBLE | LOB_MOUSE_EVENTS);
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 0);  // the document is untouched

  ed->SetTool(4);
  ui.TextAnswer = [](TTextDialogData& D) {
    D.Text = "Hi";
    D.Rendered->SetSize(7, 5);
    D.Rendered->Clear(D.Foreground);
  };
  tools->gUserText = "old";
  Click(mbLeft, 0, 40, 14);  // beside the drawn layer: a press on it would select it
  ASSERT_EQ(ui.TextAsked.size(), 1u);
  EXPECT_EQ(ui.TextAsked[0].Text, "old");
  EXPECT_EQ(ui.TextAsked[0].Foreground, 0xFFFF0000u);
  EXPECT_EQ(tools->gUserText, "Hi");
  layer = dynamic_cast<TBitmapLayer*>(ed->gSelectedLayer.get());
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->Location(), MakeFloatRect(40, 14, 47, 19));
  EXPECT_EQ(ed->gCurrentTool, 1);
}

TEST_F(Tools, SwatchLabelsAndTheColourDialog) {
  tools->PaintBoxPaint();
  EXPECT_EQ(ui.Labels["Label2"], (std::pair<std::string, std::string>{"#0000FF", "#0000FF"}));
  EXPECT_EQ(ui.Labels["Label3"].first, "#FF0000");
  tools->gBrushType = btClone;
  ui.ColorAnswers.push_back(0xFF0A0B0Cu);
  tools->PaintBox1Click(TSwatch::Foreground);
  EXPECT_EQ(ui.ColorAsked.back(), 0xFFFF0000u);
  EXPECT_EQ(ui.Labels["Label3"].second, "#0A0B0C");
  EXPECT_EQ(tools->gBrushType, btColor);
  tools->gBrushType = btClone;
  tools->PaintBox1Click(TSwatch::Background);  // cancelled: nothing changes
  EXPECT_EQ(tools->gBrushType, btClone);
  EXPECT_EQ(ui.Swatches[TSwatch::Background], 0xFF0000FFu);
}

TEST_F(Tools, RandomStrokesAndFillsStayInBounds) {
  std::mt19937 rng(11);
  view.SetScaleMode(smScale);
  ed->RegisterActionCallback("KernelAction", [](TEditor& E, const TActionArgument&) {
    E.gWork->Clear(0xFF00FF00u);
    return arDone;
  });
  int32_t steps = 0;
  for (int round = 0; round < 60; ++round) {
    const int32_t tool = std::vector<int32_t>{2, 5, 7, 8}[rng() % 4];
    ed->SetTool(tool);
    tools->gBrushType = 1 + static_cast<int32_t>(rng() % 4);
    ui.Gauges[TGauge::Size] = 1 + static_cast<int32_t>(rng() % 12);
    ui.Gauges[TGauge::Density] = static_cast<int32_t>(rng() % 256);
    ui.Gauges[TGauge::Alpha] = static_cast<int32_t>(rng() % 256);
    ui.EffectIndex = 1;
    view.SetScale(rng() % 2 ? 1.0f : 2.0f);
    std::vector<TPoint> path;
    for (int i = 0, n = 1 + static_cast<int>(rng() % 5); i < n; ++i)
      path.push_back({static_cast<int32_t>(rng() % 200) - 40, static_cast<int32_t>(rng() % 140) - 30});
    TPoint start = view.ControlToBitmap(path[0]);
    const bool inside = start.X >= 0 && start.Y >= 0 && start.X < 60 && start.Y < 40;
    if (tool == 7 || tool == 8) tools->gClickPoint = path[0];
    Drag(path, static_cast<TMouseButton>(rng() % 3));
    if (inside && !(tool == 2 && tools->gBrushType == btLocalUndo)) ++steps;
    const bool fills = tool == 7 || tool == 8;
    const int32_t mode = fills ? std::vector<int32_t>{1, 10, 11, 20, 22, 102, 113}[rng() % 7] : 0;
    if (fills) tools->FillAtClick(mode);
    // A pattern fill finds no picture on the empty clipboard.
    if (fills && inside && !(tool == 7 && mode >= 20 && mode <= 22)) ++steps;
    ASSERT_EQ(ed->gImageUndo->UndoCount(), steps) << round;
  }
}
