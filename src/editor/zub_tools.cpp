// The mouse tools. A press first settles what every tool shares (the
// reference points, the click point, the button), then goes to the tool;
// moves continue a drag in progress; the release ends it. Brush and retouch
// strokes place their dabs at a fixed spacing between the pointer's reports,
// so a fast stroke leaves no gaps.
#include "zub_tools.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "img_clipboard.h"
#include "img_common.h"
#include "img_viewcoords.h"
#include "raster_blend.h"
#include "zub_layers.h"

namespace {

constexpr TShiftState kModifiers = ssShift | ssCtrl | ssAlt;

int32_t ColorDistance(TColor32 A, TColor32 B) {
  return std::abs(static_cast<int32_t>((A >> 16) & 0xFF) - static_cast<int32_t>((B >> 16) & 0xFF)) +
         std::abs(static_cast<int32_t>((A >> 8) & 0xFF) - static_cast<int32_t>((B >> 8) & 0xFF)) +
         std::abs(static_cast<int32_t>(A & 0xFF) - static_cast<int32_t>(B & 0xFF));
}

TColor32 WithAlpha(TColor32 C, int32_t Alpha) {
  return (C & 0x00FFFFFFu) | (static_cast<TColor32>(ClampToByte(Alpha)) << 24);
}

// Fills and outlines paint with the swatch's colour as an opaque colour.
TColor32 Opaque(TColor32 C) { return C | 0xFF000000u; }

TRect Square(int32_t Left, int32_t Top, int32_t Side) { return TRect{Left, Top, Left + Side, Top + Side}; }

bool Inside(const TBitmap32* B, int32_t X, int32_t Y) {
  return X >= 0 && Y >= 0 && X < B->Width() && Y < B->Height();
}

// A fill or replace colour over a pixel. At full alpha the colour itself, as
// a brush dab puts it: the register blend's formula alone leaves one level of
// the old colour in a channel that changes by more than half the range.
TColor32 PutOver(TColor32 C, TColor32 Pixel) { return C >> 24 == 255 ? C : BlendPixel(C, Pixel); }

// A pattern pixel's alpha scaled by a ramp value; a full ramp keeps it whole.
int32_t ScaledPatternAlpha(TColor32 P, uint32_t T) {
  return static_cast<int32_t>(T == 255 ? P >> 24 : ((P >> 24) * T) >> 8);
}

// Which ramp a fill or replace mode uses.
enum class TRampKind { Soft, Hard, Solid };

TRampKind RampKind(int32_t Mode) {
  switch (Mode) {
    case 2: case 10: case 11: case 102: case 112: return TRampKind::Hard;
    case 3: case 103: case 113: return TRampKind::Solid;
    default: return TRampKind::Soft;
  }
}

const char* const kToolStatus[] = {
    nullptr,
    "Click and drag to select. Ctrl+Click to choose a color.",
    "Choose transparency, size and density. Ctrl+Click to select brush type: color, pattern, clone or undo.",
    "Click to choose a color.",
    nullptr,
    "Choose the effect to apply, transparency, size and density",
    nullptr,
    "Click to fill with color and transparency.",
    "Click to replace with color and transparency.",
};

}  // namespace

// ---- Free routines ----------------------------------------------------------------------------

std::vector<uint8_t> BuildBrushMask(int32_t R, int32_t Density) {
  if (R < 1) return std::vector<uint8_t>(1, 0);  // a brush of no radius has no body
  const int64_t q = (2 * static_cast<int64_t>(Density)) / R;
  // With the plain square every density below R / 2 gave k = 0, a brush
  // that paints nothing; 1 is the softest brush that still paints.
  const int64_t k = std::max<int64_t>(1, q * q);
  const int32_t side = 2 * R + 1;
  std::vector<uint8_t> mask(static_cast<size_t>(side) * side);
  for (int32_t y = 0; y < side; ++y)
    for (int32_t x = 0; x < side; ++x) {
      const int64_t dy = y - R, dx = x - R;
      const int64_t dist = static_cast<int64_t>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
      const int64_t v = (R - dist) * k;
      mask[static_cast<size_t>(y) * side + x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  return mask;
}

std::vector<uint8_t> FillRamp(int32_t Mode, int32_t Alpha, int32_t Tolerance) {
  std::vector<uint8_t> t(static_cast<size_t>(std::max(Tolerance, 0)));
  const int64_t a = Alpha;
  for (int32_t i = 0; i < Tolerance; ++i) {
    const int64_t fall = 255 - static_cast<int64_t>(i) * 255 / Tolerance;
    int64_t v = 0;
    switch (RampKind(Mode)) {
      case TRampKind::Soft: v = a * fall / 255; break;
      case TRampKind::Hard: v = (fall * a) / 64; break;  // the shift, rounding toward zero
      case TRampKind::Solid: v = a; break;
    }
    t[static_cast<size_t>(i)] = static_cast<uint8_t>(ClampToByte64(v));
  }
  return t;
}

int64_t FloodFill(TBitmap32* Bmp, int32_t SX, int32_t SY, TColor32 Fill, int32_t Alpha, int32_t Tolerance,
                  int32_t Mode, const TBitmap32* Pattern) {
  if (Bmp == nullptr || !Inside(Bmp, SX, SY)) return 0;
  const int32_t w = Bmp->Width(), h = Bmp->Height();
  TColor32* bits = Bmp->Bits();
  const std::vector<uint8_t> ramp = FillRamp(Mode, Alpha, Tolerance);
  const int32_t a = ClampToByte(Alpha);
  const TColor32 seed = bits[static_cast<ptrdiff_t>(SY) * w + SX];

  // An empty pattern paints one transparent pixel: nothing shows, nothing breaks.
  TBitmap32 blank;
  const bool patterned = Mode >= 20 && Mode <= 22;
  if (patterned && (Pattern == nullptr || Pattern->Empty())) {
    blank.SetSize(1, 1);
    blank.Clear(0);
    Pattern = &blank;
  }
  const int32_t pw = patterned ? Pattern->Width() : 1, ph = patterned ? Pattern->Height() : 1;
  const int32_t ox = SX % pw, oy = SY % ph;
  auto patternPixel = [&](int32_t x, int32_t y) {
    switch (Mode) {
      case 20: return Pattern->GetPixel(std::abs(x - SX) % pw, std::abs(y - SY) % ph);
      case 21: return Pattern->GetPixel(x % pw, y % ph);
      default: return Pattern->GetPixel((x + pw - ox) % pw, (y + ph - oy) % ph);
    }
  };
  // The gradient's length, in double: W^2 + H^2 passes 32 bits on large images.
  const double len = Mode == 10   ? std::sqrt(static_cast<double>(w) * w + static_cast<double>(h) * h)
                     : Mode == 11 ? static_cast<double>(w) + h
                                  : 1.0;

  TColor32 first = WithAlpha(Fill, a);
  if (patterned) {
    const TColor32 p = patternPixel(SX, SY);
    first = WithAlpha(p, ScaledPatternAlpha(p, static_cast<uint32_t>(a)));
  }
  // What a pixel of the region receives; the seed takes the gauge's alpha.
  auto paint = [&](int32_t x, int32_t y, TColor32& px, int32_t d) {
    if (x == SX && y == SY) {
      px = PutOver(first, px);
      return;
    }
    const uint32_t t = ramp[static_cast<size_t>(d)];
    TColor32 c;
    if (Mode == 10 || Mode == 11) {
      const int64_t ddx = static_cast<int64_t>(x) - SX, ddy = static_cast<int64_t>(y) - SY;
      const double dist = Mode == 10 ? std::sqrt(static_cast<double>(ddx * ddx + ddy * ddy))
                                     : static_cast<double>(std::abs(ddx) + std::abs(ddy));
      const double v = std::nearbyint((1 - dist / len) * t);
      c = WithAlpha(Fill, v < 0 ? 0 : static_cast<int32_t>(v));
    } else if (patterned) {
      const TColor32 p = patternPixel(x, y);
      c = WithAlpha(p, ScaledPatternAlpha(p, t));
    } else {
      c = WithAlpha(Fill, static_cast<int32_t>(t));
    }
    px = PutOver(c, px);
  };

  // The region is the 8-connected set of pixels within the tolerance that
  // holds the seed, and each pixel's result depends on its own colour alone,
  // so the order of visiting is free: runs along rows are filled whole and
  // the rows above and below are searched for new runs, each pixel marked
  // as it is taken so that no painted pixel is measured again.
  std::vector<uint8_t> visited(static_cast<size_t>(w) * h, 0);
  auto within = [&](const TColor32* row, const uint8_t* seen, int32_t x) {
    return !seen[x] && (ColorDistance(row[x], seed) < Tolerance);
  };
  std::vector<TPoint> stack;
  stack.push_back(TPoint{SX, SY});
  int64_t filled = 0;
  while (!stack.empty()) {
    const TPoint p = stack.back();
    stack.pop_back();
    TColor32* row = bits + static_cast<ptrdiff_t>(p.Y) * w;
    uint8_t* seen = visited.data() + static_cast<ptrdiff_t>(p.Y) * w;
    if (seen[p.X]) continue;
    if (!(p.X == SX && p.Y == SY) && !within(row, seen, p.X)) continue;
    int32_t l = p.X, r = p.X;
    while (l > 0 && within(row, seen, l - 1)) --l;
    while (r < w - 1 && within(row, seen, r + 1)) ++r;
    for (int32_t x = l; x <= r; ++x) {
      seen[x] = 1;
      paint(x, p.Y, row[x], ColorDistance(row[x], seed));
    }
    filled += r - l + 1;
    for (int32_t y : {p.Y - 1, p.Y + 1}) {
      if (y < 0 || y >= h) continue;
      const TColor32* nrow = bits + static_cast<ptrdiff_t>(y) * w;
      const uint8_t* nseen = visited.data() + static_cast<ptrdiff_t>(y) * w;
      const int32_t to = std::min(r + 1, w - 1);
      for (int32_t x = std::max(l - 1, 0); x <= to; ++x) {
        if (!within(nrow, nseen, x)) continue;
        stack.push_back(TPoint{x, y});
        while (x < to && within(nrow, nseen, x + 1)) ++x;  // one start per run
      }
    }
  }
  EndMmx();
  return filled;
}

void ReplaceColor(TBitmap32* Bmp, TColor32 Seed, TColor32 Fill, int32_t Alpha, int32_t Tolerance, int32_t Mode) {
  if (Bmp == nullptr || Tolerance < 1 || (Fill & 0x00FFFFFFu) == (Seed & 0x00FFFFFFu)) return;
  const std::vector<uint8_t> ramp = FillRamp(Mode, Alpha, Tolerance);
  const bool keep = Mode >= 101 && Mode <= 103, scale = Mode >= 111 && Mode <= 113;
  TColor32* bits = Bmp->Bits();
  const size_t count = static_cast<size_t>(Bmp->Width()) * Bmp->Height();
  for (size_t p = 0; p < count; ++p) {
    const TColor32 old = bits[p];
    const int32_t i = ColorDistance(old, Seed);
    if (i >= Tolerance) continue;
    TColor32 c = PutOver(WithAlpha(Fill, ramp[static_cast<size_t>(i)]), old);
    if (keep || scale) {
      long double k = static_cast<long double>(IntensityOf(old)) / std::max(1, IntensityOf(c));
      if (scale) k = 1 - (1 - k) / (2 - static_cast<long double>(i) / Tolerance);
      TColor32 r = c & 0xFF000000u;
      for (int s = 0; s < 24; s += 8) {
        const long double v = std::nearbyintl(static_cast<long double>((c >> s) & 0xFF) * k);
        r |= static_cast<TColor32>(ClampToByte64(v > 1e6L ? 1000000 : static_cast<int64_t>(v))) << s;
      }
      c = r;
    }
    bits[p] = c;
  }
  EndMmx();
}

bool FillModeApplies(int32_t Tool, int32_t Tag) {
  if (Tool == 7) return Tag < 100;
  if (Tool == 8) return Tag < 10 || Tag >= 101;
  return false;
}

std::string ColorHex(TColor32 C) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%06X", static_cast<unsigned>(C & 0x00FFFFFFu));
  return buf;
}

const std::vector<int32_t>& RetouchEffectTags() {
  static const std::vector<int32_t> tags = {-700, 100, 104, 200, 300, 801, 811, 851,
                                            861,  862, 863, 864, 865, 866, 399};
  return tags;
}

// ---- TMouseTools ----------------------------------------------------------------------------

TMouseTools::TMouseTools(TEditor& E) : fE(E) {
  E.SetToolHandler = [this](TEditor&, int32_t Tool) { SetTool(Tool); };
  TCustomImage32& view = E.View();
  view.OnMouseDown = [this](TCustomImage32*, TMouseButton B, TShiftState S, int32_t X, int32_t Y, TCustomLayer*) {
    Image321MouseDown(B, S, X, Y);
  };
  view.OnMouseMove = [this](TCustomImage32*, TShiftState S, int32_t X, int32_t Y, TCustomLayer*) {
    Image321MouseMove(S, X, Y);
  };
  view.OnMouseUp = [this](TCustomImage32*, TMouseButton B, TShiftState S, int32_t X, int32_t Y, TCustomLayer*) {
    Image321MouseUp(B, S, X, Y);
  };
  view.OnMouseLeave = [this](void*) { Image321MouseLeave(); };
}

TMouseTools::~TMouseTools() {
  fE.SetToolHandler = nullptr;
  fE.View().OnMouseDown = nullptr;
  fE.View().OnMouseMove = nullptr;
  fE.View().OnMouseUp = nullptr;
  fE.View().OnMouseLeave = nullptr;
  // The markers belong to the view; this object only knows them.
  gReference.gPointMarkers.clear();
}

TSwatch TMouseTools::SwatchOf(int32_t Button) const {
  return Button == 1 ? TSwatch::Background : Button == 2 ? TSwatch::Extra : TSwatch::Foreground;
}

bool TMouseTools::MapsInside(int32_t X, int32_t Y, TPoint& BitmapPoint) {
  BitmapPoint = fE.View().ControlToBitmap(TPoint{X, Y});
  return Inside(fE.View().Bitmap(), BitmapPoint.X, BitmapPoint.Y);
}

bool TMouseTools::RenderedColor(int32_t X, int32_t Y, TColor32& Color) {
  TPoint b;
  if (!MapsInside(X, Y, b)) return false;
  TCustomImage32& view = fE.View();
  // The scroll bars and the square between them lie over the picture: there
  // the user sees them, not the picture's colour.
  if (!PointInRect(view.GetViewportRect(), X, Y)) return false;
  // The buffer shows what the user sees, layers included, once it is painted.
  view.Repaint();
  Color = 0xFF000000u | (view.Buffer()->GetPixelClipped(X, Y) & 0x00FFFFFFu);
  return true;
}

void TMouseTools::SetTool(int32_t Tool) {
  TCustomImage32& view = fE.View();
  view.SetCursor(static_cast<TCursor>(Tool));
  if (Tool == fE.gCurrentTool) return;
  // The Dropper shows the colour under the pointer in the foreground's
  // label; the label is the foreground's again once another tool is picked.
  if (fE.gCurrentTool == 3) PaintBoxPaint();
  SelectLayer(fE, nullptr);
  EditorUi& ui = fE.Ui();
  ui.PressToolButton(Tool);
  fE.gCurrentTool = Tool;
  for (TGauge g : {TGauge::Alpha, TGauge::Size, TGauge::Density}) ui.SetGaugeEnabled(g, false);
  ui.SetEffectListEnabled(false);
  switch (Tool) {
    case 1: ui.SetGaugeEnabled(TGauge::Alpha, true); break;
    case 2:
    case 5:
      for (TGauge g : {TGauge::Alpha, TGauge::Size, TGauge::Density}) ui.SetGaugeEnabled(g, true);
      if (Tool == 5) ui.SetEffectListEnabled(true);
      ui.SetLabel("Label6", "Density", "Tool density/hardness");
      RebuildBrushMask();
      break;
    case 6: ui.SetGaugeEnabled(TGauge::Size, true); break;
    case 7:
    case 8:
      ui.SetGaugeEnabled(TGauge::Alpha, true);
      ui.SetGaugeEnabled(TGauge::Density, true);
      ui.SetLabel("Label6", "Tolerance", "Tool color tolerance");
      break;
    default: break;
  }
  if (Tool >= 1 && Tool <= 8 && kToolStatus[Tool] != nullptr) ui.SetStatusText(0, kToolStatus[Tool]);
}

void TMouseTools::RebuildBrushMask() {
  gBrushMask = BuildBrushMask(fE.Ui().GaugePosition(TGauge::Size), fE.Ui().GaugePosition(TGauge::Density));
}

void TMouseTools::GaugeBar2Change() { RebuildBrushMask(); }

void TMouseTools::PickColor(int32_t X, int32_t Y, TMouseButton Button) {
  TColor32 c;
  if (!RenderedColor(X, Y, c)) return;
  const TSwatch s = SwatchOf(Button);
  fE.Ui().SetSwatchColor(s, c);
  if (s == TSwatch::Foreground) gSavedForeground = c;
}

// ---- Mouse down ----------------------------------------------------------------------------------

void TMouseTools::Image321MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (!(Button == mbRight && (Shift & kModifiers) == 0)) ClearPoints(fE, gReference);
  gClickPoint = TPoint{X, Y};
  gMouseButton = static_cast<int32_t>(Button);
  if (!fE.View().Bitmap()->Empty()) {
    switch (fE.gCurrentTool) {
      case 1: SelectionDown(Button, Shift, X, Y); break;
      case 2: BrushDown(Shift, X, Y); break;
      case 3: PickColor(X, Y, Button); break;
      case 5: RetouchDown(Button, Shift, X, Y); break;
      case 6: DrawDown(X, Y); break;
      case 7:
      case 8:
        if (Shift & ssCtrl)
          fE.Ui().Popup("PopupMenu3", X, Y);
        else
          FillAtClick(0);
        break;
      default: break;
    }
  }
  gLastMousePoint = TPoint{X, Y};
}

void TMouseTools::SelectionDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  EditorUi& ui = fE.Ui();
  // The frame answers where its hit test does: in control coordinates also
  // when it wraps a picture kept in bitmap coordinates, and on the whole of
  // every handle, which is drawn centred on the edge (half of it outside).
  // The picture's last column and row lie outside the frame's inside: a
  // press there went to the picture, which selected itself, and stays on it.
  TLayerCollection* layers = fE.View().Layers();
  const bool onPicture = fE.gSelectedLayer && layers->MouseListener() == fE.gSelectedLayer.get();
  auto onFrame = [&] { return fE.gSelection && (onPicture || fE.gSelection->GetDragState(X, Y) != dsNone); };
  if (Button == mbRight && (Shift & kModifiers) == 0) {
    if (onFrame() && fE.gSelectedLayer) {
      ui.Popup("PopupMenu1", X, Y);
    } else {
      PopupMenu4Popup();
      ui.Popup("PopupMenu4", X, Y);
    }
    return;
  }
  if (Shift & ssCtrl) {
    PickColor(X, Y, Button);
    return;
  }
  if (Button != mbLeft) return;
  if (onFrame()) {
    TRubberbandLayer* frame = fE.gSelection;
    const TFloatRect r = frame->Location();
    fE.gSelAnchor = TPoint{static_cast<int32_t>(r.Left), static_cast<int32_t>(r.Top)};
    PresentSelection(fE);
    // A press on a picture that was not selected went to the picture, which
    // selected itself under a new frame; the frame takes the press over, so
    // the same drag moves or resizes it.
    if (layers->MouseListener() != frame) {
      layers->SetMouseListener(frame);
      frame->MouseDown(Button, Shift, X, Y);
    }
    gMovingSelection = true;
    ShowSelectionInfo(fE, r);
    return;
  }
  SelectLayer(fE, nullptr);
  CreateSelectionAt(fE, static_cast<float>(X), static_cast<float>(Y), fE.gSelection);
  PresentSelection(fE);
  gCreatingSelection = true;
}

void TMouseTools::BrushDown(TShiftState Shift, int32_t X, int32_t Y) {
  if (Shift & ssCtrl) {
    fE.Ui().SetMenuEnabled("UndofromHere1", fE.gImageUndo->CanUndo());
    fE.Ui().Popup("PopupMenu2", X, Y);
    return;
  }
  TPoint b;
  if (!MapsInside(X, Y, b)) return;
  if (fE.gSelectedLayer) SelectLayer(fE, nullptr);
  if (gBrushMask.size() != static_cast<size_t>(2 * fE.Ui().GaugePosition(TGauge::Size) + 1) *
                               static_cast<size_t>(2 * fE.Ui().GaugePosition(TGauge::Size) + 1))
    RebuildBrushMask();
  if (gBrushType != btLocalUndo) fE.gImageUndo->Record(fE.View().Bitmap());
  gBrushDab.reset();
  if (gBrushType == btClone) gCloneStart = TPoint{X, Y};
  if (gBrushType == btColor || gBrushType == btPattern) MakeDab(X, Y);
  gBrushSpacing = std::max(static_cast<int32_t>(fE.Ui().GaugePosition(TGauge::Size) * fE.View().Scale() / 8), 1);
  gBrushStroke = true;
  BrushAt(X, Y);
}

void TMouseTools::RetouchDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  EditorUi& ui = fE.Ui();
  if (Shift & ssCtrl) {
    PickColor(X, Y, Button);
    return;
  }
  const auto& tags = RetouchEffectTags();
  int32_t index = ui.EffectListIndex();
  if (index < 0) {
    index = 0;
    ui.SetEffectListIndex(0);
  }
  TPoint b;
  if (!MapsInside(X, Y, b)) return;
  if (fE.gSelectedLayer) SelectLayer(fE, nullptr);
  RebuildBrushMask();
  fE.gImageUndo->Record(fE.View().Bitmap());
  gRetouchTag = tags[static_cast<size_t>(std::min<int32_t>(index, static_cast<int32_t>(tags.size()) - 1))];
  if (gRetouchTag == 851 && Button == mbRight) gRetouchTag = 853;
  if (gRetouchTag == 851 && Button == mbMiddle) gRetouchTag = 852;
  RetouchAt(b.X, b.Y);
  gBrushSpacing = std::max(static_cast<int32_t>(ui.GaugePosition(TGauge::Size) * fE.View().Scale()), 1);
  gRetouchStroke = true;
}

void TMouseTools::DrawDown(int32_t X, int32_t Y) {
  TPoint b = fE.View().ControlToBitmap(TPoint{X, Y});
  if (gSnapGrid > 1) {
    const double g = gSnapGrid;
    b.X = static_cast<int32_t>(std::nearbyint(b.X / g) * g);
    b.Y = static_cast<int32_t>(std::nearbyint(b.Y / g) * g);
  }
  if (!gDrawPolygon) gDrawPolygon = std::make_unique<TPolygon32>();
  gDrawPolygon->AddPoint(MakeFixedPoint(static_cast<TFixed>(static_cast<uint32_t>(b.X) << 16),
                                        static_cast<TFixed>(static_cast<uint32_t>(b.Y) << 16)));
}

// ---- Brush and retouch strokes -------------------------------------------------------------------

void TMouseTools::MakeSourceDab(const TBitmap32* Source, const TPoint& Centre) {
  const int32_t r = fE.Ui().GaugePosition(TGauge::Size), side = 2 * r + 1;
  auto dab = std::make_unique<TBitmap32>();
  dab->SetSize(side, side);
  dab->Clear(0);
  for (int32_t y = 0; y < side; ++y)
    for (int32_t x = 0; x < side; ++x) {
      const int32_t sx = Centre.X - r + x, sy = Centre.Y - r + y;
      if (!Inside(Source, sx, sy)) continue;
      const TColor32 c = Source->GetPixel(sx, sy);
      // Only pixels that brought some alpha take the brush's shape.
      dab->SetPixel(x, y, (c >> 24) != 0 ? WithAlpha(c, gBrushMask[static_cast<size_t>(y) * side + x]) : c);
    }
  gBrushDab = std::move(dab);
}

bool TMouseTools::MakeDab(int32_t X, int32_t Y) {
  EditorUi& ui = fE.Ui();
  TCustomImage32& view = fE.View();
  const int32_t r = ui.GaugePosition(TGauge::Size), side = 2 * r + 1;
  if (gBrushMask.size() != static_cast<size_t>(side) * side) RebuildBrushMask();
  gBrushDab.reset();
  switch (gBrushType) {
    case btColor: {
      auto dab = std::make_unique<TBitmap32>();
      dab->SetSize(side, side);
      const TColor32 color = ui.SwatchColor(SwatchOf(gMouseButton));
      for (int32_t i = 0; i < side * side; ++i) dab->Bits()[i] = WithAlpha(color, gBrushMask[static_cast<size_t>(i)]);
      gBrushDab = std::move(dab);
      break;
    }
    case btPattern:
    case btClone: MakeSourceDab(view.Bitmap(), view.ControlToBitmap(gSourcePoint)); break;
    case btLocalUndo: {
      // With no snapshot to take the pixels from, the brush has nothing to paint.
      const TBitmap32* snapshot = fE.gImageUndo->Newest();
      if (snapshot == nullptr) return false;
      MakeSourceDab(snapshot, view.ControlToBitmap(TPoint{X, Y}));
      break;
    }
    default: return false;
  }
  gBrushDab->SetDrawMode(dmBlend);
  gBrushDab->SetMasterAlpha(static_cast<uint32_t>(ClampToByte(ui.GaugePosition(TGauge::Alpha))));
  return true;
}

void TMouseTools::BrushAt(int32_t X, int32_t Y) {
  if (gBrushType == btClone) {
    gSourcePoint.X += X - gCloneStart.X;
    gSourcePoint.Y += Y - gCloneStart.Y;
    gCloneStart = TPoint{X, Y};
    if (!MakeDab(X, Y)) return;
  } else if (gBrushType == btLocalUndo) {
    if (!MakeDab(X, Y)) return;
  }
  if (!gBrushDab) return;
  TBitmap32* doc = fE.View().Bitmap();
  const TPoint b = fE.View().ControlToBitmap(TPoint{X, Y});
  const int32_t left = b.X - gBrushDab->Width() / 2, top = b.Y - gBrushDab->Height() / 2;
  gBrushDab->DrawAt(doc, left, top);
  doc->Changed(Square(left, top, gBrushDab->Width()));
}

void TMouseTools::RetouchAt(int32_t X, int32_t Y) {
  EditorUi& ui = fE.Ui();
  TBitmap32* doc = fE.View().Bitmap();
  const int32_t size = ui.GaugePosition(TGauge::Size), n = 2 * size + 1;
  TBitmap32* work = fE.gWork.get();
  work->SetSize(n, n);
  work->Clear(0);
  work->SetDrawMode(dmOpaque);
  work->SetMasterAlpha(255);
  // The square is clipped at the image's edges: only pixels of the image are copied.
  for (int32_t y = 0; y < n; ++y)
    for (int32_t x = 0; x < n; ++x)
      if (Inside(doc, X - size + x, Y - size + y)) work->SetPixel(x, y, doc->GetPixel(X - size + x, Y - size + y));
  fE.DoRetouchAction(gRetouchTag);
  work = fE.gWork.get();
  // An effect that changed the square's size has no place under the brush.
  if (work->Width() != n || work->Height() != n || gBrushMask.size() != static_cast<size_t>(n) * n) return;
  for (int32_t i = 0; i < n * n; ++i) work->Bits()[i] = WithAlpha(work->Bits()[i], gBrushMask[static_cast<size_t>(i)]);
  work->SetMasterAlpha(static_cast<uint32_t>(ClampToByte(ui.GaugePosition(TGauge::Alpha))));
  work->SetDrawMode(dmBlend);
  work->DrawAt(doc, X - size, Y - size);
  work->SetDrawMode(dmOpaque);
  work->SetMasterAlpha(255);
  doc->Changed(Square(X - size, Y - size, n));
}

template <class Step>
void TMouseTools::Interpolate(int32_t X, int32_t Y, Step&& At) {
  const int64_t dx = static_cast<int64_t>(X) - gLastMousePoint.X, dy = static_cast<int64_t>(Y) - gLastMousePoint.Y;
  const int64_t n = static_cast<int64_t>(std::sqrt(static_cast<double>(dx * dx + dy * dy)) / gBrushSpacing);
  // The last step of the line is (X, Y) itself, placed once below: a second
  // dab there would blend twice and leave a darker spot at every report.
  for (int64_t i = 1; i < n; ++i)
    At(static_cast<int32_t>(gLastMousePoint.X + i * dx / n), static_cast<int32_t>(gLastMousePoint.Y + i * dy / n));
  At(X, Y);
}

void TMouseTools::EndStroke() {
  gBrushStroke = gRetouchStroke = false;
  gBrushDab.reset();
  fE.RefreshHistogram();
  fE.UpdateCaption();
}

// ---- Mouse move and up ---------------------------------------------------------------------------

void TMouseTools::Image321MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  EditorUi& ui = fE.Ui();
  if (fHintMoves >= 0 && ++fHintMoves >= 3) {
    ui.HideViewHint();
    fHintMoves = -1;
  }
  TBitmap32* doc = fE.View().Bitmap();
  if (!doc->Empty() && Shift == 0) {
    const TPoint b = fE.View().ControlToBitmap(TPoint{X, Y});
    char buf[96];
    std::snprintf(buf, sizeof buf, "[%d,%d] [%d,%d]", b.X, b.Y, doc->Width() / 2 - b.X, doc->Height() / 2 - b.Y);
    ui.SetStatusText(1, buf);
  }
  switch (fE.gCurrentTool) {
    case 1:
      if (gCreatingSelection && fE.gSelection && fE.gSelection->Tag() < 1000) {
        const TFloatRect bounds = BitmapRectInControl(fE.View());
        const float ax = static_cast<float>(fE.gSelAnchor.X), ay = static_cast<float>(fE.gSelAnchor.Y);
        const float fx = static_cast<float>(X), fy = static_cast<float>(Y);
        const TFloatRect r = ClipFloatRect(
            MakeFloatRect(std::min(ax, fx), std::min(ay, fy), std::max(ax, fx), std::max(ay, fy)), bounds);
        fE.gSelection->SetLocation(r);
        fE.gSelRect = r;
        ShowSelectionInfo(fE, r);
      }
      break;
    case 2:
      if (gBrushStroke) Interpolate(X, Y, [this](int32_t x, int32_t y) { BrushAt(x, y); });
      break;
    case 3: {
      TColor32 c;
      if (RenderedColor(X, Y, c))
        ui.SetLabel("Label3", ColorHex(c), ColorHex(c));
      else
        PaintBoxPaint();
      break;
    }
    case 5:
      if (gRetouchStroke)
        Interpolate(X, Y, [this](int32_t x, int32_t y) {
          TPoint b;
          if (MapsInside(x, y, b)) RetouchAt(b.X, b.Y);
        });
      break;
    default: break;
  }
  if (gBrushStroke || gRetouchStroke) gLastMousePoint = TPoint{X, Y};
}

void TMouseTools::Image321MouseLeave() {
  if (fE.gCurrentTool == 3) PaintBoxPaint();
}

void TMouseTools::Image321MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  switch (fE.gCurrentTool) {
    case 1:
      if (gCreatingSelection && fE.gSelection) {
        const TFloatRect r = fE.gSelection->Location();
        if (r.Right - r.Left <= 0 || r.Bottom - r.Top <= 0) {
          FreeSelection(fE, fE.gSelection);
          TColor32 c;
          if (RenderedColor(X, Y, c)) {
            fE.Ui().ShowViewHint(ColorHex(c));
            fHintMoves = 0;
          }
        }
      }
      gCreatingSelection = gMovingSelection = false;
      break;
    case 2:
      if (gBrushStroke) EndStroke();
      break;
    case 4:
      if (!fE.View().Bitmap()->Empty()) TextUp(X, Y);
      break;
    case 5:
      if (gRetouchStroke) EndStroke();
      break;
    case 6:
      if (!fE.View().Bitmap()->Empty()) DrawUp(Button, Shift);
      break;
    default: break;
  }
}

void TMouseTools::TextUp(int32_t X, int32_t Y) {
  EditorUi& ui = fE.Ui();
  TBitmap32 rendered;
  TTextDialogData data;
  data.Foreground = ui.SwatchColor(TSwatch::Foreground);
  data.Background = ui.SwatchColor(TSwatch::Background);
  data.FontName = gFontName;
  data.FontSize = gFontSize;
  data.FontStyle = gFontStyle;
  data.Text = gUserText;
  data.Rendered = &rendered;
  if (!ui.TextDialog(data)) return;
  gUserText = data.Text;
  gFontName = data.FontName;
  gFontSize = data.FontSize;
  gFontStyle = data.FontStyle;
  SetTool(1);
  const TPoint b = fE.View().ControlToBitmap(TPoint{X, Y});
  TBitmapLayer* layer = NewBitmapLayer(fE, &rendered, static_cast<float>(b.X), static_cast<float>(b.Y),
                                       LayerMouseDownHandler(fE));
  if (layer == nullptr) return;
  SelectLayer(fE, layer);
}

void TMouseTools::DrawUp(TMouseButton Button, TShiftState Shift) {
  if (Shift & ssShift) return;  // the polygon keeps growing
  if (!gDrawPolygon) return;
  const std::unique_ptr<TPolygon32> polygon = std::move(gDrawPolygon);
  EditorUi& ui = fE.Ui();
  const TColor32 fore = Opaque(ui.SwatchColor(TSwatch::Foreground));
  const TColor32 back = Opaque(ui.SwatchColor(TSwatch::Background));
  const TColor32 extra = Opaque(ui.SwatchColor(TSwatch::Extra));
  const TColor32 outline = Button == mbLeft ? fore : Button == mbRight ? back : extra;
  const TColor32 fill = Button == mbLeft ? back : Button == mbRight ? fore : back;
  TBitmap32* doc = fE.View().Bitmap();
  TBitmap32 canvas;
  canvas.SetSize(doc->Width(), doc->Height());
  canvas.Clear(0);
  polygon->SetClosed(true);
  polygon->SetAntialiased(true);
  const int32_t size = ui.GaugePosition(TGauge::Size);
  const bool ctrl = (Shift & ssCtrl) != 0;
  if (Shift & ssAlt) {
    polygon->DrawFill(&canvas, fill);
  } else if (size <= 1) {
    if (ctrl)
      polygon->DrawOutline(&canvas, outline);
    else
      polygon->Draw(&canvas, outline, fill);
  } else {
    // The inside as clicked takes the fill; the grown band around the outline covers its edge.
    if (!ctrl) polygon->DrawFill(&canvas, fill);
    std::unique_ptr<TPolygon32> band = polygon->Outline()->Grow(
        static_cast<TFixed>(std::nearbyint(size / 2.0 * 65536.0)), 0.99f);
    band->SetFillMode(pfWinding);
    band->DrawFill(&canvas, outline);
  }
  // The picture is the bounding box of what was drawn.
  int32_t l = canvas.Width(), t = canvas.Height(), r = -1, b = -1;
  for (int32_t y = 0; y < canvas.Height(); ++y)
    for (int32_t x = 0; x < canvas.Width(); ++x)
      if (canvas.GetPixel(x, y) >> 24) {
        l = std::min(l, x), t = std::min(t, y), r = std::max(r, x), b = std::max(b, y);
      }
  if (r < 0) return;
  TBitmap32 cut;
  cut.SetSize(r - l + 1, b - t + 1);
  for (int32_t y = t; y <= b; ++y)
    for (int32_t x = l; x <= r; ++x) cut.SetPixel(x - l, y - t, canvas.GetPixel(x, y));
  SetTool(1);
  TBitmapLayer* layer =
      NewBitmapLayer(fE, &cut, static_cast<float>(l), static_cast<float>(t), LayerMouseDownHandler(fE));
  if (layer == nullptr) return;
  SelectLayer(fE, layer);
}

// ---- Popup items, fill and replace --------------------------------------------------------------------

void TMouseTools::PatternfromHere1Click(int32_t Tag) {
  gBrushType = Tag;
  gSourcePoint = gClickPoint;
  if (Tag == btColor) PickColor(gClickPoint.X, gClickPoint.Y, static_cast<TMouseButton>(gMouseButton));
}

void TMouseTools::FillAtClick(int32_t Mode) {
  TPoint b;
  if (!MapsInside(gClickPoint.X, gClickPoint.Y, b)) return;
  // A pattern fill with no picture on the clipboard has nothing to paint.
  const bool patterned = fE.gCurrentTool == 7 && Mode >= 20 && Mode <= 22;
  TBitmap32 pattern;
  if (patterned && !PasteBitmapWithAlpha(gClipboard ? *gClipboard : Clipboard(), &pattern) && pattern.Empty()) return;
  if (fE.gSelectedLayer) SelectLayer(fE, nullptr);
  TBitmap32* doc = fE.View().Bitmap();
  EditorUi& ui = fE.Ui();
  fE.gImageUndo->Record(doc);
  const TColor32 color = ui.SwatchColor(SwatchOf(gMouseButton));
  const int32_t alpha = ui.GaugePosition(TGauge::Alpha), tolerance = ui.GaugePosition(TGauge::Density);
  const TColor32 seed = doc->GetPixel(b.X, b.Y);
  ui.SetScreenCursor(crHourGlass);
  const uint32_t start = ui.TickCount();
  int64_t filled = -1;
  if (fE.gCurrentTool == 8) {
    ReplaceColor(doc, seed, color, alpha, tolerance, Mode);
  } else {
    filled = FloodFill(doc, b.X, b.Y, color, alpha, tolerance, Mode, &pattern);
  }
  if (fE.gTiming && Mode == 0)
    ui.MessageBox(std::to_string(static_cast<uint32_t>(ui.TickCount() - start)) + " ms", 0);
  if (filled >= 0) ui.SetStatusText(0, std::to_string(filled) + " pixels filled");
  ui.SetScreenCursor(crDefault);
  doc->Changed();
  fE.UpdateCaption();
  fE.RefreshHistogram();
}

// ---- Swatches ----------------------------------------------------------------------------------------

void TMouseTools::PaintBoxPaint() {
  EditorUi& ui = fE.Ui();
  const std::string back = ColorHex(ui.SwatchColor(TSwatch::Background));
  const std::string fore = ColorHex(ui.SwatchColor(TSwatch::Foreground));
  ui.SetLabel("Label2", back, back);
  ui.SetLabel("Label3", fore, fore);
}

void TMouseTools::PaintBox1Click(TSwatch Swatch) {
  EditorUi& ui = fE.Ui();
  TColor32 c = ui.SwatchColor(Swatch);
  if (!ui.ColorDialog(c)) return;
  ui.SetSwatchColor(Swatch, c);
  PaintBoxPaint();
  gBrushType = btColor;
}
