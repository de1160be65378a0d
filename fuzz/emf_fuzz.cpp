// Fuzzes the enhanced-metafile reader, then plays what it accepted into a
// small surface, once at the picture's size and once stretched over and past
// the edges.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform_emf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TEmfPicture pic;
  try {
    pic.LoadFromBytes(data, size);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  std::vector<uint32_t> pixels(48 * 40, 0xFFFFFFFF);
  TPixelSurface s{pixels.data(), 48, 40};
  for (const TPlatformRect& dest : {TPlatformRect{0, 0, 48, 40}, TPlatformRect{-7, 45, 60, -3}}) {
    TMetaCanvas canvas(s);
    try {
      pic.Play(canvas, s, dest);
    } catch (const EInvalidGraphic&) {
      // the work budget ran out
    }
  }
  return 0;
}
