#pragma once
// What the editing engine needs of the main window. The engine never touches
// a toolkit: the gauges, colour swatches, status panels, caption, menus,
// boxes, busy cursor, dialogs, popup menus, histogram window and clock all
// go through this interface. The application implements it with its Qt main
// window; tests use a scripted fake that records what was asked.
//
// Controls are named as the main window's components are (GaugeBar1,
// PaintBox2, Histogram1, ...), so a reader can find the widget behind a call.
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "raster_core.h"
#include "view_host.h"

// The three gauges under the colour swatches.
enum class TGauge : uint8_t {
  Alpha = 1,    // GaugeBar1: 0..255, level or opacity of most commands
  Size = 2,     // GaugeBar2: tool size (radius)
  Density = 3,  // GaugeBar3: density or tolerance
};

// The three colour swatches, by the mouse button that paints with them.
enum class TSwatch : uint8_t {
  Foreground,  // PaintBox2, left button
  Background,  // PaintBox1, right button
  Extra,       // PaintBox3, middle button
};

// What the text tool hands the text dialog and gets back on OK.
struct TTextDialogData {
  TColor32 Foreground = 0;
  TColor32 Background = 0;
  std::string FontName;   // settings value "font.name"
  int32_t FontSize = 0;   // "font.size"
  int32_t FontStyle = 0;  // "font.style"
  std::string Text;       // "usertext"
  TBitmap32* Rendered = nullptr;  // receives the text as the dialog drew it
};

// One item of the Layers > Layers submenu.
struct TLayerListItem {
  int32_t Tag = 0;  // the layer's index
  std::string Caption;
  friend bool operator==(const TLayerListItem&, const TLayerListItem&) = default;
};

// What the shared parameter dialog (TBCDlg) hands back: the positions of
// TrackBar1 (P1), TrackBar2 (P2) and TrackBar4 (P4) and the channel boxes.
struct TParamValues {
  int32_t P1 = 0, P2 = 0, P4 = 0;
  bool Red = true, Green = true, Blue = true;
};

// How a command sets the parameter dialog up. A label "None:" hides its
// slider and edit box.
struct TParamDialogSetup {
  int32_t Kind = 0;  // the dialog's Tag, 1..14
  std::string Caption;
  std::string Label1, Label2, Label4;
  bool ChannelsVisible = false;  // the "Channels" group
  // Image321's bitmap: the work bitmap stretched (linear) so that its longer
  // side is 128; Image322 is made the same size.
  const TBitmap32* Preview = nullptr;
  // What Proof works on: the work bitmap at full size, the swatch colours the
  // effects paint with, and how the document shows a full-size result:
  // ShowWork calls Render with the bitmap to draw it into (the target or the
  // selected layer's bitmap when they show the work bitmap pixel for pixel,
  // so no copy is needed; otherwise the work bitmap, which it then stretches
  // into the selection), and repaints.
  TBitmap32* Work = nullptr;
  TColor32 Foreground = 0, Background = 0;
  std::function<void(const std::function<void(TBitmap32* Dst)>& Render)> ShowWork;
};

// The resize dialog's (TResizeDlg) values: UpDown1, UpDown2, the resampler
// index of ComboBox1's item (0..6), and the offsets UpDown3 and UpDown4.
struct TResizeValues {
  int32_t Width = 0, Height = 0;
  int32_t ResamplerIndex = 2;
  int32_t Left = 0, Top = 0;
};

class EditorUi {
 public:
  virtual ~EditorUi() = default;

  // ---- Window -------------------------------------------------------------------
  virtual void SetCaption(const std::string& Caption) = 0;
  // The screen cursor (crHourGlass while a command runs, crDefault after).
  virtual void SetScreenCursor(TCursor Cursor) = 0;
  // Milliseconds since an arbitrary start, wrapping at 2^32 (the tick count).
  virtual uint32_t TickCount() = 0;
  virtual void Beep() = 0;

  // ---- Boxes -----------------------------------------------------------------------
  // The application's message box (the application title as caption, on top);
  // returns the pressed button's id.
  virtual int MessageBox(const std::string& Text, uint32_t Flags) = 0;
  // Reports a caught exception: "Exception (" + class name + ") " + Place +
  // ": " + message, with the error icon.
  virtual void ExceptionBox(const std::exception& E, const std::string& Place) = 0;

  // ---- Gauges, swatches, status bar -------------------------------------------------
  virtual int32_t GaugePosition(TGauge Gauge) = 0;
  virtual void SetGaugePosition(TGauge Gauge, int32_t Position) = 0;
  virtual void SetGaugeEnabled(TGauge Gauge, bool Enabled) = 0;
  virtual TColor32 SwatchColor(TSwatch Swatch) = 0;
  virtual void SetSwatchColor(TSwatch Swatch, TColor32 Color) = 0;
  // Panel 0 holds hints, panel 1 the pointer position and the selection.
  virtual void SetStatusText(int32_t Panel, const std::string& Text) = 0;
  virtual bool StatusBarVisible() = 0;

  // ---- Menus ------------------------------------------------------------------------
  // Item is the menu item's component name ("Image1", "Histogram1").
  virtual void SetMenuVisible(const std::string& Item, bool Visible) = 0;
  virtual bool MenuChecked(const std::string& Item) = 0;
  virtual void SetMenuEnabled(const std::string& Item, bool Enabled) = 0;
  // Layers > Layers: the window shows one item per entry, in order, with the
  // entry's tag and caption, all clicking Layer1Click, and hides the rest.
  virtual void SetLayerListItems(const std::vector<TLayerListItem>& Items) = 0;
  virtual void SetMenuCaption(const std::string& Item, const std::string& Caption) = 0;
  // Shows the popup menu named Menu ("PopupMenu1") at control point (X, Y).
  virtual void Popup(const std::string& Menu, int32_t X, int32_t Y) = 0;

  // ---- Tool bar ------------------------------------------------------------------------
  // Presses the tool button of Tool (1..8) and releases the others.
  virtual void PressToolButton(int32_t Tool) = 0;
  // ComboBox1, the retouch effect list: item -1 when none is chosen.
  virtual void SetEffectListEnabled(bool Enabled) = 0;
  virtual int32_t EffectListIndex() = 0;
  virtual void SetEffectListIndex(int32_t Index) = 0;
  // A label's caption and hint ("Label6", "Label3", ...).
  virtual void SetLabel(const std::string& Label, const std::string& Caption, const std::string& Hint) = 0;
  // The view's own hint, shown under the pointer, and hiding it again.
  virtual void ShowViewHint(const std::string& Text) = 0;
  virtual void HideViewHint() = 0;

  // ---- Dialogs ----------------------------------------------------------------------
  // The text dialog (TTextDlg) with Data's colours, font and text; on OK Data
  // holds the text and font chosen and Data.Rendered the drawn text.
  virtual bool TextDialog(TTextDialogData& Data) = 0;
  // ColorDialog1 opened with Color; on OK Color is the chosen one.
  virtual bool ColorDialog(TColor32& Color) = 0;
  // A one-line text query; false when cancelled (Value is then unchanged).
  virtual bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value) = 0;
  // The parameter dialog shown modally; true for OK, Values then holds its
  // sliders and boxes. Values comes in as the dialog last left them.
  virtual bool RunParamDialog(const TParamDialogSetup& Setup, TParamValues& Values) = 0;
  // The resize dialog with Caption in mode 1 (resize), 2 (new image) or 3
  // (canvas size), CheckBox1 ("Maintain aspect ratio") set to KeepAspect,
  // Values.Width and Values.Height as the start size; true for OK.
  virtual bool RunResizeDialog(const std::string& Caption, int32_t Mode, bool KeepAspect, TResizeValues& Values) = 0;

  // ---- Histogram window -------------------------------------------------------------
  virtual bool HistogramExists() = 0;
  virtual void CreateHistogram() = 0;
  virtual bool HistogramVisible() = 0;
  // Shows the window on top of the others.
  virtual void ShowHistogram() = 0;
  virtual void HideHistogram() = 0;
  // Recounts and repaints the curves of the current image.
  virtual void RepaintHistogram() = 0;
};
