#pragma once
// Pixel sorting: every pixel of an image ordered by one key (intensity, a
// channel, hue, saturation or lightness), which turns a picture into smooth
// bands of its own colours. The array is filled from its start with the
// smallest keys; passed a bitmap's pixel array this means from the top left.
#include <cstdint>

#include "raster_core.h"

// Sorts Pixels and Keys together by ascending key (signed) with a comb sort.
// Not stable. Nothing for N <= 0.
void CombSortPixels(TColor32* Pixels, int32_t* Keys, int64_t N);
// Key 0 intensity, 1 red, 2 green, 3 blue, 4 alpha, 5 hue, 6 saturation,
// 7 lightness (the last three as round(value * 255)); nothing for another key.
// The caller sends the change notification.
void SortPixels(TColor32* Pixels, int64_t N, int32_t Key);
// The key of one pixel as SortPixels computes it (0 for an unknown key).
int32_t PixelSortKey(TColor32 C, int32_t Key);
