// PNG: decoding of every colour type, depth, interlacing and filter against
// Pillow; files written here read back by Pillow; the error of each kind of
// damaged file; transparency in both directions; drawing, pixel access and
// the chunk list.
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "formats_test_util.h"
#include "img_png.h"
#include "png_image.h"

namespace {

const std::string kHelper = std::string("/usr/bin/python3 ") + VEMRA_SOURCE_DIR + "/tests/formats/png_pillow.py";

std::string RunHelper(const std::string& Cmd) {
  std::string out;
  FILE* p = popen(Cmd.c_str(), "r");
  if (!p) return out;
  char buf[256];
  while (fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  return out;
}

// Pillow's reading of a file: "W H MODE TRNS" and its RGBA bytes.
struct TPillow {
  std::string Info;
  std::vector<uint8_t> Rgba;
};
TPillow PillowRead(const std::string& File) {
  TPillow r;
  r.Info = RunHelper(kHelper + " read " + File + " 2>&1");
  r.Rgba = ReadFileBytes(File + ".rgba");
  return r;
}

void Be32(std::string& s, uint32_t v) {
  for (int sh = 24; sh >= 0; sh -= 8) s.push_back(static_cast<char>(v >> sh));
}

// A chunk with its CRC computed by zlib, independently of the reader's own.
std::string Chunk(const std::string& Type, const std::string& Data) {
  std::string s;
  Be32(s, static_cast<uint32_t>(Data.size()));
  const std::string body = Type + Data;
  s += body;
  Be32(s, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
  return s;
}

std::string Ihdr(uint32_t W, uint32_t H, uint8_t Depth, uint8_t Ct, uint8_t Comp = 0, uint8_t Interlace = 0) {
  std::string d;
  Be32(d, W);
  Be32(d, H);
  d += {static_cast<char>(Depth), static_cast<char>(Ct), static_cast<char>(Comp), 0, static_cast<char>(Interlace)};
  return Chunk("IHDR", d);
}

std::string Deflate(const std::string& Raw) {
  uLongf n = compressBound(Raw.size());
  std::string out(n, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(Raw.data()), Raw.size());
  out.resize(n);
  return out;
}

const std::string kSig("\x89PNG\r\n\x1a\n", 8);

// A 2 x 2 8-bit grey picture with rows 10 20 / 30 40.
std::string GreyFile(const std::string& Before = "", const std::string& After = "") {
  return kSig + Ihdr(2, 2, 8, 0) + Before + Chunk("IDAT", Deflate(std::string("\0\x0a\x14\0\x1e\x28", 6))) + After +
         Chunk("IEND", "");
}

void LoadBytes(TPNGObject& Png, const std::string& Bytes) {
  TReadOnlyMemoryStream s(Bytes.data(), Bytes.size());
  Png.LoadFromStream(s);
}

std::vector<uint8_t> SaveBytes(const TPNGObject& Png) {
  TMemoryStream s;
  Png.SaveToStream(s);
  return s.Bytes();
}

// The chunk types of a PNG file with their lengths, in order.
std::vector<std::pair<std::string, uint32_t>> ChunkList(const std::vector<uint8_t>& F) {
  std::vector<std::pair<std::string, uint32_t>> r;
  for (size_t p = 8; p + 12 <= F.size();) {
    const uint32_t n = static_cast<uint32_t>(F[p]) << 24 | F[p + 1] << 16 | F[p + 2] << 8 | F[p + 3];
    r.emplace_back(std::string(F.begin() + static_cast<long>(p) + 4, F.begin() + static_cast<long>(p) + 8), n);
    p += 12 + n;
  }
  return r;
}

// 0xFFRRGGBB palette entry as platform colour 0x00BBGGRR.
int32_t SwapColor(uint32_t C) { return static_cast<int32_t>((C & 0xFF) << 16 | (C & 0xFF00) | ((C >> 16) & 0xFF)); }

void WriteFile(const std::string& Name, const std::string& Bytes) { std::ofstream(Name, std::ios::binary) << Bytes; }

}  // namespace

TEST(PngDecode, EveryFormatMatchesPillow) {
  TTempDir dir;
  ASSERT_FALSE(RunHelper(kHelper + " make " + dir.path).empty());
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path)) {
    if (e.path().extension() != ".png") continue;
    const std::string f = e.path().string();
    SCOPED_TRACE(f);
    const std::vector<uint8_t> want = ReadFileBytes(f + ".rgba");
    TBitmap32 b;
    LoadPNGIntoBitmap32(f, &b);
    ASSERT_EQ(want.size(), static_cast<size_t>(b.Width()) * b.Height() * 4);
    for (int32_t i = 0; i < b.Width() * b.Height(); ++i) {
      const TColor32 c = b.Bits()[i];
      const uint8_t* w = &want[static_cast<size_t>(i) * 4];
      ASSERT_EQ(c, MakeArgb(w[0], w[1], w[2], w[3])) << "pixel " << i;
    }
    ++files;
  }
  EXPECT_EQ(files, 90);
}

TEST(PngEncode, PillowReadsWhatIsWritten) {
  TTempDir dir;
  TBitmap32 b;
  FillBitmap(b, 37, 23, NoisePixels(37 * 23, 7));
  // Plain colour picture: every colour kept, alpha dropped.
  SavePNGFromBitmap32(dir / "rgb.png", &b, false, false, 0, 9);
  TPillow p = PillowRead(dir / "rgb.png");
  EXPECT_EQ(p.Info, "37 23 RGB -\n");
  ASSERT_EQ(p.Rgba.size(), 37u * 23 * 4);
  for (int32_t i = 0; i < 37 * 23; ++i)
    ASSERT_EQ(MakeArgb(p.Rgba[i * 4], p.Rgba[i * 4 + 1], p.Rgba[i * 4 + 2], p.Rgba[i * 4 + 3]),
              b.Bits()[i] | 0xFF000000u);

  // Every filter, Adam7 and a palette picture, through the object itself.
  for (bool adam7 : {false, true})
    for (uint8_t filters : {uint8_t(0), uint8_t(pfNone), uint8_t(pfUp), uint8_t(31), uint8_t(pfAverage | pfPaeth)}) {
      TPlatformBitmap plain;
      b.AssignTo(plain);
      plain.SetPixelFormat(TPixelFormat::pf8bit);
      TPNGObject png;
      png.InterlaceMethod = adam7 ? imAdam7 : imNone;
      png.Filters = filters;
      png.Assign(plain);
      png.SaveToFile(dir / "p.png");
      p = PillowRead(dir / "p.png");
      EXPECT_EQ(p.Info, "37 23 P -\n");
      for (int32_t y = 0; y < 23; ++y)
        for (int32_t x = 0; x < 37; ++x) {
          const size_t i = static_cast<size_t>(y * 37 + x) * 4;
          ASSERT_EQ(MakeArgb(p.Rgba[i], p.Rgba[i + 1], p.Rgba[i + 2]), plain.ScanLine(y)[x] | 0xFF000000u)
              << int(filters) << " " << adam7;
        }
    }
}

TEST(PngEncode, FilterChoiceAndIdatSplitting) {
  // A flat row scores highest with Sub; with the default set every row is Sub.
  TBitmap32 b;
  b.SetSize(64, 3);
  b.Clear(0xFF336699u);
  TPlatformBitmap plain;
  b.AssignTo(plain);
  TPNGObject png;
  png.Assign(plain);
  auto rows = [&](uint8_t set) {
    png.Filters = set;
    std::vector<uint8_t> f = SaveBytes(png);
    TPNGObject back;
    LoadBytes(back, std::string(f.begin(), f.end()));
    EXPECT_EQ(back.GetPixel(63, 2), 0x996633);
    // Inflate the image data and read the filter byte of each row.
    size_t p = 8;
    std::string z;
    for (auto& [t, n] : ChunkList(f)) {
      if (t == "IDAT") z.append(f.begin() + static_cast<long>(p) + 8, f.begin() + static_cast<long>(p) + 8 + n);
      p += 12 + n;
    }
    std::string raw(3 * 193, '\0');
    uLongf len = raw.size();
    uncompress(reinterpret_cast<Bytef*>(raw.data()), &len, reinterpret_cast<const Bytef*>(z.data()), z.size());
    return std::vector<int>{raw[0], raw[193], raw[386]};
  };
  EXPECT_EQ(rows(pfSub), (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(rows(pfNone | pfSub | pfUp), (std::vector<int>{1, 2, 2}));
  EXPECT_EQ(rows(0), (std::vector<int>{0, 0, 0}));
  // Up wins on the second row only when Sub is not offered.
  EXPECT_EQ(rows(pfUp | pfPaeth), (std::vector<int>{4, 2, 2}));

  // Noise compresses badly: 300 x 160 x 3 bytes need three chunks at 65535.
  b.SetSize(300, 160);
  std::vector<TColor32> px = NoisePixels(300 * 160, 3);
  std::copy(px.begin(), px.end(), b.Bits());
  b.AssignTo(plain);
  png.Assign(plain);
  png.Filters = pfSub;
  std::vector<uint32_t> idat;
  for (auto& [t, n] : ChunkList(SaveBytes(png)))
    if (t == "IDAT") idat.push_back(n);
  ASSERT_EQ(idat.size(), 3u);
  EXPECT_EQ(idat[0], 65535u);
  EXPECT_EQ(idat[1], 65535u);
  EXPECT_LT(idat[2], 65535u);
  png.SetMaxIdatSize(100);
  EXPECT_EQ(png.MaxIdatSize(), 65535);
}

TEST(PngLoad, DamagedFilesRaiseTheirErrors) {
  const std::string idat = Chunk("IDAT", Deflate(std::string("\0\x0a\x14\0\x1e\x28", 6)));
  std::string crcFlip = GreyFile();
  crcFlip[8 + 25 + 10] ^= 1;  // inside the IDAT data
  std::string split = Deflate(std::string("\0\x0a\x14\0\x1e\x28", 6));
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::string Class;
    int Text;
  } cases[] = {
      {"signature", "\x89PNX\r\n\x1a\n" + GreyFile().substr(8), "EPNGInvalidFileHeader", 65216},
      {"gAMA first", kSig + Chunk("gAMA", std::string("\0\0\xb1\x8f", 4)) + GreyFile().substr(8), "EPNGIHDRNotFirst",
       65217},
      {"width 65536", kSig + Ihdr(65536, 1, 8, 0) + idat + Chunk("IEND", ""), "EPNGSizeExceeds", 65218},
      {"critical", GreyFile(Chunk("ABCD", "x")), "EPNGUnknownCriticalChunk", 65220},
      {"compression", kSig + Ihdr(2, 2, 8, 0, 1) + idat + Chunk("IEND", ""), "EPNGUnknownCompression", 65221},
      {"interlace", kSig + Ihdr(2, 2, 8, 0, 0, 2) + idat + Chunk("IEND", ""), "EPNGUnknownInterlace", 65222},
      {"truncated", GreyFile().substr(0, 40), "EPngUnexpectedEnd", 65224},
      {"no IDAT", kSig + Ihdr(2, 2, 8, 0) + Chunk("IEND", ""), "EPNGNoImageData", 65225},
      {"crc", crcFlip, "EPngInvalidCRC", 65243},
      {"short IHDR", kSig + Chunk("IHDR", std::string(12, '\1')) + idat, "EPngInvalidIHDR", 65244},
      {"bad depth", kSig + Ihdr(2, 2, 3, 0) + idat + Chunk("IEND", ""), "EPngInvalidIHDR", 65244},
      {"zero height", kSig + Ihdr(2, 0, 8, 0) + idat + Chunk("IEND", ""), "EPngInvalidIHDR", 65244},
      {"split by tEXt", kSig + Ihdr(2, 2, 8, 0) + Chunk("IDAT", split.substr(0, 5)) + Chunk("tEXt", "a\0b") +
                            Chunk("IDAT", split.substr(5)) + Chunk("IEND", ""),
       "EPNGMissingMultipleIDAT", 65245},
      {"zlib", kSig + Ihdr(2, 2, 8, 0) + Chunk("IDAT", "\x78\x9c\xff\xff\xff") + Chunk("IEND", ""), "EPNGZLIBError",
       65246},
      {"palette 4 bytes", kSig + Ihdr(2, 2, 8, 3) + Chunk("PLTE", "abcd") + idat + Chunk("IEND", ""),
       "EPNGInvalidPalette", 65247},
      {"tRNS 257", kSig + Ihdr(2, 2, 8, 3) + Chunk("PLTE", "abc") + Chunk("tRNS", std::string(257, 'x')) + idat,
       "EPNGInvalidPalette", 65247},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TPNGObject png;
    try {
      LoadBytes(png, c.Bytes);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.ClassName(), c.Class);
      if (c.Text == 65246)
        EXPECT_EQ(e.Message().rfind(PngText(65246), 0), 0u);
      else
        EXPECT_EQ(e.Message(), PngText(c.Text));
    }
  }
  TPNGObject png;
  EXPECT_THROW(png.Header(), EPNGHeaderNotPresent);
  TMemoryStream out;
  EXPECT_THROW(png.SaveToStream(out), EPNGHeaderNotPresent);
  TTempDir dir;
  TBitmap32 none;
  EXPECT_THROW(SavePNGFromBitmap32(dir / "e.png", &none, false, false, 0, 9), EPNGHeaderNotPresent);
  EXPECT_TRUE(FolderEntries(dir.path).empty());
  EXPECT_THROW(LoadBytes(png, kSig + Ihdr(65535, 65535, 8, 2) + Chunk("IEND", "")), EPNGOutMemory);
  // The chunks read before the error stay in the list.
  EXPECT_EQ(png.Width(), 65535);
}

TEST(PngLoad, ChunkHandling) {
  // Split data reads like whole data; cHRM is dropped; an unknown ancillary
  // chunk and a text chunk are kept and written back.
  std::string z = Deflate(std::string("\0\x0a\x14\0\x1e\x28", 6));
  std::string many;
  for (char ch : z) many += Chunk("IDAT", std::string(1, ch));
  TPNGObject png;
  LoadBytes(png, kSig + Ihdr(2, 2, 8, 0) + Chunk("cHRM", std::string(32, '\0')) + Chunk("prVt", "keep") +
                     Chunk("zTXt", std::string("Title\0\0", 7) + Deflate("hello")) + many + Chunk("IEND", ""));
  EXPECT_EQ(png.GetPixel(0, 0), 0x0a0a0a);
  EXPECT_EQ(png.GetPixel(1, 1), 0x282828);
  EXPECT_EQ(png.GetPixel(2, 0), 0);
  EXPECT_EQ(png.GetPixel(0, -1), 0);
  auto* zt = dynamic_cast<TChunkzTXt*>(png.Chunks().FindChunk("zTXt"));
  ASSERT_NE(zt, nullptr);
  EXPECT_EQ(zt->Keyword, "Title");
  EXPECT_EQ(zt->Text, "hello");
  std::vector<std::string> types;
  for (auto& [t, n] : ChunkList(SaveBytes(png))) types.push_back(t);
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "prVt", "zTXt", "IDAT", "IEND"}));
  // 65535 wide loads.
  std::string wide(1 + 65535, '\0');
  TPNGObject w;
  LoadBytes(w, kSig + Ihdr(65535, 1, 8, 0) + Chunk("IDAT", Deflate(wide)) + Chunk("IEND", ""));
  EXPECT_EQ(w.Width(), 65535);

  // Adding chunks: each in its place, critical and second ones refused.
  png.Chunks().Add("gAMA");
  png.Chunks().Add("tIME");
  png.Chunks().Add("tRNS");
  types.clear();
  for (int32_t i = 0; i < png.Chunks().Count(); ++i) types.push_back(png.Chunks().Item(i)->Name());
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "gAMA", "prVt", "zTXt", "tRNS", "IDAT", "tIME", "IEND"}));
  for (const char* t : {"IHDR", "IDAT", "PLTE", "IEND", "gAMA", "tRNS"}) {
    try {
      png.Chunks().Add(t);
      ADD_FAILURE() << t;
    } catch (const EPngError& e) {
      EXPECT_EQ(e.Message(), PngText(65227));
    }
  }
  TPNGObject empty;
  EXPECT_THROW(empty.Chunks().Add("tEXt"), EPngError);
  EXPECT_THROW(png.SetWidth(3), EPngError);
}

TEST(PngTransparency, LoadsAlphaAsTheBridgeDecides) {
  TTempDir dir;
  struct TCase {
    const char* Name;
    std::string Bytes;
    int32_t Mode;
    std::vector<uint8_t> Alpha;
  };
  // 2 x 2 palette picture with pixels 0 1 / 2 1 and three entries.
  const std::string plte = Chunk("PLTE", std::string("\x10\x20\x30\0\0\0\xff\xff\xff", 9));
  const std::string pidat = Chunk("IDAT", Deflate(std::string("\0\x00\x01\0\x02\x01", 6)));
  auto pal = [&](const std::string& t) { return kSig + Ihdr(2, 2, 8, 3) + plte + Chunk("tRNS", t) + pidat + Chunk("IEND", ""); };
  // 16-bit grey 2 x 1 with samples 0x1234 and 0x5678; tRNS names the second.
  const std::string g16 = kSig + Ihdr(2, 1, 16, 0) + Chunk("tRNS", "\x56\x78") +
                          Chunk("IDAT", Deflate(std::string("\0\x12\x34\x56\x78", 5))) + Chunk("IEND", "");
  // 1-bit grey 2 x 1 (0, 1) with tRNS 1: the white pixel is transparent.
  const std::string g1 = kSig + Ihdr(2, 1, 1, 0) + Chunk("tRNS", std::string("\0\1", 2)) +
                         Chunk("IDAT", Deflate(std::string("\0\x40", 2))) + Chunk("IEND", "");
  TCase cases[] = {
      {"grey tRNS", GreyFile(Chunk("tRNS", std::string("\0\x14", 2))), 1, {255, 0, 255, 255}},
      {"grey 16-bit tRNS", g16, 1, {255, 0}},
      {"grey 1-bit tRNS", g1, 1, {255, 0}},
      {"palette 255 0 255", pal(std::string("\xff\0\xff", 3)), 1, {255, 0, 255, 0}},
      {"palette 255 128 0", pal(std::string("\xff\x80\0", 3)), 2, {255, 255, 255, 255}},
      {"palette two halves", pal(std::string("\x80\x80", 2)), 2, {255, 255, 255, 255}},
      {"palette one half", pal(std::string("\xff\x80", 2)), 1, {255, 0, 255, 0}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TPNGObject png;
    LoadBytes(png, c.Bytes);
    EXPECT_EQ(png.TransparencyMode(), c.Mode);
    WriteFile(dir / "t.png", c.Bytes);
    TBitmap32 b;
    LoadPNGIntoBitmap32(dir / "t.png", &b);
    std::vector<uint8_t> alpha;
    for (TColor32 px : PixelsOf(b)) alpha.push_back(static_cast<uint8_t>(AlphaOf(px)));
    EXPECT_EQ(alpha, c.Alpha);
  }
  TPNGObject png;
  LoadBytes(png, pal(std::string("\xff\0\xff", 3)));
  EXPECT_EQ(png.TransparentColor(), 0);  // entry 1 is black
  LoadBytes(png, pal(std::string("\0\xff", 2)));
  EXPECT_EQ(png.TransparentColor(), 0x302010);
}

TEST(PngTransparency, SaveOptionsAsTheSaveCommandUsesThem) {
  TTempDir dir;
  TBitmap32 b;
  FillBitmap(b, 3, 1, {0x80FF0000u, 0x00102030u, 0xFF0000FFu});
  // Option off: colour picture, opaque on reading back.
  SavePNGFromBitmap32(dir / "off.png", &b, false, false, 0, 9);
  TBitmap32 back;
  LoadPNGIntoBitmap32(dir / "off.png", &back);
  EXPECT_EQ(PixelsOf(back), (std::vector<TColor32>{0xFFFF0000u, 0xFF102030u, 0xFF0000FFu}));
  // Option on: the palette entry of the background colour (platform order)
  // is transparent; Pillow sees it too.
  SavePNGFromBitmap32(dir / "on.png", &b, true, true, 0x302010, 9);
  std::vector<std::string> types;
  for (auto& [t, n] : ChunkList(ReadFileBytes(dir / "on.png"))) types.push_back(t);
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "PLTE", "tRNS", "IDAT", "IEND"}));
  LoadPNGIntoBitmap32(dir / "on.png", &back);
  EXPECT_EQ(PixelsOf(back), (std::vector<TColor32>{0xFFFF0000u, 0x00102030u, 0xFF0000FFu}));
  TPillow p = PillowRead(dir / "on.png");
  EXPECT_EQ(p.Rgba[7], 0);
  EXPECT_EQ(p.Rgba[3], 255);
  // A background colour absent from the picture still gets an entry of its
  // own, so no colour of the picture turns transparent.
  SavePNGFromBitmap32(dir / "absent.png", &b, true, true, 0x00FF00, 9);
  TPNGObject png;
  png.LoadFromFile(dir / "absent.png");
  EXPECT_EQ(png.TransparentColor(), 0x00FF00);
  LoadPNGIntoBitmap32(dir / "absent.png", &back);
  EXPECT_EQ(PixelsOf(back), (std::vector<TColor32>{0xFFFF0000u, 0xFF102030u, 0xFF0000FFu}));
  // Colour picture with alpha written by hand: the alpha plane survives.
  TPlatformBitmap plain;
  b.AssignTo(plain);
  png.Assign(plain);
  png.CreateAlpha();
  for (int x = 0; x < 3; ++x) png.AlphaScanline(0)[x] = static_cast<uint8_t>(AlphaOf(b.Bits()[x]));
  png.SaveToFile(dir / "rgba.png");
  LoadPNGIntoBitmap32(dir / "rgba.png", &back);
  EXPECT_EQ(PixelsOf(back), PixelsOf(b));
  EXPECT_EQ(PillowRead(dir / "rgba.png").Info, "3 1 RGBA -\n");
}

TEST(PngDraw, PartialTransparencyBlendsAndStretches) {
  // 3 x 1 colour with alpha: red alpha 0, green alpha 255, blue alpha 128.
  const std::string f = kSig + Ihdr(3, 1, 8, 6) +
                        Chunk("IDAT", Deflate(std::string("\0\xff\0\0\0\0\xff\0\xff\0\0\xff\x80", 13))) +
                        Chunk("IEND", "");
  TPNGObject png;
  LoadBytes(png, f);
  std::vector<uint32_t> px(6 * 2, 0xFF808080u);
  TPixelSurface s{px.data(), 6, 2};
  png.Draw(s, {0, 0, 6, 1});  // twice the width
  EXPECT_EQ(px[0], 0xFF808080u);
  EXPECT_EQ(px[1], 0xFF808080u);
  EXPECT_EQ(px[2], 0xFF00FF00u);
  EXPECT_EQ(px[3], 0xFF00FF00u);
  // (0 * 128 + 127 * 128 + 255) shr 8 = 64 and (255 * 128 + 127 * 128 + 255) shr 8 = 191.
  EXPECT_EQ(px[4], 0xFF4040BFu);
  EXPECT_EQ(px[5], px[4]);
  std::vector<uint32_t> before = px;
  png.Draw(s, {1, 1, 1, 2});
  png.Draw(s, {0, 1, 3, 1});
  EXPECT_EQ(px, before);
  png.Draw(s, {3, 2, 0, 1});  // right to left, bottom to top
  EXPECT_EQ(px[6 + 1], 0xFF00FF00u);
  EXPECT_EQ(px[6 + 0], 0xFF808080u);

  // A 4-bit palette picture with tRNS: own colour and alpha per pixel.
  TPNGObject pal;
  LoadBytes(pal, kSig + Ihdr(2, 1, 4, 3) + Chunk("PLTE", std::string("\xff\0\0\0\0\xff\0\xff\0", 9)) +
                     Chunk("tRNS", std::string("\xff\x80\x40", 3)) + Chunk("IDAT", Deflate(std::string("\0\x01", 2))) +
                     Chunk("IEND", ""));
  ASSERT_EQ(pal.TransparencyMode(), 2);
  std::vector<uint32_t> q(2, 0xFF000000u);
  TPixelSurface t{q.data(), 2, 1};
  pal.Draw(t, {0, 0, 2, 1});
  EXPECT_EQ(q[0], 0xFFFF0000u);
  EXPECT_EQ(q[1], 0xFF000000u | ((255 * 128 + 255) >> 8));
}

TEST(PngPixels, FieldsAndGreyLevels) {
  // 1-bit grey, 9 x 1, all black: writing white sets one bit only.
  TPNGObject png;
  LoadBytes(png, kSig + Ihdr(9, 1, 1, 0) + Chunk("IDAT", Deflate(std::string(3, '\0'))) + Chunk("IEND", ""));
  png.SetPixel(3, 0, 0xFFFFFF);
  png.SetPixel(9, 0, 0xFFFFFF);
  EXPECT_EQ(png.Scanline(0)[0], 0x10);
  EXPECT_EQ(png.Scanline(0)[1], 0x00);
  EXPECT_EQ(png.GetPixel(3, 0), 0xFFFFFF);
  EXPECT_EQ(png.GetPixel(9, 0), 0);
  // 2-bit grey shows 0, 85, 170, 255 and is written as 4-bit grey.
  TPNGObject g2;
  LoadBytes(g2, kSig + Ihdr(4, 1, 2, 0) + Chunk("IDAT", Deflate(std::string("\0\x1b", 2))) + Chunk("IEND", ""));
  EXPECT_EQ(g2.GetPixel(0, 0), 0);
  EXPECT_EQ(g2.GetPixel(1, 0), 0x555555);
  EXPECT_EQ(g2.GetPixel(2, 0), 0xAAAAAA);
  EXPECT_EQ(g2.GetPixel(3, 0), 0xFFFFFF);
  std::vector<uint8_t> out = SaveBytes(g2);
  EXPECT_EQ(out[8 + 8 + 8], 4);  // IHDR bit depth
  TPNGObject again;
  LoadBytes(again, std::string(out.begin(), out.end()));
  EXPECT_EQ(again.GetPixel(1, 0), 0x555555);
  // 4-bit palette: writing picks the nearest of the picture's entries.
  TPNGObject p4;
  LoadBytes(p4, kSig + Ihdr(2, 1, 4, 3) + Chunk("PLTE", std::string("\xff\0\0\0\0\xff", 6)) +
                    Chunk("IDAT", Deflate(std::string("\0\x00", 2))) + Chunk("IEND", ""));
  p4.SetPixel(1, 0, 0xF00000);  // blue in platform order
  EXPECT_EQ(p4.Scanline(0)[0], 0x01);
  EXPECT_EQ(p4.GetPixel(1, 0), 0xFF0000);
  EXPECT_EQ(p4.GetPixel(0, 0), 0x0000FF);
}

TEST(PngClipboard, RoundTripWithoutTransparency) {
  TMemoryClipboard board;
  TPNGObject png;
  EXPECT_THROW(png.LoadFromClipboardFormat(board), EInvalidGraphic);
  TPlatformBitmap b;
  b.SetSize(2, 1);
  b.ScanLine(0)[0] = 0xFF102030u;
  b.ScanLine(0)[1] = 0xFFFFFFFFu;
  b.SetTransparent(true);
  b.SetTransparentColor(0xFFFFFF);
  board.Open();
  board.SetPicture(b);
  board.Close();
  png.LoadFromClipboardFormat(board);
  EXPECT_EQ(png.Header()->ColorType, 2);
  EXPECT_EQ(png.Chunks().FindChunk("tRNS"), nullptr);
  EXPECT_EQ(png.GetPixel(0, 0), 0x302010);
  // A bit-transparent picture shows black where it is transparent.
  png.CreateAlpha();
  png.AlphaScanline(0)[1] = 0;
  TMemoryClipboard out;
  png.SaveToClipboardFormat(out);
  std::unique_ptr<TPlatformBitmap> got = out.GetPicture();
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->ScanLine(0)[0] & 0xFFFFFFu, 0x102030u);
  EXPECT_EQ(got->ScanLine(0)[1] & 0xFFFFFFu, 0u);
}
