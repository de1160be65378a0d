#pragma once
// Filtering with integer 3x3 and 5x5 kernels. A kernel is written row by row
// from the top left and applied as a correlation (not mirrored): entry k of a
// 3x3 kernel weighs the pixel at (x + k mod 3 - 1, y + k div 3 - 1). The sum
// is divided by the divisor (truncating toward zero) and the bias added; the
// result is clamped to a byte. Edge pixels are repeated outwards, every read
// sees the image as it was before the call, alpha is never written.
#include <cstdint>
#include <functional>

#include "raster_core.h"

// R, G and B of Bmp filtered in place. Divisor 0 does nothing.
void Convolve3x3(const int32_t* Kernel, int32_t Divisor, TBitmap32* Bmp, int32_t Bias);
void Convolve5x5(const int32_t* Kernel, int32_t Divisor, TBitmap32* Bmp, int32_t Bias);
// Only the channels of Channels (4 red, 2 green, 1 blue) and only where the
// new value differs from the old by less than Threshold.
void Convolve3x3Masked(const int32_t* Kernel, int32_t Divisor, TBitmap32* Bmp, int32_t Bias, int32_t Channels,
                       int32_t Threshold);
void Convolve5x5Masked(const int32_t* Kernel, int32_t Divisor, TBitmap32* Bmp, int32_t Bias, int32_t Channels,
                       int32_t Threshold);

// Calls PerPixel with the address of every pixel, row by row from the top.
void ForEachPixel(TBitmap32* Bmp, const std::function<void(TColor32*)>& PerPixel);
// The blur-map step: v = ClampToByte(abs(blue - 127) * 2) into R, G and B; alpha kept.
void BlurMapPixel(TColor32* Pixel);

// Mode 0 unsharp mask, mode 1 Laplacian; Src sharpened into Dst.
void Sharpen(TBitmap32* Dst, TBitmap32* Src, int32_t Mode, float Amount);
// Gradient magnitude of two kernels mixed with Src: Amount 1 is the pure
// magnitude, 0 (almost) Src; Amount is limited to 0..1.
void EdgeMagnitude(TBitmap32* Dst, TBitmap32* Src, const int32_t* Kernel1, const int32_t* Kernel2, int32_t Divisor1,
                   int32_t Divisor2, float Amount);
void SobelEdges(TBitmap32* Dst, TBitmap32* Src, float Amount);
void PrewittEdges(TBitmap32* Dst, TBitmap32* Src, float Amount);
