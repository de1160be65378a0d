#pragma once
// Corrections anchored at points of the image: vignetting, barrel and
// pincushion distortion from the clicked point, and a lightening gradient,
// levelling and straightening from a reference point P1 to the clicked point.
//
// Reference points are kept in bitmap coordinates, each with a one-pixel
// marker frame in the view. A correction works on the document itself, not
// through the command engine: it records its own undo step, so a selection
// does not limit it and Redo does not repeat it.
#include <cstdint>
#include <memory>
#include <vector>

#include "raster_core.h"
#include "zub_main_engine.h"

// The defined reference points (P1 first) and their markers, side by side.
// A marker may vanish with the layers (Delete All of the view's collection);
// its reference then holds null and is skipped.
struct TReferencePoints {
  std::vector<TPoint> gPoints;
  std::vector<std::unique_ptr<TLayerRef<TRubberbandLayer>>> gPointMarkers;
  int32_t Count() const { return static_cast<int32_t>(gPoints.size()); }
};

// A correction on Bitmap: Alpha is the alpha gauge, Click the clicked point
// in bitmap coordinates, Points the reference points.
using TPointWorker = void (*)(TBitmap32* Bitmap, int32_t Alpha, const TPoint& Click, int32_t Mode,
                              const std::vector<TPoint>& Points);

// Brightens every pixel by how far it lies outside the circle around Click
// whose radius is the distance to the nearest edge (mode 0) or the farthest
// (mode 1). Alpha is kept.
void CorrectVignetting(TBitmap32* Bitmap, int32_t Alpha, const TPoint& Click, int32_t Mode,
                       const std::vector<TPoint>& Points);
// Brightens P1's side of the line through Click perpendicular to P1-Click,
// the more the farther from that line.
void LighteningGradient(TBitmap32* Bitmap, int32_t Alpha, const TPoint& Click, int32_t Mode,
                        const std::vector<TPoint>& Points);
// Turns the image so that P1-Click becomes horizontal (mode 0) or vertical
// (mode 1), by the smaller turn: never more than a quarter turn either way.
void LevelStraighten(TBitmap32* Bitmap, int32_t Alpha, const TPoint& Click, int32_t Mode,
                     const std::vector<TPoint>& Points);
// Pulls the picture in towards Click (mode 0, barrel) or pushes it out
// (mode 1, pincushion), the more the farther from Click.
void CorrectBarrelPincushion(TBitmap32* Bitmap, int32_t Alpha, const TPoint& Click, int32_t Mode,
                             const std::vector<TPoint>& Points);
// The distance the barrel correction measures in: half the width's diagonal
// square, rounded (71 for width 100); 0 for images narrower than 2 pixels.
int32_t BarrelNorm(int32_t Width);

// ---- Reference points --------------------------------------------------------------------

// When ControlPoint maps inside the bitmap: its bitmap point becomes the next
// reference point, with a marker at the control point.
void DefinePoint(TEditor& E, TReferencePoints& P, const TPoint& ControlPoint);
void DefinePointatCenter1Click(TEditor& E, TReferencePoints& P);
void UndefineLastPoint1Click(TEditor& E, TReferencePoints& P);
// Frees every marker, last first, and forgets the points.
void ClearPoints(TEditor& E, TReferencePoints& P);
// The reference-point popup's captions and enabled items for its state now.
void PopupMenu4Popup(TEditor& E, const TReferencePoints& P);

// Runs Worker on the document when ClickPoint (control coordinates) maps
// inside it: one undo step, timing, change, caption and histogram; the
// reference points are cleared afterwards.
void ApplyPointOperation(TEditor& E, TReferencePoints& P, const TPoint& ClickPoint, TPointWorker Worker,
                         int32_t Mode);
