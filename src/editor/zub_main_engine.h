#pragma once
// The editing engine's state and its command engine.
//
// Every image command is an action callback that the engine runs on a work
// copy of the document, of the part under the selection, or of the selected
// floating layer, with an undo snapshot, timing and a write-back chosen by the
// flags the callback returns. Menu items carry integer tags; DoAction maps a
// tag to its callback and remembers it for Redo.
//
// The state keeps the design's names (gTarget, gWork, gSelection, ...) but
// lives in one TEditor object, so a window (or a test) owns a fresh editor.
// The editor talks to its window through EditorUi and works on the
// platform-free image control of src/view.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>

#include "editor_ui.h"
#include "img_undo.h"
#include "raster_core.h"
#include "raster_image.h"
#include "raster_layers.h"

class TEditor;

// ---- Action callbacks --------------------------------------------------------------

// The plug-in menu index handed to the plug-in host's callback.
struct TPluginIndex {
  int32_t Index = 0;
};

// What a callback is given: nothing, the menu tag, the encryption key
// phrase, or the plug-in index.
using TActionArgument = std::variant<std::monostate, int32_t, std::string, TPluginIndex>;

// The tag an argument carries; 0 when it carries none.
int32_t ActionTag(const TActionArgument& Argument);

// Result flags of a callback, tested in the order 8, 16, 2, 4.
constexpr int32_t arWriteBack = 0;  // the work bitmap holds the result: copy it back
constexpr int32_t arDone = 2;       // the callback changed what it meant to; write nothing
constexpr int32_t arWhole = 4;      // replace the whole target, even with a selection (crop)
constexpr int32_t arCancel = 8;     // cancelled or failed: put the snapshot back
// Refused, or nothing to work on (an empty clipboard, a picture of one
// colour to stretch): nothing is written back and the snapshot is taken
// back, so the picture is not marked changed and Undo offers nothing new.
constexpr int32_t arNothing = 16;

using TActionCallback = std::function<int32_t(TEditor& Editor, const TActionArgument& Argument)>;

// One row of the tag table: the tags First..Last are served by the callback
// registered under Callback; PassesTag says whether it is given the tag.
struct TActionTableEntry {
  int32_t First;
  int32_t Last;
  const char* Callback;
  bool PassesTag;
};

// The row that holds Tag, or null for a tag without a callback (106, 202, ...).
const TActionTableEntry* FindActionEntry(int32_t Tag);

// ---- Layer references that cannot dangle -----------------------------------------

// A pointer to a layer of the view that turns null when the layer is
// destroyed (and then runs OnLost). Assign it like a pointer.
template <class T>
class TLayerRef {
 public:
  explicit TLayerRef(std::function<void()> OnLost = {}) : onLost_(std::move(OnLost)) {}
  ~TLayerRef() { Release(); }
  TLayerRef(const TLayerRef&) = delete;
  TLayerRef& operator=(const TLayerRef&) = delete;

  TLayerRef& operator=(T* Layer) {
    if (Layer != layer_) {
      Release();
      layer_ = Layer;
      if (layer_ != nullptr)
        observer_ = layer_->AddDestroyObserver([this](TCustomLayer*) {
          layer_ = nullptr;
          observer_ = 0;
          if (onLost_) onLost_();
        });
    }
    return *this;
  }
  TLayerRef& operator=(std::nullptr_t) { return *this = static_cast<T*>(nullptr); }
  operator T*() const { return layer_; }
  T* operator->() const { return layer_; }
  T* get() const { return layer_; }

 private:
  void Release() {
    if (layer_ != nullptr && observer_ != 0) layer_->RemoveDestroyObserver(observer_);
    layer_ = nullptr;
    observer_ = 0;
  }

  T* layer_ = nullptr;
  int32_t observer_ = 0;
  std::function<void()> onLost_;
};

// ---- Refresh helpers ------------------------------------------------------------------

// What the main window's caption shows.
struct TCaptionFacts {
  std::string FileName;       // "" when no document is open
  bool ShowPath = false;      // the "showpath" option: full path, else the name part
  bool Modified = false;      // the document's undo store has undo steps
  int64_t FileSize = 0;       // bytes; shown in KB when above 0
  int32_t Width = 0, Height = 0;
  float Scale = 1.0f;
};

// "Vemra - photo.jpg* 50KB (640x480)[1:1]"; only "Vemra" without a file name.
std::string MakeCaption(const TCaptionFacts& Facts);

// The View menu's state, for the window to apply when the menu opens.
struct TViewMenuState {
  bool ItemsEnabled = false;          // every item not named below
  bool NormalViewingEnabled = false;  // NormalViewing1
  bool BarsEnabled = true;            // Bars1
  bool StatusBarEnabled = true;       // StatusBar2
  bool HistogramChecked = false;      // Histogram1
  bool TimingChecked = false;         // Timing1
  bool StatusBarChecked = false;      // StatusBar2
};

TViewMenuState ViewMenuState(bool HasDocument, bool HistogramVisible, bool Timing, bool StatusBarVisible,
                             float Scale);

// ---- The editor ------------------------------------------------------------------------

class TEditor {
 public:
  // View is the document view (Image321); both outlive the editor. The undo
  // stores are sized from PhysicalMB: the image store keeps
  // max(4, PhysicalMB div 16) snapshots, the layer store half as many, and
  // both together hold at most a quarter of that memory in snapshots.
  TEditor(TCustomImage32& View, EditorUi& Ui, int32_t PhysicalMB);
  // The same with the machine's physical memory.
  TEditor(TCustomImage32& View, EditorUi& Ui);
  ~TEditor();
  TEditor(const TEditor&) = delete;
  TEditor& operator=(const TEditor&) = delete;

  TCustomImage32& View() const { return fView; }
  EditorUi& Ui() const { return fUi; }

  // ---- State ---------------------------------------------------------------------------
  // The bitmap the running command changes (the view's bitmap or the selected
  // bitmap layer's); set by ApplyAction only, null once its layer is gone.
  TBitmap32* gTarget = nullptr;
  std::unique_ptr<TBitmap32> gWork;    // handed to every callback
  std::unique_ptr<TBitmap32> gBuffer;  // Edit > Buffer
  TLayerRef<TRubberbandLayer> gSelection;
  TLayerRef<TCustomLayer> gSelectedLayer;  // always wrapped by gSelection while set
  int32_t gCurrentTool = 1;                // 1 Selection .. 8 Replace
  bool gTiming = false;                    // show each command's milliseconds
  int32_t gPhysicalMB = 0;
  std::unique_ptr<TBitmap32Undo> gImageUndo;  // the view's bitmap
  std::unique_ptr<TBitmap32Undo> gLayerUndo;  // the selected layer's bitmap
  int32_t gLastActionTag = 0;                 // what Redo repeats; 0 = nothing
  std::string gFileName;                      // "untitled" for a new image, "" without a document
  int64_t gFileSize = 0;
  bool gShowPathOnTitle = false;              // settings value "showpath"
  // The selection frame as the selection commands last left it (zub_layers).
  TFloatRect gSelRect{};        // its location as last set
  TPoint gSelAnchor{};          // where a selection drag started
  TFloatRect gSelBitmapRect{};  // in bitmap coordinates, as last shown in the status bar

  // ---- Command engine ----------------------------------------------------------------------
  // Runs one command: snapshot (when RecordUndo), work copy, callback, timing,
  // write-back by the flags, refresh. Whatever the callback throws, the view's
  // update bracket is closed, the change is sent and the cursor restored
  // before the exception goes on to the caller.
  void ApplyAction(const TActionCallback& Callback, const TActionArgument& Argument, bool RecordUndo);
  // The callback of Tag through ApplyAction with an undo snapshot; an
  // exception is reported "on action " + tag. A positive tag is remembered
  // for Redo, also when it has no callback or the command failed.
  void DoAction(int32_t Tag);
  // The click of every menu item that carries a tag: tool 1, then DoAction.
  void MenuActionClick(int32_t Tag);
  // Edit > Redo: runs the remembered tag again.
  void Redo1Click();
  // One step of the retouch brush: the callback of Tag is only called (no
  // snapshot, copy or write-back); the brush copies and blends by itself.
  void DoRetouchAction(int32_t Tag);
  bool InRetouchStep() const { return fRetouchStep; }

  // Callbacks by the names of the tag table ("KernelAction", ...).
  void RegisterActionCallback(const std::string& Name, TActionCallback Callback);
  // The callback registered for Tag's row; null when there is none.
  const TActionCallback* FindActionCallback(int32_t Tag) const;

  // Selects a mouse tool. The mouse tools install SetToolHandler, which then
  // does all of it (gCurrentTool included); without one only gCurrentTool changes.
  void SetTool(int32_t Tool);
  std::function<void(TEditor& Editor, int32_t Tool)> SetToolHandler;

  // ---- Refresh after a change -----------------------------------------------------------------
  void UpdateCaption();
  std::string Caption() const;
  // Repaints the histogram window when it exists and is visible.
  void RefreshHistogram();
  // Image, Colors and Layers menus visible, zoom to fit, histogram, caption.
  void ShowDocument();
  // View > Histogram: creates the window on first use, then hides or shows it.
  void Histogram1Click();
  // The View menu's state as View1Click sets it.
  TViewMenuState View1Click() const;
  // Asks for the memory the next command on the document will want, made
  // ready while the user looks at the picture.
  void ReserveForNextCommand();
  // A document is open (it has a file name, "untitled" included).
  bool HasDocument() const { return !gFileName.empty(); }

 private:
  enum class TWorkPath { Whole, Selection, BitmapLayer, OtherLayer };

  void SetTarget(TBitmap32* Target, TCustomLayer* Owner);
  // Steps between the bracket's opening and closing.
  void RunAction(const TActionCallback& Callback, const TActionArgument& Argument, bool RecordUndo);
  // Closes the bracket, sends the change, refreshes and restores the cursor.
  void FinishAction(TBitmap32* ViewBitmap);

  TCustomImage32& fView;
  EditorUi& fUi;
  // The layer whose bitmap gTarget points at, so that gTarget cannot outlive it.
  TLayerRef<TCustomLayer> fTargetLayer;
  std::map<std::string, TActionCallback> fCallbacks;
  bool fRetouchStep = false;
};
