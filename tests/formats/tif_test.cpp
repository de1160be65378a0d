// TIFF: files made by ImageMagick and the libtiff tools read against the
// picture they were made from, the refusals libtiff reports, the tags of
// written files as tiffdump lists them, and failed writes.
#include <cmath>
#include <map>
#include <sstream>

#include "formats_test_util.h"
#include "img_loadfile.h"
#include "img_tif.h"
#include "platform_graphics.h"
#include "tif_image.h"

namespace {

// A picture of few colours, so a palette file can hold it exactly.
TTestImage MakeFewColours(int32_t w, int32_t h) {
  TTestImage img{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  const uint32_t colours[] = {0xFF000000u, 0xFFFFFFFFu, 0xFFFF0000u, 0xFF00FF00u,
                              0xFF0000FFu, 0xFF123456u, 0xFFFEDCBAu, 0xFF808080u};
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) img.Px[static_cast<size_t>(y) * w + x] = colours[(x / 3 + y * 5) % 8];
  return img;
}

int MaxChannelDiff(uint32_t a, uint32_t b) {
  int m = 0;
  for (int s = 0; s < 32; s += 8) m = std::max(m, std::abs(int((a >> s) & 255) - int((b >> s) & 255)));
  return m;
}

// Tag number -> the value list as tiffdump prints it ("<3>", "<8 8 8>").
std::map<int, std::string> DumpTags(const std::string& File) {
  std::map<int, std::string> tags;
  FILE* p = popen(("tiffdump " + File + " 2>/dev/null").c_str(), "r");
  if (!p) return tags;
  char line[512];
  while (fgets(line, sizeof line, p)) {
    std::string s(line);
    const size_t lt = s.find('<'), gt = s.rfind('>');
    const size_t paren = s.find(" (");
    if (lt == std::string::npos || gt == std::string::npos || paren == std::string::npos) continue;
    const size_t open = s.find('(', paren);
    tags[std::atoi(s.c_str() + open + 1)] = s.substr(lt, gt - lt + 1);
  }
  pclose(p);
  return tags;
}

}  // namespace

struct TTiffVariant {
  const char* Name;
  const char* Make;  // shell command: %s is the source PPM, %d the TIFF made
  bool FewColours;
  int Tolerance;
  bool GreyAlphaHalf;  // grey with unassociated alpha 0.5
};

TEST(TiffRead, VariantsMadeByPeerToolsMatchTheirSource) {
  const TTiffVariant variants[] = {
      {"rgb8", "convert %s -compress none %d", false, 0, false},
      {"16bit", "convert %s -depth 16 %d", false, 0, false},
      {"palette", "convert %s -type Palette %d", true, 0, false},
      {"jpeg", "convert %s -compress jpeg -quality 95 %d", false, 24, false},
      {"deflate", "convert %s -compress zip %d", false, 0, false},
      {"bigendian", "convert %s -endian MSB %d", false, 0, false},
      {"planar", "convert %s -interlace plane %d", false, 0, false},
      {"tiled_lzw", "convert %s %d.src.tif && tiffcp -c lzw:2 -t -w 16 -l 16 %d.src.tif %d", false, 0, false},
      {"greyalpha", "convert %s -colorspace gray -alpha set -channel A -evaluate set 50% +channel %d", true, 1, true},
  };
  TTempDir dir;
  for (const TTiffVariant& v : variants) {
    SCOPED_TRACE(v.Name);
    const TTestImage src = v.FewColours ? MakeFewColours(37, 23) : MakePhotoLike(37, 23, 7);
    WritePpm(dir / "src.ppm", src);
    const std::string out = dir / (std::string(v.Name) + ".tif");
    std::string cmd = v.Make;
    for (size_t p; (p = cmd.find("%s")) != std::string::npos;) cmd.replace(p, 2, dir / "src.ppm");
    for (size_t p; (p = cmd.find("%d")) != std::string::npos;) cmd.replace(p, 2, out);
    ASSERT_TRUE(RunTool(cmd)) << cmd;
    TBoxes boxes;
    TBitmap32 b;
    ASSERT_TRUE(LoadImageFile(out, b));
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Last().Text;
    ASSERT_EQ(b.Width(), 37);
    ASSERT_EQ(b.Height(), 23);
    int worst = 0;
    for (int32_t y = 0; y < 23; ++y)
      for (int32_t x = 0; x < 37; ++x) {
        uint32_t want = src.At(x, y) | 0xFF000000u;
        if (v.GreyAlphaHalf) {
          // The picture's grey as ImageMagick stores it (Rec. 709 weights);
          // libtiff's raster keeps grey with unassociated alpha as it is,
          // and the bridge makes it opaque.
          const uint32_t c = src.At(x, y);
          const int g = int(std::lround(0.212656 * ((c >> 16) & 255) + 0.715158 * ((c >> 8) & 255) +
                                        0.072186 * (c & 255)));
          want = 0xFF000000u | static_cast<uint32_t>(g) * 0x010101u;
        }
        worst = std::max(worst, MaxChannelDiff(b.Bits()[y * 37 + x], want));
      }
    EXPECT_LE(worst, v.Tolerance);
  }
}

TEST(TiffRead, RefusalsAreReportedOnceAndLeaveTheBitmapAlone) {
  TTempDir dir;
  WritePpm(dir / "src.ppm", MakePhotoLike(9, 5));
  ASSERT_TRUE(RunTool("convert " + dir / "src.ppm" + " -define quantum:format=floating-point -depth 32 " +
                      dir / "float.tif; test -s " + dir / "float.tif"));
  ASSERT_TRUE(RunTool("convert " + dir / "src.ppm" + " -colorspace CMYK -depth 16 " + dir / "cmyk16.tif"));
  WriteFileBytes(dir / "junk.tif", {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF});
  struct {
    std::string File, Expect;
  } cases[] = {
      {dir / "float.tif", "32-bit samples"},
      {dir / "cmyk16.tif", "handle"},
      {dir / "junk.tif", "LibTiffKorvin error on "},
      {dir / "missing.tif", "LibTiffKorvin error on " + dir / "missing.tif" + ": Unable to open file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    TBoxes boxes;
    TBitmap32 b;
    FillBitmap(b, 2, 1, {0x11223344u, 0x55667788u});
    LoadTiffToBitmap32(c.File, &b);
    ASSERT_GE(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Last().Text.rfind("LibTiffKorvin error on ", 0), 0u) << boxes.Last().Text;
    EXPECT_NE(boxes.Last().Text.find(c.Expect), std::string::npos) << boxes.Last().Text;
    EXPECT_EQ(boxes.Last().Caption, ApplicationTitle());
    EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{0x11223344u, 0x55667788u}));
  }
}

TEST(TiffRead, EightBitCmykIsConvertedByLibtiff) {
  TTempDir dir;
  const TTestImage src = MakeFewColours(16, 4);
  WritePpm(dir / "src.ppm", src);
  ASSERT_TRUE(RunTool("convert " + dir / "src.ppm" + " -colorspace CMYK " + dir / "cmyk.tif"));
  TBoxes boxes;
  TBitmap32 b;
  LoadTiffToBitmap32(dir / "cmyk.tif", &b);
  ASSERT_EQ(b.Width(), 16);
  int worst = 0;
  for (int32_t i = 0; i < 64; ++i) worst = std::max(worst, MaxChannelDiff(b.Bits()[i], src.Px[i] | 0xFF000000u));
  EXPECT_LE(worst, 2);
}

TEST(TiffWrite, TagsStripsAndPixelsAsPeersReadThem) {
  TTempDir dir;
  TBoxes boxes;
  struct {
    int32_t W, H;
    const char* RowsPerStrip;
    const char* StripCount;
  } cases[] = {
      {1, 1, "<1>", "<1>"},
      // 262144 div (3 x 100000) is 0, raised to 1.
      {100000, 2, "<1>", "<2>"},
      // 262144 div 3000 = 87 rows per strip: 250 rows make 3 strips.
      {1000, 250, "<87>", "<3>"},
      // A short picture: rows per strip stop at the height.
      {10, 3, "<3>", "<1>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.W);
    TBitmap32 b;
    FillBitmap(b, c.W, c.H, NoisePixels(static_cast<size_t>(c.W) * c.H, 5));
    const std::string out = dir / "w.tif";
    ASSERT_TRUE(SaveBitmap32ToTiff(out, &b));
    std::map<int, std::string> tags = DumpTags(out);
    EXPECT_EQ(tags[256], "<" + std::to_string(c.W) + ">");
    EXPECT_EQ(tags[257], "<" + std::to_string(c.H) + ">");
    EXPECT_EQ(tags[258], "<8 8 8>");
    EXPECT_EQ(tags[259], "<5>");
    EXPECT_EQ(tags[262], "<2>");
    EXPECT_EQ(tags[277], "<3>");
    EXPECT_EQ(tags[278], c.RowsPerStrip);
    EXPECT_EQ(tags[284], "<1>");
    EXPECT_EQ(tags[317], "<2>");
    const std::string counts = tags[279];
    EXPECT_EQ(std::count(counts.begin(), counts.end(), ' ') + 1, std::atoi(c.StripCount + 1));
    // Pillow reads back exactly the colours, without alpha.
    ASSERT_TRUE(RunTool("/usr/bin/python3 -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2])\" " +
                        out + " " + dir / "back.ppm"));
    const TTestImage back = ReadPnm(dir / "back.ppm");
    ASSERT_EQ(back.Width, c.W);
    size_t wrong = 0;
    for (size_t i = 0; i < back.Px.size(); ++i) wrong += (back.Px[i] & 0xFFFFFFu) != (b.Bits()[i] & 0xFFFFFFu);
    EXPECT_EQ(wrong, 0u);
    TBitmap32 again;
    LoadTiffToBitmap32(out, &again);
    ASSERT_EQ(again.PixelCount(), b.PixelCount());
    EXPECT_EQ(again.Bits()[0], b.Bits()[0] | 0xFF000000u);
  }
  EXPECT_EQ(boxes.Count(), 0u) << boxes.Last().Text;
}

TEST(TiffWrite, FailuresAreReportedAndLeaveNoFile) {
  TTempDir dir;
  TBitmap32 big;
  FillBitmap(big, 300, 300, NoisePixels(90000, 3));
  const std::string target = dir / "keep.tif";
  WriteFileBytes(target, {1, 2, 3});
  {
    TBoxes boxes;
    TFileSizeLimit limit(4096);
    EXPECT_FALSE(SaveBitmap32ToTiff(target, &big));
    // libtiff names the failed write first; the bridge's own box comes last.
    ASSERT_GE(boxes.Count(), 1u);
    for (const TMessageBoxRequest& r : boxes.Recorder.Requests())
      EXPECT_EQ(r.Text.rfind("LibTiffKorvin error on ", 0), 0u) << r.Text;
    EXPECT_EQ(boxes.Last().Text, "LibTiffKorvin error on " + target + ": Failed to write");
    EXPECT_EQ(boxes.Last().Caption, ApplicationTitle());
  }
  EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(FolderEntries(dir.path), (std::vector<std::string>{"keep.tif"}));

  TBoxes boxes;
  const std::string nowhere = dir / "no/such/folder/x.tif";
  EXPECT_FALSE(SaveBitmap32ToTiff(nowhere, &big));
  EXPECT_EQ(boxes.Last().Text, "LibTiffKorvin error on " + nowhere + ": Unable to create file");
  TBitmap32 empty;
  EXPECT_FALSE(SaveBitmap32ToTiff(dir / "empty.tif", &empty));
  EXPECT_EQ(boxes.Last().Text, "LibTiffKorvin error on " + dir / "empty.tif" + ": Unable to create file");
  TPlatformBitmap grey;
  grey.SetSize(4, 4);
  grey.SetPixelFormat(TPixelFormat::pf8bit);
  EXPECT_FALSE(WriteColorBitmapToTiffLZW(grey, dir / "grey.tif", 5));
  EXPECT_EQ(boxes.Last().Text, "LibTiffKorvin error on " + dir / "grey.tif" +
                                   ": WriteColorBitmapToTiffLZW is designed for 24bit and 32 bit bitmaps only");
  EXPECT_EQ(boxes.Count(), 3u);
  EXPECT_EQ(FolderEntries(dir.path), (std::vector<std::string>{"keep.tif"}));
}

TEST(TiffPicture, RegisteredClassReadsAndWritesThroughThePictureObject) {
  TTempDir dir;
  TBoxes boxes;
  const TTestImage src = MakePhotoLike(20, 10, 3);
  TPicture pic;
  WritePpm(dir / "s.ppm", src);
  ASSERT_TRUE(RunTool("convert " + dir / "s.ppm" + " " + dir / "s.TIFF"));
  pic.LoadFromFile(dir / "s.TIFF");
  ASSERT_NE(pic.Graphic(), nullptr);
  EXPECT_EQ(pic.Graphic()->ClassName(), "TTIFImage");
  auto* tif = dynamic_cast<TTIFImage*>(pic.Graphic());
  ASSERT_NE(tif, nullptr);
  ASSERT_EQ(tif->Width(), 20);
  for (int32_t i = 0; i < 200; ++i) ASSERT_EQ(tif->Bits()[i], src.Px[i] | 0xFF000000u);
  tif->SaveToFile(dir / "o.tif");
  TBitmap32 b;
  LoadTiffToBitmap32(dir / "o.tif", &b);
  ASSERT_EQ(b.Width(), 20);
  for (int32_t i = 0; i < 200; ++i) ASSERT_EQ(b.Bits()[i], src.Px[i] | 0xFF000000u);
  EXPECT_EQ(boxes.Count(), 0u);
}
