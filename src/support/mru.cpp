#include "mru.h"

#include "regutils.h"

namespace {

std::string DoubleAmpersands(const std::string& S) {
  std::string out;
  out.reserve(S.size());
  for (char c : S) {
    out += c;
    if (c == '&') out += '&';
  }
  return out;
}

}  // namespace

TMRU::TMRU(TMruMenu* Parent) : parent_(Parent) {}

void TMRU::AddFile(const std::string& FileName) {
  const std::string n = DoubleAmpersands(FileName);
  int p = kCount - 1;
  if (!n.empty()) {
    for (int i = 0; i < kCount; ++i)
      if (entries_[static_cast<size_t>(i)] == n) p = i;  // the last equal entry wins
    for (int i = p - 1; i >= 0; --i) entries_[static_cast<size_t>(i + 1)] = entries_[static_cast<size_t>(i)];
    entries_[0] = n;
  }
  UpdateItems(p);
}

void TMRU::UpdateItems(int Last) {
  if (!parent_) return;
  for (int i = 0; i <= Last; ++i) {
    const std::string& entry = entries_[static_cast<size_t>(i)];
    if (i >= parent_->Count()) {
      parent_->Add(entry);
      // The new item copies the first item's handler; for the very first
      // item that is its own (empty) one.
      parent_->CopyClickHandler(0, parent_->Count() - 1);
    } else {
      parent_->SetCaption(i, entry);
    }
    parent_->SetItemVisible(i, !entry.empty());
  }
  parent_->SetParentVisible(true);
}

void TMRU::LoadFromRegistry(TRegistry* Reg) {
  for (int i = 0; i < kCount; ++i) {
    std::string& entry = entries_[static_cast<size_t>(i)];
    entry.clear();
    if (!Reg) continue;
    try {
      entry = Reg->ReadString(std::to_string(i));
    } catch (const ERegistryException&) {
      // A hand-edited entry of another type loses only itself, not the list.
      entry.clear();
    }
  }
}

void TMRU::SaveToRegistry(TRegistry* Reg) const {
  for (int i = 0; i < kCount; ++i) WriteSettingStr(Reg, std::to_string(i), entries_[static_cast<size_t>(i)]);
}
