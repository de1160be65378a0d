// The selection frame and the floating layers, and the Edit and Layers menu
// commands on them. Every routine keeps one rule: while a layer is selected,
// gSelection wraps it and lies above it, so a layer's index does not change
// when its frame goes.
#include "zub_layers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>

#include "img_common.h"
#include "img_viewcoords.h"
#include "raster_filterindex.h"
#include "raster_image.h"

namespace {

// Trunc of a coordinate, kept inside what an int32 holds (NaN gives 0).
int32_t TruncCoord(float V) {
  if (std::isnan(V)) return 0;
  if (V <= static_cast<float>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (V >= static_cast<float>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(V);
}

// A rubber band that is not the selection: a reference-point marker.
bool IsMarker(TEditor& E, TCustomLayer* Layer) {
  return dynamic_cast<TRubberbandLayer*>(Layer) != nullptr && Layer != E.gSelection.get();
}

// The value as Format's "%g" writes it: at most 15 significant digits,
// trailing zeros dropped, always with a "." whatever the locale says.
std::string FormatG(long double V) {
  if (V == 0) V = 0;  // no "-0"
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(V), std::chars_format::general, 15);
  return std::string(buf, r.ptr);
}

// Brackets the view's updates; closed also when a step throws.
class TViewUpdate {
 public:
  explicit TViewUpdate(TCustomImage32& V) : v_(V) { v_.BeginUpdate(); }
  ~TViewUpdate() { v_.EndUpdate(); }
  TViewUpdate(const TViewUpdate&) = delete;
  TViewUpdate& operator=(const TViewUpdate&) = delete;

 private:
  TCustomImage32& v_;
};

// Deselects the selected layer and deletes it. The layer is taken by itself
// rather than by an index found before the deselection, so even a layer that
// was moved above its frame is the one that goes.
void DeleteSelectedLayer(TEditor& E) {
  TCustomLayer* layer = E.gSelectedLayer;
  if (layer == nullptr) return;
  const std::weak_ptr<void> alive = layer->LifeToken();
  SelectLayer(E, nullptr);
  if (alive.expired()) return;
  if (TLayerCollection* c = layer->LayerCollection()) c->Remove(layer);
}

// The lowest layer that is not a reference-point marker, or null.
TCustomLayer* BottomLayer(TEditor& E) {
  TLayerCollection* c = E.View().Layers();
  for (int32_t i = 0; i < c->Count(); ++i)
    if (!IsMarker(E, c->Items(i))) return c->Items(i);
  return nullptr;
}

}  // namespace

// ---- The selection frame ---------------------------------------------------------------

void FreeSelection(TEditor& E, TLayerRef<TRubberbandLayer>& Layer) {
  TRubberbandLayer* frame = Layer;
  if (frame == nullptr) return;
  // The layer the selection wrapped is selected no longer: commands must not
  // work on a layer that no frame shows.
  if (&Layer == &E.gSelection) E.gSelectedLayer = nullptr;
  // A rubber band drops the no-update bit, so this leaves it hidden and deaf
  // to the mouse while it goes.
  frame->SetLayerOptions(LOB_NO_UPDATE);
  Layer = nullptr;
  if (TLayerCollection* c = frame->LayerCollection(); c != nullptr && c->Count() > 0) c->Remove(frame);
  if (!E.View().Bitmap()->Empty()) E.View().Invalidate();
}

TRubberbandLayer* CreateSelection(TEditor& E, const TFloatRect& R, TLayerRef<TRubberbandLayer>& Layer) {
  FreeSelection(E, Layer);
  auto* frame = E.View().Layers()->Add<TRubberbandLayer>();
  frame->SetLayerOptions(LOB_NO_UPDATE);
  frame->SetMinWidth(1.0f);
  frame->SetMinHeight(1.0f);
  frame->SetScaled(false);
  Layer = frame;
  if (&Layer != &E.gSelection) {
    frame->SetLocation(MakeFloatRect(R.Left, R.Top, R.Left + 1, R.Top + 1));
    frame->SetLayerOptions(LOB_VISIBLE);
    frame->BringToFront();
    return frame;
  }
  frame->SetLocation(R);
  E.gSelRect = R;
  E.gSelAnchor = TPoint{TruncCoord(R.Left), TruncCoord(R.Top)};
  frame->SetTag(kSelectionTag);
  frame->OnResizing = [&E](TRubberbandLayer* Sender, const TFloatRect& OldLocation, TFloatRect& NewLocation,
                           TDragState DragState, TShiftState Shift) {
    RBResizing(E, Sender, OldLocation, NewLocation, DragState, Shift);
  };
  return frame;
}

TRubberbandLayer* CreateSelectionAt(TEditor& E, float X, float Y, TLayerRef<TRubberbandLayer>& Layer) {
  return CreateSelection(E, MakeFloatRect(X, Y, X, Y), Layer);
}

void PresentSelection(TEditor& E) {
  if (!E.gSelection) return;
  E.gSelection->SetLayerOptions(LOB_VISIBLE | LOB_MOUSE_EVENTS);
  E.gSelection->BringToFront();
}

TFloatRect SelectionBitmapRect(TEditor& E, const TFloatRect& R) {
  if (E.gSelection && E.gSelection->Scaled()) return R;
  return ControlToBitmapRect(E.View(), R);
}

std::string SelectionInfoText(const TFloatRect& B) {
  const int32_t l = TruncCoord(B.Left), t = TruncCoord(B.Top), r = TruncCoord(B.Right), b = TruncCoord(B.Bottom);
  const int32_t w = TruncCoord(B.Right - B.Left), h = TruncCoord(B.Bottom - B.Top);
  std::string s = "[" + std::to_string(l) + "," + std::to_string(t) + "," + std::to_string(r) + "," +
                  std::to_string(b) + "]=(" + std::to_string(w) + "x" + std::to_string(h);
  if (h != 0) {
    // Round is ties to even: 1 x 8 gives 12.5 hundredths, shown as 0.12.
    const long double ratio = std::nearbyintl(static_cast<long double>(w) / h * 100) / 100;
    s += ":" + FormatG(ratio);
  }
  return s + ")";
}

void ShowSelectionInfo(TEditor& E, const TFloatRect& R) {
  E.gSelBitmapRect = SelectionBitmapRect(E, R);
  E.Ui().SetStatusText(1, SelectionInfoText(E.gSelBitmapRect));
}

void RBResizing(TEditor& E, TRubberbandLayer* Sender, const TFloatRect& OldLocation, TFloatRect& NewLocation,
                TDragState DragState, TShiftState Shift) {
  if (Sender == nullptr) return;
  TCustomImage32& view = E.View();
  const TFloatRect bounds = Sender->Scaled() ? BitmapFloatBounds(view.Bitmap()) : BitmapRectInControl(view);
  // An image with nothing to show gives no bounds to keep the frame in.
  if (bounds.Right > bounds.Left && bounds.Bottom > bounds.Top) NewLocation = ClipFloatRect(NewLocation, bounds);
  const bool isSelection = Sender == E.gSelection.get();
  if (isSelection) {
    E.gSelRect = NewLocation;
    ShowSelectionInfo(E, NewLocation);
  }
  if ((Shift & ssCtrl) == 0 || DragState == dsMove) return;

  // The aspect ratio of the frame at the drag's start; a frame that started
  // with no height (or no width, for the sides that divide by it) has none.
  const long double oldW = static_cast<long double>(OldLocation.Right) - OldLocation.Left;
  const long double oldH = static_cast<long double>(OldLocation.Bottom) - OldLocation.Top;
  if (oldH == 0) return;
  const long double ratio = oldW / oldH;
  switch (DragState) {
    case dsSizeT:
    case dsSizeB:
      NewLocation.Right =
          static_cast<float>((static_cast<long double>(NewLocation.Bottom) - NewLocation.Top) * ratio +
                             NewLocation.Left);
      break;
    case dsSizeL:
    case dsSizeR:
      if (ratio == 0) return;
      NewLocation.Bottom =
          static_cast<float>((static_cast<long double>(NewLocation.Right) - NewLocation.Left) / ratio +
                             NewLocation.Top);
      break;
    default:
      return;  // corners resize freely
  }
  // The aspect step comes after the clipping, so it may reach past the image.
  if (isSelection) {
    E.gSelRect = NewLocation;
    ShowSelectionInfo(E, NewLocation);
  }
}

void SelectLayer(TEditor& E, TCustomLayer* Layer) {
  std::weak_ptr<void> alive;
  if (Layer != nullptr) alive = Layer->LifeToken();
  E.gLayerUndo->Clear();
  FreeSelection(E, E.gSelection);
  if (Layer != nullptr) {
    E.SetTool(1);
    // Asked to select the frame that just went (or a layer a tool handler freed).
    if (alive.expired()) Layer = nullptr;
  }
  auto* positioned = dynamic_cast<TPositionedLayer*>(Layer);
  if (positioned != nullptr) CreateSelection(E, positioned->Location(), E.gSelection);
  E.gSelectedLayer = Layer;
  if (Layer == nullptr) return;
  if (positioned != nullptr && E.gSelection) {
    E.gSelection->SetChildLayer(positioned);
    // A selected picture is one the user moves, resizes by its handles and
    // right-clicks for its commands: its frame shows and takes the mouse.
    PresentSelection(E);
  }
  if (auto* b = dynamic_cast<TBitmapLayer*>(Layer)) {
    E.Ui().SetGaugeEnabled(TGauge::Alpha, true);
    E.Ui().SetGaugePosition(TGauge::Alpha, static_cast<int32_t>(b->Bitmap()->MasterAlpha()));
  } else {
    E.Ui().SetGaugeEnabled(TGauge::Alpha, false);
  }
}

// ---- Floating layers ---------------------------------------------------------------------

TBitmapLayer* NewBitmapLayer(TEditor& E, const TBitmap32* Picture, float X, float Y,
                             const TLayerMouseEvent& MouseDown) {
  // An empty picture has no size to scale: there is nothing to float.
  if (Picture == nullptr || Picture->Empty()) return nullptr;
  TLayerCollection* layers = E.View().Layers();
  auto* layer = layers->Add<TBitmapLayer>();
  try {
    TBitmap32* bmp = layer->Bitmap();
    layer->SetBitmap(Picture);
    bmp->SetDrawMode(dmBlend);
    bmp->SetMasterAlpha(static_cast<uint32_t>(ClampLevel(E.Ui().GaugePosition(TGauge::Alpha))));
    TBitmap32* doc = E.View().Bitmap();
    const long double pw = Picture->Width(), ph = Picture->Height();
    // A picture larger than the document is shrunk to fit; none is enlarged.
    const long double s = std::min({1.0L, doc->Width() / pw, doc->Height() / ph});
    layer->SetLocation(MakeFloatRect(X, Y, static_cast<float>(X + pw * s), static_cast<float>(Y + ph * s)));
    layer->SetScaled(true);
    CopyStretchFilter(bmp, doc);
    layer->OnMouseDown = MouseDown;
  } catch (...) {
    layers->Remove(layer);
    throw;
  }
  return layer;
}

TLayerMouseEvent LayerMouseDownHandler(TEditor& E) {
  return [&E](TCustomLayer* Sender, TMouseButton, TShiftState, int32_t, int32_t) { SelectLayer(E, Sender); };
}

void StampLayer(TEditor& E, TCustomLayer* Layer) {
  auto* layer = dynamic_cast<TBitmapLayer*>(Layer);
  if (layer == nullptr) return;
  TBitmap32* doc = E.View().Bitmap();
  E.gImageUndo->Record(doc);
  // A scaled layer lies in bitmap coordinates already; going through the
  // control's whole pixels would move the stamp by a pixel when zoomed.
  const TFloatRect r =
      layer->Scaled() ? layer->Location() : ControlToBitmapRect(E.View(), layer->GetAdjustedLocation());
  const TRect dst = RoundRectF(r);
  TBitmap32* src = layer->Bitmap();
  const int64_t area = (static_cast<int64_t>(dst.Right) - dst.Left) * (static_cast<int64_t>(dst.Bottom) - dst.Top);
  // Spline where the picture is enlarged or kept, linear where it shrinks.
  const uint8_t filter = static_cast<int64_t>(src->PixelCount()) <= area ? 4 : 2;
  StretchTransferByIndex(doc, dst, doc->BoundsRect(), src, src->BoundsRect(), filter, dmBlend);
  E.UpdateCaption();
  E.RefreshHistogram();
}

void DeleteLayer(TEditor& E, int32_t Index) {
  SelectLayer(E, nullptr);
  TLayerCollection* layers = E.View().Layers();
  if (Index >= 0 && Index < layers->Count()) layers->Delete(Index);
}

void UnstretchLayer(TEditor& E, TCustomLayer* Layer) {
  auto* layer = dynamic_cast<TBitmapLayer*>(Layer);
  if (layer == nullptr) return;
  float w = static_cast<float>(layer->Bitmap()->Width());
  float h = static_cast<float>(layer->Bitmap()->Height());
  // A layer kept in control coordinates spans its bitmap's size times the zoom.
  if (!layer->Scaled() && layer->LayerCollection() != nullptr) {
    float sx = 1, sy = 1;
    layer->LayerCollection()->GetViewportScale(sx, sy);
    w *= sx;
    h *= sy;
  }
  const TFloatRect& loc = layer->Location();
  const TFloatRect r = MakeFloatRect(loc.Left, loc.Top, loc.Left + w, loc.Top + h);
  if (E.gSelection && E.gSelection->ChildLayer() == layer) {
    // The frame carries the layer along; moving the layer alone would leave the frame behind.
    E.gSelection->SetLocation(r);
    E.gSelRect = r;
    ShowSelectionInfo(E, r);
  } else {
    layer->SetLocation(r);
  }
}

void FlattenAllLayers(TEditor& E) {
  TCustomImage32& view = E.View();
  TLayerCollection* layers = view.Layers();
  E.gImageUndo->Record(view.Bitmap());
  {
    TViewUpdate update(view);
    SelectLayer(E, nullptr);
    const int32_t count = layers->Count();
    for (int32_t i = 0; i < count; ++i) {
      TCustomLayer* bottom = BottomLayer(E);
      if (bottom == nullptr) break;
      const std::weak_ptr<void> alive = bottom->LifeToken();
      SelectLayer(E, bottom);
      StampLayer(E, E.gSelectedLayer);
      SelectLayer(E, nullptr);
      if (!alive.expired()) layers->Remove(bottom);
    }
  }
  view.Changed();
  SelectLayer(E, nullptr);
  DeleteAll1Click(E);
  E.UpdateCaption();
  E.RefreshHistogram();
}

// ---- Menu commands -------------------------------------------------------------------------

void SelectNone1Click(TEditor& E) {
  FreeSelection(E, E.gSelection);
  SelectLayer(E, nullptr);
}

void SelectAll1Click(TEditor& E) {
  E.SetTool(1);
  CreateSelection(E, BitmapRectInControl(E.View()), E.gSelection);
  PresentSelection(E);
  E.gSelection->SetTag(E.gSelection->Tag() + kSelectAllTag);
  E.gSelRect = E.gSelection->Location();
  ShowSelectionInfo(E, E.gSelRect);
}

void PasteAsFloatingSelection1Click(TEditor& E, TClipboard& Board) {
  if (!Board.HasPicture()) return;
  // The picture as the desktop gives it; the private alpha plane is for Paste Into Selection.
  TBitmap32 picture;
  picture.Assign(Board);
  if (picture.Empty()) return;
  if (!E.gSelection) {
    SelectLayer(E, NewBitmapLayer(E, &picture, 0, 0, LayerMouseDownHandler(E)));
    return;
  }
  const TFloatRect r = SelectionBitmapRect(E, E.gSelection->Location());
  SelectLayer(E, NewBitmapLayer(E, &picture, 0, 0, LayerMouseDownHandler(E)));
  // A picture cut from a selection of the same size goes back where it was.
  if (E.gSelection && picture.Width() == r.Right - r.Left && picture.Height() == r.Bottom - r.Top)
    E.gSelection->SetLocation(r);
}

void PasteAsFloatingSelection1Click(TEditor& E) { PasteAsFloatingSelection1Click(E, Clipboard()); }

void EmptyClipboard1Click(TClipboard& Board) {
  Board.Open();
  Board.Clear();
  Board.Close();
}

void EmptyClipboard1Click() { EmptyClipboard1Click(Clipboard()); }

void Delete1Click(TEditor& E) { DeleteSelectedLayer(E); }

void Stamp1Click(TEditor& E) { StampLayer(E, E.gSelectedLayer); }

void Flatten1Click(TEditor& E) {
  if (!E.gSelectedLayer) return;
  StampLayer(E, E.gSelectedLayer);
  DeleteSelectedLayer(E);
}

void BringtoFront1Click(TEditor& E) {
  if (!E.gSelectedLayer) return;
  E.gSelectedLayer->BringToFront();
  // The frame stays above the layer it wraps.
  if (E.gSelection) E.gSelection->BringToFront();
}

void SendtoBack1Click(TEditor& E) {
  if (E.gSelectedLayer) E.gSelectedLayer->SendToBack();
}

void Unstretch1Click(TEditor& E) { UnstretchLayer(E, E.gSelectedLayer); }

void DeleteAll1Click(TEditor& E) {
  SelectLayer(E, nullptr);
  TLayerCollection* layers = E.View().Layers();
  for (int32_t i = layers->Count() - 1; i >= 0; --i)
    if (i < layers->Count() && !IsMarker(E, layers->Items(i))) DeleteLayer(E, i);
}

void FlattenAll1Click(TEditor& E) { FlattenAllLayers(E); }

void Layers1Click(TEditor& E) {
  // The user's layers: neither the selection frame nor the markers count.
  TLayerCollection* layers = E.View().Layers();
  int32_t n = 0;
  for (int32_t i = 0; i < layers->Count(); ++i)
    if (dynamic_cast<TRubberbandLayer*>(layers->Items(i)) == nullptr) ++n;
  EditorUi& ui = E.Ui();
  for (const char* item : {"DeleteAll1", "FlattenAll1", "Layers2", "Flatten1"}) ui.SetMenuEnabled(item, n >= 1);
  const bool selected = E.gSelectedLayer.get() != nullptr;
  ui.SetMenuEnabled("Delete1", selected);
  ui.SetMenuEnabled("Arrange1", selected);
}

void Image1Click(TEditor& E) { E.Ui().SetMenuEnabled("CroptoSelection1", E.gSelection.get() != nullptr); }

void Layers2Click(TEditor& E) {
  TLayerCollection* layers = E.View().Layers();
  std::vector<TLayerListItem> items;
  for (int32_t i = 0; i < layers->Count(); ++i)
    if (dynamic_cast<TBitmapLayer*>(layers->Items(i)) != nullptr) items.push_back({i, "Layer " + std::to_string(i)});
  E.Ui().SetLayerListItems(items);
}

void Layer1Click(TEditor& E, int32_t Tag) {
  TLayerCollection* layers = E.View().Layers();
  if (Tag < 0 || Tag >= layers->Count()) return;
  auto* layer = dynamic_cast<TBitmapLayer*>(layers->Items(Tag));
  if (layer == nullptr) return;
  SelectLayer(E, layer);
  if (!E.gSelection) return;
  const TFloatRect loc = E.gSelection->Location();
  E.gSelAnchor = TPoint{TruncCoord(loc.Left), TruncCoord(loc.Top)};
  E.gSelRect = loc;
  ShowSelectionInfo(E, loc);
}

void GaugeBar1Change(TEditor& E) {
  auto* layer = dynamic_cast<TBitmapLayer*>(E.gSelectedLayer.get());
  if (layer == nullptr) return;
  layer->Bitmap()->SetMasterAlpha(static_cast<uint32_t>(ClampLevel(E.Ui().GaugePosition(TGauge::Alpha))));
}
