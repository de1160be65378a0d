#pragma once
// The drawing surface the metafile pictures play their records onto: the few
// things a device context does for a metafile (filled polygons by either fill
// rule, pens with width and dash style, hatched brushes, opaque or transparent
// background mode, text, stretched pixel blocks, a clip rectangle), rasterised
// without anti-aliasing at pixel centres the way the platform draws on a
// device-independent bitmap. Callers hand over device pixels: mapping modes,
// window/viewport extents and world transforms are the record players' own
// business. Nothing here clears the surface, so drawing a picture on two
// backgrounds tells its transparent parts from the drawn ones.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform_graphics.h"

struct TMetaPoint {
  double X = 0, Y = 0;
};

enum class TMetaFillRule { Alternate, Winding };
enum class TMetaPenStyle { Solid, Dash, Dot, DashDot, DashDotDot, Null, InsideFrame };
enum class TMetaBrushStyle { Solid, Null, Hatched };
enum class TMetaHatch { Horizontal, Vertical, FDiagonal, BDiagonal, Cross, DiagCross };

// Colours are the platform's 0x00BBGGRR.
struct TMetaPen {
  TMetaPenStyle Style = TMetaPenStyle::Solid;
  double Width = 0;  // device pixels; 0 and anything below 1 draw one pixel wide
  uint32_t Color = 0;
};

struct TMetaBrush {
  TMetaBrushStyle Style = TMetaBrushStyle::Solid;
  uint32_t Color = 0;
  TMetaHatch Hatch = TMetaHatch::Horizontal;
};

// The background mode and colour: an opaque background fills the gaps of
// dashed pens and hatches and the text cell; a transparent one leaves them.
struct TMetaBackground {
  bool Opaque = false;
  uint32_t Color = 0x00FFFFFF;
};

class TMetaCanvas {
 public:
  explicit TMetaCanvas(TPixelSurface& Surface);

  // Every later drawing is clipped to Clip (and always to the surface);
  // null lifts the clip.
  void SetClipRect(const TPlatformRect* Clip);

  // Fills the polygons as one shape (holes by the rule), closing each one.
  void FillPolygons(const std::vector<std::vector<TMetaPoint>>& Polygons, TMetaFillRule Rule,
                    const TMetaBrush& Brush, const TMetaBackground& Background);
  // Strokes the line through Points, back to the first one when Closed.
  void StrokePolyline(const std::vector<TMetaPoint>& Points, bool Closed, const TMetaPen& Pen,
                      const TMetaBackground& Background);
  void SetPixel(int32_t X, int32_t Y, uint32_t Color);
  // One line of UTF-8 text with the cell's top-left at Origin. Font.Size is
  // in points at 96 dpi (a cell height of h pixels is h * 72 / 96 points);
  // Font.Color is the text colour.
  void TextOut(TMetaPoint Origin, const std::string& Utf8, const TFont& Font,
               const TMetaBackground& Background);
  // Draws Width x Height 0x00RRGGBB pixels (top row first; the high byte is
  // ignored) stretched into Dest by nearest pixel, the way a plain
  // stretch-copy does.
  void StretchPixels(const TPlatformRect& Dest, const uint32_t* Pixels, int32_t Width,
                     int32_t Height);

  // Appends the points of an elliptic arc around (Cx, Cy) with radii Rx, Ry,
  // from StartAngle through SweepAngle (degrees, counter-clockwise on screen
  // as the platform measures them, y down), finely enough that the
  // flattened curve is within a quarter pixel of the true one.
  static void AppendArc(std::vector<TMetaPoint>& Out, double Cx, double Cy, double Rx, double Ry,
                        double StartAngle, double SweepAngle);
  // Appends a cubic Bezier from P0 (not appended) through the controls to P3.
  static void AppendBezier(std::vector<TMetaPoint>& Out, TMetaPoint P0, TMetaPoint C1,
                           TMetaPoint C2, TMetaPoint P3);

 private:
  struct TEdge {
    double X0, Y0, X1, Y1;  // Y0 < Y1
    int Dir;                // +1 where the outline runs down, -1 up
  };
  // Adds the edges of the closed polygon P[0 .. N-1] to edges_.
  void AddEdges(const TMetaPoint* P, size_t N);
  // Fills what edges_ enclose and empties it.
  void FillEdges(TMetaFillRule Rule, const TMetaBrush& Brush, const TMetaBackground& Background);
  bool Inside(int64_t X, int64_t Y) const;
  uint32_t* Row(int32_t Y) const;
  void BrushSpan(int32_t Y, int32_t X0, int32_t X1, const TMetaBrush& Brush, const TMetaBackground& Background);
  void ThinLine(int64_t X0, int64_t Y0, int64_t X1, int64_t Y1, const TMetaPen& Pen,
                const TMetaBackground& Background, int64_t& Phase);

  TPixelSurface& surface_;
  TPlatformRect clip_;
  // Scratch space kept between calls: a wide line is filled piece by piece,
  // and fresh buffers for every piece cost more than the filling.
  std::vector<TEdge> edges_;
  std::vector<const TEdge*> active_;
  std::vector<std::pair<double, int>> crossings_;
  std::vector<TMetaPoint> disc_;
};
