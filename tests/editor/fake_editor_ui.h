#pragma once
// A scripted stand-in for the main window: it records what the engine asks
// of it, answers boxes and queries from a script, and runs a clock that moves
// only when the test moves it.
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "editor_ui.h"
#include "utilities.h"

class TFakeEditorUi : public EditorUi {
 public:
  struct Box {
    std::string Text;
    uint32_t Flags;
  };
  struct ExceptionReport {
    std::string ClassName, Message, Place;
  };

  void SetCaption(const std::string& C) override { Captions.push_back(C); }
  void SetScreenCursor(TCursor C) override { Cursors.push_back(C); }
  uint32_t TickCount() override { return Clock; }
  void Beep() override { ++Beeps; }
  int MessageBox(const std::string& Text, uint32_t Flags) override {
    Boxes.push_back({Text, Flags});
    if (BoxHook) BoxHook(Text);
    return IDOK;
  }
  void ExceptionBox(const std::exception& E, const std::string& Place) override {
    Exceptions.push_back({ExceptionClassName(E), E.what(), Place});
  }
  int32_t GaugePosition(TGauge G) override { return Gauges[G]; }
  void SetGaugePosition(TGauge G, int32_t P) override { Gauges[G] = P; }
  void SetGaugeEnabled(TGauge G, bool E) override { GaugeEnabled[G] = E; }
  TColor32 SwatchColor(TSwatch S) override { return Swatches[S]; }
  void SetSwatchColor(TSwatch S, TColor32 C) override { Swatches[S] = C; }
  void SetStatusText(int32_t Panel, const std::string& Text) override { Status[Panel] = Text; }
  bool StatusBarVisible() override { return StatusBarShown; }
  void SetMenuVisible(const std::string& Item, bool V) override { MenuVisible[Item] = V; }
  bool MenuChecked(const std::string& Item) override { return MenuCheck[Item]; }
  void SetMenuEnabled(const std::string& Item, bool E) override { MenuEnabled[Item] = E; }
  void SetLayerListItems(const std::vector<TLayerListItem>& Items) override { LayerItems = Items; }
  void Popup(const std::string& Menu, int32_t, int32_t) override { Popups.push_back(Menu); }
  void SetMenuCaption(const std::string& Item, const std::string& C) override { MenuCaption[Item] = C; }
  void PressToolButton(int32_t Tool) override { PressedTool = Tool; }
  void SetEffectListEnabled(bool E) override { EffectListOn = E; }
  int32_t EffectListIndex() override { return EffectIndex; }
  void SetEffectListIndex(int32_t I) override { EffectIndex = I; }
  void SetLabel(const std::string& L, const std::string& Caption, const std::string& Hint) override {
    Labels[L] = {Caption, Hint};
  }
  void ShowViewHint(const std::string& T) override { ViewHint = T; }
  void HideViewHint() override { ViewHint.clear(); }
  bool TextDialog(TTextDialogData& Data) override {
    TextAsked.push_back(Data);
    if (!TextAnswer) return false;
    TextAnswer(Data);
    return true;
  }
  bool ColorDialog(TColor32& C) override {
    ColorAsked.push_back(C);
    if (ColorAnswers.empty()) return false;
    C = ColorAnswers.front();
    ColorAnswers.pop_front();
    return true;
  }
  bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value) override {
    Queries.push_back({Caption, Prompt, Value});
    if (QueryAnswers.empty()) return false;
    Value = QueryAnswers.front();
    QueryAnswers.pop_front();
    return true;
  }
  bool RunParamDialog(const TParamDialogSetup& Setup, TParamValues& Values) override {
    ParamDialogs.push_back(Setup);
    if (Setup.Preview != nullptr) ParamPreviewSizes.push_back({Setup.Preview->Width(), Setup.Preview->Height()});
    if (ParamDialogHook) return ParamDialogHook(Setup, Values);
    if (ParamAnswers.empty()) return false;
    Values = ParamAnswers.front();
    ParamAnswers.pop_front();
    return true;
  }
  bool RunResizeDialog(const std::string& Caption, int32_t Mode, bool KeepAspect, TResizeValues& Values) override {
    ResizeDialogs.push_back({Caption, Mode, KeepAspect, Values.Width, Values.Height});
    if (ResizeAnswers.empty()) return false;
    Values = ResizeAnswers.front();
    ResizeAnswers.pop_front();
    return true;
  }
  bool HistogramExists() override { return HistogramMade; }
  void CreateHistogram() override { HistogramMade = true, ++HistogramCreations; }
  bool HistogramVisible() override { return HistogramShown; }
  void ShowHistogram() override { HistogramShown = true; }
  void HideHistogram() override { HistogramShown = false; }
  void RepaintHistogram() override { ++HistogramRepaints; }

  std::vector<std::string> Captions, Popups;
  std::vector<TCursor> Cursors;
  std::vector<Box> Boxes;
  std::function<void(const std::string&)> BoxHook;  // runs while a box is "up"
  std::vector<ExceptionReport> Exceptions;
  std::deque<std::string> QueryAnswers;
  struct Query {
    std::string Caption, Prompt, Value;  // Value as the query was opened with
  };
  std::vector<Query> Queries;
  // Dialogs: what each showing was given, and the scripted OK answers (none left = Cancel).
  struct ResizeShowing {
    std::string Caption;
    int32_t Mode;
    bool KeepAspect;
    int32_t Width, Height;
  };
  std::vector<TParamDialogSetup> ParamDialogs;
  std::vector<std::pair<int32_t, int32_t>> ParamPreviewSizes;
  std::deque<TParamValues> ParamAnswers;
  // When set, answers the parameter dialog in place of ParamAnswers (a test
  // that drives the dialog's own logic).
  std::function<bool(const TParamDialogSetup&, TParamValues&)> ParamDialogHook;
  std::vector<ResizeShowing> ResizeDialogs;
  std::deque<TResizeValues> ResizeAnswers;
  std::map<TGauge, int32_t> Gauges;
  std::map<TSwatch, TColor32> Swatches;
  std::map<int32_t, std::string> Status;
  std::map<TGauge, bool> GaugeEnabled;
  std::map<std::string, bool> MenuVisible, MenuCheck, MenuEnabled;
  std::vector<TLayerListItem> LayerItems;
  std::map<std::string, std::string> MenuCaption;
  std::map<std::string, std::pair<std::string, std::string>> Labels;  // caption, hint
  int32_t PressedTool = 0, EffectIndex = -1;
  bool EffectListOn = false;
  std::string ViewHint;
  std::vector<TTextDialogData> TextAsked;
  std::function<void(TTextDialogData&)> TextAnswer;  // null: the dialog is cancelled
  std::vector<TColor32> ColorAsked;
  std::deque<TColor32> ColorAnswers;
  bool StatusBarShown = true, HistogramMade = false, HistogramShown = false;
  int HistogramCreations = 0, HistogramRepaints = 0, Beeps = 0;
  uint32_t Clock = 1000;
};
