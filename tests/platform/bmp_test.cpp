// The BMP reader against Pillow and against the images the generator encoded,
// the writer against Pillow, alpha round trips, and malformed files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "platform_graphics.h"
#include "platform_test_util.h"

namespace {

int RunPython(const std::string& Args) {
  std::string cmd = "/usr/bin/python3 '" + GeneratorScript() + "' " + Args + " > /dev/null";
  return std::system(cmd.c_str());
}

// A 32-bit picture with every alpha from 0 to 255 and varied colours.
TPlatformBitmap AlphaPicture(int32_t W, int32_t H, uint32_t Seed) {
  TPlatformBitmap b;
  b.SetSize(W, H);
  std::mt19937 rng(Seed);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) b.ScanLine(y)[x] = rng();
  b.ScanLine(0)[0] = 0x00000000u;
  b.ScanLine(H - 1)[W - 1] = 0x00FFFFFFu;
  return b;
}

uint32_t Le32At(const std::vector<uint8_t>& b, size_t o) {
  return static_cast<uint32_t>(b[o]) | static_cast<uint32_t>(b[o + 1]) << 8 | static_cast<uint32_t>(b[o + 2]) << 16 |
         static_cast<uint32_t>(b[o + 3]) << 24;
}

void ExpectInvalid(const std::vector<uint8_t>& Bytes, const std::string& MessagePart) {
  try {
    LoadBmp(Bytes);
    ADD_FAILURE() << "loaded a file that should fail with \"" << MessagePart << "\"";
  } catch (const EInvalidGraphic& e) {
    EXPECT_NE(std::string(e.what()).find(MessagePart), std::string::npos) << e.what();
  }
}

}  // namespace

TEST(BmpRead, EveryDepthHeaderAndCompressionMatchesReference) {
  TTempDir dir;
  ASSERT_FALSE(dir.Path.empty());
  ASSERT_EQ(RunPython("'" + dir.Path.string() + "'"), 0) << "the generator failed";
  std::ifstream manifest(dir.File("manifest.txt"));
  std::string line;
  int checked = 0;
  while (std::getline(manifest, line)) {
    std::istringstream in(line);
    std::string name, format, source;
    int tol = 0;
    in >> name >> format >> tol >> source;
    SCOPED_TRACE(name + " (" + source + ")");
    TFileStream f(dir.File(name + ".bmp"), TFileMode::fmOpenRead);
    TPlatformBitmap b;
    ASSERT_NO_THROW(b.LoadFromStream(f));
    TPixelFile want = ReadPixelFile(dir.File(name + ".px"));
    ASSERT_EQ(b.Width(), want.Width);
    ASSERT_EQ(b.Height(), want.Height);
    EXPECT_EQ(PixelFormatName(b.PixelFormat()), format);
    int bad = 0;
    for (int32_t y = 0; y < b.Height(); ++y)
      for (int32_t x = 0; x < b.Width(); ++x) {
        uint32_t got = b.ScanLine(y)[x], exp = want.Pixels[static_cast<size_t>(y) * b.Width() + x];
        for (int sh = 0; sh < 32; sh += 8) {
          int d = static_cast<int>((got >> sh) & 0xFF) - static_cast<int>((exp >> sh) & 0xFF);
          if (d > tol || d < -tol) {
            if (++bad <= 3)
              ADD_FAILURE() << "pixel " << x << "," << y << std::hex << " got 0x" << got << " want 0x" << exp;
            break;
          }
        }
      }
    EXPECT_EQ(bad, 0);
    ++checked;
  }
  EXPECT_GE(checked, 30);
}

TEST(BmpWrite, ThirtyTwoBitRoundTripKeepsAlphaAndLayout) {
  TPlatformBitmap src = AlphaPicture(7, 5, 1);
  std::vector<uint8_t> bytes = SaveBmp(src);
  // 40-byte header, uncompressed, 32 bits, positive height (bottom-up rows).
  ASSERT_EQ(bytes.size(), 14u + 40u + 7u * 5u * 4u);
  EXPECT_EQ(Le32At(bytes, 10), 54u);
  EXPECT_EQ(Le32At(bytes, 14), 40u);
  EXPECT_EQ(static_cast<int32_t>(Le32At(bytes, 22)), 5);
  EXPECT_EQ(bytes[28], 32);
  EXPECT_EQ(Le32At(bytes, 30), 0u);
  // The first stored row is the bottom one, its fourth byte the alpha.
  EXPECT_EQ(Le32At(bytes, 54 + 6 * 4), src.ScanLine(4)[6]);

  TPlatformBitmap back = LoadBmp(bytes);
  EXPECT_EQ(back.PixelFormat(), TPixelFormat::pf32bit);
  ASSERT_EQ(back.Width(), 7);
  ASSERT_EQ(back.Height(), 5);
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 7; ++x) EXPECT_EQ(back.ScanLine(y)[x], src.ScanLine(y)[x]) << x << "," << y;

  // A fully transparent image comes back fully transparent.
  TPlatformBitmap clear;
  clear.SetSize(3, 2);
  for (int i = 0; i < 6; ++i) clear.Bits()[i] = 0x00123456u;
  TPlatformBitmap clearBack = LoadBmp(SaveBmp(clear));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(clearBack.Bits()[i], 0x00123456u);

  // An empty bitmap writes a header that reads back as empty.
  TPlatformBitmap none;
  TPlatformBitmap noneBack = LoadBmp(SaveBmp(none));
  EXPECT_TRUE(noneBack.Empty());
}

TEST(BmpWrite, EveryPixelFormatReadsBackAndPillowAgrees) {
  TTempDir dir;
  struct Case {
    TPixelFormat Format;
    int Bits;
  };
  const Case cases[] = {{TPixelFormat::pf1bit, 1},   {TPixelFormat::pf4bit, 4},   {TPixelFormat::pf8bit, 8},
                        {TPixelFormat::pf15bit, 16}, {TPixelFormat::pf16bit, 16}, {TPixelFormat::pf24bit, 24},
                        {TPixelFormat::pf32bit, 32}};
  for (const Case& c : cases) {
    SCOPED_TRACE(PixelFormatName(c.Format));
    TPlatformBitmap b = AlphaPicture(13, 6, 7);
    b.SetPixelFormat(c.Format);
    std::vector<uint8_t> bytes = SaveBmp(b);
    EXPECT_EQ(bytes[28], c.Bits);
    TPlatformBitmap back = LoadBmp(bytes);
    EXPECT_EQ(back.PixelFormat(), c.Format);
    for (int i = 0; i < 13 * 6; ++i) ASSERT_EQ(back.Bits()[i], b.Bits()[i]) << "pixel " << i;

    std::string bmp = dir.File(std::string(PixelFormatName(c.Format)) + ".bmp");
    std::string px = bmp + ".px";
    WriteAll(bmp, bytes);
    ASSERT_EQ(RunPython("--decode '" + bmp + "' '" + px + "'"), 0);
    TPixelFile pil = ReadPixelFile(px);
    ASSERT_EQ(pil.Width, 13);
    ASSERT_EQ(pil.Height, 6);
    // Pillow reads an uncompressed 32-bit file without its alpha; compare colours.
    for (int i = 0; i < 13 * 6; ++i) {
      uint32_t want = b.Bits()[i], got = pil.Pixels[static_cast<size_t>(i)];
      if (c.Format == TPixelFormat::pf15bit || c.Format == TPixelFormat::pf16bit) {
        for (int sh = 0; sh < 24; sh += 8)
          ASSERT_LE(std::abs(static_cast<int>((want >> sh) & 0xFF) - static_cast<int>((got >> sh) & 0xFF)), 1)
              << "pixel " << i;
      } else {
        ASSERT_EQ(got & 0xFFFFFFu, want & 0xFFFFFFu) << "pixel " << i;
      }
    }
  }
}

TEST(BmpRead, StartsAtTheStreamPositionAndIgnoresTrailingBytes) {
  // The undo checkpoint rewrites its file in place: a smaller picture is
  // followed by the tail of the earlier, larger one.
  TPlatformBitmap big = AlphaPicture(9, 9, 3), small = AlphaPicture(2, 3, 4);
  std::vector<uint8_t> file = SaveBmp(big);
  std::vector<uint8_t> second = SaveBmp(small);
  std::copy(second.begin(), second.end(), file.begin());
  TPlatformBitmap back = LoadBmp(file);
  ASSERT_EQ(back.Width(), 2);
  ASSERT_EQ(back.Height(), 3);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(back.Bits()[i], small.Bits()[i]);

  // A record that starts after other data: offsets count from its own start.
  TMemoryStream s;
  s.WriteBuffer("PREFIX", 6);
  small.SaveToStream(s);
  s.WriteBuffer("TAIL", 4);
  s.SetPosition(6);
  TPlatformBitmap embedded;
  embedded.LoadFromStream(s);
  EXPECT_EQ(s.Position(), 6 + static_cast<int64_t>(second.size()));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(embedded.Bits()[i], small.Bits()[i]);
}

TEST(BmpRead, MalformedHeadersFailWithClearMessages) {
  TPlatformBitmap pic = AlphaPicture(4, 4, 5);
  const std::vector<uint8_t> good = SaveBmp(pic);
  auto with = [&](size_t Offset, std::vector<uint8_t> Bytes) {
    std::vector<uint8_t> b = good;
    std::copy(Bytes.begin(), Bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(Offset));
    return b;
  };
  ExpectInvalid({}, "truncated");
  ExpectInvalid(with(0, {'P', 'K'}), "signature");
  ExpectInvalid(with(14, {20, 0, 0, 0}), "header size");
  ExpectInvalid(with(28, {3, 0}), "bit count");
  ExpectInvalid(with(30, {4, 0, 0, 0}), "compression");
  ExpectInvalid(with(30, {1, 0, 0, 0}), "RLE8");
  ExpectInvalid(with(18, {0xFF, 0xFF, 0xFF, 0xFF}), "width");
  ExpectInvalid(with(10, {0xFF, 0xFF, 0, 0}), "offset");
  // Dimensions far beyond what the bytes hold are refused before allocating.
  ExpectInvalid(with(18, {0x40, 0x42, 0x0F, 0x00, 0x40, 0x42, 0x0F, 0x00}), "too large");
  ExpectInvalid(with(18, {0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00}), "truncated");
  std::vector<uint8_t> rle = with(18, {0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00});
  rle[28] = 8;
  rle[30] = 1;  // 4096 x 4096 RLE8 in 64 bytes: more than a few bytes may stand for
  ExpectInvalid(rle, "too large for its RLE data");
  rle[19] = 0x08, rle[23] = 0x08;  // 2048 x 2048: allowed to try, fails on missing data
  ExpectInvalid(rle, "truncated");
  std::vector<uint8_t> hugeRle = with(18, {0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x00});
  hugeRle[28] = 8;
  hugeRle[30] = 1;  // 524288 x 524288
  ExpectInvalid(hugeRle, "too large");

  // A failed load leaves the bitmap as it was.
  TPlatformBitmap keep = AlphaPicture(3, 3, 6);
  std::vector<uint8_t> cut(good.begin(), good.end() - 5);
  TReadOnlyMemoryStream s(cut.data(), cut.size());
  EXPECT_THROW(keep.LoadFromStream(s), EInvalidGraphic);
  TPlatformBitmap same = AlphaPicture(3, 3, 6);
  ASSERT_EQ(keep.Width(), 3);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(keep.Bits()[i], same.Bits()[i]);
}

TEST(BmpRead, EveryTruncationAndRandomCorruptionFailsCleanly) {
  TTempDir dir;
  ASSERT_EQ(RunPython("'" + dir.Path.string() + "'"), 0);
  const char* names[] = {"rle8_delta", "rle4_plain", "pal4_bu", "bf16_565_v4", "bf32_bgra_v5_td", "rgb24_core"};
  std::mt19937 rng(99);
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> file = ReadAll(dir.File(std::string(name) + ".bmp"));
    ASSERT_FALSE(file.empty());
    // Every cut that removes pixel data (not just a last row's padding) fails.
    for (size_t n = 0; n + 4 <= file.size(); ++n) {
      std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
      EXPECT_THROW(LoadBmp(cut), EInvalidGraphic) << "length " << n;
    }
    // Random byte changes either load or fail with EInvalidGraphic; any other
    // exception escapes and fails the test, and the sanitizers see every read.
    int refused = 0;
    for (int round = 0; round < 300; ++round) {
      std::vector<uint8_t> bad = file;
      int flips = 1 + static_cast<int>(rng() % 4);
      for (int k = 0; k < flips; ++k) bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
      try {
        LoadBmp(bad);
      } catch (const EInvalidGraphic&) {
        ++refused;
      }
    }
    EXPECT_GT(refused, 0);
  }
}
