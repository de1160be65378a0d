// Colour reduction: the lookups' edges, the reduction invariants, the dither
// engines against a plain full-image model of error diffusion, and the octree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <set>

#include "gif_reduce.h"
#include "raster_parallel.h"
#include "test_startup.h"

namespace {

// A smooth picture with some texture: gradients in three directions plus noise.
TPlatformBitmap Photo(int W, int H, uint32_t Seed) {
  TPlatformBitmap b;
  b.SetSize(W, H);
  uint32_t s = Seed;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      s = s * 1664525u + 1013904223u;
      const int n = static_cast<int>(s >> 28) - 8;
      const int r = std::clamp(x * 255 / std::max(1, W - 1) + n, 0, 255);
      const int g = std::clamp(y * 255 / std::max(1, H - 1) - n, 0, 255);
      const int bl = std::clamp((x + y) * 127 / std::max(1, W + H) + 60 + n, 0, 255);
      b.ScanLine(y)[x] = 0xFF000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(bl);
    }
  return b;
}

double MeanError(const TPlatformBitmap& Src, const TReducedImage& R) {
  double sum = 0;
  for (size_t i = 0; i < R.Indices.size(); ++i) {
    const uint32_t a = Src.Bits()[i], b = R.Palette[R.Indices[i]];
    for (int sh : {16, 8, 0}) sum += std::abs(int((a >> sh) & 255) - int((b >> sh) & 255));
  }
  return sum / (3.0 * R.Indices.size());
}

// The largest difference of a channel's mean over the picture.
double MeanShift(const TPlatformBitmap& Src, const TReducedImage& R) {
  double worst = 0;
  for (int sh : {16, 8, 0}) {
    double d = 0;
    for (size_t i = 0; i < R.Indices.size(); ++i)
      d += int((Src.Bits()[i] >> sh) & 255) - int((R.Palette[R.Indices[i]] >> sh) & 255);
    worst = std::max(worst, std::abs(d / R.Indices.size()));
  }
  return worst;
}

// A lookup whose chosen colour never equals the value asked for, so every
// error is non-zero (the Floyd-Steinberg engine adds nothing for a zero one).
class TInvertedLookup : public TColorLookup {
 public:
  TInvertedLookup() : TColorLookup(8) {}
  int32_t Lookup(int32_t Red, int32_t Green, int32_t Blue, int32_t& R, int32_t& G, int32_t& B) override {
    R = Red < 128 ? 255 : 0;
    G = Green < 128 ? 255 : 0;
    B = Blue < 128 ? 255 : 0;
    return (R ? 4 : 0) | (G ? 2 : 0) | (B ? 1 : 0);
  }
};

struct TW {
  int row, ahead, weight;
};

// Error diffusion over the whole picture at once: one error array of the
// picture's size per channel, rows visited alternately left to right and
// right to left, errors falling outside the picture dropped.
std::vector<uint8_t> ModelDither(const TPlatformBitmap& Src, TColorLookup& L, int Divisor, const std::vector<TW>& K) {
  const int w = Src.Width(), h = Src.Height();
  std::vector<int64_t> err[3];
  for (auto& e : err) e.assign(size_t(w) * h, 0);
  std::vector<uint8_t> out(size_t(w) * h);
  for (int y = 0; y < h; ++y) {
    const int dir = y % 2 ? -1 : 1;
    for (int i = 0; i < w; ++i) {
      const int x = dir > 0 ? i : w - 1 - i;
      const uint32_t c = Src.ScanLine(y)[x];
      int v[3], o[3];
      for (int ch = 0; ch < 3; ++ch) {
        const int64_t q = (err[ch][size_t(y) * w + x] + Divisor / 2) / Divisor;  // toward zero
        v[ch] = int(std::clamp<int64_t>(int((c >> (16 - 8 * ch)) & 255) + q, 0, 255));
      }
      out[size_t(y) * w + x] = uint8_t(L.Lookup(v[0], v[1], v[2], o[0], o[1], o[2]));
      for (int ch = 0; ch < 3; ++ch)
        for (const TW& k : K) {
          const int tx = x + k.ahead * dir, ty = y + k.row;
          if (tx >= 0 && tx < w && ty < h) err[ch][size_t(ty) * w + tx] += int64_t(k.weight) * (v[ch] - o[ch]);
        }
    }
  }
  return out;
}

std::vector<uint8_t> RunEngine(const TPlatformBitmap& Src, TDitherEngine& E) {
  const int w = Src.Width();
  std::vector<uint8_t> out(size_t(w) * Src.Height());
  int32_t r, g, b;
  for (int y = 0; y < Src.Height(); ++y) {
    while (E.Column >= 0 && E.Column < w) {
      const int x = E.Column;
      const uint32_t c = Src.ScanLine(y)[x];
      out[size_t(y) * w + x] = uint8_t(E.Dither(int((c >> 16) & 255), int((c >> 8) & 255), int(c & 255), r, g, b));
    }
    E.NextLine();
  }
  return out;
}


// The octree the plain way, one pixel at a time: each colour walks down from
// the root by one bit of red, green and blue per level and adds itself to the
// leaf it ends at; after every pixel the deepest reducible node is folded
// while there are more leaves than wanted.
class TModelOctree {
 public:
  explicit TModelOctree(int Max) : max_(Max) { root_ = Make(0); }

  void Add(uint32_t Rgb) {
    const int r = (Rgb >> 16) & 255, g = (Rgb >> 8) & 255, b = Rgb & 255;
    TNode* n = root_.get();
    for (int level = 0; !n->leaf; ++level) {
      const int s = 7 - level;
      const int i = ((r >> s) & 1) << 2 | ((g >> s) & 1) << 1 | ((b >> s) & 1);
      if (!n->child[i]) n->child[i] = Make(level + 1);
      n = n->child[i].get();
    }
    ++n->count;
    n->sum[0] += uint64_t(r);
    n->sum[1] += uint64_t(g);
    n->sum[2] += uint64_t(b);
    while (leaves_ > max_) {
      int level = 7;
      while (level > 0 && !reducible_[level]) --level;
      TNode* f = reducible_[level];
      if (!f) break;
      reducible_[level] = f->next;
      int children = 0;
      for (auto& c : f->child) {
        if (!c) continue;
        f->count += c->count;
        for (int k = 0; k < 3; ++k) f->sum[k] += c->sum[k];
        c.reset();
        ++children;
      }
      f->leaf = true;
      leaves_ -= children - 1;
    }
  }

  std::vector<uint32_t> Table() const {
    std::vector<uint32_t> t;
    Walk(*root_, t);
    return t;
  }

 private:
  struct TNode {
    bool leaf = false;
    uint64_t count = 0, sum[3] = {};
    TNode* next = nullptr;
    std::unique_ptr<TNode> child[8];
  };
  std::unique_ptr<TNode> Make(int Level) {
    auto n = std::make_unique<TNode>();
    if (Level == 8) {
      n->leaf = true;
      ++leaves_;
    } else {
      n->next = reducible_[Level];
      reducible_[Level] = n.get();
    }
    return n;
  }
  static void Walk(const TNode& N, std::vector<uint32_t>& T) {
    if (N.leaf) {
      uint32_t c = 0xFF000000u;
      if (N.count)
        for (int k = 0; k < 3; ++k) c |= uint32_t(N.sum[k] / N.count) << (16 - 8 * k);
      T.push_back(c);
      return;
    }
    for (const auto& c : N.child)
      if (c) Walk(*c, T);
  }
  std::unique_ptr<TNode> root_;
  TNode* reducible_[8] = {};
  int leaves_ = 0, max_;
};

std::vector<uint32_t> ModelPalette(const std::vector<uint32_t>& Px, int Colors, bool HasKey = false, uint32_t Key = 0) {
  TModelOctree m(Colors);
  for (uint32_t c : Px)
    if (!HasKey || (c & 0xFFFFFF) != (Key & 0xFFFFFF)) m.Add(c & 0xFFFFFF);
  std::vector<uint32_t> t = m.Table();
  if (t.size() > size_t(Colors)) t.resize(size_t(Colors));
  return t;
}

// Least squared RGB distance over every entry, the first of equals.
int ModelNearest(const std::vector<uint32_t>& Pal, uint32_t C) {
  int best = 0, bestD = 1 << 30;
  for (size_t i = 0; i < Pal.size(); ++i) {
    int d = 0;
    for (int sh : {16, 8, 0}) {
      const int e = int((Pal[i] >> sh) & 255) - int((C >> sh) & 255);
      d += e * e;
    }
    if (d < bestD) {
      bestD = d;
      best = int(i);
    }
  }
  return best;
}

// Octree inputs of several kinds: what they are, and their pixels.
struct TOctreeInput {
  const char* name;
  std::vector<uint32_t> pixels;
};

std::vector<TOctreeInput> OctreeInputs() {
  std::vector<TOctreeInput> in;
  uint32_t s = 77;
  const auto next = [&] { return s = s * 1664525u + 1013904223u; };
  std::vector<uint32_t> v;
  for (int i = 0; i < 6000; ++i) v.push_back(0xFF000000u | next() >> 8);
  in.push_back({"spread colours", v});
  const TPlatformBitmap photo = Photo(150, 90, 11);
  in.push_back({"photo", std::vector<uint32_t>(photo.Bits(), photo.Bits() + 150 * 90)});
  // Runs of one colour, and a cycle of colours that keep coming back after
  // the tree has folded the leaves they first made.
  v.clear();
  for (int i = 0; i < 400; ++i) v.insert(v.end(), 1 + next() % 9, 0xFF000000u | next() >> 8);
  for (int round = 0; round < 5; ++round)
    for (int i = 0; i < 700; ++i) v.push_back(0xFF000000u | (uint32_t(i) * 2654435761u) >> 8);
  in.push_back({"runs and returning colours", v});
  // Tight clusters (deep, narrow subtrees) and greys (one diagonal).
  v.clear();
  for (int i = 0; i < 5000; ++i) {
    const uint32_t centre = (next() >> 29) * 0x1F2F3Fu & 0xFFFFFFu;
    v.push_back(0xFF000000u | ((centre + (next() >> 29) * 0x010101u) & 0xFFFFFFu));
  }
  for (int i = 0; i < 256; ++i) v.push_back(0xFF000000u | uint32_t(i) * 0x010101u);
  in.push_back({"clusters and greys", v});
  // Fewer colours than any palette asked for: every leaf one colour.
  v.clear();
  for (int i = 0; i < 900; ++i) v.push_back(0xFF000000u | (uint32_t((i % 150) * 7919) & 0xFFFFFFu));
  in.push_back({"150 colours", v});
  // Runs longer than a 16-bit count, some colours coming back.
  v.clear();
  for (int i = 0; i < 7; ++i) v.insert(v.end(), 33000 + next() % 9000, 0xFF000000u | (i % 4 * 0x3F2A17u + 0x102030u));
  in.push_back({"runs of over 32767 pixels", v});
  // 40000 black and 20000 of (3, 3, 3): a one-colour tree's mean is exactly
  // (1, 1, 1), and one black pixel counted too many or too few moves it.
  v.assign(40000, 0xFF000000u);
  v.insert(v.end(), 20000, 0xFF030303u);
  in.push_back({"a mean exactly on a whole number", v});
  in.push_back({"one pixel", {0xFF123456u}});
  return in;
}

}  // namespace

TEST(GifReduce, LookupEdges) {
  TNetscapeColorLookup web;
  int32_t r, g, b;
  EXPECT_EQ(web.Lookup(47, 0, 0, r, g, b), 0);
  EXPECT_EQ(web.Lookup(48, 0, 0, r, g, b), 36);
  EXPECT_EQ(r, 51);
  EXPECT_EQ(web.Lookup(0, 255, 0, r, g, b), 30);
  EXPECT_EQ(web.Lookup(255, 0, 0, r, g, b), 180);
  // Levels change at 48, 99, 150, 201, 252: (c + 3) div 51, not the nearest.
  for (int c = 0; c < 256; ++c) {
    const int want = c < 48 ? 0 : c < 99 ? 1 : c < 150 ? 2 : c < 201 ? 3 : c < 252 ? 4 : 5;
    EXPECT_EQ(web.Lookup(0, 0, c, r, g, b), want) << c;
    EXPECT_EQ(b, 51 * want);
  }
  TMonochromeLookup mono;
  int below = 0, above = 0;
  for (int R = 0; R < 256; ++R)
    for (int G = 0; G < 256; G += 1) {
      const int rest = 32512 - 77 * R - 150 * G;
      if (rest >= 0 && rest % 29 == 0 && rest / 29 < 256) {
        ++below;
        EXPECT_EQ(mono.Lookup(R, G, rest / 29, r, g, b), 0);
      }
      if ((rest + 1) >= 0 && (rest + 1) % 29 == 0 && (rest + 1) / 29 < 256) {
        ++above;
        EXPECT_EQ(mono.Lookup(R, G, (rest + 1) / 29, r, g, b), 1);
        EXPECT_EQ(r, 255);
      }
    }
  EXPECT_GT(below, 0);
  EXPECT_GT(above, 0);
  TGrayScaleLookup grey;
  EXPECT_EQ(grey.Lookup(255, 255, 255, r, g, b), 255);
  EXPECT_EQ(grey.Lookup(10, 200, 30, r, g, b), (77 * 10 + 150 * 200 + 29 * 30) >> 8);
  // The slow lookup agrees with the platform's nearest entry everywhere.
  const std::vector<uint32_t>& sys = SystemPalette20();
  TSlowColorLookup slow(sys, true);
  for (uint32_t c = 0; c < (1u << 24); c += 4099) {
    EXPECT_EQ(slow.Nearest(c), NearestPaletteIndex(sys, c | 0xFF000000u));
    // A hint, near or far or outside the palette, only shortens the search.
    EXPECT_EQ(slow.Nearest(c, int32_t(c % 23) - 1), NearestPaletteIndex(sys, c | 0xFF000000u)) << c;
  }
  TSlowColorLookup halftone(CubePalette());
  for (uint32_t c = 0; c < (1u << 24); c += 7919) EXPECT_EQ(halftone.Nearest(c), NearestCubeIndex(c));
}

TEST(GifReduce, EveryModeKeepsItsInvariants) {
  VemraTestStartup();
  const TPlatformBitmap photo = Photo(97, 41, 5);
  for (int red = ReduceSystem20; red <= ReduceOctreeSystem; ++red)
    for (int dm = DitherNone; dm <= DitherBurkes; ++dm) {
      SCOPED_TRACE(testing::Message() << "reduction " << red << " dither " << dm);
      TReducedImage r;
      ASSERT_TRUE(ReduceColorsToIndices(photo, red, dm, 8, nullptr, r));
      const size_t colors = red == ReduceWebCube ? 216 : red == ReduceBlackWhite ? 2 : red == ReduceFourGrays ? 4
                            : red == ReduceSystem20 ? 20 : 256;
      if (red != ReduceOctree) EXPECT_EQ(r.Palette.size(), colors);
      for (uint8_t i : r.Indices) ASSERT_LT(i, r.Palette.size());
      // Diffusion keeps the picture's mean colour; the rich palettes keep
      // each pixel near its own colour.
      if (red != ReduceBlackWhite && red != ReduceFourGrays && red != ReduceGrays256 && dm != DitherNone)
        EXPECT_LT(MeanShift(photo, r), red == ReduceSystem20 ? 8.0 : 3.0);  // 20 colours: errors lost at the edges
      if (red == ReduceHalftone || red == ReduceWebCube || red == ReduceOctree || red == ReduceOctreeSystem)
        EXPECT_LT(MeanError(photo, r), red == ReduceOctree || red == ReduceOctreeSystem ? 12.0 : 30.0);
    }
  // Colours exactly on the cube stay exact, dithered or not: all errors are 0.
  TPlatformBitmap cube;
  cube.SetSize(36, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 36; ++x) cube.ScanLine(y)[x] = WebPalette()[size_t(y * 36 + x)];
  TPlatformBitmap flat;
  flat.SetSize(23, 9);
  std::fill(flat.Bits(), flat.Bits() + 23 * 9, 0xFF33CC66u);
  for (int dm = DitherNone; dm <= DitherBurkes; ++dm) {
    TReducedImage r;
    ASSERT_TRUE(ReduceColorsToIndices(flat, ReduceWebCube, dm, 8, nullptr, r));
    for (uint8_t i : r.Indices) ASSERT_EQ(i, 1 * 36 + 4 * 6 + 2) << dm;
    ASSERT_TRUE(ReduceColorsToIndices(cube, ReduceWebCube, dm, 8, nullptr, r));
    for (size_t i = 0; i < r.Indices.size(); ++i) ASSERT_EQ(r.Indices[i], i) << dm;
  }
  // Unknown values give nothing; ReduceOff keeps 24 bits.
  TReducedImage r;
  EXPECT_FALSE(ReduceColorsToIndices(photo, 10, DitherNone, 8, nullptr, r));
  EXPECT_FALSE(ReduceColorsToIndices(photo, ReduceWebCube, 7, 8, nullptr, r));
  EXPECT_FALSE(ReduceColorsToIndices(photo, ReduceCustomPalette, DitherNone, 8, nullptr, r));
  EXPECT_TRUE(ReduceColors(photo, 10, DitherNone, 8)->Empty());
  EXPECT_EQ(ReduceColors(photo, ReduceOff, DitherNone, 8)->PixelFormat(), TPixelFormat::pf24bit);
  const std::vector<uint32_t> custom = {0xFF000000u, 0xFFFF0000u, 0xFF0000FFu};
  const auto b = ReduceColors(photo, ReduceCustomPalette, DitherNone, 8, &custom);
  EXPECT_EQ(b->PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(b->Palette(), custom);
  for (int i = 0; i < 97 * 41; ++i) ASSERT_EQ(b->Bits()[i], custom[size_t(NearestPaletteIndex(custom, photo.Bits()[i]))]);
}

TEST(GifReduce, EnginesMatchAFullPictureModel) {
  const TPlatformBitmap photo = Photo(53, 17, 9);
  const std::vector<std::pair<int, std::vector<TW>>> kernels = {
      {16, {{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}}},
      {42, {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}, {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}}},
      {32, {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2}, {2, -1, 2}, {2, 0, 3}, {2, 1, 2}}},
      {48, {{0, 1, 7}, {0, 2, 5}, {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3}, {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}}},
      {200, {{0, 2, 32}, {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16}, {2, -2, 12}, {2, 0, 26}, {2, 2, 12}, {3, -3, 5}, {3, -1, 12}, {3, 1, 12}, {3, 3, 5}}},
      {32, {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}},
  };
  for (int mode = DitherFloyd; mode <= DitherBurkes; ++mode) {
    SCOPED_TRACE(mode);
    const auto& [div, k] = kernels[size_t(mode - 1)];
    TInvertedLookup inv;
    auto e = CreateDitherEngine(mode, photo.Width(), inv);
    EXPECT_EQ(RunEngine(photo, *e), ModelDither(photo, inv, div, k));
    if (mode == DitherFloyd) continue;  // zero errors follow its own rule
    TNetscapeColorLookup web;
    auto e2 = CreateDitherEngine(mode, photo.Width(), web);
    EXPECT_EQ(RunEngine(photo, *e2), ModelDither(photo, web, div, k));
  }
  // One row: a single left-to-right pass; the second row runs right to left.
  TNetscapeColorLookup web;
  TFloydSteinbergDitherer fs(5, web);
  int32_t r, g, b;
  for (int x = 0; x < 5; ++x) fs.Dither(100, 100, 100, r, g, b);
  EXPECT_EQ(fs.Column, 5);
  fs.NextLine();
  EXPECT_EQ(fs.Column, 4);
  EXPECT_EQ(fs.Direction, -1);
}

TEST(GifReduce, OctreeMatchesAPlainPerPixelModel) {
  for (const TOctreeInput& in : OctreeInputs())
    for (int colors : {1, 2, 7, 16, 236, 255, 256})
      for (bool keyed : {false, true}) {
        SCOPED_TRACE(testing::Message() << in.name << ", " << colors << " colours, key " << keyed);
        const uint32_t key = in.pixels[in.pixels.size() / 2];
        const std::vector<uint32_t> want = ModelPalette(in.pixels, colors, keyed, key);
        EXPECT_EQ(OctreePalette(in.pixels.data(), in.pixels.size(), colors, keyed, key), want);
        if (keyed) continue;
        // Colours fed in pieces of any length, single ones among them, give
        // the tree one pixel at a time gives.
        TColorQuantizer q(colors);
        uint32_t s = 5;
        for (size_t i = 0; i < in.pixels.size();) {
          s = s * 1664525u + 1013904223u;
          const size_t n = std::min<size_t>(in.pixels.size() - i, (s >> 24) % 3 == 0 ? 1 : (s >> 16) % 700);
          if (n == 1)
            q.AddColor(in.pixels[i]);
          else
            q.AddColors(in.pixels.data() + i, n);
          i += n;
        }
        std::vector<uint32_t> t = q.ColorTable();
        if (t.size() > size_t(colors)) t.resize(size_t(colors));
        EXPECT_EQ(t, want);
      }
}

TEST(GifReduce, OctreeReductionsMatchTheModelOnAnyNumberOfThreads) {
  // Above a million pixels the lookup keeps its memo of every colour met.
  const TPlatformBitmap big = Photo(1100, 960, 21);
  const TPlatformBitmap small = Photo(61, 37, 22);
  for (const TPlatformBitmap* src : {&small, &big}) {
    const size_t n = size_t(src->Width()) * size_t(src->Height());
    const std::vector<uint32_t> px(src->Bits(), src->Bits() + n);
    struct TCase {
      int reduction, bits;
    };
    for (const TCase c : {TCase{ReduceOctree, 8}, TCase{ReduceOctree, 3}, TCase{ReduceOctreeSystem, 8}}) {
      std::vector<uint32_t> pal;
      if (c.reduction == ReduceOctree) {
        pal = ModelPalette(px, 1 << c.bits);
      } else {
        const std::vector<uint32_t>& sys = SystemPalette20();
        pal.assign(sys.begin(), sys.begin() + 10);
        std::vector<uint32_t> t = ModelPalette(px, 236);
        t.resize(236, 0xFF000000u);
        pal.insert(pal.end(), t.begin(), t.end());
        pal.insert(pal.end(), sys.begin() + 10, sys.end());
      }
      std::map<uint32_t, int> nearest;
      std::vector<uint8_t> want(n);
      for (size_t i = 0; i < n; ++i) {
        const uint32_t rgb = px[i] & 0xFFFFFF;
        auto it = nearest.find(rgb);
        if (it == nearest.end()) it = nearest.emplace(rgb, ModelNearest(pal, rgb)).first;
        want[i] = uint8_t(it->second);
      }
      for (int threads : {1, 4}) {
        SCOPED_TRACE(testing::Message() << n << " pixels, reduction " << c.reduction << ", bits " << c.bits
                                        << ", threads " << threads);
        TThreadLimit limit(threads);
        TReducedImage r;
        ASSERT_TRUE(ReduceColorsToIndices(*src, c.reduction, DitherNone, c.bits, nullptr, r));
        EXPECT_EQ(r.Palette, pal);
        EXPECT_TRUE(r.Indices == want);
      }
    }
  }
}

TEST(GifReduce, OctreeKeepsFewColoursExactAndFoldsMany) {
  // 200 distinct colours fit: every leaf is one colour, the reduction is exact.
  TPlatformBitmap few;
  few.SetSize(40, 25);
  for (int i = 0; i < 1000; ++i) few.Bits()[i] = 0xFF000000u | uint32_t((i % 200) * 83 % 256) << 16 | uint32_t(i % 200) << 8 | 7;
  TReducedImage r;
  ASSERT_TRUE(ReduceColorsToIndices(few, ReduceOctree, DitherNone, 8, nullptr, r));
  EXPECT_EQ(r.Palette.size(), 200u);
  EXPECT_EQ(MeanError(few, r), 0.0);
  // A photo: at most 2^bits colours, and far nearer than the web cube.
  const TPlatformBitmap photo = Photo(256, 192, 3);
  for (int bits : {1, 4, 8}) {
    ASSERT_TRUE(ReduceColorsToIndices(photo, ReduceOctree, DitherNone, bits, nullptr, r));
    EXPECT_LE(r.Palette.size(), size_t(1) << bits);
    for (uint8_t i : r.Indices) ASSERT_LT(i, r.Palette.size());
  }
  const double octree = MeanError(photo, r);
  TReducedImage web;
  ASSERT_TRUE(ReduceColorsToIndices(photo, ReduceWebCube, DitherNone, 8, nullptr, web));
  EXPECT_LT(octree, MeanError(photo, web) / 2) << octree;
  EXPECT_LT(octree, 6.0);
  // Between the system colours: 10 at the front, 10 at the back.
  ASSERT_TRUE(ReduceColorsToIndices(photo, ReduceOctreeSystem, DitherNone, 8, nullptr, r));
  ASSERT_EQ(r.Palette.size(), 256u);
  EXPECT_TRUE(std::equal(SystemPalette20().begin(), SystemPalette20().begin() + 10, r.Palette.begin()));
  EXPECT_TRUE(std::equal(SystemPalette20().begin() + 10, SystemPalette20().end(), r.Palette.begin() + 246));
  // The key is left out of the palette made for a picture with a transparent colour.
  const std::vector<uint32_t> keyed = OctreePalette(few.Bits(), 1000, 255, true, few.Bits()[0]);
  EXPECT_EQ(keyed.size(), 199u);
  EXPECT_EQ(std::count(keyed.begin(), keyed.end(), few.Bits()[0] | 0xFF000000u), 0);
  // Sums of one colour over a huge count stay exact (64-bit sums).
  TColorQuantizer q(4);
  for (int i = 0; i < 3; ++i) q.AddColor(0xFFFFFF);
  std::vector<uint32_t> big(1 << 20, 0xFFFEFDu);
  for (int i = 0; i < 40; ++i) q.AddColors(big.data(), big.size());
  EXPECT_EQ(q.ColorTable(), (std::vector<uint32_t>{0xFFFFFEFDu, 0xFFFFFFFFu}));
}
