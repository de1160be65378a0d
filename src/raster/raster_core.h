#pragma once
// The raster engine's core types: the 32-bit pixel, points and rectangles.
#include <cstdint>

// One pixel 0xAARRGGBB; in memory B, G, R, A on little-endian.
using TColor32 = uint32_t;
// Signed 16.16 fixed point (65536 = 1.0).
using TFixed = int32_t;

struct TPoint { int32_t X = 0, Y = 0; };
struct TFixedPoint { TFixed X = 0, Y = 0; };
struct TFloatPoint { float X = 0, Y = 0; };

// Right and Bottom are exclusive: (0, 0, W, H) covers W x H pixels.
struct TRect { int32_t Left = 0, Top = 0, Right = 0, Bottom = 0; };
struct TFixedRect { TFixed Left = 0, Top = 0, Right = 0, Bottom = 0; };
struct TFloatRect { float Left = 0, Top = 0, Right = 0, Bottom = 0; };

// The bitmap class of this unit lives in its own header part.
#if __has_include("raster_core_bitmap.h")
#include "raster_core_bitmap.h"
#endif
