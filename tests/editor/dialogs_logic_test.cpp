// The dialogs' logic without their windows: the effect dialog driven through
// the real commands (preview, Proof and the final apply must agree), its
// remembered values, edits and timer; the resize, rotate, matrix and text
// arithmetic; the histogram's counts and curves; the information text.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "editor_test_util.h"
#include "exif_reader.h"
#include "fake_editor_ui.h"
#include "img_effects.h"
#include "platform_clipboard.h"
#include "zub_actions.h"
#include "zub_bcstate.h"
#include "zub_dlgcalc.h"
#include "zub_params.h"

namespace {

TColor32 Rgb(int R, int G, int B) {
  return 0xFF000000u | static_cast<TColor32>(R) << 16 | static_cast<TColor32>(G) << 8 | static_cast<TColor32>(B);
}

class EffectDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClipboard(std::make_unique<TMemoryClipboard>());
    ed = std::make_unique<TEditor>(view, ui, 1024);
    act = std::make_unique<TEditorActions>(*ed);
    ed->gFileName = "photo.png";
    ui.Gauges[TGauge::Alpha] = 255;
    ui.Swatches[TSwatch::Foreground] = 0x00FF8000u;
    ui.Swatches[TSwatch::Background] = 0x00102030u;
  }
  TBitmap32& Doc() { return *view.Bitmap(); }

  TImage32 view;
  TFakeEditorUi ui;
  std::unique_ptr<TEditor> ed;
  std::unique_ptr<TEditorActions> act;
  TBCDlgState state;
};

// Every kind through its command: the preview (the picture is 128 wide, so
// the preview is the picture itself), what Proof puts into the document and
// what OK leaves there are the same pixels.
TEST_F(EffectDialog, PreviewProofAndFinalApplyAgreeForEveryKind) {
  const std::function<void()> open[kParamKindCount + 1] = {
      nullptr,
      [&] { act->BrightnessContrast1Click(); },
      [&] { act->RedGreenBlue1Click(); },
      [&] { ed->DoAction(190); },
      [&] { act->Sobel1Click(); },
      [&] { act->Prewitt1Click(); },
      [&] { act->HueSaturation1Click(); },
      [&] { act->Mosaic1Click(); },
      [&] { act->Gamma1Click(); },
      [&] { act->Spray1Click(); },
      [&] { act->Hole1Click(); },
      [&] { act->Twirl1Click(); },
      [&] { ed->DoAction(-900); },
      [&] { ed->DoAction(191); },
      [&] { act->Quantize1Click(); }};
  // A value inside each kind's first range that changes the picture.
  const int32_t first[kParamKindCount + 1] = {0, 30, 25, 150, 60, 60, 40, 3, 180, 2, 300, 800, 120, 90, 4};
  for (int32_t kind = 1; kind <= kParamKindCount; ++kind) {
    Doc().SetSize(128, 96);
    PaintPattern(Doc(), static_cast<uint32_t>(kind));
    Doc().SetAllAlpha(255);
    TBitmap32 preview, proofed;
    ui.ParamDialogHook = [&](const TParamDialogSetup& Setup, TParamValues& Values) {
      state.Show(Setup, 1000);
      EXPECT_EQ(state.Ratio(), 1) << kind;
      EXPECT_TRUE(state.Before().Equal(&Doc())) << kind;  // a same-size stretch copies
      state.SliderChanged(1, 2, 1100);
      SeedEffectRandom(7);
      state.SliderChanged(0, first[kind], 1200);
      preview.Assign(&state.After());
      SeedEffectRandom(7);
      state.Proof();
      proofed.Assign(&Doc());
      state.RestoreWork();
      state.Close();
      Values = state.Values();
      SeedEffectRandom(7);
      return true;
    };
    auto before = Copy(Doc());
    open[kind]();
    ASSERT_EQ(ui.ParamDialogs.back().Kind, kind);
    EXPECT_FALSE(Doc().Equal(before.get())) << kind;
    EXPECT_TRUE(preview.Equal(&Doc())) << kind;
    EXPECT_TRUE(proofed.Equal(&Doc())) << kind;
  }
}

// Cancel after Proof: the document is as before and no undo step is left;
// the slider's value is remembered for the kind, not for the others.
TEST_F(EffectDialog, CancelAfterProofRestoresAndTheValueIsRememberedPerKind) {
  Doc().SetSize(300, 200);
  PaintPattern(Doc(), 5);
  auto before = Copy(Doc());
  int shown = 0;
  ui.ParamDialogHook = [&](const TParamDialogSetup& Setup, TParamValues&) {
    EXPECT_TRUE(static_cast<bool>(Setup.ShowWork));
    state.Show(Setup, 50);
    state.SliderChanged(0, 30, 60);
    state.Proof();
    shown = ui.HistogramRepaints;
    EXPECT_FALSE(Doc().Equal(before.get()));
    state.RestoreWork();
    state.Close();
    return false;
  };
  ui.HistogramMade = ui.HistogramShown = true;
  act->BrightnessContrast1Click();
  EXPECT_GE(shown, 1);  // Proof refreshed the visible histogram
  EXPECT_TRUE(Doc().Equal(before.get()));
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 0);
  EXPECT_TRUE(state.Saved().Empty());

  // The next dialogs: brightness opens at 30, hue at 0, gamma at its minimum.
  TParamDialogSetup s = ParamDialogSetupFor(1);
  state.Show(s, 1);
  EXPECT_EQ(state.Position(0), 30);
  EXPECT_EQ(state.EditText(0), "30");
  state.Show(ParamDialogSetupFor(6), 1);
  EXPECT_EQ(state.Position(0), 0);
  state.Show(ParamDialogSetupFor(8), 1);
  EXPECT_EQ(state.Position(0), 50);
  EXPECT_EQ(state.EditText(0), "0.5");
  EXPECT_EQ(state.Remembered(0, 8), 0);  // showing clamps, it does not store
  EXPECT_EQ(state.Position(kZoomTag), 10);
  EXPECT_FLOAT_EQ(state.PreviewScale(), 1.0f);
}

// Proof through a selection: the selection's rectangle shows what OK writes
// there, the rest of the picture stays, and Unproof brings it all back.
TEST_F(EffectDialog, ProofInASelectionShowsWhatOkWrites) {
  Doc().SetSize(40, 30);
  PaintPattern(Doc(), 11);
  Doc().SetAllAlpha(255);
  ed->gSelection = AddFrame(view, 5, 4, 25, 20);
  auto before = Copy(Doc());
  TBitmap32 proofed, unproofed;
  ui.ParamDialogHook = [&](const TParamDialogSetup& Setup, TParamValues& Values) {
    state.Show(Setup, 1);
    state.SliderChanged(0, 40, 2);
    state.Proof();
    proofed.Assign(&Doc());
    state.Unproof();
    unproofed.Assign(&Doc());
    state.Proof();
    state.RestoreWork();
    state.Close();
    Values = state.Values();
    return true;
  };
  act->BrightnessContrast1Click();
  EXPECT_TRUE(proofed.Equal(&Doc()));
  EXPECT_TRUE(unproofed.Equal(before.get()));
  EXPECT_FALSE(SameArea(Doc(), *before, TRect{5, 4, 25, 20}));
  EXPECT_TRUE(SameArea(Doc(), *before, TRect{0, 0, 40, 4}));
  EXPECT_TRUE(SameArea(Doc(), *before, TRect{0, 20, 40, 30}));
}

// A 2000-pixel picture previews the mosaic radius divided by the ratio 15.
TEST_F(EffectDialog, PreviewDividesTheRadiusByTheRatio) {
  TBitmap32 work, small;
  work.SetSize(2000, 100);
  small.SetSize(128, 6);
  PaintPattern(small, 9);
  TParamDialogSetup s = ParamDialogSetupFor(7);
  s.Work = &work;
  s.Preview = &small;
  state.Show(s, 1);
  EXPECT_EQ(state.Ratio(), 15);
  state.SliderChanged(0, 45, 2);
  TBitmap32 want;
  TParamValues v = state.Values();
  v.P1 = 3;
  ApplyParamEffect(7, &want, &small, v, 0, 0, 1);
  EXPECT_TRUE(want.Equal(&state.After()));
  EXPECT_EQ(state.Values().P1, 45);  // the command applies the full radius
  state.Close();
}

TEST_F(EffectDialog, EditsSetTheSlidersAndInvalidTextKeepsThem) {
  state.Show(ParamDialogSetupFor(3), 1);
  const struct {
    int32_t Edit;
    const char* Text;
    int32_t Tag, Want;
  } cases[] = {
      {0, "1.25", 0, 125}, {0, "abc", 0, 125}, {0, "1.", 0, 100},  {0, "0,5", 0, 50},   {0, "", 0, 50},
      {0, "-", 0, 50},     {0, "9", 0, 400},   {0, "0.125", 0, 12}, {0, "0.375", 0, 38}, {0, "1e400", 0, 38}, {0, " 2 ", 0, 200},
  };
  for (const auto& c : cases) {
    state.EditChanged(c.Edit, c.Text, 5);
    EXPECT_EQ(state.Position(c.Tag), c.Want) << c.Text;
  }
  EXPECT_EQ(state.EditText(0), "2");
  // An integer kind reads its first edit as an integer; Edit3 drives TrackBar4.
  state.Show(ParamDialogSetupFor(2), 1);
  state.EditChanged(0, "  42", 5);
  state.EditChanged(0, "4.5", 5);
  state.EditChanged(2, "-17", 5);
  EXPECT_EQ(state.Position(0), 42);
  EXPECT_EQ(state.Position(3), -17);
  EXPECT_EQ(state.Remembered(3, 2), -17);
  // Range spacing: a tenth of the span, the arrow step a hundredth of that.
  EXPECT_EQ(BCSliderRange(1, 0).Frequency(), 20);
  EXPECT_EQ(BCSliderRange(1, 0).LineSize(), 1);
  EXPECT_EQ(BCSliderRange(11, 0).Frequency(), 250);
  EXPECT_EQ(BCSliderRange(11, 0).LineSize(), 2);  // 2.5 rounds to even
  EXPECT_FALSE(BCSliderRange(3, 1).Visible);
  EXPECT_EQ(HundredthsText(100), "1");
  state.Close();
}

// Proof clears the pending stamp; a later change is proofed once more than
// 2.9 s old, also across the tick counter's wrap.
TEST_F(EffectDialog, TimerProofsOnlyAPendingChange) {
  TBitmap32 work;
  work.SetSize(40, 30);
  PaintPattern(work, 1);
  int proofs = 0;
  TParamDialogSetup s = ParamDialogSetupFor(1);
  s.Work = &work;
  s.Preview = &work;
  s.ShowWork = [&](const std::function<void(TBitmap32*)>& Render) {
    ++proofs;
    Render(&work);
  };
  state.Show(s, 1000);
  EXPECT_FALSE(state.TimerTick(9000));  // timer off before Proof
  state.Proof();
  EXPECT_EQ(proofs, 1);
  EXPECT_EQ(state.PendingStamp(), 0u);
  EXPECT_FALSE(state.TimerTick(20000));
  const uint32_t t = 0xFFFFF000u;
  state.SliderChanged(0, 10, t);
  EXPECT_FALSE(state.TimerTick(t + 2900));
  EXPECT_TRUE(state.TimerTick(t + 2901));  // wraps past zero
  EXPECT_EQ(proofs, 2);
  EXPECT_FALSE(state.TimerTick(t + 9000));
  state.Unproof();
  EXPECT_EQ(proofs, 3);
  EXPECT_FALSE(state.TimerEnabled());
  state.Close();
}

TEST_F(EffectDialog, DraggingPansAndTheHintNamesThePixel) {
  TBitmap32 small;
  small.SetSize(128, 64);
  small.Clear(Rgb(0x12, 0x34, 0x56));
  small.SetPixel(0, 0, Rgb(0xAB, 0xCD, 0xEF));
  TParamDialogSetup s = ParamDialogSetupFor(1);
  s.Preview = &small;
  state.Show(s, 1);
  EXPECT_EQ(state.OffsetY(), 32);
  EXPECT_EQ(state.HintAt(0, 0, 32), "#ABCDEF");
  EXPECT_EQ(state.HintAt(0, 0, 31), std::nullopt);
  state.MouseDown(10, 10);
  state.MouseMove(15, 7);
  state.MouseUp();
  state.MouseMove(100, 100);  // no button: no pan
  EXPECT_EQ(state.OffsetX(), 5);
  EXPECT_EQ(state.OffsetY(), 29);
  EXPECT_EQ(state.HintAt(0, 5, 29), "#ABCDEF");  // the picture moved with the drag
  state.Close();
}

// ---- Resize, rotate, matrix ---------------------------------------------------------------------

TEST(ResizeCalc, AspectFollowsWithoutFeedingBack) {
  const struct {
    int32_t W, H, TypedW, WantH;
  } cases[] = {{800, 600, 400, 300}, {800, 600, 401, 301}, {800, 600, 1, 1}, {800, 600, 9000, 6144}};
  for (const auto& c : cases) {
    TResizeCalc r;
    r.Show(1, true, c.W, c.H, c.W, c.H);
    r.WidthChanged(c.TypedW);
    EXPECT_EQ(r.Width(), std::min(c.TypedW, 8192));
    EXPECT_EQ(r.Height(), c.WantH) << c.TypedW;
  }
  // 402 gives 301.5: the height follows, and the width stays as typed.
  TResizeCalc r;
  r.Show(1, true, 800, 600, 800, 600);
  r.WidthChanged(402);
  EXPECT_EQ(r.Width(), 402);
  EXPECT_EQ(r.Height(), static_cast<int32_t>(std::nearbyint(402 / (800.0 / 600))));
  r.HeightChanged(300);
  EXPECT_EQ(r.Width(), 400);
  r.SetKeepAspect(false);
  r.HeightChanged(10);
  EXPECT_EQ(r.Width(), 400);
  // A height of 0 keeps the sides equal.
  TResizeCalc z;
  z.Show(1, true, 50, 0, 50, 0);
  EXPECT_EQ(z.Aspect(), 1.0);
  EXPECT_EQ(z.Height(), 50);
}

TEST(ResizeCalc, CanvasOffsetsCentreRoundingDown) {
  const struct {
    int32_t NewW, NewH, WantL, WantT;
  } cases[] = {{800, 600, -100, -100}, {1200, 1000, 100, 100}, {999, 801, -1, 0}, {8192, 8192, 2048, 2048}};
  for (const auto& c : cases) {
    TResizeCalc r;
    r.Show(3, false, 1000, 800, 1000, 800);
    EXPECT_EQ(r.Left(), 0);
    r.WidthChanged(c.NewW);
    r.HeightChanged(c.NewH);
    EXPECT_EQ(r.Left(), c.WantL) << c.NewW;
    EXPECT_EQ(r.Top(), c.WantT) << c.NewH;
  }
}

TEST(RotateText, TenthsAndCodes) {
  const struct {
    const char* Text;
    int32_t Tenths;
  } cases[] = {{"12,5", 125}, {"12.5", 125}, {"12.59", 125}, {"0", 0},   {"360", 3600},
               {"400", 3600}, {"-3", 0},     {"abc", -1},    {"", -1},   {"1,2,3", -1}};
  for (const auto& c : cases) EXPECT_EQ(RotateTenthsFromText(c.Text), c.Tenths) << c.Text;
  EXPECT_EQ(RotateCode(kRotateFree, RotateTenthsFromText("12,5")), 10125);
  EXPECT_EQ(RotateCode(kRotate180, 125), 502);
  EXPECT_EQ(RotateTextFromTenths(125), "12.50");
  EXPECT_EQ(RotateTextFromTenths(3600), "360.00");
}

TEST(MatrixEdits, ThresholdsClampAndTheStartLevelsChangeNothing) {
  TCustomMatrix m;
  EXPECT_EQ(m.Low, 0);
  EXPECT_EQ(m.High, 255);
  EXPECT_EQ(m.LowValue, 0);
  EXPECT_EQ(m.HighValue, 255);
  EXPECT_EQ(MatrixThresholdFromText("300"), 255);
  EXPECT_EQ(MatrixThresholdFromText("-5"), 0);
  EXPECT_EQ(MatrixThresholdFromText("x"), 0);
  EXPECT_EQ(MatrixIntegerFromText("-7"), -7);
  EXPECT_EQ(MatrixIntegerFromText("7x"), 0);
  EXPECT_EQ(MatrixIntegerFromText("99999999999"), 0);
  m.Divisor = 0;
  PrepareMatrixForShow(m);
  EXPECT_EQ(m.Divisor, 1);
  TLastKernel last;
  last.Kernel[12] = 9;
  last.Divisor = 3;
  last.Bias = -4;
  GetLastKernel(m, last);
  EXPECT_EQ(m.Kernel[12], 9);
  EXPECT_EQ(m.Divisor, 3);
  EXPECT_EQ(m.Bias, -4);
}

// ---- Text -----------------------------------------------------------------------------------------

TEST(TextPreview, CropsInclusiveBoundsAndEmptyTextDrawsNothing) {
  TFont f;
  f.Name = "Arial";
  f.Size = 20;
  TBitmap32 out;
  for (const char* blank : {"", "  \n\t\n "}) {
    RenderTextPreview(blank, f, Rgb(0, 0, 0), 0, Rgb(255, 255, 255), out);
    EXPECT_TRUE(out.Empty()) << blank;
  }
  RenderTextPreview("  Hi\n\nyo ", f, Rgb(200, 0, 0), 2, Rgb(255, 255, 255), out);
  ASSERT_FALSE(out.Empty());
  EXPECT_EQ(out.DrawMode(), dmBlend);
  // The drawn pixels sit 4 columns and 2 rows inside the right and bottom
  // edges; the left and top margins are clamped by the drawing position.
  int32_t l = out.Width(), t = out.Height(), r = -1, b = -1;
  for (int32_t y = 0; y < out.Height(); ++y)
    for (int32_t x = 0; x < out.Width(); ++x)
      if (out.GetPixel(x, y) >> 24) l = std::min(l, x), t = std::min(t, y), r = std::max(r, x), b = std::max(b, y);
  EXPECT_LE(l, 4);
  EXPECT_LE(t, 2);
  EXPECT_EQ(out.Width() - 1 - r, 4);
  EXPECT_EQ(out.Height() - 1 - b, 2);
  // Two text lines with an empty one between: taller than one line twice.
  TBitmap32 one;
  RenderTextPreview("Hi", f, Rgb(200, 0, 0), 2, Rgb(255, 255, 255), one);
  EXPECT_GT(out.Height(), 2 * one.Height());
}

// ---- Histogram --------------------------------------------------------------------------------------

TEST(HistogramCount, SingleColourGivesOneSpikePerCurveAndTheMeanBin) {
  std::vector<TColor32> pixels(37 * 11, Rgb(200, 100, 50));
  const THistogramCounts c = CountHistogram(pixels.data(), pixels.size());
  const int32_t y = (200 * 61 + 100 * 174 + 50 * 21) / 256;  // 119
  EXPECT_EQ(c.Count, pixels.size());
  EXPECT_EQ(c.Sum, pixels.size() * static_cast<uint64_t>(y));
  const struct {
    const std::array<uint64_t, 256>* Table;
    int32_t SpikeX;
  } curves[] = {{&c.Red, 205}, {&c.Green, 105}, {&c.Blue, 55}, {&c.Intensity, 124}};
  for (const auto& k : curves) {
    const auto pts = HistogramCurve(*k.Table);
    ASSERT_EQ(pts.size(), 256u);
    for (int32_t i = 0; i < 256; ++i) {
      EXPECT_EQ(pts[static_cast<size_t>(i)].X, i + 5);
      EXPECT_EQ(pts[static_cast<size_t>(i)].Y, i + 5 == k.SpikeX ? 9 : 109) << i;
    }
  }
  EXPECT_EQ(HistogramMeanX(c), 124);
  EXPECT_EQ(HistogramMeanX(CountHistogram(nullptr, 0)), -1);
}

// Counts past 2^32 stay exact and the heights are scaled in 64 bits.
TEST(HistogramCount, CurvesScaleLargeCountsIn64Bits) {
  std::array<uint64_t, 256> t{};
  t[10] = 6000000000ull;
  t[11] = 3000000000ull;
  t[12] = 59999999;
  const auto pts = HistogramCurve(t);
  EXPECT_EQ(pts[10].Y, 9);
  EXPECT_EQ(pts[11].Y, 59);
  EXPECT_EQ(pts[12].Y, 109);  // 0.99... of a step rounds down
  std::array<uint64_t, 256> zero{};
  EXPECT_EQ(HistogramCurve(zero)[0].Y, 109);
}

TEST(InfoText, NoExifMessage) {
  const bool had = gHasExif;
  gHasExif = false;
  EXPECT_EQ(ExifInfoText(), "No EXIF data found on picture file !");
  gHasExif = true;  // a file flagged but with no parsed block says the same
  if (!gExifData) gExifData = std::make_unique<TimgData>();
  gExifData->Clear();
  EXPECT_EQ(ExifInfoText(), "No EXIF data found on picture file !");
  gHasExif = had;
}

}  // namespace
