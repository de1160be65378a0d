// Text output: font resolution, metrics and extents pinned for the metric
// twin of Arial, and the pixels text leaves on a 32-bit surface.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "platform_text.h"

namespace {

TFont Arial(int32_t size, TFontQuality q = TFontQuality::fqDefault) {
  TFont f;
  f.Name = "Arial";
  f.Size = size;
  f.Quality = q;
  return f;
}

struct TCanvas {
  TCanvas(int32_t w, int32_t h, uint32_t fill) : px(static_cast<size_t>(w) * h, fill), s{px.data(), w, h} {}
  uint32_t At(int32_t x, int32_t y) const { return px[static_cast<size_t>(y) * s.Width + x]; }
  std::vector<uint32_t> px;
  TPixelSurface s;
};

// The box of pixels that differ from the background; empty when none.
TPlatformRect InkBox(const TCanvas& c, uint32_t bg) {
  TPlatformRect r{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (int32_t y = 0; y < c.s.Height; ++y)
    for (int32_t x = 0; x < c.s.Width; ++x)
      if (c.At(x, y) != bg) {
        r.Left = std::min(r.Left, x);
        r.Top = std::min(r.Top, y);
        r.Right = std::max(r.Right, x + 1);
        r.Bottom = std::max(r.Bottom, y + 1);
      }
  if (r.Left == INT32_MAX) return TPlatformRect{};
  return r;
}

}  // namespace

TEST(PlatformFont, ArialResolvesToLiberationSans) {
  EXPECT_EQ(PlatformFontFamily("Arial", 0), "Liberation Sans");
  EXPECT_NE(PlatformFontFile("Arial", 0).find("LiberationSans-Regular"), std::string::npos);
  EXPECT_NE(PlatformFontFile("arial", fsBold).find("LiberationSans-Bold."), std::string::npos);
  EXPECT_NE(PlatformFontFile("Arial", fsBold | fsItalic).find("LiberationSans-BoldItalic"), std::string::npos);
  // An unknown family still gives some scalable face rather than nothing.
  EXPECT_FALSE(PlatformFontFile("No Such Family 42", 0).empty());
}

TEST(PlatformFont, ManyNamesFromFilesLeaveTheAnswersUnchanged) {
  // Metafiles name fonts by the thousand; the remembered answers are let go
  // on the way, and asking again gives the same faces and the same text.
  TFont arial;
  arial.Size = 12;
  const std::string file = PlatformFontFile("Arial", 0);
  const TTextExtent extent = PlatformTextExtent(arial, "Metafile");
  for (int i = 0; i < 700; ++i) {
    TFont f = arial;
    f.Name = "Font " + std::to_string(i);
    PlatformTextExtent(f, "x");
  }
  EXPECT_EQ(PlatformFontFile("Arial", 0), file);
  EXPECT_EQ(PlatformTextExtent(arial, "Metafile").cx, extent.cx);
  EXPECT_EQ(PlatformFontFamily("arial", fsBold), "Liberation Sans");
}

TEST(PlatformFont, MetricsOfTenPointArial) {
  // 10 points at 96 dpi is a 13-pixel em; the win ascent/descent of the face
  // (1854 + 434 of 2048 units) give a 12 + 3 pixel cell.
  const TTextMetrics m = PlatformTextMetrics(Arial(10));
  EXPECT_EQ(m.Ascent, 12);
  EXPECT_EQ(m.Descent, 3);
  EXPECT_EQ(m.Height, 15);
  EXPECT_EQ(m.InternalLeading, 2);
  EXPECT_EQ(m.ExternalLeading, 0);
  EXPECT_EQ(m.AveCharWidth, 8);
  EXPECT_GT(m.MaxCharWidth, m.AveCharWidth);
}

TEST(PlatformFont, NegativeSizeAsksForCellHeight) {
  // A negative point size asks for a cell of MulDiv(-Size, 96, 72) pixels.
  for (int32_t size : {-9, -12, -20, -30}) {
    const int32_t cell = (-size * 96 + 36) / 72;
    const TTextMetrics m = PlatformTextMetrics(Arial(size));
    EXPECT_NEAR(m.Height, cell, 1) << "size " << size;
    EXPECT_EQ(PlatformTextExtent(Arial(size), "x").cy, m.Height);
  }
}

TEST(PlatformTextExtent, PinnedAndStable) {
  const TTextExtent e = PlatformTextExtent(Arial(10), "Hello, World");
  EXPECT_EQ(e.cx, 70);
  EXPECT_EQ(e.cy, 15);
  EXPECT_EQ(PlatformTextExtent(Arial(12), "Hello, World").cx, 88);
  EXPECT_EQ(PlatformTextExtent(Arial(10, TFontQuality::fqNonAntialiased), "Hello, World").cx, 71);
  // Empty text has no width but still the line's height.
  const TTextExtent empty = PlatformTextExtent(Arial(10), "");
  EXPECT_EQ(empty.cx, 0);
  EXPECT_EQ(empty.cy, 15);
  // Bold is wider; size grows the extent.
  TFont bold = Arial(10);
  bold.Style = fsBold;
  EXPECT_GT(PlatformTextExtent(bold, "Hello, World").cx, e.cx);
  EXPECT_GT(PlatformTextExtent(Arial(20), "Hello, World").cx, 2 * e.cx - 4);
}

TEST(PlatformTextExtent, WidthIsSumOfAdvancesWithoutKerning) {
  // "AV" and "To" kern in the font; text output does not apply kerning.
  for (const char* s : {"AVAV", "Tower", "Hello, World", "\xC3\xA9t\xC3\xA9"}) {
    const std::string text = s;
    int32_t sum = 0;
    size_t i = 0;
    while (i < text.size()) {
      size_t len = 1;
      while (i + len < text.size() && (static_cast<unsigned char>(text[i + len]) & 0xC0) == 0x80) ++len;
      sum += PlatformTextExtent(Arial(10), text.substr(i, len)).cx;
      i += len;
    }
    EXPECT_EQ(PlatformTextExtent(Arial(10), text).cx, sum) << s;
  }
}

TEST(PlatformTextExtent, SameAnswerFromManyThreads) {
  const TTextExtent want = PlatformTextExtent(Arial(10), "Hello, World");
  std::vector<int> bad(6, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([t, want, &bad] {
      TCanvas c(80, 20, 0xFFFFFFFF);
      for (int i = 0; i < 40; ++i) {
        // Mixed sizes force the face cache to open and reuse faces concurrently.
        const TTextExtent e = PlatformTextExtent(Arial(10), "Hello, World");
        if (e.cx != want.cx || e.cy != want.cy) ++bad[t];
        PlatformTextOut(c.s, 0, 0, "Hi", Arial(8 + (i + t) % 7), nullptr);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 6; ++t) EXPECT_EQ(bad[t], 0) << "thread " << t;
}

TEST(PlatformTextOut, MonochromeGlyphsInFontColourInsideTheCell) {
  const uint32_t bg = 0xFF123456;
  TCanvas c(120, 40, bg);
  TFont f = Arial(10, TFontQuality::fqNonAntialiased);
  f.Color = 0x000000FF;  // platform red
  const int32_t X = 7, Y = 9;
  PlatformTextOut(c.s, X, Y, "Hello", f, nullptr);
  const TTextExtent e = PlatformTextExtent(f, "Hello");
  const TTextMetrics m = PlatformTextMetrics(f);
  int ink = 0;
  for (int32_t y = 0; y < c.s.Height; ++y)
    for (int32_t x = 0; x < c.s.Width; ++x) {
      const uint32_t p = c.At(x, y);
      if (p == bg) continue;
      ++ink;
      // Exactly the font colour, alpha byte cleared.
      EXPECT_EQ(p, 0x00FF0000u) << x << "," << y;
    }
  EXPECT_GT(ink, 40);
  const TPlatformRect box = InkBox(c, bg);
  EXPECT_GE(box.Left, X);
  EXPECT_LE(box.Right, X + e.cx);
  // "H" sits on the baseline and reaches up to about the cap height.
  EXPECT_EQ(box.Bottom, Y + m.Ascent);
  EXPECT_GE(box.Top, Y + 1);
  EXPECT_LE(box.Top, Y + m.InternalLeading + 2);
}

TEST(PlatformTextOut, AntialiasedCoverageBlendsAndClearsAlpha) {
  TCanvas c(120, 40, 0xFF000000);
  TFont f = Arial(14);
  f.Color = 0x00FFFFFF;
  PlatformTextOut(c.s, 2, 2, "HEEL", f, nullptr);
  int partial = 0, full = 0;
  for (uint32_t p : c.px) {
    if (p == 0xFF000000) continue;
    EXPECT_EQ(p >> 24, 0u);
    const uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    EXPECT_TRUE(r == g && g == b);  // white over black stays grey
    if (b == 255) ++full;
    else ++partial;
  }
  EXPECT_GT(partial, 10);
  EXPECT_GT(full, 5);
  // Black on white: the colour a pixel gets is the complement of the coverage.
  TCanvas w(120, 40, 0xFFFFFFFF);
  f.Color = 0;
  PlatformTextOut(w.s, 2, 2, "HEEL", f, nullptr);
  for (size_t i = 0; i < c.px.size(); ++i) {
    if (c.px[i] == 0xFF000000) {
      EXPECT_EQ(w.px[i], 0xFFFFFFFFu);
    } else {
      EXPECT_EQ((w.px[i] & 0xFF) + (c.px[i] & 0xFF), 255u);
    }
  }
}

TEST(PlatformTextOut, ClipRectangleAndSurfaceEdgesRespected) {
  const uint32_t bg = 0xFFFFFFFF;
  TFont f = Arial(14, TFontQuality::fqNonAntialiased);
  TCanvas full(100, 40, bg);
  PlatformTextOut(full.s, 3, 4, "MMMM", f, nullptr);
  TCanvas clipped(100, 40, bg);
  const TPlatformRect clip{10, 8, 30, 16};
  PlatformTextOut(clipped.s, 3, 4, "MMMM", f, &clip);
  int inside = 0;
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 100; ++x) {
      const bool in = x >= clip.Left && x < clip.Right && y >= clip.Top && y < clip.Bottom;
      if (in) {
        EXPECT_EQ(clipped.At(x, y), full.At(x, y));
        inside += full.At(x, y) != bg;
      } else {
        EXPECT_EQ(clipped.At(x, y), bg) << x << "," << y;
      }
    }
  EXPECT_GT(inside, 10);
  // Text hanging over every edge of the surface draws its visible part only.
  TCanvas small(10, 8, bg);
  PlatformTextOut(small.s, -6, -5, "WWW", Arial(20), nullptr);
  EXPECT_NE(InkBox(small, bg).Right, 0);
  TPixelSurface none;
  PlatformTextOut(none, 0, 0, "x", f, nullptr);  // no surface: nothing happens
}

TEST(PlatformTextOut, UnderlineBelowBaselineAcrossTheText) {
  const uint32_t bg = 0xFFFFFFFF;
  TFont f = Arial(12, TFontQuality::fqNonAntialiased);
  TCanvas plain(80, 30, bg), under(80, 30, bg);
  PlatformTextOut(plain.s, 2, 2, "xxxx", f, nullptr);
  f.Style = fsUnderline;
  PlatformTextOut(under.s, 2, 2, "xxxx", f, nullptr);
  const TTextMetrics m = PlatformTextMetrics(f);
  const TTextExtent e = PlatformTextExtent(f, "xxxx");
  const int32_t baseline = 2 + m.Ascent;
  EXPECT_EQ(InkBox(plain, bg).Bottom, baseline);
  const TPlatformRect box = InkBox(under, bg);
  EXPECT_GT(box.Bottom, baseline);
  EXPECT_LE(box.Bottom, 2 + m.Height);
  // The line runs the whole advance width.
  const int32_t row = box.Bottom - 1;
  for (int32_t x = 2; x < 2 + e.cx; ++x) EXPECT_NE(under.At(x, row), bg) << x;
  EXPECT_EQ(under.At(2 + e.cx, row), bg);
}

TEST(PlatformTextOut, BoldAndItalicSynthesisedForASingleFaceFamily) {
  const std::string family = "DejaVu Math TeX Gyre";  // ships one upright, regular face
  if (PlatformFontFamily(family, fsBold | fsItalic) != family) GTEST_SKIP() << family << " is not installed";
  TFont f;
  f.Name = family;
  f.Size = 10;
  f.Quality = TFontQuality::fqNonAntialiased;
  TFont bold = f, italic = f;
  bold.Style = fsBold;
  italic.Style = fsItalic;
  // All three styles come from the same file: bold and slant are made by us.
  EXPECT_EQ(PlatformFontFile(family, fsBold), PlatformFontFile(family, 0));
  // Emboldening widens every glyph by one pixel at this size.
  EXPECT_EQ(PlatformTextExtent(bold, "IIII").cx, PlatformTextExtent(f, "IIII").cx + 4);
  EXPECT_EQ(PlatformTextExtent(italic, "IIII").cx, PlatformTextExtent(f, "IIII").cx);
  const uint32_t bg = 0xFFFFFFFF;
  TCanvas plain(60, 30, bg), thick(60, 30, bg), slanted(60, 30, bg);
  PlatformTextOut(plain.s, 2, 2, "I", f, nullptr);
  PlatformTextOut(thick.s, 2, 2, "I", bold, nullptr);
  PlatformTextOut(slanted.s, 2, 2, "I", italic, nullptr);
  auto inkCount = [&](const TCanvas& c) { return std::count_if(c.px.begin(), c.px.end(), [&](uint32_t p) { return p != bg; }); };
  EXPECT_GT(inkCount(thick), inkCount(plain));
  // The slant moves the top of the stem right of its foot.
  const TPlatformRect box = InkBox(slanted, bg);
  auto firstInk = [&](int32_t y) {
    for (int32_t x = 0; x < 60; ++x)
      if (slanted.At(x, y) != bg) return x;
    return -1;
  };
  EXPECT_GT(firstInk(box.Top), firstInk(box.Bottom - 1));
}
