// Colour-depth reduction against a plain model: every palette depth is the
// nearest colour by a full search (squared RGB distance, first of equals) in
// palettes written out here from their definitions, and the 15- and 16-bit
// depths keep the top bits of each channel. Inputs include every grey and
// colours on the ties between the cube levels and the grey ramp.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "effects_fixtures.h"
#include "img_depth.h"
#include "platform_graphics.h"

namespace {

std::vector<uint32_t> Vga() {
  return {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0x808080,
          0xC0C0C0, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
}

std::vector<uint32_t> Halftone() {
  std::vector<uint32_t> p;
  for (uint32_t r = 0; r <= 255; r += 51)
    for (uint32_t g = 0; g <= 255; g += 51)
      for (uint32_t b = 0; b <= 255; b += 51) p.push_back(r << 16 | g << 8 | b);
  for (uint32_t i = 1; i <= 40; ++i) {
    const uint32_t v = i * 255 / 41;
    p.push_back(v << 16 | v << 8 | v);
  }
  return p;
}

uint32_t Nearest(const std::vector<uint32_t>& Pal, uint32_t C) {
  int64_t best = -1;
  uint32_t out = 0;
  for (uint32_t e : Pal) {
    int64_t d = 0;
    for (int s = 0; s < 24; s += 8) {
      const int64_t a = (C >> s) & 0xFF, b = (e >> s) & 0xFF;
      d += (a - b) * (a - b);
    }
    if (best < 0 || d < best) best = d, out = e;
  }
  return 0xFF000000u | out;
}

uint32_t Model(int32_t Bits, uint32_t C) {
  switch (Bits) {
    case 1: return Nearest({0x000000, 0xFFFFFF}, C);
    case 4: return Nearest(Vga(), C);
    case 8: return Nearest(Halftone(), C);
    case 15: return 0xFF000000u | (C & 0xF8F8F8u);
    case 16: return 0xFF000000u | (C & 0xF8FCF8u);
    default: return C;
  }
}

// Random colours, every grey, greys one step off in each channel, colours
// around the midpoints of the cube levels, and the black/white boundary.
std::vector<uint32_t> Probes() {
  std::vector<uint32_t> c;
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) c.push_back(rng());
  for (uint32_t v = 0; v < 256; ++v) {
    c.push_back(0x5A000000u | v << 16 | v << 8 | v);
    for (int d = -2; d <= 2; ++d) {
      const uint32_t w = static_cast<uint32_t>(std::clamp<int>(static_cast<int>(v) + d, 0, 255));
      c.push_back(v << 16 | v << 8 | w);
      c.push_back(w << 16 | v << 8 | v);
    }
  }
  for (uint32_t m : {25u, 26u, 76u, 77u, 127u, 128u, 178u, 179u, 229u, 230u})
    for (uint32_t n : {0u, 25u, 26u, 51u, 127u, 128u, 255u}) c.push_back(m << 16 | n << 8 | m);
  for (uint32_t s = 380; s <= 385; ++s) c.push_back((s / 3) << 16 | (s / 3) << 8 | (s - 2 * (s / 3)));
  return c;
}

}  // namespace

TEST(ColorDepth, EveryDepthMatchesFullSearchAndIsOpaque) {
  const std::vector<uint32_t> probes = Probes();
  for (int32_t bits : {1, 4, 8, 15, 16, 2, 24}) {
    SCOPED_TRACE(bits);
    auto b = MakeBitmap(static_cast<int32_t>(probes.size()), 1);
    std::copy(probes.begin(), probes.end(), b->Bits());
    int changes = 0;
    b->OnChange = [&changes](void*) { ++changes; };
    ReduceColorDepth(b.get(), bits);
    const bool known = bits == 1 || bits == 4 || bits == 8 || bits == 15 || bits == 16;
    EXPECT_EQ(changes, known ? 1 : 0);
    size_t wrong = 0;
    for (size_t i = 0; i < probes.size(); ++i)
      if (b->Bits()[i] != (known ? Model(bits, probes[i]) : probes[i])) ++wrong;
    EXPECT_EQ(wrong, 0u);
  }
}

TEST(ColorDepth, CubeInverseMapAgreesWithPaletteSearchOnALattice) {
  // Every third value in each channel (85^3 colours) against the platform's own search.
  const std::vector<uint32_t>& pal = CubePalette();
  ASSERT_EQ(pal.size(), 256u);
  size_t wrong = 0;
  for (uint32_t r = 0; r < 256; r += 3)
    for (uint32_t g = 1; g < 256; g += 3)
      for (uint32_t b = 2; b < 256; b += 3) {
        const uint32_t c = r << 16 | g << 8 | b;
        if (NearestCubeIndex(c) != NearestPaletteIndex(pal, c)) ++wrong;
      }
  EXPECT_EQ(wrong, 0u);
}
