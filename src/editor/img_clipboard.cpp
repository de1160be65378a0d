#include "img_clipboard.h"

#include <cstdint>
#include <new>
#include <vector>

namespace {

// Keeps the clipboard open across the picture and its block, so the two are
// set (and read) together; closed also when a step raises.
class TClipboardOpen {
 public:
  explicit TClipboardOpen(TClipboard& B) : b_(B) { b_.Open(); }
  ~TClipboardOpen() { b_.Close(); }
  TClipboardOpen(const TClipboardOpen&) = delete;
  TClipboardOpen& operator=(const TClipboardOpen&) = delete;

 private:
  TClipboard& b_;
};

}  // namespace

const std::string& AlphaClipboardFormat() {
  static const std::string name = "CFBitmap32Alpha";
  return name;
}

bool CopyBitmapWithAlpha(TClipboard& Board, const TBitmap32* Bitmap) {
  if (Bitmap == nullptr) return false;
  TClipboardOpen open(Board);
  Bitmap->AssignTo(Board);
  std::vector<uint8_t> alpha;
  try {
    alpha.resize(Bitmap->PixelCount());
  } catch (const std::bad_alloc&) {
    // Only the picture goes to the clipboard, as when the platform has no memory for the block.
    return false;
  }
  const TColor32* p = Bitmap->Bits();
  for (size_t i = 0; i < alpha.size(); ++i) alpha[i] = static_cast<uint8_t>(p[i] >> 24);
  Board.SetData(AlphaClipboardFormat(), alpha);
  return true;
}

bool CopyBitmapWithAlpha(const TBitmap32* Bitmap) { return CopyBitmapWithAlpha(Clipboard(), Bitmap); }

bool PasteBitmapWithAlpha(TClipboard& Board, TBitmap32* Bitmap) {
  if (Bitmap == nullptr) return false;
  TClipboardOpen open(Board);
  if (!Board.HasPicture()) {
    Bitmap->SetSize(0, 0);
    return false;
  }
  Bitmap->Assign(Board);
  if (Bitmap->Empty()) return false;
  if (!Board.HasFormat(AlphaClipboardFormat())) return true;
  const std::vector<uint8_t> alpha = Board.GetData(AlphaClipboardFormat());
  const size_t n = Bitmap->PixelCount();
  // A block made for another picture (shorter than this one) is left unread.
  if (alpha.size() < n) return false;
  TColor32* p = Bitmap->Bits();
  for (size_t i = 0; i < n; ++i) p[i] = (p[i] & 0x00FFFFFFu) | (static_cast<TColor32>(alpha[i]) << 24);
  Bitmap->Changed();
  return true;
}

bool PasteBitmapWithAlpha(TBitmap32* Bitmap) { return PasteBitmapWithAlpha(Clipboard(), Bitmap); }
