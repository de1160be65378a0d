// Chromatic aberration correction and channel shifts.
#include "img_cac.h"

#include <algorithm>
#include <memory>

#include "img_common.h"
#include "raster_filterindex.h"
#include "raster_resamplers.h"

namespace {

// The Q' area of T stretched onto the Q area of U with the linear filter, then
// the channel at Shift copied from U into T over the whole canvas. U's pixels
// outside Q keep what they held, so the outermost rows and columns take that.
void ScalePlane(TBitmap32* T, TBitmap32* U, int32_t Amount, int32_t Shift) {
  const int32_t S = T->Width();
  const TRect Q{1, 1, S - 1, S - 1};
  const TRect Q2{1 + Amount, 1 + Amount, S - 1 - Amount, S - 1 - Amount};
  // On canvases of four pixels or less one of the two areas is empty.
  if (Q.Right > Q.Left && Q2.Right > Q2.Left)
    StretchTransferByIndex(U, Q, U->BoundsRect(), T, Q2, 2, dmOpaque);
  const TColor32 Mask = 0xFFu << Shift;
  TColor32* Tp = T->Bits();
  const TColor32* Up = U->Bits();
  const size_t N = T->PixelCount();
  for (size_t i = 0; i < N; ++i) Tp[i] = (Tp[i] & ~Mask) | (Up[i] & Mask);
}

}  // namespace

void CorrectChromaticAberration(TBitmap32* Bmp, int32_t Red, int32_t Blue) {
  if (!HasPixels(Bmp)) return;
  Red = std::clamp(Red, -1, 1);
  Blue = std::clamp(Blue, -1, 1);
  const int32_t W = Bmp->Width(), H = Bmp->Height();
  const int32_t S = std::max(W, H);
  auto T = std::make_unique<TBitmap32>();
  T->SetSize(S, S);
  const int32_t Ox = (S - W) >> 1, Oy = (S - H) >> 1;
  const TRect C{Ox, Oy, Ox + W, Oy + H};
  T->DrawScaledFrom(C, Bmp->BoundsRect(), Bmp);

  auto U = std::make_unique<TBitmap32>();
  U->SetSize(S, S);
  if (Red != 0) ScalePlane(T.get(), U.get(), Red, 16);
  if (Blue != 0) ScalePlane(T.get(), U.get(), Blue, 0);

  U->SetSize(W, H);
  T->DrawScaledTo(U.get(), U->BoundsRect(), C);
  TColor32 Mask = 0;
  if (Red != 0) Mask |= 0x00FF0000u;
  if (Blue != 0) Mask |= 0x000000FFu;
  TColor32* Bp = Bmp->Bits();
  const TColor32* Up = U->Bits();
  const size_t N = Bmp->PixelCount();
  for (size_t i = 0; i < N; ++i) Bp[i] = (Bp[i] & ~Mask) | (Up[i] & Mask);
  Bmp->SetAllAlpha(255);
  Bmp->Changed();
}

void ShiftChannels(TBitmap32* Bmp, int32_t RedDx, int32_t RedDy, int32_t BlueDx, int32_t BlueDy) {
  if (!HasPixels(Bmp)) return;
  auto C = std::make_unique<TBitmap32>();
  C->Assign(Bmp);
  // Offsets come from the caller: positions are formed in 64 bits, and one
  // beyond the int32 range lies outside the image like any other.
  const auto Read = [&C](int32_t X, int32_t Dx, int32_t Y, int32_t Dy) {
    const int64_t Px = int64_t{X} + Dx, Py = int64_t{Y} + Dy;
    if (Px < INT32_MIN || Px > INT32_MAX || Py < INT32_MIN || Py > INT32_MAX) return C->OuterColor();
    return C->GetPixelClipped(static_cast<int32_t>(Px), static_cast<int32_t>(Py));
  };
  const int32_t W = Bmp->Width(), H = Bmp->Height();
  for (int32_t y = 0; y < H; ++y) {
    TColor32* Row = Bmp->RowPtr(y);
    for (int32_t x = 0; x < W; ++x) {
      TColor32 P = C->GetPixel(x, y);
      P = (P & 0xFF00FF00u) | (Read(x, RedDx, y, RedDy) & 0x00FF0000u) | (Read(x, BlueDx, y, BlueDy) & 0xFFu);
      Row[x] = P;
    }
  }
  Bmp->SetAllAlpha(255);
  Bmp->Changed();
}
