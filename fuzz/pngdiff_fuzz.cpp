// Differential fuzzing of the PNG decoder against libpng: every CRC is
// mended so that inputs reach the image data; when both readers accept a
// file, their 8-bit RGBA pixels agree. Where the two define a pixel
// differently by design, that part is left out: colours when a gAMA chunk
// asks for a gamma table (libpng applies none unless told), and alpha of
// palette pictures with tRNS (the editor makes one colour transparent or
// none) or of a grey or colour key whose tRNS length is not the exact one
// (libpng ignores such a chunk).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "img_png.h"
#include "libpng_reader.h"
#include "png_image.h"

namespace {

struct TChunkFacts {
  bool Gamma = false;
  uint32_t TrnsLength = 0;
  bool Trns = false;
  uint8_t ColorType = 0;
};

TChunkFacts MendAndScan(std::vector<uint8_t>& Bytes) {
  TChunkFacts f;
  for (size_t p = 8; p + 12 <= Bytes.size();) {
    const uint32_t n = static_cast<uint32_t>(Bytes[p]) << 24 | Bytes[p + 1] << 16 | Bytes[p + 2] << 8 | Bytes[p + 3];
    if (n > Bytes.size() - p - 12) break;
    const uint8_t* t = &Bytes[p + 4];
    if (t[0] == 'g' && t[1] == 'A' && t[2] == 'M' && t[3] == 'A') f.Gamma = true;
    if (t[0] == 't' && t[1] == 'R' && t[2] == 'N' && t[3] == 'S') {
      f.Trns = true;
      f.TrnsLength = n;
    }
    if (p == 8 && n >= 13) f.ColorType = Bytes[p + 8 + 9];
    const uint32_t crc = PngUpdateCrc(0xFFFFFFFFu, &Bytes[p + 4], n + 4) ^ 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i) Bytes[p + 8 + n + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    p += 12 + n;
  }
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  const TChunkFacts facts = MendAndScan(bytes);
  int32_t w = 0, h = 0;
  std::vector<uint32_t> ours;
  try {
    DecodePngToArgb(bytes.data(), bytes.size(), w, h, ours);
  } catch (const Exception&) {
    return 0;
  }
  int lw = 0, lh = 0;
  std::vector<uint8_t> theirs;
  if (!libpng_reader::Decode(bytes.data(), bytes.size(), lw, lh, theirs)) return 0;
  if (lw != w || lh != h) __builtin_trap();
  const bool colors = !facts.Gamma;
  const uint32_t exactKey = facts.ColorType == 0 ? 2 : facts.ColorType == 2 ? 6 : 0;
  const bool alpha = !(facts.Trns && (facts.ColorType == 3 || facts.TrnsLength != exactKey));
  for (size_t i = 0; i < ours.size(); ++i) {
    const uint32_t c = ours[i];
    const uint8_t* t = &theirs[i * 4];
    if (colors && (((c >> 16) & 0xFF) != t[0] || ((c >> 8) & 0xFF) != t[1] || (c & 0xFF) != t[2])) __builtin_trap();
    if (alpha && (c >> 24) != t[3]) __builtin_trap();
  }
  return 0;
}
