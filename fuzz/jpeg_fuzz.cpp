// Fuzzes the JPEG decoder (and re-encodes what decodes): any input must end in
// a picture or in EInvalidGraphic, never in a crash, leak or hang.
#include <cstddef>
#include <cstdint>

#include "platform_jpeg.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Keep single inputs fast: 4 megapixels is plenty to reach every code path.
  SetJpegPixelLimit(uint64_t{1} << 22);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TJPEGImage jpeg;
  try {
    jpeg.LoadFromBytes(data, size);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  if (static_cast<int64_t>(jpeg.Width()) * jpeg.Height() <= 256 * 256) {
    jpeg.SetCompressionQuality(50);
    const std::vector<uint8_t> again = jpeg.SaveToBytes();
    TJPEGImage back;
    back.LoadFromBytes(again.data(), again.size());
    if (back.Width() != jpeg.Width() || back.Height() != jpeg.Height()) __builtin_trap();
  }
  return 0;
}
