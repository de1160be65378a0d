#include "zub_params.h"

#include "img_common.h"
#include "img_comp.h"
#include "img_conv.h"
#include "img_effects.h"
#include "img_frac.h"
#include "img_lut.h"

namespace {

struct TKindText {
  const char* Caption;
  const char* Label1;
  const char* Label2;
  const char* Label4;
  bool Channels;
};

constexpr TKindText kKinds[kParamKindCount] = {
    {"Brightness/Contrast", "Brightness:", "Contrast:", "None:", true},
    {"Red/Green/Blue", "Red:", "Green:", "Blue:", false},
    {"Unsharp Mask (Gauss)", "Strength:", "None:", "None:", false},
    {"Sobel", "Strength:", "None:", "None:", false},
    {"Prewitt", "Strength:", "None:", "None:", false},
    {"Hue/Saturation/Luminance", "Hue:", "Saturation:", "Luminance:", true},
    {"Mosaic", "Radius:", "Power:", "None:", false},
    {"Gamma", "Gamma:", "None:", "None:", false},
    {"Spray", "Radius:", "None:", "None:", false},
    {"Hole", "Power:", "None:", "None:", false},
    {"Twirl", "Power:", "Type:", "None:", false},
    {"Mandelbrot", "Coef.:", "None:", "None:", false},
    {"Unsharp Mask (Laplace)", "Strength:", "None:", "None:", false},
    {"Quantize", "Radius:", "None:", "None:", true},
};

// A slider position in hundredths, worked out in extended precision and then
// stored in the routine's own parameter type.
template <class T>
T Hundredths(int32_t P) {
  return static_cast<T>(static_cast<long double>(P) / 100);
}

}  // namespace

TParamDialogSetup ParamDialogSetupFor(int32_t Kind) {
  TParamDialogSetup s;
  if (Kind < 1 || Kind > kParamKindCount) return s;
  const TKindText& k = kKinds[Kind - 1];
  s.Kind = Kind;
  s.Caption = k.Caption;
  s.Label1 = k.Label1;
  s.Label2 = k.Label2;
  s.Label4 = k.Label4;
  s.ChannelsVisible = k.Channels;
  return s;
}

void ApplyParamEffect(int32_t Kind, TBitmap32* Dst, TBitmap32* Src, const TParamValues& V, TColor32 Foreground,
                      TColor32 Background, int32_t RadiusDivisor) {
  if (Dst == nullptr || Src == nullptr) return;
  const int32_t radius = RadiusDivisor > 1 ? V.P1 / RadiusDivisor : V.P1;
  switch (Kind) {
    case 1:
      BrightnessContrastCopy(Dst, Src, V.P1, V.P2, V.Red, V.Green, V.Blue, 255);
      break;
    case 2:  // the dialog's labels: red slider 1, green slider 2, blue slider 3 (TrackBar4)
      OffsetChannelsCopy(Dst, Src, V.P1, V.P2, V.P4, 255);
      break;
    case 3:
      Sharpen(Dst, Src, 0, Hundredths<float>(V.P1));
      break;
    case 13:
      Sharpen(Dst, Src, 1, Hundredths<float>(V.P1));
      break;
    case 4:
      SobelEdges(Dst, Src, Hundredths<float>(V.P1));
      break;
    case 5:
      PrewittEdges(Dst, Src, Hundredths<float>(V.P1));
      break;
    case 6:  // hue slider 1, saturation slider 2, luminance slider 3
      HslScale(Dst, Src, V.P1, V.P2, V.P4, V.Red, V.Green, V.Blue);
      break;
    case 7:
      EffectMosaic(Dst, Src, radius, Background, static_cast<float>(V.P2));
      break;
    case 8:
      GammaCorrectCopy(Dst, Src, 255, Hundredths<double>(V.P1));
      break;
    case 9:
      EffectSpray(Dst, Src, radius);
      break;
    case 10:
      EffectHole(Dst, Src, Background, Hundredths<float>(V.P1));
      break;
    case 11:
      EffectTwirl(Dst, Src, V.P2, Hundredths<float>(V.P1));
      break;
    case 12:
      // The set is drawn over a copy of the source: a point that gives no
      // number keeps the source's pixel.
      PrepareCopy(Dst, Src);
      RenderMandelbrot(Dst, Hundredths<long double>(V.P1));
      break;
    case 14:  // ink the background colour, paper the foreground colour
      EffectQuantize(Dst, Src, radius, Background, Foreground, V.Red, V.Green, V.Blue);
      break;
    default:
      break;
  }
}
