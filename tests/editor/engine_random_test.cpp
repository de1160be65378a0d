// Random commands through the engine: random selections (inside, reaching
// out, wholly outside, one pixel), random layers, random flags, callbacks that
// resize, throw or delete their own layer. After every command the undo and
// redo rules must hold: a cancel leaves the target and the counts as they
// were; a recorded command can be undone to the exact image before it and
// redone to the exact image after it; nothing outside the target changes.
// Run under AddressSanitizer, this also shows that no path leaks or touches
// freed layers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "editor_test_util.h"
#include "fake_editor_ui.h"
#include "platform_exceptions.h"
#include "zub_main_engine.h"

namespace {

enum TSelKind { kNoSelection, kInside, kReachingOut, kOutside, kOnePixel };
enum TLayerKind { kNoLayer, kBitmapLayer, kOtherLayer };

}  // namespace

TEST(EngineRandom, UndoAndRedoRulesHoldOverRandomCommands) {
  std::mt19937 rng(20261207u);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  TFakeEditorUi ui;
  TImage32 view;
  view.Bitmap()->SetSize(24, 18);
  PaintPattern(*view.Bitmap(), 1);
  TEditor ed(view, ui, 64);  // four image snapshots, two layer snapshots
  TBitmap32& doc = *view.Bitmap();
  int checkedUndos = 0, cancels = 0, throws = 0, deletions = 0;

  for (int it = 0; it < 3000; ++it) {
    SCOPED_TRACE(it);
    view.Layers()->Clear();
    ASSERT_EQ(ed.gSelection.get(), nullptr);
    ASSERT_EQ(ed.gSelectedLayer.get(), nullptr);
    if (doc.Empty() || pick(30) == 0) {
      doc.SetSize(1 + pick(30), 1 + pick(30));
      PaintPattern(doc, static_cast<uint32_t>(it));
    }
    const int32_t W = doc.Width(), H = doc.Height();

    // The selection, in control coordinates (scale 1: the bitmap's).
    const auto sel = static_cast<TSelKind>(pick(5));
    TFloatRect r{};
    switch (sel) {
      case kNoSelection: break;
      case kInside: {
        const int32_t l = pick(W), t = pick(H);
        r = MakeFloatRect(l, t, l + 1 + pick(W - l), t + 1 + pick(H - t));
        break;
      }
      case kReachingOut: r = MakeFloatRect(pick(W), pick(H), W + 1 + pick(8), H + 1 + pick(8)); break;
      case kOutside: r = MakeFloatRect(W + 2, H + 2, W + 5 + pick(5), H + 5); break;
      case kOnePixel: {
        const float x = pick(W), y = pick(H);
        r = MakeFloatRect(x, y, x + 1, y + 1);
        break;
      }
    }
    const auto layerKind = sel == kNoSelection ? kNoLayer : static_cast<TLayerKind>(pick(3));
    TBitmapLayer* bitmapLayer = nullptr;
    if (layerKind == kBitmapLayer) {
      bitmapLayer = view.Layers()->Add<TBitmapLayer>();
      bitmapLayer->Bitmap()->SetSize(1 + pick(12), 1 + pick(12));
      PaintPattern(*bitmapLayer->Bitmap(), static_cast<uint32_t>(it) * 7);
      bitmapLayer->Bitmap()->SetMasterAlpha(static_cast<uint32_t>(pick(256)));
      ed.gSelectedLayer = bitmapLayer;
    } else if (layerKind == kOtherLayer) {
      ed.gSelectedLayer = view.Layers()->Add<TPositionedLayer>();
    }
    if (sel != kNoSelection) ed.gSelection = AddFrame(view, r.Left, r.Top, r.Right, r.Bottom);

    TBitmap32* target = bitmapLayer ? bitmapLayer->Bitmap() : &doc;
    TBitmap32Undo* store = layerKind == kBitmapLayer ? ed.gLayerUndo.get()
                           : layerKind == kOtherLayer ? nullptr
                                                      : ed.gImageUndo.get();
    const auto before = Copy(*target);
    const auto docBefore = Copy(doc);
    const int32_t flags = std::array<int32_t, 4>{arWriteBack, arDone, arWhole, arCancel}[pick(4)];
    const bool record = pick(4) != 0;
    const bool willThrow = pick(25) == 0;
    const bool deleteLayer = bitmapLayer != nullptr && pick(15) == 0;
    const int resize = pick(3);
    const int32_t nw = pick(12), nh = pick(12);
    const TColor32 paint = static_cast<TColor32>(rng());
    const int32_t count = store ? store->UndoCount() : 0;

    int32_t workW = -1, workH = -1;  // the work bitmap as the callback leaves it
    auto callback = [&](TEditor& E, const TActionArgument&) -> int32_t {
      if (deleteLayer) E.View().Layers()->Remove(E.gSelectedLayer);
      if (resize == 1) E.gWork->SetSize(nw, nh);
      E.gWork->ClearToColor(paint);
      workW = E.gWork->Width();
      workH = E.gWork->Height();
      if (willThrow) throw EInvalidGraphic("random failure");
      return flags;
    };
    if (willThrow) {
      EXPECT_THROW(ed.ApplyAction(callback, {}, record), EInvalidGraphic);
      ++throws;
    } else {
      ed.ApplyAction(callback, {}, record);
    }
    ASSERT_EQ(doc.UpdateCount(), 0);
    ASSERT_EQ(ui.Cursors.back(), crDefault);
    for (TBitmap32Undo* s : {ed.gImageUndo.get(), ed.gLayerUndo.get()}) {
      ASSERT_LE(s->Count(), s->Capacity());
      ASSERT_LE(s->Count(), std::max(s->UndoCount(), 0));
    }

    if (deleteLayer) {
      // The layer and its bitmap are gone; the document is untouched and
      // nothing points at the freed bitmap.
      ++deletions;
      EXPECT_EQ(ed.gTarget, nullptr);
      EXPECT_EQ(ed.gSelectedLayer.get(), nullptr);
      EXPECT_TRUE(doc.Equal(docBefore.get()));
      continue;
    }
    if (layerKind != kNoLayer) EXPECT_TRUE(doc.Equal(docBefore.get())) << "a layer command changed the document";
    if (willThrow || flags == arDone || layerKind == kOtherLayer) {
      EXPECT_TRUE(target->Equal(before.get()));
      if (store) EXPECT_EQ(store->UndoCount(), count + (record ? 1 : 0));
      continue;
    }
    if (flags == arCancel) {
      ++cancels;
      if (record) {
        EXPECT_TRUE(target->Equal(before.get()));
        EXPECT_EQ(store->UndoCount(), count);
        EXPECT_TRUE(store->CanRedo());
      }
      continue;
    }
    // A write-back.
    if (sel != kNoSelection && layerKind == kNoLayer && flags == arWriteBack) {
      // Only the selection's pixels may change, and the size stays.
      ASSERT_EQ(doc.Width(), W);
      ASSERT_EQ(doc.Height(), H);
      const TRect rr = RoundFloatRect(r, rrNearest);
      for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
          if (x < rr.Left || x >= rr.Right || y < rr.Top || y >= rr.Bottom)
            ASSERT_EQ(doc.GetPixel(x, y), docBefore->GetPixel(x, y)) << x << "," << y;
    } else {
      // The whole target is the work bitmap as the callback left it.
      ASSERT_EQ(target->Width(), workW);
      ASSERT_EQ(target->Height(), workH);
      for (size_t i = 0; i < target->PixelCount(); ++i) ASSERT_EQ(target->Bits()[i], paint) << i;
    }
    if (!record) continue;
    EXPECT_EQ(store->UndoCount(), count + 1);
    const auto after = Copy(*target);
    store->Undo(target);
    EXPECT_TRUE(target->Equal(before.get()));
    EXPECT_EQ(store->UndoCount(), count);
    if (after->Empty()) {
      // An empty image in the redo slot is the slot's "nothing to redo".
      EXPECT_FALSE(store->CanRedo());
      continue;
    }
    store->Redo(target);
    EXPECT_TRUE(target->Equal(after.get()));
    EXPECT_EQ(store->UndoCount(), count + 1);
    ++checkedUndos;
  }
  // The mix really covered the interesting paths.
  EXPECT_GT(checkedUndos, 500);
  EXPECT_GT(cancels, 250);
  EXPECT_GT(throws, 30);
  EXPECT_GT(deletions, 20);
}
