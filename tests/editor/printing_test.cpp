// What printing computes without a printer: the "devmode" text against a
// plain model of the format, the preview reduction, the printed size, the
// resolution cap and the quality estimate.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <random>

#include "raster_core.h"
#include "zub_printing.h"

namespace {

// The settings text written the plain way: each whole word as "$%08X".
std::string ModelText(const std::vector<uint8_t>& B) {
  std::string s;
  for (size_t w = 0; w + 4 <= B.size(); w += 4) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | B[w + i];
    char buf[16];
    std::snprintf(buf, sizeof buf, "%s$%08" PRIX32, w ? "," : "", v);
    s += buf;
  }
  return s;
}

}  // namespace

TEST(DevMode, RoundTripAgainstThePlainFormat) {
  std::mt19937 rng(7);
  for (size_t size : {0u, 3u, 4u, 7u, 156u, 158u, 220u}) {
    std::vector<uint8_t> block(size);
    for (auto& b : block) b = static_cast<uint8_t>(rng());
    const std::string text = EncodeDevMode(block.data(), block.size());
    ASSERT_EQ(text, ModelText(block)) << size;
    std::vector<uint8_t> back(size, 0xEE);
    DecodeDevMode(text, back.data(), back.size());
    // The whole words come back; a trailing part of fewer than 4 bytes is untouched.
    for (size_t i = 0; i < size; ++i) EXPECT_EQ(back[i], i < size / 4 * 4 ? block[i] : 0xEE) << size << " " << i;
  }
  TDevMode m;
  const std::string t = EncodeDevMode(m.Bytes.data(), m.Bytes.size());
  EXPECT_EQ(t.size(), 9u + 38u * 10u);  // 39 words
}

TEST(DevMode, WordsParseAsUnsigned) {
  struct Case {
    const char* Part;
    uint32_t Value;
  } cases[] = {{"$FFFFFFFF", 0xFFFFFFFFu}, {"$80000000", 0x80000000u}, {"$00000001", 1},
               {"$abcdef01", 0xABCDEF01u}, {"4294967295", 0xFFFFFFFFu}, {"4294967296", 0},
               {"$100000000", 0},        {"12", 12},                  {"-1", 0},
               {"", 0},                  {"$", 0},                    {" 5", 0},
               {"5x", 0},                {"$G", 0},                   {"0x10", 0}};
  for (const Case& c : cases) EXPECT_EQ(ParseDevModeWord(c.Part), c.Value) << c.Part;
}

TEST(DevMode, FewerPartsChangeOnlyLeadingWords) {
  std::vector<uint8_t> b(12, 0x11);
  DecodeDevMode("$01020304,junk", b.data(), b.size());
  EXPECT_EQ(b, (std::vector<uint8_t>{4, 3, 2, 1, 0, 0, 0, 0, 0x11, 0x11, 0x11, 0x11}));
  DecodeDevMode("1,2,3,4,5,6", b.data(), b.size());
  EXPECT_EQ(b, (std::vector<uint8_t>{1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}));
  // An empty stored text changes nothing; a text of commas zeroes the words it reaches.
  DecodeDevMode("", b.data(), b.size());
  EXPECT_EQ(b[0], 1);
  DecodeDevMode(",", b.data(), b.size());
  EXPECT_EQ(b, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0}));
}

TEST(PrintSizes, PreviewPrintedAndCapped) {
  EXPECT_EQ(PreviewReduction(4000, 3000), 15);
  TBitmap32 big;
  big.SetSize(4000, 3000);
  auto preview = MakePreviewBitmap(big);
  EXPECT_EQ(preview->Width(), 266);
  EXPECT_EQ(preview->Height(), 200);
  // 3000 / 11 = 272 wide; 10 / 11 would leave no row, and nothing to print.
  big.SetSize(3000, 10);
  preview = MakePreviewBitmap(big);
  EXPECT_EQ(preview->Width(), 272);
  EXPECT_EQ(preview->Height(), 1);
  EXPECT_EQ(PreviewReduction(255, 10), 1);
  EXPECT_EQ(PreviewReduction(10, 512), 2);

  // 100 x 50 shown at 0.5 in a 200 x 282 box on a 4960 x 7016 page.
  const TPoint p = PrintedSize(4960, 7016, 100, 50, 0.5f, 200, 282);
  EXPECT_EQ(p.X, 1240);  // 4960 * 50 / 200
  EXPECT_EQ(p.Y, 621);   // trunc(7016 * 25 / 282 = 621.98)
  EXPECT_EQ(PrintedSize(100, 100, 10, 10, 1, 0, 0).X, 0);

  // At the cap exactly nothing shrinks; above it both sides by one factor.
  EXPECT_EQ(PrintBitmapSize(8192, 4096).X, 8192);
  const TPoint c = PrintBitmapSize(9921, 14031);  // a whole A4 page at 1200 dpi
  EXPECT_LE(int64_t{c.X} * c.Y, kMaxPrintPixels);
  EXPECT_GT(int64_t{c.X} * c.Y, kMaxPrintPixels * 99 / 100);
  EXPECT_NEAR(static_cast<double>(c.X) / c.Y, 9921.0 / 14031.0, 1e-3);
}

TEST(PrintInfo, A4WithoutPaperSizeEstimatesQuality) {
  TDevMode m;
  m.Set16(TDevMode::PaperSize, TDevMode::kPaperA4);
  m.Set16(TDevMode::Scale, 100);
  m.Set16(TDevMode::Copies, 2);
  m.SetText(TDevMode::FormName, "A4");
  // 4960 x 7016 pixels over 210 x 297 mm is 600 dpi both ways.
  EXPECT_EQ(PrintInfoText(m, 4960, 7016), "form: A4 scale:100% copies:2\nquality:600dpi");
  EXPECT_EQ(m.Get16(TDevMode::PaperWidth), 2100);
  EXPECT_EQ(m.Get16(TDevMode::PaperLength), 2970);
  // Landscape exchanges the paper sides.
  EXPECT_EQ(EstimatePrintQuality(7016, 4960, 2100, 2970, true), 600);
  EXPECT_EQ(EstimatePrintQuality(7016, 4960, 0, 2970, true), 0);
}
