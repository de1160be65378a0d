// The editor's state, the command engine (ApplyAction), the tag dispatcher
// (DoAction) and the two menu handlers that feed it.
#include "zub_main_engine.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "img_common.h"
#include "img_viewcoords.h"
#include "platform_exceptions.h"
#include "raster_filterindex.h"
#include "raster_resamplers.h"
#include "steptrace.h"
#include "sysinfo.h"

namespace {

// The tag table. Tags inside a row's range reach its callback; every other
// tag does nothing. The callbacks themselves are registered by name.
constexpr TActionTableEntry kActionTable[] = {
    {-900, -900, "MandelbrotAction", true},
    {-744, -743, "YuvAction", true},
    {-742, -741, "HslAction", true},
    {-723, -711, "ChannelAction", true},
    {-700, -700, "GreyScaleAction", false},
    {-616, -601, "DecreaseColorsAction", true},
    {100, 105, "KernelAction", true},
    {107, 107, "KernelAction", true},
    {111, 121, "RankAction", true},
    {190, 191, "UnsharpMaskAction", true},
    {200, 201, "KernelAction", true},
    {203, 208, "KernelAction", true},
    {210, 211, "KernelAction", true},
    {221, 222, "KernelAction", true},
    {231, 232, "KernelAction", true},
    {300, 301, "KernelAction", true},
    {311, 312, "KernelAction", true},
    {399, 399, "KernelAction", true},
    {400, 400, "NegativeAction", false},
    {401, 401, "FlipAction", false},
    {402, 402, "MirrorAction", false},
    {410, 410, "RoundAction", false},
    {501, 503, "QuarterTurnAction", true},
    {800, 804, "StretchAction", true},
    {811, 811, "CompressAction", true},
    {821, 822, "WhiteBalanceAction", true},
    {841, 841, "RotateColorsAction", true},
    {851, 853, "TintAction", true},
    {861, 862, "BrightnessAction", true},
    {863, 864, "ProportionalBrightnessAction", true},
    {865, 866, "GammaStepAction", true},
    {867, 868, "SineContrastAction", true},
    {870, 877, "SortAction", true},
    {911, 916, "ChromaticAberrationAction", true},
    {921, 928, "ColorShiftAction", true},
    {941, 941, "NoiseReductionAction", true},
    {9999, 9999, "ShearAction", true},
    {10000, 13600, "AngleRotateAction", true},
};

// Trunc of a float side length, limited to what a bitmap size can hold.
int32_t TruncSize(float V) {
  if (!(V > 0)) return 0;  // NaN and negative sizes give an empty work bitmap
  if (V >= static_cast<float>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(V);
}

bool Contains(const TRect& Outer, const TRect& Inner) {
  return Inner.Left >= Outer.Left && Inner.Top >= Outer.Top && Inner.Right <= Outer.Right &&
         Inner.Bottom <= Outer.Bottom;
}

}  // namespace

int32_t ActionTag(const TActionArgument& Argument) {
  const int32_t* tag = std::get_if<int32_t>(&Argument);
  return tag ? *tag : 0;
}

const TActionTableEntry* FindActionEntry(int32_t Tag) {
  for (const TActionTableEntry& e : kActionTable)
    if (Tag >= e.First && Tag <= e.Last) return &e;
  return nullptr;
}

TEditor::TEditor(TCustomImage32& View, EditorUi& Ui) : TEditor(View, Ui, TotalPhysicalMB()) {}

TEditor::TEditor(TCustomImage32& View, EditorUi& Ui, int32_t PhysicalMB)
    : gWork(std::make_unique<TBitmap32>()),
      gBuffer(std::make_unique<TBitmap32>()),
      gPhysicalMB(PhysicalMB),
      fView(View),
      fUi(Ui),
      fTargetLayer([this] { gTarget = nullptr; }) {
  const int32_t capacity = std::max(4, PhysicalMB / 16);
  // A memory size that could not be read gives no byte budget: the count alone bounds the stores.
  std::shared_ptr<TUndoBudget> budget;
  if (PhysicalMB > 0) budget = std::make_shared<TUndoBudget>((static_cast<uint64_t>(PhysicalMB) << 20) / 4);
  gImageUndo = std::make_unique<TBitmap32Undo>(capacity, budget);
  gLayerUndo = std::make_unique<TBitmap32Undo>(capacity >> 1, budget);
  gImageUndo->OnBeep = [this] { fUi.Beep(); };
  gLayerUndo->OnBeep = [this] { fUi.Beep(); };
}

TEditor::~TEditor() = default;

void TEditor::SetTarget(TBitmap32* Target, TCustomLayer* Owner) {
  gTarget = Target;
  fTargetLayer = Owner;
}

void TEditor::RegisterActionCallback(const std::string& Name, TActionCallback Callback) {
  fCallbacks[Name] = std::move(Callback);
}

const TActionCallback* TEditor::FindActionCallback(int32_t Tag) const {
  const TActionTableEntry* e = FindActionEntry(Tag);
  if (e == nullptr) return nullptr;
  auto it = fCallbacks.find(e->Callback);
  return it != fCallbacks.end() && it->second ? &it->second : nullptr;
}

void TEditor::SetTool(int32_t Tool) {
  if (SetToolHandler)
    SetToolHandler(*this, Tool);
  else
    gCurrentTool = Tool;
}

// ---- ApplyAction ----------------------------------------------------------------------------

void TEditor::ApplyAction(const TActionCallback& Callback, const TActionArgument& Argument, bool RecordUndo) {
  if (!Callback) return;
  if (fRetouchStep) {
    Callback(*this, Argument);
    return;
  }
  TraceStep("command-start");
  fUi.SetScreenCursor(crHourGlass);
  gLastActionTag = 0;
  TBitmap32* viewBitmap = fView.Bitmap();
  viewBitmap->BeginUpdate();
  try {
    SetTarget(viewBitmap, nullptr);
    RunAction(Callback, Argument, RecordUndo);
  } catch (...) {
    // The view must not stay frozen behind a failed command, and the failure
    // that reached us is the one to report, not a later one. The step the
    // command recorded stays; what was set aside to take it back goes.
    if (gImageUndo) gImageUndo->Settle();
    if (gLayerUndo) gLayerUndo->Settle();
    try {
      FinishAction(viewBitmap);
    } catch (...) {
    }
    throw;
  }
  FinishAction(viewBitmap);
}

void TEditor::RunAction(const TActionCallback& Callback, const TActionArgument& Argument, bool RecordUndo) {
  // Which bitmap the command works on.
  TWorkPath path = TWorkPath::Whole;
  TBitmapLayer* bitmapLayer = nullptr;
  if (gSelection) {
    path = TWorkPath::Selection;
    if (gSelectedLayer) {
      bitmapLayer = dynamic_cast<TBitmapLayer*>(gSelectedLayer.get());
      path = bitmapLayer ? TWorkPath::BitmapLayer : TWorkPath::OtherLayer;
    }
  }

  TRect selRect{0, 0, 0, 0};  // the selection's rounded rectangle in the document
  // An empty picture is no picture: a snapshot of it is no step to undo to,
  // and a window with nothing in it must not count as changed.
  TBitmap32Undo* recorded = nullptr;
  auto record = [&](TBitmap32Undo& Store, const TBitmap32* Bitmap) {
    if (!RecordUndo || Bitmap->Empty()) return;
    Store.Record(Bitmap, true);
    recorded = &Store;
  };
  switch (path) {
    case TWorkPath::Whole:
      record(*gImageUndo, gTarget);
      TraceStep("undo-snapshot");
      CopyBitmap(gWork.get(), gTarget, true);
      gWork->SetMasterAlpha(255);
      TraceStep("work-copy");
      break;
    case TWorkPath::Selection: {
      record(*gImageUndo, gTarget);
      const TFloatRect r = ControlToBitmapRect(fView, gSelection->Location());
      gWork->SetSize(TruncSize(r.Right - r.Left), TruncSize(r.Bottom - r.Top));
      selRect = RoundRectF(r);
      // Where the selection reaches past the image there is nothing to copy;
      // the command must see empty pixels there, not the last command's.
      if (!Contains(gTarget->BoundsRect(), selRect)) gWork->Clear(0);
      DrawRectAt(gWork.get(), 0, 0, gWork->BoundsRect(), gTarget, selRect, dmOpaque);
      gWork->SetMasterAlpha(255);
      break;
    }
    case TWorkPath::BitmapLayer:
      gWork->SetSize(0, 0);
      record(*gLayerUndo, bitmapLayer->Bitmap());
      CopyBitmap(gWork.get(), bitmapLayer->Bitmap(), true);
      SetTarget(bitmapLayer->Bitmap(), bitmapLayer);
      break;
    case TWorkPath::OtherLayer:
      gWork->SetSize(0, 0);
      break;
  }

  const uint32_t start = fUi.TickCount();
  const int32_t flags = Callback(*this, Argument);
  TraceStep("callback-done");
  if (gTiming) fUi.MessageBox(std::to_string(static_cast<uint32_t>(fUi.TickCount() - start)) + " ms", 0);

  if (!(flags & arCancel) && (flags & arNothing)) {
    if (recorded != nullptr) recorded->Withdraw();
    return;
  }
  if (recorded != nullptr) recorded->Settle();
  // gTarget is null when the callback destroyed the layer it belonged to.
  if (flags & arCancel) {
    if (recorded == nullptr || gTarget == nullptr) return;
    recorded->Undo(gTarget);
  } else if (flags & arDone) {
    // The callback wrote what it meant to.
  } else if (path == TWorkPath::OtherLayer || gTarget == nullptr) {
    // Nothing was copied out, so there is nothing to write back: writing the
    // empty work bitmap over the document would wipe it.
  } else if (gTarget == gWork.get()) {
    // A callback that made the work bitmap its target: a bitmap assigned to
    // itself only tells its watchers that it changed.
    gTarget->Changed();
  } else if (gSelection && !(flags & arWhole) && path != TWorkPath::Whole) {
    if (path == TWorkPath::BitmapLayer) {
      CopyBitmap(gTarget, gWork.get(), true);
    } else {
      // A callback that changed the work bitmap's size still fills the selection.
      StretchTransferByIndex(gTarget, selRect, gTarget->BoundsRect(), gWork.get(), gWork->BoundsRect(), 2,
                             dmOpaque);
    }
  } else {
    // The work bitmap is scratch once its result is written back (every
    // command makes it anew), so the target takes its pixels and hands over
    // its own: nothing is copied or allocated, whatever the result's size.
    CopyDrawingProps(gTarget, gWork.get());
    gTarget->SwapPixels(*gWork);
  }
}

void TEditor::FinishAction(TBitmap32* ViewBitmap) {
  TraceStep("write-back");
  ViewBitmap->EndUpdate();
  ViewBitmap->Changed();
  // The document "assigned to itself": a change notification and a repaint, no copy.
  fView.Invalidate();
  TraceStep("change-sent");
  UpdateCaption();
  TraceStep("caption");
  RefreshHistogram();
  TraceStep("histogram");
  fUi.SetScreenCursor(crDefault);
  ReserveForNextCommand();
  TraceStep("command-end");
}

void TEditor::ReserveForNextCommand() {
  // Small pictures page in quickly enough; a thread for them would cost more.
  // The blocks kept for a larger picture, or one since closed, are of no use
  // to them and would hold its memory to the end of the run.
  constexpr uint64_t kLarge = uint64_t{1} << 22;
  const uint64_t Count = fView.Bitmap()->PixelCount();
  if (Count < kLarge) {
    ReservePixelBlocks(0, 0);
    return;
  }
  // One block for the next undo snapshot, and one for the work bitmap while
  // it has another size than the document.
  ReservePixelBlocks(Count, gWork->PixelCount() == Count ? 1 : 2);
}

// ---- Dispatch ----------------------------------------------------------------------------------

void TEditor::DoAction(int32_t Tag) {
  gLastActionTag = 0;
  try {
    const TActionTableEntry* entry = FindActionEntry(Tag);
    const TActionCallback* callback = FindActionCallback(Tag);
    if (callback != nullptr) {
      // Copy: the callback may register callbacks itself.
      const TActionCallback run = *callback;
      ApplyAction(run, entry->PassesTag ? TActionArgument(Tag) : TActionArgument(), true);
    }
  } catch (const std::exception& E) {
    fUi.ExceptionBox(E, "on action " + std::to_string(Tag));
  } catch (...) {
    fUi.ExceptionBox(Exception("Unknown exception"), "on action " + std::to_string(Tag));
  }
  if (Tag > 0) gLastActionTag = Tag;
}

void TEditor::MenuActionClick(int32_t Tag) {
  SetTool(1);
  DoAction(Tag);
}

void TEditor::Redo1Click() {
  if (gLastActionTag != 0) DoAction(gLastActionTag);
}

void TEditor::DoRetouchAction(int32_t Tag) {
  const bool outer = fRetouchStep;
  fRetouchStep = true;
  try {
    DoAction(Tag);
  } catch (...) {
    fRetouchStep = outer;
    throw;
  }
  fRetouchStep = outer;
}
