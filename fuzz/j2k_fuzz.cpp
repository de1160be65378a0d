// Fuzzes the JPEG 2000 module's OpenJPEG glue (memory streams, component
// flattening, subsampling, sYCC) on a byte span: any input must end in a
// picture or a refusal, never in a crash or an out-of-bounds access.
#include <cstddef>
#include <cstdint>

#include "j2k_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // OpenJPEG allocates by the header's size; single inputs stay small.
  constexpr uint64_t kLimit = uint64_t{1} << 18;
  j2k::TPicture p;
  if (!j2k::DecodeOpenJpeg(data, size, kLimit, p)) return 0;
  if (p.Pixels.size() != uint64_t{p.Width} * p.Height * p.Channels) __builtin_trap();
  return 0;
}
