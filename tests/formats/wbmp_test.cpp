// WBMP: the byte layout, the intensity threshold, short files, the two forms
// of sides, and files made and read by ImageMagick and the Netpbm tools.
#include <filesystem>
#include <fstream>

#include "formats_test_util.h"
#include "img_wbmp.h"

namespace {

// A P4 bit map (1 = black) of the pattern Black(x, y).
template <class F>
void WritePbm(const std::string& Name, int32_t W, int32_t H, F Black) {
  std::ofstream out(Name, std::ios::binary);
  out << "P4\n" << W << " " << H << "\n";
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x0 = 0; x0 < W; x0 += 8) {
      uint8_t byte = 0;
      for (int32_t x = x0; x < std::min(W, x0 + 8); ++x)
        if (Black(x, y)) byte |= static_cast<uint8_t>(0x80 >> (x - x0));
      out.put(static_cast<char>(byte));
    }
}

bool Pattern(int32_t x, int32_t y) { return ((x * 7 + y * 3) % 5) < 2 || x == y; }

}  // namespace

TEST(WbmpFile, LayoutThresholdAndRoundTrip) {
  TTempDir dir;
  TBitmap32 b;
  b.SetSize(9, 2);
  b.Clear(0xFF000000u);
  b.SetPixel(0, 0, 0xFFFFFFFFu);
  b.SetPixel(8, 0, 0x00FFFFFFu);  // alpha plays no part
  b.SetPixel(1, 1, GrayArgb(127));
  b.SetPixel(2, 1, GrayArgb(126));
  b.SetPixel(3, 1, 0xFF808000u);  // intensity (128 * 61 + 128 * 174) shr 8 = 117
  ASSERT_TRUE(SaveWBMP(dir / "a.wbmp", &b));
  EXPECT_EQ(ReadFileBytes(dir / "a.wbmp"), std::vector<uint8_t>({0, 0, 9, 2, 0x80, 0x80, 0x40, 0x00}));
  TBitmap32 back;
  LoadWBMP(dir / "a.wbmp", &back);
  ASSERT_EQ(back.Width(), 9);
  ASSERT_EQ(back.Height(), 2);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 9; ++x)
      EXPECT_EQ(back.GetPixel(x, y), IntensityOf(b.GetPixel(x, y)) >= 127 ? 0xFFFFFFFFu : 0xFF000000u) << x << "," << y;
  // Sides of 128 and more take two bytes each: 255 is 0x81 0x7F, 200 0x81 0x48.
  TBitmap32 big, bigBack;
  FillBitmap(big, 255, 200, NoisePixels(255 * 200, 4));
  ASSERT_TRUE(SaveWBMP(dir / "big.wbm", &big));
  const std::vector<uint8_t> bytes = ReadFileBytes(dir / "big.wbm");
  ASSERT_EQ(bytes.size(), 6u + 32 * 200);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 6), std::vector<uint8_t>({0, 0, 0x81, 0x7F, 0x81, 0x48}));
  LoadWBMP(dir / "big.wbm", &bigBack);
  ASSERT_EQ(bigBack.Width(), 255);
  ASSERT_EQ(bigBack.Height(), 200);
  for (int32_t y = 0; y < 200; ++y)
    for (int32_t x = 0; x < 255; ++x)
      ASSERT_EQ(bigBack.GetPixel(x, y), IntensityOf(big.GetPixel(x, y)) >= 127 ? 0xFFFFFFFFu : 0xFF000000u);
}

TEST(WbmpFile, ShortAndEmptyFilesAndRefusals) {
  TTempDir dir;
  TBitmap32 b;
  WriteFileBytes(dir / "hdr.wbmp", {0, 0, 8, 1});
  LoadWBMP(dir / "hdr.wbmp", &b);
  EXPECT_EQ(PixelsOf(b), std::vector<TColor32>(8, 0xFF000000u));
  WriteFileBytes(dir / "part.wbmp", {0, 0, 16, 2, 0xFF});
  LoadWBMP(dir / "part.wbmp", &b);
  EXPECT_EQ(b.GetPixel(7, 0), 0xFFFFFFFFu);
  EXPECT_EQ(b.GetPixel(8, 0), 0xFF000000u);
  EXPECT_EQ(b.GetPixel(15, 1), 0xFF000000u);
  WriteFileBytes(dir / "zero.wbmp", {0, 0, 0, 7, 0xFF});
  LoadWBMP(dir / "zero.wbmp", &b);
  EXPECT_TRUE(b.Empty());
  EXPECT_THROW(LoadWBMP(dir / "missing.wbmp", &b), EFOpenError);

  TBitmap32 one;
  FillBitmap(one, 1, 1, {0xFFFFFFFFu});
  EXPECT_THROW(SaveWBMP(dir / "no-such-folder/a.wbmp", &one), EFCreateError);

  // A write that runs out of room raises and leaves the old file as it was.
  WriteFileBytes(dir / "old.wbmp", {0, 0, 1, 1, 0x80});
  TBitmap32 most;
  FillBitmap(most, 255, 255, NoisePixels(255 * 255, 6));
  {
    TFileSizeLimit full(1024);
    EXPECT_THROW(SaveWBMP(dir / "old.wbmp", &most), EWriteError);
  }
  EXPECT_EQ(ReadFileBytes(dir / "old.wbmp"), std::vector<uint8_t>({0, 0, 1, 1, 0x80}));
  EXPECT_EQ(FolderEntries(dir.path), std::vector<std::string>({"hdr.wbmp", "old.wbmp", "part.wbmp", "zero.wbmp"}));
  // An empty file is an empty picture.
  WriteFileBytes(dir / "empty.wbmp", {});
  LoadWBMP(dir / "empty.wbmp", &b);
  EXPECT_TRUE(b.Empty());
}

TEST(WbmpFile, AgreesWithImageMagickAndNetpbmAtWidth100) {
  TTempDir dir;
  WritePbm(dir / "p.pbm", 100, 13, Pattern);
  ASSERT_TRUE(RunTool("pbmtowbmp " + dir / "p.pbm" + " > " + dir / "np.wbmp"));
  ASSERT_TRUE(RunTool("convert " + dir / "p.pbm" + " " + dir / "im.wbmp"));
  for (const char* name : {"np.wbmp", "im.wbmp"}) {
    TBitmap32 b;
    LoadWBMP(dir / name, &b);
    ASSERT_EQ(b.Width(), 100) << name;
    ASSERT_EQ(b.Height(), 13) << name;
    int wrong = 0;
    for (int32_t y = 0; y < 13; ++y)
      for (int32_t x = 0; x < 100; ++x) wrong += b.GetPixel(x, y) != (Pattern(x, y) ? 0xFF000000u : 0xFFFFFFFFu);
    EXPECT_EQ(wrong, 0) << name;
  }
  // And our file is what the Netpbm reader makes of the same picture.
  TBitmap32 src;
  LoadWBMP(dir / "np.wbmp", &src);
  ASSERT_TRUE(SaveWBMP(dir / "own.wbmp", &src));
  EXPECT_EQ(ReadFileBytes(dir / "own.wbmp"), ReadFileBytes(dir / "np.wbmp"));
  ASSERT_TRUE(RunTool("wbmptopbm " + dir / "own.wbmp" + " > " + dir / "back.pbm"));
  EXPECT_EQ(ReadFileBytes(dir / "back.pbm"), ReadFileBytes(dir / "p.pbm"));
}

// Files of other programs with sides of 128 and more (multi-byte sides), an
// old file of this program with single-byte sides of 200, and our wide output
// read by the Netpbm reader.
TEST(WbmpFile, MultiByteSidesBothWays) {
  TTempDir dir;
  auto expectPattern = [](const TBitmap32& b, int32_t W, int32_t H) {
    ASSERT_EQ(b.Width(), W);
    ASSERT_EQ(b.Height(), H);
    int wrong = 0;
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) wrong += b.GetPixel(x, y) != (Pattern(x, y) ? 0xFF000000u : 0xFFFFFFFFu);
    EXPECT_EQ(wrong, 0);
  };
  for (auto [w, h] : {std::pair{128, 128}, std::pair{300, 2}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    WritePbm(dir / "p.pbm", w, h, Pattern);
    ASSERT_TRUE(RunTool("pbmtowbmp " + dir / "p.pbm" + " > " + dir / "np.wbmp"));
    TBitmap32 b;
    LoadWBMP(dir / "np.wbmp", &b);
    expectPattern(b, w, h);
    const std::vector<uint8_t> file = ReadFileBytes(dir / "np.wbmp");
    TBitmap32 fromBytes;
    LoadWBMPFromBytes(file.data(), file.size(), &fromBytes);
    EXPECT_TRUE(fromBytes.Equal(&b));
    // Our file of the same picture is the Netpbm tool's, byte for byte.
    ASSERT_TRUE(SaveWBMP(dir / "own.wbmp", &b));
    EXPECT_EQ(ReadFileBytes(dir / "own.wbmp"), file);
  }
  // A 200 x 1 file with single-byte sides, as this program wrote them before.
  std::vector<uint8_t> old = {0, 0, 200, 1};
  for (int32_t x0 = 0; x0 < 200; x0 += 8) {
    uint8_t byte = 0;
    for (int32_t x = x0; x < x0 + 8; ++x)
      if (!Pattern(x, 0)) byte |= static_cast<uint8_t>(0x80 >> (x - x0));
    old.push_back(byte);
  }
  WriteFileBytes(dir / "old.wbmp", old);
  TBitmap32 b;
  LoadWBMP(dir / "old.wbmp", &b);
  expectPattern(b, 200, 1);
  // Its rows starting with a 0 byte also parse as a multi-byte header of no
  // rows; only a size that matches exactly makes a file multi-byte.
  old.resize(4);
  old.resize(4 + 25, 0);
  WriteFileBytes(dir / "old.wbmp", old);
  LoadWBMP(dir / "old.wbmp", &b);
  ASSERT_EQ(b.Width(), 200);
  EXPECT_EQ(b.GetPixel(199, 0), 0xFF000000u);
  // Our 200- and 300-wide files read back by the Netpbm tool.
  for (int32_t w : {200, 300}) {
    SCOPED_TRACE(w);
    WritePbm(dir / "p.pbm", w, 3, Pattern);
    TBitmap32 src;
    FillBitmap(src, w, 3, std::vector<TColor32>(static_cast<size_t>(w) * 3));
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t x = 0; x < w; ++x) src.SetPixel(x, y, Pattern(x, y) ? 0xFF000000u : 0xFFFFFFFFu);
    ASSERT_TRUE(SaveWBMP(dir / "w.wbmp", &src));
    ASSERT_TRUE(RunTool("wbmptopbm " + dir / "w.wbmp" + " > " + dir / "back.pbm"));
    EXPECT_EQ(ReadFileBytes(dir / "back.pbm"), ReadFileBytes(dir / "p.pbm"));
  }
}
