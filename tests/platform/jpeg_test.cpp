// JPEG pictures: decoding checked pixel for pixel against the library's own
// command-line decoder, encoding against its command-line encoder, and bad
// input answered with EInvalidGraphic (the ASan build checks for leaks).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "picture_test_util.h"
#include "platform_jpeg.h"

namespace {

TJpegPixels Decode(const std::vector<uint8_t>& bytes) {
  TJpegPixels p;
  DecodeJpeg(bytes.data(), bytes.size(), p);
  return p;
}

// Count of pixels that differ from the reference, plus a first example.
::testing::AssertionResult SamePixels(const TJpegPixels& got, const TTestImage& want) {
  if (got.Width != want.Width || got.Height != want.Height)
    return ::testing::AssertionFailure() << "size " << got.Width << "x" << got.Height << " vs " << want.Width << "x"
                                         << want.Height;
  size_t bad = 0, first = 0;
  for (size_t i = 0; i < want.Px.size(); ++i)
    if (got.Bits[i] != want.Px[i] && bad++ == 0) first = i;
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " pixels differ, first at " << first << ": " << std::hex
                                       << got.Bits[first] << " vs " << want.Px[first];
}

double Psnr(const TJpegPixels& a, const TTestImage& b) {
  double se = 0;
  for (size_t i = 0; i < b.Px.size(); ++i)
    for (int sh : {0, 8, 16}) {
      const double d = static_cast<double>((a.Bits[i] >> sh) & 0xFF) - static_cast<double>((b.Px[i] >> sh) & 0xFF);
      se += d * d;
    }
  const double mse = se / (3.0 * static_cast<double>(b.Px.size()));
  return 10.0 * std::log10(255.0 * 255.0 / std::max(mse, 1e-9));
}

bool HasMarker(const std::vector<uint8_t>& b, uint8_t m) {
  for (size_t i = 0; i + 1 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == m) return true;
  return false;
}

void ExpectJpegError(const std::vector<uint8_t>& bytes, const char* what) {
  TJpegPixels p;
  try {
    DecodeJpeg(bytes.data(), bytes.size(), p);
    ADD_FAILURE() << what << ": no error";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(std::string(e.what()).rfind("JPEG error #", 0), 0u) << what << ": " << e.what();
    EXPECT_EQ(e.ClassName(), "EInvalidGraphic");
  }
}

}  // namespace

TEST(JpegDecode, MatchesCommandLineDecoderExactly) {
  TTempDir dir;
  const TTestImage img = MakePhotoLike(123, 77, 3);  // odd sizes: partial MCUs on both edges
  WritePpm(dir / "src.ppm", img);
  const struct {
    const char* name;
    std::string encode;
  } cases[] = {
      {"baseline 4:2:0", "cjpeg -quality 85 -outfile " + dir / "a.jpg " + dir / "src.ppm"},
      {"4:4:4", "cjpeg -quality 92 -sample 1x1 -outfile " + dir / "a.jpg " + dir / "src.ppm"},
      {"4:2:2 restart", "cjpeg -quality 70 -sample 2x1 -restart 3B -outfile " + dir / "a.jpg " + dir / "src.ppm"},
      {"progressive", "cjpeg -quality 80 -progressive -outfile " + dir / "a.jpg " + dir / "src.ppm"},
      {"optimized", "cjpeg -quality 60 -optimize -outfile " + dir / "a.jpg " + dir / "src.ppm"},
      {"arithmetic", "cjpeg -quality 75 -arithmetic -outfile " + dir / "a.jpg " + dir / "src.ppm"},
      {"other encoder", "/usr/bin/convert " + dir / "src.ppm" + " -quality 77 " + dir / "a.jpg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(RunTool(c.encode));
    ASSERT_TRUE(RunTool("djpeg -outfile " + dir / "ref.ppm " + dir / "a.jpg"));
    const TTestImage ref = ReadPnm(dir / "ref.ppm");
    ASSERT_EQ(ref.Width, 123);
    const TJpegPixels got = Decode(ReadFileBytes(dir / "a.jpg"));
    EXPECT_FALSE(got.Grayscale);
    EXPECT_TRUE(SamePixels(got, ref));
  }
}

TEST(JpegDecode, GreyExpandsToOpaqueRgb) {
  TTempDir dir;
  WritePpm(dir / "src.ppm", MakePhotoLike(64, 40, 5));
  ASSERT_TRUE(RunTool("cjpeg -grayscale -quality 90 -outfile " + dir / "g.jpg " + dir / "src.ppm"));
  ASSERT_TRUE(RunTool("djpeg -outfile " + dir / "ref.pgm " + dir / "g.jpg"));
  const TJpegPixels got = Decode(ReadFileBytes(dir / "g.jpg"));
  EXPECT_TRUE(got.Grayscale);
  EXPECT_TRUE(SamePixels(got, ReadPnm(dir / "ref.pgm")));
  for (int32_t i = 0; i < got.Width * got.Height; ++i) {
    const uint32_t p = got.Bits[i];
    ASSERT_EQ(p >> 24, 0xFFu);
    ASSERT_EQ((p >> 16) & 0xFF, p & 0xFF);
    ASSERT_EQ((p >> 8) & 0xFF, p & 0xFF);
  }
}

TEST(JpegDecode, CmykComesOutAsRgb) {
  TTempDir dir;
  // A flat orange in CMYK: the inverted Adobe samples must not come out as its complement.
  ASSERT_TRUE(RunTool("/usr/bin/convert -size 32x24 xc:'rgb(240,140,20)' -colorspace CMYK -quality 95 " + dir / "c.jpg"));
  const TJpegPixels got = Decode(ReadFileBytes(dir / "c.jpg"));
  ASSERT_EQ(got.Width, 32);
  const uint32_t p = got.Bits[12 * 32 + 16];
  EXPECT_EQ(p >> 24, 0xFFu);
  EXPECT_NEAR(static_cast<int>((p >> 16) & 0xFF), 240, 12);
  EXPECT_NEAR(static_cast<int>((p >> 8) & 0xFF), 140, 12);
  EXPECT_NEAR(static_cast<int>(p & 0xFF), 20, 12);
}

TEST(JpegEncode, SameBytesAsCommandLineEncoder) {
  // Same library, same settings (baseline, 4:2:0, JFIF 1:1, quality): the glue
  // must not change a single byte of the stream.
  TTempDir dir;
  const TTestImage img = MakePhotoLike(101, 67, 7);
  WritePpm(dir / "src.ppm", img);
  for (int q : {25, 75, 90, 100}) {
    SCOPED_TRACE(q);
    ASSERT_TRUE(RunTool("cjpeg -quality " + std::to_string(q) + " -outfile " + dir / "ref.jpg " + dir / "src.ppm"));
    EXPECT_EQ(EncodeJpeg(img.Px.data(), img.Width, img.Height, q), ReadFileBytes(dir / "ref.jpg"));
  }
  ASSERT_TRUE(RunTool("cjpeg -quality 90 -progressive -outfile " + dir / "ref.jpg " + dir / "src.ppm"));
  EXPECT_EQ(EncodeJpeg(img.Px.data(), img.Width, img.Height, 90, true), ReadFileBytes(dir / "ref.jpg"));
}

TEST(JpegEncode, OutputBeyondTheFirstBufferIsCompleteAndFreed) {
  // Pure noise at quality 100 takes far more than the 4 bits per pixel the
  // encoder reserves up front, so its output buffer has to grow; the stream
  // must still match the command-line encoder byte for byte, and no block
  // may be left behind (the sanitizer build checks for leaks).
  TTempDir dir;
  TTestImage noise{512, 512, std::vector<uint32_t>(512 * 512)};
  uint32_t s = 7;
  for (uint32_t& p : noise.Px) {
    s = s * 1664525u + 1013904223u;
    p = 0xFF000000u | (s >> 8);
  }
  WritePpm(dir / "noise.ppm", noise);
  ASSERT_TRUE(RunTool("cjpeg -quality 100 -outfile " + dir / "ref.jpg " + dir / "noise.ppm"));
  const std::vector<uint8_t> bytes = EncodeJpeg(noise.Px.data(), 512, 512, 100);
  EXPECT_GT(bytes.size(), size_t{512} * 512 / 2 + 65536);
  EXPECT_EQ(bytes, ReadFileBytes(dir / "ref.jpg"));
}

TEST(JpegEncode, RoundTripQualityAndStreamLayout) {
  const TTestImage img = MakePhotoLike(96, 64, 11);
  double lastPsnr = 0;
  size_t lastSize = 0;
  for (int q : {30, 60, 90, 100}) {
    SCOPED_TRACE(q);
    const std::vector<uint8_t> bytes = EncodeJpeg(img.Px.data(), img.Width, img.Height, q);
    // SOI, then the JFIF APP0 first; baseline frame, no progressive frame; EOI last.
    ASSERT_GT(bytes.size(), 20u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);
    EXPECT_EQ(bytes[2], 0xFF);
    EXPECT_EQ(bytes[3], 0xE0);
    EXPECT_EQ(std::memcmp(bytes.data() + 6, "JFIF\0", 5), 0);
    EXPECT_TRUE(HasMarker(bytes, 0xC0));
    EXPECT_FALSE(HasMarker(bytes, 0xC2));
    EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
    EXPECT_EQ(bytes.back(), 0xD9);
    const TJpegPixels back = Decode(bytes);
    ASSERT_EQ(back.Width, img.Width);
    ASSERT_EQ(back.Height, img.Height);
    const double psnr = Psnr(back, img);
    EXPECT_GT(psnr, lastPsnr);  // more quality, less error, more bytes
    EXPECT_GT(bytes.size(), lastSize);
    lastPsnr = psnr;
    lastSize = bytes.size();
  }
  // A smooth picture at quality 95 comes back within a few levels everywhere.
  TTestImage smooth{64, 64, std::vector<uint32_t>(64 * 64)};
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      smooth.Px[y * 64 + x] = 0xFF000000u | ((x * 4) << 16) | ((y * 4) << 8) | static_cast<uint32_t>(128 + (x - y));
  const TJpegPixels sm = Decode(EncodeJpeg(smooth.Px.data(), 64, 64, 95));
  int worst = 0;
  for (size_t i = 0; i < smooth.Px.size(); ++i)
    for (int sh : {0, 8, 16})
      worst = std::max(worst, std::abs(static_cast<int>((sm.Bits[i] >> sh) & 0xFF) -
                                       static_cast<int>((smooth.Px[i] >> sh) & 0xFF)));
  EXPECT_LE(worst, 4);
  // Alpha is ignored on input: the same picture with alpha 0 encodes identically.
  TTestImage clear = img;
  for (uint32_t& p : clear.Px) p &= 0x00FFFFFF;
  EXPECT_EQ(EncodeJpeg(clear.Px.data(), img.Width, img.Height, 90), EncodeJpeg(img.Px.data(), img.Width, img.Height, 90));
  EXPECT_TRUE(HasMarker(EncodeJpeg(img.Px.data(), img.Width, img.Height, 90, true), 0xC2));
}

TEST(JpegDecode, BadInputRaisesInvalidGraphic) {
  const TTestImage img = MakePhotoLike(80, 48, 2);
  const std::vector<uint8_t> good = EncodeJpeg(img.Px.data(), img.Width, img.Height, 85);
  const std::vector<uint8_t> prog = EncodeJpeg(img.Px.data(), img.Width, img.Height, 85, true);
  ExpectJpegError({}, "empty");
  ExpectJpegError({0xFF, 0xD8}, "only SOI");
  ExpectJpegError(std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2), "truncated baseline");
  ExpectJpegError(std::vector<uint8_t>(prog.begin(), prog.begin() + prog.size() * 2 / 3), "truncated progressive");
  ExpectJpegError(std::vector<uint8_t>(good.begin(), good.begin() + 100), "truncated in the tables");
  std::vector<uint8_t> notJpeg(good);
  notJpeg[0] = 'B';
  ExpectJpegError(notJpeg, "no SOI");
  // Entropy-coded data replaced by noise.
  std::vector<uint8_t> noisy(good);
  uint32_t s = 99;
  for (size_t i = noisy.size() / 3; i + 2 < noisy.size(); ++i) {
    s = s * 1103515245u + 12345u;
    noisy[i] = static_cast<uint8_t>(s >> 16);
  }
  ExpectJpegError(noisy, "noise");
  // A frame header claiming 65000 x 65000 pixels is refused before allocating.
  std::vector<uint8_t> huge(good);
  for (size_t i = 0; i + 8 < huge.size(); ++i)
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = 0xFD; huge[i + 6] = 0xE8; huge[i + 7] = 0xFD; huge[i + 8] = 0xE8;
      break;
    }
  ExpectJpegError(huge, "huge frame");
  // The limit applies to the pixel count.
  const uint64_t old = SetJpegPixelLimit(80 * 48 - 1);
  ExpectJpegError(good, "over the pixel limit");
  SetJpegPixelLimit(old);
  EXPECT_EQ(Decode(good).Width, 80);
}

TEST(TJPEGImageClass, StreamsKeepsDataAndReencodesOnChange) {
  const TTestImage img = MakePhotoLike(40, 30, 4);
  const std::vector<uint8_t> original = EncodeJpeg(img.Px.data(), img.Width, img.Height, 70);
  TJPEGImage jpeg;
  EXPECT_EQ(jpeg.ClassName(), "TJPEGImage");
  EXPECT_EQ(jpeg.CompressionQuality(), 90);
  EXPECT_TRUE(jpeg.Empty());
  TMemoryStream in(std::vector<uint8_t>(3, 0xAB));
  in.Bytes().insert(in.Bytes().end(), original.begin(), original.end());
  in.SetPosition(3);  // a picture may start in the middle of a stream
  jpeg.LoadFromStream(in);
  EXPECT_EQ(jpeg.Width(), 40);
  EXPECT_EQ(jpeg.Height(), 30);
  // Unchanged: the loaded bytes are written back as they were.
  TMemoryStream out;
  jpeg.SaveToStream(out);
  EXPECT_EQ(out.Bytes(), original);
  // A new quality really re-encodes.
  jpeg.SetCompressionQuality(95);
  const std::vector<uint8_t> q95 = jpeg.SaveToBytes();
  EXPECT_NE(q95, original);
  TJpegPixels decodedOriginal = Decode(original);
  EXPECT_EQ(q95, EncodeJpeg(decodedOriginal.Bits.get(), 40, 30, 95));
  // A failed load leaves the picture as it was.
  TMemoryStream bad(std::vector<uint8_t>(original.begin(), original.begin() + 200));
  EXPECT_THROW(jpeg.LoadFromStream(bad), EInvalidGraphic);
  EXPECT_EQ(jpeg.Width(), 40);
  EXPECT_EQ(jpeg.SaveToBytes(), q95);
}

TEST(TJPEGImageClass, BitmapExchangeAndDrawing) {
  TPlatformBitmap bmp;
  bmp.SetSize(4, 2);
  const uint32_t colors[8] = {0x00FF0000, 0x8000FF00, 0xFF0000FF, 0x12345678,
                              0xFFFFFFFF, 0x00000000, 0x00808080, 0xFF102030};
  std::memcpy(bmp.Bits(), colors, sizeof colors);
  TJPEGImage jpeg;
  jpeg.Assign(bmp);
  ASSERT_EQ(jpeg.Width(), 4);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(jpeg.Pixels()[i], colors[i] | 0xFF000000u);
  TPlatformBitmap back;
  jpeg.AssignTo(back);
  EXPECT_EQ(back.PixelFormat(), TPixelFormat::pf24bit);
  ASSERT_EQ(back.Width(), 4);
  EXPECT_EQ(back.Bits()[3], 0xFF345678u);
  // Drawing doubles each pixel into an 8 x 4 rectangle at (1, 1), clipped by the surface.
  std::vector<uint32_t> surf(8 * 4, 0xDEADBEEF);
  TPixelSurface s{surf.data(), 8, 4};
  jpeg.Draw(s, TPlatformRect{1, 1, 9, 5});
  EXPECT_EQ(surf[0], 0xDEADBEEFu);
  EXPECT_EQ(surf[1 * 8 + 1], 0xFFFF0000u);
  EXPECT_EQ(surf[1 * 8 + 2], 0xFFFF0000u);
  EXPECT_EQ(surf[1 * 8 + 3], 0xFF00FF00u);
  EXPECT_EQ(surf[3 * 8 + 1], 0xFFFFFFFFu);
  EXPECT_EQ(surf[3 * 8 + 5], 0xFF808080u);
  EXPECT_EQ(surf[3 * 8 + 7], 0xFF102030u);  // the surface ends before the last column
  // Empty pictures cannot be saved.
  EXPECT_THROW(TJPEGImage().SaveToBytes(), EInvalidGraphic);
}

TEST(TJPEGImageClass, RegisteredForJpgAndJpegFiles) {
  RegisterBuiltinPictureFormats();  // once per process; the editor does it at start-up
  for (const char* ext : {"jpg", "JPEG", ".jpg"}) {
    const TPictureFormat* f = FindFileFormat(ext);
    ASSERT_NE(f, nullptr) << ext;
    EXPECT_EQ(f->GraphicClassName, "TJPEGImage");
    EXPECT_EQ(f->Description, "JPEG Image File");
  }
  EXPECT_EQ(FindFileFormat("jpe"), nullptr);
  TTempDir dir;
  const TTestImage img = MakePhotoLike(20, 10, 9);
  WriteFileBytes(dir / "x.JPG", EncodeJpeg(img.Px.data(), 20, 10, 90));
  TPicture pic;
  pic.LoadFromFile(dir / "x.JPG");
  ASSERT_NE(pic.Graphic(), nullptr);
  EXPECT_EQ(pic.Graphic()->ClassName(), "TJPEGImage");
  EXPECT_EQ(pic.Width(), 20);
}

namespace {

// The scans of a stream: where each SOS segment starts and where its entropy
// data ends (at the next marker that is not a restart or a stuffed zero).
std::vector<std::pair<size_t, size_t>> Scans(const std::vector<uint8_t>& b) {
  std::vector<std::pair<size_t, size_t>> scans;
  for (size_t i = 2; i + 3 < b.size();) {
    if (b[i] != 0xFF) return scans;
    const uint8_t m = b[i + 1];
    if (m == 0xD9) break;
    const size_t len = static_cast<size_t>(b[i + 2]) << 8 | b[i + 3];
    size_t end = i + 2 + len;
    if (m == 0xDA) {
      while (end + 1 < b.size() && !(b[end] == 0xFF && b[end + 1] != 0 && (b[end + 1] < 0xD0 || b[end + 1] > 0xD7)))
        ++end;
      scans.emplace_back(i, end);
    }
    i = end;
  }
  return scans;
}

// The stream with scan Index repeated Copies times more.
std::vector<uint8_t> RepeatScan(const std::vector<uint8_t>& b, size_t Index, int Copies) {
  const auto [from, to] = Scans(b).at(Index);
  std::vector<uint8_t> out(b.begin(), b.begin() + static_cast<ptrdiff_t>(to));
  for (int k = 0; k < Copies; ++k) out.insert(out.end(), b.begin() + static_cast<ptrdiff_t>(from), b.begin() + static_cast<ptrdiff_t>(to));
  out.insert(out.end(), b.begin() + static_cast<ptrdiff_t>(to), b.end());
  return out;
}

}  // namespace

// Progressive streams: every scan must bring coefficient bits not seen
// before, and at most 100 scans are read. Valid scripts of up to 100 scans
// decode exactly as the library's own decoder does.
TEST(JpegDecode, ScansThatAddNothingOrTooManyAreRefused) {
  TTempDir dir;
  const TTestImage img = MakePhotoLike(64, 40, 8);
  WritePpm(dir / "src.ppm", img);
  // Grey scripts: 64 scans (DC, then each AC coefficient on its own); and
  // each AC coefficient in two bits, a first scan and a refinement, whose
  // refinements are split over two files because the encoder writes at most
  // 100 scans. Spliced, they make one valid stream of 127 scans.
  auto line = [](int k, int ah, int al) {
    return "0: " + std::to_string(k) + " " + std::to_string(k) + " " + std::to_string(ah) + " " + std::to_string(al) + ";\n";
  };
  std::string s64 = "0: 0 0 0 0;\n", firsts = "0: 0 0 0 0;\n";
  for (int k = 1; k < 64; ++k) s64 += line(k, 0, 0), firsts += line(k, 0, 1);
  std::string lowRefine = firsts, highRefine = firsts;
  for (int k = 1; k < 64; ++k) (k <= 36 ? lowRefine : highRefine) += line(k, 1, 0);
  const std::pair<const char*, std::string> scripts[] = {{"s64", s64}, {"low", lowRefine}, {"high", highRefine}};
  for (const auto& [name, text] : scripts) {
    std::ofstream(dir / (std::string(name) + ".txt")) << text;
    ASSERT_TRUE(RunTool("cjpeg -grayscale -quality 80 -scans " + dir / (std::string(name) + ".txt") + " -outfile " +
                        dir / (std::string(name) + ".jpg ") + dir / "src.ppm"));
  }
  const std::vector<uint8_t> g64 = ReadFileBytes(dir / "s64.jpg");
  ASSERT_EQ(Scans(g64).size(), 64u);
  ASSERT_TRUE(RunTool("djpeg -rgb -outfile " + dir / "ref.ppm " + dir / "s64.jpg"));
  EXPECT_TRUE(SamePixels(Decode(g64), ReadPnm(dir / "ref.ppm")));
  const std::vector<uint8_t> low = ReadFileBytes(dir / "low.jpg"), high = ReadFileBytes(dir / "high.jpg");
  const auto lowScans = Scans(low), highScans = Scans(high);
  ASSERT_EQ(lowScans.size(), 100u);
  ASSERT_EQ(highScans.size(), 91u);
  std::vector<uint8_t> g127(low.begin(), low.begin() + static_cast<ptrdiff_t>(lowScans.back().second));
  // Each later scan with the tables written before it.
  g127.insert(g127.end(), high.begin() + static_cast<ptrdiff_t>(highScans[63].second),
              high.begin() + static_cast<ptrdiff_t>(highScans.back().second));
  g127.insert(g127.end(), {0xFF, 0xD9});
  ASSERT_EQ(Scans(g127).size(), 127u);
  ExpectJpegError(g127, "127 scans");
  // The same stream cut to its first 100 scans decodes.
  std::vector<uint8_t> g100(low.begin(), low.begin() + static_cast<ptrdiff_t>(lowScans.back().second));
  g100.insert(g100.end(), {0xFF, 0xD9});
  EXPECT_EQ(Decode(g100).Width, 64);

  // A colour progressive stream as encoders write it, with one scan repeated.
  ASSERT_TRUE(RunTool("cjpeg -quality 80 -progressive -outfile " + dir / "p.jpg " + dir / "src.ppm"));
  const std::vector<uint8_t> prog = ReadFileBytes(dir / "p.jpg");
  const size_t n = Scans(prog).size();
  ASSERT_GE(n, 8u);
  EXPECT_EQ(Decode(prog).Width, 64);
  ExpectJpegError(RepeatScan(prog, 0, 1), "the first DC scan twice");
  ExpectJpegError(RepeatScan(prog, n - 1, 1), "the last refinement twice");
  ExpectJpegError(RepeatScan(prog, 1, 479), "an AC scan 480 times");
}

// Memory follows the input: a flat picture far larger than 4 megapixels
// decodes into memory that grows with its rows, and a few hundred bytes of
// arithmetic-coded data may not stand for tens of millions of pixels.
TEST(JpegDecode, PixelMemoryFollowsTheInput) {
  TTempDir dir;
  // A flat grey picture with optimised tables: two bits per 8 x 8 block.
  const int32_t w = 3000, h = 3000;
  {
    std::ofstream pgm(dir / "flat.pgm", std::ios::binary);
    pgm << "P5 " << w << " " << h << " 255\n";
    pgm << std::string(static_cast<size_t>(w) * h, static_cast<char>(0x6E));
  }
  ASSERT_TRUE(RunTool("cjpeg -grayscale -optimize -quality 90 -outfile " + dir / "flat.jpg " + dir / "flat.pgm"));
  const std::vector<uint8_t> bytes = ReadFileBytes(dir / "flat.jpg");
  ASSERT_GT(static_cast<uint64_t>(w) * h, bytes.size() * 64);  // the growing path
  const TJpegPixels got = Decode(bytes);
  ASSERT_EQ(got.Height, h);
  size_t other = 0;
  for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) other += got.Bits[i] != 0xFF6E6E6Eu;
  EXPECT_EQ(other, 0u);

  // 241 bytes of arithmetic-coded data declaring 3347 x 23296 pixels.
  ExpectJpegError(ReadFileBytes(std::string(VEMRA_SOURCE_DIR) + "/fuzz/corpus/jpeg/arith-huge-padded.jpg"),
                  "arithmetic data padded to 78 megapixels");
}
