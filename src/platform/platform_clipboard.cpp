// The process's clipboard and the in-memory clipboard.
//
// Like the platform's, the in-memory clipboard is emptied by the first thing
// put on it inside an Open/Close bracket, so a picture and its companion data
// blocks set in one bracket stay together, while anything set in a later
// bracket (or without one) replaces all that was there before.
#include "platform_clipboard.h"

#include <mutex>

namespace {

std::mutex gBoardLock;
std::unique_ptr<TClipboard>& Board() {
  static std::unique_ptr<TClipboard> board;
  return board;
}

// Opens the clipboard for one operation that the caller did not bracket.
class TOpenGuard {
 public:
  explicit TOpenGuard(TClipboard& b) : b_(b) { b_.Open(); }
  ~TOpenGuard() { b_.Close(); }
  TOpenGuard(const TOpenGuard&) = delete;
  TOpenGuard& operator=(const TOpenGuard&) = delete;

 private:
  TClipboard& b_;
};

}  // namespace

TClipboard& Clipboard() {
  std::lock_guard<std::mutex> lock(gBoardLock);
  auto& b = Board();
  if (!b) b = std::make_unique<TMemoryClipboard>();
  return *b;
}

void SetClipboard(std::unique_ptr<TClipboard> NewBoard) {
  std::lock_guard<std::mutex> lock(gBoardLock);
  Board() = NewBoard ? std::move(NewBoard) : std::make_unique<TMemoryClipboard>();
}

void TMemoryClipboard::Open() {
  if (openCount_++ == 0) clearedInBracket_ = false;
}

void TMemoryClipboard::Close() {
  // An unpaired Close is harmless, as closing a closed clipboard is.
  if (openCount_ > 0) --openCount_;
}

void TMemoryClipboard::Clear() {
  TOpenGuard g(*this);
  picture_.reset();
  blocks_.clear();
  clearedInBracket_ = true;
}

std::unique_ptr<TPlatformBitmap> TMemoryClipboard::GetPicture() const {
  if (!picture_) return nullptr;
  auto copy = std::make_unique<TPlatformBitmap>(*picture_);
  copy->SetPixelFormat(TPixelFormat::pf32bit);
  return copy;
}

void TMemoryClipboard::SetPicture(const TPlatformBitmap& Picture) {
  TOpenGuard g(*this);
  // Copy first: a failed copy leaves the clipboard as it was.
  auto copy = std::make_unique<TPlatformBitmap>(Picture);
  if (!clearedInBracket_) Clear();
  picture_ = std::move(copy);
}

bool TMemoryClipboard::HasFormat(const std::string& Name) const {
  for (const auto& b : blocks_)
    if (b.first == Name) return true;
  return false;
}

std::vector<uint8_t> TMemoryClipboard::GetData(const std::string& Name) const {
  for (const auto& b : blocks_)
    if (b.first == Name) return b.second;
  return {};
}

void TMemoryClipboard::SetData(const std::string& Name, const std::vector<uint8_t>& Data) {
  TOpenGuard g(*this);
  std::vector<uint8_t> copy = Data;
  if (!clearedInBracket_) Clear();
  for (auto& b : blocks_)
    if (b.first == Name) {
      b.second = std::move(copy);
      return;
    }
  blocks_.emplace_back(Name, std::move(copy));
}
