// Fuzzes the JPEG decoder (and re-encodes what decodes): any input must end in
// a picture or in EInvalidGraphic, never in a crash, leak or hang. The
// reader's own pixel cap holds: what a header declares must cost no more
// than the bytes behind it justify.
#include <cstddef>
#include <cstdint>

#include "platform_jpeg.h"

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
