// Fuzzes the JPEG 2000 module's own PNM and Sun raster readers on a byte
// span: any input must end in a picture or a refusal, never in a crash or a
// read outside the bytes. A picture that comes back holds exactly the pixels
// its size promises, and the writer of the same format reads back the same.
#include <cstddef>
#include <cstdint>

#include "j2k_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Single inputs stay below 4 M pixels.
  constexpr uint64_t kLimit = uint64_t{1} << 22;
  j2k::TPicture p;
  std::string format;
  const bool pnm = j2k::DecodeNetpbm(data, size, kLimit, p);
  if (!pnm && !j2k::DecodeSunRaster(data, size, kLimit, p)) return 0;
  if (p.Pixels.size() != uint64_t{p.Width} * p.Height * p.Channels) __builtin_trap();
  std::vector<uint8_t> bytes;
  if (!(pnm ? j2k::EncodeNetpbm(p, bytes) : j2k::EncodeSunRaster(p, bytes))) __builtin_trap();
  j2k::TPicture q;
  if (!j2k::DecodeAny(bytes.data(), bytes.size(), kLimit, q, format) || q.Pixels != p.Pixels) __builtin_trap();
  return 0;
}
