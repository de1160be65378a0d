// Distortion and cell effects.
#include "img_effects.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

#include "img_common.h"
#include "raster_blend.h"
#include "raster_parallel.h"

namespace {

constexpr long double Pi = std::numbers::pi_v<long double>;

std::mt19937& EffectRandom() {
  static std::mt19937 Generator(std::random_device{}());
  return Generator;
}

// 0 .. N - 1, uniformly.
int64_t RandomBelow(int64_t N) { return std::uniform_int_distribution<int64_t>(0, N - 1)(EffectRandom()); }

// round(V) limited to a byte; a value that is not a number gives 0, which
// as an alpha leaves the pixel below as it was.
int32_t RoundToByte(long double V) {
  if (!(V > 0)) return 0;
  if (V >= 255) return 255;
  return static_cast<int32_t>(RoundHalfEven(V));
}

// 255 - rho^Power * 255: opaque at the centre, fading outward.
int32_t FadeAlpha(long double Rho, float Power) { return RoundToByte(255 - std::pow(Rho, Power) * 255); }

// The polar radius of the cell pixel (Px, Py) of a D x D cell.
long double CellRadius(int64_t Px, int64_t Py, int32_t D) {
  return CartesianToPolar(PixelToUnit(TFloatPoint{static_cast<float>(Px), static_cast<float>(Py)}, D, D)).Radius;
}

// Cells far larger than any image mean nothing more; the limit keeps D in int32.
int32_t LimitRadius(int32_t Radius) { return std::min(Radius, 0x3FFFFFFF); }

// A float position for the bilinear read, formed in extended precision.
inline TColor32 Sample(const TBitmap32* C, long double X, long double Y) {
  return C->GetPixelBilinear(static_cast<float>(X), static_cast<float>(Y));
}

// Rows of a W-pixel picture whose every pixel costs a few calls of the maths
// library, in pieces small enough to spread over all threads.
int32_t HeavyRows(int32_t W) { return RowsPerTask(int64_t{W} * 64); }

// The source to read while Dst is written: a copy when they are one bitmap.
class TSourceCopy {
 public:
  TSourceCopy(TBitmap32* Dst, TBitmap32* Src) : src_(Src) {
    if (Dst == Src) {
      copy_ = std::make_unique<TBitmap32>();
      CopyBitmap(copy_.get(), Src, true);
      src_ = copy_.get();
    }
  }
  TBitmap32* Get() const { return src_; }

 private:
  std::unique_ptr<TBitmap32> copy_;
  TBitmap32* src_;
};

// The start every drawing effect shares once its source C is known: Dst takes
// Src's properties and is cleared to Background. False when there is nothing
// to draw (C or Dst without pixels); Dst's pixels are then left alone.
bool ClearTarget(TBitmap32* Dst, TBitmap32* Src, const TBitmap32* C, TColor32 Background) {
  CopyBitmapProps(Dst, Src);
  if (!HasPixels(C) || !HasPixels(Dst)) return false;
  Dst->ClearToColor(Background);
  return true;
}

// The sums of one clipped cell.
struct TCellSums {
  int64_t R = 0, G = 0, B = 0, I = 0, N = 0;
  TColor32 Last = 0;
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;  // clipped, exclusive right and bottom
};

TCellSums SumCell(const TBitmap32* C, int64_t Cx, int64_t Cy, int32_t Radius) {
  TCellSums S;
  S.Left = static_cast<int32_t>(std::max<int64_t>(0, Cx - Radius));
  S.Top = static_cast<int32_t>(std::max<int64_t>(0, Cy - Radius));
  S.Right = static_cast<int32_t>(std::min<int64_t>(C->Width(), Cx + Radius + 1));
  S.Bottom = static_cast<int32_t>(std::min<int64_t>(C->Height(), Cy + Radius + 1));
  // Columns outer, rows inner: the last pixel summed is the bottom-right one.
  for (int32_t x = S.Left; x < S.Right; ++x)
    for (int32_t y = S.Top; y < S.Bottom; ++y) {
      const TColor32 P = C->GetPixel(x, y);
      S.R += RedOf(P);
      S.G += GreenOf(P);
      S.B += BlueOf(P);
      S.I += IntensityOf(P);
      ++S.N;
      S.Last = P;
    }
  return S;
}

// Walks the cell centres of a W x H image, calling Cell(cx, cy) for each;
// a cell without pixels ends its row.
template <typename F>
void ForEachCell(const TBitmap32* C, int32_t Radius, F Cell) {
  const int64_t D = 2 * int64_t{Radius} + 1;
  const int64_t W = C->Width(), H = C->Height();
  for (int64_t Cy = Radius; Cy < H + Radius; Cy += D)
    for (int64_t Cx = Radius; Cx < W + Radius; Cx += D)
      if (!Cell(Cx, Cy)) break;
}

}  // namespace

void SeedEffectRandom(uint32_t Seed) { EffectRandom().seed(Seed); }

void EffectMosaic(TBitmap32* Dst, TBitmap32* Src, int32_t Radius, TColor32 Bg, float Power) {
  if (Dst == nullptr || Src == nullptr) return;
  if (Radius < 1) {
    CopyBitmap(Dst, Src, true);
    return;
  }
  Radius = LimitRadius(Radius);
  TSourceCopy Source(Dst, Src);
  const TBitmap32* C = Source.Get();
  if (!ClearTarget(Dst, Src, C, Bg)) return;
  const int32_t D = 2 * Radius + 1;
  ForEachCell(C, Radius, [&](int64_t Cx, int64_t Cy) {
    const TCellSums S = SumCell(C, Cx, Cy, Radius);
    if (S.N == 0) return false;
    const TColor32 Colour = MakeArgb(ClampToByte64(S.R / S.N), ClampToByte64(S.G / S.N),
                                     ClampToByte64(S.B / S.N), AlphaOf(S.Last));
    for (int32_t y = S.Top; y < S.Bottom; ++y) {
      TColor32* Row = Dst->RowPtr(y);
      for (int32_t x = S.Left; x < S.Right; ++x) {
        TColor32 Dot = Colour;
        if (Power > 0) Dot = SetAlphaOf(Colour, FadeAlpha(CellRadius(x - Cx + Radius, y - Cy + Radius, D), Power));
        Row[x] = BlendPixel(Dot, Row[x]);
      }
    }
    return true;
  });
  EndMmx();
  Dst->Changed();
}

void EffectQuantize(TBitmap32* Dst, TBitmap32* Src, int32_t Radius, TColor32 Ink, TColor32 Paper, bool DoRed,
                    bool DoGreen, bool DoBlue) {
  if (Dst == nullptr || Src == nullptr) return;
  if (Radius < 1) {
    CopyBitmap(Dst, Src, true);
    return;
  }
  Radius = LimitRadius(Radius);
  TSourceCopy Source(Dst, Src);
  const TBitmap32* C = Source.Get();
  if (!ClearTarget(Dst, Src, C, Paper)) return;
  const int32_t D = 2 * Radius + 1;
  const bool DarkPaper = IntensityOf(Paper) < 128;
  // (D + 1) / D is a real quotient: in integers it would be 1 for every cell.
  const long double DotScale = std::sqrt(2.0L) * (D + 1.0L) / D;
  ForEachCell(C, Radius, [&](int64_t Cx, int64_t Cy) {
    const TCellSums S = SumCell(C, Cx, Cy, Radius);
    if (S.N == 0) return false;
    TColor32 Dot = Ink;
    if (DoRed) Dot = (Dot & 0xFF00FFFFu) | (static_cast<TColor32>(ClampToByte64(S.R / S.N)) << 16);
    if (DoGreen) Dot = (Dot & 0xFFFF00FFu) | (static_cast<TColor32>(ClampToByte64(S.G / S.N)) << 8);
    if (DoBlue) Dot = (Dot & 0xFFFFFF00u) | static_cast<TColor32>(ClampToByte64(S.B / S.N));
    const int64_t M = S.I / S.N;
    const long double T = (DarkPaper ? M : 256 - M) / 255.0L;
    const long double DotRadius = DotScale * T;
    for (int32_t y = S.Top; y < S.Bottom; ++y) {
      TColor32* Row = Dst->RowPtr(y);
      for (int32_t x = S.Left; x < S.Right; ++x)
        if (CellRadius(x - Cx + Radius, y - Cy + Radius, D) <= DotRadius) Row[x] = BlendPixel(Dot, Row[x]);
    }
    return true;
  });
  EndMmx();
  Dst->Changed();
}

void EffectSprayInPlace(TBitmap32* Bmp, int32_t Radius) {
  if (!HasPixels(Bmp) || Radius <= 0) return;
  const int32_t W = Bmp->Width(), H = Bmp->Height();
  const int64_t Span = 2 * int64_t{Radius} + 1;
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) {
      // Two draws, x first.
      const int64_t Tx = x - int64_t{Radius} + RandomBelow(Span);
      const int64_t Ty = y - int64_t{Radius} + RandomBelow(Span);
      if (Tx >= 0 && Tx < W && Ty >= 0 && Ty < H)
        std::swap(*Bmp->PixelAddress(x, y),
                  *Bmp->PixelAddress(static_cast<int32_t>(Tx), static_cast<int32_t>(Ty)));
    }
  Bmp->Changed();
}

void EffectSpray(TBitmap32* Dst, TBitmap32* Src, int32_t Radius) {
  if (Dst == nullptr || Src == nullptr) return;
  PrepareCopy(Dst, Src);
  EffectSprayInPlace(Dst, Radius);
}

void EffectHoleInPlace(TBitmap32* Bmp, TColor32 Color, float Power) {
  if (!HasPixels(Bmp)) return;
  const int32_t W = Bmp->Width(), H = Bmp->Height();
  // rho^0 is 1 everywhere (0^0 included), so every alpha is 0 and a colour of
  // alpha 0 leaves the pixel below as it was.
  if (Power != 0)
    ParallelRows(0, H, HeavyRows(W), [&](int32_t First, int32_t Last) {
      for (int32_t y = First; y < Last; ++y) {
        TColor32* Row = Bmp->RowPtr(y);
        for (int32_t x = 0; x < W; ++x) {
          const TFloatPoint U = PixelToUnit(TFloatPoint{static_cast<float>(x), static_cast<float>(y)}, W, H);
          BlendPixelInto(SetAlphaOf(Color, FadeAlpha(CartesianToPolar(U).Radius, Power)), Row[x]);
        }
      }
    });
  EndMmx();
  Bmp->Changed();
}

void EffectHole(TBitmap32* Dst, TBitmap32* Src, TColor32 Color, float Power) {
  if (Dst == nullptr || Src == nullptr) return;
  PrepareCopy(Dst, Src);
  EffectHoleInPlace(Dst, Color, Power);
}

void EffectTwirl(TBitmap32* Dst, TBitmap32* Src, int32_t Type, float Amount) {
  if (Dst == nullptr || Src == nullptr) return;
  TSourceCopy Source(Dst, Src);
  const TBitmap32* C = Source.Get();
  if (!ClearTarget(Dst, Src, C, 0xFF000000u)) return;
  const int32_t W = C->Width(), H = C->Height();
  const int32_t Cx = W >> 1, Cy = H >> 1;
  const long double M = std::min(Cx, Cy);
  const long double R0 = std::nearbyint(std::hypot(static_cast<long double>(Cx), static_cast<long double>(Cy)));
  const long double A = Amount, K = A + 1;
  ParallelRows(0, H, HeavyRows(W), [&](int32_t FirstRow, int32_t LastRow) {
    for (int32_t y = FirstRow; y < LastRow; ++y) {
      TColor32* Row = Dst->RowPtr(y);
      for (int32_t x = 0; x < W; ++x) {
        TPolarPoint P = CartesianToPolar(TFloatPoint{static_cast<float>(x - Cx), static_cast<float>(y - Cy)});
        long double Rho = P.Radius, Theta = P.Angle;
        // The ratios are real divisions. m is 0 on an image one pixel wide or
        // high, R0 on a single pixel, k for Amount -1; such a change, like an
        // inverse cosine beyond 1, has no value and is dropped for the pixel.
        switch (Type) {
          case 1: Theta = Theta + Rho * Rho / M * A * A; break;
          case 2: Theta = Theta + Rho / M * A * A * A; break;
          case 3: Theta = std::acos(Rho / R0) * K + (Theta - Pi / 8); break;
          case 4: Theta = std::asin(Rho / R0) * K + (Theta - 3 * Pi / 8); break;
          case 5: Theta = Theta + std::sin(Rho / K / (M / 128)) * K * Pi / 32; break;
          case 6: Theta = Theta + std::cos(Rho / K / (M / 128)) * K * Pi / 32; break;
          case 7: Rho = Rho + std::sin(Rho / K) * (A / 2 + 3); break;
          case 8: Rho = Rho + std::cos(Rho / K) * (A / 2 + 3); break;
          case 9: Rho = Rho + std::sin(Theta * K) * M / K; break;
          default: break;
        }
        if (std::isfinite(Rho) && std::isfinite(Theta)) {
          P.Radius = Rho;
          P.Angle = Theta;
        }
        const TFloatPoint Dxy = PolarToCartesian(P);
        Row[x] = Sample(C, Cx + static_cast<long double>(Dxy.X), Cy + static_cast<long double>(Dxy.Y));
      }
    }
  });
  Dst->Changed();
}

void EffectRound(TBitmap32* Bmp) {
  if (!HasPixels(Bmp)) return;
  auto C = std::make_unique<TBitmap32>();
  CopyBitmap(C.get(), Bmp, true);
  Bmp->ClearToColor(0xFF000000u);
  const int32_t W = Bmp->Width(), H = Bmp->Height();
  // Columns x and W - x lie at unit positions of opposite sign and equal
  // size (the quotients are exact negatives), so they share their radius and
  // its power, the costliest call here: the right half takes the left's.
  ParallelRows(0, H, HeavyRows(W), [&](int32_t First, int32_t Last) {
    std::vector<long double> Stretched(static_cast<size_t>(W));
    for (int32_t y = First; y < Last; ++y) {
      TColor32* Row = Bmp->RowPtr(y);
      for (int32_t x = 0; x < W; ++x) {
        const TFloatPoint U = PixelToUnit(TFloatPoint{static_cast<float>(x), static_cast<float>(y)}, W, H);
        TFloatPoint Px{static_cast<float>(x), static_cast<float>(y)};
        if (U.X != 0 && U.Y != 0) {
          TPolarPoint P = CartesianToPolar(U);
          if (W - x < x) {
            P.Radius = Stretched[static_cast<size_t>(W - x)];
          } else {
            const long double Rho = P.Radius;
            const long double S = std::min(Rho / std::fabs(static_cast<long double>(U.X)),
                                           Rho / std::fabs(static_cast<long double>(U.Y))) - 1;
            P.Radius = std::pow(Rho, 33) * (Rho * S) + Rho;
            Stretched[static_cast<size_t>(x)] = P.Radius;
          }
          Px = UnitToPixel(PolarToCartesian(P), W, H);
        }
        Row[x] = C->GetPixelBilinear(Px.X, Px.Y);
      }
    }
  });
  Bmp->Changed();
}

void ShearBitmap(TBitmap32* Bmp, long double A, long double B) {
  if (!HasPixels(Bmp)) return;
  auto C = std::make_unique<TBitmap32>();
  CopyBitmap(C.get(), Bmp, true);
  Bmp->Clear();
  const int32_t W = Bmp->Width(), H = Bmp->Height();
  for (int32_t y = 0; y < H; ++y) {
    TColor32* Row = Bmp->RowPtr(y);
    for (int32_t x = 0; x < W; ++x) {
      // On an image one pixel high (wide) y (x) is always 0 and the cross
      // term 0 / 0 has no value; it keeps its value of 0.
      const long double Tx = H > 1 ? W * A * y / (H - 1) : 0;
      const long double Ty = W > 1 ? H * B * x / (W - 1) : 0;
      Row[x] = Sample(C.get(), x * (1 + A) - Tx, y * (1 + B) - Ty);
    }
  }
  Bmp->Changed();
}
