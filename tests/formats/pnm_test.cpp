// Netpbm P5 and P6: the writer's exact bytes, the header dialect table, short
// files, the boxes, and files made by ImageMagick and the Netpbm tools.
#include <cmath>
#include <functional>

#include "alloc_budget.h"
#include "formats_test_util.h"
#include "img_pxm.h"
#include "platform_graphics.h"
#include "pxm_image.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& S) { return std::vector<uint8_t>(S.begin(), S.end()); }

TTestImage AsTestImage(const TBitmap32& B) {
  return TTestImage{B.Width(), B.Height(), PixelsOf(B)};
}

}  // namespace

TEST(PnmWrite, ExactHeaderRowsAndGreyWeights) {
  TTempDir dir;
  TBoxes boxes;
  TBitmap32 b;
  FillBitmap(b, 3, 2, {0x00FFFFFFu, 0x80FF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFF000000u, 0xFF102030u});
  ASSERT_TRUE(SavePPM(dir / "a.ppm", &b));
  auto file = [](const std::string& Header, std::vector<uint8_t> Px) {
    std::vector<uint8_t> b = Bytes(Header);
    b.insert(b.end(), Px.begin(), Px.end());
    return b;
  };
  EXPECT_EQ(ReadFileBytes(dir / "a.ppm"),
            file("P6\n3 2\n255\n", {255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0x10, 0x20, 0x30}));
  ASSERT_TRUE(SavePGM(dir / "a.pgm", &b));
  // (54 R + 181 G + 20 B) shr 8: white 254, red 53, green 180, blue 19, 0x102030 29.
  EXPECT_EQ(ReadFileBytes(dir / "a.pgm"), file("P5\n3 2\n255\n", {254, 53, 180, 19, 0, 29}));
  EXPECT_EQ(boxes.Count(), 0u);
  // The Netpbm tools read both files as written.
  ASSERT_TRUE(RunTool("pnmtopnm -plain " + dir / "a.ppm" + " > " + dir / "plain.ppm"));
  EXPECT_EQ(ReadFileBytes(dir / "plain.ppm"), Bytes("P3\n3 2\n255\n255 255 255 255 0 0 0 255 0 \n0 0 255 0 0 0 16 32 48 \n"));
}

TEST(PnmRead, OwnFilesRoundTripAndBlackOrBreakValuedPixelsStayPixels) {
  TTempDir dir;
  TBoxes boxes;
  TBitmap32 src, back;
  std::vector<TColor32> px = NoisePixels(17 * 9, 11);
  for (TColor32& c : px) c |= 0xFF000000u;
  px[0] = 0xFF000000u;  // a first pixel of zero bytes
  px[1] = 0xFF0A0D0Au;  // and of LF and CR bytes
  FillBitmap(src, 17, 9, px);
  ASSERT_TRUE(SavePPM(dir / "c.ppm", &src));
  LoadPNM(dir / "c.ppm", &back);
  EXPECT_EQ(PixelsOf(back), px);
  ASSERT_TRUE(SavePGM(dir / "g.pgm", &src));
  LoadPNM(dir / "g.pgm", &back);
  ASSERT_EQ(back.Width(), 17);
  for (size_t i = 0; i < px.size(); ++i) ASSERT_EQ(back.Bits()[i], GrayArgb(PnmGrey(px[i]))) << i;
  // A one-pixel grey map whose byte is a line feed.
  WriteFileBytes(dir / "lf.pgm", Bytes("P5\n1 1\n255\n\n"));
  LoadPNM(dir / "lf.pgm", &back);
  EXPECT_EQ(PixelsOf(back), std::vector<TColor32>({0xFF0A0A0Au}));
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST(PnmRead, HeaderDialect) {
  const std::string px6(6, '\x7F');
  struct Case {
    std::string file;
    int32_t w, h;  // -1: refused with the message below
    const char* refusal;
  };
  const Case cases[] = {
      {"P6\n# made by hand\n2 1\n255\n" + px6, 2, 1, ""},
      {"P6\n2 1 # rest cut\n255\n" + px6, 2, 1, ""},
      {"p6\r\n2 1\r\n255\r\n" + px6, 2, 1, ""},       // lower case, CR LF
      {"P6\t2 1\t255\t" + px6, 2, 1, ""},             // TAB ends a line
      {"P6\n\n\n2 1\n\n255\n" + px6, 2, 1, ""},       // runs of breaks are one
      {"P6\n2  1\n255\n" + px6, 2, 0, ""},            // two spaces: the height is the empty field
      {"P6\n2 1 \"\n255\n\"\n255\n" + px6, 2, 1, ""},  // a quote joins lines until the next one
      {"P6 2 1 255\n" + px6, -1, -1, "unrecognized"},  // all on one line
      {"P6\n2 1\n", -1, -1, "unrecognized"},
      {"P7\n2 1\n255\n" + px6, -1, -1, "unrecognized"},
      {"P6\n2\n1\n255\n" + px6, 2, 0, ""},             // height taken as maxval: 1 loads an empty picture
      {"P6\n640\n480\n255\n", -1, -1, "unsupported"},    // ... and 480
      {"P2\n2 1\n255\n0 1\n", -1, -1, "unsupported"},
      {"P4\n8 1\n255\n\x55", -1, -1, "unsupported"},
      {"P5\n2 1\n65535\n" + px6, -1, -1, "unsupported"},
      {"P5\n2 1\n0\n" + px6, 2, 1, ""},                // no maximum is refused below 256
      {"P6\n#\n#\n#\n#\n#\n#\n#\n#\n#\n#\n2 1\n255\n", -1, -1, "unrecognized"},  // eleven lines only
  };
  TTempDir dir;
  for (const Case& c : cases) {
    WriteFileBytes(dir / "h.ppm", Bytes(c.file));
    TBoxes boxes;
    TBitmap32 b;
    LoadPNM(dir / "h.ppm", &b);
    if (c.w < 0) {
      ExpectOneBox(boxes, std::string(c.refusal) + " Portable Pixel Map format on " + dir / "h.ppm", "img_pxm",
                   MB_ICONEXCLAMATION);
      EXPECT_TRUE(b.Empty()) << c.file;
    } else {
      EXPECT_EQ(boxes.Count(), 0u) << c.file;
      EXPECT_EQ(b.Width(), c.w) << c.file;
      EXPECT_EQ(b.Height(), c.h) << c.file;
      if (!b.Empty()) {
        EXPECT_EQ(b.Bits()[0], 0xFF7F7F7Fu) << c.file;
      }
    }
  }
}

TEST(PnmRead, ShortFileKeepsFullSizeWithBlackRowsAndFailuresAreBoxed) {
  TTempDir dir;
  std::string file = "P6\n4 20\n255\n" + std::string(4 * 3 * 10 + 5, '\x33');  // ends inside row 10
  WriteFileBytes(dir / "short.ppm", Bytes(file));
  TBoxes boxes;
  TBitmap32 b;
  LoadPNM(dir / "short.ppm", &b);
  EXPECT_EQ(boxes.Count(), 0u);
  ASSERT_EQ(b.Width(), 4);
  ASSERT_EQ(b.Height(), 20);
  for (int32_t y = 0; y < 20; ++y) EXPECT_EQ(b.GetPixel(3, y), y < 10 ? 0xFF333333u : 0xFF000000u) << y;

  LoadPNM(dir / "missing.ppm", &b);
  ExpectOneBox(boxes, "error opening " + dir / "missing.ppm", "img_pxm", MB_ICONHAND);
  EXPECT_TRUE(b.Empty());
  boxes.Recorder.Clear();
  EXPECT_FALSE(SavePPM(dir / "no-such-folder/x.ppm", &b));
  ExpectOneBox(boxes, "error opening " + dir / "no-such-folder/x.ppm", "img_pxm", MB_ICONHAND);
}

TEST(PnmWrite, WriteFailureHalfWayIsBoxedByEachWriterAndKeepsTheTarget) {
  TTempDir dir;
  const std::vector<uint8_t> old = Bytes("P5\n1 1\n255\n\x42");
  TBitmap32 b;
  FillBitmap(b, 300, 100, NoisePixels(300 * 100, 2));
  TPXMImage pic;
  pic.SetSize(300, 100);
  struct Case {
    const char* name;
    std::function<bool(const std::string&)> save;
    const char* caption;
  };
  const Case cases[] = {
      {"a.ppm", [&](const std::string& f) { return SavePPM(f, &b); }, "img_pxm"},
      {"a.pgm", [&](const std::string& f) { return SavePGM(f, &b); }, "img_pxm"},
      // The picture class's save returns nothing: its box is the report.
      {"b.ppm", [&](const std::string& f) { pic.SaveToFile(f); return false; }, "pxm_image"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(dir / c.name, old);
    TBoxes boxes;
    bool saved = true;
    {
      TFileSizeLimit full(2048);
      saved = c.save(dir / c.name);
    }
    EXPECT_FALSE(saved);
    ExpectOneBox(boxes, "error writing " + dir / c.name + " : Stream write error", c.caption, MB_ICONHAND);
    EXPECT_EQ(ReadFileBytes(dir / c.name), old);
  }
  EXPECT_EQ(FolderEntries(dir.path), std::vector<std::string>({"a.pgm", "a.ppm", "b.ppm"}));
  // The picture class cannot open a file that is not there, in its own box,
  // and raises with the same text.
  TBoxes boxes;
  EXPECT_THROW(
      try { pic.LoadFromFile(dir / "missing.ppm"); } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), "error opening " + dir / "missing.ppm");
        throw;
      },
      EInvalidGraphic);
  ExpectOneBox(boxes, "error opening " + dir / "missing.ppm", "pxm_image", MB_ICONHAND);
  EXPECT_EQ(pic.Width(), 300);
}

TEST(PnmRead, FilesOfImageMagickAndNetpbmReadAsTheyDecodeThem) {
  TTempDir dir;
  TBoxes boxes;
  // ImageMagick writes a comment-free header; Netpbm's ramp a plain one.
  ASSERT_TRUE(RunTool("convert -size 100x37 gradient:'#10E040'-'#F02080' -depth 8 " + dir / "im.ppm"));
  ASSERT_TRUE(RunTool("convert -size 100x37 plasma:fractal -seed 3 -colorspace Gray -depth 8 " + dir / "im.pgm"));
  ASSERT_TRUE(RunTool("pgmramp -lr 100 20 > " + dir / "np.pgm"));
  ASSERT_TRUE(RunTool("ppmmake '#123456' 100 7 > " + dir / "np.ppm"));
  for (const char* name : {"im.ppm", "im.pgm", "np.pgm", "np.ppm"}) {
    const TTestImage expected = ReadPnm(dir / name);
    ASSERT_GT(expected.Width, 0) << name;
    TBitmap32 b;
    LoadPNM(dir / name, &b);
    const TTestImage got = AsTestImage(b);
    EXPECT_EQ(got.Width, expected.Width) << name;
    EXPECT_EQ(got.Height, expected.Height) << name;
    EXPECT_EQ(got.Px, expected.Px) << name;
  }
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST(PxmPicture, RegisteredForThreeExtensionsReadsAndWritesP6) {
  const char* const names[][2] = {{"ppm", "Portable PixMap"}, {"pgm", "Portable GreyMap"}, {"pnm", "Portable Pixel Map"}};
  for (const auto& n : names) {
    const TPictureFormat* f = FindFileFormat(n[0]);
    ASSERT_NE(f, nullptr) << n[0];
    EXPECT_EQ(f->GraphicClassName, "TPXMImage");
    EXPECT_EQ(f->Description, n[1]);
  }
  TTempDir dir;
  TBoxes boxes;
  TBitmap32 src;
  std::vector<TColor32> px = NoisePixels(6 * 4, 21);
  FillBitmap(src, 6, 4, px);
  ASSERT_TRUE(SavePGM(dir / "a.pnm", &src));
  TPicture pic;
  pic.LoadFromFile(dir / "a.pnm");
  auto* img = dynamic_cast<TPXMImage*>(pic.Graphic());
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(img->ScanLine(1)[2], GrayArgb(PnmGrey(px[8])));
  // Saved as P6 whatever it was read from.
  img->SaveToFile(dir / "b.ppm");
  EXPECT_EQ(ReadFileBytes(dir / "b.ppm")[1], '6');
  TBitmap32 back;
  LoadPNM(dir / "b.ppm", &back);
  EXPECT_EQ(back.GetPixel(2, 1), GrayArgb(PnmGrey(px[8])));
  EXPECT_EQ(boxes.Count(), 0u);
  // Its own boxes carry its own unit name.
  WriteFileBytes(dir / "bad.pgm", Bytes("P3\n1 1\n255\n0 0 0\n"));
  EXPECT_THROW(img->LoadFromFile(dir / "bad.pgm"), EInvalidGraphic);
  ExpectOneBox(boxes, "unsupported Portable Pixel Map format on " + dir / "bad.pgm", "pxm_image", MB_ICONEXCLAMATION);
  EXPECT_EQ(img->Width(), 6);  // the picture read before stays
  EXPECT_EQ(img->ScanLine(1)[2], GrayArgb(PnmGrey(px[8])));
}

// A maximum sample value below 255 spreads the samples over 0..255, rounded
// half up (a sample above the maximum is white), for the reader and the
// picture class alike; 255 and 0 read byte for byte; two-byte samples are
// refused.
// The samples put 100 / 50 and 254 / 127 exactly on the half.
TEST(PnmRead, MaximumValuesBelow255ScaleToFullRange) {
  TTempDir dir;
  const std::string samples("\x00\x01\x02\x07\x0E\x0F\x10\x32\x63\x64\x7F\xFE\xFF\x80\x31", 15);
  for (int maxval : {0, 1, 15, 100, 254, 255, 256}) {
    for (bool colour : {false, true}) {
      SCOPED_TRACE(std::to_string(maxval) + (colour ? " P6" : " P5"));
      const std::string name = dir / (colour ? "m.ppm" : "m.pgm");
      WriteFileBytes(name, Bytes(std::string(colour ? "P6" : "P5") + "\n" + (colour ? "5" : "15") + " 1\n" +
                                 std::to_string(maxval) + "\n" + samples));
      TBoxes boxes;
      TBitmap32 b;
      LoadPNM(name, &b);
      TPicture pic;
      if (maxval > 255) {
        ExpectOneBox(boxes, "unsupported Portable Pixel Map format on " + name, "img_pxm", MB_ICONEXCLAMATION);
        EXPECT_TRUE(b.Empty());
        EXPECT_THROW(pic.LoadFromFile(name), EInvalidGraphic);
        continue;
      }
      EXPECT_EQ(boxes.Count(), 0u);
      const auto level = [&](size_t k) {
        const uint8_t v = static_cast<uint8_t>(samples[k]);
        if (maxval == 0) return v;  // no scale to spread by
        return static_cast<uint8_t>(std::floor(std::min<double>(v, maxval) * 255.0 / maxval + 0.5));
      };
      std::vector<TColor32> expected;
      for (size_t i = 0; i < samples.size(); i += colour ? 3 : 1)
        expected.push_back(colour ? MakeArgb(level(i), level(i + 1), level(i + 2)) : GrayArgb(level(i)));
      EXPECT_EQ(PixelsOf(b), expected);
      pic.LoadFromFile(name);
      auto* img = dynamic_cast<TPXMImage*>(pic.Graphic());
      ASSERT_NE(img, nullptr);
      ASSERT_EQ(img->Width(), static_cast<int32_t>(expected.size()));
      for (int32_t x = 0; x < img->Width(); ++x) EXPECT_EQ(img->ScanLine(0)[x], expected[static_cast<size_t>(x)]);
    }
  }
}

// A file that ends early still gives its full picture up to 4 million pixels;
// a larger picture must have all its data, so a header of a few bytes cannot
// claim gigabytes. Refusals leave LoadPNM's bitmap empty and every picture
// object as it was.
TEST(PnmRead, PixelCapForFilesThatEndEarly) {
  TTempDir dir;
  auto p5 = [](int32_t w, int32_t h, size_t bytes) {
    return Bytes("P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" + std::string(bytes, '\x55'));
  };
  // 2000 x 2000 is exactly the cap: half the rows, the rest black.
  WriteFileBytes(dir / "cap.pgm", p5(2000, 2000, 2000 * 1000 + 7));
  TBoxes boxes;
  TBitmap32 b;
  LoadPNM(dir / "cap.pgm", &b);
  EXPECT_EQ(boxes.Count(), 0u);
  ASSERT_EQ(b.Height(), 2000);
  EXPECT_EQ(b.GetPixel(1999, 999), GrayArgb(0x55));
  EXPECT_EQ(b.GetPixel(0, 1000), 0xFF000000u);
  // One column more with one byte missing: refused as damaged.
  WriteFileBytes(dir / "over.pgm", p5(2001, 2000, 2001 * 2000 - 1));
  LoadPNM(dir / "over.pgm", &b);
  ExpectOneBox(boxes, "error reading " + dir / "over.pgm" + " : Stream read error", "img_pxm", MB_ICONHAND);
  EXPECT_TRUE(b.Empty());
  // With all its data the same picture loads.
  WriteFileBytes(dir / "full.pgm", p5(2001, 2000, 2001 * 2000));
  boxes.Recorder.Clear();
  LoadPNM(dir / "full.pgm", &b);
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_EQ(b.GetPixel(2000, 1999), GrayArgb(0x55));
  // A colour pixel takes three bytes: one byte short of them is refused too.
  WriteFileBytes(dir / "over.ppm", Bytes("P6\n2001 2000\n255\n" + std::string(2001 * 2000 * 3 - 1, '\x55')));
  LoadPNM(dir / "over.ppm", &b);
  ExpectOneBox(boxes, "error reading " + dir / "over.ppm" + " : Stream read error", "img_pxm", MB_ICONHAND);

  // 35 bytes declaring 16384 x 16384 fail at once through every path.
  std::string tiny = "P6\n16384 16384\n255\n";
  tiny.resize(35, '\x10');
  WriteFileBytes(dir / "tiny.pnm", Bytes(tiny));
  TBitmap32 kept;
  FillBitmap(kept, 2, 1, {0xFF010203u, 0xFF040506u});
  TPXMImage pic;
  pic.LoadFromFile(dir / "full.pgm");
  boxes.Recorder.Clear();
  const alloc_budget::TUsage use = alloc_budget::Measure([&] {
    LoadPNM(dir / "tiny.pnm", &b);
    EXPECT_THROW(kept.LoadFromFile(dir / "tiny.pnm"), EInvalidGraphic);
    EXPECT_THROW(pic.LoadFromFile(dir / "tiny.pnm"), EInvalidGraphic);
    TReadOnlyMemoryStream s(reinterpret_cast<const uint8_t*>(tiny.data()), tiny.size());
    EXPECT_THROW(pic.LoadFromStream(s), EReadError);
  });
  ::testing::Test::RecordProperty("peak_bytes", std::to_string(use.PeakBytes));
  ::testing::Test::RecordProperty("cpu_ms", std::to_string(use.CpuMs));
  EXPECT_LT(use.PeakBytes, 64 << 20);
  EXPECT_LT(use.CpuMs, 100.0);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(PixelsOf(kept), std::vector<TColor32>({0xFF010203u, 0xFF040506u}));
  EXPECT_EQ(pic.Width(), 2001);
  ASSERT_EQ(boxes.Count(), 3u);  // LoadPNM's, and the picture class's on both of its paths
  EXPECT_EQ(boxes.Last().Text, "error reading " + dir / "tiny.pnm" + " : Stream read error");
  EXPECT_EQ(boxes.Last().Caption, "pxm_image");
}
