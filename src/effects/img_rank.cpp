// Rank filters and the Kuwahara filter.
#include "img_rank.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "img_common.h"
#include "raster_blend.h"
#include "raster_parallel.h"
#include "raster_system.h"

namespace {

inline int32_t Intensity(TColor32 C) {
  return static_cast<int32_t>((((C >> 16) & 0xFF) * 61 + ((C >> 8) & 0xFF) * 174 + (C & 0xFF) * 21) >> 8);
}

inline int32_t Channel(TColor32 C, int32_t Shift) { return static_cast<int32_t>((C >> Shift) & 0xFF); }

inline TColor32 Pack(int32_t R, int32_t G, int32_t B) {
  return 0xFF000000u | (static_cast<TColor32>(R) << 16) | (static_cast<TColor32>(G) << 8) | static_cast<TColor32>(B);
}

// A pixel array of Width columns: the unchanged copy every filter reads from.
struct Plane {
  const TColor32* Bits;
  int32_t Width;
};

// The picture's pixels copied by all threads (and, when Lum is given, their
// intensities in the same pass): each thread's part of the copy lands in
// memory it touches first.
std::unique_ptr<TColor32[]> ParallelCopy(const TBitmap32* Bmp, std::unique_ptr<uint8_t[]>* Lum) {
  const size_t N = Bmp->PixelCount();
  std::unique_ptr<TColor32[]> Copy(new TColor32[N]);
  AdviseLargePages(Copy.get(), N * sizeof(TColor32));
  if (Lum != nullptr) {
    Lum->reset(new uint8_t[N]);
    AdviseLargePages(Lum->get(), N);
  }
  const TColor32* From = Bmp->Bits();
  TColor32* To = Copy.get();
  uint8_t* L = Lum != nullptr ? Lum->get() : nullptr;
  ParallelSpans(N, size_t{1} << 16, [From, To, L](size_t First, size_t Last) {
    std::copy(From + First, From + Last, To + First);
    if (L != nullptr)
      for (size_t i = First; i < Last; ++i) L[i] = static_cast<uint8_t>(Intensity(From[i]));
  });
  return Copy;
}

int32_t Gather(const Plane& Src, TColor32* Buffer, int32_t Left, int32_t Top, int32_t Right, int32_t Bottom) {
  if (Bottom < Top || Right < Left) return 0;
  int32_t N = 0;
  const int32_t W = Right - Left + 1;
  for (int32_t Y = Top; Y <= Bottom; ++Y) {
    const TColor32* Row = Src.Bits + static_cast<ptrdiff_t>(Y) * Src.Width + Left;
    std::copy(Row, Row + W, Buffer + N);
    N += W;
  }
  return N;
}

// n*q - s*s over n: the sum of the squared distances from the mean of n
// entries whose sum is s and sum of squares q. Up to 2^20 entries n*q stays
// below 2^63; from about 12M entries s*s and n*q pass it, and from about 24M
// (half 0, half 255) so does their difference, so larger windows widen.
int64_t SpreadOfSums(int64_t N, int64_t S, int64_t Q) {
  if (N <= (int64_t{1} << 20)) return (N * Q - S * S) / N;
  return static_cast<int64_t>((static_cast<__int128>(N) * Q - static_cast<__int128>(S) * S) / N);
}

// Sum s and sum of squares q per channel after the window's minimum has been
// taken off every entry (the buffer keeps the reduced values).
void CentredSums(TColor32* Buffer, int32_t N, int64_t S[3], int64_t Q[3]) {
  const TColor32 Min = WindowMin(Buffer, N);
  const int32_t M[3] = {Channel(Min, 16), Channel(Min, 8), Channel(Min, 0)};
  for (int c = 0; c < 3; ++c) S[c] = Q[c] = 0;
  for (int32_t i = 0; i < N; ++i) {
    const int32_t V[3] = {Channel(Buffer[i], 16) - M[0], Channel(Buffer[i], 8) - M[1], Channel(Buffer[i], 0) - M[2]};
    Buffer[i] = (Buffer[i] & 0xFF000000u) | (static_cast<TColor32>(V[0]) << 16) | (static_cast<TColor32>(V[1]) << 8) |
                static_cast<TColor32>(V[2]);
    for (int c = 0; c < 3; ++c) {
      S[c] += V[c];
      Q[c] += int64_t{V[c]} * V[c];
    }
  }
}

TColor32 Statistic(int32_t Kind, TColor32* Buffer, int32_t N) {
  switch (Kind) {
    case 1: return WindowMin(Buffer, N);
    case 2: return WindowMax(Buffer, N);
    case 3: return WindowMean(Buffer, N);
    case 4: return WindowMedian(Buffer, N);
    case 5: return WindowVariance(Buffer, N);
    default: return WindowDeviation(Buffer, N);
  }
}

// Puts a statistic onto the bitmap's pixel with the level as its alpha.
inline void PutWithLevel(TColor32 R, int32_t Level, TColor32& Pixel) {
  BlendPixelInto((R & 0x00FFFFFFu) | (static_cast<TColor32>(Level) << 24), Pixel);
}

// The median of radius 1 away from the border, where most windows are settled
// without running the selection: the median intensity comes from a min/max
// network, and when every window pixel of that intensity has the same colour
// the selection could only end on that colour. Other windows run WindowMedian
// on the window gathered in its usual order, so ties are decided exactly as there.
struct MedianScratch {
  std::vector<uint8_t> Lo, Mid, Hi, Med;
  std::vector<uint16_t> Match;
  explicit MedianScratch(int32_t W) : Lo(W), Mid(W), Hi(W), Med(W), Match(W) {}
};

void MedianInterior(const Plane& Src, const uint8_t* Lum, MedianScratch& Scratch, TBitmap32* Bmp,
                    int32_t Level, int32_t Y) {
  const int32_t W = Src.Width;
  const uint8_t* I0 = Lum + static_cast<size_t>(Y - 1) * W;
  const uint8_t* I1 = I0 + W;
  const uint8_t* I2 = I1 + W;
  const TColor32* C0 = Src.Bits + static_cast<ptrdiff_t>(Y - 1) * W;
  const TColor32* C1 = C0 + W;
  const TColor32* C2 = C1 + W;
  // Each column sorted into low, middle and high; the 3x3 median is then the
  // median of (max of lows, median of middles, min of highs) over three columns.
  uint8_t* Lo = Scratch.Lo.data();
  uint8_t* Mid = Scratch.Mid.data();
  uint8_t* Hi = Scratch.Hi.data();
  uint8_t* Med = Scratch.Med.data();
  for (int32_t X = 0; X < W; ++X) {
    const uint8_t A = I0[X], B = I1[X], C = I2[X];
    const uint8_t Mn = std::min(A, B), Mx = std::max(A, B);
    Lo[X] = std::min(Mn, C);
    Hi[X] = std::max(Mx, C);
    Mid[X] = std::max(Mn, std::min(Mx, C));
  }
  for (int32_t X = 1; X < W - 1; ++X) {
    const uint8_t L = std::max(std::max(Lo[X - 1], Lo[X]), Lo[X + 1]);
    const uint8_t H = std::min(std::min(Hi[X - 1], Hi[X]), Hi[X + 1]);
    const uint8_t A = Mid[X - 1], B = Mid[X], C = Mid[X + 1];
    const uint8_t Mn = std::min(A, B), Mx = std::max(A, B);
    const uint8_t M = std::max(Mn, std::min(Mx, C));
    const uint8_t Mn2 = std::min(L, M), Mx2 = std::max(L, M);
    Med[X] = std::max(Mn2, std::min(Mx2, H));
  }
  // Which of the nine window pixels carry the median intensity, one bit each
  // in window order; a loop of byte compares that vectorizes.
  uint16_t* Match = Scratch.Match.data();
  for (int32_t X = 1; X < W - 1; ++X) {
    const uint8_t M = Med[X];
    Match[X] = static_cast<uint16_t>((I0[X - 1] == M) | (I0[X] == M) << 1 | (I0[X + 1] == M) << 2 |
                                     (I1[X - 1] == M) << 3 | (I1[X] == M) << 4 | (I1[X + 1] == M) << 5 |
                                     (I2[X - 1] == M) << 6 | (I2[X] == M) << 7 | (I2[X + 1] == M) << 8);
  }
  TColor32* Out = Bmp->RowPtr(Y);
  TColor32 Window[9];
  for (int32_t X = 1; X < W - 1; ++X) {
    const TColor32* Crows[3] = {C0 + X - 1, C1 + X - 1, C2 + X - 1};
    uint32_t Bits = Match[X];
    const int32_t T = __builtin_ctz(Bits);
    const TColor32 Found = Crows[T / 3][T % 3];
    // Several pixels of the median intensity: settled only when they share one colour.
    bool Unique = true;
    for (Bits &= Bits - 1; Bits != 0 && Unique; Bits &= Bits - 1) {
      const int32_t U = __builtin_ctz(Bits);
      Unique = Crows[U / 3][U % 3] == Found;
    }
    TColor32 R;
    if (Unique) {
      R = Found | 0xFF000000u;
    } else {
      for (int Dy = 0; Dy < 3; ++Dy)
        for (int Dx = 0; Dx < 3; ++Dx) Window[Dy * 3 + Dx] = Crows[Dy][Dx];
      R = WindowMedian(Window, 9);
    }
    if (Level == 255)
      Out[X] = R;
    else
      PutWithLevel(R, Level, Out[X]);
  }
}

// Radius limited to what the image can hold: a larger window is clipped to the
// same pixels, and the limit keeps the coordinate arithmetic inside 32 bits.
int32_t LimitRadius(const TBitmap32* Bmp, int32_t Radius) {
  if (Radius < 0) return 0;
  return std::min(Radius, std::max(Bmp->Width(), Bmp->Height()));
}

// Variance and deviation from plain sums. Taking the window's minimum off
// every entry first changes neither n*q - s*s nor anything after it (the
// shift cancels exactly in integers), so sums over columns kept up to date
// from row to row give every window's statistic in a few operations.
//
// The sums of v and v*v per channel of rows [Top, Bottom] in every column.
struct TColumnSums {
  std::vector<int64_t> S[3], Q[3];
  int32_t Rows = 0;
  explicit TColumnSums(int32_t W) {
    for (int c = 0; c < 3; ++c) S[c].assign(static_cast<size_t>(W), 0), Q[c].assign(static_cast<size_t>(W), 0);
  }
  void Add(const Plane& Src, int32_t Y, int64_t Sign) {
    const TColor32* Row = Src.Bits + static_cast<ptrdiff_t>(Y) * Src.Width;
    for (int c = 0; c < 3; ++c) {
      const int32_t Shift = 16 - 8 * c;
      int64_t* Sc = S[c].data();
      int64_t* Qc = Q[c].data();
      for (int32_t X = 0; X < Src.Width; ++X) {
        const int64_t V = Channel(Row[X], Shift);
        Sc[X] += Sign * V;
        Qc[X] += Sign * V * V;
      }
    }
    Rows += static_cast<int32_t>(Sign);
  }
};

// Running totals of the column sums along a row: columns [Left, Right] sum to
// P[Right + 1] - P[Left].
struct TRowTotals {
  std::vector<int64_t> S[3], Q[3];
  explicit TRowTotals(int32_t W) {
    for (int c = 0; c < 3; ++c)
      S[c].assign(static_cast<size_t>(W) + 1, 0), Q[c].assign(static_cast<size_t>(W) + 1, 0);
  }
  void From(const TColumnSums& Cols) {
    for (int c = 0; c < 3; ++c)
      for (size_t X = 0; X < Cols.S[c].size(); ++X) {
        S[c][X + 1] = S[c][X] + Cols.S[c][X];
        Q[c][X + 1] = Q[c][X] + Cols.Q[c][X];
      }
  }
};

// round(sqrt(v)) clamped to a byte, as WindowDeviation forms it, for every v
// below 65536 (from there on it is 255).
const std::vector<uint8_t>& RootTable() {
  static const std::vector<uint8_t> Table = [] {
    std::vector<uint8_t> T(65536);
    for (size_t v = 0; v < T.size(); ++v)
      T[v] = static_cast<uint8_t>(ClampToByte64(static_cast<int64_t>(RoundHalfEven(std::sqrt(static_cast<long double>(v))))));
    return T;
  }();
  return Table;
}

// The window statistics of columns [Left, Right] of the rows the totals cover
// (Rows of them): mean, variance and deviation, each with alpha 255.
struct TWindowSums {
  int64_t S[3], Q[3], N;
  TWindowSums(const TRowTotals& T, int32_t Rows, int32_t Left, int32_t Right) {
    N = int64_t{Rows} * (Right - Left + 1);
    for (int c = 0; c < 3; ++c) {
      S[c] = T.S[c][static_cast<size_t>(Right) + 1] - T.S[c][static_cast<size_t>(Left)];
      Q[c] = T.Q[c][static_cast<size_t>(Right) + 1] - T.Q[c][static_cast<size_t>(Left)];
    }
  }
  int64_t Var(int c) const { return SpreadOfSums(N, S[c], Q[c]); }
  TColor32 Mean() const {
    return Pack(static_cast<int32_t>(S[0] / N), static_cast<int32_t>(S[1] / N), static_cast<int32_t>(S[2] / N));
  }
  TColor32 Variance() const { return Pack(ClampToByte64(Var(0)), ClampToByte64(Var(1)), ClampToByte64(Var(2))); }
  TColor32 Deviation(const std::vector<uint8_t>& Root) const {
    int32_t V[3];
    for (int c = 0; c < 3; ++c) {
      const int64_t Var = this->Var(c);
      V[c] = Var < 65536 ? Root[static_cast<size_t>(Var)] : 255;
    }
    return Pack(V[0], V[1], V[2]);
  }
};

}  // namespace

int32_t GatherWindow(const TBitmap32* Src, TColor32* Buffer, int32_t Left, int32_t Top, int32_t Right,
                     int32_t Bottom) {
  if (!HasPixels(Src) || Buffer == nullptr) return 0;
  // A window reaching past the image is cut to it, never read outside.
  Left = std::max(Left, 0);
  Top = std::max(Top, 0);
  Right = std::min(Right, Src->Width() - 1);
  Bottom = std::min(Bottom, Src->Height() - 1);
  return Gather(Plane{Src->Bits(), Src->Width()}, Buffer, Left, Top, Right, Bottom);
}

TColor32 WindowMin(const TColor32* Buffer, int32_t N) {
  int32_t R = Channel(Buffer[0], 16), G = Channel(Buffer[0], 8), B = Channel(Buffer[0], 0);
  for (int32_t i = 1; i < N; ++i) {
    R = std::min(R, Channel(Buffer[i], 16));
    G = std::min(G, Channel(Buffer[i], 8));
    B = std::min(B, Channel(Buffer[i], 0));
  }
  return Pack(R, G, B);
}

TColor32 WindowMax(const TColor32* Buffer, int32_t N) {
  int32_t R = Channel(Buffer[0], 16), G = Channel(Buffer[0], 8), B = Channel(Buffer[0], 0);
  for (int32_t i = 1; i < N; ++i) {
    R = std::max(R, Channel(Buffer[i], 16));
    G = std::max(G, Channel(Buffer[i], 8));
    B = std::max(B, Channel(Buffer[i], 0));
  }
  return Pack(R, G, B);
}

TColor32 WindowMean(const TColor32* Buffer, int32_t N) {
  int64_t R = 0, G = 0, B = 0;
  for (int32_t i = 0; i < N; ++i) {
    R += Channel(Buffer[i], 16);
    G += Channel(Buffer[i], 8);
    B += Channel(Buffer[i], 0);
  }
  return Pack(static_cast<int32_t>(R / N), static_cast<int32_t>(G / N), static_cast<int32_t>(B / N));
}

TColor32 WindowMedian(TColor32* A, int32_t N) {
  // Hoare's selection on intensities. The exchange is unconditional and the
  // pass ends as soon as the partition has passed index k; among pixels of
  // equal intensity this exact sequence decides which one ends at k. The
  // intensities are computed once and travel with their pixels.
  uint8_t Small[64];
  std::vector<uint8_t> Large;
  uint8_t* Key = Small;
  if (N > 64) {
    Large.resize(static_cast<size_t>(N));
    Key = Large.data();
  }
  for (int32_t i = 0; i < N; ++i) Key[i] = static_cast<uint8_t>(Intensity(A[i]));
  const int32_t K = (N - 1) >> 1;
  int32_t L = 0, R = N - 1;
  while (L < R) {
    const uint8_t Ix = Key[K];
    int32_t i = L, j = R;
    do {
      while (i < R && Key[i] < Ix) ++i;
      while (j > L && Ix < Key[j]) --j;
      std::swap(A[i], A[j]);
      std::swap(Key[i], Key[j]);
      ++i;
      --j;
    } while (!(j < K || i > K));
    if (j < K) L = i;
    if (i > K) R = j;
  }
  return A[K] | 0xFF000000u;
}

TColor32 WindowVariance(TColor32* Buffer, int32_t N) {
  int64_t S[3], Q[3];
  CentredSums(Buffer, N, S, Q);
  int32_t V[3];
  for (int c = 0; c < 3; ++c) V[c] = ClampToByte64(SpreadOfSums(N, S[c], Q[c]));
  return Pack(V[0], V[1], V[2]);
}

TColor32 WindowDeviation(TColor32* Buffer, int32_t N) {
  int64_t S[3], Q[3];
  CentredSums(Buffer, N, S, Q);
  int32_t V[3];
  for (int c = 0; c < 3; ++c) {
    const int64_t Var = SpreadOfSums(N, S[c], Q[c]);
    V[c] = ClampToByte64(static_cast<int64_t>(RoundHalfEven(std::sqrt(static_cast<long double>(Var)))));
  }
  return Pack(V[0], V[1], V[2]);
}

void RankFilter(TBitmap32* Bmp, int32_t Kind, int32_t Radius, int32_t Level) {
  if (!HasPixels(Bmp) || Kind < 1 || Kind > 6) return;
  Level = ClampLevel(Level);
  const int32_t W = Bmp->Width(), H = Bmp->Height();
  const int32_t R = LimitRadius(Bmp, Radius);
  const int64_t Side = 2 * int64_t{R} + 1;
  const size_t BufferSize = static_cast<size_t>(std::min<int64_t>(Side, W) * std::min<int64_t>(Side, H));

  // The median of radius 1 settles most interior windows without a selection.
  const bool FastMedian = Kind == 4 && R == 1 && W >= 3 && H >= 3;
  std::unique_ptr<uint8_t[]> Lum;
  const std::unique_ptr<TColor32[]> Copy = ParallelCopy(Bmp, FastMedian ? &Lum : nullptr);
  const Plane Src{Copy.get(), W};

  if (Kind == 5 || Kind == 6) {
    const std::vector<uint8_t>& Root = RootTable();
    ParallelRows(0, H, RowsPerTask(int64_t{W} * 16), [&](int32_t First, int32_t Last) {
      TColumnSums Cols(W);
      TRowTotals Totals(W);
      for (int32_t Y = std::max(0, First - R); Y <= std::min(H - 1, First + R); ++Y) Cols.Add(Src, Y, 1);
      for (int32_t Y = First; Y < Last; ++Y) {
        if (Y > First) {
          if (Y - R - 1 >= 0) Cols.Add(Src, Y - R - 1, -1);
          if (Y + R < H) Cols.Add(Src, Y + R, 1);
        }
        Totals.From(Cols);
        TColor32* Out = Bmp->RowPtr(Y);
        for (int32_t X = 0; X < W; ++X) {
          const TWindowSums Sums(Totals, Cols.Rows, std::max(0, X - R), std::min(W - 1, X + R));
          PutWithLevel(Kind == 5 ? Sums.Variance() : Sums.Deviation(Root), Level, Out[X]);
        }
      }
    });
    Bmp->Changed();
    EndMmx();
    return;
  }

  // Every row reads only the copy, so rows go to the threads as they come.
  ParallelRows(0, H, RowsPerTask(int64_t{W} * std::min<int64_t>(Side * Side, 1 << 20)),
               [&](int32_t First, int32_t Last) {
                 std::vector<TColor32> Buffer(BufferSize);
                 MedianScratch Scratch(FastMedian ? W : 0);
                 for (int32_t Y = First; Y < Last; ++Y) {
                   const bool Interior = FastMedian && Y >= 1 && Y <= H - 2;
                   if (Interior) MedianInterior(Src, Lum.get(), Scratch, Bmp, Level, Y);
                   const int32_t Top = std::max(0, Y - R), Bottom = std::min(H - 1, Y + R);
                   TColor32* Out = Bmp->RowPtr(Y);
                   for (int32_t X = 0; X < W; ++X) {
                     if (Interior && X >= 1 && X <= W - 2) continue;
                     const int32_t Left = std::max(0, X - R), Right = std::min(W - 1, X + R);
                     const int32_t N = Gather(Src, Buffer.data(), Left, Top, Right, Bottom);
                     PutWithLevel(Statistic(Kind, Buffer.data(), N), Level, Out[X]);
                   }
                 }
               });
  Bmp->Changed();
  EndMmx();
}

void MinFilter(TBitmap32* Bmp, int32_t Radius, int32_t Level) { RankFilter(Bmp, 1, Radius, Level); }
void MaxFilter(TBitmap32* Bmp, int32_t Radius, int32_t Level) { RankFilter(Bmp, 2, Radius, Level); }
void MeanFilter(TBitmap32* Bmp, int32_t Radius, int32_t Level) { RankFilter(Bmp, 3, Radius, Level); }
void MedianFilter(TBitmap32* Bmp, int32_t Radius, int32_t Level) { RankFilter(Bmp, 4, Radius, Level); }
void VarianceFilter(TBitmap32* Bmp, int32_t Radius, int32_t Level) { RankFilter(Bmp, 5, Radius, Level); }
void DeviationFilter(TBitmap32* Bmp, int32_t Radius, int32_t Level) { RankFilter(Bmp, 6, Radius, Level); }

void KuwaharaFilter(TBitmap32* Bmp, int32_t Radius, int32_t Level) {
  if (!HasPixels(Bmp)) return;
  Level = ClampLevel(Level);
  const int32_t W = Bmp->Width(), H = Bmp->Height();
  const int32_t D = std::min<int64_t>(2 * int64_t{LimitRadius(Bmp, Radius)}, std::max(W, H));
  const std::unique_ptr<TColor32[]> Copy = ParallelCopy(Bmp, nullptr);
  const Plane Src{Copy.get(), W};
  // Each quadrant is a window of the rows above (Q1, Q2) or below (Q3, Q4),
  // both sharing the centre's row: two sets of column sums follow the rows.
  const std::vector<uint8_t>& Root = RootTable();
  ParallelRows(0, H, RowsPerTask(int64_t{W} * 32), [&](int32_t First, int32_t Last) {
    TColumnSums Above(W), Below(W);
    TRowTotals AboveTotals(W), BelowTotals(W);
    for (int32_t Y = std::max(0, First - D); Y <= First; ++Y) Above.Add(Src, Y, 1);
    for (int32_t Y = First; Y <= std::min(H - 1, First + D); ++Y) Below.Add(Src, Y, 1);
    for (int32_t Y = First; Y < Last; ++Y) {
      if (Y > First) {
        Above.Add(Src, Y, 1);
        if (Y - D - 1 >= 0) Above.Add(Src, Y - D - 1, -1);
        Below.Add(Src, Y - 1, -1);
        if (Y + D < H) Below.Add(Src, Y + D, 1);
      }
      AboveTotals.From(Above);
      BelowTotals.From(Below);
      TColor32* Out = Bmp->RowPtr(Y);
      for (int32_t X = 0; X < W; ++X) {
        const int32_t Left = std::max(0, X - D), Right = std::min(W - 1, X + D);
        // Q1 top-left, Q2 top-right, Q3 bottom-left, Q4 bottom-right; ties keep the earlier.
        const TWindowSums Quads[4] = {{AboveTotals, Above.Rows, Left, X},
                                      {AboveTotals, Above.Rows, X, Right},
                                      {BelowTotals, Below.Rows, Left, X},
                                      {BelowTotals, Below.Rows, X, Right}};
        int32_t Best = 256;
        TColor32 Result = 0;
        for (const TWindowSums& Q : Quads) {
          const int32_t Dev = IntensityOf(Q.Deviation(Root));
          if (Dev < Best) {
            Result = Q.Mean();
            Best = Dev;
          }
        }
        PutWithLevel(Result, Level, Out[X]);
      }
    }
  });
  Bmp->Changed();
  EndMmx();
}
