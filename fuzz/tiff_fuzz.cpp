// Fuzzes the TIFF glue through the in-memory client: any input must end in a
// picture or a reported failure, never in a crash or an out-of-bounds access.
// libtiff's raster reader is the one that decodes; what is fuzzed here is
// our client procedures, the size checks and the raster hand-over.
#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform_messagebox.h"
#include "test_startup.h"
#include "tif_image.h"

namespace {

struct TSpan {
  const uint8_t* Data;
  size_t Size;
  size_t Pos;
};

tmsize_t SpanRead(thandle_t h, void* buf, tmsize_t n) {
  auto* s = static_cast<TSpan*>(h);
  const size_t k = std::min(static_cast<size_t>(n), s->Size - std::min(s->Pos, s->Size));
  if (k) std::memcpy(buf, s->Data + s->Pos, k);
  s->Pos += k;
  return static_cast<tmsize_t>(k);
}
tmsize_t SpanWrite(thandle_t, void*, tmsize_t) { return -1; }
toff_t SpanSeek(thandle_t h, toff_t off, int whence) {
  auto* s = static_cast<TSpan*>(h);
  s->Pos = static_cast<size_t>(whence == SEEK_SET ? off : whence == SEEK_CUR ? s->Pos + off : s->Size + off);
  return s->Pos;
}
int SpanClose(thandle_t) { return 0; }
toff_t SpanSize(thandle_t h) { return static_cast<TSpan*>(h)->Size; }

// A short file may claim any size; single inputs stay below 4 M pixels so
// the run measures the glue, not the machine's memory.
bool ClaimsHugePicture(const uint8_t* data, size_t size) {
  TSpan s{data, size, 0};
  TIFF* t = TIFFClientOpen("peek", "rm", &s, SpanRead, SpanWrite, SpanSeek, SpanClose, SpanSize, nullptr, nullptr);
  if (!t) return false;
  uint32_t w = 0, h = 0;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
  TIFFClose(t);
  return uint64_t{w} * h > (uint64_t{1} << 22);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  VemraTestStartup();
  SetMessageBoxHandler([](const TMessageBoxRequest&) { return IDOK; });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (ClaimsHugePicture(data, size)) return 0;
  try {
    ReadTiffBitmapFromMemory(data, size, "fuzz.tif");
  } catch (const Exception&) {
  }
  return 0;
}
