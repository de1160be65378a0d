#pragma once
// Measurements of an image: significant intensity levels, minima and maxima
// of intensity, of the green byte and of all colour bytes, the green mean.
#include <cstdint>

#include "raster_core.h"

// Darkest and brightest significant intensity levels (a level counts when it
// and its two neighbours hold more than about 1/1024 of the pixels).
void LevelsFromHistogram(const TBitmap32* Bmp, int32_t& Lo, int32_t& Hi);
// Min 255 and Max 0 for an empty or null bitmap.
void IntensityMinMax(const TBitmap32* Bmp, int32_t& Min, int32_t& Max);
void GreenMinMax(const TBitmap32* Bmp, int32_t& Min, int32_t& Max);
void ChannelsMinMax(const TBitmap32* Bmp, int32_t& Min, int32_t& Max);
// 0 for an empty or null bitmap.
int32_t GreenMean(const TBitmap32* Bmp);
