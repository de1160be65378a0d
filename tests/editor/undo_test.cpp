// The undo store: capacity and counters, the redo slot, the lock, the byte
// budget shared by two stores, and the checkpoint file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../formats/save_harness.h"
#include "../support/temp_env.h"
#include "editor_test_util.h"
#include "img_undo.h"
#include "platform_exceptions.h"

namespace {
void Fill(TBitmap32& B, TColor32 C) { B.ClearToColor(C); }
}  // namespace

TEST(UndoStore, CapacityFourKeepsFourOfSixAndCountsOnPastTheStack) {
  TBitmap32Undo u(4);
  int beeps = 0;
  u.OnBeep = [&] { ++beeps; };
  TBitmap32 doc;
  doc.SetSize(3, 2);
  for (uint32_t i = 0; i < 6; ++i) {
    Fill(doc, 0xFF000000u | i);
    u.Record(&doc);
  }
  Fill(doc, 0xFF0000FFu);
  EXPECT_EQ(u.Count(), 4);
  EXPECT_EQ(u.UndoCount(), 6);
  EXPECT_EQ(u.Changes(), 6);
  EXPECT_TRUE(u.IsModified());
  // Newest first: the images recorded fifth and fourth.
  EXPECT_EQ(u.Newest()->GetPixel(0, 0), 0xFF000005u);
  EXPECT_EQ(u.Previous()->GetPixel(0, 0), 0xFF000004u);

  for (uint32_t i = 0; i < 4; ++i) {
    u.Undo(&doc);
    EXPECT_EQ(doc.GetPixel(2, 1), 0xFF000000u | (5 - i));
  }
  EXPECT_FALSE(u.CanUndo());
  EXPECT_EQ(u.UndoCount(), 2);
  EXPECT_TRUE(u.HasUndo());
  EXPECT_EQ(beeps, 0);

  u.Undo(&doc);  // the fifth one: nothing left
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(u.UndoCount(), 2);
  EXPECT_EQ(doc.GetPixel(0, 0), 0xFF000002u);

  u.Clear();
  EXPECT_FALSE(u.HasUndo());
  EXPECT_FALSE(u.IsModified());
  EXPECT_EQ(u.Count(), 0);
  EXPECT_EQ(u.SnapshotBytes(), 0u);
}

TEST(UndoStore, RedoWorksOnlyDirectlyAfterAnUndoAndRoundTrips) {
  TBitmap32Undo u(8);
  TBitmap32 doc;
  doc.SetSize(2, 2);
  Fill(doc, 0xFF111111u);
  u.Record(&doc);
  Fill(doc, 0xFF222222u);
  u.Record(&doc);
  Fill(doc, 0xFF333333u);  // the current image, after two commands

  u.Undo(&doc);
  EXPECT_EQ(doc.GetPixel(0, 0), 0xFF222222u);
  EXPECT_TRUE(u.CanRedo());
  EXPECT_EQ(u.UndoCount(), 1);
  u.Redo(&doc);
  EXPECT_EQ(doc.GetPixel(0, 0), 0xFF333333u);
  EXPECT_EQ(u.UndoCount(), 2);
  EXPECT_FALSE(u.CanRedo());
  // An Undo after a Redo goes back to what the Redo replaced.
  u.Undo(&doc);
  EXPECT_EQ(doc.GetPixel(0, 0), 0xFF222222u);

  // Redo with no bitmap or an empty slot does nothing.
  u.Redo(nullptr);
  EXPECT_TRUE(u.CanRedo());
  EXPECT_EQ(u.UndoCount(), 1);

  // Any new record empties the slot.
  u.Record(&doc);
  EXPECT_FALSE(u.CanRedo());
  Fill(doc, 0xFF444444u);
  u.Redo(&doc);
  EXPECT_EQ(doc.GetPixel(0, 0), 0xFF444444u);
  EXPECT_EQ(u.UndoCount(), 2);

  // While locked nothing moves.
  u.Undo(&doc);
  u.SetLocked(true);
  u.Record(&doc);
  u.Redo(&doc);
  u.Undo(&doc);
  EXPECT_EQ(u.UndoCount(), 1);
  EXPECT_EQ(u.Changes(), 3);
  EXPECT_TRUE(u.CanRedo());
}

// Undo and Redo hand pixels over rather than copy them: the bitmap's
// watchers still see one change, and one resize only when the size changes,
// never a passing empty picture; the properties travel with the pixels.
TEST(UndoStore, UndoAndRedoSendOneChangeAndKeepProperties) {
  TBitmap32Undo u(4);
  TBitmap32 doc;
  doc.SetSize(2, 2);
  Fill(doc, 0xFF111111u);
  doc.SetMasterAlpha(100);
  u.Record(&doc);
  doc.SetSize(3, 1);
  Fill(doc, 0xFF222222u);
  doc.SetMasterAlpha(200);
  std::vector<std::string> seen;
  doc.OnChange = [&](void*) { seen.push_back("change " + std::to_string(doc.Width())); };
  doc.OnResize = [&](void*) { seen.push_back("resize " + std::to_string(doc.Width())); };
  u.Undo(&doc);
  EXPECT_EQ(seen, (std::vector<std::string>{"resize 2", "change 2"}));
  EXPECT_EQ(doc.Height(), 2);
  EXPECT_EQ(doc.GetPixel(1, 1), 0xFF111111u);
  EXPECT_EQ(doc.MasterAlpha(), 100u);
  seen.clear();
  u.Redo(&doc);
  EXPECT_EQ(seen, (std::vector<std::string>{"resize 3", "change 3"}));
  EXPECT_EQ(doc.GetPixel(2, 0), 0xFF222222u);
  EXPECT_EQ(doc.MasterAlpha(), 200u);
  // The snapshot Redo pushed is the picture Undo restored.
  EXPECT_EQ(u.Newest()->Width(), 2);
  EXPECT_EQ(u.Newest()->GetPixel(0, 0), 0xFF111111u);
}

TEST(UndoStore, TinyCapacities) {
  TBitmap32 doc;
  doc.SetSize(2, 2);
  {
    TBitmap32Undo u(0);
    int beeps = 0;
    u.OnBeep = [&] { ++beeps; };
    u.Record(&doc);
    EXPECT_EQ(u.UndoCount(), 1);  // counted, though nothing can be held
    EXPECT_FALSE(u.CanUndo());
    EXPECT_EQ(u.Newest(), nullptr);
    u.Undo(&doc);
    EXPECT_EQ(beeps, 1);
  }
  {
    TBitmap32Undo u(1);
    Fill(doc, 1);
    u.Record(&doc);
    Fill(doc, 2);
    u.Record(&doc);
    EXPECT_EQ(u.Count(), 1);
    EXPECT_EQ(u.Previous(), nullptr);
    EXPECT_EQ(u.Newest()->GetPixel(0, 0), 2u);
  }
}

TEST(UndoStore, SharedByteBudgetDropsOldestButKeepsNewestAndTheCount) {
  const uint64_t image = 10 * 10 * 4;
  auto budget = std::make_shared<TUndoBudget>(3 * image);
  TBitmap32Undo a(100, budget), b(100, budget);
  TBitmap32 doc;
  doc.SetSize(10, 10);
  for (uint32_t i = 0; i < 5; ++i) {
    Fill(doc, i);
    a.Record(&doc);
  }
  EXPECT_EQ(a.Count(), 3);
  EXPECT_EQ(a.UndoCount(), 5);
  EXPECT_EQ(a.Newest()->GetPixel(0, 0), 4u);
  EXPECT_EQ(budget->Used(), 3 * image);

  // The second store's push makes room by dropping its own oldest; it has
  // none yet, so its snapshot goes in over the budget and a keeps its three.
  b.Record(&doc);
  EXPECT_EQ(b.Count(), 1);
  EXPECT_EQ(a.Count(), 3);
  // The next push of a must now drop two of its own to fit.
  a.Record(&doc);
  EXPECT_EQ(a.Count(), 2);
  EXPECT_LE(budget->Used(), 3 * image);

  // A picture larger than the whole budget is still kept alone: a cancelled
  // command must be able to put it back.
  TBitmap32 big;
  big.SetSize(40, 40);
  Fill(big, 7);
  a.Record(&big);
  EXPECT_EQ(a.Count(), 1);
  a.Undo(&big);
  EXPECT_EQ(big.Width(), 40);
  EXPECT_EQ(big.GetPixel(39, 39), 7u);

  a.Clear();
  b.Clear();
  EXPECT_EQ(budget->Used(), 0u);
}

TEST(UndoCheckpoint, RoundTripKeepsAlphaAndPushesTheCurrentImage) {
  TTempEnv env;
  auto store = std::make_unique<TBitmap32Undo>(4);
  TBitmap32Undo& u = *store;
  const std::string file = u.TempFileName();
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(std::filesystem::path(file).parent_path(), std::filesystem::path(env.Dir() + "/tmp"));
  EXPECT_EQ(std::filesystem::path(file).filename().string().rfind("zub", 0), 0u);
  EXPECT_TRUE(std::filesystem::exists(file));

  auto first = Pattern(17, 9, 1);
  // Fully transparent pixels must come back as they were, too.
  first->SetPixel(0, 0, 0x00000000u);
  first->SetPixel(1, 0, 0x00FFFFFFu);
  auto doc = Pattern(17, 9, 1);
  doc->Assign(first.get());
  u.Record(doc.get());
  u.Commit(doc.get());
  EXPECT_TRUE(u.IsCommitted());
  EXPECT_FALSE(u.IsModified());

  // A second, smaller commit replaces the first entirely.
  auto second = Pattern(5, 3, 2);
  u.Commit(second.get());

  auto later = Pattern(30, 20, 3);
  doc->Assign(later.get());
  u.Record(doc.get());
  const int32_t count = u.UndoCount();
  u.Rollback(doc.get());
  EXPECT_TRUE(doc->Equal(second.get()));
  EXPECT_EQ(u.UndoCount(), count + 1);
  EXPECT_FALSE(u.CanRedo());
  EXPECT_EQ(u.Changes(), 0);
  u.Undo(doc.get());
  EXPECT_TRUE(doc->Equal(later.get()));

  // The first commit's transparent pixels, in its own round trip.
  u.Commit(first.get());
  auto back = std::make_unique<TBitmap32>();
  u.Rollback(back.get());
  EXPECT_TRUE(back->Equal(first.get()));

  store.reset();  // the store deletes its checkpoint file
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(UndoCheckpoint, DamagedOrMissingFileChangesNothing) {
  TTempEnv env;
  auto doc = Pattern(6, 4, 9);
  auto before = Pattern(6, 4, 9);
  {
    TBitmap32Undo u(4);
    const std::string file = u.TempFileName();
    // Before any commit the file is empty: not a checkpoint.
    EXPECT_ANY_THROW(u.Rollback(doc.get()));
    EXPECT_EQ(u.UndoCount(), 0);
    EXPECT_TRUE(doc->Equal(before.get()));

    u.Commit(doc.get());
    std::filesystem::resize_file(file, 40);  // cut inside the header's pixel data
    EXPECT_ANY_THROW(u.Rollback(doc.get()));
    EXPECT_EQ(u.UndoCount(), 0);

    std::ofstream(file, std::ios::binary | std::ios::trunc) << "BM not a bitmap at all";
    EXPECT_ANY_THROW(u.Rollback(doc.get()));
    EXPECT_EQ(u.UndoCount(), 0);
    EXPECT_TRUE(doc->Equal(before.get()));

    std::filesystem::remove(file);
    EXPECT_THROW(u.Rollback(doc.get()), EFOpenError);
    EXPECT_EQ(u.UndoCount(), 0);
  }
}

TEST(UndoCheckpoint, StoreWithoutTemporaryFileStillUndoes) {
  TTempEnv env;
  ::setenv("TMPDIR", (env.Dir() + "/no-such-folder").c_str(), 1);
  TBitmap32Undo u(4);
  EXPECT_EQ(u.TempFileName(), "");
  auto doc = Pattern(3, 3, 4);
  u.Record(doc.get());
  Fill(*doc, 5);
  u.Undo(doc.get());
  EXPECT_TRUE(doc->Equal(Pattern(3, 3, 4).get()));
  u.Redo(doc.get());
  EXPECT_EQ(doc->GetPixel(1, 1), 5u);
  EXPECT_THROW(u.Commit(doc.get()), EStreamError);
  EXPECT_FALSE(u.IsCommitted());
  EXPECT_THROW(u.Rollback(doc.get()), EStreamError);
  EXPECT_EQ(u.UndoCount(), 1);
}

// The temporary folder fills up between two commits: the second raises, the
// first stays committed and comes back whole, and no partial file is left.
TEST(UndoCheckpoint, FullTemporaryFolderKeepsThePreviousCheckpoint) {
  TTempEnv env;
  TBitmap32Undo u(4);
  auto first = Pattern(20, 10, 6);
  u.Commit(first.get());
  auto doc = Pattern(200, 150, 7);  // 120 KB of pixels: more than the disk has left
  u.Record(doc.get());
  {
    TFileSizeLimit full(16 * 1024);
    EXPECT_THROW(u.Commit(doc.get()), EWriteError);
  }
  EXPECT_TRUE(u.IsCommitted());
  EXPECT_TRUE(u.IsModified());
  EXPECT_EQ(FolderEntries(env.Dir() + "/tmp"),
            std::vector<std::string>{std::filesystem::path(u.TempFileName()).filename().string()});
  auto back = std::make_unique<TBitmap32>();
  u.Rollback(back.get());
  EXPECT_TRUE(back->Equal(first.get()));
  // With room again the new checkpoint replaces the old one.
  u.Commit(doc.get());
  u.Rollback(back.get());
  EXPECT_TRUE(back->Equal(doc.get()));
}
