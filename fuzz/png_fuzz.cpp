// Fuzzes the PNG reader as the editor reaches it: LoadPNGIntoBitmap32 on a
// file, and the picture object from a stream. Any input must end in a picture
// or in one of the PNG exceptions, never in a crash, leak, hang or an
// allocation the input's size cannot justify; a failed load leaves the
// bitmap's previous picture as it was. A picture that reads is drawn,
// converted, written again and must read back with the same pixels.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "img_png.h"
#include "png_image.h"

namespace {

// Mutations break CRCs; inputs with an odd last byte get theirs mended so
// that the run reaches the image data too.
std::vector<uint8_t> MendCrcs(const uint8_t* Data, size_t Size) {
  std::vector<uint8_t> bytes(Data, Data + Size);
  if (Size == 0 || !(Data[Size - 1] & 1)) return bytes;
  for (size_t p = 8; p + 12 <= bytes.size();) {
    const uint32_t n = static_cast<uint32_t>(bytes[p]) << 24 | bytes[p + 1] << 16 | bytes[p + 2] << 8 | bytes[p + 3];
    if (n > bytes.size() - p - 12) break;
    const uint32_t crc = PngUpdateCrc(0xFFFFFFFFu, &bytes[p + 4], n + 4) ^ 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i) bytes[p + 8 + n + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    p += 12 + n;
  }
  return bytes;
}

struct TScratchFile {
  std::string Path;
  ~TScratchFile() { std::remove(Path.c_str()); }
};

const std::string& FilePath() {
  // A file in memory where there is such a folder: a write per input.
  static const TScratchFile file{
      (std::filesystem::is_directory("/dev/shm") ? std::string("/dev/shm") : std::filesystem::temp_directory_path().string()) +
      "/png_fuzz_" + std::to_string(getpid()) + ".png"};
  return file.Path;
}

void LoadThroughTheBridge(const std::vector<uint8_t>& Bytes) {
  if (FILE* f = std::fopen(FilePath().c_str(), "wb")) {
    if (!Bytes.empty()) std::fwrite(Bytes.data(), 1, Bytes.size(), f);
    std::fclose(f);
  }
  TBitmap32 b;
  b.SetSize(3, 2);
  for (int i = 0; i < 6; ++i) b.Bits()[i] = 0x12345678u + static_cast<uint32_t>(i);
  try {
    LoadPNGIntoBitmap32(FilePath(), &b);
  } catch (const Exception&) {
    if (b.Width() != 3 || b.Height() != 2) __builtin_trap();
    for (int i = 0; i < 6; ++i)
      if (b.Bits()[i] != 0x12345678u + static_cast<uint32_t>(i)) __builtin_trap();
    return;
  }
  if (b.Empty()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes = MendCrcs(data, size);
  LoadThroughTheBridge(bytes);

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
