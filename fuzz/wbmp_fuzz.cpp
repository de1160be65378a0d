// Fuzzes the WBMP reader on a byte span; what it reads is black and white,
// so writing it and reading that again must give the same pixels.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "img_wbmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TBitmap32 b;
  LoadWBMPFromBytes(data, size, &b);
  const std::vector<uint8_t> again = EncodeWBMP(b);
  TBitmap32 back;
  LoadWBMPFromBytes(again.data(), again.size(), &back);
  if (back.Width() != b.Width() || back.Height() != b.Height() || (!b.Empty() && !back.Equal(&b))) __builtin_trap();
  return 0;
}
