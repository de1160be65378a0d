// TIFF: files made by ImageMagick and the libtiff tools read against the
// picture they were made from, the refusals libtiff reports, the tags of
// written files as tiffdump lists them, and failed writes.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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
    // The bitmap's own loader, which decodes straight into a new picture, raises and keeps the old one.
    EXPECT_THROW(b.LoadFromFile(c.File), EInvalidGraphic);
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

namespace {

// How a test file is laid out; every one is written through libtiff itself.
struct TLayout {
  const char* Name;
  uint16_t Samples, Bits, Extra;  // Extra: 0 none, else the EXTRASAMPLE kind of the fourth sample
  bool Tiled, Planar, BottomUp;
  int32_t MissingStrip;  // a strip left unwritten (-1: none)
};

constexpr int32_t kLW = 37, kLH = 23, kRowsPerStrip = 5;

// A picture of the layout with sample values that differ in every channel;
// alpha is kept at least as large as the colours, as an associated alpha must.
void WriteLayout(const std::string& File, const TLayout& L) {
  TIFF* t = TIFFOpen(File.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kLW);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, kLH);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, L.Samples);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, L.Bits);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, L.Planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  if (L.BottomUp) TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_BOTLEFT);
  if (L.Samples == 4) {
    const uint16_t Kind = L.Extra;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &Kind);
  }
  const auto Sample = [&](int32_t x, int32_t y, int c) -> uint32_t {
    const uint32_t Alpha = 128 + (x * 5 + y * 3) % 128;
    if (c == 3) return Alpha;
    const uint32_t V = (x * (7 + 4 * c) + y * (13 - 3 * c) + 31 * c) % 256;
    return L.Extra == EXTRASAMPLE_ASSOCALPHA ? V * Alpha / 255 : V;
  };
  const int32_t Bytes = L.Bits / 8;
  const auto Put = [&](uint8_t* D, uint32_t V) {
    if (Bytes == 1)
      *D = static_cast<uint8_t>(V);
    else {
      const uint16_t W = static_cast<uint16_t>(V * 257);
      std::memcpy(D, &W, 2);
    }
  };
  if (L.Tiled) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
    std::vector<uint8_t> Tile(16 * 16 * L.Samples * Bytes);
    for (int32_t ty = 0; ty < kLH; ty += 16)
      for (int32_t tx = 0; tx < kLW; tx += 16) {
        std::fill(Tile.begin(), Tile.end(), 0);
        for (int32_t y = 0; y < 16; ++y)
          for (int32_t x = 0; x < 16; ++x)
            for (int c = 0; c < L.Samples; ++c)
              if (tx + x < kLW && ty + y < kLH)
                Put(&Tile[((y * 16 + x) * L.Samples + c) * Bytes], Sample(tx + x, ty + y, c));
        TIFFWriteTile(t, Tile.data(), static_cast<uint32_t>(tx), static_cast<uint32_t>(ty), 0, 0);
      }
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
    const int32_t Planes = L.Planar ? L.Samples : 1, PerPixel = L.Planar ? 1 : L.Samples;
    for (int32_t p = 0; p < Planes; ++p)
      for (int32_t s = 0; s * kRowsPerStrip < kLH; ++s) {
        if (s == L.MissingStrip) continue;
        const int32_t Rows = std::min(kRowsPerStrip, kLH - s * kRowsPerStrip);
        std::vector<uint8_t> Strip(static_cast<size_t>(Rows) * kLW * PerPixel * Bytes);
        for (int32_t y = 0; y < Rows; ++y)
          for (int32_t x = 0; x < kLW; ++x)
            for (int32_t c = 0; c < PerPixel; ++c)
              Put(&Strip[((y * kLW + x) * PerPixel + c) * Bytes], Sample(x, s * kRowsPerStrip + y, L.Planar ? p : c));
        const uint32_t No = static_cast<uint32_t>(p * ((kLH + kRowsPerStrip - 1) / kRowsPerStrip) + s);
        TIFFWriteEncodedStrip(t, No, Strip.data(), static_cast<tmsize_t>(Strip.size()));
      }
  }
  TIFFClose(t);
}

// libtiff's own raster of the file, top row first, in our byte order: its
// packing taken apart with its own macros. The raster starts at 0, so what
// libtiff leaves unwritten is 0.
std::vector<TColor32> LibtiffRaster(const std::string& File, bool& Complete) {
  std::vector<uint32_t> R(static_cast<size_t>(kLW) * kLH, 0);
  TIFF* t = TIFFOpen(File.c_str(), "r");
  Complete = t != nullptr && TIFFReadRGBAImageOriented(t, kLW, kLH, R.data(), ORIENTATION_TOPLEFT, 0) != 0;
  if (t != nullptr) TIFFClose(t);
  std::vector<TColor32> Ours;
  for (uint32_t P : R)
    Ours.push_back(TIFFGetA(P) << 24 | TIFFGetR(P) << 16 | TIFFGetG(P) << 8 | TIFFGetB(P));
  return Ours;
}

}  // namespace

// The bridge's pixels are libtiff's raster in our byte order, for the layouts
// it puts itself (8-bit RGB interleaved, with or without associated alpha,
// strips or tiles, either orientation) and for those it leaves to libtiff;
// the bitmap path writes every pixel of a bitmap that held another picture.
TEST(TiffRead, PixelsAreLibtiffsRasterInOurOrder) {
  const TLayout Layouts[] = {
      {"rgb strips", 3, 8, 0, false, false, false, -1},
      {"rgb tiles", 3, 8, 0, true, false, false, -1},
      {"rgb bottom-up", 3, 8, 0, false, false, true, -1},
      {"rgb tiles bottom-up", 3, 8, 0, true, false, true, -1},
      {"associated alpha", 4, 8, EXTRASAMPLE_ASSOCALPHA, false, false, false, -1},
      {"associated alpha tiles", 4, 8, EXTRASAMPLE_ASSOCALPHA, true, false, false, -1},
      {"unspecified fourth sample", 4, 8, EXTRASAMPLE_UNSPECIFIED, false, false, false, -1},
      {"unassociated alpha", 4, 8, EXTRASAMPLE_UNASSALPHA, false, false, false, -1},
      {"planar", 3, 8, 0, false, true, false, -1},
      {"16-bit", 3, 16, 0, false, false, false, -1},
  };
  TTempDir dir;
  for (const TLayout& L : Layouts) {
    SCOPED_TRACE(L.Name);
    const std::string File = dir / "layout.tif";
    WriteLayout(File, L);
    bool Complete = false;
    const std::vector<TColor32> Want = LibtiffRaster(File, Complete);
    ASSERT_TRUE(Complete);
    std::vector<TColor32> WantOpaque = Want;
    for (TColor32& P : WantOpaque) P |= 0xFF000000u;
    TBoxes boxes;
    const std::unique_ptr<TPlatformBitmap> Picture = ReadTiffBitmap(File);
    ASSERT_NE(Picture, nullptr);
    EXPECT_EQ(std::vector<TColor32>(Picture->Bits(), Picture->Bits() + Want.size()), Want);
    const std::unique_ptr<TPlatformBitmap> Opaque = ReadTiffBitmap(File, true);
    ASSERT_NE(Opaque, nullptr);
    EXPECT_EQ(std::vector<TColor32>(Opaque->Bits(), Opaque->Bits() + Want.size()), WantOpaque);
    TBitmap32 b;
    b.SetSize(kLW, kLH);
    std::fill(b.Bits(), b.Bits() + b.PixelCount(), 0xDEADBEEFu);
    EXPECT_TRUE(ReadTiffIntoBitmap32(File, b));
    EXPECT_EQ(PixelsOf(b), WantOpaque);
    // The bitmap's own loader keeps the file's alpha, as assigning the picture does.
    TBitmap32 Loaded;
    Loaded.LoadFromFile(File);
    EXPECT_EQ(PixelsOf(Loaded), Want);
    EXPECT_EQ(boxes.Count(), 0u);
  }
}

// A strip libtiff cannot read: from the first one nothing is read at all,
// from a later one libtiff repeats what it read before; either way the
// bitmap holds what libtiff's raster holds, in our order, and no pixel the
// bitmap held before.
TEST(TiffRead, MissingStripsGiveLibtiffsRasterAndClearedRows) {
  TTempDir dir;
  for (int32_t Missing : {0, 2}) {
    for (uint16_t Samples : {uint16_t{3}, uint16_t{4}}) {
      SCOPED_TRACE("strip " + std::to_string(Missing) + ", samples " + std::to_string(Samples));
      const std::string File = dir / "damaged.tif";
      WriteLayout(File, {"damaged", Samples, 8, uint16_t(Samples == 4 ? EXTRASAMPLE_ASSOCALPHA : 0), false, false,
                         false, Missing});
      TBoxes boxes;
      bool Complete = false;
      std::vector<TColor32> Want = LibtiffRaster(File, Complete);
      for (TColor32& P : Want) P = P == 0 && !Complete ? 0 : P | 0xFF000000u;
      TBitmap32 b;
      b.SetSize(kLW, kLH);
      std::fill(b.Bits(), b.Bits() + b.PixelCount(), 0xDEADBEEFu);
      // libtiff may call the raster complete; an error was shown all the same.
      EXPECT_FALSE(ReadTiffIntoBitmap32(File, b));
      EXPECT_EQ(PixelsOf(b), Want);
      EXPECT_GE(boxes.Count(), 1u);
      if (Missing == 0) EXPECT_EQ(Want, std::vector<TColor32>(Want.size(), 0u));
    }
  }
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
  // The directory is written last: a disk that fills one byte before the
  // end fails there, after every strip went out.
  ASSERT_TRUE(SaveBitmap32ToTiff(dir / "whole.tif", &big));
  const auto whole = static_cast<rlim_t>(ReadFileBytes(dir / "whole.tif").size());
  std::filesystem::remove(dir / "whole.tif");
  for (const rlim_t room : {rlim_t{4096}, whole - 1}) {
    SCOPED_TRACE(room);
    WriteFileBytes(target, {1, 2, 3});
    TBoxes boxes;
    TFileSizeLimit limit(room);
    EXPECT_FALSE(SaveBitmap32ToTiff(target, &big));
    // libtiff names the failed write first; the bridge's own box comes last.
    ASSERT_GE(boxes.Count(), 1u);
    for (const TMessageBoxRequest& r : boxes.Recorder.Requests())
      EXPECT_EQ(r.Text.rfind("LibTiffKorvin error on ", 0), 0u) << r.Text;
    EXPECT_EQ(boxes.Last().Text, "LibTiffKorvin error on " + target + ": Failed to write");
    EXPECT_EQ(boxes.Last().Caption, ApplicationTitle());
    EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(FolderEntries(dir.path), (std::vector<std::string>{"keep.tif"}));
  }

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
