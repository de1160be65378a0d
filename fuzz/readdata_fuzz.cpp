// The bitmap's "Data" record from untrusted bytes (undo checkpoints, streamed
// bitmaps): ReadData must answer any input with EReadError or a bitmap, never
// a crash or a huge allocation; what it reads must write back identically.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform_stream.h"
#include "raster_core.h"
#include "test_startup.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  VemraTestStartup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TReadOnlyMemoryStream in(data, size);
  TBitmap32 b;
  try {
    b.ReadData(in);
  } catch (const EReadError&) {
    return 0;
  }
  // A record that was accepted round-trips byte for byte (sizes as read,
  // negative ones as the empty size they became).
  TMemoryStream out;
  b.WriteData(out);
  const size_t used = static_cast<size_t>(in.Position());
  if (out.Size() != static_cast<int64_t>(8 + b.PixelCount() * 4)) std::abort();
  if (!b.Empty() && std::memcmp(out.Memory() + 8, data + 8, used - 8) != 0) std::abort();
  return 0;
}
