// The command engine: the write-back flags on each target path (whole image,
// selection rectangle, selected layer), undo and redo around commands, tag
// dispatch and Redo's memory, timing, exceptions, the retouch bypass, and
// references to layers that are destroyed.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "change_recorder.h"
#include "editor_test_util.h"
#include "fake_editor_ui.h"
#include "platform_exceptions.h"
#include "zub_main_engine.h"

namespace {

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    view.Bitmap()->SetSize(40, 30);
    PaintPattern(*view.Bitmap(), 1);
    original = Copy(*view.Bitmap());
    ed = std::make_unique<TEditor>(view, ui, 1024);
    ed->gFileName = "photo.png";
  }
  TBitmap32& Doc() { return *view.Bitmap(); }

  TFakeEditorUi ui;
  TImage32 view;
  std::unique_ptr<TBitmap32> original;
  std::unique_ptr<TEditor> ed;
};

// A callback that paints its work bitmap one colour and answers Flags.
TActionCallback PaintWork(TColor32 C, int32_t Flags) {
  return [C, Flags](TEditor& E, const TActionArgument&) {
    E.gWork->ClearToColor(C);
    return Flags;
  };
}

// A callback that makes its work bitmap W x H of one colour (as a rotation
// or resize would) and answers Flags.
TActionCallback ResizeWork(int32_t W, int32_t H, TColor32 C, int32_t Flags) {
  return [=](TEditor& E, const TActionArgument&) {
    E.gWork->SetSize(W, H);
    E.gWork->ClearToColor(C);
    return Flags;
  };
}

}  // namespace

TEST_F(Engine, WholeImageFlags) {
  // 0: the work bitmap comes back; one undo step; the engine's cursor bracket.
  ed->ApplyAction(PaintWork(0xFF102030u, arWriteBack), {}, true);
  EXPECT_EQ(Doc().GetPixel(39, 29), 0xFF102030u);
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);
  EXPECT_EQ(ui.Cursors, (std::vector<TCursor>{crHourGlass, crDefault}));
  EXPECT_EQ(ui.Captions.back(), "Vemra - photo.png* (40x30)[1:1]");
  EXPECT_EQ(Doc().UpdateCount(), 0);
  ed->gImageUndo->Undo(&Doc());
  EXPECT_TRUE(Doc().Equal(original.get()));

  // 2: nothing is written back, but the snapshot was taken.
  ed->ApplyAction(PaintWork(0xFF000000u, arDone), {}, true);
  EXPECT_TRUE(Doc().Equal(original.get()));
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);

  // 4 without a selection is a plain write-back; a new size becomes the document's.
  ed->ApplyAction(ResizeWork(30, 40, 0xFF0000FFu, arWhole), {}, true);
  EXPECT_EQ(Doc().Width(), 30);
  EXPECT_EQ(Doc().Height(), 40);
  ed->gImageUndo->Undo(&Doc());
  ed->gImageUndo->Undo(&Doc());
  EXPECT_TRUE(Doc().Equal(original.get()));
}

TEST_F(Engine, CancelRestoresSnapshotAndUndoCount) {
  ed->ApplyAction(PaintWork(0xFF111111u, arWriteBack), {}, true);
  const auto afterFirst = Copy(Doc());
  // The cancelled command scribbled on the document itself before giving up.
  auto scribble = [](TEditor& E, const TActionArgument&) {
    E.gTarget->ClearToColor(0xFFABCDEFu);
    return arCancel;
  };
  ed->ApplyAction(scribble, {}, true);
  EXPECT_TRUE(Doc().Equal(afterFirst.get()));
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);
  // The redo slot holds the image as the command left it.
  ASSERT_TRUE(ed->gImageUndo->CanRedo());
  EXPECT_EQ(ed->gImageUndo->RedoBitmap().GetPixel(0, 0), 0xFFABCDEFu);

  // Without a snapshot (copy commands) nothing is put back.
  ed->ApplyAction(scribble, {}, false);
  EXPECT_EQ(Doc().GetPixel(5, 5), 0xFFABCDEFu);
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);
}

// A command that finds nothing to do (16) takes its snapshot back: nothing is
// written back, and the counters and the redo slot are as before it. An
// empty picture gets no snapshot at all.
TEST_F(Engine, RefusedCommandsAndEmptyPicturesLeaveNoStep) {
  TBitmap32Undo& Store = *ed->gImageUndo;
  ed->ApplyAction(PaintWork(0xFF111111u, arWriteBack), {}, true);
  Store.Undo(&Doc());  // the redo slot holds the painted picture
  const int32_t Changes = Store.Changes();
  ed->ApplyAction(PaintWork(0xFF222222u, arNothing), {}, true);
  EXPECT_TRUE(Doc().Equal(original.get()));
  EXPECT_EQ(Store.UndoCount(), 0);
  EXPECT_EQ(Store.Changes(), Changes);
  ASSERT_TRUE(Store.CanRedo());
  EXPECT_EQ(Store.RedoBitmap().GetPixel(0, 0), 0xFF111111u);

  Doc().SetSize(0, 0);
  int Beeps = 0;
  Store.OnBeep = [&] { ++Beeps; };
  for (const int32_t Flags : {arWriteBack, arCancel, arNothing}) ed->ApplyAction(PaintWork(0xFF000000u, Flags), {}, true);
  EXPECT_FALSE(Store.HasUndo());
  EXPECT_EQ(Beeps, 0);
}

TEST_F(Engine, SelectionResizedWorkIsStretchedBackAndFourCrops) {
  ed->gSelection = AddFrame(view, 8, 4, 24, 20);
  // A work bitmap of another size still fills exactly the selection.
  ed->ApplyAction(ResizeWork(3, 5, 0xFFC08040u, arWriteBack), {}, true);
  EXPECT_EQ(Doc().Width(), 40);
  EXPECT_EQ(Doc().Height(), 30);
  EXPECT_EQ(Doc().GetPixel(8, 4), 0xFFC08040u);
  EXPECT_EQ(Doc().GetPixel(23, 19), 0xFFC08040u);
  EXPECT_EQ(Doc().GetPixel(7, 4), original->GetPixel(7, 4));
  EXPECT_EQ(Doc().GetPixel(24, 19), original->GetPixel(24, 19));
  EXPECT_EQ(Doc().GetPixel(8, 20), original->GetPixel(8, 20));

  // Crop: the callback frees the selection and answers 4.
  ed->gImageUndo->Undo(&Doc());
  auto crop = [](TEditor& E, const TActionArgument&) {
    E.View().Layers()->Remove(E.gSelection);
    return arWhole;
  };
  ed->ApplyAction(crop, {}, true);
  EXPECT_EQ(ed->gSelection.get(), nullptr);
  ASSERT_EQ(Doc().Width(), 16);
  ASSERT_EQ(Doc().Height(), 16);
  EXPECT_EQ(Doc().GetPixel(0, 0), original->GetPixel(8, 4));
  EXPECT_EQ(Doc().GetPixel(15, 15), original->GetPixel(23, 19));

  // 4 with the selection still there crops too.
  ed->gImageUndo->Undo(&Doc());
  ed->gSelection = AddFrame(view, 1, 2, 4, 9);
  ed->ApplyAction([](TEditor&, const TActionArgument&) { return arWhole; }, {}, true);
  EXPECT_EQ(Doc().Width(), 3);
  EXPECT_EQ(Doc().Height(), 7);
}

TEST_F(Engine, SelectionReachingPastTheImageShowsEmptyPixelsThere) {
  // Leave stale pixels of the same size in the work bitmap first.
  ed->gWork->SetSize(15, 15);
  ed->gWork->ClearToColor(0xFFEEEEEEu);
  ed->gSelection = AddFrame(view, 32, 22, 47, 37);
  std::unique_ptr<TBitmap32> seen;
  ed->ApplyAction(
      [&](TEditor& E, const TActionArgument&) {
        seen = Copy(*E.gWork);
        E.gWork->ClearToColor(0xFF0000FFu);
        return arWriteBack;
      },
      {}, true);
  ASSERT_EQ(seen->Width(), 15);
  EXPECT_EQ(seen->GetPixel(0, 0), original->GetPixel(32, 22));
  EXPECT_EQ(seen->GetPixel(7, 7), original->GetPixel(39, 29));
  EXPECT_EQ(seen->GetPixel(8, 0), 0u);
  EXPECT_EQ(seen->GetPixel(14, 14), 0u);
  EXPECT_EQ(Doc().GetPixel(32, 22), 0xFF0000FFu);
  EXPECT_EQ(Doc().GetPixel(39, 29), 0xFF0000FFu);
  EXPECT_EQ(Doc().GetPixel(31, 22), original->GetPixel(31, 22));

  // Wholly outside: an empty copy, nothing written, no crash.
  ed->gSelection = AddFrame(view, 100, 100, 110, 120);
  ed->ApplyAction(PaintWork(0xFF123456u, arWriteBack), {}, true);
  EXPECT_EQ(Doc().GetPixel(39, 29), 0xFF0000FFu);
}

TEST_F(Engine, SameSizeResultLandsPixelForPixelInTheSelection) {
  // Every effect run through a selection keeps the work bitmap's size; its
  // result must come back unblurred and unshifted, also where the selection
  // reaches past the image's top left corner.
  struct Case {
    float L, T, R, B;
  };
  for (const Case& c : {Case{7, 3, 26, 21}, Case{-5, -4, 9, 6}, Case{33, 25, 48, 36}}) {
    SCOPED_TRACE(c.L);
    view.Layers()->Clear();
    ed->gSelection = AddFrame(view, c.L, c.T, c.R, c.B);
    const auto result = Pattern(static_cast<int32_t>(c.R - c.L), static_cast<int32_t>(c.B - c.T), 11);
    const auto docBefore = Copy(Doc());
    ed->ApplyAction(
        [&](TEditor& E, const TActionArgument&) {
          E.gWork->Assign(result.get());
          return arWriteBack;
        },
        {}, true);
    const auto l = static_cast<int32_t>(c.L), t = static_cast<int32_t>(c.T);
    for (int32_t y = 0; y < Doc().Height(); ++y)
      for (int32_t x = 0; x < Doc().Width(); ++x) {
        const bool inside = x >= l && x < static_cast<int32_t>(c.R) && y >= t && y < static_cast<int32_t>(c.B);
        ASSERT_EQ(Doc().GetPixel(x, y), inside ? result->GetPixel(x - l, y - t) : docBefore->GetPixel(x, y))
            << x << "," << y;
      }
  }
}

TEST_F(Engine, SelectedBitmapLayerIsTheTarget) {
  auto* layer = view.Layers()->Add<TBitmapLayer>();
  layer->Bitmap()->SetSize(8, 6);
  PaintPattern(*layer->Bitmap(), 5);
  layer->Bitmap()->SetMasterAlpha(128);
  layer->SetLocation(MakeFloatRect(2, 2, 10, 8));
  const auto layerBefore = Copy(*layer->Bitmap());
  ed->gSelection = AddFrame(view, 2, 2, 10, 8);
  ed->gSelectedLayer = layer;

  ed->ApplyAction(
      [](TEditor& E, const TActionArgument&) {
        EXPECT_EQ(E.gWork->Width(), 8);
        EXPECT_EQ(E.gWork->MasterAlpha(), 128u);  // the layer's own transparency is kept
        E.gWork->ClearToColor(0xFF445566u);
        return arWriteBack;
      },
      {}, true);
  EXPECT_EQ(ed->gTarget, layer->Bitmap());
  EXPECT_EQ(layer->Bitmap()->GetPixel(7, 5), 0xFF445566u);
  EXPECT_EQ(layer->Bitmap()->MasterAlpha(), 128u);
  EXPECT_TRUE(Doc().Equal(original.get()));
  EXPECT_EQ(ed->gLayerUndo->UndoCount(), 1);
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 0);

  ed->gLayerUndo->Undo(layer->Bitmap());
  EXPECT_TRUE(layer->Bitmap()->Equal(layerBefore.get()));
  // Cancelled on the layer: the layer's own store puts it back, and the
  // document's store (holding another picture) is left alone.
  ed->gImageUndo->Record(&Doc());
  ed->ApplyAction(PaintWork(0xFF708090u, arCancel), {}, true);
  EXPECT_TRUE(layer->Bitmap()->Equal(layerBefore.get()));
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);
  ed->gImageUndo->Clear();

  // The layer's transparency stays with the layer: the next command on the
  // document, through a selection or whole, gets an opaque work bitmap.
  for (const bool withSelection : {true, false}) {
    ed->gSelectedLayer = nullptr;
    ed->gSelection = withSelection ? AddFrame(view, 1, 1, 9, 9) : nullptr;
    uint32_t seenAlpha = 0;
    ed->ApplyAction(
        [&](TEditor& E, const TActionArgument&) {
          seenAlpha = E.gWork->MasterAlpha();
          return arDone;
        },
        {}, true);
    EXPECT_EQ(seenAlpha, 255u) << (withSelection ? "selection" : "whole");
    ed->gSelectedLayer = layer;
    ed->gSelection = AddFrame(view, 2, 2, 10, 8);
    ed->ApplyAction(PaintWork(0xFF445566u, arDone), {}, false);
  }
}

// However a command ends, the document tells its listeners once the update
// bracket is closed, and what they then read is the result.
TEST_F(Engine, EveryCommandEndsWithANotificationThatSeesTheResult) {
  struct Case {
    const char* Name;
    TActionCallback Do;
    TColor32 Expected;  // the pixel at 0,0 seen by the last notification
  };
  const Case cases[] = {
      {"write back", PaintWork(0xFF102030u, arWriteBack), 0xFF102030u},
      {"done by the callback",
       [](TEditor& E, const TActionArgument&) {
         E.gTarget->SetPixel(0, 0, 0xFF405060u);  // no notification of its own
         return arDone;
       },
       0xFF405060u},
      {"cancelled", PaintWork(0xFF708090u, arCancel), 0u},
  };
  for (const Case& c : cases) {
    view.Layers()->Clear();
    ed->gSelection = nullptr;
    PaintPattern(Doc(), 1);
    const TColor32 before = Doc().GetPixel(0, 0);
    TChangeRecorder rec;
    rec.Observe = [&] { return std::to_string(Doc().GetPixel(0, 0)) + " open " + std::to_string(Doc().UpdateCount()); };
    Doc().OnChange = rec.Listener();
    ed->ApplyAction(c.Do, {}, true);
    Doc().OnChange = nullptr;
    EXPECT_EQ(rec.LastSeen(), std::to_string(c.Expected ? c.Expected : before) + " open 0") << c.Name;
  }
}

TEST_F(Engine, TimingBoxShowsMillisecondsBeforeTheWriteBack) {
  ed->gTiming = true;
  bool docUntouchedWhileBoxUp = false;
  ui.BoxHook = [&](const std::string&) { docUntouchedWhileBoxUp = Doc().Equal(original.get()); };
  ed->ApplyAction(
      [&](TEditor& E, const TActionArgument&) {
        ui.Clock += 37;
        E.gWork->ClearToColor(0);
        return arWriteBack;
      },
      {}, true);
  ASSERT_EQ(ui.Boxes.size(), 1u);
  EXPECT_EQ(ui.Boxes[0].Text, "37 ms");
  EXPECT_EQ(ui.Boxes[0].Flags, 0u);
  EXPECT_TRUE(docUntouchedWhileBoxUp);
  EXPECT_EQ(Doc().GetPixel(0, 0), 0u);

}

TEST_F(Engine, TagDispatchArgumentsAndRedoMemory) {
  std::vector<TActionArgument> seen;
  int32_t tagWhileRunning = -1;
  auto record = [&](TEditor& E, const TActionArgument& A) {
    seen.push_back(A);
    tagWhileRunning = E.gLastActionTag;
    return arDone;
  };
  ed->RegisterActionCallback("KernelAction", record);
  ed->RegisterActionCallback("NegativeAction", record);
  ed->RegisterActionCallback("GreyScaleAction", record);
  ed->RegisterActionCallback("AngleRotateAction", record);

  ed->DoAction(203);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(ActionTag(seen[0]), 203);
  EXPECT_EQ(tagWhileRunning, 0);  // nothing to repeat while a command runs
  EXPECT_EQ(ed->gLastActionTag, 203);
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);

  ed->DoAction(400);  // a callback without variants gets no argument
  EXPECT_TRUE(std::holds_alternative<std::monostate>(seen.back()));
  ed->DoAction(13600);
  EXPECT_EQ(ActionTag(seen.back()), 13600);

  // Gaps in the table and tags whose callback is not registered: no call, no
  // snapshot, but still remembered.
  const size_t calls = seen.size();
  const int32_t undos = ed->gImageUndo->UndoCount();
  for (int32_t tag : {106, 202, 209, 13601, 9999}) {
    ed->DoAction(tag);
    EXPECT_EQ(ed->gLastActionTag, tag);
  }
  EXPECT_EQ(seen.size(), calls);
  EXPECT_EQ(ed->gImageUndo->UndoCount(), undos);

  // Negative tags run but are never remembered.
  ed->DoAction(-700);
  EXPECT_EQ(seen.size(), calls + 1);
  EXPECT_EQ(ed->gLastActionTag, 0);
  ed->Redo1Click();
  EXPECT_EQ(seen.size(), calls + 1);

  // Redo repeats the last positive tag.
  ed->DoAction(100);
  ed->Redo1Click();
  EXPECT_EQ(seen.size(), calls + 3);
  EXPECT_EQ(ActionTag(seen.back()), 100);

  // A menu click selects tool 1 first.
  std::vector<int32_t> tools;
  ed->SetToolHandler = [&](TEditor& E, int32_t T) {
    tools.push_back(T);
    E.gCurrentTool = T;
  };
  ed->gCurrentTool = 5;
  ed->MenuActionClick(401);
  EXPECT_EQ(tools, std::vector<int32_t>{1});
  EXPECT_EQ(ed->gLastActionTag, 401);

  // A command run directly leaves nothing to repeat.
  ed->ApplyAction(record, {}, false);
  EXPECT_EQ(ed->gLastActionTag, 0);
  const size_t before = seen.size();
  ed->Redo1Click();
  EXPECT_EQ(seen.size(), before);
}

TEST_F(Engine, ExceptionsCloseTheBracketAndAreReportedWithTheTag) {
  ed->RegisterActionCallback("KernelAction", [](TEditor& E, const TActionArgument&) -> int32_t {
    E.gWork->ClearToColor(0);
    throw EInvalidGraphic("Bitmap is broken");
  });
  ed->DoAction(101);
  ASSERT_EQ(ui.Exceptions.size(), 1u);
  EXPECT_EQ(ui.Exceptions[0].ClassName, "EInvalidGraphic");
  EXPECT_EQ(ui.Exceptions[0].Message, "Bitmap is broken");
  EXPECT_EQ(ui.Exceptions[0].Place, "on action 101");
  EXPECT_EQ(ed->gLastActionTag, 101);
  EXPECT_EQ(Doc().UpdateCount(), 0);
  EXPECT_EQ(ui.Cursors.back(), crDefault);
  EXPECT_TRUE(Doc().Equal(original.get()));
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);  // the snapshot stays recorded
  EXPECT_EQ(ui.Captions.back(), "Vemra - photo.png* (40x30)[1:1]");

}

TEST_F(Engine, RetouchStepOnlyCallsTheCallbackButMenuCommandsRunInFull) {
  ed->gCurrentTool = 5;
  int calls = 0;
  ed->RegisterActionCallback("KernelAction", [&](TEditor& E, const TActionArgument& A) {
    ++calls;
    EXPECT_EQ(ActionTag(A), 100);
    E.gWork->ClearToColor(0xFF777777u);
    return arWriteBack;
  });
  ed->gWork->SetSize(5, 5);
  ed->DoRetouchAction(100);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(ui.Cursors.empty());
  EXPECT_TRUE(ui.Captions.empty());
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 0);
  EXPECT_EQ(ed->gWork->Width(), 5);  // the brush's square, not a copy of the document
  EXPECT_TRUE(Doc().Equal(original.get()));
  EXPECT_FALSE(ed->InRetouchStep());

  // The same tag from a menu or shortcut while the Retouch tool is current.
  ed->DoAction(100);
  EXPECT_EQ(ed->gImageUndo->UndoCount(), 1);
  EXPECT_EQ(Doc().GetPixel(0, 0), 0xFF777777u);
}

TEST_F(Engine, DestroyedLayersLeaveNoReferenceBehind) {
  auto* layer = view.Layers()->Add<TBitmapLayer>();
  layer->Bitmap()->SetSize(4, 4);
  auto* frame = AddFrame(view, 0, 0, 4, 4);
  ed->gSelection = frame;
  ed->gSelectedLayer = layer;
  ed->ApplyAction(PaintWork(0xFF010203u, arWriteBack), {}, true);
  ASSERT_EQ(ed->gTarget, layer->Bitmap());

  view.Layers()->Remove(layer);
  EXPECT_EQ(ed->gSelectedLayer.get(), nullptr);
  EXPECT_EQ(ed->gTarget, nullptr);
  EXPECT_EQ(ed->gSelection.get(), frame);
  view.Layers()->Clear();
  EXPECT_EQ(ed->gSelection.get(), nullptr);
}

TEST_F(Engine, ZoomedSelectionIsRoundedToWholePixelsBothWays) {
  view.SetScaleMode(smScale);
  view.SetScale(2.0f);
  // Control corners between pixels: rounded to control pixels (20, 11, 40, 31),
  // then mapped to the bitmap at half scale: (10, 5, 20, 15).
  ed->gSelection = AddFrame(view, 20.4f, 10.6f, 40.2f, 30.7f);
  std::unique_ptr<TBitmap32> seen;
  ed->ApplyAction(
      [&](TEditor& E, const TActionArgument&) {
        seen = Copy(*E.gWork);
        E.gWork->SetSize(2, 2);  // a smaller result still fills the rectangle
        E.gWork->ClearToColor(0xFF00FF00u);
        return arWriteBack;
      },
      {}, true);
  ASSERT_EQ(seen->Width(), 10);
  ASSERT_EQ(seen->Height(), 10);
  EXPECT_EQ(seen->GetPixel(0, 0), original->GetPixel(10, 5));
  EXPECT_EQ(seen->GetPixel(9, 9), original->GetPixel(19, 14));
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 40; ++x) {
      const bool inside = x >= 10 && x < 20 && y >= 5 && y < 15;
      ASSERT_EQ(Doc().GetPixel(x, y), inside ? 0xFF00FF00u : original->GetPixel(x, y)) << x << "," << y;
    }
  EXPECT_EQ(ui.Captions.back(), "Vemra - photo.png* (40x30) [2:1]");
}
