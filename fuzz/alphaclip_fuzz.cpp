// Pasting a picture with an alpha block that another process may have put on
// the clipboard: any block, of any length, must give the picture with the
// block's alpha (a block long enough) or the picture as it was (a short one),
// never a read past the block.
//
// Input: byte 0 the width (0..31), byte 1 the height (0..31), then as many
// 32-bit pixels as the picture holds (missing ones are 0), then the block.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "img_clipboard.h"
#include "platform_clipboard.h"
#include "raster_core.h"
#include "test_startup.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  VemraTestStartup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t w = data[0] & 31, h = data[1] & 31;
  size_t pos = 2;
  TPlatformBitmap picture;
  picture.SetSize(w, h);
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  for (size_t i = 0; i < n && pos + 4 <= size; ++i, pos += 4) std::memcpy(picture.Bits() + i, data + pos, 4);
  const std::vector<uint8_t> block(data + pos, data + size);

  TMemoryClipboard board;
  board.Open();
  board.SetPicture(picture);
  board.SetData(AlphaClipboardFormat(), block);
  board.Close();

  TBitmap32 b;
  const bool ok = PasteBitmapWithAlpha(board, &b);
  if (n == 0) {
    if (ok || !b.Empty()) std::abort();
    return 0;
  }
  if (b.Width() != w || b.Height() != h) std::abort();
  if (ok != (block.size() >= n)) std::abort();
  for (size_t i = 0; i < n; ++i) {
    const TColor32 c = b.Bits()[i];
    if ((c & 0xFFFFFFu) != (picture.Bits()[i] & 0xFFFFFFu)) std::abort();
    const uint32_t alpha = ok ? block[i] : 255u;
    if ((c >> 24) != alpha) std::abort();
  }
  return 0;
}
