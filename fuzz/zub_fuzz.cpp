// Fuzzes the ZU3 reader on a byte span: any input must end in a bitmap or in
// one of the reader's boxes, never in a crash, leak or hang. No size filter:
// a header may ask for 32767 x 32767 pixels, and the reader must not spend
// more than its few bytes of stream justify. What reads is
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
