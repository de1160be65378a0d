// Fuzzes the Windows metafile picture: the record check, the player and our
// device, drawing what loaded both at its own size (when small) and
// stretched over and past the edges of a small surface.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform_metafile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMetafile picture;
  try {
    picture.LoadFromBytes(data, size);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  // The surfaces are kept from one input to the next: freed blocks of this
  // size would fill the sanitizer's quarantine within a few hundred inputs.
  static std::vector<uint32_t> surface, full;
  surface.assign(48 * 40, 0xFFFFFFFF);
  TPixelSurface s{surface.data(), 48, 40};
  picture.Draw(s, TPlatformRect{-3, 5, 53, 30});
  picture.Draw(s, TPlatformRect{40, 38, 2, 1});
  if (picture.Width() <= 256 && picture.Height() <= 256 && !picture.Empty()) {
    full.assign(static_cast<size_t>(picture.Width()) * picture.Height(), 0xFFFF0000);
    TPixelSurface f{full.data(), picture.Width(), picture.Height()};
    picture.Draw(f, TPlatformRect{0, 0, picture.Width(), picture.Height()});
  }
  return 0;
}
