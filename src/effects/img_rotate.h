#pragma once
// Turning and mirroring images: exact flips and quarter turns that move
// pixels, and rotation by any angle through an affine transformation with
// cubic resampling into a bitmap of the rotated bounding size.
#include <cstdint>

#include "raster_core.h"

// Rows y and Height - 1 - y exchanged; no change notification.
void FlipVertical(TBitmap32* Bmp);
// In every row, pixels x and Width - 1 - x exchanged; no change notification.
void MirrorHorizontal(TBitmap32* Bmp);
// Mode 1 a quarter turn clockwise, 2 a half turn, 3 three quarter turns
// clockwise; Bmp takes the new size. Any other mode does nothing.
void RotateQuarterTurns(TBitmap32* Bmp, int32_t Mode);
// Rotation by Degrees (positive turns clockwise on screen); Bmp takes the
// bounding size of the rotated image, and the corners outside it are
// transparent black. Nothing for an angle that is not a finite number.
void RotateByAngle(TBitmap32* Bmp, float Degrees);
