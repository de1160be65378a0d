// The action callbacks and the menu commands that run them directly.
//
// A callback sees the command's tag (or nothing), works on gWork and answers
// 0 (write gWork back), 2 (it changed the target itself), 4 (replace the
// whole target, crop), 8 (cancelled: the engine restores the snapshot) or 16
// (refused, or nothing to work on: no write-back and no undo step).
#include "zub_actions.h"

#include "zub_layers.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "img_cac.h"
#include "img_clipboard.h"
#include "img_common.h"
#include "img_comp.h"
#include "img_conv.h"
#include "img_depth.h"
#include "img_effects.h"
#include "img_fsdither.h"
#include "img_loadfile.h"
#include "img_lut.h"
#include "img_minmax.h"
#include "img_nr.h"
#include "img_rank.h"
#include "img_rotate.h"
#include "img_sort.h"
#include "img_viewcoords.h"
#include "platform_clipboard.h"
#include "platform_messagebox.h"
#include "raster_filterindex.h"
#include "raster_filters.h"
#include "raster_parallel.h"
#include "raster_resamplers.h"
#include "zub_encrypt.h"

namespace {

// ---- The kernel table ------------------------------------------------------------------

struct TKernelRow {
  int32_t Tag;
  int32_t Divisor;
  int32_t Bias;
  int32_t Count;  // 9 or 25 entries, row by row from the top left
  int32_t Kernel[25];
};

constexpr int32_t kMotionBlurPasses = 6;

constexpr TKernelRow kKernels[] = {
    {100, 12, 0, 9, {1, 1, 1, 1, 4, 1, 1, 1, 1}},
    {101, 10, 0, 9, {1, 1, 1, 1, 2, 1, 1, 1, 1}},
    {102, 16, 0, 9, {1, 2, 1, 2, 4, 2, 1, 2, 1}},
    {103, 3, 0, 9, {0, 0, 0, 1, 1, 1, 0, 0, 0}},
    {104, 16, 0, 9, {2, 2, 2, 2, 0, 2, 2, 2, 2}},
    {105, 25, 0, 25, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
    {107, 2712, 0, 25, {20,  -80, -113, -80, 20,   -80, 319, 452, 319, -80, -113, 452, 640,
                        452, -113, -80, 319, 452, 319, -80, 20,  -80, -113, -80, 20}},
    {200, 1, 0, 9, {0, -1, 0, -1, 5, -1, 0, -1, 0}},
    {201, 1, 0, 9, {-1, -1, -1, -1, 9, -1, -1, -1, -1}},
    {203, 1, 0, 9, {-1, 1, 1, -1, -2, 1, -1, 1, 1}},
    {204, 1, 0, 9, {1, 1, 1, 1, -2, 1, -1, -1, -1}},
    {205, 1, 0, 9, {1, 0, -1, 1, 0, -1, 1, 0, -1}},
    {206, 1, 0, 9, {-1, -1, -1, 0, 0, 0, 1, 1, 1}},
    {207, 1, 0, 9, {1, 0, -1, 2, 0, -2, 1, 0, -1}},
    {208, 1, 0, 9, {1, 2, 1, 0, 0, 0, -1, -2, -1}},
    {210, 6, 0, 25, {-6, 0, 0, 0, 0, 0, -7, 0, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 0, 6}},
    {211, 1, 0, 25, {-6, 0, 0, 0, 0, 0, -7, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 0, 6}},
    {221, 1, 0, 9, {0, -1, 0, -1, 4, -1, 0, -1, 0}},
    {222, 1, 0, 9, {1, -2, 1, -2, 4, -2, 1, -2, 1}},
    {231, 8, 0, 25, {1, 2, 2, 2, 1, 2, 0, 0, 0, 2, 2, 0, -20, 0, 2, 2, 0, 0, 0, 2, 1, 2, 2, 2, 1}},
    {232, 1, 0, 25, {0,  -4, -9, -4, 0,  -4, -24, -1, -24, -4, -9, -1, 168,
                     -1, -9, -4, -24, -1, -24, -4, 0,  -4, -9, -4, 0}},
    {300, 8, 0, 9, {0, -1, 0, -1, 12, -1, 0, -1, 0}},
    {301, 1, 0, 9, {1, -2, 1, -2, 5, -2, 1, -2, 1}},
    {311, 1, 127, 9, {-1, -1, -1, -1, 8, -1, -1, -1, -1}},
    {312, 1, 127, 9, {-1, -1, -1, -1, 8, -1, -1, -1, -1}},
};

const TKernelRow* FindKernel(int32_t Tag) {
  for (const TKernelRow& r : kKernels)
    if (r.Tag == Tag) return &r;
  return nullptr;
}

// Every pixel of Bmp, top row first.
template <class F>
void EachPixel(TBitmap32* Bmp, F&& PerPixel) {
  if (Bmp == nullptr || Bmp->Empty()) return;
  TColor32* p = Bmp->Bits();
  const size_t n = Bmp->PixelCount();
  for (size_t i = 0; i < n; ++i) PerPixel(p[i]);
}

// Round of extended precision, ties to even.
int64_t RoundEven(long double V) { return static_cast<int64_t>(RoundHalfEven(V)); }

constexpr long double kPi = 3.141592653589793238462643383279502884L;

}  // namespace

// ---- Registration ------------------------------------------------------------------------

#define VEMRA_ACTION(Name) {#Name, &TEditorActions::Name}

TEditorActions::TEditorActions(TEditor& Editor) : fEditor(Editor) {
  fResizeValues.ResamplerIndex = 2;  // "Linear", selected when the dialog is made
  for (const TNamedMember& m : TagCallbacks()) {
    const TMember member = m.Member;
    fEditor.RegisterActionCallback(m.Name, [this, member](TEditor&, const TActionArgument& A) {
      return (this->*member)(A);
    });
  }
  FreeSelection = [this] { ::FreeSelection(fEditor, fEditor.gSelection); };
  UnstretchLayer = [this] {
    if (fEditor.gSelectedLayer) ::UnstretchLayer(fEditor, fEditor.gSelectedLayer.get());
  };
  DeselectLayer = [this] { SelectLayer(fEditor, nullptr); };
}

TEditorActions::~TEditorActions() {
  for (const TNamedMember& m : TagCallbacks()) fEditor.RegisterActionCallback(m.Name, nullptr);
}

// ---- Small helpers -------------------------------------------------------------------------

int32_t TEditorActions::Level() const { return ClampLevel(fEditor.Ui().GaugePosition(TGauge::Alpha)); }

TColor32 TEditorActions::Swatch(TSwatch S) const { return fEditor.Ui().SwatchColor(S) | 0xFF000000u; }

void TEditorActions::Hint(const char* Text) const { fEditor.Ui().SetStatusText(0, Text); }

void TEditorActions::Message(const std::string& Text, uint32_t Flags) const {
  // A box in the middle of a brush stroke would take the mouse from the stroke.
  if (fEditor.InRetouchStep()) return;
  fEditor.Ui().MessageBox(Text, Flags);
}

void TEditorActions::RunDirect(const char* Name, TMember Callback, const TActionArgument& Argument,
                               bool RecordUndo) {
  try {
    fEditor.ApplyAction([this, Callback](TEditor&, const TActionArgument& A) { return (this->*Callback)(A); },
                        Argument, RecordUndo);
  } catch (const std::exception& E) {
    fEditor.Ui().ExceptionBox(E, std::string("on action ") + Name);
  }
}

// ---- Kernel convolutions -----------------------------------------------------------------

void TEditorActions::ConvolveKernel(int32_t Divisor, const int32_t* Kernel, size_t Count, int32_t Bias) {
  if (Count != 9 && Count != 25) return;
  // A 3 x 3 kernel sits in the middle of a zeroed 5 x 5 one.
  LastKernel.Kernel.fill(0);
  if (Count == 9) {
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) LastKernel.Kernel[static_cast<size_t>((r + 1) * 5 + c + 1)] = Kernel[r * 3 + c];
  } else {
    for (size_t i = 0; i < 25; ++i) LastKernel.Kernel[i] = Kernel[i];
  }
  LastKernel.Divisor = Divisor;
  LastKernel.Bias = Bias;
  if (Count == 9)
    Convolve3x3(Kernel, Divisor, fEditor.gWork.get(), Bias);
  else
    Convolve5x5(Kernel, Divisor, fEditor.gWork.get(), Bias);
}

int32_t TEditorActions::KernelAction(const TActionArgument& A) {
  const int32_t tag = ActionTag(A);
  if (tag == 399) {
    TCustomMatrix& m = CustomMatrix;
    // A divisor of 0 leaves the picture to the levels step alone.
    if (m.Divisor != 0) ConvolveKernel(m.Divisor, m.Kernel.data(), m.Kernel.size(), m.Bias);
    if (m.Low > 0 || m.High < 255) {
      if (m.High < m.Low) m.High = m.Low;
      ClipLevels(fEditor.gWork.get(), m.Low, m.LowValue, m.High, m.HighValue, 255);
    }
    return arWriteBack;
  }
  const TKernelRow* row = FindKernel(tag);
  if (row == nullptr) return arWriteBack;
  const int32_t passes = tag == 103 ? kMotionBlurPasses : 1;
  for (int32_t i = 0; i < passes; ++i)
    ConvolveKernel(row->Divisor, row->Kernel, static_cast<size_t>(row->Count), row->Bias);
  if (tag == 312) ForEachPixel(fEditor.gWork.get(), BlurMapPixel);
  return arWriteBack;
}

// ---- Rank filters ------------------------------------------------------------------------

int32_t TEditorActions::RankAction(const TActionArgument& A) {
  TBitmap32* w = fEditor.gWork.get();
  switch (ActionTag(A)) {
    case 111: MinFilter(w, 1, 255); break;
    case 112: MaxFilter(w, 1, 255); break;
    case 113: MeanFilter(w, 1, 255); break;
    case 114: MedianFilter(w, 1, 255); break;
    case 115: VarianceFilter(w, 1, 255); break;
    case 116: DeviationFilter(w, 1, 255); break;
    case 121: KuwaharaFilter(w, 1, 255); break;
    default: break;  // 117..120 have no filter
  }
  return arWriteBack;
}

// ---- Colour commands -----------------------------------------------------------------------

int32_t TEditorActions::GreyScaleAction(const TActionArgument&) {
  Greyscale(fEditor.gWork.get(), Level());
  Hint("GreyScale is affected by selected alpha !");
  return arWriteBack;
}

int32_t TEditorActions::ChannelAction(const TActionArgument& A) {
  const int32_t tag = ActionTag(A);
  const int32_t shift = (tag == -721 || tag == -711) ? 16 : (tag == -722 || tag == -712) ? 8 : 0;
  if (tag >= -713)
    ChannelToGrey(fEditor.gWork.get(), shift);
  else
    KeepChannel(fEditor.gWork.get(), shift);
  return arWriteBack;
}

int32_t TEditorActions::HslAction(const TActionArgument& A) {
  if (ActionTag(A) == -741)
    RgbToHslBytes(fEditor.gWork.get());
  else
    HslBytesToRgb(fEditor.gWork.get());
  return arWriteBack;
}

int32_t TEditorActions::YuvAction(const TActionArgument& A) {
  if (ActionTag(A) == -743)
    RgbToYCbCr(fEditor.gWork.get());
  else
    YCbCrToRgb(fEditor.gWork.get());
  return arWriteBack;
}

int32_t TEditorActions::NegativeAction(const TActionArgument&) {
  TBitmap32* w = fEditor.gWork.get();
  if (!w->Empty()) InvertRGB(w, w);
  return arWriteBack;
}

int32_t TEditorActions::TintAction(const TActionArgument& A) {
  const int32_t tag = ActionTag(A);
  const TSwatch s = tag == 851 ? TSwatch::Foreground : tag == 852 ? TSwatch::Extra : TSwatch::Background;
  TintColors(fEditor.gWork.get(), Swatch(s), Level());
  Hint("Tint Colors is affected by selected alpha !");
  return arWriteBack;
}

int32_t TEditorActions::BrightnessAction(const TActionArgument& A) {
  AddBrightness(fEditor.gWork.get(), ActionTag(A) == 861 ? 8 : -8, Level());
  Hint("Brightness Lighten/Darken Colors is affected by selected alpha !");
  return arWriteBack;
}

int32_t TEditorActions::ProportionalBrightnessAction(const TActionArgument& A) {
  ScaleBrightness(fEditor.gWork.get(), ActionTag(A) == 863 ? 8 : -8, Level());
  Hint("Contrast Lighten/Darken Colors is affected by selected alpha !");
  return arWriteBack;
}

int32_t TEditorActions::GammaStepAction(const TActionArgument& A) {
  GammaCorrect(fEditor.gWork.get(), Level(), ActionTag(A) == 865 ? 1.5 : 0.6666);
  Hint("Gamma Lighten/Darken Colors is affected by selected alpha !");
  return arWriteBack;
}

int32_t TEditorActions::SineContrastAction(const TActionArgument& A) {
  SineContrast(fEditor.gWork.get(), ActionTag(A) == 867 ? 1 : -1, Level());
  Hint("Colors Sin Contrast is affected by selected alpha !");
  return arWriteBack;
}

int32_t TEditorActions::SortAction(const TActionArgument& A) {
  TBitmap32* w = fEditor.gWork.get();
  if (!w->Empty()) SortPixels(w->Bits(), static_cast<int64_t>(w->PixelCount()), ActionTag(A) - 870);
  Hint("Sort Image is not affected by selected alpha !");
  return arWriteBack;
}

int32_t TEditorActions::NoiseReductionAction(const TActionArgument&) {
  ReduceNoise(fEditor.gWork.get(), Level());
  Hint("Noise Reduction is affected by selected alpha !");
  return arWriteBack;
}

int32_t TEditorActions::RotateColorsAction(const TActionArgument&) {
  // Red takes green, green takes blue, blue takes red.
  EachPixel(fEditor.gWork.get(), [](TColor32& c) {
    c = (c & 0xFF000000u) | ((c & 0x0000FFFFu) << 8) | ((c >> 16) & 0xFFu);
  });
  return arWriteBack;
}

// ---- Stretch, compress, white balance ------------------------------------------------------

int32_t TEditorActions::StretchAction(const TActionArgument& A) {
  const int32_t tag = ActionTag(A);
  TBitmap32* w = fEditor.gWork.get();
  int32_t lo = 0, hi = 0;
  if (tag == 800)
    LevelsFromHistogram(w, lo, hi);
  else if (tag == 801 || tag == 802)
    IntensityMinMax(w, lo, hi);
  else
    ChannelsMinMax(w, lo, hi);
  if (lo == hi) {
    Message("stretch impossible !", MB_ICONINFORMATION);
    return arNothing;
  }
  TLut t{};
  if (tag == 802 || tag == 804) {
    const long double k = 255.0L / (hi - lo);
    for (int32_t i = 0; i < 256; ++i) {
      const float x = static_cast<float>((i - lo) * k);
      const long double y = (x - 128.0L) * (kPi / 2) / 128;
      t[static_cast<size_t>(i)] =
          static_cast<uint8_t>(ClampToByte64(static_cast<int64_t>(std::sin(y) * 127 + 128)));
    }
  } else {
    // (i - lo) * 255 / (hi - lo) truncated, in integers: a float factor can
    // land just below a whole number (255 / 7 * 7 < 255) and lose the top.
    for (int32_t i = 0; i < 256; ++i)
      t[static_cast<size_t>(i)] =
          static_cast<uint8_t>(ClampToByte64((int64_t{i} - lo) * 255 / (int64_t{hi} - lo)));
  }
  ApplyLut(w, t.data(), Level());
  Hint("Stretch Color/Luminance is affected by selected alpha !");
  return arWriteBack;
}

int32_t TEditorActions::CompressAction(const TActionArgument&) {
  TBitmap32* w = fEditor.gWork.get();
  if (w->Empty()) return arWriteBack;
  int64_t sum = 0;
  EachPixel(w, [&sum](TColor32& c) { sum += IntensityOf(c); });
  const int64_t m = sum / static_cast<int64_t>(w->PixelCount());
  TLut t{};
  for (int64_t i = 0; i < 256; ++i) t[static_cast<size_t>(i)] = static_cast<uint8_t>(ClampToByte64(m + (i - m) / 2));
  ApplyLut(w, t.data(), Level());
  Hint("Compress Luminance is affected by selected alpha !");
  return arWriteBack;
}

int32_t TEditorActions::WhiteBalanceAction(const TActionArgument& A) {
  // Measured on the work bitmap (the selection), corrected on the whole target;
  // a refusal, or a measure that gives no gains, changes nothing.
  int32_t result = arNothing;
  TBitmap32* w = fEditor.gWork.get();
  int64_t r = 0, g = 0, b = 0;
  if (ActionTag(A) == 821) {
    if (!w->Empty()) {
      EachPixel(w, [&](TColor32& c) {
        r += (c >> 16) & 0xFF;
        g += (c >> 8) & 0xFF;
        b += c & 0xFF;
      });
      const auto n = static_cast<int64_t>(w->PixelCount());
      r /= n, g /= n, b /= n;
    }
  } else {
    TBitmap32 small;
    small.SetSize(w->Width() >> 3, w->Height() >> 3);
    if (!small.Empty()) {
      StretchTransferByIndex(&small, small.BoundsRect(), small.BoundsRect(), w, w->BoundsRect(), 2, dmOpaque);
      int32_t best = -1;
      EachPixel(&small, [&](TColor32& c) {
        const int32_t i = IntensityOf(c);
        if (i > best) best = i, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
      });
    }
    if ((r + g + b) / 3.0L > 250) {
      Message("operation canceled: white patch already white !", MB_ICONEXCLAMATION);
      r = g = b = 0;  // refused: nothing to correct
    }
  }
  const long double a = (r + g + b) / 3.0L;
  if (r > 0 && g > 0 && b > 0 && a > 0 && fEditor.gTarget != nullptr) {
    ScaleChannels(fEditor.gTarget, static_cast<float>(a / r), static_cast<float>(a / g), static_cast<float>(a / b),
                  Level());
    fEditor.gTarget->Changed();
    result = arDone;
  }
  Hint("WhiteBalance is affected by selected alpha !");
  return result;
}

// ---- Geometry ------------------------------------------------------------------------------

int32_t TEditorActions::FlipAction(const TActionArgument&) {
  fEditor.gWork->FlipVertical();
  return arWriteBack;
}

int32_t TEditorActions::MirrorAction(const TActionArgument&) {
  fEditor.gWork->FlipHorizontal();
  return arWriteBack;
}

int32_t TEditorActions::RoundAction(const TActionArgument&) {
  EffectRound(fEditor.gWork.get());
  return arWriteBack;
}

int32_t TEditorActions::QuarterTurnAction(const TActionArgument& A) {
  RotateQuarterTurns(fEditor.gWork.get(), ActionTag(A) - 500);
  return arWriteBack;
}

int32_t TEditorActions::AngleRotateAction(const TActionArgument& A) {
  RotateByAngle(fEditor.gWork.get(), static_cast<float>(ActionTag(A) - 10000) / 10);
  return arWriteBack;
}

int32_t TEditorActions::ShearAction(const TActionArgument&) {
  ShearBitmap(fEditor.gWork.get(), 0.01L, 0.01L);
  return arWriteBack;
}

int32_t TEditorActions::ChromaticAberrationAction(const TActionArgument& A) {
  static constexpr int32_t kSteps[6][2] = {{-1, 0}, {1, 0}, {0, 1}, {0, -1}, {-1, 1}, {1, -1}};
  const int32_t i = ActionTag(A) - 911;
  if (i >= 0 && i < 6) CorrectChromaticAberration(fEditor.gWork.get(), kSteps[i][0], kSteps[i][1]);
  Hint("CA Correct Image is not affected by selected alpha !");
  return arWriteBack;
}

int32_t TEditorActions::ColorShiftAction(const TActionArgument& A) {
  static constexpr int32_t kShifts[8][4] = {{0, -1, 0, 0}, {0, 1, 0, 0}, {-1, 0, 0, 0}, {1, 0, 0, 0},
                                            {0, 0, 0, -1}, {0, 0, 0, 1}, {0, 0, -1, 0}, {0, 0, 1, 0}};
  const int32_t i = ActionTag(A) - 921;
  if (i >= 0 && i < 8) {
    const int32_t* s = kShifts[i];
    ShiftChannels(fEditor.gWork.get(), s[0], s[1], s[2], s[3]);
  }
  Hint("Color Shift Image is not affected by selected alpha !");
  return arWriteBack;
}

// ---- Colour depth ------------------------------------------------------------------------------

int32_t TEditorActions::DecreaseColorsAction(const TActionArgument& A) {
  const int32_t bits = -ActionTag(A) - 600;
  if (bits == 1 || bits == 4 || bits == 8 || bits == 15 || bits == 16) ReduceColorDepth(fEditor.gWork.get(), bits);
  return arWriteBack;
}

int32_t TEditorActions::FloydSteinberg(const TActionArgument& A) {
  DitherFloydSteinberg(fEditor.gWork.get(), ActionTag(A) & 15);
  return arWriteBack;
}

int32_t TEditorActions::FloydSteinbergBW(const TActionArgument&) {
  DitherBlackWhite(fEditor.gWork.get());
  return arWriteBack;
}

// ---- Parameter dialogs ---------------------------------------------------------------------

int32_t TEditorActions::ParamDialog(int32_t Kind) {
  TBitmap32* w = fEditor.gWork.get();
  // Nothing to preview or to change (a layer that is not a bitmap, no picture).
  if (w->Empty()) return arCancel;
  TParamDialogSetup setup = ParamDialogSetupFor(Kind);
  // The longer side becomes 128, the other follows in proportion (at least one pixel).
  const int64_t longer = std::max(w->Width(), w->Height()), shorter = std::min(w->Width(), w->Height());
  const auto across = static_cast<int32_t>(std::max<int64_t>(1, 128 * shorter / longer));
  TBitmap32 preview;
  if (w->Width() >= w->Height())
    preview.SetSize(128, across);
  else
    preview.SetSize(across, 128);
  StretchTransferByIndex(&preview, preview.BoundsRect(), preview.BoundsRect(), w, w->BoundsRect(), 2, dmOpaque);
  setup.Preview = &preview;
  setup.Work = w;
  setup.Foreground = Swatch(TSwatch::Foreground);
  setup.Background = Swatch(TSwatch::Background);
  setup.ShowWork = [this](const std::function<void(TBitmap32*)>& Render) { ShowWorkInDocument(Render); };
  TParamValues& values = fParamValues[static_cast<size_t>(Kind)];
  if (!fEditor.Ui().RunParamDialog(setup, values)) return arCancel;
  ApplyParamEffect(Kind, w, w, values, Swatch(TSwatch::Foreground), Swatch(TSwatch::Background));
  return arWriteBack;
}

// The parameter dialog's Proof: a full-size result shown in the document
// while the command is still open (its undo snapshot puts the document back
// on Cancel, and OK writes the work bitmap back as usual).
void TEditorActions::ShowWorkInDocument(const std::function<void(TBitmap32*)>& Render) {
  TBitmap32* w = fEditor.gWork.get();
  TBitmap32* t = fEditor.gTarget;
  if (t == nullptr || t == w) return;
  if (fEditor.gSelectedLayer) {
    // Only a bitmap layer has pixels to show the result in.
    auto* layer = dynamic_cast<TBitmapLayer*>(fEditor.gSelectedLayer.get());
    if (layer == nullptr) return;
    Render(layer->Bitmap());
    layer->Bitmap()->Changed();
  } else if (fEditor.gSelection) {
    Render(w);
    const TRect r = RoundRectF(ControlToBitmapRect(fEditor.View(), fEditor.gSelection->Location()));
    StretchTransferByIndex(t, r, t->BoundsRect(), w, w->BoundsRect(), 2, dmOpaque);
    t->Changed();
  } else {
    // The whole image: drawn straight into the document, saving a full copy.
    Render(t);
    t->Changed();
  }
  fEditor.View().Invalidate();
  fEditor.RefreshHistogram();
}

void TEditorActions::RunParamDialogCommand(int32_t Kind) {
  // These four menu items select the selection tool first; the other dialogs leave the tool.
  if (Kind == 1 || Kind == 4 || Kind == 5 || Kind == 6) fEditor.SetTool(1);
  try {
    fEditor.ApplyAction([this, Kind](TEditor&, const TActionArgument&) { return ParamDialog(Kind); }, {}, true);
  } catch (const std::exception& E) {
    fEditor.Ui().ExceptionBox(E, "on action " + ParamDialogSetupFor(Kind).Caption);
  }
}

int32_t TEditorActions::MandelbrotAction(const TActionArgument&) { return ParamDialog(12); }

int32_t TEditorActions::UnsharpMaskAction(const TActionArgument& A) {
  return ParamDialog(ActionTag(A) == 191 ? 13 : 3);
}

// ---- Clipboard and buffer --------------------------------------------------------------------

int32_t TEditorActions::CopyAction(const TActionArgument&) {
  // Nothing to copy must not replace what another program put on the clipboard.
  if (fEditor.gWork->Empty()) return arNothing;
  CopyBitmapWithAlpha(fEditor.gWork.get());
  return arWriteBack;
}

int32_t TEditorActions::CutBitmap(const TActionArgument&) {
  if (fEditor.gWork->Empty()) return arNothing;
  fEditor.gWork->AssignTo(Clipboard());
  fEditor.gWork->Clear(Swatch(TSwatch::Background));
  return arWriteBack;
}

int32_t TEditorActions::ClearBitmap(const TActionArgument&) {
  fEditor.gWork->Clear(Swatch(TSwatch::Background));
  return arWriteBack;
}

int32_t TEditorActions::CropToSelection(const TActionArgument&) {
  // Without a selection there is nothing to crop to.
  if (!fEditor.gSelection) return arNothing;
  if (FreeSelection) FreeSelection();
  return arWhole;
}

int32_t TEditorActions::PasteIntoSelection(const TActionArgument&) {
  if (!Clipboard().HasPicture()) return arNothing;
  if (fEditor.gWork->Empty()) {
    // Only an empty document becomes the pasted picture; an empty work bitmap
    // over a document (a selected layer that is no bitmap) has no snapshot to
    // bring the document back.
    if (fEditor.gTarget == nullptr || !fEditor.gTarget->Empty()) return arDone;
    PasteBitmapWithAlpha(fEditor.gTarget);
    fEditor.gFileName = "untitled";
    fEditor.gFileSize = 0;
    fEditor.ShowDocument();
    return arDone;
  }
  PasteBitmapWithAlpha(fEditor.gWork.get());
  // A picture gone from the clipboard since the test above pastes as
  // nothing, and nothing written back would empty the document.
  return fEditor.gWork->Empty() ? arNothing : arWriteBack;
}

int32_t TEditorActions::PutToBuffer(const TActionArgument&) {
  CopyBitmap(fEditor.gBuffer.get(), fEditor.gWork.get(), true);
  return arWriteBack;
}

int32_t TEditorActions::GetFromBuffer(const TActionArgument&) {
  if (fEditor.gBuffer->Empty()) return arNothing;
  if (fEditor.gWork->Empty()) {
    if (fEditor.gTarget == nullptr || !fEditor.gTarget->Empty()) return arDone;
    CopyBitmap(fEditor.gTarget, fEditor.gBuffer.get(), true);
    fEditor.gFileName = "untitled";
    fEditor.gFileSize = 0;
    fEditor.ShowDocument();
    return arDone;
  }
  CopyBitmap(fEditor.gWork.get(), fEditor.gBuffer.get(), true);
  return arWriteBack;
}

int32_t TEditorActions::ExchangeWithBuffer(const TActionArgument&) {
  SwapBitmaps(fEditor.gWork.get(), fEditor.gBuffer.get());
  return arWriteBack;
}

int32_t TEditorActions::MergeFromBuffer(const TActionArgument&) {
  MergeWithOpacity(fEditor.gWork.get(), fEditor.gBuffer.get(), Level());
  return arWriteBack;
}

int32_t TEditorActions::DistanceToBuffer(const TActionArgument&) {
  DifferenceWith(fEditor.gWork.get(), fEditor.gBuffer.get(), Level());
  return arWriteBack;
}

int32_t TEditorActions::AddBuffer(const TActionArgument&) {
  AddWith(fEditor.gWork.get(), fEditor.gBuffer.get(), Level());
  return arWriteBack;
}

int32_t TEditorActions::ModulateByBuffer(const TActionArgument&) {
  ModulateWith(fEditor.gWork.get(), fEditor.gBuffer.get(), Level());
  return arWriteBack;
}

int32_t TEditorActions::MergeFromFile(const TActionArgument&) {
  TBitmap32 file;
  if (!LoadImageFile(fEditor.gFileName, file)) return arNothing;
  MergeWithOpacity(fEditor.gWork.get(), &file, Level());
  return arWriteBack;
}

int32_t TEditorActions::MergeFromUndo(const TActionArgument&) {
  TBitmap32Undo& store = fEditor.gSelectedLayer ? *fEditor.gLayerUndo : *fEditor.gImageUndo;
  TBitmap32* previous = store.Previous();
  if (previous == nullptr || previous->Empty()) return arNothing;
  MergeWithOpacity(fEditor.gWork.get(), previous, Level());
  return arWriteBack;
}

// ---- Resize and canvas size ------------------------------------------------------------------

bool TEditorActions::AskSize(const char* Caption, int32_t Mode, bool KeepAspect, TResizeValues& Values) {
  TBitmap32* t = fEditor.gTarget;
  if (t == nullptr) return false;
  Values = fResizeValues;
  Values.Width = t->Width();
  Values.Height = t->Height();
  if (!fEditor.Ui().RunResizeDialog(Caption, Mode, KeepAspect, Values)) return false;
  fResizeValues = Values;
  return Values.Width > 0 && Values.Height > 0;
}

void TEditorActions::AfterTargetResized() {
  fEditor.gTarget->Changed();
  if (UnstretchLayer) UnstretchLayer();
  if (DeselectLayer) DeselectLayer();
}

int32_t TEditorActions::ResizeBitmap(const TActionArgument&) {
  TResizeValues v;
  if (!AskSize("Resize...", 1, true, v)) return arCancel;
  TBitmap32* t = fEditor.gTarget;
  TBitmap32 sized;
  sized.SetSize(v.Width, v.Height);
  const int32_t index = std::clamp(v.ResamplerIndex, 0, 7);
  StretchTransferByIndex(&sized, sized.BoundsRect(), sized.BoundsRect(), t, t->BoundsRect(),
                         static_cast<uint8_t>(index), dmOpaque);
  CopyBitmap(t, &sized, false);
  t->SetAllAlpha(255);
  AfterTargetResized();
  return arDone;
}

int32_t TEditorActions::SizeBitmap(const TActionArgument&) {
  TResizeValues v;
  if (!AskSize("Size...", 3, false, v)) return arCancel;
  TBitmap32* t = fEditor.gTarget;
  TBitmap32 canvas;
  canvas.SetSize(v.Width, v.Height);
  canvas.Clear(Swatch(TSwatch::Background));
  DrawRectAt(&canvas, v.Left, v.Top, canvas.BoundsRect(), t, t->BoundsRect(), dmOpaque);
  CopyBitmap(t, &canvas, false);
  AfterTargetResized();
  return arDone;
}

// ---- Transparency ----------------------------------------------------------------------------

int32_t TEditorActions::ResetAlpha(const TActionArgument&) {
  if (!fEditor.gWork->Empty()) fEditor.gWork->SetAllAlpha(255);
  return arWriteBack;
}

int32_t TEditorActions::SetBackgroundAlphaZero(const TActionArgument&) {
  const TColor32 bg = Swatch(TSwatch::Background);
  EachPixel(fEditor.gWork.get(), [bg](TColor32& c) {
    if (c == bg) c &= 0x00FFFFFFu;
  });
  return arWriteBack;
}

void FeatherAlpha(TBitmap32* Bmp) {
  if (Bmp == nullptr) return;
  const int32_t hw = Bmp->Width() >> 1, hh = Bmp->Height() >> 1;
  // One pixel wide or high: no centre to feather from (and a zero scale).
  if (hw == 0 || hh == 0) return;
  const long double sx = hw / 128.0L, sy = hh / 128.0L;
  // The new alpha depends on the rounded distance d (all alike from 255 on)
  // and the old alpha only: one table, each entry computed as for a pixel.
  std::vector<std::array<uint8_t, 256>> scaled(256);
  for (int64_t d = 0; d < 256; ++d) {
    const long double f = static_cast<long double>(std::max<int64_t>(255 - d, 0)) / 255;
    for (uint32_t alpha = 0; alpha < 256; ++alpha)
      scaled[static_cast<size_t>(d)][alpha] = static_cast<uint8_t>(RoundEven(alpha * f));
  }
  const int32_t w = Bmp->Width();
  std::vector<long double> dxs(static_cast<size_t>(w));
  for (int32_t x = 0; x < w; ++x) dxs[static_cast<size_t>(x)] = (hw - x) / sx;
  ParallelRows(0, Bmp->Height(), RowsPerTask(int64_t{w} * 8), [&](int32_t first, int32_t last) {
    for (int32_t y = first; y < last; ++y) {
      TColor32* row = Bmp->RowPtr(y);
      const long double dy = (hh - y) / sy;
      for (int32_t x = 0; x < w; ++x) {
        const long double dx = dxs[static_cast<size_t>(x)];
        const int64_t d = std::min<int64_t>(RoundEven(std::sqrt(dx * dx + dy * dy)), 255);
        row[x] = (row[x] & 0x00FFFFFFu) | (TColor32{scaled[static_cast<size_t>(d)][row[x] >> 24]} << 24);
      }
    }
  });
}

int32_t TEditorActions::FeatherTransparency(const TActionArgument&) {
  // One pixel wide or high: no centre to feather from.
  if (fEditor.gWork->Width() < 2 || fEditor.gWork->Height() < 2) return arNothing;
  FeatherAlpha(fEditor.gWork.get());
  return arWriteBack;
}

int32_t TEditorActions::InvertTransparency(const TActionArgument&) {
  EachPixel(fEditor.gWork.get(), [](TColor32& c) { c ^= 0xFF000000u; });
  return arWriteBack;
}

int32_t TEditorActions::CopyTransparency(const TActionArgument&) {
  TBitmap32* w = fEditor.gWork.get();
  if (w->Empty()) return arWriteBack;
  TBitmap32 grey;
  w->CopyPropertiesTo(&grey);
  grey.SetSize(w->Width(), w->Height());
  AlphaToGray(&grey, w);
  grey.AssignTo(Clipboard());
  return arWriteBack;
}

int32_t TEditorActions::PasteTransparency(const TActionArgument&) {
  TBitmap32* w = fEditor.gWork.get();
  if (!Clipboard().HasPicture() || w->Empty()) return arNothing;
  TBitmap32 picture;
  picture.Assign(Clipboard());
  if (picture.Empty()) return arNothing;
  TBitmap32 fitted;
  w->CopyPropertiesTo(&fitted);
  fitted.SetSize(w->Width(), w->Height());
  if (picture.Width() == w->Width() && picture.Height() == w->Height())
    DrawRectAt(&fitted, 0, 0, fitted.BoundsRect(), &picture, picture.BoundsRect(), dmOpaque);
  else
    StretchTransferByIndex(&fitted, fitted.BoundsRect(), fitted.BoundsRect(), &picture, picture.BoundsRect(), 2,
                           dmOpaque);
  IntensityToAlpha(w, &fitted);
  return arWriteBack;
}

// ---- Menu commands -------------------------------------------------------------------------------

void TEditorActions::Copy1Click() { RunDirect("CopyAction", &TEditorActions::CopyAction, {}, false); }
void TEditorActions::Cut1Click() { RunDirect("CutBitmap", &TEditorActions::CutBitmap, {}, true); }
void TEditorActions::Clear1Click() { RunDirect("ClearBitmap", &TEditorActions::ClearBitmap, {}, true); }
void TEditorActions::CroptoSelection1Click() {
  RunDirect("CropToSelection", &TEditorActions::CropToSelection, {}, true);
}
void TEditorActions::PasteIntoSelection1Click() {
  RunDirect("PasteIntoSelection", &TEditorActions::PasteIntoSelection, {}, true);
}
void TEditorActions::PuttoBuffer1Click() { RunDirect("PutToBuffer", &TEditorActions::PutToBuffer, {}, false); }
void TEditorActions::RunOnBuffer(const char* Name, TMember Callback) {
  // An empty buffer leaves nothing to exchange or combine with: the picture
  // would be written back as it was, an undo step that changes nothing.
  if (fEditor.gBuffer->Empty()) return;
  RunDirect(Name, Callback, {}, true);
}
void TEditorActions::GetfromBuffer1Click() {
  // An empty buffer is no command at all (no undo step).
  if (fEditor.gBuffer->Empty()) return;
  RunDirect("GetFromBuffer", &TEditorActions::GetFromBuffer, {}, true);
  if (DeselectLayer) DeselectLayer();
}
void TEditorActions::ExchangewithBuffer1Click() {
  RunOnBuffer("ExchangeWithBuffer", &TEditorActions::ExchangeWithBuffer);
}
void TEditorActions::MergefromBuffer1Click() { RunOnBuffer("MergeFromBuffer", &TEditorActions::MergeFromBuffer); }
void TEditorActions::DistanceToBuffer1Click() {
  RunOnBuffer("DistanceToBuffer", &TEditorActions::DistanceToBuffer);
}
void TEditorActions::AddBuffer1Click() { RunOnBuffer("AddBuffer", &TEditorActions::AddBuffer); }
void TEditorActions::ModulatebyBuffer1Click() {
  RunOnBuffer("ModulateByBuffer", &TEditorActions::ModulateByBuffer);
}
void TEditorActions::MergefromFile1Click() { RunDirect("MergeFromFile", &TEditorActions::MergeFromFile, {}, true); }
void TEditorActions::MergefromUndo1Click() { RunDirect("MergeFromUndo", &TEditorActions::MergeFromUndo, {}, true); }
void TEditorActions::Resize1Click() { RunDirect("ResizeBitmap", &TEditorActions::ResizeBitmap, {}, true); }
void TEditorActions::Size1Click() { RunDirect("SizeBitmap", &TEditorActions::SizeBitmap, {}, true); }
void TEditorActions::FSClick(int32_t Tag) {
  RunDirect("FloydSteinberg", &TEditorActions::FloydSteinberg, TActionArgument(Tag), true);
}
void TEditorActions::N2Colors1bit2Click() {
  RunDirect("FloydSteinbergBW", &TEditorActions::FloydSteinbergBW, {}, true);
}
void TEditorActions::ResetTransparency1Click() { RunDirect("ResetAlpha", &TEditorActions::ResetAlpha, {}, true); }
void TEditorActions::TransparentBackground2Click() {
  RunDirect("SetBackgroundAlphaZero", &TEditorActions::SetBackgroundAlphaZero, {}, true);
}
void TEditorActions::FeatherTransparency1Click() {
  RunDirect("FeatherTransparency", &TEditorActions::FeatherTransparency, {}, true);
}
void TEditorActions::InvertTransparency1Click() {
  RunDirect("InvertTransparency", &TEditorActions::InvertTransparency, {}, true);
}
void TEditorActions::CopyTransparency1Click() {
  RunDirect("CopyTransparency", &TEditorActions::CopyTransparency, {}, false);
}
void TEditorActions::PasteTransparency1Click() {
  RunDirect("PasteTransparency", &TEditorActions::PasteTransparency, {}, true);
}
void TEditorActions::Encrypt1Click() { ::Encrypt1Click(fEditor, gKeyPhrase); }

// ---- The tag table's callbacks by name ---------------------------------------------------------

const std::vector<TEditorActions::TNamedMember>& TEditorActions::TagCallbacks() {
  static const std::vector<TNamedMember> table = {
      VEMRA_ACTION(MandelbrotAction),
      VEMRA_ACTION(YuvAction),
      VEMRA_ACTION(HslAction),
      VEMRA_ACTION(ChannelAction),
      VEMRA_ACTION(GreyScaleAction),
      VEMRA_ACTION(DecreaseColorsAction),
      VEMRA_ACTION(KernelAction),
      VEMRA_ACTION(RankAction),
      VEMRA_ACTION(UnsharpMaskAction),
      VEMRA_ACTION(NegativeAction),
      VEMRA_ACTION(FlipAction),
      VEMRA_ACTION(MirrorAction),
      VEMRA_ACTION(RoundAction),
      VEMRA_ACTION(QuarterTurnAction),
      VEMRA_ACTION(StretchAction),
      VEMRA_ACTION(CompressAction),
      VEMRA_ACTION(WhiteBalanceAction),
      VEMRA_ACTION(RotateColorsAction),
      VEMRA_ACTION(TintAction),
      VEMRA_ACTION(BrightnessAction),
      VEMRA_ACTION(ProportionalBrightnessAction),
      VEMRA_ACTION(GammaStepAction),
      VEMRA_ACTION(SineContrastAction),
      VEMRA_ACTION(SortAction),
      VEMRA_ACTION(ChromaticAberrationAction),
      VEMRA_ACTION(ColorShiftAction),
      VEMRA_ACTION(NoiseReductionAction),
      VEMRA_ACTION(ShearAction),
      VEMRA_ACTION(AngleRotateAction),
  };
  return table;
}

#undef VEMRA_ACTION
