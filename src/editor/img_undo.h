#pragma once
// The undo history of one bitmap: a bounded stack of full snapshots (newest
// first), one redo slot, a count of recorded steps that the caption and the
// save query read as the "modified" mark, and a checkpoint kept in a
// temporary file ("zub....tmp" in the temporary folder). The store never
// keeps the bitmap it serves; every operation is handed that bitmap.
//
// Memory is bounded twice: by the capacity (the number of snapshots), and by
// an optional byte budget that several stores may share. When a push would
// take the snapshots of all stores sharing the budget past it, this store's
// oldest snapshots are dropped first; the newest snapshot is always kept, so
// a cancelled command can always put its image back. UndoCount counts
// recorded steps, not held snapshots, so dropping never changes it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "raster_core.h"

// The pixel bytes that undo stores may hold together.
class TUndoBudget {
 public:
  explicit TUndoBudget(uint64_t LimitBytes) : limit_(LimitBytes) {}
  uint64_t Limit() const { return limit_; }
  uint64_t Used() const { return used_; }

 private:
  friend class TBitmap32Undo;
  uint64_t limit_;
  uint64_t used_ = 0;
};

class TBitmap32Undo {
 public:
  // Capacity places (negative counts as 0); the checkpoint file is created at once.
  explicit TBitmap32Undo(int32_t Capacity, std::shared_ptr<TUndoBudget> Budget = nullptr);
  // Frees the snapshots and deletes the checkpoint file.
  ~TBitmap32Undo();
  TBitmap32Undo(const TBitmap32Undo&) = delete;
  TBitmap32Undo& operator=(const TBitmap32Undo&) = delete;

  // Frees every snapshot, empties the redo slot, zeroes the counters and forgets the checkpoint.
  void Clear();
  // Unless locked: a copy of Bitmap becomes the newest snapshot (on a full
  // stack the oldest goes), UndoCount + 1, the redo slot is emptied, Changes
  // + 1. With MayWithdraw, the redo image is set aside instead, for Withdraw
  // to bring back; Settle (or any later change of the store) frees it.
  void Record(const TBitmap32* Bitmap, bool MayWithdraw = false);
  // Takes back the newest Record of a command that turned out to change
  // nothing: its snapshot leaves, the counters and the redo slot are as
  // before it. A snapshot that the Record pushed out of a full stack stays
  // gone; undo steps are counted, so the "modified" mark is still right.
  void Withdraw();
  // The newest Record stays: what it set aside for Withdraw is freed.
  void Settle();
  // Unless locked: the redo slot takes Bitmap, Bitmap takes the newest
  // snapshot, which leaves the stack; UndoCount - 1. With nothing to undo: a beep.
  void Undo(TBitmap32* Bitmap);
  // Unless locked, with a filled redo slot and a bitmap: Push(Bitmap), Bitmap
  // takes the redo slot's image, the slot is emptied.
  void Redo(TBitmap32* Bitmap);

  bool CanUndo() const { return !snapshots_.empty() && snapshots_[0] != nullptr; }
  bool CanRedo() const { return !redo_->Empty(); }
  bool HasUndo() const { return undoCount_ > 0; }
  // Snapshot 0 / snapshot 1, or null.
  TBitmap32* Newest() const;
  TBitmap32* Previous() const;

  // Writes Bitmap as the new checkpoint: a new file that replaces the
  // committed one only when complete. Raises the stream's exception when it
  // cannot be written (a full disk included); the previous checkpoint then
  // stays committed and readable.
  void Commit(const TBitmap32* Bitmap);
  bool IsCommitted() const { return committed_; }
  // Reads the checkpoint back into Bitmap, pushing the current image first.
  // The file is decoded before anything changes: a missing, unreadable or
  // damaged checkpoint raises and leaves Bitmap and the stack as they were.
  void Rollback(TBitmap32* Bitmap);
  bool IsModified() const { return changes_ > 0; }

  bool Locked() const { return locked_; }
  void SetLocked(bool Value) { locked_ = Value; }
  int32_t UndoCount() const { return undoCount_; }
  int32_t Changes() const { return changes_; }
  int32_t Capacity() const { return static_cast<int32_t>(snapshots_.size()); }
  // Snapshots held now.
  int32_t Count() const;
  // Pixel bytes of the snapshots held now.
  uint64_t SnapshotBytes() const { return bytes_; }
  const TBitmap32& RedoBitmap() const { return *redo_; }
  // "" when no temporary file could be made.
  const std::string& TempFileName() const { return tempFileName_; }

  // Called where the platform would beep (Undo with nothing to undo).
  std::function<void()> OnBeep;

 private:
  static uint64_t PixelBytes(const TBitmap32* B);
  // A copy of Bitmap becomes the newest snapshot; on a full stack the oldest
  // goes. UndoCount + 1. Private: it must come after a Settle, or a Withdraw
  // would take out the wrong snapshot.
  void Push(const TBitmap32* Bitmap);
  // Takes the snapshot at Index out of the stack (closing the gap) and hands it over.
  std::unique_ptr<TBitmap32> Detach(size_t Index);

  std::vector<std::unique_ptr<TBitmap32>> snapshots_;
  std::unique_ptr<TBitmap32> redo_;
  // The redo image that a Record with MayWithdraw emptied; null when none.
  std::unique_ptr<TBitmap32> setAside_;
  bool withdrawable_ = false;
  bool locked_ = false;
  int32_t undoCount_ = 0;
  int32_t changes_ = 0;
  bool committed_ = false;
  std::string tempFileName_;
  std::shared_ptr<TUndoBudget> budget_;
  uint64_t bytes_ = 0;
};
