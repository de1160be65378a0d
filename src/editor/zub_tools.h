#pragma once
// The eight mouse tools of the main window's view: 1 Selection, 2 Brush,
// 3 Dropper, 4 Text, 5 Retouch, 6 Draw, 7 Fill, 8 Replace; the colour
// swatches and the pointer read-out.
//
// TMouseTools holds the tools' state and installs itself on the editor
// (SetToolHandler) and on the view's mouse events, which reach it after the
// layers have had them. Everything the tools ask of the window goes through
// EditorUi. A brush or retouch stroke, a fill and a replace each record one
// undo step in the image's store (the local-undo brush none) and refresh the
// caption and histogram when they end.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform_clipboard.h"
#include "raster_polygons.h"
#include "zub_lens.h"
#include "zub_main_engine.h"

// Brush kinds (PopupMenu2's item tags).
constexpr int32_t btColor = 1, btPattern = 2, btClone = 3, btLocalUndo = 4;

// The (2r + 1)^2 bytes of a round brush of radius R, row-major: the centre is
// the hardest, falling by k per pixel of distance with
// k = max(1, ((2 * Density) div R)^2), so a low density still paints.
std::vector<uint8_t> BuildBrushMask(int32_t R, int32_t Density);

// The alpha ramp of Fill and Replace: entry i for a colour distance i below
// Tolerance, by the mode's kind (soft, hard or solid).
std::vector<uint8_t> FillRamp(int32_t Mode, int32_t Alpha, int32_t Tolerance);

// Flood fill of Bmp from (SX, SY) over the 8-connected pixels whose colour
// distance to the seed's is below Tolerance. Modes: 10 and 11 fade with the
// distance from the seed, 20..22 paint Pattern (symmetric, fixed, floating;
// null or empty: one transparent pixel), others the colour Fill. Returns the
// number of pixels filled, the seed included; 0 for a seed outside Bmp.
int64_t FloodFill(TBitmap32* Bmp, int32_t SX, int32_t SY, TColor32 Fill, int32_t Alpha, int32_t Tolerance,
                  int32_t Mode, const TBitmap32* Pattern);
// Puts Fill over every pixel whose colour distance to Seed is below
// Tolerance; modes 101..103 keep each pixel's luminance, 111..113 part of it.
void ReplaceColor(TBitmap32* Bmp, TColor32 Seed, TColor32 Fill, int32_t Alpha, int32_t Tolerance, int32_t Mode);

// Which PopupMenu3 items apply: for Fill (tool 7) tags below 100, for
// Replace (tool 8) tags below 10 or from 101 on.
bool FillModeApplies(int32_t Tool, int32_t Tag);

// "#RRGGBB" of C's colour bits.
std::string ColorHex(TColor32 C);

// The retouch effects of ComboBox1, by item index.
const std::vector<int32_t>& RetouchEffectTags();

class TMouseTools {
 public:
  // Installs the tools on E and E's view; both outlive the tools.
  explicit TMouseTools(TEditor& E);
  ~TMouseTools();
  TMouseTools(const TMouseTools&) = delete;
  TMouseTools& operator=(const TMouseTools&) = delete;

  // ---- State -------------------------------------------------------------------------------
  int32_t gBrushType = btColor;
  std::vector<uint8_t> gBrushMask;
  std::unique_ptr<TBitmap32> gBrushDab;  // only during a stroke
  int32_t gBrushSpacing = 1;
  TPoint gSourcePoint{}, gCloneStart{};     // control coordinates
  TPoint gClickPoint{}, gLastMousePoint{};  // control coordinates
  int32_t gMouseButton = 0;                 // 0 left, 1 right, 2 middle
  bool gCreatingSelection = false, gMovingSelection = false, gBrushStroke = false, gRetouchStroke = false;
  int32_t gRetouchTag = 0;
  std::unique_ptr<TPolygon32> gDrawPolygon;
  int32_t gSnapGrid = 1;  // settings value "drawgrid"; 1 = off
  TColor32 gSavedForeground = 0xFFFFFFFFu;
  TReferencePoints gReference;
  // The text tool's font and last text (settings "font.name", "font.size",
  // "font.style", "usertext").
  std::string gFontName;  // empty until chosen: the text dialog starts with Arial
  int32_t gFontSize = 12;
  int32_t gFontStyle = 0;
  std::string gUserText;
  // Where the pattern fill takes its picture; null: the desktop clipboard.
  TClipboard* gClipboard = nullptr;

  // ---- Tools -------------------------------------------------------------------------------
  void SetTool(int32_t Tool);
  // The size gauge moved: the brush mask follows.
  void GaugeBar2Change();
  void RebuildBrushMask();
  // The rendered colour under control point (X, Y) to the button's swatch.
  void PickColor(int32_t X, int32_t Y, TMouseButton Button);

  // The view's mouse events (after the layers).
  void Image321MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
  void Image321MouseMove(TShiftState Shift, int32_t X, int32_t Y);
  void Image321MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
  // The pointer left the view: the Dropper's preview in the label ends.
  void Image321MouseLeave();

  // PopupMenu2's items: the brush kind Tag with its source at the last click.
  void PatternfromHere1Click(int32_t Tag);
  // PopupMenu3's items, and a plain click of Fill or Replace: fills at the
  // last click with Mode.
  void FillAtClick(int32_t Mode);

  // ---- Swatches ----------------------------------------------------------------------------
  // The labels under the swatches: "#RRGGBB" of background and foreground.
  void PaintBoxPaint();
  // A click on a swatch: the colour dialog; on OK the swatch takes the colour.
  void PaintBox1Click(TSwatch Swatch);

  // ---- PopupMenu4 ----------------------------------------------------------------------------
  void DefinePoint1Click() { DefinePoint(fE, gReference, gClickPoint); }
  void DefinePointatCenter1Click() { ::DefinePointatCenter1Click(fE, gReference); }
  void UndefineLastPoint1Click() { ::UndefineLastPoint1Click(fE, gReference); }
  void ClearPoints1Click() { ClearPoints(fE, gReference); }
  void PopupMenu4Popup() { ::PopupMenu4Popup(fE, gReference); }
  void CorrectVignettingfromHere1Click() { PointOperation(CorrectVignetting, 0); }
  void CorrectVignettingfromHerelargeaxis1Click() { PointOperation(CorrectVignetting, 1); }
  void LighteningGradientfromP1toHere1Click() { PointOperation(LighteningGradient, 0); }
  void CorrectBarrelDistortionfromHere1Click() { PointOperation(CorrectBarrelPincushion, 0); }
  void CorrectPincushionDistortionfromHere1Click() { PointOperation(CorrectBarrelPincushion, 1); }
  void LevelImagefromP1toHere1Click() { PointOperation(LevelStraighten, 0); }
  void StraightenImageFromP1toHere1Click() { PointOperation(LevelStraighten, 1); }

 private:
  void PointOperation(TPointWorker Worker, int32_t Mode) {
    ApplyPointOperation(fE, gReference, gClickPoint, Worker, Mode);
  }
  TSwatch SwatchOf(int32_t Button) const;
  bool MapsInside(int32_t X, int32_t Y, TPoint& BitmapPoint);
  // The rendered colour under a control point, alpha dropped; false off the bitmap.
  bool RenderedColor(int32_t X, int32_t Y, TColor32& Color);
  void SelectionDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
  void BrushDown(TShiftState Shift, int32_t X, int32_t Y);
  void RetouchDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
  void DrawDown(int32_t X, int32_t Y);
  void DrawUp(TMouseButton Button, TShiftState Shift);
  void TextUp(int32_t X, int32_t Y);
  // Makes gBrushDab for the brush kind at control point (X, Y); false when
  // there is nothing to make it from.
  bool MakeDab(int32_t X, int32_t Y);
  void MakeSourceDab(const TBitmap32* Source, const TPoint& Centre);
  void BrushAt(int32_t X, int32_t Y);
  void RetouchAt(int32_t X, int32_t Y);
  // Steps from the last point to (X, Y) at the brush spacing, then (X, Y).
  template <class Step>
  void Interpolate(int32_t X, int32_t Y, Step&& At);
  void EndStroke();

  TEditor& fE;
  int32_t fHintMoves = -1;  // mouse moves since the colour hint showed; -1 none shown
};
