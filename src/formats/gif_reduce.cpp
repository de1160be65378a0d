// Colour reduction for GIF frames: palettes, lookups, dither engines and the
// octree quantiser. All divisions of error sums truncate toward zero (C++
// '/'), never a shift: the sums are negative as often as not.
#include "gif_reduce.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "raster_parallel.h"

std::vector<uint32_t> WebPalette() {
  std::vector<uint32_t> p;
  p.reserve(216);
  for (uint32_t r = 0; r < 6; ++r)
    for (uint32_t g = 0; g < 6; ++g)
      for (uint32_t b = 0; b < 6; ++b) p.push_back(0xFF000000u | (r * 51) << 16 | (g * 51) << 8 | b * 51);
  return p;
}

namespace {
// A zeroed table over all 2^24 colours; calloc maps only the pages a
// picture's colours reach.
void* AllColorsTable(size_t Bytes) {
  void* p = std::calloc(Bytes, 1);
  if (!p) throw std::bad_alloc();
  return p;
}
}  // namespace

// ---- Lookups ---------------------------------------------------------------

TSlowColorLookup::TSlowColorLookup(const std::vector<uint32_t>& Palette, bool Memo)
    : TColorLookup(static_cast<int32_t>(std::min<size_t>(256, Palette.size()))),
      palette_(Palette.begin(), Palette.begin() + colors_) {
  for (int32_t i = 0; i < colors_; ++i) {
    const uint32_t c = palette_[static_cast<size_t>(i)];
    byGreen_.push_back({static_cast<int32_t>((c >> 8) & 0xFF), static_cast<int32_t>((c >> 16) & 0xFF),
                        static_cast<int32_t>(c & 0xFF), i});
  }
  std::stable_sort(byGreen_.begin(), byGreen_.end(), [](const TEntry& a, const TEntry& b) { return a.g < b.g; });
  size_t k = 0;
  for (int32_t g = 0; g <= 256; ++g) {
    while (k < byGreen_.size() && byGreen_[k].g < g) ++k;
    firstOfGreen_[g] = static_cast<int32_t>(k);
  }
  // A photo meets a few million colours; the memo turns the rest of its
  // pixels into one read.
  if (Memo && colors_ > 0) {
    memo_.reset(static_cast<uint16_t*>(AllColorsTable((size_t{1} << 24) * sizeof(uint16_t))));
  }
}

int32_t TSlowColorLookup::Nearest(uint32_t Rgb, int32_t Hint) const {
  const int32_t r = static_cast<int32_t>((Rgb >> 16) & 0xFF), g = static_cast<int32_t>((Rgb >> 8) & 0xFF),
                b = static_cast<int32_t>(Rgb & 0xFF);
  int32_t best = 0, bestIndex = 0x7FFFFFFF;
  int32_t bestDist = 0x7FFFFFFF;
  // A near entry to start from: the walk below then stops much sooner, and
  // still visits every entry that could be nearer or as near.
  if (Hint >= 0 && Hint < colors_) {
    const uint32_t c = palette_[static_cast<size_t>(Hint)];
    const int32_t dr = static_cast<int32_t>((c >> 16) & 0xFF) - r, dg = static_cast<int32_t>((c >> 8) & 0xFF) - g,
                  db = static_cast<int32_t>(c & 0xFF) - b;
    best = bestIndex = Hint;
    bestDist = dr * dr + dg * dg + db * db;
  }
  const auto consider = [&](const TEntry& e) {
    const int32_t dr = e.r - r, dg = e.g - g, db = e.b - b;
    const int32_t d = dr * dr + dg * dg + db * db;
    if (d < bestDist || (d == bestDist && e.index < bestIndex)) {
      bestDist = d;
      bestIndex = e.index;
      best = e.index;
    }
  };
  const int32_t n = static_cast<int32_t>(byGreen_.size());
  const int32_t start = firstOfGreen_[g];
  // Outward from the entries of this green: an entry whose green alone is
  // farther than the best distance cannot win, nor can any beyond it.
  for (int32_t i = start; i < n; ++i) {
    const int32_t dg = byGreen_[static_cast<size_t>(i)].g - g;
    if (dg * dg > bestDist) break;
    consider(byGreen_[static_cast<size_t>(i)]);
  }
  for (int32_t i = start - 1; i >= 0; --i) {
    const int32_t dg = byGreen_[static_cast<size_t>(i)].g - g;
    if (dg * dg > bestDist) break;
    consider(byGreen_[static_cast<size_t>(i)]);
  }
  return best;
}

void TSlowColorLookup::TFree::operator()(void* P) const { std::free(P); }


int32_t TSlowColorLookup::Lookup(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B) {
  const uint32_t rgb = static_cast<uint32_t>(Red) << 16 | static_cast<uint32_t>(Green) << 8 | static_cast<uint32_t>(Blue);
  const int32_t index = IndexOf(rgb);
  const uint32_t c = palette_[static_cast<size_t>(index)];
  R = static_cast<int32_t>((c >> 16) & 0xFF);
  G = static_cast<int32_t>((c >> 8) & 0xFF);
  B = static_cast<int32_t>(c & 0xFF);
  return index;
}

int32_t TNetscapeColorLookup::Lookup(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B) {
  // (c + 3) div 51 rather than the nearest level: levels change at 48, 99,
  // 150, 201 and 252.
  const int32_t r = (Red + 3) / 51, g = (Green + 3) / 51, b = (Blue + 3) / 51;
  R = 51 * r;
  G = 51 * g;
  B = 51 * b;
  return b + 6 * g + 36 * r;
}

int32_t TGrayScaleLookup::Lookup(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B) {
  const int32_t grey = static_cast<int32_t>(static_cast<uint32_t>(77 * Red + 150 * Green + 29 * Blue) >> 8);
  R = G = B = grey;
  return grey;
}

int32_t TMonochromeLookup::Lookup(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B) {
  if (77 * Red + 150 * Green + 29 * Blue < 32513) {
    R = G = B = 0;
    return 0;
  }
  R = G = B = 255;
  return 1;
}

// ---- Dither engines ----------------------------------------------------------

int32_t TDitherEngine::Dither(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B) {
  const int32_t index = lookup_.Lookup(Red, Green, Blue, R, G, B);
  Column += Direction;
  return index;
}

void TDitherEngine::NextLine() {
  Direction = -Direction;
  Column = Direction > 0 ? 0 : Width - 1;
}

namespace {
inline int32_t Clamp255(int32_t V) { return V < 0 ? 0 : V > 255 ? 255 : V; }
}  // namespace

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int32_t Width, TColorLookup& Lookup) : TDitherEngine(Width, Lookup) {
  for (TChannel& c : ch_) c.buffer.assign(static_cast<size_t>(Width) + 2, 0);
}

int32_t TFloydSteinbergDitherer::Dither(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G,
                                        int32_t& B) {
  // The error carried from the row above is read one step ahead of p and
  // written at p: with Width + 2 entries that is the reading under which the
  // slots line up with the columns in both directions.
  const int32_t in[3] = {Red, Green, Blue};
  int32_t v[3];
  for (int32_t i = 0; i < 3; ++i) {
    TChannel& c = ch_[i];
    v[i] = Clamp255(in[i] + (c.cur + c.buffer[static_cast<size_t>(p_ + Direction)] + 8) / 16);
  }
  const int32_t index = lookup_.Lookup(v[0], v[1], v[2], R, G, B);
  const int32_t out[3] = {R, G, B};
  for (int32_t i = 0; i < 3; ++i) {
    TChannel& c = ch_[i];
    const int32_t e = v[i] - out[i];
    if (e != 0) {
      c.buffer[static_cast<size_t>(p_)] = c.belowPrev + 3 * e;
      c.belowPrev = c.below + 5 * e;
      c.below = e;
      c.cur = 7 * e;
    } else {
      c.cur = 0;
    }
  }
  p_ += Direction;
  Column += Direction;
  return index;
}

void TFloydSteinbergDitherer::Skip() {
  for (TChannel& c : ch_) c.cur = 0;  // what a zero error leaves behind
  p_ += Direction;
  Column += Direction;
}

void TFloydSteinbergDitherer::NextLine() {
  for (TChannel& c : ch_) {
    c.buffer[static_cast<size_t>(p_)] = c.belowPrev;
    c.cur = c.below = c.belowPrev = 0;
  }
  TDitherEngine::NextLine();
  p_ = Direction < 0 ? Width + 1 : 0;
}

TKernelDitherer::TKernelDitherer(int32_t Width, TColorLookup& Lookup, int32_t Rows, int32_t Margin, int32_t Divisor,
                                 std::vector<TWeight> Kernel)
    : TDitherEngine(Width, Lookup), rows_(Rows), margin_(Margin), divisor_(Divisor), kernel_(std::move(Kernel)),
      p_(Margin) {
  for (auto& ch : errors_) ch.assign(static_cast<size_t>(Rows), std::vector<int32_t>(static_cast<size_t>(Width + 2 * Margin), 0));
}

void TKernelDitherer::Propagate(std::vector<int32_t>* Rows, int32_t Error) {
  if (Error == 0) return;
  for (const TWeight& w : kernel_) Rows[w.row][static_cast<size_t>(p_ + w.ahead * Direction)] += w.weight * Error;
}

int32_t TKernelDitherer::Dither(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B) {
  const int32_t in[3] = {Red, Green, Blue};
  const int32_t half = divisor_ / 2;
  int32_t v[3];
  for (int32_t i = 0; i < 3; ++i) v[i] = Clamp255(in[i] + (errors_[i][0][static_cast<size_t>(p_)] + half) / divisor_);
  const int32_t index = lookup_.Lookup(v[0], v[1], v[2], R, G, B);
  const int32_t out[3] = {R, G, B};
  for (int32_t i = 0; i < 3; ++i) Propagate(errors_[i].data(), v[i] - out[i]);
  p_ += Direction;
  Column += Direction;
  return index;
}

void TKernelDitherer::NextLine() {
  for (auto& ch : errors_) {
    std::fill(ch[0].begin(), ch[0].end(), 0);
    std::rotate(ch.begin(), ch.begin() + 1, ch.end());
  }
  TDitherEngine::NextLine();
  p_ = Direction < 0 ? Width + margin_ - 1 : margin_;
}

TStuckiDitherer::TStuckiDitherer(int32_t Width, TColorLookup& Lookup)
    : T5by3Ditherer(Width, Lookup, 42,
                    {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},
                     {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}}) {}

TSierraDitherer::TSierraDitherer(int32_t Width, TColorLookup& Lookup)
    : T5by3Ditherer(Width, Lookup, 32,
                    {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2},
                     {2, -1, 2}, {2, 0, 3}, {2, 1, 2}}) {}

TJaJuNiDitherer::TJaJuNiDitherer(int32_t Width, TColorLookup& Lookup)
    : T5by3Ditherer(Width, Lookup, 48,
                    {{0, 1, 7}, {0, 2, 5}, {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3},
                     {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}}) {}

TSteveArcheDitherer::TSteveArcheDitherer(int32_t Width, TColorLookup& Lookup)
    : TKernelDitherer(Width, Lookup, 4, 3, 200,
                      {{0, 2, 32}, {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16}, {2, -2, 12},
                       {2, 0, 26}, {2, 2, 12}, {3, -3, 5}, {3, -1, 12}, {3, 1, 12}, {3, 3, 5}}) {}

TBurkesDitherer::TBurkesDitherer(int32_t Width, TColorLookup& Lookup)
    : TKernelDitherer(Width, Lookup, 2, 2, 32,
                      {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}) {}

std::unique_ptr<TDitherEngine> CreateDitherEngine(int32_t Mode, int32_t Width, TColorLookup& Lookup) {
  switch (Mode) {
    case DitherNone: return std::make_unique<TDitherEngine>(Width, Lookup);
    case DitherFloyd: return std::make_unique<TFloydSteinbergDitherer>(Width, Lookup);
    case DitherStucki: return std::make_unique<TStuckiDitherer>(Width, Lookup);
    case DitherSierra: return std::make_unique<TSierraDitherer>(Width, Lookup);
    case DitherJaJuNi: return std::make_unique<TJaJuNiDitherer>(Width, Lookup);
    case DitherSteveArche: return std::make_unique<TSteveArcheDitherer>(Width, Lookup);
    case DitherBurkes: return std::make_unique<TBurkesDitherer>(Width, Lookup);
    default: return nullptr;
  }
}

// ---- Octree ------------------------------------------------------------------

void TColorQuantizer::TFree::operator()(void* P) const { std::free(P); }

TColorQuantizer::TColorQuantizer(int32_t MaxColors, int32_t ColorBits)
    : maxColors_(std::max(1, MaxColors)), colorBits_(std::clamp(ColorBits, 1, 8)) {
  std::fill(std::begin(reducible_), std::end(reducible_), -1);
  nodes_.reserve(4096);
  sums_.reserve(4096);
  counts_.reset(static_cast<uint16_t*>(AllColorsTable((size_t{1} << 24) * sizeof(uint16_t))));
  root_ = NewNode(0);
}

int32_t TColorQuantizer::NewNode(int32_t Level) {
  int32_t n;
  if (!free_.empty()) {
    n = free_.back();
    free_.pop_back();
    nodes_[static_cast<size_t>(n)] = TOctreeNode{};
    sums_[static_cast<size_t>(n)] = TSums{};
  } else {
    n = static_cast<int32_t>(nodes_.size());
    nodes_.emplace_back();
    sums_.emplace_back();
  }
  TOctreeNode& node = nodes_[static_cast<size_t>(n)];
  if (Level == colorBits_) {
    node.leaf = true;
    ++leafCount_;
  } else {
    node.next = reducible_[Level];
    reducible_[Level] = n;
  }
  return n;
}

bool TColorQuantizer::Reduce() {
  int32_t level = colorBits_ - 1;
  while (level > 0 && reducible_[level] < 0) --level;
  const int32_t n = reducible_[level];
  if (n < 0) return false;  // nothing left to fold
  TOctreeNode& node = nodes_[static_cast<size_t>(n)];
  TSums& sum = sums_[static_cast<size_t>(n)];
  reducible_[level] = node.next;
  int32_t children = 0;
  for (int32_t& c : node.child) {
    if (c < 0) continue;
    const TSums& ch = sums_[static_cast<size_t>(c)];
    sum.count += ch.count;
    sum.red += ch.red;
    sum.green += ch.green;
    sum.blue += ch.blue;
    free_.push_back(c);
    c = -1;
    ++children;
  }
  node.leaf = true;
  leafCount_ -= children - 1;
  return true;
}

void TColorQuantizer::Insert(uint32_t Code) {
  int32_t n = root_;
  // The child index at each level is three bits of the interleaved code:
  // red's, green's and blue's bit of that level. A leaf made by folding ends
  // the walk.
  for (int32_t level = 0; !nodes_[static_cast<size_t>(n)].leaf; ++level) {
    const auto idx = static_cast<size_t>((Code >> (21 - 3 * level)) & 7);
    int32_t c = nodes_[static_cast<size_t>(n)].child[idx];
    if (c < 0) {
      c = NewNode(level + 1);
      nodes_[static_cast<size_t>(n)].child[idx] = c;
    }
    n = c;
  }
  // Folding a node of one child leaves the count as it was: fold on.
  while (leafCount_ > maxColors_ && Reduce()) {
  }
}

void TColorQuantizer::AddColor(uint32_t Rgb) { AddColors(&Rgb, 1, 0xFFFFFFFFu); }

void TColorQuantizer::AddColors(const uint32_t* Pixels, size_t Count) { AddColors(Pixels, Count, 0xFFFFFFFFu); }

void TColorQuantizer::AddColors(const uint32_t* Pixels, size_t Count, uint32_t Skip) {
  uint16_t* counts = counts_.get();
  touched_.clear();
  for (size_t i = 0; i < Count;) {
    const uint32_t rgb = Pixels[i] & 0xFFFFFFu;
    size_t j = i + 1;
    while (j < Count && (Pixels[j] & 0xFFFFFFu) == rgb) ++j;
    const size_t run = j - i;
    i = j;
    if (rgb == Skip) continue;
    const auto code = static_cast<uint32_t>(TSlowColorLookup::MortonKey(rgb));
    const uint32_t k = counts[code];
    if ((k & kCount) == 0) {
      if (k == 0) Insert(code);
      touched_.push_back(rgb);
    }
    size_t total = (k & kCount) + run;
    // A count about to overflow goes to the colour's leaf at once.
    if (total > kCount) {
      AddToLeaf(rgb, total);
      total = 0;
    }
    counts[code] = static_cast<uint16_t>(kSeen | total);
  }
  // The tree stands: each colour's pixels go to the leaf at the end of its
  // path. A colour listed twice (its count went to its leaf midway) finds
  // its count taken the first time.
  for (const uint32_t rgb : touched_) {
    uint16_t& k = counts[TSlowColorLookup::MortonKey(rgb)];
    AddToLeaf(rgb, k & kCount);
    k = kSeen;
  }
}

void TColorQuantizer::AddToLeaf(uint32_t Rgb, uint64_t Count) {
  const auto code = static_cast<uint32_t>(TSlowColorLookup::MortonKey(Rgb));
  int32_t n = root_;
  for (int32_t level = 0; !nodes_[static_cast<size_t>(n)].leaf; ++level)
    n = nodes_[static_cast<size_t>(n)].child[(code >> (21 - 3 * level)) & 7];
  TSums& s = sums_[static_cast<size_t>(n)];
  s.count += Count;
  s.red += Count * (Rgb >> 16);
  s.green += Count * ((Rgb >> 8) & 0xFF);
  s.blue += Count * (Rgb & 0xFF);
}

void TColorQuantizer::Walk(int32_t Node, std::vector<uint32_t>& Table) const {
  const TOctreeNode& n = nodes_[static_cast<size_t>(Node)];
  if (n.leaf) {
    const TSums& s = sums_[static_cast<size_t>(Node)];
    uint32_t c = 0xFF000000u;
    if (s.count > 0)
      c |= static_cast<uint32_t>(s.red / s.count) << 16 | static_cast<uint32_t>(s.green / s.count) << 8 |
           static_cast<uint32_t>(s.blue / s.count);
    Table.push_back(c);
    return;
  }
  for (int32_t c : n.child)
    if (c >= 0) Walk(c, Table);
}

std::vector<uint32_t> TColorQuantizer::ColorTable() const {
  std::vector<uint32_t> t;
  t.reserve(static_cast<size_t>(leafCount_));
  Walk(root_, t);
  return t;
}

std::vector<uint32_t> OctreePalette(const uint32_t* Pixels, size_t Count, int32_t Colors, bool HasKey,
                                    uint32_t KeyRgb) {
  TColorQuantizer q(Colors);
  q.AddColors(Pixels, Count, HasKey ? KeyRgb & 0xFFFFFFu : 0xFFFFFFFFu);
  std::vector<uint32_t> t = q.ColorTable();
  if (t.size() > static_cast<size_t>(Colors)) t.resize(static_cast<size_t>(Colors));
  return t;
}

// ---- The reduction -----------------------------------------------------------

namespace {
// Each channel's share of the web-cube index, (c + 3) div 51 times 36, 6 or 1.
constexpr std::array<std::array<uint8_t, 256>, 3> kCubeTerms = [] {
  std::array<std::array<uint8_t, 256>, 3> t{};
  for (int32_t c = 0; c < 256; ++c) {
    t[0][static_cast<size_t>(c)] = static_cast<uint8_t>((c + 3) / 51 * 36);
    t[1][static_cast<size_t>(c)] = static_cast<uint8_t>((c + 3) / 51 * 6);
    t[2][static_cast<size_t>(c)] = static_cast<uint8_t>((c + 3) / 51);
  }
  return t;
}();
}  // namespace

bool ReduceColorsToIndices(const TPlatformBitmap& Source, int32_t Reduction, int32_t DitherMode,
                           int32_t ReductionBits, const std::vector<uint32_t>* CustomPalette, TReducedImage& Out) {
  Out = TReducedImage{};
  const int32_t w = Source.Width(), h = Source.Height();
  const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
  if (pixels == 0) return false;
  std::vector<uint32_t> palette;
  switch (Reduction) {
    case ReduceSystem20: palette = SystemPalette20(); break;
    case ReduceHalftone: palette = CubePalette(); break;
    case ReduceFourGrays: palette = {0xFF000000u, 0xFF808080u, 0xFFC0C0C0u, 0xFFFFFFFFu}; break;
    case ReduceBlackWhite: palette = {0xFF000000u, 0xFFFFFFFFu}; break;
    case ReduceGrays256:
      for (uint32_t i = 0; i < 256; ++i) palette.push_back(0xFF000000u | i * 0x010101u);
      break;
    case ReduceWebCube: palette = WebPalette(); break;
    case ReduceOctree: {
      const int32_t bits = std::clamp(ReductionBits, 1, 8);
      palette = OctreePalette(Source.Bits(), pixels, 1 << bits);
      break;
    }
    case ReduceOctreeSystem: {
      const std::vector<uint32_t>& sys = SystemPalette20();
      std::vector<uint32_t> t = OctreePalette(Source.Bits(), pixels, 236);
      t.resize(236, 0xFF000000u);
      palette.assign(sys.begin(), sys.begin() + 10);
      palette.insert(palette.end(), t.begin(), t.end());
      palette.insert(palette.end(), sys.begin() + 10, sys.end());
      break;
    }
    case ReduceCustomPalette:
      if (CustomPalette) palette.assign(CustomPalette->begin(), CustomPalette->begin() + std::min<size_t>(256, CustomPalette->size()));
      break;
    default: return false;
  }
  std::unique_ptr<TColorLookup> lookup;
  switch (Reduction) {
    case ReduceBlackWhite: lookup = std::make_unique<TMonochromeLookup>(); break;
    case ReduceGrays256: lookup = std::make_unique<TGrayScaleLookup>(); break;
    case ReduceWebCube: lookup = std::make_unique<TNetscapeColorLookup>(); break;
    // The memo (32 MB) pays for itself on photographs, not on small pictures.
    default: lookup = std::make_unique<TSlowColorLookup>(palette, pixels > (size_t{1} << 20)); break;
  }
  if (lookup->Colors() == 0) return false;
  std::unique_ptr<TDitherEngine> engine = CreateDitherEngine(DitherMode, w, *lookup);
  if (!engine) return false;
  Out.Width = w;
  Out.Height = h;
  Out.Palette = std::move(palette);
  Out.Indices.resize(pixels);
  if (DitherMode == DitherNone) {
    // No error to carry: rows are independent, and every lookup may serve
    // several threads (the slow one's memo included).
    const auto* slow = dynamic_cast<const TSlowColorLookup*>(lookup.get());
    TColorLookup& any = *lookup;
    ParallelRows(0, h, RowsPerTask(w), [&](int32_t First, int32_t Last) {
      int32_t r, g, b;
      for (int32_t y = First; y < Last; ++y) {
        const uint32_t* src = Source.ScanLine(y);
        uint8_t* dst = Out.Indices.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
        if (Reduction == ReduceWebCube) {
          for (int32_t x = 0; x < w; ++x) {
            const uint32_t c = src[x];
            dst[x] = static_cast<uint8_t>(kCubeTerms[0][c >> 16 & 0xFF] + kCubeTerms[1][c >> 8 & 0xFF] +
                                          kCubeTerms[2][c & 0xFF]);
          }
        } else if (slow) {
          int32_t last = -1;
          for (int32_t x = 0; x < w; ++x) dst[x] = static_cast<uint8_t>(last = slow->IndexOf(src[x] & 0xFFFFFFu, last));
        } else {
          for (int32_t x = 0; x < w; ++x) {
            const uint32_t c = src[x];
            dst[x] = static_cast<uint8_t>(any.Lookup(static_cast<int32_t>((c >> 16) & 0xFF),
                                                     static_cast<int32_t>((c >> 8) & 0xFF),
                                                     static_cast<int32_t>(c & 0xFF), r, g, b));
          }
        }
      }
    });
    return true;
  }
  int32_t r, g, b;
  for (int32_t y = 0; y < h; ++y) {
    const uint32_t* src = Source.ScanLine(y);
    uint8_t* dst = Out.Indices.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    while (engine->Column >= 0 && engine->Column < w) {
      const int32_t x = engine->Column;
      const uint32_t c = src[x];
      dst[x] = static_cast<uint8_t>(engine->Dither(static_cast<int32_t>((c >> 16) & 0xFF),
                                                   static_cast<int32_t>((c >> 8) & 0xFF),
                                                   static_cast<int32_t>(c & 0xFF), r, g, b));
    }
    engine->NextLine();
  }
  return true;
}

std::unique_ptr<TPlatformBitmap> ReduceColors(const TPlatformBitmap& Source, int32_t Reduction, int32_t DitherMode,
                                              int32_t ReductionBits, const std::vector<uint32_t>* CustomPalette) {
  auto result = std::make_unique<TPlatformBitmap>();
  if (Reduction == ReduceOff) {
    *result = Source;
    result->SetPixelFormat(TPixelFormat::pf24bit);
    return result;
  }
  TReducedImage r;
  if (!ReduceColorsToIndices(Source, Reduction, DitherMode, ReductionBits, CustomPalette, r)) return result;
  result->SetPixelFormat(TPixelFormat::pf8bit);
  result->SetSize(r.Width, r.Height);
  uint32_t* out = result->Bits();
  for (size_t i = 0; i < r.Indices.size(); ++i) out[i] = r.Palette[r.Indices[i]];
  result->SetPalette(std::move(r.Palette));
  return result;
}

