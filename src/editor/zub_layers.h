#pragma once
// The selection frame and the floating layers: creating, presenting and
// describing the frame, selecting a layer, and the Edit and Layers menu
// commands that act on them (Select All / None, Paste As Floating Selection,
// delete, stamp, flatten, arrange, unstretch, the layer list, the alpha gauge).
//
// The selection is a rubber band in the view's layer collection
// (gSelection). A floating picture is a bitmap layer; selecting it wraps it in
// a fresh frame that carries it as its child, so dragging the frame moves the
// picture. The frame always lies above the layer it wraps. A frame is made
// hidden and without mouse events; the command that shows it to the user
// presents it (PresentSelection), and selecting a layer always does.
//
// One-pixel rubber bands made through CreateSelection into any variable other
// than gSelection are the reference-point markers of the lens corrections.
// They are not the user's layers: Delete All and Flatten All leave them alone,
// and the Layers menu does not count them.
#include <cstdint>
#include <string>

#include "platform_clipboard.h"
#include "raster_core.h"
#include "raster_layers.h"
#include "zub_main_engine.h"

// Tag of a frame made by CreateSelection; Select All adds kSelectAllTag, and
// a creating drag of the Selection tool only reshapes frames below 1000.
constexpr int32_t kSelectionTag = 1;
constexpr int32_t kSelectAllTag = 1001;

// ---- The selection frame ---------------------------------------------------------------

// Hides and frees the frame held by Layer and repaints the view. Freeing the
// selection also ends the selection of the layer it wrapped.
void FreeSelection(TEditor& E, TLayerRef<TRubberbandLayer>& Layer);
// A new hidden frame over R (control coordinates) in Layer, replacing the old
// one. For gSelection: location R, gSelRect, gSelAnchor, the tag and the
// Ctrl-resizing handler. For any other variable: a one-pixel marker at R's
// top-left corner, visible, without mouse events, at the front.
TRubberbandLayer* CreateSelection(TEditor& E, const TFloatRect& R, TLayerRef<TRubberbandLayer>& Layer);
// A one-pixel frame or marker at (X, Y).
TRubberbandLayer* CreateSelectionAt(TEditor& E, float X, float Y, TLayerRef<TRubberbandLayer>& Layer);
// Shows gSelection with its handles and mouse events, in front of every layer.
void PresentSelection(TEditor& E);

// The frame's rectangle in bitmap coordinates: a frame that wraps a scaled
// layer is kept in bitmap coordinates already, any other in control coordinates.
TFloatRect SelectionBitmapRect(TEditor& E, const TFloatRect& R);
// "[L,T,R,B]=(WxH:ratio)" with the ratio rounded to two decimals, ties to
// even; "[L,T,R,B]=(WxH)" when the height is 0. Every value is truncated.
std::string SelectionInfoText(const TFloatRect& BitmapRect);
// R is a frame's location (control coordinates, or bitmap coordinates for a
// frame that wraps a scaled layer); stores it in bitmap coordinates as
// gSelBitmapRect and shows it in status panel 1.
void ShowSelectionInfo(TEditor& E, const TFloatRect& R);
// The frame's resizing handler: keeps the frame on the image, follows it in
// gSelRect and the status bar, and with Ctrl held keeps the aspect ratio of
// the frame at the drag's start while a side handle is dragged.
void RBResizing(TEditor& E, TRubberbandLayer* Sender, const TFloatRect& OldLocation, TFloatRect& NewLocation,
                TDragState DragState, TShiftState Shift);

// Selects Layer (null: none). The old frame goes and the layer undo store is
// emptied; a layer gets tool 1, a new frame that carries it, shown with its
// handles and mouse events in front, and the alpha gauge shows its master
// alpha (enabled for bitmap layers only).
void SelectLayer(TEditor& E, TCustomLayer* Layer);

// ---- Floating layers ---------------------------------------------------------------------

// A floating picture layer at bitmap point (X, Y): a copy of Picture with the
// alpha gauge as master alpha, blended, scaled with the view, shrunk (never
// enlarged) to fit into the document, drawn with the document's stretch
// filter. Null (and no layer) for an empty picture.
TBitmapLayer* NewBitmapLayer(TEditor& E, const TBitmap32* Picture, float X, float Y,
                             const TLayerMouseEvent& MouseDown);
// The main window's mouse-down handler of floating layers: selects the layer clicked.
TLayerMouseEvent LayerMouseDownHandler(TEditor& E);
// Draws a bitmap layer into the document where it lies, with its master
// alpha; one undo step, then caption and histogram follow.
void StampLayer(TEditor& E, TCustomLayer* Layer);
// Deselects the selected layer, then deletes the layer at Index when there is one.
void DeleteLayer(TEditor& E, int32_t Index);
// Gives Layer its bitmap's own size again, keeping its top-left corner.
void UnstretchLayer(TEditor& E, TCustomLayer* Layer);
// Stamps every floating layer into the document, bottom first, and deletes
// them: one undo step for the whole and one per stamped layer.
void FlattenAllLayers(TEditor& E);

// ---- Menu commands -------------------------------------------------------------------------

// Edit menu.
void SelectNone1Click(TEditor& E);
void SelectAll1Click(TEditor& E);
void PasteAsFloatingSelection1Click(TEditor& E, TClipboard& Board);
void PasteAsFloatingSelection1Click(TEditor& E);
void EmptyClipboard1Click(TClipboard& Board);
void EmptyClipboard1Click();

// Layers menu and the layer popup; each acts on the selected layer and does
// nothing without one, except Delete All and Flatten All.
void Delete1Click(TEditor& E);  // also Delete2Click
void Stamp1Click(TEditor& E);
void Flatten1Click(TEditor& E);  // also Flatten2Click
void BringtoFront1Click(TEditor& E);  // also BringtoFront2Click
void SendtoBack1Click(TEditor& E);    // also SendtoBottom1Click
void Unstretch1Click(TEditor& E);
void DeleteAll1Click(TEditor& E);
void FlattenAll1Click(TEditor& E);

// Menu state when a menu opens, through the window: Layers (DeleteAll1,
// FlattenAll1, Layers2, Flatten1, Delete1, Arrange1) and Image (CroptoSelection1).
void Layers1Click(TEditor& E);
void Image1Click(TEditor& E);
// Fills Layers > Layers with one "Layer <index>" item per bitmap layer.
void Layers2Click(TEditor& E);
// The item with Tag chosen: selects that bitmap layer and presents its frame.
void Layer1Click(TEditor& E, int32_t Tag);

// The alpha gauge moved: a selected bitmap layer takes its position as master alpha.
void GaugeBar1Change(TEditor& E);
