// The image routines that plug-ins receive, called with whatever a foreign
// caller could pass: null, empty, 1x1 and aliased bitmaps, divisor 0, NaN and
// infinite gains, extreme integers and kernels. None may crash, read out of
// bounds or hit undefined behaviour.
//
// Input: one byte choosing the routine, one byte of flags (null / aliased
// bitmaps), two bitmap sizes (a byte each side), then integers, floats and
// pixels taken from the rest (zeros once it runs out).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_input.h"
#include "img_common.h"
#include "img_conv.h"
#include "img_lut.h"
#include "img_minmax.h"
#include "raster_core.h"

namespace {

// Sizes 0..20 on each side (0 gives an empty bitmap), pixels from the input.
std::unique_ptr<TBitmap32> MakeBitmap(TFuzzInput& In) {
  auto B = std::make_unique<TBitmap32>();
  const int32_t W = In.Byte() % 21, H = In.Byte() % 21;
  B->SetSize(W, H);
  B->SetMasterAlpha(In.Byte());
  B->SetDrawMode(static_cast<TDrawMode>(In.Byte() % 4));
  for (size_t i = 0; i < B->PixelCount(); ++i) B->Bits()[i] = In.Word();
  return B;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TFuzzInput In(Data, Size);
  const uint8_t Op = In.Byte();
  const uint8_t Flags = In.Byte();
  auto OwnA = MakeBitmap(In);
  auto OwnB = MakeBitmap(In);
  TBitmap32* A = (Flags & 1) ? nullptr : OwnA.get();
  TBitmap32* B = (Flags & 2) ? nullptr : ((Flags & 4) ? A : OwnB.get());

  switch (Op % 13) {
    case 0: {
      volatile int32_t V = ClampToByte(In.Int());
      (void)V;
      break;
    }
    case 1: {
      volatile TRect R = BitmapBounds(A);
      (void)R;
      break;
    }
    case 2: CopyBitmapProps(A, B); break;
    case 3: CopyBitmap(A, B, (Flags & 8) != 0); break;
    case 4: StretchToFit(A, B, (Flags & 8) != 0); break;
    case 5: {
      const uint32_t Saved = B != nullptr ? B->MasterAlpha() : 0;
      MergeWithOpacity(A, B, In.Int());
      if (B != nullptr && B->MasterAlpha() != Saved) __builtin_trap();  // must be restored on every path
      break;
    }
    case 6: {
      uint8_t Lut[3][256];
      for (auto& L : Lut)
        for (uint8_t& V : L) V = In.Byte();
      ApplyLut3(A, (Flags & 16) ? nullptr : Lut[0], Lut[1], Lut[2], In.Int());
      break;
    }
    case 7: {
      const int32_t R = In.Int(), G = In.Int(), Bl = In.Int();
      OffsetChannels(A, R, G, Bl, In.Int());
      break;
    }
    case 8: {
      const float R = In.Float(), G = In.Float(), Bl = In.Float();
      ScaleChannels(A, R, G, Bl, In.Int());
      break;
    }
    case 9: {
      const int32_t Br = In.Int(), Co = In.Int();
      BrightnessContrast(A, Br, Co, (Flags & 8) != 0, (Flags & 16) != 0, (Flags & 32) != 0, In.Int());
      break;
    }
    case 10: {
      int32_t Min = -1, Max = -1;
      IntensityMinMax(A, Min, Max);
      if (Min < 0 || Min > 255 || Max < 0 || Max > 255) __builtin_trap();
      break;
    }
    case 11:
    case 12: {
      int32_t K[25];
      for (int32_t& V : K) V = (Flags & 64) ? In.Int() : static_cast<int8_t>(In.Byte());
      const int32_t Divisor = (Flags & 128) ? In.Int() : static_cast<int8_t>(In.Byte());
      const int32_t Bias = In.Int();
      const TColor32 Alpha = (A != nullptr && A->PixelCount() > 0) ? A->Bits()[0] & 0xFF000000u : 0;
      if (Op % 13 == 11)
        Convolve3x3((Flags & 16) ? nullptr : K, Divisor, A, Bias);
      else
        Convolve5x5((Flags & 16) ? nullptr : K, Divisor, A, Bias);
      if (A != nullptr && A->PixelCount() > 0 && (A->Bits()[0] & 0xFF000000u) != Alpha) __builtin_trap();
      break;
    }
  }
  // Whatever happened, the bitmaps stay consistent.
  for (TBitmap32* Bmp : {OwnA.get(), OwnB.get()})
    if (Bmp->PixelCount() > 0 && Bmp->Bits() == nullptr) __builtin_trap();
  return 0;
}
