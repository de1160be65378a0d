// Word fill and move, clamps, coordinate wrapping, shifts and the processor
// feature switch.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>
#include <vector>

#include "raster_lowlevel.h"
#include "raster_system.h"

namespace {

// Mathematical references, written independently of the truncating
// remainders the routines use.
int32_t RefWrap(int64_t v, int64_t lo, int64_t hi) {
  const int64_t n = hi - lo + 1;
  return static_cast<int32_t>(((v - lo) % n + n) % n + lo);
}
int32_t RefMirror(int64_t v, int64_t lo, int64_t hi) {
  const int64_t n = hi - lo + 1;
  const int64_t t = ((v - lo) % (2 * n) + 2 * n) % (2 * n);
  return static_cast<int32_t>(t < n ? lo + t : lo + 2 * n - 1 - t);
}

TEST(FillWords32, BothVariantsFillExactlyCountWords) {
  for (TFillWords32Proc fill : {FillWords32Portable, FillWords32Paired}) {
    for (int64_t count : {-3, -1, 0, 1, 2, 3, 4, 7, 8, 9, 33}) {
      std::vector<uint32_t> buf(50, 0xDEADBEEFu);
      fill(buf.data() + 1, count, 0x12345678u);  // odd start: not 8-byte aligned
      EXPECT_EQ(buf[0], 0xDEADBEEFu);
      const int64_t n = count < 0 ? 0 : count;
      for (int64_t i = 0; i < n; ++i) ASSERT_EQ(buf[1 + i], 0x12345678u) << "count " << count;
      EXPECT_EQ(buf[1 + n], 0xDEADBEEFu) << "count " << count;
    }
  }
}

TEST(FillWords32, StartUpSelectsVariantByProcessorSwitch) {
  SetForcePortable(true);
  RasterLowLevelStartup();
  EXPECT_EQ(FillWords32, &FillWords32Portable);
  SetForcePortable(false);
  RasterLowLevelStartup();
  EXPECT_EQ(FillWords32, CpuMmxTest() ? &FillWords32Paired : &FillWords32Portable);
  uint32_t w[3] = {0, 0, 0};
  FillWords32(w, 3, 7);
  EXPECT_EQ(w[2], 7u);
}

TEST(MoveWords32, CopiesForwardAndIgnoresEmptyMoves) {
  std::vector<uint32_t> src{1, 2, 3, 4, 5, 6};
  std::vector<uint32_t> dst(6, 0);
  MoveWords32(src.data(), dst.data(), 4);
  EXPECT_EQ(dst, (std::vector<uint32_t>{1, 2, 3, 4, 0, 0}));
  MoveWords32(src.data(), dst.data(), 0);
  MoveWords32(src.data(), dst.data(), -4);
  MoveWords32(dst.data(), dst.data(), 6);
  EXPECT_EQ(dst, (std::vector<uint32_t>{1, 2, 3, 4, 0, 0}));
  // Overlap with the destination below: an ordinary shift down.
  std::vector<uint32_t> a{1, 2, 3, 4, 5, 6};
  MoveWords32(a.data() + 2, a.data(), 4);
  EXPECT_EQ(a, (std::vector<uint32_t>{3, 4, 5, 6, 5, 6}));
  // Overlap with the destination above: a word loop repeats the leading words.
  std::vector<uint32_t> b{1, 2, 3, 4, 5, 6};
  MoveWords32(b.data(), b.data() + 2, 4);
  EXPECT_EQ(b, (std::vector<uint32_t>{1, 2, 1, 2, 1, 2}));
}

TEST(Clamps, ByteIntZeroToAndPairs) {
  EXPECT_EQ(ClampByte(-1), 0);
  EXPECT_EQ(ClampByte(0), 0);
  EXPECT_EQ(ClampByte(200), 200);
  EXPECT_EQ(ClampByte(256), 255);
  EXPECT_EQ(ClampByte(INT_MIN), 0);
  EXPECT_EQ(ClampInt(5, 0, 3), 3);
  EXPECT_EQ(ClampInt(-5, 0, 3), 0);
  EXPECT_EQ(ClampInt(2, 0, 3), 2);
  EXPECT_EQ(ClampZeroTo(5, 3), 3);
  EXPECT_EQ(ClampZeroTo(-5, 3), 0);
  EXPECT_EQ(ClampZeroTo(2, 3), 2);
  int32_t a = 3, b = 1;
  OrderInts(a, b);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 3);
  SwapInts(a, b);
  EXPECT_EQ(a, 3);
  EXPECT_EQ(b, 1);

  a = 7, b = 2;
  EXPECT_TRUE(ClipPairToRange(a, b, 0, 5));
  EXPECT_EQ(a, 2);
  EXPECT_EQ(b, 4);
  a = 7, b = 2;
  EXPECT_FALSE(ClipPairToRange(a, b, 6, 5));
  a = INT_MIN, b = 5;
  EXPECT_TRUE(ClipPairToRange(a, b, INT_MIN, INT_MIN + 1));
  EXPECT_EQ(b, INT_MIN);
  a = 0, b = 0;
  EXPECT_FALSE(ClipPairToRange(a, b, 0, INT_MIN));  // Hi - 1 must not wrap around
}

TEST(WrapAndMirror, KnownAnswers) {
  EXPECT_EQ(WrapCoord(-1, 0, 9), 9);
  EXPECT_EQ(WrapCoord(10, 0, 9), 0);
  EXPECT_EQ(WrapCoord(25, 0, 9), 5);
  EXPECT_EQ(MirrorCoord(-1, 0, 9), 0);
  EXPECT_EQ(MirrorCoord(10, 0, 9), 9);
  EXPECT_EQ(MirrorCoord(-11, 0, 9), 9);
  EXPECT_EQ(MirrorCoord(12, 0, 9), 7);
}

TEST(WrapAndMirror, MatchModularReferenceOverTables) {
  const int32_t ranges[][2] = {{0, 9}, {3, 7}, {-4, 4}, {5, 5}, {0, 0}, {-10, -2}};
  for (auto& r : ranges)
    for (int32_t v = -60; v <= 60; ++v) {
      EXPECT_EQ(WrapCoord(v, r[0], r[1]), RefWrap(v, r[0], r[1])) << v << " in " << r[0] << ".." << r[1];
      EXPECT_EQ(MirrorCoord(v, r[0], r[1]), RefMirror(v, r[0], r[1])) << v << " in " << r[0] << ".." << r[1];
      EXPECT_EQ(WrapProcByMode[0](v, r[0], r[1]), ClampInt(v, r[0], r[1]));
      EXPECT_EQ(WrapProcByMode[1](v, r[0], r[1]), WrapCoord(v, r[0], r[1]));
      EXPECT_EQ(WrapProcByMode[2](v, r[0], r[1]), MirrorCoord(v, r[0], r[1]));
    }
}

TEST(WrapAndMirror, ExtremeAndEmptyRangesStayDefined) {
  for (int32_t v : {INT_MIN, INT_MIN + 1, -1, 0, INT_MAX - 1, INT_MAX}) {
    EXPECT_EQ(WrapCoord(v, 0, 99), RefWrap(v, 0, 99));
    EXPECT_EQ(MirrorCoord(v, 0, 99), RefMirror(v, 0, 99));
    const int32_t w = WrapCoord(v, INT_MIN, INT_MAX);  // the whole int32 range
    EXPECT_EQ(w, v);
    const int32_t m = MirrorCoord(v, -5, INT_MAX);
    EXPECT_TRUE(m >= -5);
  }
  // An empty clip range (Hi < Lo) must not divide by zero.
  EXPECT_EQ(WrapCoord(5, 0, -1), 0);
  EXPECT_EQ(MirrorCoord(5, 0, -1), 0);
}

TEST(Shifts, ArithmeticShiftsRoundTowardMinusInfinity) {
  EXPECT_EQ(ShiftRight8(-257), -2);
  EXPECT_EQ(ShiftRight16(INT_MIN), -32768);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ShiftRightTable[i](-1 << 20), (-1 << 20) / (1 << (11 + i)));
}

TEST(ProcessorTest, ForcedPortableHidesEveryFeature) {
  const bool was = ForcePortable();
  SetForcePortable(true);
  for (int32_t i = 0; i <= 6; ++i) EXPECT_FALSE(CpuFeatureTest(i)) << i;
  EXPECT_FALSE(CpuMmxTest());
  SetForcePortable(false);
#if defined(__x86_64__)
  // Every 64-bit x86 processor has these.
  EXPECT_TRUE(CpuMmxTest());
  EXPECT_TRUE(CpuFeatureTest(ciSSE2));
  EXPECT_TRUE(CpuExtMmxTest());
#endif
  EXPECT_FALSE(CpuFeatureTest(99));
  EXPECT_FALSE(CpuFeatureTest(-1));

  // The environment switch takes effect at start-up.
  setenv("VEMRA_FORCE_PORTABLE", "1", 1);
  RasterSystemStartup();
  EXPECT_TRUE(ForcePortable());
  unsetenv("VEMRA_FORCE_PORTABLE");
  SetForcePortable(was);
  RasterLowLevelStartup();
}

TEST(SystemInfo, ProcessorsTicksAndTimer) {
  EXPECT_GE(ProcessorCount(), 1);
  TPerfTimer t;
  t.Start();
  const uint32_t tick0 = ReadTickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const int64_t us = t.ElapsedMicroseconds();
  EXPECT_GE(us, 29000);
  EXPECT_LT(us, 5000000);
  EXPECT_GE(ReadTickCount() - tick0, 29u);
}

}  // namespace
