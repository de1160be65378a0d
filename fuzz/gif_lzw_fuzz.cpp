// Fuzzes the GIF image-data decoder alone: frame size and interlacing from
// the first bytes, the rest is the code stream. The decoder's two paths
// (rows in memory order, rows walked one by one) must agree, and whatever it
// decodes must survive both encoders and decode again to the same indices.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "gif_codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  const int32_t w = 1 + in.Byte() % 160;
  const int32_t h = 1 + in.Byte() % 160;
  const bool interlaced = in.Byte() & 1;
  const std::string rest = in.Rest();
  std::vector<uint8_t> px(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
  TReadOnlyMemoryStream s(rest.data(), rest.size());
  const TGIFWarning ignore = [](const void*, int32_t, const std::string&) {};
  try {
    DecodeGIFImageData(s, px.data(), w, h, interlaced, 0, ignore);
  } catch (const GIFException&) {
    return 0;
  }
  if (s.Position() > static_cast<int64_t>(rest.size())) __builtin_trap();
  if (!interlaced) {
    // The row walk (one row of W x H pixels) must agree with the linear path.
    std::vector<uint8_t> rows(px.size(), 0x11);
    TReadOnlyMemoryStream again(rest.data(), rest.size());
    DecodeGIFImageData(again, rows.data(), w * h, 1, true, 0, ignore);
    if (rows != px || again.Position() != s.Position()) __builtin_trap();
  }
  for (int compression = 0; compression < 2; ++compression) {
    TMemoryStream m;
    if (compression == 0) {
      TLZWEncoder e;
      e.Compress(m, 8, 256, px.data(), interlaced, h, w);
    } else {
      TRLEEncoder e;
      e.Compress(m, 8, 256, px.data(), interlaced, h, w);
    }
    m.SetPosition(0);
    std::vector<uint8_t> back(px.size(), 0xAA);
    bool warned = false;
    DecodeGIFImageData(m, back.data(), w, h, interlaced, 0xAA, [&](const void*, int32_t, const std::string&) { warned = true; });
    if (warned || back != px || m.Position() != m.Size()) __builtin_trap();
  }
  return 0;
}
