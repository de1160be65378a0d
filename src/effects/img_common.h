#pragma once
// What every effect shares: clamping, copying a bitmap with or without its
// properties, rectangle and coordinate helpers, and the routines that combine
// the image with a second one (the Buffer commands: merge, difference, add,
// modulate, exchange).
//
// Conventions of the effect routines: they work in place on the bitmap they
// are given; a routine taking (Dst, Src) first makes Dst a copy of Src when
// the two are different objects; a level 0..255 is applied by giving each
// result pixel that alpha and putting it onto the old pixel with
// BlendPixelInto. Null and empty bitmaps make a routine do nothing.
#include <cstdint>

#include "raster_core.h"

// A point in polar form, both parts in extended precision.
struct TPolarPoint {
  long double Radius = 0;
  long double Angle = 0;
};

// The bitmap mapped onto -1..1 and back.
TFloatPoint PixelToUnit(TFloatPoint P, int32_t W, int32_t H);
TFloatPoint UnitToPixel(TFloatPoint P, int32_t W, int32_t H);
// Angle in -pi..pi; X = 0 gives +pi/2 for Y >= 0 and -pi/2 below.
TPolarPoint CartesianToPolar(TFloatPoint P);
TFloatPoint PolarToCartesian(const TPolarPoint& P);

// 0 below 0, 255 above 255, else the value.
int32_t ClampToByte(int32_t Value);
// The same for the wide intermediate sums of the effects.
inline int32_t ClampToByte64(int64_t Value) {
  return Value < 0 ? 0 : (Value > 255 ? 255 : static_cast<int32_t>(Value));
}

// The four drawing properties that travel with a copy: Dst takes Src's draw
// mode, master alpha, outer colour and stretch filter; no size, no pixels.
void CopyDrawingProps(TBitmap32* Dst, TBitmap32* Src);
// Dst takes Src's size, draw mode, master alpha, outer colour and stretch filter; no pixels.
void CopyBitmapProps(TBitmap32* Dst, TBitmap32* Src);
// Dst becomes a copy of Src's pixels (resized when the sizes differ).
void CopyBitmap(TBitmap32* Dst, TBitmap32* Src, bool WithProps);
// Src's pixels placed with its top-left at (X, Y) of Dst, clipped to Dst.
void CopyBitmapAt(TBitmap32* Dst, TBitmap32* Src, int32_t X, int32_t Y, bool WithProps);
// The whole of Src stretched (linear filter, opaque) over the whole of Dst.
void StretchToFit(TBitmap32* Dst, TBitmap32* Src, bool WithProps);
// Exchanges the pictures; each bitmap keeps its own size.
void SwapBitmaps(TBitmap32* A, TBitmap32* B);

// Other drawn over Bmp blended with master alpha Opacity (stretched when the sizes differ).
void MergeWithOpacity(TBitmap32* Bmp, TBitmap32* Other, int32_t Opacity);
// Per channel abs(Bmp - Other), put with the level.
void DifferenceWith(TBitmap32* Bmp, TBitmap32* Other, int32_t Level);
// Per channel ClampToByte(Bmp + Other), put with the level.
void AddWith(TBitmap32* Bmp, TBitmap32* Other, int32_t Level);
// Per channel (Bmp * Other) shr 8, put with the level.
void ModulateWith(TBitmap32* Bmp, TBitmap32* Other, int32_t Level);

// (0, 0, Width, Height); all zero for a null bitmap.
TRect BitmapBounds(const TBitmap32* Bmp);
TFloatRect BitmapFloatBounds(const TBitmap32* Bmp);
TRect RoundRectF(const TFloatRect& R);
TFloatRect ClipFloatRect(const TFloatRect& R, const TFloatRect& Bounds);
// The pixels with alpha > 0, grown by (Dx, Dy) and clamped; Right and Bottom
// inclusive. Left > Right means no content.
TRect AlphaBounds(const TBitmap32* Bmp, int32_t Dx, int32_t Dy);

// ---- Shared by the effect units ----------------------------------------------

// True for a bitmap that holds pixels.
inline bool HasPixels(const TBitmap32* Bmp) {
  return Bmp != nullptr && Bmp->Width() > 0 && Bmp->Height() > 0 && Bmp->Bits() != nullptr;
}
// Levels from outside are limited to what a byte holds.
inline int32_t ClampLevel(int32_t Level) { return Level < 0 ? 0 : (Level > 255 ? 255 : Level); }
// Makes Dst a copy of Src (with properties) when they are different objects;
// the first step of every (Dst, Src) routine.
void PrepareCopy(TBitmap32* Dst, TBitmap32* Src);
// Dst resized to Src when they are different objects (no pixels, no properties).
void ResizeLike(TBitmap32* Dst, TBitmap32* Src);
