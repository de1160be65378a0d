// TBitmap32 as a container: sizes and allocation failure, notifications and
// measuring, the "Data" record, assignment from and to the picture classes
// and the clipboard, flips, equality, the resampler property and smooth text.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <chrono>
#include <string>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "platform_clipboard.h"
#include "platform_graphics.h"
#include "platform_stream.h"
#include "raster_core.h"
#include "raster_resamplers.h"

namespace {

struct TEventLog {
  int changes = 0;
  std::vector<std::pair<TRect, uint32_t>> areas;
  void Attach(TBitmap32& B) {
    B.OnChange = [this](void*) { ++changes; };
    B.OnAreaChanged = [this](TBitmap32*, const TRect& R, uint32_t Info) { areas.push_back({R, Info}); };
  }
};

// A recognisable picture: every pixel different, alpha varying too.
void FillPattern(TBitmap32& B) {
  for (int32_t y = 0; y < B.Height(); ++y)
    for (int32_t x = 0; x < B.Width(); ++x)
      B.SetPixel(x, y, static_cast<TColor32>(((x * 37 + y * 11) & 0xFF) << 24 | (x << 16) | (y << 8) | (x ^ y)));
}

std::vector<TColor32> Pixels(const TBitmap32& B) {
  return std::vector<TColor32>(B.Bits(), B.Bits() + B.PixelCount());
}

}  // namespace

TEST(Bitmap32Size, EmptySizesSendNothingAndSameSizeKeepsPixels) {
  TBitmap32 b;
  TEventLog log;
  log.Attach(b);
  b.SetSize(0, 10);
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 10);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Bits(), nullptr);
  const int before = log.changes;
  const size_t areasBefore = log.areas.size();
  b.Clear();
  EXPECT_EQ(log.changes, before);
  EXPECT_EQ(log.areas.size(), areasBefore);

  b.SetSize(5, 3);
  EXPECT_EQ(b.ClipRect(), (TRect{0, 0, 5, 3}));
  EXPECT_FALSE(b.Clipping());
  for (TColor32 p : Pixels(b)) EXPECT_EQ(p, 0u);  // zero-filled
  FillPattern(b);
  const auto kept = Pixels(b);
  const int changes = log.changes;
  EXPECT_FALSE(b.SetSize(5, 3));
  EXPECT_EQ(log.changes, changes);
  EXPECT_EQ(Pixels(b), kept);
  // A real change of size starts from zero again.
  b.SetSize(3, 5);
  for (TColor32 p : Pixels(b)) EXPECT_EQ(p, 0u);
}

// SetSizeForOverwrite is SetSize without the clearing: the same answer, the
// same notifications, the same clip rectangle; the same size keeps the pixels.
TEST(Bitmap32Size, SizeForOverwriteSendsWhatSetSizeSends) {
  TBitmap32 a, b;
  std::vector<std::string> ea, eb;
  const auto Log = [](TBitmap32& B, std::vector<std::string>& E) {
    B.OnChange = [&E](void*) { E.push_back("change"); };
    B.OnResize = [&E](void*) { E.push_back("resize"); };
    B.OnHandleChanged = [&E](void*) { E.push_back("handle"); };
    B.OnAreaChanged = [&E](TBitmap32*, const TRect& R, uint32_t) {
      E.push_back("area " + std::to_string(R.Right) + "x" + std::to_string(R.Bottom));
    };
  };
  Log(a, ea);
  Log(b, eb);
  for (auto [W, H] : {std::pair{5, 3}, std::pair{5, 3}, std::pair{0, 4}, std::pair{640, 480}, std::pair{-2, 7}}) {
    SCOPED_TRACE(std::to_string(W) + "x" + std::to_string(H));
    a.SetClipRect(TRect{1, 1, 2, 2});
    b.SetClipRect(TRect{1, 1, 2, 2});
    if (!b.Empty()) FillPattern(b);
    const auto Kept = Pixels(b);
    ea.clear();
    eb.clear();
    EXPECT_EQ(a.SetSize(W, H), b.SetSizeForOverwrite(W, H));
    EXPECT_EQ(ea, eb);
    EXPECT_EQ(a.Width(), b.Width());
    EXPECT_EQ(a.Height(), b.Height());
    EXPECT_EQ(a.ClipRect(), b.ClipRect());
    EXPECT_EQ(a.Empty(), b.Empty());
    if (Kept.size() == b.PixelCount() && ea.empty()) EXPECT_EQ(Pixels(b), Kept);
  }
  // A refused size leaves the flag behind no more than SetSize does: the next
  // plain SetSize clears again.
  EXPECT_THROW(b.SetSizeForOverwrite(std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max()),
               Exception);
  b.SetSize(3, 2);
  EXPECT_EQ(Pixels(b), std::vector<TColor32>(6, 0u));
}

// A reserved block goes to the next bitmap of exactly its pixel count, as
// cleared as any new bitmap; other sizes leave it. The copy into a new
// bitmap, split across threads, gives back every pixel.
TEST(Bitmap32Size, ReservedBlockGoesClearedToABitmapOfItsSize) {
  constexpr int32_t W = 700, H = 500;  // more pixels than one thread copies
  const auto WaitReady = [] {
    for (int i = 0; i < 5000 && ReservedPixelBlocks() < 1; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  ReservePixelBlocks(uint64_t{W} * H, 1);
  WaitReady();
  ASSERT_EQ(ReservedPixelBlocks(), 1);
  TBitmap32 Other;
  Other.SetSize(W + 1, H);
  EXPECT_EQ(ReservedPixelBlocks(), 1);
  TBitmap32 A;
  A.SetSize(W, H);
  EXPECT_EQ(ReservedPixelBlocks(), 0);
  EXPECT_EQ(Pixels(A), std::vector<TColor32>(A.PixelCount(), 0u));
  FillPattern(A);
  TBitmap32 B;
  B.Assign(&A);
  EXPECT_EQ(Pixels(B), Pixels(A));
  // Another count drops the block kept; none are kept for 0 blocks.
  ReservePixelBlocks(uint64_t{W} * H, 1);
  WaitReady();
  ReservePixelBlocks(uint64_t{W} * H + 1, 0);
  EXPECT_EQ(ReservedPixelBlocks(), 0);
}

TEST(Bitmap32Size, FailedAllocationLeavesAConsistentEmptyBitmap) {
  TBitmap32 b;
  b.SetSize(4, 4);
  b.SetClipRect(TRect{1, 1, 3, 3});
  int32_t big = std::numeric_limits<int32_t>::max();
  try {
    b.SetSize(big, big);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Can't allocate the DIB handle");
  }
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
  EXPECT_EQ(b.ClipRect(), (TRect{0, 0, 0, 0}));
  // The clipped primitives must find nothing to write into.
  b.SetPixelClipped(0, 0, 1);
  b.FillRectClipped(-10, -10, 10, 10, 1);
  b.LineClipped(0, 0, 5, 5, 1, true);
  EXPECT_EQ(b.GetPixelClipped(0, 0), b.OuterColor());
}

TEST(Bitmap32Notify, UpdateBracketsAndMeasuring) {
  TBitmap32 b;
  b.SetSize(8, 8);
  TEventLog log;
  log.Attach(b);
  b.BeginUpdate();
  b.Changed();
  b.Changed(TRect{1, 1, 2, 2});
  b.EndUpdate();
  EXPECT_EQ(log.changes, 0);
  EXPECT_TRUE(log.areas.empty());

  std::vector<TRect> measured;
  b.StartAreaReporting([&](TBitmap32*, const TRect& R, uint32_t) { measured.push_back(R); });
  EXPECT_TRUE(b.MeasuringMode());
  b.BeginUpdate();  // measuring reports even inside an update bracket
  b.FillRectClipped(1, 2, 3, 4, 0xFFFF0000u);
  b.EndUpdate();
  b.StopAreaReporting();
  EXPECT_EQ(log.changes, 0);
  ASSERT_FALSE(measured.empty());
  EXPECT_EQ(measured.back(), (TRect{1, 2, 3, 4}));
  EXPECT_EQ(b.GetPixel(1, 2), 0u);  // nothing drawn while measuring
  // The saved handler is back.
  b.Changed(TRect{0, 0, 1, 1});
  ASSERT_EQ(log.areas.size(), 1u);
  EXPECT_EQ(log.areas[0].second, AREAINFO_RECT);
  EXPECT_EQ(log.changes, 1);
}

TEST(Bitmap32Pixels, SetAllAlphaTouchesOnlyAlpha) {
  for (int32_t n : {1, 2, 16, 17}) {
    TBitmap32 b;
    b.SetSize(n, 1);
    FillPattern(b);
    const auto before = Pixels(b);
    b.SetAllAlpha(0x5A);
    for (int32_t i = 0; i < n; ++i) EXPECT_EQ(b.GetPixel(i, 0), (before[i] & 0xFFFFFFu) | 0x5A000000u) << n;
  }
}

TEST(Bitmap32Pixels, ClearHonoursTheClipRectangle) {
  TBitmap32 b;
  b.SetSize(6, 6);
  b.SetClipRect(TRect{-5, 2, 4, 100});
  EXPECT_EQ(b.ClipRect(), (TRect{0, 2, 4, 6}));
  EXPECT_TRUE(b.Clipping());
  b.ClearToColor(0xFF112233u);
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 6; ++x)
      EXPECT_EQ(b.GetPixel(x, y), (x < 4 && y >= 2) ? 0xFF112233u : 0u) << x << "," << y;
  b.SetClipRect(TRect{10, 10, 20, 20});
  EXPECT_EQ(b.ClipRect(), (TRect{0, 0, 0, 0}));
}

TEST(Bitmap32Data, RoundTripKeepsSizeAndPixelsWithAlpha) {
  TBitmap32 a;
  a.SetSize(7, 5);
  FillPattern(a);
  TMemoryStream s;
  a.WriteData(s);
  EXPECT_EQ(s.Size(), 8 + 7 * 5 * 4);
  // Little-endian header, then B, G, R, A.
  const uint8_t* m = s.Memory();
  EXPECT_EQ(m[0], 7);
  EXPECT_EQ(m[4], 5);
  EXPECT_EQ(m[8], a.GetPixel(0, 0) & 0xFF);
  EXPECT_EQ(m[11], a.GetPixel(0, 0) >> 24);
  s.SetPosition(0);
  TBitmap32 b;
  TEventLog log;
  log.Attach(b);
  b.ReadData(s);
  EXPECT_EQ(b.Width(), 7);
  EXPECT_EQ(b.Height(), 5);
  EXPECT_EQ(Pixels(b), Pixels(a));
  EXPECT_GT(log.changes, 0);
  EXPECT_TRUE(a.Equal(&b));

  TBitmap32 empty;
  TMemoryStream e;
  empty.WriteData(e);
  EXPECT_EQ(e.Size(), 8);
  EXPECT_FALSE(empty.DataDiffers(nullptr));
  EXPECT_TRUE(a.DataDiffers(nullptr));
  EXPECT_FALSE(a.DataDiffers(&b));
}

TEST(Bitmap32Data, TruncatedAndForgedRecordsAreRefusedBeforeAllocating) {
  TBitmap32 a;
  a.SetSize(4, 4);
  FillPattern(a);
  TMemoryStream full;
  a.WriteData(full);

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<uint8_t> cut(full.Bytes().begin(), full.Bytes().end() - 1);
  std::vector<uint8_t> header(full.Bytes().begin(), full.Bytes().begin() + 6);
  // 65535 x 65535 pixels announced, 4 bytes given.
  std::vector<uint8_t> forged = {0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0, 1, 2, 3, 4};
  // 2^31-1 squared would overflow a 32-bit byte count.
  std::vector<uint8_t> overflow = {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F};
  for (const Case& c : {Case{"one byte short", cut}, Case{"short header", header},
                        Case{"forged size", forged}, Case{"overflowing size", overflow}}) {
    TBitmap32 b;
    b.SetSize(2, 2);
    b.SetPixel(1, 1, 0xCAFEBABEu);
    TReadOnlyMemoryStream s(c.bytes.data(), c.bytes.size());
    EXPECT_THROW(b.ReadData(s), EReadError) << c.name;
    // Nothing was reallocated: the old picture is still there.
    EXPECT_EQ(b.Width(), 2) << c.name;
    EXPECT_EQ(b.GetPixel(1, 1), 0xCAFEBABEu) << c.name;
  }
  // Negative sizes read as an empty bitmap.
  std::vector<uint8_t> negative = {0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0};
  TReadOnlyMemoryStream s(negative.data(), negative.size());
  TBitmap32 b;
  b.ReadData(s);
  EXPECT_TRUE(b.Empty());
}

TEST(Bitmap32Assign, BitmapCopiesPixelsAndPropertiesOthersRaise) {
  TBitmap32 a;
  a.SetSize(3, 2);
  FillPattern(a);
  a.SetDrawMode(dmBlend);
  a.SetCombineMode(cmMerge);
  a.SetWrapMode(wmMirror);
  a.SetMasterAlpha(77);
  a.SetOuterColor(0x12345678u);
  a.Font().Size = 17;
  TBitmap32 b;
  b.Assign(&a);
  EXPECT_EQ(Pixels(b), Pixels(a));
  EXPECT_EQ(b.DrawMode(), dmBlend);
  EXPECT_EQ(b.CombineMode(), cmMerge);
  EXPECT_EQ(b.WrapMode(), wmMirror);
  EXPECT_EQ(b.MasterAlpha(), 77u);
  EXPECT_EQ(b.OuterColor(), 0x12345678u);
  EXPECT_EQ(b.Font().Size, 17);
  b.Assign(&b);  // self-assignment keeps everything
  EXPECT_EQ(Pixels(b), Pixels(a));
  b.Assign(nullptr);
  EXPECT_TRUE(b.Empty());

  TBoxKernel kernel;
  EXPECT_THROW(b.Assign(&kernel), EConvertError);
}

TEST(Bitmap32Assign, PlatformBitmapAlphaRules) {
  // A 24-bit bitmap carries no alpha: everything becomes opaque.
  TPlatformBitmap p24;
  p24.SetPixelFormat(TPixelFormat::pf24bit);
  p24.SetSize(3, 2);
  for (int32_t i = 0; i < 6; ++i) p24.Bits()[i] = 0x00102030u + static_cast<uint32_t>(i);
  TBitmap32 b;
  b.Assign(&p24);
  ASSERT_EQ(b.Width(), 3);
  for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(b.Bits()[i], 0xFF102030u + static_cast<uint32_t>(i));

  // A transparent bitmap: alpha 0 exactly where the RGB is the key colour.
  TPlatformBitmap pt;
  pt.SetSize(4, 1);
  pt.Bits()[0] = 0xFF0000FFu;  // blue, the key
  pt.Bits()[1] = 0x800000FFu;  // blue with another alpha: still the key
  pt.Bits()[2] = 0xFF0000FEu;  // almost blue
  pt.Bits()[3] = 0x7F123456u;
  pt.SetTransparent(true);
  pt.SetTransparentColor(0x00FF0000);  // platform colour 0x00BBGGRR: blue
  b.Assign(&pt);
  EXPECT_EQ(b.GetPixel(0, 0), 0x000000FFu);
  EXPECT_EQ(b.GetPixel(1, 0), 0x000000FFu);
  EXPECT_EQ(b.GetPixel(2, 0), 0xFF0000FEu);
  EXPECT_EQ(b.GetPixel(3, 0), 0x7F123456u);  // 32-bit alpha is kept elsewhere
}

namespace {
// An icon-like graphic: paints a 2x2 square in its middle, leaves the rest.
class TSquareIcon : public TTransparentGraphic {
 public:
  std::string ClassName() const override { return "TSquareIcon"; }
  int32_t Width() const override { return 4; }
  int32_t Height() const override { return 4; }
  void Draw(TPixelSurface& S, const TPlatformRect&) const override {
    for (int y = 1; y < 3; ++y)
      for (int x = 1; x < 3; ++x) S.Bits[y * S.Width + x] = 0x00406080u;
  }
  void LoadFromStream(TStream&) override {}
};
}  // namespace

TEST(Bitmap32Assign, TransparentGraphicsRecoverTheirCoverage) {
  TPicture picture;
  picture.SetGraphic(std::make_unique<TSquareIcon>());
  TBitmap32 b;
  b.Assign(&picture);
  ASSERT_EQ(b.Width(), 4);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) {
      const bool inside = x >= 1 && x < 3 && y >= 1 && y < 3;
      EXPECT_EQ(b.GetPixel(x, y), inside ? 0xFF406080u : 0x00FFFFFFu) << x << "," << y;
    }
}

TEST(Bitmap32Assign, ClipboardAndPictureRoundTrips) {
  TBitmap32 a;
  a.SetSize(5, 4);
  FillPattern(a);
  TMemoryClipboard board;
  a.AssignTo(board);
  ASSERT_TRUE(board.HasPicture());
  TBitmap32 b;
  b.Assign(board);
  ASSERT_EQ(b.Width(), 5);
  for (size_t i = 0; i < a.PixelCount(); ++i) EXPECT_EQ(b.Bits()[i], a.Bits()[i] | 0xFF000000u);

  TPicture picture;
  a.AssignTo(picture);
  TBitmap32 c;
  c.Assign(&picture);
  EXPECT_EQ(Pixels(c), Pixels(a));  // a 32-bit platform bitmap keeps alpha

  TMemoryStream bmp;
  a.SaveToStream(bmp);
  bmp.SetPosition(0);
  TBitmap32 d;
  d.LoadFromStream(bmp);
  EXPECT_EQ(Pixels(d), Pixels(a));
  EXPECT_TRUE(d.Equal(&a));
  d.SetPixel(0, 0, d.GetPixel(0, 0) ^ 0x01000000u);
  EXPECT_FALSE(d.Equal(&a));
  TBitmap32 e1, e2;
  e2.SetSize(0, 3);
  EXPECT_TRUE(e1.Equal(&e2));
  EXPECT_FALSE(e1.Equal(&a));
}

TEST(Bitmap32Assign, LoadFromFileGoesThroughThePictureRegistry) {
  RegisterBuiltinPictureFormats();
  TBitmap32 a;
  a.SetSize(3, 3);
  FillPattern(a);
  const std::string dir = ::testing::TempDir();
  const std::string bmp = dir + "/vemra_bitmap_test.bmp";
  TPlatformBitmap p;
  a.AssignTo(p);
  p.SaveToFile(bmp);
  TBitmap32 b;
  b.LoadFromFile(bmp);
  EXPECT_EQ(Pixels(b), Pixels(a));
  std::remove(bmp.c_str());
  EXPECT_THROW(b.LoadFromFile(dir + "/vemra_bitmap_test.nosuchformat"), EInvalidGraphic);
  EXPECT_EQ(Pixels(b), Pixels(a));  // a failed load leaves the bitmap alone
}

TEST(Bitmap32Flip, InPlaceKeepsTheMiddleAndCopiesMirror) {
  TBitmap32 a;
  a.SetSize(3, 3);
  FillPattern(a);
  const auto orig = Pixels(a);
  auto at = [&](int x, int y) { return orig[static_cast<size_t>(y * 3 + x)]; };
  TBitmap32 h;
  a.FlipHorizontal(&h);
  a.FlipHorizontal();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(a.GetPixel(x, y), at(2 - x, y));
      EXPECT_EQ(h.GetPixel(x, y), at(2 - x, y));
    }
  a.FlipHorizontal();
  TBitmap32 v;
  a.FlipVertical(&v);
  a.FlipVertical();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(a.GetPixel(x, y), at(x, 2 - y));
      EXPECT_EQ(v.GetPixel(x, y), at(x, 2 - y));
    }
}

TEST(Bitmap32Resampler, ClassNameSwitchesOnlyToRegisteredClasses) {
  RasterResamplersStartup();
  TBitmap32 b;
  EXPECT_EQ(b.ResamplerClassName(), "TNearestResampler");
  TCustomResampler* before = b.Resampler();
  b.SetResamplerClassName("TNoSuchResampler");
  EXPECT_EQ(b.Resampler(), before);
  b.SetResampler(nullptr);
  EXPECT_EQ(b.Resampler(), before);
  b.SetResamplerClassName("TLinearResampler");
  EXPECT_EQ(b.ResamplerClassName(), "TLinearResampler");
  TBitmap32 c;
  b.CopyPropertiesTo(&c);
  EXPECT_EQ(c.ResamplerClassName(), "TLinearResampler");
}

TEST(Bitmap32Draw, DrawEntryPointsUseOwnModeAndDestinationClip) {
  TBitmap32 src;
  src.SetSize(2, 2);
  src.SetPixel(0, 0, 0xFF0000FFu);
  src.SetPixel(1, 0, 0xFF00FF00u);
  src.SetPixel(0, 1, 0xFFFF0000u);
  src.SetPixel(1, 1, 0x00FFFFFFu);  // transparent in dmBlend
  TBitmap32 dst;
  dst.SetSize(6, 6);
  dst.Clear(0xFF000000u);
  dst.SetClipRect(TRect{0, 0, 3, 6});
  src.DrawTo(&dst, TRect{0, 0, 4, 4});  // nearest, doubled, cut at x = 3
  EXPECT_EQ(dst.GetPixel(1, 1), 0xFF0000FFu);
  EXPECT_EQ(dst.GetPixel(2, 0), 0xFF00FF00u);
  EXPECT_EQ(dst.GetPixel(0, 3), 0xFFFF0000u);
  EXPECT_EQ(dst.GetPixel(2, 3), 0x00FFFFFFu);
  EXPECT_EQ(dst.GetPixel(3, 0), 0xFF000000u);  // outside the destination's clip

  dst.ResetClipRect();
  dst.Clear(0xFF000000u);
  src.SetDrawMode(dmBlend);
  src.DrawAt(&dst, 4, 4);
  EXPECT_EQ(dst.GetPixel(4, 4), 0xFF0000FFu);
  EXPECT_EQ(dst.GetPixel(5, 5), 0xFF000000u);  // alpha 0 leaves the background
  dst.DrawScaledFrom(TRect{0, 0, 1, 1}, TRect{0, 0, 1, 1}, nullptr);  // nothing
  EXPECT_THROW(src.DrawAt(nullptr, 0, 0), Exception);
}

TEST(Bitmap32Text, SmoothTextBlendsCoverageOnlyWithSupersampling) {
  auto render = [](int32_t level) {
    TBitmap32 b;
    b.SetSize(80, 30);
    b.ClearToColor(0xFFFFFFFFu);
    b.Font().Size = 12;
    b.DrawSmoothText(2, 2, "Wave", level, 0xFF000000u);
    int dark = 0, partial = 0;
    for (TColor32 p : Pixels(b)) {
      const int g = GreenOf(p);
      if (g == 0) ++dark;
      else if (g < 255) ++partial;
    }
    return std::pair<int, int>{dark, partial};
  };
  const auto hard = render(0);
  const auto soft = render(2);
  EXPECT_GT(hard.first, 20);   // glyphs were drawn
  EXPECT_EQ(hard.second, 0);   // no anti-aliasing without supersampling
  EXPECT_GT(soft.second, 20);  // averaged 4 x 4 blocks give partial coverage

  TBitmap32 none;
  none.DrawSmoothText(0, 0, "x", 2, 0xFF000000u);  // empty bitmap: nothing
  EXPECT_TRUE(none.Empty());
}
