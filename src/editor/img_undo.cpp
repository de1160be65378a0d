#include "img_undo.h"

#include <unistd.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "platform_savefile.h"
#include "platform_stream.h"
#include "temputils.h"

namespace {

// A new empty file "zub" + six random characters + ".tmp" in the temporary
// folder, made exclusively; "" when the folder refuses it.
std::string MakeCheckpointFile() {
  const std::string pattern = TempFolder() + "zubXXXXXX.tmp";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemps(name.data(), 4);
  if (fd < 0) return "";
  ::close(fd);
  return std::string(name.data());
}

}  // namespace

TBitmap32Undo::TBitmap32Undo(int32_t Capacity, std::shared_ptr<TUndoBudget> Budget)
    : snapshots_(static_cast<size_t>(Capacity > 0 ? Capacity : 0)),
      redo_(std::make_unique<TBitmap32>()),
      tempFileName_(MakeCheckpointFile()),
      budget_(std::move(Budget)) {}

TBitmap32Undo::~TBitmap32Undo() {
  Clear();
  if (!tempFileName_.empty()) ::unlink(tempFileName_.c_str());
}

uint64_t TBitmap32Undo::PixelBytes(const TBitmap32* B) {
  return B == nullptr || B->Empty() ? 0 : static_cast<uint64_t>(B->PixelCount()) * sizeof(TColor32);
}

int32_t TBitmap32Undo::Count() const {
  int32_t n = 0;
  while (static_cast<size_t>(n) < snapshots_.size() && snapshots_[static_cast<size_t>(n)]) ++n;
  return n;
}

std::unique_ptr<TBitmap32> TBitmap32Undo::Detach(size_t Index) {
  std::unique_ptr<TBitmap32> s = std::move(snapshots_[Index]);
  snapshots_.erase(snapshots_.begin() + static_cast<ptrdiff_t>(Index));
  snapshots_.push_back(nullptr);
  const uint64_t b = PixelBytes(s.get());
  bytes_ -= b;
  if (budget_) budget_->used_ -= b;
  return s;
}

TBitmap32* TBitmap32Undo::Newest() const { return snapshots_.empty() ? nullptr : snapshots_[0].get(); }

TBitmap32* TBitmap32Undo::Previous() const { return snapshots_.size() < 2 ? nullptr : snapshots_[1].get(); }

void TBitmap32Undo::Clear() {
  Settle();
  for (int32_t k = Count(); k > 0; --k) Detach(static_cast<size_t>(k - 1));
  redo_->SetSize(0, 0);
  undoCount_ = 0;
  changes_ = 0;
  committed_ = false;
}

void TBitmap32Undo::Push(const TBitmap32* Bitmap) {
  if (Bitmap == nullptr) return;
  if (snapshots_.empty()) {
    ++undoCount_;
    return;
  }
  const uint64_t need = PixelBytes(Bitmap);
  // What leaves the stack to make room: the last place, then the oldest
  // snapshots while the shared budget would overflow. A snapshot of the same
  // size is reused for the new copy, which saves allocating and clearing a
  // whole image on every command once the stack is full.
  std::vector<std::unique_ptr<TBitmap32>> leaving;
  const size_t last = snapshots_.size() - 1;
  if (snapshots_[last]) leaving.push_back(Detach(last));
  if (budget_)
    for (int32_t k = Count(); k > 0 && budget_->used_ + need > budget_->limit_; --k)
      leaving.push_back(Detach(static_cast<size_t>(k - 1)));
  std::unique_ptr<TBitmap32> snap;
  for (auto& s : leaving)
    if (s->Width() == Bitmap->Width() && s->Height() == Bitmap->Height()) {
      snap = std::move(s);
      break;
    }
  leaving.clear();
  if (!snap) snap = std::make_unique<TBitmap32>();
  snap->Assign(Bitmap);
  snapshots_.pop_back();  // the place freed above
  snapshots_.insert(snapshots_.begin(), std::move(snap));
  bytes_ += need;
  if (budget_) budget_->used_ += need;
  ++undoCount_;
}

void TBitmap32Undo::Record(const TBitmap32* Bitmap, bool MayWithdraw) {
  if (locked_) return;
  Settle();
  Push(Bitmap);
  if (MayWithdraw) {
    if (!redo_->Empty()) setAside_ = std::exchange(redo_, std::make_unique<TBitmap32>());
    withdrawable_ = Bitmap != nullptr;
  } else {
    redo_->SetSize(0, 0);
  }
  ++changes_;
}

void TBitmap32Undo::Withdraw() {
  if (!withdrawable_) return;
  withdrawable_ = false;
  if (CanUndo()) Detach(0);
  --undoCount_;
  --changes_;
  if (setAside_) redo_ = std::move(setAside_);
}

void TBitmap32Undo::Settle() {
  withdrawable_ = false;
  setAside_.reset();
}

void TBitmap32Undo::Undo(TBitmap32* Bitmap) {
  if (locked_ || Bitmap == nullptr) return;
  Settle();
  if (!CanUndo()) {
    if (OnBeep) OnBeep();
    return;
  }
  // The pixels change hands instead of being copied, so nothing is allocated
  // and nothing can fail half way: the redo slot takes the bitmap's, the
  // bitmap the snapshot's, in one exchange the bitmap's watchers see.
  std::unique_ptr<TBitmap32> s = Detach(0);
  s->SwapPixels(*redo_);
  Bitmap->CopyPropertiesTo(redo_.get());
  {
    TUpdateGuard Quiet(*Bitmap);
    s->CopyPropertiesTo(Bitmap);
    Bitmap->SwapPixels(*redo_);
  }
  Bitmap->Changed();
  --undoCount_;
}

void TBitmap32Undo::Redo(TBitmap32* Bitmap) {
  if (locked_ || Bitmap == nullptr || redo_->Empty()) return;
  Settle();
  Push(Bitmap);
  {
    TUpdateGuard Quiet(*Bitmap);
    redo_->CopyPropertiesTo(Bitmap);
    Bitmap->SwapPixels(*redo_);
  }
  Bitmap->Changed();
  redo_->SetSize(0, 0);
}

void TBitmap32Undo::Commit(const TBitmap32* Bitmap) {
  if (Bitmap == nullptr) return;
  // The new checkpoint is written beside the committed one and takes its
  // place only once complete: a full disk leaves the previous checkpoint
  // committed and readable.
  if (tempFileName_.empty()) throw EFCreateError("Cannot create file \"\"");
  ReplaceFileAtomically(tempFileName_, [Bitmap](TStream& s) { Bitmap->SaveToStream(s); },
                        TRenameFailure::rfWriteError);
  committed_ = true;
  changes_ = 0;
}

void TBitmap32Undo::Rollback(TBitmap32* Bitmap) {
  if (Bitmap == nullptr) return;
  TBitmap32 loaded;
  {
    TFileStream f(tempFileName_, TFileMode::fmOpenRead);
    loaded.LoadFromStream(f);
  }
  Settle();
  Push(Bitmap);
  redo_->SetSize(0, 0);
  // Only the pixels come back; the bitmap keeps its own drawing properties.
  loaded.CopyMapTo(Bitmap);
  Bitmap->Changed();
  changes_ = 0;
}
