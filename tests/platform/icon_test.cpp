// Icons: every DIB depth read against Pillow's icon reader, drawing that lets
// the two-background trick recover transparency, saving, and bad directories.
#include <gtest/gtest.h>

#include <cstring>

#include "picture_test_util.h"
#include "platform_icon.h"
#include "raster_core.h"

namespace {

const std::string kGen = std::string("/usr/bin/python3 ") + VEMRA_SOURCE_DIR + "/tests/platform/ico_gen.py ";

// Pillow's reading of an icon as 0xAARRGGBB (it opens the largest entry).
TTestImage PillowRgba(const TTempDir& dir, const std::string& ico, int32_t w, int32_t h) {
  TTestImage img;
  const std::string raw = dir / "pillow.rgba";
  if (!RunTool("/usr/bin/python3 -c \"import sys; from PIL import Image; "
               "open(sys.argv[2], 'wb').write(Image.open(sys.argv[1]).convert('RGBA').tobytes())\" " +
               ico + " " + raw))
    return img;
  const std::vector<uint8_t> b = ReadFileBytes(raw);
  if (b.size() != static_cast<size_t>(w) * h * 4) return img;
  img.Width = w;
  img.Height = h;
  for (size_t i = 0; i < b.size(); i += 4)
    img.Px.push_back((static_cast<uint32_t>(b[i + 3]) << 24) | (b[i] << 16) | (b[i + 1] << 8) | b[i + 2]);
  return img;
}

TIcon LoadIcon(const std::string& file) {
  TIcon icon;
  const std::vector<uint8_t> bytes = ReadFileBytes(file);
  icon.LoadFromBytes(bytes.data(), bytes.size());
  return icon;
}

// What a bitmap's Assign makes of a transparent graphic: drawn on white and on
// opaque red, equal RGB means opaque, different means transparent.
std::vector<uint32_t> TwoBackgroundAlpha(const TIcon& icon) {
  const int32_t w = icon.Width(), h = icon.Height();
  std::vector<uint32_t> white(static_cast<size_t>(w) * h, 0xFFFFFFFF), red(white.size(), 0xFFFF0000);
  TPixelSurface sw{white.data(), w, h}, sr{red.data(), w, h};
  icon.Draw(sw, TPlatformRect{0, 0, w, h});
  icon.Draw(sr, TPlatformRect{0, 0, w, h});
  std::vector<uint32_t> out(white.size());
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = ((white[i] ^ red[i]) & 0xFFFFFF) == 0 ? (0xFF000000u | (white[i] & 0xFFFFFF)) : (white[i] & 0xFFFFFF);
  return out;
}

void ExpectInvalid(const std::vector<uint8_t>& bytes, const std::string& what,
                   const std::string& message = "Icon image is not valid") {
  TIcon icon;
  try {
    icon.LoadFromBytes(bytes.data(), bytes.size());
    ADD_FAILURE() << what << ": no error";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(std::string(e.what()), message) << what;
  }
  EXPECT_TRUE(icon.Empty()) << what;
}

}  // namespace

TEST(IconRead, EveryDepthMatchesPillow) {
  TTempDir dir;
  const struct {
    const char* args;
    int32_t w, h, bpp;
    int tolerance;  // 16-bit colour expansion rounds differently by one level
  } cases[] = {
      {"1 16 16", 16, 16, 1, 0},           {"4 16 16", 16, 16, 4, 0},
      {"4 13 7", 13, 7, 4, 0},             {"8 32 32", 32, 32, 8, 0},
      {"8 20 10 --clr-used 200", 20, 10, 8, 0}, {"16 17 9", 17, 9, 16, 1},
      {"24 33 18", 33, 18, 24, 0},         {"32 24 24 --alpha", 24, 24, 32, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const std::string ico = dir / "t.ico";
    ASSERT_TRUE(RunTool(kGen + ico + " " + c.args));
    const TIcon icon = LoadIcon(ico);
    ASSERT_EQ(icon.Width(), c.w);
    ASSERT_EQ(icon.Height(), c.h);
    EXPECT_EQ(icon.BitCount(), c.bpp);
    EXPECT_EQ(icon.HasAlpha(), c.bpp == 32);
    const TTestImage ref = PillowRgba(dir, ico, c.w, c.h);
    ASSERT_EQ(ref.Width, c.w);
    const std::vector<uint32_t> px = icon.Pixels();
    int bad = 0;
    for (size_t i = 0; i < px.size(); ++i) {
      const uint32_t a = px[i] >> 24, ra = ref.Px[i] >> 24;
      bool ok = a == ra;
      if (ok && a != 0)
        for (int sh : {0, 8, 16})
          ok &= std::abs(static_cast<int>((px[i] >> sh) & 0xFF) - static_cast<int>((ref.Px[i] >> sh) & 0xFF)) <=
                c.tolerance;
      if (!ok && bad++ < 3) ADD_FAILURE() << "pixel " << i << ": " << std::hex << px[i] << " vs " << ref.Px[i];
    }
    EXPECT_EQ(bad, 0);
  }
}

TEST(IconRead, FirstEntryTakenAndZeroAlphaFallsBackToMask) {
  TTempDir dir;
  ASSERT_TRUE(RunTool(kGen + dir / "two.ico 8 16 16 --second"));
  const TIcon first = LoadIcon(dir / "two.ico");
  EXPECT_EQ(first.Width(), 16);
  EXPECT_EQ(first.BitCount(), 8);
  // A 32-bit entry with an all-zero alpha channel is an old-style icon: the
  // AND mask decides, the colours are opaque.
  ASSERT_TRUE(RunTool(kGen + dir / "z.ico 32 8 8"));
  const TIcon z = LoadIcon(dir / "z.ico");
  EXPECT_FALSE(z.HasAlpha());
  const std::vector<uint32_t> px = z.Pixels();
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool masked = (x + 2 * y) % 5 == 0;
      EXPECT_EQ(px[y * 8 + x] >> 24, masked ? 0u : 255u) << x << "," << y;
    }
}

TEST(IconDraw, TwoBackgroundsRecoverMaskTransparency) {
  TTempDir dir;
  ASSERT_TRUE(RunTool(kGen + dir / "m.ico 4 16 16"));
  const TIcon icon = LoadIcon(dir / "m.ico");
  // Opaque pixels come back with their colour; masked ones (which carry a
  // colour in this icon, so they invert the background) come back transparent.
  const std::vector<uint32_t> got = TwoBackgroundAlpha(icon), want = icon.Pixels();
  int transparent = 0;
  for (size_t i = 0; i < want.size(); ++i) {
    if (want[i] >> 24) {
      EXPECT_EQ(got[i], want[i]) << i;
    } else {
      EXPECT_EQ(got[i] >> 24, 0u) << i;
      ++transparent;
    }
  }
  EXPECT_GT(transparent, 40);
}

TEST(IconDraw, MaskAndXorAsThePlatformDrawsIcons) {
  // A hand-built 2 x 1 24-bit icon: pixel 0 opaque blue, pixel 1 masked with
  // colour 0x00FF00 (inverts the green of the background).
  std::vector<uint8_t> ico = {0, 0, 1, 0, 1, 0, 2, 1, 0, 0, 1, 0, 24, 0};
  const uint32_t resSize = 40 + 8 + 8;
  for (uint32_t v : {resSize, 22u})
    for (int k = 0; k < 4; ++k) ico.push_back(static_cast<uint8_t>(v >> (8 * k)));
  const uint8_t hdr[40] = {40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0};
  ico.insert(ico.end(), hdr, hdr + 40);
  const uint8_t xorRow[8] = {0xFF, 0, 0, 0, 0xFF, 0, 0, 0};  // B,G,R per pixel, padded to 8
  ico.insert(ico.end(), xorRow, xorRow + 8);
  const uint8_t andRow[4] = {0x40, 0, 0, 0};
  ico.insert(ico.end(), andRow, andRow + 4);
  ico.insert(ico.end(), 4, 0);  // slack after the mask
  TIcon icon;
  icon.LoadFromBytes(ico.data(), ico.size());
  ASSERT_EQ(icon.Width(), 2);
  ASSERT_EQ(icon.Height(), 1);
  uint32_t surf[2] = {0xFF808080, 0xFF123456};
  TPixelSurface s{surf, 2, 1};
  icon.Draw(s, TPlatformRect{0, 0, 2, 1});
  EXPECT_EQ(surf[0], 0x000000FFu);                // mask 0: background cleared, colour in, alpha 0
  EXPECT_EQ(surf[1], 0xFF123456u ^ 0x0000FF00u);  // mask 1: background kept, colour XORed
  // Stretched to 4 x 2: each icon pixel covers a 2 x 2 block.
  uint32_t big[8];
  std::fill(big, big + 8, 0xFF000000u);
  TPixelSurface sb{big, 4, 2};
  icon.Draw(sb, TPlatformRect{0, 0, 4, 2});
  EXPECT_EQ(big[1], 0x000000FFu);
  EXPECT_EQ(big[4 + 2], 0xFF00FF00u);
}

TEST(IconDraw, AlphaIconBlendsOntoTheSurface) {
  const uint32_t px[4] = {0xFF102030, 0x80FF0000, 0x00ABCDEF, 0x400000FF};
  TIcon icon;
  icon.SetPixels(2, 2, px);
  uint32_t surf[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFF000000};
  TPixelSurface s{surf, 2, 2};
  icon.Draw(s, TPlatformRect{0, 0, 2, 2});
  EXPECT_EQ(surf[0], 0xFF102030u);
  // 0x80 over white: red stays 255, green and blue (0*128 + 255*127)/255 = 127.
  EXPECT_EQ(surf[1], 0xFFFF7F7Fu);
  EXPECT_EQ(surf[2], 0xFFFFFFFFu);  // fully transparent leaves the surface
  EXPECT_EQ(surf[3] & 0xFFFFFF, 0x000040u);
  // The two-background trick sees opaque and transparent pixels.
  const std::vector<uint32_t> a = TwoBackgroundAlpha(icon);
  EXPECT_EQ(a[0], 0xFF102030u);
  EXPECT_EQ(a[2] >> 24, 0u);
}

TEST(IconDraw, BitmapLoadsIconFilesByTheTwoBackgroundRule) {
  // The generator's own pattern, so the expectation does not lean on our reader.
  auto colour = [](int x, int y) {
    return (static_cast<uint32_t>((x * 37 + y * 11) & 0xFF) << 16) |
           (static_cast<uint32_t>((x * 5 + y * 29 + 40) & 0xFF) << 8) | static_cast<uint32_t>((x * 17 ^ y * 13) & 0xFF);
  };
  auto masked = [](int x, int y) { return (x + 2 * y) % 5 == 0; };
  RegisterBuiltinPictureFormats();
  TTempDir dir;

  // A mask icon: a masked pixel carries a colour, so it inverts the
  // background; drawn on white and on red it differs and comes back
  // transparent with the colour it showed on white.
  ASSERT_TRUE(RunTool(kGen + dir / "m.ico 24 16 16"));
  TBitmap32 b;
  b.LoadFromFile(dir / "m.ico");
  ASSERT_EQ(b.Width(), 16);
  ASSERT_EQ(b.Height(), 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const uint32_t want = masked(x, y) ? (0xFFFFFFu ^ colour(x, y)) : (0xFF000000u | colour(x, y));
      ASSERT_EQ(b.GetPixel(x, y), want) << x << "," << y;
    }

  // An alpha icon: only fully opaque pixels look the same on both
  // backgrounds; every other one becomes transparent with its look on white.
  ASSERT_TRUE(RunTool(kGen + dir / "a.ICO 32 24 24 --alpha"));  // upper case: the registry ignores it
  b.LoadFromFile(dir / "a.ICO");
  ASSERT_EQ(b.Width(), 24);
  int opaque = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x) {
      const uint32_t a = masked(x, y) ? 0 : static_cast<uint32_t>((x * 16 + y * 3) & 0xFF);
      const uint32_t c = colour(x, y), got = b.GetPixel(x, y);
      if (a == 255) {
        ++opaque;
        ASSERT_EQ(got, 0xFF000000u | c) << x << "," << y;
        continue;
      }
      ASSERT_EQ(got >> 24, 0u) << x << "," << y;
      for (int sh : {0, 8, 16}) {
        const int onWhite = static_cast<int>((((c >> sh) & 0xFF) * a + 255 * (255 - a) + 127) / 255);
        ASSERT_NEAR(static_cast<int>((got >> sh) & 0xFF), onWhite, 1) << x << "," << y;
      }
    }
  EXPECT_GT(opaque, 0);
}

TEST(IconWrite, SavesA32BitIconThatReadsBack) {
  TTempDir dir;
  ASSERT_TRUE(RunTool(kGen + dir / "src.ico 8 20 12"));
  const TIcon src = LoadIcon(dir / "src.ico");
  const std::vector<uint8_t> saved = src.SaveToBytes();
  TIcon back;
  back.LoadFromBytes(saved.data(), saved.size());
  EXPECT_EQ(back.BitCount(), 32);
  EXPECT_EQ(back.Width(), 20);
  EXPECT_EQ(back.Height(), 12);
  EXPECT_EQ(back.Pixels(), src.Pixels());
  // Pillow reads what we wrote the same way.
  WriteFileBytes(dir / "out.ico", saved);
  const TTestImage ref = PillowRgba(dir, dir / "out.ico", 20, 12);
  EXPECT_EQ(ref.Px, src.Pixels());
  // Through a stream, at an offset, and for a 256-pixel side (written as 0).
  std::vector<uint32_t> big(256 * 3, 0x80123456);
  TIcon wide;
  wide.SetPixels(256, 3, big.data());
  TMemoryStream ms;
  ms.WriteBuffer("xy", 2);
  wide.SaveToStream(ms);
  EXPECT_EQ(ms.Bytes()[2 + 6], 0);
  ms.SetPosition(2);
  TIcon wideBack;
  wideBack.LoadFromStream(ms);
  EXPECT_EQ(wideBack.Width(), 256);
  EXPECT_EQ(wideBack.Pixels(), big);
  EXPECT_THROW(TIcon().SaveToBytes(), EInvalidGraphic);
}

TEST(IconRead, BadDirectoriesAndEntriesRefused) {
  TTempDir dir;
  ASSERT_TRUE(RunTool(kGen + dir / "ok.ico 8 16 16"));
  const std::vector<uint8_t> ok = ReadFileBytes(dir / "ok.ico");
  auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> v(ok);
    size_t i = at;
    for (uint8_t b : bytes) v[i++] = b;
    return v;
  };
  ExpectInvalid({}, "empty");
  ExpectInvalid(std::vector<uint8_t>(ok.begin(), ok.begin() + 5), "short header");
  ExpectInvalid(patched(2, {2, 0}), "cursor type");
  ExpectInvalid(patched(0, {1, 0}), "reserved not zero");
  ExpectInvalid(patched(4, {0, 0}), "no entries");
  ExpectInvalid(std::vector<uint8_t>(ok.begin(), ok.begin() + 20), "entry cut short");
  ExpectInvalid(patched(18, {0xFF, 0xFF, 0xFF, 0x7F}), "offset past the end");
  ExpectInvalid(patched(18, {0, 0, 0, 0}), "offset inside the directory");
  ExpectInvalid(patched(14, {10, 0, 0, 0}), "entry too small for a header");
  ExpectInvalid(std::vector<uint8_t>(ok.begin(), ok.end() - 100), "pixels cut short");
  ExpectInvalid(patched(22, {12, 0, 0, 0}), "core header");
  ExpectInvalid(patched(22 + 4, {0, 0, 0, 0x80}), "negative width");
  ExpectInvalid(patched(22 + 8, {0xF0, 0xFF, 0xFF, 0xFF}), "top-down height");
  ExpectInvalid(patched(22 + 8, {33, 0, 0, 0}), "odd height");
  ExpectInvalid(patched(22 + 4, {0, 0, 1, 0}), "width far too large");
  ExpectInvalid(patched(22 + 14, {3, 0}), "three bits per pixel");
  ExpectInvalid(patched(22 + 16, {1, 0, 0, 0}), "RLE compression");
  ASSERT_TRUE(RunTool(kGen + dir / "png.ico png"));
  // A PNG entry goes to the PNG reader, whose error the icon passes on as its own.
  ExpectInvalid(ReadFileBytes(dir / "png.ico"), "png entry",
                "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n(IHDR chunk "
                "is not the first)");
  // A refused load keeps the icon that was there.
  TIcon icon = LoadIcon(dir / "ok.ico");
  const std::vector<uint8_t> bad = patched(22 + 14, {3, 0});
  EXPECT_THROW(icon.LoadFromBytes(bad.data(), bad.size()), EInvalidGraphic);
  EXPECT_EQ(icon.Width(), 16);
}

TEST(IconRegistry, RegisteredAsIcons) {
  RegisterBuiltinPictureFormats();  // once per process; the editor does it at start-up
  const TPictureFormat* f = FindFileFormat("ICO");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->GraphicClassName, "TIcon");
  EXPECT_EQ(f->Description, "Icons");
  std::unique_ptr<TGraphic> g = f->Create();
  EXPECT_NE(dynamic_cast<TTransparentGraphic*>(g.get()), nullptr);
  EXPECT_TRUE(g->Transparent());
}
