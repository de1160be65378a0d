#pragma once
// Small bitmap builders shared by the effect tests.
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "raster_core.h"

inline std::unique_ptr<TBitmap32> MakeBitmap(int32_t W, int32_t H, TColor32 Fill = 0xFF000000u) {
  auto B = std::make_unique<TBitmap32>();
  B->SetSize(W, H);
  if (W > 0 && H > 0) for (size_t i = 0; i < B->PixelCount(); ++i) B->Bits()[i] = Fill;
  return B;
}

// Pseudo-random pixels; with Palette > 0 only that many distinct colours
// (many equal intensities, which is what the median's tie rule is about).
inline std::unique_ptr<TBitmap32> RandomBitmap(int32_t W, int32_t H, uint32_t Seed, int Palette = 0) {
  auto B = MakeBitmap(W, H);
  std::mt19937 Rng(Seed);
  std::vector<TColor32> Colours;
  for (int i = 0; i < Palette; ++i) Colours.push_back(static_cast<TColor32>(Rng()));
  for (size_t i = 0; i < B->PixelCount(); ++i)
    B->Bits()[i] = Palette > 0 ? Colours[Rng() % Palette] : static_cast<TColor32>(Rng());
  return B;
}

// Pixels from a palette of Groups x PerGroup colours where the colours of a
// group differ but share one intensity: windows full of ties.
inline std::unique_ptr<TBitmap32> TiedBitmap(int32_t W, int32_t H, uint32_t Seed, int Groups = 3, int PerGroup = 3) {
  std::mt19937 Rng(Seed);
  std::vector<TColor32> Colours;
  for (int g = 0; g < Groups; ++g) {
    TColor32 First = static_cast<TColor32>(Rng()) | 0xFF000000u;
    Colours.push_back(First);
    const TColor32 I = (((First >> 16) & 0xFF) * 61 + ((First >> 8) & 0xFF) * 174 + (First & 0xFF) * 21) >> 8;
    while (static_cast<int>(Colours.size()) < (g + 1) * PerGroup) {
      const TColor32 C = static_cast<TColor32>(Rng()) | 0xFF000000u;
      if ((((C >> 16) & 0xFF) * 61 + ((C >> 8) & 0xFF) * 174 + (C & 0xFF) * 21) >> 8 == I && C != First)
        Colours.push_back(C);
    }
  }
  auto B = MakeBitmap(W, H);
  for (size_t i = 0; i < B->PixelCount(); ++i) B->Bits()[i] = Colours[Rng() % Colours.size()];
  return B;
}

inline std::vector<TColor32> Pixels(const TBitmap32& B) {
  return std::vector<TColor32>(B.Bits(), B.Bits() + B.PixelCount());
}
