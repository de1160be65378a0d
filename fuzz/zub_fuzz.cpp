// Fuzzes the ZU3 reader on a byte span: any input must end in a bitmap or in
// one of the reader's boxes, never in a crash, leak or hang. What reads is
// written again and must read back identically.
#include <cstddef>
#include <cstdint>

#include "img_zub.h"
#include "platform_messagebox.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetMessageBoxHandler([](const TMessageBoxRequest&) { return IDOK; });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Headers may legitimately ask for 32767 x 32767 pixels (4 GiB); keep single
  // inputs small so the run explores the format rather than the allocator.
  if (size >= 8) {
    const int32_t w = static_cast<int16_t>(data[4] | data[5] << 8), h = static_cast<int16_t>(data[6] | data[7] << 8);
    if (static_cast<int64_t>(w) * h > (int64_t{1} << 22)) return 0;
  }
  TReadOnlyMemoryStream in(data, size);
  TBitmap32 b;
  LoadZubImageFromStream(in, "fuzz.zub", &b);
  if (!b.Empty() && b.PixelCount() <= 256 * 256) {
    TMemoryStream out;
    WriteZubStream(out, b);
    out.SetPosition(0);
    TBitmap32 back;
    if (!ReadZubStream(out, back) || !back.Equal(&b)) __builtin_trap();
  }
  return 0;
}
