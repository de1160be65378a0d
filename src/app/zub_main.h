#pragma once
// The main window: the scrollable view Image321 of the one document, the menu
// bar built from one table of rows, and the status bar. The window is the
// editor's EditorUi; the document commands, the window list and the
// receiving side of the hand-over between windows live here.
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>

#include "editor_ui.h"
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
class TMouseTools;
class TzubForm;

// One row of the menu table: an item under Parent ("" for the menu bar); a
// row that other rows name as their parent becomes a submenu; "-" is a
// separator. Click gets the item, whose data holds Tag.
struct TMenuRow {
  const char* Name;
  const char* Parent;
  const char* Caption;
  const char* Shortcut;
  int32_t Tag;
  void (TzubForm::*Click)(QAction* Item);
};

class TzubForm : public QMainWindow, public EditorUi {
 public:
  explicit TzubForm(QWidget* Parent = nullptr);
  ~TzubForm() override;

  TEditor& Editor() const { return *editor_; }
  TZubDocument& Document() const { return *document_; }
  TEditorActions& Actions() const { return *actions_; }
  TMouseTools& Tools() const { return *tools_; }
  TImgView32& Image321() const { return *view_; }
  TViewWidget* ViewWidget() const { return viewWidget_; }
  TMRU& Recent() const { return *recent_; }
  // The item of the menu table named Name; null when there is none.
  QAction* MenuItem(const std::string& Name) const;
  QMenu* SubMenu(const std::string& Name) const;

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
  bool Printing = false;  // a print job is running
  std::function<void()> OnFormClosed;  // the window was allowed to close
  bool FormCloseQuery();
  void Cleanup();

  // ---- Menu handlers ---------------------------------------------------------------------
  void New1Click(QAction*);
  void NewWindow1Click(QAction*);
  void OpenFile1Click(QAction*);
  void OpenInNewWindow1Click(QAction*);
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
  void PressToolButton(int32_t Tool) override { tool_ = Tool; }
  void SetEffectListEnabled(bool) override {}
  int32_t EffectListIndex() override { return effectIndex_; }
  void SetEffectListIndex(int32_t Index) override { effectIndex_ = Index; }
  void SetLabel(const std::string&, const std::string&, const std::string&) override {}
  void ShowViewHint(const std::string& Text) override;
  void HideViewHint() override;
  bool TextDialog(TTextDialogData&) override { return false; }
  bool ColorDialog(TColor32& Color) override;
  bool RunParamDialog(const TParamDialogSetup& Setup, TParamValues& Values) override;
  bool RunResizeDialog(const std::string& Caption, int32_t Mode, bool KeepAspect, TResizeValues& Values) override;
  bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value) override;
  bool HistogramExists() override { return false; }
  void CreateHistogram() override {}
  bool HistogramVisible() override { return false; }
  void ShowHistogram() override {}
  void HideHistogram() override {}
  void RepaintHistogram() override {}

 protected:
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;

 private:
  // Until the tool bar and the retouch list exist, the pressed tool and the chosen effect are kept here.
  int32_t tool_ = 1;
  int32_t effectIndex_ = -1;
  void BuildMenus();
  void UpdateJpegChecks();

  std::unique_ptr<TImgView32> view_;
  TViewWidget* viewWidget_ = nullptr;
  std::unique_ptr<TEditor> editor_;
  std::unique_ptr<TZubDocument> document_;
  // The image commands and the mouse tools register themselves with the
  // editor; they go before it.
  std::unique_ptr<TEditorActions> actions_;
  std::unique_ptr<TMouseTools> tools_;
  std::unique_ptr<TMruMenu> recentMenu_;
  std::unique_ptr<TMRU> recent_;
  TInstanceServer* instance_ = nullptr;
  std::vector<std::pair<std::string, QAction*>> items_;
  std::vector<std::pair<std::string, QMenu*>> menus_;
  std::array<QLabel*, 2> panels_{};
  std::array<int32_t, 3> gauges_{255, 8, 128};
  std::array<TColor32, 3> swatches_{0xFFFFFFFFu, 0xFF000000u, 0xFF808080u};
  TAppSettings kept_;  // settings without a control yet, carried to the exit
  int busyCursors_ = 0;
  bool cleanedUp_ = false;
  bool shownOnce_ = false;
};
