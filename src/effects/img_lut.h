#pragma once
// Colour adjustments through 256-entry byte tables: one table per colour
// channel, indexed by the channel's old value. Every adjustment builds its
// tables and hands them to ApplyLut3, which writes them fully (level 255,
// alpha kept) or blended with the level. Channel arguments are always in the
// order red, green, blue.
#include <array>
#include <cstdint>

#include "raster_core.h"

using TLut = std::array<uint8_t, 256>;

// Applies the three tables; null tables or a null bitmap do nothing.
void ApplyLut3(TBitmap32* Bmp, const uint8_t* LutR, const uint8_t* LutG, const uint8_t* LutB, int32_t Level);
// The same table for all three channels.
void ApplyLut(TBitmap32* Bmp, const uint8_t* Lut, int32_t Level);

// ---- Table builders (entry i is the new value of old value i) -------------------
TLut IdentityLut();
TLut OffsetLut(int32_t Offset);
TLut ScaleLut(float Gain);
TLut BrightnessContrastLut(int32_t Brightness, int32_t Contrast);
TLut ScaleBrightnessLut(int32_t Amount);
TLut GammaLut(double Gamma);
TLut ClipLevelsLut(int32_t Lo, int32_t LoValue, int32_t Hi, int32_t HiValue);
TLut SineContrastLut(int32_t K);

// ---- Adjustments ----------------------------------------------------------------
void OffsetChannels(TBitmap32* Bmp, int32_t RedOffset, int32_t GreenOffset, int32_t BlueOffset, int32_t Level);
void OffsetChannelsCopy(TBitmap32* Dst, TBitmap32* Src, int32_t RedOffset, int32_t GreenOffset, int32_t BlueOffset,
                        int32_t Level);
void ScaleChannels(TBitmap32* Bmp, float RedGain, float GreenGain, float BlueGain, int32_t Level);
// ScaleChannels with the gains R/255, G/255, B/255 of Color.
void TintColors(TBitmap32* Bmp, TColor32 Color, int32_t Level);
void BrightnessContrast(TBitmap32* Bmp, int32_t Brightness, int32_t Contrast, bool DoRed, bool DoGreen, bool DoBlue,
                        int32_t Level);
void BrightnessContrastCopy(TBitmap32* Dst, TBitmap32* Src, int32_t Brightness, int32_t Contrast, bool DoRed,
                            bool DoGreen, bool DoBlue, int32_t Level);
void AddBrightness(TBitmap32* Bmp, int32_t Delta, int32_t Level);
// Nothing at all when abs(Amount) >= 255.
void ScaleBrightness(TBitmap32* Bmp, int32_t Amount, int32_t Level);
// Nothing at all unless Gamma > 0.
void GammaCorrect(TBitmap32* Bmp, int32_t Level, double Gamma);
void GammaCorrectCopy(TBitmap32* Dst, TBitmap32* Src, int32_t Level, double Gamma);
void ClipLevels(TBitmap32* Bmp, int32_t Lo, int32_t LoValue, int32_t Hi, int32_t HiValue, int32_t Level);
// K = 1 steepens the middle of the range, K = -1 flattens it.
void SineContrast(TBitmap32* Bmp, int32_t K, int32_t Level);
