// Fuzzes the PNG reader: any input must end in a picture or in one of the
// PNG exceptions, never in a crash, leak or hang. A picture that reads is
// drawn, converted, written again and must read back with the same pixels.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "png_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A header may ask for 65535 x 65535 pixels; keep single inputs small so
  // the run explores the format rather than the allocator.
  if (size >= 24 && std::memcmp(data + 12, "IHDR", 4) == 0) {
    const uint64_t w = static_cast<uint64_t>(data[16]) << 24 | data[17] << 16 | data[18] << 8 | data[19];
    const uint64_t h = static_cast<uint64_t>(data[20]) << 24 | data[21] << 16 | data[22] << 8 | data[23];
    if (w * h > (uint64_t{1} << 20)) return 0;
  }
  // Mutations break CRCs; half of the inputs (an odd last byte) get theirs
  // mended so that the run reaches the image data too.
  std::vector<uint8_t> bytes(data, data + size);
  if (size > 0 && (data[size - 1] & 1)) {
    for (size_t p = 8; p + 12 <= bytes.size();) {
      const uint32_t n = static_cast<uint32_t>(bytes[p]) << 24 | bytes[p + 1] << 16 | bytes[p + 2] << 8 | bytes[p + 3];
      if (n > bytes.size() - p - 12) break;
      const uint32_t crc = PngUpdateCrc(0xFFFFFFFFu, &bytes[p + 4], n + 4) ^ 0xFFFFFFFFu;
      for (int i = 0; i < 4; ++i) bytes[p + 8 + n + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
      p += 12 + n;
    }
  }
  TReadOnlyMemoryStream in(bytes.data(), bytes.size());
  TPNGObject png;
  try {
    png.LoadFromStream(in);
  } catch (const Exception&) {
    return 0;
  }
  try {
    TPlatformBitmap plain;
    png.AssignTo(plain);
    std::vector<uint32_t> canvas(16 * 16, 0xFF808080u);
    TPixelSurface s{canvas.data(), 16, 16};
    png.Draw(s, {-3, 2, 14, 19});
    for (int32_t y = -1; y <= png.Height(); y += 7)
      for (int32_t x = -1; x <= png.Width(); x += 5) png.SetPixel(x, y, png.GetPixel(x, y));
  } catch (const EPngError&) {
    // A pixel naming a palette entry the file does not have.
  }
  TMemoryStream out;
  png.SaveToStream(out);
  out.SetPosition(0);
  TPNGObject back;
  back.LoadFromStream(out);
  if (back.Width() != png.Width() || back.Height() != png.Height()) __builtin_trap();
  // Gamma tables need not be invertible; without one the colours must match.
  const bool exact = png.Header()->Store.BitsPerPixel == 24 && png.Chunks().FindChunk("gAMA") == nullptr;
  for (int32_t y = 0; exact && y < png.Height(); ++y)
    for (int32_t x = 0; x < png.Width(); ++x)
      if (back.GetPixel(x, y) != png.GetPixel(x, y)) __builtin_trap();
  return 0;
}
