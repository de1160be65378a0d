#pragma once
// Colour reduction for GIF frames: a palette, a lookup from an RGB value to a
// palette index, and a dither engine that walks the pixels in serpentine
// order (left to right, then right to left) diffusing the quantisation error.
// ReduceColors puts the three together and yields an 8-bit palette bitmap.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform_graphics.h"

enum GifReduction : uint8_t {
  ReduceOff = 0,
  ReduceSystem20 = 1,
  ReduceHalftone = 2,
  ReduceFourGrays = 3,
  ReduceBlackWhite = 4,
  ReduceGrays256 = 5,
  ReduceWebCube = 6,
  ReduceOctree = 7,
  ReduceOctreeSystem = 8,
  ReduceCustomPalette = 9,
};

enum GifDither : uint8_t {
  DitherNone = 0,
  DitherFloyd = 1,
  DitherStucki = 2,
  DitherSierra = 3,
  DitherJaJuNi = 4,
  DitherSteveArche = 5,
  DitherBurkes = 6,
};

// The 216 colours of the web cube, index = r x 36 + g x 6 + b, levels 51 apart.
std::vector<uint32_t> WebPalette();

// ---- Lookups ---------------------------------------------------------------

class TColorLookup {
 public:
  explicit TColorLookup(int32_t Colors) : colors_(Colors) {}
  virtual ~TColorLookup() = default;
  // The palette index for the colour; R_, G_, B_ receive that entry's colour.
  virtual int32_t Lookup(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B) = 0;
  // 0: the lookup has no colours.
  int32_t Colors() const { return colors_; }

 protected:
  int32_t colors_;
};

// The nearest palette entry (NearestPaletteIndex's rule: least squared RGB
// distance, the first of equals). Entries sorted by green bound the search,
// and, for large pictures, a memo of every colour met spares repeats.
class TSlowColorLookup : public TColorLookup {
 public:
  explicit TSlowColorLookup(const std::vector<uint32_t>& Palette, bool Memo = false);
  int32_t Lookup(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B) override;
  int32_t Nearest(uint32_t Rgb, int32_t Hint = -1) const;
  // The index alone, through the memo when there is one. Safe on several
  // threads at once: a memo slot only ever goes from unknown to the one
  // index every thread would compute for it. Hint, an entry likely to be
  // near (the previous pixel's, say), only shortens the search.
  inline int32_t IndexOf(uint32_t Rgb, int32_t Hint = -1) const {
    if (!memo_) return Nearest(Rgb, Hint);
    // Colours near each other share cache lines when their bits interleave.
    std::atomic_ref<uint16_t> m(memo_[MortonKey(Rgb)]);
    uint16_t v = m.load(std::memory_order_relaxed);
    if (v == 0) {
      v = static_cast<uint16_t>(Nearest(Rgb, Hint) + 1);
      m.store(v, std::memory_order_relaxed);
    }
    return v - 1;
  }
  const std::vector<uint32_t>& Palette() const { return palette_; }

 private:
  std::vector<uint32_t> palette_;
  struct TEntry {
    int32_t g, r, b, index;
  };
  std::vector<TEntry> byGreen_;
  int32_t firstOfGreen_[257];
  struct TFree {
    void operator()(void* P) const;
  };
  // Index + 1 per 24-bit colour, 0 unknown; calloc'd, so a picture's few
  // million colours touch only the pages they fall on.
  std::unique_ptr<uint16_t[], TFree> memo_;

 public:
  // The bits of red, green and blue interleaved, red's highest.
  static size_t MortonKey(uint32_t Rgb) {
    return size_t{kSpread[(Rgb >> 16) & 0xFF]} << 2 | size_t{kSpread[(Rgb >> 8) & 0xFF]} << 1 | kSpread[Rgb & 0xFF];
  }

 private:
  // Bit b of a byte moved to bit 3b.
  static constexpr std::array<uint32_t, 256> kSpread = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t v = 0; v < 256; ++v)
      for (uint32_t b = 0; b < 8; ++b) t[v] |= ((v >> b) & 1u) << (3 * b);
    return t;
  }();
};

class TNetscapeColorLookup : public TColorLookup {
 public:
  TNetscapeColorLookup() : TColorLookup(216) {}
  int32_t Lookup(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B) override;
};

class TGrayScaleLookup : public TColorLookup {
 public:
  TGrayScaleLookup() : TColorLookup(256) {}
  int32_t Lookup(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B) override;
};

class TMonochromeLookup : public TColorLookup {
 public:
  TMonochromeLookup() : TColorLookup(2) {}
  int32_t Lookup(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B) override;
};

// ---- Dither engines ----------------------------------------------------------

// The nearest colour without diffusion; the base of the others.
class TDitherEngine {
 public:
  TDitherEngine(int32_t Width, TColorLookup& Lookup) : Width(Width), lookup_(Lookup) {}
  virtual ~TDitherEngine() = default;
  // The index for the pixel at Column; advances Column by Direction.
  virtual int32_t Dither(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B);
  // Steps over the pixel at Column as one that was met exactly: it takes no
  // carried error and spreads none (transparent pixels are not dithered).
  virtual void Skip() { Column += Direction; }
  virtual void NextLine();

  int32_t Direction = 1;
  int32_t Column = 0;
  int32_t Width;

 protected:
  TColorLookup& lookup_;
};

class TFloydSteinbergDitherer : public TDitherEngine {
 public:
  TFloydSteinbergDitherer(int32_t Width, TColorLookup& Lookup);
  int32_t Dither(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B) override;
  void Skip() override;
  void NextLine() override;

 private:
  struct TChannel {
    std::vector<int32_t> buffer;
    int32_t cur = 0, below = 0, belowPrev = 0;
  };
  TChannel ch_[3];
  int32_t p_ = 0;
};

// Error diffusion over Rows rows through a table of weights. Each row keeps
// Width + 2 x Margin errors per channel; the current column sits at
// Margin + x in every row, whichever the direction.
class TKernelDitherer : public TDitherEngine {
 public:
  struct TWeight {
    int32_t row, ahead, weight;  // ahead < 0: behind
  };
  TKernelDitherer(int32_t Width, TColorLookup& Lookup, int32_t Rows, int32_t Margin, int32_t Divisor,
                  std::vector<TWeight> Kernel);
  int32_t Dither(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B) override;
  void Skip() override {
    p_ += Direction;
    Column += Direction;
  }
  void NextLine() override;

 protected:
  // Adds the error of one channel to its rows.
  void Propagate(std::vector<int32_t>* Rows, int32_t Error);

 private:
  int32_t rows_, margin_, divisor_;
  std::vector<TWeight> kernel_;
  std::vector<std::vector<int32_t>> errors_[3];  // per channel, rows 0..Rows-1
  int32_t p_;
};

class T5by3Ditherer : public TKernelDitherer {
 public:
  T5by3Ditherer(int32_t Width, TColorLookup& Lookup, int32_t Divisor, std::vector<TWeight> Kernel)
      : TKernelDitherer(Width, Lookup, 3, 2, Divisor, std::move(Kernel)) {}
};

class TStuckiDitherer : public T5by3Ditherer {
 public:
  TStuckiDitherer(int32_t Width, TColorLookup& Lookup);
};
class TSierraDitherer : public T5by3Ditherer {
 public:
  TSierraDitherer(int32_t Width, TColorLookup& Lookup);
};
class TJaJuNiDitherer : public T5by3Ditherer {
 public:
  TJaJuNiDitherer(int32_t Width, TColorLookup& Lookup);
};
class TSteveArcheDitherer : public TKernelDitherer {
 public:
  TSteveArcheDitherer(int32_t Width, TColorLookup& Lookup);
};
class TBurkesDitherer : public TKernelDitherer {
 public:
  TBurkesDitherer(int32_t Width, TColorLookup& Lookup);
};

// The engine of a dither mode; null for a value outside GifDither.
std::unique_ptr<TDitherEngine> CreateDitherEngine(int32_t Mode, int32_t Width, TColorLookup& Lookup);

// ---- Octree ------------------------------------------------------------------

// Octree colour quantiser: every colour added walks down by one bit of each
// channel per level; when there are more leaves than wanted the deepest
// reducible node is folded into a leaf.
//
// Only the first pixel of each colour can change the tree: a colour met again
// ends at a leaf on its own path (folding moves that leaf up, never off the
// path), and its sums reach the same leaf whenever they are added, because a
// fold carries its children's sums up with it. So the pixels are counted per
// colour, every new colour building the tree in the order the pixels bring
// it, and each colour adds its count times its channels to its leaf once the
// tree is built. The tree comes out as one pixel at a time would build it.
class TColorQuantizer {
 public:
  TColorQuantizer(int32_t MaxColors, int32_t ColorBits = 8);
  void AddColor(uint32_t Rgb);
  void AddColors(const uint32_t* Pixels, size_t Count);
  // The same, leaving out the pixels whose RGB is Skip (above 0xFFFFFF: none).
  void AddColors(const uint32_t* Pixels, size_t Count, uint32_t Skip);
  // The leaves depth-first, children in index order; each the mean of its colours.
  std::vector<uint32_t> ColorTable() const;
  int32_t LeafCount() const { return leafCount_; }

 private:
  struct TOctreeNode {
    int32_t child[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    int32_t next = -1;
    bool leaf = false;
  };
  struct TSums {
    uint64_t count = 0, red = 0, green = 0, blue = 0;
  };
  struct TFree {
    void operator()(void* P) const;
  };
  int32_t NewNode(int32_t Level);
  bool Reduce();
  // Walks Code (the interleaved colour bits) down, making missing nodes.
  void Insert(uint32_t Code);
  // Adds Count pixels of Rgb to the leaf its path ends at now.
  void AddToLeaf(uint32_t Rgb, uint64_t Count);
  void Walk(int32_t Node, std::vector<uint32_t>& Table) const;

  std::vector<TOctreeNode> nodes_;
  std::vector<TSums> sums_;
  std::vector<int32_t> free_;
  // Per colour, by interleaved code (so that near colours share cache
  // lines): kSeen once the colour has reached the tree, and its pixels of
  // the current AddColors not yet summed in its leaf.
  static constexpr uint32_t kSeen = 0x8000u, kCount = 0x7FFFu;
  std::unique_ptr<uint16_t[], TFree> counts_;
  std::vector<uint32_t> touched_;  // colours of the current AddColors
  int32_t reducible_[9];
  int32_t maxColors_, colorBits_;
  int32_t leafCount_ = 0;
  int32_t root_;
};

// ---- The reduction -----------------------------------------------------------

// The indices and palette of a reduction, row by row (what the 8-bit result holds).
struct TReducedImage {
  int32_t Width = 0, Height = 0;
  std::vector<uint8_t> Indices;
  std::vector<uint32_t> Palette;  // 0xFFRRGGBB
};

// Reduces the source's RGB (alpha is ignored) with the palette, lookup and
// engine Reduction and DitherMode name. False, with Out empty, for values
// outside the two sets or ReduceOff. Bits: 2^Bits colours for ReduceOctree.
bool ReduceColorsToIndices(const TPlatformBitmap& Source, int32_t Reduction, int32_t DitherMode,
                           int32_t ReductionBits, const std::vector<uint32_t>* CustomPalette, TReducedImage& Out);

// A new bitmap: ReduceOff a 24-bit copy; else the 8-bit reduction, or an
// empty bitmap when Reduction or DitherMode is none of the known values.
std::unique_ptr<TPlatformBitmap> ReduceColors(const TPlatformBitmap& Source, int32_t Reduction, int32_t DitherMode,
                                              int32_t ReductionBits,
                                              const std::vector<uint32_t>* CustomPalette = nullptr);

// The colours of Pixels (RGB of 0xAARRGGBB) reduced to at most Colors octree
// colours, pixels whose RGB equals KeyRgb left out when HasKey.
std::vector<uint32_t> OctreePalette(const uint32_t* Pixels, size_t Count, int32_t Colors, bool HasKey = false,
                                    uint32_t KeyRgb = 0);

