// Flips, quarter turns and rotation by an angle.
#include "img_rotate.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <utility>
#include <vector>

#include "img_common.h"
#include "raster_filterindex.h"
#include "raster_parallel.h"
#include "raster_rasterizers.h"
#include "raster_resamplers.h"
#include "raster_transforms.h"

void FlipVertical(TBitmap32* Bmp) {
  if (!HasPixels(Bmp)) return;
  const int32_t W = Bmp->Width(), H = Bmp->Height();
  const size_t Bytes = static_cast<size_t>(W) * sizeof(TColor32);
  // Each thread swaps its own pairs of rows.
  ParallelRows(0, H / 2, RowsPerTask(int64_t{W} * 2), [&](int32_t First, int32_t Last) {
    std::vector<TColor32> Buffer(static_cast<size_t>(W));
    for (int32_t y = First; y < Last; ++y) {
      TColor32* A = Bmp->RowPtr(y);
      TColor32* B = Bmp->RowPtr(H - 1 - y);
      std::memcpy(Buffer.data(), A, Bytes);
      std::memcpy(A, B, Bytes);
      std::memcpy(B, Buffer.data(), Bytes);
    }
  });
}

void MirrorHorizontal(TBitmap32* Bmp) {
  if (!HasPixels(Bmp)) return;
  const int32_t W = Bmp->Width();
  ParallelRows(0, Bmp->Height(), RowsPerTask(W), [&](int32_t First, int32_t Last) {
    for (int32_t y = First; y < Last; ++y) std::reverse(Bmp->RowPtr(y), Bmp->RowPtr(y) + W);
  });
}

void RotateQuarterTurns(TBitmap32* Bmp, int32_t Mode) {
  // Any other mode would leave the new bitmap empty and so empty the image.
  if (!HasPixels(Bmp) || Mode < 1 || Mode > 3) return;
  const int32_t W = Bmp->Width(), H = Bmp->Height();
  TColor32* P = Bmp->Bits();
  if (Mode == 2) {
    // A half turn reverses the pixels in place, each thread swapping its own pairs.
    const size_t N = Bmp->PixelCount();
    ParallelSpans(N / 2, size_t{1} << 15, [P, N](size_t First, size_t Last) {
      for (size_t i = First; i < Last; ++i) std::swap(P[i], P[N - 1 - i]);
    });
    return;
  }
  auto T = std::make_unique<TBitmap32>();
  T->SetSizeForOverwrite(H, W);
  // The turned picture is written in square tiles: a quarter turn reads the
  // source down its columns, and a tile's source rows stay in the cache while
  // the tile's rows are written. Bands of tile rows go to the threads.
  constexpr int32_t kTile = 64;
  const size_t Stride = static_cast<size_t>(W);
  ParallelRows(0, W, kTile, [&](int32_t First, int32_t Last) {
    for (int32_t y0 = First; y0 < Last; y0 += kTile) {
      const int32_t y1 = std::min(Last, y0 + kTile);
      for (int32_t x0 = 0; x0 < H; x0 += kTile) {
        const int32_t x1 = std::min(H, x0 + kTile);
        for (int32_t y = y0; y < y1; ++y) {
          TColor32* D = T->RowPtr(y);
          if (Mode == 1)  // clockwise: new (x, y) is old (y, H - 1 - x)
            for (int32_t x = x0; x < x1; ++x) D[x] = P[(H - 1 - x) * Stride + y];
          else  // counter-clockwise: new (x, y) is old (W - 1 - y, x)
            for (int32_t x = x0; x < x1; ++x) D[x] = P[x * Stride + (W - 1 - y)];
        }
      }
    }
  });
  if (W != H && !Bmp->MeasuringMode()) {
    // The turned pixels become the bitmap's, with the notifications a new
    // size sends, and without a copy.
    Bmp->AdoptPixels(*T);
    return;
  }
  if (W != H) Bmp->SetSizeForOverwrite(H, W);
  if (!HasPixels(Bmp)) return;
  ParallelSpans(Bmp->PixelCount(), size_t{1} << 16, [&](size_t First, size_t Last) {
    std::memcpy(Bmp->Bits() + First, T->Bits() + First, (Last - First) * sizeof(TColor32));
  });
}

namespace {

// The columns [X0, X1) of destination row y worth drawing: a pixel whose
// source position lies well away from the Picture rectangle samples nothing
// but the empty canvas and the (transparent black) outer colour, i.e. 0,
// which the result already holds. So each row is drawn only over the span
// whose source positions come within Margin pixels of the picture, cut to
// CutOut; the result is the same as drawing the whole canvas.
struct TRowSpans {
  // Far wider than the cubic kernel's reach (two pixels each side of the
  // rounded-up position), so that rounding of the fixed-point mapping never matters.
  static constexpr long double Margin = 8;
  // The source position of destination (x, y) is O + x*Ex + y*Ey.
  long double Ox, Oy, ExX, ExY, EyX, EyY;
  TRect Picture, CutOut;

  TRowSpans(TAffineTransformation& T, const TRect& Picture, const TRect& CutOut) : Picture(Picture), CutOut(CutOut) {
    const TFloatPoint P0 = T.ReverseTransform(TFloatPoint{0, 0});
    const TFloatPoint P1 = T.ReverseTransform(TFloatPoint{1, 0});
    const TFloatPoint P2 = T.ReverseTransform(TFloatPoint{0, 1});
    Ox = P0.X;
    Oy = P0.Y;
    ExX = static_cast<long double>(P1.X) - Ox;
    ExY = static_cast<long double>(P1.Y) - Oy;
    EyX = static_cast<long double>(P2.X) - Ox;
    EyY = static_cast<long double>(P2.Y) - Oy;
  }

  // False when nothing of the row is worth drawing.
  bool Span(int32_t y, int32_t& X0, int32_t& X1) const {
    long double Lo = CutOut.Left, Hi = CutOut.Right - 1;
    // Keeps the x for which C + x*E lies within [Min, Max].
    const auto Limit = [&Lo, &Hi](long double C, long double E, long double Min, long double Max) {
      if (std::fabs(E) < 1e-12L) {
        if (C < Min || C > Max) Hi = Lo - 1;
        return;
      }
      long double A = (Min - C) / E, B = (Max - C) / E;
      if (A > B) std::swap(A, B);
      Lo = std::max(Lo, A);
      Hi = std::min(Hi, B);
    };
    Limit(Ox + y * EyX, ExX, Picture.Left - Margin, Picture.Right - 1 + Margin);
    Limit(Oy + y * EyY, ExY, Picture.Top - Margin, Picture.Bottom - 1 + Margin);
    if (!(Hi >= Lo)) return false;
    X0 = std::max<int32_t>(CutOut.Left, static_cast<int32_t>(std::floor(Lo)) - 1);
    X1 = std::min<int32_t>(CutOut.Right, static_cast<int32_t>(std::ceil(Hi)) + 2);
    return X1 > X0;
  }
};

}  // namespace

void RotateByAngle(TBitmap32* Bmp, float Degrees) {
  if (!HasPixels(Bmp) || !std::isfinite(Degrees)) return;
  const int32_t W = Bmp->Width(), H = Bmp->Height();

  // The rotated bounding size, kept as 32-bit floats.
  const long double A = -static_cast<long double>(Degrees) * std::numbers::pi_v<long double> / 180;
  const long double C = std::cos(A), S = std::sin(A);
  const float NW = static_cast<float>(std::fabs(C * W) + std::fabs(S * H));
  const float NH = static_cast<float>(std::fabs(S * W) + std::fabs(C * H));
  // Both are at most W + H and at least about 0.7 for a pixel, so the
  // truncation stays in range; a side is never less than one pixel.
  const int32_t NewW = std::max<int32_t>(1, static_cast<int32_t>(NW));
  const int32_t NewH = std::max<int32_t>(1, static_cast<int32_t>(NH));
  const int32_t Side = std::max(NewW, NewH);

  // The image centred on a square canvas. The canvas can come out a pixel
  // smaller than a side when the float products fall just below the integer;
  // the offset is then negative (arithmetic halving) and the picture is cut,
  // rather than the wrapped unsigned offset that would draw nothing at all.
  // The canvas is never made: the kernel reads the picture in place, and 0
  // (the cleared canvas, and its outer colour) around it.
  const int32_t PicX = (Side - W) >> 1, PicY = (Side - H) >> 1;

  const int32_t Left = (Side - NewW) >> 1, Top = (Side - NewH) >> 1;
  auto Transformation = std::make_unique<TAffineTransformation>();
  // The whole canvas is the source: with (0, 0, S - 1, S - 1) an odd-sized
  // image would lose its last row and column even at 0 degrees.
  Transformation->SetSrcRect(TFloatRect{0, 0, static_cast<float>(Side), static_cast<float>(Side)});
  Transformation->Clear();
  // Pixels sit at whole positions, so the middle of the picture is its first
  // pixel plus (W - 1) / 2. Turning about that point and moving it onto the
  // middle of the rectangle cut out below keeps every pixel of a right-angle
  // turn; turning about (S shr 1, S shr 1) instead shifts the picture by a
  // pixel on even canvases, dropping a row or column and leaving a
  // transparent one. Where the canvas is odd and both margins even, the two
  // are the same point.
  const float Cx = static_cast<float>(PicX + (W - 1) / 2.0);
  const float Cy = static_cast<float>(PicY + (H - 1) / 2.0);
  const float Tx = static_cast<float>(Left + (NewW - 1) / 2.0);
  const float Ty = static_cast<float>(Top + (NewH - 1) / 2.0);
  Transformation->Rotate(Cx, Cy, -Degrees);
  Transformation->Translate(Tx - Cx, Ty - Cy);

  Transformation->PrepareTransform();

  // The cubic resampler of stretch-filter index 7, reading the canvas.
  std::unique_ptr<TBitmap32Resampler> Resampler = MakeUnboundResampler(7);
  auto* Kernel = dynamic_cast<TKernelResampler*>(Resampler.get());
  if (Kernel == nullptr) return;
  Kernel->PrepareSampling();
  const TKernelResampler::TCanvas Canvas{Bmp, PicX, PicY, TRect{0, 0, Side, Side}, 0};

  // Only what the canvas drawing would have drawn: the transformed canvas cut
  // to the canvas, and each row to its span.
  const TRect Bounds = Transformation->GetTransformedBounds(Transformation->SrcRect());
  TRect Drawn;
  IntersectRects(Drawn, Bounds, TRect{0, 0, Side, Side});
  const TRowSpans Spans(*Transformation, TRect{PicX, PicY, PicX + W, PicY + H},
                        TRect{Left, Top, Left + NewW, Top + NewH});

  auto Result = std::make_unique<TBitmap32>();
  // Every pixel is written below, each row by the thread that samples it:
  // the corners outside the turned picture get 0 (transparent black) there.
  Result->SetSizeForOverwrite(NewW, NewH);
  // Tiles of Band rows by Chunk columns: the source a tile reads stays in
  // the first-level cache, where whole rows would pull in far more.
  constexpr int32_t Band = 32, Chunk = 128;
  ParallelRows(0, NewH, Band, [&](int32_t First, int32_t Last) {
    TFixedPoint Points[Chunk];
    for (int32_t j0 = First; j0 < Last; j0 += Band) {
      const int32_t j1 = std::min(Last, j0 + Band);
      int32_t From[Band], To[Band];
      int32_t Lo = INT32_MAX, Hi = INT32_MIN;
      for (int32_t j = j0; j < j1; ++j) {
        const int32_t y = Top + j;
        int32_t X0 = 0, X1 = 0;
        if (y < Drawn.Top || y >= Drawn.Bottom || !Spans.Span(y, X0, X1)) X0 = X1 = 0;
        From[j - j0] = std::max(X0, Drawn.Left);
        To[j - j0] = std::min(X1, Drawn.Right);
        TColor32* Row = Result->RowPtr(j);
        if (To[j - j0] > From[j - j0]) {
          Lo = std::min(Lo, From[j - j0]);
          Hi = std::max(Hi, To[j - j0]);
          std::fill(Row, Row + (From[j - j0] - Left), TColor32{0});
          std::fill(Row + (To[j - j0] - Left), Row + NewW, TColor32{0});
        } else {
          std::fill(Row, Row + NewW, TColor32{0});
        }
      }
      for (int32_t c = Lo; c < Hi; c += Chunk)
        for (int32_t j = j0; j < j1; ++j) {
          const int32_t X0 = std::max(c, From[j - j0]), X1 = std::min({c + Chunk, To[j - j0], Hi});
          if (X1 <= X0) continue;
          Transformation->ReverseTransformRow(X0, Top + j, X1 - X0, Points);
          Kernel->SampleFixedRun(Points, X1 - X0, Result->RowPtr(j) + (X0 - Left), Canvas);
        }
    }
  });
  Kernel->FinalizeSampling();

  if ((NewW != W || NewH != H) && !Bmp->MeasuringMode()) {
    // The result's pixels become the bitmap's, with the notifications that
    // resizing it and drawing the result over it would have sent, and without
    // a second full-size picture or a copy on one thread.
    Bmp->AdoptPixels(*Result);
    Bmp->Changed(Bmp->BoundsRect(), AREAINFO_RECT);
  } else {
    Bmp->SetSize(NewW, NewH);
    DrawRectAt(Bmp, 0, 0, Bmp->BoundsRect(), Result.get(), Result->BoundsRect(), dmOpaque);
  }
  Bmp->Changed();
}
