#pragma once
// Rank filters: every pixel replaced by a statistic of the square window of
// radius r around it (minimum, maximum, mean, median, variance, deviation),
// and the edge-preserving Kuwahara filter, which takes the mean of the least
// varied of four quadrants. Windows are clipped to the image; every read sees
// the image as it was before the call; the result is put with the level.
#include <cstdint>
#include <vector>

#include "raster_core.h"

// Copies rows Top..Bottom, columns Left..Right (inclusive) of Src into Buffer
// row by row; returns the count (0 when Bottom < Top). Buffer must have room.
int32_t GatherWindow(const TBitmap32* Src, TColor32* Buffer, int32_t Left, int32_t Top, int32_t Right,
                     int32_t Bottom);

// Statistics over n >= 1 window entries; each returns alpha 255.
TColor32 WindowMin(const TColor32* Buffer, int32_t N);
TColor32 WindowMax(const TColor32* Buffer, int32_t N);
TColor32 WindowMean(const TColor32* Buffer, int32_t N);
// The pixel of median intensity by Hoare's selection; reorders the buffer.
TColor32 WindowMedian(TColor32* Buffer, int32_t N);
// Per channel (n*q - s*s) div n of the values less the window minimum; changes the buffer.
TColor32 WindowVariance(TColor32* Buffer, int32_t N);
TColor32 WindowDeviation(TColor32* Buffer, int32_t N);

// Kind 1 min, 2 max, 3 mean, 4 median, 5 variance, 6 deviation; other kinds do nothing.
void RankFilter(TBitmap32* Bmp, int32_t Kind, int32_t Radius, int32_t Level);
void MinFilter(TBitmap32* Bmp, int32_t Radius, int32_t Level);
void MaxFilter(TBitmap32* Bmp, int32_t Radius, int32_t Level);
void MeanFilter(TBitmap32* Bmp, int32_t Radius, int32_t Level);
void MedianFilter(TBitmap32* Bmp, int32_t Radius, int32_t Level);
void VarianceFilter(TBitmap32* Bmp, int32_t Radius, int32_t Level);
void DeviationFilter(TBitmap32* Bmp, int32_t Radius, int32_t Level);
void KuwaharaFilter(TBitmap32* Bmp, int32_t Radius, int32_t Level);
