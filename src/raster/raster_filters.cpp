// Channel filters on whole bitmaps and the bit-mask operation they rest on.
#include "raster_filters.h"

#include <algorithm>

#include "platform_exceptions.h"

namespace {

// One run of pixels combined with the mask, copying or in place. The operator
// is a template argument so that each loop is a plain word loop.
template <TLogicalOperator Op>
inline TColor32 Apply(TColor32 C, TColor32 Mask) {
  if constexpr (Op == loXOR) return C ^ Mask;
  if constexpr (Op == loAND) return C & Mask;
  return C | Mask;
}

template <TLogicalOperator Op>
void CopyRun(const TColor32* Src, TColor32* Dst, size_t Count, TColor32 Mask) {
  for (size_t i = 0; i < Count; ++i) Dst[i] = Apply<Op>(Src[i], Mask);
}

void CopyRunBy(TLogicalOperator Operator, const TColor32* Src, TColor32* Dst, size_t Count, TColor32 Mask) {
  switch (Operator) {
    case loXOR: CopyRun<loXOR>(Src, Dst, Count, Mask); break;
    case loAND: CopyRun<loAND>(Src, Dst, Count, Mask); break;
    default: CopyRun<loOR>(Src, Dst, Count, Mask); break;
  }
}

// Intersection without IntersectRects' reset: the caller tests for inversion.
TRect Clip(const TRect& A, const TRect& B) {
  return TRect{std::max(A.Left, B.Left), std::max(A.Top, B.Top), std::min(A.Right, B.Right),
               std::min(A.Bottom, B.Bottom)};
}

bool Inverted(const TRect& R) { return R.Right < R.Left || R.Bottom < R.Top; }

}  // namespace

void CheckFilterArgs(TBitmap32* Dst, const TBitmap32* Src, bool ResizeDst) {
  if (Src == nullptr) throw Exception("The source is nil");
  if (Dst == nullptr) throw Exception("Destination is nil");
  if (ResizeDst) Dst->SetSize(Src->Width(), Src->Height());
}

void AlphaToGray(TBitmap32* Dst, const TBitmap32* Src) {
  CheckFilterArgs(Dst, Src, true);
  const TColor32* S = Src->Bits();
  TColor32* D = Dst->Bits();
  if (S != nullptr && D != nullptr) {
    const size_t N = Src->PixelCount();
    for (size_t i = 0; i < N; ++i) D[i] = GrayArgb(AlphaOf(S[i]), 255);
  }
  Dst->Changed();
}

void IntensityToAlpha(TBitmap32* Dst, const TBitmap32* Src) {
  CheckFilterArgs(Dst, Src, true);
  const TColor32* S = Src->Bits();
  TColor32* D = Dst->Bits();
  if (S != nullptr && D != nullptr) {
    const size_t N = Src->PixelCount();
    for (size_t i = 0; i < N; ++i) D[i] = SetAlphaOf(D[i], IntensityOf(S[i]));
  }
  Dst->Changed();
}

void InvertChannels(TBitmap32* Dst, TBitmap32* Src, TColor32Channels Channels) {
  const TColor32 Mask = ChannelMask(Channels);
  if (Mask == 0) return;
  if (Dst != Src) {
    CheckFilterArgs(Dst, Src, true);
    ApplyLogicalMask(Dst, 0, 0, Src, Src->BoundsRect(), Mask, loXOR);
  } else {
    CheckFilterArgs(Dst, Src, false);
    ApplyLogicalMask(Src, Src->BoundsRect(), Mask, loXOR);
  }
}

void InvertRGB(TBitmap32* Dst, TBitmap32* Src) { InvertChannels(Dst, Src, ccRGB); }

void ApplyLogicalMask(TBitmap32* Dst, int32_t DstX, int32_t DstY, const TBitmap32* Src, const TRect& SrcRect,
                      TColor32 Mask, TLogicalOperator Operator) {
  CheckFilterArgs(Dst, Src, false);
  const TRect S = Clip(SrcRect, Src->BoundsRect());
  if (Inverted(S)) return;
  DstX = std::clamp(DstX, 0, Dst->Width());
  DstY = std::clamp(DstY, 0, Dst->Height());
  // Both extents are within int32 once clipped; the sums are formed wide.
  const int64_t Right = std::min<int64_t>(int64_t{DstX} + (S.Right - S.Left), Dst->Width());
  const int64_t Bottom = std::min<int64_t>(int64_t{DstY} + (S.Bottom - S.Top), Dst->Height());
  const TRect D = Clip(TRect{DstX, DstY, static_cast<int32_t>(Right), static_cast<int32_t>(Bottom)}, Dst->ClipRect());
  if (Inverted(D)) return;
  if (!Dst->MeasuringMode()) {
    TUpdateGuard Update(*Dst);
    const int32_t W = D.Right - D.Left, H = D.Bottom - D.Top;
    if (W > 0 && H > 0) {
      for (int32_t Row = 0; Row < H; ++Row)
        CopyRunBy(Operator, Src->PixelAddress(S.Left, S.Top + Row), Dst->PixelAddress(D.Left, D.Top + Row),
                  static_cast<size_t>(W), Mask);
    }
  }
  Dst->Changed(D, AREAINFO_RECT);
}

void ApplyLogicalMask(TBitmap32* Dst, const TRect& DstRect, TColor32 Mask, TLogicalOperator Operator) {
  if (Dst == nullptr) throw Exception("The bitmap is nil");
  const TRect D = Clip(Clip(DstRect, Dst->BoundsRect()), Dst->ClipRect());
  if (Inverted(D)) return;
  if (!Dst->MeasuringMode()) {
    TUpdateGuard Update(*Dst);
    const int32_t W = D.Right - D.Left, H = D.Bottom - D.Top;
    if (W > 0 && H > 0) {
      if (W == Dst->Width()) {
        // Full-width rows are one contiguous run.
        TColor32* P = Dst->PixelAddress(0, D.Top);
        CopyRunBy(Operator, P, P, static_cast<size_t>(W) * static_cast<size_t>(H), Mask);
      } else {
        for (int32_t Row = D.Top; Row < D.Bottom; ++Row) {
          TColor32* P = Dst->PixelAddress(D.Left, Row);
          CopyRunBy(Operator, P, P, static_cast<size_t>(W), Mask);
        }
      }
    }
  }
  Dst->Changed(D, AREAINFO_RECT);
}
