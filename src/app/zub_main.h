#pragma once
// The main window: the scrollable view Image321 of the one document, the menu
// bar built from one table of rows, and the status bar. The window is the
// editor's EditorUi; the document commands, the window list and the
// receiving side of the hand-over between windows live here.
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>

#include "editor_ui.h"
#include "img_undo.h"
#include "mru.h"
#include "zub_settings.h"

class QAction;
class QLabel;
class QMenu;
class TEditor;
class TImgView32;
class TInstanceServer;
class TViewWidget;
class TZubDocument;
class TEditorActions;
class TPluginHost;
class TPluginsMenu;
class TPrinting;
class TTwainSession;
class TMouseTools;
class TzubForm;

class QComboBox;
class QGridLayout;
class QVBoxLayout;
class QToolBar;
class QToolButton;
class TGaugeBar;
class TColorBox;
class TPaletteBox;

// One row of the menu table: an item under Parent ("" for the menu bar, "#"
// for a popup menu of its own); a row that other rows name as their parent
// becomes a submenu; "-" is a separator. Click gets the item, whose data
// holds Tag. A submenu's Click runs when the submenu opens. A leaf without
// Click runs MenuActionClick when it has a Tag; a leaf with a Hook runs the
// window's handler of that name (Hooks), and is disabled while none is set.
struct TMenuRow {
  const char* Name;
  const char* Parent;
  const char* Caption;
  const char* Shortcut;
  int32_t Tag;
  void (TzubForm::*Click)(QAction* Item);
  const char* Hook = nullptr;
};

// The menu table, in menu order.
const std::vector<TMenuRow>& MenuRows();

// The custom 5 x 5 kernel and its divisor, as the matrix command reads them.
struct TMatrixKernel {
  std::array<int32_t, 25> Cells{};
  int32_t Divisor = 0;
};
// Custom > Random: each cell is Random(8) - 4 when Random(4) < 1, else 0,
// and adds to the divisor; a negative sum negates the divisor and the cells.
// Random(N) answers 0 .. N - 1.
TMatrixKernel RandomKernel(const std::function<int32_t(int32_t N)>& Random);

// Zoom steps: the next scale up or down by the square root of two, computed
// in double and kept as the view's float; the same scale when the step would
// leave 1/7 .. 7.
float ZoomInScale(float Scale);
float ZoomOutScale(float Scale);
// The scale that fits Bitmap into Client less a margin of 33 pixels; 0 when
// there is nothing to fit.
float FitScale(int32_t ClientWidth, int32_t ClientHeight, int32_t BitmapWidth, int32_t BitmapHeight);
// Sets the view's offsets by moving its bars, so the view's next image
// update keeps them (it recomputes the offsets from the bars).
void SetViewOffsets(TImgView32& View, float OffsetHorz, float OffsetVert);
// "#RRGGBB" of a colour's value, alpha dropped.
std::string ColorLabel(TColor32 Color);

class TzubForm : public QMainWindow, public EditorUi {
 public:
  explicit TzubForm(QWidget* Parent = nullptr);
  ~TzubForm() override;

  TEditor& Editor() const { return *editor_; }
  TZubDocument& Document() const { return *document_; }
  TEditorActions& Actions() const { return *actions_; }
  TMouseTools& Tools() const { return *mouseTools_; }
  TPluginHost& Plugins() const { return *plugins_; }
  TImgView32& Image321() const { return *view_; }
  TViewWidget* ViewWidget() const { return viewWidget_; }
  TMRU& Recent() const { return *recent_; }
  // The item of the menu table named Name; null when there is none.
  QAction* MenuItem(const std::string& Name) const;
  QMenu* SubMenu(const std::string& Name) const;
  // Names the engine asked for that the window has no item of, in order;
  // each is also reported on stderr.
  const std::vector<std::string>& UnknownMenuNames() const { return unknownMenuNames_; }

  // ---- Settings ----------------------------------------------------------------------
  TAppSettings CollectSettings() const;
  void ApplySettings(const TAppSettings& S);

  // ---- Start-up and the other windows --------------------------------------------------
  // Each argument in turn: "@" pastes, "@name" opens name, one or two
  // characters are ignored, anything else is opened.
  void HandleArguments(const std::vector<std::string>& Args);
  // A file handed over by another start: opened when it exists and the
  // current image may be discarded.
  void OpenHandedOver(const std::string& FileName);
  // Files dropped on the window: only exactly one, and only when it exists.
  void DropFiles(const std::vector<std::string>& Names);
  bool StartInstanceServer();
  TInstanceServer* Instance() const { return instance_; }
  // Brings the window to the front.
  void BringToFront();

  // ---- Close ---------------------------------------------------------------------------
  bool Printing = false;  // a print job is running (set by tests; the job itself is asked too)
  bool IsPrinting() const;
  std::function<void()> OnFormClosed;  // the window was allowed to close
  bool FormCloseQuery();
  void Cleanup();

  // ---- Controls ----------------------------------------------------------------------------
  QToolBar* ToolBar1() const { return toolBar1_; }
  QToolBar* ToolBar2() const { return toolBar2_; }
  QToolButton* ToolButton(int32_t Index) const { return tools_[static_cast<size_t>(Index)]; }
  TGaugeBar& GaugeBar(TGauge Gauge) const { return *gaugeBars_[static_cast<size_t>(Gauge) - 1]; }
  QWidget* GaugeWidget(TGauge Gauge) const { return gaugeWidgets_[static_cast<size_t>(Gauge) - 1]; }
  QComboBox* ComboBox1() const { return comboBox1_; }
  QLabel* StatusPanel(int32_t Index) const { return panels_[static_cast<size_t>(Index)]; }
  QLabel* ColorLabelOf(TSwatch Swatch) const;
  QWidget* Palette() const;
  // The Retouch tool's effect: the Tag of the chosen entry.
  int32_t RetouchEffectTag() const;
  // Handlers that other parts of the program provide, by handler name
  // ("Copy1Click", ...); their items stay disabled while unset.
  void SetHook(const std::string& Name, std::function<void(QAction*)> Handler);
  bool HasHook(const std::string& Name) const;
  // Runs the open handlers of every menu so items and their shortcuts follow
  // the document's state.
  void RefreshMenuState();
  // False for an item that lies in a menu the window hides (the picture's
  // menus while no picture is shown): the user cannot see it, so neither its
  // key nor anything else may run it.
  bool Reachable(QAction* Item) const;
  // The plug-ins (and Redo Plugin, which repeats one) are items of the Image menu.
  bool PluginsReachable() const { return Reachable(MenuItem("Plugins1")); }
  // The Draw tool's snap grid ("drawgrid"); 1 is off.
  int32_t gSnapGrid = 1;
  std::function<int32_t(int32_t)> Random;  // Random(N): 0 .. N - 1
  // Where Custom > Random leaves the kernel before it runs the matrix command.
  std::function<void(const TMatrixKernel&)> SetCustomKernel;
  // A colour picked on the palette (the brush becomes a colour brush).
  std::function<void(TMouseButton Button)> OnPalettePick;
  // The size or density gauge moved: the brush mask follows.
  std::function<void()> BuildBrushMask;
  // Selects a tool and shows it on the toolbar.
  void SelectTool(int32_t Tool);
  // Checks the button of the engine's current tool.
  void SyncToolButtons();

  // ---- View and zoom ----------------------------------------------------------------------
  void SetScale(float Scale);
  // The wheel at control point (X, Y) of the view: Delta > 0 zooms in.
  void WheelZoom(int32_t Delta, bool Ctrl, int32_t X, int32_t Y);
  // A key as the window previews it; true when used.
  bool PreviewKey(int Key, Qt::KeyboardModifiers Mods, bool Press, bool AutoRepeat);
  // Rows of the edit toolbar as the window's width wraps it.
  void WrapToolBar1(int32_t WindowWidth);
  int32_t ToolBar1Rows() const { return toolBar1Rows_; }
  // Puts the selection frame over its bitmap rectangle again after the view
  // moved (not while it is dragged).
  void PlaceSelectionFrame();
  // Edge borders of the two toolbars after a toggle.
  void SetToolbarBorders();

  // ---- Menu handlers ---------------------------------------------------------------------
  void MenuActionClick(QAction* Item);
  void HookClick(QAction* Item);
  void File1Click(QAction*);
  void Edit1Click(QAction*);
  void Paste1Click(QAction*);
  void View1Click(QAction*);
  void Image1Click(QAction*);
  void Colors1Click(QAction*);
  void Layers1Click(QAction*);
  void Layers2Click(QAction*);
  void Layer1Click(QAction* Item);
  void Bars1Click(QAction*);
  void Preferences1Click(QAction*);
  void Transparency1Click(QAction*);
  void Commit1Click(QAction*);
  void Rollback1Click(QAction*);
  void ClearEXIFInfo1Click(QAction*);
  void SetResizing(QAction* Item);
  void Default1Click(QAction* Item);
  void GrayScale1Click(QAction* Item);
  void Dither1Click(QAction* Item);
  void CreateBackup1Click(QAction*);
  void ShowPathonTitle1Click(QAction*);
  void N101Click(QAction* Item);
  void Undo1Click(QAction*);
  void UndoUndo1Click(QAction*);
  void Redo1Click(QAction*);
  void SelectAll1Click(QAction*);
  void SelectNone1Click(QAction*);
  void PasteAsFloatingSelection1Click(QAction*);
  void EmptyClipboard1Click(QAction*);
  void NormalViewing1Click(QAction*);
  void ZoomIn1Click(QAction*);
  void ZoomOut1Click(QAction*);
  void N210Click(QAction* Item);
  void Fit1Click(QAction*);
  void StandardToolbar1Click(QAction*);
  void EditToolbar1Click(QAction*);
  void StatusBar2Click(QAction*);
  void Histogram1Click(QAction*);
  void Timing1Click(QAction*);
  void Random1Click(QAction*);
  void TransparentBackground1Click(QAction*);
  void CountColorsUsed1Click(QAction*);
  void DeleteAll1Click(QAction*);
  void FlattenAll1Click(QAction*);
  void Delete1Click(QAction*);
  void Flatten1Click(QAction*);
  void Stamp1Click(QAction*);
  void BringtoFront1Click(QAction*);
  void SendtoBack1Click(QAction*);
  void Unstretch1Click(QAction*);
  void Help2Click(QAction*);
  void HomePage1Click(QAction*);
  void New1Click(QAction*);
  void NewWindow1Click(QAction*);
  void OpenFile1Click(QAction*);
  void OpeninNewWindow1Click(QAction*);
  void OpenRecentFile1Click(QAction* Item);
  void Revert1Click(QAction*);
  void Save1Click(QAction*);
  void SaveAs1Click(QAction*);
  void Close1Click(QAction*);
  void SetJPEGQuality(QAction* Item);
  void Windows1Click(QAction*);
  void Window1Click(QAction* Item);
  void Exit1Click(QAction*);
  void PasteIntoNewWindow1Click(QAction*);
  void About1Click(QAction*);
  void SaveAs(const std::string& FileName);

  // The open and save dialogs' filter, from the picture-format registry.
  static QString PictureFilter();

  // ---- EditorUi ----------------------------------------------------------------------
  void SetCaption(const std::string& Caption) override;
  void SetScreenCursor(TCursor Cursor) override;
  uint32_t TickCount() override;
  void Beep() override;
  int MessageBox(const std::string& Text, uint32_t Flags) override;
  void ExceptionBox(const std::exception& E, const std::string& Place) override;
  int32_t GaugePosition(TGauge Gauge) override;
  void SetGaugePosition(TGauge Gauge, int32_t Position) override;
  void SetGaugeEnabled(TGauge Gauge, bool Enabled) override;
  TColor32 SwatchColor(TSwatch Swatch) override;
  void SetSwatchColor(TSwatch Swatch, TColor32 Color) override;
  void SetStatusText(int32_t Panel, const std::string& Text) override;
  bool StatusBarVisible() override;
  void SetMenuVisible(const std::string& Item, bool Visible) override;
  bool MenuChecked(const std::string& Item) override;
  void Popup(const std::string& Menu, int32_t X, int32_t Y) override;
  void SetMenuEnabled(const std::string& Item, bool Enabled) override;
  void SetLayerListItems(const std::vector<TLayerListItem>& Items) override;
  void SetMenuCaption(const std::string& Item, const std::string& Caption) override;
  void PressToolButton(int32_t Tool) override;
  void SetEffectListEnabled(bool Enabled) override;
  int32_t EffectListIndex() override;
  void SetEffectListIndex(int32_t Index) override;
  void SetLabel(const std::string& Label, const std::string& Caption, const std::string& Hint) override;
  void ShowViewHint(const std::string& Text) override;
  void HideViewHint() override;
  bool TextDialog(TTextDialogData& Data) override;
  bool ColorDialog(TColor32& Color) override;
  bool RunParamDialog(const TParamDialogSetup& Setup, TParamValues& Values) override;
  bool RunResizeDialog(const std::string& Caption, int32_t Mode, bool KeepAspect, TResizeValues& Values) override;
  bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value) override;
  bool HistogramExists() override;
  void CreateHistogram() override;
  bool HistogramVisible() override;
  void ShowHistogram() override;
  void HideHistogram() override;
  void RepaintHistogram() override;

 protected:
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void BuildMenus();
  void BuildToolBars();
  void BuildStatusBar();
  void UpdateJpegChecks();
  void UpdateColorLabels();
  void GaugeChanged(TGauge Gauge);
  // The store Undo and Undo Undo use, and its bitmap; null when none applies.
  TBitmap32Undo* UndoStore(TBitmap32*& Bitmap) const;
  // Edit > Undo (Again: Undo Undo) on the store in use.
  void UndoStep(bool Again);
  // The Index-th item of a list menu (the window or layer list), added with
  // its click when the menu is shorter.
  QAction* ListItem(QMenu* Menu, size_t Index, void (TzubForm::*Click)(QAction*));
  // Shows "Can't " before a disabled item's caption.
  void SetUndoItem(const char* Name, bool Enabled);
  bool FromMe(QObject* Watched) const;
  // The item the engine names; a name without one is recorded.
  QAction* EngineItem(const std::string& Name);
  void NoSuchItem(const std::string& Name);
  // Items whose handler is not in this program stay off, whatever the rules
  // say; then a submenu that offers no enabled item is shown disabled.
  void DisableUnsetHooks();
  void DisableEmptySubmenus();
  // Points the menu items at the engine's handlers (actions, tools, points).
  void ConnectEngineHooks();

  std::unique_ptr<TImgView32> view_;
  TViewWidget* viewWidget_ = nullptr;
  std::unique_ptr<TEditor> editor_;
  std::unique_ptr<TZubDocument> document_;
  // The image commands and the mouse tools register themselves with the
  // editor; they go before it.
  std::unique_ptr<TEditorActions> actions_;
  std::unique_ptr<TMouseTools> mouseTools_;
  std::unique_ptr<TPluginHost> plugins_;
  TPluginsMenu* pluginsMenu_ = nullptr;  // owned by the window
  std::unique_ptr<TPrinting> printing_;
  std::unique_ptr<TTwainSession> twain_;
  std::unique_ptr<TMruMenu> recentMenu_;
  std::unique_ptr<TMRU> recent_;
  TInstanceServer* instance_ = nullptr;
  std::vector<std::pair<std::string, QAction*>> items_;
  std::vector<std::pair<std::string, QMenu*>> menus_;
  std::array<QLabel*, 3> panels_{};
  std::array<std::unique_ptr<TGaugeBar>, 3> gaugeBars_;
  std::array<QWidget*, 3> gaugeWidgets_{};
  std::array<QLabel*, 3> gaugeLabels_{};
  std::array<QToolButton*, 8> tools_{};
  std::array<TColorBox*, 3> colorBoxes_{};
  std::array<QLabel*, 2> colorLabels_{};
  TPaletteBox* palette_ = nullptr;
  QToolBar* toolBar1_ = nullptr;
  QToolBar* toolBar2_ = nullptr;
  QWidget* strip_ = nullptr;
  QWidget* panel2_ = nullptr;
  QVBoxLayout* stripLayout_ = nullptr;
  std::array<QWidget*, 5> stripGroups_{};
  QWidget* toolButton9_ = nullptr;
  QWidget* toolButton10_ = nullptr;
  int32_t toolBar1Rows_ = 1;
  QComboBox* comboBox1_ = nullptr;
  std::map<std::string, std::function<void(QAction*)>> hooks_;
  std::vector<std::string> unknownMenuNames_;
  std::array<TColor32, 3> swatches_{0xFFFFFFFFu, 0xFF000000u, 0xFF808080u};
  bool updatingGauges_ = false;
  TAppSettings kept_;  // what the window only carries to the exit ("savemru", "version", "exe")
  int busyCursors_ = 0;
  bool cleanedUp_ = false;
  bool shownOnce_ = false;
  // The frame was put on the screen, or found absent, at the first expose.
  bool frameFitted_ = false;
  void FitFrameOnScreenOnce();
};
