#pragma once
// Clipping of an integer line to a rectangle.
#include <cstdint>

// Clips the line (X1, Y1)-(X2, Y2) to MinX..MaxX and MinY..MaxY (bounds
// inclusive), moving the end points along the line with rounded
// interpolation. False when no part of the line is inside.
bool ClipLineToRect(int32_t& X1, int32_t& Y1, int32_t& X2, int32_t& Y2, int32_t MinX, int32_t MinY,
                    int32_t MaxX, int32_t MaxY);
