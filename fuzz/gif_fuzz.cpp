// Fuzzes the GIF reader: any input must end in a picture or in one of the
// picture's exceptions, never in a crash, leak or hang. A picture that reads
// is rendered, written again with both encoders and must read back with the
// same frames and pixels.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gif_image.h"

namespace {

std::vector<const TGIFSubImage*> Frames(const TGIFImage& G) {
  std::vector<const TGIFSubImage*> v;
  for (int32_t i = 0; i < G.Images().Count(); ++i)
    if (!G.Images().Item(i)->Empty()) v.push_back(G.Images().Item(i));
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The logical screen and every frame may ask for 65535 x 65535 pixels; keep
  // single inputs small so the run explores the format rather than the
  // allocator. Any 0x2C byte may start a descriptor, so all are checked.
  constexpr uint64_t kCap = uint64_t{1} << 20;
  const auto area = [&](size_t at) {
    return static_cast<uint64_t>(data[at] | data[at + 1] << 8) * static_cast<uint64_t>(data[at + 2] | data[at + 3] << 8);
  };
  if (size >= 10 && area(6) > kCap) return 0;
  for (size_t i = 0; i + 9 <= size; ++i)
    if (data[i] == 0x2C && area(i + 5) > kCap) return 0;
  TReadOnlyMemoryStream in(data, size);
  TGIFImage gif;
  int warnings = 0;
  gif.OnWarning = [&](const void*, int32_t, const std::string&) { ++warnings; };
  try {
    gif.LoadFromStream(in);
  } catch (const Exception&) {
    return 0;
  }
  try {
    std::vector<uint32_t> canvas(16 * 16, 0xFF808080u);
    TPixelSurface s{canvas.data(), 16, 16};
    gif.Draw(s, {-3, 2, 14, 19});
    gif.Palette();
  } catch (const GIFException&) {
    // "No global or local color table defined" for a picture without any.
  }
  try {
    // Frames drawn with their masks, tiled, then dithered for display; the
    // composite goes back through the colour reduction into a new picture.
    std::vector<uint32_t> canvas(16 * 16, 0xFF808080u);
    TPixelSurface s{canvas.data(), 16, 16};
    for (int32_t i = 0; i < gif.Images().Count() && i < 4; ++i) gif.Images().Item(i)->Draw(s, {-2, -1, 15, 13}, true, true);
    gif.DrawOptions = static_cast<uint16_t>(gif.DrawOptions & ~goAutoDither);
    for (int32_t i = 0; i < gif.Images().Count() && i < 4; ++i) {
      gif.Images().Item(i)->FreeBitmap();
      gif.Images().Item(i)->Draw(s, {0, 0, 16, 16}, true, false);
    }
    gif.DrawOptions = static_cast<uint16_t>(gif.DrawOptions | goAutoDither);
    if (const TPlatformBitmap* b = gif.Bitmap()) {
      TPlatformBitmap full = *b;
      full.SetPixelFormat(TPixelFormat::pf32bit);
      TGIFImage again;
      again.ColorReduction = size % 2 ? 7 : 6;
      again.DitherMode = static_cast<int32_t>(size % 7);
      again.Assign(static_cast<const TGraphic&>(full));
    }
  } catch (const GIFException&) {
  }
  for (uint8_t compression : {0, 1}) {
    gif.Compression = compression;
    TMemoryStream out;
    try {
      gif.SaveToStream(out);
    } catch (const GIFException&) {
      // No frames, or a pixel naming a colour the table does not have.
      return 0;
    }
    out.SetPosition(0);
    TGIFImage back;
    back.LoadFromStream(out);
    const auto a = Frames(gif), b = Frames(back);
    if (a.size() != b.size()) __builtin_trap();
    for (size_t i = 0; i < a.size(); ++i) {
      if (a[i]->Width() != b[i]->Width() || a[i]->Height() != b[i]->Height()) __builtin_trap();
      for (size_t k = 0; k < a[i]->DataSize(); ++k)
        if (a[i]->Data()[k] != b[i]->Data()[k]) __builtin_trap();
    }
  }
  return 0;
}
