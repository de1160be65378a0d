// Fuzzes the icon reader, then draws, saves and reloads what it accepted.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform_icon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TIcon icon;
  try {
    icon.LoadFromBytes(data, size);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  // Drawn stretched over and past the edges of a small surface.
  std::vector<uint32_t> surface(24 * 24, 0xFFFFFFFF);
  TPixelSurface s{surface.data(), 24, 24};
  icon.Draw(s, TPlatformRect{-3, 5, 30, 20});
  const std::vector<uint8_t> saved = icon.SaveToBytes();
  TIcon back;
  back.LoadFromBytes(saved.data(), saved.size());
  if (back.Pixels() != icon.Pixels()) __builtin_trap();
  return 0;
}
