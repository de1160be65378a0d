// Opening a file by its extension: every row of the reader table reads its
// own kind of file (written here by our writers, or by Pillow for a JPEG
// with EXIF), the extension is compared in lower case, a file a reader
// refuses leaves the picture and the metadata of the file before it, and a
// file of a few bytes claiming a huge picture costs neither memory nor time.
#include <tiffio.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "alloc_budget.h"
#include "exif_reader.h"
#include "formats_test_util.h"
#include "img_j2k.h"
#include "img_loadfile.h"
#include "img_png.h"
#include "img_pxm.h"
#include "img_wbmp.h"
#include "img_zub.h"
#include "platform_icon.h"
#include "platform_jpeg.h"

namespace {

// 5 x 3 opaque colours, and the same picture in black and white or in grey.
std::vector<TColor32> Colours() {
  std::vector<TColor32> px;
  for (int i = 0; i < 15; ++i) px.push_back(0xFF000000u | static_cast<TColor32>(i * 0x0F1E2Du + 0x102030u));
  return px;
}
std::vector<TColor32> BlackWhite() {
  std::vector<TColor32> px;
  for (int i = 0; i < 15; ++i) px.push_back(i % 3 ? 0xFFFFFFFFu : 0xFF000000u);
  return px;
}
std::vector<TColor32> Greys() {
  std::vector<TColor32> px;
  for (int i = 0; i < 15; ++i) px.push_back(GrayArgb(i * 17));
  return px;
}

void WriteText(const std::string& Name, const std::string& Bytes) { std::ofstream(Name, std::ios::binary) << Bytes; }

void Put16(std::string& S, uint32_t V) { S += {static_cast<char>(V & 0xFF), static_cast<char>(V >> 8 & 0xFF)}; }
void Put32(std::string& S, uint32_t V) {
  Put16(S, V & 0xFFFF);
  Put16(S, V >> 16);
}
void PutBe16(std::string& S, uint32_t V) { S += {static_cast<char>(V >> 8 & 0xFF), static_cast<char>(V & 0xFF)}; }
void PutBe32(std::string& S, uint32_t V) {
  PutBe16(S, V >> 16);
  PutBe16(S, V & 0xFFFF);
}

// A one-strip 8-bit grey TIFF whose strip claims StripBytes and holds Data.
std::string Tiff(uint32_t W, uint32_t H, uint16_t Compression, uint32_t StripBytes, const std::string& Data) {
  std::string t = "II*";
  t += '\0';
  Put32(t, 8);
  const uint32_t entries[][3] = {{256, 4, W}, {257, 4, H},           {258, 3, 8},          {259, 3, Compression},
                                 {262, 3, 1}, {273, 4, 8 + 2 + 9 * 12 + 4}, {277, 3, 1}, {278, 4, H},
                                 {279, 4, StripBytes}};
  Put16(t, 9);
  for (const auto& e : entries) {
    Put16(t, e[0]);
    Put16(t, e[1]);
    Put32(t, 1);
    Put32(t, e[2]);
  }
  Put32(t, 0);
  return t + Data;
}

// A one-strip bilevel TIFF of W x H white pixels as libtiff writes it with
// Compression, made at Scratch and returned as its bytes.
std::string WhiteBilevelTiff(const std::string& Scratch, uint32_t W, uint32_t H, uint16_t Compression) {
  TIFF* t = TIFFOpen(Scratch.c_str(), "w");
  if (!t) return "";
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, W);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, H);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, H);
  TIFFSetField(t, TIFFTAG_COMPRESSION, Compression);
  std::vector<uint8_t> strip(size_t{(W + 7) / 8} * H, 0);
  TIFFWriteEncodedStrip(t, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
  TIFFClose(t);
  const std::vector<uint8_t> bytes = ReadFileBytes(Scratch);
  return {bytes.begin(), bytes.end()};
}

// A GIF with a two-colour global table and Frames frames of FW x FH (0 x 0
// takes the screen's size); with Pixel each frame codes one pixel, else its
// image data is empty.
std::string Gif(uint16_t SW, uint16_t SH, int Frames, uint16_t FW, uint16_t FH, bool Pixel) {
  std::string g = "GIF89a";
  Put16(g, SW);
  Put16(g, SH);
  g += {'\x80', 0, 0, 0, 0, 0, '\xFF', '\xFF', '\xFF'};
  for (int i = 0; i < Frames; ++i) {
    g += '\x2C';
    Put32(g, 0);
    Put16(g, FW);
    Put16(g, FH);
    g += {0, 2};  // no local table; minimum code size 2
    // Clear (4), index 1, end (5) in three-bit codes.
    if (Pixel) g += {2, '\x4C', 1};
    g += '\0';
  }
  return g + '\x3B';
}

// A J2K code stream of one W x H tile, one grey component, and no tile-part.
std::string J2kWithoutTiles(uint32_t W, uint32_t H) {
  std::string j;
  PutBe16(j, 0xFF4F);
  PutBe16(j, 0xFF51);
  PutBe16(j, 41);
  PutBe16(j, 0);
  for (uint32_t v : {W, H, 0u, 0u, W, H, 0u, 0u}) PutBe32(j, v);
  PutBe16(j, 1);
  j += {7, 1, 1};
  PutBe16(j, 0xFF52);  // COD: 1 layer, 5 levels, 64 x 64 blocks, reversible
  PutBe16(j, 12);
  j += {0, 0, 0, 1, 0, 5, 4, 4, 0, 1};
  PutBe16(j, 0xFF5C);  // QCD: no quantisation, 16 sub-bands
  PutBe16(j, 19);
  j += std::string(1, '\x40') + std::string(16, '\x40');
  PutBe16(j, 0xFFD9);
  return j;
}

}  // namespace

TEST(LoadImageFile, EveryRowReadsItsOwnFiles) {
  TTempDir dir;
  TBoxes boxes;
  TBitmap32 colours, bw;
  FillBitmap(colours, 5, 3, Colours());
  FillBitmap(bw, 5, 3, BlackWhite());
  struct TRow {
    std::string Name;
    std::function<void(const std::string&)> Write;
    std::vector<TColor32> Want;
  };
  auto platform = [&](const std::string& F) {
    TPlatformBitmap p;
    colours.AssignTo(p);
    p.SaveToFile(F);
  };
  const std::vector<TRow> rows = {
      {"a.png", [&](const std::string& F) { SavePNGFromBitmap32(F, &colours, false, false, 0, 9); }, Colours()},
      {"PHOTO.PNG", [&](const std::string& F) { SavePNGFromBitmap32(F, &colours, false, false, 0, 9); }, Colours()},
      {"a.bmp", platform, Colours()},
      {"a.ico",
       [&](const std::string& F) {
         TIcon i;
         i.SetPixels(5, 3, colours.Bits());
         i.SaveToFile(F);
       },
       Colours()},
      {"a.ppm", [&](const std::string& F) { SavePPM(F, &colours); }, Colours()},
      // Written by hand: our own writer weighs the channels.
      {"a.pgm",
       [&](const std::string& F) {
         std::string body = "P5\n5 3\n255\n";
         for (int i = 0; i < 15; ++i) body += static_cast<char>(i * 17);
         WriteText(F, body);
       },
       Greys()},
      {"a.zub", [&](const std::string& F) { SaveZubImage(F, &colours); }, Colours()},
      {"a.wbmp", [&](const std::string& F) { SaveWBMP(F, &bw); }, BlackWhite()},
      {"a.WBM", [&](const std::string& F) { SaveWBMP(F, &bw); }, BlackWhite()},
  };
  for (const TRow& r : rows) {
    SCOPED_TRACE(r.Name);
    const std::string f = dir / r.Name;
    r.Write(f);
    TBitmap32 b;
    ASSERT_TRUE(LoadImageFile(f, b));
    EXPECT_EQ(PixelsOf(b), r.Want);
  }
  // JPEG, both spellings: a flat picture comes back within the codec's error.
  for (const char* name : {"a.jpg", "b.JPEG"}) {
    SCOPED_TRACE(name);
    TJPEGImage j;
    std::vector<uint32_t> flat(16 * 16, 0xFF4080C0u);
    j.SetPixels(16, 16, flat.data());
    j.SaveToFile(dir / name);
    TBitmap32 b;
    ASSERT_TRUE(LoadImageFile(dir / name, b));
    ASSERT_EQ(b.Width(), 16);
    for (TColor32 c : PixelsOf(b))
      for (int sh = 0; sh <= 16; sh += 8) ASSERT_NEAR(static_cast<int>((c >> sh) & 0xFF), (0x4080C0 >> sh) & 0xFF, 3);
  }
  EXPECT_EQ(boxes.Count(), 0u) << boxes.Last().Text;
}

TEST(LoadImageFile, RefusedFilesKeepThePictureAndTheMetadata) {
  TTempDir dir;
  // A JPEG with EXIF (made by Pillow) sets the metadata.
  const std::string jpg = dir / "exif.jpg";
  ASSERT_EQ(std::system(("/usr/bin/python3 -c \"from PIL import Image\nim = Image.new('RGB', (8, 8), (200, 100, 50))\n"
                         "ex = Image.Exif()\nex[0x010F] = 'Vemra'\nim.save('" +
                         jpg + "', exif=ex.tobytes())\"")
                            .c_str()),
            0);
  TBitmap32 b;
  ASSERT_TRUE(LoadImageFile(jpg, b));
  ASSERT_TRUE(gHasExif);
  ASSERT_NE(gExifData, nullptr);
  EXPECT_TRUE(gExifData->HasExif());
  const TimgData* metadata = gExifData.get();
  const std::vector<TColor32> picture = PixelsOf(b);

  // A damaged file of every row. The ZU3 stream that breaks off and the TIFF
  // strip that is short would show their error over a part of a picture.
  TBitmap32 colours;
  FillBitmap(colours, 5, 3, Colours());
  ASSERT_TRUE(SaveZubImage(dir / "cut.zub", &colours));
  const std::vector<uint8_t> zub = ReadFileBytes(dir / "cut.zub");
  WriteFileBytes(dir / "cut.zub", {zub.begin(), zub.begin() + std::min<size_t>(zub.size(), 12 + 20)});
  WriteText(dir / "short.tif", Tiff(4, 4, 1, 16, "\x10\x20\x30\x40\x50\x60"));
  for (const char* name : {"bad.png", "bad.gif", "bad.jp2", "bad.nef", "bad.jpg", "bad.bmp", "bad.ico"})
    WriteText(dir / name, "not a picture at all");
  WriteText(dir / "p2.ppm", "P2\n5 3\n255\n");
  WriteText(dir / "empty.wbmp", "");
  WriteText(dir / "noextension", "BM");
  SetJ2KModuleFolder(VEMRA_BIN_DIR);
  struct TCase {
    const char* Name;
    std::string BoxStart;  // empty: the reader shows its own box
  } cases[] = {
      {"bad.png", "Exception (EPNGInvalidFileHeader) on image " + (dir / "bad.png") + " load: "},
      {"cut.zub", "error reading "},
      {"bad.gif", "Exception (GIFException) on image " + (dir / "bad.gif") + " load: Invalid GIF signature"},
      {"short.tif", "LibTiffKorvin error on "},
      {"bad.jp2", "Exception (EInvalidGraphic) on image " + (dir / "bad.jp2") + " load: error in Bitmap data"},
      {"bad.nef", "RAW image/format unrecognized !"},
      {"p2.ppm", "unsupported Portable Pixel Map format on "},
      {"empty.wbmp", ""},
      {"bad.jpg", "Exception ("},
      {"bad.bmp", "Exception ("},
      {"bad.ico", "Exception ("},
      {"noextension", "Exception ("},
      {"missing.png", "Exception ("},
  };
  // Read ahead or not, a failure is reported once, by the load.
  for (const bool ahead : {false, true})
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + (ahead ? " read ahead" : ""));
    TBoxes boxes;
    if (ahead) ReadImageFileAhead(dir / c.Name);
    EXPECT_FALSE(LoadImageFile(dir / c.Name, b));
    EXPECT_EQ(PixelsOf(b), picture);
    EXPECT_EQ(gExifData.get(), metadata);
    EXPECT_TRUE(gHasExif);
    if (!c.BoxStart.empty()) {
      ASSERT_GE(boxes.Count(), 1u);
      EXPECT_EQ(boxes.Last().Text.rfind(c.BoxStart, 0), 0u) << boxes.Last().Text;
    }
    // An empty bitmap stays empty.
    TBitmap32 none;
    EXPECT_FALSE(LoadImageFile(dir / c.Name, none));
    EXPECT_TRUE(none.Empty());
  }
  SetJ2KModuleFolder("");
  // A file without metadata replaces those of the photo.
  SavePNGFromBitmap32(dir / "plain.png", &b, false, false, 0, 9);
  ASSERT_TRUE(LoadImageFile(dir / "plain.png", b));
  EXPECT_FALSE(gHasExif);
  EXPECT_NE(gExifData, nullptr);
  EXPECT_FALSE(gExifData->HasExif());

  // A picture read ahead is the one read directly, metadata included; a file
  // rewritten after its read ahead is read again.
  ReadImageFileAhead(jpg);
  TBitmap32 ahead;
  ASSERT_TRUE(LoadImageFile(jpg, ahead));
  EXPECT_EQ(PixelsOf(ahead), picture);
  EXPECT_TRUE(gHasExif);
  EXPECT_TRUE(gExifData->HasExif());
  ReadImageFileAhead(dir / "plain.png");
  TBitmap32 other;
  other.SetSize(3, 2);
  other.Clear(0xFF0000FFu);
  SavePNGFromBitmap32(dir / "plain.png", &other, false, false, 0, 9);
  ASSERT_TRUE(LoadImageFile(dir / "plain.png", ahead));
  EXPECT_EQ(PixelsOf(ahead), PixelsOf(other));
  // Nor is a file replaced, once read ahead, by another of the same size and
  // modification time (a copy that kept its time, renamed over it).
  TBitmap32 twin;  // one step from the picture above
  twin.SetSize(3, 2);
  twin.Clear(0xFF0000FEu);
  SavePNGFromBitmap32(dir / "twin.png", &twin, false, false, 0, 9);
  ASSERT_EQ(std::filesystem::file_size(dir / "twin.png"), std::filesystem::file_size(dir / "plain.png"));
  std::filesystem::last_write_time(dir / "twin.png", std::filesystem::last_write_time(dir / "plain.png"));
  ReadImageFileAhead(dir / "plain.png");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // read before it is replaced
  std::filesystem::rename(dir / "twin.png", dir / "plain.png");
  ASSERT_TRUE(LoadImageFile(dir / "plain.png", ahead));
  EXPECT_EQ(PixelsOf(ahead), PixelsOf(twin));
  // One never taken: the program's end waits until its reader has made the
  // picture (in the block kept for its size) and let it go.
  ReservePixelBlocks(6, 1);
  for (int i = 0; i < 5000 && ReservedPixelBlocks() < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(ReservedPixelBlocks(), 1);
  ReadImageFileAhead(dir / "plain.png");
  WaitForReadAhead();
  EXPECT_EQ(ReservedPixelBlocks(), 0);
  ReservePixelBlocks(0, 0);
}

// Files of a few bytes claiming pictures their data could never fill are
// refused before the picture is made; up to 4M pixels the short-file rules
// stand (a GIF screen of exactly 4M pixels around one pixel still loads),
// and a flat picture that a codec codes in a few hundred bytes still loads.
TEST(LoadImageFile, FilesTooSmallToFillTheirPictureAreRefusedSmallAndFast) {
  TTempDir dir;
  SetJ2KModuleFolder(VEMRA_BIN_DIR);
  struct TCase {
    const char* Name;
    std::string Bytes;
    bool Loads;
  } cases[] = {
      {"screen.gif", Gif(16383, 16383, 1, 1, 1, true), false},
      {"edge.gif", Gif(2048, 2048, 1, 1, 1, true), true},
      {"over.gif", Gif(2049, 2048, 1, 1, 1, true), false},
      // Frames of size 0 take the screen's: each alone fits the file, not all.
      {"frames.gif", Gif(8000, 8000, 4000, 0, 0, false), false},
      {"small-frames.gif", Gif(2000, 2000, 4000, 0, 0, false), false},
      {"lzw.tif", Tiff(16000, 16000, 5, 88, std::string(88, '\x80')), false},
      {"plain.tif", Tiff(40000, 40000, 1, 88, std::string(88, '\x80')), false},
      {"notiles.j2k", J2kWithoutTiles(16000, 16000), false},
      // A flat picture in a few hundred bytes, as real encoders write it:
      // these codecs have no ratio that could refuse it.
      {"zstd.tif", WhiteBilevelTiff(dir / "scratch.tif", 2048, 4096, COMPRESSION_ZSTD), true},
      {"jbig.tif", WhiteBilevelTiff(dir / "scratch.tif", 2048, 4096, COMPRESSION_JBIG), true},
      // ... but even they cannot make a few bytes claim a gigabyte.
      {"jbig-huge.tif", Tiff(16384, 16384, COMPRESSION_JBIG, 88, std::string(88, '\x80')), false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteText(dir / c.Name, c.Bytes);
    TBoxes boxes;
    TBitmap32 b;
    FillBitmap(b, 3, 2, {1, 2, 3, 4, 5, 6});
    bool loaded = false;
    const alloc_budget::TUsage use = alloc_budget::Measure([&] { loaded = LoadImageFile(dir / c.Name, b); });
    EXPECT_EQ(loaded, c.Loads) << boxes.Last().Text;
    ::testing::Test::RecordProperty(std::string(c.Name) + ".peak_bytes", std::to_string(use.PeakBytes));
    ::testing::Test::RecordProperty(std::string(c.Name) + ".cpu_ms", std::to_string(use.CpuMs));
    if (c.Loads) {
      EXPECT_EQ(b.Width(), 2048);
      EXPECT_EQ(boxes.Count(), 0u);
      continue;
    }
    EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{1, 2, 3, 4, 5, 6}));
    EXPECT_GE(boxes.Count(), 1u);
    EXPECT_LT(use.PeakBytes, 64 << 20);
    EXPECT_LT(use.CpuMs, 100.0);
  }
  SetJ2KModuleFolder("");
}
