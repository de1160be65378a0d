// Fuzzes the Netpbm reader and its picture class on a byte span: any input
// must end in a picture, a box or EInvalidGraphic, never in a crash or an
// out-of-bounds read.
#include <cstddef>
#include <cstdint>

#include "img_pxm.h"
#include "platform_messagebox.h"
#include "pxm_image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetMessageBoxHandler([](const TMessageBoxRequest&) { return IDOK; });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TReadOnlyMemoryStream in(data, size);
  TPnmHeader h;
  // A short file may claim any size; keep single inputs small.
  if (ReadPnmHeader(in, h) == TPnmHeaderStatus::Ok && static_cast<int64_t>(h.Width) * h.Height > (int64_t{1} << 22))
    return 0;
  TBitmap32 b;
  LoadPNMFromStream(in, "fuzz.ppm", &b);
  // The picture class reads the same header; when it accepts a picture with
  // pixels, so did the reader, at the same size.
  TPXMImage pic;
  try {
    pic.LoadFromStream(in);
  } catch (const Exception&) {
    return 0;
  }
  if (!pic.Empty() && (pic.Width() != b.Width() || pic.Height() != b.Height())) __builtin_trap();
  return 0;
}
