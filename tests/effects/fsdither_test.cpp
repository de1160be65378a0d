// Error diffusion and colour counting.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "effects_fixtures.h"
#include "img_fsdither.h"

namespace {

TEST(AddSaturatedAndDiffuseGreyError, KnownAnswers) {
  EXPECT_EQ(AddSaturated(MakeArgb(200, 100, 50, 0x12), MakeArgb(100, 100, 100, 0xFF)), MakeArgb(255, 200, 150, 0x12));
  struct TCase {
    int32_t Red, E, Out, Left;
  };
  for (const TCase& C : {TCase{250, 10, 255, 5}, TCase{20, -300, 0, -280}, TCase{100, 28, 128, 0}}) {
    TColor32 P = MakeArgb(C.Red, 1, 2, 0x33);
    int32_t E = C.E;
    DiffuseGreyError(&P, E);
    EXPECT_EQ(P, GrayArgb(C.Out, 0x33));
    EXPECT_EQ(E, C.Left);
  }
}

TEST(DitherFloydSteinberg, KeepsTheTopBitsAndAlpha) {
  auto U = MakeBitmap(16, 9, 0x40878787u);
  DitherFloydSteinberg(U.get(), 4);
  for (TColor32 P : Pixels(*U)) {
    EXPECT_EQ(AlphaOf(P), 0x40);
    for (int32_t C : {RedOf(P), GreenOf(P), BlueOf(P)}) EXPECT_TRUE(C == 0x80 || C == 0x90) << C;
  }
  for (int32_t N = 1; N <= 7; ++N) {
    auto B = RandomBitmap(23, 11, 40 + N);
    const auto Before = Pixels(*B);
    DitherFloydSteinberg(B.get(), N);
    const TColor32 Low = (1u << N) - 1;
    for (size_t i = 0; i < Before.size(); ++i)
      ASSERT_EQ(B->Bits()[i] & (0xFF000000u | Low | Low << 8 | Low << 16), Before[i] & 0xFF000000u) << N;
  }
}

TEST(DitherFloydSteinberg, FirstRowRunsRightToLeft) {
  // 0x0F, four bits dropped. From the right: 15 -> 0 passing 7*15/16 = 6 on;
  // 21 -> 16 passing 2; 17 -> 16. Left to right would give the mirror image.
  auto B = MakeBitmap(3, 1, 0xFF0F0F0Fu);
  DitherFloydSteinberg(B.get(), 4);
  EXPECT_EQ(Pixels(*B), (std::vector<TColor32>{0xFF101010u, 0xFF101010u, 0xFF000000u}));
  DitherFloydSteinberg(B.get(), 8);  // out of range: nothing
  EXPECT_EQ(B->GetPixel(0, 0), 0xFF101010u);
}

TEST(DitherBlackWhite, SerpentineAndTwoLevels) {
  // Grey 128: the first pixel (top right) turns white, and its error of -127
  // pushes the next one below 128.
  auto B = MakeBitmap(4, 3, GrayArgb(128));
  DitherBlackWhite(B.get());
  EXPECT_EQ(B->GetPixel(3, 0), GrayArgb(255));
  EXPECT_EQ(B->GetPixel(2, 0), GrayArgb(0));
  // Grey 64 comes out about a quarter white, opaque after the grey scale.
  auto G = MakeBitmap(64, 64, GrayArgb(64, 0x77));
  DitherBlackWhite(G.get());
  int White = 0;
  for (TColor32 P : Pixels(*G)) {
    ASSERT_TRUE(P == 0xFF000000u || P == 0xFFFFFFFFu) << std::hex << P;
    White += P == 0xFFFFFFFFu;
  }
  EXPECT_NEAR(White / 4096.0, 0.25, 0.02);
}

TEST(CountColors, DistinctColoursIgnoringAlpha) {
  auto One = MakeBitmap(5, 5, 0xFF123456u);
  One->SetPixel(1, 1, 0x00123456u);
  EXPECT_EQ(CountColors(One.get()), 1);
  TBitmap32 Empty;
  EXPECT_EQ(CountColors(&Empty), 0);
  auto R = RandomBitmap(100, 50, 8, 300);
  std::set<TColor32> Set;
  for (TColor32 P : Pixels(*R)) Set.insert(P & 0xFFFFFF);
  EXPECT_EQ(CountColors(R.get()), static_cast<int32_t>(Set.size()));
  // Colours that share a slot (the same top 16 bits) are told apart.
  auto S = MakeBitmap(256, 1);
  for (int32_t x = 0; x < 256; ++x) S->SetPixel(x, 0, 0xFFABCD00u | static_cast<TColor32>(x));
  EXPECT_EQ(CountColors(S.get()), 256);
}

// Plain full-image models of both dithers: the picture as a grid of integer
// channels, walked in the serpentine order (the first row right to left),
// every share added at its neighbour's place in the grid. Comparing every pixel
// over many rows shows a share sent to the wrong place or past a row's end.
struct TGrid {
  int32_t W, H;
  std::vector<int32_t> V;  // 4 entries a pixel: alpha, red, green, blue
  explicit TGrid(const TBitmap32& B) : W(B.Width()), H(B.Height()) {
    for (TColor32 P : Pixels(B))
      V.insert(V.end(), {static_cast<int32_t>(AlphaOf(P)), RedOf(P), GreenOf(P), BlueOf(P)});
  }
  int32_t& At(int32_t x, int32_t y, int c) { return V[(static_cast<size_t>(y) * W + x) * 4 + c]; }
  bool Inside(int32_t x, int32_t y) const { return x >= 0 && x < W && y >= 0 && y < H; }
  std::vector<TColor32> Colours() const {
    std::vector<TColor32> Out;
    for (size_t i = 0; i < V.size(); i += 4) Out.push_back(MakeArgb(V[i + 1], V[i + 2], V[i + 3], V[i]));
    return Out;
  }
  template <typename F>
  void Serpentine(F&& Visit) {
    for (int32_t y = 0; y < H; ++y) {
      const int32_t d = y % 2 == 0 ? -1 : 1;
      for (int32_t i = 0; i < W; ++i) Visit(d < 0 ? W - 1 - i : i, y, d);
    }
  }
};

std::vector<TColor32> FloydSteinbergModel(const TBitmap32& B, int32_t N) {
  TGrid G(B);
  const int32_t Low = (1 << N) - 1;
  G.Serpentine([&](int32_t x, int32_t y, int32_t d) {
    for (int c = 1; c <= 3; ++c) {
      const int32_t e = G.At(x, y, c) & Low;
      G.At(x, y, c) -= e;
      const struct { int32_t dx, dy, w; } shares[] = {{d, 0, 7}, {d, 1, 1}, {0, 1, 5}, {-d, 1, 3}};
      for (const auto& s : shares)
        if (G.Inside(x + s.dx, y + s.dy)) {
          int32_t& n = G.At(x + s.dx, y + s.dy, c);
          n = std::min(255, n + s.w * e / 16);
        }
    }
  });
  return G.Colours();
}

// k * e / 8 rounded half to even, in integers.
int32_t EighthsToEven(int32_t k, int32_t e) {
  const int32_t n = k * e;
  const int32_t fl = n >= 0 ? n / 8 : -((-n + 7) / 8);
  const int32_t r = n - 8 * fl;
  return r > 4 || (r == 4 && (fl & 1)) ? fl + 1 : fl;
}

// The black-and-white dither on grey input: one running error; each neighbour
// is given k/8 of it, keeps what its byte cannot take, and the rest stays with
// the error.
std::vector<TColor32> BlackWhiteModel(const TBitmap32& B) {
  TGrid G(B);
  int32_t E = 0;
  G.Serpentine([&](int32_t x, int32_t y, int32_t d) {
    const int32_t v = G.At(x, y, 1);
    const int32_t out = v < 128 ? 0 : 255;
    E += v - out;
    for (int c = 1; c <= 3; ++c) G.At(x, y, c) = out;
    const struct { int32_t dx, dy, give; } shares[] = {{d, 0, 7}, {d, 1, 1}, {0, 1, 5}, {-d, 1, 3}};
    for (const auto& s : shares) {
      if (!G.Inside(x + s.dx, y + s.dy)) continue;
      const int32_t e = std::clamp(E, -255, 255);
      const int32_t given = EighthsToEven(s.give, e), kept = EighthsToEven(8 - s.give, e);
      const int32_t sum = G.At(x + s.dx, y + s.dy, 1) + given;
      const int32_t r = std::clamp(sum, 0, 255);
      for (int c = 1; c <= 3; ++c) G.At(x + s.dx, y + s.dy, c) = r;
      E = kept + (sum - r);
    }
  });
  return G.Colours();
}

TEST(DitherFloydSteinberg, EveryPixelMatchesThePlainModel) {
  std::mt19937 Rng(3);
  for (auto [W, H] : {std::pair{1, 1}, {1, 6}, {5, 1}, {2, 2}, {7, 5}, {23, 11}, {64, 9}})
    for (int32_t N = 1; N <= 7; ++N) {
      auto B = RandomBitmap(W, H, Rng());
      const auto Expected = FloydSteinbergModel(*B, N);
      DitherFloydSteinberg(B.get(), N);
      ASSERT_EQ(Pixels(*B), Expected) << W << "x" << H << " N " << N;
    }
}

TEST(DitherBlackWhite, EveryPixelMatchesThePlainModel) {
  std::mt19937 Rng(5);
  for (auto [W, H] : {std::pair{1, 1}, {1, 6}, {5, 1}, {2, 2}, {7, 5}, {23, 11}, {64, 9}})
    for (int Kind = 0; Kind < 3; ++Kind) {
      // Random greys, a flat grey on the threshold, and extremes that overflow.
      auto B = MakeBitmap(W, H);
      for (size_t i = 0; i < B->PixelCount(); ++i) {
        const int32_t g = Kind == 0 ? static_cast<int32_t>(Rng() % 256) : Kind == 1 ? 128 : (Rng() % 2) * 255;
        B->Bits()[i] = GrayArgb(g, 0xFF);
      }
      const auto Expected = BlackWhiteModel(*B);
      DitherBlackWhite(B.get());
      ASSERT_EQ(Pixels(*B), Expected) << W << "x" << H << " kind " << Kind;
    }
}

}  // namespace
