#pragma once
// Colour-space conversions done in place: grey scale, one channel spread to
// grey or kept alone, H/S/L and Y/Cb/Cr packed into the three colour bytes
// and back, and the scaling of hue, saturation and lightness.
//
// Packed H/S/L: red holds hue, green saturation, blue lightness, each
// round(value * 255). Packed Y/Cb/Cr: green holds Y, red Cr, blue Cb (offset 128).
// A channel shift of 16 selects red, 8 green, 0 blue.
#include <cstdint>

#include "raster_core.h"

// Each pixel's intensity in R, G and B with alpha Level, put with BlendPixelInto.
void Greyscale(TBitmap32* Bmp, int32_t Level);
void ChannelToGrey(TBitmap32* Bmp, int32_t Shift);
// The other two colour bytes become 0; alpha kept.
void KeepChannel(TBitmap32* Bmp, int32_t Shift);
void RgbToHslBytes(TBitmap32* Bmp);
void HslBytesToRgb(TBitmap32* Bmp);
void RgbToYCbCr(TBitmap32* Bmp);
void YCbCrToRgb(TBitmap32* Bmp);
// Src scaled in hue, saturation and lightness into Dst; only the chosen colour
// bytes take the result, the others (and alpha) stay Src's.
void HslScale(TBitmap32* Dst, TBitmap32* Src, int32_t HuePercent, int32_t SatPercent, int32_t LightPercent,
              bool DoRed, bool DoGreen, bool DoBlue);
