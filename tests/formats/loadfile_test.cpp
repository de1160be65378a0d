// Opening a file by its extension: every row of the reader table reads its
// own kind of file (written here by our writers, or by Pillow for a JPEG
// with EXIF), the extension is compared in lower case, a file a reader
// refuses leaves the picture and the metadata of the file before it, and a
// file of a few bytes claiming a huge picture costs neither memory nor time.
#include <tiffio.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "alloc_budget.h"
#include "exif_reader.h"
#include "formats_test_util.h"
#include "gif_image.h"
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

// A one-strip TIFF (8-bit grey unless told) whose strip claims StripBytes
// and holds Data; its tags take the file's first kTiffHead bytes.
constexpr uint32_t kTiffHead = 8 + 2 + 9 * 12 + 4;
std::string Tiff(uint32_t W, uint32_t H, uint16_t Compression, uint32_t StripBytes, const std::string& Data,
                 uint16_t Bits = 8, uint16_t Samples = 1, uint16_t Photometric = 1) {
  std::string t = "II*";
  t += '\0';
  Put32(t, 8);
  const uint32_t entries[][3] = {{256, 4, W},           {257, 4, H},         {258, 3, Bits},    {259, 3, Compression},
                                 {262, 3, Photometric}, {273, 4, kTiffHead}, {277, 3, Samples}, {278, 4, H},
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
// image data is empty. The first frame's data takes Extra more bytes (its
// sub-blocks with their length bytes), after its end code. With Pixel the
// file has 22 + Extra bytes after the screen descriptor when Frames is 1,
// and each frame 5 + Extra bytes of image data (code size and terminator
// included).
std::string Gif(uint16_t SW, uint16_t SH, int Frames, uint16_t FW, uint16_t FH, bool Pixel, size_t Extra = 0) {
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
    for (size_t left = i == 0 ? Extra : 0; left > 0;) {
      const size_t block = std::min<size_t>(left - 1, 255);
      g += static_cast<char>(block) + std::string(block, '\0');
      left -= block + 1;
    }
    g += '\0';
  }
  return g + '\x3B';
}

// A J2K code stream of one grey component, reversible and without wavelet
// levels (so that a tile is one packet), of a W x H picture placed at (Off,
// Off) on a grid of T x T tiles, with one tile-part per entry of Parts: the
// tile, and whether the part holds its packet (an empty one, one byte) or
// no data at all. A last part with data runs to the end of the stream.
std::string J2k(uint32_t W, uint32_t H, uint32_t Off, uint32_t T, const std::vector<std::pair<int, bool>>& Parts) {
  std::string j;
  PutBe16(j, 0xFF4F);
  PutBe16(j, 0xFF51);
  PutBe16(j, 41);
  PutBe16(j, 0);
  for (uint32_t v : {Off + W, Off + H, Off, Off, T, T, 0u, 0u}) PutBe32(j, v);
  PutBe16(j, 1);
  j += {7, 1, 1};
  PutBe16(j, 0xFF52);  // COD: 1 layer, no levels, 64 x 64 blocks, reversible
  PutBe16(j, 12);
  j += {0, 0, 0, 1, 0, 0, 4, 4, 0, 1};
  PutBe16(j, 0xFF5C);  // QCD: no quantisation, one sub-band
  PutBe16(j, 4);
  j += {'\x40', '\x40'};
  std::map<int, int> partsOfTile;
  for (const auto& [tile, data] : Parts) {
    PutBe16(j, 0xFF90);
    PutBe16(j, 10);
    PutBe16(j, static_cast<uint32_t>(tile));
    PutBe32(j, !data ? 14 : &tile == &Parts.back().first ? 0 : 15);  // 0: to the end
    j += {static_cast<char>(partsOfTile[tile]++), 0};
    PutBe16(j, 0xFF93);
    if (data) j += '\0';
  }
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
  // Nor one read ahead under another name, even of the same file.
  std::filesystem::create_symlink(jpg, dir / "link.jpg");
  ReadImageFileAhead(jpg);
  ASSERT_TRUE(LoadImageFile(dir / "link.jpg", ahead));
  EXPECT_EQ(gExifData->FileName, dir / "link.jpg");
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
  // Nor by another written into it in place, keeping size and modification
  // time: only its change time tells.
  SavePNGFromBitmap32(dir / "other.png", &other, false, false, 0, 9);
  const std::vector<uint8_t> otherBytes = ReadFileBytes(dir / "other.png");
  const auto modified = std::filesystem::last_write_time(dir / "plain.png");
  ReadImageFileAhead(dir / "plain.png");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // read before it is rewritten
  std::ofstream(dir / "plain.png", std::ios::binary | std::ios::in | std::ios::out)
      .write(reinterpret_cast<const char*>(otherBytes.data()), static_cast<std::streamsize>(otherBytes.size()));
  std::filesystem::last_write_time(dir / "plain.png", modified);
  ASSERT_TRUE(LoadImageFile(dir / "plain.png", ahead));
  EXPECT_EQ(PixelsOf(ahead), PixelsOf(other));
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
    int32_t Width;  // 0: refused
  } cases[] = {
      {"screen.gif", Gif(16383, 16383, 1, 1, 1, true), 0},
      {"edge.gif", Gif(2048, 2048, 1, 1, 1, true), 2048},
      {"over.gif", Gif(2049, 2048, 1, 1, 1, true), 0},
      // 4096 pixels a byte of what follows the screen's size: 1025 bytes
      // for 4096 x 1025 pixels, and as many for 4097 x 1024.
      {"ratio.gif", Gif(4096, 1025, 1, 1, 1, true, 1025 - 22), 4096},
      {"ratio-short.gif", Gif(4096, 1025, 1, 1, 1, true, 1024 - 22), 0},
      {"ratio-rounded.gif", Gif(4097, 1024, 1, 1, 1, true, 1024 - 22), 0},
      // Frames of size 0 take the screen's: each alone fits the file, not all.
      {"frames.gif", Gif(8000, 8000, 4000, 0, 0, false), 0},
      {"small-frames.gif", Gif(2000, 2000, 4000, 0, 0, false), 0},
      // Two frames of 4M pixels need 2048 bytes of image data between them.
      {"two-frames.gif", Gif(2048, 2048, 2, 2048, 2048, true, 2048 - 10), 2048},
      {"two-frames-short.gif", Gif(2048, 2048, 2, 2048, 2048, true, 2047 - 10), 0},
      {"lzw.tif", Tiff(16000, 16000, 5, 88, std::string(88, '\x80')), 0},
      {"plain.tif", Tiff(40000, 40000, 1, 88, std::string(88, '\x80')), 0},
      {"notiles.j2k", J2k(16000, 16000, 0, 16000, {}), 0},
      // 2100 x 2000 pixels in 3 x 2 tiles, clipped on every side (the last
      // column 76 pixels wide): every tile needs a part with data; a part
      // without, or a second part of another tile, does not stand in for it.
      {"tiles.j2k", J2k(2100, 2000, 24, 1024, {{0, false}, {0, true}, {1, true}, {2, true}, {3, true}, {4, true}, {5, true}}),
       2100},
      {"tile-empty.j2k", J2k(2100, 2000, 24, 1024, {{0, true}, {1, true}, {2, true}, {3, true}, {4, true}, {5, false}}), 0},
      {"tile-edge.j2k", J2k(2048, 2048, 0, 1024, {{0, true}}), 2048},  // 4M pixels: the fill stands
      {"tile-twice.j2k", J2k(2100, 2000, 24, 1024, {{0, true}, {0, true}, {1, true}, {2, true}, {3, true}, {4, true}}), 0},
      // A flat picture in a few hundred bytes, as real encoders write it:
      // these codecs have no ratio that could refuse it.
      {"zstd.tif", WhiteBilevelTiff(dir / "scratch.tif", 2048, 4096, COMPRESSION_ZSTD), 2048},
      {"jbig.tif", WhiteBilevelTiff(dir / "scratch.tif", 2048, 4096, COMPRESSION_JBIG), 2048},
      // ... but even they cannot make a few bytes claim a gigabyte.
      {"jbig-huge.tif", Tiff(16384, 16384, COMPRESSION_JBIG, 88, std::string(88, '\x80')), 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteText(dir / c.Name, c.Bytes);
    TBoxes boxes;
    TBitmap32 b;
    FillBitmap(b, 3, 2, {1, 2, 3, 4, 5, 6});
    bool loaded = false;
    const alloc_budget::TUsage use = alloc_budget::Measure([&] { loaded = LoadImageFile(dir / c.Name, b); });
    EXPECT_EQ(loaded, c.Width > 0) << boxes.Last().Text;
    ::testing::Test::RecordProperty(std::string(c.Name) + ".peak_bytes", std::to_string(use.PeakBytes));
    ::testing::Test::RecordProperty(std::string(c.Name) + ".cpu_ms", std::to_string(use.CpuMs));
    if (c.Width > 0) {
      EXPECT_EQ(b.Width(), c.Width);
      EXPECT_EQ(boxes.Count(), 0u);
      continue;
    }
    EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{1, 2, 3, 4, 5, 6}));
    EXPECT_GE(boxes.Count(), 1u);
    EXPECT_LT(use.PeakBytes, 64 << 20);
    EXPECT_LT(use.CpuMs, 100.0);
  }
  // A picture object read again counts the frames of its new file only.
  WriteText(dir / "rich.gif", Gif(16, 16, 1, 1, 1, true, 4000));
  TGIFImage gif;
  gif.LoadFromFile(dir / "rich.gif");
  EXPECT_THROW(gif.LoadFromFile(dir / "two-frames-short.gif"), GIFException);
  SetJ2KModuleFolder("");
}

// A TIFF of more than 4M pixels is refused before its picture is made when
// the whole file, at its codec's best ratio of pixels to bytes, cannot fill
// it: exactly enough bytes pass the bound, one fewer do not. Where a ratio
// is one off a round figure the picture is a whole number of bytes at it,
// else a fraction over. The strips are junk: a file that passes is only
// read as far as its codec gets.
TEST(LoadImageFile, TiffBoundIsEachCodecsRatio) {
  TTempDir dir;
  struct TCase {
    const char* Name;
    uint16_t Compression, Bits, Samples, Photometric;
    uint32_t W, H;
    int64_t PixelsPerByte;
  } cases[] = {
      {"none-bilevel", COMPRESSION_NONE, 1, 1, PHOTOMETRIC_MINISWHITE, 2049, 2049, 8},
      // A byte holds a third of an RGB pixel, counted as a whole one.
      {"none-rgb", COMPRESSION_NONE, 8, 3, PHOTOMETRIC_RGB, 2049, 2049, 1},
      // A run: 128 bytes from 2.
      {"packbits", COMPRESSION_PACKBITS, 8, 1, PHOTOMETRIC_MINISBLACK, 2049, 2049, 64},
      {"packbits-rgb", COMPRESSION_PACKBITS, 8, 3, PHOTOMETRIC_RGB, 2049, 2049, 21},
      // Subsampled (2 x 2 unless told): the luma sample is all a pixel surely has.
      {"packbits-ycbcr", COMPRESSION_PACKBITS, 8, 3, PHOTOMETRIC_YCBCR, 2049, 2049, 64},
      {"lzw-bilevel", COMPRESSION_LZW, 1, 1, PHOTOMETRIC_MINISWHITE, 2048, 2064, 4096 * 8},
      // 258 bytes for two bits.
      {"deflate", COMPRESSION_DEFLATE, 8, 1, PHOTOMETRIC_MINISBLACK, 2049, 2049, 1032},
      {"adobe-deflate-rgb", COMPRESSION_ADOBE_DEFLATE, 8, 3, PHOTOMETRIC_RGB, 2049, 2049, 344},
      // 128 KB for a 3-byte block header; 2 MB for a 6-byte chunk.
      {"zstd", COMPRESSION_ZSTD, 8, 1, PHOTOMETRIC_MINISBLACK, 43691, 132, 43691},
      {"lzma-grey16", COMPRESSION_LZMA, 16, 1, PHOTOMETRIC_MINISBLACK, 174763, 123, 174763},
      {"jpeg-rgb", COMPRESSION_JPEG, 8, 3, PHOTOMETRIC_RGB, 2048, 2064, 32768},
      // A bit a row, whatever the pixels: 8 rows a byte.
      {"rle", COMPRESSION_CCITTRLE, 1, 1, PHOTOMETRIC_MINISWHITE, 4100, 1025, 8 * 4100},
      {"rlew", COMPRESSION_CCITTRLEW, 1, 1, PHOTOMETRIC_MINISWHITE, 4100, 1025, 8 * 4100},
      {"fax3", COMPRESSION_CCITTFAX3, 1, 1, PHOTOMETRIC_MINISWHITE, 4100, 1025, 8 * 4100},
      {"fax4", COMPRESSION_CCITTFAX4, 1, 1, PHOTOMETRIC_MINISWHITE, 4100, 1025, 8 * 4100},
      {"next", COMPRESSION_NEXT, 1, 1, PHOTOMETRIC_MINISWHITE, 4100, 1025, 8 * 4100},
      {"thunderscan", COMPRESSION_THUNDERSCAN, 1, 1, PHOTOMETRIC_MINISWHITE, 4100, 1025, 8 * 4100},
      {"jbig", COMPRESSION_JBIG, 1, 1, PHOTOMETRIC_MINISWHITE, 4096, 3968, 131072},
  };
  for (const TCase& c : cases) {
    const int64_t pixels = int64_t{c.W} * c.H;
    const int64_t need = (pixels + c.PixelsPerByte - 1) / c.PixelsPerByte;
    for (const int64_t size : {need, need - 1}) {
      SCOPED_TRACE(std::string(c.Name) + " in " + std::to_string(size) + " bytes");
      const std::string name = dir / (std::string(c.Name) + ".tif");
      const std::string strip(static_cast<size_t>(size - kTiffHead), '\x80');
      WriteText(name, Tiff(c.W, c.H, c.Compression, static_cast<uint32_t>(strip.size()), strip, c.Bits, c.Samples,
                           c.Photometric));
      TBoxes boxes;
      TBitmap32 b;
      LoadImageFile(name, b);
      bool refused = false;
      for (const TMessageBoxRequest& r : boxes.Recorder.Requests())
        refused = refused || r.Text.find("Unable to create TBitmap buffer") != std::string::npos;
      EXPECT_EQ(refused, size < need) << boxes.Last().Text;
    }
  }
}
