// Rank filters and Kuwahara.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "effects_fixtures.h"
#include "img_rank.h"
#include "raster_blend.h"
#include "raster_parallel.h"

namespace {

int32_t I(TColor32 C) { return IntensityOf(C); }

// The driver written the plain way on top of the window statistics: gathers
// each clipped window from an unchanged copy and blends the statistic.
std::vector<TColor32> ReferenceRank(const TBitmap32& B, int32_t Kind, int32_t R, int32_t Level) {
  auto Copy = MakeBitmap(B.Width(), B.Height());
  std::copy(B.Bits(), B.Bits() + B.PixelCount(), Copy->Bits());
  std::vector<TColor32> Out = Pixels(B);
  std::vector<TColor32> Buf((2 * R + 1) * (2 * R + 1));
  for (int32_t y = 0; y < B.Height(); ++y)
    for (int32_t x = 0; x < B.Width(); ++x) {
      const int32_t N = GatherWindow(Copy.get(), Buf.data(), std::max(0, x - R), std::max(0, y - R),
                                     std::min(B.Width() - 1, x + R), std::min(B.Height() - 1, y + R));
      TColor32 S = 0;
      switch (Kind) {
        case 1: S = WindowMin(Buf.data(), N); break;
        case 2: S = WindowMax(Buf.data(), N); break;
        case 3: S = WindowMean(Buf.data(), N); break;
        case 4: S = WindowMedian(Buf.data(), N); break;
        case 5: S = WindowVariance(Buf.data(), N); break;
        default: S = WindowDeviation(Buf.data(), N); break;
      }
      BlendPixelInto((S & 0xFFFFFF) | (static_cast<TColor32>(Level) << 24), Out[y * B.Width() + x]);
    }
  return Out;
}

// Kuwahara the plain way: the four clipped quadrants gathered from a copy,
// the mean of the first one of least deviation.
std::vector<TColor32> ReferenceKuwahara(const TBitmap32& B, int32_t R, int32_t Level) {
  auto Copy = MakeBitmap(B.Width(), B.Height());
  std::copy(B.Bits(), B.Bits() + B.PixelCount(), Copy->Bits());
  std::vector<TColor32> Out = Pixels(B);
  const int32_t D = 2 * R, W = B.Width(), H = B.Height();
  std::vector<TColor32> Buf((D + 1) * (D + 1));
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) {
      const int32_t L = std::max(0, x - D), T = std::max(0, y - D), Rt = std::min(W - 1, x + D),
                    Bt = std::min(H - 1, y + D);
      const int32_t Q[4][4] = {{L, T, x, y}, {x, T, Rt, y}, {L, y, x, Bt}, {x, y, Rt, Bt}};
      int32_t Best = 256;
      TColor32 Result = 0;
      for (const auto& q : Q) {
        const int32_t N = GatherWindow(Copy.get(), Buf.data(), q[0], q[1], q[2], q[3]);
        const TColor32 M = WindowMean(Buf.data(), N);
        const int32_t Dev = IntensityOf(WindowDeviation(Buf.data(), N));
        if (Dev < Best) Result = M, Best = Dev;
      }
      BlendPixelInto((Result & 0xFFFFFF) | (static_cast<TColor32>(Level) << 24), Out[y * W + x]);
    }
  return Out;
}

TEST(WindowStatistics, KnownAnswers) {
  TColor32 Two[2] = {0xFF010101u, 0xFF020202u};
  EXPECT_EQ(WindowMean(Two, 2), 0xFF010101u);  // (1 + 2) div 2
  TColor32 Mixed[3] = {0x00102030u, 0x00301020u, 0x00203010u};
  EXPECT_EQ(WindowMin(Mixed, 3), 0xFF101010u);
  EXPECT_EQ(WindowMax(Mixed, 3), 0xFF303030u);
  TColor32 Span[2] = {0x00000000u, 0x00FFFFFFu};
  EXPECT_EQ(WindowVariance(Span, 2), 0xFFFFFFFFu);
  TColor32 Span2[2] = {0x00000000u, 0x00FFFFFFu};
  EXPECT_EQ(WindowDeviation(Span2, 2), 0xFFB4B4B4u);  // round(sqrt(32512)) = 180
  // Half black, half white, one entry past where n*q - s*s leaves 64 bits.
  std::vector<TColor32> Wide(23819612, 0x00FFFFFFu);
  std::fill(Wide.begin(), Wide.begin() + Wide.size() / 2, 0u);
  EXPECT_EQ(WindowVariance(Wide.data(), static_cast<int32_t>(Wide.size())), 0xFFFFFFFFu);
  EXPECT_EQ(WindowDeviation(Wide.data(), static_cast<int32_t>(Wide.size())), 0xFFFFFFFFu);
  TColor32 One[1] = {0x12345678u};
  EXPECT_EQ(WindowMedian(One, 1), 0xFF345678u);
  EXPECT_EQ(WindowVariance(One, 1), 0xFF000000u);
}

TEST(WindowStatistics, MedianIsTheMiddleIntensity) {
  // With distinct intensities the selection must land on the true median for
  // every window size the filters produce.
  std::mt19937 Rng(5);
  for (int32_t N : {1, 2, 3, 4, 6, 9, 15, 25, 49}) {
    for (int Trial = 0; Trial < 40; ++Trial) {
      std::vector<TColor32> V;
      std::vector<int32_t> Used;
      while (static_cast<int32_t>(V.size()) < N) {
        const int32_t G = static_cast<int32_t>(Rng() % 256);
        if (std::find(Used.begin(), Used.end(), G) != Used.end()) continue;
        Used.push_back(G);
        V.push_back(static_cast<TColor32>(G) * 0x010101u);
      }
      std::vector<int32_t> Sorted = Used;
      std::sort(Sorted.begin(), Sorted.end());
      EXPECT_EQ(I(WindowMedian(V.data(), N)), Sorted[(N - 1) / 2]) << "n " << N;
    }
  }
}

TEST(WindowStatistics, MedianTieFollowsTheExchangeSequence) {
  // Three pixels of intensity 0 but different colours. By hand: a = [A, B, C],
  // k = 1, X = B; the first pass exchanges a[0] and a[2], then a[1] with
  // itself, and ends with j = 0 < k: the result is a[1] = B, and the outer
  // pixels have changed places.
  const TColor32 A = 0x00010100u, B = 0x00010001u, C = 0x00000101u;
  ASSERT_EQ(I(A), I(B));
  ASSERT_EQ(I(B), I(C));
  TColor32 W[3] = {A, B, C};
  EXPECT_EQ(WindowMedian(W, 3), B | 0xFF000000u);
  EXPECT_EQ(W[0], C);  // the unconditional exchange happened
  EXPECT_EQ(W[2], A);
}

// The selection written straight from its description, without bounds
// guards: among equal intensities the pixel this exact exchange sequence
// leaves at index k is the answer, so a different selection (a sort, a
// nth_element, an exchange only when i <= j) shows up as another colour.
TColor32 LiteralMedian(std::vector<TColor32> A) {
  const int32_t N = static_cast<int32_t>(A.size()), K = (N - 1) >> 1;
  TColor32 X = A[K];
  int32_t L = 0, R = N - 1;
  while (L < R) {
    int32_t i = L, j = R;
    do {
      while (I(A[i]) < I(X)) ++i;
      while (I(X) < I(A[j])) --j;
      std::swap(A[i], A[j]);
      ++i;
      --j;
    } while (!(j < K || i > K));
    if (j < K) L = i;
    if (i > K) R = j;
    X = A[K];
  }
  return X | 0xFF000000u;
}

TEST(WindowStatistics, MedianTiesMatchTheLiteralSelection) {
  // Windows of every size the filters produce, drawn from a few groups of
  // colours that share an intensity: nearly every window is full of ties.
  std::mt19937 Rng(17);
  auto Tied = TiedBitmap(64, 64, 3, 4, 4);
  const auto Palette = Pixels(*Tied);
  for (int32_t N : {2, 3, 4, 5, 6, 9, 12, 15, 20, 25, 49}) {
    for (int Trial = 0; Trial < 300; ++Trial) {
      std::vector<TColor32> W(static_cast<size_t>(N));
      for (TColor32& P : W) P = Palette[Rng() % Palette.size()];
      const TColor32 Expected = LiteralMedian(W);
      ASSERT_EQ(WindowMedian(W.data(), N), Expected) << "n " << N << " trial " << Trial;
    }
  }
}

TEST(RankFilter, MatchesTheWindowStatisticsEverywhere) {
  // Random pictures, and pictures of few colours whose many equal intensities
  // drive the median through its tie rule; every kind, several radii and levels.
  for (int Palette : {0, 3, 12, -1}) {
    for (auto [W, H] : {std::pair{1, 1}, {2, 5}, {7, 6}, {33, 4}}) {
      for (int32_t Kind = 1; Kind <= 6; ++Kind) {
        for (int32_t R : {1, 2}) {
          for (int32_t Level : {255, 100}) {
            const uint32_t Seed = static_cast<uint32_t>(Kind * 1000 + W * 10 + R + Palette);
            auto B = Palette < 0 ? TiedBitmap(W, H, Seed) : RandomBitmap(W, H, Seed, Palette);
            const auto Expected = ReferenceRank(*B, Kind, R, Level);
            RankFilter(B.get(), Kind, R, Level);
            ASSERT_EQ(Pixels(*B), Expected)
                << "kind " << Kind << " r " << R << " " << W << "x" << H << " palette " << Palette << " level "
                << Level;
          }
        }
      }
    }
  }
}

// Variance and deviation come from running sums: the same bytes as the
// windows gathered one by one, on a picture split into many pieces of rows,
// on one thread and on eight.
TEST(RankFilter, SumsMatchTheGatheredWindowsOnTallPictures) {
  for (int32_t Kind : {5, 6})
    for (int32_t R : {1, 3})
      for (int32_t Threads : {1, 8}) {
        auto B = RandomBitmap(40, 600, static_cast<uint32_t>(Kind * 10 + R));
        const auto Expected = ReferenceRank(*B, Kind, R, 200);
        TThreadLimit Limit(Threads);
        RankFilter(B.get(), Kind, R, 200);
        ASSERT_EQ(Pixels(*B), Expected) << "kind " << Kind << " r " << R << " on " << Threads;
      }
  // Windows just past the sizes where 64 bits stop holding the sums, each the
  // whole picture: 3452 x 3451 of white with 100 pixels one step darker (s*s
  // passes 2^63 from 11,909,806 entries), and 4882 x 4880 half black, half
  // white (n*q - s*s passes it from 23,819,612); the answer from sums in 128
  // bits. One thread sums the rows once (each range of rows starts its own
  // column sums).
  TThreadLimit One(1);
  for (const bool Flat : {true, false}) {
    const int32_t Kind = Flat ? 5 : 6, W = Flat ? 3452 : 4882, H = Flat ? 3451 : 4880;
    auto B = MakeBitmap(W, H, 0xFFFFFFFFu);
    const size_t N = B->PixelCount();
    if (Flat)
      for (size_t i = 0; i < 100; ++i) B->Bits()[i * 99991] = 0xFFFEFEFEu;
    else
      std::fill(B->Bits(), B->Bits() + N / 2, 0xFF000000u);
    __int128 S = 0, Q = 0;
    for (size_t i = 0; i < N; ++i) {
      const int64_t V = B->Bits()[i] & 0xFF;
      S += V;
      Q += V * V;
    }
    const auto Spread = static_cast<long double>((static_cast<__int128>(N) * Q - S * S) / static_cast<__int128>(N));
    const long double Stat = std::min(255.0L, Kind == 5 ? Spread : std::round(std::sqrt(Spread)));
    const TColor32 Expected = 0xFF000000u | 0x010101u * static_cast<TColor32>(Stat);
    RankFilter(B.get(), Kind, std::max(W, H), 255);
    EXPECT_EQ(static_cast<size_t>(std::count(B->Bits(), B->Bits() + N, Expected)), N)
        << "kind " << Kind << " " << W << " x " << H << ": " << std::hex << B->Bits()[0] << " not " << Expected;
  }
}

TEST(RankFilter, EdgesCornersAndLevels) {
  // Mean of radius 1 over a single white pixel in a black 3x3: the corner
  // windows hold 4 pixels, edges 6, the centre 9.
  auto B = MakeBitmap(3, 3, 0xFF000000u);
  B->SetPixel(1, 1, 0xFFFFFFFFu);
  MeanFilter(B.get(), 1, 255);
  EXPECT_EQ(B->GetPixel(0, 0), 0xFF3F3F3Fu);  // 255 div 4
  EXPECT_EQ(B->GetPixel(1, 0), 0xFF2A2A2Au);  // 255 div 6
  EXPECT_EQ(B->GetPixel(1, 1), 0xFF1C1C1Cu);  // 255 div 9
  // Level 0 changes nothing; level 255 makes the result opaque.
  auto C = RandomBitmap(5, 5, 9);
  const auto Before = Pixels(*C);
  MedianFilter(C.get(), 1, 0);
  EXPECT_EQ(Pixels(*C), Before);
  MaxFilter(C.get(), 1, 255);
  for (TColor32 P : Pixels(*C)) EXPECT_EQ(P >> 24, 0xFFu);
  // 1x1: the pixel itself (variance 0) with alpha from the level.
  auto D = MakeBitmap(1, 1, 0x10203040u);
  MinFilter(D.get(), 1, 255);
  EXPECT_EQ(D->GetPixel(0, 0), 0xFF203040u);
  auto E = MakeBitmap(1, 1, 0x10203040u);
  DeviationFilter(E.get(), 1, 255);
  EXPECT_EQ(E->GetPixel(0, 0), 0xFF000000u);
  // Unknown kinds, negative and huge radii stay safe.
  auto F = RandomBitmap(4, 3, 2);
  const auto FB = Pixels(*F);
  RankFilter(F.get(), 9, 1, 255);
  EXPECT_EQ(Pixels(*F), FB);
  RankFilter(F.get(), 3, 0x7FFFFFFF, 255);
  RankFilter(F.get(), 3, -4, 255);
  RankFilter(nullptr, 1, 1, 255);
}

TEST(Kuwahara, SameAsThePlainQuadrants) {
  struct {
    int32_t W, H, Palette;
  } const Cases[] = {{1, 1, 0}, {3, 1, 0}, {2, 7, 3}, {9, 5, 0}, {40, 600, 0}, {40, 600, 3}};
  for (const auto& C : Cases)
    for (int32_t R : {1, 2})
      for (int32_t Threads : {1, 8}) {
        auto B = RandomBitmap(C.W, C.H, static_cast<uint32_t>(C.W + C.H + R), C.Palette);
        const auto Expected = ReferenceKuwahara(*B, R, 255);
        TThreadLimit Limit(Threads);
        KuwaharaFilter(B.get(), R, 255);
        ASSERT_EQ(Pixels(*B), Expected) << C.W << "x" << C.H << " r " << R << " on " << Threads;
      }
}

TEST(Kuwahara, FlatImageKeepsColoursAndTakesTheLevel) {
  auto B = MakeBitmap(5, 4, 0x20506070u);
  KuwaharaFilter(B.get(), 1, 255);
  for (TColor32 P : Pixels(*B)) EXPECT_EQ(P, 0xFF506070u);
}

TEST(Kuwahara, QuadrantTiesKeepTheEarlierOne) {
  // A 3x1 grey ramp 10, 20, 30 with radius 1 (quadrants reach 2 pixels):
  // x = 0: Q1 is the pixel alone (deviation 0) -> 10;
  // x = 1: Q1 {10, 20} and Q2 {20, 30} both deviate by round(sqrt(50)) = 7,
  //        the tie keeps Q1 -> mean 15 (Q2 would give 25);
  // x = 2: Q2 is the pixel alone -> 30, beating Q1 {10, 20, 30} (deviation 14).
  auto B = MakeBitmap(3, 1);
  B->SetPixel(0, 0, 0x400A0A0Au);
  B->SetPixel(1, 0, 0x40141414u);
  B->SetPixel(2, 0, 0x401E1E1Eu);
  KuwaharaFilter(B.get(), 1, 255);
  EXPECT_EQ(B->GetPixel(0, 0), 0xFF0A0A0Au);
  EXPECT_EQ(B->GetPixel(1, 0), 0xFF0F0F0Fu);
  EXPECT_EQ(B->GetPixel(2, 0), 0xFF1E1E1Eu);
  // The same ramp standing upright: Q1 (above) against Q3 (below).
  auto C = MakeBitmap(1, 3);
  C->SetPixel(0, 0, 0xFF0A0A0Au);
  C->SetPixel(0, 1, 0xFF141414u);
  C->SetPixel(0, 2, 0xFF1E1E1Eu);
  KuwaharaFilter(C.get(), 1, 255);
  EXPECT_EQ(C->GetPixel(0, 1), 0xFF0F0F0Fu);
  // A middle level blends the quadrant mean over the old pixel.
  auto D = MakeBitmap(3, 1);
  D->SetPixel(0, 0, 0xFF0A0A0Au);
  D->SetPixel(1, 0, 0xFF141414u);
  D->SetPixel(2, 0, 0xFF1E1E1Eu);
  KuwaharaFilter(D.get(), 1, 128);
  TColor32 Expected = 0xFF141414u;
  BlendPixelInto(0x800F0F0Fu, Expected);
  EXPECT_EQ(D->GetPixel(1, 0), Expected);
}

TEST(Kuwahara, PicksTheQuietestQuadrant) {
  // Left half black, right half noisy: a pixel on the left border of the
  // noise sees a quiet quadrant on the left (Q1 or Q3) and takes its mean,
  // so the step edge stays sharp.
  auto B = MakeBitmap(8, 8, 0xFF000000u);
  std::mt19937 Rng(1);
  for (int y = 0; y < 8; ++y)
    for (int x = 4; x < 8; ++x) B->SetPixel(x, y, 0xFF000000u | (Rng() & 0xFFFFFF));
  KuwaharaFilter(B.get(), 1, 255);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(B->GetPixel(x, y), 0xFF000000u) << x << "," << y;
  KuwaharaFilter(nullptr, 1, 255);
  KuwaharaFilter(B.get(), 0x40000000, 255);
}

}  // namespace
