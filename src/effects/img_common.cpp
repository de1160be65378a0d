// Common effect helpers and the combinations of the image with a second one.
#include "img_common.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "raster_blend.h"
#include "raster_filterindex.h"
#include "raster_resamplers.h"

void CopyDrawingProps(TBitmap32* Dst, TBitmap32* Src) {
  Dst->SetDrawMode(Src->DrawMode());
  Dst->SetMasterAlpha(Src->MasterAlpha());
  Dst->SetOuterColor(Src->OuterColor());
  CopyStretchFilter(Dst, Src);
}

namespace {

// The whole of Src stretched over the whole of Dst with the linear filter.
void StretchWhole(TBitmap32* Dst, TBitmap32* Src, TDrawMode Mode) {
  const TRect DstR = Dst->BoundsRect();
  StretchTransferByIndex(Dst, DstR, DstR, Src, Src->BoundsRect(), 2, Mode, TPixelCombineEvent());
}

// A float side rounded to an integer, ties to even; out-of-range values are limited.
int32_t RoundSide(float V) {
  if (std::isnan(V)) return 0;
  const double R = std::nearbyint(static_cast<double>(V));
  if (R <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (R >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(R);
}

// Restores a bitmap's master alpha on every way out of MergeWithOpacity.
class MasterAlphaGuard {
 public:
  explicit MasterAlphaGuard(TBitmap32* Bmp) : bmp_(Bmp), saved_(Bmp->MasterAlpha()) {}
  ~MasterAlphaGuard() { bmp_->SetMasterAlpha(saved_); }
  MasterAlphaGuard(const MasterAlphaGuard&) = delete;
  MasterAlphaGuard& operator=(const MasterAlphaGuard&) = delete;

 private:
  TBitmap32* bmp_;
  uint32_t saved_;
};

// The shared body of DifferenceWith, AddWith and ModulateWith: Op builds the
// colour bytes from the two pixels, the level goes into the alpha byte.
template <typename Op>
void CombineWithBuffer(TBitmap32* Bmp, TBitmap32* Other, int32_t Level, Op Operation) {
  if (!HasPixels(Bmp) || !HasPixels(Other)) return;
  Level = ClampLevel(Level);
  std::unique_ptr<TBitmap32> Stretched;
  TBitmap32* Src = Other;
  if (Other->Width() != Bmp->Width() || Other->Height() != Bmp->Height()) {
    Stretched = std::make_unique<TBitmap32>();
    CopyBitmapProps(Stretched.get(), Bmp);
    StretchWhole(Stretched.get(), Other, dmOpaque);
    Src = Stretched.get();
  }
  const TColor32 LevelBits = static_cast<TColor32>(Level) << 24;
  TColor32* D = Bmp->Bits();
  const TColor32* S = Src->Bits();
  const size_t N = Bmp->PixelCount();
  for (size_t i = 0; i < N; ++i) {
    const TColor32 Result = (Operation(D[i], S[i]) & 0x00FFFFFFu) | LevelBits;
    BlendPixelInto(Result, D[i]);
  }
  EndMmx();
  Bmp->Changed();
}

inline TColor32 PerChannel(TColor32 A, TColor32 B, int32_t (*F)(int32_t, int32_t)) {
  TColor32 R = 0;
  for (int Shift = 0; Shift <= 16; Shift += 8) {
    const int32_t V = F(static_cast<int32_t>((A >> Shift) & 0xFF), static_cast<int32_t>((B >> Shift) & 0xFF));
    R |= static_cast<TColor32>(V) << Shift;
  }
  return R;
}

}  // namespace

TFloatPoint PixelToUnit(TFloatPoint P, int32_t W, int32_t H) {
  const long double Lw = W, Lh = H;
  return TFloatPoint{static_cast<float>((2 * static_cast<long double>(P.X) - Lw) / Lw),
                     static_cast<float>((2 * static_cast<long double>(P.Y) - Lh) / Lh)};
}

TFloatPoint UnitToPixel(TFloatPoint P, int32_t W, int32_t H) {
  return TFloatPoint{static_cast<float>((static_cast<long double>(P.X) + 1) * W / 2),
                     static_cast<float>((static_cast<long double>(P.Y) + 1) * H / 2)};
}

TPolarPoint CartesianToPolar(TFloatPoint P) {
  TPolarPoint R;
  const long double X = P.X, Y = P.Y;
  R.Radius = std::hypot(X, Y);
  // A point on the vertical axis (the origin included) points straight up or down,
  // never left: the distortions rely on the origin giving +pi/2.
  if (X == 0)
    R.Angle = Y >= 0 ? std::acos(0.0L) : -std::acos(0.0L);
  else
    R.Angle = std::atan2(Y, X);
  return R;
}

TFloatPoint PolarToCartesian(const TPolarPoint& P) {
  return TFloatPoint{static_cast<float>(P.Radius * std::cos(P.Angle)),
                     static_cast<float>(P.Radius * std::sin(P.Angle))};
}

int32_t ClampToByte(int32_t Value) { return Value < 0 ? 0 : (Value > 255 ? 255 : Value); }

void CopyBitmapProps(TBitmap32* Dst, TBitmap32* Src) {
  if (Dst == nullptr || Src == nullptr || Dst == Src) return;
  Dst->SetSize(Src->Width(), Src->Height());
  CopyDrawingProps(Dst, Src);
}

void CopyBitmap(TBitmap32* Dst, TBitmap32* Src, bool WithProps) {
  if (Dst == nullptr || Src == nullptr || Dst == Src) return;
  // Every pixel is written: a new block needs no clearing, and the copy (on
  // every core) pages it in. The command engine copies the whole document twice.
  if (Dst->Width() != Src->Width() || Dst->Height() != Src->Height())
    Dst->SetSizeForOverwrite(Src->Width(), Src->Height());
  if (WithProps) CopyDrawingProps(Dst, Src);
  if (!HasPixels(Src) || !HasPixels(Dst)) return;
  Src->CopyMapTo(Dst);
}

void CopyBitmapAt(TBitmap32* Dst, TBitmap32* Src, int32_t X, int32_t Y, bool WithProps) {
  if (Dst == nullptr || Src == nullptr || Dst == Src) return;
  if (WithProps) CopyDrawingProps(Dst, Src);
  if (!HasPixels(Src) || !HasPixels(Dst)) return;
  // The visible part of Src in Dst's coordinates, computed wide so that far-off
  // positions cannot overflow.
  const int64_t L = std::max<int64_t>(X, 0), T = std::max<int64_t>(Y, 0);
  const int64_t R = std::min<int64_t>(int64_t{X} + Src->Width(), Dst->Width());
  const int64_t B = std::min<int64_t>(int64_t{Y} + Src->Height(), Dst->Height());
  if (R <= L || B <= T) return;
  for (int64_t Row = T; Row < B; ++Row) {
    const TColor32* S = Src->PixelAddress(static_cast<int32_t>(L - X), static_cast<int32_t>(Row - Y));
    std::memcpy(Dst->PixelAddress(static_cast<int32_t>(L), static_cast<int32_t>(Row)), S,
                static_cast<size_t>(R - L) * sizeof(TColor32));
  }
}

void StretchToFit(TBitmap32* Dst, TBitmap32* Src, bool WithProps) {
  if (Dst == nullptr || Src == nullptr || Dst == Src) return;
  if (WithProps) CopyDrawingProps(Dst, Src);
  if (!HasPixels(Src) || !HasPixels(Dst)) return;
  StretchWhole(Dst, Src, dmOpaque);
}

void SwapBitmaps(TBitmap32* A, TBitmap32* B) {
  if (!HasPixels(A) || !HasPixels(B) || A == B) return;
  auto T = std::make_unique<TBitmap32>();
  if (A->Width() == B->Width() && A->Height() == B->Height()) {
    T->Assign(B);
    B->Assign(A);
    A->Assign(T.get());
    return;
  }
  T->SetSize(A->Width(), A->Height());
  StretchWhole(T.get(), B, dmOpaque);
  StretchWhole(B, A, dmOpaque);
  A->Assign(T.get());
}

void MergeWithOpacity(TBitmap32* Bmp, TBitmap32* Other, int32_t Opacity) {
  if (!HasPixels(Bmp) || !HasPixels(Other)) return;
  MasterAlphaGuard Guard(Other);
  Other->SetMasterAlpha(static_cast<uint32_t>(ClampLevel(Opacity)));
  if (Other->Width() == Bmp->Width() && Other->Height() == Bmp->Height())
    DrawRectAt(Bmp, 0, 0, Bmp->BoundsRect(), Other, Other->BoundsRect(), dmBlend, TPixelCombineEvent());
  else
    StretchWhole(Bmp, Other, dmBlend);
}

void DifferenceWith(TBitmap32* Bmp, TBitmap32* Other, int32_t Level) {
  CombineWithBuffer(Bmp, Other, Level, [](TColor32 A, TColor32 B) {
    return PerChannel(A, B, [](int32_t X, int32_t Y) { return X > Y ? X - Y : Y - X; });
  });
}

void AddWith(TBitmap32* Bmp, TBitmap32* Other, int32_t Level) {
  CombineWithBuffer(Bmp, Other, Level, [](TColor32 A, TColor32 B) {
    return PerChannel(A, B, [](int32_t X, int32_t Y) { return ClampToByte(X + Y); });
  });
}

void ModulateWith(TBitmap32* Bmp, TBitmap32* Other, int32_t Level) {
  CombineWithBuffer(Bmp, Other, Level, [](TColor32 A, TColor32 B) { return ColorModulate(A, B); });
}

TRect BitmapBounds(const TBitmap32* Bmp) {
  if (Bmp == nullptr) return TRect{};
  return TRect{0, 0, Bmp->Width(), Bmp->Height()};
}

TFloatRect BitmapFloatBounds(const TBitmap32* Bmp) {
  if (Bmp == nullptr) return TFloatRect{};
  return TFloatRect{0, 0, static_cast<float>(Bmp->Width()), static_cast<float>(Bmp->Height())};
}

TRect RoundRectF(const TFloatRect& R) {
  return TRect{RoundSide(R.Left), RoundSide(R.Top), RoundSide(R.Right), RoundSide(R.Bottom)};
}

TFloatRect ClipFloatRect(const TFloatRect& R, const TFloatRect& Bounds) {
  TFloatRect C;
  C.Left = std::min(std::max(Bounds.Left, R.Left), Bounds.Right - 1);
  C.Top = std::min(std::max(Bounds.Top, R.Top), Bounds.Bottom - 1);
  C.Right = std::max(std::min(Bounds.Right, R.Right), Bounds.Left + 1);
  C.Bottom = std::max(std::min(Bounds.Bottom, R.Bottom), Bounds.Top + 1);
  return C;
}

TRect AlphaBounds(const TBitmap32* Bmp, int32_t Dx, int32_t Dy) {
  const int32_t W = Bmp != nullptr ? Bmp->Width() : 0;
  const int32_t H = Bmp != nullptr ? Bmp->Height() : 0;
  int64_t L = int64_t{W} - 1, T = int64_t{H} - 1, R = 0, B = 0;
  if (HasPixels(Bmp)) {
    for (int32_t Y = 0; Y < H; ++Y) {
      const TColor32* Row = Bmp->RowPtr(Y);
      for (int32_t X = 0; X < W; ++X) {
        if ((Row[X] >> 24) == 0) continue;
        L = std::min<int64_t>(L, X);
        T = std::min<int64_t>(T, Y);
        R = std::max<int64_t>(R, X);
        B = std::max<int64_t>(B, Y);
      }
    }
  }
  // Grown in 64 bits so that any Dx, Dy stays defined; the clamps bring every
  // side back into the bitmap.
  L = std::max<int64_t>(0, L - Dx);
  T = std::max<int64_t>(0, T - Dy);
  R = std::min<int64_t>(R + Dx, int64_t{W} - 1);
  B = std::min<int64_t>(B + Dy, int64_t{H} - 1);
  auto Narrow = [](int64_t V) {
    return static_cast<int32_t>(std::clamp<int64_t>(V, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
  };
  return TRect{Narrow(L), Narrow(T), Narrow(R), Narrow(B)};
}

void PrepareCopy(TBitmap32* Dst, TBitmap32* Src) {
  if (Dst != nullptr && Src != nullptr && Dst != Src) CopyBitmap(Dst, Src, true);
}

void ResizeLike(TBitmap32* Dst, TBitmap32* Src) {
  if (Dst != nullptr && Src != nullptr && Dst != Src) Dst->SetSize(Src->Width(), Src->Height());
}
