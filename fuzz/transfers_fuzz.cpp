// Block and stretch transfers with sizes, rectangles, modes and resamplers
// taken from the input, the ends of the 32-bit range included. Besides the
// sanitizers' checks, every transfer must leave the pixels outside the clip
// rectangle alone, and a rejected source rectangle must raise its own error.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "raster_filterindex.h"
#include "raster_resamplers.h"
#include "test_startup.h"

namespace {

// Mostly small values near the bitmaps, now and then any 32-bit value.
int32_t Coordinate(TFuzzInput& In) {
  const uint8_t Kind = In.Byte();
  if (Kind < 224) return static_cast<int32_t>(Kind % 96) - 24;
  return In.Int();
}

TRect Rect(TFuzzInput& In) {
  TRect R;
  R.Left = Coordinate(In);
  R.Top = Coordinate(In);
  R.Right = Coordinate(In);
  R.Bottom = Coordinate(In);
  return R;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  VemraTestStartup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput In(data, size);
  TBitmap32 Src, Dst;
  Src.SetSize(In.Byte() % 48, In.Byte() % 48);
  Dst.SetSize(In.Byte() % 64, In.Byte() % 64);
  for (size_t i = 0; i < Src.PixelCount(); ++i) Src.Bits()[i] = 0x9E3779B9u * static_cast<uint32_t>(i + 1);
  while (In.Left() > 0) {
    const uint8_t Op = In.Byte();
    const TDrawMode Mode = static_cast<TDrawMode>(In.Byte() % 4);
    Src.SetMasterAlpha(In.Byte());
    Src.SetCombineMode(static_cast<TCombineMode>(In.Byte() % 2));
    const TRect DstRect = Rect(In), Clip = Rect(In), SrcRect = Rect(In);
    const uint8_t Index = In.Byte();
    if (!Dst.Empty()) Dst.Clear(0x5A5A5A5A);
    const std::vector<TColor32> Before(Dst.Bits(), Dst.Bits() + Dst.PixelCount());
    TRect Allowed = Clip;
    try {
      if (Op % 2 == 0) {
        DrawRectAt(&Dst, DstRect.Left, DstRect.Top, Clip, &Src, SrcRect, Mode);
      } else {
        // Outside the destination rectangle nothing may change either.
        Allowed = TRect{std::max(Clip.Left, DstRect.Left), std::max(Clip.Top, DstRect.Top),
                        std::min(Clip.Right, DstRect.Right), std::min(Clip.Bottom, DstRect.Bottom)};
        StretchTransferByIndex(&Dst, DstRect, Clip, &Src, SrcRect, Index, Mode);
      }
    } catch (const ESrcInvalidException&) {
      // A source rectangle outside the source: refused before any drawing.
      if (std::memcmp(Before.data(), Dst.Bits(), Before.size() * sizeof(TColor32)) != 0) std::abort();
      continue;
    }
    for (int32_t y = 0; y < Dst.Height(); ++y)
      for (int32_t x = 0; x < Dst.Width(); ++x)
        if (!PointInRect(Allowed, x, y) && Dst.GetPixel(x, y) != Before[static_cast<size_t>(y) * Dst.Width() + x])
          std::abort();
  }
  return 0;
}
