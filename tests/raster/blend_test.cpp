// Blend routines: known answers, each family against a scalar model of its own
// formula (exhaustive over channel values where that is cheap, random rows
// otherwise), the merge tables, and the start-up's choice of family.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "raster_blend.h"
#include "raster_blend_family.h"
#include "raster_system.h"

namespace {

bool gStartupMmx = false;
const uint16_t* gStartupWeights = nullptr;

// Records what the start-up chose before any test re-fills the variables.
class StartupRecorder : public ::testing::Environment {
 public:
  void SetUp() override {
    gStartupMmx = MmxActive;
    gStartupWeights = WeightTable;
  }
};
[[maybe_unused]] auto* const gRecorder = ::testing::AddGlobalTestEnvironment(new StartupRecorder);

// The processor family runs where this build has it and the processor test
// passes (VEMRA_FORCE_PORTABLE=1 makes the test fail).
bool ProcessorFamilyExists() { return Sse2BlendFamily() != nullptr && CpuFeatureTest(ciSSE2); }

// Applies f to each of the four channels of X and Y (with an index for tests
// that vary by channel).
template <typename F>
TColor32 Channels(TColor32 X, TColor32 Y, F f) {
  TColor32 r = 0;
  for (int s = 0; s < 32; s += 8) r |= (static_cast<uint32_t>(f((X >> s) & 0xFF, (Y >> s) & 0xFF)) & 0xFF) << s;
  return r;
}

TColor32 PortableLerpModel(TColor32 X, TColor32 Y, uint32_t W) {
  return Channels(X, Y, [W](uint32_t x, uint32_t y) { return ((x * W + 128) >> 8) + ((y * (255 - W) + 128) >> 8); });
}
TColor32 LaneLerpModel(TColor32 X, TColor32 Y, uint32_t W) {
  return Channels(X, Y, [W](uint32_t x, uint32_t y) { return (x * W + y * (256 - W) + 128) >> 8; });
}

// Each family's stated behaviour, written per pixel and per channel.
struct FamilyModel {
  bool processor;
  TColor32 Lerp(TColor32 X, TColor32 Y, uint32_t W) const {
    return processor ? LaneLerpModel(X, Y, W) : PortableLerpModel(X, Y, W);
  }
  TColor32 Combine(TColor32 X, TColor32 Y, uint32_t W) const {
    if (processor) return Lerp(X, Y, W);
    return W == 0 ? Y : W == 255 ? X : Lerp(X, Y, W);
  }
  TColor32 CombineInto(TColor32 F, TColor32 B, uint32_t W) const {
    return W == 0 ? B : W == 255 ? F : Lerp(F, B, W);
  }
  TColor32 Blend(TColor32 F, TColor32 B) const {
    const uint32_t a = F >> 24;
    if (processor) return Lerp(F, B, a);
    return a == 255 ? F : a == 0 ? B : Lerp(F, B, a);
  }
  TColor32 BlendInto(TColor32 F, TColor32 B) const {
    const uint32_t a = F >> 24;
    return a == 0 ? B : a == 255 ? F : Lerp(F, B, a);
  }
  TColor32 BlendMaster(TColor32 F, TColor32 B, uint32_t M) const {
    const uint32_t w = ((M + 1) * (F >> 24)) >> 8;
    return w == 0 ? B : Lerp(F, B, w);
  }
  // The row variant of the processor family weighs by (Fa + 1) * M.
  TColor32 RowMasterPixel(TColor32 F, TColor32 B, uint32_t M) const {
    if (!processor) return BlendMaster(F, B, M);
    const uint32_t a = F >> 24;
    const uint32_t w = ((a + 1) * M) >> 8;
    return a == 0 || w == 0 ? B : Lerp(F, B, w);
  }
};

// Pixels with alpha 0 and 255 often, in runs, as layers have them.
std::vector<TColor32> RandomRow(std::mt19937& rng, size_t n) {
  std::vector<TColor32> row(n);
  for (size_t i = 0; i < n; ++i) {
    TColor32 c = rng();
    switch (rng() % 4) {
      case 0: c &= 0x00FFFFFFu; break;
      case 1: c |= 0xFF000000u; break;
      default: break;
    }
    if (i > 0 && rng() % 3 == 0) c = (c & 0x00FFFFFFu) | (row[i - 1] & 0xFF000000u);
    row[i] = c;
  }
  return row;
}

class BlendFamily : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam() && !ProcessorFamilyExists()) GTEST_SKIP() << "no processor family on this target";
    ASSERT_EQ(SelectBlendFamily(GetParam()), GetParam());
    model.processor = GetParam();
  }
  void TearDown() override { SelectBlendFamily(gStartupMmx); }
  FamilyModel model{};
};

INSTANTIATE_TEST_SUITE_P(Families, BlendFamily, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Processor" : "Portable"; });

TEST(BlendKnownAnswers, PortableFamily) {
  SelectBlendFamily(false);
  EXPECT_EQ(CombinePixels(0xFFFFFFFF, 0x00000000, 128), 0x80808080u);
  EXPECT_EQ(CombinePixels(0x12345678, 0x9ABCDEF0, 0), 0x9ABCDEF0u);
  EXPECT_EQ(CombinePixels(0x12345678, 0x9ABCDEF0, 255), 0x12345678u);
  EXPECT_EQ(BlendPixel(0x80FF0000, 0xFF0000FF), 0xBF80007Fu);
  EXPECT_EQ(BlendPixelMaster(0xFFFFFFFF, 0x00000000, 255), 0xFEFEFEFEu);
  EXPECT_EQ(MergePixel(0x80FF0000, 0x800000FF), 0xC0AA0055u);
  EXPECT_EQ(ColorExclusion(0xFFFFFFFF, 0xFFFFFFFF), 0x02020202u);
  EXPECT_EQ(ColorAverage(0x01030507, 0x02040608), 0x01030507u);
  EXPECT_EQ(IntensityOf(0xFF00FF00), 173);
  SelectBlendFamily(gStartupMmx);
}

TEST(BlendKnownAnswers, ProcessorFamilyDiffersByOneWhereItsFormulaDoes) {
  if (!ProcessorFamilyExists()) GTEST_SKIP();
  ASSERT_TRUE(SelectBlendFamily(true));
  EXPECT_EQ(CombinePixels(0xFFFFFFFF, 0x00000000, 128), 0x80808080u);
  EXPECT_EQ(CombinePixels(0x12345678, 0x9ABCDEF0, 0), 0x9ABCDEF0u);
  // W = 255 is not special: (255X + Y + 128) shr 8.
  EXPECT_EQ(CombinePixels(0xFFFFFFFF, 0x00000000, 255), 0xFEFEFEFEu);
  EXPECT_EQ(BlendPixel(0x80FF0000, 0xFF0000FF), 0xC0800080u);
  EXPECT_EQ(ColorExclusion(0xFFFFFFFF, 0xFFFFFFFF), 0x02020202u);
  EXPECT_EQ(ColorAverage(0x01030507, 0x02040608), 0x02040608u);
  SelectBlendFamily(gStartupMmx);
}

// Every weight with every pair of channel values (each channel of a pixel gets
// a different pair). For the portable family this also proves that its Lerp,
// which packs two channels into one multiply, equals the per-channel formula.
TEST_P(BlendFamily, CombineMatchesModelForEveryWeightAndChannelPair) {
  for (uint32_t w = 0; w < 256; ++w)
    for (uint32_t i = 0; i < 65536; ++i) {
      const TColor32 x = (i & 0xFF) * 0x01010101u ^ 0x00FF3C00u;
      const TColor32 y = (i >> 8) * 0x01010101u ^ 0x5A00FF00u;
      ASSERT_EQ(CombinePixels(x, y, w), model.Combine(x, y, w)) << w;
      TColor32 b = y;
      CombinePixelInto(x, b, w);
      ASSERT_EQ(b, model.CombineInto(x, y, w)) << w;
    }
}

TEST_P(BlendFamily, PixelBlendsMatchModelForEveryAlphaAndMaster) {
  std::mt19937 rng(12);
  for (uint32_t a = 0; a < 256; ++a)
    for (int k = 0; k < 300; ++k) {
      const TColor32 f = (rng() & 0x00FFFFFFu) | (a << 24), b = rng();
      const uint32_t m = (k % 4 == 0) ? 255 : rng() % 256;
      ASSERT_EQ(BlendPixel(f, b), model.Blend(f, b));
      TColor32 into = b;
      BlendPixelInto(f, into);
      ASSERT_EQ(into, model.BlendInto(f, b));
      ASSERT_EQ(BlendPixelMaster(f, b, m), model.BlendMaster(f, b, m));
      into = b;
      BlendPixelMasterInto(f, into, m);
      ASSERT_EQ(into, model.BlendMaster(f, b, m));
    }
}

TEST_P(BlendFamily, RowsMatchTheirPixelModels) {
  std::mt19937 rng(13);
  for (size_t n : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 17u, 64u, 1001u}) {
    for (int k = 0; k < 20; ++k) {
      const auto src = RandomRow(rng, n);
      const auto dst = RandomRow(rng, n);
      const uint32_t m = k == 0 ? 255 : rng() % 256;
      const uint32_t w = k == 0 ? 0 : k == 1 ? 255 : rng() % 256;
      auto blended = dst, mastered = dst, combined = dst;
      BlendRow(src.data(), blended.data(), static_cast<int32_t>(n));
      BlendRowMaster(src.data(), mastered.data(), static_cast<int32_t>(n), m);
      CombineRow(src.data(), combined.data(), static_cast<int32_t>(n), w);
      for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(blended[i], model.BlendInto(src[i], dst[i])) << n << " " << i;
        ASSERT_EQ(mastered[i], model.RowMasterPixel(src[i], dst[i], m)) << n << " " << i << " m=" << m;
        ASSERT_EQ(combined[i], model.CombineInto(src[i], dst[i], w)) << n << " " << i << " w=" << w;
      }
    }
  }
}

// A destination that starts inside its source row sees the pixels already
// written, exactly as a pixel-by-pixel walk does.
TEST_P(BlendFamily, RowsRunningIntoTheirSourceWalkPixelByPixel) {
  std::mt19937 rng(14);
  const auto start = RandomRow(rng, 40);
  auto buf = start;
  BlendRow(buf.data(), buf.data() + 1, 39);
  auto want = start;
  for (size_t i = 0; i < 39; ++i) want[i + 1] = model.BlendInto(want[i], want[i + 1]);
  EXPECT_EQ(buf, want);
}

TEST_P(BlendFamily, RowsWithCountBelowOneChangeNothing) {
  const std::vector<TColor32> src(8, 0x80FFFFFFu);
  for (int32_t count : {0, -1, -100}) {
    std::vector<TColor32> dst(8, 0x11223344u);
    BlendRow(src.data(), dst.data(), count);
    BlendRowMaster(src.data(), dst.data(), count, 200);
    CombineRow(src.data(), dst.data(), count, 100);
    MergeRow(src.data(), dst.data(), count);
    MergeRowMaster(src.data(), dst.data(), count, 200);
    EXPECT_EQ(dst, std::vector<TColor32>(8, 0x11223344u)) << count;
  }
}

TEST_P(BlendFamily, ColorOperationsMatchPerChannelFormulas) {
  const bool p = GetParam();
  for (uint32_t a = 0; a < 256; ++a)
    for (uint32_t b = 0; b < 256; ++b) {
      const TColor32 c1 = a | ((255 - a) << 8) | (((a + 77) & 0xFF) << 16) | ((a ^ 0x5A) << 24);
      const TColor32 c2 = b | (((b * 3) & 0xFF) << 8) | ((255 - b) << 16) | (((b + 200) & 0xFF) << 24);
      auto check = [&](TColorOp op, auto f, const char* name) {
        ASSERT_EQ(op(c1, c2), Channels(c1, c2, f)) << name << " " << std::hex << c1 << " " << c2;
      };
      check(ColorAdd, [](uint32_t x, uint32_t y) { return std::min(x + y, 255u); }, "add");
      check(ColorSub, [](uint32_t x, uint32_t y) { return x > y ? x - y : 0; }, "sub");
      check(ColorDiv, [](uint32_t x, uint32_t y) { return x == 0 ? 255 : std::min((y << 8) / x, 255u); }, "div");
      check(ColorModulate, [](uint32_t x, uint32_t y) { return (x * y) >> 8; }, "modulate");
      check(ColorMax, [](uint32_t x, uint32_t y) { return std::max(x, y); }, "max");
      check(ColorMin, [](uint32_t x, uint32_t y) { return std::min(x, y); }, "min");
      check(ColorDifference, [](uint32_t x, uint32_t y) { return x > y ? x - y : y - x; }, "difference");
      check(ColorAverage, [p](uint32_t x, uint32_t y) { return (x + y + (p ? 1 : 0)) >> 1; }, "average");
      check(ColorExclusion, [](uint32_t x, uint32_t y) { return x + y - ((x * y) >> 7); }, "exclusion");
    }
  EXPECT_EQ(ColorDiv(0, 0x12345678), 0xFFFFFFFFu);
}

// Weights above 255 saturate each channel in both families; the processor one
// must not read past its weight table to get there.
TEST_P(BlendFamily, ColorScaleSaturatesForAnyWeight) {
  std::mt19937 rng(15);
  std::vector<uint32_t> weights;
  for (uint32_t w = 0; w < 600; ++w) weights.push_back(w);
  for (uint32_t w : {1000u, 65535u, 65536u, 70000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) weights.push_back(w);
  for (uint32_t w : weights)
    for (int k = 0; k < 64; ++k) {
      const TColor32 c = k == 0 ? 0xFFFFFFFFu : k == 1 ? 0x00010001u : rng();
      const TColor32 want = Channels(c, 0, [w](uint64_t x, uint64_t) { return std::min<uint64_t>((x * w) >> 8, 255); });
      ASSERT_EQ(ColorScale(c, w), want) << std::hex << c << " w=" << std::dec << w;
    }
}

TEST_P(BlendFamily, MergeHonoursBackgroundAlpha) {
  EXPECT_EQ(MergePixel(0x80FF0000, 0x800000FF), 0xC0AA0055u);
  std::mt19937 rng(16);
  for (int k = 0; k < 20000; ++k) {
    const TColor32 f = rng(), b = rng();
    EXPECT_EQ(MergePixel(f & 0x00FFFFFFu, b), b);
    EXPECT_EQ(MergePixel(f, b & 0x00FFFFFFu), (f >> 24) == 0 ? (b & 0x00FFFFFFu) : f);
    // Over an opaque background the merge is the active family's blend.
    EXPECT_EQ(MergePixel(f | 0x01000000u, b | 0xFF000000u), model.Blend(f | 0x01000000u, b | 0xFF000000u) | 0xFF000000u);
    const uint32_t m = rng() % 256;
    const TColor32 scaled = (f & 0x00FFFFFFu) | (uint32_t{ProductTable[m][f >> 24]} << 24);
    EXPECT_EQ(MergePixelMaster(f, b, m), MergePixel(scaled, b));
    TColor32 into = b;
    MergePixelMasterInto(f, into, m);
    EXPECT_EQ(into, MergePixel(scaled, b));
  }
  // A master alpha out of range is read as 255, never past the table.
  EXPECT_EQ(MergePixelMaster(0x80FF0000, 0x800000FF, 1000), MergePixel(0x80FF0000, 0x800000FF));
}

TEST_P(BlendFamily, ByModeArraysFollowTheVariables) {
  EXPECT_EQ(PixelByMode[cmBlend], BlendPixel);
  EXPECT_EQ(PixelIntoByMode[cmBlend], BlendPixelInto);
  EXPECT_EQ(PixelMasterByMode[cmBlend], BlendPixelMaster);
  EXPECT_EQ(PixelMasterIntoByMode[cmBlend], BlendPixelMasterInto);
  EXPECT_EQ(RowByMode[cmBlend], BlendRow);
  EXPECT_EQ(RowMasterByMode[cmBlend], BlendRowMaster);
  EXPECT_EQ(PixelByMode[cmMerge], &MergePixelPortable);
  EXPECT_EQ(PixelIntoByMode[cmMerge], &MergePixelIntoPortable);
  EXPECT_EQ(PixelMasterByMode[cmMerge], &MergePixelMasterPortable);
  EXPECT_EQ(PixelMasterIntoByMode[cmMerge], &MergePixelMasterIntoPortable);
  EXPECT_EQ(RowByMode[cmMerge], &MergeRowPortable);
  EXPECT_EQ(RowMasterByMode[cmMerge], &MergeRowMasterPortable);
  EXPECT_EQ(BlendPixel, GetParam() ? Sse2BlendFamily()->BlendPixel : &BlendPixelPortable);
  EXPECT_EQ(ColorDiv, &ColorDivPortable);
}

// Every variable holds the chosen family's routine, so no variable is left
// behind on the other family when the choice changes (on x86-64 the extended
// test passes whenever the packed one does, so maximum, minimum and average
// follow the family too). Division has no processor variant.
TEST_P(BlendFamily, EveryVariableHoldsTheChosenFamily) {
  const TBlendFamily& f = GetParam() ? *Sse2BlendFamily() : PortableBlendFamily;
  EXPECT_EQ(CombinePixels, f.CombinePixels);
  EXPECT_EQ(CombinePixelInto, f.CombinePixelInto);
  EXPECT_EQ(BlendPixel, f.BlendPixel);
  EXPECT_EQ(BlendPixelInto, f.BlendPixelInto);
  EXPECT_EQ(BlendPixelMaster, f.BlendPixelMaster);
  EXPECT_EQ(BlendPixelMasterInto, f.BlendPixelMasterInto);
  EXPECT_EQ(BlendRow, f.BlendRow);
  EXPECT_EQ(BlendRowMaster, f.BlendRowMaster);
  EXPECT_EQ(CombineRow, f.CombineRow);
  EXPECT_EQ(ColorAdd, f.ColorAdd);
  EXPECT_EQ(ColorSub, f.ColorSub);
  EXPECT_EQ(ColorDiv, &ColorDivPortable);
  EXPECT_EQ(ColorModulate, f.ColorModulate);
  EXPECT_EQ(ColorMax, f.ColorMax);
  EXPECT_EQ(ColorMin, f.ColorMin);
  EXPECT_EQ(ColorDifference, f.ColorDifference);
  EXPECT_EQ(ColorAverage, f.ColorAverage);
  EXPECT_EQ(ColorExclusion, f.ColorExclusion);
  EXPECT_EQ(ColorScale, f.ColorScale);
  EXPECT_EQ(MergePixel, &MergePixelPortable);
  EXPECT_EQ(MergePixelInto, &MergePixelIntoPortable);
  EXPECT_EQ(MergePixelMaster, &MergePixelMasterPortable);
  EXPECT_EQ(MergePixelMasterInto, &MergePixelMasterIntoPortable);
  EXPECT_EQ(MergeRow, &MergeRowPortable);
  EXPECT_EQ(MergeRowMaster, &MergeRowMasterPortable);
  EXPECT_EQ(MmxActive, GetParam());
  EXPECT_EQ(WeightTable != nullptr, GetParam());
}

TEST(BlendTables, ProductAndReciprocalRoundAsDefined) {
  for (uint32_t x = 0; x < 256; ++x)
    for (uint32_t y = 0; y < 256; ++y) {
      ASSERT_EQ(ProductTable[x][y], ProductTable[y][x]);
      ASSERT_EQ(ProductTable[x][y], static_cast<uint8_t>(std::nearbyint(x * y / 255.0)));
      const uint32_t q = x == 0 ? 0 : static_cast<uint32_t>(std::nearbyint(y * 255.0 / x));
      ASSERT_EQ(ReciprocalTable[x][y], q & 0xFF) << x << " " << y;
    }
  EXPECT_EQ(ReciprocalTable[2][1], 128);  // 127.5 goes to the even 128
  EXPECT_EQ(ReciprocalTable[2][3], 126);  // 382.5 -> 382, low byte 126
}

TEST(BlendStartup, WeightTableLivesOnlyWithTheProcessorFamily) {
  if (ProcessorFamilyExists()) {
    ASSERT_TRUE(SelectBlendFamily(true));
    ASSERT_NE(WeightTable, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(WeightTable) % 8, 0u);
    for (uint16_t w = 0; w < 256; ++w)
      for (int lane = 0; lane < 4; ++lane) ASSERT_EQ(WeightTable[4 * w + lane], w);
    EXPECT_EQ(RoundingBias, WeightTable + 4 * 128);
  }
  EXPECT_FALSE(SelectBlendFamily(false));
  EXPECT_FALSE(MmxActive);
  EXPECT_EQ(WeightTable, nullptr);
  EXPECT_EQ(CombinePixels, &CombinePixelsPortable);
  EXPECT_EQ(ColorMax, &ColorMaxPortable);
  EXPECT_EQ(ColorScale, &ColorScalePortable);
  SelectBlendFamily(gStartupMmx);
}

TEST(BlendStartup, StartupFamilyFollowsEnvironment) {
  const char* forced = std::getenv("VEMRA_FORCE_PORTABLE");
  const bool portable = (forced != nullptr && std::string(forced) == "1") || !ProcessorFamilyExists();
#if defined(__x86_64__)
  EXPECT_EQ(portable, forced != nullptr && std::string(forced) == "1");
#endif
  EXPECT_EQ(gStartupMmx, !portable);
  EXPECT_EQ(gStartupWeights != nullptr, !portable);
}

// Runs the check above in a child whose environment forces the portable family.
TEST(BlendStartup, EnvironmentSwitchForcesPortableFamily) {
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  const std::string cmd = std::string("VEMRA_FORCE_PORTABLE=1 '") + self +
                          "' --gtest_filter=BlendStartup.StartupFamilyFollowsEnvironment 2>&1";
  FILE* pipe = popen(cmd.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buf[512];
  while (fgets(buf, sizeof buf, pipe) != nullptr) out += buf;
  EXPECT_EQ(pclose(pipe), 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

}  // namespace
