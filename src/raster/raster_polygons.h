#pragma once
// Filling and outlining polygons and polylines given as 16.16 points: a
// scanline filler by the even-odd and non-zero rules, an anti-aliased filler
// that counts coverage on a grid of sub-samples, polylines through the bitmap's
// line primitives, and TPolygon32, which holds several lines of points and can
// grow itself or turn itself into an outline (the draw tool's shapes).
#include <cstdint>
#include <memory>
#include <vector>

#include "raster_core.h"

class TTransformation;

using TArrayOfFixedPoint = std::vector<TFixedPoint>;
using TArrayOfArrayOfFixedPoint = std::vector<TArrayOfFixedPoint>;

// 0 even-odd, 1 non-zero.
enum TPolyFillMode : uint8_t { pfAlternate, pfWinding };

// Anti-aliasing modes 0..4: 32, 16, 8, 4 or 2 sub-samples per pixel and axis.
constexpr int32_t AntialiasModeCount = 5;
constexpr int32_t DefaultAntialiasMode = 2;

// ---- Polylines --------------------------------------------------------------------------
// Each point goes through Transformation (when given) first.

// Lines between the points rounded to whole pixels, blended when Color is not
// opaque; Closed adds the line back to the first point. One point with Closed
// is a single blended pixel; otherwise fewer than two points draw nothing.
void Polyline(TBitmap32* Bitmap, const TArrayOfFixedPoint& Points, TColor32 Color,
              bool Closed = false, TTransformation* Transformation = nullptr);
// The same with anti-aliased lines on the unrounded points.
void PolylineSmooth(TBitmap32* Bitmap, const TArrayOfFixedPoint& Points, TColor32 Color,
                    bool Closed = false, TTransformation* Transformation = nullptr);
void PolyPolyline(TBitmap32* Bitmap, const TArrayOfArrayOfFixedPoint& Points, TColor32 Color,
                  bool Closed = false, TTransformation* Transformation = nullptr);
void PolyPolylineSmooth(TBitmap32* Bitmap, const TArrayOfArrayOfFixedPoint& Points,
                        TColor32 Color, bool Closed = false,
                        TTransformation* Transformation = nullptr);

// ---- Fills ----------------------------------------------------------------------------------
// All lines are filled together; lines of fewer than three points add nothing.

// Whole pixels, opaque or blended by Color's alpha. Reports the bounds of the
// (transformed) points to the bitmap.
void FillPolygon(TBitmap32* Bitmap, const TArrayOfFixedPoint& Points, TColor32 Color,
                 TPolyFillMode FillMode = pfAlternate, TTransformation* Transformation = nullptr);
void FillPolyPolygon(TBitmap32* Bitmap, const TArrayOfArrayOfFixedPoint& Points, TColor32 Color,
                     TPolyFillMode FillMode = pfAlternate,
                     TTransformation* Transformation = nullptr);
// Anti-aliased: each pixel's coverage becomes the alpha of Color's RGB, put on
// with Color's alpha as master alpha by the bitmap's combine mode.
void FillPolygonSmooth(TBitmap32* Bitmap, const TArrayOfFixedPoint& Points, TColor32 Color,
                       TPolyFillMode FillMode = pfAlternate,
                       int32_t AntialiasMode = DefaultAntialiasMode,
                       TTransformation* Transformation = nullptr);
void FillPolyPolygonSmooth(TBitmap32* Bitmap, const TArrayOfArrayOfFixedPoint& Points,
                           TColor32 Color, TPolyFillMode FillMode = pfAlternate,
                           int32_t AntialiasMode = DefaultAntialiasMode,
                           TTransformation* Transformation = nullptr);

// The smallest rectangle holding every point; with no points the inverted
// rectangle (0x7F000000, 0x7F000000, -0x7F000000, -0x7F000000).
TFixedRect PolygonBounds(const TArrayOfFixedPoint& Points);
TFixedRect PolyPolygonBounds(const TArrayOfArrayOfFixedPoint& Points);

// ---- Scanline table (the fillers' building block) ------------------------------------------

// Bit 31 of a crossing: the edge that made it runs upward (towards smaller y).
constexpr uint32_t CrossingUpward = 0x80000000u;
constexpr uint32_t CrossingXMask = 0x7FFFFFFFu;

// One sorted list of crossings per row from FirstRow to LastRow; x limited to
// [MinX, MaxX].
struct TScanLineTable {
  int32_t FirstRow = 0;
  int32_t LastRow = -1;
  int32_t MinX = 0;
  int32_t MaxX = 0;
  std::vector<std::vector<uint32_t>> Rows;

  void Init(int32_t First, int32_t Last, int32_t MinXLimit, int32_t MaxXLimit);
};

// Adds the crossings of one closed line whose points are already in table
// units (x in 24.8 or sub-samples, y in rows or sub-rows); fewer than three
// points add nothing. Every edge steps an error term from its start row up
// to, not including, its end row, and a change of vertical direction adds a
// balancing crossing, so every row ends up with an even count.
void AddLineCrossings(TScanLineTable& Table, const std::vector<TPoint>& Points);
// Sorts each row by x (bit 31 ignored); raises EAssertionFailed for a row
// with an odd number of crossings.
void SortScanLines(TScanLineTable& Table);

// ---- TPolygon32 -------------------------------------------------------------------------------

class TPolygon32 : public TThreadPersistent {
  VEMRA_CLASS(TPolygon32, TThreadPersistent)
 public:
  // Closed, anti-aliasing mode 2, one empty line.
  TPolygon32();
  ~TPolygon32() override;

  bool Antialiased() const { return FAntialiased; }
  void SetAntialiased(bool Value);
  // Limited to 0..4.
  int32_t AntialiasMode() const { return FAntialiasMode; }
  void SetAntialiasMode(int32_t Value);
  bool Closed() const { return FClosed; }
  void SetClosed(bool Value);
  TPolyFillMode FillMode() const { return FFillMode; }
  void SetFillMode(TPolyFillMode Value);

  const TArrayOfArrayOfFixedPoint& Points() const { return FPoints; }
  // Replaces every line; the normals are discarded.
  void SetPoints(const TArrayOfArrayOfFixedPoint& Value);
  // One unit normal per point; empty until Grow or Outline builds them.
  const TArrayOfArrayOfFixedPoint& Normals() const { return FNormals; }

  // No lines and no normals, then one empty line.
  void Clear();
  // Starts another line.
  void NewLine();
  // Appends P to the last line.
  void AddPoint(const TFixedPoint& P);

  virtual void CopyPropertiesTo(TPolygon32* Dst) const;
  // Onto a TPolygon32: the properties and copies of the points and normals.
  void AssignTo(TPersistent* Dst) override;
  // Antialiased, AntialiasMode, Closed, FillMode.
  void GetPublishedProperties(TPropList& List) const override;

  // Fills with FillColor and then outlines with OutlineColor; a colour whose
  // alpha is 0 is skipped.
  void Draw(TBitmap32* Bitmap, TColor32 OutlineColor, TColor32 FillColor,
            TTransformation* Transformation = nullptr);
  void DrawFill(TBitmap32* Bitmap, TColor32 Color, TTransformation* Transformation = nullptr);
  void DrawOutline(TBitmap32* Bitmap, TColor32 Color, TTransformation* Transformation = nullptr);

  // A new polygon offset by Delta (16.16) along the normals: corners sharper
  // than EdgeSharpness (0..0.99) allows are bevelled, the others mitred.
  std::unique_ptr<TPolygon32> Grow(TFixed Delta, float EdgeSharpness = 0.0f);
  // A new polygon whose lines run forward and back along this one's, so that
  // growing it gives a stroke.
  std::unique_ptr<TPolygon32> Outline();

 protected:
  void BuildNormals();

 private:
  bool FAntialiased = false;
  int32_t FAntialiasMode = DefaultAntialiasMode;
  bool FClosed = true;
  TPolyFillMode FFillMode = pfAlternate;
  TArrayOfArrayOfFixedPoint FPoints;
  TArrayOfArrayOfFixedPoint FNormals;
};
