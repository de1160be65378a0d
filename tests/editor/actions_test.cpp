// The action callbacks through DoAction and the direct menu commands, driven
// through the scripted window: kernels against a plain correlation, colour
// commands against plain per-pixel models or the routine the command must
// call, hints, boxes, undo steps, the buffer, clipboard and transparency
// commands, resize and canvas size, parameter dialogs and encryption.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "editor_test_util.h"
#include "fake_editor_ui.h"
#include "img_clipboard.h"
#include "img_common.h"
#include "img_comp.h"
#include "img_enc.h"
#include "img_lut.h"
#include "img_minmax.h"
#include "img_nr.h"
#include "platform_clipboard.h"
#include "platform_messagebox.h"
#include "platform_stream.h"
#include "raster_parallel.h"
#include "zub_actions.h"
#include "zub_encrypt.h"

namespace {

TColor32 Argb(int A, int R, int G, int B) {
  return static_cast<TColor32>(A) << 24 | static_cast<TColor32>(R) << 16 | static_cast<TColor32>(G) << 8 |
         static_cast<TColor32>(B);
}
int Ch(TColor32 C, int Shift) { return static_cast<int>((C >> Shift) & 0xFF); }

class Actions : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClipboard(std::make_unique<TMemoryClipboard>());
    Doc().SetSize(12, 10);
    PaintPattern(Doc(), 3);
    ed = std::make_unique<TEditor>(view, ui, 1024);
    act = std::make_unique<TEditorActions>(*ed);
    ed->gFileName = "photo.png";
    ui.Gauges[TGauge::Alpha] = 255;
    ui.Swatches[TSwatch::Foreground] = 0x00FF8000u;  // the swatches carry no alpha
    ui.Swatches[TSwatch::Background] = 0x00102030u;
    ui.Swatches[TSwatch::Extra] = 0x00406080u;
  }
  void TearDown() override { SetClipboard(std::make_unique<TMemoryClipboard>()); }
  TBitmap32& Doc() { return *view.Bitmap(); }
  void Fill(int32_t W, int32_t H, TColor32 C) {
    Doc().SetSize(W, H);
    Doc().Clear(C);
  }
  int32_t Undos() const { return ed->gImageUndo->UndoCount(); }

  TFakeEditorUi ui;
  TImage32 view;
  std::unique_ptr<TEditor> ed;
  std::unique_ptr<TEditorActions> act;
};

// ---- Kernels ------------------------------------------------------------------------

// A kernel as the menu's table writes it: rows top to bottom separated by "/".
std::vector<int32_t> ParseKernel(const std::string& Text) {
  std::vector<int32_t> k;
  std::istringstream in(Text);
  std::string tok;
  while (in >> tok)
    if (tok != "/") k.push_back(std::stoi(tok));
  return k;
}

// Plain correlation: entry (i, j) weighs the pixel at (x + i - n/2, y + j - n/2),
// edges repeated, 64-bit sum, truncating division, bias, clamp; alpha kept.
void Reference(TBitmap32& B, const std::vector<int32_t>& K, int32_t Div, int32_t Bias) {
  const int n = K.size() == 9 ? 3 : 5, h = n / 2;
  auto src = Copy(B);
  for (int y = 0; y < B.Height(); ++y)
    for (int x = 0; x < B.Width(); ++x) {
      TColor32 out = src->GetPixel(x, y) & 0xFF000000u;
      for (int s = 0; s < 24; s += 8) {
        int64_t sum = 0;
        for (int j = 0; j < n; ++j)
          for (int i = 0; i < n; ++i) {
            const int sx = std::clamp(x + i - h, 0, B.Width() - 1), sy = std::clamp(y + j - h, 0, B.Height() - 1);
            sum += int64_t{K[static_cast<size_t>(j * n + i)]} * Ch(src->GetPixel(sx, sy), s);
          }
        const int64_t v = std::clamp<int64_t>(sum / Div + Bias, 0, 255);
        out |= static_cast<TColor32>(v) << s;
      }
      B.SetPixel(x, y, out);
    }
}

struct KernelCase {
  int32_t Tag;
  int32_t Divisor, Bias;
  const char* Kernel;
};

const KernelCase kKernelCases[] = {
    {100, 12, 0, "1 1 1 / 1 4 1 / 1 1 1"},
    {101, 10, 0, "1 1 1 / 1 2 1 / 1 1 1"},
    {102, 16, 0, "1 2 1 / 2 4 2 / 1 2 1"},
    {103, 3, 0, "0 0 0 / 1 1 1 / 0 0 0"},
    {104, 16, 0, "2 2 2 / 2 0 2 / 2 2 2"},
    {105, 25, 0, "1 1 1 1 1 / 1 1 1 1 1 / 1 1 1 1 1 / 1 1 1 1 1 / 1 1 1 1 1"},
    {107, 2712, 0,
     "20 -80 -113 -80 20 / -80 319 452 319 -80 / -113 452 640 452 -113 / -80 319 452 319 -80 / 20 -80 -113 -80 20"},
    {200, 1, 0, "0 -1 0 / -1 5 -1 / 0 -1 0"},
    {201, 1, 0, "-1 -1 -1 / -1 9 -1 / -1 -1 -1"},
    {203, 1, 0, "-1 1 1 / -1 -2 1 / -1 1 1"},
    {204, 1, 0, "1 1 1 / 1 -2 1 / -1 -1 -1"},
    {205, 1, 0, "1 0 -1 / 1 0 -1 / 1 0 -1"},
    {206, 1, 0, "-1 -1 -1 / 0 0 0 / 1 1 1"},
    {207, 1, 0, "1 0 -1 / 2 0 -2 / 1 0 -1"},
    {208, 1, 0, "1 2 1 / 0 0 0 / -1 -2 -1"},
    {210, 6, 0, "-6 0 0 0 0 / 0 -7 0 0 0 / 0 0 6 0 0 / 0 0 0 7 0 / 0 0 0 0 6"},
    {211, 1, 0, "-6 0 0 0 0 / 0 -7 0 0 0 / 0 0 1 0 0 / 0 0 0 7 0 / 0 0 0 0 6"},
    {221, 1, 0, "0 -1 0 / -1 4 -1 / 0 -1 0"},
    {222, 1, 0, "1 -2 1 / -2 4 -2 / 1 -2 1"},
    {231, 8, 0, "1 2 2 2 1 / 2 0 0 0 2 / 2 0 -20 0 2 / 2 0 0 0 2 / 1 2 2 2 1"},
    {232, 1, 0, "0 -4 -9 -4 0 / -4 -24 -1 -24 -4 / -9 -1 168 -1 -9 / -4 -24 -1 -24 -4 / 0 -4 -9 -4 0"},
    {300, 8, 0, "0 -1 0 / -1 12 -1 / 0 -1 0"},
    {301, 1, 0, "1 -2 1 / -2 5 -2 / 1 -2 1"},
    {311, 1, 127, "-1 -1 -1 / -1 8 -1 / -1 -1 -1"},
    {312, 1, 127, "-1 -1 -1 / -1 8 -1 / -1 -1 -1"},
};

// Flat, impulse and patterned images, each with varied alpha.
std::vector<std::unique_ptr<TBitmap32>> KernelInputs() {
  std::vector<std::unique_ptr<TBitmap32>> v;
  auto flat = Pattern(9, 7, 1);
  for (size_t i = 0; i < flat->PixelCount(); ++i) flat->Bits()[i] = (flat->Bits()[i] & 0xFF000000u) | 0x00B4643Cu;
  v.push_back(std::move(flat));
  auto impulse = Pattern(9, 7, 2);
  for (size_t i = 0; i < impulse->PixelCount(); ++i) impulse->Bits()[i] &= 0xFF000000u;
  impulse->SetPixel(3, 3, (impulse->GetPixel(3, 3) & 0xFF000000u) | 0x00C86432u);
  v.push_back(std::move(impulse));
  v.push_back(Pattern(11, 8, 3));
  return v;
}

TEST_F(Actions, KernelTableMatchesPlainCorrelation) {
  for (const KernelCase& c : kKernelCases) {
    const std::vector<int32_t> k = ParseKernel(c.Kernel);
    ASSERT_TRUE(k.size() == 9 || k.size() == 25) << c.Tag;
    int input = 0;
    for (auto& in : KernelInputs()) {
      SCOPED_TRACE(testing::Message() << "tag " << c.Tag << " input " << input++);
      Doc().Assign(in.get());
      auto want = Copy(*in);
      for (int pass = 0; pass < (c.Tag == 103 ? 6 : 1); ++pass) Reference(*want, k, c.Divisor, c.Bias);
      if (c.Tag == 312)
        for (size_t i = 0; i < want->PixelCount(); ++i) {
          TColor32& p = want->Bits()[i];
          const TColor32 v = static_cast<TColor32>(std::min(255, std::abs(Ch(p, 0) - 127) * 2));
          p = (p & 0xFF000000u) | v << 16 | v << 8 | v;
        }
      ed->MenuActionClick(c.Tag);
      EXPECT_TRUE(Doc().Equal(want.get()));
      EXPECT_EQ(ed->gLastActionTag, c.Tag);
    }
    // The kernel is "last executed" (a 3 x 3 one in the middle of the 5 x 5);
    // the user's custom matrix stays as it was.
    std::vector<int32_t> five(25, 0);
    for (size_t i = 0; i < k.size(); ++i)
      five[k.size() == 25 ? i : (i / 3 + 1) * 5 + i % 3 + 1] = k[i];
    EXPECT_EQ(std::vector<int32_t>(act->LastKernel.Kernel.begin(), act->LastKernel.Kernel.end()), five) << c.Tag;
    EXPECT_EQ(act->LastKernel.Divisor, c.Divisor);
    EXPECT_EQ(act->LastKernel.Bias, c.Bias);
    EXPECT_EQ(act->CustomMatrix.Divisor, 1);
    EXPECT_EQ(act->CustomMatrix.Kernel, (std::array<int32_t, 25>{}));
  }
}

TEST_F(Actions, CustomMatrixAndItsLevelsStep) {
  auto in = Pattern(10, 8, 9);
  const std::vector<int32_t> k = ParseKernel("0 0 0 0 0 / 0 0 1 0 0 / 0 1 2 -1 0 / 0 0 0 0 0 / 1 0 0 0 0");
  std::copy(k.begin(), k.end(), act->CustomMatrix.Kernel.begin());
  act->CustomMatrix.Divisor = 3;
  act->CustomMatrix.Bias = 5;
  Doc().Assign(in.get());
  ed->DoAction(399);
  auto want = Copy(*in);
  Reference(*want, k, 3, 5);
  EXPECT_TRUE(Doc().Equal(want.get()));
  EXPECT_EQ(act->LastKernel.Divisor, 3);

  // Divisor 0: no convolution, but the levels step runs; a high threshold
  // below the low one is raised to it.
  act->LastKernel = {};
  act->CustomMatrix.Divisor = 0;
  act->CustomMatrix.Low = 100, act->CustomMatrix.LowValue = 7;
  act->CustomMatrix.High = 60, act->CustomMatrix.HighValue = 250;
  Doc().Assign(in.get());
  ed->DoAction(399);
  EXPECT_EQ(act->CustomMatrix.High, 100);
  EXPECT_EQ(act->LastKernel.Divisor, 1);  // nothing was executed
  for (size_t i = 0; i < in->PixelCount(); ++i) {
    const TColor32 s = in->Bits()[i], d = Doc().Bits()[i];
    for (int sh = 0; sh < 24; sh += 8) ASSERT_EQ(Ch(d, sh), Ch(s, sh) <= 100 ? 7 : 250) << i;
    ASSERT_EQ(d >> 24, s >> 24);
  }
}

// ---- Colour and geometry commands -----------------------------------------------------------

struct ColourCase {
  int32_t Tag;
  const char* Hint;  // "" for none
  std::function<void(TBitmap32&, TFakeEditorUi&)> Want;
};

// A per-pixel model on R, G, B (alpha kept).
std::function<void(TBitmap32&, TFakeEditorUi&)> PerPixel(std::function<TColor32(TColor32)> F) {
  return [F](TBitmap32& B, TFakeEditorUi&) {
    for (size_t i = 0; i < B.PixelCount(); ++i) B.Bits()[i] = F(B.Bits()[i]);
  };
}
TColor32 Grey(TColor32 C, int V) { return (C & 0xFF000000u) | static_cast<TColor32>(V) * 0x010101u; }
std::function<void(TBitmap32&, TFakeEditorUi&)> Keep(TColor32 Mask) {
  return PerPixel([Mask](TColor32 C) { return (C & 0xFF000000u) | (C & Mask); });
}
std::function<void(TBitmap32&, TFakeEditorUi&)> ToGrey(int Shift) {
  return PerPixel([Shift](TColor32 C) { return Grey(C, Ch(C, Shift)); });
}
// The red plane read from (x + Rdx, y + Rdy) and the blue from (x + Bdx,
// y + Bdy), the outer colour past the edge; green kept, alpha made opaque.
std::function<void(TBitmap32&, TFakeEditorUi&)> Shifted(int Rdx, int Rdy, int Bdx, int Bdy) {
  return [=](TBitmap32& B, TFakeEditorUi&) {
    auto s = Copy(B);
    auto at = [&](int x, int y) {
      return x >= 0 && y >= 0 && x < s->Width() && y < s->Height() ? s->GetPixel(x, y) : s->OuterColor();
    };
    for (int y = 0; y < B.Height(); ++y)
      for (int x = 0; x < B.Width(); ++x)
        B.SetPixel(x, y, 0xFF000000u | (s->GetPixel(x, y) & 0xFF00u) | (at(x + Rdx, y + Rdy) & 0xFF0000u) |
                             (at(x + Bdx, y + Bdy) & 0xFFu));
  };
}

std::function<void(TBitmap32&, TFakeEditorUi&)> Same() {
  return [](TBitmap32&, TFakeEditorUi&) {};
}

TEST_F(Actions, ColourAndGeometryCommandsOnTheWholeImage) {
  const int L = 200;  // the alpha gauge
  const char* kShiftHint = "Color Shift Image is not affected by selected alpha !";
  const std::vector<ColourCase> cases = {
      {-721, "", Keep(0xFF0000)},
      {-722, "", Keep(0x00FF00)},
      {-723, "", Keep(0x0000FF)},
      {-716, "", Keep(0x0000FF)},  // -720..-714 keep blue
      {-711, "", ToGrey(16)},
      {-712, "", ToGrey(8)},
      {-713, "", ToGrey(0)},
      {400, "", PerPixel([](TColor32 C) { return C ^ 0x00FFFFFFu; })},
      {841, "", PerPixel([](TColor32 C) { return Argb(C >> 24, Ch(C, 8), Ch(C, 0), Ch(C, 16)); })},
      {401, "", [](TBitmap32& B, TFakeEditorUi&) {
         auto s = Copy(B);
         for (int y = 0; y < B.Height(); ++y)
           for (int x = 0; x < B.Width(); ++x) B.SetPixel(x, y, s->GetPixel(x, B.Height() - 1 - y));
       }},
      {402, "", [](TBitmap32& B, TFakeEditorUi&) {
         auto s = Copy(B);
         for (int y = 0; y < B.Height(); ++y)
           for (int x = 0; x < B.Width(); ++x) B.SetPixel(x, y, s->GetPixel(B.Width() - 1 - x, y));
       }},
      {501, "", [](TBitmap32& B, TFakeEditorUi&) {  // clockwise: the left column becomes the top row
         auto s = Copy(B);
         B.SetSize(s->Height(), s->Width());
         for (int y = 0; y < B.Height(); ++y)
           for (int x = 0; x < B.Width(); ++x) B.SetPixel(x, y, s->GetPixel(y, s->Height() - 1 - x));
       }},
      {117, "", Same()},
      {120, "", Same()},
      {-602, "", Same()},
      {-700, "GreyScale is affected by selected alpha !", [L](TBitmap32& B, TFakeEditorUi&) { Greyscale(&B, L); }},
      {851, "Tint Colors is affected by selected alpha !",
       [L](TBitmap32& B, TFakeEditorUi&) { TintColors(&B, 0xFFFF8000u, L); }},
      {852, "Tint Colors is affected by selected alpha !",
       [L](TBitmap32& B, TFakeEditorUi&) { TintColors(&B, 0xFF406080u, L); }},
      {853, "Tint Colors is affected by selected alpha !",
       [L](TBitmap32& B, TFakeEditorUi&) { TintColors(&B, 0xFF102030u, L); }},
      {861, "Brightness Lighten/Darken Colors is affected by selected alpha !",
       [L](TBitmap32& B, TFakeEditorUi&) { AddBrightness(&B, 8, L); }},
      {862, "Brightness Lighten/Darken Colors is affected by selected alpha !",
       [L](TBitmap32& B, TFakeEditorUi&) { AddBrightness(&B, -8, L); }},
      {863, "Contrast Lighten/Darken Colors is affected by selected alpha !",
       [L](TBitmap32& B, TFakeEditorUi&) { ScaleBrightness(&B, 8, L); }},
      {864, "Contrast Lighten/Darken Colors is affected by selected alpha !",
       [L](TBitmap32& B, TFakeEditorUi&) { ScaleBrightness(&B, -8, L); }},
      {865, "Gamma Lighten/Darken Colors is affected by selected alpha !",
       [L](TBitmap32& B, TFakeEditorUi&) { GammaCorrect(&B, L, 1.5); }},
      {866, "Gamma Lighten/Darken Colors is affected by selected alpha !",
       [L](TBitmap32& B, TFakeEditorUi&) { GammaCorrect(&B, L, 0.6666); }},
      {867, "Colors Sin Contrast is affected by selected alpha !",
       [L](TBitmap32& B, TFakeEditorUi&) { SineContrast(&B, 1, L); }},
      {868, "Colors Sin Contrast is affected by selected alpha !",
       [L](TBitmap32& B, TFakeEditorUi&) { SineContrast(&B, -1, L); }},
      {921, kShiftHint, Shifted(0, -1, 0, 0)},
      {922, kShiftHint, Shifted(0, 1, 0, 0)},
      {923, kShiftHint, Shifted(-1, 0, 0, 0)},
      {924, kShiftHint, Shifted(1, 0, 0, 0)},
      {925, kShiftHint, Shifted(0, 0, 0, -1)},
      {926, kShiftHint, Shifted(0, 0, 0, 1)},
      {927, kShiftHint, Shifted(0, 0, -1, 0)},
      {928, kShiftHint, Shifted(0, 0, 1, 0)},
      {941, "Noise Reduction is affected by selected alpha !",
       [L](TBitmap32& B, TFakeEditorUi&) { ReduceNoise(&B, L); }},
      {873, "Sort Image is not affected by selected alpha !",
       [](TBitmap32& B, TFakeEditorUi&) {  // key 3: blue, ascending; only the keys' order is fixed
         std::vector<TColor32> keys;
         for (size_t i = 0; i < B.PixelCount(); ++i) keys.push_back(B.Bits()[i] & 0xFF);
         std::sort(keys.begin(), keys.end());
         std::copy(keys.begin(), keys.end(), B.Bits());
       }},
  };
  for (const ColourCase& c : cases) {
    SCOPED_TRACE(c.Tag);
    ui.Gauges[TGauge::Alpha] = L;
    ui.Status.clear();
    Doc().SetSize(12, 10);
    PaintPattern(Doc(), static_cast<uint32_t>(c.Tag));
    auto want = Copy(Doc());
    c.Want(*want, ui);
    const int32_t undos = Undos();
    ed->MenuActionClick(c.Tag);
    if (c.Tag == 873) {
      for (size_t i = 0; i < want->PixelCount(); ++i) ASSERT_EQ(Ch(Doc().Bits()[i], 0), Ch(want->Bits()[i], 0)) << i;
    } else {
      EXPECT_TRUE(Doc().Equal(want.get()));
    }
    EXPECT_EQ(Undos(), undos + 1);
    if (*c.Hint)
      EXPECT_EQ(ui.Status[0], c.Hint);
    else
      EXPECT_EQ(ui.Status.count(0), 0u);
  }
}

// ---- Stretch, compress, white balance -------------------------------------------------------------

TEST_F(Actions, StretchTablesAndTheImpossibleStretch) {
  // One colour: nothing to stretch, for every variant, no undo step, and no
  // box during a retouch stroke.
  for (int32_t tag : {801, 802, 803, 804}) {
    Fill(6, 5, 0xFF404040u);
    ui.Boxes.clear();
    ed->DoAction(tag);
    ASSERT_EQ(ui.Boxes.size(), 1u) << tag;
    EXPECT_EQ(ui.Boxes[0].Text, "stretch impossible !");
    EXPECT_EQ(ui.Boxes[0].Flags, 64u);
    EXPECT_EQ(Doc().GetPixel(0, 0), 0xFF404040u);
    EXPECT_FALSE(ed->gImageUndo->HasUndo()) << tag;
    ui.Boxes.clear();
    ed->DoRetouchAction(tag);
    EXPECT_TRUE(ui.Boxes.empty()) << tag;
  }
  // A grey ramp 50..56 stretched linearly: 50 -> 0 and 56 -> 255 exactly
  // (255 / 7 as a float factor would give 254 at the top).
  ed->gImageUndo->Clear();
  Doc().SetSize(7, 1);
  for (int x = 0; x < 7; ++x) Doc().SetPixel(x, 0, Argb(255, 50 + x, 50 + x, 50 + x));
  ed->DoAction(801);
  for (int x = 0; x < 7; ++x) EXPECT_EQ(Doc().GetPixel(x, 0), Argb(255, x * 255 / 6, x * 255 / 6, x * 255 / 6)) << x;
  EXPECT_EQ(ui.Status[0], "Stretch Color/Luminance is affected by selected alpha !");
  for (int x = 0; x < 7; ++x) Doc().SetPixel(x, 0, Argb(255, 40 + 2 * x, 41 + 2 * x, 42 + 2 * x));
  ed->DoAction(803);  // channels 40..54
  for (int x = 0; x < 7; ++x) EXPECT_EQ(Ch(Doc().GetPixel(x, 0), 16), (2 * x) * 255 / 14) << x;
  // The More variant follows the sine curve of the plain formula.
  for (int x = 0; x < 7; ++x) Doc().SetPixel(x, 0, Argb(255, 50 + x, 50 + x, 50 + x));
  ed->DoAction(802);
  for (int x = 0; x < 7; ++x) {
    const float xf = static_cast<float>(x * (255.0L / 6));
    const long double y = (xf - 128.0L) * (3.141592653589793238L / 2) / 128;
    const int want = std::clamp(static_cast<int>(std::sin(y) * 127 + 128), 0, 255);
    EXPECT_EQ(Ch(Doc().GetPixel(x, 0), 8), want) << x;
  }
}

TEST_F(Actions, CompressAroundTheMeanIntensity) {
  Doc().SetSize(4, 1);
  const int g[4] = {10, 20, 200, 250};  // intensity of a grey is the grey: mean 120
  for (int x = 0; x < 4; ++x) Doc().SetPixel(x, 0, Argb(9, g[x], g[x], g[x]));
  ed->DoAction(811);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(Doc().GetPixel(x, 0), Argb(9, 0, 0, 0) | Grey(0, 120 + (g[x] - 120) / 2)) << x;
  EXPECT_EQ(ui.Status[0], "Compress Luminance is affected by selected alpha !");
  // An empty picture: nothing to average, nothing happens.
  Doc().SetSize(0, 0);
  ed->DoAction(811);
  EXPECT_TRUE(Doc().Empty());
}

TEST_F(Actions, WhiteBalanceMeasuresTheSelectionAndCorrectsTheWholeImage) {
  Fill(16, 16, Argb(255, 100, 100, 100));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) Doc().SetPixel(x, y, Argb(255, 60, 120, 90));  // means 60, 120, 90 -> a = 90
  ed->gSelection = AddFrame(view, 0, 0, 8, 8);
  auto want = Copy(Doc());
  ScaleChannels(want.get(), 90.0f / 60, 90.0f / 120, 90.0f / 90, 255);
  ed->DoAction(821);
  EXPECT_TRUE(Doc().Equal(want.get()));
  EXPECT_NE(Doc().GetPixel(12, 12), Argb(255, 100, 100, 100));  // outside the selection too
  EXPECT_EQ(ui.Status[0], "WhiteBalance is affected by selected alpha !");
  ed->gSelection = nullptr;

  // White patch on a picture under 8 pixels high measures nothing.
  Fill(40, 7, Argb(255, 50, 100, 150));
  ed->DoAction(822);
  EXPECT_EQ(Doc().GetPixel(3, 3), Argb(255, 50, 100, 150));
  EXPECT_TRUE(ui.Boxes.empty());

  // Already white: the box, and the snapshot back (no undo step).
  Fill(16, 16, Argb(255, 252, 253, 251));
  const int32_t undos = Undos();
  ed->DoAction(822);
  ASSERT_EQ(ui.Boxes.size(), 1u);
  EXPECT_EQ(ui.Boxes[0].Text, "operation canceled: white patch already white !");
  EXPECT_EQ(ui.Boxes[0].Flags, 48u);
  EXPECT_EQ(Undos(), undos);
  EXPECT_FALSE(ed->gImageUndo->CanRedo());
}

// ---- Colour depth ----------------------------------------------------------------------------

TEST_F(Actions, DecreaseColorsGivesOpaquePaletteColours) {
  struct Case {
    int32_t Tag;
    TColor32 In, Out;
  } cases[] = {
      {-601, Argb(9, 127, 128, 127), Argb(255, 0, 0, 0)},       // sum 382: black
      {-601, Argb(9, 127, 128, 128), Argb(255, 255, 255, 255)},  // sum 383: white
      {-604, Argb(9, 200, 10, 20), Argb(255, 255, 0, 0)},
      {-604, Argb(9, 150, 150, 150), Argb(255, 128, 128, 128)},
      {-608, Argb(9, 20, 30, 200), Argb(255, 0, 51, 204)},
      {-608, Argb(9, 60, 62, 61), Argb(255, 62, 62, 62)},  // the grey ramp's 62 beats the cube's 51
      {-615, Argb(9, 0xFF, 0x87, 0x0F), Argb(255, 0xF8, 0x80, 0x08)},
      {-616, Argb(9, 0xFF, 0x87, 0x0F), Argb(255, 0xF8, 0x84, 0x08)},
      {-610, Argb(9, 1, 2, 3), Argb(9, 1, 2, 3)},
  };
  for (const Case& c : cases) {
    Fill(3, 2, c.In);
    ed->DoAction(c.Tag);
    EXPECT_EQ(Doc().GetPixel(2, 1), c.Out) << c.Tag;
  }
}

// ---- Parameter dialogs --------------------------------------------------------------------

TEST_F(Actions, ParameterDialogsCancelOrApplyWithTheSliderMapping) {
  Fill(300, 150, Argb(77, 100, 100, 100));
  // Cancel: no change, no undo step, the dialog set up as the kind says.
  ed->DoAction(190);
  ASSERT_EQ(ui.ParamDialogs.size(), 1u);
  EXPECT_EQ(ui.ParamDialogs[0].Kind, 3);
  EXPECT_EQ(ui.ParamDialogs[0].Caption, "Unsharp Mask (Gauss)");
  EXPECT_EQ(ui.ParamDialogs[0].Label1, "Strength:");
  EXPECT_EQ(ui.ParamDialogs[0].Label2, "None:");
  EXPECT_EQ(ui.ParamPreviewSizes[0], std::make_pair(128, 64));
  EXPECT_EQ(Undos(), 0);
  EXPECT_EQ(Doc().GetPixel(0, 0), Argb(77, 100, 100, 100));

  // Red / green / blue follow the labels: sliders 1, 2 and 3 (TrackBar4).
  TParamValues v;
  v.P1 = 10, v.P2 = 20, v.P4 = 30;
  ui.ParamAnswers.push_back(v);
  act->RedGreenBlue1Click();
  EXPECT_EQ(ui.ParamDialogs.back().Caption, "Red/Green/Blue");
  EXPECT_EQ(ui.ParamDialogs.back().Label4, "Blue:");
  EXPECT_EQ(Ch(Doc().GetPixel(5, 5), 16), 110);
  EXPECT_EQ(Ch(Doc().GetPixel(5, 5), 8), 120);
  EXPECT_EQ(Ch(Doc().GetPixel(5, 5), 0), 130);
  EXPECT_EQ(Undos(), 1);

  // A tall picture gives a tall preview; the hue dialog shows the channel group.
  Fill(30, 90, Argb(255, 1, 2, 3));
  ed->gCurrentTool = 5;
  act->HueSaturation1Click();
  EXPECT_EQ(ed->gCurrentTool, 1);
  EXPECT_EQ(ui.ParamPreviewSizes.back(), std::make_pair(42, 128));
  EXPECT_TRUE(ui.ParamDialogs.back().ChannelsVisible);
  EXPECT_EQ(ui.ParamDialogs.back().Label2, "Saturation:");

  // The command gives the same result as the shared routine the preview runs.
  const struct {
    std::function<void()> Click;
    int32_t Kind;
  } kinds[] = {{[&] { act->BrightnessContrast1Click(); }, 1}, {[&] { act->Gamma1Click(); }, 8},
               {[&] { act->Quantize1Click(); }, 14},          {[&] { act->Mosaic1Click(); }, 7},
               {[&] { act->Sobel1Click(); }, 4},               {[&] { act->Hole1Click(); }, 10}};
  for (const auto& k : kinds) {
    Doc().SetSize(20, 16);
    PaintPattern(Doc(), static_cast<uint32_t>(k.Kind));
    auto want = Copy(Doc());
    TParamValues p;
    p.P1 = 150, p.P2 = 3, p.Green = false;
    ApplyParamEffect(k.Kind, want.get(), want.get(), p, 0xFFFF8000u, 0xFF102030u);
    ui.ParamAnswers.push_back(p);
    k.Click();
    EXPECT_EQ(ui.ParamDialogs.back().Kind, k.Kind);
    EXPECT_TRUE(Doc().Equal(want.get())) << k.Kind;
  }
}

// ---- Direct commands: buffer, clipboard, undo steps -------------------------------------------

TEST_F(Actions, BufferAndClipboardCommandsAndTheirUndoSteps) {
  auto original = Copy(Doc());
  // Get from an empty buffer is no command; Copy, Put to Buffer and Copy
  // Transparency record no undo step.
  int deselected = 0;
  act->DeselectLayer = [&] { ++deselected; };
  act->GetfromBuffer1Click();
  EXPECT_EQ(deselected, 0);
  act->Copy1Click();
  act->PuttoBuffer1Click();
  EXPECT_EQ(Undos(), 0);
  EXPECT_TRUE(ed->gBuffer->Equal(original.get()));
  act->GetfromBuffer1Click();
  EXPECT_EQ(Undos(), 1);
  EXPECT_EQ(deselected, 1);
  ed->gImageUndo->Clear();
  TBitmap32 pasted;
  ASSERT_TRUE(PasteBitmapWithAlpha(&pasted));
  EXPECT_TRUE(pasted.Equal(original.get()));  // alpha included

  // Cut: the picture on the clipboard, the selection cleared to the background colour.
  ed->gSelection = AddFrame(view, 2, 2, 6, 5);
  act->Cut1Click();
  EXPECT_EQ(Undos(), 1);
  EXPECT_EQ(Doc().GetPixel(3, 3), 0xFF102030u);
  EXPECT_EQ(Doc().GetPixel(7, 3), original->GetPixel(7, 3));
  ASSERT_TRUE(Clipboard().HasPicture());
  EXPECT_EQ(Clipboard().GetPicture()->Width(), 4);

  // Crop: the selection's size, the frees routine called.
  int freed = 0;
  act->FreeSelection = [&] { ++freed, ed->gSelection = nullptr; };
  act->CroptoSelection1Click();
  EXPECT_EQ(freed, 1);
  EXPECT_EQ(Doc().Width(), 4);
  EXPECT_EQ(Doc().Height(), 3);
  EXPECT_EQ(Undos(), 2);

  // Exchange with the buffer, then merge it at the gauge's level.
  auto cropped = Copy(Doc()), other = Pattern(4, 3, 21);
  CopyBitmap(ed->gBuffer.get(), other.get(), true);
  act->ExchangewithBuffer1Click();
  EXPECT_TRUE(Doc().Equal(other.get()));
  EXPECT_TRUE(ed->gBuffer->Equal(cropped.get()));
  ed->gImageUndo->Clear();
  Doc().Assign(original.get());
  ed->gBuffer->SetSize(12, 10);
  ed->gBuffer->Clear(0xFF000000u);
  ui.Gauges[TGauge::Alpha] = 0;
  act->MergefromBuffer1Click();
  EXPECT_TRUE(Doc().Equal(original.get()));  // level 0 changes nothing
  EXPECT_EQ(Undos(), 1);
  ui.Gauges[TGauge::Alpha] = 255;
  act->MergefromBuffer1Click();
  EXPECT_EQ(Doc().GetPixel(5, 5) & 0x00FFFFFFu, 0u);
  Doc().Assign(original.get());

  // Merge from File: the document's own file over the picture at the gauge's level.
  {
    const std::string name = ::testing::TempDir() + "vemra_actions_merge.bmp";
    auto file = Pattern(12, 10, 31);
    file->SetAllAlpha(255);
    {
      TFileStream out(name, TFileMode::fmCreate);
      file->SaveToStream(out);
    }
    ed->gFileName = name;
    ui.Gauges[TGauge::Alpha] = 0;
    act->MergefromFile1Click();
    EXPECT_TRUE(Doc().Equal(original.get()));  // level 0 changes nothing here either
    ui.Gauges[TGauge::Alpha] = 255;
    act->MergefromFile1Click();
    EXPECT_TRUE(SameArea(Doc(), *file, Doc().BoundsRect()));
    std::remove(name.c_str());
    ed->gFileName = "photo.png";
    Doc().Assign(original.get());
  }

  // Merge from Undo right after an open finds no previous snapshot: no step.
  ed->gImageUndo->Clear();
  ui.Gauges[TGauge::Alpha] = 255;
  act->MergefromUndo1Click();
  EXPECT_TRUE(Doc().Equal(original.get()));
  EXPECT_EQ(Undos(), 0);
  // With a layer selected, the layer's own previous state comes back, not the document's.
  auto* layer = view.Layers()->Add<TBitmapLayer>();
  layer->Bitmap()->SetSize(8, 6);
  PaintPattern(*layer->Bitmap(), 7);
  layer->Bitmap()->SetAllAlpha(255);
  layer->SetLocation(MakeFloatRect(2, 2, 10, 8));
  const auto layerBefore = Copy(*layer->Bitmap());
  ed->gSelection = AddFrame(view, 2, 2, 10, 8);
  ed->gSelectedLayer = layer;
  ed->MenuActionClick(400);
  ASSERT_FALSE(layer->Bitmap()->Equal(layerBefore.get()));
  act->MergefromUndo1Click();
  EXPECT_TRUE(layer->Bitmap()->Equal(layerBefore.get()));
  EXPECT_TRUE(Doc().Equal(original.get()));
  ed->gSelectedLayer = nullptr;
  ed->gSelection = nullptr;
}

TEST_F(Actions, PasteAndGetFromBufferMakeANewDocumentOnlyWhenThereIsNone) {
  auto pic = Pattern(5, 4, 11);
  ASSERT_TRUE(CopyBitmapWithAlpha(pic.get()));
  // Into the selection: stretched into its rectangle.
  ed->gSelection = AddFrame(view, 1, 1, 6, 5);
  act->PasteIntoSelection1Click();
  EXPECT_EQ(Doc().Width(), 12);
  EXPECT_EQ(Doc().GetPixel(1, 1), pic->GetPixel(0, 0));
  ed->gSelection = nullptr;

  // No document: the clipboard becomes one.
  Doc().SetSize(0, 0);
  ed->gFileName.clear();
  act->PasteIntoSelection1Click();
  EXPECT_TRUE(Doc().Equal(pic.get()));
  EXPECT_EQ(ed->gFileName, "untitled");
  EXPECT_EQ(ed->gFileSize, 0);

  // A selected layer that is no bitmap leaves the work bitmap empty: the
  // document must not be taken for a missing one and replaced.
  Doc().Assign(Pattern(12, 10, 2).get());
  auto before = Copy(Doc());
  ed->gSelection = AddFrame(view, 0, 0, 4, 4);
  ed->gSelectedLayer = view.Layers()->Add<TPositionedLayer>();
  act->PasteIntoSelection1Click();
  CopyBitmap(ed->gBuffer.get(), pic.get(), true);
  act->GetfromBuffer1Click();
  EXPECT_TRUE(Doc().Equal(before.get()));
  ed->gSelectedLayer = nullptr;
  ed->gSelection = nullptr;

  // The same for the buffer.
  CopyBitmap(ed->gBuffer.get(), Pattern(3, 3, 5).get(), true);
  Doc().SetSize(0, 0);
  act->GetfromBuffer1Click();
  EXPECT_TRUE(Doc().Equal(ed->gBuffer.get()));
}

TEST_F(Actions, ResizeAndCanvasSize) {
  Fill(8, 6, Argb(40, 10, 20, 30));
  // Cancel: nothing, and the dialog got the picture's size.
  act->Resize1Click();
  ASSERT_EQ(ui.ResizeDialogs.size(), 1u);
  EXPECT_EQ(ui.ResizeDialogs[0].Caption, "Resize...");
  EXPECT_EQ(ui.ResizeDialogs[0].Mode, 1);
  EXPECT_TRUE(ui.ResizeDialogs[0].KeepAspect);
  EXPECT_EQ(ui.ResizeDialogs[0].Width, 8);
  EXPECT_EQ(Undos(), 0);

  int unstretched = 0, deselected = 0;
  act->UnstretchLayer = [&] { ++unstretched; };
  act->DeselectLayer = [&] { ++deselected; };
  TResizeValues r;
  r.Width = 16, r.Height = 3, r.ResamplerIndex = 0;
  ui.ResizeAnswers.push_back(r);
  act->Resize1Click();
  EXPECT_EQ(Doc().Width(), 16);
  EXPECT_EQ(Doc().Height(), 3);
  EXPECT_EQ(Doc().GetPixel(15, 2), Argb(255, 10, 20, 30));  // opaque after a resize
  EXPECT_EQ(Undos(), 1);
  EXPECT_EQ(unstretched, 1);
  EXPECT_EQ(deselected, 1);

  // Canvas: the background colour around the old picture placed at the offsets.
  Fill(4, 4, Argb(40, 1, 2, 3));
  TResizeValues s;
  s.Width = 6, s.Height = 5, s.Left = 1, s.Top = 2;
  ui.ResizeAnswers.push_back(s);
  act->Size1Click();
  EXPECT_EQ(ui.ResizeDialogs.back().Caption, "Size...");
  EXPECT_EQ(ui.ResizeDialogs.back().Mode, 3);
  EXPECT_FALSE(ui.ResizeDialogs.back().KeepAspect);
  ASSERT_EQ(Doc().Width(), 6);
  EXPECT_EQ(Doc().GetPixel(0, 0), 0xFF102030u);
  EXPECT_EQ(Doc().GetPixel(1, 2), Argb(40, 1, 2, 3));
  EXPECT_EQ(Doc().GetPixel(4, 4), Argb(40, 1, 2, 3));
  EXPECT_EQ(Doc().GetPixel(5, 4), 0xFF102030u);
}

// ---- Transparency ---------------------------------------------------------------------------

TEST_F(Actions, TransparencyCommands) {
  auto original = Copy(Doc());
  act->InvertTransparency1Click();
  for (size_t i = 0; i < Doc().PixelCount(); ++i)
    ASSERT_EQ(Doc().Bits()[i], original->Bits()[i] ^ 0xFF000000u);
  act->ResetTransparency1Click();
  for (size_t i = 0; i < Doc().PixelCount(); ++i) ASSERT_EQ(Doc().Bits()[i] >> 24, 255u);
  EXPECT_EQ(Undos(), 2);

  Doc().SetPixel(1, 1, 0xFF102030u);
  Doc().SetPixel(2, 1, 0x80102030u);  // not the background colour with alpha 255
  act->TransparentBackground2Click();
  EXPECT_EQ(Doc().GetPixel(1, 1), 0x00102030u);
  EXPECT_EQ(Doc().GetPixel(2, 1), 0x80102030u);

  // Feather against its formula; one pixel high changes nothing.
  Doc().Assign(original.get());
  act->FeatherTransparency1Click();
  const long double hw = 6, hh = 5, sx = hw / 128, sy = hh / 128;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) {
      const long double d = std::nearbyint(std::sqrt(std::pow((hw - x) / sx, 2) + std::pow((hh - y) / sy, 2)));
      const long double f = std::max<long double>(255 - d, 0) / 255;
      const auto a = static_cast<TColor32>(std::nearbyint((original->GetPixel(x, y) >> 24) * f));
      ASSERT_EQ(Doc().GetPixel(x, y), (original->GetPixel(x, y) & 0x00FFFFFFu) | a << 24) << x << "," << y;
    }
  // The same formula on a tall picture cut into many pieces of rows, on one thread and on eight.
  for (int32_t threads : {1, 8}) {
    TBitmap32 tall;
    tall.SetSize(64, 1500);
    std::mt19937 rng(7);
    for (size_t i = 0; i < tall.PixelCount(); ++i) tall.Bits()[i] = static_cast<TColor32>(rng());
    const std::vector<TColor32> before(tall.Bits(), tall.Bits() + tall.PixelCount());
    TThreadLimit limit(threads);
    FeatherAlpha(&tall);
    const long double tw = 32, th = 750, tx = tw / 128, ty = th / 128;
    for (int y = 0; y < 1500; ++y)
      for (int x = 0; x < 64; ++x) {
        const long double dx = (tw - x) / tx, dy = (th - y) / ty;
        const long double d = std::nearbyint(std::sqrt(dx * dx + dy * dy));
        const long double f = std::max<long double>(255 - d, 0) / 255;
        const TColor32 old = before[static_cast<size_t>(y * 64 + x)];
        const auto a = static_cast<TColor32>(std::nearbyint((old >> 24) * f));
        ASSERT_EQ(tall.GetPixel(x, y), (old & 0x00FFFFFFu) | a << 24) << x << "," << y << " on " << threads;
      }
  }
  Doc().SetSize(9, 1);
  PaintPattern(Doc(), 4);
  auto line = Copy(Doc());
  act->FeatherTransparency1Click();
  EXPECT_TRUE(Doc().Equal(line.get()));

  // Copy the alpha plane as grey; paste it back through a stretch.
  Doc().Assign(original.get());
  const int32_t undos = Undos();
  act->CopyTransparency1Click();
  EXPECT_EQ(Undos(), undos);
  auto grey = Clipboard().GetPicture();
  ASSERT_TRUE(grey);
  EXPECT_EQ(grey->ScanLine(0)[3] & 0xFFu, original->GetPixel(3, 0) >> 24);
  Doc().SetAllAlpha(0);
  act->PasteTransparency1Click();
  for (size_t i = 0; i < Doc().PixelCount(); ++i) ASSERT_EQ(Doc().Bits()[i], original->Bits()[i]) << i;
}

// ---- Encryption -----------------------------------------------------------------------------

TEST_F(Actions, EncryptTwiceRestoresAndIgnoresTheSelection) {
  auto original = Copy(Doc());
  ed->gSelection = AddFrame(view, 2, 2, 5, 5);
  ui.QueryAnswers = {"schlüssel €", "schlüssel €"};
  act->Encrypt1Click();
  EXPECT_EQ(act->gKeyPhrase, "schlüssel €");
  EXPECT_EQ(Undos(), 1);
  // The whole picture, alpha included, changed; as the phrase's code-page bytes say.
  auto want = Copy(*original);
  EncryptBitmap(want.get(), "schl\xFCssel \x80");
  EXPECT_TRUE(Doc().Equal(want.get()));
  EXPECT_NE(Doc().GetPixel(0, 0), original->GetPixel(0, 0));
  act->Encrypt1Click();
  EXPECT_TRUE(Doc().Equal(original.get()));
  EXPECT_EQ(Undos(), 2);
  ASSERT_EQ(ui.Queries.size(), 2u);
  EXPECT_EQ(ui.Queries[1].Caption, "Vemra");
  EXPECT_EQ(ui.Queries[1].Prompt, "Encryption key phrase:");
  EXPECT_EQ(ui.Queries[1].Value, "schlüssel €");  // the last phrase is offered again

  // Cancel and an empty phrase: no command, no undo step.
  act->Encrypt1Click();
  ui.QueryAnswers = {""};
  act->Encrypt1Click();
  EXPECT_EQ(Undos(), 2);
  EXPECT_TRUE(Doc().Equal(original.get()));

  EXPECT_EQ(Windows1252Bytes("a\xC3\xA9\xE2\x80\x9E\xE6\x97\xA5\xFF"), "a\xE9\x84??");
}

// ---- Empty and one-pixel pictures --------------------------------------------------------------

TEST_F(Actions, EveryCommandOnEmptyAndOnePixelPicturesDoesNoHarm) {
  CopyBitmapWithAlpha(Pattern(3, 2, 1).get());
  std::vector<int32_t> tags;
  for (int32_t tag = -1000; tag < 10000; ++tag)
    if (FindActionEntry(tag) != nullptr) tags.push_back(tag);
  for (int32_t tag : {10000, 10450, 13600}) tags.push_back(tag);
  const std::vector<std::function<void()>> direct = {
      [&] { act->Copy1Click(); },          [&] { act->Cut1Click(); },
      [&] { act->Clear1Click(); },         [&] { act->PuttoBuffer1Click(); },
      [&] { act->GetfromBuffer1Click(); }, [&] { act->ExchangewithBuffer1Click(); },
      [&] { act->MergefromBuffer1Click(); }, [&] { act->DistanceToBuffer1Click(); },
      [&] { act->AddBuffer1Click(); },     [&] { act->ModulatebyBuffer1Click(); },
      [&] { act->MergefromUndo1Click(); }, [&] { act->FSClick(5); },
      [&] { act->N2Colors1bit2Click(); },  [&] { act->ResetTransparency1Click(); },
      [&] { act->TransparentBackground2Click(); }, [&] { act->FeatherTransparency1Click(); },
      [&] { act->InvertTransparency1Click(); },    [&] { act->CopyTransparency1Click(); },
      [&] { act->PasteTransparency1Click(); },     [&] { act->Resize1Click(); },
      [&] { act->Size1Click(); },          [&] { act->Twirl1Click(); },
  };
  for (const auto& size : {std::make_pair(1, 1), std::make_pair(0, 0), std::make_pair(1, 5)}) {
    SCOPED_TRACE(testing::Message() << size.first << "x" << size.second);
    for (int32_t tag : tags) {
      Doc().SetSize(size.first, size.second);
      if (!Doc().Empty()) Doc().Clear(0xFF808080u);
      ed->DoAction(tag);
      ASSERT_TRUE(ui.Exceptions.empty()) << tag << ": " << ui.Exceptions[0].Message;
    }
    for (size_t i = 0; i < direct.size(); ++i) {
      Doc().SetSize(size.first, size.second);
      if (!Doc().Empty()) Doc().Clear(0xFF808080u);
      direct[i]();
      ASSERT_TRUE(ui.Exceptions.empty()) << i << ": " << ui.Exceptions[0].Message;
    }
  }
}

// ---- The table -------------------------------------------------------------------------------

TEST_F(Actions, EveryTagOfTheTableReachesARegisteredCallback) {
  for (int32_t tag = -1000; tag <= 14000; ++tag) {
    const TActionTableEntry* e = FindActionEntry(tag);
    if (e == nullptr) continue;
    ASSERT_NE(ed->FindActionCallback(tag), nullptr) << tag << " " << e->Callback;
  }
  EXPECT_EQ(ed->FindActionCallback(106), nullptr);
  act.reset();
  EXPECT_EQ(ed->FindActionCallback(100), nullptr);
}

}  // namespace
