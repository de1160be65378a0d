// Mapping the stretch-filter index onto resampler objects and back.
#include "raster_filterindex.h"

#include <string>

namespace {

constexpr const char* KernelNames[] = {"TCosineKernel", "TSplineKernel", "TLanczosKernel",
                                       "TMitchellKernel", "TCubicKernel"};

std::unique_ptr<TBitmap32Resampler> Construct(uint8_t Index) {
  switch (Index) {
    case 0: return std::make_unique<TNearestResampler>();
    case 1: return std::make_unique<TDraftResampler>();
    case 2: return std::make_unique<TLinearResampler>();
    default: break;
  }
  auto R = std::make_unique<TKernelResampler>();
  switch (Index) {
    case 3: R->SetKernel(std::make_unique<TCosineKernel>()); break;
    case 4: R->SetKernel(std::make_unique<TSplineKernel>()); break;
    case 5: R->SetKernel(std::make_unique<TLanczosKernel>()); break;
    case 6: R->SetKernel(std::make_unique<TMitchellKernel>()); break;
    case 7: R->SetKernel(std::make_unique<TCubicKernel>()); break;
    default: break;  // the default box kernel
  }
  R->SetKernelMode(kmTableLinear);
  return R;
}

}  // namespace

std::unique_ptr<TBitmap32Resampler> MakeUnboundResampler(uint8_t Index) {
  try {
    return Construct(Index);
  } catch (...) {
    // A half-built resampler is of no use to anyone: report none.
    return nullptr;
  }
}

TBitmap32Resampler* MakeResampler(uint8_t Index, TBitmap32* Bitmap) {
  if (!Bitmap) return nullptr;
  std::unique_ptr<TBitmap32Resampler> R = MakeUnboundResampler(Index);
  if (!R) return nullptr;
  return BindResampler(std::move(R), Bitmap);
}

uint8_t StretchFilterIndex(const TCustomResampler* Resampler) {
  if (!Resampler) return 0;
  const std::string Name = Resampler->ClassName();
  if (Name == "TNearestResampler") return 0;
  if (Name == "TDraftResampler") return 1;
  if (Name == "TLinearResampler") return 2;
  if (Name == "TKernelResampler") {
    const auto* K = dynamic_cast<const TKernelResampler*>(Resampler);
    if (!K) return 0;
    const std::string Kernel = K->KernelClassName();
    for (uint8_t i = 0; i < 5; ++i)
      if (Kernel == KernelNames[i]) return static_cast<uint8_t>(3 + i);
  }
  return 0;
}

void SetStretchFilter(TBitmap32* Bitmap, uint8_t Index) {
  if (Bitmap) MakeResampler(Index, Bitmap);
}

void CopyStretchFilter(TBitmap32* Dst, const TBitmap32* Src) {
  if (Dst && Src) SetStretchFilter(Dst, StretchFilterIndex(Src->Resampler()));
}

void StretchTransferByIndex(TBitmap32* Dst, const TRect& DstRect, const TRect& DstClip,
                            TBitmap32* Src, const TRect& SrcRect, uint8_t Index,
                            TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) {
  std::unique_ptr<TBitmap32Resampler> R = MakeUnboundResampler(Index);
  if (R) DrawRectScaled(Dst, DstRect, DstClip, Src, SrcRect, R.get(), CombineOp, CombineCallBack);
}
