// WBMP: the byte layout, the intensity threshold, short files, the size
// refusal, and files made and read by ImageMagick and the Netpbm tools.
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
  // The largest picture uses every bit of the single-byte sides.
  TBitmap32 big, bigBack;
  FillBitmap(big, 255, 200, NoisePixels(255 * 200, 4));
  ASSERT_TRUE(SaveWBMP(dir / "big.wbm", &big));
  EXPECT_EQ(ReadFileBytes(dir / "big.wbm").size(), 4u + 32 * 200);
  LoadWBMP(dir / "big.wbm", &bigBack);
  ASSERT_EQ(bigBack.Width(), 255);
  EXPECT_EQ(bigBack.GetPixel(254, 199), IntensityOf(big.GetPixel(254, 199)) >= 127 ? 0xFFFFFFFFu : 0xFF000000u);
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

  TBoxes boxes;
  TBitmap32 wide;
  wide.SetSize(256, 10);
  EXPECT_FALSE(SaveWBMP(dir / "wide.wbmp", &wide));
  ExpectOneBox(boxes, "image too large for the WBMP format on " + dir / "wide.wbmp", "img_wbmp", MB_ICONEXCLAMATION);
  EXPECT_FALSE(std::filesystem::exists(dir / "wide.wbmp"));
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
