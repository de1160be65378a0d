// The point corrections through the tools, the scripted window and the
// headless view: reference points with their markers and popup, vignetting
// and the gradient against plain per-pixel models, the barrel correction's
// normaliser and geometry, levelling a marked line, and each correction's
// one undo step, refresh and cleared points.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "editor_test_util.h"
#include "fake_editor_ui.h"
#include "raster_filterindex.h"
#include "view_host.h"
#include "zub_layers.h"
#include "zub_tools.h"

namespace {

class Lens : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset(128, 128, 0xFF646464u);
    ed = std::make_unique<TEditor>(view, ui, 1024);
    ed->gFileName = "doc.png";
    tools = std::make_unique<TMouseTools>(*ed);
    ui.Gauges[TGauge::Alpha] = 128;
    ui.HistogramMade = ui.HistogramShown = true;
  }
  void TearDown() override {
    tools.reset();
    ed.reset();
    view.Layers()->Clear();
  }
  void Reset(int32_t W, int32_t H, TColor32 C) {
    view.Bitmap()->SetSize(W, H);
    view.Bitmap()->Clear(C);
  }
  // A plain right click of the Selection tool: the point the corrections act at.
  void RightClick(int32_t X, int32_t Y) {
    view.MouseDown(mbRight, 0, X, Y);
    view.MouseUp(mbRight, 0, X, Y);
  }
  int32_t Markers() const {
    int32_t n = 0;
    for (int32_t i = 0; i < view.Layers()->Count(); ++i)
      if (dynamic_cast<TRubberbandLayer*>(view.Layers()->Items(i)) != nullptr) ++n;
    return n;
  }

  TFakeEditorUi ui;
  TRecordingViewHost host{300, 200};
  TImage32 view{&host};
  std::unique_ptr<TEditor> ed;
  std::unique_ptr<TMouseTools> tools;
};

int32_t Red(TColor32 C) { return static_cast<int32_t>((C >> 16) & 0xFF); }

}  // namespace

TEST_F(Lens, ReferencePointsMarkersAndPopupState) {
  RightClick(20, 30);
  EXPECT_EQ(ui.Popups.back(), "PopupMenu4");
  EXPECT_EQ(ui.MenuCaption["DefinePoint1"], "&Define P1 from Here");  // the list starts empty
  EXPECT_FALSE(ui.MenuEnabled["ClearPoints1"]);
  EXPECT_FALSE(ui.MenuEnabled["LevelImagefromP1toHere1"]);
  tools->DefinePoint1Click();
  RightClick(500, 30);  // off the bitmap: no point
  tools->DefinePoint1Click();
  tools->PopupMenu4Popup();
  EXPECT_EQ(ui.MenuCaption["DefinePointatCenter1"], "&Define P2 at Center");
  EXPECT_TRUE(ui.MenuEnabled["UndefineLastPoint1"]);
  EXPECT_TRUE(ui.MenuEnabled["LighteningGradientfromP1toHere1"]);
  tools->DefinePointatCenter1Click();
  ASSERT_EQ(tools->gReference.gPoints, (std::vector<TPoint>{{20, 30}, {64, 64}}));
  EXPECT_EQ(Markers(), 2);
  tools->PopupMenu4Popup();
  EXPECT_FALSE(ui.MenuEnabled["StraightenImageFromP1toHere1"]);  // only with exactly one point
  tools->UndefineLastPoint1Click();
  EXPECT_EQ(Markers(), 1);
  // A marker freed behind the list's back (the collection cleared) is skipped.
  tools->DefinePointatCenter1Click();
  view.Layers()->Clear();
  tools->UndefineLastPoint1Click();
  tools->DefinePointatCenter1Click();
  EXPECT_EQ(Markers(), 1);
  EXPECT_EQ(tools->gReference.Count(), 2);
  // Any press but a plain right click clears them.
  view.MouseDown(mbRight, ssCtrl, 5, 5);
  view.MouseUp(mbRight, ssCtrl, 5, 5);
  EXPECT_TRUE(tools->gReference.gPoints.empty());
  EXPECT_EQ(Markers(), 0);
}

TEST_F(Lens, VignettingMatchesThePlainFormulaWithTiesToEven) {
  // What each channel gains; unequal channels show one computed from another.
  auto model = [](int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t r0, long double k) {
    const long double d = std::nearbyintl(std::sqrt(static_cast<long double>((cx - x) * (cx - x) + (cy - y) * (cy - y)))) - r0;
    return d > 0 ? static_cast<int32_t>(std::nearbyintl(d * k)) : 0;
  };
  // Not square: the brightening spreads the gauge over width plus height
  // (128 / 256, a half per pixel); the circle reaches the nearest side, or
  // the farthest for the large axis.
  struct Case {
    TPoint Click;
    int32_t Mode, R0;
  } cases[] = {{{64, 64}, 0, 32}, {{40, 70}, 0, 26}, {{40, 70}, 1, 120}};
  for (const Case& c : cases) {
    Reset(160, 96, 0x803C6496u);
    RightClick(c.Click.X, c.Click.Y);
    if (c.Mode == 0)
      tools->CorrectVignettingfromHere1Click();
    else
      tools->CorrectVignettingfromHerelargeaxis1Click();
    const TBitmap32& b = *view.Bitmap();
    for (int32_t y = 0; y < 96; ++y)
      for (int32_t x = 0; x < 160; ++x) {
        const int32_t a = model(x, y, c.Click.X, c.Click.Y, c.R0, 0.5L);
        ASSERT_EQ(b.GetPixel(x, y), MakeArgb(std::min(255, 60 + a), std::min(255, 100 + a), std::min(255, 150 + a), 128))
            << x << "," << y << " mode " << c.Mode;
      }
  }
  // 5 pixels outside the circle at half a level each: 2.5, rounded to the even 2.
  Reset(128, 128, 0xFF646464u);
  RightClick(64, 64);
  tools->CorrectVignettingfromHere1Click();
  EXPECT_EQ(view.Bitmap()->GetPixel(15, 15), GrayArgb(102));
  EXPECT_EQ(view.Bitmap()->GetPixel(0, 0), GrayArgb(114));  // 91 - 64 = 27: 13.5, up to the even 14
}

TEST_F(Lens, CorrectionIsOneUndoStepWithRefreshAndClearsThePoints) {
  ed->gTiming = true;
  RightClick(10, 64);
  tools->DefinePoint1Click();
  RightClick(50, 64);
  const auto before = Copy(*view.Bitmap());
  const int repaints = ui.HistogramRepaints;
  ed->gLastActionTag = 104;
  tools->LighteningGradientfromP1toHere1Click();
  // P1's side of the vertical line through the click: x < 50, by (50 - x) * 128 / 256.
  for (int32_t x = 0; x < 128; ++x) {
    const int32_t add = x < 50 ? static_cast<int32_t>(std::nearbyint((50 - x) * 0.5)) : 0;
    ASSERT_EQ(view.Bitmap()->GetPixel(x, 20), GrayArgb(100 + add)) << x;
  }
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);
  EXPECT_EQ(ed->gLastActionTag, 0);  // Redo does not repeat a correction
  EXPECT_EQ(ui.HistogramRepaints, repaints + 1);
  EXPECT_EQ(ui.Captions.back(), "Vemra - doc.png* (128x128)[1:1]");
  EXPECT_EQ(ui.Boxes.back().Text, "0 ms");
  EXPECT_EQ(ui.Cursors.back(), crDefault);
  EXPECT_TRUE(tools->gReference.gPoints.empty());
  EXPECT_EQ(Markers(), 0);
  ed->gImageUndo->Undo(view.Bitmap());
  EXPECT_TRUE(view.Bitmap()->Equal(before.get()));
  // A click off the bitmap runs nothing and records nothing.
  RightClick(250, 10);
  tools->CorrectBarrelDistortionfromHere1Click();
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 0);
}

TEST_F(Lens, BarrelNormaliserAndGeometry) {
  EXPECT_EQ(BarrelNorm(100), 71);  // sqrt(2 * 50^2) = 70.7
  EXPECT_EQ(BarrelNorm(101), 71);  // both terms use the width's half
  EXPECT_EQ(BarrelNorm(1), 0);
  // A one-pixel-wide image is left alone.
  Reset(1, 50, 0xFF102030u);
  RightClick(0, 10);
  tools->CorrectBarrelDistortionfromHere1Click();
  EXPECT_EQ(view.Bitmap()->Width(), 1);
  EXPECT_EQ(view.Bitmap()->GetPixel(0, 49), 0xFF102030u);

  // On a ramp whose red is its x, the centre row shows where each pixel was
  // sampled: c.x + (x - c.x) * f with f from the distance to the click.
  for (int32_t mode : {0, 1}) {
    Reset(100, 60, 0);
    for (int32_t y = 0; y < 60; ++y)
      for (int32_t x = 0; x < 100; ++x) view.Bitmap()->SetPixel(x, y, MakeArgb(x * 2, y, 0, 255));
    SetStretchFilter(view.Bitmap(), 5);
    view.Bitmap()->SetOuterColor(0);
    ui.Gauges[TGauge::Alpha] = 20;
    RightClick(50, 30);
    if (mode == 0)
      tools->CorrectBarrelDistortionfromHere1Click();
    else
      tools->CorrectPincushionDistortionfromHere1Click();
    const double a = 20, norm = 71;
    const double ref = mode == 0 ? std::sqrt(50.0 * 50 + 30.0 * 30) / norm : 30 / norm;
    const double k = a * ref / 100;
    for (int32_t x = 0; x < 100; ++x) {
      const double d = std::abs(x - 50) / norm;
      const double f = mode == 0 ? k + 1 - a * d / 100 : a * d / 100 + 1 - k;
      const double sx = 50 + (x - 50) * f;
      const TColor32 p = view.Bitmap()->GetPixel(x, 30);
      if (sx < 0 || sx > 99) {
        EXPECT_EQ(p, 0u) << "outer colour at " << x;
      } else {
        // The processor family's bilinear read truncates each of its three
        // mixes, so it may lie up to two below or above the exact mix.
        EXPECT_NEAR(Red(p), sx * 2, 2.01) << "mode " << mode << " x " << x;
      }
    }
    EXPECT_EQ(StretchFilterIndex(view.Bitmap()->Resampler()), 5);  // the document keeps its resampler
  }
}

TEST_F(Lens, LevelTurnsAMarkedLineHorizontalNeverUpsideDown) {
  // A dark line at about 20 degrees and a red block in the top-left corner.
  auto paint = [this] {
    Reset(200, 150, 0xFFFFFFFFu);
    for (int32_t x = 40; x <= 160; ++x) {
      const int32_t y = 50 + static_cast<int32_t>(std::lround((x - 40) * 0.364));
      view.Bitmap()->FillRectClipped(x, y - 1, x + 1, y + 2, 0xFF000000u);
    }
    view.Bitmap()->FillRectClipped(5, 5, 25, 15, 0xFFFF0000u);
  };
  for (bool fromLeft : {true, false}) {
    paint();
    const TPoint a{40, 50}, b{160, 50 + static_cast<int32_t>(std::lround(120 * 0.364))};
    RightClick(fromLeft ? a.X : b.X, fromLeft ? a.Y : b.Y);
    tools->DefinePoint1Click();
    RightClick(fromLeft ? b.X : a.X, fromLeft ? b.Y : a.Y);
    tools->LevelImagefromP1toHere1Click();
    const TBitmap32& r = *view.Bitmap();
    // Least squares over the dark pixels: the slope is gone.
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, redY = 0, reds = 0;
    for (int32_t y = 0; y < r.Height(); ++y)
      for (int32_t x = 0; x < r.Width(); ++x) {
        const TColor32 p = r.GetPixel(x, y);
        if ((p >> 24) > 200 && Red(p) < 60 && (p & 0xFF) < 60) {
          n += 1, sx += x, sy += y, sxx += double(x) * x, sxy += double(x) * y;
        } else if ((p >> 24) > 200 && Red(p) > 200 && (p & 0xFF) < 60) {
          redY += y, reds += 1;
        }
      }
    ASSERT_GT(n, 200);
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    EXPECT_NEAR(slope, 0, 0.01) << "from the left " << fromLeft;
    ASSERT_GT(reds, 50);
    EXPECT_LT(redY / reds, r.Height() / 2.0) << "upside down when clicked from the right";
    EXPECT_GT(r.Width(), 200);  // the rotated bounding box
  }
  // P1 and the click on one horizontal line: nothing changes, and no undo step.
  paint();
  const auto before = Copy(*view.Bitmap());
  const int32_t steps = ed->gImageUndo->UndoCount();
  RightClick(40, 50);
  tools->DefinePoint1Click();
  RightClick(90, 50);
  tools->LevelImagefromP1toHere1Click();
  EXPECT_TRUE(view.Bitmap()->Equal(before.get()));
  EXPECT_EQ(ed->gImageUndo->UndoCount(), steps);
  // Straighten with P1 and the click on one vertical line: nothing either.
  RightClick(40, 50);
  tools->DefinePoint1Click();
  RightClick(40, 90);
  tools->StraightenImageFromP1toHere1Click();
  EXPECT_TRUE(view.Bitmap()->Equal(before.get()));
  // Straighten a horizontal line: a quarter turn, and the same quarter from
  // either end (the turn is held above -90 and at most 90 degrees), clockwise.
  for (bool fromLeft : {true, false}) {
    paint();
    RightClick(fromLeft ? 40 : 160, 50);
    tools->DefinePoint1Click();
    RightClick(fromLeft ? 160 : 40, 50);
    tools->StraightenImageFromP1toHere1Click();
    const TBitmap32& r = *view.Bitmap();
    ASSERT_EQ(r.Width(), 150);
    ASSERT_EQ(r.Height(), 200);
    double redX = 0, redY = 0, reds = 0;
    for (int32_t y = 0; y < r.Height(); ++y)
      for (int32_t x = 0; x < r.Width(); ++x) {
        const TColor32 p = r.GetPixel(x, y);
        if ((p >> 24) > 200 && Red(p) > 200 && (p & 0xFF) < 60) redX += x, redY += y, reds += 1;
      }
    ASSERT_GT(reds, 150) << "from the left " << fromLeft;
    // A clockwise quarter takes (x, y) to (149 - y, x): the block's centre (14.5, 9.5) to (139.5, 14.5).
    EXPECT_NEAR(redX / reds, 139.5, 0.5) << "from the left " << fromLeft;
    EXPECT_NEAR(redY / reds, 14.5, 0.5) << "from the left " << fromLeft;
  }
}
