// Colour conversions, geometry helpers, the gamma table and the notifying
// base classes of raster_core.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform_graphics.h"
#include "raster_core.h"

namespace {

template <class E, class F>
std::string ThrownMessage(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return std::string(e.ClassName()) + ": " + e.what();
  }
  return "<nothing thrown>";
}

// ---- Colours -------------------------------------------------------------------

TEST(ColorHelpers, PlatformColourConversions) {
  // The top byte of a non-negative colour is ignored; bytes swap R and B.
  EXPECT_EQ(ArgbFromColor(0x01FF0000), 0xFF0000FFu);
  EXPECT_EQ(ArgbFromColor(0x00FF8040), 0xFF4080FFu);
  // A negative colour is a system colour: its low byte indexes the table.
  EXPECT_EQ(ArgbFromColor(static_cast<TColor>(0x80000005)), ArgbFromColor(GetSysColor(5)));
  EXPECT_EQ(ArgbFromColor(static_cast<TColor>(0xFF00000F)), ArgbFromColor(GetSysColor(15)));
  EXPECT_EQ(ArgbFromColor(static_cast<TColor>(0x80000005)), 0xFFFFFFFFu);  // window background
  EXPECT_EQ(GetSysColor(200), 0);
  for (TColor c : {0x000000, 0x123456, 0xFFFFFF, 0x0000FF, 0x7F0080})
    EXPECT_EQ(ColorFromArgb(ArgbFromColor(c)), c) << std::hex << c;
  EXPECT_EQ(ColorFromArgb(0x80112233u), 0x332211);
}

TEST(ColorHelpers, ChannelsIntensityAndAlpha) {
  EXPECT_EQ(MakeArgb(0x1FF, 0x10, 0x20, 0x180), 0x80FF1020u);  // each argument used as a byte
  EXPECT_EQ(GrayArgb(0x40, 0x80), 0x80404040u);
  EXPECT_EQ(IntensityOf(0xFFFFFFFFu), 255);
  EXPECT_EQ(IntensityOf(0xFF00FF00u), 173);
  EXPECT_EQ(IntensityOf(0xFFFF0000u), 60);
  EXPECT_EQ(IntensityOf(0xFF0000FFu), 20);
  EXPECT_EQ(IntensityOf(0x00000000u), 0);
  EXPECT_EQ(SetAlphaOf(0x12345678u, -5), 0x00345678u);
  EXPECT_EQ(SetAlphaOf(0x12345678u, 300), 0xFF345678u);
  EXPECT_EQ(SetAlphaOf(0x12345678u, 128), 0x80345678u);
}

TEST(ColorHelpers, HslKnownAnswers) {
  EXPECT_EQ(ArgbFromHsl(0.3f, 0.0f, 0.5f), 0xFF808080u);  // round(127.5) = 128
  EXPECT_EQ(ArgbFromHsl(0.0f, 1.0f, 0.5f), 0xFFFF0000u);
  EXPECT_EQ(ArgbFromHsl(1.0f / 3.0f, 1.0f, 0.5f), 0xFF00FF00u);
  EXPECT_EQ(ArgbFromHsl(2.0f / 3.0f, 1.0f, 0.5f), 0xFF0000FFu);
  EXPECT_EQ(ArgbFromHsl(1.0f, 1.0f, 0.5f), 0xFFFF0000u);  // the hue wraps
  EXPECT_EQ(ArgbFromHsl(0.0f, 0.0f, 1.0f), 0xFFFFFFFFu);
  float h, s, l;
  HslFromArgb(0xFF0000FFu, h, s, l);
  EXPECT_FLOAT_EQ(h, 4.0f / 6.0f);
  EXPECT_FLOAT_EQ(s, 1.0f);
  EXPECT_FLOAT_EQ(l, 0.5f);
  HslFromArgb(0x00FF00FFu, h, s, l);  // magenta: negative hue wraps into 0..1
  EXPECT_FLOAT_EQ(h, 5.0f / 6.0f);
  HslFromArgb(0x12808080u, h, s, l);  // grey, alpha ignored
  EXPECT_EQ(h, 0.0f);
  EXPECT_EQ(s, 0.0f);
  EXPECT_FLOAT_EQ(l, 128.0f / 255.0f);
}

// The fast rounding gives what nearbyint gives: ties to even on both sides of
// every power of two up to where long doubles have no fraction left, zeros
// keeping their sign, and whatever has no integer passing through.
TEST(ColorHelpers, RoundHalfEvenMatchesNearbyint) {
  std::vector<long double> Values = {0.0L, -0.0L, 0.5L, -0.5L, 1.5L, -1.5L, 2.5L, -2.5L, 0.49999999999999999996L,
                                     1e-4950L, -1e-4950L, 127.5L, 254.5L, 255.49999L,
                                     std::numeric_limits<long double>::infinity(),
                                     -std::numeric_limits<long double>::infinity(), 1e300L, -1e4000L};
  for (int e = 1; e <= 66; ++e) {
    const long double P = std::ldexp(1.0L, e);
    for (long double D : {-1.5L, -1.0L, -0.5L, -0.25L, 0.25L, 0.5L, 1.0L, 1.5L})
      for (long double V : {P + D, -(P + D)}) Values.push_back(V);
  }
  std::mt19937_64 Rng(9);
  for (int i = 0; i < 10000; ++i)
    Values.push_back(std::ldexp(static_cast<long double>(Rng()), static_cast<int>(Rng() % 80) - 70) *
                     (i % 2 ? 1 : -1));
  for (long double V : Values) {
    const long double Want = std::nearbyint(V), Got = RoundHalfEven(V);
    ASSERT_TRUE(Got == Want && std::signbit(Got) == std::signbit(Want)) << static_cast<double>(V);
  }
  EXPECT_TRUE(std::isnan(RoundHalfEven(std::numeric_limits<long double>::quiet_NaN())));
}

// Every colour survives ARGB -> HSL -> ARGB exactly (the float and extended
// precisions of the two directions are chosen for this); a stride keeps the
// sanitizer build quick.
TEST(ColorHelpers, HslRoundTripIsExact) {
  int failures = 0;
  for (int r = 0; r < 256; r += 5)
    for (int g = 0; g < 256; g += 3)
      for (int b = 0; b < 256; b += 5) {
        const TColor32 c = MakeArgb(r, g, b, 0x40);
        float h, s, l;
        HslFromArgb(c, h, s, l);
        ASSERT_TRUE(h >= 0 && h <= 1 && s >= 0 && s <= 1 && l >= 0 && l <= 1);
        if (ArgbFromHsl(h, s, l) != (c | 0xFF000000u) && ++failures < 5)
          ADD_FAILURE() << std::hex << c << " -> " << ArgbFromHsl(h, s, l);
      }
  EXPECT_EQ(failures, 0);
}

TEST(GammaTable, KnownEntriesAndIdentity) {
  BuildGammaTable(0.7f);
  // Independently computed: round(255 * (i / 255) ^ 0.7f).
  const int expected[][2] = {{0, 0}, {1, 5}, {2, 9}, {10, 26}, {64, 97}, {128, 157}, {200, 215}, {254, 254}, {255, 255}};
  for (auto& e : expected) EXPECT_EQ(GammaTable[e[0]], e[1]) << "entry " << e[0];
  for (int i = 1; i < 256; ++i) EXPECT_GE(GammaTable[i], GammaTable[i - 1]);
  BuildGammaTable(1.0f);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(GammaTable[i], i);
  BuildGammaTable(0.7f);  // leave the start-up table for other tests
}

// ---- Points and rectangles ---------------------------------------------------------

TEST(Geometry, FixedAndPointConversions) {
  EXPECT_EQ(FixedFromFloat(0.5f), 0x8000);
  EXPECT_EQ(FixedFromFloat(-1.25f), -81920);
  EXPECT_EQ(FixedFromFloat(1.0f / 131072), 0);      // 0.5 in 16.16 units: to even
  EXPECT_EQ(FixedFromFloat(3.0f / 131072), 2);      // 1.5: to even
  EXPECT_EQ(FixedFromFloat(1e10f), INT32_MAX);      // saturates instead of overflowing
  EXPECT_EQ(FixedFromFloat(-1e10f), INT32_MIN);
  EXPECT_EQ(FixedFromFloat(std::nanf("")), 0);
  EXPECT_EQ(FixedFromInt(3), 3 * 65536);
  EXPECT_EQ(FixedFromInt(-2), -131072);
  EXPECT_EQ(RoundFloatPoint(MakeFloatPoint(0.5f, 1.5f)), MakePoint(0, 2));
  EXPECT_EQ(RoundFloatPoint(MakeFloatPoint(-0.5f, 2.5f)), MakePoint(0, 2));
  EXPECT_EQ(FixedPointFromPoint(MakePoint(1, -1)), (TFixedPoint{65536, -65536}));
  EXPECT_EQ(FloatPointFromPoint(MakePoint(3, 4)), MakeFloatPoint(3, 4));
  EXPECT_EQ(FixedRectFromRect(MakeRect(1, 2, 3, 4)), MakeFixedRect(65536, 131072, 196608, 262144));
  EXPECT_EQ(FloatRectFromRect(MakeRect(1, 2, 3, 4)), MakeFloatRect(1, 2, 3, 4));
}

TEST(Geometry, RoundFloatRectModes) {
  EXPECT_EQ(RoundFloatRect(MakeFloatRect(0.5f, 0.5f, 0.7f, 0.7f), rrInner), MakeRect(1, 1, 1, 1));
  EXPECT_EQ(RoundFloatRect(MakeFloatRect(0.5f, 0.5f, 0.7f, 0.7f), rrOuter), MakeRect(0, 0, 1, 1));
  EXPECT_EQ(RoundFloatRect(MakeFloatRect(0.5f, 1.5f, 2.5f, -0.5f), rrNearest), MakeRect(0, 2, 2, 0));
  EXPECT_EQ(RoundFloatRect(MakeFloatRect(-1.5f, -0.2f, 3.2f, 4.0f), rrOuter), MakeRect(-2, -1, 4, 4));
  EXPECT_EQ(RoundFloatRect(MakeFloatRect(-1.5f, -0.2f, 3.2f, 4.0f), rrInner), MakeRect(-1, 0, 3, 4));
  TRect d = MakeRect(7, 7, 7, 7);
  RoundFloatRect(d, MakeFloatRect(1, 1, 2, 2), 3);  // unknown mode: untouched
  EXPECT_EQ(d, MakeRect(7, 7, 7, 7));
}

TEST(Geometry, RoundFixedRectModes) {
  // Mode 0 rounds an exact half down (toward minus infinity): (x + 0x7FFF) sar 16.
  EXPECT_EQ(RoundFixedRect(MakeFixedRect(0x8000, 0x8001, -0x8000, -0x7FFF), rrNearest), MakeRect(0, 1, -1, 0));
  EXPECT_EQ(RoundFixedRect(MakeFixedRect(-0x18000, 1, 0x10001, 0x10000), rrOuter), MakeRect(-2, 0, 2, 1));
  EXPECT_EQ(RoundFixedRect(MakeFixedRect(-0x18000, 1, 0x10001, 0x10000), rrInner), MakeRect(-1, 1, 1, 1));
  // Inner rounding that crosses raises Right and Bottom to Left and Top.
  EXPECT_EQ(RoundFixedRect(MakeFixedRect(0x18000, 0x18000, 0x1C000, 0x1C000), rrInner), MakeRect(2, 2, 2, 2));
  // Values at the int32 limits do not overflow.
  EXPECT_EQ(RoundFixedRect(MakeFixedRect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX), rrOuter),
            MakeRect(-32768, -32768, 32768, 32768));
  TRect d = MakeRect(7, 7, 7, 7);
  RoundFixedRect(d, MakeFixedRect(1, 1, 2, 2), -1);
  EXPECT_EQ(d, MakeRect(7, 7, 7, 7));
}

TEST(Geometry, IntersectRectsEdgeCases) {
  struct Case {
    TRect A, B, Expected;
    bool Result;
  };
  const Case cases[] = {
      {{0, 0, 10, 10}, {10, 0, 20, 10}, {10, 0, 10, 10}, true},  // touching: empty but true
      {{0, 0, 10, 10}, {11, 0, 20, 10}, {0, 0, 0, 0}, false},
      {{0, 0, 10, 10}, {0, 12, 10, 20}, {0, 0, 0, 0}, false},
      {{0, 0, 10, 10}, {2, 3, 5, 7}, {2, 3, 5, 7}, true},
      {{-5, -5, 5, 5}, {0, 0, 10, 10}, {0, 0, 5, 5}, true},
      {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, true},
  };
  for (const Case& c : cases) {
    TRect d = MakeRect(1, 2, 3, 4);
    EXPECT_EQ(IntersectRects(d, c.A, c.B), c.Result);
    EXPECT_EQ(d, c.Expected);
  }
  TRect r = MakeRect(0, 0, 10, 10);
  EXPECT_TRUE(IntersectRects(r, r, MakeRect(5, 5, 20, 20)));  // Dst may be an argument
  EXPECT_EQ(r, MakeRect(5, 5, 10, 10));
  TFloatRect f;
  EXPECT_TRUE(IntersectRects(f, MakeFloatRect(0, 0, 1, 1), MakeFloatRect(0.5f, 0.5f, 2, 2)));
  EXPECT_EQ(f, MakeFloatRect(0.5f, 0.5f, 1, 1));
}

TEST(Geometry, PointInRectExcludesRightAndBottom) {
  const TRect b = MakeRect(0, 0, 10, 5);
  EXPECT_TRUE(PointInRect(b, 0, 0));
  EXPECT_TRUE(PointInRect(b, 9, 4));
  EXPECT_FALSE(PointInRect(b, 10, 4));
  EXPECT_FALSE(PointInRect(b, MakePoint(9, 5)));
  EXPECT_FALSE(PointInRect(b, MakePoint(-1, 0)));
  EXPECT_TRUE(IsRectEmpty(MakeRect(5, 0, 5, 10)));
  EXPECT_TRUE(IsRectEmpty(MakeRect(0, 5, 10, 4)));
  EXPECT_FALSE(IsRectEmpty(MakeRect(0, 0, 1, 1)));
}

// ---- Base classes ------------------------------------------------------------------

TEST(NotifiablePersistent, ChangedIsSilentInsideUpdates) {
  TNotifiablePersistent p;
  std::vector<void*> senders;
  p.OnChange = [&](void* s) { senders.push_back(s); };
  p.Changed();
  ASSERT_EQ(senders.size(), 1u);
  EXPECT_EQ(senders[0], &p);
  p.BeginUpdate();
  p.BeginUpdate();
  p.Changed();
  p.EndUpdate();
  p.Changed();
  EXPECT_EQ(senders.size(), 1u);
  p.EndUpdate();  // EndUpdate itself sends nothing
  EXPECT_EQ(senders.size(), 1u);
  p.Changed();
  EXPECT_EQ(senders.size(), 2u);
  TNotifiablePersistent quiet;
  quiet.Changed();  // no handler: nothing happens
}

TEST(NotifiablePersistent, UnpairedEndUpdateThrowsAndKeepsCountZero) {
  TNotifiablePersistent p;
  EXPECT_EQ(ThrownMessage<Exception>([&] { p.EndUpdate(); }),
            "EAssertionFailed: Unpaired TThreadPersistent.EndUpdate");
  EXPECT_EQ(p.UpdateCount(), 0);
  p.BeginUpdate();
  p.EndUpdate();
  EXPECT_THROW(p.EndUpdate(), EAssertionFailed);
  EXPECT_EQ(p.UpdateCount(), 0);
  int calls = 0;
  p.OnChange = [&](void*) { ++calls; };
  p.Changed();  // the failed EndUpdate did not leave the object in update mode
  EXPECT_EQ(calls, 1);
}

TEST(NotifiablePersistent, UpdateGuardClosesOnException) {
  TNotifiablePersistent p;
  try {
    TUpdateGuard g(p);
    EXPECT_EQ(p.UpdateCount(), 1);
    throw std::runtime_error("x");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(p.UpdateCount(), 0);
}

TEST(ThreadPersistent, LockIsRecursiveAndCounted) {
  TThreadPersistent t;
  t.Lock();
  t.Lock();
  EXPECT_EQ(t.LockCount(), 2);
  bool otherGotIt = true;
  std::thread([&] { otherGotIt = t.LockObject().try_lock(); }).join();
  EXPECT_FALSE(otherGotIt);
  t.Unlock();
  t.Unlock();
  EXPECT_EQ(t.LockCount(), 0);
  std::thread([&] {
    otherGotIt = t.LockObject().try_lock();
    if (otherGotIt) t.LockObject().unlock();
  }).join();
  EXPECT_TRUE(otherGotIt);
}

TEST(ThreadPersistent, LockSerialisesThreads) {
  TThreadPersistent t;
  int64_t counter = 0;  // deliberately not atomic: the lock must protect it
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      for (int k = 0; k < 20000; ++k) {
        TLockGuard g(t);
        ++counter;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, 80000);
  EXPECT_EQ(t.LockCount(), 0);
}

// A map that records the calls SetSize makes.
class TRecordingMap : public TCustomMap {
 public:
  std::vector<std::string> Calls;

 protected:
  void ChangeSize(int32_t& W, int32_t& H, int32_t NW, int32_t NH) override {
    Calls.push_back("ChangeSize " + std::to_string(NW) + "x" + std::to_string(NH));
    TCustomMap::ChangeSize(W, H, NW, NH);
  }
};

TEST(CustomMap, SetSizeOrderAndResult) {
  TRecordingMap m;
  m.OnChange = [&](void*) { m.Calls.push_back("Change"); };
  m.OnResize = [&](void* s) { m.Calls.push_back(s == &m ? "Resize" : "Resize?"); };
  EXPECT_TRUE(m.Empty());
  EXPECT_TRUE(m.SetSize(4, 3));
  EXPECT_EQ(m.Calls, (std::vector<std::string>{"ChangeSize 4x3", "Change", "Resize"}));
  EXPECT_FALSE(m.Empty());
  m.Calls.clear();
  EXPECT_FALSE(m.SetSize(4, 3));  // same size: nothing happens
  EXPECT_TRUE(m.Calls.empty());
  EXPECT_TRUE(m.SetWidth(-7));    // negative becomes 0
  EXPECT_EQ(m.Width(), 0);
  EXPECT_EQ(m.Height(), 3);
  EXPECT_TRUE(m.Empty());
  m.Calls.clear();
  EXPECT_FALSE(m.SetSize(-5, 3));  // 0 x 3 already
  EXPECT_TRUE(m.Calls.empty());
  EXPECT_TRUE(m.SetHeight(9));
  EXPECT_EQ(m.Height(), 9);
  m.SetSize(2, 2);
  m.Delete();
  EXPECT_EQ(m.Width(), 0);
  EXPECT_EQ(m.Height(), 0);
}

TEST(CustomMap, SetSizeFrom) {
  TCustomMap a, b;
  a.SetSize(6, 5);
  EXPECT_TRUE(b.SetSizeFrom(&a));
  EXPECT_EQ(b.Width(), 6);
  EXPECT_EQ(b.Height(), 5);
  TPersistent other;
  EXPECT_EQ(ThrownMessage<Exception>([&] { b.SetSizeFrom(&other); }),
            "Exception: Can't set size from 'TPersistent'");
  EXPECT_EQ(b.Width(), 6);
  EXPECT_TRUE(b.SetSizeFrom(static_cast<const TObject*>(nullptr)));
  EXPECT_TRUE(b.Empty());
  TPlatformBitmap picture;
  picture.SetSize(7, 2);
  EXPECT_TRUE(b.SetSizeFrom(&picture));
  EXPECT_EQ(b.Width(), 7);
  EXPECT_EQ(b.Height(), 2);
  EXPECT_TRUE(b.SetSizeFrom(static_cast<const TGraphic*>(nullptr)));
  EXPECT_TRUE(b.Empty());
}

TEST(Persistent, AssignWithoutSupportRaisesConvertError) {
  TPersistent a;
  TCustomMap m;
  EXPECT_EQ(ThrownMessage<EConvertError>([&] { a.Assign(&m); }),
            "EConvertError: Cannot assign a TCustomMap to a TPersistent");
  EXPECT_EQ(ThrownMessage<EConvertError>([&] { m.Assign(nullptr); }),
            "EConvertError: Cannot assign a nil to a TCustomMap");
}

// ---- Object model ------------------------------------------------------------------

class TProbeObject : public TPersistent {
  VEMRA_CLASS(TProbeObject, TPersistent)
};

TEST(ObjectModel, ClassNamesAncestryAndRegistry) {
  TCustomMap m;
  EXPECT_EQ(m.ClassName(), "TCustomMap");
  EXPECT_TRUE(m.InheritsFrom(TThreadPersistent::StaticClass()));
  EXPECT_TRUE(m.InheritsFrom(TObject::StaticClass()));
  EXPECT_FALSE(m.InheritsFrom(TProbeObject::StaticClass()));
  const TPersistent& asBase = m;
  EXPECT_EQ(asBase.ClassName(), "TCustomMap");  // the dynamic class

  EXPECT_EQ(FindClass("TProbeObject"), nullptr);
  EXPECT_THROW(TProbeObject::StaticClass()->Create(), EClassNotFound);
  RegisterClass<TProbeObject>();
  EXPECT_EQ(FindClass("TProbeObject"), TProbeObject::StaticClass());
  EXPECT_EQ(FindClass("tprobeobject"), nullptr);  // names are case-sensitive
  auto obj = FindClass("TProbeObject")->Create();
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->ClassName(), "TProbeObject");
  UnregisterClass(TProbeObject::StaticClass());
  EXPECT_EQ(FindClass("TProbeObject"), nullptr);
}

}  // namespace
