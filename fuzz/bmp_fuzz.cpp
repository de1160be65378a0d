// Feeds arbitrary bytes to the BMP reader. Whatever loads is written back in
// its own pixel format and read again: for the direct-colour formats that
// round trip must give the same pixels.
#include <cstdint>
#include <cstdlib>

#include "platform_graphics.h"
#include "platform_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TReadOnlyMemoryStream in(data, size);
  TPlatformBitmap b;
  try {
    b.LoadFromStream(in);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  if (static_cast<int64_t>(b.Width()) * b.Height() > (1 << 20)) return 0;
  TMemoryStream out;
  b.SaveToStream(out);
  out.SetPosition(0);
  TPlatformBitmap c;
  c.LoadFromStream(out);  // our own output must always load
  if (c.Width() != b.Width() || c.Height() != b.Height()) std::abort();
  TPixelFormat f = b.PixelFormat();
  bool direct = f != TPixelFormat::pf1bit && f != TPixelFormat::pf4bit && f != TPixelFormat::pf8bit;
  if (direct) {
    for (int64_t i = 0; i < static_cast<int64_t>(b.Width()) * b.Height(); ++i)
      if (b.Bits()[i] != c.Bits()[i]) std::abort();
  }
  return 0;
}
