// Lookup-table adjustments: table builders and the appliers.
#include "img_lut.h"

#include <cmath>

#include "img_common.h"
#include "raster_blend.h"
#include "raster_parallel.h"

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Trunc toward zero of an extended value, limited first so that no value a
// caller can produce (huge gains, NaN) makes the conversion undefined; NaN counts as 0.
int64_t TruncWide(long double V) {
  if (std::isnan(V)) return 0;
  if (V < -1e12L) return -1000000000000LL;
  if (V > 1e12L) return 1000000000000LL;
  return static_cast<int64_t>(V);
}

// Round (ties to even) with the same limits.
int64_t RoundWide(long double V) {
  if (std::isnan(V)) return 0;
  if (V < -1e12L) return -1000000000000LL;
  if (V > 1e12L) return 1000000000000LL;
  return static_cast<int64_t>(std::nearbyint(V));
}

template <typename F>
TLut BuildLut(F Entry) {
  TLut L{};
  for (int32_t i = 0; i < 256; ++i) L[i] = static_cast<uint8_t>(ClampToByte64(Entry(i)));
  return L;
}

// Applies the tables at level 255: colour bytes from the tables, alpha kept.
void ApplyFull(TColor32* P, size_t N, const uint8_t* LutR, const uint8_t* LutG, const uint8_t* LutB) {
  for (size_t i = 0; i < N; ++i) {
    const TColor32 C = P[i];
    P[i] = (C & 0xFF000000u) | (TColor32{LutR[(C >> 16) & 0xFF]} << 16) | (TColor32{LutG[(C >> 8) & 0xFF]} << 8) |
           TColor32{LutB[C & 0xFF]};
  }
}

}  // namespace

void ApplyLut3(TBitmap32* Bmp, const uint8_t* LutR, const uint8_t* LutG, const uint8_t* LutB, int32_t Level) {
  if (Bmp == nullptr || LutR == nullptr || LutG == nullptr || LutB == nullptr) return;
  Level = ClampLevel(Level);
  if (HasPixels(Bmp)) {
    TColor32* P = Bmp->Bits();
    const size_t N = Bmp->PixelCount();
    if (Level == 255) {
      ParallelSpans(N, 1 << 16,
                    [&](size_t First, size_t Last) { ApplyFull(P + First, Last - First, LutR, LutG, LutB); });
    } else if (Level > 0) {
      // The blended result takes the level as its alpha, as BlendPixel returns it.
      const TColor32 A = static_cast<TColor32>(Level) << 24;
      ParallelSpans(N, 1 << 15, [&](size_t First, size_t Last) {
        for (size_t i = First; i < Last; ++i) {
          const TColor32 C = P[i];
          const TColor32 F = A | (TColor32{LutR[(C >> 16) & 0xFF]} << 16) | (TColor32{LutG[(C >> 8) & 0xFF]} << 8) |
                             TColor32{LutB[C & 0xFF]};
          P[i] = BlendPixel(F, C);
        }
      });
      EndMmx();
    }
    // Level 0 blends a colour of alpha 0, which returns every pixel as it was.
  }
  Bmp->Changed();
}

void ApplyLut(TBitmap32* Bmp, const uint8_t* Lut, int32_t Level) { ApplyLut3(Bmp, Lut, Lut, Lut, Level); }

TLut IdentityLut() {
  return BuildLut([](int32_t i) { return int64_t{i}; });
}

TLut OffsetLut(int32_t Offset) {
  return BuildLut([Offset](int32_t i) { return int64_t{i} + Offset; });
}

TLut ScaleLut(float Gain) {
  // The gain stays a 32-bit float; the product is exact in extended precision.
  return BuildLut([Gain](int32_t i) { return TruncWide(static_cast<long double>(i) * Gain); });
}

TLut BrightnessContrastLut(int32_t Brightness, int32_t Contrast) {
  // i * (Contrast + 100) is an integer product divided afterwards: dividing
  // first would turn 100 * 29 / 100 into 28.999...
  return BuildLut([Brightness, Contrast](int32_t i) {
    const int64_t Product = int64_t{i} * (int64_t{Contrast} + 100);
    return TruncWide(static_cast<long double>(Product) / 100.0L + Brightness);
  });
}

TLut ScaleBrightnessLut(int32_t Amount) {
  return BuildLut([Amount](int32_t i) {
    const long double F = static_cast<long double>(i) / 255.0L;
    if (Amount >= 0) return int64_t{i} + RoundWide(F * Amount);
    return int64_t{i} + RoundWide((1.0L - F) * Amount);
  });
}

TLut GammaLut(double Gamma) {
  // The + 0.5 before rounding is the adjustment's own: at gamma 1 it lifts odd values by one.
  const long double Exponent = 1.0L / static_cast<long double>(Gamma);
  return BuildLut([Exponent](int32_t i) {
    const long double F = static_cast<long double>(i) / 255.0L;
    return RoundWide(255.0L * std::pow(F, Exponent) + 0.5L);
  });
}

TLut ClipLevelsLut(int32_t Lo, int32_t LoValue, int32_t Hi, int32_t HiValue) {
  Lo = ClampToByte(Lo);
  Hi = ClampToByte(Hi);
  LoValue = ClampToByte(LoValue);
  HiValue = ClampToByte(HiValue);
  return BuildLut([=](int32_t i) {
    if (i <= Lo) return int64_t{LoValue};
    if (i > Hi) return int64_t{HiValue};
    return int64_t{i};
  });
}

TLut SineContrastLut(int32_t K) {
  // For K = +-1 the entry stays inside 0..255 by itself; the clamp of BuildLut
  // covers other factors, whose sine may round to exactly 1.
  return BuildLut([K](int32_t i) {
    const long double Arg = static_cast<long double>((int64_t{i} - 127) * K) * kPi / 255.0L;
    return 128 + TruncWide(128.0L * std::sin(Arg));
  });
}

void OffsetChannels(TBitmap32* Bmp, int32_t RedOffset, int32_t GreenOffset, int32_t BlueOffset, int32_t Level) {
  if (Bmp == nullptr) return;
  const TLut R = OffsetLut(RedOffset), G = OffsetLut(GreenOffset), B = OffsetLut(BlueOffset);
  ApplyLut3(Bmp, R.data(), G.data(), B.data(), Level);
}

void OffsetChannelsCopy(TBitmap32* Dst, TBitmap32* Src, int32_t RedOffset, int32_t GreenOffset, int32_t BlueOffset,
                        int32_t Level) {
  if (Dst == nullptr || Src == nullptr) return;
  PrepareCopy(Dst, Src);
  OffsetChannels(Dst, RedOffset, GreenOffset, BlueOffset, Level);
}

void ScaleChannels(TBitmap32* Bmp, float RedGain, float GreenGain, float BlueGain, int32_t Level) {
  if (Bmp == nullptr) return;
  const TLut R = ScaleLut(RedGain), G = ScaleLut(GreenGain), B = ScaleLut(BlueGain);
  ApplyLut3(Bmp, R.data(), G.data(), B.data(), Level);
}

void TintColors(TBitmap32* Bmp, TColor32 Color, int32_t Level) {
  // Each gain is an extended quotient handed on as a 32-bit float.
  const float R = static_cast<float>(static_cast<long double>((Color >> 16) & 0xFF) / 255.0L);
  const float G = static_cast<float>(static_cast<long double>((Color >> 8) & 0xFF) / 255.0L);
  const float B = static_cast<float>(static_cast<long double>(Color & 0xFF) / 255.0L);
  ScaleChannels(Bmp, R, G, B, Level);
}

void BrightnessContrast(TBitmap32* Bmp, int32_t Brightness, int32_t Contrast, bool DoRed, bool DoGreen, bool DoBlue,
                        int32_t Level) {
  if (Bmp == nullptr) return;
  const TLut F = BrightnessContrastLut(Brightness, Contrast);
  const TLut I = IdentityLut();
  ApplyLut3(Bmp, DoRed ? F.data() : I.data(), DoGreen ? F.data() : I.data(), DoBlue ? F.data() : I.data(), Level);
}

void BrightnessContrastCopy(TBitmap32* Dst, TBitmap32* Src, int32_t Brightness, int32_t Contrast, bool DoRed,
                            bool DoGreen, bool DoBlue, int32_t Level) {
  if (Dst == nullptr || Src == nullptr) return;
  PrepareCopy(Dst, Src);
  BrightnessContrast(Dst, Brightness, Contrast, DoRed, DoGreen, DoBlue, Level);
}

void AddBrightness(TBitmap32* Bmp, int32_t Delta, int32_t Level) {
  if (Bmp == nullptr) return;
  const TLut L = OffsetLut(Delta);
  ApplyLut(Bmp, L.data(), Level);
}

void ScaleBrightness(TBitmap32* Bmp, int32_t Amount, int32_t Level) {
  if (Bmp == nullptr || Amount >= 255 || Amount <= -255) return;
  const TLut L = ScaleBrightnessLut(Amount);
  ApplyLut(Bmp, L.data(), Level);
}

void GammaCorrect(TBitmap32* Bmp, int32_t Level, double Gamma) {
  if (Bmp == nullptr || !(Gamma > 0)) return;
  const TLut L = GammaLut(Gamma);
  ApplyLut(Bmp, L.data(), Level);
}

void GammaCorrectCopy(TBitmap32* Dst, TBitmap32* Src, int32_t Level, double Gamma) {
  if (Dst == nullptr || Src == nullptr) return;
  PrepareCopy(Dst, Src);
  GammaCorrect(Dst, Level, Gamma);
}

void ClipLevels(TBitmap32* Bmp, int32_t Lo, int32_t LoValue, int32_t Hi, int32_t HiValue, int32_t Level) {
  if (Bmp == nullptr) return;
  const TLut L = ClipLevelsLut(Lo, LoValue, Hi, HiValue);
  ApplyLut(Bmp, L.data(), Level);
}

void SineContrast(TBitmap32* Bmp, int32_t K, int32_t Level) {
  if (Bmp == nullptr) return;
  const TLut L = SineContrastLut(K);
  ApplyLut(Bmp, L.data(), Level);
}
