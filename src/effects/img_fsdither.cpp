// Error diffusion and colour counting.
#include "img_fsdither.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <vector>

#include "img_common.h"
#include "img_comp.h"

namespace {

// Tables of DitherFloydSteinberg, indexed by an error 0..255.
struct TByteErrorTables {
  std::array<uint8_t, 256> T1, T3, T5, T7;
  TByteErrorTables() {
    for (int e = 0; e < 256; ++e) {
      T1[e] = static_cast<uint8_t>(e >> 4);
      T3[e] = static_cast<uint8_t>((3 * e) >> 4);
      T5[e] = static_cast<uint8_t>((5 * e) >> 4);
      T7[e] = static_cast<uint8_t>((7 * e) >> 4);
    }
  }
};

// Tables of DitherBlackWhite, indexed by an error -255..255 (stored at e + 255).
struct TGreyErrorTables {
  std::array<int32_t, 511> T1, T3, T5, T7;
  TGreyErrorTables() {
    for (int e = -255; e <= 255; ++e) {
      T1[e + 255] = static_cast<int32_t>(std::nearbyint(e / 8.0));
      T3[e + 255] = static_cast<int32_t>(std::nearbyint(3 * e / 8.0));
      T5[e + 255] = static_cast<int32_t>(std::nearbyint(5 * e / 8.0));
      T7[e + 255] = static_cast<int32_t>(std::nearbyint(7 * e / 8.0));
    }
  }
};

const TByteErrorTables& ByteTables() {
  static const TByteErrorTables T;
  return T;
}

const TGreyErrorTables& GreyTables() {
  static const TGreyErrorTables T;
  return T;
}

// The running error of the black-and-white dither can grow past the tables
// when neighbours keep overflowing; it is held to their range before a lookup.
inline int32_t Lookup(const std::array<int32_t, 511>& T, int32_t E) {
  return T[static_cast<size_t>(std::clamp(E, -255, 255) + 255)];
}

inline TColor32 ErrorColour(const std::array<uint8_t, 256>& T, int32_t ER, int32_t EG, int32_t EB) {
  return (static_cast<TColor32>(T[ER]) << 16) | (static_cast<TColor32>(T[EG]) << 8) | T[EB];
}

inline void AddInto(TColor32& Pixel, TColor32 Error) { Pixel = AddSaturated(Pixel, Error); }

// One row of the serpentine walk both dithers take: the first row runs right
// to left, the next left to right, and so on, so the error is not always
// pushed the same way. D is the step, Below the next row (null on the last).
struct TSerpentineRow {
  int32_t D, Start, End;
  bool NextRow;
  TColor32* Row;
  TColor32* Below;
};

TSerpentineRow SerpentineRow(TBitmap32* Bmp, int32_t y) {
  const int32_t W = Bmp->Width();
  const int32_t D = y % 2 == 0 ? -1 : 1;
  const bool NextRow = y + 1 < Bmp->Height();
  return {D, D < 0 ? W - 1 : 0, D < 0 ? 0 : W - 1, NextRow, Bmp->RowPtr(y), NextRow ? Bmp->RowPtr(y + 1) : nullptr};
}

}  // namespace

TColor32 AddSaturated(TColor32 A, TColor32 B) {
  const int32_t R = std::min(255, RedOf(A) + RedOf(B));
  const int32_t G = std::min(255, GreenOf(A) + GreenOf(B));
  const int32_t Bl = std::min(255, BlueOf(A) + BlueOf(B));
  return (A & 0xFF000000u) | (static_cast<TColor32>(R) << 16) | (static_cast<TColor32>(G) << 8) |
         static_cast<TColor32>(Bl);
}

void DitherFloydSteinberg(TBitmap32* Bmp, int32_t N) {
  if (!HasPixels(Bmp) || N < 1 || N > 7) return;
  const TByteErrorTables& T = ByteTables();
  const uint32_t M = (255u >> N) << N;
  const uint32_t L = ~M & 255u;
  const TColor32 PixelMask = 0xFF000000u | (M << 16) | (M << 8) | M;
  for (int32_t y = 0; y < Bmp->Height(); ++y) {
    const auto [D, Start, End, NextRow, Row, Below] = SerpentineRow(Bmp, y);
    for (int32_t x = Start;; x += D) {
      const TColor32 P = Row[x];
      const int32_t ER = static_cast<int32_t>((P >> 16) & L);
      const int32_t EG = static_cast<int32_t>((P >> 8) & L);
      const int32_t EB = static_cast<int32_t>(P & L);
      Row[x] = P & PixelMask;
      if (x != End) {
        AddInto(Row[x + D], ErrorColour(T.T7, ER, EG, EB));
        if (NextRow) AddInto(Below[x + D], ErrorColour(T.T1, ER, EG, EB));
      }
      if (NextRow) {
        AddInto(Below[x], ErrorColour(T.T5, ER, EG, EB));
        if (x != Start) AddInto(Below[x - D], ErrorColour(T.T3, ER, EG, EB));
      }
      if (x == End) break;
    }
  }
  Bmp->Changed();
}

void DiffuseGreyError(TColor32* Pixel, int32_t& E) {
  // Wide sum: the error is never more than a few hundred, but the caller's
  // integer is not ours to trust.
  const int64_t V = int64_t{RedOf(*Pixel)} + E;
  const int32_t R = ClampToByte64(V);
  E = static_cast<int32_t>(std::clamp<int64_t>(V - R, INT32_MIN, INT32_MAX));
  *Pixel = (*Pixel & 0xFF000000u) | GrayArgb(R, 0);
}

void DitherBlackWhite(TBitmap32* Bmp) {
  if (!HasPixels(Bmp)) return;
  Greyscale(Bmp, 255);
  const TGreyErrorTables& T = GreyTables();
  int32_t E = 0;
  // Passes a share of E to Pixel and keeps the complementary share plus what
  // the neighbour could not take.
  auto Share = [&E](const std::array<int32_t, 511>& Given, const std::array<int32_t, 511>& Kept,
                    TColor32* Pixel) {
    int32_t F = Lookup(Given, E);
    const int32_t K = Lookup(Kept, E);
    DiffuseGreyError(Pixel, F);
    E = K + F;
  };
  for (int32_t y = 0; y < Bmp->Height(); ++y) {
    const auto [D, Start, End, NextRow, Row, Below] = SerpentineRow(Bmp, y);
    for (int32_t x = Start;; x += D) {
      const int32_t V = RedOf(Row[x]);
      const int32_t Out = V < 128 ? 0 : 255;
      E = static_cast<int32_t>(std::clamp<int64_t>(int64_t{E} + (V - Out), INT32_MIN, INT32_MAX));
      Row[x] = (Row[x] & 0xFF000000u) | GrayArgb(Out, 0);
      if (x != End) {
        Share(T.T7, T.T1, &Row[x + D]);
        if (NextRow) Share(T.T1, T.T7, &Below[x + D]);
      }
      if (NextRow) {
        Share(T.T5, T.T3, &Below[x]);
        if (x != Start) Share(T.T3, T.T5, &Below[x - D]);
      }
      if (x == End) break;
    }
  }
  Bmp->Changed();
}

int32_t CountColors(const TBitmap32* Bmp) {
  if (!HasPixels(Bmp)) return 0;
  // One 256-byte map per value of the top 16 bits, made only for the slots
  // that occur, so few-colour images stay small.
  std::vector<std::unique_ptr<uint8_t[]>> Slots(65536);
  const TColor32* P = Bmp->Bits();
  const size_t N = Bmp->PixelCount();
  for (size_t i = 0; i < N; ++i) {
    const TColor32 C = P[i] & 0xFFFFFFu;
    auto& Map = Slots[C >> 8];
    if (!Map) Map.reset(new uint8_t[256]());
    Map[C & 0xFF] = 1;
  }
  int32_t Total = 0;
  for (auto& Map : Slots) {
    if (!Map) continue;
    for (int i = 0; i < 256; ++i) Total += Map[i];
    Map.reset();
  }
  return Total;
}
