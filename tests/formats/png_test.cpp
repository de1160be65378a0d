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

#include <sys/resource.h>

#include <chrono>
#include <random>

#include "formats_test_util.h"
#include "gif_reduce.h"
#include "img_loadfile.h"
#include "img_png.h"
#include "libpng_reader.h"
#include "platform_icon.h"
#include "png_image.h"
#include "png_unfilter.h"
#include "raster_parallel.h"
#include "raster_system.h"

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

// The chunk with the last bit of its CRC flipped.
std::string BadCrc(std::string Chunk) {
  Chunk.back() ^= 1;
  return Chunk;
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
  const bool forced = ForcePortable();
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path)) {
    if (e.path().extension() != ".png") continue;
    const std::string f = e.path().string();
    SCOPED_TRACE(f);
    const std::vector<uint8_t> want = ReadFileBytes(f + ".rgba");
    const std::vector<uint8_t> bytes = ReadFileBytes(f);
    std::vector<uint8_t> ref;
    int lw = 0, lh = 0;
    ASSERT_TRUE(libpng_reader::Decode(bytes.data(), bytes.size(), lw, lh, ref));
    ASSERT_EQ(ref, want) << "libpng and Pillow disagree";
    // The processor's unfilter family, then the portable one.
    for (const bool portable : {false, true}) {
      SCOPED_TRACE(portable ? "portable" : "processor's family");
      SetForcePortable(portable);
      PngUnfilterStartup();
      TBitmap32 b;
      LoadPNGIntoBitmap32(f, &b);
      ASSERT_EQ(b.Width(), lw);
      ASSERT_EQ(b.Height(), lh);
      for (int32_t i = 0; i < b.Width() * b.Height(); ++i) {
        const TColor32 c = b.Bits()[i];
        const uint8_t* w = &want[static_cast<size_t>(i) * 4];
        ASSERT_EQ(c, MakeArgb(w[0], w[1], w[2], w[3])) << "pixel " << i;
      }
    }
    ++files;
  }
  SetForcePortable(forced);
  PngUnfilterStartup();
  EXPECT_EQ(files, 132);
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
  std::string badAdler = split;
  badAdler.back() ^= 1;
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
      {"crc of IDAT", kSig + Ihdr(2, 2, 8, 0) + BadCrc(idat) + Chunk("IEND", ""), "EPngInvalidCRC", 65243},
      {"crc of IHDR", kSig + BadCrc(Ihdr(2, 2, 8, 0)) + idat + Chunk("IEND", ""), "EPngInvalidCRC", 65243},
      {"crc of PLTE", kSig + Ihdr(2, 2, 8, 3) + BadCrc(Chunk("PLTE", "abc")) + idat + Chunk("IEND", ""),
       "EPngInvalidCRC", 65243},
      {"crc of tEXt", GreyFile(BadCrc(Chunk("tEXt", std::string("a\0b", 3)))), "EPngInvalidCRC", 65243},
      {"short IHDR", kSig + Chunk("IHDR", std::string(12, '\1')) + idat, "EPngInvalidIHDR", 65244},
      {"bad depth", kSig + Ihdr(2, 2, 3, 0) + idat + Chunk("IEND", ""), "EPngInvalidIHDR", 65244},
      {"zero height", kSig + Ihdr(2, 0, 8, 0) + idat + Chunk("IEND", ""), "EPngInvalidIHDR", 65244},
      {"split by tEXt", kSig + Ihdr(2, 2, 8, 0) + Chunk("IDAT", split.substr(0, 5)) + Chunk("tEXt", "a\0b") +
                            Chunk("IDAT", split.substr(5)) + Chunk("IEND", ""),
       "EPNGMissingMultipleIDAT", 65245},
      {"zlib", kSig + Ihdr(2, 2, 8, 0) + Chunk("IDAT", "\x78\x9c\xff\xff\xff") + Chunk("IEND", ""), "EPNGZLIBError",
       65246},
      {"check value", kSig + Ihdr(2, 2, 8, 0) + Chunk("IDAT", badAdler) + Chunk("IEND", ""), "EPNGZLIBError", 65246},
      {"palette 4 bytes", kSig + Ihdr(2, 2, 8, 3) + Chunk("PLTE", "abcd") + idat + Chunk("IEND", ""),
       "EPNGInvalidPalette", 65247},
      {"tRNS 257", kSig + Ihdr(2, 2, 8, 3) + Chunk("PLTE", "abc") + Chunk("tRNS", std::string(257, 'x')) + idat,
       "EPNGInvalidPalette", 65247},
  };
  TTempDir files;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    // The picture object alone, and the bridge, which inflates sound data
    // whole and must meet damage as the object does.
    WriteFile(files / "d.png", c.Bytes);
    for (bool bridge : {false, true}) {
      TPNGObject png;
      TBitmap32 b;
      try {
        if (bridge) LoadPNGIntoBitmap32(files / "d.png", &b);
        else LoadBytes(png, c.Bytes);
        ADD_FAILURE() << "no exception";
      } catch (const Exception& e) {
        EXPECT_EQ(e.ClassName(), c.Class);
        if (c.Text == 65246)
          EXPECT_EQ(e.Message().rfind(PngText(65246), 0), 0u);
        else
          EXPECT_EQ(e.Message(), PngText(c.Text));
      }
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
  // A failed load leaves the picture read before it, chunks, gamma and all.
  LoadBytes(png, GreyFile(Chunk("gAMA", std::string("\0\0\x5b\x8f", 4))));
  const uint8_t gamma40 = png.GammaTable[40];
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_THROW(LoadBytes(png, c.Bytes), Exception);
    EXPECT_EQ(png.Width(), 2);
    EXPECT_EQ(png.Chunks().Count(), 4);
    EXPECT_EQ(png.GammaTable[40], gamma40);
    EXPECT_EQ(png.GetPixel(1, 1), static_cast<int32_t>(gamma40) * 0x010101);
  }
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
  // What the rows never reach is not read: bytes after the stream, or a
  // damaged IDAT chunk after the data; each reads as the sound file does,
  // through the bridge too.
  TTempDir dir;
  for (const std::string& f : {GreyFile(), kSig + Ihdr(2, 2, 8, 0) + Chunk("IDAT", z + "tail") + Chunk("IEND", ""),
                               GreyFile("", BadCrc(Chunk("IDAT", "x")))}) {
    WriteFile(dir / "g.png", f);
    TBitmap32 b;
    LoadPNGIntoBitmap32(dir / "g.png", &b);
    EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{0xFF0A0A0Au, 0xFF141414u, 0xFF1E1E1Eu, 0xFF282828u}));
  }
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
      // One entry below opaque, none at 0: its own colour (not black) is the
      // transparent one.
      {"palette one half, black", pal(std::string("\xff\x80", 2)), 1, {255, 0, 255, 0}},
      {"palette one half, not black", pal(std::string("\x80", 1)), 1, {0, 255, 255, 255}},
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
  LoadBytes(png, pal(std::string("\x80", 1)));
  EXPECT_EQ(png.TransparentColor(), 0x302010);
  LoadBytes(png, pal(std::string("\xff\xff\x40", 3)));
  EXPECT_EQ(png.TransparentColor(), 0xFFFFFF);
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
  // A background colour no pixel has makes no entry transparent.
  SavePNGFromBitmap32(dir / "absent.png", &b, true, true, 0x00FF00, 9);
  TPNGObject png;
  png.LoadFromFile(dir / "absent.png");
  EXPECT_EQ(png.Chunks().FindChunk("tRNS"), nullptr);
  EXPECT_EQ(png.TransparencyMode(), 0);
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

namespace {

std::string Be16s(std::initializer_list<uint16_t> V) {
  std::string s;
  for (uint16_t v : V) s += {static_cast<char>(v >> 8), static_cast<char>(v)};
  return s;
}

// Our load of Bytes and libpng's, pixel by pixel as 0xAARRGGBB.
void ExpectSameAsLibpng(const std::string& Bytes, const std::string& File) {
  WriteFile(File, Bytes);
  TBitmap32 b;
  LoadPNGIntoBitmap32(File, &b);
  std::vector<uint8_t> ref;
  int w = 0, h = 0;
  ASSERT_TRUE(libpng_reader::Decode(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size(), w, h, ref));
  ASSERT_EQ(w, b.Width());
  ASSERT_EQ(h, b.Height());
  for (int32_t i = 0; i < w * h; ++i)
    ASSERT_EQ(b.Bits()[i], MakeArgb(ref[i * 4], ref[i * 4 + 1], ref[i * 4 + 2], ref[i * 4 + 3])) << "pixel " << i;
}

bool PngcheckAccepts(const std::string& File) {
  return std::system(("pngcheck -q '" + File + "' >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

TEST(PngTransparency, KeysCompareTheFilesFullSamples) {
  TTempDir dir;
  // 16-bit RGB, key 0x1234 0x5678 0x9ABC: only the exact pixel is
  // transparent; its neighbours differ in the low bytes alone (today they
  // would all read as the key).
  const std::string rgb16 = Be16s({0x1234, 0x5678, 0x9ABC, 0x1235, 0x5678, 0x9ABC, 0x1234, 0x56FF, 0x9A00,
                                   0x0000, 0x0000, 0x0000});
  const std::string f16 = kSig + Ihdr(4, 1, 16, 2) + Chunk("tRNS", Be16s({0x1234, 0x5678, 0x9ABC})) +
                          Chunk("IDAT", Deflate(std::string(1, '\0') + rgb16)) + Chunk("IEND", "");
  ExpectSameAsLibpng(f16, dir / "rgb16.png");
  TBitmap32 b;
  LoadPNGIntoBitmap32(dir / "rgb16.png", &b);
  EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{0x0012569Au, 0xFF12569Au, 0xFF12569Au, 0xFF000000u}));
  // The picture object draws the same pixels transparent.
  TPNGObject png;
  LoadBytes(png, f16);
  std::vector<uint32_t> px(4, 0xFF808080u);
  TPixelSurface s{px.data(), 4, 1};
  png.Draw(s, {0, 0, 4, 1});
  EXPECT_EQ(px, (std::vector<uint32_t>{0xFF808080u, 0xFF12569Au, 0xFF12569Au, 0xFF000000u}));

  // 16-bit grey with key 0x0100 beside 0x01FF; 8-bit RGB with a gamma
  // table, whose key names the file's values, not the corrected ones.
  const std::string g16 = kSig + Ihdr(2, 1, 16, 0) + Chunk("tRNS", Be16s({0x0100})) +
                          Chunk("IDAT", Deflate(std::string(1, '\0') + Be16s({0x0100, 0x01FF}))) + Chunk("IEND", "");
  ExpectSameAsLibpng(g16, dir / "g16.png");
  const std::string gamma = kSig + Ihdr(2, 1, 8, 2) + Chunk("gAMA", std::string("\0\0\x5b\x8f", 4)) +
                            Chunk("tRNS", Be16s({0x40, 0x80, 0xC0})) +
                            Chunk("IDAT", Deflate(std::string("\0\x40\x80\xC0\x41\x80\xC0", 7))) + Chunk("IEND", "");
  WriteFile(dir / "gamma.png", gamma);
  LoadPNGIntoBitmap32(dir / "gamma.png", &b);
  EXPECT_EQ(AlphaOf(b.Bits()[0]), 0);
  EXPECT_EQ(AlphaOf(b.Bits()[1]), 255);
  EXPECT_NE(b.Bits()[0] & 0xFFFFFFu, 0x4080C0u);  // the colour did pass the gamma table
}

TEST(PngTransparency, PaletteSaveGivesTheKeyItsOwnEntry) {
  TTempDir dir;
  // 40 x 30 with 1200 different colours (far more than a palette holds),
  // the key colour on one pixel in 7, black beside it, and the key's
  // nearest neighbours: exactly the key pixels may turn transparent.
  const TColor32 key = 0xFF406080u;
  TBitmap32 b;
  b.SetSize(40, 30);
  for (int32_t i = 0; i < 1200; ++i) {
    TColor32 c = 0xFF000000u | static_cast<TColor32>(i * 2654435761u >> 8);
    if (i % 7 == 0) c = key;
    else if (i % 7 == 1) c = 0xFF000000u;
    else if (i % 7 == 2) c = key + 1;
    b.Bits()[i] = c;
  }
  SavePNGFromBitmap32(dir / "many.png", &b, true, true, 0x806040, 9);
  EXPECT_TRUE(PngcheckAccepts(dir / "many.png"));
  TBitmap32 back;
  LoadPNGIntoBitmap32(dir / "many.png", &back);
  TPillow p = PillowRead(dir / "many.png");
  ASSERT_EQ(p.Rgba.size(), 1200u * 4);
  int worst = 0;
  for (int32_t i = 0; i < 1200; ++i) {
    const TColor32 want = b.Bits()[i], got = back.Bits()[i];
    SCOPED_TRACE(i);
    ASSERT_EQ(AlphaOf(got), want == key ? 0 : 255);
    ASSERT_EQ(p.Rgba[i * 4 + 3], want == key ? 0 : 255);
    if (want == key) {
      ASSERT_EQ(got | 0xFF000000u, want);
    }
    for (int sh = 0; sh <= 16; sh += 8)
      worst = std::max(worst, std::abs(static_cast<int>((want >> sh) & 0xFF) - static_cast<int>((got >> sh) & 0xFF)));
  }
  // 255 octree colours for 1000 spread ones: close, not exact.
  EXPECT_LT(worst, 64);
  // Up to 256 colours (here 3 and the key) the palette is exact.
  FillBitmap(b, 4, 1, {0xFF000000u, key, 0xFF102030u, 0xFFFFFFFFu});
  SavePNGFromBitmap32(dir / "few.png", &b, true, true, 0x806040, 9);
  EXPECT_TRUE(PngcheckAccepts(dir / "few.png"));
  LoadPNGIntoBitmap32(dir / "few.png", &back);
  EXPECT_EQ(PixelsOf(back), (std::vector<TColor32>{0xFF000000u, key & 0xFFFFFFu, 0xFF102030u, 0xFFFFFFFFu}));
  // Black as the key makes black pixels transparent, and only those.
  SavePNGFromBitmap32(dir / "black.png", &b, true, true, 0, 9);
  LoadPNGIntoBitmap32(dir / "black.png", &back);
  EXPECT_EQ(PixelsOf(back), (std::vector<TColor32>{0x00000000u, key, 0xFF102030u, 0xFFFFFFFFu}));
  // The plain save passes the checker too.
  SavePNGFromBitmap32(dir / "rgb.png", &b, false, false, 0, 9);
  EXPECT_TRUE(PngcheckAccepts(dir / "rgb.png"));
  SavePNGFromBitmap32(dir / "rgba.png", &b, false, true, 0, 9);
  EXPECT_TRUE(PngcheckAccepts(dir / "rgba.png"));
}

// The PLTE entries of a file as 0x00RRGGBB, read from its bytes.
std::vector<uint32_t> PlteOf(const std::vector<uint8_t>& F) {
  std::vector<uint32_t> pal;
  for (size_t p = 8; p + 12 <= F.size();) {
    const uint32_t n = static_cast<uint32_t>(F[p]) << 24 | F[p + 1] << 16 | F[p + 2] << 8 | F[p + 3];
    if (std::string(F.begin() + static_cast<long>(p) + 4, F.begin() + static_cast<long>(p) + 8) == "PLTE")
      for (uint32_t i = 0; i + 3 <= n; i += 3) pal.push_back(uint32_t{F[p + 8 + i]} << 16 | F[p + 9 + i] << 8 | F[p + 10 + i]);
    p += 12 + n;
  }
  return pal;
}

TEST(PngTransparency, PaletteSaveTakesTheNearestOctreeColour) {
  TTempDir dir;
  // 3072 spread colours in the top rows; the key is made one of the means
  // the octree finds for them (a colour no pixel has) and fills the two rows
  // below, so that it is left out of the same reduction once more.
  constexpr int32_t W = 64, H = 50, Top = 48;
  TBitmap32 b;
  b.SetSize(W, H);
  uint32_t s = 9;
  for (int32_t i = 0; i < W * Top; ++i) b.Bits()[i] = 0xFF000000u | (s = s * 1664525u + 1013904223u) >> 8;
  const std::vector<uint32_t> top(b.Bits(), b.Bits() + W * Top);
  uint32_t key = 0;
  for (uint32_t m : OctreePalette(top.data(), top.size(), 255))
    if (std::none_of(top.begin(), top.end(), [&](uint32_t c) { return (c & 0xFFFFFFu) == (m & 0xFFFFFFu); })) {
      key = m & 0xFFFFFFu;
      break;
    }
  ASSERT_NE(key, 0u);
  for (int32_t i = W * Top; i < W * H; ++i) b.Bits()[i] = 0xFF000000u | key;
  const std::vector<uint32_t> all(b.Bits(), b.Bits() + W * H);
  for (bool keyed : {true, false}) {
    SCOPED_TRACE(keyed);
    // What the file must hold: with the key, the key at entry 0 and the 255
    // means of the other pixels, the one equal to the key a step of blue
    // away; without, 256 means of every pixel.
    std::vector<uint32_t> want;
    if (keyed) want.push_back(key);
    for (uint32_t m : OctreePalette(all.data(), all.size(), keyed ? 255 : 256, keyed, key))
      want.push_back((m & 0xFFFFFFu) == key && keyed ? key ^ 1 : m & 0xFFFFFFu);
    std::vector<uint8_t> first;
    for (int threads : {1, 4}) {
      TThreadLimit limit(threads);
      SavePNGFromBitmap32(dir / "p.png", &b, true, keyed, SwapColor(key), 9);
      const std::vector<uint8_t> bytes = ReadFileBytes(dir / "p.png");
      if (first.empty()) first = bytes;
      EXPECT_TRUE(bytes == first) << "threads " << threads;
    }
    EXPECT_EQ(PlteOf(first), want);
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(libpng_reader::Decode(first.data(), first.size(), w, h, rgba));
    TBitmap32 back;
    LoadPNGIntoBitmap32(dir / "p.png", &back);
    int wrong = 0;
    for (int32_t i = 0; i < W * H; ++i) {
      const uint32_t c = all[size_t(i)] & 0xFFFFFFu;
      const bool isKey = keyed && c == key;
      // The nearest entry by squared distance, the first of equals; never
      // the key's own entry.
      uint32_t near = 0;
      int best = 1 << 30;
      for (size_t e = keyed ? 1 : 0; e < want.size(); ++e) {
        int d = 0;
        for (int sh : {16, 8, 0}) d += (int((want[e] >> sh) & 255) - int((c >> sh) & 255)) * (int((want[e] >> sh) & 255) - int((c >> sh) & 255));
        if (d < best) {
          best = d;
          near = want[e];
        }
      }
      const uint32_t shown = isKey ? key : near;
      const uint8_t* p = &rgba[size_t(i) * 4];
      wrong += (uint32_t{p[0]} << 16 | p[1] << 8 | p[2]) != shown || p[3] != (isKey ? 0 : 255);
      wrong += back.Bits()[i] != ((isKey ? 0u : 0xFF000000u) | shown);
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(PngLoad, DataThatCannotFillThePictureIsRefused) {
  TTempDir dir;
  // 2 x 3 grey: the zlib stream is complete but holds two rows of three.
  const std::string twoRows = kSig + Ihdr(2, 3, 8, 0) +
                              Chunk("IDAT", Deflate(std::string("\0\x0a\x14\0\x1e\x28", 6))) + Chunk("IEND", "");
  // 68 bytes declaring 16384 x 16384 RGBA with a few bytes of data.
  const std::string huge = kSig + Ihdr(16384, 16384, 8, 6) + Chunk("IDAT", Deflate(std::string(8, '\0'))) +
                           Chunk("IEND", "");
  // A second IDAT that claims 2^31 - 1 bytes the file does not hold; the
  // first one's stream goes on, so a reader that believed the claim would
  // run into the file's end rather than the stream's.
  const std::string cut = Deflate(std::string(8, '\0'));
  std::string claimed = kSig + Ihdr(16384, 16384, 8, 6) + Chunk("IDAT", cut.substr(0, cut.size() - 4));
  Be32(claimed, 0x7FFFFFFFu);
  claimed += "IDAT" + std::string(100, '\0');
  for (const auto& [name, bytes] :
       {std::pair{"short", twoRows}, std::pair{"huge", huge}, std::pair{"claimed", claimed}}) {
    SCOPED_TRACE(name);
    WriteFile(dir / "t.png", bytes);
    TBitmap32 b;
    FillBitmap(b, 2, 1, {0xFF010203u, 0x80040506u});
    int changes = 0;
    b.OnChange = [&](void*) { ++changes; };
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto t0 = std::chrono::steady_clock::now();
    try {
      LoadPNGIntoBitmap32(dir / "t.png", &b);
      ADD_FAILURE() << "loaded";
    } catch (const EPNGZLIBError& e) {
      EXPECT_EQ(e.Message(), PngText(65246) + "data error");
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    getrusage(RUSAGE_SELF, &after);
    // Refused before the picture is allocated: no gigabyte, no long wait.
    EXPECT_LT((after.ru_maxrss - before.ru_maxrss) / 1024, 64);
    EXPECT_LT(seconds, 1.0);
    // The bitmap keeps the picture it held, and hears of no change.
    EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{0xFF010203u, 0x80040506u}));
    EXPECT_EQ(changes, 0);
    TPNGObject png;
    EXPECT_THROW(LoadBytes(png, bytes), EPNGZLIBError);
  }
  EXPECT_EQ(huge.size(), 68u);
  // The same picture with all its rows loads.
  WriteFile(dir / "t.png", kSig + Ihdr(2, 3, 8, 0) + Chunk("IDAT", Deflate(std::string("\0\1\2\0\3\4\0\5\6", 9))) +
                               Chunk("IEND", ""));
  TBitmap32 b;
  FillBitmap(b, 2, 1, {0, 0});
  int changes = 0, resizes = 0;
  b.OnChange = [&](void*) { ++changes; };
  b.OnResize = [&](void*) { ++resizes; };
  LoadPNGIntoBitmap32(dir / "t.png", &b);
  EXPECT_EQ(b.Height(), 3);
  EXPECT_EQ(b.Bits()[5], 0xFF060606u);
  // One change and one resize, once the whole picture is there.
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(resizes, 1);
}

TEST(PngDraw, StretchMapsColumnsAndRowsByWholeNumbers) {
  // 14 x 3 RGBA, each column its own colour, half transparent: drawn 18 x 5
  // every destination pixel (i, j) shows source (i * 14 / 18, j * 3 / 5).
  std::string raw;
  for (int y = 0; y < 3; ++y) {
    raw += '\0';
    for (int x = 0; x < 14; ++x) raw += {static_cast<char>(x * 16), static_cast<char>(y * 100), 0, '\xff'};
  }
  raw[1 + 4 * 5 + 3] = '\x80';  // one half-transparent pixel keeps the blend path honest
  TPNGObject png;
  LoadBytes(png, kSig + Ihdr(14, 3, 8, 6) + Chunk("IDAT", Deflate(raw)) + Chunk("IEND", ""));
  std::vector<uint32_t> px(18 * 5, 0xFF000000u);
  TPixelSurface s{px.data(), 18, 5};
  png.Draw(s, {0, 0, 18, 5});
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 18; ++i) {
      const int sx = i * 14 / 18, sy = j * 3 / 5;
      const uint32_t a = sx == 5 && sy == 0 ? 128 : 255;
      const uint32_t r = (sx * 16 * a + 255) >> 8, g = (sy * 100 * a + 255) >> 8;
      const uint32_t want = a == 255 ? MakeArgb(sx * 16, sy * 100, 0) : MakeArgb(r, g, 0);
      ASSERT_EQ(px[j * 18 + i], want) << i << "," << j;
    }
  EXPECT_EQ(px[9], MakeArgb(7 * 16, 0, 0));
}

TEST(PngIcon, FirstEntryAsPngDecodesThroughThePngReader) {
  TTempDir dir;
  const std::string ico = dir / "big.ico";
  ASSERT_EQ(std::system((kHelper + " ico " + ico).c_str()), 0);
  const std::vector<uint8_t> bytes = ReadFileBytes(ico);
  ASSERT_GT(bytes.size(), 22u);
  const uint32_t offset = bytes[18] | bytes[19] << 8 | bytes[20] << 16 | static_cast<uint32_t>(bytes[21]) << 24;
  ASSERT_EQ(bytes[6], 0);  // a side of 256 is stored as 0
  ASSERT_EQ(std::memcmp(bytes.data() + offset, "\x89PNG", 4), 0);
  const std::vector<uint8_t> want = ReadFileBytes(ico + ".rgba");
  ASSERT_EQ(want.size(), 256u * 256 * 4);
  // The icon itself holds Pillow's pixels, partial alpha included.
  TIcon icon;
  icon.LoadFromFile(ico);
  ASSERT_EQ(icon.Width(), 256);
  const std::vector<uint32_t> got = icon.Pixels();
  for (size_t i = 0; i < got.size(); ++i)
    ASSERT_EQ(got[i], MakeArgb(want[i * 4], want[i * 4 + 1], want[i * 4 + 2], want[i * 4 + 3])) << i;
  // Opened as a file, its opaque pixels and its transparent ones show.
  TBitmap32 b;
  ASSERT_TRUE(LoadImageFile(ico, b));
  ASSERT_EQ(b.Width(), 256);
  for (size_t i = 0; i < got.size(); ++i) {
    if (want[i * 4 + 3] == 255) ASSERT_EQ(b.Bits()[i], got[i]) << i;
    if (want[i * 4 + 3] == 0) ASSERT_EQ(AlphaOf(b.Bits()[i]), 0) << i;
  }
  // Damaged PNG data in the entry fails with the PNG reader's error.
  std::vector<uint8_t> bad = bytes;
  bad[offset + 18] ^= 0xFF;  // the width inside IHDR
  TIcon broken;
  try {
    broken.LoadFromBytes(bad.data(), bad.size());
    ADD_FAILURE() << "loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), PngText(65243));
  }
  EXPECT_TRUE(broken.Empty());
}

namespace {

// Smooth shading with noisy patches and hard edges, so that every filter
// wins somewhere.
TPlatformBitmap MixedPicture(int32_t W, int32_t H, uint32_t Seed, TPixelFormat Format) {
  TBitmap32 b;
  b.SetSize(W, H);
  const std::vector<TColor32> noise = NoisePixels(static_cast<size_t>(W) * H, Seed);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) {
      const size_t i = static_cast<size_t>(y) * W + x;
      const uint32_t r = static_cast<uint32_t>(x * 7 + y) & 0xFF, g = static_cast<uint32_t>(y * 5) & 0xFF;
      const bool patch = ((x / 9 + y / 7 + Seed) % 4) == 0;
      b.Bits()[i] = patch ? noise[i] | 0xFF000000u : 0xFF000000u | r << 16 | g << 8 | ((x > W / 2) ? 0x80u : 0x10u);
    }
  TPlatformBitmap plain;
  b.AssignTo(plain);
  plain.SetPixelFormat(Format);
  return plain;
}

// Rows of noise, each repeated Repeat times: a deflate block that cannot
// see the 32 KB before it must spell its first row out again.
TPlatformBitmap RepeatedNoiseRows(int32_t W, int32_t H, int32_t Repeat) {
  TBitmap32 b;
  b.SetSize(W, H);
  const std::vector<TColor32> noise = NoisePixels(static_cast<size_t>(W) * H, 5);
  for (int32_t y = 0; y < H; ++y)
    std::copy_n(noise.begin() + static_cast<ptrdiff_t>(y / Repeat) * W, W, b.RowPtr(y));
  TPlatformBitmap plain;
  b.AssignTo(plain);
  plain.SetPixelFormat(TPixelFormat::pf24bit);
  return plain;
}

// The filtered rows of a non-interlaced file, inflated.
std::vector<uint8_t> InflatedRows(const std::vector<uint8_t>& F, size_t Size) {
  std::string z;
  size_t p = 8;
  for (auto& [t, n] : ChunkList(F)) {
    if (t == "IDAT") z.append(F.begin() + static_cast<long>(p) + 8, F.begin() + static_cast<long>(p) + 8 + n);
    p += 12 + n;
  }
  std::vector<uint8_t> raw(Size);
  uLongf len = raw.size();
  EXPECT_EQ(uncompress(raw.data(), &len, reinterpret_cast<const Bytef*>(z.data()), z.size()), Z_OK);
  EXPECT_EQ(len, Size);
  return raw;
}

int PlainPaeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

}  // namespace

// Rows are filtered and deflated on every core: the file is byte for byte
// the one a single thread writes, for any size (single rows and columns
// too), filter set, depth and interlacing, and for pictures of one, two,
// three and many deflate blocks, their rows ending on a block's end or one
// row past it. libpng decodes the source's pixels from it, the checker
// passes it, zlib finds the one stream's check value right, and the stream
// is at most 1 % longer than one deflate of the same rows. Each row carries
// the filter the heuristic picks (the one whose bytes most often repeat one
// of the two before, the first of equals, None when no offered filter
// scores), checked here against a plain model on the unfiltered rows.
TEST(PngEncode, RowsFilteredOnEveryCoreGiveTheSameFile) {
  std::mt19937 rng(11);
  const uint8_t sets[] = {pfSub, pfNone | pfSub | pfUp | pfAverage | pfPaeth, pfUp | pfPaeth, pfAverage, 0};
  const TPixelFormat formats[] = {TPixelFormat::pf24bit, TPixelFormat::pf32bit, TPixelFormat::pf8bit,
                                  TPixelFormat::pf4bit};
  // Plain pictures 200 wide in 8-bit colour (601 filtered bytes a row) at
  // these counts of block rows, plus a row; the last of repeated noise rows,
  // about 32 KB of each.
  const int64_t block = PngDeflateBlockRows(601);
  const std::pair<int64_t, int> byBlocks[] = {{1, 0}, {1, 1}, {2, 0}, {3, 0}, {9, 1}};
  TTempDir dir;
  for (int k = 0; k < 21; ++k) {
    const bool sized = k >= 16;
    int32_t w = k == 0 ? 1 : k == 1 ? 700 : 1 + static_cast<int32_t>(rng() % 300);
    int32_t h = k == 1 ? 1 : k == 0 ? 900 : 1 + static_cast<int32_t>(rng() % 400);
    if (sized) {
      w = 200;
      h = static_cast<int32_t>(byBlocks[k - 16].first * block + byBlocks[k - 16].second);
    }
    const TPixelFormat fmt = sized ? TPixelFormat::pf24bit : formats[k % 4];
    const TPlatformBitmap source =
        k == 20 ? RepeatedNoiseRows(w, h, 54) : MixedPicture(w, h, static_cast<uint32_t>(k), fmt);
    TPNGObject png;
    png.Assign(source);
    png.Filters = sets[k % 5];
    png.InterlaceMethod = (k % 3 == 2 && !sized) ? imAdam7 : imNone;
    const int level = sized ? 25 - k : k % 10;
    png.SetCompressionLevel(static_cast<uint8_t>(level));
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " filters " + std::to_string(png.Filters) +
                 " level " + std::to_string(level));
    std::vector<uint8_t> many;
    for (int threads : {1, 2, 8}) {
      TThreadLimit limit(threads);
      const std::vector<uint8_t> bytes = SaveBytes(png);
      if (many.empty()) many = bytes;
      ASSERT_EQ(bytes, many) << threads << " threads";
    }
    WriteFile(dir / "t.png", std::string(many.begin(), many.end()));
    EXPECT_TRUE(PngcheckAccepts(dir / "t.png"));
    std::vector<uint8_t> rgba;
    int lw = 0, lh = 0;
    ASSERT_TRUE(libpng_reader::Decode(many.data(), many.size(), lw, lh, rgba));
    ASSERT_EQ(lw * lh, w * h);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const uint8_t* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
        ASSERT_EQ(MakeArgb(p[0], p[1], p[2], p[3]), source.ScanLine(y)[x] | 0xFF000000u) << x << "," << y;
      }
    if (png.InterlaceMethod != imNone) continue;

    const auto& ih = ChunkList(many);
    ASSERT_EQ(ih[0].first, "IHDR");
    const uint8_t depth = many[8 + 8 + 8], ct = many[8 + 8 + 9];
    const int channels = ct == 2 ? 3 : ct == 6 ? 4 : ct == 4 ? 2 : 1;
    const size_t bpp = std::max<size_t>(1, static_cast<size_t>(channels * depth / 8));
    const size_t n = (static_cast<size_t>(w) * channels * depth + 7) / 8;
    const std::vector<uint8_t> f = InflatedRows(many, (n + 1) * static_cast<size_t>(h));
    size_t idat = 0;
    for (auto& [t, len] : ChunkList(many)) idat += t == "IDAT" ? len : 0;
    uLongf single = compressBound(f.size());
    std::vector<uint8_t> z(single);
    ASSERT_EQ(compress2(z.data(), &single, f.data(), f.size(), level), Z_OK);
    EXPECT_LE(idat, single + single / 100);
    std::vector<uint8_t> prev(n, 0), raw(n);
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* row = f.data() + static_cast<size_t>(y) * (n + 1);
      // Undo the stored filter.
      for (size_t x = 0; x < n; ++x) {
        const int a = x >= bpp ? raw[x - bpp] : 0, b = prev[x], c = x >= bpp ? prev[x - bpp] : 0;
        const int pred = row[0] == 1 ? a : row[0] == 2 ? b : row[0] == 3 ? (a + b) / 2 : row[0] == 4 ? PlainPaeth(a, b, c) : 0;
        raw[x] = static_cast<uint8_t>(row[1 + x] + pred);
      }
      // The model's choice.
      int want = 0;
      long best = 0;
      for (int t = 0; t < 5; ++t) {
        if (!(png.Filters & (1 << t))) continue;
        std::vector<uint8_t> o(n);
        for (size_t x = 0; x < n; ++x) {
          const int a = x >= bpp ? raw[x - bpp] : 0, b = prev[x], c = x >= bpp ? prev[x - bpp] : 0;
          const int pred = t == 1 ? a : t == 2 ? b : t == 3 ? (a + b) / 2 : t == 4 ? PlainPaeth(a, b, c) : 0;
          o[x] = static_cast<uint8_t>(raw[x] - pred);
        }
        if (png.Filters == (1 << t)) {
          want = t;
          break;
        }
        long score = 0;
        for (size_t j = 2; j < n; ++j) score += o[j] == o[j - 1] || o[j] == o[j - 2];
        if (score > best) {
          best = score;
          want = t;
        }
      }
      ASSERT_EQ(row[0], want) << "row " << y;
      prev = raw;
    }
  }
}

// Samples of 0 to 3 make every tie of the Paeth predictor common (pa = pb,
// pb = pc, and 2a + b = 3c where b and c differ): a file written with Paeth
// alone must decode in libpng and in our reader to the picture saved.
TEST(PngEncode, PaethTiesDecodeToThePictureSaved) {
  std::mt19937 rng(5);
  TBitmap32 b;
  b.SetSize(97, 61);
  for (size_t i = 0; i < b.PixelCount(); ++i)
    b.Bits()[i] = MakeArgb(static_cast<int32_t>(rng() % 4), static_cast<int32_t>(rng() % 4),
                           static_cast<int32_t>(rng() % 4));
  TPlatformBitmap plain;
  b.AssignTo(plain);
  TPNGObject png;
  png.Assign(plain);
  png.Filters = pfPaeth;
  const std::vector<uint8_t> bytes = SaveBytes(png);
  std::vector<uint8_t> ref;
  int w = 0, h = 0;
  ASSERT_TRUE(libpng_reader::Decode(bytes.data(), bytes.size(), w, h, ref));
  ASSERT_EQ(w * h, static_cast<int>(b.PixelCount()));
  for (int i = 0; i < w * h; ++i)
    ASSERT_EQ(MakeArgb(ref[i * 4], ref[i * 4 + 1], ref[i * 4 + 2], ref[i * 4 + 3]), b.Bits()[i]) << "pixel " << i;
  TTempDir dir;
  ExpectSameAsLibpng(std::string(bytes.begin(), bytes.end()), dir / "ties.png");
}

// Every family's unfilters against the filters written out plainly, over
// random rows of each filter type, 3, 4, 6 and 8 bytes a pixel, from 1
// pixel to past four vector widths, so that the first pixel, the short tail
// and every lane position are met; Paeth rows of few values make ties common.
// The colour conversions likewise, writing no pixel past the row.
TEST(PngDecode, UnfilterFamiliesMatchThePlainFilters) {
  const auto reference = [](uint8_t Filter, const std::vector<uint8_t>& Src, const std::vector<uint8_t>& Prev,
                            size_t Bpp) {
    std::vector<uint8_t> r(Src.size());
    for (size_t x = 0; x < Src.size(); ++x) {
      const int a = x >= Bpp ? r[x - Bpp] : 0, b = Prev[x], c = x >= Bpp ? Prev[x - Bpp] : 0;
      const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      const int pred[5] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
      r[x] = static_cast<uint8_t>(Src[x] + (Filter <= 4 ? pred[Filter] : 0));
    }
    return r;
  };
  const std::vector<const TPngUnfilterFamily*> families = PngUnfilterFamilies();
  ASSERT_STREQ(families.front()->Name, "portable");
  std::mt19937 rng(38);
  int rows = 0;
  for (const size_t bpp : {3u, 4u, 6u, 8u})
    for (size_t pixels = 1; pixels <= 70; ++pixels)
      for (const uint32_t range : {256u, 3u}) {
        const size_t n = pixels * bpp;
        std::vector<uint8_t> src(n), prev(n);
        for (size_t i = 0; i < n; ++i) {
          src[i] = static_cast<uint8_t>(rng() % range);
          prev[i] = static_cast<uint8_t>(rng() % range);
        }
        // Colour rows of 8 and 16 bits to 0xFFRRGGBB, 16-bit samples by their high byte.
        for (const TPngUnfilterFamily* f : bpp == 3 || bpp == 6 ? families : decltype(families){}) {
          std::vector<uint32_t> argb(pixels + 1, 0x12345678u), want(pixels + 1, 0x12345678u);
          for (size_t i = 0; i < pixels; ++i)
            want[i] = 0xFF000000u | src[i * bpp] << 16 | src[i * bpp + bpp / 3] << 8 | src[i * bpp + bpp / 3 * 2];
          (bpp == 3 ? f->Rgb8 : f->Rgb16)(src.data(), argb.data(), pixels);
          ASSERT_EQ(argb, want) << f->Name << ", " << pixels << " pixels of " << bpp;
        }
        for (uint8_t filter = 0; filter <= 5; ++filter) {
          const std::vector<uint8_t> want = reference(filter, src, prev, bpp);
          // The row as the decoder calls it, then each family's routine alone.
          std::vector<uint8_t> got(n);
          PngUnfilterRow(filter, got.data(), src.data(), prev.data(), n, bpp);
          ASSERT_EQ(got, want) << "filter " << int(filter) << ", " << pixels << " pixels of " << bpp;
          if (filter != 1 && filter != 3 && filter != 4) continue;
          for (const TPngUnfilterFamily* f : families) {
            const TPngUnfilter fn =
                (filter == 1 ? f->Sub : filter == 3 ? f->Average : f->Paeth)[PngUnfilterIndex(bpp)];
            std::fill(got.begin(), got.end(), 0xA5);
            fn(got.data(), src.data(), prev.data(), n);
            ASSERT_EQ(got, want) << f->Name << ", filter " << int(filter) << ", " << pixels << " pixels of " << bpp;
            ++rows;
          }
        }
      }
  EXPECT_EQ(rows, static_cast<int>(4 * 70 * 2 * 3 * families.size()));
}
